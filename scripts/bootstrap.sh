#!/usr/bin/env bash
# Installs what ReelShift needs (Debian 12), builds it, then runs, tests or only builds.
#   scripts/bootstrap.sh run    build and start the program
#   scripts/bootstrap.sh test   build and run every test
#   scripts/bootstrap.sh build  build only
set -euo pipefail
cd "$(dirname "$0")/.."

action=${1:-build}
build_dir=${REELSHIFT_BUILD_DIR:-build}

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-qpa-plugins libgl-dev libvulkan-dev libxkbcommon-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  libsdl2-dev libgtest-dev libgmock-dev
  ffmpeg xvfb xauth fonts-dejavu-core
  desktop-file-utils appstream librsvg2-bin dbus-daemon man-db groff-base bash-completion
  dpkg-dev lintian zsh parallel
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$build_dir" -G Ninja ${REELSHIFT_CMAKE_ARGS:-}
cmake --build "$build_dir" -j "$(nproc)"

case "$action" in
  run)
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
      echo "No display found; starting on a virtual one (xvfb-run)."
      exec xvfb-run -a "$build_dir/bin/reelshift"
    fi
    exec "$build_dir/bin/reelshift"
    ;;
  test)
    cd "$build_dir"
    exec ctest --output-on-failure -j "$(nproc)" ${REELSHIFT_CTEST_ARGS:-}
    ;;
  build) ;;
  *) echo "usage: $0 [run|test|build]" >&2; exit 2 ;;
esac
