#include "terrain/adaptive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "terrain/lattice.h"
#include "terrain/solid.h"
#include "terrain/terrain.h"
#include "base/error.h"
#include "shape/shape.h"
#include "tests/support/sampleheight.h"

using namespace talorin;

namespace {

// --- Images and settings ----------------------------------------------------------

Bitmap NoisyImage(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Bitmap image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto grey = std::uint8_t(random() % 256);
            image.setPixel(x, y, {grey, grey, grey});
        }
    return image;
}

// Smooth hills with a ridge: some leaves need depth, others none.
Bitmap HillImage(int size) {
    Bitmap image(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double u = double(x) / (size - 1), v = double(y) / (size - 1);
            double h = std::exp(-10 * ((u - 0.3) * (u - 0.3) + (v - 0.6) * (v - 0.6)));
            if (std::fabs(u - v) < 0.04)
                h = 0.9;
            const auto grey = std::uint8_t(std::clamp(h, 0.0, 1.0) * 255);
            image.setPixel(x, y, {grey, grey, grey});
        }
    return image;
}

// Brightness rising two steps a column up to the middle, then falling again:
// a roof whose ridge lies on a lattice line at density 4, equal on the first
// and last column (the height sample wraps the last column onto the first).
Bitmap RoofImage() {
    Bitmap image(65, 65);
    for (int y = 0; y < 65; ++y)
        for (int x = 0; x < 65; ++x) {
            const auto level = std::uint8_t(2 * std::min(x, 64 - x));
            image.setPixel(x, y, {level, level, level});
        }
    return image;
}

Talorin_Args ArgsFor(const Bitmap& image, int paMax, int depth, bool quads) {
    Talorin_Args args;
    args.Size = 2000;
    args.MaxHeight = 500;
    args.QuadMode = quads;
    args.ShapeMode = 1;
    args.CurveLevel = 1.7;
    args.Bitmap = Borrowed(image);
    args.Depth = depth;
    args.ObjName = "obj";
    args.AtrName = "BodyM";
    args.PaMax = paMax;
    args.Lattice = InitMeshLattice(image, paMax);
    return args;
}

// A lattice pulled and pushed by presses, as a user would edit it.
void Edit(Talorin_Args& args, unsigned seed) {
    std::mt19937 random(seed);
    const double scaleX = double(kPreviewWidth) / args.Bitmap->width();
    const double scaleY = double(kPreviewHeight) / args.Bitmap->height();
    for (int k = 0; k < 4; ++k)
        AdjustMeshDensity(args.Lattice, args.PaMax, int(random() % 233), int(random() % 233),
                          std::uint8_t(random() % 2), scaleX, scaleY);
}

// --- The reference: the uniform run, read back independently -----------------------

using Key = std::tuple<double, double, double, double, double>;

Key KeyOf(const MeshVertex& v) {
    return {v.X, v.Y, v.Z, v.U, v.V};
}

// Grid position of a leaf of the uniform run from its index in the walk:
// cells row by row, within a cell two bits per level naming the quarter at
// A (0, 0), B (1, 0), C (1, 1) or D (0, 1).
std::pair<std::uint32_t, std::uint32_t> LeafPosition(std::uint64_t walkIndex, int paMax,
                                                     int depth) {
    const std::uint64_t perCell = std::uint64_t{1} << (2 * depth);
    const std::uint64_t cell = walkIndex / perCell;
    std::uint64_t rest = walkIndex % perCell;
    std::uint32_t x = std::uint32_t(cell % paMax) << depth;
    std::uint32_t y = std::uint32_t(cell / paMax) << depth;
    for (int level = depth - 1; level >= 0; --level) {
        const unsigned quarter = unsigned(rest >> (2 * level)) & 3;
        if (quarter == 1 || quarter == 2)
            x += 1u << level;
        if (quarter == 2 || quarter == 3)
            y += 1u << level;
    }
    return {x, y};
}

// The reference points on the doubled grid: corners at even, full-depth leaf
// centres at odd positions.
struct Reference {
    int paMax = 0, depth = 0;
    std::uint32_t side = 0; // grid points a side
    std::map<std::pair<std::uint32_t, std::uint32_t>, MeshVertex> points;
    std::map<Key, std::pair<std::uint32_t, std::uint32_t>> positionOf; // grid corners only
};

