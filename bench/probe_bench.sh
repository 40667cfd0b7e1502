#!/usr/bin/env bash
# Probing speed: `reelshift-cli --info` against `ffprobe` on the same short files, in one run.
#   bench/probe_bench.sh [BUILD_DIR] [COUNT]     defaults: build, 200
# Both programs are started once per file (the way a user adds files one by one), ROUNDS
# (default 3) rounds each, alternating; the best round of each counts. A second figure gives the whole
# list to one reelshift-cli, which is how the job list probes a multi-file selection.
# Prints the seconds and the ratio reelshift/ffprobe (below 1 means ReelShift is faster).
set -euo pipefail
build=${1:-build}
count=${2:-200}
cli="$(cd "$build" && pwd)/bin/reelshift-cli"
[ -x "$cli" ] || { echo "build reelshift-cli first ($cli)" >&2; exit 2; }
command -v ffprobe >/dev/null || { echo "ffprobe is needed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gen() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
v=(-f lavfi -i testsrc2=size=320x240:rate=25)
a=(-f lavfi -i sine=frequency=440:sample_rate=44100)
gen "${v[@]}" "${a[@]}" -t 1 -c:v libx264 -preset ultrafast -c:a aac "$work/k0.mp4"
gen "${v[@]}" "${a[@]}" -t 1 -c:v mpeg4 -c:a libmp3lame "$work/k1.avi"
gen "${v[@]}" "${a[@]}" -t 1 -c:v mpeg2video -c:a mp2 "$work/k2.ts"
gen "${v[@]}" "${a[@]}" -t 1 -c:v libvpx -deadline realtime -c:a libvorbis "$work/k3.mkv"
gen "${a[@]}" -t 1 -c:a libmp3lame "$work/k4.mp3"
kinds=("$work"/k*.*)
mkdir "$work/files"
files=()
for ((i = 0; i < count; i++)); do
  src=${kinds[$((i % ${#kinds[@]}))]}
  dst="$work/files/clip_$i.${src##*.}"
  cp "$src" "$dst"
  files+=("$dst")
done

seconds() {  # seconds taken by the command, with its output discarded
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }' 
}
each_cli() { for f in "${files[@]}"; do "$cli" --info "$f"; done; }
each_ffprobe() { for f in "${files[@]}"; do ffprobe -hide_banner "$f"; done; }
one_cli() { "$cli" --info "${files[@]}"; }

# Sanity: every file must be probed successfully by both.
"$cli" --info "${files[@]}" >/dev/null || { echo "reelshift-cli failed on the bench files" >&2; exit 1; }

best_cli=""; best_ff=""; best_one=""
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }
each_cli >/dev/null 2>&1; each_ffprobe >/dev/null 2>&1   # warm the caches
for ((round = 0; round < ${ROUNDS:-3}; round++)); do
  best_cli=$(min "$best_cli" "$(seconds each_cli)")
  best_ff=$(min "$best_ff" "$(seconds each_ffprobe)")
  best_one=$(min "$best_one" "$(seconds one_cli)")
done
printf 'files: %d (%d kinds of 1 s clips)\n' "$count" "${#kinds[@]}"
printf 'ffprobe, one process per file:        %.3f s\n' "$best_ff"
printf 'reelshift-cli, one process per file:  %.3f s\n' "$best_cli"
printf 'reelshift-cli, one process for all:   %.3f s\n' "$best_one"
printf 'ratio reelshift/ffprobe (per file):   %.3f\n' "$(awk -v a="$best_cli" -v b="$best_ff" 'BEGIN { print a / b }')"
printf 'ratio reelshift/ffprobe (one for all): %.3f\n' "$(awk -v a="$best_one" -v b="$best_ff" 'BEGIN { print a / b }')"
