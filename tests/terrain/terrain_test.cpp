#include "terrain/terrain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

#include "base/error.h"
#include "tests/support/images.h"
#include "tests/support/sampleheight.h"

using namespace talorin;
using vesk::TVESK_Object;
using vesk::TVESK_Polygon;
using vesk::TVESK_Vertex;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

// One vertex as (X, Y, Z, NX, NY, NZ, U, V).
struct Vertex {
    double x, y, z, nx, ny, nz, u, v;
    friend bool operator==(const Vertex&, const Vertex&) = default;
};

std::ostream& operator<<(std::ostream& out, const Vertex& v) {
    return out << "(" << v.x << ", " << v.y << ", " << v.z << " | " << v.nx << ", " << v.ny << ", "
               << v.nz << " | " << v.u << ", " << v.v << ")";
}

struct Polygon {
    std::uint8_t kind;
    std::vector<Vertex> vertices;
};

// The mesh's polygons and their vertices in file order, normals zero, as the
// file holds them.
std::vector<Polygon> PolygonsOf(const TerrainMesh& mesh) {
    std::vector<Polygon> polygons;
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
        Polygon polygon{mesh.Kind, {}};
        for (std::size_t k = 0; k < mesh.cornerCount(p); ++k) {
            const MeshVertex& v = mesh.Vertices.at(mesh.corners(p)[k]);
            polygon.vertices.push_back({v.X, v.Y, v.Z, 0, 0, 0, v.U, v.V});
        }
        polygons.push_back(std::move(polygon));
    }
    return polygons;
}

Bitmap Filled(int width, int height, Rgb colour) {
    Bitmap image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, colour);
    return image;
}

Bitmap Speckled(int width, int height) {
    return testsupport::Speckled(width, height, 12345);
}

// The window's start settings on this image, except for what a test changes.
Talorin_Args MakeArgs(const Bitmap& image, int paMax, int depth, bool quads) {
    Talorin_Args args;
    args.Size = 2000;
    args.MaxHeight = 500;
    args.QuadMode = quads;
    args.ShapeMode = 0;
    args.CurveLevel = 1.0;
    args.Bitmap = Borrowed(image);
    args.Depth = depth;
    args.ObjName = "terrain";
    args.AtrName = "ground";
    args.Lattice = InitMeshLattice(image, paMax);
    args.PaMax = paMax;
    args.WithUV = true;
    args.WithShade = false;
    return args;
}

// The fault text a call throws, or "" when it throws none.
template <typename F> std::string FaultOf(F f) {
    try {
        f();
    } catch (const FloatFault& fault) {
        return fault.what();
    }
    return "";
}

// The text of the out-of-memory error a call throws, or "" when it throws none.
template <typename F> std::string OutOfMemoryOf(F f) {
    try {
        f();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::OutOfMemory);
        return e.what();
    }
    return "";
}

// Restores the default memory budget and the system's memory figure.
class Generation : public ::testing::Test {
  protected:
    void TearDown() override {
        vesk::SetMemoryBudget(0);
        vesk::SetAvailableMemorySource({});
    }
};

} // namespace

// --- Rounding ---------------------------------------------------------------------

TEST(RoundToInt32, SendsHalvesToTheEvenNeighbour) {
    EXPECT_EQ(RoundToInt32(2.5), 2);
    EXPECT_EQ(RoundToInt32(3.5), 4);
    EXPECT_EQ(RoundToInt32(-2.5), -2);
    EXPECT_EQ(RoundToInt32(-3.5), -4);
    EXPECT_EQ(RoundToInt32(0.49999999999999994), 0);
    EXPECT_EQ(RoundToInt32(231.6), 232);
    EXPECT_EQ(RoundToInt32(-0.4), 0);
}

TEST(RoundToInt32, AcceptsTheWholeInt32Range) {
    EXPECT_EQ(RoundToInt32(2147483647.4), 2147483647);
    EXPECT_EQ(RoundToInt32(-2147483648.5), -2147483647 - 1);
}

TEST(RoundToInt32, OutOfRangeOrNotANumberIsAnInvalidOperation) {
    for (double x : {2147483647.5, 2147483648.0, -2147483649.0, 1e300, kNaN,
                     std::numeric_limits<double>::infinity()})
        EXPECT_EQ(FaultOf([x] { RoundToInt32(x); }), kInvalidOperationText) << x;
}

// --- Height sample ------------------------------------------------------------------

namespace {

// Column c has grey level c, so the height (scale 765, level 1) is 3c.
int ColumnRead(const Bitmap& columns, double x) {
    return int(std::lround(SampleHeight(columns, 0, x, 0, 765, 1.0) / 3));
}

Bitmap GreyColumns(int width, int height) {
    Bitmap image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, {std::uint8_t(x), std::uint8_t(x), std::uint8_t(x)});
    return image;
}

} // namespace

TEST(SampleHeight, RoundsHalvesToEven) {
    const Bitmap image = GreyColumns(233, 4);
    EXPECT_EQ(ColumnRead(image, 2.5), 2);
    EXPECT_EQ(ColumnRead(image, 3.5), 4);
    EXPECT_EQ(ColumnRead(image, 3.49), 3);
}

