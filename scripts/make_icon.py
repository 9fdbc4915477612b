#!/usr/bin/env python3
"""Draws the program icon, res/moravelt.ico: one 32 x 32 image, 24-bit colour.

A memory card seen from the front: a dark body with a bevel, a label with a coloured
stripe, and the row of gold contacts along the bottom edge. Run it again after changing
the drawing; the .ico beside the resource script is what the build uses.

With --png FOLDER it draws the same icon as PNG files at the sizes desktops use,
FOLDER/moravelt-SIZE.png (res/icons/ for the Linux package and the Qt program): each pixel
is the average of the drawing's cells it covers, so multiples of 32 stay sharp.
"""
import struct
import sys
import zlib
from pathlib import Path

PNG_SIZES = (16, 24, 32, 48, 64, 128, 256)

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


def scaled(px, size):
    """RGBA rows of the drawing at size x size, each pixel averaged over 8 x 8 samples."""
    n = 8
    rows = []
    for oy in range(size):
        row = bytearray()
        for ox in range(size):
            r = g = b = a = 0
            for sy in range(n):
                for sx in range(n):
                    c = px[(oy * n + sy) * SIZE // (size * n)][(ox * n + sx) * SIZE // (size * n)]
                    if c is not None:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            row += bytes((r // a, g // a, b // a, 255 * a // (n * n)) if a else (0, 0, 0, 0))
        rows.append(bytes(row))
    return rows


def png(rows, size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + row for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


if __name__ == "__main__" and sys.argv[1:2] == ["--png"]:
    folder = Path(sys.argv[2])
    folder.mkdir(parents=True, exist_ok=True)
    for size in PNG_SIZES:
        out = folder / f"moravelt-{size}.png"
        out.write_bytes(png(scaled(draw(), size), size))
        print(out)
elif __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "res" / "moravelt.ico"
    out.write_bytes(ico(draw()))
    print(out)
