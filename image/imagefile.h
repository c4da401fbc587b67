#pragma once
// Opening a contour image of any kind we read: BMP, PNG, binary PGM/PPM and TIFF. The
// kind is told by the file's first bytes, never by its name, so a PNG named
// .bmp opens as a PNG.

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/bitmap.h"

namespace talorin {

enum class ImageKind { Unknown, Bmp, Png, Pnm, Tiff };

// The kind the data's first bytes announce: "BM" a BMP, the PNG signature a PNG,
// "P1" to "P7" a Netpbm file (only P5 and P6 decode), "II*\0", "MM\0*" or
// their BigTIFF forms a TIFF. Unknown otherwise.
ImageKind SniffImageKind(const std::uint8_t* data, std::size_t size);

// Decodes a whole file held in memory by its kind. Throws talorin::Error with a
// short Japanese reason (no file name) when it cannot be read.
Bitmap DecodeImage(const std::uint8_t* data, std::size_t size);

// Reads and decodes the image file at path. Throws talorin::Error whose text names
// the file and the reason ("<path> を読み込めません: <reason>"), the same texts as
// LoadBmpFile for a BMP file; of kind Io when the file cannot be read,
// OutOfMemory when memory runs out, BadInput for what the file holds.
Bitmap LoadImageFile(const std::string& path);

} // namespace talorin
