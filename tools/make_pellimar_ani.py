#!/usr/bin/env python3
"""Draws Pellimar's busy animation, a fax sheet turning about its upright axis,
and writes it as an animated icon (RIFF ANI) file.

Each frame is a 32 x 32 icon with 16 colours and a transparency mask, the
classic layout whose frame chunk is 766 bytes. The output is deterministic, so
the committed resource can be checked against a fresh run.

    tools/make_pellimar_ani.py [--output app/ui/resources/pellimar.ani]
"""

import argparse
import math
import os
import struct

SIZE = 32
FRAMES = 8
RATE_JIFFIES = 8  # 1/60 s each: a frame stays 5 ticks of 20 ms, one turn takes 0.8 s
TITLE = b"Pellimar busy"
AUTHOR = b"Pellimar"

# The 16-colour palette as (blue, green, red).
PALETTE = [
    (0x00, 0x00, 0x00), (0x00, 0x00, 0x80), (0x00, 0x80, 0x00), (0x00, 0x80, 0x80),
    (0x80, 0x00, 0x00), (0x80, 0x00, 0x80), (0x80, 0x80, 0x00), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0x00, 0x00, 0xFF), (0x00, 0xFF, 0x00), (0x00, 0xFF, 0xFF),
    (0xFF, 0x00, 0x00), (0xFF, 0x00, 0xFF), (0xFF, 0xFF, 0x00), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GREY, WHITE = 0, 4, 7, 8, 15

SHEET_HALF_WIDTH = 10.0
SHEET_HALF_HEIGHT = 13.0
PERSPECTIVE = 0.18  # how much taller the nearer edge looks


def sheet_pixel(u, v, front):
    """Colour of the sheet at (u, v), both in -1..1, seen from the front or back."""
    col = (u + 1.0) / 2.0 * (2 * SHEET_HALF_WIDTH)
    row = (v + 1.0) / 2.0 * (2 * SHEET_HALF_HEIGHT)
    if col < 1.0 or col > 2 * SHEET_HALF_WIDTH - 1.0 or row < 1.0 or row > 2 * SHEET_HALF_HEIGHT - 1.0:
        return BLACK
    if not front:
        return SILVER
    # Folded top-right corner.
    if col + (2 * SHEET_HALF_HEIGHT - row) > 2 * SHEET_HALF_WIDTH + 2 * SHEET_HALF_HEIGHT - 6:
        return GREY
    # Header band with the sender line, then lines of text.
    if 2.5 <= row < 6.0 and 3.0 <= col < 2 * SHEET_HALF_WIDTH - 6:
        return NAVY
    if row >= 8.0 and int(row) % 3 == 0 and 3.0 <= col < 2 * SHEET_HALF_WIDTH - 3:
        return GREY
    return WHITE


def draw_frame(index):
    """Returns (colour rows, transparent rows), top row first."""
    angle = 2.0 * math.pi * index / FRAMES
    half_width = SHEET_HALF_WIDTH * abs(math.cos(angle))
    front = math.cos(angle) >= 0.0
    colours = [[BLACK] * SIZE for _ in range(SIZE)]
    transparent = [[True] * SIZE for _ in range(SIZE)]
    for y in range(SIZE):
        for x in range(SIZE):
            dx = x + 0.5 - SIZE / 2.0
            dy = y + 0.5 - SIZE / 2.0
            if half_width < 0.75:
                # Edge on: the sheet is a thin upright line.
                inside = abs(dx) < 0.75 and abs(dy) <= SHEET_HALF_HEIGHT
                if inside:
                    colours[y][x] = BLACK
                    transparent[y][x] = False
                continue
            u = dx / half_width
            if abs(u) > 1.0:
                continue
            # The side turning towards the viewer looks taller.
            depth = u * math.sin(angle) * (1.0 if front else -1.0)
            v = dy / (SHEET_HALF_HEIGHT * (1.0 + PERSPECTIVE * depth))
            if abs(v) > 1.0:
                continue
            colours[y][x] = sheet_pixel(u if front else -u, v, front)
            transparent[y][x] = False
    return colours, transparent


def icon_image(colours, transparent):
    """The icon resource image: bitmap header, palette, colour bits, mask bits."""
    colour_stride = (SIZE * 4 + 31) // 32 * 4
    mask_stride = (SIZE + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom row first
        row = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x in range(SIZE):
            colour = 0 if transparent[y][x] else colours[y][x]
            row[x // 2] |= colour << (4 if x % 2 == 0 else 0)
            if transparent[y][x]:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += row
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for b, g, r in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def icon_file(image):
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def chunk(ident, data):
    padded = data + (b"\0" if len(data) % 2 else b"")
    return ident + struct.pack("<I", len(data)) + padded


def text_chunk(ident, text):
    return chunk(ident, text + b"\0")


def animation():
    info = b"INFO" + text_chunk(b"INAM", TITLE) + text_chunk(b"IART", AUTHOR)
    flags = 0x1 | 0x2  # frames are icons; a sequence chunk is present
    header = struct.pack("<9I", 36, FRAMES, FRAMES, 0, 0, 0, 0, RATE_JIFFIES, flags)
    rates = struct.pack("<%dI" % FRAMES, *([RATE_JIFFIES] * FRAMES))
    sequence = struct.pack("<%dI" % FRAMES, *range(FRAMES))
    frames = b"fram" + b"".join(chunk(b"icon", icon_file(icon_image(*draw_frame(i)))) for i in range(FRAMES))
    body = (b"ACON" + chunk(b"LIST", info) + chunk(b"anih", header) + chunk(b"rate", rates)
            + chunk(b"seq ", sequence) + chunk(b"LIST", frames))
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=os.path.join(here, "..", "app", "resources", "pellimar.ani"))
    args = parser.parse_args()
    data = animation()
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output, "wb") as out:
        out.write(data)
    print("%s: %d frames, %d bytes" % (args.output, FRAMES, len(data)))


if __name__ == "__main__":
    main()
