"""OBS 32's plug-in manager (Tools → Plugin Manager), opened and used by real
X input, in OBS 32 and later: it lists the module by its manifest's name.
Switched off there, OBS restarts without the module's code or filter and
without an error, and the scene collection keeps the filter, its settings
and its key bindings; switched on again, the filter is back with all of
them. OBS keeps the switch in plugin_manager/modules.json of its user
config. TAVIMORE_SCREENSHOTS names a folder for a picture of the dialog."""
import json
import os
import signal
import subprocess
import time

import pytest
from PIL import Image
from Xlib import X
from Xlib.ext import xtest

from conftest import SCREEN, Session, settles, source, zoom_filter

KEYS = {"tavimore.stage_1": "OBS_KEY_F6", "tavimore.idle": "OBS_KEY_F7"}
# where OBS 32.2.2 puts the parts of its dialogs, from their top left corner:
# the first plug-in's box and OK in the plug-in manager, and "No" on the
# question whether to restart now
FIRST_BOX, OK, NO_RESTART = (194, 49), (709, 374), (420, 83)


def top_dialog(s):
    """The top left corner of the topmost window over OBS's main window
    (with no window manager, the dialog mapped last)."""
    root = s.x.display.screen().root
    for window in reversed(root.query_tree().children):
        attributes = window.get_attributes()
        if attributes.map_state != X.IsViewable or attributes.override_redirect:
            continue
        geometry = window.get_geometry()
        if geometry.width < SCREEN[0]:
            return geometry.x, geometry.y
    raise AssertionError("no dialog on the screen")


def obs_major(root):
    version = subprocess.run(["chroot", root, "dpkg-query", "-W", "-f=${Version}", "obs-studio"],
                             capture_output=True, text=True).stdout
    return int(version.split(".")[0] or 0)


def press(s, *keys):
    for key in keys:
        s.x.key(key, True)
    for key in reversed(keys):
        s.x.key(key, False)
    time.sleep(0.3)


def click(s, at):
    corner = top_dialog(s)
    s.x.move(corner[0] + at[0], corner[1] + at[1])
    for event in (X.ButtonPress, X.ButtonRelease):
        xtest.fake_input(s.x.display, event, 1)
        s.x.display.sync()
        time.sleep(0.1)
    time.sleep(0.5)


def switch_in_manager(s, picture=None):
    """Tools → Plugin Manager, the module's box, OK, and no restart now."""
    # OBS's window takes keys once it has been up a moment
    time.sleep(max(0.0, s.ready + 3 - time.monotonic()))
    s.x.move(640, 360)
    press(s, "OBS_KEY_Alt_L", "OBS_KEY_t")
    press(s, "OBS_KEY_Down")
    press(s, "OBS_KEY_Return")
    time.sleep(1.5)
    if picture:
        raw = s.x.display.screen().root.get_image(0, 0, *SCREEN, X.ZPixmap, 0xffffffff)
        Image.frombytes("RGB", SCREEN, raw.data, "raw", "BGRX").save(picture)
    click(s, FIRST_BOX)
    click(s, OK)
    time.sleep(1)
    click(s, NO_RESTART)


def switched(s, enabled):
    """The module's entry in OBS's plug-in manager's file, once it says
    `enabled` (OBS writes it when the dialog closes)."""
    def probe():
        try:
            with open(s.config + "/plugin_manager/modules.json") as f:
                entry = next(m for m in json.load(f) if m["module_name"] == "tavimore-free")
        except (OSError, ValueError, StopIteration):
            return False, None
        return entry["enabled"] is enabled, entry
    return settles(probe, 10, 1)[1]


def restart(s):
    """OBS again, with the same HOME, under a new X server."""
    s.x.close()
    s.xvfb.send_signal(signal.SIGINT)
    s.xvfb.wait(15)
    s.start()


def test_switched_off_and_on_in_the_plugin_manager(obs_root):
    if obs_major(obs_root) < 32:
        pytest.skip("OBS before 32 has no plug-in manager")
    s = Session(obs_root, [source("color_source_v3", "Card", {"color": 4282664004, "width": 640, "height": 360},
                                  zoom_filter(stage_count=2, stage_1_zoom_factor=2.5), hotkeys=KEYS)])
    shots = os.environ.get("TAVIMORE_SCREENSHOTS")
    with s:
        assert settles(lambda: ("tavimore.stage_1" in s.request("GetHotkeyList")["hotkeys"], None), 30, 1)[0]
        switch_in_manager(s, shots and shots + "/plugin-manager.png")
        entry = switched(s, False)
        assert (entry["display_name"], entry["id"], entry["version"], entry["enabled"]) == (
            "Tavimore Zoom", "tavimore-free", "1.0.0", False)
        s.stop()

        restart(s)
        assert "Skipping module 'tavimore-free', is disabled" in s.log_text()
        assert not s.module_lines()
        assert not s.mapped_modules()
        assert "tavimore_filter" not in s.request("GetSourceFilterKindList")["sourceFilterKinds"]
        assert not [n for n in s.request("GetHotkeyList")["hotkeys"] if n.startswith("tavimore.")]
        switch_in_manager(s, shots and shots + "/plugin-manager-off.png")
        assert switched(s, True)["enabled"] is True
        s.client.ws.close()
        time.sleep(max(0.0, s.ready + 3 - time.monotonic()))
        s.obs.send_signal(signal.SIGINT)
        assert s.obs.wait(30) == 0, s.output()
        log = s.log_text()
        assert "Number of memory leaks: 0" in log
        assert not [line for line in log.splitlines() if "error" in line.lower()], log
        with open(s.collection) as f:
            card = next(x for x in json.load(f)["sources"] if x["name"] == "Card")
        kept = next(f for f in card["filters"] if f["name"] == "Tavimore Zoom")
        assert kept["id"] == "tavimore_filter" and kept["settings"]["stage_1_zoom_factor"] == 2.5
        assert {n: b[0]["key"] for n, b in card["hotkeys"].items() if n in KEYS} == KEYS

        restart(s)
        assert settles(lambda: ("tavimore.stage_1" in s.request("GetHotkeyList")["hotkeys"], None), 30, 1)[0]
        settings = s.request("GetSourceFilter", {"sourceName": "Card", "filterName": "Tavimore Zoom"})
        assert settings["filterKind"] == "tavimore_filter"
        assert settings["filterSettings"]["stage_1_zoom_factor"] == 2.5
        s.stop()
        assert {n: b[0]["key"] for n, b in s.saved_hotkeys("Card").items() if n in KEYS} == KEYS
