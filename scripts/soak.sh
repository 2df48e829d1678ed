#!/bin/sh
# Plays programmes back to back with random host calls and fails on any
# leak: descriptors, threads, memory, GStreamer objects (its leaks tracer
# is on) and, in the asan build, LeakSanitizer's report.
#   scripts/soak.sh [--preset ci|asan|default] [--seconds S] [strovia soak options]
# Builds the program of the preset first; default 600 s on the ci preset.
set -eu
cd "$(dirname "$0")/.."
preset=ci
seconds=600
while [ $# -gt 0 ]; do
    case $1 in
        --preset) preset=${2:?--preset needs a name}; shift 2 ;;
        --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
        -h|--help) sed -n '2,6s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) break ;;
    esac
done
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target strovia
export GST_TRACERS=leaks
export STROVIA_AUDIO_SINK="${STROVIA_AUDIO_SINK:-fakeaudiosink sync=true}"
if [ "$preset" = asan ]; then
    # A small quarantine keeps freed blocks from reading as growth; the
    # sanitizer's own records still grow, so memory is reported, not judged.
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:quarantine_size_mb=8"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    # System libraries' one-off buffers, as in the widget tests; ours still fail.
    export LSAN_OPTIONS="suppressions=$(pwd)/tests/qt/lsan.supp"
    set -- --max-growth-kb 0 "$@"
fi
exec "build/$preset/apps/strovia" soak --seconds "$seconds" --warm-up 20 "$@"
