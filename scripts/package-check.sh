#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the Debian packages and checks them as a learner's machine meets
# them: lintian (every remaining tag must be justified in
# packaging/lintian-notes.md), the desktop entry and AppStream metadata,
# owners and modes; then installs them with apt-get, plays the demo
# headless from the installed files, removes them and checks that nothing
# of them is left.
#   scripts/package-check.sh [--no-install]
# Needs root (or sudo) for the install; the packages land in
# build/package/packages.
set -eu
cd "$(dirname "$0")/.."
install=yes
[ "${1:-}" = "--no-install" ] && install=no

fail() { echo "package-check: FAILED: $*" >&2; exit 1; }
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

./scripts/install-deps.sh
echo "== package: build (preset package) and cpack -G DEB"
cmake --preset package >/dev/null
cmake --build --preset package
out=$PWD/build/package/packages
rm -rf "$out"
(cd build/package && cpack -G DEB >/dev/null)
app=$(ls "$out"/strovia_*.deb)
lib=$(ls "$out"/libstrovia[0-9]*_*.deb)
dev=$(ls "$out"/libstrovia-dev_*.deb)
for deb in $app $lib $dev; do
    printf '%s  %s kB\n' "$(basename "$deb")" "$(( $(stat -c %s "$deb") / 1024 ))"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "== package: control fields"
version=$(sed -n '1s/^strovia (\([^)]*\)).*/\1/p' packaging/changelog)
arch=$(dpkg --print-architecture)
for deb in $app $lib $dev; do
    name=$(dpkg-deb -f "$deb" Package)
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
        fail "$name: version $(dpkg-deb -f "$deb" Version), the changelog says $version"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$name: architecture"
    echo "$name" | grep -qx '[a-z0-9][a-z0-9.+-]*' || fail "package name $name"
    dpkg-deb -f "$deb" Maintainer | grep -q '^[^<]* <[^@ ]*@[^> ]*>$' ||
        fail "$name: maintainer $(dpkg-deb -f "$deb" Maintainer)"
done
grep -q "<release version=\"${version%-*}\"" packaging/org.strovia.Player.metainfo.xml ||
    fail "packaging/org.strovia.Player.metainfo.xml has no release ${version%-*}"
echo "strovia Depends: $(dpkg-deb -f "$app" Depends)"
echo "$(dpkg-deb -f "$lib" Package) Depends: $(dpkg-deb -f "$lib" Depends)"

echo "== package: owners and modes"
for deb in $app $lib $dev; do
    dpkg-deb -c "$deb" | awk -v deb="$(basename "$deb")" '
        $2 != "root/root" { print deb ": owner " $2 " of " $6; bad = 1 }
        /^d/ && $1 != "drwxr-xr-x" { print deb ": folder " $6 " is " $1; bad = 1 }
        /^-/ && $1 != "-rw-r--r--" && $1 != "-rwxr-xr-x" { print deb ": file " $6 " is " $1; bad = 1 }
        END { exit bad }' || fail "owners or modes"
done

echo "== package: lintian"
lintian --fail-on error --tag-display-limit 0 $app $lib $dev >"$scratch/lintian" 2>&1 ||
    { cat "$scratch/lintian"; fail "lintian reports errors"; }
cat "$scratch/lintian"
# Each tag left is named, with its reason, in the notes; and the notes name
# none that no longer comes.
awk '$1 ~ /^[EW]:$/ { print $3 }' "$scratch/lintian" | sort -u >"$scratch/tags"
sed -n 's/^- `\([a-z0-9-]*\)`.*/\1/p' packaging/lintian-notes.md | sort -u >"$scratch/noted"
unjustified=$(comm -23 "$scratch/tags" "$scratch/noted")
[ -z "$unjustified" ] || fail "lintian tags not justified in packaging/lintian-notes.md: $unjustified"
stale=$(comm -13 "$scratch/tags" "$scratch/noted")
[ -z "$stale" ] || fail "packaging/lintian-notes.md names tags lintian no longer reports: $stale"
echo "lintian: no errors; $(wc -l <"$scratch/tags") warning tags, each justified"

