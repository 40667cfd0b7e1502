#!/usr/bin/env bash
# Builds the probe fuzzer with clang (libFuzzer + AddressSanitizer + UBSan) and runs it.
#   fuzz/run.sh [SECONDS]     default 600; one job, at low priority
# Corpus: fuzz/corpus (generated small media files, not kept in git); findings in
# fuzz/artifacts. The media libraries are the system's, loaded at run time as usual.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
out=${FUZZ_BUILD_DIR:-build-fuzz}
mkdir -p "$out" fuzz/corpus fuzz/artifacts

flags="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -fno-omit-frame-pointer -I. \
  $(pkg-config --cflags libavcodec libavformat libavutil libswscale libswresample libavfilter sdl2) \
  -D__STDC_CONSTANT_MACROS"
sources="fuzz/ProbeFuzzer.cpp player/AVProbe.cpp engine/FFmpegLoader.cpp engine/FFmpegLogger.cpp \
  engine/FFUtils.cpp engine/MainThread.cpp platform/IniFile.cpp platform/ProgramFolder.cpp"
# shellcheck disable=SC2086
nice -n 10 clang++ $flags $sources -ldl -lpthread -o "$out/probe_fuzzer"

if [ -z "$(ls -A fuzz/corpus)" ]; then
  # Seeds: tiny clips in the containers a user adds most.
  gen() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
  v=(-f lavfi -i testsrc2=size=64x48:rate=25)
  a=(-f lavfi -i sine=sample_rate=8000)
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v libx264 -c:a aac fuzz/corpus/h264_aac.mp4
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v mpeg4 -c:a mp3 fuzz/corpus/mpeg4_mp3.avi
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v mpeg2video -c:a mp2 fuzz/corpus/mpeg2.ts
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v mpeg2video -c:a mp2 -f vob fuzz/corpus/mpeg2.mpg
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v flv1 -c:a mp3 -ar 22050 fuzz/corpus/flv1.flv
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v libvpx -c:a libvorbis fuzz/corpus/vp8.webm
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v mjpeg -c:a pcm_s16le -metadata title=seed fuzz/corpus/mjpeg.mkv
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v wmv2 -c:a wmav2 fuzz/corpus/wmv2.wmv
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v h263 -s 128x96 -c:a aac -ar 8000 -ac 1 fuzz/corpus/h263.3gp
  gen "${a[@]}" -t 0.3 -c:a libmp3lame -metadata artist=seed -metadata album=seed fuzz/corpus/tone.mp3
  gen "${a[@]}" -t 0.3 -c:a pcm_s16le fuzz/corpus/tone.wav
  gen "${a[@]}" -t 0.3 -c:a libvorbis fuzz/corpus/tone.ogg
  gen "${a[@]}" -t 0.3 -c:a ac3 -ar 48000 fuzz/corpus/tone.ac3
  gen "${a[@]}" -t 0.3 -c:a aac -metadata:s:a language=eng fuzz/corpus/tone.m4a
fi

export FUZZ_SCRATCH_DIR=${FUZZ_SCRATCH_DIR:-/dev/shm}
exec nice -n 10 "$out/probe_fuzzer" -max_total_time="$seconds" -max_len=65536 \
  -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=fuzz/artifacts/ fuzz/corpus
