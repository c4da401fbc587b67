// The exporters read back: positions under each format's frame, texture
// coordinates, normals, polygons and names, by strict readers of our own and
// by an independent library.

#include "tests/export/exporttest.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include "export/glbwriter.h"
#include "export/objwriter.h"
#include "export/plywriter.h"
#include "export/stlwriter.h"
#include "base/error.h"
#include "export/exportbytes.h"

#include <charconv>
#include <limits>
#include <random>

namespace {

using namespace exporttest;
using talorin::Bitmap;

std::string Stl(const TerrainMesh& m) {
    return Collect([&](const auto& sink) { talorin::WriteStl(m, sink); });
}
std::string Ply(const TerrainMesh& m) {
    return Collect([&](const auto& sink) { talorin::WritePly(m, sink); });
}
std::string Obj(const TerrainMesh& m, const std::string& mtl = "") {
    return Collect([&](const auto& sink) { talorin::WriteObj(m, mtl, sink); });
}
std::string Glb(const TerrainMesh& m, const Bitmap* image = nullptr) {
    return Collect([&](const auto& sink) { talorin::WriteGlb(m, image, sink); });
}

// A hill whose slopes differ in every direction, so that a mirrored or
// rotated export cannot match by symmetry.
TerrainMesh Slope() {
    return Grid(3, 600, [](double x, double y) { return 100 + 0.25 * x + 0.5 * y; });
}

// The Z-up frame: (suf y, -suf x, suf z).
P3 ZUp(const MeshVertex& v) {
    return {double(float(v.Y)), double(float(-v.X)), double(float(v.Z))};
}

TEST(Exporters, StlKeepsEveryTriangleInTheZUpFrame) {
    const TerrainMesh m = Slope();
    const std::string bytes = Stl(m);
    EXPECT_NE(bytes.substr(0, 5), "solid");
    const ReadMesh r = ReadStl(bytes);
    ASSERT_EQ(r.faces.size(), 18u); // nine quads, two triangles each
    EXPECT_EQ(r.positions.size(), 16u);
    // The first quad (0, 4, 5, 1) splits into (0, 4, 5) and (0, 5, 1).
    EXPECT_EQ(r.positions[r.faces[0][0]], ZUp(m.Vertices[0]));
    EXPECT_EQ(r.positions[r.faces[0][1]], ZUp(m.Vertices[4]));
    EXPECT_EQ(r.positions[r.faces[0][2]], ZUp(m.Vertices[5]));
    EXPECT_EQ(r.positions[r.faces[1][2]], ZUp(m.Vertices[1]));
    // The top left of the image (suf -300, -300) lies at the left, top of the
    // view from above: x = -300, y = +300.
    EXPECT_EQ(ZUp(m.Vertices[0]), (P3{-300, 300, 100 - 75 - 150}));
    for (std::size_t t = 0; t < r.faces.size(); ++t) {
        const P3& n = r.faceNormals[t];
        EXPECT_NEAR(Length(n), 1, 1e-6);
        // The plane z = 100 + 0.25 (-y) + 0.5 x has the upward normal (-0.5, 0.25, 1).
        EXPECT_NEAR(n[0], -0.5 / std::sqrt(1.3125), 1e-6);
        EXPECT_NEAR(n[1], 0.25 / std::sqrt(1.3125), 1e-6);
        EXPECT_GT(n[2], 0);
    }
}

TEST(Exporters, PlyHoldsWeldedVerticesUvAndQuads) {
    const TerrainMesh m = Slope();
    const ReadMesh r = ReadPly(Ply(m), true);
    ASSERT_EQ(r.positions.size(), m.Vertices.size());
    ASSERT_EQ(r.faces.size(), 9u);
    for (std::size_t i = 0; i < m.Vertices.size(); ++i) {
        EXPECT_EQ(r.positions[i], ZUp(m.Vertices[i]));
        EXPECT_NEAR(Length(r.normals[i]), 1, 1e-6);
        EXPECT_NEAR(r.normals[i][0], -0.5 / std::sqrt(1.3125), 1e-6) << i;
        EXPECT_GT(r.normals[i][2], 0.8);
        // Origin at the bottom left: the image's top row has t = 1.
        EXPECT_FLOAT_EQ(r.uv[i][0], m.Vertices[i].U / 255);
        EXPECT_FLOAT_EQ(r.uv[i][1], 1 - m.Vertices[i].V / 255);
    }
    EXPECT_FLOAT_EQ(r.uv[0][1], 1);
    EXPECT_FLOAT_EQ(r.uv[3][0], 1);
    EXPECT_EQ(r.faces[0], (std::vector<std::uint32_t>{0, 4, 5, 1}));
    EXPECT_EQ(r.object, "hill");
    EXPECT_EQ(r.material, "BodyM");

    TerrainMesh plain = m;
    plain.Kind = vesk::kPoly;
    const ReadMesh p = ReadPly(Ply(plain), false);
    EXPECT_EQ(p.positions, r.positions);
    EXPECT_TRUE(p.uv.empty());
}

TEST(Exporters, ObjWritesShortestRoundTripNumbersInTheYUpFrame) {
    TerrainMesh m = Slope();
    m.Vertices[5].Z = 0.1 + 0.2; // 0.30000000000000004: needs all 17 digits
    m.Vertices[6].Z = 1.0 / 3;
    const std::string text = Obj(m, "hill.mtl");
    const ReadMesh r = ReadObj(text);
    ASSERT_EQ(r.positions.size(), m.Vertices.size());
    for (std::size_t i = 0; i < m.Vertices.size(); ++i) {
        const MeshVertex& v = m.Vertices[i];
        EXPECT_EQ(r.positions[i], (P3{v.Y, v.Z, v.X})) << i;
        EXPECT_EQ(r.uv[i][0], v.U / 255);
        EXPECT_EQ(r.uv[i][1], 1 - v.V / 255);
        EXPECT_NEAR(Length(r.normals[i]), 1, 1e-12);
        EXPECT_GT(r.normals[i][1], 0.5); // Y is up
    }
    EXPECT_NE(text.find("\nv -300 -125 -300\n"), std::string::npos) << text.substr(0, 200);
    EXPECT_NE(text.find("\nv -100 0.30000000000000004 -100\n"), std::string::npos);
    EXPECT_NE(text.find("\nf 1/1/1 5/5/5 6/6/6 2/2/2\n"), std::string::npos);
    EXPECT_EQ(r.mtllib, "hill.mtl");
    EXPECT_EQ(r.object, "hill");
    EXPECT_EQ(r.material, "BodyM");

    m.Kind = vesk::kPoly;
    const std::string plain = Obj(m);
    EXPECT_EQ(plain.find("vt "), std::string::npos);
    EXPECT_EQ(plain.find("mtllib"), std::string::npos);
    EXPECT_NE(plain.find("\nf 1//1 5//5 6//6 2//2\n"), std::string::npos);
}

// The OBJ writer's own formatter must give the library's bytes for every
// double: random bit patterns, whole numbers past 2^53 (written in full),
// powers of ten and their neighbours (where fixed and scientific trade
// places), subnormals and the special values.
TEST(Exporters, ShortestTextIsTheLibrarysText) {
    std::mt19937_64 random(24);
    std::vector<double> values = {0.0, -0.0, 5e-324, 1e23, 9007199254740993.0 * 1024,
                                  std::numeric_limits<double>::infinity(), std::nan("")};
    for (int k = 0; k < 300000; ++k) {
        const std::uint64_t bits = random();
        values.push_back(std::bit_cast<double>(bits));
        values.push_back(std::ldexp(double(bits >> 11), int(bits % 160) - 100));
    }
    for (int e = -325; e <= 308; ++e)
        for (const double p : {std::pow(10.0, e), 3 * std::pow(10.0, e)})
            values.insert(values.end(), {p, std::nextafter(p, 0.0), std::nextafter(p, 1e308)});
    for (const double v : values) {
        char expected[64], actual[64];
        const auto length = std::size_t(std::to_chars(expected, expected + 64, v).ptr - expected);
        ASSERT_EQ(std::string(actual, talorin::ShortestText(v, actual)),
                  std::string(expected, length));
    }
}

TEST(Exporters, FacesStayCounterClockwiseSeenFromAbove) {
    // Winding read back in each frame: the signed area of every face in the
    // plane across the up axis must be positive.
    const TerrainMesh m = Grid(4, 100, [](double x, double y) { return std::sin(x / 20) * y; });
    const auto area = [](const ReadMesh& r, int a, int b) {
        double sum = 0;
        for (const auto& f : r.faces)
            for (std::size_t i = 0; i < f.size(); ++i) {
                const P3& p = r.positions[f[i]];
                const P3& q = r.positions[f[(i + 1) % f.size()]];
                sum += p[a] * q[b] - p[b] * q[a];
            }
        return sum;
    };
    // Z up: x right, y up. Y up: seen from +Y, the right-handed plane is (z, x).
    const ReadMesh stl = ReadStl(Stl(m)), ply = ReadPly(Ply(m), true), obj = ReadObj(Obj(m));
    for (const auto* r : {&stl, &ply})
        for (const auto& f : r->faces) {
            ReadMesh one = *r;
            one.faces = {f};
            EXPECT_GT(area(one, 0, 1), 0);
        }
    for (const auto& f : obj.faces) {
        ReadMesh one = obj;
        one.faces = {f};
        EXPECT_GT(area(one, 2, 0), 0);
    }
}

TEST(Exporters, PolygonsOfManyCornersStayWholeInObjAndFanInStlAndPly) {
    // A disc of n corners around the origin, counter-clockwise.
    for (const int n : {5, 300}) {
        TerrainMesh m;
        m.Kind = vesk::kPoly;
        for (int i = 0; i < n; ++i) {
            const double a = 2 * M_PI * i / n;
            m.Vertices.push_back({std::cos(a), std::sin(a), 1, 0, 0});
            m.Indices.push_back(std::uint32_t(i));
        }
        m.Starts.push_back(std::uint32_t(n));
        EXPECT_EQ(ReadObj(Obj(m)).faces.at(0).size(), std::size_t(n));
        EXPECT_EQ(ReadStl(Stl(m)).faces.size(), std::size_t(n - 2));
        const ReadMesh ply = ReadPly(Ply(m), false);
        // A uchar count holds 255 corners at most.
        EXPECT_EQ(ply.faces.size(), n > 255 ? std::size_t(n - 2) : 1u);
        for (const auto& f : ply.faces)
            EXPECT_LE(f.size(), 255u);
    }
}

TEST(Exporters, NamesReachTheFilesAsUtf8OnOneLine) {
    TerrainMesh m = Slope();
    m.ObjName = "\x8E\x52";         // 山 in CP932
    m.AtrName = "a\r\nusemtl evil"; // a line break must not start a new statement
    const ReadMesh obj = ReadObj(Obj(m));
    EXPECT_EQ(obj.object, "山");
    EXPECT_EQ(obj.material, "a__usemtl evil");
    const ReadMesh ply = ReadPly(Ply(m), true);
    EXPECT_EQ(ply.object, "山");
    const std::string glb = Glb(m);
    EXPECT_NE(glb.find("\"name\":\"山\""), std::string::npos);
    EXPECT_NE(glb.find("\"name\":\"a__usemtl evil\""), std::string::npos);
}

// glb read by the independent importer.
const aiMesh* ImportGlb(Assimp::Importer& importer, const std::string& bytes) {
    const aiScene* scene = importer.ReadFileFromMemory(bytes.data(), bytes.size(), 0, "glb");
    EXPECT_NE(scene, nullptr) << importer.GetErrorString();
    if (!scene || scene->mNumMeshes != 1) {
        ADD_FAILURE() << "one mesh expected";
        return nullptr;
    }
    return scene->mMeshes[0];
}

TEST(Exporters, GlbReadsBackWithItsTextureAndEitherIndexSize) {
    Bitmap image(4, 2);
    image.setPixel(3, 1, {250, 10, 20});
    for (const int cells : {3, 300}) { // 16 vertices: uint16 indices; 90601: uint32
        const TerrainMesh m =
            Grid(cells, 600, [](double x, double y) { return 100 + 0.25 * x + 0.5 * y; });
        const std::string bytes = Glb(m, &image);
        ASSERT_EQ(bytes.size() % 4, 0u);
        EXPECT_EQ(Le32(bytes, 8), bytes.size());
        const bool shortIndices = m.Vertices.size() <= 65535;
        EXPECT_NE(bytes.find(shortIndices ? "\"componentType\":5123" : "\"componentType\":5125"),
                  std::string::npos);
        EXPECT_NE(bytes.find("\"generator\":\"Talorin 1.0\""), std::string::npos);
        Assimp::Importer importer;
        const aiMesh* mesh = ImportGlb(importer, bytes);
        ASSERT_NE(mesh, nullptr);
        ASSERT_EQ(mesh->mNumVertices, m.Vertices.size());
        ASSERT_EQ(mesh->mNumFaces, std::size_t(2 * cells * cells));
        for (unsigned i = 0; i < mesh->mNumVertices; i += 97) {
            const MeshVertex& v = m.Vertices[i];
            EXPECT_EQ(mesh->mVertices[i].x, float(v.Y));
            EXPECT_EQ(mesh->mVertices[i].y, float(v.Z));
            EXPECT_EQ(mesh->mVertices[i].z, float(v.X));
            EXPECT_NEAR(mesh->mNormals[i].Length(), 1, 1e-6);
            EXPECT_GT(mesh->mNormals[i].y, 0.8);
            // glTF has its origin at the top left; the importer turns it to
            // the bottom left.
            EXPECT_FLOAT_EQ(mesh->mTextureCoords[0][i].x, float(v.U / 255));
            EXPECT_NEAR(mesh->mTextureCoords[0][i].y, 1 - float(v.V / 255), 1e-6);
        }
        const aiFace& f = mesh->mFaces[1];
        ASSERT_EQ(f.mNumIndices, 3u);
        EXPECT_EQ(f.mIndices[0], 0u);
        EXPECT_EQ(f.mIndices[1], std::uint32_t(cells + 2));
        EXPECT_EQ(f.mIndices[2], 1u);
        const aiScene* scene = importer.GetScene();
        ASSERT_EQ(scene->mNumTextures, 1u); // the embedded image
        EXPECT_EQ(std::string(scene->mTextures[0]->achFormatHint), "png");
    }
}

TEST(Exporters, GlbBoundsReadBackAsTheStoredFloats) {
    // The validator compares min/max with the float32 data exactly: the text
    // must give the double of the stored float, not the shorter float text.
    TerrainMesh m = Slope();
    m.Vertices[5].Z = 1e5 + 1.0 / 3;
    m.Vertices[6].Z = -1000.1;
    const std::string glb = Glb(m);
    const auto middle = [&](const char* key) { // the y bound: height is y in glTF
        const std::size_t at = glb.find(key);
        EXPECT_NE(at, std::string::npos) << key;
        return std::strtod(glb.c_str() + glb.find(',', at) + 1, nullptr);
    };
    EXPECT_EQ(middle("\"min\":["), double(float(-1000.1)));
    EXPECT_EQ(middle("\"max\":["), double(float(1e5 + 1.0 / 3)));
}

TEST(Exporters, GlbRefusesWhatItCannotHold) {
    TerrainMesh empty;
    EXPECT_THROW(Glb(empty), talorin::Error);
    TerrainMesh far = Slope();
    far.Vertices[2].Z = 1e300; // beyond float32
    EXPECT_THROW(Glb(far), talorin::Error);
}

} // namespace
