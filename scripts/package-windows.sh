#!/usr/bin/env bash
# The Windows packages, in dist/:
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
command -v makensis zip >/dev/null || apt_install nsis zip >&2
build=$(bash scripts/build-windows.sh --target tavimore-free)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=tavimore-free-$version-windows-x64
mkdir -p dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage" --strip >/dev/null
for f in obs-plugins/64bit/tavimore-free.dll data/obs-plugins/tavimore-free/zoom-crop.effect \
	data/obs-plugins/tavimore-free/locale/en-US.ini data/obs-plugins/tavimore-free/LICENSE; do
	[ -f "$stage/$f" ] || { echo "package-windows: $f is missing" >&2; exit 1; }
done

rm -f "dist/$name.zip" "dist/$name-setup.exe"
# the same date on every file, so that a rebuild of the same tree gives the
# same archive
find "$stage" -exec touch -h -d "@$(git log -1 --format=%ct 2>/dev/null || echo 0)" {} +
(cd "$stage" && find obs-plugins data -type f | LC_ALL=C sort | zip -q -X -@ "$OLDPWD/dist/$name.zip")
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$PWD/dist/$name-setup.exe" \
	cmake/installer.nsi >&2
echo "dist/$name.zip"
echo "dist/$name-setup.exe"
