#include "view/viewgeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <set>
#include <utility>

#include "../gl/testmeshes.h"
#include "base/error.h"

using namespace talorin;

namespace {

TerrainMesh FromPolygons(std::vector<MeshVertex> vertices,
                         std::vector<std::vector<std::uint32_t>> polygons) {
    TerrainMesh mesh;
    mesh.Vertices = std::move(vertices);
    for (const auto& p : polygons) {
        mesh.Indices.insert(mesh.Indices.end(), p.begin(), p.end());
        mesh.Starts.push_back(std::uint32_t(mesh.Indices.size()));
    }
    return mesh;
}

std::set<std::pair<std::uint32_t, std::uint32_t>> EdgeSet(const std::vector<std::uint32_t>& list) {
    std::set<std::pair<std::uint32_t, std::uint32_t>> set;
    for (std::size_t k = 0; k + 1 < list.size(); k += 2)
        set.insert({std::min(list[k], list[k + 1]), std::max(list[k], list[k + 1])});
    return set;
}

double SignedAreaXY(const ViewGeometry& g, std::size_t triangle) {
    const float* a = g.vertices[g.triangles[3 * triangle]].position;
    const float* b = g.vertices[g.triangles[3 * triangle + 1]].position;
    const float* c = g.vertices[g.triangles[3 * triangle + 2]].position;
    return ((b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1])) / 2;
}

} // namespace

TEST(VertexNormals, FlatAndTiltedPlanes) {
    for (const Vec3 n : VertexNormals(testmesh::Flat(2, 3, 2000, 77)))
        EXPECT_EQ(n, (Vec3{0, 0, 1}));
    // z = x rises toward the south: every normal leans north by 45 degrees.
    const auto tilted = testmesh::Grid(
        2, 2, 100, [](double x, double) { return x; }, false);
    for (const Vec3 n : VertexNormals(tilted)) {
        EXPECT_NEAR(n.x, -std::sqrt(0.5), 1e-12);
        EXPECT_NEAR(n.y, 0, 1e-12);
        EXPECT_NEAR(n.z, std::sqrt(0.5), 1e-12);
    }
}

TEST(VertexNormals, PeakSlopesFaceAwayFromTheTop) {
    const TerrainMesh mesh = testmesh::Peak(4, 4, 2000, 600);
    const auto normals = VertexNormals(mesh);
    for (std::size_t i = 0; i < mesh.Vertices.size(); ++i) {
        const MeshVertex& v = mesh.Vertices[i];
        EXPECT_NEAR(Length(normals[i]), 1, 1e-12);
        EXPECT_GT(normals[i].z, 0);
        const double r = std::hypot(v.X, v.Y);
        if (r > 100 && r < 900) { // on the slope, not at the top or the foot
            EXPECT_GT(normals[i].x * v.X + normals[i].y * v.Y, 0) << "at " << v.X << ", " << v.Y;
        }
    }
}

TEST(VertexNormals, FollowWindingAndAnyCornerCount) {
    // A regular pentagon in the plane z = y, listed counter-clockwise from above.
    std::vector<MeshVertex> ring;
    for (int k = 0; k < 5; ++k) {
        const double a = 2 * 3.141592653589793 * k / 5;
        ring.push_back({std::cos(a), std::sin(a), std::sin(a), 0, 0});
    }
    const auto up = VertexNormals(FromPolygons(ring, {{0, 1, 2, 3, 4}}));
    for (const Vec3 n : up) {
        EXPECT_NEAR(n.x, 0, 1e-12);
        EXPECT_NEAR(n.y, -std::sqrt(0.5), 1e-12);
        EXPECT_NEAR(n.z, std::sqrt(0.5), 1e-12);
    }
    const auto down = VertexNormals(FromPolygons(ring, {{4, 3, 2, 1, 0}}));
    EXPECT_NEAR(down[0].z, -std::sqrt(0.5), 1e-12);
    // A point no polygon with an area touches still gets a usable normal.
    const auto lonely = VertexNormals(FromPolygons({{0, 0, 0}, {1, 0, 0}, {5, 5, 5}}, {{0, 1, 0}}));
    for (const Vec3 n : lonely)
        EXPECT_EQ(n, (Vec3{0, 0, 1}));
}

