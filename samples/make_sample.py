#!/usr/bin/env python3
"""Writes mountain.bmp: a small contour image for trying the tool out.

A 129 x 129 24-bit grey BMP whose brightness is height: a round main peak, a
lower ridge running off to the south-west and a small knoll, on ground that
falls to black at the borders. Standard library only; run it from anywhere:

    python3 samples/make_sample.py
"""

import math
import os
import struct

SIZE = 129


def height(x, y):
    """Height 0..1 at pixel (x, y), x the column and y the row from the top."""
    u = x / (SIZE - 1)
    v = y / (SIZE - 1)
    peak = math.exp(-(((u - 0.58) / 0.17) ** 2 + ((v - 0.40) / 0.17) ** 2))
    # The ridge: an elongated bump along a line leaving the peak to the lower left.
    along = -(u - 0.36) * 0.69 + (v - 0.63) * 0.73
    across = (u - 0.36) * 0.73 + (v - 0.63) * 0.69
    ridge = 0.55 * math.exp(-((along / 0.26) ** 2 + (across / 0.07) ** 2))
    knoll = 0.30 * math.exp(-(((u - 0.80) / 0.08) ** 2 + ((v - 0.78) / 0.08) ** 2))
    h = 1 - (1 - peak) * (1 - ridge) * (1 - knoll)
    # Ground falls to zero at the borders, so opposite edges of the terrain meet.
    edge = min(u, 1 - u, v, 1 - v) / 0.12
    return h * min(1.0, edge)


def bmp_bytes():
    row_size = (SIZE * 3 + 3) // 4 * 4
    pixels = bytearray()
    for y in reversed(range(SIZE)):  # BMP rows run from the bottom
        row = bytearray()
        for x in range(SIZE):
            g = round(255 * height(x, y))
            row += bytes((g, g, g))
        row += bytes(row_size - len(row))
        pixels += row
    header_size = 14 + 40
    file_header = struct.pack("<2sIHHI", b"BM", header_size + len(pixels), 0, 0, header_size)
    info_header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(pixels),
                              2835, 2835, 0, 0)
    return file_header + info_header + bytes(pixels)


def main():
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mountain.bmp")
    with open(path, "wb") as f:
        f.write(bmp_bytes())


if __name__ == "__main__":
    main()
