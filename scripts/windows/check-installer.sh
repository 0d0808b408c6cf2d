#!/usr/bin/env bash
# The Windows installer, run silently (/S) under Wine against a prepared OBS
# Studio folder. For an OBS whose version it cannot tell, it must install
# every file of the zip where the zip has it, into the folder that OBS's own
# uninstall entry names (else into Program Files' obs-studio); for OBS 29.0.2
# and later (the version of OBS's obs64.exe, else of its uninstall entry),
# into OBS's plug-in folder under %ProgramData% (bin\64bit and data), but
# for a portable OBS into its own folder; a copy in the other place goes.
# It registers its uninstaller, and that uninstaller must remove every file
# it installed and nothing of OBS's nor of another plug-in.
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

no_copy_in() { # no_copy_in FOLDER: nothing of the plug-in, OBS's files kept
	[ ! -e "$1/obs-plugins/64bit/tavimore-free.dll" ] &&
		[ ! -e "$1/data/obs-plugins/tavimore-free" ] &&
		[ -f "$1/bin/64bit/obs64.exe" ] && [ -f "$1/obs-plugins/64bit/other.dll" ]
}

registered() { # registered WINDOWS-FOLDER [DATA-FOLDER]
	wine reg query "$own_key" /v UninstallString 2>/dev/null | tr -d '\r' |
		grep -qF "$1\\${2:-data\\obs-plugins\\tavimore-free}\\uninstall.exe"
}

# %ProgramData%'s plug-in folders, with another plug-in, which must stay
shared=$drive/ProgramData/obs-studio/plugins
prepare_shared() {
	rm -rf "$shared"
	mkdir -p "$shared/other/bin/64bit"
	echo other >"$shared/other/bin/64bit/other.dll"
}

# Every file of the zip, the same, in OBS's plug-in folder under
# %ProgramData%: the DLL in bin\64bit, the data folder's files in data
installed_shared() {
	local from to
	: >"$work/differs"
	while read -r from; do
		to=$(sed -e 's|^\./obs-plugins/64bit/|bin/64bit/|' -e 's|^\./data/obs-plugins/tavimore-free/|data/|' <<<"$from")
		echo "./$to"
		cmp -s "$work/zip/$from" "$shared/tavimore-free/$to" || echo "differs: $from" >>"$work/differs"
	done <"$work/zip.list" | LC_ALL=C sort >"$work/shared.list"
	(cd "$shared/tavimore-free" && find . -type f ! -name uninstall.exe | LC_ALL=C sort) >"$work/installed.list"
	diff "$work/shared.list" "$work/installed.list" && ! grep . "$work/differs" &&
		[ -f "$shared/tavimore-free/data/uninstall.exe" ]
}

echo "-- OBS in a folder of its own, named by its uninstall entry"
folder="$drive/Apps/OBS Studio"
prepare "$folder"
rm -rf "$drive/Program Files/obs-studio"
# an entry without a version, as a half-removed OBS may leave
wine reg delete "$obs_key" /f >/dev/null 2>&1 || true
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

# OBS with a version: what its folder and entry say, where an earlier copy
# lies, and where the module must go (OBS's folder, or %ProgramData%)
shared_gone() { [ ! -e "$shared/tavimore-free" ] && [ -f "$shared/other/bin/64bit/other.dll" ]; }
printf '1 VERSIONINFO\nFILEVERSION 30,2,3,0\nBEGIN\nEND\n' >"$work/version.rc"
echo 'int main(void) { return 0; }' >"$work/obs64.c"
folder="$drive/Apps/OBS Studio"
# entry's version | obs64.exe's version | portable | earlier copy | goes to
while read -r version exe portable copy expected; do
	echo "-- OBS $version (obs64.exe: $exe, portable: $portable), a copy in $copy: $expected"
	prepare "$folder"
	prepare_shared
	[ "$portable" = no ] || echo >"$folder/portable_mode.txt"
	if [ "$exe" != none ]; then
		x86_64-w64-mingw32-windres "$work/version.rc" -O coff -o "$work/version.o"
		x86_64-w64-mingw32-gcc "$work/obs64.c" "$work/version.o" -o "$folder/bin/64bit/obs64.exe"
	fi
	case $copy in
	obs) unzip -qo "$zip" -d "$folder" ;;
	shared) mkdir -p "$shared/tavimore-free/bin/64bit" && cp "$work/zip/obs-plugins/64bit/tavimore-free.dll" "$_" ;;
	esac
	wine reg add "$obs_key" /v UninstallString /t REG_SZ /d '"C:\Apps\OBS Studio\uninstall.exe"' /f >/dev/null 2>&1
	wine reg add "$obs_key" /v DisplayVersion /t REG_SZ /d "$version" /f >/dev/null 2>&1
	wineserver -w
	run "$setup" /S
	if [ "$expected" = shared ]; then
		check "every file of the zip in OBS's plug-in folder under %ProgramData%" installed_shared
		check "nothing of it in OBS's folder, OBS's own files kept" no_copy_in "$folder"
		check "the uninstaller is registered" registered 'C:\ProgramData\obs-studio\plugins\tavimore-free' data
		run "$shared/tavimore-free/data/uninstall.exe" /S
		check "the uninstaller removes the plug-in's folder, the other plug-in stays" shared_gone
	else
		check "every file of the zip in OBS's folder" installed_as_zip "$folder"
		check "nothing of it under %ProgramData%, the other plug-in stays" shared_gone
		check "the uninstaller is registered" registered 'C:\Apps\OBS Studio'
		run "$folder/data/obs-plugins/tavimore-free/uninstall.exe" /S
		check "the uninstaller removes every file it installed, and only those" uninstalled "$folder"
	fi
done <<'EOF'
30.2.3 none no obs shared
29.0.2 none no none shared
29.0.1 none no shared obs
30.2.3 none yes shared obs
29.0.1 30.2.3 no obs shared
EOF
wine reg delete "$obs_key" /f >/dev/null 2>&1 || true
wineserver -w

if [ "$failures" -ne 0 ]; then
	echo "installer: $failures check(s) failed"
	exit 1
fi
echo "installer: all checks passed"
