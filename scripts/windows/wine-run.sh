#!/usr/bin/env bash
# Runs a Windows program of the build through Wine, with OBS's Windows libobs
# (obs.dll and the DLLs beside it) on its DLL path: ctest's emulator for the
# Windows build. The environment:
#   TAVIMORE_WINDOWS_HOST  OBS's folder (scripts/windows/libobs.sh); default
#                          build/windows/noobs/obs. The program runs in its
#                          bin/64bit, where libobs finds its effects and
#                          OBS's plug-in folders.
#   WINEPREFIX             the Wine prefix, made on first use; default
#                          build/windows/wine (/root/wine inside the Debian 13
#                          root)
#   TAVIMORE_WINE_ROOT     run Wine inside this root (scripts/windows/trixie.sh)
# It needs an X display (DISPLAY), as libobs's renderers do. Without a
# program it only makes the prefix.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
host=${TAVIMORE_WINDOWS_HOST:-$repo/build/windows/noobs/obs}
root=${TAVIMORE_WINE_ROOT:-}
if [ -n "$root" ]; then
	export WINEPREFIX=${WINEPREFIX:-/root/wine}
else
	export WINEPREFIX=${WINEPREFIX:-$repo/build/windows/wine}
fi
# obs.dll's folder, as a path Wine understands (Z: is the Unix root)
export WINEPATH="Z:${host//\//\\}\\bin\\64bit"
cd "$host/bin/64bit"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
run() {
	if [ -z "$root" ]; then
		"$@"
		return
	fi
	local vars=(HOME=/root XAUTHORITY=/root/.Xauthority WINEPREFIX="$WINEPREFIX" WINEPATH="$WINEPATH"
		WINEDEBUG="$WINEDEBUG" WINEDLLOVERRIDES="$WINEDLLOVERRIDES") name
	for name in DISPLAY TAVIMORE_TEST_GRAPHICS TAVIMORE_TEST_MODULE TAVIMORE_TEST_DATA \
		TAVIMORE_TEST_VERBOSE GTEST_FILTER GTEST_BRIEF; do
		[ -n "${!name+x}" ] && vars+=("$name=${!name}")
	done
	chroot "$root" /usr/bin/env -C "$PWD" "${vars[@]}" "$@"
}
if [ ! -f "$root$WINEPREFIX/system.reg" ]; then
	mkdir -p "$root$WINEPREFIX"
	run wineboot --init >/dev/null 2>&1
	# Windows 10, as OBS 31 requires: OBS's display capture then offers
	# monitors by id, as on any current Windows
	run wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f >/dev/null 2>&1
	run wineserver -w
fi
# with no program: only the prefix, made ready before tests run side by side
[ "$#" -eq 0 ] || run wine "$@"
