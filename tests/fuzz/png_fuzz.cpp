// Feeds arbitrary bytes to the PNG reader: it must either decode them or throw
// talorin::Error, never crash, hang, read out of bounds or allocate without limit.

#include <cstddef>
#include <cstdint>

#include "image/png.h"
#include "decodedimage.h"
#include "base/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        CheckDecodedImage(talorin::DecodePng(data, size));
    } catch (const talorin::Error&) {
    }
    return 0;
}
