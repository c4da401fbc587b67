// End-to-end tests of talorin-cli: each test writes its own small images and
// shape files into a fresh folder, runs the binary and checks its exit status,
// its output streams and the files it leaves behind.

#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <csignal>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image/bitmap.h"
#include "terrain/lattice.h"
#include "terrain/terrain.h"
#include "shape/shape.h"
#include "shape/suf.h"
#include "tests/support/bmp24.h"
#include "tests/support/clirun.h"
#include "tests/support/pngfile.h"
#include "tests/support/tempfolder.h"
#include "tests/support/tiffbytes.h"

namespace {

namespace fs = std::filesystem;
using talorin::Rgb;
using testsupport::ReadFile;
using testsupport::RunResult;
using testsupport::WriteFile;

const Rgb kWhite{255, 255, 255};

void WriteBmp(const fs::path& path, int width, int height,
              const std::function<Rgb(int x, int y)>& pixel) {
    WriteFile(path, testsupport::Bmp24Bytes(width, height, pixel));
}

void WriteWhiteBmp(const fs::path& path, int width, int height) {
    WriteBmp(path, width, height, [](int, int) { return kWhite; });
}

// A value as the shape file writes it, for values with a short exact decimal form.
std::string Num(double v) {
    char buf[64];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

class Cli : public testing::Test, public testsupport::TempFolder {
  protected:
    Cli() : TempFolder("talorin-cli-test") {}

    // Runs the tool with these arguments in the test's folder.
    RunResult run(const std::vector<std::string>& args) const {
        return testsupport::RunCli(TALORIN_CLI_PATH, m_dir, args);
    }
};

// --- generate: the file's exact text ----------------------------------------

// The expected file of a 5 x 5 white image at density 4, depth 0, quads, size
// 2000, height 500: lattice steps of one pixel, 500 output units per pixel, UV
// 63.75 per pixel. Cells are emitted row by row and listed last first; each
// quad lists its corners D, C, B, A; image rows run along x, columns along y.
std::string WhiteDepthZeroFile(const std::string& object, const std::string& prim, bool withUV) {
    std::string text = "obj suf " + object + " {\r\natr BodyM\r\n";
    for (int j = 3; j >= 0; --j) {
        for (int i = 3; i >= 0; --i) {
            text += "prim " + prim + " (\r\n";
            const int corners[4][2] = {{i, j + 1}, {i + 1, j + 1}, {i + 1, j}, {i, j}};
            for (const auto& [col, row] : corners) {
                text += "    " + Num(row * 500.0 - 1000) + " " + Num(col * 500.0 - 1000) + " 500";
                if (withUV)
                    text += "  " + Num(col * 63.75) + " " + Num(row * 63.75);
                text += "\r\n";
            }
            text += ")\r\n";
        }
    }
    return text + "}\r\n";
}

TEST_F(Cli, GenerateWritesTheExactFileAndPrintsNothing) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult r = run({"generate", "img.bmp", "--depth", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFile(path("img.suf")), WhiteDepthZeroFile("img", "uvpoly", true));
}

TEST_F(Cli, GenerateWithoutUvWritesPolyVertices) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult r = run({"generate", "img.bmp", "--depth", "0", "--no-uv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(path("img.suf")), WhiteDepthZeroFile("img", "poly", false));
}

TEST_F(Cli, GenerateDepthOneMatchesTheWorkedExample) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult r = run({"generate", "img.bmp", "--depth", "1", "-o", "out.suf"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = ReadFile(path("out.suf"));
    EXPECT_TRUE(text.starts_with("obj suf img {\r\natr BodyM\r\nprim uvpoly (\r\n"
                                 "    1000 500 500  191.25 255\r\n"
                                 "    1000 750 500  223.125 255\r\n"
                                 "    750 750 500  223.125 223.125\r\n"
                                 "    750 500 500  191.25 223.125\r\n)\r\n"))
        << text.substr(0, 300);
    EXPECT_TRUE(text.ends_with("prim uvpoly (\r\n"
                               "    -750 -1000 500  0 31.875\r\n"
                               "    -750 -750 500  31.875 31.875\r\n"
                               "    -1000 -750 500  31.875 0\r\n"
                               "    -1000 -1000 500  0 0\r\n)\r\n}\r\n"));
    EXPECT_EQ(Count(text, "prim uvpoly ("), 64u);
    EXPECT_EQ(Count(text, "atr "), 1u);
}

TEST_F(Cli, GenerateTrianglesListTheLastTriangleOfTheLastLeafFirst) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult r = run({"generate", "img.bmp", "--depth", "0", "--triangles"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = ReadFile(path("img.suf"));
    // (centre, A, D) of cell (3, 3): centre (3.5, 3.5), A (3, 3), D (3, 4).
    EXPECT_TRUE(text.starts_with("obj suf img {\r\natr BodyM\r\nprim uvpoly (\r\n"
                                 "    750 750 500  223.125 223.125\r\n"
                                 "    500 500 500  191.25 191.25\r\n"
                                 "    1000 500 500  191.25 255\r\n)\r\n"))
        << text.substr(0, 300);
    EXPECT_EQ(Count(text, "prim uvpoly ("), 64u);
    EXPECT_EQ(Count(text, "\r\n    "), 64u * 3);
}

TEST_F(Cli, GenerateWithNormalsWritesZeroNormals) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult r = run({"generate", "img.bmp", "--depth", "0", "--normals", "-o", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("obj suf img {\r\natr BodyM\r\nprim uvshade (\r\n"
                                  "    1000 500 500  0 0 0  191.25 255\r\n"))
        << r.out.substr(0, 200);
}

TEST_F(Cli, GenerateToStdoutWritesTheSameBytesAndNoFile) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult toFile = run({"generate", "img.bmp", "-o", "file.suf"});
    ASSERT_EQ(toFile.status, 0) << toFile.err;
    const RunResult toStdout = run({"generate", "img.bmp", "-o", "-"});
    ASSERT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, ReadFile(path("file.suf")));
    EXPECT_EQ(Count(toStdout.out, "prim uvpoly ("), 256u); // depth 2, density 4
    EXPECT_EQ(listing(), (std::vector<std::string>{"file.suf", "img.bmp"}));
}

TEST_F(Cli, GenerateDefaultsToTheImageBaseNameInItsFolder) {
    fs::create_directory(path("maps"));
    WriteWhiteBmp(path("maps") / "peak.v2.bmp", 5, 5);
    const RunResult r = run({"generate", (path("maps") / "peak.v2.bmp").string(), "--depth", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(path("maps") / "peak.suf").starts_with("obj suf peak {\r\n"));
    EXPECT_FALSE(fs::exists(path("peak.suf")));
}

TEST_F(Cli, GenerateOfAnImageWithoutFolderWritesIntoTheWorkingFolder) {
    WriteWhiteBmp(path("flat.bmp"), 5, 5);
    const RunResult r = run({"generate", "flat.bmp", "--depth", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(path("flat.suf")));
}

TEST_F(Cli, GenerateReplacesAnExistingOutputOnSuccess) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    WriteFile(path("img.suf"), "old");
    const RunResult r = run({"generate", "img.bmp", "--depth", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(path("img.suf")), WhiteDepthZeroFile("img", "uvpoly", true));
    EXPECT_EQ(listing(), (std::vector<std::string>{"img.bmp", "img.suf"}));
}

TEST_F(Cli, GenerateWritesNamesAsShiftJis) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    // 富士 and 岩 in CP932.
    const RunResult r = run({"generate", "img.bmp", "--depth", "0", "--object", "富士",
                             "--attribute", "岩", "-o", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("obj suf \x95\x78\x8e\x6d {\r\natr \x8a\xe2\r\n"))
        << r.out.substr(0, 40);
}

TEST_F(Cli, GenerateAcceptsTheSizeTextsTheWindowAccepts) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult plain = run({"generate", "img.bmp", "--size", "1500", "-o", "-"});
    const RunResult spaced = run({"generate", "img.bmp", "--size", " 1.5e3 ", "-o", "-"});
    const RunResult height = run({"generate", "img.bmp", "--height=+2.5E2", "-o", "-"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(spaced.status, 0) << spaced.err;
    ASSERT_EQ(height.status, 0) << height.err;
    EXPECT_EQ(plain.out, spaced.out);
    EXPECT_TRUE(plain.out.find("    750 375 500  191.25 255\r\n") != std::string::npos);
    EXPECT_TRUE(height.out.find("    1000 500 250  191.25 255\r\n") != std::string::npos);
}

// The image's kind comes from its content: the same pixels as PNG (under a .bmp
// name) or PGM give the BMP's output byte for byte, and default names stay the
// base name up to the first dot.
TEST_F(Cli, GenerateReadsPngAndPgmByTheirContent) {
    auto grey = [](int x, int y) {
        const auto g = std::uint8_t(40 * x + 25 * y);
        return Rgb{g, g, g};
    };
    WriteBmp(path("grey.bmp"), 6, 5, grey);
    testsupport::PngWriter png;
    png.width = 6;
    png.height = 5;
    std::string pgm = "P5 6 5 255\n";
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
            png.samples.push_back(grey(x, y).r);
            pgm += char(grey(x, y).r);
        }
    }
    WriteFile(path("png-inside.bmp"), png.build());
    WriteFile(path("grey.pgm"), pgm);

    auto generate = [&](const std::string& image) {
        return run({"generate", image, "-o", "-", "--depth", "2", "--object", "o"});
    };
    const RunResult bmp = generate("grey.bmp");
    ASSERT_EQ(bmp.status, 0) << bmp.err;
    for (const char* image : {"png-inside.bmp", "grey.pgm"}) {
        const RunResult other = generate(image);
        ASSERT_EQ(other.status, 0) << other.err;
        EXPECT_EQ(other.out, bmp.out) << image;
    }

    fs::create_directory(path("maps"));
    WriteFile(path("maps") / "peak.v2.png", png.build());
    const RunResult named = run({"generate", "maps/peak.v2.png", "--depth", "0"});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(fs::exists(path("maps") / "peak.suf"));
    EXPECT_NE(ReadFile(path("maps") / "peak.suf").find("peak"), std::string::npos);
}

TEST_F(Cli, BrokenImageIsReportedWithItsNameAndNothingIsWritten) {
    WriteFile(path("bad.png"), "\x89PNG\r\n\x1a\n"); // the signature alone
    WriteFile(path("bad.pgm"), "P5 4 4 0\n");
    for (const std::string image : {"bad.png", "bad.pgm"}) {
        const RunResult r = run({"generate", image});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(image + " を読み込めません: "), std::string::npos) << r.err;
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"bad.pgm", "bad.png"}));
}

// Every setting reaches the generator: the tool's output equals the library
// run with the same record, on a non-square grey image where profile, level,
// size, height, the presses' scale factors and their order all show.
TEST_F(Cli, GenerateMatchesTheLibraryForEverySetting) {
    auto grey = [](int x, int y) {
        const auto g = std::uint8_t(20 + 30 * x + 11 * y);
        return Rgb{g, std::uint8_t(g / 2), 200};
    };
    WriteBmp(path("grey.bmp"), 7, 5, grey);
    const RunResult r =
        run({"generate",    "grey.bmp",  "-o",      "-",           "--size",    "1234.5",
             "--height",    "321",       "--depth", "1",           "--density", "5",
             "--triangles", "--profile", "hill",    "--level",     "23",        "--no-uv",
             "--normals",   "--object",  "o",       "--attribute", "a",         "--pull",
             "100,80",      "--push",    "30,200",  "--pull",      "150,150"});
    ASSERT_EQ(r.status, 0) << r.err;

    talorin::Bitmap image(7, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            image.setPixel(x, y, grey(x, y));
    talorin::Talorin_Args args;
    args.Size = 1234.5;
    args.MaxHeight = 321;
    args.QuadMode = false;
    args.ShapeMode = 2;
    args.CurveLevel = 2.3;
    args.Bitmap = std::make_shared<const talorin::Bitmap>(image);
    args.Depth = 1;
    args.ObjName = "o";
    args.AtrName = "a";
    args.PaMax = 5;
    args.WithUV = false;
    args.WithShade = true;
    args.Lattice = talorin::InitMeshLattice(image, 5);
    const double sx = 233.0 / 7, sy = 233.0 / 5;
    talorin::AdjustMeshDensity(args.Lattice, 5, 100, 80, talorin::kLeftButton, sx, sy);
    talorin::AdjustMeshDensity(args.Lattice, 5, 30, 200, talorin::kRightButton, sx, sy);
    talorin::AdjustMeshDensity(args.Lattice, 5, 150, 150, talorin::kLeftButton, sx, sy);
    // The shape model's writer over the same terrain.
    vesk::TVESK_Object* shape = talorin::MeshToShape(talorin::GenerateTerrainMesh(args));
    ASSERT_NE(shape, nullptr);
    const std::string expected = vesk::SufText(shape);
    vesk::FreeSuf(shape);
    EXPECT_EQ(r.out, expected);
}

TEST_F(Cli, PressesMoveTheLatticeInCommandLineOrder) {
    WriteBmp(path("grey.bmp"), 9, 9, [](int x, int y) {
        const auto g = std::uint8_t(x * 25 + y * 3);
        return Rgb{g, g, g};
    });
    auto gen = [&](std::vector<std::string> presses) {
        std::vector<std::string> args{"generate", "grey.bmp", "-o", "-", "--depth", "0"};
        args.insert(args.end(), presses.begin(), presses.end());
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    };
    const std::string none = gen({});
    const std::string pull = gen({"--pull", "120,100"});
    const std::string push = gen({"--push", "120,100"});
    const std::string pullThenPush = gen({"--pull", "120,100", "--push", "60,60"});
    const std::string pushThenPull = gen({"--push", "60,60", "--pull", "120,100"});
    EXPECT_NE(pull, none);
    EXPECT_NE(push, none);
    EXPECT_NE(pull, push);
    EXPECT_NE(pullThenPush, pushThenPull);
    // Border points never move: the top left cell, listed last, keeps its corner A.
    EXPECT_TRUE(pull.ends_with("    -1000 -1000 0  0 0\r\n)\r\n}\r\n"));
}

TEST_F(Cli, SampleImageGenerates) {
    const fs::path sample =
        fs::path(TALORIN_TEST_DATA_DIR).parent_path().parent_path() / "samples" / "mountain.bmp";
    const RunResult r = run({"generate", sample.string(), "-o", "mountain.suf"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = ReadFile(path("mountain.suf"));
    EXPECT_TRUE(text.starts_with("obj suf mountain {\r\n"));
    EXPECT_EQ(Count(text, "prim uvpoly ("), 256u);
}

// --- generate: failures -----------------------------------------------------

TEST_F(Cli, SizeThatIsNotANumberFailsWithTheConversionMessage) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult r = run({"generate", "img.bmp", "--size", "abc"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "'abc' は浮動小数点数ではありません\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(listing(), std::vector<std::string>{"img.bmp"});
}

TEST_F(Cli, SizeIsConvertedBeforeHeight) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult both = run({"generate", "img.bmp", "--size", "1,000", "--height", "x"});
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.err, "'1,000' は浮動小数点数ではありません\n");
    const RunResult empty = run({"generate", "img.bmp", "--height", ""});
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, "'' は浮動小数点数ではありません\n");
}

TEST_F(Cli, OnePixelWideImageFailsWithDivisionByZero) {
    WriteWhiteBmp(path("thin.bmp"), 1, 5);
    const RunResult r = run({"generate", "thin.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "0 による浮動小数点数除算\n");
    EXPECT_EQ(listing(), std::vector<std::string>{"thin.bmp"});
}

TEST_F(Cli, ZeroSizeFailsWithInvalidOperation) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult r = run({"generate", "img.bmp", "--size", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "不正な浮動小数点数演算命令\n");
}

TEST_F(Cli, RunTooLargeForMemoryFailsWithoutOutput) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult r = run({"generate", "img.bmp", "--depth", "20", "--density", "16"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "メモリーが枯渇しました。\n");
    EXPECT_EQ(listing(), std::vector<std::string>{"img.bmp"});
}

TEST_F(Cli, NameThatShiftJisCannotHoldIsRefused) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult object = run({"generate", "img.bmp", "--object", "peak\xF0\x9F\x98\x80"});
    EXPECT_EQ(object.status, 1);
    EXPECT_TRUE(object.err.starts_with("--object: ")) << object.err;
    EXPECT_EQ(Count(object.err, "\n"), 1u);
    const RunResult attribute = run({"generate", "img.bmp", "--attribute", "\xED\x95\x9C"});
    EXPECT_EQ(attribute.status, 1);
    EXPECT_TRUE(attribute.err.starts_with("--attribute: ")) << attribute.err;
    EXPECT_EQ(listing(), std::vector<std::string>{"img.bmp"});

    // The default object name comes from the image's name, with "_" for each
    // character a .suf file cannot hold; --object overrides it.
    WriteWhiteBmp(path("\xF0\x9F\x98\x80.bmp"), 5, 5);
    const RunResult fromImage = run({"generate", "\xF0\x9F\x98\x80.bmp"});
    EXPECT_EQ(fromImage.status, 0) << fromImage.err;
    EXPECT_TRUE(ReadFile(path("\xF0\x9F\x98\x80.suf")).starts_with("obj suf _ {"));
    const RunResult named = run({"generate", "\xF0\x9F\x98\x80.bmp", "--object", "smile"});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(ReadFile(path("\xF0\x9F\x98\x80.suf")).starts_with("obj suf smile {"));
}

TEST_F(Cli, FailedRunLeavesAnExistingOutputUntouched) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    WriteWhiteBmp(path("thin.bmp"), 5, 1);
    const std::string old = "obj suf keep {\r\n}\r\n";
    WriteFile(path("out.suf"), old);
    const std::vector<std::vector<std::string>> failing = {
        {"generate", "img.bmp", "-o", "out.suf", "--size", "abc"},
        {"generate", "img.bmp", "-o", "out.suf", "--object", "\xF0\x9F\x98\x80"},
        {"generate", "thin.bmp", "-o", "out.suf"},
        {"generate", "missing.bmp", "-o", "out.suf"},
        {"generate", "img.bmp", "-o", "out.suf", "--depth", "20", "--density", "16"},
    };
    for (const auto& args : failing) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 1) << args[1] << " " << args.back();
        EXPECT_FALSE(r.err.empty());
        EXPECT_EQ(ReadFile(path("out.suf")), old) << args.back();
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"img.bmp", "out.suf", "thin.bmp"}));
}

