#!/usr/bin/env bash
# Starts OBS Studio, drives a scenario through obs-websocket, quits it with
# SIGINT, RUNS times in a row, and counts what OBS's own shutdown says about
# sources that outlived it. Each run gets a fresh HOME with a collection of
# three image inputs: "pattern" (zoom filter "Zoom A", 3 stages, stage 1 a
# hold stage, stage 2 a 2 s transition), "other" (zoom filter "Zoom B" and a
# crop filter) and "plain" (none).
#   bash scripts/obs-quit-repeat.sh [--runs N] [--root DIR] [--module SO] SCENARIO
# SCENARIO:
#   remote             vendor requests on both inputs (SetStage, ToggleStage,
#                      GetState, bad ones, three clients at once), hotkeys,
#                      a hold stage, a stage count lowered, "Zoom B" removed;
#                      a client subscribed to vendor events stays connected
#                      through the quit
#   plain              a stage hotkey pressed
#   transition-remove  "Zoom A" removed during its transition to stage 2
# --root DIR: run OBS inside that root file system (a Debian chroot with
#   obs-studio, xvfb, python3 and iproute2 installed; proc, sys, dev, dev/pts
#   and dev/shm mounted), e.g. sid's OBS Studio; default: this machine's.
# --module SO: install that module file, and the data folder beside the
#   sources, into the root's OBS plug-in folders first.
# Every run is in a network namespace of its own (obs-websocket on 4455 there)
# with its own Xvfb. Logs of run i stay in the work folder (printed).
# Prints one line per run and the totals; exits 1 when any run logged "Not
# all sources were cleared" or "source(s) were remaining", did not exit 0, or
# did not log "Number of memory leaks: 0".
set -u
here=$(cd "$(dirname "$0")" && pwd)
runs=20 root=/ module=
while [ $# -gt 1 ]; do
	case "$1" in
	--runs) runs=$2 ;;
	--root) root=$(realpath "$2") ;;
	--module) module=$(realpath "$2") ;;
	*) break ;;
	esac
	shift 2
done
scenario=${1:-}
case "$scenario" in
remote | plain | transition-remove) ;;
*)
	sed -n '2,/^set -u/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
	exit 2
	;;
esac

if [ "${OBS_QUIT_INSIDE:-}" != 1 ]; then
	# the host side: copy the scripts into the root, run each OBS there
	stage=$root/opt/obs-quit
	mkdir -p "$stage"
	cp "$0" "$here/obs-websocket-client.py" "$here/xy-png.py" "$stage/"
	if [ -n "$module" ]; then
		cp "$module" "$root/usr/lib/x86_64-linux-gnu/obs-plugins/"
		mkdir -p "$root/usr/share/obs/obs-plugins/tavimore-free"
		cp -r "$here/../data/." "$root/usr/share/obs/obs-plugins/tavimore-free/"
	fi
	work=/opt/obs-quit/runs-$scenario-$$
	echo "logs: $root$work"
	bad=0
	for i in $(seq "$runs"); do
		if [ "$root" = / ]; then
			OBS_QUIT_INSIDE=1 unshare --net bash "$stage/obs-quit-repeat.sh" "$scenario" "$work/$i"
		else
			OBS_QUIT_INSIDE=1 unshare --net chroot "$root" /bin/bash /opt/obs-quit/obs-quit-repeat.sh "$scenario" "$work/$i"
		fi || bad=$((bad + 1))
	done
	count() { grep -l -- "$1" "$root$work"/*/obs.log 2>/dev/null | wc -l; }
	echo "$scenario, $runs runs: \"Not all sources were cleared\" $(count 'Not all sources were cleared')," \
		"\"source(s) were remaining\" $(count 'source(s) were remaining')," \
		"\"Double destroy\" $(count 'Double destroy')," \
		"not exiting 0 $(grep -L '^exit 0$' "$root$work"/*/status | wc -l)," \
		"\"Number of memory leaks: 0\" $(count 'Number of memory leaks: 0') of $runs"
	[ "$bad" -eq 0 ] && echo "$runs passed, 0 failed" || echo "$((runs - bad)) passed, $bad failed"
	[ "$bad" -eq 0 ]
	exit
