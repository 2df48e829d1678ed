#!/bin/sh
# SPDX-License-Identifier: MIT
# runtime_dir_test.sh STROVIA STROVIA_PLAYER SCRATCH_DIR
# Started with no usable XDG_RUNTIME_DIR, both programs supply a private one
# before Qt looks, so Qt prints nothing about it; a usable one is kept.
set -eu
strovia=$1 player=$2 scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch"
uid=$(id -u)
failures=0
fail() { echo "runtime dir test: $*" >&2; failures=$((failures + 1)); }

# Each program starts Qt and stops at once: the course folder does not exist.
run_programs() {
    "$strovia" play --headless --content "$scratch/no-course" --posture X >/dev/null 2>"$scratch/err" || true
    QT_QPA_PLATFORM=offscreen "$player" --content "$scratch/no-course" --quit-at-end \
        >/dev/null 2>>"$scratch/err" || true
}

# case | what XDG_RUNTIME_DIR is | which folder the programs must use
# (private: $TMPDIR/strovia-runtime-UID; fresh: a new strovia-runtime-XXXXXX;
# given: the one given)
while IFS='|' read -r name setup expect; do
    [ -n "$name" ] || continue
    tmp=$scratch/$name
    mkdir -p "$tmp/tmp"
    given=$tmp/given
    case $setup in
        unset) ;;
        empty) given="" ;;
        relative) given=relative/run ;;
        missing) ;;
        file) : >"$given" ;;
        open) mkdir -m 0755 "$given" ;;
        usable) mkdir -m 0700 "$given" ;;
        taken-by-link)
            mkdir -m 0700 "$tmp/elsewhere"
            ln -s "$tmp/elsewhere" "$tmp/tmp/strovia-runtime-$uid" ;;
        taken-by-other)
            [ "$uid" -eq 0 ] || { echo "runtime dir test: $name skipped (needs root)"; continue; }
            mkdir -m 0700 "$tmp/tmp/strovia-runtime-$uid"
            chown 65534 "$tmp/tmp/strovia-runtime-$uid" ;;
    esac
    if [ "$setup" = unset ]; then
        (unset XDG_RUNTIME_DIR; TMPDIR="$tmp/tmp"; export TMPDIR; run_programs)
    else
        (XDG_RUNTIME_DIR=$given TMPDIR="$tmp/tmp"; export XDG_RUNTIME_DIR TMPDIR; run_programs)
    fi
    if grep -q 'QStandardPaths\|XDG_RUNTIME_DIR' "$scratch/err"; then
        fail "$name: Qt complained: $(cat "$scratch/err")"
    fi
    private=$tmp/tmp/strovia-runtime-$uid
    fresh=$(find "$tmp/tmp" -maxdepth 1 -name 'strovia-runtime-*' ! -name "strovia-runtime-$uid" |
            head -1)
    case $expect in
        private)
            [ -d "$private" ] && [ ! -L "$private" ] || fail "$name: no private folder"
            [ "$(stat -c %a "$private" 2>/dev/null)" = 700 ] || fail "$name: private folder not 0700"
            [ -z "$fresh" ] || fail "$name: an extra folder $fresh" ;;
        fresh)
            [ -n "$fresh" ] || fail "$name: no fresh folder"
            [ -z "$fresh" ] || [ "$(stat -c %a "$fresh")" = 700 ] || fail "$name: fresh folder not 0700"
            [ "$(find "$tmp/elsewhere" -mindepth 1 2>/dev/null | wc -l)" = 0 ] ||
                fail "$name: wrote through the link" ;;
        given)
            [ ! -e "$private" ] && [ -z "$fresh" ] || fail "$name: replaced a usable folder" ;;
    esac
done <<'EOF'
unset|unset|private
empty|empty|private
relative|relative|private
missing|missing|private
file|file|private
open-to-others|open|private
usable|usable|given
name-taken-by-a-link|taken-by-link|fresh
name-taken-by-another-user|taken-by-other|fresh
EOF

[ "$failures" -eq 0 ] || exit 1
echo "runtime dir test: all cases passed"