TEST(SampleHeight, RightAndBottomEdgesReadColumnAndRowZero) {
    const Bitmap image = GreyColumns(233, 4);
    EXPECT_EQ(ColumnRead(image, 232), 0);
    EXPECT_EQ(ColumnRead(image, 231.6), 0);
    EXPECT_EQ(ColumnRead(image, 231.4), 231);

    Bitmap rows(4, 233);
    for (int y = 0; y < 233; ++y)
        for (int x = 0; x < 4; ++x)
            rows.setPixel(x, y, {std::uint8_t(y), std::uint8_t(y), std::uint8_t(y)});
    EXPECT_EQ(SampleHeight(rows, 0, 1, 232, 765, 1.0), 0);
    EXPECT_NEAR(SampleHeight(rows, 0, 1, 231, 765, 1.0), 3 * 231, 1e-9);
}

TEST(SampleHeight, PointsPastTheLeftOrTopBorderWrapIntoTheImage) {
    // An edited point may sit left of column 0; the truncating remainder is
    // negative and is moved up by the divisor instead of reading outside.
    const Bitmap image = GreyColumns(233, 4);
    EXPECT_EQ(ColumnRead(image, -1), 231);
    EXPECT_EQ(ColumnRead(image, -3.6), 228);
    EXPECT_EQ(ColumnRead(image, -232), 0);
    EXPECT_EQ(ColumnRead(image, -0.5), 0);
    EXPECT_EQ(ColumnRead(image, 237), 5);
    EXPECT_EQ(SampleHeight(image, 0, 5, -1, 765, 1.0), SampleHeight(image, 0, 5, 2, 765, 1.0));
}

TEST(SampleHeight, WhiteIsTheFullScaleAndBlackIsZero) {
    const Bitmap white = Filled(3, 3, {255, 255, 255});
    const Bitmap black = Filled(3, 3, {0, 0, 0});
    for (std::uint8_t mode : {0, 1, 2})
        for (double e : {0.1, 1.0, 7.3}) {
            EXPECT_EQ(SampleHeight(white, mode, 1, 1, 500, e), 500);
            EXPECT_EQ(SampleHeight(black, mode, 1, 1, 500, e), 0);
        }
}

TEST(SampleHeight, WeighsTheThreeComponentsAlike) {
    const Bitmap grey = Filled(3, 3, {128, 128, 128});
    const Bitmap mixed = Filled(3, 3, {255, 129, 0});
    EXPECT_EQ(SampleHeight(grey, 2, 0, 0, 300, 2.5), ShapeCurve(2, 384.0 / 765, 2.5) * 300);
    EXPECT_EQ(SampleHeight(mixed, 2, 0, 0, 300, 2.5), SampleHeight(grey, 2, 0, 0, 300, 2.5));
}

TEST(SampleHeight, UnroundablePointIsAnInvalidOperation) {
    const Bitmap image = Filled(3, 3, {1, 2, 3});
    EXPECT_EQ(FaultOf([&] { SampleHeight(image, 0, kNaN, 0, 1, 1); }), kInvalidOperationText);
    EXPECT_EQ(FaultOf([&] { SampleHeight(image, 0, 0, 3e9, 1, 1); }), kInvalidOperationText);
}

// --- Vertex values and order ----------------------------------------------------------

TEST_F(Generation, VertexValuesAtTheImageCornersAndTopEdge) {
    // 233 x 233 at density 4: the lattice points lie on whole pixels 0, 58, ..., 232.
    const Bitmap image = Filled(233, 233, {0, 0, 0});
    const TerrainMesh shape = GenerateTerrainMesh(MakeArgs(image, 4, 0, true));
    const auto polygons = PolygonsOf(shape);
    ASSERT_EQ(polygons.size(), 16u);

    // Cell (0, 0) comes last; its corner A, image point (0, 0), is its last vertex.
    EXPECT_EQ(polygons[15].vertices[3], (Vertex{-1000, -1000, 0, 0, 0, 0, 0, 0}));
    // Cell (3, 3) comes first; its corner C, image point (232, 232), is its second vertex.
    const double far = 1000.0000000000002;
    EXPECT_EQ(polygons[0].vertices[1],
              (Vertex{far, far, 0, 0, 0, 0, 255.00000000000006, 255.00000000000006}));
    // Cell (2, 0) is the third emitted; its corner A is image point (116, 0).
    const Vertex top = polygons[13].vertices[3];
    EXPECT_EQ(top.x, -1000);
    EXPECT_EQ(top.y, 1.1368683772161603e-13);
    EXPECT_EQ(top.u, 127.50000000000003);
    EXPECT_EQ(top.v, 0);
}

TEST_F(Generation, WideImageStillGivesASquareTerrain) {
    const Bitmap image = Filled(400, 100, {9, 9, 9});
    const TerrainMesh shape = GenerateTerrainMesh(MakeArgs(image, 4, 1, true));
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (const Polygon& p : PolygonsOf(shape))
        for (const Vertex& v : p.vertices) {
            minX = std::min(minX, v.x), maxX = std::max(maxX, v.x);
            minY = std::min(minY, v.y), maxY = std::max(maxY, v.y);
        }
    EXPECT_NEAR(minX, -1000, 1e-9);
    EXPECT_NEAR(maxX, 1000, 1e-9);
    EXPECT_NEAR(minY, -1000, 1e-9);
    EXPECT_NEAR(maxY, 1000, 1e-9);
}

