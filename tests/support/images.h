#pragma once
// Pictures and checks that the image and terrain tests share.

#include <cstdint>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "base/error.h"

namespace testsupport {

// width x height pixels from a fixed pseudo-random sequence started at seed, so
// that neighbouring heights differ everywhere.
inline talorin::Bitmap Speckled(int width, int height, std::uint32_t seed) {
    talorin::Bitmap image(width, height);
    std::uint32_t state = seed;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return std::uint8_t(state >> 24);
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, {next(), next(), next()});
    return image;
}

// Every pixel of bitmap, row after row.
inline std::vector<talorin::Rgb> PixelsOf(const talorin::Bitmap& bitmap) {
    return std::vector<talorin::Rgb>(bitmap.data(),
                                     bitmap.data() + std::size_t(bitmap.width()) * bitmap.height());
}

// The text of the talorin::Error that run() throws, or "(no error)".
template <typename Run> std::string ErrorTextOf(Run&& run) {
    try {
        run();
    } catch (const talorin::Error& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace testsupport
