#pragma once
// Run arguments that read a test's own image, which the test may change
// between runs.

#include <memory>

#include "image/bitmap.h"

namespace talorin {

// image without ownership: it must outlive every run that reads it.
inline std::shared_ptr<const Bitmap> Borrowed(const Bitmap& image) {
    return std::shared_ptr<const Bitmap>(std::shared_ptr<const Bitmap>(), &image);
}

} // namespace talorin
