#include "terrain/terraindocument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/error.h"

using namespace talorin;

namespace {

Bitmap Grey(int width, int height) {
    Bitmap image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto g = std::uint8_t((x * 7 + y * 3) % 256);
            image.setPixel(x, y, {g, g, g});
        }
    return image;
}

// A document holding a 233 x 233 image: preview pixels are image pixels.
TerrainDocument Loaded(int width = 233, int height = 233) {
    TerrainDocument doc;
    doc.setImage(Grey(width, height), "fuji");
    return doc;
}

// The message and field of the ArgsError that makeArgs throws, or "" when it does not.
std::string ArgsMessage(const TerrainDocument& doc, ArgsError::Field* field = nullptr) {
    try {
        doc.makeArgs();
    } catch (const ArgsError& e) {
        if (field)
            *field = e.field();
        return e.what();
    }
    return {};
}

} // namespace

// --- Defaults -------------------------------------------------------------------

TEST(TerrainDocument, StartsWithTheWindowsDefaults) {
    const TerrainDocument doc;
    EXPECT_FALSE(doc.hasImage());
    EXPECT_TRUE(doc.image().empty());
    EXPECT_EQ(doc.density(), 4);
    EXPECT_EQ(doc.depth(), 2);
    EXPECT_TRUE(doc.quadMode());
    EXPECT_EQ(doc.shapeMode(), 0);
    EXPECT_EQ(doc.level(), 10);
    EXPECT_EQ(doc.curveLevel(), 1.0);
    EXPECT_TRUE(doc.withUV());
    EXPECT_FALSE(doc.withShade());
    EXPECT_EQ(doc.sizeText(), "2000");
    EXPECT_EQ(doc.heightText(), "500");
    EXPECT_EQ(doc.objectName(), "ObjName");
    EXPECT_EQ(doc.attributeName(), "AtrName");
    EXPECT_EQ(doc.polygonCount(), 256);
    EXPECT_EQ(doc.previewScaleX(), 0.0);
    EXPECT_FALSE(doc.canUndo() || doc.canRedo());
}

// --- The image --------------------------------------------------------------------

TEST(TerrainDocument, ImageBringsUniformLatticeNamesAndScales) {
    TerrainDocument doc;
    doc.setAttributeName("Rock");
    doc.setImage(Grey(40, 30), "fuji");
    EXPECT_TRUE(doc.hasImage());
    EXPECT_EQ(doc.image().width(), 40);
    EXPECT_EQ(doc.previewScaleX(), 233.0 / 40);
    EXPECT_EQ(doc.previewScaleY(), 233.0 / 30);
    EXPECT_EQ(doc.objectName(), "fuji");
    EXPECT_EQ(doc.attributeName(), "BodyM");
    EXPECT_EQ(doc.lattice()[4][4], (MeshPoint{39, 29}));
    EXPECT_EQ(doc.lattice()[1][2], (MeshPoint{9.75, 14.5}));
}

TEST(TerrainDocument, ImageNameIsProposedAsANameEveryFormatHolds) {
    TerrainDocument doc;
    doc.setImage(Grey(40, 30), "my mountain");
    EXPECT_EQ(doc.objectName(), "my_mountain");
    EXPECT_EQ(doc.makeArgs().ObjName, "my_mountain");
    doc.setImage(Grey(40, 30), ""); // ".bmp"
    EXPECT_EQ(doc.objectName(), "ObjName");
    doc.setObjectName("my mountain"); // typed: checked as it is
    EXPECT_NE(ArgsMessage(doc).find("空白を含んでいます"), std::string::npos);
}

TEST(TerrainDocument, EmptyImageIsRefusedAndChangesNothing) {
    TerrainDocument doc = Loaded();
    doc.press({68, 58, kLeftButton});
    const MeshLattice edited = doc.lattice();
    EXPECT_THROW(doc.setImage(Bitmap(), "x"), Error);
    EXPECT_EQ(doc.image().width(), 233);
    EXPECT_EQ(doc.lattice(), edited);
    EXPECT_EQ(doc.objectName(), "fuji");
    EXPECT_TRUE(doc.canUndo());
}

TEST(TerrainDocument, SharedImageOutlivesAReplacement) {
    TerrainDocument doc = Loaded(40, 30);
    const std::shared_ptr<const Bitmap> kept = doc.sharedImage();
    doc.setImage(Grey(50, 20), "dune");
    EXPECT_EQ(kept->width(), 40);
    EXPECT_EQ(doc.image().width(), 50);
}

