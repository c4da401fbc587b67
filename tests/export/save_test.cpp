// Saving exports: the format a name selects, atomic saves that leave an old
// file untouched on failure, the material file beside an OBJ, and the glTF
// Validator's verdict on what the glb writer makes.

#include "tests/export/exporttest.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

#include "export/format.h"
#include "export/glbwriter.h"
#include "export/meshsave.h"
#include "export/save.h"
#include "export/output.h"
#include "base/memorybudget.h"
#include "terrain/lattice.h"
#include "base/error.h"
#include "shape/shape.h"
#include "base/sjis.h"
#include "tests/support/tempfolder.h"

namespace {

using namespace exporttest;
using talorin::Bitmap;
using talorin::ExportFormat;
using talorin::ExportTexture;
namespace fs = std::filesystem;

TEST(ExportFormat, ExtensionsSelectAFormatWhateverTheirCase) {
    using talorin::FormatFromFileName;
    EXPECT_EQ(FormatFromFileName("a/hill.OBJ"), ExportFormat::Obj);
    EXPECT_EQ(FormatFromFileName("hill.Stl"), ExportFormat::Stl);
    EXPECT_EQ(FormatFromFileName("x.tar.ply"), ExportFormat::Ply);
    EXPECT_EQ(FormatFromFileName("hill.glb"), ExportFormat::Glb);
    EXPECT_EQ(FormatFromFileName("hill.suf"), ExportFormat::Suf);
    for (const char* none : {"hill", "hill.gltf", ".obj", "dir.obj/hill", "hill.", "-", ""})
        EXPECT_EQ(FormatFromFileName(none), std::nullopt) << none;
    EXPECT_EQ(talorin::FormatFromName("STL"), std::nullopt);
    EXPECT_EQ(talorin::FormatFromName("stl"), ExportFormat::Stl);
}

class ExportSave : public ::testing::Test, public testsupport::TempFolder {
  protected:
    ExportSave() : TempFolder("talorin-export") {}
    void SetUp() override { fs::create_directories(m_dir / "img"); }
};

TEST_F(ExportSave, ObjGetsAMaterialNamingTheImageFromItsFolder) {
    const TerrainMesh m = Grid(2, 100, [](double, double) { return 1; });
    ASSERT_NO_THROW(talorin::SaveMeshExport(ExportFormat::Obj, path("Hill.obj"), m,
                                            {path("img/hill map.bmp"), nullptr}));
    EXPECT_EQ(listing(), (std::vector<std::string>{"Hill.mtl", "Hill.obj", "img"}));
    const ReadMesh obj = ReadObj(ReadFile(path("Hill.obj")));
    EXPECT_EQ(obj.mtllib, "Hill.mtl");
    const std::string mtl = ReadFile(path("Hill.mtl"));
    EXPECT_NE(mtl.find("\nnewmtl BodyM\n"), std::string::npos) << mtl;
    EXPECT_NE(mtl.find("\nmap_Kd img/hill map.bmp\n"), std::string::npos) << mtl;
}

TEST_F(ExportSave, EveryFormatReplacesAnOldFileWhole) {
    const TerrainMesh m = Grid(2, 100, [](double, double) { return 1; });
    for (const auto format :
         {ExportFormat::Obj, ExportFormat::Stl, ExportFormat::Ply, ExportFormat::Glb}) {
        const std::string file = path("out" + talorin::FormatExtension(format));
        WriteFile(file, std::string(100000, 'x'));
        ASSERT_NO_THROW(talorin::SaveMeshExport(format, file, m, {}));
        EXPECT_LT(ReadFile(file).size(), 100000u);
        EXPECT_EQ(ReadFile(file).find("xxxx"), std::string::npos);
    }
}

TEST_F(ExportSave, ProgressCountsEveryByteOfEveryFormat) {
    const TerrainMesh m = Grid(40, 100, [](double x, double) { return x; });
    for (const auto format : {ExportFormat::Suf, ExportFormat::Obj, ExportFormat::Stl,
                              ExportFormat::Ply, ExportFormat::Glb}) {
        const std::string file = path("p" + talorin::FormatExtension(format));
        std::uint64_t last = 0;
        talorin::SaveTerrain(format, file, m, {}, [&](std::uint64_t written) { last = written; });
        // An OBJ's count includes its material file.
        const std::uint64_t mtl =
            format == ExportFormat::Obj ? ReadFile(path("p.mtl")).size() : 0;
        EXPECT_EQ(last, ReadFile(file).size() + mtl) << talorin::FormatName(format);
    }
}

TEST_F(ExportSave, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    const TerrainMesh m = Grid(40, 100, [](double x, double) { return x; });
    const std::string file = path("big.stl");
    WriteFile(file, "old contents");
    // Let no file grow beyond 4 KiB, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string failure;
    try {
        talorin::SaveMeshExport(ExportFormat::Stl, file, m, {});
    } catch (const talorin::Error& e) {
        failure = e.kind() == talorin::ErrorKind::Io ? e.what() : "";
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(failure, "ファイル " + file + " に書き込めませんでした: ファイルが大きすぎます");
    EXPECT_EQ(ReadFile(file), "old contents");
    EXPECT_EQ(listing(), (std::vector<std::string>{"big.stl", "img"}));
}

TEST_F(ExportSave, AMeshTheFormatCannotHoldIsRefusedBeforeTheOldFileIsTouched) {
    const std::string file = path("empty.glb");
    WriteFile(file, "old contents");
    try {
        talorin::SaveMeshExport(ExportFormat::Glb, file, TerrainMesh{}, {});
        ADD_FAILURE() << "saved";
    } catch (const talorin::Error& e) { // shown to the user as it stands: Japanese
        EXPECT_STREQ(e.what(), "glb 形式では書けません: 地形に三角形がありません");
    }
    EXPECT_EQ(ReadFile(file), "old contents");
    EXPECT_EQ(listing(), (std::vector<std::string>{"empty.glb", "img"}));
}

// A mesh whose lists point outside themselves would be read out of bounds by
// every writer: it is refused before any file is touched, in every format.
TEST_F(ExportSave, BrokenIndexListsAreRefusedBeforeAnythingIsWritten) {
    TerrainMesh outside = Pyramid(1);
    outside.Indices[1] = std::uint32_t(outside.Vertices.size());
    TerrainMesh cutShort = Pyramid(1);
    cutShort.Starts.back() += 1;
    const char* const names[] = {"old.obj", "old.stl", "old.ply", "old.glb"};
    const ExportFormat formats[] = {ExportFormat::Obj, ExportFormat::Stl, ExportFormat::Ply,
                                    ExportFormat::Glb};
    for (const TerrainMesh* mesh : {&outside, &cutShort})
        for (int f = 0; f < 4; ++f) {
            const std::string file = path(names[f]);
            WriteFile(file, "old contents");
            try {
                talorin::SaveMeshExport(formats[f], file, *mesh, {});
                ADD_FAILURE() << names[f] << " accepted";
            } catch (const talorin::Error& e) {
                EXPECT_EQ(e.kind(), talorin::ErrorKind::BadInput) << names[f];
            }
            EXPECT_THROW(talorin::WriteMeshExport(-1, "standard output", formats[f], *mesh, {}),
                         talorin::Error)
                << names[f];
            EXPECT_EQ(ReadFile(file), "old contents") << names[f];
        }
    EXPECT_EQ(listing(),
              (std::vector<std::string>{"img", "old.glb", "old.obj", "old.ply", "old.stl"}));
}

TEST_F(ExportSave, AMissingFolderIsReported) {
    const TerrainMesh m = Pyramid(1);
    try {
        talorin::SaveMeshExport(ExportFormat::Ply, path("no/such.ply"), m, {});
        ADD_FAILURE() << "saved";
    } catch (const talorin::Error& e) {
        EXPECT_NE(std::string(e.what()).find("フォルダーが見つかりません"), std::string::npos);
    }
}

// The validator's report, and whether it found neither errors nor warnings.
std::pair<std::string, bool> Validate(const std::string& file) {
    const std::string tools = TALORIN_TOOLS_DIR;
    if (!fs::exists(tools + "/node_modules/gltf-validator"))
        return {"gltf-validator is not installed in " + tools + " (npm install --prefix " + tools +
                    " gltf-validator)",
                false};
    const std::string command =
        "node '" TALORIN_TEST_SCRIPTS_DIR "/validate_gltf.js' '" + tools + "' '" + file + "' 2>&1";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return {"cannot run node", false};
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        out.append(buffer, n);
    return {out, ::pclose(pipe) == 0};
}

TEST_F(ExportSave, GlbPassesTheGltfValidator) {
    Bitmap image(5, 3);
    image.setPixel(4, 2, {255, 128, 0});
    struct Case {
        const char* name;
        TerrainMesh mesh;
        bool texture;
    };
    const auto hill = [](double x, double y) { return 300 * std::exp(-(x * x + y * y) / 1e5); };
    TerrainMesh plain = Grid(8, 1000, hill, vesk::kPoly);
    const std::vector<Case> cases = {
        {"textured.glb", Grid(8, 1000, hill), true},
        {"uv-without-image.glb", Grid(8, 1000, hill), false},
        {"plain.glb", plain, true},
        {"large.glb", Grid(260, 1000, hill), true}, // uint32 indices
    };
    for (const Case& c : cases) {
        const std::string file = path(c.name);
        ASSERT_NO_THROW(talorin::SaveMeshExport(ExportFormat::Glb, file, c.mesh,
                                                {"", c.texture ? &image : nullptr}));
        const auto [report, clean] = Validate(file);
        EXPECT_TRUE(clean) << c.name << ":\n" << report;
        EXPECT_NE(report.find("errors 0 warnings 0"), std::string::npos) << report;
        RecordProperty(c.name, report.substr(0, report.find('\n')));
    }
}

TEST(OutputMemory, TheBudgetCoversTheSolidTheWriterAndTheView) {
    // Density 16, depth 4: 66049 points and 65536 quads, about 4 MB of mesh.
    const auto image = std::make_shared<const Bitmap>(40, 30);
    talorin::OutputRequest request;
    request.args.Size = 2000;
    request.args.MaxHeight = 500;
    request.args.QuadMode = true;
    request.args.CurveLevel = 1.0;
    request.args.Bitmap = image;
    request.args.Depth = 4;
    request.args.Lattice = talorin::InitMeshLattice(*image, 16);
    request.args.PaMax = 16;
    request.args.WithUV = true;
    talorin::OutputRequest whole = request;
    whole.solidBase = 10;
    whole.format = ExportFormat::Glb;
    whole.viewShare = std::uint64_t{1} << 30;
    const auto outOfMemory = [](const talorin::OutputRequest& r) {
        int reports = 0;
        try {
            talorin::GenerateOutput(r, [&](std::uint64_t, std::uint64_t) { return ++reports, true; });
        } catch (const talorin::Error& e) {
            // Refused before the run starts.
            return e.kind() == talorin::ErrorKind::OutOfMemory && reports == 0;
        }
        return false;
    };
    // The generator alone fits 12 MB; the whole run does not, whether the
    // budget or the memory the system has left is short.
    vesk::SetMemoryBudget(12 << 20);
    EXPECT_FALSE(outOfMemory(request));
    EXPECT_TRUE(outOfMemory(whole));
    vesk::SetMemoryBudget(std::size_t{1} << 40);
    vesk::SetAvailableMemorySource([] { return std::size_t{20} << 20; });
    EXPECT_FALSE(outOfMemory(request));
    EXPECT_TRUE(outOfMemory(whole));
    // A format chosen after generating: the .suf writer's lines do not fit
    // beside the mesh, STL's buffers do.
    vesk::SetAvailableMemorySource({});
    vesk::SetMemoryBudget(12 << 20);
    const TerrainMesh mesh = talorin::GenerateOutput(request);
    EXPECT_NO_THROW(talorin::CheckSaveMemory(ExportFormat::Stl, mesh, {}, 0));
    EXPECT_THROW(talorin::CheckSaveMemory(ExportFormat::Suf, mesh, {}, 0), talorin::Error);
    vesk::SetMemoryBudget(0);
}

} // namespace
