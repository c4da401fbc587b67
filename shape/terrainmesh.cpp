#include "shape/terrainmesh.h"

namespace talorin {

std::vector<std::uint32_t> CleanTriangles(const TerrainMesh& mesh, const std::uint32_t* c,
                                          std::size_t n) {
    std::vector<std::uint32_t> ring(c, c + n);
    std::vector<std::uint32_t> triangles;
    triangles.reserve(n >= 3 ? (n - 2) * 3 : 0);
    const auto at = [&](std::size_t i) -> const MeshVertex& { return mesh.Vertices[ring[i]]; };
    // The way the outline turns seen from above: twice its signed area.
    double turn = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const MeshVertex& a = at(i);
        const MeshVertex& b = at((i + 1) % n);
        turn += a.X * b.Y - a.Y * b.X;
    }
    while (ring.size() > 3) {
        const std::size_t m = ring.size();
        const auto prev = [m](std::size_t i) { return (i + m - 1) % m; };
        const auto next = [m](std::size_t i) { return (i + 1) % m; };
        const auto flat = [&](std::size_t i) { return CollinearXY(at(prev(i)), at(i), at(next(i))); };
        std::size_t ear = m, fallback = m;
        for (std::size_t i = 0; i < m && ear == m; ++i) {
            const MeshVertex& a = at(prev(i));
            const MeshVertex& b = at(i);
            const MeshVertex& d = at(next(i));
            if (CollinearXY(a, b, d))
                continue; // a point on a straight edge is no ear
            const double cross = (b.X - a.X) * (d.Y - a.Y) - (b.Y - a.Y) * (d.X - a.X);
            if (!(cross * turn > 0))
                continue; // a corner turned the other way
            // Cutting beside a point on an edge leaves that point a corner,
            // and never leaves the rest on one line.
            if (flat(prev(i)) || flat(next(i)))
                ear = i;
            else if (fallback == m)
                fallback = i;
        }
        if (ear == m)
            ear = fallback;
        if (ear == m)
            break; // no ear (an outline folded over itself): the fan of the rest
        triangles.insert(triangles.end(), {ring[prev(ear)], ring[ear], ring[next(ear)]});
        ring.erase(ring.begin() + std::ptrdiff_t(ear));
    }
    for (std::size_t i = 1; i + 1 < ring.size(); ++i)
        triangles.insert(triangles.end(), {ring[0], ring[i], ring[i + 1]});
    return triangles;
}

} // namespace talorin
