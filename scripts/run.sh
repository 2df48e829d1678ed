#!/bin/sh
# The README's main command: installs what is needed, builds, then makes the
# built-in demo course (once) and plays a posture of it, in strovia-player
# when there is a display, headless with one line per event otherwise.
#   scripts/run.sh [strovia demo options, e.g. --headless --posture Vrksasana]
set -eu
cd "$(dirname "$0")/.."
case ${1:-} in
    -h|--help) sed -n '2,5s/^# \{0,1\}//p' "$0"; exec ./build/default/apps/strovia demo --help 2>/dev/null || exit 0 ;;
esac
./scripts/install-deps.sh
echo "run.sh: configuring and building (the first build takes several minutes)"
cmake --preset default >/dev/null
cmake --build --preset default --target strovia_installed
exec ./build/default/apps/strovia demo "$@"
