#!/usr/bin/env python3
"""Draws the hand pointer shipped as HAND-M.CUR: a 32x32 cursor, 32-bit with alpha.

Run it to regenerate the file: python3 make_pointer.py HAND-M.CUR
"""
import struct
import sys

# '#' outline, '.' fill, ' ' transparent; the hot spot is the fingertip.
ART = [
    "     ##         ",
    "    #..#        ",
    "    #..#        ",
    "    #..#        ",
    "    #..###      ",
    "    #..#..###   ",
    "    #..#..#..## ",
    " ## #..#..#..#.#",
    "#..##........#.#",
    "#...#..........#",
    " #.............#",
    "  #............#",
    "  #...........# ",
    "   #..........# ",
    "    #........#  ",
    "    #........#  ",
    "    ##########  ",
]
HOT_X, HOT_Y = 6, 1
SIZE = 32


def pixels():
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            # Each art cell is 2x2 pixels, placed at the top left.
            ay, ax = y // 2, x // 2
            ch = ART[ay][ax] if ay < len(ART) and ax < len(ART[ay]) else " "
            row.append({"#": (0, 0, 0, 255), ".": (255, 255, 255, 255)}.get(ch, (0, 0, 0, 0)))
        rows.append(row)
    return rows


def main(out):
    rows = pixels()
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    and_mask = b"\x00" * (SIZE * SIZE // 8)  # alpha decides; the mask keeps every pixel
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    icondir = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, HOT_X * 2, HOT_Y * 2, len(image), 6 + 16)
    with open(out, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "HAND-M.CUR")
