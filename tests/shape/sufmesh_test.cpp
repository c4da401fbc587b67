#include "shape/sufmesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "terrain/terrain.h"
#include "base/sjis.h"
#include "shape/suf.h"
#include "tests/support/images.h"
#include "tests/support/sampleheight.h"

using namespace talorin;
namespace fs = std::filesystem;

namespace {

struct FreeShape {
    void operator()(vesk::TVESK_Object* object) const { vesk::FreeSuf(object); }
};
using Shape = std::unique_ptr<vesk::TVESK_Object, FreeShape>;

// The text of the Io error that save throws; empty when it succeeds.
std::string IoFailure(const std::function<void()>& save) {
    try {
        save();
        return {};
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Io) << e.what();
        return e.what();
    }
}

// The text of the shape model's writer over the same terrain.
std::string ModelText(const TerrainMesh& mesh) {
    const Shape shape(MeshToShape(mesh));
    return vesk::SufText(shape.get());
}

Bitmap Speckled(int width, int height) {
    return testsupport::Speckled(width, height, 987654321);
}

Talorin_Args Args(const Bitmap& image, int paMax, int depth, bool quads, bool uv, bool shade) {
    Talorin_Args args;
    args.Size = 2000;
    args.MaxHeight = 433.3;
    args.QuadMode = quads;
    args.ShapeMode = 2;
    args.CurveLevel = 2.7;
    args.Bitmap = Borrowed(image);
    args.Depth = depth;
    args.ObjName = "\x8e\x52"; // 山 in CP932
    args.AtrName = "BodyM";
    args.Lattice = InitMeshLattice(image, paMax);
    args.PaMax = paMax;
    args.WithUV = uv;
    args.WithShade = shade;
    return args;
}

