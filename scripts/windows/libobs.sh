#!/usr/bin/env bash
# OBS's own Windows libobs (31.1.1, an MSVC build) from the npm package noobs:
# obs.dll with libobs-opengl, libobs-d3d11, OBS's image source and filters,
# the core effects, and obs.lib to link against. Used only as the test host
# of the Windows build and for its import library. Fetched once into DIR
# (default build/windows/noobs) and checked against the integrity npm
# published for that version; prints DIR/package.
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build/windows/noobs}
version=0.0.184
integrity=sha512-PGbG2LPtj9EP3SJDziTvHj4VLjkhgOdtJHF4ovwHnE0v7BWeznvMpZ4RSBxmmeMNu0B3cXUvwZlLkSExhoma7g==
if [ ! -f "$dir/package/.checked-$version" ]; then
	rm -rf "$dir"
	mkdir -p "$dir"
	(cd "$dir" && npm pack --silent "noobs@$version" >/dev/null)
	got="sha512-$(openssl dgst -sha512 -binary "$dir/noobs-$version.tgz" | base64 -w0)"
	if [ "$got" != "$integrity" ]; then
		echo "noobs-$version.tgz: integrity $got, expected $integrity" >&2
		exit 1
	fi
	tar -xzf "$dir/noobs-$version.tgz" -C "$dir"
	rm "$dir/noobs-$version.tgz"
	touch "$dir/package/.checked-$version"
fi
dist=$(cd "$dir/package/dist" && pwd)
obs=$dir/obs
if [ ! -e "$obs/bin/64bit/obs.dll" ]; then
	rm -rf "$obs"
	mkdir -p "$obs/bin/64bit" "$obs/obs-plugins/64bit" "$obs/data/obs-plugins"
	ln -s "$dist"/bin/* "$obs/bin/64bit/"
	ln -s "$dist/data/effects" "$obs/data/libobs"
	ln -s "$dist"/obs-plugins/*.dll "$obs/obs-plugins/64bit/"
	ln -s "$dist"/data/obs-plugins/* "$obs/data/obs-plugins/"
fi
cd "$obs" && pwd
