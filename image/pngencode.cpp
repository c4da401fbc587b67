#include "image/pngencode.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <spng.h>

#include "base/error.h"

namespace talorin {

namespace {

struct FreeContext {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

void Check(int error) {
    if (error == SPNG_EMEM)
        throw std::bad_alloc();
    if (error != 0)
        throw Error(Text(Msg::PngEncodeFailed, {std::to_string(error)}));
}

} // namespace

std::string EncodePng(const Bitmap& image) {
    static_assert(sizeof(Rgb) == 3, "pixels must be packed RGB");
    if (image.empty())
        return {};
    const std::unique_ptr<spng_ctx, FreeContext> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx)
        throw std::bad_alloc();
    Check(spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1));
    // A fast level: the texture is a small part of the file, the time is not.
    Check(spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1));
    // One filter for every row instead of trying each: a contour image is
    // smooth from row to row.
    Check(spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_UP));
    spng_ihdr ihdr{};
    ihdr.width = std::uint32_t(image.width());
    ihdr.height = std::uint32_t(image.height());
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    Check(spng_set_ihdr(ctx.get(), &ihdr));
    const std::size_t size = std::size_t(image.width()) * image.height() * sizeof(Rgb);
    Check(spng_encode_image(ctx.get(), image.data(), size, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE));
    std::size_t length = 0;
    int error = 0;
    void* buffer = spng_get_png_buffer(ctx.get(), &length, &error);
    Check(error);
    const std::unique_ptr<void, decltype(&std::free)> owned(buffer, &std::free);
    return std::string(static_cast<const char*>(buffer), length);
}

} // namespace talorin
