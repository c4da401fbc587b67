#include "view/raster.h"

#include <algorithm>
#include <cstdint>

#include "terrain/terrain.h"
#include "base/error.h"

namespace talorin {

namespace {

// Bresenham over 64-bit coordinates, so that shifted or far-away points cannot
// overflow. Only the steps whose major coordinate lies inside the view are
// walked; the minor coordinate of the first one is found by one division.
void drawLine64(const PixelView& view, std::int64_t x0, std::int64_t y0, std::int64_t x1,
                std::int64_t y1, Pixel color) {
    if (view.width <= 0 || view.height <= 0)
        return;
    const std::int64_t dx = x1 - x0;
    const std::int64_t dy = y1 - y0;
    if (dx == 0 && dy == 0)
        return;
    const bool xMajor = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
    // Name everything along the major and the minor axis.
    const std::int64_t major0 = xMajor ? x0 : y0;
    const std::int64_t minor0 = xMajor ? y0 : x0;
    const std::int64_t dMajorSigned = xMajor ? dx : dy;
    const std::int64_t dMinorSigned = xMajor ? dy : dx;
    const std::int64_t dMajor = dMajorSigned < 0 ? -dMajorSigned : dMajorSigned;
    const std::int64_t dMinor = dMinorSigned < 0 ? -dMinorSigned : dMinorSigned;
    const std::int64_t stepMajor = dMajorSigned < 0 ? -1 : 1;
    const std::int64_t stepMinor = dMinorSigned < 0 ? -1 : 1;
    const std::int64_t majorSize = xMajor ? view.width : view.height;
    const std::int64_t minorSize = xMajor ? view.height : view.width;

    // Steps t in [0, dMajor) whose major coordinate major0 + stepMajor * t is in range.
    std::int64_t tBegin = 0;
    std::int64_t tEnd = dMajor;
    if (stepMajor > 0) {
        tBegin = std::max<std::int64_t>(tBegin, -major0);
        tEnd = std::min<std::int64_t>(tEnd, majorSize - major0);
    } else {
        tBegin = std::max<std::int64_t>(tBegin, major0 - majorSize + 1);
        tEnd = std::min<std::int64_t>(tEnd, major0 + 1);
    }
    if (tBegin >= tEnd)
        return;

    // Minor offset at step t: the nearest integer to t dMinor / dMajor. A tie
    // (an exact half) goes to the smaller screen coordinate, up or left, so a
    // line covers the same pixels in either direction: toward the start when
    // the minor coordinate grows (floor((2 t dMinor + dMajor - 1) / (2 dMajor))),
    // away from it when it shrinks (floor((2 t dMinor + dMajor) / (2 dMajor))).
    // Kept as quotient q and remainder r of that division, advanced per step.
    const std::int64_t den = 2 * dMajor;
    const std::int64_t inc = 2 * dMinor; // <= den, so q grows by at most 1 per step
    const std::int64_t tieBias = stepMinor > 0 ? 1 : 0;
    const __int128 num = __int128(2) * tBegin * dMinor + dMajor - tieBias;
    std::int64_t q = std::int64_t(num / den);
    std::int64_t r = std::int64_t(num % den);
    for (std::int64_t t = tBegin; t < tEnd; ++t) {
        const std::int64_t major = major0 + stepMajor * t;
        const std::int64_t minor = minor0 + stepMinor * q;
        if (minor >= 0 && minor < minorSize) {
            if (xMajor)
                view.at(int(major), int(minor)) = color;
            else
                view.at(int(minor), int(major)) = color;
        }
        r += inc;
        if (r >= den) {
            r -= den;
            ++q;
        }
    }
}

} // namespace

void CopyRect(const PixelView& target, const ConstPixelView& source, int width, int height) {
    const int w = std::min({width, target.width, source.width});
    const int h = std::min({height, target.height, source.height});
    if (w <= 0 || h <= 0)
        return;
    for (int y = 0; y < h; ++y)
        std::copy_n(&source.at(0, y), w, &target.at(0, y));
}

void DrawLine(const PixelView& view, int x0, int y0, int x1, int y1, Pixel color) {
    drawLine64(view, x0, y0, x1, y1, color);
}

int StretchSource(int d, int srcSize, int dstSize) {
    return int(std::int64_t(d) * srcSize / dstSize);
}

void StretchImage(const PixelView& target, int width, int height, const Bitmap& image) {
    if (image.empty() || width <= 0 || height <= 0)
        return;
    const int w = std::min(width, target.width);
    const int h = std::min(height, target.height);
    std::vector<int> sourceColumn(std::size_t(std::max(w, 0)));
    for (int x = 0; x < w; ++x)
        sourceColumn[std::size_t(x)] = StretchSource(x, image.width(), width);
    for (int y = 0; y < h; ++y) {
        const int sy = StretchSource(y, image.height(), height);
        Pixel* row = &target.at(0, y);
        for (int x = 0; x < w; ++x) {
            const Rgb& c = image.pixel(sourceColumn[std::size_t(x)], sy);
            row[x] = PixelFromRgb(c.r, c.g, c.b);
        }
    }
}

PixelPoint PreviewPosition(const MeshPoint& point, double scaleX, double scaleY) {
    return {RoundToInt32(point.X * scaleX), RoundToInt32(point.Y * scaleY)};
}

void DrawLatticeOverlay(const PixelView& view, const MeshLattice& mesh, int paMax, double scaleX,
                        double scaleY) {
    const int n = std::clamp(paMax, 0, kMaxPaMax);
    // Every point is converted once up front, so a point that cannot be
    // converted stops the drawing before any line is drawn.
    std::array<std::array<PixelPoint, kMaxPaMax + 1>, kMaxPaMax + 1> at{};
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
            at[i][j] = PreviewPosition(mesh[i][j], scaleX, scaleY);

    auto outline = [&](const PixelPoint(&corner)[4], std::int64_t shift, Pixel color) {
        for (int k = 0; k < 4; ++k) {
            const PixelPoint& from = corner[k];
            const PixelPoint& to = corner[(k + 1) % 4];
            drawLine64(view, from.x + shift, from.y + shift, to.x + shift, to.y + shift, color);
        }
    };
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const PixelPoint corner[4] = {at[i][j], at[i + 1][j], at[i + 1][j + 1], at[i][j + 1]};
            outline(corner, 0, kBlack);
            outline(corner, -2, kRed);
        }
    }
}

