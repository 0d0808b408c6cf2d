#!/usr/bin/env bash
# The release packages: scripts/package.sh makes them in dist/; there must be
# exactly one Debian package and one per-user .tar.xz (beside what
# scripts/package-windows.sh adds, when it exists), of one and the same module.
# Their control data and file lists are checked, and each is unpacked into a
# scratch root from which libobs loads the module and renders a zoom with its
# data (scripts/package-checks.sh has the checks). The Debian package's
# install by apt in Debian 12, 13 and sid is the OBS Studio step's.
cd "$(dirname "$0")/../.."
. scripts/common.sh
. scripts/package-checks.sh

apt_install "${BUILD_DEPS[@]}" dpkg-dev binutils python3 xz-utils xvfb xauth libegl-mesa0 libgl1-mesa-dri
bash scripts/package.sh

# the preview tool of the tests' build (Debian's libobs) loads the modules
build=${TAVIMORE_BUILD_DIR:-build/test}
if [ ! -x "$build/tools/preview/tavimore-preview" ]; then
	cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build "$build" --target tavimore-preview -j2
fi

debs=(dist/*.deb)
tarballs=(dist/*.tar.xz)
arch=$(dpkg --print-architecture)
check "dist/ holds one Debian package, named for its version and architecture" \
	test "${debs[*]}" = "dist/obs-tavimore-free_1.0.0_$arch.deb"
check "and one per-user archive, named for its version and processor" \
	test "${tarballs[*]}" = "dist/tavimore-free-1.0.0-linux-$(uname -m).tar.xz"
# and, when the Windows packages are made, their zip and installer
others=()
[ -f scripts/package-windows.sh ] && others=(dist/*-windows-x64.zip dist/*-windows-x64-setup.exe)
check "and nothing else" test "$(find dist -mindepth 1 | wc -l)" -eq $((2 + ${#others[@]}))
version=$(dpkg-query -W -f='${Version}' libobs0 | sed -e 's/^[0-9]*://' -e 's/-[^-]*$//')
check_deb "${debs[0]}" "$build" libobs.so.0 "$(pkg-config --modversion libobs | cut -d. -f1-3)" \
	"libobs0 (>= $version) | libobs0t64 (>= $version) | obs-studio (>= 30)"
check "and on no other libobs" test "$(dpkg-deb -f "${debs[0]}" Depends | grep -o 'libobs[^ ,]*' | sort -u | paste -sd' ')" = "libobs0 libobs0t64"
check_tarball "${tarballs[0]}" "$build" libobs.so.0 "$(pkg-config --modversion libobs | cut -d. -f1-3)"
check "the archive's module is the package's" bash -c "cmp <(dpkg-deb --fsys-tarfile '${debs[0]}' |
	tar -xO --wildcards '*/obs-plugins/tavimore-free.so') <(tar -xJOf '${tarballs[0]}' tavimore-free/bin/64bit/tavimore-free.so)"

if [ "$failures" -ne 0 ]; then
	echo "package: $failures check(s) failed"
	exit 1
fi
echo "package: all checks passed"
