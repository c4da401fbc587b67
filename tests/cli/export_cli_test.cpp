// End-to-end tests of talorin-cli's other formats: the format a command line
// selects, the same polygons as the .suf of the same settings, solids, and
// the usage errors and failures that must leave files alone.

#include "tests/export/exporttest.h"

#include <map>

#include "tests/support/bmp24.h"
#include "tests/support/clirun.h"
#include "tests/support/tempfolder.h"

namespace {

using namespace exporttest;
using testsupport::RunResult;

// A .suf polygon as its (x, y, z) corners, in file order.
using SufPolygon = std::vector<P3>;

// The polygons of a .suf text (any kind), strictly in file order.
std::vector<SufPolygon> ParseSuf(const std::string& text) {
    std::vector<SufPolygon> polygons;
    std::istringstream in(text);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with("prim ")) {
            polygons.emplace_back();
            inside = true;
        } else if (line == ")") {
            inside = false;
        } else if (inside) {
            std::istringstream values(line);
            P3 p{};
            values >> p[0] >> p[1] >> p[2];
            EXPECT_FALSE(values.fail()) << line;
            polygons.back().push_back(p);
        }
    }
    return polygons;
}

class ExportCli : public ::testing::Test, public testsupport::TempFolder {
  protected:
    ExportCli() : TempFolder("talorin-export-cli") {}
    void SetUp() override {
        // A slope from dark at the top left to bright at the bottom right, with
        // a bright spot: no symmetry that a mirrored export could hide behind.
        WriteFile(path("hill.bmp"), testsupport::Bmp24Bytes(40, 30, [](int x, int y) {
                      const bool spot = (x - 30) * (x - 30) + (y - 8) * (y - 8) < 20;
                      const auto v = std::uint8_t(x + y + (spot ? 150 : 0));
                      return talorin::Rgb{v, v, v};
                  }));
    }

    RunResult run(const std::vector<std::string>& args) const {
        return testsupport::RunCli(TALORIN_CLI_PATH, m_dir, args);
    }
};

// Density 4, depth 2: (4 x 2^2 + 1)^2 distinct points, 256 quads.
const std::vector<std::string> kSettings = {"--density", "4", "--depth", "2", "--size", "1000"};

std::vector<std::string> With(std::vector<std::string> args) {
    args.insert(args.end(), kSettings.begin(), kSettings.end());
    return args;
}

TEST_F(ExportCli, EveryFormatHoldsTheSufPolygonsOnTheWeldedPoints) {
    const RunResult suf = run(With({"generate", "hill.bmp", "-o", "-"}));
    ASSERT_EQ(suf.status, 0) << suf.err;
    const std::vector<SufPolygon> polygons = ParseSuf(suf.out);
    ASSERT_EQ(polygons.size(), 256u);
    for (const char* name : {"t.obj", "t.PLY", "t.Stl", "t.glb"})
        ASSERT_EQ(run(With({"generate", "hill.bmp", "-o", name})).status, 0) << name;

    // .suf writes 15 significant digits; the others write doubles or floats.
    const auto same = [](const P3& a, const P3& b, double tolerance) {
        for (int k = 0; k < 3; ++k)
            if (std::fabs(a[k] - b[k]) > tolerance)
                return false;
        return true;
    };
    const ReadMesh obj = ReadObj(ReadFile(path("t.obj")));
    const ReadMesh ply = ReadPly(ReadFile(path("t.PLY")), true);
    const ReadMesh stl = ReadStl(ReadFile(path("t.Stl")));
    EXPECT_EQ(obj.positions.size(), 17u * 17u);
    EXPECT_EQ(ply.positions.size(), 17u * 17u);
    EXPECT_EQ(stl.positions.size(), 17u * 17u);
    ASSERT_EQ(obj.faces.size(), 256u);
    ASSERT_EQ(ply.faces.size(), 256u);
    ASSERT_EQ(stl.faces.size(), 512u);
    for (std::size_t p = 0; p < polygons.size(); ++p) {
        const SufPolygon& s = polygons[p];
        ASSERT_EQ(obj.faces[p].size(), 4u);
        for (std::size_t c = 0; c < 4; ++c) {
            const P3& x = s[c];
            EXPECT_TRUE(same(obj.positions[obj.faces[p][c]], {x[1], x[2], x[0]}, 1e-9)) << p;
            EXPECT_TRUE(same(ply.positions[ply.faces[p][c]], {x[1], -x[0], x[2]}, 1e-3)) << p;
        }
        // Each quad as two triangles, corners 0 1 2 and 0 2 3.
        const std::size_t split[2][3] = {{0, 1, 2}, {0, 2, 3}};
        for (int t = 0; t < 2; ++t)
            for (int c = 0; c < 3; ++c) {
                const P3& x = s[split[t][c]];
                EXPECT_TRUE(
                    same(stl.positions[stl.faces[2 * p + t][c]], {x[1], -x[0], x[2]}, 1e-3));
            }
    }
    // Seen from above (Z up, x to the right, y upwards), the bright spot near
    // the image's top right corner is the highest point and lies at the top
    // right: a mirrored or turned export would put it elsewhere.
    const auto highest = std::max_element(ply.positions.begin(), ply.positions.end(),
                                          [](const P3& a, const P3& b) { return a[2] < b[2]; });
    EXPECT_GT((*highest)[0], 100);
    EXPECT_GT((*highest)[1], 100);
    for (const P3& n : ply.normals)
        EXPECT_GT(n[2], 0);
}