TEST(PreviewScale, ZeroImageSizeIsADivisionByZero) {
    EXPECT_EQ(PreviewScale(233, 233), 1.0);
    try {
        PreviewScale(233, 0);
        FAIL() << "expected a fault";
    } catch (const FloatFault& e) {
        EXPECT_STREQ(e.what(), kDivideByZeroText);
    }
}

// --- Lattice edits and their history ------------------------------------------------

TEST(TerrainDocument, PressPullsAPointOntoANearClick) {
    TerrainDocument doc = Loaded();
    // Ten preview pixels right of the interior point (58, 58) at density 4.
    doc.press({68, 58, kLeftButton});
    EXPECT_EQ(doc.lattice()[1][1], (MeshPoint{68, 58}));
    EXPECT_EQ(doc.lattice()[0][1], (MeshPoint{0, 58}));
    EXPECT_EQ(doc.lastPress(), (PreviewPress{68, 58, kLeftButton}));
    EXPECT_TRUE(doc.canUndo());
}

TEST(TerrainDocument, PressesThatMoveNothingAreNoStep) {
    TerrainDocument doc = Loaded();
    const std::uint64_t version = doc.version();
    doc.press({60, 60, kMiddleButton});
    doc.reset(); // already uniform
    doc.setDensity(4);
    EXPECT_FALSE(doc.canUndo());
    EXPECT_EQ(doc.version(), version);
    EXPECT_EQ(doc.lastPress().button, kMiddleButton);
}

TEST(TerrainDocument, PressWithoutImageOnlyRemembersIt) {
    TerrainDocument doc;
    doc.press({5, 6, kRightButton});
    EXPECT_EQ(doc.lastPress(), (PreviewPress{5, 6, kRightButton}));
    EXPECT_FALSE(doc.canUndo());
}

TEST(TerrainDocument, UndoRestoresLatticeAndDensityExactly) {
    TerrainDocument doc = Loaded(40, 30);
    std::vector<MeshLattice> lattices{doc.lattice()};
    std::vector<int> densities{doc.density()};
    const auto record = [&] {
        lattices.push_back(doc.lattice());
        densities.push_back(doc.density());
    };
    doc.press({100, 90, kLeftButton});
    record();
    doc.setDensity(7);
    record();
    doc.press({60, 140, kRightButton});
    record();
    doc.reset();
    record();
    doc.setDensity(16);
    record();
    for (int i = int(lattices.size()) - 2; i >= 0; --i) {
        ASSERT_TRUE(doc.undo());
        EXPECT_EQ(doc.lattice(), lattices[std::size_t(i)]) << i;
        EXPECT_EQ(doc.density(), densities[std::size_t(i)]) << i;
    }
    EXPECT_FALSE(doc.undo());
    for (std::size_t i = 1; i < lattices.size(); ++i) {
        ASSERT_TRUE(doc.redo());
        EXPECT_EQ(doc.lattice(), lattices[i]) << i;
        EXPECT_EQ(doc.density(), densities[i]) << i;
    }
    EXPECT_FALSE(doc.redo());
}

TEST(TerrainDocument, NewChangeForgetsRedo) {
    TerrainDocument doc = Loaded();
    doc.press({68, 58, kLeftButton});
    doc.undo();
    ASSERT_TRUE(doc.canRedo());
    doc.press({120, 120, kLeftButton});
    EXPECT_FALSE(doc.canRedo());
    EXPECT_FALSE(doc.redo());
}

TEST(TerrainDocument, NewImageForgetsHistory) {
    TerrainDocument doc = Loaded();
    doc.press({68, 58, kLeftButton});
    doc.press({150, 150, kLeftButton});
    doc.undo();
    doc.setImage(Grey(50, 20), "dune");
    EXPECT_FALSE(doc.canUndo());
    EXPECT_FALSE(doc.canRedo());
    EXPECT_EQ(doc.lattice(), InitMeshLattice(50, 20, 4));
}

TEST(TerrainDocument, KeepsMoreThanAHundredSteps) {
    TerrainDocument doc = Loaded();
    const MeshLattice uniform = doc.lattice();
    std::vector<MeshLattice> seen;
    for (int k = 0; k < 150; ++k) {
        seen.push_back(doc.lattice());
        doc.press({40 + k % 150, 60 + (k * 7) % 120, std::uint8_t(k % 2)});
    }
    for (int k = 149; k >= 0; --k) {
        ASSERT_TRUE(doc.undo()) << k;
        ASSERT_EQ(doc.lattice(), seen[std::size_t(k)]) << k;
    }
    EXPECT_EQ(doc.lattice(), uniform);
}

