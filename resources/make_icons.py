#!/usr/bin/env python3
"""Draws the four padlock icons and writes them as .ico files.

Usage: make_icons.py OUTPUT_DIR

Each icon holds a 48x48 and a 32x32 image of 256 colours (8 bits per pixel
with a 1-bit transparency mask), the format older shells read. The drawing is
a small vector description rendered with 4x4 supersampling; the palette of
each image comes from a median cut of the colours it uses, so the output is
the same byte for byte on every run.
"""

import math
import os
import struct
import sys

SUPERSAMPLE = 4

# Body colours (top of the gradient, bottom of the gradient, outline) per icon.
ICONS = [
    # file name, body top, body bottom, outline, shackle open
    ("application.ico", (96, 160, 236), (28, 78, 170), (14, 36, 84), False),
    ("neutral.ico", (200, 204, 210), (118, 124, 134), (58, 62, 70), False),
    ("lock.ico", (250, 204, 92), (206, 134, 22), (102, 62, 8), False),
    ("unlock.ico", (132, 214, 120), (46, 142, 58), (18, 70, 26), True),
]

STEEL_LIGHT = (232, 234, 238)
STEEL_DARK = (132, 138, 148)
STEEL_OUTLINE = (64, 68, 76)
KEYHOLE = (30, 30, 36)

# Geometry on a 48-unit grid; 32x32 images scale it down.
BODY = (8.0, 22.0, 40.0, 44.0, 4.5)  # left, top, right, bottom, corner radius
SHACKLE_CENTRE_X = 24.0
SHACKLE_CENTRE_Y = 19.0
SHACKLE_OUTER = 11.0
SHACKLE_INNER = 6.5
LEG_BOTTOM = 26.0  # hidden inside the body
OPEN_LIFT = 7.0  # an open shackle is raised and its right leg clears the body
OPEN_RIGHT_LEG_BOTTOM = 17.0
OUTLINE = 1.4


def in_round_rect(x, y, box, grow=0.0):
    left, top, right, bottom, radius = box
    left, top, right, bottom = left - grow, top - grow, right + grow, bottom + grow
    radius += grow
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius**2


def in_shackle(x, y, opened, grow=0.0):
    cy = SHACKLE_CENTRE_Y - (OPEN_LIFT if opened else 0.0)
    outer = SHACKLE_OUTER + grow
    inner = SHACKLE_INNER - grow
    dx = x - SHACKLE_CENTRE_X
    if y <= cy:  # the arc
        d = math.hypot(dx, y - cy)
        return inner <= d <= outer
    # the legs
    in_leg = inner <= abs(dx) <= outer
    if not in_leg:
        return False
    bottom = LEG_BOTTOM
    if opened and dx > 0:
        bottom = OPEN_RIGHT_LEG_BOTTOM
    return y <= bottom + grow


def in_keyhole(x, y):
    if math.hypot(x - 24.0, y - 31.0) <= 3.6:
        return True
    if 31.0 <= y <= 38.5:
        half = 1.5 + (y - 31.0) * 0.12
        return abs(x - 24.0) <= half
    return False


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def shade(x, y, top_colour, bottom_colour, outline, opened):
    """Colour and opacity of one sample point, front layer first."""
    left, top, right, bottom, _ = BODY
    if in_round_rect(x, y, BODY):
        if in_keyhole(x, y):
            return KEYHOLE, 1.0
        t = (y - top) / (bottom - top)
        colour = mix(top_colour, bottom_colour, t)
        # a soft highlight along the left side gives the body some depth
        if x < left + 5.0:
            colour = mix(colour, (255, 255, 255), 0.18 * (1.0 - (x - left) / 5.0))
        return colour, 1.0
    if in_round_rect(x, y, BODY, OUTLINE):
        return outline, 1.0
    if in_shackle(x, y, opened):
        t = (x - (SHACKLE_CENTRE_X - SHACKLE_OUTER)) / (2 * SHACKLE_OUTER)
        return mix(STEEL_LIGHT, STEEL_DARK, min(max(t, 0.0), 1.0)), 1.0
    if in_shackle(x, y, opened, OUTLINE * 0.8):
        return STEEL_OUTLINE, 1.0
    return (0.0, 0.0, 0.0), 0.0


def render(size, spec):
    _, top_colour, bottom_colour, outline, opened = spec
    scale = 48.0 / size
    pixels = []  # rows from the top; None for a transparent pixel
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = alpha = 0.0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    x = (px + (sx + 0.5) / SUPERSAMPLE) * scale
                    y = (py + (sy + 0.5) / SUPERSAMPLE) * scale
                    colour, a = shade(x, y, top_colour, bottom_colour, outline, opened)
                    r += colour[0] * a
                    g += colour[1] * a
                    b += colour[2] * a
                    alpha += a
            if alpha * 2 < SUPERSAMPLE * SUPERSAMPLE:
                row.append(None)
            else:
                row.append((round(r / alpha), round(g / alpha), round(b / alpha)))
        pixels.append(row)
    return pixels


def median_cut(colours, count):
    """Deterministic median cut: splits the widest box at its median."""
    boxes = [sorted(set(colours))]
    while len(boxes) < count:
        best, best_range, best_channel = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for channel in range(3):
                values = [c[channel] for c in box]
                spread = max(values) - min(values)
                if spread > best_range:
                    best, best_range, best_channel = i, spread, channel
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda c: (c[best_channel], c))
        middle = len(box) // 2
        boxes[best:best] = [box[:middle], box[middle:]]
    return [
        tuple(round(sum(c[ch] for c in box) / len(box)) for ch in range(3)) for box in boxes
    ]


def nearest(palette, colour, cache):
    found = cache.get(colour)
    if found is None:
        found = min(
            range(len(palette)),
            key=lambda i: sum((palette[i][ch] - colour[ch]) ** 2 for ch in range(3)),
        )
        cache[colour] = found
    return found


def bitmap(size, pixels):
    """One icon image: BITMAPINFOHEADER, palette, colour rows and mask rows, bottom-up."""
    used = [c for row in pixels for c in row if c is not None]
    # Index 0 stays black for the transparent pixels; the drawing gets the other 255.
    palette = [(0, 0, 0)] + median_cut(used, 255)
    palette += [(0, 0, 0)] * (256 - len(palette))
    cache = {}
    colour_rows = []
    mask_rows = []
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(pixels):
        colour_rows.append(bytes(0 if c is None else 1 + nearest(palette[1:], c, cache) for c in row))
        bits = bytearray(mask_stride)
        for x, c in enumerate(row):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask_rows.append(bytes(bits))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + table + b"".join(colour_rows) + b"".join(mask_rows)


def icon_file(spec):
    images = [(size, bitmap(size, render(size, spec))) for size in (48, 32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_icons.py OUTPUT_DIR\n")
        return 2
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for spec in ICONS:
        path = os.path.join(folder, spec[0])
        data = icon_file(spec)
        # Written beside and moved into place, so an interrupted run leaves no torn icon.
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
