#!/usr/bin/env bash
# Builds the plug-in, installs it into OBS Studio's per-user plug-in folder,
# and renders the demo scenario with the installed copy (a headless libobs,
# no desktop needed) into ./tavimore-demo/: PNG frames, a GIF and a video.
cd "$(dirname "$0")/.."
. scripts/common.sh

# libobs0, Xvfb and Mesa's EGL run the preview on a machine without a desktop
apt_install "${BUILD_DEPS[@]}" libobs0 xvfb xauth libegl-mesa0 libgl1-mesa-dri

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTAVIMORE_BUILD_TESTS=OFF -DTAVIMORE_USER_INSTALL=ON
cmake --build build/release -j2
cmake --install build/release
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' build/release/CMakeCache.txt)
plugin="$prefix/tavimore-free"
echo "installed into $plugin"

# 60 frames a second: the video has every one, the GIF every second one
build/release/tools/preview/tavimore-preview --module "$plugin/bin/64bit/tavimore-free.so" \
	--data "$plugin/data" --output tavimore-demo --fps 60 --video tavimore-demo/preview.mp4
echo "demo GIF: $PWD/tavimore-demo/preview.gif"
echo "demo video: $PWD/tavimore-demo/preview.mp4"
