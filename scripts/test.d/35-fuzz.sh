#!/usr/bin/env bash
# A short, bounded pass of the settings fuzzer (fuzz/settings-fuzzer.cpp):
# the committed corpus first, then new inputs for FUZZ_SECONDS (default 60).
# A crash, a sanitizer report or a broken check fails the run and leaves the
# input in build/fuzz/findings/.
cd "$(dirname "$0")/../.."
. scripts/common.sh

apt_install "${BUILD_DEPS[@]}" libgtest-dev googletest xvfb xauth \
	clang-14 libclang-rt-14-dev

build=build/fuzz
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
	-DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
	-DTAVIMORE_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" --target settings-fuzzer -j2

# New inputs go to a scratch folder; the committed corpus stays as it is.
scratch="$build/corpus-scratch"
findings="$build/findings"
rm -rf "$scratch"
mkdir -p "$scratch" "$findings"
tests/with-display.sh "$build/fuzz/settings-fuzzer" \
	-max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=1 \
	-artifact_prefix="$findings/" "$scratch" fuzz/corpus
echo "settings fuzzer: nothing found"
