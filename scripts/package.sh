#!/usr/bin/env bash
# Builds the release packages into dist/, which then holds them and nothing
# else: the Debian package (OBS's system layout) and the per-user .tar.xz, of
# one module built against Debian 12's libobs 29 (cmake/packaging.cmake says
# which OBS Studios it serves). Installs what it needs.
#   bash scripts/package.sh
# Then, when it exists, scripts/package-windows.sh DIST adds the Windows
# packages to dist/.
cd "$(dirname "$0")/.."
. scripts/common.sh

# dpkg-dev: dpkg-shlibdeps names the libraries' packages
apt_install "${BUILD_DEPS[@]}" dpkg-dev binutils xz-utils

build=build/package
rm -rf dist "$build/cpack"
mkdir -p dist
for user_install in OFF ON; do
	# the per-user layout changes only where files go: the module is built once
	cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVIMORE_USER_INSTALL=$user_install \
		-DTAVIMORE_BUILD_TESTS=OFF -DTAVIMORE_BUILD_TOOLS=OFF -DTAVIMORE_BUILD_BENCHMARKS=OFF >/dev/null
	cmake --build "$build" --target tavimore-free -j2
	cpack --config "$build/CPackConfig.cmake" -B "$build/cpack" >"$build/cpack.log" 2>&1 || {
		cat "$build/cpack.log"
		exit 1
	}
done
mv "$build"/cpack/*.deb "$build"/cpack/*.tar.xz dist/
if [ -f scripts/package-windows.sh ]; then
	bash scripts/package-windows.sh dist
fi
ls -l dist