TEST(VertexNormals, ViewAndExportersShareTheSequentialSumOnLargeMeshes) {
    // Big enough to be shared out among the cores, with vertices renumbered
    // so that polygons reach across every slice.
    TerrainMesh mesh = testmesh::Peak(16, 16, 2000, 600, false);
    const std::uint32_t count = std::uint32_t(mesh.Vertices.size());
    for (std::uint32_t& i : mesh.Indices)
        i = std::uint32_t(std::uint64_t(i) * 7919 % count);
    ASSERT_GT(mesh.polygonCount(), 100000u);
    std::vector<Vec3> sums(count);
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p)
        for (std::size_t k = 0; k < mesh.cornerCount(p); ++k)
            sums[mesh.corners(p)[k]] = sums[mesh.corners(p)[k]] + PolygonAreaVector(mesh, p);
    const std::vector<Vec3> normals = VertexNormals(mesh);
    const ViewGeometry view = BuildViewSurface(mesh);
    for (std::uint32_t i = 0; i < count; ++i) {
        const Vec3 n = sums[i] == Vec3{} ? Vec3{0, 0, 1} : Normalized(sums[i]);
        ASSERT_EQ(normals[i], n) << i;
        ASSERT_EQ(view.vertices[i].normal[2], float(n.z)) << i;
    }
}

TEST(HeightColour, RampIsContinuousFromGreenToSnow) {
    const Rgb8 low = HeightColour(0), high = HeightColour(1);
    EXPECT_GT(low.g, low.r);
    EXPECT_GT(low.g, low.b);
    EXPECT_GT(high.r + high.g + high.b, 3 * 230);
    EXPECT_EQ(HeightColour(-5), low);
    EXPECT_EQ(HeightColour(std::nan("")), low);
    EXPECT_EQ(HeightColour(7), high);
    Rgb8 previous = low;
    for (int i = 1; i <= 1000; ++i) {
        const Rgb8 c = HeightColour(i / 1000.0);
        EXPECT_LE(std::abs(c.r - previous.r), 2) << i;
        EXPECT_LE(std::abs(c.g - previous.g), 2) << i;
        EXPECT_LE(std::abs(c.b - previous.b), 2) << i;
        previous = c;
    }
}

TEST(ViewGeometry, QuadsBecomeTwoTrianglesTurningUpwards) {
    const TerrainMesh mesh = testmesh::Peak(2, 4, 2000, 500);
    const ViewGeometry g = BuildViewGeometry(mesh);
    EXPECT_EQ(g.polygonCount, 64u);
    ASSERT_EQ(g.triangles.size(), 64u * 2 * 3);
    for (std::size_t t = 0; t < g.triangles.size() / 3; ++t)
        EXPECT_GT(SignedAreaXY(g, t), 0) << t;
    // Two triangles of one quad cover exactly its four corners.
    const std::set<std::uint32_t> quad(mesh.Indices.begin(), mesh.Indices.begin() + 4);
    const std::set<std::uint32_t> fan(g.triangles.begin(), g.triangles.begin() + 6);
    EXPECT_EQ(quad, fan);
    EXPECT_EQ(g.bounds.min, (Vec3{-1000, -1000, 0}));
    EXPECT_EQ(g.bounds.max, (Vec3{1000, 1000, 500}));
}

TEST(ViewGeometry, VerticesCarryPositionUvAndHeightColour) {
    const TerrainMesh mesh = FromPolygons(
        {{-10, -10, 0, 0, 0}, {-10, 10, 0, 255, 0}, {10, 10, 8, 255, 255}, {10, -10, 2, 0, 255}},
        {{3, 2, 1, 0}});
    const ViewGeometry g = BuildViewGeometry(mesh);
    ASSERT_EQ(g.vertices.size(), 4u);
    EXPECT_EQ(g.vertices[2].position[2], 8.0f);
    EXPECT_EQ(g.vertices[1].uv[0], 1.0f);
    EXPECT_EQ(g.vertices[1].uv[1], 0.0f);
    EXPECT_EQ(g.vertices[3].uv[1], 1.0f);
    const Rgb8 low = HeightColour(0), high = HeightColour(1), quarter = HeightColour(0.25);
    EXPECT_EQ(g.vertices[0].colour[1], low.g);
    EXPECT_EQ(g.vertices[2].colour[0], high.r);
    EXPECT_EQ(g.vertices[3].colour[0], quarter.r);
    EXPECT_EQ(g.vertices[3].colour[3], 255);

    // Level ground is one colour, whatever its height.
    const ViewGeometry flat = BuildViewGeometry(testmesh::Flat(1, 2, 10, -40));
    for (const ViewVertex& v : flat.vertices)
        EXPECT_EQ(v.colour[0], HeightColour(0.5).r);
}

