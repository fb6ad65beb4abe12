#!/usr/bin/env python3
"""Draws the program's two pictures and writes them into assets/.

  assets/splash.jpg      152 x 200, a stack of books with an open book on top
  assets/about-book.png  32 x 32, 16-colour palette icon of a closed book

The drawing is plain Python; only the last step of the splash picture (PPM to
JPEG) calls ImageMagick's `convert`, which must be on the PATH. Run it from
anywhere: python3 scripts/make-assets.py
"""

import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

ASSETS = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "assets")

# ---------------------------------------------------------------- splash --

SPLASH_W, SPLASH_H = 152, 200
SUPERSAMPLE = 4  # samples per pixel side, for smooth edges


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def rounded_rect(x, y, left, top, right, bottom, radius):
    """True when (x, y) lies inside the rectangle with rounded corners."""
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


# The lying books of the stack: left, top, right, bottom, cover colour.
STACK = [
    (20.0, 133.0, 132.0, 158.0, (142, 38, 36)),    # burgundy, at the bottom
    (29.0, 113.0, 125.0, 133.0, (38, 96, 66)),     # green
    (24.0, 96.0, 118.0, 113.0, (36, 58, 112)),     # navy
]

OPEN_LEFT, OPEN_RIGHT, OPEN_SPINE = 28.0, 124.0, 76.0
GOLD = (214, 172, 74)


def page_top(x):
    u = abs(x - OPEN_SPINE) / (OPEN_RIGHT - OPEN_SPINE)
    return 64.0 - 12.0 * math.sin(math.pi * min(u, 1.0) * 0.85)


def page_bottom(x):
    u = abs(x - OPEN_SPINE) / (OPEN_RIGHT - OPEN_SPINE)
    return 92.0 - 4.0 * math.sin(math.pi * min(u, 1.0) * 0.85)


def background(x, y):
    top, bottom = (247, 240, 226), (229, 214, 188)
    colour = mix(top, bottom, y / SPLASH_H)
    # a soft light from the upper left
    glow = max(0.0, 1.0 - math.hypot(x - 40, y - 30) / 150.0)
    colour = mix(colour, (255, 252, 244), 0.55 * glow)
    # the table top the books stand on, and their shadow on it
    if y >= 158:
        colour = mix(colour, (205, 184, 150), 0.55)
        shadow = ((x - 78) / 66.0) ** 2 + ((y - 159) / 5.0) ** 2
        if shadow < 1.0:
            colour = mix(colour, (120, 96, 70), 0.45 * (1.0 - shadow))
    # keep the strip under the name quiet and light
    if y >= 176:
        colour = mix(colour, (246, 238, 222), 0.6)
    return colour


def stack_book(x, y):
    for left, top, right, bottom, cover in STACK:
        if not rounded_rect(x, y, left, top, right, bottom, 3.0):
            continue
        # the page block shows as a pale strip on the right-hand end
        if x > right - 7 and top + 2 < y < bottom - 2:
            stripe = 0.08 if int(y * 2) % 2 else 0.0
            return mix((244, 236, 214), (170, 150, 120), stripe + (x - (right - 7)) / 40.0)
        shade = 0.35 * ((y - top) / (bottom - top)) ** 1.5
        colour = mix(cover, (0, 0, 0), shade)
        if y - top < 2.0:
            colour = mix(colour, (255, 255, 255), 0.25)
        # gold bands near both ends of the spine and a title plate between them
        if left + 8 < x < left + 11 or right - 18 < x < right - 15:
            colour = mix(colour, GOLD, 0.85)
        middle = (top + bottom) / 2
        if left + 30 < x < right - 34 and abs(y - middle) < (bottom - top) * 0.18:
            colour = mix(colour, GOLD, 0.75)
        return colour
    return None


def open_book(x, y):
    if not (OPEN_LEFT - 3 <= x <= OPEN_RIGHT + 3):
        return None
    xc = min(max(x, OPEN_LEFT), OPEN_RIGHT)
    top, bottom = page_top(xc), page_bottom(xc)
    # the cover shows as a dark rim below and beside the pages
    if OPEN_LEFT <= x <= OPEN_RIGHT and top <= y <= bottom:
        u = (x - OPEN_SPINE) / (OPEN_RIGHT - OPEN_SPINE)
        colour = (252, 248, 236)
        colour = mix(colour, (196, 180, 150), max(0.0, 0.5 - abs(u)) ** 2 * 2.4)
        if abs(x - OPEN_SPINE) < 0.8:
            return (120, 100, 80)
        # lines of text on both pages
        if 0.12 < abs(u) < 0.88 and top + 6 < y < bottom - 4:
            row = (y - top - 6) % 3.2
            if row < 0.9:
                colour = mix(colour, (110, 104, 96), 0.55)
        return colour
    if top + 2 <= y <= bottom + 3 and abs(x - OPEN_SPINE) <= (OPEN_RIGHT - OPEN_SPINE) + 3:
        return (92, 44, 30)
    return None


