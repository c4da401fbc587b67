#include "image/png.h"

#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "image/filebytes.h"
#include "base/error.h"

namespace talorin {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

const char* const kNotPngText = MessageText(Msg::NotPng, ProgramLanguage()).data();
const char* const kBadCrcText = MessageText(Msg::PngBadCrc, ProgramLanguage()).data();
const char* const kCorruptText = MessageText(Msg::PngCorrupt, ProgramLanguage()).data();
const char* const kTooLittleDataText = MessageText(Msg::PngTooLittleData, ProgramLanguage()).data();

// Deflate writes a 258-byte match in 2 bits at best, so compressed data expands at
// most 1032 times. A file whose image data is shorter than its pixels over that
// cannot be whole, and is refused before the pixels are allocated; otherwise a
// tiny hostile file could make us allocate the pixel cap. Small images are
// exempt: they cost little, and the bound then needs no care about headers.
constexpr std::uint64_t kMaxInflateRatio = 1032;
constexpr std::uint64_t kFreeRawBytes = std::uint64_t(1) << 20;

// What the library may keep of the chunks we ignore (text, profiles, ...).
constexpr std::size_t kChunkLimit = std::size_t(1) << 26;

struct FreeContext {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, FreeContext>;

[[noreturn]] void fail(const std::string& reason) {
    throw Error(reason);
}

[[noreturn]] void failWith(int code) {
    switch (code) {
    case SPNG_IO_EOF:
    case SPNG_EOF:
    case SPNG_EIDAT_TOO_SHORT:
        fail(kTruncatedText);
    case SPNG_ESIGNATURE:
        fail(kNotPngText);
    case SPNG_EWIDTH:
    case SPNG_EHEIGHT:
        fail(kBadSizeText);
    case SPNG_EUSER_WIDTH:
    case SPNG_EUSER_HEIGHT:
        fail(kTooLargeText);
    case SPNG_ECHUNK_CRC:
        fail(kBadCrcText);
    case SPNG_EMEM:
        throw Error(ErrorKind::OutOfMemory, kNoMemoryText);
    default:
        fail(Text(Msg::PngCorruptWhy, {spng_strerror(code)}));
    }
}

void check(int code) {
    if (code != SPNG_OK)
        failWith(code);
}

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

// The bytes of image data (IDAT chunks) the file really holds, whatever their
// headers claim.
std::uint64_t imageDataBytes(const std::uint8_t* data, std::size_t size) {
    std::uint64_t total = 0;
    std::size_t pos = sizeof kSignature;
    while (size - pos >= 8) {
        const std::uint32_t length = be32(data + pos);
        const std::uint8_t* type = data + pos + 4;
        pos += 8;
        const std::size_t available = size - pos;
        if (std::memcmp(type, "IDAT", 4) == 0)
            total += std::min<std::uint64_t>(length, available);
        if (std::memcmp(type, "IEND", 4) == 0 || std::uint64_t(length) + 4 > available)
            break;
        pos += length + 4;
    }
    return total;
}

bool isLetter(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Ancillary chunks (text, profiles, time, ...; a lowercase first letter) say
// nothing about the heights. The library would keep them, and refuse a file
// with more than it counts, so they never reach it. A name that is no name
// is left for the library to refuse.
bool isAncillary(const std::uint8_t* type) {
    return isLetter(type[0]) && isLetter(type[1]) && isLetter(type[2]) && isLetter(type[3]) &&
           type[0] >= 'a';
}

// The chunk list after the signature: whether it ends in a complete end
// chunk, and whether anything was left out.
struct ChunkWalk {
    bool ended = false;
    bool dropped = false;
};

// Calls keep(offset, count) for the byte ranges the library is to see, in
// order: the signature, every chunk but the ancillary ones after the first
// (the library checks that the header comes first), up to and including the
// end chunk. From a chunk whose stated length goes past the data, the rest is
// kept as it is, so that the library reports the cut or the bad length as
// always. Bytes after the end chunk are never read.
template <typename Keep>
ChunkWalk walkChunks(const std::uint8_t* data, std::size_t size, Keep&& keep) {
    ChunkWalk walk;
    std::size_t pos = sizeof kSignature;
    keep(0, pos);
    for (bool first = true; size - pos >= 12; first = false) {
        const std::uint64_t length = be32(data + pos);
        const std::uint8_t* type = data + pos + 4;
        if (length > size - pos - 12)
            break;
        const std::size_t end = pos + 12 + std::size_t(length);
        if (std::memcmp(type, "IEND", 4) == 0) {
            keep(pos, end - pos);
            walk.ended = true;
            return walk;
        }
        if (!first && isAncillary(type))
            walk.dropped = true;
        else
            keep(pos, end - pos);
        pos = end;
    }
    keep(pos, size - pos);
    return walk;
}

unsigned channelsOf(std::uint8_t colorType) {
    switch (colorType) {
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
        return 2;
    case SPNG_COLOR_TYPE_TRUECOLOR:
        return 3;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
        return 4;
    default: // grey, palette
        return 1;
    }
}

// 16-bit samples as levels, and their 8-bit reduction as the pixels.
void decode16(spng_ctx* ctx, const spng_ihdr& ihdr, Bitmap& bitmap) {
    const std::size_t pixels = std::size_t(ihdr.width) * ihdr.height;
    const unsigned channels = channelsOf(ihdr.color_type);
    std::vector<std::uint16_t> samples;
    std::vector<std::uint32_t> levels;
    AllocateOrThrow([&] {
        samples.resize(pixels * channels);
        levels.resize(pixels);
    });
    // Host-endian samples in the file's own layout, deinterlaced, nothing applied.
    check(spng_decode_image(ctx, samples.data(), samples.size() * 2, SPNG_FMT_PNG, 0));

    constexpr std::uint32_t kMax = 65535;
    const bool grey = channels <= 2;
    Rgb* out = bitmap.data();
    const std::uint16_t* in = samples.data();
    for (std::size_t i = 0; i < pixels; ++i, in += channels) {
        const std::uint32_t r = in[0];
        const std::uint32_t g = grey ? in[0] : in[1];
        const std::uint32_t b = grey ? in[0] : in[2];
        levels[i] = r + g + b;
        out[i] = Rgb{ScaleTo8Bits(r, kMax), ScaleTo8Bits(g, kMax), ScaleTo8Bits(b, kMax)};
    }
    bitmap.setLevels(std::move(levels), 3 * kMax);
}

} // namespace

bool LooksLikePng(const std::uint8_t* data, std::size_t size) {
    return size >= 4 && std::memcmp(data, kSignature, 4) == 0;
}

Bitmap DecodePng(const std::uint8_t* data, std::size_t size) {
    if (!LooksLikePng(data, size))
        fail(kNotPngText);
    if (size < sizeof kSignature)
        fail(kTruncatedText);
    if (std::memcmp(data, kSignature, sizeof kSignature) != 0)
        fail(kNotPngText);

    // The file without its ancillary chunks: a copy only when there were some.
    std::vector<std::uint8_t> compact;
    const ChunkWalk walk = walkChunks(data, size, [](std::size_t, std::size_t) {});
    const std::uint8_t* png = data;
    std::size_t pngSize = size;
    if (walk.dropped) {
        std::size_t keptBytes = 0;
        walkChunks(data, size, [&](std::size_t, std::size_t count) { keptBytes += count; });
        AllocateOrThrow([&] { compact.reserve(keptBytes); });
        walkChunks(data, size, [&](std::size_t offset, std::size_t count) {
            compact.insert(compact.end(), data + offset, data + offset + count);
        });
        png = compact.data();
        pngSize = compact.size();
    }

    const Context ctx(spng_ctx_new(0));
    if (!ctx)
        throw Error(ErrorKind::OutOfMemory, kNoMemoryText);
    // Gamma is applied only on request and checksums of critical chunks are
    // checked by default; ancillary chunks with a bad checksum are dropped.
    check(spng_set_image_limits(ctx.get(), std::uint32_t(kMaxBmpPixels),
                                std::uint32_t(kMaxBmpPixels)));
    check(spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkLimit));
    check(spng_set_png_buffer(ctx.get(), png, pngSize));

