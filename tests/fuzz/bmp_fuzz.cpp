// Feeds arbitrary bytes to the BMP decoder: it must either decode them or throw
// talorin::Error, never crash, hang, read out of bounds or allocate without limit.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/bmp.h"
#include "shape/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const talorin::Bitmap bitmap = talorin::DecodeBmp(data, size);
        // A decoded picture has the size it claims; touch its corners so that a short
        // allocation shows up under the address sanitizer.
        if (bitmap.width() <= 0 || bitmap.height() <= 0)
            std::abort();
        volatile std::uint8_t sink = bitmap.pixel(0, 0).r;
        sink = bitmap.pixel(bitmap.width() - 1, bitmap.height() - 1).b;
        (void)sink;
    } catch (const talorin::Error&) {
    }
    return 0;
}