Reference ReferenceOf(const Talorin_Args& args) {
    Reference ref;
    ref.paMax = args.PaMax;
    ref.depth = args.Depth;
    ref.side = (std::uint32_t(args.PaMax) << args.Depth) + 1;
    const TerrainMesh mesh = GenerateTerrainMesh(args);
    const std::size_t n = mesh.polygonCount();
    const std::size_t perLeaf = args.QuadMode ? 1 : 4;
    for (std::size_t w = 0; w < n / perLeaf; ++w) {
        const auto [x, y] = LeafPosition(w, args.PaMax, args.Depth);
        // The leaf's polygons sit at the end of the file order, the last first.
        const std::size_t first = n - perLeaf * (w + 1);
        MeshVertex a, b, c, d;
        if (args.QuadMode) {
            const std::uint32_t* q = mesh.corners(first); // D, C, B, A
            d = mesh.Vertices[q[0]], c = mesh.Vertices[q[1]], b = mesh.Vertices[q[2]],
            a = mesh.Vertices[q[3]];
        } else {
            const std::uint32_t* t = mesh.corners(first);     // (centre, A, D)
            const std::uint32_t* u = mesh.corners(first + 2); // (centre, C, B)
            ref.points[{2 * x + 1, 2 * y + 1}] = mesh.Vertices[t[0]];
            a = mesh.Vertices[t[1]], d = mesh.Vertices[t[2]], c = mesh.Vertices[u[1]],
            b = mesh.Vertices[u[2]];
        }
        const std::pair<std::uint32_t, std::uint32_t> pos[4] = {
            {x, y}, {x + 1, y}, {x + 1, y + 1}, {x, y + 1}};
        const MeshVertex values[4] = {a, b, c, d};
        for (int k = 0; k < 4; ++k) {
            ref.points[{2 * pos[k].first, 2 * pos[k].second}] = values[k];
            ref.positionOf[KeyOf(values[k])] = pos[k];
        }
    }
    return ref;
}

// --- The brute-force checker ----------------------------------------------------------

struct Check {
    double maxError = 0;    // largest deviation seen at a reference point
    std::size_t points = 0; // reference points measured
};

// Linear interpolation of z over the triangle (p0, p1, p2) at q, in (u, v);
// false when q lies outside (with a little slack for points on an edge).
bool InTriangle(const double p[3][2], const double z[3], double qu, double qv, double& value) {
    const double det =
        (p[1][0] - p[0][0]) * (p[2][1] - p[0][1]) - (p[2][0] - p[0][0]) * (p[1][1] - p[0][1]);
    if (det == 0)
        return false;
    const double w1 =
        ((qu - p[0][0]) * (p[2][1] - p[0][1]) - (p[2][0] - p[0][0]) * (qv - p[0][1])) / det;
    const double w2 =
        ((p[1][0] - p[0][0]) * (qv - p[0][1]) - (qu - p[0][0]) * (p[1][1] - p[0][1])) / det;
    const double w0 = 1 - w1 - w2;
    constexpr double kSlack = 1e-12;
    if (w0 < -kSlack || w1 < -kSlack || w2 < -kSlack)
        return false;
    value = w0 * z[0] + w1 * z[1] + w2 * z[2];
    return true;
}

