"""OBS Studio quit with SIGINT right after a scenario, again and again, to
catch what its own shutdown says about sources that outlived it (Session.stop
checks the log). Runs only when asked for:
  TAVIMORE_QUIT_RUNS=20 TAVIMORE_OBS_RELEASES=sid \\
      bash scripts/test.d/50-obs-studio.sh tests/obs-studio/test_quit.py -k sid
Inputs: "pattern" (zoom filter "Zoom A", 3 stages, stage 1 a hold stage,
stage 2 a 2 s transition), "other" (zoom filter "Zoom B" and a crop filter)
and "plain" (none). A client subscribed to vendor events stays connected
through the quit."""
import os
import threading
import time

import pytest
from PIL import Image

from conftest import Client, Session, image, ramps, zoom_filter


def remote(obs):
    vendor, trigger = obs.vendor, lambda name: obs.request("TriggerHotkeyByName", {"hotkeyName": name})
    vendor("SetStage", {"sourceName": "pattern", "stage": 2})
    vendor("GetState", {"sourceName": "other"})
    vendor("ToggleStage", {"sourceName": "other", "filterName": "Zoom B", "stage": 1})
    vendor("ToggleStage", {"sourceName": "other", "stage": 1})
    trigger("tavimore.stage_3")
    vendor("SetStage", {"sourceName": "other", "stage": 2})
    trigger("tavimore.idle")
    trigger("tavimore.stage_1")  # the hold stage
    vendor("SetStage", {"sourceName": "pattern", "stage": 3})
    obs.request("SetSourceFilterSettings", {"sourceName": "pattern", "filterName": "Zoom A",
                                            "filterSettings": {"stage_count": 2}})
    for bad in ({"stage": 1}, {"sourceName": "nowhere", "stage": 1},
                {"sourceName": "plain", "stage": 1}, {"sourceName": "pattern", "stage": 9}):
        vendor("SetStage", bad)

    def burst(n):  # three clients at once
        own = Client()
        for i in range(20):
            for kind, data in (("SetStage", {"sourceName": "pattern", "stage": (i + n) % 3}),
                               ("GetState", {"sourceName": "pattern"})):
                own.request("CallVendorRequest", {"vendorName": "tavimore", "requestType": kind, "requestData": data})
        own.ws.close()
    threads = [threading.Thread(target=burst, args=(n,)) for n in range(3)]
    [t.start() for t in threads]
    [t.join() for t in threads]
    obs.request("RemoveSourceFilter", {"sourceName": "other", "filterName": "Zoom B"})
    vendor("GetState", {"sourceName": "pattern"})
    time.sleep(0.5)


def plain(obs):
    obs.request("TriggerHotkeyByName", {"hotkeyName": "tavimore.stage_2"})
    time.sleep(0.5)


def transition_remove(obs):
    obs.vendor("SetStage", {"sourceName": "pattern", "stage": 2})
    time.sleep(0.3)
    obs.request("RemoveSourceFilter", {"sourceName": "pattern", "filterName": "Zoom A"})


@pytest.mark.parametrize("run", range(int(os.environ["TAVIMORE_QUIT_RUNS"])))
@pytest.mark.parametrize("scenario", [remote, plain, transition_remove], ids=lambda s: s.__name__)
def test_quit_after(obs_root, scenario, run):
    obs = Session(obs_root, [])
    Image.fromarray(ramps(256, 256)).save(obs.work + "/xy.png")
    picture = obs.inside(obs.work + "/xy.png")
    crop = {"id": "crop_filter", "versioned_id": "crop_filter", "name": "Crop", "settings": {}}
    obs.inputs += [image("pattern", picture, zoom_filter("Zoom A", stage_count=3, stage_1_hold=True,
                                                         stage_2_name="Close-up", stage_2_duration=2.0)),
                   image("other", picture, zoom_filter("Zoom B", stage_count=2, stage_1_hold=True,
                                                       stage_2_name="Close-up", stage_2_duration=2.0), crop),
                   image("plain", picture)]
    with obs:
        events = Client(subscriptions=1 << 9)  # read by nobody: kept open through the quit
        scenario(obs)
        obs.stop()
        events.ws.close()
