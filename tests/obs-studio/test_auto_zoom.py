"""The automatic zoom in OBS Studio: a screen capture of OBS's own X display,
whose screen shows a ramps picture, zooms on clicks (stage 1 at zoom 2, 4 s of
linger). After each of three XTest clicks at places of the test's choosing,
screenshots show the window centred on the click (within 1.5 px, or stopped at
the screen's edge) and GetState and StageChanged say "auto"; after the linger
time, the whole screen again."""
import pytest

from conftest import SCREEN, Client, Session, ramps
from test_tracking import expected

WHOLE = (0, SCREEN[0], 0, SCREEN[1])


@pytest.fixture(scope="module")
def obs(obs_root):
    with Session(obs_root, []) as session:
        kinds = session.request("GetInputKindList")["inputKinds"]
        kind = "xshm_input_v2" if "xshm_input_v2" in kinds else "xshm_input"
        session.request("CreateInput", {
            "sceneName": "Scene", "inputName": "Screen", "inputKind": kind,
            "inputSettings": {"screen": 0, "show_cursor": False}})
        session.request("CreateSourceFilter", {
            "sourceName": "Screen", "filterName": "Tavimore Zoom", "filterKind": "tavimore_filter",
            "filterSettings": {"stage_1_zoom_factor": 2.0, "stage_1_duration": 0.3, "idle_duration": 0.3,
                               "tracking_smoothing": 0.1, "tracking_dead_zone": 0.0,
                               "auto_zoom": 1, "auto_zoom_linger": 4.0}})
        session.x.cover(ramps(*SCREEN))
        session.listener = Client(subscriptions=1 << 9)
        yield session


@pytest.mark.parametrize("x, y", [(300, 200), (1000, 500), (1270, 700)],
                         ids=["upper-left", "lower-right", "corner"])
def test_click_zooms_there_then_eases_back(obs, x, y):
    def shown():
        state = obs.vendor("GetState", {"sourceName": "Screen"})
        return state["stage"], state["auto"]
    obs.shows("Screen", SCREEN, WHOLE)
    obs.x.click(x, y)
    obs.shows("Screen", SCREEN, expected(x, 0, 0, SCREEN[0]) + expected(y, 0, 0, SCREEN[1]))
    assert shown() == (1, True)
    obs.shows("Screen", SCREEN, WHOLE)
    assert shown() == (0, False)
    changes = [e["eventData"] for e in obs.listener.events(0.5) if e["eventType"] == "StageChanged"]
    assert [(c["stage"], c["auto"]) for c in changes] == [(1, True), (0, False)]
