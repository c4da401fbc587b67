#include "image/bmp.h"

#include <algorithm>
#include <array>
#include <bit>
#include <new>
#include <string>
#include <vector>

#include "image/filebytes.h"
#include "base/error.h"

// What the decoder accepts:
// - headers of 12 (core, 3-byte palette entries), 16 and 64 (OS/2 2.x), 40, 52, 56,
//   108 (V4) and 124 (V5) bytes;
// - 1, 2, 4 and 8 bits through a palette, 16, 24 and 32 bits direct; 16-bit BI_RGB is
//   5-5-5, 32-bit BI_RGB ignores the fourth byte; BI_BITFIELDS (and BI_ALPHABITFIELDS)
//   with 16 or 32 bits, masks after a 40-byte header or inside a larger one;
// - RLE8 and RLE4, bottom-up only;
// - rows bottom-up (positive height) or top-down (negative height).
//
// Choices for damaged or unusual files:
// - A pixel index with no palette entry (short palette) reads black.
// - Pixels an RLE stream never writes (delta, early end of line or of bitmap) take
//   palette entry 0.
// - An RLE run or absolute block that goes past the end of its row is cut at the row's
//   end; it never wraps into the next row. A delta that leaves the image is an error.
// - An RLE stream may stop without the end-of-bitmap code once every row is done.
// - The palette is clamped to 2^bits entries and to the bytes before the pixel data.
// - The last row may lack its padding bytes.
// - Channel masks must be contiguous, must not overlap and must fit the pixel; an empty
//   mask reads 0. Channels are scaled to 8 bits by repeating their high bits (5-bit v
//   becomes v << 3 | v >> 2), wider channels keep their top 8 bits.

namespace talorin {
namespace {

const char* const kNotBmpText = MessageText(Msg::NotBmp, ProgramLanguage()).data();
const char* const kCorruptText = MessageText(Msg::BmpCorrupt, ProgramLanguage()).data();
const char* const kBadMaskText = MessageText(Msg::BmpBadMask, ProgramLanguage()).data();

// An RLE stream can describe a whole image in a few bytes (end-of-bitmap), so the file
// length alone does not bound it. Images above kRleFreePixels must bring at least one
// byte of RLE data for every kRlePixelsPerByte pixels; any real encoder writes far more
// (an empty row alone takes 2 bytes), and a tiny hostile file cannot make us allocate
// hundreds of megabytes.
constexpr std::uint64_t kRleFreePixels = std::uint64_t(1) << 22;
constexpr std::uint64_t kRlePixelsPerByte = std::uint64_t(1) << 16;

enum Compression : std::uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitfields = 3,
    kAlphaBitfields = 6,
};

[[noreturn]] void fail(const std::string& reason) {
    throw Error(reason);
}

[[noreturn]] void failUnsupported(const std::string& what) {
    fail(Text(Msg::BmpUnsupported, {what}));
}

std::uint16_t le16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// One colour channel of a 16- or 32-bit pixel, scaled to 8 bits.
class Channel {
  public:
    explicit Channel(std::uint32_t mask) : m_mask(mask) {
        if (mask == 0)
            return; // reads 0
        m_shift = std::countr_zero(mask);
        m_bits = std::popcount(mask);
        if (m_bits >= 8)
            return;
        for (std::uint32_t v = 0; v < (1u << m_bits); ++v) {
            const unsigned top = v << (8 - m_bits);
            unsigned out = 0;
            for (int filled = 0; filled < 8; filled += m_bits)
                out |= top >> filled;
            m_widen[v] = std::uint8_t(out);
        }
    }

    std::uint8_t operator()(std::uint32_t pixel) const {
        const std::uint32_t v = (pixel & m_mask) >> m_shift;
        return m_bits >= 8 ? std::uint8_t(v >> (m_bits - 8)) : m_widen[v];
    }

