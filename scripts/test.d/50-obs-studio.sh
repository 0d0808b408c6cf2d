#!/usr/bin/env bash
# OBS Studio itself, end to end: the plug-in installed for one user (a private
# HOME), a scene collection whose input carries the filter, OBS started under
# Xvfb and closed with SIGINT. Its log must show the module loaded, the
# filter instance and, after the clean exit, the module unloaded, with no
# error line of the module; the collection OBS saves on exit must hold the
# hotkeys the filter registered on its input while OBS ran it.
#   TAVIMORE_KEEP=1 keeps the scratch folder (HOME, logs) for a look.
cd "$(dirname "$0")/../.."
. scripts/common.sh

apt_install "${BUILD_DEPS[@]}" obs-studio xvfb xauth libegl-mesa0 libgl1-mesa-dri

work=$(mktemp -d /tmp/tavimore-obs-XXXXXX)
home=$work/home
config=$home/.config/obs-studio
xvfb_pid=
obs_pid=

stop_pid() { # stop_pid PID SIGNAL SECONDS: signal, then wait; 1 if it lingers
	local pid=$1 signal=$2 seconds=$3
	kill -s "$signal" "$pid" 2>/dev/null || return 0
	for _ in $(seq "$((seconds * 10))"); do
		kill -0 "$pid" 2>/dev/null || return 0
		sleep 0.1
	done
	return 1
}
cleanup() {
	if [ -n "$obs_pid" ] && kill -0 "$obs_pid" 2>/dev/null; then
		stop_pid "$obs_pid" INT 10 || stop_pid "$obs_pid" KILL 5
	fi
	if [ -n "$xvfb_pid" ]; then
		stop_pid "$xvfb_pid" TERM 5 || stop_pid "$xvfb_pid" KILL 5
	fi
	if [ -n "${TAVIMORE_KEEP:-}" ]; then
		echo "kept $work"
	else
		rm -rf "$work"
	fi
}
trap cleanup EXIT

failures=0
check() { # check DESCRIPTION COMMAND...
	local what=$1
	shift
	if "$@"; then
		echo "ok: $what"
	else
		echo "FAILED: $what"
		failures=$((failures + 1))
	fi
}
fail_now() {
	echo "FAILED: $1"
	[ -n "${log:-}" ] && [ -f "$log" ] && tail -n 40 "$log"
	[ -f "$work/obs.out" ] && tail -n 20 "$work/obs.out"
	exit 1
}

# ---- the per-user install, into the private HOME (its default prefix)
(
	unset XDG_CONFIG_HOME
	export HOME=$home
	cmake -S . -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DTAVIMORE_USER_INSTALL=ON \
		-DTAVIMORE_BUILD_TESTS=OFF -DTAVIMORE_BUILD_TOOLS=OFF >/dev/null &&
		cmake --build "$work/build" -j2 >/dev/null &&
		cmake --install "$work/build" >/dev/null
) || fail_now "per-user install"
plugin=$config/plugins/tavimore-free
check "per-user install: module" test -f "$plugin/bin/64bit/tavimore-free.so"
check "per-user install: data" test -f "$plugin/data/zoom-crop.effect" -a -f "$plugin/data/locale/en-US.ini"

# ---- OBS's own configuration: no first-run wizard, no questions on exit
mkdir -p "$config/basic/scenes"
cat >"$config/global.ini" <<'EOF'
[General]
FirstRun=true
EnableAutoUpdates=false
ConfirmOnExit=false

