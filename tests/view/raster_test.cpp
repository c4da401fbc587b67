#include "view/raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "base/error.h"

using namespace talorin;

namespace talorin {
// Readable failure messages.
void PrintTo(const PixelPoint& p, std::ostream* os) {
    *os << "(" << p.x << "," << p.y << ")";
}
void PrintTo(const GraphPoint& p, std::ostream* os) {
    *os << "column " << p.column << " row " << p.row;
}
} // namespace talorin

namespace {

constexpr Pixel kWhite = 0xffffffffu;
constexpr Pixel kBlue = 0xff0000ffu;

// A pixel buffer with some slack after each row, so that a stride mix-up shows.
struct Canvas {
    int width, height;
    std::ptrdiff_t stride;
    std::vector<Pixel> pixels;

    Canvas(int w, int h, Pixel fill = kWhite)
        : width(w), height(h), stride(w + 3), pixels(std::size_t(stride) * h, fill) {}
    PixelView view() { return {pixels.data(), width, height, stride}; }
    ConstPixelView constView() const { return {pixels.data(), width, height, stride}; }
    Pixel at(int x, int y) const { return pixels[std::size_t(y * stride + x)]; }
    // The pixels inside the view that differ from fill, row by row.
    std::vector<PixelPoint> changed(Pixel fill = kWhite) const {
        std::vector<PixelPoint> out;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (at(x, y) != fill)
                    out.push_back({x, y});
        return out;
    }
};

std::vector<PixelPoint> Sorted(std::vector<PixelPoint> points) {
    std::sort(points.begin(), points.end(),
              [](PixelPoint a, PixelPoint b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    return points;
}

std::vector<PixelPoint> LinePixels(int x0, int y0, int x1, int y1) {
    Canvas c(12, 12);
    DrawLine(c.view(), x0, y0, x1, y1, kBlack);
    return c.changed();
}

MeshLattice UniformLattice(int paMax, double step) {
    MeshLattice mesh{};
    for (int i = 0; i <= paMax; ++i)
        for (int j = 0; j <= paMax; ++j)
            mesh[i][j] = {i * step, j * step};
    return mesh;
}

} // namespace

// --- Lines --------------------------------------------------------------------

struct LineCase {
    const char* name;
    int x0, y0, x1, y1;
    std::vector<PixelPoint> expected;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class BresenhamLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(BresenhamLine, DrawsTheNearestPixelPerMajorStepAndStopsBeforeTheEnd) {
    const LineCase& c = GetParam();
    EXPECT_EQ(LinePixels(c.x0, c.y0, c.x1, c.y1), Sorted(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Slopes, BresenhamLine,
    ::testing::Values(
        LineCase{"ShallowRight", 0, 0, 5, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}},
        LineCase{"SteepDown", 0, 0, 2, 5, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}}},
        LineCase{"ShallowLeftUp", 5, 2, 0, 0, {{5, 2}, {4, 2}, {3, 1}, {2, 1}, {1, 0}}},
        LineCase{"SteepLeftDown", 3, 0, 1, 5, {{3, 0}, {3, 1}, {2, 2}, {2, 3}, {1, 4}}},
        LineCase{"SteepRightUp", 1, 6, 3, 1, {{1, 6}, {1, 5}, {2, 4}, {2, 3}, {3, 2}}},
        // Exact halves go up on flat lines and left on steep ones, whichever
        // way the line runs (the tie is at the third pixel of each).
        LineCase{"FlatTieRightDownGoesUp", 0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},
        LineCase{"FlatTieLeftUpGoesUp", 4, 1, 0, 0, {{4, 1}, {3, 1}, {2, 0}, {1, 0}}},
        LineCase{"FlatTieRightUpGoesUp", 0, 1, 4, 0, {{0, 1}, {1, 1}, {2, 0}, {3, 0}}},
        LineCase{"FlatTieLeftDownGoesUp", 4, 0, 0, 1, {{4, 0}, {3, 0}, {2, 0}, {1, 1}}},
        LineCase{"SteepTieDownRightGoesLeft", 0, 0, 1, 4, {{0, 0}, {0, 1}, {0, 2}, {1, 3}}},
        LineCase{"SteepTieUpLeftGoesLeft", 1, 4, 0, 0, {{1, 4}, {1, 3}, {0, 2}, {0, 1}}},
        LineCase{"SteepTieDownLeftGoesLeft", 1, 0, 0, 4, {{1, 0}, {1, 1}, {0, 2}, {0, 3}}},
        LineCase{"SteepTieUpRightGoesLeft", 0, 4, 1, 0, {{0, 4}, {0, 3}, {0, 2}, {1, 1}}},
        LineCase{"Diagonal", 0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}}},
        LineCase{"DiagonalBack", 3, 3, 0, 0, {{3, 3}, {2, 2}, {1, 1}}},
        LineCase{"Horizontal", 0, 3, 4, 3, {{0, 3}, {1, 3}, {2, 3}, {3, 3}}},
        LineCase{"HorizontalLeft", 4, 3, 0, 3, {{4, 3}, {3, 3}, {2, 3}, {1, 3}}},
        LineCase{"VerticalUp", 2, 4, 2, 1, {{2, 4}, {2, 3}, {2, 2}}},
        LineCase{"OnePixel", 7, 7, 8, 7, {{7, 7}}},
        LineCase{"ZeroLengthDrawsNothing", 5, 5, 5, 5, {}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(LineDirection, BothDirectionsCoverTheSamePixelsApartFromTheEnds) {
    // Lattice edges shared by two cells are drawn once each way; they must
    // still show as one line. Every line between points of a 9 x 9 grid.
    for (int a = 0; a < 81; ++a) {
        for (int b = 0; b < 81; ++b) {
            if (a == b)
                continue;
            const int x0 = a % 9, y0 = a / 9, x1 = b % 9, y1 = b / 9;
            Canvas forward(10, 10), backward(10, 10);
            DrawLine(forward.view(), x0, y0, x1, y1, kBlack);
            DrawLine(backward.view(), x1, y1, x0, y0, kBlack);
            forward.pixels[std::size_t(y1 * forward.stride + x1)] = kBlack;
            backward.pixels[std::size_t(y0 * backward.stride + x0)] = kBlack;
            ASSERT_EQ(forward.changed(), backward.changed())
                << x0 << "," << y0 << " <-> " << x1 << "," << y1;
        }
    }
}

TEST(LineClipping, ClippedLineIsTheVisiblePartOfTheWholeLine) {
    // The same lines drawn into a large buffer (shifted inside it) and into a
    // small one: the small one must hold exactly the overlapping part.
    const int lines[][4] = {{-5, -5, 20, 10}, {20, 10, -5, -5}, {3, -30, 6, 40},
                            {-7, 9, 15, 2},   {11, 2, -1, 2},   {4, 12, 4, -6}};
    for (const auto& l : lines) {
        Canvas whole(60, 90);
        DrawLine(whole.view(), l[0] + 20, l[1] + 40, l[2] + 20, l[3] + 40, kBlack);
        Canvas part(10, 8);
        DrawLine(part.view(), l[0], l[1], l[2], l[3], kBlack);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 10; ++x)
                EXPECT_EQ(part.at(x, y), whole.at(x + 20, y + 40))
                    << "line " << l[0] << "," << l[1] << " -> " << l[2] << "," << l[3] << " at "
                    << x << "," << y;
    }
}

TEST(LineClipping, ExtremeCoordinatesAreSafe) {
    Canvas c(10, 4);
    DrawLine(c.view(), INT_MIN, 1, INT_MAX, 1, kBlack);
    DrawLine(c.view(), 0, 3, INT_MAX, 4, kRed); // stays on row 3 for the first pixels
    DrawLine(c.view(), INT_MAX, INT_MIN, INT_MIN, INT_MAX, kRed); // passes just above the view
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(c.at(x, 0), kWhite);
        EXPECT_EQ(c.at(x, 1), kBlack);
        EXPECT_EQ(c.at(x, 3), kRed);
    }
}

TEST(LineClipping, EmptyViewDrawsNothing) {
    DrawLine(PixelView{}, 0, 0, 5, 5, kBlack); // must not touch memory
    Canvas c(3, 3);
    DrawLine({c.pixels.data(), 0, 3, c.stride}, 0, 0, 2, 2, kBlack);
    EXPECT_TRUE(c.changed().empty());
}

TEST(Pen, ClosedOutlineDrawsEveryCornerOnce) {
    Canvas c(6, 6);
    Pen pen(c.view());
    pen.setColor(kRed);
    pen.moveTo(1, 1);
    pen.lineTo(4, 1);
    pen.lineTo(4, 4);
    pen.lineTo(1, 4);
    pen.lineTo(1, 1);
    std::vector<PixelPoint> perimeter;
    for (int y = 1; y <= 4; ++y)
        for (int x = 1; x <= 4; ++x)
            if (x == 1 || x == 4 || y == 1 || y == 4)
                perimeter.push_back({x, y});
    EXPECT_EQ(c.changed(), perimeter);
    EXPECT_EQ(c.at(4, 4), kRed);
}

// --- Stretch ------------------------------------------------------------------

TEST(Stretch, SourceIndexIsTheFloorOfTheProportion) {
    EXPECT_EQ(StretchSource(0, 233, 232), 0);
    EXPECT_EQ(StretchSource(231, 233, 232), 231); // 231.996: the last source column is dropped
    EXPECT_EQ(StretchSource(115, 466, 232), 230); // squeezed: about every other column
    EXPECT_EQ(StretchSource(116, 466, 232), 233);
    EXPECT_EQ(StretchSource(231, 466, 232), 463); // 463.99
    const int grown[] = {0, 0, 0, 1, 1, 1};
    for (int d = 0; d < 6; ++d)
        EXPECT_EQ(StretchSource(d, 2, 6), grown[d]) << d;
    const int uneven[] = {0, 0, 1, 1, 2};
    for (int d = 0; d < 5; ++d)
        EXPECT_EQ(StretchSource(d, 3, 5), uneven[d]) << d;  // floor(d * 3 / 5)
    EXPECT_EQ(StretchSource(99999, 100000, 100000), 99999); // no overflow in the product
}

TEST(Stretch, CopiesWholePixelsWithoutAveraging) {
    Bitmap image(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            image.setPixel(x, y, {std::uint8_t(10 * x), std::uint8_t(100 + y), 7});
    Canvas c(8, 8, kBlue);
    StretchImage(c.view(), 2, 6, image); // columns halved, rows doubled
    for (int y = 0; y < 6; ++y) {
        EXPECT_EQ(c.at(0, y), PixelFromRgb(0, std::uint8_t(100 + y / 2), 7)) << y;
        EXPECT_EQ(c.at(1, y), PixelFromRgb(20, std::uint8_t(100 + y / 2), 7)) << y;
    }
    // Nothing outside the rectangle.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if (x >= 2 || y >= 6) {
                EXPECT_EQ(c.at(x, y), kBlue) << x << "," << y;
            }
}

TEST(Stretch, RectangleLargerThanTargetIsCut) {
    Bitmap image(2, 2);
    image.setPixel(1, 1, {255, 255, 255});
    Canvas c(3, 3, kBlue);
    StretchImage(c.view(), 6, 6, image); // would cover 6 x 6; only 3 x 3 exists
    EXPECT_EQ(c.at(2, 2), PixelFromRgb(0, 0, 0));
    EXPECT_EQ(c.at(0, 0), PixelFromRgb(0, 0, 0));
    StretchImage(c.view(), 4, 4, image);
    EXPECT_EQ(c.at(2, 2), PixelFromRgb(255, 255, 255));
    EXPECT_EQ(c.at(1, 2), PixelFromRgb(0, 0, 0));
}

TEST(Stretch, CopyRectLeavesTheRestAlone) {
    Canvas source(5, 5, kRed);
    Canvas target(5, 5, kBlue);
    CopyRect(target.view(), source.constView(), 4, 4);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(target.at(x, y), (x < 4 && y < 4) ? kRed : kBlue) << x << "," << y;
    Canvas small(2, 2, kBlack);
    CopyRect(target.view(), small.constView(), 4, 4); // cut to the smaller source
    EXPECT_EQ(target.at(1, 1), kBlack);
    EXPECT_EQ(target.at(2, 2), kRed);
}

// --- Lattice overlay ----------------------------------------------------------

TEST(PreviewPosition, RoundsHalvesToEven) {
    EXPECT_EQ(PreviewPosition({10.5, 11.5}, 1.0, 1.0), (PixelPoint{10, 12}));
    EXPECT_EQ(PreviewPosition({21, 23}, 0.5, 0.5), (PixelPoint{10, 12}));
    EXPECT_EQ(PreviewPosition({465, 232}, 233.0 / 466, 1.0), (PixelPoint{232, 232}));
    EXPECT_EQ(PreviewPosition({-2.5, 2.6}, 1.0, 1.0), (PixelPoint{-2, 3}));
}

TEST(PreviewPosition, UnconvertiblePointIsAFloatFault) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(PreviewPosition({nan, 0}, 1.0, 1.0), FloatFault);
    EXPECT_THROW(PreviewPosition({0, 3e9}, 1.0, 1.0), FloatFault);
}

