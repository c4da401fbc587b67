#pragma once
// The vertex values of image points: position across the terrain, height read
// from the contour image through the profile, texture coordinates. Every mesh
// generator reads points through this one sampler, so that a point two of them
// share gets bit-identical values from each: the same operations in the same
// order, from the image's full-precision levels.
//
// The fast path is unchecked and inline: it tells a fault only by a value that
// came out non-finite. checkedVertex() goes through the same steps checked in
// the order of the rules, so that the first fault throws with its own text.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/bitmap.h"
#include "terrain/lattice.h"
#include "terrain/terrain.h"
#include "shape/terrainmesh.h"

namespace talorin {

inline constexpr double kTwoPow52 = 4503599627370496.0;

// Nearest integer, halves to even, under the default rounding mode: adding and
// taking away 2^52 leaves no fraction bits. Magnitudes from 2^52 up are whole.
inline double RoundHalfEven(double x) {
    const double magnitude = std::fabs(x);
    if (!(magnitude < kTwoPow52))
        return x;
    return std::copysign((magnitude + kTwoPow52) - kTwoPow52, x);
}

// Whether a whole number fits a 32-bit int; false for not-a-number too.
inline bool FitsInt32(double whole) {
    return whole >= -2147483648.0 && whole <= 2147483647.0;
}

// The truncating remainder of value by divisor (> 0), moved into 0..divisor-1.
// A negative remainder (an interior point pulled past the left or top border)
// would otherwise index outside the image. Points inside need no division.
inline int WrapIndex(int value, int divisor) {
    if (static_cast<unsigned>(value) < static_cast<unsigned>(divisor))
        return value;
    const int r = value % divisor;
    return r < 0 ? r + divisor : r;
}

// ShapeCurve(mode, level / levelMax, e) * MaxHeight for every level of the
// image, computed with every step checked: the same doubles the height sample
// gives, without four logarithms and powers per vertex. An entry whose
// computation faults holds NaN and its fault's text, raised only when a vertex
// actually reads that level.
//
// An 8-bit image has 766 levels, computed up front. A 16-bit one has 196,606,
// which would take some 20 ms on every run while a small run reads only a few
// of them, so a large table computes each level the first time it is read. Not
// yet computed and faulted both read NaN in entries(), so the common path costs
// one compare. Two threads may read one table at once (the two bands of a large
// run): entries and states are relaxed atomics (plain loads and stores on common
// hardware), and two threads that compute the same level store the same bits.
class HeightTable {
  public:
    // levelMax > 0. Throws std::bad_alloc only.
    HeightTable(std::uint8_t shapeMode, double e, double maxHeight, std::uint32_t levelMax);

    // The entries, NaN where not yet computed or faulted: read one, and call
    // height() for a NaN.
    const std::atomic<double>* entries() const { return m_heights.data(); }

    // The height of a level (0..levelMax), NaN when its computation faults.
    [[gnu::noinline]] double height(std::uint32_t level) const;

    // The text of the fault the level's computation raises, or null.
    const char* fault(std::uint32_t level) const;

    // The height of any level in 0..levelMax, whole or not, through the
    // profile with every step checked; throws FloatFault. A whole level gives
    // the bits height() gives it.
    double profileHeight(double level) const;

    // The height of a fraction of the full height (0..1) through the profile
    // with every step checked; throws FloatFault. Elevation rasters read this.
    double fractionHeight(double fraction) const;

  private:
    void compute(std::uint32_t level) const;

    std::uint8_t m_shapeMode;
    double m_e;
    double m_maxHeight;
    std::uint32_t m_levelMax;
    mutable std::vector<std::atomic<double>> m_heights;
    mutable std::vector<std::atomic<std::uint8_t>> m_state;
};

// Samples the points of one run of args. Reads args.Bitmap (not null, not
// empty), which must outlive the sampler; keeps no other reference to args. Safe to read from several threads at once.
class VertexSampler {
  public:
    // Throws FloatFault with the divide-by-zero text for an image one pixel
    // wide or high (before any height is read), std::bad_alloc when out of
    // memory.
    explicit VertexSampler(const Talorin_Args& args);

