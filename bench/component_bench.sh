#!/usr/bin/env bash
# The engine component at work on a batch, and what it costs over a bare engine task.
#  1. A batch of four 10 s clips converted with format 0 (AVI, MPEG-4 + MP3) by
#     reelshift-cli --format, once with --jobs 1 and once with --jobs 2, beside the ffmpeg
#     program doing the same four jobs one after another.
#  2. One clip, the same job through the component (--format 0) and as a bare engine task
#     (--engine with the options the component applies for format 0), alternating, ROUNDS
#     times each; the overhead is the difference of the median wall times.
# Opt-in; not part of the test suite. Run it niced on a shared machine.
#   bench/component_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
BUILD=${1:-build}
ROUNDS=${2:-5}
CLI="$BUILD/bin/reelshift-cli"
[ -x "$CLI" ] || { echo "no $CLI; build reelshift-cli first" >&2; exit 2; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

for i in 1 2 3 4; do
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=640x360:rate=25" \
        -f lavfi -i "sine=frequency=$((300 + 100 * i)):sample_rate=44100" -t 10 \
        -c:v libx264 -preset veryfast -crf 20 -c:a aac -ac 2 "$WORK/clip$i.mp4"
done
SETTINGS="$WORK/settings.ini"  # never touched: every format at its definition's defaults

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# Format 0's defaults for a 640x360 source: 640x480 frame, letterboxed.
ENGINE_OPTS=(acodec=libmp3lame vcodec=mpeg4 f=avi ac=2 ar=44100 ab=128000 r=29.97 aspect=640:360
    vb=1200000 s=640x360 vf=pad=640:480:0:60)
FFMPEG_OPTS=(-c:v mpeg4 -b:v 1200000 -r 29.97 -vf scale=640:360,pad=640:480:0:60 -aspect 4:3
    -c:a libmp3lame -b:a 128000 -ar 44100 -ac 2)

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)  cores: $(nproc)"

for jobs in 1 2; do
    rm -rf "$WORK/out"
    t0=$(now)
    "$CLI" --format 0 --settings "$SETTINGS" --output-dir "$WORK/out" --jobs "$jobs" \
        "$WORK"/clip1.mp4 "$WORK"/clip2.mp4 "$WORK"/clip3.mp4 "$WORK"/clip4.mp4 > /dev/null
    t1=$(now)
    echo "batch of 4 x 10 s, --jobs $jobs: $(elapsed "$t0" "$t1") s ($(ls "$WORK/out" | wc -l) files)"
done
t0=$(now)
for i in 1 2 3 4; do
    ffmpeg -nostdin -v error -y -i "$WORK/clip$i.mp4" "${FFMPEG_OPTS[@]}" "$WORK/ff$i.avi"
done
t1=$(now)
echo "batch of 4 x 10 s, ffmpeg one after another: $(elapsed "$t0" "$t1") s"

: > "$WORK/component.txt"
: > "$WORK/engine.txt"
for ((r = 0; r < ROUNDS; r++)); do
    rm -rf "$WORK/one"
    t0=$(now)
    "$CLI" --format 0 --settings "$SETTINGS" --output-dir "$WORK/one" "$WORK/clip1.mp4" > /dev/null
    t1=$(now)
    elapsed "$t0" "$t1" >> "$WORK/component.txt"
    echo >> "$WORK/component.txt"
    t0=$(now)
    "$CLI" --engine "$WORK/clip1.mp4" -o "$WORK/engine.avi" "${ENGINE_OPTS[@]}" > /dev/null
    t1=$(now)
    elapsed "$t0" "$t1" >> "$WORK/engine.txt"
    echo >> "$WORK/engine.txt"
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mc=$(median "$WORK/component.txt")
me=$(median "$WORK/engine.txt")
awk -v c="$mc" -v e="$me" -v n="$ROUNDS" 'BEGIN {
    printf "one 10 s clip, median of %d: component %.2f s, bare engine %.2f s, overhead %+.1f%%\n", n, c, e, (c - e) * 100 / e }'
sz_c=$(stat -c %s "$WORK/one/clip1_(new).avi")
sz_e=$(stat -c %s "$WORK/engine.avi")
echo "output sizes: component $sz_c bytes, bare engine $sz_e bytes (same job: should be close)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
