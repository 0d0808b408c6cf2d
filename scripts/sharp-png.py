#!/usr/bin/env python3
"""A sharp-edged picture, and the check of a zoomed screenshot of it against
bilinear sampling in linear light. Standard library only.

  sharp-png.py make FILE
      writes a 256x256 RGB PNG: black and white strokes one to four pixels
      wide in the top half, saturated colour blocks in the bottom half
  sharp-png.py compare FILE SHOT ZOOM CENTER_X CENTER_Y TOLERANCE
      reads SHOT, a screenshot of FILE zoomed by ZOOM around the centre (in
      fractions of the picture, kept so that the window stays inside it),
      and compares every channel of every pixel with the reference; prints
      the largest difference and exits 1 when it exceeds TOLERANCE
"""
import importlib.util
import math
import os
import sys

SIZE = 256
PALETTE = [(0, 0, 0), (255, 255, 255), (255, 0, 0), (0, 0, 255),
           (0, 255, 0), (255, 0, 255), (255, 255, 0), (0, 0, 0)]

found = importlib.util.spec_from_file_location(
    "xy_png", os.path.join(os.path.dirname(os.path.abspath(__file__)),
                           "xy-png.py"))
xy_png = importlib.util.module_from_spec(found)
found.loader.exec_module(xy_png)


def colour(x, y):
    if y < SIZE // 2:
        index = ((x // (1 + x % 4)) ^ (y // 3)) & 1
    else:
        index = 2 + ((x // 5) ^ (y // 7)) % 6
    return PALETTE[index]


def make(path):
    rows = b"".join(b"\x00" + bytes(v for x in range(SIZE)
                                    for v in colour(x, y))
                    for y in range(SIZE))
    header = xy_png.struct.pack("!IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(xy_png.SIGNATURE + xy_png.chunk(b"IHDR", header) +
                  xy_png.chunk(b"IDAT", xy_png.zlib.compress(rows, 9)) +
                  xy_png.chunk(b"IEND", b""))


def to_linear(level):
    v = level / 255.0
    return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4


def to_level(v):
    v = min(max(v, 0.0), 1.0)
    v = v * 12.92 if v <= 0.0031308 else 1.055 * v ** (1 / 2.4) - 0.055
    return 255.0 * v


def compare(picture, shot, zoom, center_x, center_y, tolerance):
    width, height, channels, rows = xy_png.read(shot)
    if (width, height) != (SIZE, SIZE) or channels < 3:
        print("the screenshot is %dx%d with %d channels, expected %dx%d "
              "colour" % (width, height, channels, SIZE, SIZE))
        return 1
    _, _, source_channels, source = xy_png.read(picture)
    linear = [[[to_linear(source[y][x * source_channels + c])
                for c in range(3)] for x in range(SIZE)]
              for y in range(SIZE)]
    half = 0.5 / max(1.0, zoom)
    left = min(max(center_x, half), 1 - half) - half
    top = min(max(center_y, half), 1 - half) - half

    def clamp(i):
        return min(max(i, 0), SIZE - 1)

    largest, worst, far = 0.0, None, 0
    for y in range(SIZE):
        v = (top + 2 * half * (y + 0.5) / SIZE) * SIZE - 0.5
        y0 = math.floor(v)
        tv = v - y0
        for x in range(SIZE):
            u = (left + 2 * half * (x + 0.5) / SIZE) * SIZE - 0.5
            x0 = math.floor(u)
            tu = u - x0
            a, b = linear[clamp(y0)][clamp(x0)], linear[clamp(y0)][clamp(x0 + 1)]
            c, d = linear[clamp(y0 + 1)][clamp(x0)], \
                linear[clamp(y0 + 1)][clamp(x0 + 1)]
            for ch in range(3):
                top_row = a[ch] * (1 - tu) + b[ch] * tu
                bottom_row = c[ch] * (1 - tu) + d[ch] * tu
                want = to_level(top_row * (1 - tv) + bottom_row * tv)
                off = abs(rows[y][x * channels + ch] - want)
                if off > tolerance + 1e-6:
                    far += 1
                if off > largest:
                    largest, worst = off, (x, y, ch,
                                           rows[y][x * channels + ch], want)
    if worst is None:
        print("no difference")
    else:
        print("largest difference %.2f levels (pixel (%d, %d) channel %d is "
              "%d, reference %.2f); %d channels more than %g apart" %
              ((largest,) + worst + (far, tolerance)))
    return 0 if largest <= tolerance else 1


def main(argv):
    if len(argv) == 3 and argv[1] == "make":
        make(argv[2])
        return 0
    if len(argv) == 8 and argv[1] == "compare":
        return compare(argv[2], argv[3], *map(float, argv[4:8]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (OSError, ValueError) as error:
        print("sharp-png: %s" % error, file=sys.stderr)
        sys.exit(1)
