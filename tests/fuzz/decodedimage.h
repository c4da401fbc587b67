#pragma once
// What every image reader's fuzz target checks of a picture it decoded.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "image/bitmap.h"

// A decoded picture has the size it claims (touching its first and last pixels
// shows a short allocation), and no level passes the maximum, since heights are looked
// up by level. Aborts otherwise, which the fuzzer reports.
inline void CheckDecodedImage(const talorin::Bitmap& bitmap) {
    if (bitmap.width() <= 0 || bitmap.height() <= 0)
        std::abort();
    const int x = bitmap.width() - 1, y = bitmap.height() - 1;
    volatile std::uint8_t sink = bitmap.pixel(0, 0).r;
    sink = bitmap.pixel(x, y).b;
    (void)sink;
    if (const std::uint32_t* levels = bitmap.levels()) {
        for (std::size_t i = 0; i < std::size_t(bitmap.width()) * bitmap.height(); ++i)
            if (levels[i] > bitmap.levelMax())
                std::abort();
    }
}
