#!/bin/sh
# Builds a test program (and the terminal program it runs) with a sanitizer in a build
# directory of its own and runs it; fails on any sanitizer report.
#   scripts/sanitize.sh thread [SUITE]    ThreadSanitizer, in build-tsan
#   scripts/sanitize.sh address [SUITE]   AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan
# SUITE is engine (the default) or player; player also plays a generated clip with
# reelshift-cli --play-check under the sanitizer. Further arguments go to the test program
# (for instance --gtest_filter=Component.*).
set -eu
kind=${1:-thread}
[ $# -gt 0 ] && shift
suite=engine
case "${1:-}" in
    engine|player) suite=$1; shift ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
case "$kind" in
    thread) dir=$root/build-tsan value=thread ;;
    address) dir=$root/build-asan value=ON ;;
    *) echo "usage: $0 thread|address [engine|player] [test arguments]" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
    -DREELSHIFT_SANITIZE="$value" >/dev/null
ninja -C "$dir" "test_$suite" reelshift-cli
log=$dir/sanitize-test_$suite.log
export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp halt_on_error=0 ${TSAN_OPTIONS:-}"
export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
status=0
(cd "$dir" && tests/test_$suite "$@") >"$log" 2>&1 || status=$?
if [ "$suite" = player ]; then
    clip=$dir/sanitize-play.mp4
    ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=30 \
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t 4 -c:v libx264 -preset veryfast \
        -c:a aac "$clip"
    SDL_AUDIODRIVER=dummy "$dir/bin/reelshift-cli" --play-check "$clip" >>"$log" 2>&1 || status=$?
fi
tail -n 3 "$log"
reports=$(grep -c -E "WARNING: ThreadSanitizer|ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:" "$log" || true)
echo "sanitizer reports: $reports (log: $log)"
[ "$status" -eq 0 ] && [ "$reports" -eq 0 ]