// Measures every reference point of every leaf against the adaptive mesh as
// written: bilinear in the four corners of a quad leaf, linear in the fan
// triangle holding it for a triangle leaf. Also checks that every outline
// point is a reference point on the leaf's border and that the quad's corners
// come first from D.
Check MeasureAgainst(const Reference& ref, const TerrainMesh& mesh,
                     const std::vector<AdaptiveLeaf>& leaves) {
    Check check;
    std::size_t next = mesh.polygonCount(); // leaves' polygons from the end of the file
    for (const AdaptiveLeaf& leaf : leaves) {
        const double span = leaf.Span;
        const std::uint32_t x0 = leaf.X, y0 = leaf.Y, x1 = leaf.X + leaf.Span,
                            y1 = leaf.Y + leaf.Span;
        auto onBorder = [&](std::pair<std::uint32_t, std::uint32_t> p) {
            const bool inside = p.first >= x0 && p.first <= x1 && p.second >= y0 && p.second <= y1;
            return inside && (p.first == x0 || p.first == x1 || p.second == y0 || p.second == y1);
        };
        auto positionOf = [&](std::uint32_t index) {
            const auto it = ref.positionOf.find(KeyOf(mesh.Vertices[index]));
            EXPECT_NE(it, ref.positionOf.end()) << "an outline point that the uniform run lacks";
            return it == ref.positionOf.end() ? std::pair<std::uint32_t, std::uint32_t>{0, 0}
                                              : it->second;
        };
        auto zAt = [&](std::uint32_t dx, std::uint32_t dy) { return ref.points.at({dx, dy}).Z; };
        next -= leaf.Polygons;
        if (mesh.QuadMode) {
            EXPECT_EQ(leaf.Polygons, 1u);
            const std::uint32_t* corners = mesh.corners(next);
            for (std::size_t k = 0; k < mesh.cornerCount(next); ++k)
                EXPECT_TRUE(onBorder(positionOf(corners[k])));
            EXPECT_EQ(positionOf(corners[0]), (std::pair{x0, y1})); // D first
            const double zA = zAt(2 * x0, 2 * y0), zB = zAt(2 * x1, 2 * y0);
            const double zC = zAt(2 * x1, 2 * y1), zD = zAt(2 * x0, 2 * y1);
            for (std::uint32_t y = y0; y <= y1; ++y)
                for (std::uint32_t x = x0; x <= x1; ++x) {
                    const double u = (x - x0) / span, v = (y - y0) / span;
                    const double value =
                        (1 - u) * (1 - v) * zA + u * (1 - v) * zB + u * v * zC + (1 - u) * v * zD;
                    check.maxError = std::max(check.maxError, std::fabs(zAt(2 * x, 2 * y) - value));
                    ++check.points;
                }
        } else {
            // The centre is the one vertex all triangles of the leaf share.
            std::map<std::uint32_t, int> uses;
            for (std::size_t p = next; p < next + leaf.Polygons; ++p)
                for (std::size_t k = 0; k < 3; ++k)
                    ++uses[mesh.corners(p)[k]];
            std::uint32_t centre = 0;
            int shared = 0;
            for (const auto& [index, count] : uses)
                if (count == int(leaf.Polygons))
                    centre = index, ++shared;
            EXPECT_EQ(shared, 1);
            for (std::uint32_t dy = 2 * y0; dy <= 2 * y1; ++dy)
                for (std::uint32_t dx = 2 * x0 + dy % 2; dx <= 2 * x1; dx += 2) {
                    if (dy % 2 == 1 && dx == 2 * x1)
                        continue;
                    const double qu = (dx / 2.0 - x0) / span, qv = (dy / 2.0 - y0) / span;
                    bool found = false;
                    double value = 0;
                    for (std::size_t p = next; p < next + leaf.Polygons && !found; ++p) {
                        double pts[3][2], zs[3];
                        for (std::size_t k = 0; k < 3; ++k) {
                            const std::uint32_t index = mesh.corners(p)[k];
                            zs[k] = mesh.Vertices[index].Z;
                            if (index == centre) {
                                pts[k][0] = pts[k][1] = 0.5;
                            } else {
                                const auto pos = positionOf(index);
                                EXPECT_TRUE(onBorder(pos));
                                pts[k][0] = (pos.first - double(x0)) / span;
                                pts[k][1] = (pos.second - double(y0)) / span;
                            }
                        }
                        found = InTriangle(pts, zs, qu, qv, value);
                    }
                    EXPECT_TRUE(found) << "a reference point outside the leaf's fan";
                    check.maxError = std::max(check.maxError, std::fabs(zAt(dx, dy) - value));
                    ++check.points;
                }
        }
    }
    EXPECT_EQ(next, 0u) << "polygons that belong to no leaf";
    return check;
}

