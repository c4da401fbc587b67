#include "terrain/vertexsampler.h"

#include <cstring>
#include <limits>

#include "terrain/profilecurves.h"
#include "base/error.h"

namespace talorin {

namespace {

enum : std::uint8_t { kUnknown, kKnown, kFirstFault };
constexpr const char* kFaultTexts[] = {kDivideByZeroText, kInvalidOperationText, kOverflowText};
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

void HeightTable::compute(std::uint32_t level) const {
    std::uint8_t state = kKnown;
    try {
        // Level over levelMax exactly as written: for 8 bits s / 765.0.
        m_heights[level].store(
            CheckedMul(ShapeCurve(m_shapeMode, level / double(m_levelMax), m_e), m_maxHeight),
            std::memory_order_relaxed);
    } catch (const FloatFault& fault) {
        state = kFirstFault + 1; // an invalid operation, unless another
        for (std::uint8_t i = 0; i < 3; ++i)
            if (std::strcmp(fault.what(), kFaultTexts[i]) == 0)
                state = std::uint8_t(kFirstFault + i);
    }
    m_state[level].store(state, std::memory_order_release);
}

VertexSampler::VertexSampler(const Talorin_Args& args)
    : m_pixels(args.Bitmap->data()), m_levels(args.Bitmap->levels()), m_width(args.Bitmap->width()),
      m_spanX(args.Bitmap->width() - 1), m_spanY(args.Bitmap->height() - 1),
      m_heights(args.ShapeMode, args.CurveLevel, args.MaxHeight, args.Bitmap->levelMax()),
      m_table(m_heights.entries()) {
    // An image one pixel wide or high faults here, before any height is read.
    m_sW = CheckedDiv(args.Size, double(m_spanX));
    m_sH = CheckedDiv(args.Size, double(m_spanY));
    m_size = args.Size;
    m_half = args.Size / 2;
}

MeshVertex VertexSampler::checkedVertex(MeshPoint p) const {
    MeshVertex out;
    const double a = CheckedMul(p.X, m_sW);
    const double b = CheckedMul(p.Y, m_sH);
    out.X = CheckedSub(b, m_half);
    out.Y = CheckedSub(a, m_half);
    const int c = WrapIndex(RoundToInt32(p.X), m_spanX);
    const int r = WrapIndex(RoundToInt32(p.Y), m_spanY);
    const std::uint32_t level = levelAt(c, r);
    if (const char* fault = m_heights.fault(level))
        throw FloatFault(fault);
    out.Z = m_heights.height(level);
    out.U = CheckedMul(CheckedDiv(a, m_size), 255);
    out.V = CheckedMul(CheckedDiv(b, m_size), 255);
    return out;
}

} // namespace talorin