TEST(ViewGeometry, EdgesOnceAndCellOutlines) {
    // 2 x 2 cells of 2 x 2 leaves: a 4 x 4 grid with 2 * 4 * 5 edges, of which
    // the three lines each way through rows and columns 0, 2, 4 outline cells.
    for (const bool quads : {true, false}) {
        const TerrainMesh mesh = testmesh::Flat(2, 2, 400, 0, quads);
        const std::size_t perCell = mesh.polygonCount() / 4;
        const ViewGeometry g = BuildViewGeometry(mesh, perCell);
        const auto edges = EdgeSet(g.edges);
        EXPECT_EQ(edges.size(), g.edges.size() / 2) << "an edge listed twice";
        // Triangle mode adds the four half-diagonals of each of the 16 leaves.
        EXPECT_EQ(edges.size(), quads ? 40u : 40u + 64u);
        const auto outline = EdgeSet(g.cellOutlines);
        EXPECT_EQ(outline.size(), g.cellOutlines.size() / 2);
        EXPECT_EQ(outline.size(), 24u);
        for (const auto& [a, b] : outline) {
            const float* p = g.vertices[a].position;
            const float* q = g.vertices[b].position;
            const bool onRow = p[0] == q[0] && std::fmod(p[0] + 200, 200) == 0;
            const bool onColumn = p[1] == q[1] && std::fmod(p[1] + 200, 200) == 0;
            EXPECT_TRUE(onRow || onColumn) << p[0] << "," << p[1] << " - " << q[0] << "," << q[1];
        }
    }
    EXPECT_TRUE(BuildViewGeometry(testmesh::Flat(2, 2, 400, 0)).cellOutlines.empty());

    // In two steps, the surface first, the same lists come out.
    const TerrainMesh mesh = testmesh::Peak(2, 2, 400, 50, false);
    ViewGeometry twoSteps = BuildViewSurface(mesh);
    EXPECT_TRUE(twoSteps.edges.empty() && twoSteps.cellOutlines.empty());
    AddViewExtras(mesh, mesh.polygonCount() / 4, twoSteps);
    const ViewGeometry oneStep = BuildViewGeometry(mesh, mesh.polygonCount() / 4);
    EXPECT_EQ(twoSteps.triangles, oneStep.triangles);
    EXPECT_EQ(twoSteps.edges, oneStep.edges);
    EXPECT_EQ(twoSteps.cellOutlines, oneStep.cellOutlines);
}

