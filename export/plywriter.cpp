#include "export/plywriter.h"

#include <limits>
#include <string>

#include "export/exportbytes.h"
#include "base/error.h"

namespace talorin {

namespace {

constexpr std::size_t kMaxListCorners = 255;

std::uint64_t FaceCount(const TerrainMesh& mesh) {
    std::uint64_t count = 0;
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
        const std::size_t n = mesh.cornerCount(p);
        count += n > kMaxListCorners ? n - 2 : 1;
    }
    return count;
}

} // namespace

void WritePly(const TerrainMesh& mesh, const vesk::ByteSink& sink) {
    if (mesh.Vertices.size() > std::size_t(std::numeric_limits<std::int32_t>::max()))
        throw Error(Text(Msg::PlyTooMany, {std::to_string(mesh.Vertices.size())}));
    CheckFloat32Points(mesh, "PLY");
    const bool uv = HasUv(mesh);
    const std::vector<Vec3> normals = VertexNormals(mesh);

    std::string header = "ply\nformat binary_little_endian 1.0\ncomment Talorin " TALORIN_VERSION
                         "\ncomment object " +
                         NameForExport(mesh.ObjName) + "\ncomment attribute " +
                         NameForExport(mesh.AtrName) + "\nelement vertex " +
                         std::to_string(mesh.Vertices.size()) +
                         "\nproperty float x\nproperty float y\nproperty float z\n"
                         "property float nx\nproperty float ny\nproperty float nz\n";
    if (uv)
        header += "property float s\nproperty float t\n";
    header += "element face " + std::to_string(FaceCount(mesh)) +
              "\nproperty list uchar int vertex_indices\nend_header\n";

    BufferedSink out(sink);
    out.write(header);
    for (std::size_t i = 0; i < mesh.Vertices.size(); ++i) {
        const MeshVertex& v = mesh.Vertices[i];
        const Vec3 p = ToZUp(PositionOf(v));
        const Vec3 n = ToZUp(normals[i]);
        char* at = out.claim(uv ? 32 : 24);
        at = StoreFloats(StoreFloats(at, p), n);
        if (uv) {
            at = StoreFloat(at, v.U / 255);
            StoreFloat(at, 1 - v.V / 255);
        }
    }
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
        const std::size_t n = mesh.cornerCount(p);
        if (n > kMaxListCorners) {
            ForEachFanTriangle(mesh, p, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
                out.put8(3);
                out.put32(a);
                out.put32(b);
                out.put32(c);
            });
            continue;
        }
        char* at = out.claim(1 + 4 * n);
        *at++ = char(n);
        const std::uint32_t* c = mesh.corners(p);
        for (std::size_t i = 0; i < n; ++i)
            at = StoreLe32(at, c[i]);
    }
    out.flush();
}

} // namespace talorin