std::vector<std::uint8_t> GradientLevels(int width) {
    if (width == 0)
        throw FloatFault(kDivideByZeroText);
    std::vector<std::uint8_t> levels;
    if (width < 0)
        return levels;
    levels.reserve(std::size_t(width));
    const double step = 255.0 / width;
    double v = 0;
    for (int i = 0; i < width; ++i) {
        levels.push_back(std::uint8_t(std::clamp(RoundToInt32(v), 0, 255)));
        v += step;
    }
    return levels;
}

void FillGradient(const PixelView& view) {
    if (view.width <= 0 || view.height <= 0)
        return;
    const std::vector<std::uint8_t> levels = GradientLevels(view.width);
    for (int y = 0; y < view.height; ++y) {
        Pixel* row = &view.at(0, y);
        for (int x = 0; x < view.width; ++x) {
            const std::uint8_t g = levels[std::size_t(x)];
            row[x] = PixelFromRgb(g, g, g);
        }
    }
}

std::vector<GraphPoint> ShapeGraphPoints(int width, int height, std::uint8_t shapeMode,
                                         double level) {
    if (width == 0)
        throw FloatFault(kDivideByZeroText);
    // x advances in fixed steps of four decimal places, not in steps of 1 / width.
    const std::int64_t n = RoundToInt32(10000.0 / width);
    const double span = double(height) - 8;
    std::vector<GraphPoint> points;
    for (int c = 4; c <= width - 4; ++c) {
        const double x = double(c * n) / 10000.0;
        const double y = ShapeCurve(shapeMode, x, level);
        points.push_back({c, RoundToInt32(span - y * span + 2)});
    }
    return points;
}

void DrawShapeGraphCurve(const PixelView& view, std::uint8_t shapeMode, double level) {
    if (view.width <= 0 || view.height <= 0)
        return;
    for (const GraphPoint& p : ShapeGraphPoints(view.width, view.height, shapeMode, level)) {
        PutPixel(view, p.column + 2, p.row + 2, kBlack);
        PutPixel(view, p.column, p.row, kRed);
    }
}

} // namespace talorin