TEST_F(ExportCli, FormatOptionOverridesTheExtensionAndServesStandardOutput) {
    const RunResult stl = run(With({"generate", "hill.bmp", "-o", "-", "--format", "stl"}));
    ASSERT_EQ(stl.status, 0) << stl.err;
    EXPECT_EQ(ReadStl(stl.out).faces.size(), 512u);
    ASSERT_EQ(run(With({"generate", "hill.bmp", "-o", "mesh.suf", "--format=ply"})).status, 0);
    EXPECT_TRUE(ReadFile(path("mesh.suf")).starts_with("ply\n"));
    // Without -o the file goes beside the image with the format's extension.
    ASSERT_EQ(run(With({"generate", "hill.bmp", "--format", "glb"})).status, 0);
    EXPECT_TRUE(ReadFile(path("hill.glb")).starts_with("glTF"));
    ASSERT_EQ(run(With({"generate", "hill.bmp", "--format", "obj"})).status, 0);
    EXPECT_EQ(listing(), (std::vector<std::string>{"hill.bmp", "hill.glb", "hill.mtl", "hill.obj",
                                                   "mesh.suf"}));
    EXPECT_NE(ReadFile(path("hill.mtl")).find("\nmap_Kd hill.bmp\n"), std::string::npos);
}

TEST_F(ExportCli, UsageErrorsWriteNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {"generate", "hill.bmp", "-o", "hill.txt"},
        {"generate", "hill.bmp", "-o", "hill"},
        {"generate", "hill.bmp", "--format", "gltf", "-o", "x.glb"},
        {"generate", "hill.bmp", "--solid", "10"},
        {"generate", "hill.bmp", "--solid", "10", "-o", "x.suf"},
        {"generate", "hill.bmp", "--solid", "0", "-o", "x.stl"},
        {"generate", "hill.bmp", "--solid", "1e999", "-o", "x.stl"},
        {"generate", "hill.bmp", "--solid", "5mm", "-o", "x.stl"},
    };
    for (const auto& args : bad) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 2) << args[2] << " " << args[3] << "\n" << r.err;
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"hill.bmp"}));
}

TEST_F(ExportCli, SolidEnclosesTheTerrainStandingOnItsBase) {
    const RunResult suf = run(With({"generate", "hill.bmp", "-o", "-"}));
    ASSERT_EQ(suf.status, 0);
    // Volume from the .suf polygons: (mean height + base) x area, per triangle.
    const double base = 40;
    double expected = 0;
    for (const SufPolygon& s : ParseSuf(suf.out))
        for (std::size_t i = 1; i + 1 < s.size(); ++i) {
            const P3 &a = s[0], &b = s[i], &c = s[i + 1];
            const double area = ((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])) / 2;
            expected += area * ((a[2] + b[2] + c[2]) / 3 + base);
        }
    for (const char* name : {"s.stl", "s.obj", "s.ply"}) {
        const RunResult r = run(With({"generate", "hill.bmp", "-o", name, "--solid", "40"}));
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string bytes = ReadFile(path(name));
        const ReadMesh m = name[2] == 's'   ? ReadStl(bytes)
                           : name[2] == 'o' ? ReadObj(bytes)
                                            : ReadPly(bytes, true);
        EXPECT_NEAR(ClosedVolume(m), expected, expected * 1e-6) << name;
    }
}

