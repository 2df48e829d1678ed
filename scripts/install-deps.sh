#!/bin/sh
# Installs every Debian 12 package Strovia needs to build, test and run.
# Used by the README commands and by .ci/run, so there is one list only.
# chromium: the export tests play the exported course page in it.
# nodejs (npm), libxml2-utils, unzip: the package export's tests install
# their npm packages (scripts/install-npm.sh, run last), validate the
# manifest and test the zip.
# lintian, desktop-file-utils, appstream, help2man, librsvg2-bin, file,
# man-db: the Debian package is built and checked (scripts/package-check.sh).
# Idempotent: does nothing when all packages are present. Needs root
# (or sudo) only when something is missing.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config git
clang libclang-rt-14-dev clang-format
libgtest-dev libgmock-dev libbenchmark-dev
nlohmann-json3-dev libcli11-dev libutf8proc-dev libfmt-dev
mdbtools
libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
gstreamer1.0-plugins-ugly gstreamer1.0-libav
qt6-base-dev qt6-tools-dev qt6-tools-dev-tools libgl-dev
xvfb xauth espeak-ng ffmpeg fonts-dejavu-core time
python3 chromium nodejs libxml2-utils unzip
lintian desktop-file-utils appstream help2man librsvg2-bin file man-db
"

# npm comes inside some builds of nodejs, and as a package of its own in
# Debian's.
if ! command -v npm >/dev/null 2>&1; then
    PACKAGES="$PACKAGES npm"
fi

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "install-deps: all packages present"
else
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then
        SUDO="sudo"
    fi
    echo "install-deps: installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
    echo "install-deps: done"
fi

"$(dirname "$0")/install-npm.sh"
