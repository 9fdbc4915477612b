#!/usr/bin/env python3
"""Draws the program icon, res/moravelt.ico: one 32 x 32 image, 24-bit colour.

A memory card seen from the front: a dark body with a bevel, a label with a coloured
stripe, and the row of gold contacts along the bottom edge. Run it again after changing
the drawing; the .ico beside the resource script is what the build uses.
"""
import struct
import sys
from pathlib import Path

SIZE = 32
BODY = (52, 58, 72)
BODY_LIGHT = (92, 100, 120)
BODY_DARK = (28, 30, 38)
LABEL = (236, 236, 228)
STRIPE = (40, 110, 200)
TEXT = (120, 120, 130)
GOLD = (214, 172, 60)
NOTCH = None  # transparent


def draw():
    px = [[NOTCH for _ in range(SIZE)] for _ in range(SIZE)]
    # Body: x 5..26, y 1..30, with the top-right corner cut off.
    for y in range(1, 31):
        for x in range(5, 27):
            if x - 20 > y - 1:  # the cut corner
                continue
            px[y][x] = BODY
    # Bevel: light on the left and top, dark on the right and bottom.
    for y in range(1, 31):
        px[y][5] = BODY_LIGHT
        px[y][26] = BODY_DARK if px[y][26] is not None else None
    for x in range(5, 27):
        if px[1][x] is not None:
            px[1][x] = BODY_LIGHT
        px[30][x] = BODY_DARK
    for i in range(6):  # the cut edge
        x, y = 21 + i, 1 + i
        if 0 <= x < SIZE:
            px[y][x] = BODY_LIGHT
    # Label with a stripe and two lines of "writing".
    for y in range(8, 22):
        for x in range(8, 24):
            px[y][x] = LABEL
    for y in range(8, 12):
        for x in range(8, 24):
            px[y][x] = STRIPE
    for x in range(10, 22):
        px[15][x] = TEXT
    for x in range(10, 18):
        px[18][x] = TEXT
    # Contacts.
    for k in range(7):
        x0 = 7 + k * 3
        for y in range(25, 29):
            for x in (x0, x0 + 1):
                px[y][x] = GOLD
    return px


def ico(px):
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up rows
        bits = 0
        for x in range(SIZE):
            c = px[y][x]
            r, g, b = c if c is not None else (0, 0, 0)
            xor += bytes((b, g, r))
            bits = (bits << 1) | (1 if c is None else 0)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 24, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "res" / "moravelt.ico"
    out.write_bytes(ico(draw()))
    print(out)