TEST_F(ExportCli, AFailedExportLeavesTheOldFile) {
    WriteFile(path("old.stl"), "old contents");
    // A terrain below its base (negative heights) cannot be closed.
    const RunResult r =
        run(With({"generate", "hill.bmp", "-o", "old.stl", "--height", "-500", "--solid", "10"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("台座"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(path("old.stl")), "old contents");
    // A folder that does not exist.
    const RunResult missing = run(With({"generate", "hill.bmp", "-o", "no/such.glb"}));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no/such.glb"), std::string::npos) << missing.err;
    EXPECT_EQ(listing(), (std::vector<std::string>{"hill.bmp", "old.stl"}));
}

TEST_F(ExportCli, AnObjThatCannotBeSavedLeavesNoMaterialFile) {
    std::filesystem::create_directory(path("dir"));
    WriteFile(path("dir.mtl"), "old dir.mtl");
    for (const char* out : {"dir", "dir/", ".", "/dev/full"})
        EXPECT_EQ(run(With({"generate", "hill.bmp", "-o", out, "--format", "obj"})).status, 1);
    // NAME.mtl would be the OBJ's own material file.
    EXPECT_EQ(run(With({"generate", "hill.bmp", "-o", "dir.mtl", "--format", "obj"})).status, 2);
    EXPECT_EQ(ReadFile(path("dir.mtl")), "old dir.mtl");
    EXPECT_EQ(listing(), (std::vector<std::string>{"dir", "dir.mtl", "hill.bmp"}));
    EXPECT_TRUE(std::filesystem::is_empty(path("dir")));
    // Through a link and "..", the material file goes beside the OBJ written.
    std::filesystem::create_directories(path("a/b"));
    std::filesystem::create_directory_symlink("a/b", path("link"));
    ASSERT_EQ(run(With({"generate", "hill.bmp", "-o", "link/../x.obj"})).status, 0);
    EXPECT_TRUE(std::filesystem::exists(path("a/x.mtl")));
}

TEST_F(ExportCli, PointsBeyondFloatRangeAreRefusedInStlAndPly) {
    for (const char* format : {"stl", "ply"})
        for (const std::vector<std::string>& extra :
             {std::vector<std::string>{"--height", "1e39"}, {"--size", "1e39"},
              {"--solid", "1e39"}, {"--solid", "1e308"}}) {
            std::vector<std::string> args = With({"generate", "hill.bmp", "--format", format});
            args.insert(args.end(), extra.begin(), extra.end());
            const RunResult r = run(args);
            EXPECT_EQ(r.status, 1) << format << " " << extra[0];
            EXPECT_NE(r.err.find(std::string(format == std::string("stl") ? "STL" : "PLY") +
                                 " 形式では書けません"),
                      std::string::npos)
                << r.err;
        }
    EXPECT_EQ(listing(), std::vector<std::string>{"hill.bmp"});
}

TEST_F(ExportCli, ResaveRefusesAnotherFormatsExtension) {
    ASSERT_EQ(run(With({"generate", "hill.bmp", "-o", "t.suf"})).status, 0);
    WriteFile(path("t.obj"), "an exported OBJ");
    for (const char* out : {"t.obj", "n.STL", "n.tiff", "n.talorin", "n.mtl"}) {
        const RunResult r = run({"resave", "t.suf", out});
        EXPECT_EQ(r.status, 2) << out;
        EXPECT_NE(r.err.find("another format"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFile(path("t.obj")), "an exported OBJ");
    EXPECT_EQ(listing(), (std::vector<std::string>{"hill.bmp", "t.obj", "t.suf"}));
}

} // namespace
