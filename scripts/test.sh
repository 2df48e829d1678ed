#!/bin/sh
# The README's test command: installs what is needed, builds, and runs the
# whole test suite. CI runs it too, once per preset.
#   scripts/test.sh [--preset ci|asan|default]   (default: ci)
set -eu
cd "$(dirname "$0")/.."
preset=ci
while [ $# -gt 0 ]; do
    case $1 in
        --preset) preset=${2:?--preset needs a name}; shift 2 ;;
        -h|--help) sed -n '2,4s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "test.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done
./scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