TEST_F(Generation, BilinearHeightsFollowARampUpToTheEastAndSouthEdges) {
    // Level 9 per column and 60 per row: linear in position, so the smooth
    // heights are too, up to the last column and row (which nearest wraps).
    Bitmap image(9, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            image.setPixel(x, y, {std::uint8_t(3 * x + 20 * y), std::uint8_t(3 * x + 20 * y),
                                  std::uint8_t(3 * x + 20 * y)});
    Talorin_Args args = MakeArgs(image, 4, 3, true);
    args.Sampling = HeightSampling::Bilinear;
    double maxZ = 0;
    for (const MeshVertex& v : GenerateTerrainMesh(args).Vertices) {
        const double column = (v.Y + 1000) / 250, row = (v.X + 1000) / 250;
        EXPECT_NEAR(v.Z, 500 * (9 * column + 60 * row) / 765, 1e-9) << column << ", " << row;
        maxZ = std::max(maxZ, v.Z);
    }
    EXPECT_NEAR(maxZ, 500 * (9 * 8 + 60 * 8) / 765.0, 1e-9);
}

TEST_F(Generation, BilinearSixteenBitRampRisesBetweenEveryTwoNeighbours) {
    Bitmap image(64, 2);
    std::vector<std::uint32_t> levels(128);
    for (int i = 0; i < 128; ++i)
        levels[i] = std::uint32_t(i % 64) * 3000;
    image.setLevels(levels, 196605);
    Talorin_Args args = MakeArgs(image, 1, 8, true);
    args.Sampling = HeightSampling::Bilinear;
    std::map<double, std::map<double, double>> rows; // x, then y: z
    for (const MeshVertex& v : GenerateTerrainMesh(args).Vertices)
        rows[v.X][v.Y] = v.Z;
    ASSERT_EQ(rows.size(), 257u);
    for (const auto& [x, row] : rows) {
        ASSERT_EQ(row.size(), 257u);
        for (auto a = row.begin(), b = std::next(a); b != row.end(); ++a, ++b)
            ASSERT_LT(a->second, b->second) << "row " << x << " at " << a->first;
    }
}

TEST_F(Generation, ImageAspectKeepsTheProportionsWithOneStepOnBothAxes) {
    const Bitmap image = Filled(400, 100, {9, 9, 9});
    Talorin_Args args = MakeArgs(image, 4, 1, true);
    args.Aspect = TerrainAspect::Image;
    double minX = 0, maxX = 0, minY = 0, maxY = 0, maxU = 0, maxV = 0;
    for (const MeshVertex& v : GenerateTerrainMesh(args).Vertices) {
        minX = std::min(minX, v.X), maxX = std::max(maxX, v.X);
        minY = std::min(minY, v.Y), maxY = std::max(maxY, v.Y);
        maxU = std::max(maxU, v.U), maxV = std::max(maxV, v.V);
    }
    EXPECT_NEAR(maxY - minY, 2000, 1e-9);             // 400 columns: the size
    EXPECT_NEAR(maxX - minX, 2000.0 * 99 / 399, 1e-9); // 100 rows
    EXPECT_NEAR(minX + maxX, 0, 1e-9);
    EXPECT_NEAR(maxU, 255, 1e-9);
    EXPECT_NEAR(maxV, 255, 1e-9);
}

namespace {

// Vertex values on the 5 x 5 white image with Size 2000 (500 per pixel) and
// MaxHeight 500: rows run along x, columns along y, UV 0..255.
Vertex WhiteVertex(double column, double row) {
    return {row * 500 - 1000, column * 500 - 1000, 500, 0, 0, 0, column * 63.75, row * 63.75};
}

} // namespace

TEST_F(Generation, WorkedExampleInQuadModePolygonByPolygon) {
    const Bitmap image = Filled(5, 5, {255, 255, 255});
    const TerrainMesh shape = GenerateTerrainMesh(MakeArgs(image, 4, 1, true));
    const auto polygons = PolygonsOf(shape);
    ASSERT_EQ(polygons.size(), 64u);

    // Emission order: cells row by row, in each the quarters at A, B, C, D; each
    // leaf listed D, C, B, A. The object holds them last emitted first.
    const double quarters[4][2] = {{0, 0}, {0.5, 0}, {0.5, 0.5}, {0, 0.5}};
    std::size_t emitted = 0;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            for (const auto& q : quarters) {
                const double x = i + q[0], y = j + q[1];
                const std::vector<Vertex> expected = {WhiteVertex(x, y + 0.5),
                                                      WhiteVertex(x + 0.5, y + 0.5),
                                                      WhiteVertex(x + 0.5, y), WhiteVertex(x, y)};
                const Polygon& p = polygons[63 - emitted];
                EXPECT_EQ(p.kind, vesk::kUvPoly);
                EXPECT_EQ(p.vertices, expected) << "leaf " << emitted;
                ++emitted;
            }

    // The two polygons the worked example spells out.
    EXPECT_EQ(polygons.front().vertices,
              (std::vector<Vertex>{{1000, 500, 500, 0, 0, 0, 191.25, 255},
                                   {1000, 750, 500, 0, 0, 0, 223.125, 255},
                                   {750, 750, 500, 0, 0, 0, 223.125, 223.125},
                                   {750, 500, 500, 0, 0, 0, 191.25, 223.125}}));
    EXPECT_EQ(polygons.back().vertices,
              (std::vector<Vertex>{{-750, -1000, 500, 0, 0, 0, 0, 31.875},
                                   {-750, -750, 500, 0, 0, 0, 31.875, 31.875},
                                   {-1000, -750, 500, 0, 0, 0, 31.875, 0},
                                   {-1000, -1000, 500, 0, 0, 0, 0, 0}}));
}

TEST_F(Generation, WorkedExampleInTriangleModePolygonByPolygon) {
    const Bitmap image = Filled(5, 5, {255, 255, 255});
    const TerrainMesh shape = GenerateTerrainMesh(MakeArgs(image, 4, 0, false));
    const auto polygons = PolygonsOf(shape);
    ASSERT_EQ(polygons.size(), 64u);

    std::size_t emitted = 0;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const Vertex c = WhiteVertex(i + 0.5, j + 0.5), a = WhiteVertex(i, j),
                         b = WhiteVertex(i + 1, j), cc = WhiteVertex(i + 1, j + 1),
                         d = WhiteVertex(i, j + 1);
            const std::vector<Vertex> triangles[4] = {{c, b, a}, {c, cc, b}, {d, cc, c}, {c, a, d}};
            for (const auto& expected : triangles) {
                const Polygon& p = polygons[63 - emitted];
                EXPECT_EQ(p.kind, vesk::kUvPoly);
                EXPECT_EQ(p.vertices, expected) << "triangle " << emitted;
                ++emitted;
            }
        }

    // The leaf of cell (0, 0), spelled out: (c, A, D) comes first of its four.
    const Vertex c{-750, -750, 500, 0, 0, 0, 31.875, 31.875};
    const Vertex A{-1000, -1000, 500, 0, 0, 0, 0, 0};
    const Vertex B{-1000, -500, 500, 0, 0, 0, 63.75, 0};
    const Vertex C{-500, -500, 500, 0, 0, 0, 63.75, 63.75};
    const Vertex D{-500, -1000, 500, 0, 0, 0, 0, 63.75};
    EXPECT_EQ(polygons[60].vertices, (std::vector<Vertex>{c, A, D}));
    EXPECT_EQ(polygons[61].vertices, (std::vector<Vertex>{D, C, c}));
    EXPECT_EQ(polygons[62].vertices, (std::vector<Vertex>{c, C, B}));
    EXPECT_EQ(polygons[63].vertices, (std::vector<Vertex>{c, B, A}));
}

