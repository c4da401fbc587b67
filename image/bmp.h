#pragma once
// Our own BMP decoder, so that the core and the command-line tool need no Qt and
// the window and the command line read exactly the same pixels.
//
// Safe for untrusted input: every size is checked against the file's length,
// the pixel count is capped at kMaxBmpPixels, and nothing is read out of bounds.

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/bitmap.h"

namespace talorin {

inline constexpr std::uint64_t kMaxBmpPixels = 1ull << 28; // 268 M pixels, 805 MB decoded

// The largest file an image under the pixel cap can need (32 bits a pixel), plus room
// for headers, palette and an embedded colour profile.
inline constexpr std::uint64_t kMaxBmpFileBytes = kMaxBmpPixels * 4 + (std::uint64_t(1) << 24);

// Decodes a whole BMP file held in memory. Throws talorin::Error with a short
// Japanese reason (no file name) when the data is not a readable BMP.
Bitmap DecodeBmp(const std::uint8_t* data, std::size_t size);

// Reads and decodes the file at path. Throws talorin::Error whose text names
// the file and the reason.
Bitmap LoadBmpFile(const std::string& path);

} // namespace talorin