TEST_F(Cli, GenerateNeverWritesOverItsOwnImage) {
    // A picture whose name ends in .suf would get its own name as the default
    // output; -o may name the image directly or through a link (with --format,
    // since .bmp names no output format).
    WriteWhiteBmp(path("peak.suf"), 5, 5);
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    fs::create_symlink("img.bmp", path("alias.bmp"));
    const std::string peak = ReadFile(path("peak.suf"));
    const std::string img = ReadFile(path("img.bmp"));
    const std::vector<std::vector<std::string>> clashing = {
        {"generate", "peak.suf", "--depth", "0"},
        {"generate", "img.bmp", "--depth", "0", "--format", "suf", "-o", "img.bmp"},
        {"generate", "img.bmp", "--depth", "0", "--format", "suf", "-o", "./alias.bmp"},
        {"generate", "alias.bmp", "--depth", "0", "--format", "suf", "-o",
         path("img.bmp").string()},
    };
    for (const auto& args : clashing) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 1) << args[1] << " " << args.back();
        EXPECT_NE(r.err.find("contour image"), std::string::npos) << r.err;
        EXPECT_EQ(Count(r.err, "\n"), 1u);
    }
    EXPECT_EQ(ReadFile(path("peak.suf")), peak);
    EXPECT_EQ(ReadFile(path("img.bmp")), img);
    EXPECT_EQ(listing(), (std::vector<std::string>{"alias.bmp", "img.bmp", "peak.suf"}));
}

