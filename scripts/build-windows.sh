#!/usr/bin/env bash
# Cross-builds the module and its tests for 64-bit Windows (MinGW-w64), as a
# release build, into build/windows/build (or TAVIMORE_WINDOWS_BUILD), against
# Debian's libobs 29.0.2 headers and the import library of OBS's own Windows
# libobs (scripts/windows/libobs.sh). Arguments go to cmake --build (say
# --target tavimore-free). Prints the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
apt_install cmake make g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
	binutils-mingw-w64-x86-64 libobs-dev libsimde-dev libdlib-dev googletest openssl >&2
# npm fetches OBS's Windows libobs; the machine's own Node.js may bring it
command -v npm >/dev/null || apt_install npm >&2
obs=$(bash scripts/windows/libobs.sh)
build=${TAVIMORE_WINDOWS_BUILD:-build/windows/build}
launcher=()
if command -v ccache >/dev/null; then
	launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" --toolchain cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
	-DTAVIMORE_OBS_IMPORT_LIB="$obs/../package/bin/64bit/obs.lib" -DTAVIMORE_WINDOWS_HOST="$obs" \
	-DTAVIMORE_DLIB_INCLUDE_DIR=/usr/include \
	"${launcher[@]}" >&2
cmake --build "$build" -j2 "$@" >&2
echo "$build"
