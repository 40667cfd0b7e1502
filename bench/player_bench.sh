#!/usr/bin/env bash
# Playback at real speed: `reelshift-cli --play-check` on 10 s H.264 + AAC clips at 1920x1080
# 30 fps, 1920x1080 60 fps and 3840x2160 30 fps, and a 1920x1080 30 fps HDR (PQ) HEVC clip,
# sound to SDL's silent driver.
#   bench/player_bench.sh [BUILD_DIR] [ROUNDS] [OTHER_CLI]      defaults: build, 1, none
# Per clip and round it plays the clip with this build's reelshift-cli and, when OTHER_CLI is
# given (another build's reelshift-cli, say the one before a change), with that one right
# after it, so that the machine's load falls on both alike; then it prints the medians over
# the rounds of pictures shown and dropped, the largest A/V offset and the CPU time of each.
# With FFPLAY=1 it also plays each clip with `ffplay -autoexit` into SDL's invisible video
# driver (pictures decoded and drawn, nothing shown), the like-for-like outside figure.
# The load (`uptime`) is printed before and after: real-time figures mean little on a busy
# machine.
set -euo pipefail
build=${1:-build}
rounds=${2:-1}
other=${3:-}
cli="$(cd "$build" && pwd)/bin/reelshift-cli"
[ -x "$cli" ] || { echo "build reelshift-cli first ($cli)" >&2; exit 2; }
[ -z "$other" ] || [ -x "$other" ] || { echo "no program $other" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed" >&2; exit 2; }
ffplay=${FFPLAY:-0}
[ "$ffplay" = 0 ] || command -v ffplay >/dev/null || { echo "ffplay is needed with FFPLAY=1" >&2; exit 2; }
export SDL_AUDIODRIVER=dummy

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# hdr1080p30: a phone's HDR clip, 10-bit HEVC with PQ transfer and BT.2020 tags, which the
# player tone-maps. CLIPS="name ..." plays only the clips named.
clips="1080p30:1920x1080:30 1080p60:1920x1080:60 2160p30:3840x2160:30 hdr1080p30:1920x1080:30"
if [ -n "${CLIPS:-}" ]; then
  chosen=""
  for c in $clips; do [[ " $CLIPS " == *" ${c%%:*} "* ]] && chosen="$chosen $c"; done
  clips=$chosen
fi
for c in $clips; do
  IFS=: read -r name size rate <<<"$c"
  if [[ $name == hdr* ]]; then
    nice -n 19 ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=$size:rate=$rate" \
      -f lavfi -i sine=frequency=440:sample_rate=48000 -t 10 \
      -vf "format=yuv420p,setparams=color_primaries=bt709:color_trc=bt709:colorspace=bt709,zscale=t=linear:npl=100,format=gbrpf32le,exposure=exposure=1.5,zscale=t=smpte2084:p=2020:m=2020_ncl:r=limited:npl=100,format=yuv420p10le" \
      -c:v libx265 -preset ultrafast -x265-params log-level=error -color_primaries bt2020 -color_trc smpte2084 \
      -colorspace bt2020nc -c:a aac -b:a 128k "$work/$name.mp4"
  else
    nice -n 19 ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=$size:rate=$rate" \
      -f lavfi -i sine=frequency=440:sample_rate=48000 -t 10 -c:v libx264 -preset veryfast -pix_fmt yuv420p \
      -c:a aac -b:a 128k "$work/$name.mp4"
  fi
done

play() {  # label clip program...: appends "label clip shown dropped av_ms cpu_s wall_s" to results
  local label=$1 clip=$2
  shift 2
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >"$work/out" 2>"$work/err" || true
  read -r wall user sys <"$work/time"
  local json shown dropped av
  json=$(grep '"event":"played"' "$work/out" || echo '{}')
  shown=$(sed -n 's/.*"pictures_shown":\([0-9]*\).*/\1/p' <<<"$json")
  dropped=$(sed -n 's/.*"pictures_dropped":\([0-9]*\).*/\1/p' <<<"$json")
  av=$(sed -n 's/.*"max_av_offset_ms":\([0-9.]*\).*/\1/p' <<<"$json")
  echo "$label $clip ${shown:--} ${dropped:--} ${av:--} $(awk -v u="$user" -v s="$sys" 'BEGIN{print u+s}') $wall" \
    >>"$work/results"
  echo "  $label $clip: shown ${shown:--} dropped ${dropped:--} av ${av:--} ms cpu $(awk -v u="$user" -v s="$sys" 'BEGIN{printf "%.2f", u+s}') s wall $wall s"
}

echo "load before: $(uptime)"
for ((round = 1; round <= rounds; round++)); do
  echo "round $round"
  for c in $clips; do
    name=${c%%:*}
    play new "$name" "$cli" --play-check "$work/$name.mp4"
    [ -z "$other" ] || play old "$name" "$other" --play-check "$work/$name.mp4"
    [ "$ffplay" = 0 ] || SDL_VIDEODRIVER=dummy play ffplay "$name" ffplay -hide_banner -loglevel error -autoexit "$work/$name.mp4"
  done
done
echo "load after: $(uptime)"

echo "medians over $rounds round(s)   (new = $cli${other:+, old = $other})"
printf '%-8s %-8s %8s %8s %8s %8s\n' clip program shown dropped av_ms cpu_s
for c in $clips; do
  name=${c%%:*}
  for label in new old ffplay; do
    grep -q "^$label $name " "$work/results" || continue
    awk -v l="$label" -v n="$name" '
      function median(a, k,   i, j, t) { for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
                                          return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2 }
      $1 == l && $2 == n { k++; s[k] = $3; d[k] = $4; o[k] = $5; c[k] = $6 }
      END { printf "%-8s %-8s %8s %8s %8s %8.2f\n", n, l, median(s, k), median(d, k), median(o, k), median(c, k) }' \
      "$work/results"
  done
done