  private:
    std::uint32_t m_mask;
    int m_shift = 0;
    int m_bits = 0;
    std::array<std::uint8_t, 256> m_widen{};
};

bool contiguous(std::uint32_t mask) {
    return mask == 0 || std::has_single_bit((std::uint64_t(mask) >> std::countr_zero(mask)) + 1);
}

void checkMasks(const std::array<std::uint32_t, 3>& m, unsigned bitsPerPixel) {
    const std::uint32_t fits = bitsPerPixel == 32 ? 0xFFFFFFFFu : (1u << bitsPerPixel) - 1;
    for (std::uint32_t mask : m)
        if (!contiguous(mask) || (mask & ~fits) != 0)
            fail(kBadMaskText);
    if ((m[0] & m[1]) != 0 || (m[0] & m[2]) != 0 || (m[1] & m[2]) != 0)
        fail(kBadMaskText);
}

using Palette = std::array<Rgb, 256>;

struct Header {
    std::int64_t width = 0;
    std::int64_t rows = 0; // height without its sign
    bool topDown = false;
    unsigned bitsPerPixel = 0;
    std::uint32_t compression = kRgb;
    std::array<std::uint32_t, 3> masks{}; // red, green, blue
    Palette palette{};                    // entries past the file's palette stay black
};

void decodeIndexedRow(const std::uint8_t* src, Rgb* out, std::int64_t width, unsigned bits,
                      const Palette& palette) {
    if (bits == 8) {
        for (std::int64_t x = 0; x < width; ++x)
            out[x] = palette[src[x]];
        return;
    }
    const unsigned perByte = 8 / bits;
    const unsigned valueMask = (1u << bits) - 1;
    for (std::int64_t x = 0; x < width; ++x) {
        const unsigned slot = unsigned(x % perByte);
        out[x] = palette[(src[x / perByte] >> (8 - bits - slot * bits)) & valueMask];
    }
}

// The caller has checked that every row lies inside the data.
void decodeUncompressed(const Header& h, const std::uint8_t* pixels, Bitmap& bitmap) {
    const std::uint64_t stride = (std::uint64_t(h.width) * h.bitsPerPixel + 31) / 32 * 4;
    const bool defaultRgb32 =
        h.bitsPerPixel == 32 && h.masks == std::array<std::uint32_t, 3>{0xFF0000, 0xFF00, 0xFF};
    const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]);

    for (std::int64_t row = 0; row < h.rows; ++row) {
        const std::uint8_t* src = pixels + std::size_t(row) * stride;
        const int y = int(h.topDown ? row : h.rows - 1 - row);
        Rgb* out = &bitmap.pixel(0, y);
        const std::int64_t w = h.width;
        switch (h.bitsPerPixel) {
        case 24:
            for (std::int64_t x = 0; x < w; ++x, src += 3)
                out[x] = Rgb{src[2], src[1], src[0]};
            break;
        case 32:
            if (defaultRgb32) {
                for (std::int64_t x = 0; x < w; ++x, src += 4)
                    out[x] = Rgb{src[2], src[1], src[0]};
            } else {
                for (std::int64_t x = 0; x < w; ++x, src += 4) {
                    const std::uint32_t p = le32(src);
                    out[x] = Rgb{red(p), green(p), blue(p)};
                }
            }
            break;
        case 16:
            for (std::int64_t x = 0; x < w; ++x, src += 2) {
                const std::uint32_t p = le16(src);
                out[x] = Rgb{red(p), green(p), blue(p)};
            }
            break;
        default:
            decodeIndexedRow(src, out, w, h.bitsPerPixel, h.palette);
            break;
        }
    }
}

