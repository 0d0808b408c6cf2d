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
. scripts/obs-studio-session.sh

install_plugin
check "per-user install: module" test -f "$plugin/bin/64bit/tavimore-free.so"
check "per-user install: data" test -f "$plugin/data/zoom-crop.effect" -a -f "$plugin/data/locale/en-US.ini"

write_config
write_collection '{
            "id": "color_source", "versioned_id": "color_source_v3", "name": "Card",
            "settings": {"color": 4282664004, "width": 640, "height": 360},
            "filters": [
                {"id": "tavimore_filter", "versioned_id": "tavimore_filter", "name": "Tavimore Zoom",
                 "settings": {"stage_count": 2, "stage_1_zoom_factor": 2.5, "stage_1_center_x": 0.3}}
            ]
        }'

start_obs
# let OBS run the scene: the filter's first frames register its hotkeys
sleep 5
kill -0 "$obs_pid" 2>/dev/null || fail_now "OBS stopped while running the scene"
maps=$(grep -F 'tavimore-free.so' "/proc/$obs_pid/maps" | awk '{ print $6 }' | sort -u)
stop_obs

check "OBS exited cleanly (status $obs_status)" test "$obs_status" -eq 0
check "the module's load line" grep -qF '[tavimore-free] plugin loaded successfully (version 1.0.0)' "$log"
check "OBS mapped the module from the per-user folder only" test "$maps" = "$plugin/bin/64bit/tavimore-free.so"
check "the filter instance on the input" grep -qF -- "$obs_filter_loaded" "$log"
check "libobs knew the filter's id" bash -c "! grep -i 'tavimore_filter' '$log' | grep -qiE 'not found|failed'"
check "no line of the module but its load, remote control and unload lines" bash -c \
	"! grep -F '[tavimore-free]' '$log' | grep -vF -e 'plugin loaded successfully (version 1.0.0)' -e '] plugin unloaded' \\
		-e 'remote control through obs-websocket: tavimore'"
check "the module's unload line after the clean exit" grep -qF '[tavimore-free] plugin unloaded' "$log"
check "OBS counted no leaked allocation" grep -qF 'Number of memory leaks: 0' "$log"
for hotkey in tavimore.stage_1 tavimore.stage_2 tavimore.idle_zoom_in tavimore.idle_zoom_out; do
	check "OBS saved the input's hotkey $hotkey" grep -qF "\"$hotkey\"" "$collection"
done
finish obs-studio