// Every edge between consecutive outline corners, by welded index: an interior
// edge is used by exactly two polygons, once each way; a border edge by one,
// and then it lies on the lattice's outer border.
void ExpectWatertight(const Reference& ref, const TerrainMesh& mesh) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> directed;
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
        const std::uint32_t* c = mesh.corners(p);
        const std::size_t n = mesh.cornerCount(p);
        for (std::size_t k = 0; k < n; ++k)
            ++directed[{c[k], c[(k + 1) % n]}];
    }
    std::set<Key> distinct;
    for (const MeshVertex& v : mesh.Vertices)
        EXPECT_TRUE(distinct.insert(KeyOf(v)).second) << "a point that was not welded";
    const std::uint32_t last = ref.side - 1;
    auto border = [&](std::uint32_t index) {
        const auto it = ref.positionOf.find(KeyOf(mesh.Vertices[index]));
        return it == ref.positionOf.end() ? std::pair<bool, bool>{false, false}
                                          : std::pair<bool, bool>{it->second.first % last == 0,
                                                                  it->second.second % last == 0};
    };
    std::size_t open = 0;
    for (const auto& [edge, count] : directed) {
        EXPECT_EQ(count, 1) << "an edge run twice the same way";
        if (directed.count({edge.second, edge.first}) == 0) {
            ++open;
            const auto a = border(edge.first), b = border(edge.second);
            const auto pa = ref.positionOf.find(KeyOf(mesh.Vertices[edge.first]));
            const auto pb = ref.positionOf.find(KeyOf(mesh.Vertices[edge.second]));
            ASSERT_TRUE(pa != ref.positionOf.end() && pb != ref.positionOf.end())
                << "an open edge away from the border";
            const bool sameColumn = a.first && b.first && pa->second.first == pb->second.first;
            const bool sameRow = a.second && b.second && pa->second.second == pb->second.second;
            EXPECT_TRUE(sameColumn || sameRow) << "an open edge inside the terrain (a crack)";
        }
    }
    EXPECT_GT(open, 0u);
}

struct Case {
    bool quads;
    bool edited;
    int paMax;
    int depth;
    double errorShare; // of MaxHeight
};

// The error a call throws, as kind and text.
template <typename F> std::pair<ErrorKind, std::string> ErrorOf(F f) {
    try {
        f();
    } catch (const Error& e) {
        return {e.kind(), e.what()};
    }
    ADD_FAILURE() << "no error";
    return {};
}

} // namespace

TEST(Adaptive, BoundHoldsAndNoCracksOnRandomTerrains) {
    const Case cases[] = {{true, false, 4, 4, 0.02},  {true, true, 4, 4, 0.005},
                          {false, false, 4, 3, 0.02}, {false, true, 5, 3, 0.01},
                          {true, true, 3, 5, 0.05},   {false, true, 3, 4, 0.1}};
    unsigned seed = 1;
    for (const Case& c : cases)
        for (const bool noisy : {false, true}) {
            SCOPED_TRACE(testing::Message() << "quads " << c.quads << " edited " << c.edited
                                            << " depth " << c.depth << " noisy " << noisy);
            const Bitmap image = noisy ? NoisyImage(77, 61, seed) : HillImage(97);
            Talorin_Args args = ArgsFor(image, c.paMax, c.depth, c.quads);
            if (c.edited)
                Edit(args, seed);
            ++seed;
            const double maxError = c.errorShare * args.MaxHeight;
            std::vector<AdaptiveLeaf> leaves;
            const TerrainMesh mesh = GenerateAdaptiveMesh(args, maxError, {}, &leaves);
            const Reference ref = ReferenceOf(args);
            const Check check = MeasureAgainst(ref, mesh, leaves);
            EXPECT_LE(check.maxError, maxError + 1e-9 * args.MaxHeight);
            EXPECT_GE(check.points, ref.points.size()); // every point measured, borders twice
            ExpectWatertight(ref, mesh);
            EXPECT_EQ(AdaptivePolygonCount(args, maxError), mesh.polygonCount());
            if (!noisy) { // smooth ground must save polygons
                EXPECT_LT(mesh.polygonCount(),
                          std::size_t(EstimatePolygonCount(c.depth, c.quads, c.paMax)));
            }
        }
}

