// Setup shared by the benchmark programs: the contour image they generate
// from, the settings of the large run, a clock and min / median / max
// summaries. Kept in one place so that every program measures the same terrain
// and summarises its times the same way.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "image/bitmap.h"
#include "terrain/lattice.h"
#include "terrain/terrain.h"

namespace talorin::bench {

using Clock = std::chrono::steady_clock;

// Wall time in seconds from start until now.
inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Wall time in milliseconds from start until now.
inline double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Height, 0..1, of pixel (x, y) of a size x size picture of a smooth hill with
// ripples, so that heights vary from pixel to pixel. size must be at least 2.
inline double HillHeight(int x, int y, int size) {
    const double u = double(x) / (size - 1) - 0.5, v = double(y) / (size - 1) - 0.5;
    const double h =
        std::exp(-8 * (u * u + v * v)) * (0.8 + 0.2 * std::sin(40 * u) * std::cos(37 * v));
    return std::clamp(h, 0.0, 1.0);
}

// The 8-bit level of the contour image at (x, y): HillHeight scaled to 0..255
// and cut off, not rounded.
inline std::uint8_t HillLevel(int x, int y, int size) {
    return std::uint8_t(HillHeight(x, y, size) * 255);
}

// The contour image of the benchmarks, size x size: the hill's level in red
// and green, its complement in blue.
inline Bitmap ContourImage(int size) {
    Bitmap image(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const std::uint8_t level = HillLevel(x, y, size);
            image.setPixel(x, y, {level, level, std::uint8_t(255 - level)});
        }
    return image;
}

// The height settings of the benchmark runs on image at density paMax: a
// square of 2000, height 500, shape 2 with curve level 2.3; the arguments hold
// a copy of image. Depth, quads and UV are left to the caller.
inline Talorin_Args HeightArgs(const Bitmap& image, int paMax) {
    Talorin_Args args;
    args.Size = 2000;
    args.MaxHeight = 500;
    args.ShapeMode = 2;
    args.CurveLevel = 2.3;
    args.Bitmap = std::make_shared<const Bitmap>(image);
    args.PaMax = paMax;
    args.Lattice = InitMeshLattice(image, paMax);
    return args;
}

// HeightArgs at density 16 with the object named "bench" and its attribute
// "ground": at depth 6 with quads, the 1,048,576-quad run.
inline Talorin_Args LargeRunArgs(const Bitmap& image) {
    Talorin_Args args = HeightArgs(image, 16);
    args.ObjName = "bench";
    args.AtrName = "ground";
    return args;
}

// Smallest, middle and largest of a set of measurements.
struct Summary {
    double min = 0, median = 0, max = 0;
};

// How the median of an even count is taken.
enum class EvenMedian {
    Mean,  // the mean of the two middle values
    Upper, // the upper of the two middle values
};

// Summarises values, which must not be empty.
inline Summary Summarize(std::vector<double> values, EvenMedian even = EvenMedian::Mean) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 || even == EvenMedian::Upper
                              ? values[n / 2]
                              : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {values.front(), median, values.back()};
}

} // namespace talorin::bench
