#!/bin/sh
# Builds the engine tests (and the terminal program they run) with a sanitizer in a build
# directory of its own and runs them; fails on any sanitizer report.
#   scripts/sanitize.sh thread    ThreadSanitizer, in build-tsan
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan
# Further arguments go to the test program (for instance --gtest_filter=Component.*).
set -eu
kind=${1:-thread}
[ $# -gt 0 ] && shift
root=$(cd "$(dirname "$0")/.." && pwd)
case "$kind" in
    thread) dir=$root/build-tsan value=thread ;;
    address) dir=$root/build-asan value=ON ;;
    *) echo "usage: $0 thread|address [test arguments]" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
    -DREELSHIFT_SANITIZE="$value" >/dev/null
ninja -C "$dir" test_engine reelshift-cli
log=$dir/sanitize-test_engine.log
export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp halt_on_error=0 ${TSAN_OPTIONS:-}"
export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
status=0
(cd "$dir" && tests/test_engine "$@") >"$log" 2>&1 || status=$?
tail -n 3 "$log"
reports=$(grep -c -E "WARNING: ThreadSanitizer|ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:" "$log" || true)
echo "sanitizer reports: $reports (log: $log)"
[ "$status" -eq 0 ] && [ "$reports" -eq 0 ]
