#!/usr/bin/env python3
"""Draws Pellimar's application icon, the fax sheet of the busy animation seen
from the front, as PNG files in the hicolor icon theme's sizes.

The sheet is drawn by the same code as the animation frames, sampled at each
size with 4 x 4 subpixels, so every size is sharp and matches the animation.

    tools/make_pellimar_icons.py --output-dir DIR [--sizes 16 22 ... 256]
writes DIR/16x16/apps/pellimar.png ... DIR/256x256/apps/pellimar.png.
"""

import argparse
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_pellimar_ani as ani  # noqa: E402

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
SUBPIXELS = 4


def sample(x, y):
    """Colour (r, g, b) of the front-facing sheet at (x, y) in the animation's
    32 x 32 frame, or None where the frame is transparent."""
    u = (x - ani.SIZE / 2.0) / ani.SHEET_HALF_WIDTH
    v = (y - ani.SIZE / 2.0) / ani.SHEET_HALF_HEIGHT
    if abs(u) > 1.0 or abs(v) > 1.0:
        return None
    blue, green, red = ani.PALETTE[ani.sheet_pixel(u, v, True)]
    return red, green, blue


def render(size):
    """Rows of RGBA bytes, top row first."""
    scale = ani.SIZE / size
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            red = green = blue = covered = 0
            for sy in range(SUBPIXELS):
                for sx in range(SUBPIXELS):
                    colour = sample((px + (sx + 0.5) / SUBPIXELS) * scale, (py + (sy + 0.5) / SUBPIXELS) * scale)
                    if colour is None:
                        continue
                    red, green, blue = red + colour[0], green + colour[1], blue + colour[2]
                    covered += 1
            if covered:
                row += bytes((red // covered, green // covered, blue // covered, 255 * covered // SUBPIXELS ** 2))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    pixels = zlib.compress(b"".join(b"\0" + row for row in rows), 9)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels) + chunk(b"IEND", b"")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output-dir", required=True)
    parser.add_argument("--sizes", type=int, nargs="+", default=SIZES)
    args = parser.parse_args()
    for size in args.sizes:
        folder = os.path.join(args.output_dir, "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "pellimar.png"), "wb") as out:
            out.write(png(size, render(size)))


if __name__ == "__main__":
    main()
