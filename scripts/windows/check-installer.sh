#!/usr/bin/env bash
# The Windows installer, run silently (/S) under Wine against a prepared OBS
# Studio folder: it must install every file of the zip where the zip has it,
# into the folder that OBS's own uninstall entry names (else into Program
# Files' obs-studio), register its uninstaller, and that uninstaller must
# remove every file it installed and nothing of OBS's.
#   check-installer.sh ZIP SETUP
# Uses the tests' Wine prefix (build/windows/wine, or WINEPREFIX).
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/common.sh
zip=$1
setup=$2
export WINEPREFIX=${WINEPREFIX:-$PWD/build/windows/wine}
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
	wineboot --init >/dev/null 2>&1
	wineserver -w
fi
drive=$WINEPREFIX/drive_c
obs_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\OBS Studio'
own_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\tavimore-free'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work/zip"
(cd "$work/zip" && find . -type f | LC_ALL=C sort) >"$work/zip.list"

run() { # run WINDOWS-PROGRAM ARGS... : and wait for every process it started
	wine "$@" >/dev/null 2>&1 || true
	wineserver -w
}

# An OBS folder with OBS's own files and another plug-in, which must stay.
prepare() { # prepare FOLDER
	rm -rf "$1"
	mkdir -p "$1/bin/64bit" "$1/obs-plugins/64bit" "$1/data/obs-plugins/other"
	echo obs >"$1/bin/64bit/obs64.exe"
	echo other >"$1/obs-plugins/64bit/other.dll"
	echo other >"$1/data/obs-plugins/other/other.ini"
}

# Every file of the zip, the same, in FOLDER; no other new file but the
# uninstaller.
installed_as_zip() { # installed_as_zip FOLDER
	local f
	(cd "$1" && find obs-plugins/64bit/tavimore-free.dll data/obs-plugins/tavimore-free -type f \
		! -name uninstall.exe 2>/dev/null | sed 's|^|./|' | LC_ALL=C sort) >"$work/installed.list"
	diff "$work/zip.list" "$work/installed.list" || return 1
	while read -r f; do
		cmp -s "$work/zip/$f" "$1/$f" || { echo "differs: $f"; return 1; }
	done <"$work/zip.list"
	[ -f "$1/data/obs-plugins/tavimore-free/uninstall.exe" ]
}

# Nothing of the plug-in left; OBS's own files and the other plug-in kept.
uninstalled() { # uninstalled FOLDER
	[ ! -e "$1/obs-plugins/64bit/tavimore-free.dll" ] &&
		[ ! -e "$1/data/obs-plugins/tavimore-free" ] &&
		[ -f "$1/bin/64bit/obs64.exe" ] && [ -f "$1/obs-plugins/64bit/other.dll" ] &&
		[ -f "$1/data/obs-plugins/other/other.ini" ] &&
		! wine reg query "$own_key" >/dev/null 2>&1
}

registered() { # registered WINDOWS-FOLDER
	wine reg query "$own_key" /v UninstallString 2>/dev/null | tr -d '\r' |
		grep -qF "$1\\data\\obs-plugins\\tavimore-free\\uninstall.exe"
}

echo "-- OBS in a folder of its own, named by its uninstall entry"
folder="$drive/Apps/OBS Studio"
prepare "$folder"
rm -rf "$drive/Program Files/obs-studio"
wine reg add "$obs_key" /v UninstallString /t REG_SZ /d '"C:\Apps\OBS Studio\uninstall.exe"' /f >/dev/null 2>&1
wineserver -w
run "$setup" /S
check "the installer puts every file of the zip into OBS's folder" installed_as_zip "$folder"
check "nothing goes to the default folder" test ! -e "$drive/Program Files/obs-studio/obs-plugins"
check "the uninstaller is registered" registered 'C:\Apps\OBS Studio'
run "$folder/data/obs-plugins/tavimore-free/uninstall.exe" /S
check "the uninstaller removes every file it installed, and only those" uninstalled "$folder"

echo "-- no uninstall entry of OBS: Program Files' obs-studio"
wine reg delete "$obs_key" /f >/dev/null 2>&1 || true
wineserver -w
folder="$drive/Program Files/obs-studio"
prepare "$folder"
run "$setup" /S
check "the installer puts every file of the zip into the default folder" installed_as_zip "$folder"
check "the uninstaller is registered" registered 'C:\Program Files\obs-studio'
run "$folder/data/obs-plugins/tavimore-free/uninstall.exe" /S
check "the uninstaller removes every file it installed, and only those" uninstalled "$folder"

if [ "$failures" -ne 0 ]; then
	echo "installer: $failures check(s) failed"
	exit 1
fi
echo "installer: all checks passed"
