#!/bin/sh
# strovia mci end to end: commands from standard input and from -c, the
# reply / ok / error lines, --wait-stopped and the exit status.
set -eu
strovia=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=352x288:rate=25:duration=1 \
    -c:v mpeg1video -f mpeg "$dir/clip.mpg"
# Under the sanitizer build: the one GLib constructor allocation explained in
# sanitizer_options.cpp, which this binary does not link.
printf 'leak:_dl_init\n' > "$dir/lsan.supp"
export LSAN_OPTIONS="suppressions=$dir/lsan.supp" ASAN_OPTIONS="fast_unwind_on_malloc=0"
export STROVIA_AUDIO_SINK="fakeaudiosink sync=true" STROVIA_VIDEO_SINK="fakesink sync=true"

out=$(printf 'open %s alias v type mpegVideo\nset v time format frames\nplay v\nstatus v mode\n' \
    "$dir/clip.mpg" | "$strovia" mci --wait-stopped v)
expected=$(printf 'ok\nok\nok\nplaying\nstopped')
[ "$out" = "$expected" ] || { echo "unexpected output: $out"; exit 1; }

if out=$("$strovia" mci -c "status v mode" -c "close all"); then
    echo "a failing command must give a non-zero exit"; exit 1
fi
case $out in
    "error 201: "*"
ok") ;;
    *) echo "unexpected output: $out"; exit 1 ;;
esac
echo passed
