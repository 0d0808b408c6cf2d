#!/usr/bin/env bash
# Builds libobs and libobs-opengl from an OBS Studio source (a tarball or an
# unpacked tree) into a prefix under the build folder, and prints the prefix.
# A prefix built from the same source is used again without building.
#   bash scripts/build-libobs.sh [SOURCE]
# SOURCE defaults to $TAVIMORE_LIBOBS_SOURCE, then to
# ../shared/host/obs-studio-32.2.2-libobs.tar.xz beside the project.
# Exits with status 2 (and says why) when there is no source.
# The source tree itself is never changed: it is copied, and the copy gets
# the two edits that Debian 12's CMake 3.25 and FFmpeg 5.1 need.
cd "$(dirname "$0")/.."
. scripts/common.sh

source=${1:-${TAVIMORE_LIBOBS_SOURCE:-../shared/host/obs-studio-32.2.2-libobs.tar.xz}}
if [ ! -e "$source" ]; then
	echo "no OBS Studio source at $source (set TAVIMORE_LIBOBS_SOURCE to a tarball or a source tree)" >&2
	exit 2
fi
source=$(realpath "$source")

# What identifies the source: the tarball's hash, or for a tree the hash of
# its file list with sizes and times.
if [ -d "$source" ]; then
	key=$(cd "$source" && find libobs libobs-opengl cmake deps CMakeLists.txt -type f -printf '%p %s %T@\n' |
		sort | sha256sum | cut -c1-16)
else
	key=$(sha256sum "$source" | cut -c1-16)
fi
cache=$(realpath -m "${TAVIMORE_LIBOBS_CACHE:-build/libobs}/$key")
prefix=$cache/prefix
if [ -f "$prefix/.built" ]; then
	echo "libobs: using the build in $cache (same source)" >&2
	echo "$prefix"
	exit 0
fi

apt_install cmake ninja-build pkg-config extra-cmake-modules libavcodec-dev libavformat-dev \
	libavutil-dev libswscale-dev libswresample-dev libsimde-dev uthash-dev libjansson-dev \
	zlib1g-dev uuid-dev libx11-dev libx11-xcb-dev libxcb1-dev libxcb-xinput-dev libglib2.0-dev \
	libpulse-dev libwayland-dev libxkbcommon-dev libdrm-dev libgl-dev libegl-dev libgles-dev \
	xz-utils >&2

rm -rf "$cache"
mkdir -p "$cache/src"
if [ -d "$source" ]; then
	# (without its history and build folders)
	tar -C "$source" --exclude=./.git --exclude='./build*' -cf - . | tar -xf - -C "$cache/src"
else
	tar -xJf "$source" -C "$cache/src" --strip-components=1
fi
src=$cache/src
header=$src/libobs/obs-config.h
version=$(for part in MAJOR MINOR PATCH; do
	sed -n "s/^#define LIBOBS_API_${part}_VER \([0-9]*\).*/\1/p" "$header"
done | paste -sd.)
case "$version" in
[0-9]*.[0-9]*.[0-9]*) ;;
*)
	echo "cannot read libobs's version from $header" >&2
	exit 1
	;;
esac

find "$src" \( -name CMakeLists.txt -o -name '*.cmake' \) -exec \
	sed -i 's/cmake_minimum_required(VERSION 3\.2[6-9]\.\.\./cmake_minimum_required(VERSION 3.25.../' {} +
sed -i 's/find_package(FFmpeg 6\.[0-9]*/find_package(FFmpeg 5.1/' "$src/libobs/CMakeLists.txt"

echo "libobs: building $version from $source" >&2
cmake -S "$src" -B "$cache/build" -G Ninja -DOBS_VERSION_OVERRIDE="$version" \
	-DENABLE_FRONTEND=OFF -DENABLE_PLUGINS=OFF -DENABLE_SCRIPTING=OFF \
	-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$prefix" >"$cache/configure.log" 2>&1 || {
	tail -n 40 "$cache/configure.log" >&2
	exit 1
}
cmake --build "$cache/build" -j2 >"$cache/build.log" 2>&1 || {
	tail -n 40 "$cache/build.log" >&2
	exit 1
}
cmake --install "$cache/build" >/dev/null
echo "$version" >"$prefix/.built"
rm -rf "$cache/src" "$cache/build"
echo "$prefix"