TEST(LatticeOverlay, CornerOfA233ImageIsBlackInTheLastPixelAndRedTwoBefore) {
    Canvas c(233, 233);
    DrawLatticeOverlay(c.view(), UniformLattice(4, 58), 4, 1.0, 1.0);
    EXPECT_EQ(c.at(232, 232), kBlack);
    EXPECT_EQ(c.at(230, 230), kRed);
    EXPECT_EQ(c.at(231, 231), kWhite);
    // The red outline of the first cell starts off the canvas at (-2, -2).
    EXPECT_EQ(c.at(0, 0), kBlack);
    EXPECT_EQ(c.at(56, 0), kRed); // its right edge crosses the black top line
}

TEST(LatticeOverlay, EveryCellOfTheDensityIsDrawnAndNoMore) {
    for (const int paMax : {4, 16}) {
        const double step = 232.0 / paMax; // 58 or 14.5 preview pixels
        MeshLattice mesh = UniformLattice(paMax, step);
        if (paMax < kMaxPaMax) // points beyond the density must be ignored
            for (int k = 0; k <= kMaxPaMax; ++k)
                mesh[paMax + 1][k] = mesh[k][paMax + 1] = {100.25, 100.25};
        Canvas c(233, 233);
        DrawLatticeOverlay(c.view(), mesh, paMax, 1.0, 1.0);
        int cells = 0;
        for (int i = 0; i < paMax; ++i) {
            for (int j = 0; j < paMax; ++j) {
                const PixelPoint a = PreviewPosition(mesh[i][j], 1.0, 1.0);
                const PixelPoint cc = PreviewPosition(mesh[i + 1][j + 1], 1.0, 1.0);
                // The middle of each cell is untouched; its bottom-right corner is
                // black and its top-left red one lies two pixels up and left.
                const int mx = (a.x + cc.x) / 2, my = (a.y + cc.y) / 2;
                const bool drawn = c.at(cc.x, cc.y) == kBlack && c.at(mx, my) == kWhite &&
                                   (a.x < 2 || c.at(a.x - 2, my) == kRed) &&
                                   (a.y < 2 || c.at(mx, a.y - 2) == kRed);
                cells += drawn ? 1 : 0;
            }
        }
        EXPECT_EQ(cells, paMax * paMax) << paMax;
        if (paMax < kMaxPaMax) {
            EXPECT_EQ(c.at(100, 100), kWhite);
        }
    }
}

