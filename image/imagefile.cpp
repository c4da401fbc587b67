#include "image/imagefile.h"

#include <vector>

#include "image/bmp.h"
#include "image/filebytes.h"
#include "image/png.h"
#include "image/pnm.h"
#include "image/tiff.h"
#include "base/error.h"

namespace talorin {
namespace {

const char* const kUnknownKindText = MessageText(Msg::UnknownImageKind, ProgramLanguage()).data();

// The longest file any reader accepts: a 16-bit RGBA PNG under the pixel cap
// stored without compression, plus room for other chunks. A BMP keeps its own
// smaller limit.
constexpr std::uint64_t kMaxImageFileBytes = kMaxBmpPixels * 8 + (std::uint64_t(1) << 24);

} // namespace

ImageKind SniffImageKind(const std::uint8_t* data, std::size_t size) {
    if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        return ImageKind::Bmp;
    if (LooksLikePng(data, size))
        return ImageKind::Png;
    if (LooksLikePnm(data, size))
        return ImageKind::Pnm;
    if (LooksLikeTiff(data, size))
        return ImageKind::Tiff;
    return ImageKind::Unknown;
}

Bitmap DecodeImage(const std::uint8_t* data, std::size_t size) {
    switch (SniffImageKind(data, size)) {
    case ImageKind::Bmp:
        return DecodeBmp(data, size);
    case ImageKind::Png:
        return DecodePng(data, size);
    case ImageKind::Pnm:
        return DecodePnm(data, size);
    case ImageKind::Tiff:
        return DecodeTiff(data, size);
    case ImageKind::Unknown:
        break;
    }
    throw Error(kUnknownKindText);
}

Bitmap LoadImageFile(const std::string& path) {
    try {
        const std::vector<std::uint8_t> bytes = ReadFileBytes(path, kMaxImageFileBytes);
        if (SniffImageKind(bytes.data(), bytes.size()) == ImageKind::Bmp &&
            bytes.size() > kMaxBmpFileBytes)
            throw Error(kTooLargeText);
        return DecodeImage(bytes.data(), bytes.size());
    } catch (const Error& e) {
        throw Error(e.kind(), Text(Msg::CannotReadFile, {path, e.what()}));
    }
}

} // namespace talorin
