#!/usr/bin/env bash
# What the per-file edits cost: one 10 s 640x360 clip converted with format 0 (AVI, MPEG-4,
# 640x480 letterboxed) by reelshift-cli, once with every edit (text, image, brightness,
# contrast, saturation, exposure) and once with none, alternating, ROUNDS times each. Prints
# the median wall times and the speed with edits as a share of the speed without (target:
# at least 0.75), beside the ffmpeg program doing the job without edits as a reference.
# Opt-in; not part of the test suite. Run it niced on a shared machine.
#   bench/edits_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
BUILD=${1:-build}
ROUNDS=${2:-5}
CLI="$BUILD/bin/reelshift-cli"
[ -x "$CLI" ] || { echo "no $CLI; build reelshift-cli first" >&2; exit 2; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=640x360:rate=25" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 10 \
    -c:v libx264 -preset veryfast -crf 20 -c:a aac -ac 2 "$WORK/clip.mp4"
# A 160x90 watermark picture.
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=160x90" -frames:v 1 -pix_fmt bgr24 "$WORK/logo.bmp"
SETTINGS="$WORK/settings.ini"  # never touched: every format at its definition's defaults
EDITS=(--text "ReelShift watermark" --font "DejaVu Sans,18,#FFFF00,bold" --text-at 5%,5%
    --image "$WORK/logo.bmp" --image-at 70%,70% --image-opacity 160 --image-style 1
    --brightness 300 --contrast 20 --saturation 200 --exposure 40)

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)  cores: $(nproc)"
# Wall time and processor time (user + system) of each run: on a loaded machine the second
# is the steadier measure of the work done.
measure() {  # measure LIST command...
    local list=$1; shift
    /usr/bin/time -o "$WORK/t" -f "%e %U %S" "$@" > /dev/null
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$WORK/t" >> "$list"
}
: > "$WORK/with.txt"
: > "$WORK/without.txt"
: > "$WORK/ffmpeg.txt"
for ((r = 0; r < ROUNDS; r++)); do
    rm -rf "$WORK/a" "$WORK/b"
    measure "$WORK/with.txt" "$CLI" --format 0 --settings "$SETTINGS" --output-dir "$WORK/a" "${EDITS[@]}" "$WORK/clip.mp4"
    measure "$WORK/without.txt" "$CLI" --format 0 --settings "$SETTINGS" --output-dir "$WORK/b" "$WORK/clip.mp4"
    measure "$WORK/ffmpeg.txt" ffmpeg -nostdin -v error -y -i "$WORK/clip.mp4" -c:v mpeg4 -b:v 1200000 -r 29.97 \
        -vf scale=640:360,pad=640:480:0:60 -aspect 4:3 -c:a libmp3lame -b:a 128000 -ar 44100 -ac 2 "$WORK/ff.avi"
done
median() {  # median FILE COLUMN
    cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
awk -v w="$(median "$WORK/with.txt" 1)" -v o="$(median "$WORK/without.txt" 1)" -v f="$(median "$WORK/ffmpeg.txt" 1)" \
    -v wc="$(median "$WORK/with.txt" 2)" -v oc="$(median "$WORK/without.txt" 2)" -v fc="$(median "$WORK/ffmpeg.txt" 2)" \
    -v n="$ROUNDS" 'BEGIN {
    printf "one 10 s 640x360 clip, median of %d runs\n", n
    printf "  wall:      with all edits %.2f s, without %.2f s, ffmpeg without %.2f s\n", w, o, f
    printf "  processor: with all edits %.2f s, without %.2f s, ffmpeg without %.2f s\n", wc, oc, fc
    printf "speed with edits / speed without: %.2f by wall time, %.2f by processor time (target >= 0.75)\n", o / w, oc / wc }'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