    // The vertex values of image point p, unchecked. False when any of them is
    // not finite or p cannot be rounded to a pixel: then some step faulted.
    bool vertex(MeshPoint p, MeshVertex& out) const {
        const double a = p.X * m_sW;
        const double b = p.Y * m_sH;
        out.X = b - m_halfX;
        out.Y = a - m_halfY;
        if (!height(p, out.Z))
            return false;
        out.U = a / m_sizeU * 255;
        out.V = b / m_sizeV * 255;
        return std::isfinite(out.X) && std::isfinite(out.Y) && std::isfinite(out.U) &&
               std::isfinite(out.V);
    }

    // The height alone of image point p, the bits vertex() gives as Z,
    // unchecked. False when it is not finite or p cannot be rounded to a pixel.
    bool height(MeshPoint p, double& z) const {
        if (m_otherRule)
            return otherHeight(p, z);
        std::uint32_t level = 0;
        if (!levelOf(p, level))
            return false;
        z = heightOf(level);
        return std::isfinite(z);
    }

    // The values of vertex() with every step checked in the order of the
    // rules; throws FloatFault with the text of the first fault.
    MeshVertex checkedVertex(MeshPoint p) const;

  private:
    // The level of the pixel at column c, row r (both in range).
    std::uint32_t levelAt(int c, int r) const {
        const std::size_t i = std::size_t(r) * std::size_t(m_width) + std::size_t(c);
        if (m_levels != nullptr)
            return m_levels[i];
        const Rgb& pixel = m_pixels[i];
        return std::uint32_t(pixel.r + pixel.g + pixel.b);
    }

    // The level at the pixel p rounds to, wrapped into the image; false when p
    // cannot be rounded to a 32-bit integer.
    bool levelOf(MeshPoint p, std::uint32_t& level) const {
        const double column = RoundHalfEven(p.X);
        const double row = RoundHalfEven(p.Y);
        if (!FitsInt32(column) || !FitsInt32(row))
            return false;
        const int c = WrapIndex(static_cast<int>(column), m_spanX);
        const int r = WrapIndex(static_cast<int>(row), m_spanY);
        level = levelAt(c, r);
        return true;
    }

    // The brightness level interpolated between the four pixels around p, its
    // position clamped into the image; false for a position not finite.
    bool smoothLevel(MeshPoint p, double& level) const;

    // height() of the bilinear rule.
    bool smoothHeight(MeshPoint p, double& z) const;

    // The height fraction of an elevation raster at p: the pixel's, or
    // interpolated as smoothLevel does; false where height() gives false.
    bool fractionAt(MeshPoint p, double& fraction) const;

    // height() of every rule but nearest levels: bilinear, elevation rasters.
    bool otherHeight(MeshPoint p, double& z) const;

    // The height of an interpolated level, checked: a whole level reads the
    // table (the same bits the profile gives it), others go through the
    // profile. Throws FloatFault with the text of its fault.
    double checkedSmoothHeight(double level) const;

    double heightOf(std::uint32_t level) const {
        const double z = m_table[level].load(std::memory_order_relaxed);
        if (z != z) // not computed yet, or faulted
            return m_heights.height(level);
        return z;
    }

    const Rgb* m_pixels;
    const std::uint32_t* m_levels; // null for an 8-bit image: its level is r + g + b
    const double* m_fractions;     // non-null for an elevation raster, which has no levels
    int m_width;
    int m_spanX; // width - 1
    int m_spanY; // height - 1
    HeightTable m_heights;
    const std::atomic<double>* m_table; // m_heights.entries()
    bool m_bilinear = false;
    bool m_otherRule = false; // bilinear, or an elevation raster
    double m_sW = 0;
    double m_sH = 0;
    double m_sizeU = 0; // the extent of the image's columns (output y)
    double m_sizeV = 0; // the extent of its rows (output x)
    double m_halfX = 0;
    double m_halfY = 0;
};

} // namespace talorin