TEST_F(Cli, UnreadableImagesFail) {
    WriteFile(path("text.bmp"), "not a picture");
    const RunResult notBmp = run({"generate", "text.bmp"});
    EXPECT_EQ(notBmp.status, 1);
    EXPECT_FALSE(notBmp.err.empty());
    const RunResult missing = run({"generate", "missing.bmp"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_FALSE(missing.err.empty());
    EXPECT_EQ(listing(), std::vector<std::string>{"text.bmp"});
}

TEST_F(Cli, OutputIntoAMissingFolderFails) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult r = run({"generate", "img.bmp", "-o", "nowhere/out.suf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(Count(r.err, "\n"), 1u);
}

// --- usage ------------------------------------------------------------------

TEST_F(Cli, BadCommandLinesAreUsageErrors) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"generate"},
        {"generate", "img.bmp", "other.bmp"},
        {"generate", "img.bmp", "--depth", "21"},
        {"generate", "img.bmp", "--depth", "-1"},
        {"generate", "img.bmp", "--depth", "2x"},
        {"generate", "img.bmp", "--depth", " 2"},
        {"generate", "img.bmp", "--depth"},
        {"generate", "img.bmp", "--density", "3"},
        {"generate", "img.bmp", "--density", "17"},
        {"generate", "img.bmp", "--level", "0"},
        {"generate", "img.bmp", "--level", "101"},
        {"generate", "img.bmp", "--profile", "flat"},
        {"generate", "img.bmp", "--pull", "5"},
        {"generate", "img.bmp", "--pull", "233,0"},
        {"generate", "img.bmp", "--push", "1,-1"},
        {"generate", "img.bmp", "--push", "1,2,3"},
        {"generate", "img.bmp", "--no-uv=1"},
        {"generate", "img.bmp", "--colour"},
        {"generate", "img.bmp", "-o", ""},
        {"estimate", "--size", "5"},
        {"estimate", "--depth", "99999999999"},
        {"estimate", "extra", "more"},
        {"list"},
        {"list", "a.suf", "b.suf"},
        {"resave", "a.suf"},
        {"resave", "a.suf", "b.suf", "c.suf"},
    };
    for (const auto& args : bad) {
        const RunResult r = run(args);
        std::string line;
        for (const auto& a : args)
            line += "[" + a + "]";
        EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_NE(r.err.find("usage: talorin-cli"), std::string::npos) << line;
    }
    EXPECT_EQ(listing(), std::vector<std::string>{"img.bmp"});
}

