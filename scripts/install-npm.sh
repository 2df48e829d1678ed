#!/bin/sh
# Installs the npm packages the tests use, as pinned in tests/e2e/npm
# (a platform's SCORM runtime and the package schemas), into
# STROVIA_NPM_DIR (default ~/.cache/strovia/npm), where CMake finds them.
# Nothing at test time reaches the network. Does nothing when that lock
# file is already installed there.
set -eu
cd "$(dirname "$0")/.."
dir=${STROVIA_NPM_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/strovia/npm}
if cmp -s tests/e2e/npm/package-lock.json "$dir/installed.lock" 2>/dev/null; then
    echo "install-npm: test packages present in $dir"
    exit 0
fi
mkdir -p "$dir"
cp tests/e2e/npm/package.json tests/e2e/npm/package-lock.json "$dir/"
# No package's own install scripts run: the tests read files, nothing more.
(cd "$dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
cp tests/e2e/npm/package-lock.json "$dir/installed.lock"
echo "install-npm: test packages installed in $dir"
