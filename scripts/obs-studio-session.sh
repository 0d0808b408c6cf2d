# shellcheck shell=bash
# OBS Studio itself under Xvfb, for the scripts in scripts/test.d: a scratch
# folder with a private HOME, the plug-in installed there for that user, OBS's
# configuration and a scene collection "Tavimore" with one scene "Scene"
# holding one input "Card", an X server and OBS of their own, and checks.
# Source it after scripts/common.sh; it sets a trap on EXIT that stops OBS
# and Xvfb and removes the scratch folder.
#   TAVIMORE_KEEP=1 keeps the scratch folder (HOME, logs) for a look.

apt_install "${BUILD_DEPS[@]}" obs-studio xvfb xauth libegl-mesa0 libgl1-mesa-dri python3

work=$(mktemp -d -t tavimore-obs-XXXXXX)
home=$work/home
config=$home/.config/obs-studio
plugin=$config/plugins/tavimore-free
collection=$config/basic/scenes/Tavimore.json
log=
xvfb_pid=
obs_pid=
obs_status=
display=
failures=0
# the log line of the filter instance on the input, once OBS loaded the collection
obs_filter_loaded="- filter: 'Tavimore Zoom' (tavimore_filter)"

stop_pid() { # stop_pid PID SIGNAL SECONDS: signal, then wait; 1 if it lingers
	local pid=$1 signal=$2 seconds=$3
	kill -s "$signal" "$pid" 2>/dev/null || return 0
	for _ in $(seq "$((seconds * 10))"); do
		kill -0 "$pid" 2>/dev/null || return 0
		sleep 0.1
	done
	return 1
}
obs_cleanup() {
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
trap obs_cleanup EXIT

fail_now() {
	echo "FAILED: $1"
	[ -n "${log:-}" ] && [ -f "$log" ] && tail -n 40 "$log"
	[ -f "$work/obs.out" ] && tail -n 20 "$work/obs.out"
	exit 1
}
finish() { # finish NAME: the summary line and the exit status
	if [ "$failures" -ne 0 ]; then
		[ -n "${log:-}" ] && [ -f "$log" ] && tail -n 40 "$log"
		echo "$1: $failures check(s) failed"
		exit 1
	fi
	echo "$1: all checks passed"
}

# install_plugin: the per-user install, into the private HOME (its default prefix)
install_plugin() {
	(
		unset XDG_CONFIG_HOME
		export HOME=$home
		cmake -S . -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DTAVIMORE_USER_INSTALL=ON \
			-DTAVIMORE_BUILD_TESTS=OFF -DTAVIMORE_BUILD_TOOLS=OFF >/dev/null &&
			cmake --build "$work/build" -j2 >/dev/null &&
			cmake --install "$work/build" >/dev/null
	) || fail_now "per-user install"
}

# write_config [INI-LINES]: OBS's global.ini (no first-run wizard, no questions
# on exit, the collection "Tavimore"), then INI-LINES (further sections)
# obs-websocket on a free port of the loopback, and a client of it: the
# steps that drive OBS through it call websocket_config as write_config's
# extra section and client to talk to it
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
client() { timeout 30 python3 scripts/obs-websocket-client.py --port "$port" --timeout 10 "$@"; }
# shows_window NAME "L R T B" TOLERANCE: polls screenshots of the input Card,
# for up to 15 s, until two in a row show that window of the position-coded
# picture (scripts/xy-png.py's left right top bottom), each edge within
# TOLERANCE
shows_window() {
	local shot=$work/$1.png expected=$2 tolerance=$3 seen=none matched=0
	local deadline=$((SECONDS + 15)) a b i d
	while [ "$SECONDS" -lt "$deadline" ]; do
		client screenshot Card "$shot" || return 1
		seen=$(python3 scripts/xy-png.py window "$shot") || return 1
		read -ra a <<<"$seen"
		read -ra b <<<"$expected"
		matched=$((matched + 1))
		for i in 0 1 2 3; do
			d=$((a[i] - b[i]))
			[ "${d#-}" -le "$tolerance" ] || matched=0
		done
		[ "$matched" -ge 2 ] && return 0
		sleep 0.1
	done
	echo "  the input shows $seen (left right top bottom), expected $expected"
	return 1
}
websocket_config() {
	printf '%s\n' "[OBSWebSocket]" "FirstLoad=false" "ServerEnabled=true" \
		"ServerPort=$port" "AlertsEnabled=false" "AuthRequired=false"
}

write_config() {
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
	[ $# -eq 0 ] || printf '\n%s\n' "$1" >>"$config/global.ini"
}

# write_collection INPUT-JSON [NAME...]: the collection; INPUT-JSON is the
# source object of the input, which must be named "Card" (or several source
# objects, separated by commas: then NAME... are the further inputs, which
# join the scene after "Card", so that OBS keeps them)
write_collection() {
	local more="" id=1 name
	for name in "${@:2}"; do
		id=$((id + 1))
		more+=',
                {"name": "'"$name"'", "id": '"$id"', "visible": true, "locked": false,
                 "pos": {"x": 0.0, "y": 0.0}, "scale": {"x": 1.0, "y": 1.0}, "rot": 0.0,
                 "align": 5, "bounds_type": 0, "bounds": {"x": 0.0, "y": 0.0}, "bounds_align": 0,
                 "crop_left": 0, "crop_top": 0, "crop_right": 0, "crop_bottom": 0}'
	done
	mkdir -p "$config/basic/scenes"
	cat >"$collection" <<EOF
{
    "name": "Tavimore",
    "current_scene": "Scene",
    "current_program_scene": "Scene",
    "scene_order": [{"name": "Scene"}],
    "sources": [
        {
            "id": "scene", "versioned_id": "scene", "name": "Scene",
            "settings": {"id_counter": $id, "custom_size": false, "items": [
                {"name": "Card", "id": 1, "visible": true, "locked": false,
                 "pos": {"x": 0.0, "y": 0.0}, "scale": {"x": 1.0, "y": 1.0}, "rot": 0.0,
                 "align": 5, "bounds_type": 0, "bounds": {"x": 0.0, "y": 0.0}, "bounds_align": 0,
                 "crop_left": 0, "crop_top": 0, "crop_right": 0, "crop_bottom": 0}$more]}
        },
        $1
    ],
    "groups": [],
    "transitions": [],
    "current_transition": "Fade",
    "transition_duration": 300
}
EOF
}

# start_obs [OBS-ARGS...]: an X server of our own, then OBS; returns once
# OBS's log shows the filter instance on the input. --multi: OBS looks for
# another instance machine-wide, and would wait on a dialog for an answer.
start_obs() {
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

	env -u XDG_CONFIG_HOME HOME="$home" DISPLAY="$display" \
		obs --disable-updater --disable-shutdown-check --multi --collection Tavimore --scene Scene "$@" \
		>"$work/obs.out" 2>&1 &
	obs_pid=$!

	for _ in $(seq 900); do # 90 s for start-up on a busy machine
		log=$(ls -t "$config/logs/"*.txt 2>/dev/null | head -n 1 || true)
		[ -n "$log" ] && grep -qF -- "$obs_filter_loaded" "$log" && return 0
		kill -0 "$obs_pid" 2>/dev/null || fail_now "OBS stopped while starting"
		sleep 0.1
	done
	fail_now "OBS did not load the scene collection in 90 s"
}

# stop_obs: SIGINT, as on closing its window; sets obs_status
stop_obs() {
	obs_status=0
	stop_pid "$obs_pid" INT 30 || fail_now "OBS did not exit within 30 s of SIGINT"
	wait "$obs_pid" || obs_status=$?
	obs_pid=
	echo "log: $log"
}
