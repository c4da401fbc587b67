#include "export/glbwriter.h"

#include <cmath>
#include <future>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>

#include "base/error.h"
#include "base/slices.h"
#include "export/exportbytes.h"
#include "image/pngencode.h"

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

// One accessor's slice of the binary chunk.
struct View {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

} // namespace

void WriteGlb(const TerrainMesh& mesh, const Bitmap* texture, const vesk::ByteSink& sink) {
    const std::uint64_t triangles = TriangleCount(mesh);
    if (triangles == 0)
        throw Error(Text(Msg::GlbNoTriangles));
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
                throw Error(Text(Msg::GlbOutOfFloat));
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

    // Keys keep the order they are added in, so the chunk reads asset first.
    using Json = nlohmann::ordered_json;
    const std::string objectName = NameForExport(mesh.ObjName);
    const int indexAccessor = uv ? 3 : 2;

    Json attributes = {{"POSITION", 0}, {"NORMAL", 1}};
    if (uv)
        attributes["TEXCOORD_0"] = 2;
    Json pbr = Json::object();
    if (!png.empty())
        pbr["baseColorTexture"] = {{"index", 0}};
    pbr["metallicFactor"] = 0;
    pbr["roughnessFactor"] = 1;

    Json gltf = {
        {"asset", {{"generator", "Talorin " TALORIN_VERSION}, {"version", "2.0"}}},
        {"scene", 0},
        {"scenes", Json::array({{{"nodes", {0}}}})},
        {"nodes", Json::array({{{"mesh", 0}, {"name", objectName}}})},
        {"meshes", Json::array({{{"name", objectName},
                                 {"primitives", Json::array({{{"attributes", attributes},
                                                              {"indices", indexAccessor},
                                                              {"material", 0},
                                                              {"mode", 4}}})}}})},
        {"materials",
         Json::array({{{"name", NameForExport(mesh.AtrName)}, {"pbrMetallicRoughness", pbr}}})},
    };
    if (!png.empty()) {
        gltf["textures"] = Json::array({{{"sampler", 0}, {"source", 0}}});
        gltf["samplers"] = Json::array(
            {{{"magFilter", 9729}, {"minFilter", 9987}, {"wrapS", 33071}, {"wrapT", 33071}}});
        gltf["images"] =
            Json::array({{{"bufferView", indexAccessor + 1}, {"mimeType", "image/png"}}});
    }

    // Accessors 0.. use buffer views of the same numbers. The bounds go out as
    // the doubles of the stored floats, whose round-trip text reads
    // back as exactly those floats, as the validator demands.
    const auto accessor = [](int view, int componentType, std::uint64_t count, const char* type) {
        return Json{{"bufferView", view},
                    {"componentType", componentType},
                    {"count", count},
                    {"type", type}};
    };
    Json accessors = Json::array();
    accessors.push_back(accessor(0, kFloat, vertexCount, "VEC3"));
    accessors.back()["min"] = {double(lo[0]), double(lo[1]), double(lo[2])};
    accessors.back()["max"] = {double(hi[0]), double(hi[1]), double(hi[2])};
    accessors.push_back(accessor(1, kFloat, vertexCount, "VEC3"));
    if (uv)
        accessors.push_back(accessor(2, kFloat, vertexCount, "VEC2"));
    accessors.push_back(accessor(indexAccessor, shortIndices ? kUnsignedShort : kUnsignedInt,
                                 triangles * 3, "SCALAR"));
    gltf["accessors"] = std::move(accessors);

    const auto bufferView = [](const View& v, int target) {
        Json view = {{"buffer", 0}, {"byteOffset", v.offset}, {"byteLength", v.length}};
        if (target)
            view["target"] = target;
        return view;
    };
    Json views = Json::array();
    views.push_back(bufferView(positions, kArrayBuffer));
    views.push_back(bufferView(normalsView, kArrayBuffer));
    if (uv)
        views.push_back(bufferView(texcoords, kArrayBuffer));
    views.push_back(bufferView(indices, kElementArrayBuffer));
    if (!png.empty())
        views.push_back(bufferView(image, 0));
    gltf["bufferViews"] = std::move(views);
    gltf["buffers"] = Json::array({{{"byteLength", bufferLength}}});

    // The names are valid UTF-8 by construction; replace keeps a stray byte
    // from ever turning into a library exception.
    std::string json = gltf.dump(-1, ' ', false, Json::error_handler_t::replace);
    json.resize(Pad4(json.size()), ' ');

    const std::uint64_t total = 12 + 8 + json.size() + 8 + binLength;
    if (total > std::numeric_limits<std::uint32_t>::max())
        throw Error(Text(Msg::GlbTooLarge));

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
