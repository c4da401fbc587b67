#pragma once
// TIFF pictures and elevation rasters through libtiff, read from memory.
//
// Strips or tiles, either byte order, BigTIFF, the compressions listed in
// tiff.cpp, predictors; of several bands only the first counts (three for an
// RGB picture). Two kinds come out:
//  - a picture: 8 or 16-bit unsigned grey, RGB or 8-bit palette samples and
//    no georeferencing, read exactly as a BMP (8 bits) or a 16-bit PNG would be;
//  - an elevation raster: signed or floating-point samples, integers wider than
//    16 bits, or any file with georeferencing keys. Its samples become height
//    fractions over the valid range (image/bitmap.h); NoData samples (the
//    GDAL_NODATA tag, NaN, infinities) take the minimum.
//
// Safe for untrusted input: the sizes are checked against the pixel cap and
// the memory budget, every strip or tile must lie inside the file, and the
// compressed data must be plausible for the decoded size, all before the
// pixels are allocated. libtiff never prints: its messages become the reason.

#include <cstddef>
#include <cstdint>

#include "image/bitmap.h"

namespace talorin {

// Whether the data begins like a TIFF or BigTIFF file, in either byte order.
bool LooksLikeTiff(const std::uint8_t* data, std::size_t size);

// Decodes a whole TIFF file held in memory. Throws talorin::Error with a short
// Japanese reason (no file name) when it cannot be read; of kind OutOfMemory
// when its pixels do not fit the memory budget.
Bitmap DecodeTiff(const std::uint8_t* data, std::size_t size);

// Makes libtiff know the georeferencing and NoData tags, so that they can be
// read and written. Idempotent and thread-safe; the reader calls it itself.
void RegisterTiffGeoTags();

} // namespace talorin
