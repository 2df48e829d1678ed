#!/bin/sh
# install_test.sh BUILD_DIR EXAMPLE_DIR SCRATCH_DIR
set -eu
build=$1 example=$2 scratch=$3
rm -rf "$scratch"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install test: $*" >&2; exit 1; }
libdir=$(cd "$prefix" && ls -d lib*/ | head -1)
libdir=${libdir%/}
for f in "$libdir/libstrovia.so" include/strovia/video_cntl_widget.hpp include/strovia/export.hpp \
         "$libdir/cmake/Strovia/StroviaConfig.cmake" "$libdir/pkgconfig/strovia.pc" \
         bin/strovia bin/strovia-player "$libdir/qt6/plugins/designer/libstrovia_designer.so"; do
    [ -e "$prefix/$f" ] || fail "missing $f"
done
# Installed programs find the library through their own run path.
"$prefix/bin/strovia-player" --help >/dev/null || fail "strovia-player --help"
"$prefix/bin/strovia" describe >/dev/null || fail "strovia describe"

# The "mt" narration lies beside the installed library, and the installed
# player reaches VideoEnd on a posture that names it (the course is made by
# the build tree's program, which puts its own mt.mp2 only in the build tree).
[ -s "$prefix/$libdir/mt.mp2" ] || fail "missing $libdir/mt.mp2"
"$build/apps/strovia" demo "$scratch/course" --no-play >/dev/null || fail "making the demo course"
"$prefix/bin/strovia" play --headless --trace --content "$scratch/course" --posture Utkatasana \
    --timeout 60 >"$scratch/mt-trace" || fail "installed strovia play did not reach VideoEnd"
grep -q 'mt\.mp2 alias Sound type mpegVideo","ok":true' "$scratch/mt-trace" ||
    fail "installed strovia play did not open the installed mt.mp2"

# find_package(Strovia), with the control placed on a Designer form.
cmake -S "$example" -B "$scratch/example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/example" >/dev/null
out=$("$scratch/example/example_host" --properties)
[ "$out" = "Resourcedir=0 AsanaNaME=0" ] || fail "example host printed '$out'"

# pkg-config.
cat > "$scratch/pc.cpp" <<'CPP'
#include <QApplication>
#include <cstdio>
#include <strovia/video_cntl_widget.hpp>
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    strovia::VideoCntlWidget control;
    control.setAsanaNaME("Tadasana");
    std::printf("%s\n", qPrintable(control.AsanaNaME()));
    return 0;
}
CPP
flags=$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs strovia) ||
    fail "pkg-config strovia"
# shellcheck disable=SC2086
c++ -std=c++17 -fPIC "$scratch/pc.cpp" -o "$scratch/pc" $flags -Wl,-rpath,"$prefix/$libdir"
[ "$("$scratch/pc")" = "Tadasana" ] || fail "pkg-config program"
echo "installed, example built and run against $prefix"