// RLE rows are bottom-up; `row` counts from the bottom of the image.
void decodeRle(const Header& h, const std::uint8_t* data, std::size_t available, Bitmap& bitmap) {
    const bool rle8 = h.compression == kRle8;
    const std::int64_t width = h.width;
    const std::int64_t rows = h.rows;
    std::fill(bitmap.data(), bitmap.data() + std::size_t(width) * std::size_t(rows), h.palette[0]);

    std::size_t pos = 0;
    std::int64_t x = 0;
    std::int64_t row = 0;
    auto remaining = [&] { return available - std::min(pos, available); };
    auto rowPixels = [&]() -> Rgb* {
        return row < rows ? &bitmap.pixel(0, int(rows - 1 - row)) : nullptr;
    };

    for (;;) {
        if (remaining() < 2) {
            // A stream may end without end-of-bitmap once the picture is complete.
            if (row >= rows || (row == rows - 1 && x >= width))
                return;
            fail(kTruncatedText);
        }
        const unsigned count = data[pos];
        const unsigned code = data[pos + 1];
        pos += 2;

        if (count > 0) { // a run of one index (RLE8) or of two alternating nibbles (RLE4)
            if (Rgb* out = rowPixels()) {
                const std::int64_t end = std::min<std::int64_t>(x + count, width);
                for (std::int64_t i = x; i < end; ++i) {
                    const unsigned index = rle8 ? code : ((i - x) & 1 ? code & 15 : code >> 4);
                    out[i] = h.palette[index];
                }
            }
            x = std::min<std::int64_t>(x + count, width);
            continue;
        }

        switch (code) {
        case 0: // end of line
            x = 0;
            if (row < rows)
                ++row;
            break;
        case 1: // end of bitmap
            return;
        case 2: { // delta: move right and up, leaving the pixels between at entry 0
            if (remaining() < 2)
                fail(kTruncatedText);
            const std::int64_t dx = data[pos], dy = data[pos + 1];
            pos += 2;
            if (x + dx > width || row + dy > rows)
                fail(kCorruptText);
            x += dx;
            row += dy;
            break;
        }
        default: { // absolute mode: `code` literal indices, padded to a 16-bit boundary
            const std::size_t bytes = rle8 ? code : (code + 1) / 2;
            if (remaining() < bytes)
                fail(kTruncatedText);
            if (Rgb* out = rowPixels()) {
                const std::int64_t end = std::min<std::int64_t>(x + code, width);
                for (std::int64_t i = x; i < end; ++i) {
                    const std::size_t k = std::size_t(i - x);
                    const unsigned index =
                        rle8 ? data[pos + k]
                             : (k & 1 ? data[pos + k / 2] & 15 : data[pos + k / 2] >> 4);
                    out[i] = h.palette[index];
                }
            }
            x = std::min<std::int64_t>(x + code, width);
            pos += bytes + (bytes & 1);
            break;
        }
        }
    }
}

