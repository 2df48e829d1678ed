#!/bin/sh
# Installs what is needed, builds, and runs the test suite (the README's test command).
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