TEST(LatticeOverlay, RedShadowIsDrawnOverTheBlackOfTheSameCell) {
    Canvas c(12, 12);
    DrawLatticeOverlay(c.view(), UniformLattice(1, 10), 1, 1.0, 1.0);
    EXPECT_EQ(c.at(8, 0), kRed);    // red right edge crosses the black top edge
    EXPECT_EQ(c.at(0, 8), kRed);    // red bottom edge crosses the black left edge
    EXPECT_EQ(c.at(10, 8), kBlack); // black right edge, not reached by red
    EXPECT_EQ(c.at(10, 10), kBlack);
    EXPECT_EQ(c.at(8, 8), kRed);
}

TEST(LatticeOverlay, CellsAreDrawnColumnByColumn) {
    // Cell (1,0) is drawn after cell (0,1) when i is the outer loop: its black
    // top edge runs through the red outline of (0,1), pulled up across it.
    MeshLattice mesh = UniformLattice(2, 10);
    mesh[0][1] = {0, 4}; // top of cell (0,1) raised: its red top edge lies on row 2
    mesh[1][1] = {10, 4};
    mesh[1][0] = {-5, 2}; // cell (1,0)'s black top edge runs on row 2 over x = -5..19
    mesh[2][0] = {20, 2};
    Canvas c(25, 25);
    DrawLatticeOverlay(c.view(), mesh, 2, 1.0, 1.0);
    EXPECT_EQ(c.at(3, 2), kBlack);
}

