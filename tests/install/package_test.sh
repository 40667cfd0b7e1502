#!/usr/bin/env bash
# Makes the Debian package from the build folder and checks it as apt and a user would see it:
# lintian finds no error, apt can install it with its dependencies, the programs run from an
# unpacked copy (a conversion read back with ffprobe), and man renders both pages.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

deb=$("$source_dir/scripts/package.sh" "$build_dir" 2>"$work/package.log" | tail -n 1) || { cat "$work/package.log"; fail "package.sh failed"; }
[ -f "$deb" ] || fail "package.sh did not name a package on its last line: $deb"

# The libraries opened with dlopen are named with the majors the loader asks for, besides
# what the programs link.
depends=$(dpkg-deb -f "$deb" Depends)
for p in libavcodec59 libavformat59 libavutil57 libswscale6 libswresample4 libavfilter8 libsdl2-2.0-0 \
         libqt6widgets6 libqt6dbus6 qt6-qpa-plugins fonts-dejavu-core; do
  grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done

lintian --fail-on error "$deb" 2>/dev/null >"$work/lintian.txt" || { cat "$work/lintian.txt"; fail "lintian found errors"; }

# apt resolves every dependency (a simulation: nothing is installed) as on a machine with nothing
# installed yet, when it has package lists to resolve from; else against this machine.
fresh=()
if compgen -G "/var/lib/apt/lists/*_Packages" >/dev/null; then
  : >"$work/empty-status"
  fresh=(-o "Dir::State::status=$work/empty-status")
fi
apt-get -s "${fresh[@]}" install "$deb" >"$work/apt.txt" 2>&1 || { cat "$work/apt.txt"; fail "apt cannot install the package"; }
grep -qE "^Inst reelshift |reelshift is already the newest version" "$work/apt.txt" || { cat "$work/apt.txt"; fail "apt would not install reelshift"; }

root=$work/root
dpkg -x "$deb" "$root"
version=$(dpkg-deb -f "$deb" Version)
[ "$("$root/usr/bin/reelshift-cli" --version)" = "reelshift-cli $version" ] || fail "installed reelshift-cli --version"
# The desktop program answers on a terminal without a display.
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/reelshift" --version)" = "reelshift $version" ] ||
  fail "installed reelshift --version"

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME"
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -f lavfi -i sine=duration=1 \
  -c:v libx264 -preset ultrafast -c:a aac -shortest "$work/clip.mp4"
"$root/usr/bin/reelshift-cli" --format=0 --output-dir "$work/out" "$work/clip.mp4" >/dev/null
streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$work/out/clip_(new).avi" | sort | tr '\n' ' ')
[ "$streams" = "audio video " ] || fail "the installed converter wrote streams: $streams"

for page in reelshift reelshift-cli; do
  shown=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>"$work/man.err")
  [ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "man warns about $page(1)"; }
  grep -q "^NAME" <<<"$shown" || fail "man shows no $page(1)"
done
bash -n "$root/usr/share/bash-completion/completions/reelshift-cli" || fail "the completion is not bash"
zsh -n "$root/usr/share/zsh/vendor-completions/_reelshift-cli" || fail "the zsh completion is not zsh"
