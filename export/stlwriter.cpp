#include "export/stlwriter.h"

#include <cstring>
#include <limits>

#include "export/exportbytes.h"
#include "base/error.h"

namespace talorin {

void WriteStl(const TerrainMesh& mesh, const vesk::ByteSink& sink) {
    const std::uint64_t triangles = TriangleCount(mesh);
    if (triangles > std::numeric_limits<std::uint32_t>::max())
        throw Error(Text(Msg::StlTooMany, {std::to_string(triangles)}));
    CheckFloat32Points(mesh, "STL");
    BufferedSink out(sink);
    char header[80];
    std::memset(header, ' ', sizeof header);
    const char kTitle[] = "Talorin terrain, binary STL, Z up";
    std::memcpy(header, kTitle, sizeof kTitle - 1);
    out.write(header, sizeof header);
    out.put32(std::uint32_t(triangles));
    // The records of blocks of polygons are made on several threads and
    // written in order: the normals and conversions are most of the work.
    WriteFormattedInParallel(out, mesh.polygonCount(), [&](std::size_t first, std::size_t last,
                                                           std::string& records) {
        records.resize(std::size_t(TriangleCount(mesh, first, last)) * 50);
        char* at = records.data();
        for (std::size_t p = first; p < last; ++p) {
            ForEachTriangle(mesh, p, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
                const Vec3 pa = ToZUp(PositionOf(mesh.Vertices[a]));
                const Vec3 pb = ToZUp(PositionOf(mesh.Vertices[b]));
                const Vec3 pc = ToZUp(PositionOf(mesh.Vertices[c]));
                const Vec3 n = Normalized(Cross(pb - pa, pc - pa));
                for (const Vec3& w : {n, pa, pb, pc})
                    at = StoreFloats(at, w);
                at[0] = at[1] = 0; // no attributes
                at += 2;
            });
        }
        records.resize(std::size_t(at - records.data()));
    });
    out.flush();
}

} // namespace talorin