// --- Graph --------------------------------------------------------------------

TEST(GraphGradient, RunsFromBlackTo254In233Columns) {
    const std::vector<std::uint8_t> g = GradientLevels(233);
    ASSERT_EQ(g.size(), 233u);
    EXPECT_EQ(g[0], 0);
    EXPECT_EQ(g[1], 1);
    EXPECT_EQ(g[116], 127);
    EXPECT_EQ(g[232], 254);
    EXPECT_TRUE(std::is_sorted(g.begin(), g.end()));
    EXPECT_EQ(GradientLevels(2), (std::vector<std::uint8_t>{0, 128})); // 127.5 rounds to even
    EXPECT_THROW(GradientLevels(0), FloatFault);
}

TEST(GraphGradient, FillsEveryRowAlike) {
    Canvas c(233, 4, kBlue);
    FillGradient(c.view());
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(c.at(0, y), PixelFromRgb(0, 0, 0));
        EXPECT_EQ(c.at(116, y), PixelFromRgb(127, 127, 127));
        EXPECT_EQ(c.at(232, y), PixelFromRgb(254, 254, 254));
    }
    EXPECT_EQ(c.pixels[233], kBlue); // the slack after a row is not a pixel
}

namespace {
int RowAt(const std::vector<GraphPoint>& points, int column) {
    for (const GraphPoint& p : points)
        if (p.column == column)
            return p.row;
    ADD_FAILURE() << "no point in column " << column;
    return -1;
}
} // namespace

