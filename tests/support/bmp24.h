#pragma once
// Test images: a 24-bit BMP, rows stored bottom-up and padded to four bytes,
// as most painting programs save them.

#include <cstdint>
#include <functional>
#include <string>

#include "image/bitmap.h"

namespace testsupport {

inline std::string Bmp24Bytes(int width, int height,
                              const std::function<talorin::Rgb(int x, int y)>& pixel) {
    const std::uint32_t rowSize = (std::uint32_t(width) * 3 + 3) / 4 * 4;
    const std::uint32_t dataSize = rowSize * std::uint32_t(height);
    std::string b;
    auto u16 = [&](std::uint32_t v) {
        b += char(v & 0xff);
        b += char(v >> 8 & 0xff);
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xffff);
        u16(v >> 16);
    };
    b += "BM";
    u32(54 + dataSize);
    u32(0);
    u32(54); // pixel data offset
    u32(40); // BITMAPINFOHEADER
    u32(std::uint32_t(width));
    u32(std::uint32_t(height));
    u16(1);
    u16(24);
    u32(0); // BI_RGB
    u32(dataSize);
    u32(2835);
    u32(2835);
    u32(0);
    u32(0);
    for (int y = height - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < width; ++x) {
            const talorin::Rgb c = pixel(x, y);
            row += char(c.b);
            row += char(c.g);
            row += char(c.r);
        }
        row.resize(rowSize, '\0');
        b += row;
    }
    return b;
}

} // namespace testsupport
