#!/usr/bin/env bash
# Playback at real speed: `reelshift-cli --play-check` against `ffplay -autoexit -nodisp` on
# the same 10 s 1920x1080 30 fps H.264 + AAC clip, in one run, sound to SDL's silent driver.
#   bench/player_bench.sh [BUILD_DIR] [ROUNDS]     defaults: build, 1
# Prints ReelShift's own report (wall time against the clip's length, pictures shown and
# dropped, the largest A/V offset) and, for both programs, wall time, CPU time and peak memory.
# ffplay with -nodisp decodes no pictures at all, so its CPU figure is the floor of sound
# alone; ReelShift decodes, converts and times every picture for a window. A third line plays
# the clip with ffplay's pictures drawn into SDL's invisible video driver, the like-for-like figure.
set -euo pipefail
build=${1:-build}
rounds=${2:-1}
cli="$(cd "$build" && pwd)/bin/reelshift-cli"
[ -x "$cli" ] || { echo "build reelshift-cli first ($cli)" >&2; exit 2; }
command -v ffplay >/dev/null || { echo "ffplay is needed" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed" >&2; exit 2; }
export SDL_AUDIODRIVER=dummy

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip="$work/hd.mp4"
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 \
  -f lavfi -i sine=frequency=440:sample_rate=48000 -t 10 -c:v libx264 -preset veryfast -pix_fmt yuv420p \
  -c:a aac -b:a 128k "$clip"

measure() {  # label, command...: prints "label wall_s cpu_s peak_kib"
  local label=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >"$work/out" 2>"$work/err" || true
  read -r wall user sys peak <"$work/time"
  awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" -v p="$peak" \
    'BEGIN { printf "%-15s wall %6.2f s  cpu %6.2f s  peak %7.1f MiB\n", l, w, u + s, p / 1024 }'
}

for ((round = 1; round <= rounds; round++)); do
  echo "round $round"
  measure reelshift-cli "$cli" --play-check "$clip"
  echo "  $(cat "$work/out")"
  measure ffplay-nodisp ffplay -hide_banner -loglevel error -autoexit -nodisp "$clip"
  # The same with its pictures decoded and drawn, into SDL's invisible video driver.
  SDL_VIDEODRIVER=dummy measure ffplay-dummy ffplay -hide_banner -loglevel error -autoexit "$clip"
done
