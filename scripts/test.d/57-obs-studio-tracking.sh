#!/usr/bin/env bash
# Centre tracking in OBS Studio itself: the input is OBS's screen capture of
# its own X display, whose whole screen shows colour ramps (red = x, green =
# y) in a window above OBS's; the filter's idle view tracks the pointer at
# zoom 2. Moving the pointer (XTest) moves the view: each screenshot of the
# input, taken through obs-websocket, shows the window centred on the
# pointer, or stopped at the screen's edge.
#   TAVIMORE_KEEP=1 keeps the scratch folder (HOME, logs, screenshots).
cd "$(dirname "$0")/../.."
. scripts/common.sh
. scripts/obs-studio-session.sh


install_plugin
cc -O1 -o "$work/x-screen" scripts/x-screen.c -lX11 -lXtst || fail_now "building scripts/x-screen.c"
write_config "$(websocket_config)"
write_collection '{
            "id": "xshm_input", "versioned_id": "xshm_input", "name": "Card",
            "settings": {"screen": 0, "show_cursor": false},
            "filters": [
                {"id": "tavimore_filter", "versioned_id": "tavimore_filter", "name": "Tavimore Zoom",
                 "settings": {"idle_zoom_factor": 2.0, "idle_center_tracking": true,
                              "tracking_smoothing": 0.1, "tracking_dead_zone": 0.0}}
            ]
        }'

start_obs
client wait 30 || fail_now "obs-websocket did not answer on port $port"
DISPLAY=$display "$work/x-screen" ramps >"$work/ramps.out" 2>&1 &
ramps_pid=$!
trap 'kill "$ramps_pid" 2>/dev/null; obs_cleanup' EXIT
for _ in $(seq 100); do
	grep -q ready "$work/ramps.out" && break
	sleep 0.1
done
grep -q ready "$work/ramps.out" || fail_now "the ramps window did not show: $(cat "$work/ramps.out")"

expected() { # expected X Y: the ramps' "L R T B" of zoom 2 centred on pixel X, Y
	python3 - "$@" <<'PY'
import sys
x, y, w, h = (int(v) for v in sys.argv[1:5])
def edges(p, size):
    c = min(max((p + 0.5) / size, 0.25), 0.75)
    first, last = (c - 0.25) * size, (c + 0.25) * size - 1
    return [round(255 * v / (size - 1)) for v in (first, last)]
print(*edges(x, w), *edges(y, h))
PY
}
follows() { # follows NAME X Y: moves the pointer, then waits until the input shows its window
	DISPLAY=$display "$work/x-screen" move "$2" "$3" || return 1
	shows_window "$1" "$(expected "$2" "$3" 1280 720)" 3
}
check "the view centres on the pointer in the middle" follows middle 640 360
check "the view follows the pointer to the left and down" follows left-down 384 432
check "the view follows it to the right and up" follows right-up 900 250
check "near the top right corner it stops at the edges" follows corner 1275 5
check "past the left edge it stops there" follows left-edge 0 360

kill -0 "$obs_pid" 2>/dev/null || fail_now "OBS stopped while running the scene"
stop_obs
check "OBS exited cleanly (status $obs_status)" test "$obs_status" -eq 0
check "the pointer sampler started and stopped in OBS" \
	bash -c "grep -q 'pointer sampler started' '$log' && grep -q 'pointer sampler stopped' '$log'"
finish obs-studio-tracking
