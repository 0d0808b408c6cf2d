"""The automatic zoom in OBS Studio, on test_tracking's screen capture, zooming on
clicks: after each of three XTest clicks, screenshots show the window centred
there and GetState and StageChanged say "auto"; after the linger, the whole screen."""
import pytest

from conftest import SCREEN, Client
from test_tracking import expected, obs  # noqa: F401 (OBS with its captures)

WHOLE = (0, SCREEN[0], 0, SCREEN[1])


@pytest.fixture(scope="module")
def clicks(obs):  # noqa: F811
    obs.request("SetSourceFilterSettings", {"sourceName": "Screen", "filterName": "Tavimore Zoom", "filterSettings": {
        "idle_zoom_factor": 1.0, "idle_center_tracking": False, "idle_duration": 0.3, "stage_1_zoom_factor": 2.0,
        "stage_1_duration": 0.3, "auto_zoom": 1, "auto_zoom_linger": 4.0}})
    obs.listener = Client(subscriptions=1 << 9)
    return obs


@pytest.mark.parametrize("x, y", [(300, 200), (1000, 500), (1270, 700)])
def test_click_zooms_there_then_eases_back(clicks, x, y):
    shown = lambda: tuple(clicks.vendor("GetState", {"sourceName": "Screen"})[k] for k in ("stage", "auto"))
    clicks.shows("Screen", SCREEN, WHOLE)
    clicks.x.click(x, y)
    clicks.shows("Screen", SCREEN, expected(x, 0, 0, SCREEN[0]) + expected(y, 0, 0, SCREEN[1]))
    assert shown() == (1, True)
    clicks.shows("Screen", SCREEN, WHOLE)
    assert shown() == (0, False)
    changes = [e["eventData"] for e in clicks.listener.events(0.5) if e["eventType"] == "StageChanged"]
    assert [(c["stage"], c["auto"]) for c in changes] == [(1, True), (0, False)]