TEST(TerrainDocument, OldestStepsBeyondTheLimitAreForgotten) {
    TerrainDocument doc = Loaded();
    for (std::size_t k = 0; k < kUndoLimit + 5; ++k)
        doc.setDensity(doc.density() == 4 ? 5 : 4);
    std::size_t undone = 0;
    while (doc.undo())
        ++undone;
    EXPECT_EQ(undone, kUndoLimit);
}

TEST(TerrainDocument, DensityOutOfRangeIsRefused) {
    TerrainDocument doc = Loaded();
    doc.press({68, 58, kLeftButton});
    const MeshLattice edited = doc.lattice();
    EXPECT_THROW(doc.setDensity(3), Error);
    EXPECT_THROW(doc.setDensity(17), Error);
    EXPECT_EQ(doc.density(), 4);
    EXPECT_EQ(doc.lattice(), edited);
}

TEST(TerrainDocument, DensityBeforeImageIsKeptForIt) {
    TerrainDocument doc;
    doc.setDensity(6);
    EXPECT_FALSE(doc.canUndo());
    doc.setImage(Grey(233, 233), "a");
    EXPECT_EQ(doc.lattice(), InitMeshLattice(233, 233, 6));
    // The last column lies at the sum of six steps, not at 232.
    EXPECT_EQ(doc.lattice()[6][0].X, 231.99999999999997);
}

// --- Observing -----------------------------------------------------------------------

TEST(TerrainDocument, ListenersHearEachKindOfChange) {
    TerrainDocument doc;
    std::vector<unsigned> heard;
    const int id = doc.addListener([&](unsigned changes) { heard.push_back(changes); });
    doc.setImage(Grey(40, 30), "a");
    doc.press({100, 100, kLeftButton});
    doc.setDensity(5);
    doc.undo();
    doc.setDepth(3);
    doc.setDepth(3); // no change, no call
    ASSERT_EQ(heard.size(), 5u);
    EXPECT_TRUE(heard[0] & kImageChanged);
    EXPECT_EQ(heard[1], unsigned(kLatticeChanged | kHistoryChanged));
    EXPECT_EQ(heard[2], unsigned(kLatticeChanged | kDensityChanged | kHistoryChanged));
    EXPECT_EQ(heard[3], unsigned(kLatticeChanged | kDensityChanged | kHistoryChanged));
    EXPECT_EQ(heard[4], unsigned(kSettingsChanged));
    EXPECT_EQ(doc.version(), 5u);
    doc.removeListener(id);
    doc.setDepth(4);
    EXPECT_EQ(heard.size(), 5u);
    EXPECT_EQ(doc.version(), 6u);
}

// --- Settings and the count -------------------------------------------------------------

TEST(TerrainDocument, SettingsOutsideTheirRangeAreRefused) {
    TerrainDocument doc;
    EXPECT_THROW(doc.setShapeMode(3), Error);
    EXPECT_THROW(doc.setLevel(0), Error);
    EXPECT_THROW(doc.setLevel(101), Error);
    EXPECT_EQ(doc.shapeMode(), 0);
    EXPECT_EQ(doc.level(), 10);
    doc.setLevel(1);
    EXPECT_EQ(doc.curveLevel(), 0.1);
    doc.setLevel(15);
    EXPECT_EQ(doc.curveLevel(), 1.5);
}

TEST(TerrainDocument, CountFollowsDepthKindAndDensity) {
    TerrainDocument doc;
    doc.setQuadMode(false);
    EXPECT_EQ(doc.polygonCount(), 1024);
    doc.setDensity(16);
    doc.setDepth(10);
    EXPECT_EQ(doc.polygonCount(), 1073741824);
    doc.setDepth(11);
    EXPECT_THROW(doc.polygonCount(), FloatFault);
    doc.setQuadMode(true);
    doc.setDepth(0);
    EXPECT_EQ(doc.polygonCount(), 256);
}

// --- Conversion into the generation arguments --------------------------------------------

