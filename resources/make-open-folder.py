#!/usr/bin/env python3
"""Draws the Open button's bitmap: an open yellow folder on the light grey of a button face,
16 x 15 pixels, stored as a 256-colour (8 bits per pixel) Windows bitmap.

    python3 resources/make-open-folder.py resources/open-folder.bmp

The output is committed beside this script; run it again after changing the drawing.
"""
import struct
import sys

# One character per pixel, top row first.
PICTURE = """
................
................
.KKK............
KWYYK...........
KYDDDKKKKKKK....
KYDDDDDDDDDK....
KYDDKKKKKKKKKKKK
KYDKWWWWWWWWWWK.
KYDKWYYYYYYYYYK.
KYKWYYYYYYYYYK..
KYKWYYYYYYYYYK..
KKWYYYYYYYYYK...
KKWYYYYYYYYYK...
KKKKKKKKKKKKK...
................
"""

COLOURS = {  # character -> (red, green, blue)
    ".": (192, 192, 192),  # button face
    "K": (0, 0, 0),  # outline
    "Y": (255, 255, 0),  # folder, front
    "D": (128, 128, 0),  # folder, inside at the back
    "W": (255, 255, 160),  # lit edge of the folder
}


def bitmap(rows):
    width, height = len(rows[0]), len(rows)
    if any(len(row) != width for row in rows):
        raise ValueError("every row of the picture must have the same width")
    order = list(COLOURS)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in COLOURS.values())
    palette += bytes(4 * (256 - len(order)))  # the unused entries of the 256-colour table
    stride = (width + 3) & ~3
    pixels = b"".join(
        bytes(order.index(c) for c in row) + bytes(stride - width) for row in reversed(rows)
    )  # bottom-up
    offset = 14 + 40 + len(palette)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    return file_header + info_header + palette + pixels


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-open-folder.py OUTPUT.bmp")
    rows = PICTURE.strip().splitlines()
    if len(rows) != 15 or len(rows[0]) != 16:
        sys.exit("the picture must be 16 x 15 pixels")
    with open(sys.argv[1], "wb") as out:
        out.write(bitmap(rows))


if __name__ == "__main__":
    main()
