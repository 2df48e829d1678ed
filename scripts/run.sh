#!/bin/sh
# Installs what is needed, builds, and runs the main job.
# Until the built-in demo course exists this prints the control's
# interface (`strovia describe`).
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
exec ./build/default/apps/strovia describe "$@"