fi

# ---- one run, inside the namespace (and the root)
out=$2
mkdir -p "$out"
ip link set lo up
export HOME=$out/home
cfg=$HOME/.config/obs-studio
mkdir -p "$cfg/basic/scenes" "$cfg/plugin_config/obs-websocket"
for ini in global.ini user.ini; do
	printf '%s\n' "[General]" "FirstRun=true" "EnableAutoUpdates=false" "ConfirmOnExit=false" "" \
		"[Basic]" "Profile=Untitled" "ProfileDir=Untitled" "SceneCollection=Quit" \
		"SceneCollectionFile=Quit" >"$cfg/$ini"
done
echo '{"alerts_enabled": false, "auth_required": false, "first_load": false,
       "server_enabled": true, "server_password": "", "server_port": 4455}' \
	>"$cfg/plugin_config/obs-websocket/config.json"
python3 /opt/obs-quit/xy-png.py make "$out/xy.png"
zoom() { # zoom NAME STAGES
	echo '{"id": "tavimore_filter", "versioned_id": "tavimore_filter", "name": "'"$1"'",
	       "settings": {"stage_count": '"$2"', "stage_1_hold": true, "stage_2_name": "Close-up",
	                    "stage_2_duration": 2.0}}'
}
input() { # input NAME FILTERS
	echo '{"id": "image_source", "versioned_id": "image_source", "name": "'"$1"'",
	       "settings": {"file": "'"$out/xy.png"'"}, "filters": ['"$2"']}'
}
item() { # item NAME ID
	echo '{"name": "'"$1"'", "id": '"$2"', "visible": true, "locked": false, "rot": 0.0,
	       "pos": {"x": 0.0, "y": 0.0}, "scale": {"x": 1.0, "y": 1.0}, "align": 5,
	       "bounds_type": 0, "bounds": {"x": 0.0, "y": 0.0}, "bounds_align": 0,
	       "crop_left": 0, "crop_top": 0, "crop_right": 0, "crop_bottom": 0}'
}
cat >"$cfg/basic/scenes/Quit.json" <<EOF
{"name": "Quit", "current_scene": "Scene", "current_program_scene": "Scene",
 "scene_order": [{"name": "Scene"}], "groups": [], "transitions": [],
 "current_transition": "Fade", "transition_duration": 300,
 "sources": [
  {"id": "scene", "versioned_id": "scene", "name": "Scene",
   "settings": {"id_counter": 3, "custom_size": false,
                "items": [$(item pattern 1), $(item other 2), $(item plain 3)]}},
  $(input pattern "$(zoom 'Zoom A' 3)"),
  $(input other "$(zoom 'Zoom B' 2),
      {\"id\": \"crop_filter\", \"versioned_id\": \"crop_filter\", \"name\": \"Crop\", \"settings\": {}}"),
  $(input plain "")]}
EOF

exec 3>"$out/display"
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 100); do
	[ -s "$out/display" ] && break
	sleep 0.1
done
DISPLAY=:$(head -n 1 "$out/display") obs --disable-updater --disable-shutdown-check --multi --collection Quit --scene Scene \
	>"$out/obs.out" 2>&1 &
obs=$!
log=
for _ in $(seq 900); do
	log=$(ls -t "$cfg/logs/"*.txt 2>/dev/null | head -n 1)
	[ -n "$log" ] && grep -qF -- "- filter: 'Zoom A' (tavimore_filter)" "$log" && break
	kill -0 "$obs" 2>/dev/null || break
	sleep 0.1
done

# the scenario; it touches $out/ready when OBS is to quit, and keeps its
# event client connected until it is stopped
timeout 120 python3 - "$scenario" "$out/ready" >"$out/scenario.out" 2>&1 <<'EOF' &
import importlib.util, sys, threading, time
spec = importlib.util.spec_from_file_location("client", "/opt/obs-quit/obs-websocket-client.py")
client = importlib.util.module_from_spec(spec)
spec.loader.exec_module(client)
scenario, ready = sys.argv[1], sys.argv[2]

def connect(subscriptions=0):
    deadline = time.monotonic() + 60
    while True:
        try:
            return client.Connection("127.0.0.1", 4455, 10, subscriptions)
        except (OSError, client.ProtocolError):
            if time.monotonic() > deadline:
                raise
            time.sleep(0.2)