TEST(Adaptive, TinyErrorOnNoiseGivesTheUniformMeshItself) {
    for (const bool quads : {true, false}) {
        const Bitmap image = NoisyImage(80, 70, 7);
        Talorin_Args args = ArgsFor(image, 4, 3, quads);
        Edit(args, 3);
        const TerrainMesh adaptive = GenerateAdaptiveMesh(args, 1e-9);
        const TerrainMesh uniform = GenerateTerrainMesh(args);
        EXPECT_EQ(adaptive.polygonCount(), std::size_t(EstimatePolygonCount(3, quads, 4)));
        EXPECT_EQ(adaptive.Vertices, uniform.Vertices);
        EXPECT_EQ(adaptive.Indices, uniform.Indices);
        EXPECT_EQ(adaptive.Starts, uniform.Starts);
        // At depth 0 there is nothing to decide.
        args.Depth = 0;
        EXPECT_EQ(GenerateAdaptiveMesh(args, 1e-9).Vertices, GenerateTerrainMesh(args).Vertices);
    }
}

// Grey 16-bit noise in a narrow band: every pixel's 8-bit display is the
// same 128, while its full-precision levels all differ in height.
Bitmap SixteenBitNoise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Bitmap image(width, height);
    std::vector<std::uint32_t> levels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto v = std::uint32_t(32768 + random() % 128);
            const std::uint8_t grey = ScaleTo8Bits(v, 65535);
            image.setPixel(x, y, {grey, grey, grey});
            levels.push_back(3 * v);
        }
    image.setLevels(std::move(levels), 3 * 65535);
    return image;
}

TEST(Adaptive, SixteenBitImagesAreReadAtFullPrecision) {
    const Bitmap image = SixteenBitNoise(80, 70, 5);
    ASSERT_EQ(image.pixel(3, 4), image.pixel(40, 50)); // flat to the eye
    for (const bool quads : {true, false}) {
        SCOPED_TRACE(quads ? "quads" : "triangles");
        Talorin_Args args = ArgsFor(image, 4, 3, quads);
        Edit(args, 3);
        // A tiny error splits the noise down to the uniform mesh, bit for bit.
        const TerrainMesh uniform = GenerateTerrainMesh(args);
        const TerrainMesh adaptive = GenerateAdaptiveMesh(args, 1e-9);
        EXPECT_EQ(AdaptivePolygonCount(args, 1e-9), uniform.polygonCount());
        ASSERT_EQ(adaptive.Vertices.size(), uniform.Vertices.size());
        EXPECT_EQ(std::memcmp(adaptive.Vertices.data(), uniform.Vertices.data(),
                              uniform.Vertices.size() * sizeof(MeshVertex)),
                  0);
        EXPECT_EQ(adaptive.Indices, uniform.Indices);
        EXPECT_EQ(adaptive.Starts, uniform.Starts);
        // With one leaf per cell every corner is still a point of the uniform
        // run with its very values, and its height is the level's own.
        const TerrainMesh coarse = GenerateAdaptiveMesh(args, 1e6);
        ASSERT_EQ(coarse.polygonCount(), quads ? 16u : 64u);
        std::set<Key> points;
        for (const MeshVertex& v : uniform.Vertices)
            points.insert(KeyOf(v));
        std::set<double> heights;
        for (const MeshVertex& v : coarse.Vertices) {
            EXPECT_EQ(points.count(KeyOf(v)), 1u) << v.X << ", " << v.Y << ", " << v.Z;
            heights.insert(v.Z);
        }
        EXPECT_GT(heights.size(), coarse.Vertices.size() / 2);
    }
}

TEST(Adaptive, ErrorAboveTheHeightRangeGivesOneLeafPerCell) {
    const Bitmap image = NoisyImage(50, 50, 11);
    for (const bool quads : {true, false}) {
        Talorin_Args args = ArgsFor(image, 6, 5, quads);
        Edit(args, 5);
        const TerrainMesh mesh = GenerateAdaptiveMesh(args, args.MaxHeight * 1.001);
        // As the uniform run at depth 0, polygon for polygon.
        args.Depth = 0;
        const TerrainMesh uniform = GenerateTerrainMesh(args);
        EXPECT_EQ(mesh.polygonCount(), quads ? 36u : 144u);
        EXPECT_EQ(mesh.Vertices, uniform.Vertices);
        EXPECT_EQ(mesh.Indices, uniform.Indices);
    }
}

