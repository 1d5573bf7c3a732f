#!/usr/bin/env python3
"""Draws the pointer shown while an input item is carried, shipped as drag.ico: a 32x32
icon, 32-bit with alpha, of a list row with arrows up and down.

Run it to regenerate the file: python3 make_drag_icon.py drag.ico
"""
import struct
import sys

# '#' outline, '.' fill, 'o' the row's text, ' ' transparent. An icon's hot spot is its
# centre, which is the middle of the row.
ART = [
    "       ##       ",
    "      #..#      ",
    "     #....#     ",
    "    #......#    ",
    "    ###..###    ",
    "  ############  ",
    "  #..........#  ",
    "  #.oooooooo.#  ",
    "  #.oooooo...#  ",
    "  #..........#  ",
    "  ############  ",
    "    ###..###    ",
    "    #......#    ",
    "     #....#     ",
    "      #..#      ",
    "       ##       ",
]
SIZE = 32
COLOURS = {"#": (0, 0, 0, 255), ".": (255, 255, 255, 255), "o": (32, 64, 160, 255)}


def pixels():
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            # Each art cell is 2x2 pixels.
            ch = ART[y // 2][x // 2]
            row.append(COLOURS.get(ch, (0, 0, 0, 0)))
        rows.append(row)
    return rows


def main(out):
    rows = pixels()
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    # Readers that ignore alpha take transparency from the mask: a set bit is see-through.
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for (_, _, _, a) in row:
            bits = (bits << 1) | (1 if a == 0 else 0)
        mask += bits.to_bytes(SIZE // 8, "big")
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(out, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "drag.ico")