TEST(ViewGeometry, ShortPolygonsDrawNothing) {
    const TerrainMesh mesh =
        FromPolygons({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{}, {0, 1}, {0, 1, 2}});
    const ViewGeometry g = BuildViewGeometry(mesh, 1);
    EXPECT_EQ(g.polygonCount, 3u);
    EXPECT_EQ(g.triangles, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(EdgeSet(g.edges).size(), 3u);
    EXPECT_TRUE(BuildViewGeometry(TerrainMesh{}).triangles.empty());
}

TEST(ViewGeometry, BrokenIndexListsAreRefused) {
    const TerrainMesh good = testmesh::Flat(1, 2, 10, 0);
    auto expectRefused = [](const TerrainMesh& mesh, const char* what) {
        EXPECT_THROW(BuildViewGeometry(mesh), Error) << what;
    };
    TerrainMesh m = good;
    m.Indices[5] = std::uint32_t(m.Vertices.size());
    expectRefused(m, "index past the vertices");
    m = good;
    m.Starts.back() += 1;
    expectRefused(m, "Starts past Indices");
    m = good;
    m.Starts.pop_back();
    expectRefused(m, "Starts short of Indices");
    m = good;
    std::swap(m.Starts[1], m.Starts[2]);
    expectRefused(m, "Starts falling");
    m = good;
    m.Starts.clear();
    expectRefused(m, "no Starts at all");
    m = good;
    m.Starts.front() = 1;
    expectRefused(m, "Starts not from 0");
}

TEST(PickGeometry, NearestSurfacePointAlongTheRay) {
    const ViewGeometry peak = BuildViewGeometry(testmesh::Peak(2, 8, 2000, 600));
    const auto top = PickGeometry(peak, {{0, 0, 5000}, {0, 0, -1}});
    ASSERT_TRUE(top);
    EXPECT_NEAR(top->z, 600, 1e-3);
    // From below, the underside of the peak is met first at the same point.
    const auto under = PickGeometry(peak, {{0, 0, -5000}, {0, 0, 1}});
    ASSERT_TRUE(under);
    EXPECT_NEAR(under->z, 600, 1e-3);

    const ViewGeometry flat = BuildViewGeometry(testmesh::Flat(2, 2, 100, 5));
    const Vec3 from{-300, 20, 400};
    const Vec3 dir = Normalized(Vec3{10, 3, 5} - from);
    const auto hit = PickGeometry(flat, {from, dir});
    ASSERT_TRUE(hit);
    EXPECT_NEAR(hit->x, 10, 1e-9);
    EXPECT_NEAR(hit->y, 3, 1e-9);
    EXPECT_NEAR(hit->z, 5, 1e-9);
    EXPECT_FALSE(PickGeometry(flat, {{0, 0, 100}, {0, 0, 1}})) << "pointing away";
    EXPECT_FALSE(PickGeometry(flat, {{80, 0, 100}, {0, 0, -1}})) << "beside the terrain";
    EXPECT_FALSE(PickGeometry(ViewGeometry{}, {{0, 0, 1}, {0, 0, -1}}));
}

TEST(ViewGeometry, DenseTerrainGetsACoarseStandInThatCoversIt) {
    const TerrainMesh mesh = testmesh::Peak(16, 32, 2000, 500); // 262144 quads
    const ViewGeometry g = BuildViewGeometry(mesh);
    const std::size_t coarse = g.coarseTriangles.size() / 3;
    ASSERT_GT(coarse, 0u);
    EXPECT_LE(coarse, 2u * kCoarseGrid * kCoarseGrid);
    EXPECT_GE(coarse, 2u * (kCoarseGrid - 1) * (kCoarseGrid - 1));
    // The grid of 512 quads a side thins to every other point: the same
    // square, every triangle still facing up, none twice.
    double area = 0;
    std::set<std::array<std::uint32_t, 3>> seen;
    for (std::size_t t = 0; t < coarse; ++t) {
        const std::uint32_t* c = &g.coarseTriangles[3 * t];
        ASSERT_LT(std::max({c[0], c[1], c[2]}), g.vertices.size());
        ViewGeometry one;
        one.vertices = {g.vertices[c[0]], g.vertices[c[1]], g.vertices[c[2]]};
        one.triangles = {0, 1, 2};
        const double a = SignedAreaXY(one, 0);
        EXPECT_GT(a, 0) << t;
        area += a;
        EXPECT_TRUE(seen.insert({c[0], c[1], c[2]}).second);
        for (int k = 0; k < 3; ++k) {
            const double step = 2000.0 / 512;
            const double row = (g.vertices[c[k]].position[0] + 1000) / step;
            const double column = (g.vertices[c[k]].position[1] + 1000) / step;
            EXPECT_EQ(std::fmod(std::round(row), 2), 0);
            EXPECT_EQ(std::fmod(std::round(column), 2), 0);
        }
    }
    EXPECT_NEAR(area, 2000.0 * 2000.0, 2000.0 * 2000.0 * 1e-6);

    EXPECT_TRUE(BuildViewGeometry(testmesh::Peak(4, 8, 2000, 500)).coarseTriangles.empty());
}

// Large surfaces are prepared in slices on two threads: every polygon's
// triangles must land in order, every slice's normal sums count, and bounds
// and colours span the whole mesh.
TEST(ViewGeometry, LargeSurfacesComeOutWhole) {
    // z = x over 16 x 16 cells of 12 x 12 leaves as triangles: 147456 polygons.
    const TerrainMesh tilted = testmesh::Grid(
        16, 12, 2000, [](double x, double) { return x; }, false);
    ASSERT_GE(tilted.polygonCount(), 100000u);
    const ViewGeometry g = BuildViewSurface(tilted);
    std::vector<std::uint32_t> fans;
    for (std::size_t p = 0; p < tilted.polygonCount(); ++p) {
        const std::uint32_t* c = tilted.corners(p);
        for (std::size_t k = 1; k + 1 < tilted.cornerCount(p); ++k)
            fans.insert(fans.end(), {c[0], c[k], c[k + 1]});
    }
    EXPECT_TRUE(g.triangles == fans);
    EXPECT_EQ(g.polygonCount, tilted.polygonCount());
    EXPECT_EQ(g.bounds.min, (Vec3{-1000, -1000, -1000}));
    EXPECT_EQ(g.bounds.max, (Vec3{1000, 1000, 1000}));
    ASSERT_EQ(g.vertices.size(), tilted.Vertices.size());
    std::size_t wrongNormals = 0, wrongColours = 0;
    for (const ViewVertex& v : g.vertices) {
        const float* n = v.normal;
        if (std::abs(n[0] + std::sqrt(0.5)) > 1e-6 || std::abs(n[1]) > 1e-6 ||
            std::abs(n[2] - std::sqrt(0.5)) > 1e-6)
            ++wrongNormals;
        const Rgb8 expected = HeightColour((v.position[2] + 1000.0) / 2000.0);
        if (v.colour[0] != expected.r || v.colour[1] != expected.g || v.colour[2] != expected.b)
            ++wrongColours;
    }
    EXPECT_EQ(wrongNormals, 0u);
    EXPECT_EQ(wrongColours, 0u);
}

// The extras of a terrain no longer wanted stop part way and leave nothing
// half made; the surface stays as it was.
TEST(ViewGeometry, ExtrasGiveWayWhenNoLongerWanted) {
    const TerrainMesh mesh = testmesh::Peak(16, 16, 2000, 500, false); // 262144 triangles
    const ViewGeometry whole = BuildViewGeometry(mesh, mesh.polygonCount() / 256);
    ASSERT_FALSE(whole.edges.empty() || whole.cellOutlines.empty() ||
                 whole.coarseTriangles.empty());

    int asked = 0;
    ViewGeometry g = BuildViewSurface(mesh);
    EXPECT_TRUE(AddViewExtras(mesh, mesh.polygonCount() / 256, g, [&asked] {
        ++asked;
        return true;
    }));
    EXPECT_TRUE(g.edges == whole.edges && g.cellOutlines == whole.cellOutlines &&
                g.coarseTriangles == whole.coarseTriangles);
    ASSERT_GT(asked, 3);

    for (const int stopAt : {1, asked / 2, asked - 1, asked}) {
        int calls = 0;
        ViewGeometry stopped = BuildViewSurface(mesh);
        EXPECT_FALSE(AddViewExtras(mesh, mesh.polygonCount() / 256, stopped,
                                   [&calls, stopAt] { return ++calls < stopAt; }))
            << stopAt;
        EXPECT_EQ(calls, stopAt);
        EXPECT_TRUE(stopped.edges.empty() && stopped.cellOutlines.empty() &&
                    stopped.coarseTriangles.empty())
            << stopAt;
        EXPECT_TRUE(stopped.triangles == whole.triangles);
    }
}

TEST(PreviewDepth, DeepestUnderTheBudget) {
    // 16 x 16 cells: depth 5 makes 262144 quads, exactly the budget.
    EXPECT_EQ(PreviewDepth(5, true, 16), 5);
    EXPECT_EQ(PreviewDepth(8, true, 16), 5);
    // Triangles are four per leaf: one level less.
    EXPECT_EQ(PreviewDepth(8, false, 16), 4);
    EXPECT_EQ(PreviewDepth(4, false, 16), 4);
    // 4 x 4 cells: 16 x 4^7 = 262144.
    EXPECT_EQ(PreviewDepth(20, true, 4), 7);
    EXPECT_EQ(PreviewDepth(2, true, 4), 2);
    EXPECT_EQ(PreviewDepth(0, true, 16), 0);
    EXPECT_EQ(PreviewDepth(-3, true, 16), 0);
    EXPECT_EQ(PreviewDepth(20, false, 16, 100), 0);
}
