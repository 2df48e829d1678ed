#!/bin/sh
# SPDX-License-Identifier: MIT
# make-manpage.sh PROGRAM VERSION SUMMARY OUT
# Writes the manual page of PROGRAM from its own --help through help2man,
# with a section holding the --help of each subcommand (nested ones too).
set -eu
prog=$1 version=$2 summary=$3 out=$4
name=$(basename "$prog")
# Run by name, so that its usage lines show the name and not the build path.
PATH=$(cd "$(dirname "$prog")" && pwd):$PATH
export PATH
include=$out.h2m

# The names listed under "Subcommands:" in a help text.
subcommands() {
    "$@" --help | awk '/^[^ ].*:$/ { listing = ($0 == "Subcommands:"); next }
                       listing && /^  [a-z]/ { print $1 }'
}

# Help text as literal roff: backslashes, and dots or quotes that would
# start a request, made harmless.
as_roff() {
    sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

describe_subcommands() {
    for sub in $(subcommands "$@"); do
        shift_words=$(printf '%s ' "$@" | cut -d' ' -f2-)
        printf '.SS "%s%s"\n.nf\n' "$name ${shift_words}" "$sub"
        "$@" "$sub" --help | as_roff
        printf '.fi\n'
        describe_subcommands "$@" "$sub"
    done
}

{
    if [ -n "$(subcommands "$name")" ]; then
        printf '[COMMANDS]\nEach command has its own options, shown by\n.B %s COMMAND --help\n' "$name"
        printf 'and repeated here.\n'
        describe_subcommands "$name"
    fi
    printf '[SEE ALSO]\n'
    case $name in
        strovia) printf '.BR strovia-player (1)\n' ;;
        *) printf '.BR strovia (1)\n' ;;
    esac
} > "$include"

"${HELP2MAN:-help2man}" --no-info --no-discard-stderr --version-string="$version" \
    --name="$summary" --section=1 --include="$include" --output="$out" "$name"
rm -f "$include"
