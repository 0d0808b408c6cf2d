#!/usr/bin/env bash
# Installs the plug-in into OBS's system layout and into the per-user plug-in
# folder (both under temporary roots), and has libobs load each installed copy.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${TAVIMORE_TEST_BUILD:-build/test}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
multiarch=$(gcc -print-multiarch)

check_installed() {
	local module=$1 data=$2
	for f in "$module" "$data/zoom-crop.effect" "$data/locale/en-US.ini"; do
		[ -f "$f" ] || { echo "missing after install: $f"; exit 1; }
	done
	# the module tests, against the installed copy
	TAVIMORE_TEST_MODULE="$module" TAVIMORE_TEST_DATA="$data" \
		tests/with-display.sh "$build/tests/module-tests" --gtest_brief=1
}

echo "-- system layout"
cmake --install "$build" --prefix "$work/system" >/dev/null
check_installed "$work/system/lib/$multiarch/obs-plugins/tavimore-free.so" \
	"$work/system/share/obs/obs-plugins/tavimore-free"

echo "-- per-user layout"
# the per-user folder is found from HOME (or XDG_CONFIG_HOME) when configuring
HOME="$work/home" XDG_CONFIG_HOME= cmake -S . -B "$work/user-build" \
	-DTAVIMORE_USER_INSTALL=ON -DTAVIMORE_BUILD_TESTS=OFF -DTAVIMORE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$work/user-build" -j2 >/dev/null
cmake --install "$work/user-build" >/dev/null
plugin="$work/home/.config/obs-studio/plugins/tavimore-free"
check_installed "$plugin/bin/64bit/tavimore-free.so" "$plugin/data"
echo "install: both layouts load"
