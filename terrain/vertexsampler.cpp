#include "terrain/vertexsampler.h"

#include <cstring>
#include <limits>

#include "terrain/profilecurves.h"
#include "base/error.h"

namespace talorin {

namespace {

enum : std::uint8_t { kUnknown, kKnown, kFirstFault };
const char* const kFaultTexts[] = {kDivideByZeroText, kInvalidOperationText, kOverflowText};
// Tables up to this many entries cost well under a millisecond to fill.
constexpr std::uint32_t kFilledUpFront = 4096;

} // namespace

HeightTable::HeightTable(std::uint8_t shapeMode, double e, double maxHeight, std::uint32_t levelMax)
    : m_shapeMode(shapeMode), m_e(e), m_maxHeight(maxHeight), m_levelMax(levelMax),
      m_heights(std::size_t(levelMax) + 1), m_state(std::size_t(levelMax) + 1) {
    for (std::uint32_t level = 0; level <= levelMax; ++level) {
        m_heights[level].store(std::numeric_limits<double>::quiet_NaN(), std::memory_order_relaxed);
        m_state[level].store(kUnknown, std::memory_order_relaxed);
    }
    if (levelMax < kFilledUpFront)
        for (std::uint32_t level = 0; level <= levelMax; ++level)
            compute(level);
}

double HeightTable::height(std::uint32_t level) const {
    if (m_state[level].load(std::memory_order_acquire) == kUnknown)
        compute(level);
    return m_heights[level].load(std::memory_order_relaxed);
}

const char* HeightTable::fault(std::uint32_t level) const {
    (void)height(level);
    const std::uint8_t state = m_state[level].load(std::memory_order_acquire);
    return state == kKnown ? nullptr : kFaultTexts[state - kFirstFault];
}

double HeightTable::profileHeight(double level) const {
    // Level over levelMax exactly as written: for 8 bits s / 765.0.
    return CheckedMul(ShapeCurve(m_shapeMode, level / double(m_levelMax), m_e), m_maxHeight);
}

double HeightTable::fractionHeight(double fraction) const {
    return CheckedMul(ShapeCurve(m_shapeMode, fraction, m_e), m_maxHeight);
}

void HeightTable::compute(std::uint32_t level) const {
    std::uint8_t state = kKnown;
    try {
        m_heights[level].store(profileHeight(double(level)), std::memory_order_relaxed);
    } catch (const FloatFault& fault) {
        state = kFirstFault + 1; // an invalid operation, unless another
        for (std::uint8_t i = 0; i < 3; ++i)
            if (std::strcmp(fault.what(), kFaultTexts[i]) == 0)
                state = std::uint8_t(kFirstFault + i);
    }
    m_state[level].store(state, std::memory_order_release);
}

VertexSampler::VertexSampler(const Talorin_Args& args)
    : m_pixels(args.Bitmap->data()), m_levels(args.Bitmap->levels()),
      m_fractions(args.Bitmap->heights()), m_width(args.Bitmap->width()),
      m_spanX(args.Bitmap->width() - 1), m_spanY(args.Bitmap->height() - 1),
      m_heights(args.ShapeMode, args.CurveLevel, args.MaxHeight, args.Bitmap->levelMax()),
      m_table(m_heights.entries()) {
    // An image one pixel wide or high faults here, before any height is read.
    m_sW = CheckedDiv(args.Size, double(m_spanX));
    m_sH = CheckedDiv(args.Size, double(m_spanY));
    m_sizeU = args.Size;
    m_sizeV = args.Size;
    m_bilinear = args.Sampling == HeightSampling::Bilinear;
    m_otherRule = m_bilinear || m_fractions != nullptr;
    if (args.Aspect == TerrainAspect::Image && m_spanX != m_spanY) {
        // One pixel step on both axes: the longer side spans Size, the
        // shorter its share of it (a ratio below 1, which cannot overflow).
        const int longSpan = std::max(m_spanX, m_spanY);
        const double step = CheckedDiv(args.Size, double(longSpan));
        m_sW = step;
        m_sH = step;
        if (m_spanX < longSpan)
            m_sizeU = CheckedMul(args.Size, double(m_spanX) / double(longSpan));
        else
            m_sizeV = CheckedMul(args.Size, double(m_spanY) / double(longSpan));
    }
    m_halfX = m_sizeV / 2;
    m_halfY = m_sizeU / 2;
}

namespace {

// The value at(c, r) interpolated between the four pixels around p, its
// position clamped into the image (spans = size - 1): pixel centres at whole
// coordinates, a point past an edge takes the edge. False for a position not
// finite. a + (b - a) t is exactly a where the pixels are equal, so flat
// ground stays flat.
template <typename At>
bool Interpolate(MeshPoint p, int spanX, int spanY, At&& at, double& value) {
    if (!std::isfinite(p.X) || !std::isfinite(p.Y))
        return false;
    const double x = std::min(std::max(p.X, 0.0), double(spanX));
    const double y = std::min(std::max(p.Y, 0.0), double(spanY));
    const int c0 = static_cast<int>(x);
    const int r0 = static_cast<int>(y);
    const int c1 = std::min(c0 + 1, spanX);
    const int r1 = std::min(r0 + 1, spanY);
    const double fx = x - c0;
    const double fy = y - r0;
    const double v00 = at(c0, r0), v10 = at(c1, r0);
    const double v01 = at(c0, r1), v11 = at(c1, r1);
    const double top = v00 + (v10 - v00) * fx;
    const double bottom = v01 + (v11 - v01) * fx;
    value = top + (bottom - top) * fy;
    return true;
}

} // namespace

bool VertexSampler::fractionAt(MeshPoint p, double& fraction) const {
    const auto at = [this](int c, int r) {
        return m_fractions[std::size_t(r) * std::size_t(m_width) + std::size_t(c)];
    };
    if (m_bilinear)
        return Interpolate(p, m_spanX, m_spanY, at, fraction);
    const double column = RoundHalfEven(p.X);
    const double row = RoundHalfEven(p.Y);
    if (!FitsInt32(column) || !FitsInt32(row))
        return false;
    fraction = at(WrapIndex(static_cast<int>(column), m_spanX),
                  WrapIndex(static_cast<int>(row), m_spanY));
    return true;
}

bool VertexSampler::otherHeight(MeshPoint p, double& z) const {
    if (m_fractions == nullptr)
        return smoothHeight(p, z);
    double fraction = 0;
    if (!fractionAt(p, fraction))
        return false;
    try {
        z = m_heights.fractionHeight(fraction);
    } catch (const FloatFault&) {
        return false;
    }
    return std::isfinite(z);
}

bool VertexSampler::smoothLevel(MeshPoint p, double& level) const {
    return Interpolate(p, m_spanX, m_spanY, [this](int c, int r) { return levelAt(c, r); }, level);
}

bool VertexSampler::smoothHeight(MeshPoint p, double& z) const {
    double level = 0;
    if (!smoothLevel(p, level))
        return false;
    if (level == std::floor(level)) {
        z = heightOf(static_cast<std::uint32_t>(level));
    } else {
        try {
            z = m_heights.profileHeight(level);
        } catch (const FloatFault&) {
            return false;
        }
    }
    return std::isfinite(z);
}

double VertexSampler::checkedSmoothHeight(double level) const {
    if (level == std::floor(level)) {
        const auto whole = static_cast<std::uint32_t>(level);
        if (const char* fault = m_heights.fault(whole))
            throw FloatFault(fault);
        return m_heights.height(whole);
    }
    return m_heights.profileHeight(level);
}

MeshVertex VertexSampler::checkedVertex(MeshPoint p) const {
    MeshVertex out;
    const double a = CheckedMul(p.X, m_sW);
    const double b = CheckedMul(p.Y, m_sH);
    out.X = CheckedSub(b, m_halfX);
    out.Y = CheckedSub(a, m_halfY);
    if (m_fractions != nullptr) {
        double fraction = 0;
        if (m_bilinear) {
            if (!fractionAt(p, fraction))
                throw FloatFault(kInvalidOperationText);
        } else {
            const int c = WrapIndex(RoundToInt32(p.X), m_spanX);
            const int r = WrapIndex(RoundToInt32(p.Y), m_spanY);
            fraction = m_fractions[std::size_t(r) * std::size_t(m_width) + std::size_t(c)];
        }
        out.Z = m_heights.fractionHeight(fraction);
    } else if (m_bilinear) {
        double level = 0;
        if (!smoothLevel(p, level))
            throw FloatFault(kInvalidOperationText);
        out.Z = checkedSmoothHeight(level);
    } else {
        const int c = WrapIndex(RoundToInt32(p.X), m_spanX);
        const int r = WrapIndex(RoundToInt32(p.Y), m_spanY);
        const std::uint32_t level = levelAt(c, r);
        if (const char* fault = m_heights.fault(level))
            throw FloatFault(fault);
        out.Z = m_heights.height(level);
    }
    out.U = CheckedMul(CheckedDiv(a, m_sizeU), 255);
    out.V = CheckedMul(CheckedDiv(b, m_sizeV), 255);
    return out;
}

} // namespace talorin
