#!/usr/bin/env python3
"""Draws the drop-down's check-box strip: 14 styles of four 18 x 18 cells side by
side (1008 x 18), an 8-bit palette PNG. In each style the first cell is the box
unchecked, the second checked, the third checked but greyed, the fourth unchecked
and pressed. The bottom-left pixel holds the transparent colour, which shows the
row's background where a cell is drawn.

    python3 scripts/make-checkbox-strip.py src/controls/res/checkbox.png
"""
import math
import struct
import sys
import zlib

CELL = 18
STYLES = 14
W, H = CELL * 4 * STYLES, CELL

CLEAR = (255, 0, 255)
BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
GREY = (128, 128, 128)
LIGHT = (192, 192, 192)
PALE = (224, 224, 224)
DARK = (64, 64, 64)
BLUE = (0, 84, 166)
SKY = (96, 160, 232)
GREEN = (0, 140, 60)
RED = (200, 30, 30)
YELLOW = (250, 210, 40)
ORANGE = (240, 130, 20)

pixels = [[CLEAR] * W for _ in range(H)]


def put(x, y, c):
    if 0 <= x < W and 0 <= y < H:
        pixels[y][x] = c


def fill(x0, y0, x1, y1, c):
    for y in range(y0, y1):
        for x in range(x0, x1):
            put(x, y, c)


def frame(x0, y0, x1, y1, c):
    for x in range(x0, x1):
        put(x, y0, c)
        put(x, y1 - 1, c)
    for y in range(y0, y1):
        put(x0, y, c)
        put(x1 - 1, y, c)


def bevel(x0, y0, x1, y1, sunken):
    """A two-pixel edge as a raised or sunken button has."""
    outer_lt, outer_rb = (GREY, WHITE) if sunken else (WHITE, DARK)
    inner_lt, inner_rb = (DARK, LIGHT) if sunken else (PALE, GREY)
    for i, (lt, rb) in enumerate(((outer_lt, outer_rb), (inner_lt, inner_rb))):
        for x in range(x0 + i, x1 - i):
            put(x, y0 + i, lt)
            put(x, y1 - 1 - i, rb)
        for y in range(y0 + i, y1 - i):
            put(x0 + i, y, lt)
            put(x1 - 1 - i, y, rb)


def disc(cx, cy, r, c, ox):
    for y in range(CELL):
        for x in range(CELL):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                put(ox + x, y, c)


def ring(cx, cy, r, width, c, ox):
    for y in range(CELL):
        for x in range(CELL):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            if r - width < d <= r:
                put(ox + x, y, c)


def polygon(points, c, ox):
    n = len(points)
    for y in range(CELL):
        for x in range(CELL):
            px, py = x + 0.5, y + 0.5
            inside = False
            for i in range(n):
                (x1, y1), (x2, y2) = points[i], points[(i + 1) % n]
                if (y1 > py) != (y2 > py) and px < x1 + (py - y1) * (x2 - x1) / (y2 - y1):
                    inside = not inside
            if inside:
                put(ox + x, y, c)


def stroke(points, c, ox, width=2):
    """Joined segments, `width` pixels thick, through cell coordinates."""
    for (x1, y1), (x2, y2) in zip(points, points[1:]):
        steps = int(max(abs(x2 - x1), abs(y2 - y1)) * 2) + 1
        for s in range(steps + 1):
            t = s / steps
            x, y = x1 + (x2 - x1) * t, y1 + (y2 - y1) * t
            for dy in range(width):
                for dx in range(width):
                    put(ox + int(x) + dx, int(y) + dy, c)


TICK = [(4, 8), (7, 11), (13, 5)]
CROSS_A = [(5, 5), (12, 12)]
CROSS_B = [(12, 5), (5, 12)]


def square_box(ox, face, pressed):
    bevel(ox + 1, 1, ox + 17, 17, sunken=True)
    fill(ox + 3, 3, ox + 15, 15, LIGHT if pressed else face)


# Each style draws one cell: (x offset, checked, greyed, pressed).
def style_tick(ox, checked, greyed, pressed):
    square_box(ox, WHITE, pressed)
    if checked:
        stroke(TICK, GREY if greyed else BLACK, ox)


def style_cross(ox, checked, greyed, pressed):
    square_box(ox, WHITE, pressed)
    if checked:
        stroke(CROSS_A, GREY if greyed else RED, ox)
        stroke(CROSS_B, GREY if greyed else RED, ox)


def style_radio(ox, checked, greyed, pressed):
    disc(9, 9, 7.5, WHITE if not pressed else LIGHT, ox)
    ring(9, 9, 7.5, 1.5, GREY, ox)
    if checked:
        disc(9, 9, 3.2, GREY if greyed else BLACK, ox)