TEST_F(Cli, HelpExplainsEveryOption) {
    for (const char* where : {"--help", "generate"}) {
        std::vector<std::string> args{where};
        if (args[0] != "--help")
            args.push_back("--help");
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        for (const char* option :
             {"-o FILE",     "--size",    "--height",  "--depth",  "--density",
              "--triangles", "--profile", "rise",      "dome",     "hill",
              "--level",     "--no-uv",   "--normals", "--object", "--attribute",
              "--pull",      "--push",    "estimate",  "list",     "resave"})
            EXPECT_NE(r.out.find(option), std::string::npos) << option;
        // The defaults shown are those a run without options uses.
        for (const char* shown :
             {"(default 2000)", "(default 500)", "0..20 (default 2)", "4..16 (default 4)",
              "(default 10, exponent 1.0)", "(default BodyM)"})
            EXPECT_NE(r.out.find(shown), std::string::npos) << shown;
        EXPECT_EQ(r.out.find('{'), std::string::npos);
    }
}

TEST_F(Cli, DoubleDashEndsTheOptions) {
    WriteWhiteBmp(path("-odd.bmp"), 5, 5);
    const RunResult r = run({"generate", "--depth=0", "--", "-odd.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(path("-odd.suf")), WhiteDepthZeroFile("-odd", "uvpoly", true));
}

// --- estimate ---------------------------------------------------------------

TEST_F(Cli, EstimatePrintsThePolygonCount) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "256\n"},
        {{"--triangles"}, "1024\n"},
        {{"--depth", "0", "--density", "5"}, "25\n"},
        {{"--depth", "3"}, "1024\n"},
        {{"--depth", "10", "--density", "16", "--triangles"}, "1073741824\n"},
        {{"--depth", "11", "--density", "16"}, "1073741824\n"},
        {{"--depth", "13", "--density", "4"}, "1073741824\n"},
    };
    for (const auto& [options, expected] : cases) {
        std::vector<std::string> args{"estimate"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << expected << r.err;
        EXPECT_EQ(r.out, expected);
    }
}