TEST(TerrainDocumentArgs, CarriesEverySetting) {
    TerrainDocument doc = Loaded(40, 30);
    doc.setSizeText("1.5e3");
    doc.setHeightText(" 250 ");
    doc.setQuadMode(false);
    doc.setShapeMode(2);
    doc.setLevel(15);
    doc.setDepth(0);
    doc.setObjectName("山");
    doc.setWithUV(false);
    doc.setWithShade(true);
    doc.setDensity(5);
    doc.press({100, 100, kLeftButton});
    const Talorin_Args args = doc.makeArgs();
    EXPECT_EQ(args.Size, 1500.0);
    EXPECT_EQ(args.MaxHeight, 250.0);
    EXPECT_FALSE(args.QuadMode);
    EXPECT_EQ(args.ShapeMode, 2);
    EXPECT_EQ(args.CurveLevel, 1.5);
    EXPECT_EQ(args.Bitmap, doc.sharedImage());
    EXPECT_EQ(args.Depth, 0);
    EXPECT_EQ(args.ObjName, "\x8e\x52"); // 山 in CP932
    EXPECT_EQ(args.AtrName, "BodyM");
    EXPECT_EQ(args.PaMax, 5);
    EXPECT_EQ(args.Lattice, doc.lattice());
    EXPECT_FALSE(args.WithUV);
    EXPECT_TRUE(args.WithShade);
    // The arguments hold their own lattice.
    doc.press({30, 200, kLeftButton});
    EXPECT_NE(args.Lattice, doc.lattice());
}

TEST(TerrainDocumentArgs, ReportsTheFirstBadSettingInOrder) {
    TerrainDocument doc = Loaded();
    ArgsError::Field field{};
    doc.setSizeText("abc");
    doc.setHeightText("also wrong");
    EXPECT_EQ(ArgsMessage(doc, &field), "'abc' は浮動小数点数ではありません");
    EXPECT_EQ(field, ArgsError::Field::Size);
    doc.setSizeText("");
    EXPECT_EQ(ArgsMessage(doc), "'' は浮動小数点数ではありません");
    doc.setSizeText("2000");
    EXPECT_EQ(ArgsMessage(doc, &field), "'also wrong' は浮動小数点数ではありません");
    EXPECT_EQ(field, ArgsError::Field::Height);
    doc.setHeightText("1,000");
    EXPECT_EQ(ArgsMessage(doc), "'1,000' は浮動小数点数ではありません");
    doc.setHeightText("500");
    doc.setObjectName("😀");
    doc.setAttributeName("한");
    EXPECT_FALSE(ArgsMessage(doc, &field).empty());
    EXPECT_EQ(field, ArgsError::Field::ObjectName);
    doc.setObjectName("a");
    EXPECT_FALSE(ArgsMessage(doc, &field).empty());
    EXPECT_EQ(field, ArgsError::Field::AttributeName);
    doc.setAttributeName("b");
    EXPECT_EQ(ArgsMessage(doc), "");
    // Names a shape file would not give back are refused, naming the field.
    doc.setObjectName("");
    EXPECT_EQ(ArgsMessage(doc, &field), "オブジェクト名が空では形状ファイルに書けません");
    EXPECT_EQ(field, ArgsError::Field::ObjectName);
    doc.setObjectName("a");
    doc.setAttributeName("a b");
    EXPECT_EQ(ArgsMessage(doc, &field),
              "属性名「a b」は形状ファイルに書けません: 空白を含んでいます");
    EXPECT_EQ(field, ArgsError::Field::AttributeName);
}

TEST(TerrainDocumentArgs, RefusesDepthOutsideTheGeneratorsRange) {
    TerrainDocument doc = Loaded();
    ArgsError::Field field{};
    for (const int depth : {-1, 21}) {
        doc.setDepth(depth);
        EXPECT_FALSE(ArgsMessage(doc, &field).empty()) << depth;
        EXPECT_EQ(field, ArgsError::Field::Depth) << depth;
    }
    doc.setDepth(20);
    EXPECT_EQ(ArgsMessage(doc), "");
}

TEST(TerrainDocumentArgs, NeedAnImage) {
    TerrainDocument doc;
    ArgsError::Field field{};
    EXPECT_FALSE(ArgsMessage(doc, &field).empty());
    EXPECT_EQ(field, ArgsError::Field::Image);
}

// The document's arguments generate what the window and the command line save.
TEST(TerrainDocumentArgs, GenerateTheWorkedExample) {
    TerrainDocument doc;
    Bitmap white(5, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            white.setPixel(x, y, {255, 255, 255});
    doc.setImage(white, "w");
    doc.setDepth(1);
    const TerrainMesh mesh = GenerateTerrainMesh(doc.makeArgs());
    ASSERT_EQ(mesh.polygonCount(), 64u);
    // The first polygon is the last leaf of the bottom right cell.
    const MeshVertex& first = mesh.Vertices[mesh.corners(0)[0]];
    EXPECT_EQ(first, (MeshVertex{1000, 500, 500, 191.25, 255}));
}
