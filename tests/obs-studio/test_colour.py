"""Colour in OBS Studio: an image input showing a sharp-edged picture (black
and white strokes one to four pixels wide, saturated colour blocks) with the
filter at zoom 2. Its screenshot must match bilinear sampling of the picture
in linear light, computed here, within one level in every channel, as OBS's
own crop and scale filters do."""
import numpy as np
import pytest
from PIL import Image

from conftest import Session, image, settles, zoom_filter

ZOOM, CENTER_X, CENTER_Y, SIZE = 2.0, 0.3, 0.6, 256
PALETTE = np.array([(0, 0, 0), (255, 255, 255), (255, 0, 0), (0, 0, 255),
                    (0, 255, 0), (255, 0, 255), (255, 255, 0), (0, 0, 0)], np.uint8)


def sharp():
    y, x = np.mgrid[0:SIZE, 0:SIZE]
    strokes = ((x // (1 + x % 4)) ^ (y // 3)) & 1
    blocks = 2 + ((x // 5) ^ (y // 7)) % 6
    return PALETTE[np.where(y < SIZE // 2, strokes, blocks)]


def reference(rgb):
    """The zoomed window, sampled bilinearly in linear light, as sRGB levels."""
    v = rgb / 255.0
    linear = np.where(v <= 0.04045, v / 12.92, ((v + 0.055) / 1.055) ** 2.4)
    half = 0.5 / ZOOM

    def taps(center):  # the two neighbours and the weight of the second, per output pixel
        at = (np.clip(center, half, 1 - half) - half + 2 * half * (np.arange(SIZE) + 0.5) / SIZE) * SIZE - 0.5
        first = np.floor(at).astype(int)
        return np.clip(first, 0, SIZE - 1), np.clip(first + 1, 0, SIZE - 1), (at - first)[:, None]

    x0, x1, tx = taps(CENTER_X)
    y0, y1, ty = taps(CENTER_Y)
    rows = linear[y0] * (1 - ty[:, :, None]) + linear[y1] * ty[:, :, None]
    out = np.clip(rows[:, x0] * (1 - tx) + rows[:, x1] * tx, 0, 1)
    return 255 * np.where(out <= 0.0031308, out * 12.92, 1.055 * out ** (1 / 2.4) - 0.055)


@pytest.fixture(scope="module")
def obs(obs_root):
    session = Session(obs_root, [])
    Image.fromarray(sharp()).save(session.work + "/sharp.png")
    session.inputs.append(image("Card", session.inside(session.work + "/sharp.png"), zoom_filter(
        tracking_smoothing=0.0, idle_zoom_factor=ZOOM, idle_center_x=CENTER_X, idle_center_y=CENTER_Y)))
    with session:
        yield session


def test_zoomed_screenshot_matches_linear_light_reference(obs):
    want = reference(sharp())

    def probe():  # the centre glides in from the middle
        shot = np.asarray(obs.screenshot("Card").convert("RGB"), float)
        if shot.shape != want.shape:
            return False, "the screenshot is %s, expected %s" % (shot.shape, want.shape)
        off = np.abs(shot - want)
        y, x, c = np.unravel_index(off.argmax(), off.shape)
        return off.max() <= 1, "largest difference %.2f levels (pixel (%d, %d) channel %d), %d channels more " \
            "than 1 level apart" % (off.max(), x, y, c, (off > 1).sum())
    ok, seen = settles(probe, times=1)
    assert ok, seen


def test_clean_exit(obs):
    obs.stop()
