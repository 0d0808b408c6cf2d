"""The per-user archive in Debian 12's OBS Studio (an overlay of this
machine's root without the Debian package, TAVIMORE_USER_ROOT): unpacked
into a private HOME's plug-in folder, it is the only copy OBS maps; OBS loads
the filter on an input and, on exit, saves the hotkeys the filter registered
there."""
import os
import subprocess

from conftest import Session, settles, source, zoom_filter

HOTKEYS = ["tavimore.stage_1", "tavimore.stage_2", "tavimore.idle_zoom_in", "tavimore.idle_zoom_out"]


def test_per_user_archive():
    obs = Session(os.environ["TAVIMORE_USER_ROOT"], [source("color_source_v3", "Card", {"color": 4282664004, "width": 640, "height": 360},
                               zoom_filter(stage_count=2, stage_1_zoom_factor=2.5, stage_1_center_x=0.3))])
    plugin = obs.config + "/plugins/tavimore-free"
    os.makedirs(obs.config + "/plugins")
    subprocess.run(["tar", "-xJf", os.environ["TAVIMORE_TARBALL"], "-C", obs.config + "/plugins"], check=True)
    for path in ("bin/64bit/tavimore-free.so", "data/zoom-crop.effect", "data/locale/en-US.ini"):
        assert os.path.isfile(plugin + "/" + path), path
    with obs:
        # the filter's first frames register its hotkeys
        assert settles(lambda: ("tavimore.stage_1" in obs.request("GetHotkeyList")["hotkeys"], None), 30, 1)[0]
        maps = obs.mapped_modules()
        obs.stop()
        assert maps == {plugin + "/bin/64bit/tavimore-free.so"}
        assert "- filter: 'Tavimore Zoom' (tavimore_filter)" in obs.log_text()
        assert set(HOTKEYS) <= set(obs.saved_hotkeys("Card"))
