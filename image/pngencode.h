#pragma once
// The contour image as PNG bytes, to embed it as a texture.

#include <string>

#include "image/bitmap.h"

namespace talorin {

// Encodes image (8-bit RGB, rows from the top) as an 8-bit truecolour PNG and
// returns the file's bytes. Throws talorin::Error with the encoder's message
// when encoding fails, std::bad_alloc when memory runs out. An empty image
// gives an empty string.
std::string EncodePng(const Bitmap& image);

} // namespace talorin
