"""Face following in OBS Studio: OBS's media source plays a video made by
scripts/face-media.sh from a real photo (the astronaut's head on a grey
640x360 canvas, still at the left for 6 s, then moved right within 2 s and
still there), restarted by the test; the idle view of the zoom filter on it
(zoom 3, tracking on, "auto": a face on a media source) comes to rest on the
face at the left, then on the face at the right, as GetState reports its
centre, and the screenshot shows her face in the middle of the view. A
second video shows the head at full size, then at 0.6 times the size: a view
that frames the face zooms to each size."""
import os
import subprocess

import numpy as np
import pytest

from conftest import Session, settles, source, zoom_filter

FACE_Y = 52 + 127      # the face's centre in the video, in pixels
FACE_X = (127, 511)    # at the left, then at the right
NEAR = 8.8             # a tenth of the face's width: dlib's boxes lie on 8-pixel cells
GREY = 0x5a


@pytest.fixture(scope="module")
def obs(obs_root):
    session = Session(obs_root, [])
    subprocess.run(["bash", "scripts/face-media.sh", session.work, "suite"], check=True)
    session.inputs.append(source("ffmpeg_source", "Face", {
        "is_local_file": True, "local_file": session.inside(session.work + "/suite.mp4"),
        "looping": False, "clear_on_media_end": False}, zoom_filter(
            idle_zoom_factor=3.0, idle_center_tracking=True, tracking_dead_zone=0.0,
            tracking_smoothing=0.0)))
    # framing: the face 88 pixels tall for 6 s, then 53
    session.inputs.append(source("ffmpeg_source", "Framing", {
        "is_local_file": True, "local_file": session.inside(session.work + "/suite-framing.mp4"),
        "looping": False, "clear_on_media_end": False}, zoom_filter(
            idle_center_tracking=True, idle_face_framing=True, idle_face_share=0.5,
            tracking_dead_zone=0.0, tracking_smoothing=0.0)))
    with session:
        yield session


def rests_on(obs, x, seconds):
    def probe():
        state = obs.vendor("GetState", {"sourceName": "Face"})
        seen = (state["centerX"] * 640, state["centerY"] * 360)
        return abs(seen[0] - x) <= NEAR and abs(seen[1] - FACE_Y) <= NEAR, seen
    ok, seen = settles(probe, seconds=seconds, times=3)
    assert ok, "the view's centre is at %.1f, %.1f; the face at %d, %d" % (seen + (x, FACE_Y))


def test_view_follows_the_face(obs):
    obs.request("TriggerMediaInputAction", {
        "inputName": "Face", "mediaAction": "OBS_WEBSOCKET_MEDIA_INPUT_ACTION_RESTART"})
    rests_on(obs, FACE_X[0], seconds=6)
    shot = np.asarray(obs.screenshot("Face").convert("RGB"), float)
    h, w = shot.shape[:2]
    assert np.abs(shot[h // 3:2 * h // 3, w // 3:2 * w // 3] - GREY).max() > 40, "no face in the view"
    rests_on(obs, FACE_X[1], seconds=8)


def test_framing_zooms_to_the_faces_size(obs):
    """Half the view's height: 0.5 * 360 / 88 = 2.05 times, then 3.4 once the
    face is 0.6 times the size; within a quarter, as dlib's boxes come in
    steps of a fifth, and the second zoom well above the first."""
    obs.request("TriggerMediaInputAction", {
        "inputName": "Framing", "mediaAction": "OBS_WEBSOCKET_MEDIA_INPUT_ACTION_RESTART"})
    settled = []
    for want, seconds in ((2.05, 6), (3.4, 10)):
        def probe():
            zoom = obs.vendor("GetState", {"sourceName": "Framing"})["shownZoom"]
            return want / 1.25 <= zoom <= want * 1.25, zoom
        ok, zoom = settles(probe, seconds=seconds, times=3)
        assert ok, "the zoom is %.2f, not %.2f" % (zoom, want)
        settled.append(zoom)
    assert settled[1] > settled[0] * 1.25, settled


def test_clean_exit(obs):
    obs.stop()
