#!/usr/bin/env bash
# Builds a fuzz target with clang (libFuzzer + AddressSanitizer + UBSan) and runs it.
#   fuzz/run.sh [probe|convert|joblist|settings] [SECONDS]   default probe, 600 s; one job, at low priority
# probe: the media probe on arbitrary bytes. convert: a whole conversion (input, engine,
# output in the scratch folder), stopped after FUZZ_SECONDS_PER_RUN (default 5) seconds.
# joblist: the job list's recovery file. settings: the settings file and the options a
# conversion makes from it.
# Corpus: fuzz/corpus (probe) and fuzz/corpus-TARGET (generated, not kept in git); findings
# in fuzz/artifacts. The media libraries are the system's, loaded at run time as usual.
set -euo pipefail
cd "$(dirname "$0")/.."
target=probe
case "${1:-}" in probe | convert | joblist | settings) target=$1; shift ;; esac
seconds=${1:-600}
out=${FUZZ_BUILD_DIR:-build-fuzz}
corpus=fuzz/corpus
[ "$target" = convert ] && corpus=fuzz/corpus-convert
mkdir -p "$out" fuzz/artifacts
export FUZZ_SCRATCH_DIR=${FUZZ_SCRATCH_DIR:-/dev/shm}
run() {  # corpus folder, longest input
  exec nice -n 10 "$out/${target}_fuzzer" -max_total_time="$seconds" -max_len="$2" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=fuzz/artifacts/ "$1"
}
cxx="clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -fno-omit-frame-pointer -fPIC -I. -D__STDC_CONSTANT_MACROS"

if [ "$target" = joblist ]; then
  # shellcheck disable=SC2086
  nice -n 10 $cxx $(pkg-config --cflags Qt6Core Qt6Gui libavcodec libavformat libavutil sdl2) fuzz/JobListFuzzer.cpp app/JobListState.cpp \
    edits/JobRanges.cpp edits/FrameEdits.cpp engine/FrameBitmap.cpp \
    $(pkg-config --libs Qt6Core Qt6Gui) -o "$out/joblist_fuzzer"
  corpus=fuzz/corpus-joblist
  if [ ! -d "$corpus" ]; then
    mkdir -p "$corpus"
    # Seeds: a file as the program writes it, one with values of every wrong kind, and one
    # with a name that is not UTF-8.
    printf '%s' '{"version":1,"jobs":[{"Record":{"SourceFile":"/v/a.mp4","TrimStart":200000,"TrimLength":0,"ZoomMode":"lbox","WatermarkText":"Hi","WatermarkImage":"/v/logo.bmp","ProcessText":true,"ProcessImage":false,"CropMarginTop":8,"CropMarginLeft":0,"CropMarginBottom":8,"CropMarginRight":0,"CropEditTop":2,"CropEditLeft":0,"CropEditBottom":2,"CropEditRight":0,"TextLeft":10,"TextTop":20,"TextSliderX":5,"TextSliderY":5,"ImageLeft":30,"ImageTop":40,"ImageSliderX":10,"ImageSliderY":10,"ImageAlpha":168,"TransparentStyle":1,"Brightness":255,"Contrast":0,"Saturation":255,"Exposure":0,"Font":{"Name":"DejaVu Sans","Size":12,"Color":16776960,"Bold":true,"Italic":false,"Underline":false,"StrikeOut":false}},"Checked":true,"Length":"3","TrimmedLength":"3","Destination":"a_(new).avi","Progress":""}]}' >"$corpus/saved.json"
    printf '%s' '{"version":1,"jobs":[{"Record":{"SourceFile":"/v/b.mp4","TrimStart":-5,"TrimLength":1e300,"ZoomMode":7,"ImageLeft":2147483637,"ImageTop":-2147483648,"Brightness":"abc","Contrast":1.5,"CropMarginTop":99999,"Font":[1,2],"ProcessText":"yes"},"Checked":"no","Progress":100}]}' >"$corpus/junk.json"
    printf '%s' '{"version":1,"runFolder":"/out","jobs":[{"Record":{"SourceFile":"/v/caf\ufffd.mp4","SourceFileBytes":"L3YvY2Fm6S5tcDQ=","WatermarkImage":"/v/x.bmp","WatermarkImageBytes":"!"},"Destination":"caf\ufffd_(new).avi","DestinationBytes":"Y2Fm6V8obmV3KS5hdmk="}]}' >"$corpus/latin1.json"
  fi
  run "$corpus" 65536
