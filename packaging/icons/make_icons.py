#!/usr/bin/env python3
"""Draws Varnel's menu icon, the window icon's picture (lines of a list, one out of place) on
a framed card: app.varnel.Varnel.svg and the same shapes rasterised at the hicolor sizes as
app.varnel.Varnel-<size>.png, so that the PNGs need no SVG renderer to build.

Run it to regenerate the files: python3 make_icons.py [FOLDER]
"""
import os
import struct
import sys
import zlib

NAME = "app.varnel.Varnel"
SIZES = (16, 32, 48, 64, 128, 256)
SAMPLES = 5  # per pixel and axis, for smooth edges

# Everything in units of the icon's side; the card in 256ths of it.
CARD = (2 / 256, 2 / 256, 252 / 256, 252 / 256)  # x, y, width, height
CARD_RADIUS = 32 / 256
OUTLINE = 4 / 256
CARD_FILL = (0xF4, 0xF4, 0xF0)
OUTLINE_COLOUR = (0xA8, 0xA8, 0xA0)
INK = (0x33, 0x4A, 0x66)
OUT_OF_PLACE = (0xD0, 0x3B, 0x2F)
BAR_HEIGHT = 0.125
BARS = [  # x, y, width, colour: the same rows as the window's icon
    (0.15, 0.18 + i * BAR_HEIGHT * 1.7, width, OUT_OF_PLACE if i == 2 else INK)
    for i, width in enumerate((0.45, 0.6, 0.35, 0.75))
]


def in_rounded_rect(x, y, rect, radius):
    left, top, width, height = rect
    right, bottom = left + width, top + height
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius**2


def inset(rect, by):
    left, top, width, height = rect
    return (left + by, top + by, width - 2 * by, height - 2 * by)


def layers():
    """Each shape as a membership test and its colour, painted in this order."""
    inner = inset(CARD, OUTLINE)
    yield (lambda x, y: in_rounded_rect(x, y, CARD, CARD_RADIUS)), OUTLINE_COLOUR
    yield (lambda x, y: in_rounded_rect(x, y, inner, CARD_RADIUS - OUTLINE)), CARD_FILL
    for left, top, width, colour in BARS:
        yield (lambda x, y, r=(left, top, width, BAR_HEIGHT): in_rounded_rect(x, y, r, 0)), colour


def render(size):
    shapes = list(layers())
    offsets = [(i + 0.5) / SAMPLES for i in range(SAMPLES)]
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            # Premultiplied colour and alpha, each shape painted over the ones before it.
            r = g = b = a = 0.0
            for inside, colour in shapes:
                hits = sum(inside((px + ox) / size, (py + oy) / size)
                           for oy in offsets for ox in offsets)
                cover = hits / SAMPLES**2
                r, g, b = (c * cover + old * (1 - cover) for c, old in zip(colour, (r, g, b)))
                a = cover + a * (1 - cover)
            straight = (round(c / a) if a else 0 for c in (r, g, b))
            row += bytes((*straight, round(a * 255)))
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    pixels = zlib.compress(b"".join(b"\x00" + row for row in rows), 9)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels) + chunk(b"IEND", b"")


def svg():
    side = 256

    def rect(r, radius, colour):
        x, y, w, h = (f"{v * side:g}" for v in r)
        rounded = f' rx="{radius * side:g}"' if radius else ""
        return (f'  <rect x="{x}" y="{y}" width="{w}" height="{h}"{rounded} '
                f'fill="#{bytes(colour).hex()}"/>\n')

    body = rect(CARD, CARD_RADIUS, OUTLINE_COLOUR)
    body += rect(inset(CARD, OUTLINE), CARD_RADIUS - OUTLINE, CARD_FILL)
    for left, top, width, colour in BARS:
        body += rect((left, top, width, BAR_HEIGHT), 0, colour)
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{side}" height="{side}" '
            f'viewBox="0 0 {side} {side}">\n{body}</svg>\n')


def main(folder):
    with open(os.path.join(folder, NAME + ".svg"), "w") as f:
        f.write(svg())
    for size in SIZES:
        with open(os.path.join(folder, f"{NAME}-{size}.png"), "wb") as f:
            f.write(png(size, render(size)))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))