c = connect()
events = connect(client.SUBSCRIBE_VENDORS)  # read by nobody: kept open

def vendor(kind, data, conn=c):
    try:
        return conn.request("CallVendorRequest", {"vendorName": "tavimore", "requestType": kind,
                                                  "requestData": data})["responseData"]
    except client.RequestFailed as e:
        return {"failed": str(e)}

def trigger(name):
    c.request("TriggerHotkeyByName", {"hotkeyName": name})

if scenario == "remote":
    vendor("SetStage", {"sourceName": "pattern", "stage": 2})
    vendor("GetState", {"sourceName": "other"})
    vendor("ToggleStage", {"sourceName": "other", "filterName": "Zoom B", "stage": 1})
    vendor("ToggleStage", {"sourceName": "other", "stage": 1})
    trigger("tavimore.stage_3")
    vendor("SetStage", {"sourceName": "other", "stage": 2})
    trigger("tavimore.idle")
    trigger("tavimore.stage_1")  # the hold stage
    vendor("SetStage", {"sourceName": "pattern", "stage": 3})
    c.request("SetSourceFilterSettings", {"sourceName": "pattern", "filterName": "Zoom A",
                                          "filterSettings": {"stage_count": 2}})
    for bad in ({"stage": 1}, {"sourceName": "nowhere", "stage": 1},
                {"sourceName": "plain", "stage": 1}, {"sourceName": "pattern", "stage": 9}):
        vendor("SetStage", bad)
    def burst(n):
        own = connect()
        for i in range(20):
            vendor("SetStage", {"sourceName": "pattern", "stage": (i + n) % 3}, own)
            vendor("GetState", {"sourceName": "pattern"}, own)
        own.close()
    threads = [threading.Thread(target=burst, args=(n,)) for n in range(3)]
    [t.start() for t in threads]
    [t.join() for t in threads]
    c.request("RemoveSourceFilter", {"sourceName": "other", "filterName": "Zoom B"})
    vendor("GetState", {"sourceName": "pattern"})
    time.sleep(0.5)
elif scenario == "plain":
    trigger("tavimore.stage_2")
    time.sleep(0.5)
else:
    vendor("SetStage", {"sourceName": "pattern", "stage": 2})
    time.sleep(0.3)
    c.request("RemoveSourceFilter", {"sourceName": "pattern", "filterName": "Zoom A"})
print("scenario done", flush=True)
open(ready, "w").close()
time.sleep(60)
EOF
driver=$!
for _ in $(seq 1200); do
	[ -e "$out/ready" ] && break
	kill -0 "$driver" 2>/dev/null || break
	sleep 0.1
done
kill -INT "$obs"
status=
for _ in $(seq 300); do
	kill -0 "$obs" 2>/dev/null || break
	sleep 0.1
done
if kill -0 "$obs" 2>/dev/null; then
	status="hung"
	command -v gdb >/dev/null && timeout 60 gdb -p "$obs" -batch -ex "thread apply all bt" >"$out/hang.txt" 2>&1
	kill -KILL "$obs"
fi
wait "$obs"
echo "exit $?" >"$out/status"
[ -n "$status" ] && echo "$status" >>"$out/status"
kill "$driver" 2>/dev/null
wait "$driver" 2>/dev/null
kill "$xvfb"
wait "$xvfb" 2>/dev/null
[ -n "$log" ] && cp "$log" "$out/obs.log"
touch "$out/obs.log"

verdict=ok
[ -e "$out/ready" ] || verdict="scenario failed"
grep -q "Not all sources were cleared" "$out/obs.log" && verdict="sources not cleared"
grep -q "source(s) were remaining" "$out/obs.log" && verdict="sources remaining"
grep -q "Number of memory leaks: 0" "$out/obs.log" || verdict="leaks: $(grep -o 'Number of memory leaks: [0-9]*' "$out/obs.log")"
grep -qx "exit 0" "$out/status" || verdict="$(paste -sd' ' "$out/status")"
echo "run $(basename "$out"): $verdict"
[ "$verdict" = ok ]
