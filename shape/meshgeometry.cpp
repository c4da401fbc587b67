#include "shape/meshgeometry.h"

#include <cmath>

#include "shape/shape.h"
#include "base/slices.h"

namespace talorin {

bool HasUv(const TerrainMesh& mesh) {
    return mesh.Kind == vesk::kUvPoly || mesh.Kind == vesk::kUvShade;
}

Vec3 PolygonAreaVector(const TerrainMesh& mesh, std::size_t p) {
    const std::uint32_t* c = mesh.corners(p);
    const std::size_t n = mesh.cornerCount(p);
    const MeshVertex* v = mesh.Vertices.data();
    const auto cross = [](double ux, double uy, double uz, double vx, double vy, double vz) {
        return Vec3{uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
    };
    if (n == 4) {
        // A quad's diagonals span twice its area vector, as its fan's two
        // triangles together do.
        const MeshVertex &a = v[c[0]], &b = v[c[1]], &d = v[c[2]], &e = v[c[3]];
        return cross(d.X - a.X, d.Y - a.Y, d.Z - a.Z, e.X - b.X, e.Y - b.Y, e.Z - b.Z);
    }
    Vec3 sum{0, 0, 0};
    const MeshVertex& origin = v[c[0]];
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const MeshVertex &b = v[c[i]], &d = v[c[i + 1]];
        const Vec3 t = cross(b.X - origin.X, b.Y - origin.Y, b.Z - origin.Z, d.X - origin.X,
                             d.Y - origin.Y, d.Z - origin.Z);
        sum[0] += t[0];
        sum[1] += t[1];
        sum[2] += t[2];
    }
    return sum;
}

Vec3 Normalized(const Vec3& v) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(length > 0) || !std::isfinite(length))
        return {0, 0, 0};
    return {v[0] / length, v[1] / length, v[2] / length};
}

std::vector<Vec3> VertexNormals(const TerrainMesh& mesh) {
    std::vector<Vec3> normals(mesh.Vertices.size(), Vec3{0, 0, 0});
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
        const std::size_t n = mesh.cornerCount(p);
        if (n < 3)
            continue;
        const Vec3 area = PolygonAreaVector(mesh, p);
        const std::uint32_t* c = mesh.corners(p);
        for (std::size_t i = 0; i < n; ++i) {
            Vec3& sum = normals[c[i]];
            sum[0] += area[0];
            sum[1] += area[1];
            sum[2] += area[2];
        }
    }
    // Normalising is the costly part: on several threads.
    vesk::ForSlices(normals.size(), vesk::SliceCount(),
                    [&](std::size_t, std::size_t first, std::size_t last) {
                        for (std::size_t i = first; i < last; ++i) {
                            Vec3& n = normals[i];
                            n = Normalized(n);
                            if (n[0] == 0 && n[1] == 0 && n[2] == 0)
                                n = {0, 0, 1};
                        }
                    });
    return normals;
}

} // namespace talorin
