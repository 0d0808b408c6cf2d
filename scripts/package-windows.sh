#!/usr/bin/env bash
# The Windows packages, in DIST (default dist/):
#   bash scripts/package-windows.sh [DIST]
#   tavimore-free-<version>-windows-x64.zip        OBS Studio's folder layout:
#       obs-plugins/64bit/tavimore-free.dll and data/obs-plugins/tavimore-free/
#       (the effect, the locale files, the licence), to unpack into OBS's folder
#   tavimore-free-<version>-windows-x64-setup.exe  an NSIS installer of the same
#       files into OBS's folder (found from OBS's own uninstall entry), with an
#       uninstaller registered in Windows's list of programs
# The DLL is cross-built by scripts/build-windows.sh (build/windows/build, or
# TAVIMORE_WINDOWS_BUILD) against Debian's libobs 29.0.2 headers: it loads in
# OBS 29.0 and later. Prints the two files.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
apt_install nsis zip >&2
build=$(bash scripts/build-windows.sh --target tavimore-free)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=tavimore-free-$version-windows-x64
mkdir -p "${1:-dist}"
dist=$(cd "${1:-dist}" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage" >/dev/null
# without its debugging information; strip writes the time into the PE
# header, and a checksum over it: both go back to 0, as the linker left them
# (TimeDateStamp 8 bytes past the "PE" signature, CheckSum 88)
dll=$stage/obs-plugins/64bit/tavimore-free.dll
x86_64-w64-mingw32-strip --strip-unneeded "$dll"
pe=$(od -An -t u4 -j 60 -N 4 "$dll" | tr -d ' ')
for field in 8 88; do
	printf '\0\0\0\0' | dd of="$dll" bs=1 seek=$((pe + field)) conv=notrunc status=none
done
for f in obs-plugins/64bit/tavimore-free.dll data/obs-plugins/tavimore-free/zoom-crop.effect \
	data/obs-plugins/tavimore-free/locale/en-US.ini data/obs-plugins/tavimore-free/LICENSE \
	data/obs-plugins/tavimore-free/manifest.json; do
	[ -f "$stage/$f" ] || { echo "package-windows: $f is missing" >&2; exit 1; }
done

rm -f "$dist/$name.zip" "$dist/$name-setup.exe"
# the same date on every file (the commit's), so that a rebuild of the same
# tree gives the same zip
find "$stage" -exec touch -h -d "@$(git log -1 --format=%ct 2>/dev/null || echo 0)" {} +
(cd "$stage" && find obs-plugins data -type f | LC_ALL=C sort | zip -q -X -@ "$dist/$name.zip")
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$dist/$name-setup.exe" \
	cmake/installer.nsi >&2
echo "$dist/$name.zip"
echo "$dist/$name-setup.exe"