TEST_F(Generation, CentreIsTheMeanOfTheFourCornersNotTheCrossingOfTheDiagonals) {
    // Cell (0, 0) with corner C moved to (1.5, 1.25): the mean of its corners is
    // (0.625, 0.5625), the middle of its diagonal A-C would be (0.75, 0.625).
    const Bitmap image = Filled(5, 5, {255, 255, 255});
    const Vertex centre{0.5625 * 500 - 1000, 0.625 * 500 - 1000, 500, 0, 0, 0, 39.84375, 35.859375};
    for (const bool quads : {true, false}) {
        Talorin_Args args = MakeArgs(image, 4, quads ? 1 : 0, quads);
        args.Lattice[1][1] = {1.5, 1.25};
        const TerrainMesh shape = GenerateTerrainMesh(args);
        // The first leaf of cell (0, 0) is last in the list: as a quad its
        // corner C is the centre, as the triangle (c, B, A) its first vertex.
        const Polygon last = PolygonsOf(shape).back();
        EXPECT_EQ(last.vertices[quads ? 1 : 0], centre);
    }
}

TEST_F(Generation, KindFollowsUvAndShadeAndEveryKindStoresTheSameValues) {
    const Bitmap image = Speckled(9, 9);
    const std::tuple<bool, bool, std::uint8_t> cases[] = {{false, false, vesk::kPoly},
                                                          {false, true, vesk::kShade},
                                                          {true, false, vesk::kUvPoly},
                                                          {true, true, vesk::kUvShade}};
    std::vector<std::vector<Vertex>> reference;
    for (const auto& [uv, shade, kind] : cases) {
        Talorin_Args args = MakeArgs(image, 4, 1, false);
        args.WithUV = uv;
        args.WithShade = shade;
        const TerrainMesh shape = GenerateTerrainMesh(args);
        std::vector<std::vector<Vertex>> lists;
        for (const Polygon& p : PolygonsOf(shape)) {
            ASSERT_EQ(p.kind, kind);
            for (const Vertex& v : p.vertices)
                ASSERT_TRUE(v.nx == 0 && v.ny == 0 && v.nz == 0);
            lists.push_back(p.vertices);
        }
        // U and V are stored whatever the kind; only the writer leaves them out.
        if (reference.empty())
            reference = lists;
        EXPECT_EQ(lists, reference);
        EXPECT_EQ(shape.ObjName, "terrain");
        EXPECT_EQ(shape.AtrName, "ground");
    }
    EXPECT_GT(reference[0][0].u + reference[0][0].v, 0);
}

