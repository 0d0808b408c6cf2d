#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test.
cd "$(dirname "$0")/.."
. scripts/common.sh

# ffmpeg: ffprobe and ffmpeg check the preview's videos and make the face
# videos; python3-skimage: the photo of a face they are made from
apt_install "${BUILD_DEPS[@]}" git libgtest-dev googletest xvfb xauth \
	libegl-mesa0 libgl1-mesa-dri clang-format binutils ffmpeg python3-skimage
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
passed=$(ctest_passed "$ctest_log")
rm -f "$ctest_log"
echo "== build and tests: done at $SECONDS s"

# What passed, per libobs: a step that runs its tests in another libobs adds
# its own line "LIBOBS<tab>COUNT" (or "LIBOBS<tab>skipped (WHY)") to
# $TAVIMORE_TALLY; every other step counts once for Debian's libobs.
TAVIMORE_TALLY=$(mktemp)
export TAVIMORE_TALLY
debian_libobs="libobs $(pkg-config --modversion libobs | cut -d. -f1-3) (Debian)"
printf '%s\t%s\n' "$debian_libobs" "$passed" >>"$TAVIMORE_TALLY"

# Further suites (sanitizers, packaging, the host application ...), in order.
for step in scripts/test.d/*.sh; do
	[ -e "$step" ] || continue
	echo "== $(basename "$step" .sh)"
	lines=$(wc -l <"$TAVIMORE_TALLY")
	started=$SECONDS
	bash "$step"
	echo "== $(basename "$step" .sh): $((SECONDS - started)) s"
	if [ "$(wc -l <"$TAVIMORE_TALLY")" -eq "$lines" ]; then
		printf '%s\t1\n' "$debian_libobs" >>"$TAVIMORE_TALLY"
	fi
done
# every ctest test and every further suite passed (any failure stops above)
echo "== all tests passed"
awk -F'\t' '{ if (!($1 in n)) order[++k] = $1; n[$1] += $2 + 0; if ($2 !~ /^[0-9]+$/) note[$1] = $2 }
	END { for (i = 1; i <= k; i++) print order[i] ": " (order[i] in note ? note[order[i]] : n[order[i]] " passed, 0 failed") }' "$TAVIMORE_TALLY"
passed=$(awk -F'\t' '{ n += $2 + 0 } END { print n }' "$TAVIMORE_TALLY")
rm -f "$TAVIMORE_TALLY"
echo "$passed passed, 0 failed in $SECONDS s"
