#!/usr/bin/env bash
# Builds the plug-in and installs it into OBS Studio's per-user plug-in folder.
cd "$(dirname "$0")/.."
. scripts/common.sh

apt_install "${BUILD_DEPS[@]}"

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTAVIMORE_BUILD_TESTS=OFF -DTAVIMORE_USER_INSTALL=ON
cmake --build build/release -j2
cmake --install build/release
echo "installed into ${XDG_CONFIG_HOME:-$HOME/.config}/obs-studio/plugins/tavimore-free"
