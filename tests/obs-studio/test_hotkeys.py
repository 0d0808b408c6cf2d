"""The filter's hotkeys in OBS Studio: the input lists its stage toggles,
the idle hold keys and the return to idle; a triggered stage key shows that
stage's window of the input, and again the whole picture; real keys bound in
the scene collection hold the idle zoom keys and a hold stage; on exit OBS
saves the hotkeys with the input. The input is a ramps picture, so a
screenshot of it tells which window the filter shows."""
import pytest
from PIL import Image

from conftest import Session, image, ramps, settles, zoom_filter

STAGES = 3
NAMES = ["tavimore.idle_zoom_in", "tavimore.idle_zoom_out", "tavimore.idle"] + [
    "tavimore.stage_%d" % i for i in range(1, STAGES + 1)]
KEYS = {"tavimore.idle_zoom_in": "OBS_KEY_F6", "tavimore.idle_zoom_out": "OBS_KEY_F7",
        "tavimore.stage_3": "OBS_KEY_F8"}
SIZE = (256, 256)
WHOLE = (0, 256, 0, 256)
STAGE_1 = (0, 128, 128, 256)  # the lower left quarter
STAGE_2 = (192, 256, 0, 64)  # the upper right sixteenth
STAGE_3 = (64, 192, 64, 192)  # the middle: a hold stage


@pytest.fixture(scope="module")
def obs(obs_root):
    session = Session(obs_root, [])
    Image.fromarray(ramps(*SIZE)).save(session.work + "/xy.png")
    session.inputs.append(image("Card", session.inside(session.work + "/xy.png"), zoom_filter(
        stage_count=STAGES, tracking_smoothing=0.1, stage_1_zoom_factor=2.0, stage_1_center_x=0.25,
        stage_1_center_y=0.75, stage_1_duration=0.5, stage_2_zoom_factor=4.0, stage_2_center_x=0.875,
        stage_2_center_y=0.125, stage_3_hold=True), hotkeys=KEYS))
    with session:
        yield session


def test_hotkeys_listed_once(obs):
    ok, names = settles(lambda: ("tavimore.idle_zoom_out" in (n := obs.request("GetHotkeyList")["hotkeys"]), n),
                        times=1)
    for name in NAMES:
        assert names.count(name) == 1, name
    assert "tavimore.stage_%d" % (STAGES + 1) not in names


@pytest.mark.parametrize("hotkey, window", [
    (None, WHOLE), ("tavimore.stage_1", STAGE_1), ("tavimore.stage_1", WHOLE), ("tavimore.stage_2", STAGE_2),
    ("tavimore.stage_1", STAGE_1),  # from stage 2 straight to stage 1
    ("tavimore.stage_1", WHOLE)], ids=["rest", "stage-1", "back", "stage-2", "stage-2-to-1", "back-again"])
def test_stage_keys(obs, hotkey, window):
    if hotkey:
        obs.request("TriggerHotkeyByName", {"hotkeyName": hotkey})
    obs.shows("Card", SIZE, window)


def zoom(obs):
    return obs.vendor("GetState", {"sourceName": "Card"})["targetZoom"]


@pytest.mark.parametrize("hotkey, change", [("tavimore.idle_zoom_out", -0.6), ("tavimore.idle_zoom_in", 0.6)], ids=["out", "in"])
def test_idle_zoom_held(obs, hotkey, change):
    """Held for a second, a hold key moves the idle zoom by its rate, 0.6 a second."""
    obs.request("SetSourceFilterSettings", {"sourceName": "Card", "filterName": "Tavimore Zoom",
                                            "filterSettings": {"idle_zoom_factor": 2.0}})
    assert settles(lambda: (zoom(obs) == 2.0, None), times=1)[0]
    obs.hold(KEYS[hotkey], 1.0)
    reached = [zoom(obs)]  # once OBS has seen the release, the zoom stays
    assert settles(lambda: (reached.append(zoom(obs)) or reached[-1] == reached[-2], None), 5)[0]
    assert abs(reached[-1] - 2.0 - change) < 0.12, reached[-1]
    # and the filter's settings keep it
    saved = obs.request("GetSourceFilter", {"sourceName": "Card", "filterName": "Tavimore Zoom"})["filterSettings"]
    assert abs(saved["idle_zoom_factor"] - reached[-1]) < 1e-6


def test_hold_stage(obs):
    """A hold stage shows while its key is down, and the idle view after."""
    obs.request("SetSourceFilterSettings", {"sourceName": "Card", "filterName": "Tavimore Zoom",
                                            "filterSettings": {"idle_zoom_factor": 1.0}})
    obs.shows("Card", SIZE, WHOLE)

    def while_held():
        obs.shows("Card", SIZE, STAGE_3)
        assert obs.vendor("GetState", {"sourceName": "Card"})["stage"] == 3
    obs.hold(KEYS["tavimore.stage_3"], 1.0, while_held)
    assert settles(lambda: (obs.vendor("GetState", {"sourceName": "Card"})["stage"] == 0, None), 5, 1)[0]
    obs.shows("Card", SIZE, WHOLE)


def test_clean_exit_saves_hotkeys(obs):
    maps = obs.mapped_modules()
    obs.stop()
    assert maps == {obs.root + "/usr/lib/x86_64-linux-gnu/obs-plugins/tavimore-free.so"}  # the package's
    assert set(NAMES) <= set(obs.saved_hotkeys("Card"))
