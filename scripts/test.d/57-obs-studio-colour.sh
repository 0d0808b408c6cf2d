#!/usr/bin/env bash
# Colour in OBS Studio itself: an image input showing a sharp-edged picture
# (black and white strokes, saturated colour blocks) with the filter at
# zoom 2. A screenshot of the input taken through OBS's bundled obs-websocket
# must match bilinear sampling of the picture in linear light, computed here,
# within one level in every channel, as OBS's own crop and scale filters do.
#   TAVIMORE_KEEP=1 keeps the scratch folder (HOME, logs, screenshots).
cd "$(dirname "$0")/../.."
. scripts/common.sh
. scripts/obs-studio-session.sh

sharp_png() { python3 scripts/sharp-png.py "$@"; }

zoom=2.0 center_x=0.3 center_y=0.6

install_plugin
sharp_png make "$work/sharp.png" || fail_now "writing the test picture"
write_config "$(websocket_config)"
write_collection '{
            "id": "image_source", "versioned_id": "image_source", "name": "Card",
            "settings": {"file": "'"$work/sharp.png"'", "unload": false},
            "filters": [
                {"id": "tavimore_filter", "versioned_id": "tavimore_filter", "name": "Tavimore Zoom",
                 "settings": {"tracking_smoothing": 0.0, "idle_zoom_factor": '$zoom',
                              "idle_center_x": '$center_x', "idle_center_y": '$center_y'}}
            ]
        }'

# --multi: another OBS may be running on this machine (its own X server and HOME)
start_obs --multi
client wait 30 || fail_now "obs-websocket did not answer on port $port"

matches_reference() { # polls screenshots for up to 15 s: the centre glides in from the middle
	local deadline=$((SECONDS + 15))
	while [ "$SECONDS" -lt "$deadline" ]; do
		client screenshot Card "$work/zoomed.png" || return 1
		sharp_png compare "$work/sharp.png" "$work/zoomed.png" "$zoom" "$center_x" "$center_y" 1 \
			>"$work/compare.txt" && { cat "$work/compare.txt"; return 0; }
		sleep 0.2
	done
	cat "$work/compare.txt"
	return 1
}
check "the zoomed screenshot matches the linear-light reference within 1 level" matches_reference

kill -0 "$obs_pid" 2>/dev/null || fail_now "OBS stopped while running the scene"
stop_obs
check "OBS exited cleanly (status $obs_status)" test "$obs_status" -eq 0
check "no line of the module but its load, remote control and unload lines" bash -c \
	"! grep -F '[tavimore-free]' '$log' | grep -vF -e 'plugin loaded successfully (version 1.0.0)' -e '] plugin unloaded' \\
		-e 'remote control through obs-websocket: tavimore'"
finish obs-studio-colour