[Basic]
Profile=Untitled
ProfileDir=Untitled
SceneCollection=Tavimore
SceneCollectionFile=Tavimore
EOF
cat >"$config/basic/scenes/Tavimore.json" <<'EOF'
{
    "name": "Tavimore",
    "current_scene": "Scene",
    "current_program_scene": "Scene",
    "scene_order": [{"name": "Scene"}],
    "sources": [
        {
            "id": "scene", "versioned_id": "scene", "name": "Scene",
            "settings": {"id_counter": 1, "custom_size": false, "items": [
                {"name": "Card", "id": 1, "visible": true, "locked": false,
                 "pos": {"x": 0.0, "y": 0.0}, "scale": {"x": 1.0, "y": 1.0}, "rot": 0.0,
                 "align": 5, "bounds_type": 0, "bounds": {"x": 0.0, "y": 0.0}, "bounds_align": 0,
                 "crop_left": 0, "crop_top": 0, "crop_right": 0, "crop_bottom": 0}]}
        },
        {
            "id": "color_source", "versioned_id": "color_source_v3", "name": "Card",
            "settings": {"color": 4282664004, "width": 640, "height": 360},
            "filters": [
                {"id": "tavimore_filter", "versioned_id": "tavimore_filter", "name": "Tavimore Zoom",
                 "settings": {"stage_count": 2, "stage_1_zoom_factor": 2.5, "stage_1_center_x": 0.3}}
            ]
        }
    ],
    "groups": [],
    "transitions": [],
    "current_transition": "Fade",
    "transition_duration": 300
}
EOF

# ---- an X server of our own
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
	[ -s "$work/display" ] && break
	kill -0 "$xvfb_pid" 2>/dev/null || break
	sleep 0.1
done
[ -s "$work/display" ] || fail_now "Xvfb did not start: $(cat "$work/xvfb.log")"
display=:$(head -n 1 "$work/display")

# ---- OBS Studio
env -u XDG_CONFIG_HOME HOME="$home" DISPLAY="$display" \
	obs --disable-updater --disable-shutdown-check --collection Tavimore --scene Scene \
	>"$work/obs.out" 2>&1 &
obs_pid=$!

log=
loaded="- filter: 'Tavimore Zoom' (tavimore_filter)"
for _ in $(seq 900); do # 90 s for start-up on a busy machine
	log=$(ls -t "$config/logs/"*.txt 2>/dev/null | head -n 1 || true)
	[ -n "$log" ] && grep -qF -- "$loaded" "$log" && break
	kill -0 "$obs_pid" 2>/dev/null || fail_now "OBS stopped while starting"
	sleep 0.1
done
[ -n "$log" ] && grep -qF -- "$loaded" "$log" || fail_now "OBS did not load the scene collection in 90 s"
# let OBS run the scene: the filter's first frames register its hotkeys
sleep 5
kill -0 "$obs_pid" 2>/dev/null || fail_now "OBS stopped while running the scene"
maps=$(grep -F 'tavimore-free.so' "/proc/$obs_pid/maps" | awk '{ print $6 }' | sort -u)

status=0
stop_pid "$obs_pid" INT 30 || fail_now "OBS did not exit within 30 s of SIGINT"
wait "$obs_pid" || status=$?
obs_pid=
echo "log: $log"

check "OBS exited cleanly (status $status)" test "$status" -eq 0
check "the module's load line" grep -qF '[tavimore-free] plugin loaded successfully (version 1.0.0)' "$log"
check "OBS mapped the module from the per-user folder only" test "$maps" = "$plugin/bin/64bit/tavimore-free.so"
check "the filter instance on the input" grep -qF -- "$loaded" "$log"
check "libobs knew the filter's id" bash -c "! grep -i 'tavimore_filter' '$log' | grep -qiE 'not found|failed'"
check "no line of the module but its load and unload lines" bash -c \
	"! grep -F '[tavimore-free]' '$log' | grep -vF -e 'plugin loaded successfully (version 1.0.0)' -e '] plugin unloaded'"
check "the module's unload line after the clean exit" grep -qF '[tavimore-free] plugin unloaded' "$log"
check "OBS counted no leaked allocation" grep -qF 'Number of memory leaks: 0' "$log"
saved=$config/basic/scenes/Tavimore.json
for hotkey in tavimore.stage_1 tavimore.stage_2 tavimore.idle_zoom_in tavimore.idle_zoom_out; do
	check "OBS saved the input's hotkey $hotkey" grep -qF "\"$hotkey\"" "$saved"
done

if [ "$failures" -ne 0 ]; then
	tail -n 40 "$log"
	echo "obs-studio: $failures check(s) failed"
	exit 1
fi
echo "obs-studio: all checks passed"
