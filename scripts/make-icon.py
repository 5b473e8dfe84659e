#!/usr/bin/env python3
"""Makes VorlanKur's icon: six 48x48 32-bit images with alpha in one .ico.

The six images are colour variants of the Vorlan emblem, a white "V" on a
rounded square. Windows shows the first; all six travel as the application
icon and as the window's icon.

Usage: make-icon.py [output.ico]   (default: app/VorlanKur.ico)
"""

import os
import struct
import sys

SIZE = 48
SAMPLES = 4  # per axis, for smooth edges

# Top and bottom colours of the square's gradient, one pair per image.
VARIANTS = [
    ((0x2F, 0x6F, 0xD8), (0x12, 0x3C, 0x8C)),  # blue, the main one
    ((0xE0, 0x5A, 0x5A), (0x9C, 0x22, 0x22)),  # red
    ((0x3C, 0xB3, 0x71), (0x1B, 0x6E, 0x3F)),  # green
    ((0xF2, 0x9B, 0x30), (0xB0, 0x5A, 0x0A)),  # orange
    ((0x8E, 0x5C, 0xD6), (0x51, 0x2A, 0x8F)),  # purple
    ((0x3A, 0xB8, 0xC8), (0x14, 0x70, 0x80)),  # teal
]


def inside_rounded_square(x, y, margin=2.0, radius=9.0):
    lo, hi = margin, SIZE - margin
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx, ay + t * dy
    return ((px - qx) ** 2 + (py - qy) ** 2) ** 0.5


def inside_v(x, y, half_width=4.2):
    # Two strokes meeting at the bottom.
    return (distance_to_segment(x, y, 13.0, 12.0, 24.0, 36.0) <= half_width
            or distance_to_segment(x, y, 35.0, 12.0, 24.0, 36.0) <= half_width)


def render(top, bottom):
    """Rows top to bottom of (b, g, r, a)."""
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            square = v = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    fx = x + (sx + 0.5) / SAMPLES
                    fy = y + (sy + 0.5) / SAMPLES
                    if inside_rounded_square(fx, fy):
                        square += 1
                        if inside_v(fx, fy):
                            v += 1
            n = SAMPLES * SAMPLES
            if square == 0:
                row.append((0, 0, 0, 0))
                continue
            t = y / (SIZE - 1)
            base = [round(top[i] + (bottom[i] - top[i]) * t) for i in range(3)]
            mix = v / square
            r, g, b = (round(c + (255 - c) * mix) for c in base)
            row.append((b, g, r, round(255 * square / n)))
        rows.append(row)
    return rows


def icon_image(rows):
    """One icon resource: BITMAPINFOHEADER, bottom-up BGRA, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(p) for row in reversed(rows) for p in row)
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + pixels + bytes(mask)


def make_icon():
    images = [icon_image(render(top, bottom)) for top, bottom in VARIANTS]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for data in images:
        out += struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "app", "VorlanKur.ico")
    data = make_icon()
    tmp = target + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, target)


if __name__ == "__main__":
    main()
