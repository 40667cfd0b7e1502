#!/usr/bin/env bash
# Large batches in the desktop program, measured from outside on a display of its own:
#   add  N files (named on the command line, and as one folder): seconds until every row is
#        listed (the job-list file holds N rows) and the program's peak memory;
#   run  M files: peak memory and most descriptors held while the run converts them.
#   ffmpeg beside them: ffprobe reading the M files' durations (two at a time, as the program
#        probes on a 2-core machine), and ffmpeg converting them one after another.
# Usage: bench/batch_bench.sh PROGRAM [N=2000] [M=500]   (PROGRAM: build/bin/reelshift, or an
# older build's copy to compare). Needs Xvfb, xdotool, ffmpeg, python3, GNU time. An add is
# given up after ADD_SECONDS (90), a run after RUN_SECONDS (300), telling how far it got.
# OTHER=PATH (another build's reelshift) and ROUNDS=R: the adds of both, taking turns.
set -euo pipefail
prog=$(readlink -f "$1"); n=${2:-2000}; m=${3:-500}
work=$(mktemp -d); trap 'kill $xpid 2>/dev/null || true; rm -rf "$work"' EXIT
# A copy of the program's folder without its settings file: the settings beside the program
# would be used (and changed) otherwise; with none, the outputs go to the fresh home's folder.
cp -r "$(dirname "$prog")" "$work/program"; rm -f "$work/program/zantomp4aviconverter.ini"
prog=$work/program/$(basename "$prog")
# OTHER=another build's reelshift: the adds are measured for both, taking turns, ROUNDS times.
other=""
if [ -n "${OTHER:-}" ]; then
    other=$(readlink -f "$OTHER")
    cp -r "$(dirname "$other")" "$work/other"; rm -f "$work/other/zantomp4aviconverter.ini"
    other=$work/other/$(basename "$other")
fi
display=:$((70 + RANDOM % 20))
Xvfb "$display" -screen 0 1280x900x24 >/dev/null 2>&1 & xpid=$!
sleep 1
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi -i sine -t 0.2 \
    -c:v libx264 -preset ultrafast -c:a aac "$work/tiny.mp4"
mkdir -p "$work/files"
for i in $(seq -w 1 "$n"); do ln "$work/tiny.mp4" "$work/files/f$i.mp4"; done
rows() { python3 -c 'import json,sys
try: d=json.load(open(sys.argv[1])); print(len(d["jobs"]), sum(j["Progress"]=="100%" for j in d["jobs"]))
except Exception: print(0, 0)' "$1"; }
hwm() { awk '/VmHWM/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }

# One start of the program with a fresh home; prints seconds-to-N-rows and peak kB.
add() {
    local home="$work/home-$1"; shift
    rm -rf "$home"; mkdir -p "$home"
    local start=$(date +%s.%N)
    DISPLAY=$display HOME=$home XDG_STATE_HOME=$home/state "$prog" "$@" >/dev/null 2>&1 & local pid=$!
    local state=$home/state/reelshift/joblist.json peak=0 listed=0 done=0
    while :; do
        read -r listed done < <(rows "$state")
        peak=$(( $(hwm $pid) > peak ? $(hwm $pid) : peak ))
        [ "$listed" -ge "$n" ] && break
        kill -0 $pid 2>/dev/null || { echo "program ended early"; return 1; }
        if python3 -c "import sys; sys.exit(not $(date +%s.%N) - $start > ${ADD_SECONDS:-90})"; then
            kill $pid; wait $pid 2>/dev/null || true
            echo "given up after ${ADD_SECONDS:-90} s with $listed rows listed, peak ${peak} kB"; return 0
        fi
        sleep 0.05
    done
    local end=$(date +%s.%N)
    kill $pid; wait $pid 2>/dev/null || true
    echo "$(python3 -c "print(round($end - $start, 2))") s, peak ${peak} kB"
}
echo "load: $(uptime)"
main=$prog
for round in $(seq 1 "${ROUNDS:-1}"); do
    for prog in $main $other; do
        label=$([ "$prog" = "$main" ] && echo "" || echo " (OTHER)")
        echo "add $n files by name$label:   $(add names "$work"/files/*.mp4)"
        echo "add $n files as folder$label: $(add folder "$work/files")"
    done
done
prog=$main
# The run: M of the files, started with Alt+S, followed until every row reads 100%.
home="$work/home-run"; mkdir -p "$home"
mkdir -p "$work/run"; ls "$work/files" | head -n "$m" | while read -r f; do ln "$work/files/$f" "$work/run/$f"; done
DISPLAY=$display HOME=$home XDG_STATE_HOME=$home/state "$prog" "$work"/run/*.mp4 >/dev/null 2>&1 & pid=$!
state=$home/state/reelshift/joblist.json
until [ "$(rows "$state" | cut -d' ' -f1)" -ge "$m" ]; do sleep 0.2; done
sleep 1
win=$(DISPLAY=$display xdotool search --pid $pid --name 'Converter' | head -1)
DISPLAY=$display xdotool windowfocus "$win" key alt+s
start=$(date +%s.%N); peakfd=0; done=0
while :; do
    fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
    peakfd=$(( fds > peakfd ? fds : peakfd ))
    read -r listed done < <(rows "$state")
    [ "$done" -ge "$m" ] && break
    kill -0 $pid 2>/dev/null || { echo "program ended early"; break; }
    python3 -c "import sys; sys.exit(not $(date +%s.%N) - $start > ${RUN_SECONDS:-300})" && break
    sleep 0.2
done
end=$(date +%s.%N)
echo "run $m files: $(python3 -c "print(round($end - $start, 1))") s, peak $(hwm $pid) kB, most descriptors $peakfd," \
     "rows at 100%: $done"
kill $pid; wait $pid 2>/dev/null || true

# The same files by the ffmpeg programs: their durations read by ffprobe, two at a time as the
# program probes on a 2-core machine, and each converted by ffmpeg, one process after another.
start=$(date +%s.%N)
printf '%s\0' "$work"/run/*.mp4 | xargs -0 -n 1 -P 2 ffprobe -v error -show_entries format=duration -of csv=p=0 \
    | grep -c . > "$work/probed"
echo "ffprobe $m files' durations (2 at a time): $(python3 -c "print(round($(date +%s.%N) - $start, 2))") s," \
     "$(cat "$work/probed") read"
mkdir -p "$work/ffout"; start=$(date +%s.%N); fpeak=0
for f in "$work"/run/*.mp4; do
    kb=$( { /usr/bin/time -f %M ffmpeg -nostdin -v error -i "$f" "$work/ffout/$(basename "$f" .mp4).avi"; } 2>&1 | tail -1)
    fpeak=$(( kb > fpeak ? kb : fpeak ))
done
echo "ffmpeg $m files one after another: $(python3 -c "print(round($(date +%s.%N) - $start, 1))") s," \
     "peak ${fpeak} kB per process, $(ls "$work/ffout" | wc -l) files"
echo "load: $(uptime)"
