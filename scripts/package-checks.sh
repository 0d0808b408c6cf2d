# shellcheck shell=bash
# Checks of a built package, shared by the scripts in scripts/test.d. Source
# it after scripts/common.sh (check, failures) from the project's root; the
# libobs that a module is loaded in is the one the dynamic loader finds
# (LD_LIBRARY_PATH for a libobs outside the system's folders).

# The module's entry points: the names cmake/exports.map makes global.
expected_exports() {
	sed -n '/global:/,/local:/p' cmake/exports.map |
		sed -n 's/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\);.*/\1/p' | sort
}

# The libobs version a module says it was built against, as MAJOR.MINOR.PATCH.
module_ver() {
	python3 -c 'import ctypes, sys
v = ctypes.CDLL(sys.argv[1]).obs_module_ver() & 0xFFFFFFFF
print("%d.%d.%d" % (v >> 24, (v >> 16) & 0xFF, v & 0xFFFF))' "$1"
}

# check_module MODULE SONAME VERSION SCRATCH: the libobs it needs, the entry
# points it exports, the libobs version it reports
check_module() {
	local module=$1 soname=$2 version=$3 scratch=$4 needed
	needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(libobs[^]]*\)\].*/\1/p' | paste -sd' ')
	check "the module needs $soname (needs: $needed)" test "$needed" = "$soname"
	expected_exports >"$scratch/exports.expected"
	nm -D --defined-only "$module" | awk '{ print $3 }' | sort >"$scratch/exports"
	check "it exports the $(wc -l <"$scratch/exports.expected") entry points of cmake/exports.map and nothing else" \
		diff -u "$scratch/exports.expected" "$scratch/exports"
	check "obs_module_ver reports $version" test "$(module_ver "$module")" = "$version"
}

# check_loads BUILD MODULE DATA SCRATCH: the preview tool of BUILD (built
# against the same libobs) loads the module and renders a zoom with its data
check_loads() {
	local build=$1 module=$2 data=$3 scratch=$4 status=0
	printf '0 tap tavimore.stage_1\n0.4 end\n' >"$scratch/timeline"
	printf '{"stage_1_zoom_factor": 3.0}\n' >"$scratch/settings.json"
	"$build/tools/preview/tavimore-preview" --module "$module" --data "$data" \
		--verbose --card coords --size 64x64 --fps 10 --no-gif \
		--settings "$scratch/settings.json" --timeline "$scratch/timeline" \
		--output "$scratch/frames" >"$scratch/preview.out" 2>"$scratch/preview.log" || status=$?
	check "the preview tool runs the unpacked module" test "$status" -eq 0
	check "libobs logs the module's load line" \
		grep -qF '[tavimore-free] plugin loaded successfully (version 1.0.0)' "$scratch/preview.log"
	check "and its unload line" grep -qF '[tavimore-free] plugin unloaded' "$scratch/preview.log"
	check "the module reports no error" bash -c "! grep -F '[tavimore-free]' '$scratch/preview.log' | grep -qi fail"
	check "the effect from the unpacked data zooms the picture" \
		bash -c "test -f '$scratch/frames/frame-0003.png' && ! cmp -s '$scratch/frames/frame-0000.png' '$scratch/frames/frame-0003.png'"
	if [ "$status" -ne 0 ]; then
		cat "$scratch/preview.log"
	fi
}

# check_manifest FILE: the manifest OBS 32's plug-in manager reads, with the
# project's version
check_manifest() {
	local version
	version=$(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt | head -1)
	check "manifest.json names Tavimore Zoom $version" python3 -c 'import json, sys
m = json.load(open(sys.argv[1]))
assert m["display_name"] == "Tavimore Zoom" and m["id"] == "tavimore-free", m
assert m["version"] == sys.argv[2], m["version"]
assert m["has_banner"] is False and m["has_icon"] is False
assert set(m["urls"]) == {"repository", "website", "support"}' "$1" "$version"
}

