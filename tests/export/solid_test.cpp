// Solids for printing: closed, facing outward, with the volume of the terrain
// standing on its base; checked on read-back files and by admesh.

#include "tests/export/exporttest.h"

#include <cstdio>
#include <regex>

#include "export/objwriter.h"
#include "export/plywriter.h"
#include "terrain/solid.h"
#include "export/stlwriter.h"
#include "base/error.h"
#include "tests/support/tempfolder.h"

namespace {

using namespace exporttest;
using talorin::MakeSolid;

std::string Stl(const TerrainMesh& m) {
    return Collect([&](const auto& sink) { talorin::WriteStl(m, sink); });
}

// Keeps only the listed cells (row-major) of an n x n grid of unit squares.
TerrainMesh Cells(int n, const std::vector<int>& keep, double height) {
    TerrainMesh grid = Grid(n, n, [&](double, double) { return height; });
    TerrainMesh m = grid;
    m.Indices.clear();
    m.Starts = {0};
    for (const int c : keep) {
        const std::uint32_t* corners = grid.corners(std::size_t(c));
        m.Indices.insert(m.Indices.end(), corners, corners + 4);
        m.Starts.push_back(std::uint32_t(m.Indices.size()));
    }
    return m;
}

TEST(Solid, PyramidOnItsBaseHasTheWorkedVolume) {
    // Base 2 x 2 x 2 (8) plus a pyramid of height 3 on a 2 x 2 square (4).
    const TerrainMesh solid = MakeSolid(Pyramid(3), 2);
    EXPECT_NEAR(ClosedVolume(ReadStl(Stl(solid))), 12, 1e-12);
    // The top is unchanged and first: the writers see the same terrain.
    const TerrainMesh top = Pyramid(3);
    EXPECT_TRUE(std::equal(top.Indices.begin(), top.Indices.end(), solid.Indices.begin()));
}

TEST(Solid, SlopedGridIsClosedInEveryFormat) {
    const TerrainMesh top =
        Grid(5, 600, [](double x, double y) { return 300 + 0.25 * x + 0.5 * y; });
    const TerrainMesh solid = MakeSolid(top, 50);
    // (mean height 300 + base 50) x 600 x 600
    const double volume = 126e6;
    EXPECT_NEAR(ClosedVolume(ReadStl(Stl(solid))), volume, volume * 1e-6);
    const ReadMesh ply =
        ReadPly(Collect([&](const auto& s) { talorin::WritePly(solid, s); }), true);
    EXPECT_NEAR(ClosedVolume(ply), volume, volume * 1e-6);
    const ReadMesh obj = ReadObj(Collect([&](const auto& s) { talorin::WriteObj(solid, "", s); }));
    EXPECT_NEAR(ClosedVolume(obj), volume, volume * 1e-9);
    // Walls are quads; the bottom's fan needs one centre point.
    EXPECT_EQ(obj.positions.size(), 36u + 20u + 1u);
    // Interior points of the top keep normals pointing up.
    EXPECT_GT(obj.normals[7][1], 0.8);
}

TEST(Solid, BordersThatDoNotSurroundOnePointGetAMirroredBottom) {
    // A ring around a hole, and a U whose notch holds the centre of its border.
    // Both have 16 border edges (the U two cells deep): top, walls, top turned over.
    const std::vector<std::pair<std::vector<int>, std::size_t>> shapes = {
        {{0, 1, 2, 3, 5, 6, 7, 8}, 8 + 16 + 8}, {{0, 2, 3, 5, 6, 7, 8}, 7 + 16 + 7}};
    for (const auto& [keep, polygons] : shapes) {
        const TerrainMesh top = Cells(3, keep, 2);
        const TerrainMesh solid = MakeSolid(top, 1);
        EXPECT_EQ(solid.polygonCount(), polygons);
        EXPECT_NEAR(ClosedVolume(ReadStl(Stl(solid))), keep.size() * 3.0, 1e-9);
        EXPECT_NEAR(
            ClosedVolume(ReadObj(Collect([&](const auto& s) { talorin::WriteObj(solid, "", s); }))),
            keep.size() * 3.0, 1e-9);
    }
}

TEST(Solid, RefusesABaseThatIsNotBelowTheTerrain) {
    const TerrainMesh top = Pyramid(3);
    for (const double base : {0.0, -1.0, std::nan(""), double(INFINITY)})
        EXPECT_THROW(MakeSolid(top, base), talorin::Error) << base;
    TerrainMesh low = top;
    low.Vertices[1].Z = -2;
    EXPECT_THROW(MakeSolid(low, 2), talorin::Error);
    EXPECT_NO_THROW(MakeSolid(low, 2.5));
}

// admesh's report on a file, or "" when the tool could not be run.
std::string Admesh(const std::string& file) {
    std::string out;
    if (FILE* pipe = ::popen(("admesh '" + file + "' 2>&1").c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        if (::pclose(pipe) != 0)
            return "";
    }
    return out;
}

int Stat(const std::string& report, const std::string& name) {
    const std::regex line(name + R"(\s*:\s*(\d+))");
    std::smatch m;
    if (!std::regex_search(report, m, line))
        return -1;
    return std::stoi(m[1]);
}

TEST(Solid, AdmeshFindsNothingToRepair) {
    const TerrainMesh top =
        Grid(16, 2000, [](double x, double y) { return 500 * std::exp(-(x * x + y * y) / 4e5); });
    const testsupport::TempFolder folder("talorin-solid");
    const std::string file = folder.path("solid.stl").string();
    WriteFile(file, Stl(MakeSolid(top, 100)));
    const std::string report = Admesh(file);
    ASSERT_FALSE(report.empty()) << "admesh must be installed (Debian package admesh)";
    EXPECT_EQ(Stat(report, "Number of parts"), 1) << report;
    for (const char* zero :
         {"Total disconnected facets", "Degenerate facets", "Edges fixed", "Facets removed",
          "Facets added", "Facets reversed", "Backwards edges", "Normals fixed"})
        EXPECT_EQ(Stat(report, zero), 0) << zero << "\n" << report;
    std::smatch volume;
    ASSERT_TRUE(std::regex_search(report, volume, std::regex(R"(Volume\s*:\s*([0-9.]+))")));
    EXPECT_GT(std::stod(volume[1]), 2000.0 * 2000 * 100);
}

} // namespace