Header readHeader(const std::uint8_t* data, std::size_t size, std::uint64_t& pixelOffset) {
    if (size < 2 || data[0] != 'B' || data[1] != 'M')
        fail(kNotBmpText);
    if (size < 18)
        fail(kTruncatedText);
    pixelOffset = le32(data + 10);
    const std::uint32_t headerSize = le32(data + 14);
    const bool core = headerSize == 12;
    const bool os2 = headerSize == 16 || headerSize == 64;
    if (!core && !os2 && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
        headerSize != 108 && headerSize != 124)
        failUnsupported(Text(Msg::BmpHeaderBytes, {std::to_string(headerSize)}));
    if (14 + std::uint64_t(headerSize) > size)
        fail(kTruncatedText);

    Header h;
    std::int64_t height = 0;
    std::uint32_t colorsUsed = 0;
    if (core) {
        h.width = le16(data + 18);
        height = le16(data + 20);
        h.bitsPerPixel = le16(data + 24);
    } else {
        h.width = std::int32_t(le32(data + 18));
        height = std::int32_t(le32(data + 22));
        h.bitsPerPixel = le16(data + 28);
        if (headerSize >= 40) {
            h.compression = le32(data + 30);
            colorsUsed = le32(data + 46);
        }
    }

    const unsigned bits = h.bitsPerPixel;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        failUnsupported(Text(Msg::BmpBits, {std::to_string(bits)}));
    const std::uint32_t c = h.compression;
    const bool bitfields = !os2 && (c == kBitfields || c == kAlphaBitfields);
    if (c != kRgb && c != kRle8 && c != kRle4 && !bitfields)
        failUnsupported(Text(Msg::BmpCompression, {std::to_string(c)}));
    if ((c == kRle8 && bits != 8) || (c == kRle4 && bits != 4) ||
        (bitfields && bits != 16 && bits != 32))
        failUnsupported(
            Text(Msg::BmpCompressionBits, {std::to_string(c), std::to_string(bits)}));

    h.topDown = height < 0;
    h.rows = h.topDown ? -height : height;
    if (h.width <= 0 || h.rows == 0)
        fail(kBadSizeText);
    if (h.topDown && (c == kRle8 || c == kRle4))
        fail(kCorruptText);
    if (std::uint64_t(h.width) * std::uint64_t(h.rows) > kMaxBmpPixels)
        fail(kTooLargeText);

    // Masks sit inside headers of 52 bytes and more, otherwise right after the header.
    std::uint64_t tableStart = 14 + std::uint64_t(headerSize);
    if (bitfields) {
        std::uint64_t maskAt = 14 + 40;
        if (headerSize < 52) {
            tableStart += c == kAlphaBitfields ? 16 : 12;
            if (tableStart > size)
                fail(kTruncatedText);
        }
        for (int i = 0; i < 3; ++i, maskAt += 4)
            h.masks[i] = le32(data + maskAt);
        checkMasks(h.masks, bits);
    } else if (bits == 16) {
        h.masks = {0x7C00, 0x03E0, 0x001F};
    } else if (bits == 32) {
        h.masks = {0xFF0000, 0xFF00, 0xFF};
    }

    if (pixelOffset < tableStart)
        fail(kCorruptText);
    if (pixelOffset > size)
        fail(kTruncatedText);

    if (bits <= 8) {
        const std::uint64_t entrySize = core ? 3 : 4;
        std::uint64_t entries = colorsUsed != 0 ? colorsUsed : 1u << bits;
        entries = std::min<std::uint64_t>(entries, 1u << bits);
        entries = std::min<std::uint64_t>(entries, (pixelOffset - tableStart) / entrySize);
        if (entries == 0)
            fail(kCorruptText);
        for (std::uint64_t i = 0; i < entries; ++i) {
            const std::uint8_t* e = data + tableStart + i * entrySize;
            h.palette[i] = Rgb{e[2], e[1], e[0]};
        }
    }
    return h;
}

} // namespace

Bitmap DecodeBmp(const std::uint8_t* data, std::size_t size) {
    std::uint64_t pixelOffset = 0;
    const Header h = readHeader(data, size, pixelOffset);
    const std::uint8_t* pixels = data + pixelOffset;
    const std::size_t available = size - std::size_t(pixelOffset);
    const std::uint64_t pixelCount = std::uint64_t(h.width) * std::uint64_t(h.rows);

    const bool rle = h.compression == kRle8 || h.compression == kRle4;
    if (rle) {
        if (pixelCount > kRleFreePixels &&
            (pixelCount + kRlePixelsPerByte - 1) / kRlePixelsPerByte > available)
            fail(kTruncatedText);
    } else {
        const std::uint64_t bitsPerRow = std::uint64_t(h.width) * h.bitsPerPixel;
        const std::uint64_t stride = (bitsPerRow + 31) / 32 * 4;
        const std::uint64_t needed = stride * std::uint64_t(h.rows - 1) + (bitsPerRow + 7) / 8;
        if (needed > available)
            fail(kTruncatedText);
    }

    Bitmap bitmap;
    AllocateOrThrow([&] { bitmap = Bitmap(int(h.width), int(h.rows)); });
    if (rle)
        decodeRle(h, pixels, available, bitmap);
    else
        decodeUncompressed(h, pixels, bitmap);
    return bitmap;
}

Bitmap LoadBmpFile(const std::string& path) {
    try {
        const std::vector<std::uint8_t> bytes = ReadFileBytes(path, kMaxBmpFileBytes);
        return DecodeBmp(bytes.data(), bytes.size());
    } catch (const Error& e) {
        throw Error(e.kind(), Text(Msg::CannotReadFile, {path, e.what()}));
    }
}

} // namespace talorin