TEST_F(Generation, HeightsAreTheHeightSampleOfEachPoint) {
    // 17 x 17 at density 16: the lattice points are the whole pixels, and at
    // depth 0 each cell's corner A is the last vertex of its quad, C the second.
    const Bitmap image = Speckled(17, 17);
    for (std::uint8_t mode : {0, 1, 2})
        for (double e : {0.1, 1.0, 2.7, 10.0}) {
            Talorin_Args args = MakeArgs(image, 16, 0, true);
            args.ShapeMode = mode;
            args.CurveLevel = e;
            const TerrainMesh shape = GenerateTerrainMesh(args);
            const auto polygons = PolygonsOf(shape);
            ASSERT_EQ(polygons.size(), 256u);
            for (int j = 0; j < 16; ++j)
                for (int i = 0; i < 16; ++i) {
                    const Polygon& p = polygons[255 - (j * 16 + i)];
                    EXPECT_EQ(p.vertices[3].z, SampleHeight(image, mode, i, j, 500, e));
                    EXPECT_EQ(p.vertices[1].z, SampleHeight(image, mode, i + 1, j + 1, 500, e));
                }
        }
}

namespace {

using PointKey = std::pair<double, double>;
using PointValues = std::tuple<double, double, double>;

// The vertices of one lattice cell by output position. Cell k (row by row) was
// emitted k-th, each cell emitting perCell polygons, and the list is reversed.
std::map<PointKey, PointValues> CellPoints(const std::vector<Polygon>& polygons, int paMax, int i,
                                           int j, std::size_t perCell) {
    std::map<PointKey, PointValues> points;
    const std::size_t k = std::size_t(j * paMax + i);
    const std::size_t end = polygons.size() - k * perCell;
    for (std::size_t n = end - perCell; n < end; ++n)
        for (const Vertex& v : polygons[n].vertices) {
            const auto [it, added] = points.emplace(PointKey{v.x, v.y}, PointValues{v.z, v.u, v.v});
            if (!added) {
                EXPECT_EQ(it->second, (PointValues{v.z, v.u, v.v}))
                    << "inside cell " << i << "," << j;
            }
        }
    return points;
}

// How many points two cells share, checking that each is bit-identical in both.
int SharedPoints(const std::map<PointKey, PointValues>& a,
                 const std::map<PointKey, PointValues>& b) {
    int shared = 0;
    for (const auto& [key, values] : a)
        if (auto it = b.find(key); it != b.end()) {
            EXPECT_EQ(it->second, values);
            ++shared;
        }
    return shared;
}

} // namespace

TEST_F(Generation, NeighbouringCellsMeetWithoutCracksOnAnEditedLattice) {
    const Bitmap image = Speckled(233, 233);
    for (const bool quads : {true, false}) {
        const int depth = quads ? 3 : 2;
        Talorin_Args args = MakeArgs(image, 4, depth, quads);
        AdjustMeshDensity(args.Lattice, 4, 80, 90, kLeftButton, 1.0, 1.0);
        AdjustMeshDensity(args.Lattice, 4, 150, 40, kRightButton, 1.0, 1.0);
        AdjustMeshDensity(args.Lattice, 4, 121, 163, kLeftButton, 1.0, 1.0);
        ASSERT_NE(args.Lattice[1][1], InitMeshLattice(image, 4)[1][1]);
        const TerrainMesh shape = GenerateTerrainMesh(args);
        const auto polygons = PolygonsOf(shape);
        const std::size_t perCell = std::size_t(1) << (2 * depth + (quads ? 0 : 2));
        ASSERT_EQ(polygons.size(), 16 * perCell);
        const int edgePoints = (1 << depth) + 1;
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) {
                const auto here = CellPoints(polygons, 4, i, j, perCell);
                if (i + 1 < 4) {
                    EXPECT_EQ(SharedPoints(here, CellPoints(polygons, 4, i + 1, j, perCell)),
                              edgePoints)
                        << "right of " << i << "," << j;
                }
                if (j + 1 < 4) {
                    EXPECT_EQ(SharedPoints(here, CellPoints(polygons, 4, i, j + 1, perCell)),
                              edgePoints)
                        << "below " << i << "," << j;
                }
            }
    }
}

