#pragma once
// PNG pictures through libspng, at the precision the file carries.
//
// Every colour type and bit depth is read; interlaced files too. Samples of 1 to
// 8 bits become 8-bit pixels (grey scaled exactly: a 2-bit 1 reads 85, so its
// brightness is 1/3), 16-bit samples keep their full precision as levels
// (image/bitmap.h). Alpha is ignored, and so are all ancillary chunks
// (transparency, gamma, colour profiles, text, ...), whatever their number,
// without being kept: heights are data, not colours or comments. A palette
// index with no entry reads black.
//
// Safe for untrusted input: the pixel count is capped at kMaxBmpPixels, and a file
// must bring enough compressed data for its size, both checked before anything
// is allocated for the pixels; corrupt critical chunks, bad checksums, short
// data and a file cut anywhere before the end of its end chunk are errors.

#include <cstddef>
#include <cstdint>

#include "image/bitmap.h"

namespace talorin {

// Whether the data begins like a PNG file (the first four bytes of its signature).
bool LooksLikePng(const std::uint8_t* data, std::size_t size);

// Decodes a whole PNG file held in memory. Throws talorin::Error with a short
// Japanese reason (no file name) when the data is not a readable PNG.
Bitmap DecodePng(const std::uint8_t* data, std::size_t size);

} // namespace talorin
