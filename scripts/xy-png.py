#!/usr/bin/env python3
"""A picture whose pixels tell where they are, and the reading of it back.
Standard library only.

  xy-png.py make FILE     writes a 256x256 RGB PNG: red = x, green = y,
                          blue = 0
  xy-png.py window FILE   reads a PNG of that picture (cropped and scaled
                          any way) and prints the part of it that it shows:
                          "LEFT RIGHT TOP BOTTOM", the red of the middle of
                          the left and right edges and the green of the
                          middle of the top and bottom edges
"""
import struct
import sys
import zlib

SIZE = 256
SIGNATURE = b"\x89PNG\r\n\x1a\n"


def chunk(kind, data):
    body = kind + data
    return struct.pack("!I", len(data)) + body + \
        struct.pack("!I", zlib.crc32(body) & 0xFFFFFFFF)


def make(path):
    rows = b"".join(b"\x00" + bytes(v for x in range(SIZE) for v in (x, y, 0))
                    for y in range(SIZE))
    header = struct.pack("!IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(SIGNATURE + chunk(b"IHDR", header) +
                  chunk(b"IDAT", zlib.compress(rows, 9)) +
                  chunk(b"IEND", b""))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read(path):
    """(width, height, channels, rows): 8-bit grey/RGB, with or without
    alpha, not interlaced -- what OBS writes."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(SIGNATURE):
        raise ValueError("%s is not a PNG" % path)
    pos, idat, header = len(SIGNATURE), b"", None
    while pos < len(data):
        n, = struct.unpack("!I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + n]
        pos += 12 + n
        if kind == b"IHDR":
            header = struct.unpack("!IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    if header is None:
        raise ValueError("%s has no IHDR" % path)
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        raise ValueError("%s: unsupported PNG (depth %d, colour type %d, "
                         "interlace %d)" % (path, depth, colour, interlace))
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                line[i] = (line[i] + paeth(a, b, c)) & 0xFF
            elif kind != 0:
                raise ValueError("%s: unknown row filter %d" % (path, kind))
        rows.append(line)
        previous = line
    return width, height, channels, rows


def window(path):
    width, height, channels, rows = read(path)
    if channels < 3:
        raise ValueError("%s: grey picture, expected colour" % path)

    def pixel(x, y):
        return rows[y][x * channels:x * channels + 3]

    return (pixel(0, height // 2)[0], pixel(width - 1, height // 2)[0],
            pixel(width // 2, 0)[1], pixel(width // 2, height - 1)[1])


def main(argv):
    if len(argv) == 3 and argv[1] == "make":
        make(argv[2])
    elif len(argv) == 3 and argv[1] == "window":
        print(*window(argv[2]))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (OSError, ValueError, zlib.error) as error:
        print("xy-png: %s" % error, file=sys.stderr)
        sys.exit(1)
