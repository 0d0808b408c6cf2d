#!/usr/bin/env bash
# Remote control in OBS Studio itself, through its bundled obs-websocket: the
# vendor "tavimore" drives two inputs, each with its own zoom filter, by
# CallVendorRequest (SetStage, ToggleStage, GetState); a second client
# subscribed to vendor events receives StageChanged for every change, by
# request, by hotkey and by a settings change that removes the stage shown;
# every bad request is answered with an error and changes nothing.
#   TAVIMORE_KEEP=1 keeps the scratch folder (HOME, logs, events).
cd "$(dirname "$0")/../.."
. scripts/common.sh
. scripts/obs-studio-session.sh

vendor() { client vendor "$@"; }
events=$work/events.jsonl

install_plugin
write_config "$(websocket_config)"
# "Card" and "Other" carry a zoom filter each (3 and 2 stages); "Other" also
# a crop filter; "Plain" none. Only "Card" has a third stage, so its hotkey
# tavimore.stage_3 is the only one of that name.
zoom() { # zoom NAME STAGES
	echo '{"id": "tavimore_filter", "versioned_id": "tavimore_filter", "name": "'"$1"'",
	       "settings": {"stage_count": '"$2"', "stage_2_name": "Close-up"}}'
}
image() { # image NAME FILTERS
	echo '{"id": "image_source", "versioned_id": "image_source", "name": "'"$1"'",
	       "settings": {}, "filters": ['"$2"']}'
}
write_collection "$(image Card "$(zoom 'Zoom A' 3)"),
        $(image Other "$(zoom 'Zoom B' 2), {\"id\": \"crop_filter\", \"versioned_id\": \"crop_filter\", \"name\": \"Crop\", \"settings\": {}}"),
        $(image Plain "")" Other Plain

obs_filter_loaded="- filter: 'Zoom A' (tavimore_filter)"
start_obs
client wait 30 || fail_now "obs-websocket did not answer on port $port"
grep -qF "[tavimore-free] remote control through obs-websocket: tavimore" "$log" ||
	fail_now "the module did not register its vendor (see the log)"

client listen "$events" 600 &
listener=$!
for _ in $(seq 100); do
	[ -s "$events" ] && break
	sleep 0.1
done
[ -s "$events" ] || fail_now "the event client did not connect"
seen=1 # lines of $events read so far (the first is "ready")

