#!/usr/bin/env bash
# The same conversions by the engine (reelshift-cli) and by the ffmpeg program, alternating
# in one run: the engine as it runs by default, ffmpeg, and the engine on one thread
# (REELSHIFT_PIPELINE=0) as a third column. Prints per job the medians of wall time, CPU use
# ((user+sys)/wall) and peak memory, and the ratios engine / ffmpeg. Opt-in; not part of the
# test suite.
#   [BENCH_JOBS=today|old] [TODAY_CODES="300 301 ..."] bench/engine_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
BUILD=${1:-build}
ROUNDS=${2:-5}
CLI="$BUILD/bin/reelshift-cli"
[ -x "$CLI" ] || { echo "no $CLI; build reelshift-cli first" >&2; exit 2; }
CLI=$(cd "$(dirname "$CLI")" && pwd)/$(basename "$CLI")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

SRC="$WORK/source.mp4"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 \
    -f lavfi -i sine=frequency=440:sample_rate=44100 -t 20 \
    -c:v libx264 -preset veryfast -crf 18 -c:a aac -ac 2 "$SRC"
: > "$WORK/empty.ini"  # the format's own defaults, whatever the user has stored

# measure NAME OUTPUT COMMAND...: appends "seconds kilobytes bytes cpu-seconds" to $WORK/NAME.
# With OUT_DIR set the command writes the one file of that folder, emptied before and moved
# to OUTPUT after, neither timed.
measure() {
    local name=$1 out=$2
    shift 2
    rm -f "$out"
    if [ -n "${OUT_DIR:-}" ]; then rm -rf "$OUT_DIR" && mkdir -p "$OUT_DIR"; fi
    # Wall time from the clock: time's own counts in 10 ms steps, 1.6 % of a 0.6 s job.
    local start end wall rss cpu
    start=$(date +%s%N)
    /usr/bin/time -v -o "$WORK/time.txt" "$@" > /dev/null 2>&1
    end=$(date +%s%N)
    if [ -n "${OUT_DIR:-}" ]; then mv "$OUT_DIR"/* "$out" 2> /dev/null || true; fi
    wall=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", (e - s) / 1e9 }')
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$WORK/time.txt")
    cpu=$(awk -F': ' '/User time|System time/ {t += $2} END {print t}' "$WORK/time.txt")
    echo "$wall $rss $(stat -c %s "$out") $cpu" >> "$WORK/$name"
}

# median FILE COLUMN: the median of a column (cpu use when COLUMN is "use").
median() {
    awk -v c="$2" '{ print c == "use" ? $4 / $1 : $c }' "$1" | sort -g |
        awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# summary LABEL: one line from the three result files of a job (the engine's own run stands in
# for the single-thread column when that was not run).
summary() {
    local l=$1 e="$WORK/engine_$1" f="$WORK/ffmpeg_$1" s="$WORK/single_$1"
    [ -s "$s" ] || s=$e
    local ew fw sw eu fu su em fm sm es fs
    ew=$(median "$e" 1) fw=$(median "$f" 1) sw=$(median "$s" 1)
    eu=$(median "$e" use) fu=$(median "$f" use) su=$(median "$s" use)
    em=$(median "$e" 2) fm=$(median "$f" 2) sm=$(median "$s" 2)
    es=$(tail -n 1 "$e" | cut -d' ' -f3) fs=$(tail -n 1 "$f" | cut -d' ' -f3)
    # The machine's speed drifts within a run (the same command 0.75 s, later 0.59 s): the
    # ratio of the two runs of each round, side by side in time, drifts much less.
    local paired
    paste -d' ' "$e" "$f" | awk '{ print $1 / $5 }' > "$WORK/paired"
    paired=$(median "$WORK/paired" 1)
    awk -v l="$l" -v ew="$ew" -v fw="$fw" -v sw="$sw" -v eu="$eu" -v fu="$fu" -v su="$su" \
        -v em="$em" -v fm="$fm" -v sm="$sm" -v es="$es" -v fs="$fs" -v pr="$paired" 'BEGIN {
        printf "%-14s wall engine %.3fs ffmpeg %.3fs single %.3fs | ratio %.3f (single %.3f), per round %.3f\n", l, ew, fw, sw, ew / fw, sw / fw, pr
        printf "%-14s cpu use engine %.2f ffmpeg %.2f single %.2f | peak RSS engine %d kB ffmpeg %d kB single %d kB, ratio %.2f | size engine %d ffmpeg %d (%+.1f%%)\n",
            "", eu, fu, su, em, fm, sm, em / fm, es, fs, (es - fs) * 100.0 / fs }'
}

# check LABEL ENGINE_OUT FFMPEG_OUT: the two outputs have the same codecs, size and frame count.
check() {
    local a b
    a=$(ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,nb_read_frames,sample_rate,channels \
        -of compact=p=0 "$2")
    b=$(ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,nb_read_frames,sample_rate,channels \
        -of compact=p=0 "$3")
    if [ "$a" = "$b" ]; then echo "$1: outputs match: $(echo $a)"; else echo "$1: OUTPUTS DIFFER: engine $(echo $a) / ffmpeg $(echo $b)"; fi
}

# The engine's command line of a job is given as a shell function: engine_LABEL OUTPUT; or,
# for the terminal program that names its output itself, as engine_argv_LABEL, which sets
# ENGINE_ARGV and the folder it writes to, ENGINE_DIR: then no shell is timed around it,
# as none is around ffmpeg (the shell, rm, mkdir and mv took 5 ms, 0.8 % of a 0.6 s job).
job() {
    local label=$1 ext=$2
    shift 2
    local engine=(bash -c "engine_$label \"\$1\"" _) dir=
    if [ "$(type -t "engine_argv_$label")" = function ]; then
        "engine_argv_$label"
        engine=("${ENGINE_ARGV[@]}") dir=$ENGINE_DIR
    fi
    rm -f "$WORK/engine_$label" "$WORK/ffmpeg_$label" "$WORK/single_$label"
    local reference=(ffmpeg -nostdin -v error -y -i "${JOB_SRC:-$SRC}" "$@" "$WORK/f.$ext")
    [ "$(type -t "ffmpeg_$label")" = function ] && reference=(bash -c "ffmpeg_$label \"\$1\"" _ "$WORK/f.$ext")
    # engine_measure NAME OUTPUT [VARIABLE=VALUE]...
    engine_measure() {
        local name=$1 out=$2
        shift 2
        local command=("${engine[@]}")
        (($#)) && command=(env "$@" "${command[@]}")
        if [ -n "$dir" ]; then
            OUT_DIR=$dir measure "$name" "$out" "${command[@]}"
        else
            measure "$name" "$out" "${command[@]}" "$out"
        fi
    }
    for ((i = 0; i < ROUNDS; i++)); do
        # Who goes first changes from round to round: on this VM the run that follows
        # another of the same kind was seen up to 5 % faster.
        ((i % 2)) && measure "ffmpeg_$label" "$WORK/f.$ext" "${reference[@]}"
        engine_measure "engine_$label" "$WORK/e.$ext"
        ((i % 2)) || measure "ffmpeg_$label" "$WORK/f.$ext" "${reference[@]}"
        [ "${SINGLE:-1}" = 1 ] &&
            engine_measure "single_$label" "$WORK/s.$ext" REELSHIFT_PIPELINE=0
    done
    summary "$label"
    check "$label" "$WORK/e.$ext" "$WORK/f.$ext"
    [ "${SINGLE:-1}" = 1 ] || return 0
    if cmp -s "$WORK/e.$ext" "$WORK/s.$ext"; then echo "$label: engine output byte-identical to the single-thread run"
    else echo "$label: engine output differs from the single-thread run"; fi
}

# Today's formats, each with the defaults of its definition, against ffmpeg with the same
# settings, on a shorter source of their own (HEVC, AV1 and VP9 encoders are slow). The
# engine names its output itself, in a folder of its own.
TODAY="$WORK/today.mp4" TODAY_SOUND="$WORK/today-sound.m4a"
format_argv() {
    ENGINE_DIR="$WORK/format$1"
    ENGINE_ARGV=("$CLI" --format "$1" --edition mp4avi --settings "$WORK/empty.ini" --output-dir "$ENGINE_DIR" "${FORMAT_SRC:-$TODAY}")
}
# The size plan for 10 MB over the 10-second source at 25 fps with 128 kbit/s of sound.
FIT_VIDEO_RATE=$(awk 'BEGIN { s = 10; bits = (1e7 - (4096 + s * (30 * 12 + 470))) * 8 * 0.96; v = int(bits / s) - 128000;
    print (v > 20000000 ? 20000000 : v) }')
ffmpeg_f308() {
    local pass="$WORK/ffpass"
    ffmpeg -nostdin -v error -y -i "$TODAY" -an -c:v libx264 -preset medium -profile:v high -pix_fmt yuv420p \
        -mbtree 0 -b:v "$FIT_VIDEO_RATE" -pass 1 -passlogfile "$pass" -f null - &&
        ffmpeg -nostdin -v error -y -i "$TODAY" -c:v libx264 -preset medium -profile:v high -pix_fmt yuv420p \
            -mbtree 0 -b:v "$FIT_VIDEO_RATE" -pass 2 -passlogfile "$pass" -c:a aac -b:a 128000 -ar 48000 -ac 2 "$1"
}
# TODAY_CODES="301 304" runs only those of today's formats (a run split into shorter ones).
today_job() {
    case " ${TODAY_CODES:-all} " in *" all "* | *" ${1#f} "*) job "$@" ;; esac
}
today_jobs() {
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 \
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t 10 \
        -c:v libx264 -preset veryfast -crf 18 -c:a aac -ac 2 "$TODAY"
    # The sound formats take a second or less on the short clip, most of it starting up: two
    # minutes of stereo sound (a tone over noise, as music is to a lossless coder) instead.
    ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=440:sample_rate=48000,aformat=channel_layouts=stereo" \
        -f lavfi -i "anoisesrc=color=pink:amplitude=0.1:sample_rate=48000" -filter_complex "[0][1]amix=inputs=2" \
        -t 120 -ac 2 -c:a aac -b:a 192k "$TODAY_SOUND"
    local code
    for code in 300 301 302 303 304 305 306 307 308 311 312 313; do eval "engine_argv_f$code() { format_argv $code; }"; done
    engine_argv_f300t() { format_argv 300; }
    engine_argv_f301t() { format_argv 301; }
    export -f ffmpeg_f308
    export TODAY TODAY_SOUND FIT_VIDEO_RATE
    local a48="-c:a aac -b:a 128000 -ar 48000 -ac 2" o128="-c:a libopus -b:a 128000 -ar 48000 -ac 2"
    export JOB_SRC=$TODAY SINGLE=0
    # shellcheck disable=SC2086
    {
        today_job f300 mp4 -c:v libx265 -preset fast -crf 26 -pix_fmt yuv420p -tag:v hvc1 $a48
        today_job f301 mkv -c:v libx265 -preset fast -crf 26 -pix_fmt yuv420p10le $o128
        # On 2-3 cores the engine gives x265 two frame threads (ffmpeg leaves x265 at one):
        # the same jobs against ffmpeg given them too, to tell the plan from the rest.
        today_job f300t mp4 -c:v libx265 -preset fast -crf 26 -pix_fmt yuv420p -tag:v hvc1 -x265-params frame-threads=2 $a48
        today_job f301t mkv -c:v libx265 -preset fast -crf 26 -pix_fmt yuv420p10le -x265-params frame-threads=2 $o128
        today_job f302 mp4 -c:v libsvtav1 -preset 8 -crf 32 -pix_fmt yuv420p10le $a48
        today_job f303 webm -c:v libsvtav1 -preset 8 -crf 32 -pix_fmt yuv420p10le $o128
        today_job f304 webm -c:v libvpx-vp9 -crf 32 -b:v 0 -deadline good -cpu-used 4 -row-mt 1 -pix_fmt yuv420p $o128
        today_job f305 mkv -c:v libx264 -preset medium -profile:v high -crf 21 -pix_fmt yuv420p $a48
        today_job f306 mov -c:v prores_ks -profile:v standard -pix_fmt yuv422p10le -vendor apl0 -c:a pcm_s16le -ar 48000
        today_job f307 mov -c:v dnxhd -profile:v dnxhr_hqx -pix_fmt yuv422p10le -c:a pcm_s16le -ar 48000
        today_job f308 mp4
        # From a float source the engine gives each encoder the first sample format it lists:
        # FLAC 16-bit, ALAC 24-bit (s32p).
        export JOB_SRC=$TODAY_SOUND FORMAT_SRC=$TODAY_SOUND
        today_job f311 opus -vn -c:a libopus -b:a 96000 -ar 48000 -ac 2
        today_job f312 flac -vn -c:a flac -sample_fmt s16
        today_job f313 m4a -vn -c:a alac -sample_fmt s32p -f ipod
        unset FORMAT_SRC
    }
    unset JOB_SRC SINGLE
}

engine_x264_aac_mp4() {
    "$CLI" --engine "$SRC" -o "$1" vcodec=libx264 vb=2000000 acodec=aac ab=128000
}
# Format 0 of the MP4-to-AVI edition with its stored defaults: MPEG-4 at 1200 kbit/s,
# 29.97 fps, 640x480 with the 16:9 picture scaled to 640x360 and letterboxed; MP3 128 kbit/s,
# 44.1 kHz stereo.
engine_argv_mpeg4_mp3_avi() { FORMAT_SRC=$SRC format_argv 0; }
export -f engine_x264_aac_mp4
export CLI SRC WORK

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)  rounds: $ROUNDS  cores: $(nproc)"
# BENCH_JOBS=today runs only today's formats (TODAY_CODES: which of them); "old" only the first two.
if [ "${BENCH_JOBS:-all}" != old ]; then today_jobs; fi
[ "${BENCH_JOBS:-all}" = today ] && { echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"; exit 0; }
job x264_aac_mp4 mp4 -c:v libx264 -preset medium -b:v 2000000 -c:a aac -b:a 128000
job mpeg4_mp3_avi avi -vf scale=640:360,pad=640:480:0:60 -r 29.97 -fps_mode cfr -aspect 16:9 \
    -c:v mpeg4 -b:v 1200000 -c:a libmp3lame -b:a 128000 -ar 44100 -ac 2
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
