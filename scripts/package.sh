#!/usr/bin/env bash
# Makes a Debian package of ReelShift from a build folder (built first as far as needed):
#   scripts/package.sh [BUILD_DIR]        default: $REELSHIFT_BUILD_DIR or build
# The package lands in BUILD_DIR; its path is the last line printed.
set -euo pipefail
# A folder named by the caller is taken from where the caller stands; the default from the tree.
if [ -n "${1:-}" ]; then
  mkdir -p "$1"
  build_dir=$(cd "$1" && pwd)
fi
cd "$(dirname "$0")/.."
build_dir=${build_dir:-${REELSHIFT_BUILD_DIR:-build}}

for tool in dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }
done
[ -f "$build_dir/CMakeCache.txt" ] || cmake -S . -B "$build_dir" -G Ninja ${REELSHIFT_CMAKE_ARGS:-} >&2
build_dir=$(cd "$build_dir" && pwd)
cmake --build "$build_dir" --target reelshift reelshift-cli rs_data rs_icons rs_library_dependencies >&2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
DESTDIR=$root cmake --install "$build_dir" --prefix /usr >/dev/null
# As Debian's own packages are stripped: no debugging symbols, no compiler notes.
strip --remove-section=.comment --remove-section=.note "$root"/usr/bin/*

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
arch=$(dpkg --print-architecture)
doc=$root/usr/share/doc/reelshift
mkdir -p "$doc"
install -m 644 packaging/copyright "$doc/copyright"
sed "s/@VERSION@/$version/" packaging/changelog | gzip -9n > "$doc/changelog.gz"
gzip -9n "$root"/usr/share/man/man1/*.1

# What the programs link, as dpkg-shlibdeps reads it, and what they open at run time: the
# media libraries (through the stand-in that links what the loader binds), Qt's platform
# plugins and a font for text on pictures.
mkdir -p "$work/debian"
printf 'Source: reelshift\n\nPackage: reelshift\nArchitecture: any\n' > "$work/debian/control"
linked=$(cd "$work" && dpkg-shlibdeps -O -e"$root/usr/bin/reelshift" -e"$root/usr/bin/reelshift-cli" \
  -e"$build_dir/packaging/rs_library_dependencies" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$linked" ] || { echo "package.sh: dpkg-shlibdeps found no libraries" >&2; exit 1; }
depends="$linked, qt6-qpa-plugins, fonts-dejavu-core"

find "$root" -type d -exec chmod 755 {} +
find "$root" -type f -exec chmod 644 {} +
chmod 755 "$root"/usr/bin/*
mkdir -m 755 "$root/DEBIAN"
(cd "$root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) > "$root/DEBIAN/md5sums"
size=$(du -sk --apparent-size --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
  packaging/control.in > "$root/DEBIAN/control"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

deb=$build_dir/reelshift_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >&2
echo "$deb"