// A hand-made mesh of two triangles sharing an edge, with vertex numbers
// in no particular order.
TerrainMesh TwoTriangles(std::uint8_t kind) {
    TerrainMesh mesh;
    mesh.ObjName = "hill";
    mesh.AtrName = "BodyM";
    mesh.Kind = kind;
    mesh.QuadMode = false;
    mesh.Vertices = {{1000, 0, 12.5, 127.5, 0},
                     {0, 0, 0, 0, 0},
                     {0, 1000, 250, 0, 127.5},
                     {-0.25, 2000.0 / 3, 1e15, 5e-5, 1.5e20}};
    mesh.Indices = {2, 0, 1, 3, 0, 2};
    mesh.Starts = {0, 3, 6};
    return mesh;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(SufMeshText, WorkedExampleAndNumberForms) {
    const std::string expected = "obj suf hill {\r\n"
                                 "atr BodyM\r\n"
                                 "prim uvpoly (\r\n"
                                 "    0 1000 250  0 127.5\r\n"
                                 "    1000 0 12.5  127.5 0\r\n"
                                 "    0 0 0  0 0\r\n"
                                 ")\r\n"
                                 "prim uvpoly (\r\n"
                                 "    -0.25 666.666666666667 1E15  5E-5 1.5E20\r\n"
                                 "    1000 0 12.5  127.5 0\r\n"
                                 "    0 1000 250  0 127.5\r\n"
                                 ")\r\n"
                                 "}\r\n";
    EXPECT_EQ(SufMeshText(TwoTriangles(vesk::kUvPoly)), expected);
}

TEST(SufMeshText, EveryKindWritesItsGroupsWithZeroNormals) {
    const std::string lines[4] = {"    0 1000 250\r\n", "    0 1000 250  0 0 0\r\n",
                                  "    0 1000 250  0 127.5\r\n",
                                  "    0 1000 250  0 0 0  0 127.5\r\n"};
    const char* prims[4] = {"prim poly (", "prim shade (", "prim uvpoly (", "prim uvshade ("};
    for (std::uint8_t kind = 0; kind < 4; ++kind) {
        const std::string text = SufMeshText(TwoTriangles(kind));
        EXPECT_NE(text.find(std::string("atr BodyM\r\n") + prims[kind] + "\r\n" + lines[kind]),
                  std::string::npos)
            << int(kind);
        EXPECT_EQ(text, ModelText(TwoTriangles(kind))) << int(kind);
    }
    // A kind beyond the four is written as the reader would take it, as poly.
    EXPECT_EQ(SufMeshText(TwoTriangles(7)), SufMeshText(TwoTriangles(vesk::kPoly)));
}

TEST(SufMeshText, MeshWithoutPolygonsIsAnEmptyObject) {
    TerrainMesh mesh;
    mesh.ObjName = "empty";
    EXPECT_EQ(SufMeshText(mesh), "obj suf empty {\r\n}\r\n");
    EXPECT_EQ(SufMeshText(mesh), ModelText(mesh));
}

TEST(SufMeshText, HugeNamesSpanTheBuffer) {
    TerrainMesh mesh = TwoTriangles(vesk::kPoly);
    mesh.ObjName.assign(3'000'000, 'o');
    mesh.AtrName.assign(700'000, 'a');
    EXPECT_EQ(SufMeshText(mesh), ModelText(mesh));
}

// The shape model's writer and the mesh writer agree byte for byte on
// generated terrains of every kind, quads and triangles, uniform and edited
// lattices; the larger ones are formatted on two threads.
TEST(SufMeshText, SameBytesAsTheModelWriterOnGeneratedTerrains) {
    const Bitmap image = Speckled(97, 61);
    for (const bool quads : {true, false})
        for (const bool uv : {false, true})
            for (const bool shade : {false, true})
                for (const bool edited : {false, true}) {
                    Talorin_Args args = Args(image, 6, quads ? 3 : 2, quads, uv, shade);
                    if (edited) {
                        AdjustMeshDensity(args.Lattice, 6, 80, 90, kLeftButton, 233.0 / 97,
                                          233.0 / 61);
                        AdjustMeshDensity(args.Lattice, 6, 30, 200, kRightButton, 233.0 / 97,
                                          233.0 / 61);
                    }
                    const TerrainMesh mesh = GenerateTerrainMesh(args);
                    EXPECT_EQ(SufMeshText(mesh), ModelText(mesh)) << quads << uv << shade << edited;
                }
    for (const bool quads : {true, false}) {
        const TerrainMesh mesh =
            GenerateTerrainMesh(Args(image, 16, quads ? 5 : 4, quads, true, true));
        ASSERT_GT(mesh.Vertices.size(), 16384u);
        const std::string text = SufMeshText(mesh);
        EXPECT_TRUE(text == ModelText(mesh)) << "quads " << quads;
    }
}

class SufMeshSave : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "sufmesh-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

TEST_F(SufMeshSave, FileHoldsTheTextAndAFailureNamesTheFile) {
    const Bitmap image = Speckled(33, 33);
    const TerrainMesh mesh = GenerateTerrainMesh(Args(image, 4, 2, false, true, false));
    const fs::path file = m_dir / "out.suf";
    std::ofstream(file) << "old";
    ASSERT_NO_THROW(SaveSufMesh(file.string(), mesh));
    EXPECT_EQ(ReadFile(file), SufMeshText(mesh));

    const fs::path missing = m_dir / "missing" / "out.suf";
    EXPECT_EQ(IoFailure([&] { SaveSufMesh(missing.string(), mesh); }),
              "ファイル " + missing.string() +
                  " に書き込めませんでした: フォルダーが見つかりません");
    EXPECT_FALSE(fs::exists(missing.parent_path()));
}

// A long save tells how far it has come: the counts rise to the file's size.
TEST_F(SufMeshSave, CountsTheBytesAsTheyAreWritten) {
    const Bitmap image = Speckled(129, 129);
    const TerrainMesh mesh = GenerateTerrainMesh(Args(image, 16, 4, true, true, true));
    const fs::path file = m_dir / "counted.suf";
    std::vector<std::uint64_t> counts;
    SaveSufMesh(file.string(), mesh, [&](std::uint64_t written) { counts.push_back(written); });
    const std::string text = SufMeshText(mesh);
    EXPECT_EQ(ReadFile(file), text);
    ASSERT_GE(counts.size(), 2u); // more than one chunk of several MiB
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
    EXPECT_EQ(std::adjacent_find(counts.begin(), counts.end()), counts.end());
    EXPECT_EQ(counts.back(), text.size());
}

TEST(WriteSufMesh, StreamsTheSameBytesAndReportsAFailedWrite) {
    const Bitmap image = Speckled(33, 33);
    const TerrainMesh mesh = GenerateTerrainMesh(Args(image, 4, 2, true, true, true));
    const std::string expected = SufMeshText(mesh);
    const fs::path file = fs::temp_directory_path() / ("sufmesh-fd-" + std::to_string(getpid()));
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_NO_THROW(WriteSufMesh(fd, "file", mesh));
    ::close(fd);
    EXPECT_EQ(ReadFile(file), expected);
    fs::remove(file);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    close(fds[1]);
    EXPECT_NE(
        IoFailure([&] { WriteSufMesh(fds[1], "standard output", mesh); }).find("standard output"),
        std::string::npos);
}

TEST_F(SufMeshSave, LinesThatDoNotFitIntoMemoryFailTheSaveAndKeepTheOldFile) {
    const Bitmap image = Speckled(33, 33);
    const TerrainMesh mesh = GenerateTerrainMesh(Args(image, 4, 3, true, true, false));
    const fs::path file = m_dir / "kept.suf";
    std::ofstream(file) << "old";
    vesk::SetAvailableMemorySource([] { return std::size_t{10000}; });
    const std::string failure = IoFailure([&] { SaveSufMesh(file.string(), mesh); });
    vesk::SetAvailableMemorySource({});
    EXPECT_NE(failure.find("メモリーが足りません"), std::string::npos);
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(fs::directory_iterator(m_dir)->path(), file); // no temporary left
    EXPECT_NO_THROW(SaveSufMesh(file.string(), mesh));
}

TEST(WriteSufMesh, ReaderGoingAwayHalfwayFailsTheWriteWithoutHanging) {
    const Bitmap image = Speckled(65, 65);
    const TerrainMesh mesh = GenerateTerrainMesh(Args(image, 16, 4, true, true, false));
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::size_t taken = 0;
    std::thread reader([&] { // takes a few MiB of the ~16 MB, then goes away
        char buffer[65536];
        for (ssize_t n;
             taken < (std::size_t{3} << 20) && (n = read(fds[0], buffer, sizeof buffer)) > 0;)
            taken += std::size_t(n);
        close(fds[0]);
    });
    const std::string failure = IoFailure([&] { WriteSufMesh(fds[1], "pipe", mesh); });
    reader.join();
    close(fds[1]);
    std::signal(SIGPIPE, previous);
    EXPECT_GE(taken, std::size_t{3} << 20);
    EXPECT_NE(failure.find("pipe に書き込めませんでした"), std::string::npos);
}

TEST_F(SufMeshSave, InconsistentMeshIsRefusedBeforeAnythingIsWritten) {
    const fs::path file = m_dir / "kept.suf";
    std::ofstream(file) << "old";
    TerrainMesh outside = TwoTriangles(vesk::kPoly);
    outside.Indices[4] = 4; // one past the last vertex
    TerrainMesh beyond = TwoTriangles(vesk::kPoly);
    beyond.Starts.back() = 7; // past the end of Indices
    TerrainMesh falling = TwoTriangles(vesk::kPoly);
    falling.Starts = {0, 4, 3, 6};
    TerrainMesh noStarts = TwoTriangles(vesk::kPoly);
    noStarts.Starts.clear();
    for (const TerrainMesh* mesh : {&outside, &beyond, &falling, &noStarts}) {
        try {
            SaveSufMesh(file.string(), *mesh);
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), ErrorKind::BadInput);
        }
        EXPECT_THROW(SufMeshText(*mesh), Error);
        EXPECT_THROW(WriteSufMesh(1, "standard output", *mesh), Error);
    }
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(fs::directory_iterator(m_dir)->path(), file);
}