TEST(Adaptive, SolidOfOutlinesWithPointsOnTheirEdgesHasNoTriangleWithoutArea) {
    // Flat ground beside refined hills: outlines with points on straight
    // edges, which a fan from their first corner can cut into slivers.
    const Bitmap image = HillImage(129);
    const TerrainMesh solid = MakeSolid(GenerateAdaptiveMesh(ArgsFor(image, 4, 5, true), 1), 10);
    std::uint64_t triangles = 0;
    for (std::size_t p = 0; p < solid.polygonCount(); ++p)
        ForEachTriangle(solid, p, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            const MeshVertex &u = solid.Vertices[a], &v = solid.Vertices[b], &w = solid.Vertices[c];
            const double ab[3] = {v.X - u.X, v.Y - u.Y, v.Z - u.Z};
            const double ac[3] = {w.X - u.X, w.Y - u.Y, w.Z - u.Z};
            const double n[3] = {ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2],
                                 ab[0] * ac[1] - ab[1] * ac[0]};
            EXPECT_GT(std::hypot(n[0], n[1], n[2]), 1e-6) << "polygon " << p;
            ++triangles;
        });
    EXPECT_EQ(triangles, TriangleCount(solid));
}

TEST(Adaptive, PlaneIsOneLeafPerCellAndASpikeRefinesAroundItself) {
    // The lattice steps are 16 pixels and the full-depth steps 1 pixel: every
    // cell is exactly planar.
    Bitmap image = RoofImage();
    Talorin_Args args = ArgsFor(image, 4, 4, true);
    args.ShapeMode = 0;
    args.CurveLevel = 1.0;
    EXPECT_EQ(GenerateAdaptiveMesh(args, 1e-6).polygonCount(), 16u);

    // A white pixel at (8, 8), the middle of cell (0, 0): the four quarters
    // meeting there are split down to single steps, each leaving three
    // untouched leaves at sides 4 and 2 and four at side 1: 40 leaves, and
    // the 15 other cells stay whole.
    image.setPixel(8, 8, {255, 255, 255});
    std::vector<AdaptiveLeaf> leaves;
    const TerrainMesh mesh = GenerateAdaptiveMesh(args, 1e-6, {}, &leaves);
    EXPECT_EQ(mesh.polygonCount(), 55u);
    // The cell right of it takes the corners at rows 4, 8 and 12 from its left
    // neighbour, the cell below those at columns 4, 8 and 12: seven corners.
    // Cell (1, 0) is emitted 41st, cell (0, 1) 44th; the file lists them from the end.
    ASSERT_EQ(leaves.size(), 55u);
    EXPECT_EQ(leaves[40].X, 16u);
    EXPECT_EQ(mesh.cornerCount(55 - 41), 7u);
    EXPECT_EQ(mesh.cornerCount(55 - 44), 7u);
    EXPECT_EQ(mesh.cornerCount(55 - 42), 4u);
    const Reference ref = ReferenceOf(args);
    ExpectWatertight(ref, mesh);
    EXPECT_LE(MeasureAgainst(ref, mesh, leaves).maxError, 1e-6);
}

TEST(Adaptive, SameOutputOnEveryRun) {
    const Bitmap image = HillImage(120);
    for (const bool quads : {true, false}) {
        Talorin_Args args = ArgsFor(image, 7, 4, quads);
        Edit(args, 9);
        const TerrainMesh a = GenerateAdaptiveMesh(args, 3.0);
        const TerrainMesh b = GenerateAdaptiveMesh(args, 3.0);
        EXPECT_EQ(a.Vertices, b.Vertices);
        EXPECT_EQ(a.Indices, b.Indices);
        EXPECT_EQ(a.Starts, b.Starts);
        // A larger allowed error never needs more polygons here.
        EXPECT_LE(GenerateAdaptiveMesh(args, 10.0).polygonCount(), a.polygonCount());
    }
}