def style_blue(ox, checked, greyed, pressed):
    frame(ox + 2, 2, ox + 16, 16, BLUE)
    fill(ox + 3, 3, ox + 15, 15, (SKY if pressed else WHITE) if not checked else (GREY if greyed else BLUE))
    if checked:
        stroke(TICK, WHITE, ox)


def style_green(ox, checked, greyed, pressed):
    frame(ox + 2, 2, ox + 16, 16, DARK)
    fill(ox + 3, 3, ox + 15, 15, PALE if pressed else WHITE)
    if checked:
        stroke([(4, 9), (7, 12), (14, 4)], GREY if greyed else GREEN, ox, width=3)


def style_diamond(ox, checked, greyed, pressed):
    polygon([(9, 1), (17, 9), (9, 17), (1, 9)], GREY, ox)
    polygon([(9, 3), (15, 9), (9, 15), (3, 9)], LIGHT if pressed else WHITE, ox)
    if checked:
        polygon([(9, 5.5), (12.5, 9), (9, 12.5), (5.5, 9)], GREY if greyed else BLUE, ox)


def star(r_out, r_in):
    pts = []
    for i in range(10):
        a = -math.pi / 2 + i * math.pi / 5
        r = r_out if i % 2 == 0 else r_in
        pts.append((9 + r * math.cos(a), 9.5 + r * math.sin(a)))
    return pts


def style_star(ox, checked, greyed, pressed):
    polygon(star(8.5, 3.6), DARK, ox)
    polygon(star(6.8, 2.6), (GREY if greyed else YELLOW) if checked else (LIGHT if pressed else WHITE), ox)


def style_circle_tick(ox, checked, greyed, pressed):
    disc(9, 9, 8, (GREY if greyed else GREEN) if checked else (LIGHT if pressed else PALE), ox)
    ring(9, 9, 8, 1, DARK, ox)
    if checked:
        stroke(TICK, WHITE, ox)


def style_inner_square(ox, checked, greyed, pressed):
    square_box(ox, WHITE, pressed)
    if checked:
        fill(ox + 5, 5, ox + 13, 13, GREY if greyed else BLACK)


def style_switch(ox, checked, greyed, pressed):
    track = (GREY if greyed else GREEN) if checked else (GREY if pressed else LIGHT)
    fill(ox + 4, 5, ox + 14, 13, track)
    disc(4.5, 9, 4, track, ox)
    disc(13.5, 9, 4, track, ox)
    disc(13.5 if checked else 4.5, 9, 3, WHITE, ox)


def style_plus(ox, checked, greyed, pressed):
    square_box(ox, WHITE, pressed)
    colour = GREY if greyed else BLUE
    fill(ox + 5, 8, ox + 13, 10, colour)
    if not checked:
        fill(ox + 8, 5, ox + 10, 13, colour)


def style_bullet(ox, checked, greyed, pressed):
    frame(ox + 3, 3, ox + 15, 15, DARK)
    fill(ox + 4, 4, ox + 14, 14, (GREY if greyed else RED) if checked else (LIGHT if pressed else PALE))


def style_arrow(ox, checked, greyed, pressed):
    colour = GREY if greyed else (DARK if pressed else BLACK)
    if checked:
        polygon([(4, 6), (14, 6), (9, 13)], colour, ox)
    else:
        polygon([(6, 4), (13, 9), (6, 14)], colour, ox)


def style_lamp(ox, checked, greyed, pressed):
    disc(9, 9, 7, (GREY if greyed else ORANGE) if checked else (GREY if pressed else DARK), ox)
    disc(9, 9, 5, (LIGHT if greyed else YELLOW) if checked else (DARK if pressed else GREY), ox)
    disc(7, 7, 1.5, WHITE, ox)


STYLE_DRAWERS = [style_tick, style_cross, style_radio, style_blue, style_green, style_diamond, style_star,
                 style_circle_tick, style_inner_square, style_switch, style_plus, style_bullet, style_arrow,
                 style_lamp]
assert len(STYLE_DRAWERS) == STYLES

for s, draw in enumerate(STYLE_DRAWERS):
    for cell, (checked, greyed, pressed) in enumerate(((False, False, False), (True, False, False),
                                                        (True, True, False), (False, False, True))):
        draw((s * 4 + cell) * CELL, checked, greyed, pressed)

assert pixels[H - 1][0] == CLEAR, "the bottom-left pixel must hold the transparent colour"

palette = []
index = {}
rows = []
for row in pixels:
    line = bytearray([0])   # filter: none
    for c in row:
        if c not in index:
            index[c] = len(palette)
            palette.append(c)
        line.append(index[c])
    rows.append(bytes(line))
assert len(palette) <= 256


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


png = b"\x89PNG\r\n\x1a\n"
png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 3, 0, 0, 0))
png += chunk(b"PLTE", b"".join(bytes(c) for c in palette))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
png += chunk(b"IEND", b"")
with open(sys.argv[1], "wb") as f:
    f.write(png)
