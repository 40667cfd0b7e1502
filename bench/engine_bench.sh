#!/usr/bin/env bash
# The same conversions by the engine (reelshift-cli --engine) and by the ffmpeg program,
# alternating, in one run. Prints wall-time ratio, output-size difference and peak-memory
# ratio (engine / ffmpeg) per job, and the CPU-time ratio, which other load on the machine
# disturbs less than the wall time. Opt-in; not part of the test suite.
#   bench/engine_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
BUILD=${1:-build}
ROUNDS=${2:-3}
CLI="$BUILD/bin/reelshift-cli"
[ -x "$CLI" ] || { echo "no $CLI; build reelshift-cli first" >&2; exit 2; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

SRC="$WORK/source.mp4"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 \
    -f lavfi -i sine=frequency=440:sample_rate=44100 -t 20 \
    -c:v libx264 -preset veryfast -crf 18 -c:a aac -ac 2 "$SRC"

# measure NAME OUTPUT COMMAND...: appends "seconds kilobytes" to $WORK/NAME.
measure() {
    local name=$1 out=$2
    shift 2
    rm -f "$out"
    /usr/bin/time -v -o "$WORK/time.txt" "$@" > /dev/null 2>&1
    local wall rss cpu
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$WORK/time.txt" |
        awk -F: '{ if (NF == 3) print $1*3600 + $2*60 + $3; else print $1*60 + $2 }')
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$WORK/time.txt")
    cpu=$(awk -F': ' '/User time|System time/ {t += $2} END {print t}' "$WORK/time.txt")
    echo "$wall $rss $(stat -c %s "$out") $cpu" >> "$WORK/$name"
}

job() {
    local label=$1 ext=$2
    shift 2
    local -a engine_opts ffmpeg_opts
    local split=0
    for a in "$@"; do
        if [ "$a" = "--" ]; then split=1; continue; fi
        if [ $split = 0 ]; then engine_opts+=("$a"); else ffmpeg_opts+=("$a"); fi
    done
    rm -f "$WORK/engine_$label" "$WORK/ffmpeg_$label"
    for ((i = 0; i < ROUNDS; i++)); do
        measure "engine_$label" "$WORK/e.$ext" "$CLI" --engine "$SRC" -o "$WORK/e.$ext" "${engine_opts[@]}"
        measure "ffmpeg_$label" "$WORK/f.$ext" ffmpeg -nostdin -v error -y -i "$SRC" "${ffmpeg_opts[@]}" "$WORK/f.$ext"
    done
    awk -v label="$label" '
        FNR == NR { ew += $1; if ($2 > em) em = $2; es = $3; ec += $4; next }
        { fw += $1; if ($2 > fm) fm = $2; fs = $3; fc += $4 }
        END {
            printf "%-16s wall engine %.2fs ffmpeg %.2fs ratio %.3f | cpu ratio %.3f | size engine %d ffmpeg %d diff %+.1f%% | peak RSS engine %d kB ffmpeg %d kB ratio %.2f\n",
                label, ew, fw, ew / fw, ec / fc, es, fs, (es - fs) * 100.0 / fs, em, fm, em / fm
        }' "$WORK/engine_$label" "$WORK/ffmpeg_$label"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)  rounds: $ROUNDS"
job x264_aac_mp4 mp4 vcodec=libx264 vb=2000000 acodec=aac ab=128000 -- \
    -c:v libx264 -preset medium -b:v 2000000 -c:a aac -b:a 128000
job mpeg4_mp3_avi avi vcodec=mpeg4 acodec=libmp3lame -- \
    -c:v mpeg4 -c:a libmp3lame
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