TEST_F(Generation, EveryPointIsOneVertexUsedByAllItsPolygons) {
    // Small runs are built in one go, large ones (density 5, depth 6: 102400
    // leaves) as two bands of cell rows joined along the row they share.
    const Bitmap image = Speckled(233, 233);
    for (const auto& [quads, depth, paMax] : {std::tuple{true, 3, 4}, std::tuple{false, 2, 4},
                                              std::tuple{true, 6, 5}, std::tuple{false, 6, 5}}) {
        Talorin_Args args = MakeArgs(image, paMax, depth, quads);
        AdjustMeshDensity(args.Lattice, paMax, 80, 90, kLeftButton, 1.0, 1.0);
        AdjustMeshDensity(args.Lattice, paMax, 150, 40, kRightButton, 1.0, 1.0);
        const TerrainMesh mesh = GenerateTerrainMesh(args);
        // (paMax * 2^depth + 1)^2 lattice-wide grid points, plus one centre per leaf.
        const std::size_t side = (std::size_t(paMax) << depth) + 1;
        const std::size_t leaves = std::size_t(paMax * paMax) << (2 * depth);
        EXPECT_EQ(mesh.Vertices.size(), side * side + (quads ? 0 : leaves));
        ASSERT_EQ(mesh.Starts.size(), mesh.polygonCount() + 1);
        EXPECT_EQ(mesh.Starts.back(), mesh.Indices.size());

        // No point twice, every vertex used, a grid point by at most four quads
        // or eight triangles, a centre by exactly four triangles.
        std::set<std::pair<double, double>> positions;
        for (const MeshVertex& v : mesh.Vertices)
            positions.emplace(v.X, v.Y);
        EXPECT_EQ(positions.size(), mesh.Vertices.size());
        std::vector<int> uses(mesh.Vertices.size());
        for (const std::uint32_t index : mesh.Indices)
            ++uses.at(index);
        const int most = *std::max_element(uses.begin(), uses.end());
        EXPECT_EQ(*std::min_element(uses.begin(), uses.end()), quads ? 1 : 2);
        EXPECT_EQ(most, quads ? 4 : 8);
        // Each polygon's corners are distinct points.
        for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
            std::set<std::uint32_t> corners(mesh.corners(p), mesh.corners(p) + mesh.cornerCount(p));
            ASSERT_EQ(corners.size(), mesh.cornerCount(p)) << "polygon " << p;
        }
    }
}

TEST_F(Generation, DepthZeroMakesOnePolygonPerCell) {
    const Bitmap image = Speckled(50, 30);
    const TerrainMesh shape = GenerateTerrainMesh(MakeArgs(image, 7, 0, true));
    const auto polygons = PolygonsOf(shape);
    ASSERT_EQ(polygons.size(), 49u);
    for (const Polygon& p : polygons)
        EXPECT_EQ(p.vertices.size(), 4u);
}

TEST_F(Generation, ReportsProgressUpToTheLeafCount) {
    const Bitmap image = Speckled(65, 65);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> reports;
    const TerrainMesh shape = GenerateTerrainMesh(MakeArgs(image, 16, 3, true),
                                                  [&](std::uint64_t done, std::uint64_t total) {
                                                      reports.emplace_back(done, total);
                                                      return true;
                                                  });
    ASSERT_GE(reports.size(), 2u);
    // Setting up asks with nothing done yet; then the count rises.
    for (std::size_t n = 1; n < reports.size(); ++n) {
        if (reports[n].first != 0) {
            EXPECT_GT(reports[n].first, reports[n - 1].first);
        }
        EXPECT_EQ(reports[n].second, 16384u);
    }
    EXPECT_EQ(reports.back(), (std::pair<std::uint64_t, std::uint64_t>{16384, 16384}));
}

TEST_F(Generation, ReportsProgressOfALargeRunBuiltInTwoBands) {
    const Bitmap image = Speckled(129, 129);
    std::vector<std::uint64_t> done;
    const TerrainMesh mesh = GenerateTerrainMesh(MakeArgs(image, 16, 6, false),
                                                 [&](std::uint64_t d, std::uint64_t total) {
                                                     EXPECT_EQ(total, 1048576u);
                                                     done.push_back(d);
                                                     return true;
                                                 });
    ASSERT_GE(done.size(), 3u);
    // Setting up asks with nothing done yet; then the count rises strictly.
    const auto firstLeaves = std::find_if(done.begin(), done.end(), [](auto d) { return d != 0; });
    EXPECT_EQ(std::find(firstLeaves, done.end(), 0u), done.end());
    EXPECT_EQ(std::adjacent_find(firstLeaves, done.end(), std::greater_equal<>()), done.end());
    EXPECT_EQ(done.back(), 1048576u);
    EXPECT_EQ(mesh.polygonCount(), 4194304u);
}

// --- Running out of memory and cancelling -------------------------------------------

TEST_F(Generation, RunThatCannotFitIsRefusedBeforeBuilding) {
    const Bitmap image = Speckled(33, 33);
    // 1024 quads need about 68 kB: 1089 vertices, 4096 corners, the grid.
    vesk::SetMemoryBudget(60000);
    EXPECT_EQ(OutOfMemoryOf([&] { GenerateTerrainMesh(MakeArgs(image, 4, 3, true)); }),
              kOutOfMemoryText);
    vesk::SetMemoryBudget(80000);
    EXPECT_EQ(GenerateTerrainMesh(MakeArgs(image, 4, 3, true)).polygonCount(), 1024u);
}

TEST_F(Generation, HugeRunIsRefusedAtOnce) {
    // 2^48 leaves: building it would fill memory for minutes before failing.
    const Bitmap image = Speckled(233, 233);
    EXPECT_EQ(OutOfMemoryOf([&] { GenerateTerrainMesh(MakeArgs(image, 16, 20, true)); }),
              kOutOfMemoryText);
    EXPECT_EQ(OutOfMemoryOf([&] { GenerateTerrainMesh(MakeArgs(image, 16, 1000, false)); }),
              kOutOfMemoryText);
}

TEST_F(Generation, RefusedRunStillReportsTheFaultOfItsFirstVertex) {
    const Bitmap image = Speckled(233, 233);
    Talorin_Args args = MakeArgs(image, 16, 20, true);
    args.Size = 0;
    EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(args); }), kInvalidOperationText);
}

