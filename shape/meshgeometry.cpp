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
        sum.x += t.x;
        sum.y += t.y;
        sum.z += t.z;
    }
    return sum;
}

double Length(Vec3 a) {
    return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
}

Vec3 Normalized(Vec3 a) {
    const double length = Length(a);
    if (!(length > 0) || !std::isfinite(length))
        return {0, 0, 0};
    return {a.x / length, a.y / length, a.z / length};
}

namespace {

// Meshes from this many polygons on share the sums out among the cores.
constexpr std::size_t kSlicedPolygons = 32768;

} // namespace

std::vector<Vec3> VertexNormals(const TerrainMesh& mesh) {
    std::vector<Vec3> normals(mesh.Vertices.size());
    const std::size_t polygons = mesh.polygonCount();
    const std::size_t slices = polygons >= kSlicedPolygons ? vesk::SliceCount() : 1;
    // Each slice owns a range of vertices and goes through all polygons in
    // order, adding the area vectors of those that touch its range: every
    // vertex gets the same sum, in the same order, however many slices there
    // are. A polygon is only measured by the slices it touches, which on a
    // generated mesh (vertices numbered as the polygons first reach them) are
    // one or two.
    vesk::ForSlices(normals.size(), slices, [&](std::size_t, std::size_t first, std::size_t last) {
        const std::size_t width = last - first;
        for (std::size_t p = 0; p < polygons; ++p) {
            const std::size_t n = mesh.cornerCount(p);
            if (n < 3)
                continue;
            const std::uint32_t* c = mesh.corners(p);
            bool touches = false;
            for (std::size_t i = 0; i < n; ++i)
                touches |= c[i] - first < width;
            if (!touches)
                continue;
            const Vec3 area = PolygonAreaVector(mesh, p);
            for (std::size_t i = 0; i < n; ++i)
                if (c[i] - first < width) {
                    Vec3& sum = normals[c[i]];
                    sum.x += area.x;
                    sum.y += area.y;
                    sum.z += area.z;
                }
        }
        for (std::size_t i = first; i < last; ++i) {
            Vec3& n = normals[i];
            n = Normalized(n);
            if (n.x == 0 && n.y == 0 && n.z == 0)
                n = {0, 0, 1};
        }
    });
    return normals;
}

} // namespace talorin
