#!/usr/bin/env bash
# Damaged copies of short generated clips (bytes flipped, sizes overwritten, chunks cut or
# repeated, the end cut off), made with a fixed seed, converted by reelshift-cli --format 0 and
# by the ffmpeg program with the same settings (MPEG-4 640x480 29.97 fps + MP3 in AVI). Prints
# per program how many runs converted, were refused with a message, ended incomplete, failed
# without a message, crashed or ran out of time, how many "converted" outputs hold no picture,
# and the largest output. Opt-in; not part of the test suite.
#   bench/damage_sweep.sh [BUILD_DIR] [N] [SEED] [SECONDS_PER_RUN]
set -euo pipefail
BUILD=${1:-build}
N=${2:-100}
SEED=${3:-27}
LIMIT=${4:-20}
CLI="$BUILD/bin/reelshift-cli"
[ -x "$CLI" ] || { echo "no $CLI; build reelshift-cli first" >&2; exit 2; }
CLI=$(cd "$(dirname "$CLI")" && pwd)/$(basename "$CLI")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/clips" "$WORK/damaged"
: > "$WORK/empty.ini"

gen() { ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=sample_rate=44100 -t 2 "$@"; }
gen -c:v mpeg4 -c:a libmp3lame "$WORK/clips/a.avi"
gen -c:v libx264 -preset veryfast -c:a aac "$WORK/clips/b.mp4"
gen -c:v wmv2 -c:a wmav2 "$WORK/clips/c.wmv"
gen -c:v flv1 -c:a libmp3lame -ar 22050 "$WORK/clips/d.flv"
gen -c:v mpeg4 -c:a libvorbis "$WORK/clips/e.mkv"
gen -c:v mpeg2video -c:a mp2 "$WORK/clips/f.mpg"

# The damage: one of five kinds per copy, all drawn from the seed.
python3 - "$WORK/clips" "$WORK/damaged" "$N" "$SEED" <<'EOF'
import os, random, sys
src, dst, n, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(seed)
clips = sorted(os.listdir(src))
for i in range(n):
    name = clips[i % len(clips)]
    data = bytearray(open(os.path.join(src, name), 'rb').read())
    kind = rng.choice(['flip', 'size', 'cut', 'repeat', 'end'])
    if kind == 'flip':
        for _ in range(rng.randint(1, 20)):
            data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
    elif kind == 'size':  # a 32-bit value in the first kilobytes (headers) overwritten
        at = rng.randrange(min(len(data) - 4, 4096))
        data[at:at + 4] = rng.choice([0, 1, 0x7FFFFFFF, 0xFFFFFFFF, rng.getrandbits(32)]).to_bytes(4, 'little')
    elif kind == 'cut':
        at = rng.randrange(len(data)); del data[at:at + rng.randint(1, 20000)]
    elif kind == 'repeat':
        at = rng.randrange(len(data)); data[at:at] = data[at:at + rng.randint(1, 20000)]
    else:
        del data[rng.randint(len(data) // 10, len(data) - 1):]
    stem, ext = os.path.splitext(name)
    open(os.path.join(dst, '%03d_%s_%s%s' % (i, kind, stem, ext)), 'wb').write(data)
EOF

# classify PROGRAM STATUS STDERR OUTPUT: one word per run.
classify() {
    local status=$2 err=$3 out=$4
    if [ "$status" = 124 ] || [ "$status" = 137 ]; then echo timeout
    elif [ "$status" -ge 128 ]; then echo crashed
    elif [ "$1" = engine ] && [ "$status" = 3 ]; then echo incomplete
    elif [ "$status" = 0 ]; then
        local frames
        frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
            -of default=nw=1:nk=1 "$out" 2>/dev/null || true)
        if [ -z "$frames" ] || [ "$frames" = 0 ]; then echo converted_no_picture; else echo converted; fi
    elif [ -s "$err" ]; then echo refused
    else echo silent_failure
    fi
}

declare -A count
largest_engine=0 largest_ffmpeg=0
for f in "$WORK"/damaged/*; do
    d="$WORK/out"; rm -rf "$d"; mkdir -p "$d"
    set +e
    nice -n 19 timeout -k 5 "$LIMIT" "$CLI" --format 0 --edition mp4avi --settings "$WORK/empty.ini" \
        --output-dir "$d" "$f" > /dev/null 2> "$WORK/err"
    status=$?
    set -e
    out=$(ls "$d"/* 2>/dev/null | head -n 1 || true)
    k=$(classify engine "$status" "$WORK/err" "${out:-/nonexistent}")
    count[engine_$k]=$(( ${count[engine_$k]:-0} + 1 ))
    if [ -n "$out" ]; then s=$(stat -c %s "$out"); [ "$s" -gt "$largest_engine" ] && largest_engine=$s; fi
    if [ "$status" != 0 ] && [ "$status" != 3 ] && [ -n "$out" ]; then count[engine_left_a_file]=$(( ${count[engine_left_a_file]:-0} + 1 )); fi

    rm -f "$WORK/f.avi"
    set +e
    nice -n 19 timeout -k 5 "$LIMIT" ffmpeg -nostdin -v error -y -i "$f" -c:v mpeg4 -b:v 1200k -r 29.97 \
        -s 640x480 -c:a libmp3lame -b:a 128k -ar 44100 -ac 2 "$WORK/f.avi" > /dev/null 2> "$WORK/err"
    status=$?
    set -e
    k=$(classify ffmpeg "$status" "$WORK/err" "$WORK/f.avi")
    count[ffmpeg_$k]=$(( ${count[ffmpeg_$k]:-0} + 1 ))
    if [ "$status" != 0 ] && [ -f "$WORK/f.avi" ]; then count[ffmpeg_left_a_file]=$(( ${count[ffmpeg_left_a_file]:-0} + 1 )); fi
    if [ -f "$WORK/f.avi" ]; then s=$(stat -c %s "$WORK/f.avi"); [ "$s" -gt "$largest_ffmpeg" ] && largest_ffmpeg=$s; fi
done

echo "damaged copies: $N (seed $SEED, $LIMIT s per run), load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-22s %10s %10s\n' "" reelshift ffmpeg
for k in converted converted_no_picture refused incomplete silent_failure crashed timeout left_a_file; do
    printf '%-22s %10d %10d\n' "$k" "${count[engine_$k]:-0}" "${count[ffmpeg_$k]:-0}"
done
printf '%-22s %10d %10d\n' "largest output (bytes)" "$largest_engine" "$largest_ffmpeg"