fi

if [ "$target" = settings ]; then
  # shellcheck disable=SC2086
  nice -n 10 $cxx fuzz/SettingsFuzzer.cpp platform/IniFile.cpp platform/Text.cpp formats/OptionsBuilder.cpp \
    formats/ParameterTables.cpp formats/Catalogue.cpp formats/DeviceLimits.cpp formats/Edition.cpp \
    engine/TaskOptions.cpp engine/FFUtils.cpp engine/FFmpegLoader.cpp engine/FFmpegLogger.cpp engine/MainThread.cpp \
    platform/ProgramFolder.cpp $(pkg-config --cflags libavcodec libavformat libavutil sdl2) -ldl -lpthread \
    -o "$out/settings_fuzzer"
  corpus=fuzz/corpus-settings
  if [ ! -d "$corpus" ]; then
    mkdir -p "$corpus"
    printf '[settings]\nFormatCode=0\nOutPutDir=/tmp/out\nvolume=64\n[formatInfo0]\nparaVideoSize=320x240\nparaVideoBitRate=768\nparaFrameRate=25\nparaZoom=lbox\nparaSampleRate=44100\nparaAudioBitRate=128\nparaChannel=2\nparaVolume=256\n' >"$corpus/plain.ini"
    printf '[settings]\nFormatCode=100\n[formatInfo100]\nparaVideoSize=-320x240\nparaVideoBitRate=0x7fffffff\nparaFrameRate=-1\nparaZoom=full\nparaSampleRate=$FFFF\nparaAudioBitRate=1e308\nparaChannel=99\nparaVolume=-3\n[fuzz]\ntop=-2147483648\nleft=400\n' >"$corpus/junk.ini"
    cp data/zantomp4aviformat.ini "$corpus/definitions.ini"
  fi
  run "$corpus" 8192
fi

mkdir -p "$corpus"

flags="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -fno-omit-frame-pointer -I. \
  $(pkg-config --cflags libavcodec libavformat libavutil libswscale libswresample libavfilter sdl2) \
  -D__STDC_CONSTANT_MACROS"
# The version the component reports, from the project's own line.
IFS=. read -r major minor patch tweak <<< "$(sed -n 's/^project(ReelShift VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
flags="$flags -DREELSHIFT_VERSION_MAJOR=$major -DREELSHIFT_VERSION_MINOR=$minor -DREELSHIFT_VERSION_PATCH=$patch \
  -DREELSHIFT_VERSION_TWEAK=$tweak"
base="engine/FFmpegLoader.cpp engine/FFmpegLogger.cpp engine/FFUtils.cpp engine/MainThread.cpp \
  platform/IniFile.cpp platform/ProgramFolder.cpp platform/Text.cpp player/AVProbe.cpp"
if [ "$target" = probe ]; then
  sources="fuzz/ProbeFuzzer.cpp $base"