TEST(GraphCurve, LevelOneIsTheSameDiagonalInEveryMode) {
    for (std::uint8_t mode = 0; mode < 3; ++mode) {
        const std::vector<GraphPoint> points = ShapeGraphPoints(233, 73, mode, 1.0);
        ASSERT_EQ(points.size(), 226u);
        EXPECT_EQ(points.front(), (GraphPoint{4, 66})) << int(mode);
        EXPECT_EQ(points.back(), (GraphPoint{229, 3})) << int(mode);
    }
}

TEST(GraphCurve, LevelTenRiseStaysLowUntilColumn142) {
    const std::vector<GraphPoint> p = ShapeGraphPoints(233, 73, 0, 10.0);
    for (int c = 4; c <= 142; ++c)
        EXPECT_EQ(RowAt(p, c), 67) << c;
    EXPECT_EQ(RowAt(p, 143), 66);
    EXPECT_EQ(RowAt(p, 229), 11);
}

TEST(GraphCurve, LevelTenDomeReachesTheTopAtColumn90) {
    const std::vector<GraphPoint> p = ShapeGraphPoints(233, 73, 1, 10.0);
    EXPECT_EQ(RowAt(p, 4), 57);
    EXPECT_EQ(RowAt(p, 89), 3);
    for (int c = 90; c <= 229; ++c)
        EXPECT_EQ(RowAt(p, c), 2) << c;
}

TEST(GraphCurve, LevelTenHillIsFlatAtBothEnds) {
    const std::vector<GraphPoint> p = ShapeGraphPoints(233, 73, 2, 10.0);
    for (int c = 4; c <= 76; ++c)
        EXPECT_EQ(RowAt(p, c), 67) << c;
    EXPECT_EQ(RowAt(p, 77), 66);
    EXPECT_EQ(RowAt(p, 116), 35);
    EXPECT_EQ(RowAt(p, 155), 3);
    for (int c = 156; c <= 229; ++c)
        EXPECT_EQ(RowAt(p, c), 2) << c;
}

TEST(GraphCurve, NarrowGraphHasNoPoints) {
    EXPECT_TRUE(ShapeGraphPoints(7, 73, 0, 1.0).empty());
    EXPECT_EQ(ShapeGraphPoints(8, 73, 0, 1.0).size(), 1u);
    EXPECT_THROW(ShapeGraphPoints(0, 73, 0, 1.0), FloatFault);
}

TEST(GraphCurve, RedPointsWithShadowsTwoRightTwoBelow) {
    Canvas c(233, 73);
    DrawShapeGraphCurve(c.view(), 2, 10.0);
    const std::vector<GraphPoint> points = ShapeGraphPoints(233, 73, 2, 10.0);
    std::vector<PixelPoint> expected;
    for (const GraphPoint& p : points) {
        EXPECT_EQ(c.at(p.column, p.row), kRed) << p.column;
        // A shadow may only be hidden by the red point of the column two to the right.
        const bool covered = std::any_of(points.begin(), points.end(), [&](const GraphPoint& q) {
            return q.column == p.column + 2 && q.row == p.row + 2;
        });
        EXPECT_EQ(c.at(p.column + 2, p.row + 2), covered ? kRed : kBlack) << p.column;
        expected.push_back({p.column, p.row});
        if (!covered)
            expected.push_back({p.column + 2, p.row + 2});
    }
    EXPECT_EQ(c.changed(), Sorted(expected)); // nothing else is drawn
    EXPECT_EQ(c.at(6, 69), kBlack);           // shadow of column 4 on the bottom row 67
}