TEST_F(Generation, BudgetDroppingHalfwayStopsTheRun) {
    const Bitmap image = Speckled(65, 65);
    for (const bool quads : {true, false}) {
        bool dropped = false;
        const auto run = [&] {
            GenerateTerrainMesh(MakeArgs(image, 16, 3, quads), [&](std::uint64_t, std::uint64_t) {
                if (!dropped)
                    vesk::SetMemoryBudget(1);
                dropped = true;
                return true;
            });
        };
        EXPECT_EQ(OutOfMemoryOf(run), kOutOfMemoryText);
        EXPECT_TRUE(dropped);
        vesk::SetMemoryBudget(0);
    }
}

TEST_F(Generation, OtherProcessesTakingMemoryStopTheRunBeforeItFillsMemory) {
    // Depth 7 at density 16 needs about 350 MB. The simulated system has 600 MB
    // left at the start, so the run fits; then another process takes 512 bytes
    // for every leaf built, and by the first re-check, 64 MiB into the run,
    // the rest no longer fits.
    const Bitmap image = Speckled(129, 129);
    const std::size_t start = std::size_t{600} << 20;
    std::size_t taken = 512;
    std::uint64_t reached = 0;
    vesk::SetAvailableMemorySource(
        [&] { return start - std::min<std::size_t>(start, reached * taken); });
    const auto run = [&] {
        GenerateTerrainMesh(MakeArgs(image, 16, 7, true), [&](std::uint64_t done, std::uint64_t) {
            reached = done;
            return true;
        });
    };
    EXPECT_EQ(OutOfMemoryOf(run), kOutOfMemoryText);
    EXPECT_GT(reached, 0u);
    EXPECT_LT(reached, 4194304u / 2);
    // When nobody else takes memory, the same run succeeds.
    taken = 0;
    EXPECT_EQ(GenerateTerrainMesh(MakeArgs(image, 16, 7, true)).polygonCount(), 4194304u);
}

TEST_F(Generation, RunIsRefusedWhenTheSystemHasTooLittleLeftAtTheStart) {
    const Bitmap image = Speckled(9, 9);
    vesk::SetAvailableMemorySource([] { return std::size_t{1000}; });
    EXPECT_EQ(OutOfMemoryOf([&] { GenerateTerrainMesh(MakeArgs(image, 4, 1, true)); }),
              kOutOfMemoryText);
    vesk::SetAvailableMemorySource({});
}

TEST_F(Generation, ProgressReturningFalseCancelsTheRun) {
    const Bitmap image = Speckled(65, 65);
    for (const auto& [quads, depth] :
         {std::pair{true, 3}, std::pair{false, 3}, std::pair{true, 6}}) {
        int calls = 0;
        try {
            GenerateTerrainMesh(MakeArgs(image, 16, depth, quads),
                                [&](std::uint64_t, std::uint64_t) { return ++calls < 2; });
            ADD_FAILURE() << "not cancelled";
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), ErrorKind::Cancelled);
            EXPECT_STREQ(e.what(), kCancelledText);
        }
        EXPECT_EQ(calls, 2);
    }
}

// Filling the big lists of a run takes long enough to notice: a cancel is asked
// for before them and between their steps, not only once leaves are done.
TEST_F(Generation, CancelIsAskedBeforeTheFirstLeaf) {
    const Bitmap image = Speckled(65, 65);
    std::vector<std::uint64_t> done;
    EXPECT_THROW(GenerateTerrainMesh(MakeArgs(image, 16, 7, true),
                                     [&](std::uint64_t d, std::uint64_t) {
                                         done.push_back(d);
                                         return false;
                                     }),
                 Error);
    EXPECT_EQ(done, std::vector<std::uint64_t>{0});
}

// --- Floating-point faults and refused arguments -----------------------------------

TEST_F(Generation, OnePixelWideImageDividesByZero) {
    const Bitmap tall = Filled(1, 200, {255, 255, 255});
    EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(MakeArgs(tall, 4, 2, true)); }), kDivideByZeroText);
    const Bitmap flat = Filled(200, 1, {255, 255, 255});
    EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(MakeArgs(flat, 4, 2, false)); }),
              kDivideByZeroText);
}

TEST_F(Generation, SizeZeroIsAnInvalidOperation) {
    const Bitmap tall = Filled(1, 200, {255, 255, 255});
    Talorin_Args args = MakeArgs(tall, 4, 2, true);
    args.Size = 0; // 0 / 0 already in the scale factor
    EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(args); }), kInvalidOperationText);

    const Bitmap image = Speckled(9, 9);
    for (const bool quads : {true, false}) {
        args = MakeArgs(image, 4, 2, quads);
        args.Size = 0; // U of the first vertex is 0 / 0
        EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(args); }), kInvalidOperationText);
    }
}

TEST_F(Generation, HeightIsSampledBeforeUv) {
    // Both the height (a level whose half box underflows) and U (Size 0) fault;
    // the height comes first in every vertex.
    const Bitmap image = Speckled(9, 9);
    Talorin_Args args = MakeArgs(image, 4, 1, true);
    args.Size = 0;
    args.ShapeMode = 2;
    args.CurveLevel = 2000;
    EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(args); }), kDivideByZeroText);
}

