#!/bin/sh
# Fails when a core folder includes a Qt, GStreamer, mdbtools or POSIX header.
set -eu
src="$1"
pattern='#[[:space:]]*include[[:space:]]*[<"](Q[A-Za-z]*|qt[^>"]*|gst/[^>"]*|glib[^>"]*|mdbtools\.h|mdbsql\.h|unistd\.h|fcntl\.h|dlfcn\.h|pthread\.h|sys/[^>"]*|dirent\.h|signal\.h|poll\.h|termios\.h)[>"]'
if grep -rEn "$pattern" "$src/control" "$src/catalogue" "$src/playback" "$src/simulation"; then
    echo "platform header included in the core" >&2
    exit 1
fi
echo "core includes: clean"
