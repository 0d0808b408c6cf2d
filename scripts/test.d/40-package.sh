#!/usr/bin/env bash
# The Debian package for Debian's OBS: built with CPack from the tests' build,
# its control data and file list checked, then unpacked with dpkg -x into a
# scratch root from which libobs loads the module and renders a zoom with its
# data (scripts/package-checks.sh has the checks).
#   TAVIMORE_BUILD_DIR=build/mine bash scripts/test.d/40-package.sh
cd "$(dirname "$0")/../.."
. scripts/common.sh
. scripts/package-checks.sh

apt_install "${BUILD_DEPS[@]}" dpkg-dev binutils python3 xvfb xauth libegl-mesa0 libgl1-mesa-dri

build=${TAVIMORE_BUILD_DIR:-build/test}
if [ ! -f "$build/CPackConfig.cmake" ] || [ ! -x "$build/tools/preview/tavimore-preview" ]; then
	cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build "$build" --target tavimore-free tavimore-preview -j2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack -G DEB --config "$OLDPWD/$build/CPackConfig.cmake" >cpack.log 2>&1) || {
	cat "$work/cpack.log"
	echo "FAILED: cpack"
	exit 1
}
debs=("$work"/obs-tavimore-free_*.deb)
deb=${debs[0]}
libobs_version=$(dpkg-query -W -f='${Version}' libobs0 | sed -e 's/^[0-9]*://' -e 's/-[^-]*$//')
libobs_major=${libobs_version%%.*}
check "one package, named for its version, its OBS ($libobs_major) and its architecture" \
	test "${#debs[@]}" -eq 1 -a "$(basename "$deb")" = "obs-tavimore-free_1.0.0+obs${libobs_major}_$(dpkg --print-architecture).deb"
check_deb "$deb" "$build" libobs.so.0 "$(pkg-config --modversion libobs | cut -d. -f1-3)" \
	"libobs0 (>= $libobs_version)" "libobs0 (<< $((libobs_major + 1)))"

if [ "$failures" -ne 0 ]; then
	echo "package: $failures check(s) failed"
	exit 1
fi
echo "package: all checks passed"
