// The project file: the lattice comes back bit for bit, and hostile files are
// refused with their reason before anything reaches a document.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "base/error.h"
#include "image/imagefile.h"
#include "terrain/projectfile.h"
#include "tests/support/bmp24.h"
#include "tests/support/tempfolder.h"

namespace {

using namespace talorin;
using testsupport::TempFolder;

class ProjectFile : public ::testing::Test, public TempFolder {
  protected:
    ProjectFile() : TempFolder("projectfile") {
        testsupport::WriteFile(path("hill.bmp"), testsupport::Bmp24Bytes(40, 30, [](int x, int y) {
                                   const auto v = std::uint8_t(x * 5 + y * 3);
                                   return Rgb{v, v, v};
                               }));
    }
    // A document on hill.bmp with a few presses and settings off their defaults.
    ProjectState Saved(TerrainDocument& doc) {
        doc.setDensity(7);
        doc.setImage(LoadImageFile(path("hill.bmp")), "hill");
        doc.press({100, 90, kLeftButton});
        doc.press({20, 200, kRightButton});
        doc.setQuadMode(false);
        doc.setShapeMode(2);
        doc.setLevel(37);
        doc.setSizeText("12.5");
        doc.setObjectName("山");
        return CaptureProject(doc, path("hill.bmp"), path("p.talorin"), true, "0.25", 0.25);
    }
    std::string ValidText() {
        TerrainDocument doc;
        return ProjectText(Saved(doc));
    }
};

TEST_F(ProjectFile, LatticeAndSettingsComeBackExactly) {
    TerrainDocument doc;
    ProjectState saved = Saved(doc);
    // Values whose shortest decimal form is long or unusual.
    saved.lattice[1][1] = {0.1 + 0.2, std::nextafter(13.0, 0.0)};
    saved.lattice[2][3] = {5e-324, -0.0};
    saved.lattice[6][6] = {1.0 / 3.0, 29.0 - 1e-15};
    const ProjectState read = ParseProject(ProjectText(saved));
    EXPECT_EQ(std::memcmp(&read.lattice, &saved.lattice, sizeof saved.lattice), 0);
    EXPECT_EQ(read.density, 7);
    EXPECT_EQ(read.imagePath, "hill.bmp");
    EXPECT_EQ(read.imageSha256, FileSha256(path("hill.bmp")));
    EXPECT_FALSE(read.settings.quadMode);
    EXPECT_EQ(read.settings.shapeMode, 2);
    EXPECT_EQ(read.settings.level, 37);
    EXPECT_EQ(read.settings.sizeText, "12.5");
    EXPECT_EQ(read.objectName, "山");
    EXPECT_TRUE(read.adaptive);
    EXPECT_EQ(read.maxError, 0.25);

    // Applied to a fresh document: the same generation arguments, no history.
    TerrainDocument reopened;
    bool hashMatches = false;
    ApplyProject(reopened, read, LoadProjectImage(read, path("hill.bmp"), hashMatches), "hill");
    EXPECT_TRUE(hashMatches);
    EXPECT_FALSE(reopened.canUndo());
    EXPECT_EQ(std::memcmp(&reopened.lattice(), &saved.lattice, sizeof saved.lattice), 0);
    EXPECT_EQ(reopened.makeArgs().ObjName, doc.makeArgs().ObjName);
}

TEST_F(ProjectFile, PrintAndEngineOptionsComeBackAndOlderFilesReadTheDefaults) {
    TerrainDocument doc;
    (void)Saved(doc);
    doc.setSampling(HeightSampling::Bilinear);
    doc.setAspect(TerrainAspect::Image);
    doc.setSolid(true);
    doc.setSolidBase("7.5", 7.5);
    const std::string text =
        ProjectText(CaptureProject(doc, path("hill.bmp"), path("p.talorin"), false, "1", 1));
    TerrainDocument reopened;
    const ProjectState read = ParseProject(text);
    bool hashMatches = false;
    ApplyProject(reopened, read, LoadProjectImage(read, path("hill.bmp"), hashMatches), "hill");
    EXPECT_EQ(reopened.makeArgs().Sampling, HeightSampling::Bilinear);
    EXPECT_EQ(reopened.makeArgs().Aspect, TerrainAspect::Image);
    EXPECT_TRUE(reopened.solid());
    EXPECT_EQ(reopened.solidBaseText(), "7.5");
    EXPECT_EQ(reopened.solidBase(), 7.5);

    // A file written before these options: without their keys.
    std::string old = ValidText();
    for (const char* key : {"sampling", "aspect", "solid", "solidBaseText", "solidBase"}) {
        const auto at = old.find(std::string("\"") + key + "\"");
        ASSERT_NE(at, std::string::npos) << key;
        const auto lineStart = old.rfind('\n', at), lineEnd = old.find('\n', at);
        old.erase(lineStart, lineEnd - lineStart);
    }
    // The last member of an object lost its comma's follower: mend the JSON.
    for (std::string::size_type at; (at = old.find(",\n  }")) != std::string::npos;)
        old.erase(at, 1);
    const ProjectState older = ParseProject(old);
    EXPECT_EQ(older.settings.sampling, HeightSampling::Nearest);
    EXPECT_EQ(older.settings.aspect, TerrainAspect::Square);
    EXPECT_FALSE(older.solid);
    EXPECT_EQ(older.solidBase, kDefaultSolidBase);
}

TEST_F(ProjectFile, HostileTextsAreRefusedWithTheirReason) {
    const std::string valid = ValidText();
    const auto replaced = [&valid](const std::string& from, const std::string& to) {
        std::string text = valid;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    const struct {
        const char* what;
        std::string text;
        const char* reason;
    } cases[] = {
        {"not JSON", "hello", "JSON として読めません"},
        {"truncated", valid.substr(0, valid.size() / 2), "JSON として読めません"},
        {"another format", replaced("talorin-project", "other"), "プロジェクトファイルではありません"},
        {"newer version", replaced("\"version\": 1", "\"version\": 2"), "より新しい版 (2)"},
        {"wrong type", replaced("\"depth\": 2", "\"depth\": \"2\""), "settings.depth の値の型"},
        {"out of range", replaced("\"level\": 37", "\"level\": 101"), "settings.level の値が範囲外"},
        {"huge integer", replaced("\"level\": 37", "\"level\": 4294967333"), "settings.level の値が範囲外"},
        {"lattice too small", replaced("\"density\": 7", "\"density\": 8"), "密度 8 と合いません"},
        {"infinite point", replaced("[0.0,0.0]", "[1e999,0.0]"), "数が大きすぎて"},
        {"point far away", replaced("[0.0,0.0]", "[1e300,0.0]"), "lattice.points[0][0] の値が範囲外"},
        {"missing key", replaced("\"uv\"", "\"uvx\""), "settings.uv がありません"},
        {"deep nesting", std::string(100000, '['), "入れ子が深すぎます"},
        {"bad hash", replaced("\"sha256\": \"", "\"sha256\": \"x"), "SHA-256"},
    };
    for (const auto& c : cases) {
        try {
            ParseProject(c.text);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos)
                << c.what << ": " << e.what();
        }
    }
}

TEST_F(ProjectFile, FilesAndImagePathsThatAreNoRegularFilesAreRefusedByName) {
    // A file far over the cap (sparse, so the test stays quick) is refused
    // before it is read, and the message names it.
    const std::string big = path("big.talorin").string();
    testsupport::WriteFile(big, "{");
    ASSERT_EQ(::truncate(big.c_str(), off_t(1) << 30), 0);
    try {
        ReadProjectFile(big);
        ADD_FAILURE() << "a 1 GB file was read";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(big + " を読み込めません: ファイルが大きすぎます"),
                  std::string::npos)
            << e.what();
    }
    TerrainDocument doc;
    ProjectState project = Saved(doc);
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
    for (const std::string& image : {std::string("/dev/null"), path("pipe").string(), m_dir.string()}) {
        project.imagePath = image;
        EXPECT_THROW(LocateProjectImage(project, path("p.talorin")), Error) << image;
    }
    // An image of another size is refused; a moved one is not found.
    project.imageWidth = 41;
    bool hashMatches = true;
    EXPECT_THROW(LoadProjectImage(project, path("hill.bmp"), hashMatches), Error);
    project.imagePath = "gone.bmp";
    project.imageAbsolutePath = path("gone.bmp");
    EXPECT_EQ(LocateProjectImage(project, path("p.talorin")), "");
}

} // namespace
