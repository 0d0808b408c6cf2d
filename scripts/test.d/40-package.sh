#!/usr/bin/env bash
# The Debian package: built with CPack from the tests' build, its control data
# and file list checked, then unpacked with dpkg -x into a scratch root from
# which libobs loads the module and renders a zoom with its data.
#   TAVIMORE_BUILD_DIR=build/mine bash scripts/test.d/40-package.sh
cd "$(dirname "$0")/../.."
. scripts/common.sh

apt_install "${BUILD_DEPS[@]}" dpkg-dev binutils xvfb xauth libegl-mesa0 libgl1-mesa-dri

build=${TAVIMORE_BUILD_DIR:-build/test}
if [ ! -f "$build/CPackConfig.cmake" ] || [ ! -x "$build/tools/preview/tavimore-preview" ]; then
	cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build "$build" --target tavimore-free tavimore-preview -j2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

(cd "$work" && cpack -G DEB --config "$OLDPWD/$build/CPackConfig.cmake" >cpack.log 2>&1) || {
	cat "$work/cpack.log"
	echo "FAILED: cpack"
	exit 1
}
debs=("$work"/obs-tavimore-free_*.deb)
deb=${debs[0]}
check "one package, named for its version and architecture" \
	test "${#debs[@]}" -eq 1 -a -f "$deb" -a "$(basename "$deb")" = "obs-tavimore-free_1.0.0_$(dpkg --print-architecture).deb"

# ---- control data
field() { dpkg-deb -f "$deb" "$1"; }
libobs_version=$(dpkg-query -W -f='${Version}' libobs0 | sed -e 's/^[0-9]*://' -e 's/-[^-]*$//')
libobs_major=${libobs_version%%.*}
depends=$(field Depends)
echo "Depends: $depends"
check "package name" test "$(field Package)" = obs-tavimore-free
check "architecture" test "$(field Architecture)" = "$(dpkg --print-architecture)"
check "depends on the libobs0 it was built against ($libobs_version)" \
	grep -qF "libobs0 (>= $libobs_version)" <<<"$depends"
check "and not on a libobs0 of another major version" \
	grep -qF "libobs0 (<< $((libobs_major + 1)))" <<<"$depends"

# ---- contents: the module and every data file, in OBS's system layout
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
plugin=usr/lib/$multiarch/obs-plugins/tavimore-free.so
datadir=usr/share/obs/obs-plugins/tavimore-free
{
	echo "./$plugin"
	(cd data && find . -type f | sed "s|^\./|./$datadir/|")
} | sort >"$work/expected"
dpkg -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/files"
check "the package holds exactly the module and its data" diff -u "$work/expected" "$work/files"
check "no file is executable or owned by anyone but root" \
	test -z "$(dpkg -c "$deb" | awk '$1 !~ /^d/ && ($1 ~ /x/ || $2 != "root/root")')"

# ---- unpacked: the module's exports survive stripping, and libobs loads it
root="$work/root"
dpkg -x "$deb" "$root"
check "unpacked module is a shared object" test -f "$root/$plugin"
exports=$(nm -D --defined-only "$root/$plugin" | awk '{ print $3 }' | sort | tr '\n' ' ')
check "it exports the eight module entry points and nothing else" test "$exports" = \
	"obs_module_free_locale obs_module_get_string obs_module_load obs_module_post_load obs_module_set_locale obs_module_set_pointer obs_module_unload obs_module_ver "

printf '0 tap tavimore.stage_1\n0.4 end\n' >"$work/timeline"
printf '{"stage_1_zoom_factor": 3.0}\n' >"$work/settings.json"
status=0
"$build/tools/preview/tavimore-preview" --module "$root/$plugin" --data "$root/$datadir" \
	--verbose --card coords --size 64x64 --fps 10 --no-gif \
	--settings "$work/settings.json" --timeline "$work/timeline" \
	--output "$work/frames" >"$work/preview.out" 2>"$work/preview.log" || status=$?
check "the preview runs the unpacked module" test "$status" -eq 0
check "libobs logs the module's load line" \
	grep -qF '[tavimore-free] plugin loaded successfully (version 1.0.0)' "$work/preview.log"
check "and its unload line" grep -qF '[tavimore-free] plugin unloaded' "$work/preview.log"
check "the module reports no error" bash -c "! grep -F '[tavimore-free]' '$work/preview.log' | grep -qi fail"
check "the effect from the unpacked data zooms the picture" \
	bash -c "test -f '$work/frames/frame-0003.png' && ! cmp -s '$work/frames/frame-0000.png' '$work/frames/frame-0003.png'"
if [ "$status" -ne 0 ]; then
	cat "$work/preview.log"
fi

if [ "$failures" -ne 0 ]; then
	echo "package: $failures check(s) failed"
	exit 1
fi
echo "package: all checks passed"
