#!/usr/bin/env bash
# Run inside the Debian 13 root (trixie.sh run) with Direct3D 11: the suites
# that start a renderer, then the DLL from the zip loaded from OBS's folder.
#   d3d11-suites.sh BUILD LOG OBS_FOLDER STARTED (seconds since the epoch)
set -e
build=$1 log=$2 folder=$3 started=$4
scripts/windows/wine-run.sh
(cd "$build" && ctest --output-on-failure --timeout 300 -j2 -L render) | tee "$log"
[ "${PIPESTATUS[0]}" -eq 0 ]
echo "-- the DLL from the zip, loaded from OBS's folder, on Direct3D 11 (at $(($(date +%s) - started)) s)"
TAVIMORE_WINDOWS_HOST=$folder scripts/windows/wine-run.sh "$PWD/$build/tests/obs-folder-tests.exe" --gtest_brief=1
