#!/usr/bin/env python3
"""Draws the list's drag pointer, ui/pointers/drag.ico: a black up-and-down arrow across a
row bar, outlined in white so that it shows on any background. 32 x 32, 32-bit colour.

    scripts/draw-drag-pointer.py [OUTPUT]
"""
import struct
import sys

SIZE = 32


def inside(x, y):
    cx = x + 0.5
    cy = y + 0.5
    shaft = 14 <= x <= 17 and 8 <= y <= 23
    # Arrow heads: 15 rows each, widening by one pixel a side per row.
    top = 2 <= y <= 9 and abs(cx - 16) <= (cy - 2)
    bottom = 22 <= y <= 29 and abs(cx - 16) <= (30 - cy)
    bar = 5 <= x <= 26 and 15 <= y <= 16
    return shaft or top or bottom or bar


def near(x, y):
    return any(inside(x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1))


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else "ui/pointers/drag.ico"
    pixels = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bitmaps run bottom-up
        bits = 0
        for x in range(SIZE):
            if inside(x, y):
                pixels += bytes((0, 0, 0, 255))
            elif near(x, y):
                pixels += bytes((255, 255, 255, 255))
            else:
                pixels += bytes((0, 0, 0, 0))
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(output, "wb") as file:
        file.write(directory + image)


if __name__ == "__main__":
    main()
