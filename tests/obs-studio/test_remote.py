"""Remote control in OBS Studio through its obs-websocket: the vendor
"tavimore" drives two inputs, each with its own zoom filter (SetStage,
ToggleStage, GetState); a second client subscribed to vendor events receives
StageChanged for every change, by request, by hotkey and by a settings
change that removes the stage shown; every bad request is answered with an
error and changes nothing."""
import time

import pytest

from conftest import Client, Session, image, settles, zoom_filter


@pytest.fixture(scope="module")
def obs(obs_root):
    # "Card" and "Other" carry a zoom filter each (3 and 2 stages); "Other"
    # also a crop filter; "Plain" none. Only "Card" has a third stage, so its
    # hotkey tavimore.stage_3 is the only one of that name.
    crop = {"id": "crop_filter", "versioned_id": "crop_filter", "name": "Crop", "settings": {}}
    with Session(obs_root, [image("Card", "", zoom_filter("Zoom A", stage_count=3, stage_2_name="Close-up")),
                            image("Other", "", zoom_filter("Zoom B", stage_count=2, stage_2_name="Close-up"), crop),
                            image("Plain", "")]) as session:
        assert settles(lambda: (any("remote control through obs-websocket: tavimore" in line
                                    for line in session.module_lines()), None), 30, 1)[0]
        session.listener = Client(subscriptions=1 << 9)
        yield session


def expect_events(obs, *wanted):
    """Exactly these new events (source/filter stage "name"), in any order, within 5 s."""
    got, start = [], time.monotonic()
    while time.monotonic() - start < 5:
        got += ["%s %s %s/%s %s %s" % (e["vendorName"], e["eventType"], e["eventData"]["sourceName"],
                                       e["eventData"]["filterName"], e["eventData"]["stage"],
                                       e["eventData"]["stageName"]) for e in obs.listener.events(0.2)]
        if sorted(got) == sorted(wanted) and time.monotonic() - start >= 1:
            break
    assert sorted(got) == sorted(wanted)


def state(obs, name):
    answer = obs.vendor("GetState", {"sourceName": name})
    return answer["stage"], answer["stageName"]


def ok(obs, kind, data, stage):
    answer = obs.vendor(kind, data)
    assert answer["success"] and answer["stage"] == stage, answer


def test_requests_on_two_sources(obs):
    ok(obs, "SetStage", {"sourceName": "Card", "stage": 2}, 2)
    expect_events(obs, "tavimore StageChanged Card/Zoom A 2 Close-up")
    assert state(obs, "Card") == (2, "Close-up") and state(obs, "Other") == (0, "Idle view")
    ok(obs, "ToggleStage", {"sourceName": "Other", "filterName": "Zoom B", "stage": 1}, 1)
    expect_events(obs, "tavimore StageChanged Other/Zoom B 1 Stage 1")
    assert state(obs, "Card") == (2, "Close-up")
    ok(obs, "SetStage", {"sourceName": "Card", "stage": 2}, 2)
    expect_events(obs)  # none for the stage already shown
    ok(obs, "ToggleStage", {"sourceName": "Other", "stage": 1}, 0)
    expect_events(obs, "tavimore StageChanged Other/Zoom B 0 Idle view")
    answer = obs.vendor("GetState", {"sourceName": "Card"})
    number = (int, float)
    for key, kind in {"success": bool, "filterName": str, "sequence": int, "stage": int, "stageName": str,
                      "stageCount": int,
                      "shownZoom": number, "targetZoom": number, "progress": number, "centerX": number,
                      "centerY": number, "tracking": bool}.items():
        assert isinstance(answer.get(key), kind), (key, answer)
    assert (answer["stageCount"], answer["targetZoom"]) == (3, 2.0)


def test_hotkeys_send_events(obs):
    obs.request("TriggerHotkeyByName", {"hotkeyName": "tavimore.stage_3"})
    expect_events(obs, "tavimore StageChanged Card/Zoom A 3 Stage 3")
    ok(obs, "SetStage", {"sourceName": "Other", "stage": 2}, 2)
    expect_events(obs, "tavimore StageChanged Other/Zoom B 2 Close-up")
    # both inputs have a tavimore.idle: obs-websocket triggers the first it finds
    obs.request("TriggerHotkeyByName", {"hotkeyName": "tavimore.idle"})
    if state(obs, "Card")[0] == 0:
        expect_events(obs, "tavimore StageChanged Card/Zoom A 0 Idle view")
        assert state(obs, "Other") == (2, "Close-up")
    else:
        expect_events(obs, "tavimore StageChanged Other/Zoom B 0 Idle view")
        assert state(obs, "Card") == (3, "Stage 3") and state(obs, "Other") == (0, "Idle view")


def test_settings_change_that_removes_the_stage_shown(obs):
    ok(obs, "SetStage", {"sourceName": "Card", "stage": 3}, 3)
    obs.listener.events(1)  # whether that was a change depends on the idle key above
    obs.request("SetSourceFilterSettings", {"sourceName": "Card", "filterName": "Zoom A",
                                            "filterSettings": {"stage_count": 2}})
    expect_events(obs, "tavimore StageChanged Card/Zoom A 0 Idle view")
    assert state(obs, "Card") == (0, "Idle view")
    assert obs.vendor("GetState", {"sourceName": "Card"})["stageCount"] == 2


BAD = [("SetStage", {"stage": 1}, "sourceName is missing"),
       ("GetState", None, "sourceName is missing"),
       ("GetState", {"sourceName": 7}, "sourceName must be a string"),
       ("GetState", {"sourceName": None}, "sourceName is missing"),
       ("SetStage", {"sourceName": "Nowhere", "stage": 1}, 'no source named "Nowhere"'),
       ("ToggleStage", {"sourceName": "Plain", "stage": 1}, "has no Tavimore Zoom filter"),
       ("SetStage", {"sourceName": "Card", "filterName": "Zoom B", "stage": 1}, 'no filter named "Zoom B"'),
       ("GetState", {"sourceName": "Other", "filterName": "Crop"}, "is not a Tavimore Zoom filter"),
       ("SetStage", {"sourceName": "Card", "filterName": ["Zoom A"], "stage": 1}, "filterName must be a string"),
       ("SetStage", {"sourceName": "Card"}, "stage is missing"),
       ("SetStage", {"sourceName": "Card", "stage": 3},
        "stage 3 does not exist: use 0 for the idle view or 1 to 2"),
       ("ToggleStage", {"sourceName": "Other", "stage": -2}, "stage -2 does not exist"),
       ("SetStage", {"sourceName": "Card", "stage": 1.5}, "stage must be a whole number"),
       ("ToggleStage", {"sourceName": "Card", "stage": "1"}, "stage must be a whole number"),
       ("SetStage", {"sourceName": "Card", "stage": [1]}, "stage must be a whole number"),
       ("SetStage", {"sourceName": "Card", "stage": 18446744073709551615}, "does not exist")]


def test_bad_requests_change_nothing(obs):
    before = state(obs, "Card"), state(obs, "Other")
    for kind, data, error in BAD:
        answer = obs.vendor(kind, data)
        assert answer["success"] is False and error in answer["error"], (kind, data, answer)
    assert (state(obs, "Card"), state(obs, "Other")) == before
    expect_events(obs)


def test_clean_exit(obs):
    obs.listener.ws.close()
    obs.stop()