    spng_ihdr ihdr{};
    check(spng_get_ihdr(ctx.get(), &ihdr));
    const std::uint64_t pixels = std::uint64_t(ihdr.width) * ihdr.height;
    if (pixels > kMaxBmpPixels)
        fail(kTooLargeText);
    const std::uint64_t bits = pixels * ihdr.bit_depth * channelsOf(ihdr.color_type);
    const std::uint64_t rawBytes = (bits + 7) / 8;
    if (rawBytes > kFreeRawBytes && imageDataBytes(data, size) * kMaxInflateRatio < rawBytes)
        fail(kTooLittleDataText);

    Bitmap bitmap;
    AllocateOrThrow([&] { bitmap = Bitmap(int(ihdr.width), int(ihdr.height)); });
    if (ihdr.bit_depth == 16) {
        decode16(ctx.get(), ihdr, bitmap);
    } else {
        // Palette entries and grey of 1 to 8 bits as 8-bit RGB, straight into the pixels.
        check(spng_decode_image(ctx.get(), bitmap.data(), std::size_t(pixels) * sizeof(Rgb),
                                SPNG_FMT_RGB8, 0));
    }
    // The rest of the file: the checksum of the last image data chunk and the end
    // chunk are only read here, and a file cut short there is still cut short.
    check(spng_decode_chunks(ctx.get()));
    // The library takes a file cut inside its end chunk as whole; it is not.
    if (!walk.ended)
        fail(kTruncatedText);
    return bitmap;
}

} // namespace talorin
