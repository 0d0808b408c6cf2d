#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test.
cd "$(dirname "$0")/.."
. scripts/common.sh

apt_install "${BUILD_DEPS[@]}" git libgtest-dev googletest xvfb xauth \
	libegl-mesa0 libgl1-mesa-dri clang-format binutils
# the benchmarks: Google Benchmark, and OBS's own filters to compare with
apt_install libbenchmark-dev obs-studio

echo "== formatting"
git ls-files -- '*.cpp' '*.hpp' '*.h' '*.c' | xargs clang-format --dry-run -Werror

echo "== build and tests"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/test -j2
(cd build/test && ctest --output-on-failure)

# Further suites (sanitizers, packaging, the host application ...), in order.
for step in scripts/test.d/*.sh; do
	[ -e "$step" ] || continue
	echo "== $(basename "$step" .sh)"
	bash "$step"
done
echo "== all tests passed"
