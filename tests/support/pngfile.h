#pragma once
// Test images: PNG files written from their fields with zlib alone, independent
// of the decoder under test. Samples are given unpacked, row by row, channel by
// channel; the writer packs bit depths below 8, stores 16-bit samples most
// significant byte first and lays out Adam7 passes for interlaced files.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "image/bitmap.h"

namespace testsupport {

enum PngColour : std::uint8_t {
    kPngGrey = 0,
    kPngRgb = 2,
    kPngPalette = 3,
    kPngGreyAlpha = 4,
    kPngRgba = 6,
};

inline int PngChannels(std::uint8_t colourType) {
    switch (colourType) {
    case kPngRgb:
        return 3;
    case kPngGreyAlpha:
        return 2;
    case kPngRgba:
        return 4;
    default:
        return 1;
    }
}

struct PngChunk {
    std::string type;
    std::string data;
};

struct PngWriter {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    std::uint8_t colourType = kPngGrey;
    std::uint8_t bitDepth = 8;
    bool interlaced = false;
    std::vector<std::uint16_t> samples;    // width x height x channels
    std::vector<talorin::Rgb> palette;     // PLTE entries
    std::vector<PngChunk> beforeImageData; // extra chunks after IHDR (and PLTE)
    std::size_t imageDataChunks = 1;       // the compressed stream split this many ways
    std::string imageData;                 // when not empty, the IDAT data as it stands

    static void Put32(std::string& out, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out += char(v >> shift & 0xFF);
    }

    static std::string Chunk(const std::string& type, const std::string& data) {
        std::string out;
        Put32(out, std::uint32_t(data.size()));
        std::string body = type + data;
        out += body;
        Put32(out, std::uint32_t(
                       crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
        return out;
    }

    std::uint16_t sample(std::uint32_t x, std::uint32_t y, int c) const {
        return samples[(std::size_t(y) * width + x) * PngChannels(colourType) + c];
    }

    // One filtered row (filter type None) of the pixels at xs in row y.
    std::string row(std::uint32_t y, std::uint32_t x0, std::uint32_t step) const {
        std::string out(1, '\0');
        const int channels = PngChannels(colourType);
        unsigned acc = 0, filled = 0;
        for (std::uint32_t x = x0; x < width; x += step) {
            for (int c = 0; c < channels; ++c) {
                const std::uint16_t v = sample(x, y, c);
                if (bitDepth == 16) {
                    out += char(v >> 8);
                    out += char(v & 0xFF);
                } else if (bitDepth == 8) {
                    out += char(v);
                } else {
                    acc = acc << bitDepth | v;
                    filled += bitDepth;
                    if (filled == 8) {
                        out += char(acc);
                        acc = filled = 0;
                    }
                }
            }
        }
        if (filled > 0)
            out += char(acc << (8 - filled));
        return out;
    }

    std::string rawImageData() const {
        std::string raw;
        if (!interlaced) {
            for (std::uint32_t y = 0; y < height; ++y)
                raw += row(y, 0, 1);
            return raw;
        }
        // Adam7: x start, y start, x step, y step of each pass.
        constexpr std::uint32_t kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8},
                                                 {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2},
                                                 {0, 1, 1, 2}};
        for (const auto& p : kPasses) {
            if (p[0] >= width || p[1] >= height)
                continue; // an empty pass has no rows at all
            for (std::uint32_t y = p[1]; y < height; y += p[3])
                raw += row(y, p[0], p[2]);
        }
        return raw;
    }

    std::string build() const {
        std::string ihdr;
        Put32(ihdr, width);
        Put32(ihdr, height);
        ihdr += char(bitDepth);
        ihdr += char(colourType);
        ihdr += '\0'; // deflate
        ihdr += '\0'; // adaptive filtering
        ihdr += char(interlaced ? 1 : 0);

        std::string png = "\x89PNG\r\n\x1a\n";
        png += Chunk("IHDR", ihdr);
        if (!palette.empty()) {
            std::string plte;
            for (const talorin::Rgb& c : palette)
                plte += {char(c.r), char(c.g), char(c.b)};
            png += Chunk("PLTE", plte);
        }
        for (const PngChunk& c : beforeImageData)
            png += Chunk(c.type, c.data);

        std::string compressed = imageData;
        if (compressed.empty()) {
            const std::string raw = rawImageData();
            uLongf length = compressBound(uLong(raw.size()));
            compressed.resize(length);
            compress2(reinterpret_cast<Bytef*>(compressed.data()), &length,
                      reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 9);
            compressed.resize(length);
        }
        const std::size_t part = (compressed.size() + imageDataChunks - 1) / imageDataChunks;
        for (std::size_t at = 0; at < compressed.size(); at += part)
            png += Chunk("IDAT", compressed.substr(at, part));
        png += Chunk("IEND", "");
        return png;
    }
};

} // namespace testsupport
