// Feeds arbitrary bytes to the PGM/PPM reader: it must either decode them or throw
// talorin::Error, never crash, hang, read out of bounds or allocate without limit.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/pnm.h"
#include "shape/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const talorin::Bitmap bitmap = talorin::DecodePnm(data, size);
        // A decoded picture has the size it claims; touching its last pixel shows a
        // short allocation.
        if (bitmap.width() <= 0 || bitmap.height() <= 0)
            std::abort();
        const int x = bitmap.width() - 1, y = bitmap.height() - 1;
        volatile std::uint8_t sink = bitmap.pixel(x, y).b;
        (void)sink;
        // Heights are looked up by level, so none may pass the maximum.
        if (const std::uint32_t* levels = bitmap.levels()) {
            for (std::size_t i = 0; i < std::size_t(bitmap.width()) * bitmap.height(); ++i)
                if (levels[i] > bitmap.levelMax())
                    std::abort();
        }
    } catch (const talorin::Error&) {
    }
    return 0;
}