echo "== package: desktop entry and AppStream metadata"
dpkg-deb -x "$app" "$scratch/root"
desktop-file-validate "$scratch"/root/usr/share/applications/*.desktop
appstreamcli validate --no-net "$scratch"/root/usr/share/metainfo/*.metainfo.xml
# Each page renders without warnings and carries the --help of what it
# describes: the player's options, each command of strovia.
for check in 'strovia-player|--quit-at-end' 'strovia|strovia export' 'strovia|--posture TEXT REQUIRED'; do
    page=${check%%|*} text=${check#*|}
    man --warnings -l "$scratch/root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null | grep . &&
        fail "man page $page.1 has warnings"
    MANWIDTH=100 man -l "$scratch/root/usr/share/man/man1/$page.1.gz" 2>/dev/null |
        grep -q -- "$text" || fail "man page $page.1 lacks '$text'"
done

[ "$install" = yes ] || exit 0

echo "== package: apt-get install"
export DEBIAN_FRONTEND=noninteractive
# On a machine with nothing installed (an empty dpkg status), apt resolves
# everything the learner's two packages need from Debian's archive alone.
: >"$scratch/empty-status"
bare() {
    apt-get -s -o Dir::State::status="$scratch/empty-status" install "$app" "$lib" >"$scratch/bare" 2>&1
}
bare || { $SUDO apt-get update -qq && bare; } ||
    { cat "$scratch/bare"; fail "not installable on a bare Debian"; }
echo "on a bare Debian: $(grep -c '^Inst' "$scratch/bare") packages, all from Debian but ours:" \
    "$(grep '^Inst' "$scratch/bare" | grep -v ' Debian' | cut -d' ' -f2 | tr '\n' ' ')"
grep '^Inst' "$scratch/bare" | grep -v ' Debian' | grep -qv ' local-deb ' &&
    fail "a dependency comes from outside Debian's archive"
if ! $SUDO apt-get install -y -qq "$app" "$lib" "$dev" >"$scratch/apt" 2>&1; then
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq "$app" "$lib" "$dev" >"$scratch/apt" 2>&1 ||
        { cat "$scratch/apt"; fail "apt-get install"; }
fi
packages="strovia $(dpkg-deb -f "$lib" Package) libstrovia-dev"
cleanup_installed() { $SUDO apt-get remove -y -qq $packages >/dev/null 2>&1 || true; }
trap 'cleanup_installed; rm -rf "$scratch"' EXIT

echo "== package: strovia demo --headless from the installed files"
# A console with no display and no session: nothing of the build tree, no
# XDG_RUNTIME_DIR.
(cd / && env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR -u LD_LIBRARY_PATH \
    HOME="$scratch/home" /usr/bin/strovia demo "$scratch/course" --headless \
    >"$scratch/demo.out" 2>"$scratch/demo.err") ||
    { cat "$scratch/demo.out" "$scratch/demo.err"; fail "installed strovia demo"; }
cat "$scratch/demo.out" "$scratch/demo.err"
tail -1 "$scratch/demo.out" | grep -q 'VideoEnd after' || fail "the demo did not reach VideoEnd"
if grep -v 'No sound output was found' "$scratch/demo.err" | grep .; then
    fail "the installed demo printed lines a user cannot act on"
fi
# Utkatasana's second narration is "mt", read from beside the installed
# library.
libdir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
(cd / && env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR /usr/bin/strovia play --headless \
    --trace --content "$scratch/course" --posture Utkatasana --timeout 60 \
    >"$scratch/mt.trace" 2>/dev/null) || fail "installed strovia play Utkatasana"
# (the control joins the folder and the name with a backslash, as catalogues do)
grep -q "open $libdir[\\/]*mt\.mp2 alias Sound type mpegVideo\",\"ok\":true" "$scratch/mt.trace" ||
    fail "the installed player did not open $libdir/mt.mp2"
/usr/bin/strovia-player --help >/dev/null || fail "strovia-player --help"

# The development package: find_package(Strovia) from /usr.
cmake -S examples/host -B "$scratch/example" -G Ninja >/dev/null
cmake --build "$scratch/example" >/dev/null || fail "building examples/host against /usr"
props=$(QT_QPA_PLATFORM=offscreen "$scratch/example/example_host" --properties 2>/dev/null)
[ "$props" = "Resourcedir=0 AsanaNaME=0" ] || fail "examples/host against /usr printed '$props'"

echo "== package: apt-get remove"
files=$(for deb in $app $lib $dev; do dpkg-deb -c "$deb"; done |
        awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
$SUDO apt-get remove -y -qq $packages >/dev/null
trap 'rm -rf "$scratch"' EXIT
for p in $packages; do
    state=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ -z "$state" ] || [ "$state" = not-installed ] || fail "$p is left as $state"
done
for f in $files; do
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is left after apt-get remove"
done
# Nor anything the programs wrote beside themselves while they ran.
# (/usr/local is where a developer's own cmake --install goes.)
left=$(find /usr /etc -xdev -path /usr/local -prune -o \( -iname '*strovia*' -o -name mt.mp2 \) \
       -print 2>/dev/null | head -5)
[ -z "$left" ] || fail "left after apt-get remove: $left"
echo "package-check: built, checked, installed, played, removed"
