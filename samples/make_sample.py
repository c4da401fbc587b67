#!/usr/bin/env python3
"""Writes the sample contour images for trying the tool out.

mountain.bmp is a 129 x 129 24-bit grey BMP whose brightness is height: a round
main peak, a lower ridge running off to the south-west and a small knoll, on
ground that falls to black at the borders. mountain16.png is the same terrain
as a 16-bit grey PNG, whose 65536 levels make smooth slopes without the steps
of 256 levels. Standard library only; run it from anywhere:

    python3 samples/make_sample.py
"""

import math
import os
import struct
import zlib

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


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png16_bytes():
    raw = bytearray()
    previous = bytes(SIZE * 2)
    for y in range(SIZE):
        row = b"".join(struct.pack(">H", round(65535 * height(x, y))) for x in range(SIZE))
        # Filter "Up" (the difference to the row above) suits a smooth surface.
        raw += b"\x02" + bytes((a - b) & 0xFF for a, b in zip(row, previous))
        previous = row
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 16, 0, 0, 0, 0)  # 16-bit grey
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(folder, "mountain.bmp"), "wb") as f:
        f.write(bmp_bytes())
    with open(os.path.join(folder, "mountain16.png"), "wb") as f:
        f.write(png16_bytes())


if __name__ == "__main__":
    main()
