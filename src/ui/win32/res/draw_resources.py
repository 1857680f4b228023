#!/usr/bin/env python3
"""Draws the settings window's cursors and the about box's picture.

Run from this folder; writes hover.cur, pick.cur and about.bmp. The files are
committed, so a build needs no Python.
"""
import math
import struct

SIZE = 32
HOTSPOT = (7, 7)


def corner_brackets():
    """Four brackets outlining the square (1, 1)-(13, 13), arms 4 pixels."""
    points = set()
    lo, hi, arm = 1, 13, 4
    for corner_x, dx in ((lo, 1), (hi, -1)):
        for corner_y, dy in ((lo, 1), (hi, -1)):
            for i in range(arm):
                points.add((corner_x + dx * i, corner_y))
                points.add((corner_x, corner_y + dy * i))
    return points


def plus_sign(cx=16, cy=15, half=2):
    points = set()
    for i in range(-half, half + 1):
        points.add((cx + i, cy))
        points.add((cx, cy + i))
    return points


def cursor_file(white):
    """A 32 x 32 monochrome cursor: white where listed, transparent elsewhere."""
    row_bytes = SIZE // 8
    xor = bytearray(row_bytes * SIZE)
    mask = bytearray(b"\xff" * (row_bytes * SIZE))
    for x, y in white:
        row = SIZE - 1 - y  # bitmaps are stored bottom-up
        bit = 0x80 >> (x % 8)
        xor[row * row_bytes + x // 8] |= bit
        mask[row * row_bytes + x // 8] &= ~bit & 0xFF
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 1, 0, 0, 0, 0, 2, 0)
    colours = struct.pack("<4B4B", 0, 0, 0, 0, 255, 255, 255, 0)
    image = header + colours + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 2, 0, HOTSPOT[0], HOTSPOT[1], len(image), 6 + 16)
    return directory + entry + image


def palette(v):
    """The spectrum's colour ramp, coarsely: black, blue, purple, red, yellow, white."""
    anchors = [(0, (1, 0, 0)), (64, (0x33, 0, 0)), (92, (0x50, 0, 0x53)), (116, (0, 0x01, 0x6F)),
               (154, (0, 0x9E, 0x9E)), (206, (0xD4, 0xD4, 0xD4)), (255, (0xF8, 0xF9, 0xF9))]
    for (i0, c0), (i1, c1) in zip(anchors, anchors[1:]):
        if v <= i1:
            t = (v - i0) / (i1 - i0)
            return tuple(round(a + (b - a) * t) for a, b in zip(c0, c1))  # blue, green, red
    return anchors[-1][1]


def about_bitmap(width=36, height=36):
    """A little spectrum: a bright centre line, two interference spots and a notch ring."""
    pixels = []
    spots = [(26, 10), (26, 26)]
    for y in range(height):
        row = []
        for x in range(width):
            v = 30 + 40 * math.exp(-abs(y - height / 2) / 2.0) + 60 * math.exp(-x / 5.0)
            for sx, sy in spots:
                v += 190 * math.exp(-((x - sx) ** 2 + (y - sy) ** 2) / 3.0)
            b, g, r = palette(int(min(255, v)))
            ring = abs(math.hypot(x - spots[0][0], (y - spots[0][1]) * 1.3) - 5.5) < 0.6
            if ring:
                b, g, r = 255, 255, 0  # cyan outline
            row.append((b, g, r))
        pixels.append(row)
    row_bytes = (width * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for b, g, r in row:
            line += bytes((b, g, r))
        line += b"\0" * (row_bytes - len(line))
        data += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return header + info + bytes(data)


if __name__ == "__main__":
    with open("hover.cur", "wb") as f:
        f.write(cursor_file(corner_brackets()))
    with open("pick.cur", "wb") as f:
        f.write(cursor_file(corner_brackets() | plus_sign()))
    with open("about.bmp", "wb") as f:
        f.write(about_bitmap())
