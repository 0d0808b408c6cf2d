#!/usr/bin/env bash
# The module for current OBS (libobs.so.30): libobs and libobs-opengl built
# from OBS Studio's source by scripts/build-libobs.sh (kept under build/libobs
# for the next run of the same source), then, against that libobs,
#  - the module, tests, benchmarks and preview tool built in build/libobs-VERSION;
#  - the whole ctest suite but the tests labelled obs-plugins (they need OBS's
#    own plug-ins, which that source does not build; they run in Debian's
#    libobs above), and the benchmarks' smoke run;
#  - that module loaded in Debian's libobs 29, which refuses its filter: the
#    load fails with one error line naming both libobs versions;
#  - the Debian package and the per-user .tar.xz made and checked: NEEDED
#    libobs.so.30, obs_module_ver = that libobs's version, the entry points of
#    cmake/exports.map, the data files, the licence, loading in that libobs.
# The source: TAVIMORE_LIBOBS_SOURCE (a tarball or an unpacked OBS Studio
# tree), else ../shared/host/obs-studio-32.2.2-libobs.tar.xz. Without either
# the step says it is skipped and why.
cd "$(dirname "$0")/../.."
. scripts/common.sh
. scripts/package-checks.sh

status=0
prefix=$(bash scripts/build-libobs.sh) || status=$?
if [ "$status" -eq 2 ]; then
	if [ -n "${TAVIMORE_LIBOBS_SOURCE:-}" ]; then
		reason="TAVIMORE_LIBOBS_SOURCE=$TAVIMORE_LIBOBS_SOURCE does not exist"
	else
		reason="no OBS Studio source: ../shared/host/obs-studio-32.2.2-libobs.tar.xz is missing and TAVIMORE_LIBOBS_SOURCE is not set"
	fi
	echo "skipped: $reason"
	[ -n "${TAVIMORE_TALLY:-}" ] && printf 'libobs from OBS source\tskipped (%s)\n' "$reason" >>"$TAVIMORE_TALLY"
	exit 0
fi
[ "$status" -eq 0 ] || exit "$status"
version=$(cat "$prefix/.built")
echo "libobs $version in $prefix"

apt_install "${BUILD_DEPS[@]}" libgtest-dev googletest libbenchmark-dev xvfb xauth \
	libegl-mesa0 libgl1-mesa-dri dpkg-dev binutils python3 xz-utils
# libobs's dlopen of libobs-opengl must find this build's, not Debian's
export LD_LIBRARY_PATH=$prefix/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
build=build/libobs-$version
label="libobs $version (from OBS source)"
passed=0

echo "-- build against libobs $version"
cmake -S . -B "$build/test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$build/test" -j2

left_out=$(cd "$build/test" && ctest -N -L obs-plugins | sed -n 's/^ *Test *#[0-9]*: //p' | paste -sd' ')
echo "-- ctest in libobs $version, without the tests that need OBS's plug-ins: ${left_out:-none}"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
(cd "$build/test" && ctest --output-on-failure -LE obs-plugins) | tee "$log"
ran=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log")
passed=$((passed + ran))

echo "-- the build for libobs $version in Debian's older libobs: it refuses the filter, the load fails"
# Debian's libobs under the name this build needs, as OBS 30.2 and later
# install libobs.so.0 for modules built before them; the test host of the
# Debian build loads it (module-tests, NewerLibobs)
legacy=$(mktemp -d)
ln -s "$(pkg-config --variable=libdir libobs)/libobs.so.0" "$legacy/libobs.so.30"
[ -f build/test/CMakeCache.txt ] || cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test -j2 --target module-tests >/dev/null
LD_LIBRARY_PATH=$legacy TAVIMORE_NEWER_MODULE=$PWD/$build/test/tavimore-free.so \
	tests/with-display.sh build/test/tests/module-tests --gtest_filter='NewerLibobs.*' | tee "$log"
rm -rf "$legacy"
grep -q '^\[  PASSED  \] 1 test' "$log" || {
	echo "FAILED: the refused load was not tested"
	exit 1
}
passed=$((passed + 1))

echo "-- benchmarks' smoke run in libobs $version"
TAVIMORE_TEST_BUILD=$build/test TAVIMORE_NO_OBS_PLUGINS=1 bash scripts/test.d/60-benchmarks-smoke.sh
passed=$((passed + 1))

echo "-- packages for libobs $version"
work=$(mktemp -d)
trap 'rm -rf "$work" "$log"' EXIT
cmake -S . -B "$build/user" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_PREFIX_PATH="$prefix" \
	-DTAVIMORE_USER_INSTALL=ON -DTAVIMORE_BUILD_TESTS=OFF -DTAVIMORE_BUILD_TOOLS=OFF \
	-DTAVIMORE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build/user" -j2 >/dev/null
for config in "$build/test" "$build/user"; do
	(cd "$work" && cpack --config "$OLDPWD/$config/CPackConfig.cmake" >>cpack.log 2>&1) || {
		cat "$work/cpack.log"
		echo "FAILED: cpack for $config"
		exit 1
	}
done
flavour=obs${version%.*}
deb=$work/obs-tavimore-free_1.0.0+${flavour}_$(dpkg --print-architecture).deb
tarball=$work/tavimore-free-1.0.0-$flavour-linux-$(uname -m).tar.xz
check "the Debian package is named for OBS ${version%.*} and later" test -f "$deb"
check "the per-user archive is named for OBS ${version%.*} and later" test -f "$tarball"
if [ -f "$deb" ]; then
	check_deb "$deb" "$build/test" libobs.so.30 "$version" "obs-studio (>= ${version%.*})"
	check "and not on Debian's libobs0" bash -c "! dpkg-deb -f '$deb' Depends | grep -q libobs0"
fi
[ -f "$tarball" ] && check_tarball "$tarball" "$build/test" libobs.so.30 "$version"
if [ "$failures" -ne 0 ]; then
	echo "packages for libobs $version: $failures check(s) failed"
	exit 1
fi
passed=$((passed + 2))

[ -n "${TAVIMORE_TALLY:-}" ] && printf '%s\t%s\n' "$label" "$passed" >>"$TAVIMORE_TALLY"
echo "libobs $version: $passed passed"
