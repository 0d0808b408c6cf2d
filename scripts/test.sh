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
ctest_log=$(mktemp)
trap 'rm -f "$ctest_log"' EXIT
(cd build/test && ctest --output-on-failure) | tee "$ctest_log"
passed=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$ctest_log")
rm -f "$ctest_log"

# Further suites (sanitizers, packaging, the host application ...), in order.
for step in scripts/test.d/*.sh; do
	[ -e "$step" ] || continue
	echo "== $(basename "$step" .sh)"
	bash "$step"
	passed=$((passed + 1))
done
# every ctest test and every further suite passed (any failure stops above)
echo "== all tests passed"
echo "$passed passed, 0 failed"