field() { # field JSON NAME
	python3 -c 'import json, sys; print(json.dumps(json.loads(sys.argv[1]).get(sys.argv[2])))' "$1" "$2"
}
state() { # state SOURCE: "stage name" of its zoom filter, from GetState
	local answer
	answer=$(vendor GetState '{"sourceName": "'"$1"'"}') || return 1
	echo "$(field "$answer" stage) $(field "$answer" stageName)"
}
expect_events() { # expect_events LINE...: exactly these new events (any order) within 5 s
	local wanted got deadline=$((SECONDS + 5))
	wanted=$(printf '%s\n' "$@" | sort)
	while :; do
		got=$(tail -n +"$((seen + 1))" "$events" | python3 -c '
import json, sys
for line in sys.stdin:
    e = json.loads(line)
    d = e["eventData"]
    print("%s %s %s/%s %s %s" % (e["vendorName"], e["eventType"], d["sourceName"], d["filterName"], d["stage"],
                                 json.dumps(d["stageName"])))' | sort)
		[ "$got" = "$wanted" ] && [ "$SECONDS" -ge "$((deadline - 4))" ] && break
		[ "$SECONDS" -ge "$deadline" ] && break
		sleep 0.2
	done
	seen=$(wc -l <"$events")
	[ "$got" = "$wanted" ] && return 0
	echo "  events: expected [${wanted//$'\n'/; }], got [${got//$'\n'/; }]"
	return 1
}
ok() { # ok TYPE JSON STAGE: the request succeeds and answers that stage
	local answer
	answer=$(vendor "$1" "$2") || return 1
	[ "$(field "$answer" success)" = true ] && [ "$(field "$answer" stage)" = "$3" ] && return 0
	echo "  $1 $2 answered $answer"
	return 1
}

# ---- requests on two sources, each with its own filter
check "SetStage Card 2" ok SetStage '{"sourceName": "Card", "stage": 2}' 2
check "StageChanged for Card" expect_events 'tavimore StageChanged Card/Zoom A 2 "Close-up"'
check "GetState Card: stage 2" test "$(state Card)" = '2 "Close-up"'
check "GetState Other: still idle" test "$(state Other)" = '0 "Idle view"'
check "ToggleStage Other 1 (filter named)" ok ToggleStage '{"sourceName": "Other", "filterName": "Zoom B", "stage": 1}' 1
check "StageChanged for Other" expect_events 'tavimore StageChanged Other/Zoom B 1 "Stage 1"'
check "GetState Card: still stage 2" test "$(state Card)" = '2 "Close-up"'
check "SetStage Card 2 again" ok SetStage '{"sourceName": "Card", "stage": 2}' 2
check "no event for the stage already shown" expect_events
check "ToggleStage Other 1 again: back to idle" ok ToggleStage '{"sourceName": "Other", "stage": 1}' 0
check "StageChanged for Other, to idle" expect_events 'tavimore StageChanged Other/Zoom B 0 "Idle view"'
answer=$(vendor GetState '{"sourceName": "Card"}')
check "GetState carries every field" python3 -c '
import json, sys
a = json.loads(sys.argv[1])
want = {"success": bool, "filterName": str, "sequence": int, "stage": int, "stageName": str, "stageCount": int,
        "shownZoom": (int, float), "targetZoom": (int, float), "progress": (int, float),
        "centerX": (int, float), "centerY": (int, float), "tracking": bool}
bad = [k for k, t in want.items() if not isinstance(a.get(k), t)]
sys.exit("missing or wrong: %s in %s" % (bad, a) if bad else 0)' "$answer"
check "GetState Card: 3 stages, target zoom 2" test "$(field "$answer" stageCount) $(field "$answer" targetZoom)" = "3 2.0"

# ---- hotkeys send the event too
check "trigger tavimore.stage_3 (Card's only)" client trigger tavimore.stage_3
check "StageChanged for Card by hotkey" expect_events 'tavimore StageChanged Card/Zoom A 3 "Stage 3"'
check "SetStage Other 2" ok SetStage '{"sourceName": "Other", "stage": 2}' 2
check "StageChanged for Other" expect_events 'tavimore StageChanged Other/Zoom B 2 "Close-up"'
# both inputs have a tavimore.idle; obs-websocket triggers the first it finds
check "trigger tavimore.idle" client trigger tavimore.idle
seen_before=$seen
idle_by_card() {
	expect_events 'tavimore StageChanged Card/Zoom A 0 "Idle view"' >/dev/null
}
if idle_by_card; then
	check "the idle key took Card back, Other stayed" test "$(state Card) / $(state Other)" = '0 "Idle view" / 2 "Close-up"'
else
	seen=$seen_before
	check "the idle key took Other back, Card stayed" expect_events 'tavimore StageChanged Other/Zoom B 0 "Idle view"'
	check "  and Card stayed at stage 3" test "$(state Card) / $(state Other)" = '3 "Stage 3" / 0 "Idle view"'
fi

# ---- a settings change that removes the stage shown
check "SetStage Card 3" ok SetStage '{"sourceName": "Card", "stage": 3}' 3
sleep 1
seen=$(wc -l <"$events") # whether that was a change depends on the idle key above
check "Card's stage count down to 2" client call SetSourceFilterSettings \
	'{"sourceName": "Card", "filterName": "Zoom A", "filterSettings": {"stage_count": 2}}'
check "StageChanged for Card, back to idle" expect_events 'tavimore StageChanged Card/Zoom A 0 "Idle view"'
check "GetState Card: idle, 2 stages" test "$(state Card) $(field "$(vendor GetState '{"sourceName": "Card"}')" stageCount)" = '0 "Idle view" 2'

# ---- bad requests: an error each, and nothing changes
before="$(state Card) / $(state Other)"
bad() { # bad TYPE JSON ERROR-PART
	local answer
	answer=$(vendor "$1" "$2") || return 1
	[ "$(field "$answer" success)" = false ] && [[ "$(field "$answer" error)" == *"$3"* ]] && return 0
	echo "  $1 $2 answered $answer"
	return 1
}
check "no sourceName" bad SetStage '{"stage": 1}' "sourceName is missing"
check "no request data at all" bad GetState '' "sourceName is missing"
check "sourceName not a string" bad GetState '{"sourceName": 7}' "sourceName must be a string"
check "sourceName null" bad GetState '{"sourceName": null}' "sourceName is missing"
check "unknown source" bad SetStage '{"sourceName": "Nowhere", "stage": 1}' 'no source named \"Nowhere\"'
check "source without a zoom filter" bad ToggleStage '{"sourceName": "Plain", "stage": 1}' "has no Tavimore Zoom filter"
check "unknown filter" bad SetStage '{"sourceName": "Card", "filterName": "Zoom B", "stage": 1}' 'no filter named \"Zoom B\"'
check "a filter that is not a zoom filter" bad GetState '{"sourceName": "Other", "filterName": "Crop"}' "is not a Tavimore Zoom filter"
check "filterName not a string" bad SetStage '{"sourceName": "Card", "filterName": ["Zoom A"], "stage": 1}' "filterName must be a string"
check "no stage" bad SetStage '{"sourceName": "Card"}' "stage is missing"
check "stage out of range" bad SetStage '{"sourceName": "Card", "stage": 3}' "stage 3 does not exist: use 0 for the idle view or 1 to 2"
check "stage below 0" bad ToggleStage '{"sourceName": "Other", "stage": -2}' "stage -2 does not exist"
check "stage not a whole number" bad SetStage '{"sourceName": "Card", "stage": 1.5}' "stage must be a whole number"
check "stage a string" bad ToggleStage '{"sourceName": "Card", "stage": "1"}' "stage must be a whole number"
check "stage a list" bad SetStage '{"sourceName": "Card", "stage": [1]}' "stage must be a whole number"
check "a huge stage" bad SetStage '{"sourceName": "Card", "stage": 18446744073709551615}' "does not exist"
check "nothing changed" test "$(state Card) / $(state Other)" = "$before"
check "no event from a bad request" expect_events

# ---- clean exit
kill -0 "$obs_pid" 2>/dev/null || fail_now "OBS stopped during the requests"
kill "$listener" 2>/dev/null || true
wait "$listener" 2>/dev/null || true
stop_obs
check "OBS exited cleanly (status $obs_status)" test "$obs_status" -eq 0
finish obs-studio-remote
