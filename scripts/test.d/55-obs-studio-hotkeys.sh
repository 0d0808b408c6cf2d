#!/usr/bin/env bash
# The filter's hotkeys in OBS Studio itself, driven through OBS's bundled
# obs-websocket (protocol 5, enabled without a password in the private HOME's
# global.ini): the input that carries the filter lists the stage toggles, the
# two idle hold hotkeys and the return to idle, and triggering
# tavimore.stage_1 moves the picture to stage 1's window and triggering it
# again back to the whole picture.
# The input is an image whose pixels tell where they are (red = x,
# green = y), so a screenshot of it tells which window the filter shows.
#   TAVIMORE_KEEP=1 keeps the scratch folder (HOME, logs, screenshots).
cd "$(dirname "$0")/../.."
. scripts/common.sh
. scripts/obs-studio-session.sh

xy_png() { python3 scripts/xy-png.py "$@"; }

stages=3

install_plugin
xy_png make "$work/xy.png" || fail_now "writing the test picture"
write_config "$(websocket_config)"
# stage 1 shows the lower left quarter of the picture; stage 2 another
# window, so that a mix-up of the two cannot pass
write_collection '{
            "id": "image_source", "versioned_id": "image_source", "name": "Card",
            "settings": {"file": "'"$work/xy.png"'", "unload": false},
            "filters": [
                {"id": "tavimore_filter", "versioned_id": "tavimore_filter", "name": "Tavimore Zoom",
                 "settings": {"stage_count": '$stages', "tracking_smoothing": 0.1,
                              "stage_1_zoom_factor": 2.0, "stage_1_center_x": 0.25,
                              "stage_1_center_y": 0.75, "stage_1_duration": 0.5,
                              "stage_2_zoom_factor": 4.0, "stage_2_center_x": 0.875,
                              "stage_2_center_y": 0.125}}
            ]
        }'

start_obs
client wait 30 || fail_now "obs-websocket did not answer on port $port"

# ---- the hotkeys: one of each, registered on the first frames
names=("tavimore.idle_zoom_in" "tavimore.idle_zoom_out" "tavimore.idle")
for i in $(seq "$stages"); do names+=("tavimore.stage_$i"); done
for _ in $(seq 50); do
	client hotkeys >"$work/hotkeys.txt" || fail_now "GetHotkeyList"
	grep -qx 'tavimore.idle_zoom_out' "$work/hotkeys.txt" && break
	sleep 0.2
done
listed_once() { test "$(grep -cx -- "$1" "$work/hotkeys.txt")" -eq 1; }
for name in "${names[@]}"; do
	check "OBS lists the hotkey $name once" listed_once "$name"
done
check "OBS lists no hotkey of a stage past $stages" \
	bash -c "! grep -qx 'tavimore.stage_$((stages + 1))' '$work/hotkeys.txt'"

# ---- the picture: which window of the input the filter shows
shows() { # shows NAME "L R T B": that window of the input, each edge within 2
	shows_window "$1" "$2" 2
}
whole="0 255 0 255"
stage_1="0 127 128 255"
stage_2="192 255 0 63"
check "at rest: the whole picture" shows rest "$whole"
check "trigger tavimore.stage_1" client trigger tavimore.stage_1
check "stage 1: the lower left quarter" shows stage-1 "$stage_1"
check "trigger tavimore.stage_1 again" client trigger tavimore.stage_1
check "back at rest: the whole picture" shows back "$whole"
check "trigger tavimore.stage_2" client trigger tavimore.stage_2
check "stage 2: the upper right sixteenth" shows stage-2 "$stage_2"
check "trigger tavimore.stage_1 while stage 2 is shown" client trigger tavimore.stage_1
check "from stage 2 straight to stage 1" shows stage-2-to-1 "$stage_1"
check "trigger tavimore.stage_1 again" client trigger tavimore.stage_1
check "back at rest once more" shows back-again "$whole"

# ---- clean exit; the hotkeys OBS saved belong to the input
kill -0 "$obs_pid" 2>/dev/null || fail_now "OBS stopped while running the scene"
stop_obs
check "OBS exited cleanly (status $obs_status)" test "$obs_status" -eq 0
saved_on_input() { # the hotkey names that the saved collection holds for the input
	python3 -c 'import json, sys
for source in json.load(open(sys.argv[1]))["sources"]:
    if source["name"] == "Card":
        print("\n".join(source.get("hotkeys", {})))' "$collection"
}
saved_on_input >"$work/saved.txt" || fail_now "reading the saved collection"
for name in "${names[@]}"; do
	check "OBS saved $name with the input" grep -qx -- "$name" "$work/saved.txt"
done
finish obs-studio-hotkeys
