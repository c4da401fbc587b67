#include "terrain/solid.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "shape/meshgeometry.h"
#include "base/error.h"

namespace talorin {

namespace {

using Edge = std::uint64_t; // from << 32 | to

Edge MakeEdge(std::uint32_t from, std::uint32_t to) {
    return Edge(from) << 32 | to;
}
std::uint32_t From(Edge e) {
    return std::uint32_t(e >> 32);
}
std::uint32_t To(Edge e) {
    return std::uint32_t(e);
}

// The edges that no polygon walks the other way, in the direction their
// polygon walks them.
std::vector<Edge> BorderEdges(const TerrainMesh& mesh) {
    std::vector<Edge> edges;
    edges.reserve(mesh.Indices.size());
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
        const std::uint32_t* c = mesh.corners(p);
        const std::size_t n = mesh.cornerCount(p);
        if (n < 3)
            continue;
        for (std::size_t i = 0; i < n; ++i)
            edges.push_back(MakeEdge(c[i], c[(i + 1) % n]));
    }
    std::sort(edges.begin(), edges.end());
    std::vector<Edge> border;
    for (const Edge e : edges)
        if (!std::binary_search(edges.begin(), edges.end(), MakeEdge(To(e), From(e))))
            border.push_back(e);
    return border;
}

void AddPolygon(TerrainMesh& mesh, std::initializer_list<std::uint32_t> corners) {
    mesh.Indices.insert(mesh.Indices.end(), corners);
    mesh.Starts.push_back(std::uint32_t(mesh.Indices.size()));
}

// Whether a fan from centre (x, y) covers the region inside the border
// exactly: every border vertex starts one border edge, and every triangle
// (centre, to, from) turns clockwise seen from above.
bool FanFits(const TerrainMesh& mesh, const std::vector<Edge>& border, double x, double y) {
    for (std::size_t i = 1; i < border.size(); ++i)
        if (From(border[i]) == From(border[i - 1]))
            return false;
    for (const Edge e : border) {
        const MeshVertex& a = mesh.Vertices[From(e)];
        const MeshVertex& b = mesh.Vertices[To(e)];
        const double cross = (a.X - x) * (b.Y - y) - (a.Y - y) * (b.X - x);
        if (!(cross > 0))
            return false;
    }
    return true;
}

} // namespace

TerrainMesh MakeSolid(const TerrainMesh& top, double base) {
    if (!(base > 0) || !std::isfinite(base))
        throw Error(Text(Msg::SolidBadDepth));
    for (const MeshVertex& v : top.Vertices)
        if (!(v.Z > -base))
            throw Error(Text(Msg::SolidBottomTooHigh));

    TerrainMesh solid = top;
    const std::vector<Edge> border = BorderEdges(top);
    if (border.empty())
        return solid;

    // One bottom vertex below every vertex that the bottom needs.
    std::vector<std::uint32_t> below(top.Vertices.size(),
                                     std::numeric_limits<std::uint32_t>::max());
    const auto bottomOf = [&](std::uint32_t v) {
        if (below[v] == std::numeric_limits<std::uint32_t>::max()) {
            MeshVertex copy = top.Vertices[v];
            copy.Z = -base;
            below[v] = std::uint32_t(solid.Vertices.size());
            solid.Vertices.push_back(copy);
        }
        return below[v];
    };
    if (top.Vertices.size() * 2 + 1 > std::numeric_limits<std::uint32_t>::max())
        throw Error(Text(Msg::SolidTooManyPoints));

    // Walls: the border edge a -> b of the top becomes b -> a of its wall, so
    // that the wall faces outward.
    for (const Edge e : border) {
        const std::uint32_t a = From(e), b = To(e);
        AddPolygon(solid, {b, a, bottomOf(a), bottomOf(b)});
    }

    double x = 0, y = 0, u = 0, v = 0;
    for (const Edge e : border) {
        const MeshVertex& p = top.Vertices[From(e)];
        x += p.X;
        y += p.Y;
        u += p.U;
        v += p.V;
    }
    const double n = double(border.size());
    x /= n, y /= n, u /= n, v /= n;

    if (FanFits(top, border, x, y)) {
        const std::uint32_t centre = std::uint32_t(solid.Vertices.size());
        solid.Vertices.push_back({x, y, -base, u, v});
        for (const Edge e : border)
            AddPolygon(solid, {centre, below[To(e)], below[From(e)]});
        return solid;
    }
    // The top turned over: each polygon reversed, one level down.
    for (std::size_t p = 0; p < top.polygonCount(); ++p) {
        const std::uint32_t* c = top.corners(p);
        const std::size_t count = top.cornerCount(p);
        if (count < 3)
            continue;
        for (std::size_t i = count; i-- > 0;)
            solid.Indices.push_back(bottomOf(c[i]));
        solid.Starts.push_back(std::uint32_t(solid.Indices.size()));
    }
    return solid;
}

} // namespace talorin
