#pragma once
// Binary PGM (P5) and PPM (P6) pictures, read ourselves.
//
// A header of magic, width, height and maxval (1..65535) separated by blanks, with
// "#" comments up to the end of a line, then one blank and the samples: one byte
// each below 256, two bytes (most significant first) from 256 on. A file with a
// maxval of 255 gives plain 8-bit pixels; any other maxval keeps its samples as
// levels (image/bitmap.h) with levelMax = 3 x maxval, and its pixels are the
// nearest 8-bit values for display. Only the first picture of a file is read.
//
// Safe for untrusted input: the pixel count is capped at kMaxBmpPixels and the
// file must hold every sample, both checked before anything is allocated.

#include <cstddef>
#include <cstdint>

#include "image/bitmap.h"

namespace talorin {

// Whether the data begins like a Netpbm file ("P" and a digit 1 to 7), supported
// kind or not.
bool LooksLikePnm(const std::uint8_t* data, std::size_t size);

// Decodes a whole PGM or PPM file held in memory. Throws talorin::Error with a
// short Japanese reason (no file name) when the data is not a readable P5 or P6
// file, or a sample exceeds maxval.
Bitmap DecodePnm(const std::uint8_t* data, std::size_t size);

} // namespace talorin
