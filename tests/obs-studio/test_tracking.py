"""Centre tracking in OBS Studio: screen captures (the kind this OBS offers:
xshm_input_v2 from OBS 31 on, xshm_input before) of OBS's own X display,
whose whole screen shows a ramps picture in a window above OBS's, one of the
whole screen and one with cut margins; the idle view of each tracks the
pointer at zoom 2. Moving the pointer (XTest) moves the view: each
screenshot shows the window centred on the pointer, within 1.5 px, or
stopped at the captured area's edge."""
import pytest

from conftest import SCREEN, Session, ramps

CAPTURES = {"Screen": (0, 0, 0, 0), "Cut": (320, 90, 0, 0)}  # cut left, top, right, bottom


@pytest.fixture(scope="module")
def obs(obs_root):
    with Session(obs_root, []) as session:
        kinds = session.request("GetInputKindList")["inputKinds"]
        kind = "xshm_input_v2" if "xshm_input_v2" in kinds else "xshm_input"
        for name, (left, top, right, bottom) in CAPTURES.items():
            session.request("CreateInput", {
                "sceneName": "Scene", "inputName": name, "inputKind": kind, "inputSettings": {
                    "screen": 0, "show_cursor": False, "cut_left": left, "cut_top": top,
                    "cut_right": right, "cut_bottom": bottom}})
            session.request("CreateSourceFilter", {
                "sourceName": name, "filterName": "Tavimore Zoom", "filterKind": "tavimore_filter",
                "filterSettings": {"idle_zoom_factor": 2.0, "idle_center_tracking": True,
                                   "tracking_smoothing": 0.1, "tracking_dead_zone": 0.0}})
        session.x.cover(ramps(*SCREEN))
        yield session


def expected(pointer, cut_first, cut_last, size):
    """The screen pixels (edges) that zoom 2 shows on one axis, centred on the pointer."""
    area = size - cut_first - cut_last
    center = min(max(pointer + 0.5 - cut_first, area / 4), area * 3 / 4) + cut_first
    return center - area / 4, center + area / 4


@pytest.mark.parametrize("capture", CAPTURES)
@pytest.mark.parametrize("x, y", [(640, 360), (384, 432), (900, 250), (1275, 5), (0, 360)],
                         ids=["middle", "left-down", "right-up", "top-right-corner", "left-edge"])
def test_view_follows_pointer(obs, capture, x, y):
    left, top, right, bottom = CAPTURES[capture]
    obs.x.move(x, y)
    obs.shows(capture, SCREEN, expected(x, left, right, SCREEN[0]) + expected(y, top, bottom, SCREEN[1]))


def test_clean_exit(obs):
    obs.stop()
    assert "pointer sampler started" in obs.log_text() and "pointer sampler stopped" in obs.log_text()
