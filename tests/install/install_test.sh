#!/usr/bin/env bash
# Installs the build into a fresh prefix and uses it from there as a person would: the desktop
# files validate, the terminal converter converts, and the desktop program keeps its settings
# in the user's configuration folder, never in the shared program folder.
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
desktop=$(ls "$prefix"/share/applications/*.desktop)
metainfo=$(ls "$prefix"/share/metainfo/*.metainfo.xml)
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$metainfo" >/dev/null
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16x16 32x32 48x48 64x64 128x128 256x256; do
  test -s "$prefix/share/icons/hicolor/$size/apps/$icon.png" || { echo "missing $size icon"; exit 1; }
done
test -s "$prefix/share/icons/hicolor/scalable/apps/$icon.svg"
grep -q '^MimeType=.*video/mp4;' "$desktop"
grep -q '^Exec=reelshift %F$' "$desktop"
for page in reelshift reelshift-cli; do
  test -s "$prefix/share/man/man1/$page.1" || { echo "missing manual page $page(1)"; exit 1; }
done
test -s "$prefix/share/bash-completion/completions/reelshift-cli" || { echo "missing completion"; exit 1; }
test -s "$prefix/share/zsh/vendor-completions/_reelshift-cli" || { echo "missing zsh completion"; exit 1; }

export HOME=$work/home XDG_CONFIG_HOME=$work/config
mkdir -p "$HOME"
ffmpeg -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25:duration=1 -f lavfi -i sine=duration=1 \
  -c:v libx264 -c:a aac -shortest "$work/clip.mp4"
"$prefix/bin/reelshift-cli" --format 0 --output-dir "$work/out" "$work/clip.mp4" >/dev/null
out="$work/out/clip_(new).avi"
streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$out" | sort | tr '\n' ' ')
[ "$streams" = "audio video " ] || { echo "converted file has streams: $streams"; exit 1; }

# The desktop program writes its settings when its window first shows (its update check
# goes to a closed port on this machine, never out).
REELSHIFT_UPDATE_URL=http://127.0.0.1:9/ QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy "$prefix/bin/reelshift" >/dev/null 2>&1 &
program=$!
for _ in $(seq 100); do
  ls "$XDG_CONFIG_HOME"/reelshift/*.ini >/dev/null 2>&1 && break
  sleep 0.1
done
kill -KILL "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
ls "$XDG_CONFIG_HOME"/reelshift/*.ini >/dev/null || { echo "no settings file in the configuration folder"; exit 1; }
if ls "$prefix"/bin/*.ini >/dev/null 2>&1; then echo "settings written into the program folder"; exit 1; fi