TEST_F(Generation, FaultLateInTheRunAbandonsWhatWasBuilt) {
    // One dark pixel in the bottom right cell: at level -200 its height
    // overflows, after fifteen cells have been built.
    Bitmap image = Filled(33, 33, {255, 255, 255});
    image.setPixel(28, 28, {5, 5, 5});
    for (const bool quads : {true, false}) {
        Talorin_Args args = MakeArgs(image, 4, 3, quads);
        args.CurveLevel = -200;
        EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(args); }), kOverflowText);
        image.setPixel(28, 28, {255, 255, 255});
        // The same run without that pixel.
        EXPECT_EQ(GenerateTerrainMesh(args).polygonCount(), quads ? 1024u : 4096u);
        image.setPixel(28, 28, {5, 5, 5});
    }
}

TEST_F(Generation, FaultInEitherHalfOfALargeRunIsFound) {
    // 65536 leaves: built as two bands. A dark pixel near the top or near the
    // bottom of the image overflows at level -200 in the first or the second.
    for (const int at : {5, 120}) {
        Bitmap image = Filled(129, 129, {255, 255, 255});
        image.setPixel(at, at, {5, 5, 5});
        for (const bool quads : {true, false}) {
            Talorin_Args args = MakeArgs(image, 16, quads ? 4 : 3, quads);
            args.CurveLevel = -200;
            EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(args); }), kOverflowText) << at;
        }
    }
}

TEST_F(Generation, PositionOverflowIsAFault) {
    // The largest Size fits the image exactly; a point pulled past the right
    // border takes its position beyond the largest double.
    const Bitmap image = Speckled(3, 3);
    Talorin_Args args = MakeArgs(image, 4, 1, true);
    args.Size = kMax;
    { EXPECT_EQ(GenerateTerrainMesh(args).polygonCount(), 64u); }
    args.Lattice[3][3].X = 2.4;
    EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(args); }), kOverflowText);
}

TEST_F(Generation, RefusesDepthBelowZeroBeforeBuilding) {
    const Bitmap image = Speckled(9, 9);
    EXPECT_THROW(GenerateTerrainMesh(MakeArgs(image, 4, -1, true)), Error);
}

TEST_F(Generation, RefusesAMissingImageOrDensity) {
    const Bitmap image = Speckled(9, 9);
    Talorin_Args args = MakeArgs(image, 4, 1, true);
    args.Bitmap = nullptr;
    EXPECT_THROW(GenerateTerrainMesh(args), Error);
    const Bitmap none;
    args.Bitmap = Borrowed(none);
    EXPECT_THROW(GenerateTerrainMesh(args), Error);
    args = MakeArgs(image, 4, 1, true);
    args.PaMax = 17;
    EXPECT_THROW(GenerateTerrainMesh(args), Error);
}

TEST_F(Generation, NonFiniteArgumentIsAnInvalidOperation) {
    const Bitmap image = Speckled(9, 9);
    Talorin_Args args = MakeArgs(image, 4, 1, true);
    args.MaxHeight = kNaN;
    EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(args); }), kInvalidOperationText);
    args = MakeArgs(image, 4, 1, true);
    args.Lattice[2][2].Y = std::numeric_limits<double>::infinity();
    EXPECT_EQ(FaultOf([&] { GenerateTerrainMesh(args); }), kInvalidOperationText);
}

// --- Polygon-count estimate -----------------------------------------------------------

TEST(EstimatePolygonCount, StartSettings) {
    EXPECT_EQ(EstimatePolygonCount(2, 1, 4), 256);
    EXPECT_EQ(EstimatePolygonCount(2, 0, 4), 1024);
    EXPECT_EQ(EstimatePolygonCount(0, 1, 7), 49);
}

TEST(EstimatePolygonCount, LargestCountsThatFit) {
    EXPECT_EQ(EstimatePolygonCount(10, 0, 16), 1073741824);
    EXPECT_EQ(EstimatePolygonCount(11, 1, 16), 1073741824);
    EXPECT_EQ(EstimatePolygonCount(13, 1, 4), 1073741824);
    EXPECT_EQ(EstimatePolygonCount(12, 0, 4), 1073741824);
}

TEST(EstimatePolygonCount, CountsBeyondInt32AreInvalidOperations) {
    EXPECT_EQ(FaultOf([] { EstimatePolygonCount(11, 0, 16); }), kInvalidOperationText);
    EXPECT_EQ(FaultOf([] { EstimatePolygonCount(12, 1, 16); }), kInvalidOperationText);
    EXPECT_EQ(FaultOf([] { EstimatePolygonCount(13, 0, 4); }), kInvalidOperationText);
    EXPECT_EQ(FaultOf([] { EstimatePolygonCount(14, 1, 4); }), kInvalidOperationText);
    EXPECT_EQ(FaultOf([] { EstimatePolygonCount(1000, 1, 4); }), kOverflowText);
}

TEST(EstimatePolygonCount, MatchesTheBuiltModel) {
    const Bitmap image = Speckled(20, 20);
    for (const bool quads : {true, false}) {
        const TerrainMesh shape = GenerateTerrainMesh(MakeArgs(image, 5, 2, quads));
        EXPECT_EQ(PolygonsOf(shape).size(), std::size_t(EstimatePolygonCount(2, quads ? 1 : 0, 5)));
    }
}