TEST_F(Cli, EstimateBeyondThirtyTwoBitsFails) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"estimate", "--depth", "11", "--density", "16", "--triangles"},
          std::vector<std::string>{"estimate", "--depth", "12", "--density", "16"},
          std::vector<std::string>{"estimate", "--depth", "14"}}) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 1) << args[2];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "不正な浮動小数点数演算命令\n");
    }
}

// --- list and resave --------------------------------------------------------

const std::string kThreeObjects = "obj suf alpha {\r\n"
                                  "atr BodyM\r\n"
                                  "prim poly (\r\n"
                                  "    0 0 0\r\n"
                                  "    1 0 0\r\n"
                                  "    0 1 0\r\n"
                                  ")\r\n"
                                  "}\r\n"
                                  "obj suf \x95\x78\x8e\x6d {\r\n"
                                  "}\r\n"
                                  "obj suf gamma {\r\n"
                                  "atr Rock\r\n"
                                  "prim uvpoly (\r\n"
                                  "    1.5 -2 3  0.25 255\r\n"
                                  ")\r\n"
                                  "}\r\n";

TEST_F(Cli, ListPrintsObjectNamesInFileOrder) {
    WriteFile(path("three.suf"), kThreeObjects);
    const RunResult r = run({"list", "three.suf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "alpha\n富士\ngamma\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(Cli, ListOfAFileWithoutObjectsPrintsNothing) {
    WriteFile(path("empty.suf"), "");
    WriteFile(path("comment.suf"), "/* nothing\r\n here */\r\n");
    for (const char* file : {"empty.suf", "comment.suf"}) {
        const RunResult r = run({"list", file});
        EXPECT_EQ(r.status, 0) << file;
        EXPECT_EQ(r.out, "") << file;
        EXPECT_EQ(r.err, "") << file;
    }
}

TEST_F(Cli, ListReportsReaderFailures) {
    WriteFile(path("format.suf"), "obj suf a {\r\n}\r\nobj SUF b {\r\n}\r\n");
    WriteFile(path("grammar.suf"), "atr BodyM\r\nobj suf a {\r\n}\r\n");
    WriteFile(path("number.suf"), "obj suf a {\r\nprim poly (\r\n    1 2 zz\r\n)\r\n}\r\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"format.suf", "3行において未知の形式の形状ファイルです。\n"},
        {"grammar.suf", "形状データの文法が1行において変です。\n"},
        {"number.suf", "'zz' は浮動小数点数ではありません\n"},
    };
    for (const auto& [file, message] : cases) {
        const RunResult r = run({"list", file});
        EXPECT_EQ(r.status, 1) << file;
        EXPECT_EQ(r.out, "") << file;
        EXPECT_EQ(r.err, message) << file;
    }
    const RunResult missing = run({"list", "missing.suf"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(Count(missing.err, "\n"), 1u);
}

TEST_F(Cli, ResaveWritesTheCanonicalText) {
    WriteFile(path("messy.suf"), "/* made by hand */ obj suf a {\r\n"
                                 "  atr M\r\n"
                                 "  prim poly ( 1 2 3\r\n"
                                 "  4.50 5 6 )\r\n"
                                 "}\r\n");
    const RunResult r = run({"resave", "messy.suf", "clean.suf"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(path("clean.suf")),
              "obj suf a {\r\natr M\r\nprim poly (\r\n    1 2 3\r\n    4.5 5 6\r\n)\r\n}\r\n");
}

TEST_F(Cli, ResaveRoundTripsWrittenFiles) {
    WriteFile(path("three.suf"), kThreeObjects);
    WriteBmp(path("grey.bmp"), 6, 4, [](int x, int y) {
        const auto g = std::uint8_t(40 * x + 17 * y);
        return Rgb{g, g, 0};
    });
    ASSERT_EQ(run({"generate", "grey.bmp", "--depth", "1", "--pull", "90,90"}).status, 0);
    for (const char* file : {"three.suf", "grey.suf"}) {
        const RunResult r = run({"resave", file, "again.suf"});
        ASSERT_EQ(r.status, 0) << file << r.err;
        EXPECT_EQ(ReadFile(path("again.suf")), ReadFile(path(file))) << file;
    }
    WriteFile(path("empty.suf"), "");
    const RunResult empty = run({"resave", "empty.suf", "again.suf"});
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(ReadFile(path("again.suf")), "");
}

// What a named pipe holds now, read without waiting.
std::string Drain(int fd) {
    std::string bytes;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        bytes.append(buf, std::size_t(n));
    return bytes;
}

TEST_F(Cli, OutputIntoANamedPipeGoesThroughThePipe) {
    // A pipe or a device (/dev/null) is written into, not replaced by a file.
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    WriteFile(path("three.suf"), kThreeObjects);
    ASSERT_EQ(mkfifo(path("pipe.suf").c_str(), 0600), 0);
    // Holding both ends keeps the tool's open from waiting for a reader.
    const int fd = open(path("pipe.suf").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    const RunResult generated = run({"generate", "img.bmp", "--depth", "0", "-o", "pipe.suf"});
    EXPECT_EQ(generated.status, 0) << generated.err;
    EXPECT_EQ(Drain(fd), WhiteDepthZeroFile("img", "uvpoly", true));
    const RunResult resaved = run({"resave", "three.suf", "pipe.suf"});
    EXPECT_EQ(resaved.status, 0) << resaved.err;
    EXPECT_EQ(Drain(fd), kThreeObjects);
    close(fd);
    struct stat st;
    ASSERT_EQ(lstat(path("pipe.suf").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(listing(), (std::vector<std::string>{"img.bmp", "pipe.suf", "three.suf"}));
    // A device has no extension to tell a format by: it takes the default.
    const RunResult toDevice = run({"generate", "img.bmp", "--depth", "0", "-o", "/dev/null"});
    EXPECT_EQ(toDevice.status, 0) << toDevice.err;
}

TEST_F(Cli, FailedResaveLeavesTheOutputUntouched) {
    WriteFile(path("bad.suf"), "obj suf a {\r\nprim poly (\r\n    1 2\r\n");
    WriteFile(path("three.suf"), kThreeObjects);
    WriteFile(path("out.suf"), "old");
    const RunResult readFails = run({"resave", "bad.suf", "out.suf"});
    EXPECT_EQ(readFails.status, 1);
    EXPECT_EQ(readFails.err, "'' は浮動小数点数ではありません\n");
    EXPECT_EQ(ReadFile(path("out.suf")), "old");
    const RunResult writeFails = run({"resave", "three.suf", "nowhere/out.suf"});
    EXPECT_EQ(writeFails.status, 1);
    EXPECT_EQ(Count(writeFails.err, "\n"), 1u);
    EXPECT_GT(writeFails.err.size(), 1u);
    EXPECT_EQ(listing(), (std::vector<std::string>{"bad.suf", "out.suf", "three.suf"}));
}

// --- reliability ---------------------------------------------------------------

TEST_F(Cli, EveryWrittenFileReadsBack) {
    // The largest height is written one digit lower, so that it reads back.
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const RunResult r =
        run({"generate", "img.bmp", "--depth", "0", "--height", "1.7976931348623157e308"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadFile(path("img.suf")).find(" 1.79769313486231E308 "), std::string::npos);
    const RunResult listed = run({"list", "img.suf"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "img\n");
    const RunResult resaved = run({"resave", "img.suf", "again.suf"});
    EXPECT_EQ(resaved.status, 0) << resaved.err;
    EXPECT_EQ(ReadFile(path("again.suf")), ReadFile(path("img.suf")));
}

TEST_F(Cli, NamesThatWouldNotReadBackAreRefusedBeforeGenerating) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--object", "a b"},
         "オブジェクト名「a b」は形状ファイルに書けません: 空白を含んでいます\n"},
        {{"--attribute", "a prim"},
         "属性名「a prim」は形状ファイルに書けません: 空白を含んでいます\n"},
        {{"--object", ""}, "オブジェクト名が空では形状ファイルに書けません\n"},
        {{"--object", "x{y"}, ""},
        {{"--attribute", "(m"}, ""},
        {{"--object", "m/*"}, ""},
        {{"--object", "a\rb"}, ""},
        {{"--object", "a\nb"}, ""},
        {{"--attribute", "a\x1a"}, ""},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> args{"generate", "img.bmp", "--depth", "0"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 1) << options[1];
        if (!message.empty()) {
            EXPECT_EQ(r.err, message);
        }
        EXPECT_NE(r.err.find("は形状ファイルに書けません"), std::string::npos) << r.err;
        EXPECT_EQ(Count(r.err, "\n"), 1u) << r.err;
    }
    // An image whose name has a space proposes it with "_", for every format;
    // the same name typed is refused.
    WriteWhiteBmp(path("my mountain.bmp"), 5, 5);
    const RunResult spaced = run({"generate", "my mountain.bmp", "--object", "my mountain"});
    EXPECT_EQ(spaced.status, 1);
    EXPECT_EQ(spaced.err, "オブジェクト名「my mountain」は形状ファイルに書けません: "
                          "空白を含んでいます\n");
    EXPECT_EQ(listing(), (std::vector<std::string>{"img.bmp", "my mountain.bmp"}));
    EXPECT_EQ(run({"generate", "my mountain.bmp", "--format", "stl"}).status, 0);
    EXPECT_EQ(run({"generate", "my mountain.bmp"}).status, 0);
    EXPECT_TRUE(ReadFile(path("my mountain.suf")).starts_with("obj suf my_mountain {"));
    // A name that reads back only in part is not written again.
    WriteFile(path("comment.suf"), "obj suf a/*b*/c/*d {\r\n}\r\nobj suf next {\r\n}\r\n*/\r\n");
    WriteFile(path("out.suf"), "old");
    const RunResult resaved = run({"resave", "comment.suf", "out.suf"});
    EXPECT_EQ(resaved.status, 1);
    EXPECT_NE(resaved.err.find("「ac/*d」"), std::string::npos) << resaved.err;
    EXPECT_EQ(ReadFile(path("out.suf")), "old");
}

// The targets of a process's open descriptors that lie in folder, except skip.
std::vector<std::string> OpenFilesIn(pid_t pid, const fs::path& folder, const std::string& skip) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string target = fs::read_symlink(entry.path(), ec).string();
        if (!ec && target.starts_with(folder.string() + "/") && !target.ends_with(skip))
            found.push_back(target);
    }
    return found;
}

TEST_F(Cli, SaveEndedBySignalLeavesNoStrayFile) {
    WriteWhiteBmp(path("img.bmp"), 40, 40);
    WriteFile(path("old.suf"), "old");
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        const testsupport::Argv argv(TALORIN_CLI_PATH,
                                     {"generate", path("img.bmp").string(), "--depth", "6",
                                      "--density", "8", "-o", path("old.suf").string()});
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv.program(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        // Wait until the save has its new file open, then end the process.
        // (Generous for slow sanitizer builds; the loop ends as soon as it sees it.)
        bool saving = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!saving && std::chrono::steady_clock::now() < deadline) {
            saving = !OpenFilesIn(pid, m_dir, "img.bmp").empty();
            if (!saving)
                usleep(500);
        }
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(saving) << "the save was not seen";
        EXPECT_TRUE(WIFSIGNALED(status)) << signal;
        EXPECT_EQ(listing(), (std::vector<std::string>{"img.bmp", "old.suf"})) << signal;
        EXPECT_EQ(ReadFile(path("old.suf")), "old");
    }
}

// Runs the tool with standard output into a pipe that nobody reads.
RunResult RunIntoClosedPipe(const fs::path& cwd, const std::vector<std::string>& args) {
    int ends[2];
    char errName[] = "/tmp/talorin-cli-err-XXXXXX";
    const int errFd = mkstemp(errName);
    RunResult r;
    if (pipe(ends) != 0 || errFd < 0) {
        ADD_FAILURE() << "cannot make the pipe";
        return r;
    }
    close(ends[0]); // no reader: every write fails
    r.status = testsupport::Spawn(testsupport::Argv(TALORIN_CLI_PATH, args), cwd, ends[1], errFd);
    close(ends[1]);
    close(errFd);
    r.err = ReadFile(errName);
    unlink(errName);
    return r;
}

TEST_F(Cli, ClosedPipeIsAReportedFailure) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    WriteFile(path("three.suf"), kThreeObjects);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"generate", "img.bmp", "-o", "-"},
          std::vector<std::string>{"resave", "three.suf", "-"},
          std::vector<std::string>{"list", "three.suf"}}) {
        const RunResult r = RunIntoClosedPipe(m_dir, args);
        EXPECT_EQ(r.status, 1) << args[0]; // not killed by SIGPIPE
        EXPECT_EQ(r.err, "ファイル 標準出力 に書き込めませんでした: 読み取る側が閉じられました\n")
            << args[0];
    }
}

TEST_F(Cli, ResaveToDashWritesStandardOutput) {
    WriteFile(path("three.suf"), kThreeObjects);
    const RunResult r = run({"resave", "three.suf", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kThreeObjects);
    EXPECT_EQ(listing(), std::vector<std::string>{"three.suf"});
}

TEST_F(Cli, MessagesShowFileNamesAsValidUtf8) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    WriteFile(path("three.suf"), kThreeObjects);
    const std::string bad = "/nonexist\xff/x.suf";
    const std::string shown = "/nonexist\xEF\xBF\xBD/x.suf";
    const std::vector<std::vector<std::string>> commands = {
        {"generate", "img.bmp", "-o", bad},
        {"list", bad},
        {"resave", bad, "out.suf"},
        {"resave", "three.suf", bad},
        {"generate", bad},
        {"generate", "img.bmp", "--colour" + bad},
    };
    for (const auto& args : commands) {
        const RunResult r = run(args);
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.err.find('\xff'), std::string::npos) << r.err;
        const std::string expected = args.back().starts_with("--") ? "--colour" + shown : shown;
        EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
    }
}

