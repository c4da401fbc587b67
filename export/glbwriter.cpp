#include "export/glbwriter.h"

#include <charconv>
#include <cmath>
#include <future>
#include <limits>
#include <string>

#include "export/exportbytes.h"
#include "image/pngencode.h"
#include "base/error.h"
#include "base/slices.h"

namespace talorin {

namespace {

constexpr std::uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr std::uint32_t kJsonChunk = 0x4E4F534A; // "JSON"
constexpr std::uint32_t kBinChunk = 0x004E4942;  // "BIN\0"
constexpr int kFloat = 5126, kUnsignedShort = 5123, kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;

std::uint64_t Pad4(std::uint64_t n) {
    return (n + 3) & ~std::uint64_t(3);
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out + '"';
}

std::string JsonNumber(double v) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

// One accessor's slice of the binary chunk.
struct View {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

} // namespace

void WriteGlb(const TerrainMesh& mesh, const Bitmap* texture, const vesk::ByteSink& sink) {
    const std::uint64_t triangles = TriangleCount(mesh);
    if (triangles == 0)
        throw Error("glb 形式では書けません: 地形に三角形がありません");
    const bool uv = HasUv(mesh);
    const std::size_t vertexCount = mesh.Vertices.size();
    // 65535 is the restart marker, which no index may use.
    const bool shortIndices = vertexCount <= 65535;
    const std::uint64_t indexSize = shortIndices ? 2 : 4;

    // The texture is encoded on another thread while the bounds and the
    // normals are found.
    std::future<std::string> pngText;
    if (uv && texture && !texture->empty()) {
        pngText = vesk::StartAsync([texture] { return EncodePng(*texture); });
    }

    // The positions as they are stored, for the accessor's bounds.
    float lo[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                   std::numeric_limits<float>::max()};
    float hi[3] = {-lo[0], -lo[1], -lo[2]};
    for (const MeshVertex& v : mesh.Vertices) {
        const Vec3 p = ToYUp(PositionOf(v));
        const double coordinates[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k) {
            const float f = float(coordinates[k]);
            if (!std::isfinite(f))
                throw Error("glb 形式では書けません: "
                            "地形に 32 ビット浮動小数点数の範囲を超える点があります");
            lo[k] = std::min(lo[k], f);
            hi[k] = std::max(hi[k], f);
        }
    }

    const std::vector<Vec3> normals = VertexNormals(mesh);
    const std::string png = pngText.valid() ? pngText.get() : "";

    // The binary chunk: positions, normals, texture coordinates, indices, image,
    // each slice starting on a 4-byte boundary.
    View positions{0, std::uint64_t(vertexCount) * 12};
    View normalsView{positions.offset + positions.length, std::uint64_t(vertexCount) * 12};
    View texcoords{normalsView.offset + normalsView.length,
                   uv ? std::uint64_t(vertexCount) * 8 : 0};
    View indices{texcoords.offset + texcoords.length, triangles * 3 * indexSize};
    View image{Pad4(indices.offset + indices.length), png.size()};
    const std::uint64_t bufferLength =
        png.empty() ? indices.offset + indices.length : image.offset + image.length;
    const std::uint64_t binLength = Pad4(bufferLength);

    std::string json = "{\"asset\":{\"generator\":\"Talorin " TALORIN_VERSION
                       "\",\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],"
                       "\"nodes\":[{\"mesh\":0,\"name\":" +
                       JsonString(NameForExport(mesh.ObjName)) +
                       "}],\"meshes\":[{\"name\":" + JsonString(NameForExport(mesh.ObjName)) +
                       ",\"primitives\":[{\"attributes\":{\"POSITION\":0,\"NORMAL\":1";
    if (uv)
        json += ",\"TEXCOORD_0\":2";
    const int indexAccessor = uv ? 3 : 2;
    json += "},\"indices\":" + std::to_string(indexAccessor) + ",\"material\":0,\"mode\":4}]}],";
    json += "\"materials\":[{\"name\":" + JsonString(NameForExport(mesh.AtrName)) +
            ",\"pbrMetallicRoughness\":{";
    if (!png.empty())
        json += "\"baseColorTexture\":{\"index\":0},";
    json += "\"metallicFactor\":0,\"roughnessFactor\":1}}],";
    if (!png.empty())
        json += "\"textures\":[{\"sampler\":0,\"source\":0}],"
                "\"samplers\":[{\"magFilter\":9729,\"minFilter\":9987,\"wrapS\":33071,"
                "\"wrapT\":33071}],"
                "\"images\":[{\"bufferView\":" +
                std::to_string(indexAccessor + 1) + ",\"mimeType\":\"image/png\"}],";

    // Accessors 0.. use buffer views of the same numbers.
    json += "\"accessors\":[";
    json += "{\"bufferView\":0,\"componentType\":" + std::to_string(kFloat) +
            ",\"count\":" + std::to_string(vertexCount) + ",\"type\":\"VEC3\",\"min\":[" +
            JsonNumber(lo[0]) + "," + JsonNumber(lo[1]) + "," + JsonNumber(lo[2]) + "],\"max\":[" +
            JsonNumber(hi[0]) + "," + JsonNumber(hi[1]) + "," + JsonNumber(hi[2]) + "]}";
    json += ",{\"bufferView\":1,\"componentType\":" + std::to_string(kFloat) +
            ",\"count\":" + std::to_string(vertexCount) + ",\"type\":\"VEC3\"}";
    if (uv)
        json += ",{\"bufferView\":2,\"componentType\":" + std::to_string(kFloat) +
                ",\"count\":" + std::to_string(vertexCount) + ",\"type\":\"VEC2\"}";
    json += ",{\"bufferView\":" + std::to_string(indexAccessor) +
            ",\"componentType\":" + std::to_string(shortIndices ? kUnsignedShort : kUnsignedInt) +
            ",\"count\":" + std::to_string(triangles * 3) + ",\"type\":\"SCALAR\"}],";

    json += "\"bufferViews\":[";
    const auto viewJson = [](const View& v, int target) {
        std::string s = "{\"buffer\":0,\"byteOffset\":" + std::to_string(v.offset) +
                        ",\"byteLength\":" + std::to_string(v.length);
        if (target)
            s += ",\"target\":" + std::to_string(target);
        return s + "}";
    };
    json += viewJson(positions, kArrayBuffer);
    json += ',';
    json += viewJson(normalsView, kArrayBuffer);
    if (uv) {
        json += ',';
        json += viewJson(texcoords, kArrayBuffer);
    }
    json += ',';
    json += viewJson(indices, kElementArrayBuffer);
    if (!png.empty()) {
        json += ',';
        json += viewJson(image, 0);
    }
    json += "],\"buffers\":[{\"byteLength\":" + std::to_string(bufferLength) + "}]}";
    json.resize(Pad4(json.size()), ' ');

    const std::uint64_t total = 12 + 8 + json.size() + 8 + binLength;
    if (total > std::numeric_limits<std::uint32_t>::max())
        throw Error("glb 形式では書けません: 地形が大きすぎます (glb ファイルは 4 GiB まで)");

    BufferedSink out(sink);
    out.put32(kGlbMagic);
    out.put32(2);
    out.put32(std::uint32_t(total));
    out.put32(std::uint32_t(json.size()));
    out.put32(kJsonChunk);
    out.write(json);
    out.put32(std::uint32_t(binLength));
    out.put32(kBinChunk);

    for (const MeshVertex& v : mesh.Vertices) {
        StoreFloats(out.claim(12), ToYUp(PositionOf(v)));
    }
    for (const Vec3& n : normals) {
        StoreFloats(out.claim(12), ToYUp(n));
    }
    if (uv)
        for (const MeshVertex& v : mesh.Vertices)
            StoreFloat(StoreFloat(out.claim(8), v.U / 255), v.V / 255);
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p)
        ForEachTriangle(mesh, p, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            if (shortIndices) {
                char* at = out.claim(6);
                for (std::uint32_t i : {a, b, c}) {
                    at[0] = char(i & 0xFF);
                    at[1] = char(i >> 8);
                    at += 2;
                }
            } else {
                char* at = out.claim(12);
                for (std::uint32_t i : {a, b, c})
                    at = StoreLe32(at, i);
            }
        });
    const char zeros[4] = {0, 0, 0, 0};
    if (!png.empty()) {
        out.write(zeros, image.offset - (indices.offset + indices.length));
        out.write(png);
    }
    out.write(zeros, binLength - bufferLength);
    out.flush();
}

} // namespace talorin