TEST(Adaptive, OutputBitsArePinned) {
    // FNV-1a over the mesh's numbers, recorded from a run checked byte for byte
    // against the files of the previous release: any change to the walk or the
    // sampler shows here.
    const auto hash = [](const TerrainMesh& m) {
        std::uint64_t h = 14695981039346656037u;
        const auto add = [&h](std::uint64_t v) { h = (h ^ v) * 1099511628211u; };
        for (const MeshVertex& v : m.Vertices)
            for (const double d : {v.X, v.Y, v.Z, v.U, v.V})
                add(std::bit_cast<std::uint64_t>(d));
        for (const std::uint32_t i : m.Indices)
            add(i);
        return h;
    };
    const Bitmap image = HillImage(120);
    Talorin_Args args = ArgsFor(image, 7, 4, true);
    Edit(args, 9);
    EXPECT_EQ(hash(GenerateAdaptiveMesh(args, 3.0)), 910267004425264667u);
    args.QuadMode = false;
    EXPECT_EQ(hash(GenerateAdaptiveMesh(args, 0.5)), 1298061197435001667u);
}

TEST(Adaptive, RefusesBadInputAndReportsFaultsAndCancels) {
    const Bitmap image = HillImage(40);
    Talorin_Args args = ArgsFor(image, 4, 3, true);
    for (const double bad : {0.0, -1.0, std::nan(""), HUGE_VAL}) {
        try {
            (void)GenerateAdaptiveMesh(args, bad);
            ADD_FAILURE() << bad;
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), ErrorKind::BadInput);
            EXPECT_STREQ(e.what(), kBadMaxErrorText);
        }
    }
    // A Size of 0 faults at the first vertex, with the uniform run's text.
    Talorin_Args zero = args;
    zero.Size = 0;
    try {
        (void)GenerateAdaptiveMesh(zero, 1.0);
        ADD_FAILURE();
    } catch (const FloatFault& e) {
        EXPECT_STREQ(e.what(), kInvalidOperationText);
    }
    const Bitmap thin = HillImage(1);
    Talorin_Args narrow = ArgsFor(thin, 4, 2, true);
    EXPECT_THROW((void)AdaptivePolygonCount(narrow, 1.0), FloatFault);

    int calls = 0;
    try {
        (void)GenerateAdaptiveMesh(args, 1.0, [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_LE(done, total);
            return ++calls < 5;
        });
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Cancelled);
    }
    EXPECT_EQ(calls, 5);

    // A depth whose index grid cannot fit is refused up front.
    Talorin_Args deep = args;
    deep.Depth = 24;
    try {
        (void)AdaptivePolygonCount(deep, 1.0);
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::OutOfMemory);
    }
}

TEST(Adaptive, RefusedRunReportsTheUniformRunsFirstFault) {
    // Depth 24 is refused up front by both runs; a fault in the first vertex
    // still comes before the want of memory, as in the uniform run.
    const Bitmap image = HillImage(40);
    for (const bool quads : {true, false}) {
        Talorin_Args zero = ArgsFor(image, 4, 24, quads);
        zero.Size = 0; // U of the first vertex is 0 / 0
        Talorin_Args steep = zero;
        steep.ShapeMode = 2;
        steep.CurveLevel = 2000; // the height faults before U
        for (const Talorin_Args& args : {zero, steep}) {
            const auto uniform = ErrorOf([&] { (void)GenerateTerrainMesh(args); });
            EXPECT_EQ(uniform.first, ErrorKind::FloatFault);
            EXPECT_EQ(ErrorOf([&] { (void)GenerateAdaptiveMesh(args, 1.0); }), uniform);
            EXPECT_EQ(ErrorOf([&] { (void)AdaptivePolygonCount(args, 1.0); }), uniform);
        }
        EXPECT_EQ(ErrorOf([&] { (void)GenerateTerrainMesh(zero); }).second, kInvalidOperationText);
        EXPECT_EQ(ErrorOf([&] { (void)GenerateTerrainMesh(steep); }).second, kDivideByZeroText);
    }
}
