// Feeds arbitrary bytes to the TIFF reader: it must either decode them or throw
// talorin::Error, never crash, hang, read out of bounds or allocate without limit.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "image/tiff.h"
#include "decodedimage.h"
#include "base/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const talorin::Bitmap bitmap = talorin::DecodeTiff(data, size);
        CheckDecodedImage(bitmap);
        // Heights are fractions of the range: a value outside 0..1 is a fault.
        if (const double* heights = bitmap.heights())
            for (std::size_t i = 0; i < std::size_t(bitmap.width()) * bitmap.height(); ++i)
                if (!(heights[i] >= 0 && heights[i] <= 1))
                    std::abort();
    } catch (const talorin::Error&) {
    }
    return 0;
}
