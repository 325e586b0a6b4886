#!/usr/bin/env python3
"""Draws the icons of ZOLT.exe and writes them into res/ as .ico files.

    python3 scripts/make_icons.py

The .ico files are checked in; run this again only to change a design. The output depends on
nothing but this script (no randomness, no time stamps), so a rerun gives the same bytes.

Each image is 32 bits per pixel (BGRA) with its AND mask: the mask makes everything outside
the lamp transparent for programs that ignore alpha, and alpha softens the lamp's edge where
it is honoured. Shapes are sampled 4 x 4 times per pixel for that edge.
"""
import math
import pathlib
import struct

RES = pathlib.Path(__file__).resolve().parent.parent / "res"

BRIGHT_GREEN = (0, 255, 0)   # a line with a port attached
DARK_GREEN = (0, 128, 0)     # a line not in use
RIM_GREY = (128, 128, 128)
WHITE = (255, 255, 255)
BOLT_YELLOW = (255, 230, 0)
BOLT_EDGE = (96, 64, 0)

SUBSAMPLES = 4


def lamp_shader(size, body):
    """A round lamp filling the square: grey rim, body colour, white highlight upper left."""
    c = size / 2.0
    outer = size / 2.0 - 0.5
    rim = size * 0.09 + 0.6      # 2 px at 16, about 3.5 px at 32
    glint_at = (c - size * 0.17, c - size * 0.17)
    glint_r = size * 0.11

    def shade(x, y):
        d = math.hypot(x - c, y - c)
        if d > outer:
            return None
        if d > outer - rim:
            return RIM_GREY
        if math.hypot(x - glint_at[0], y - glint_at[1]) <= glint_r:
            return WHITE
        return body
    return shade


def inside_polygon(x, y, points):
    inside = False
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def app_shader(size):
    """The program's own icon: a lit lamp with a lightning bolt across it."""
    lamp = lamp_shader(size, BRIGHT_GREEN)
    s = size / 16.0
    bolt = [(9.5, 0.5), (3.0, 9.0), (7.5, 9.0), (5.5, 15.5), (13.0, 6.5), (8.5, 6.5), (11.0, 0.5)]
    bolt = [(x * s, y * s) for x, y in bolt]
    # The same outline grown by about a pixel, drawn first in a dark edge colour.
    cx = sum(x for x, _ in bolt) / len(bolt)
    cy = sum(y for _, y in bolt) / len(bolt)
    grow = 1.0 + 1.6 / size
    edge = [(cx + (x - cx) * grow, cy + (y - cy) * grow) for x, y in bolt]

    def shade(x, y):
        if inside_polygon(x, y, bolt):
            return BOLT_YELLOW
        if inside_polygon(x, y, edge):
            return BOLT_EDGE
        return lamp(x, y)
    return shade


def render(size, shade):
    """Rows top to bottom of (r, g, b, a), each pixel the mean of its samples."""
    rows = []
    n = SUBSAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(n):
                for sx in range(n):
                    colour = shade(px + (sx + 0.5) / n, py + (sy + 0.5) / n)
                    if colour is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += colour[i]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(a / hits) for a in acc) + (round(255 * hits / (n * n)),))
        rows.append(row)
    return rows


def dib(rows):
    """One icon image: header, bottom-up BGRA rows, bottom-up AND mask (1 = transparent)."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            # Pixels at least half covered count as the lamp for mask-only drawing.
            if a < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + colour + bytes(mask)


def ico(images):
    count = len(images)
    out = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    blobs = []
    for size, rows in images:
        blob = dib(rows)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b"".join(blobs)


def main():
    files = {
        "lamp_on.ico": [(16, render(16, lamp_shader(16, BRIGHT_GREEN)))],
        "lamp_off.ico": [(16, render(16, lamp_shader(16, DARK_GREEN)))],
        "zolt.ico": [(16, render(16, app_shader(16))), (32, render(32, app_shader(32)))],
    }
    for name, images in files.items():
        (RES / name).write_bytes(ico(images))
        print("wrote", RES / name)


if __name__ == "__main__":
    main()