else
  # The whole engine: every unit of the folder (the media base is in $base already).
  engine=$(ls engine/*.cpp | grep -v -e FFmpegLoader -e FFmpegLogger -e FFUtils -e MainThread)
  sources="fuzz/ConvertFuzzer.cpp $base $engine"
fi
# shellcheck disable=SC2086
nice -n 10 clang++ $flags $sources -ldl -lpthread -o "$out/${target}_fuzzer"

gen() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
v=(-f lavfi -i testsrc2=size=64x48:rate=25)
a=(-f lavfi -i sine=sample_rate=8000)
if [ "$target" = probe ] && [ -z "$(ls -A "$corpus")" ]; then
  # Seeds: tiny clips in the containers a user adds most.
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v libx264 -c:a aac $corpus/h264_aac.mp4
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v mpeg4 -c:a mp3 $corpus/mpeg4_mp3.avi
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v mpeg2video -c:a mp2 $corpus/mpeg2.ts
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v mpeg2video -c:a mp2 -f vob $corpus/mpeg2.mpg
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v flv1 -c:a mp3 -ar 22050 $corpus/flv1.flv
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v libvpx -c:a libvorbis $corpus/vp8.webm
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v mjpeg -c:a pcm_s16le -metadata title=seed $corpus/mjpeg.mkv
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v wmv2 -c:a wmav2 $corpus/wmv2.wmv
  gen "${v[@]}" "${a[@]}" -t 0.3 -c:v h263 -s 128x96 -c:a aac -ar 8000 -ac 1 $corpus/h263.3gp
  gen "${a[@]}" -t 0.3 -c:a libmp3lame -metadata artist=seed -metadata album=seed $corpus/tone.mp3
  gen "${a[@]}" -t 0.3 -c:a pcm_s16le $corpus/tone.wav
  gen "${a[@]}" -t 0.3 -c:a libvorbis $corpus/tone.ogg
  gen "${a[@]}" -t 0.3 -c:a ac3 -ar 48000 $corpus/tone.ac3
  gen "${a[@]}" -t 0.3 -c:a aac -metadata:s:a language=eng $corpus/tone.m4a
fi
if [ "$target" = convert ] && [ -z "$(ls -A "$corpus")" ]; then
  # Seeds: a short clip in each container the add filter offers that ffmpeg can write.
  clip() { gen "${v[@]}" "${a[@]}" -t 0.2 "$@"; }
  clip -c:v mpeg4 -c:a libmp3lame $corpus/seed.avi
  clip -c:v wmv2 -c:a wmav2 $corpus/seed.asf
  clip -c:v wmv2 -c:a wmav2 $corpus/seed.wmv
  clip -c:v flv1 -c:a libmp3lame -ar 22050 $corpus/seed.flv
  clip -c:v mpeg4 -c:a libvorbis $corpus/seed.mkv
  clip -c:v mpeg4 -c:a aac $corpus/seed.mov
  clip -c:v h263 -s 128x96 -c:a aac -ar 8000 -ac 1 $corpus/seed.3gp
  clip -c:v h263 -s 128x96 -c:a aac -ar 8000 -ac 1 -f 3g2 $corpus/seed.3g2
  clip -c:v libx264 -c:a aac -f mp4 $corpus/seed.m4v
  clip -c:v libx264 -c:a aac $corpus/seed.mp4
  clip -c:v mpeg1video -c:a mp2 -f mpeg $corpus/seed.mpg
  clip -c:v mpeg1video -c:a mp2 -f mpeg $corpus/seed.dat
  clip -c:v libtheora -c:a libvorbis -f ogg $corpus/seed.ogm
  clip -c:v mpeg2video -c:a mp2 -f vob $corpus/seed.vob
  clip -c:v rv10 -s 64x48 -c:a ac3 -ar 48000 -f rm $corpus/seed.rm
  clip -c:v mpeg2video -c:a mp2 $corpus/seed.ts
  clip -c:v libx264 -c:a aac -f mpegts -mpegts_m2ts_mode 1 $corpus/seed.m2ts
  clip -c:v flv1 -c:a libmp3lame -ar 22050 -f swf $corpus/seed.swf
  gen "${v[@]}" -t 0.2 -c:v mjpeg -f mjpeg $corpus/seed.mjpg
  gen "${v[@]}" -t 0.2 -f gif $corpus/seed.gif
  gen "${v[@]}" -t 0.2 -c:v mpeg1video -f mpeg1video $corpus/seed.mpv
  tone() { gen "${a[@]}" -t 0.2 "$@"; }
  tone -c:a libmp3lame $corpus/seed.mp3
  tone -c:a aac -f adts $corpus/seed.aac
  tone -c:a pcm_s16le $corpus/seed.wav
  tone -c:a wmav2 -f asf $corpus/seed.wma
  tone -c:a libvorbis $corpus/seed.ogg
  tone -c:a flac $corpus/seed.flac
  tone -c:a aac $corpus/seed.m4a
  tone -c:a libvorbis -f matroska $corpus/seed.mka
  tone -c:a mp2 -f mp2 $corpus/seed.mp2
  tone -c:a ac3 -ar 48000 $corpus/seed.ac3
  tone -c:a dca -strict -2 -ar 48000 -ac 2 -f dts $corpus/seed.dts || true
  tone -c:a wavpack $corpus/seed.wv
  tone -c:a tta $corpus/seed.tta
fi

export FUZZ_SCRATCH_DIR=${FUZZ_SCRATCH_DIR:-/dev/shm}
# shellcheck disable=SC2086
exec nice -n 10 "$out/${target}_fuzzer" -max_total_time="$seconds" -max_len=65536 \
  -timeout=$([ "$target" = convert ] && echo 30 || echo 10) -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=fuzz/artifacts/ $corpus