# check_license FILE: the licence text in full, at the end of FILE
check_license() {
	check "$(basename "$1") ends with the full text of LICENSE" \
		bash -c "tail -c $(stat -c %s LICENSE) '$1' | cmp -s - LICENSE"
}

# check_deb DEB BUILD SONAME VERSION DEPENDS...: a Debian package of the
# system layout, built from BUILD; each DEPENDS is a part of its Depends field
check_deb() {
	local deb=$1 build=$2 soname=$3 version=$4
	shift 4
	local scratch depends item multiarch plugin datadir doc root
	scratch=$(mktemp -d)
	echo "-- $(basename "$deb")"
	depends=$(dpkg-deb -f "$deb" Depends)
	echo "Depends: $depends"
	check "package name" test "$(dpkg-deb -f "$deb" Package)" = obs-tavimore-free
	check "architecture" test "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)"
	for item in "$@"; do
		check "depends on $item" grep -qF -- "$item" <<<"$depends"
	done

	# contents: the module, every data file and the copyright file
	multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
	plugin=usr/lib/$multiarch/obs-plugins/tavimore-free.so
	datadir=usr/share/obs/obs-plugins/tavimore-free
	doc=usr/share/doc/obs-tavimore-free/copyright
	{
		echo "./$plugin"
		echo "./$doc"
		(cd data && find . -type f | sed "s|^\./|./$datadir/|")
		echo "./$datadir/manifest.json"
	} | sort >"$scratch/expected"
	dpkg -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$scratch/files"
	check "the package holds exactly the module, its data and the copyright file" \
		diff -u "$scratch/expected" "$scratch/files"
	check "no file is executable or owned by anyone but root" \
		test -z "$(dpkg -c "$deb" | awk '$1 !~ /^d/ && ($1 ~ /x/ || $2 != "root/root")')"

	root=$scratch/root
	dpkg -x "$deb" "$root"
	check "the data files are the project's" diff -r -x manifest.json data "$root/$datadir"
	check_manifest "$root/$datadir/manifest.json"
	check "the copyright file names GPL-2.0-or-later" \
		grep -qF 'either version 2 of the License, or (at your option) any later' "$root/$doc"
	check_license "$root/$doc"
	check_module "$root/$plugin" "$soname" "$version" "$scratch"
	check_loads "$build" "$root/$plugin" "$root/$datadir" "$scratch"
	rm -rf "$scratch"
}

# check_tarball TARBALL BUILD SONAME VERSION: the per-user layout, built from
# a build whose preview tool BUILD uses the same libobs
check_tarball() {
	local tarball=$1 build=$2 soname=$3 version=$4 scratch top=tavimore-free
	scratch=$(mktemp -d)
	echo "-- $(basename "$tarball")"
	{
		echo "$top/bin/64bit/tavimore-free.so"
		echo "$top/LICENSE"
		(cd data && find . -type f | sed "s|^\./|$top/data/|")
		echo "$top/data/manifest.json"
	} | sort >"$scratch/expected"
	tar -tvJf "$tarball" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort >"$scratch/files"
	check "the archive holds exactly $top/bin/64bit, $top/data and $top/LICENSE" \
		diff -u "$scratch/expected" "$scratch/files"
	mkdir "$scratch/root"
	tar -xJf "$tarball" -C "$scratch/root"
	check "the data files are the project's" diff -r -x manifest.json data "$scratch/root/$top/data"
	check_manifest "$scratch/root/$top/data/manifest.json"
	check "LICENSE is the project's" cmp -s LICENSE "$scratch/root/$top/LICENSE"
	check_module "$scratch/root/$top/bin/64bit/tavimore-free.so" "$soname" "$version" "$scratch"
	check_loads "$build" "$scratch/root/$top/bin/64bit/tavimore-free.so" "$scratch/root/$top/data" "$scratch"
	rm -rf "$scratch"
}
