#pragma once
// Run arguments on a test's own image, and the height the generator reads at
// one image point, for tests that check heights point by point.

#include <memory>

#include "image/bitmap.h"
#include "terrain/terrain.h"
#include "terrain/vertexsampler.h"

namespace talorin {

// image without ownership, so that a test may change it between runs: it must
// outlive every run that reads it.
inline std::shared_ptr<const Bitmap> Borrowed(const Bitmap& image) {
    return std::shared_ptr<const Bitmap>(std::shared_ptr<const Bitmap>(), &image);
}

// The height at image point (x, y) of a run with this profile, exponent e and
// MaxHeight heightScale, through the run's own sampler, for an image of at
// least 2 x 2 pixels. Throws FloatFault for a point that cannot be rounded to
// a 32-bit integer.
inline double SampleHeight(const Bitmap& image, std::uint8_t shapeMode, double x, double y,
                           double heightScale, double e) {
    Talorin_Args args;
    args.Size = 1;
    args.MaxHeight = heightScale;
    args.ShapeMode = shapeMode;
    args.CurveLevel = e;
    args.Bitmap = Borrowed(image);
    return VertexSampler(args).checkedVertex({x, y}).Z;
}

} // namespace talorin