TEST_F(Cli, FolderAsOutputIsRefusedAndLeftEmpty) {
    WriteWhiteBmp(path("img.bmp"), 5, 5);
    WriteFile(path("three.suf"), kThreeObjects);
    fs::create_directory(path("folder"));
    for (const char* out : {"folder", "folder/"}) {
        const RunResult generated = run({"generate", "img.bmp", "-o", out});
        EXPECT_EQ(generated.status, 1);
        EXPECT_EQ(generated.err,
                  "ファイル " + std::string(out) + " に書き込めませんでした: フォルダーです\n");
        const RunResult resaved = run({"resave", "three.suf", out});
        EXPECT_EQ(resaved.status, 1);
        EXPECT_TRUE(fs::is_empty(path("folder"))) << out;
    }
    // A dangling link as output creates its target and stays a link.
    fs::create_symlink("made.suf", path("link.suf"));
    const RunResult linked = run({"resave", "three.suf", "link.suf"});
    EXPECT_EQ(linked.status, 0) << linked.err;
    EXPECT_TRUE(fs::is_symlink(path("link.suf")));
    EXPECT_EQ(ReadFile(path("made.suf")), kThreeObjects);
}

TEST_F(Cli, EndlessInputEnds) {
    const RunResult r = run({"list", "/dev/zero"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "形状データの文法が1行において変です。\n");
}

// --- TIFF and true scale --------------------------------------------------------

// Plain grey TIFFs take exactly the path of the same samples as BMP or 16-bit PNG.
TEST_F(Cli, GreyTiffsGiveTheBytesOfTheSameSamplesAsBmpAndPng) {
    const int w = 9, h = 7;
    std::string grey8, grey16;
    testsupport::PngWriter png;
    png.width = w;
    png.height = h;
    png.bitDepth = 16;
    for (int i = 0; i < w * h; ++i) {
        const std::uint16_t v = std::uint16_t(i * 1031 % 65536);
        grey8 += char(i * 37 % 256);
        grey16 += std::string{char(v & 0xFF), char(v >> 8)};
        png.samples.push_back(v);
    }
    WriteBmp(path("a.bmp"), w, h, [&](int x, int y) {
        const auto g = std::uint8_t(grey8[std::size_t(y * w + x)]);
        return Rgb{g, g, g};
    });
    WriteFile(path("a.tif"), testsupport::TiffBytes(testsupport::TiffRasterFields(w, h, 8, 1, grey8.size()), grey8));
    WriteFile(path("b.png"), png.build());
    WriteFile(path("b.tif"), testsupport::TiffBytes(testsupport::TiffRasterFields(w, h, 16, 1, grey16.size()), grey16));
    for (const auto& [tiff, other] : {std::pair{"a.tif", "a.bmp"}, std::pair{"b.tif", "b.png"}}) {
        const std::vector<std::string> common = {"--depth", "2", "--object", "x", "-o", "-"};
        std::vector<std::string> a = {"generate", tiff}, b = {"generate", other};
        a.insert(a.end(), common.begin(), common.end());
        b.insert(b.end(), common.begin(), common.end());
        const RunResult ra = run(a), rb = run(b);
        ASSERT_EQ(ra.status, 0) << ra.err;
        EXPECT_EQ(ra.out, rb.out) << tiff;
    }
}

TEST_F(Cli, TrueScaleNeedsGeoreferencingAndEstimatePrintsTheRange) {
    const std::string sample = std::string(TALORIN_SAMPLES_DIR) + "/mountain-dem.tif";
    const RunResult estimate = run({"estimate", sample});
    ASSERT_EQ(estimate.status, 0) << estimate.err;
    EXPECT_EQ(estimate.out, "256\n標高 312.0 – 2,179.0 m\n");
    WriteWhiteBmp(path("w.bmp"), 5, 5);
    const RunResult flat = run({"generate", "w.bmp", "--true-scale", "2"});
    EXPECT_EQ(flat.status, 1);
    EXPECT_NE(flat.err.find("実寸にできません"), std::string::npos) << flat.err;
    WriteFile(path("cut.tif"), std::string("II*\0\x08\0\0\0\x01", 9));
    const RunResult cut = run({"generate", "cut.tif"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("cut.tif を読み込めません"), std::string::npos) << cut.err;
}

} // namespace

// --- adaptive depth -----------------------------------------------------------------

// A round hill on flat ground: the flat part needs no depth.
void WriteHillBmp(const fs::path& path) {
    WriteBmp(path, 65, 65, [](int x, int y) {
        const double r2 = (x - 40) * (x - 40) + (y - 24) * (y - 24);
        const auto level = std::uint8_t(r2 < 200 ? 255 - r2 : 0);
        return Rgb{level, level, level};
    });
}

TEST_F(Cli, AdaptiveEstimateCountsWhatGenerateWrites) {
    WriteHillBmp(path("hill.bmp"));
    for (const std::string mode : {"--depth=4", "--triangles"}) {
        const std::vector<std::string> settings{"hill.bmp", "--depth",     "4",
                                                mode,       "--max-error", "5"};
        std::vector<std::string> estimate{"estimate"}, generate{"generate", "-o", "out.suf"};
        estimate.insert(estimate.end(), settings.begin(), settings.end());
        generate.insert(generate.end(), settings.begin(), settings.end());
        const RunResult counted = run(estimate);
        ASSERT_EQ(counted.status, 0) << counted.err;
        ASSERT_EQ(run(generate).status, 0);
        const std::size_t written = Count(ReadFile(path("out.suf")), "prim ");
        EXPECT_EQ(counted.out, std::to_string(written) + "\n");
        // Far fewer than the uniform 4^4 x 16 quads or four times as many triangles.
        EXPECT_LT(written, (mode == "--triangles" ? 16384u : 4096u) / 4);
        // The shape reader takes the polygons with extra corners back unchanged.
        ASSERT_EQ(run({"resave", "out.suf", "again.suf"}).status, 0);
        EXPECT_EQ(ReadFile(path("again.suf")), ReadFile(path("out.suf")));
    }
}

TEST_F(Cli, AdaptiveWithAnErrorAboveTheHeightGivesOnePolygonPerCell) {
    WriteHillBmp(path("hill.bmp"));
    const RunResult r =
        run({"estimate", "hill.bmp", "--depth", "6", "--density", "7", "--max-error", "501"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "49\n");
    // generate writes the bytes of the depth-0 run.
    ASSERT_EQ(
        run({"generate", "hill.bmp", "-o", "a.suf", "--depth", "6", "--max-error", "1e9"}).status,
        0);
    ASSERT_EQ(run({"generate", "hill.bmp", "-o", "b.suf", "--depth", "0"}).status, 0);
    EXPECT_EQ(ReadFile(path("a.suf")), ReadFile(path("b.suf")));
}

TEST_F(Cli, AdaptiveOptionsThatMakeNoSenseAreUsageErrors) {
    WriteHillBmp(path("hill.bmp"));
    const std::vector<std::vector<std::string>> cases = {
        {"generate", "hill.bmp", "--max-error", "0"},
        {"generate", "hill.bmp", "--max-error", "-2"},
        {"generate", "hill.bmp", "--max-error", "abc"},
        {"generate", "hill.bmp", "--max-error", "nan"},
        {"generate", "hill.bmp", "--max-error", "inf"},
        {"generate", "hill.bmp", "--max-error"},
        {"estimate", "--max-error", "2"},        // the count needs the terrain
        {"estimate", "--size", "100"},           // so do the terrain's settings
        {"estimate", "hill.bmp", "-o", "x.suf"}, // estimate writes nothing
        {"estimate", "hill.bmp", "other.bmp", "--max-error", "2"},
    };
    for (const auto& args : cases) {
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_EQ(listing(), std::vector<std::string>{"hill.bmp"});
}

// Errors speak the locale's language: English under an English locale, naming
// the file and the reason; today's Japanese under C.
TEST_F(Cli, ErrorsFollowTheLocale) {
    const std::string missing = (m_dir / "none.bmp").string();
    const std::pair<const char*, std::string> cases[] = {
        {"LC_ALL=en_US.UTF-8", "Cannot read " + missing + ": the file cannot be opened"},
        {"LC_ALL=C", missing + " を読み込めません: ファイルを開けません"}};
    for (const auto& [locale, expected] : cases) {
        const RunResult r = testsupport::RunCli(
            "/usr/bin/env", m_dir, {locale, TALORIN_CLI_PATH, "generate", missing, "-o", "x.suf"});
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
    }
    // Name problems, true scale and the elevation range in English; --help in
    // Japanese only where the locale names Japanese, today's English under C.
    WriteWhiteBmp(path("w.bmp"), 5, 5);
    const std::string dem = std::string(TALORIN_SAMPLES_DIR) + "/mountain-dem.tif";
    const auto english = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"LC_ALL=en_US.UTF-8", TALORIN_CLI_PATH});
        const RunResult r = testsupport::RunCli("/usr/bin/env", m_dir, args);
        return r.out + r.err;
    };
    EXPECT_NE(english({"generate", "w.bmp", "--object", "my hill", "-o", "x.suf"})
                  .find("The object name \"my hill\" cannot be written to a shape file: it "
                        "contains a space"),
              std::string::npos);
    EXPECT_NE(english({"generate", "w.bmp", "--true-scale"})
                  .find("Cannot make the terrain at true scale: not elevation data (TIFF)"),
              std::string::npos);
    EXPECT_EQ(english({"estimate", dem}), "256\nElevation 312.0 – 2,179.0 m\n");
    const RunResult japanese = testsupport::RunCli(
        "/usr/bin/env", m_dir, {"LC_ALL=ja_JP.UTF-8", TALORIN_CLI_PATH, "--help"});
    EXPECT_NE(japanese.out.find("終了ステータス: 0 成功"), std::string::npos) << japanese.out;
    EXPECT_TRUE(run({"--help"}).out.starts_with("talorin-cli: the terrain generator without"));
}
