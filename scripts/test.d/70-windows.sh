#!/usr/bin/env bash
# Windows: the module cross-built with MinGW-w64 (scripts/build-windows.sh)
# and tested under Wine inside OBS's own Windows libobs (31.1.1, from the npm
# package noobs; scripts/windows/libobs.sh):
#  - every libobs suite that runs there (ctest), on OpenGL, in Debian 12's
#    Wine 8;
#  - every suite that starts a renderer (ctest -L render) again, on
#    Direct3D 11, in Debian 13's Wine 10 (a debootstrap root, made once under
#    build/windows/trixie); the others start none;
#  - the release zip and installer (scripts/package-windows.sh): the DLL from
#    the zip, loaded by libobs from OBS's own folder, on both renderers
#    (obs-folder-tests); the installer and its uninstaller, run silently.
# Not built for Windows: alloc-tests (they replace glibc's allocator),
# tracking-tests and tracking-capture-tests (the X pointer and OBS's Linux
# captures; windows-tracking-tests covers Windows's pointer and captures).
cd "$(dirname "$0")/../.."
. scripts/common.sh
started=$SECONDS

apt_install xvfb xauth wine wine64 nsis zip unzip debootstrap
build=$(bash scripts/build-windows.sh) || exit 1
packages=$(bash scripts/package-windows.sh) || exit 1
zip=$(sed -n 1p <<<"$packages")
setup=$(sed -n 2p <<<"$packages")
host=$(bash scripts/windows/libobs.sh) || exit 1
libobs=$(sed -n 's/^#define LIBOBS_API_\(MAJOR\|MINOR\|PATCH\)_VER *\([0-9]*\).*/\2/p' \
	"$host/../package/include/obs-config.h" | paste -sd.)
echo "-- built in $((SECONDS - started)) s; OBS's Windows libobs $libobs"

# OBS's folder with the DLL and data from the zip (inside the checkout, which
# the Debian 13 root sees), its libobs linked from the package
folder=$PWD/build/windows/obs-from-zip
rm -rf "$folder"
mkdir -p "$folder/bin/64bit" "$folder/data"
ln -s "$host"/bin/64bit/* "$folder/bin/64bit/"
ln -s "$host/data/libobs" "$folder/data/libobs"
unzip -q "$zip" -d "$folder"

# each part says when it starts, in seconds since the step began
at() { echo "-- $* (at $((SECONDS - started)) s)"; }
display() { xvfb-run -a -s "-screen 0 1280x720x24 -nolisten tcp" "$@"; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
tally() { [ -z "${TAVIMORE_TALLY:-}" ] || printf '%s\t%s\n' "$1" "$2" >>"$TAVIMORE_TALLY"; }

at "OpenGL, $(wine --version) (Debian 12)"
display scripts/windows/wine-run.sh
(cd "$build" && display ctest --output-on-failure --timeout 300 -j2) | tee "$log"
[ "${PIPESTATUS[0]}" -eq 0 ] || exit 1
opengl=$(ctest_passed "$log")
at "the DLL from the zip, loaded from OBS's folder, on OpenGL"
TAVIMORE_WINDOWS_HOST=$folder display scripts/windows/wine-run.sh "$PWD/$build/tests/obs-folder-tests.exe" --gtest_brief=1
opengl=$((opengl + 1))
tally "libobs $libobs (Windows, Wine 8, OpenGL)" "$opengl"

at "the installer, silently, and its uninstaller"
display bash scripts/windows/check-installer.sh "$zip" "$setup"
tally "libobs $libobs (Windows, Wine 8, OpenGL)" 1

at "the Debian 13 root with Wine 10"
root=$PWD/build/windows/trixie
bash scripts/windows/trixie.sh make "$root"
at "Direct3D 11, Wine 10 in the Debian 13 root"
display bash scripts/windows/trixie.sh run "$root" env TAVIMORE_TEST_GRAPHICS=libobs-d3d11 \
	bash scripts/windows/d3d11-suites.sh "$build" "$log" "$folder" "$(($(date +%s) - SECONDS + started))"
tally "libobs $libobs (Windows, Wine 10, Direct3D 11)" "$(($(ctest_passed "$log") + 1))"
echo "windows: $((SECONDS - started)) s in all"