def splash_colour(x, y):
    for layer in (open_book, stack_book):
        colour = layer(x, y)
        if colour is not None:
            return colour
    return background(x, y)


def render_splash():
    pixels = bytearray()
    n = SUPERSAMPLE
    for py in range(SPLASH_H):
        for px in range(SPLASH_W):
            acc = [0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    c = splash_colour(px + (sx + 0.5) / n, py + (sy + 0.5) / n)
                    acc[0] += c[0]
                    acc[1] += c[1]
                    acc[2] += c[2]
            pixels += bytes(max(0, min(255, round(v / (n * n)))) for v in acc)
    return pixels


def write_splash(path):
    ppm = b"P6\n%d %d\n255\n" % (SPLASH_W, SPLASH_H) + bytes(render_splash())
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "splash.ppm")
        with open(source, "wb") as f:
            f.write(ppm)
        # baseline, no metadata: the smallest file any JPEG decoder reads
        subprocess.run(["convert", source, "-strip", "-interlace", "none",
                        "-sampling-factor", "2x2", "-quality", "90", "JPEG:" + path],
                       check=True)


# ------------------------------------------------------------------ icon --

# The 16 colours of the classic display palette; magenta (13), which the
# book never uses, is the transparent background.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, OLIVE, SILVER, GREY, RED, YELLOW, WHITE = 0, 1, 3, 7, 8, 9, 11, 15
TRANSPARENT = 13


def draw_icon():
    grid = [[TRANSPARENT] * 32 for _ in range(32)]

    def fill(left, top, right, bottom, colour):
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                grid[y][x] = colour

    # page block, seen at the right-hand and bottom edges behind the cover
    fill(9, 5, 27, 29, BLACK)
    fill(10, 6, 26, 28, WHITE)
    for y in range(7, 28, 2):
        fill(24, y, 26, y, SILVER)
    for x in range(11, 26, 2):
        fill(x, 27, x, 28, SILVER)
    # front cover and spine
    fill(4, 2, 24, 26, BLACK)
    fill(5, 3, 23, 25, RED)
    fill(5, 3, 8, 25, MAROON)
    fill(8, 3, 8, 25, BLACK)
    # light edge along the top and the spine's highlight
    fill(9, 3, 23, 3, WHITE)
    fill(6, 4, 6, 24, RED)
    # gold title frame with two lines of title
    fill(11, 7, 21, 7, YELLOW)
    fill(11, 14, 21, 14, YELLOW)
    fill(11, 7, 11, 14, YELLOW)
    fill(21, 7, 21, 14, YELLOW)
    fill(13, 9, 19, 9, OLIVE)
    fill(14, 11, 18, 11, OLIVE)
    # gold bands on the spine
    fill(5, 6, 7, 6, YELLOW)
    fill(5, 21, 7, 21, YELLOW)
    # a bookmark ribbon hanging out at the bottom
    fill(17, 27, 18, 30, YELLOW)
    grid[30][17] = OLIVE
    # shadow along the right and bottom of the cover
    fill(24, 3, 24, 26, GREY)
    fill(5, 26, 24, 26, BLACK)
    return grid


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_icon(path):
    grid = draw_icon()
    raw = bytearray()
    for row in grid:
        raw.append(0)  # filter type: none
        for x in range(0, 32, 2):
            raw.append((row[x] << 4) | row[x + 1])
    png = b"\x89PNG\r\n\x1a\n"
    png += png_chunk(b"IHDR", struct.pack(">IIBBBBB", 32, 32, 4, 3, 0, 0, 0))
    png += png_chunk(b"PLTE", b"".join(bytes(c) for c in PALETTE))
    png += png_chunk(b"tRNS", bytes([255] * TRANSPARENT + [0]))
    png += png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += png_chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    os.makedirs(ASSETS, exist_ok=True)
    write_splash(os.path.join(ASSETS, "splash.jpg"))
    write_icon(os.path.join(ASSETS, "about-book.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
