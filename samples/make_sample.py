#!/usr/bin/env python3
"""Writes the sample contour images for trying the tool out.

mountain.bmp is a 129 x 129 24-bit grey BMP whose brightness is height: a round
main peak, a lower ridge running off to the south-west and a small knoll, on
ground that falls to black at the borders. mountain16.png is the same terrain
as a 16-bit grey PNG, whose 65536 levels make smooth slopes without the steps
of 256 levels. mountain-dem.tif is the terrain as an elevation raster: a
GeoTIFF of 16-bit signed metres (312 to 2180 m, a few NoData holes of -9999)
on a projected grid of 30 m pixels, 129 x 97 samples, so that --true-scale
makes it 3,840 m long. Standard library only; run it from anywhere:

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


DEM_WIDTH, DEM_HEIGHT = 129, 97
DEM_LOW, DEM_HIGH, DEM_NODATA = 312.0, 2180.0, -9999


def dem_value(x, y):
    """Metres at sample (x, y) of the elevation raster, or the NoData value."""
    if (x - 20) ** 2 + (y - 70) ** 2 < 9 or (x, y) == (100, 10):
        return DEM_NODATA
    h = height(x * (SIZE - 1) / (DEM_WIDTH - 1), y * (SIZE - 1) / (DEM_HEIGHT - 1))
    return round(DEM_LOW + (DEM_HIGH - DEM_LOW) * h)


def geotiff_bytes():
    """A little-endian GeoTIFF, one Deflate-compressed strip with the horizontal predictor."""
    rows = bytearray()
    for y in range(DEM_HEIGHT):
        values = [dem_value(x, y) for x in range(DEM_WIDTH)]
        previous = 0
        for v in values:  # predictor 2: each sample as its difference to the left one
            rows += struct.pack("<h", ((v - previous + 32768) % 65536) - 32768)
            previous = v
    data = zlib.compress(bytes(rows), 9)
    nodata = str(DEM_NODATA).encode() + b"\x00"
    # GeoKeys: version 1.1.0, 4 keys: projected model, pixel-is-area, UTM zone 54N
    # (WGS 84), linear unit metre.
    keys = [1, 1, 0, 4, 1024, 0, 1, 1, 1025, 0, 1, 1, 3072, 0, 1, 32654, 3076, 0, 1, 9001]
    scale = [30.0, 30.0, 0.0]
    tiepoint = [0.0, 0.0, 0.0, 500000.0, 3950000.0, 0.0]
    # (tag, type, values): type 3 SHORT, 4 LONG, 12 DOUBLE, 2 ASCII.
    entries = [
        (256, 3, [DEM_WIDTH]), (257, 3, [DEM_HEIGHT]), (258, 3, [16]), (259, 3, [8]),
        (262, 3, [1]), (273, 4, [0]), (277, 3, [1]), (278, 3, [DEM_HEIGHT]),
        (279, 4, [len(data)]), (284, 3, [1]), (317, 3, [2]), (339, 3, [2]),
        (33550, 12, scale), (33922, 12, tiepoint), (34735, 3, keys), (42113, 2, nodata),
    ]
    sizes = {2: 1, 3: 2, 4: 4, 12: 8}
    codes = {3: "<H", 4: "<I", 12: "<d"}
    ifd_offset = 8
    extra_offset = ifd_offset + 2 + 12 * len(entries) + 4
    extra = bytearray()
    ifd = struct.pack("<H", len(entries))
    strip_entry = None
    for tag, kind, values in entries:
        payload = values if kind == 2 else b"".join(struct.pack(codes[kind], v) for v in values)
        count = len(values)
        if len(payload) <= 4:
            field = payload + bytes(4 - len(payload))
        else:
            field = struct.pack("<I", extra_offset + len(extra))
            extra += payload + bytes(len(payload) % 2)
        if tag == 273:
            strip_entry = len(ifd) + 8
        ifd += struct.pack("<HHI", tag, kind, count) + field
    ifd += struct.pack("<I", 0)
    strip_offset = extra_offset + len(extra)
    ifd = bytearray(ifd)
    ifd[strip_entry:strip_entry + 4] = struct.pack("<I", strip_offset)
    return b"II*\x00" + struct.pack("<I", ifd_offset) + bytes(ifd) + bytes(extra) + data


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(folder, "mountain.bmp"), "wb") as f:
        f.write(bmp_bytes())
    with open(os.path.join(folder, "mountain16.png"), "wb") as f:
        f.write(png16_bytes())
    with open(os.path.join(folder, "mountain-dem.tif"), "wb") as f:
        f.write(geotiff_bytes())


if __name__ == "__main__":
    main()
