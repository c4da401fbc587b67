#include "view/viewgeometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "base/error.h"
#include "base/slices.h"

namespace talorin {

namespace {

// Refuses index lists that would make the loops below read outside the mesh,
// and more vertices than the view's 32-bit indices can name.
void CheckMesh(const TerrainMesh& mesh) {
    if (mesh.Vertices.size() > std::numeric_limits<std::uint32_t>::max())
        throw Error(kBrokenMeshText);
    CheckMeshIndices(mesh);
}

struct Stop {
    double t;
    Rgb8 colour;
};
// Lowland green, meadow, tan, rock brown, snow.
constexpr Stop kRamp[] = {{0.0, {52, 112, 62}},
                          {0.3, {116, 164, 84}},
                          {0.55, {194, 182, 118}},
                          {0.8, {146, 116, 86}},
                          {1.0, {244, 244, 240}}};

std::uint8_t Mix(std::uint8_t a, std::uint8_t b, double f) {
    return std::uint8_t(std::lround(a + (b - a) * f));
}

// How often the long loops of the extras ask whether they are still wanted:
// often enough to give way to a newer terrain within a millisecond or so.
constexpr std::size_t kAskEvery = 16384;

bool Wanted(const StillWanted& stillWanted) {
    return !stillWanted || stillWanted();
}

// Every polygon edge once, and the edges that border a lattice cell. The
// edges are grouped by their lower vertex (a counting sort), so the work is
// linear in the number of corners even for millions of polygons.
bool BuildEdges(const TerrainMesh& mesh, std::size_t polygonsPerCell, ViewGeometry& out,
                const StillWanted& stillWanted) {
    const std::size_t vertexCount = mesh.Vertices.size();
    std::vector<std::uint32_t> first(vertexCount + 1, 0);
    auto forEachEdge = [&](auto&& visit) {
        for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
            if (p % kAskEvery == 0 && !Wanted(stillWanted))
                return false;
            const std::size_t n = mesh.cornerCount(p);
            if (n < 3)
                continue;
            const std::uint32_t* c = mesh.corners(p);
            std::uint32_t a = c[n - 1];
            for (std::size_t k = 0; k < n; ++k) {
                const std::uint32_t b = c[k];
                if (a != b)
                    visit(std::min(a, b), std::max(a, b), p);
                a = b;
            }
        }
        return true;
    };
    if (!forEachEdge([&](std::uint32_t lo, std::uint32_t, std::size_t) { ++first[lo + 1]; }))
        return false;
    for (std::size_t v = 0; v < vertexCount; ++v)
        first[v + 1] += first[v];
    std::vector<std::uint32_t> fill(first.begin(), first.end() - 1);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> slots(first.back()); // (hi, cell)
    if (!forEachEdge([&](std::uint32_t lo, std::uint32_t hi, std::size_t p) {
            const std::size_t cell = polygonsPerCell > 0 ? p / polygonsPerCell : 0;
            slots[fill[lo]++] = {hi, std::uint32_t(cell)};
        }))
        return false;
    out.edges.reserve(first.back() / 2 + vertexCount);
    for (std::size_t lo = 0; lo < vertexCount; ++lo) {
        if (lo % kAskEvery == 0 && !Wanted(stillWanted))
            return false;
        auto begin = slots.begin() + first[lo], end = slots.begin() + first[lo + 1];
        std::sort(begin, end);
        for (auto it = begin; it != end;) {
            auto next = it;
            bool sameCell = true;
            while (next != end && next->first == it->first) {
                sameCell = sameCell && next->second == it->second;
                ++next;
            }
            out.edges.push_back(std::uint32_t(lo));
            out.edges.push_back(it->first);
            if (polygonsPerCell > 0 && (next - it == 1 || !sameCell)) {
                out.cellOutlines.push_back(std::uint32_t(lo));
                out.cellOutlines.push_back(it->first);
            }
            it = next;
        }
    }
    return true;
}

// Vertex clustering over the ground: every vertex moves to the chosen member
// of its grid cell, triangles that lose a corner vanish, and repeats are
// dropped. On a regular grid whose spacing divides the cluster size this is
// plain subsampling; on a distorted lattice dense regions lose the most.
// False, with out empty, when stillWanted said stop.
bool CoarseTriangles(const ViewGeometry& g, const StillWanted& stillWanted,
                     std::vector<std::uint32_t>& out) {
    out.clear();
    const Bounds& b = g.bounds;
    const double cw = (b.max.x - b.min.x) / kCoarseGrid, ch = (b.max.y - b.min.y) / kCoarseGrid;
    if (!(cw > 0) || !(ch > 0))
        return true;
    constexpr int kSide = kCoarseGrid + 1; // the far border gets clusters of its own
    auto cell = [](double offset, double size) {
        // The small allowance keeps points that lie on a cluster border, up to
        // rounding, in the cluster that starts there.
        return std::clamp(int(std::floor(offset / size + 1e-6)), 0, kCoarseGrid);
    };
    constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> chosen(std::size_t(kSide) * kSide, kNone);
    std::vector<double> chosenDistance(chosen.size());
    std::vector<std::uint32_t> clusterOf(g.vertices.size());
    for (std::size_t i = 0; i < g.vertices.size(); ++i) {
        if (i % kAskEvery == 0 && !Wanted(stillWanted))
            return false;
        const double x = g.vertices[i].position[0] - b.min.x;
        const double y = g.vertices[i].position[1] - b.min.y;
        const int cx = cell(x, cw), cy = cell(y, ch);
        const std::size_t c = std::size_t(cx) * kSide + cy;
        const double d = std::hypot(x - cx * cw, y - cy * ch);
        clusterOf[i] = std::uint32_t(c);
        if (chosen[c] == kNone || d < chosenDistance[c]) {
            chosen[c] = std::uint32_t(i);
            chosenDistance[c] = d;
        }
    }
    std::vector<std::array<std::uint32_t, 3>> kept;
    for (std::size_t k = 0; k + 2 < g.triangles.size(); k += 3) {
        if (k % (3 * kAskEvery) == 0 && !Wanted(stillWanted))
            return false;
        std::array<std::uint32_t, 3> t{chosen[clusterOf[g.triangles[k]]],
                                       chosen[clusterOf[g.triangles[k + 1]]],
                                       chosen[clusterOf[g.triangles[k + 2]]]};
        if (t[0] == t[1] || t[1] == t[2] || t[2] == t[0])
            continue;
        // Start at the lowest index, keeping the turn, so repeats compare equal.
        std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        kept.push_back(t);
    }
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    out.reserve(kept.size() * 3);
    for (const auto& t : kept)
        out.insert(out.end(), t.begin(), t.end());
    return true;
}

// Meshes from this many polygons on are prepared on two threads, as a preview
// waits for them; meshes of more vertices than the limit, whose picture waits
// mostly for their upload anyway, stay on one.
constexpr std::size_t kTwoThreadPolygons = 32768;
constexpr std::size_t kTwoThreadVertexLimit = std::size_t(1) << 22;

std::size_t SlicesFor(const TerrainMesh& mesh) {
    return mesh.polygonCount() >= kTwoThreadPolygons &&
                   mesh.Vertices.size() <= kTwoThreadVertexLimit
               ? std::min<std::size_t>(2, vesk::SliceCount())
               : 1;
}

// Slice s of count items cut into slices even ones.
std::pair<std::size_t, std::size_t> SliceOf(std::size_t count, std::size_t s, std::size_t slices) {
    return {count * s / slices, count * (s + 1) / slices};
}

} // namespace

Rgb8 HeightColour(double t) {
    if (!(t > 0))
        return kRamp[0].colour;
    if (t >= 1)
        return std::end(kRamp)[-1].colour;
    std::size_t i = 1;
    while (kRamp[i].t < t)
        ++i;
    const Stop& lo = kRamp[i - 1];
    const Stop& hi = kRamp[i];
    const double f = (t - lo.t) / (hi.t - lo.t);
    return {Mix(lo.colour.r, hi.colour.r, f), Mix(lo.colour.g, hi.colour.g, f),
            Mix(lo.colour.b, hi.colour.b, f)};
}

ViewGeometry BuildViewGeometry(const TerrainMesh& mesh, std::size_t polygonsPerCell) {
    ViewGeometry out = BuildViewSurface(mesh);
    AddViewExtras(mesh, polygonsPerCell, out);
    return out;
}

bool AddViewExtras(const TerrainMesh& mesh, std::size_t polygonsPerCell, ViewGeometry& out,
                   const StillWanted& stillWanted) {
    out.edges.clear();
    out.cellOutlines.clear();
    out.coarseTriangles.clear();
    bool done = BuildEdges(mesh, polygonsPerCell, out, stillWanted);
    if (done && out.triangles.size() / 3 > kCoarseAbove)
        done = CoarseTriangles(out, stillWanted, out.coarseTriangles);
    if (!done) {
        out.edges.clear();
        out.cellOutlines.clear();
        out.coarseTriangles.clear();
    }
    return done;
}

ViewGeometry BuildViewSurface(const TerrainMesh& mesh) {
    CheckMesh(mesh);
    const std::size_t polygons = mesh.polygonCount(), vertices = mesh.Vertices.size();
    const std::size_t slices = SlicesFor(mesh);
    const std::vector<Vec3> normals = VertexNormals(mesh);
    // Per slice: the triangle count of its polygons, the bounds of its vertices.
    std::vector<std::size_t> triangles(slices + 1, 0);
    std::vector<Bounds> bounds(slices);
    vesk::ForSlices(slices, slices, [&](std::size_t s, std::size_t, std::size_t) {
        const auto [first, last] = SliceOf(polygons, s, slices);
        triangles[s + 1] = TriangleCount(mesh, first, last);
        const auto [from, to] = SliceOf(vertices, s, slices);
        for (std::size_t i = from; i < to; ++i)
            bounds[s].add(PositionOf(mesh.Vertices[i]));
    });

    ViewGeometry out;
    out.polygonCount = polygons;
    for (const Bounds& b : bounds)
        if (!b.empty()) {
            out.bounds.add(b.min);
            out.bounds.add(b.max);
        }
    for (std::size_t s = 0; s < slices; ++s)
        triangles[s + 1] += triangles[s];
    out.vertices.resize(vertices);
    out.triangles.resize(triangles[slices] * 3);
    const double low = out.bounds.min.z;
    const double range = out.bounds.max.z - low;
    vesk::ForSlices(slices, slices, [&](std::size_t s, std::size_t, std::size_t) {
        const auto [from, to] = SliceOf(vertices, s, slices);
        for (std::size_t i = from; i < to; ++i) {
            const MeshVertex& m = mesh.Vertices[i];
            const Vec3& normal = normals[i];
            const Rgb8 colour = HeightColour(range > 0 ? (m.Z - low) / range : 0.5);
            out.vertices[i] = ViewVertex{{float(m.X), float(m.Y), float(m.Z)},
                                         {float(normal.x), float(normal.y), float(normal.z)},
                                         {colour.r, colour.g, colour.b, 255},
                                         {float(m.U / 255.0), float(m.V / 255.0)}};
        }
        const auto [first, last] = SliceOf(polygons, s, slices);
        std::uint32_t* t = out.triangles.data() + triangles[s] * 3;
        for (std::size_t p = first; p < last; ++p)
            ForEachTriangle(mesh, p, [&t](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
                t[0] = a;
                t[1] = b;
                t[2] = c;
                t += 3;
            });
    });
    return out;
}

int PreviewDepth(int depth, bool quads, int paMax, std::uint64_t budget) {
    const std::uint64_t perLeaf = std::uint64_t(paMax) * std::uint64_t(paMax) * (quads ? 1 : 4);
    int d = 0;
    // 4^d stays far from overflow: the loop stops once the count passes budget.
    std::uint64_t count = perLeaf * 4;
    while (d < depth && count <= budget) {
        ++d;
        count *= 4;
    }
    return d;
}

// Per vertex: the record in the geometry and in the driver, and two counts
// while the edges are sorted. Per triangle index and per edge end, the same
// twice; per corner, one (far end, cell) slot while sorting, and at most one
// edge. A quad of the generator's output comes to about 200 bytes.
std::uint64_t ViewBytes(std::uint64_t vertices, std::uint64_t polygons, std::uint64_t corners) {
    constexpr std::uint64_t kIndex = sizeof(std::uint32_t);
    const std::uint64_t triangleIndices = corners > 2 * polygons ? 3 * (corners - 2 * polygons) : 0;
    return vertices * (2 * sizeof(ViewVertex) + 2 * kIndex) + triangleIndices * 2 * kIndex +
           corners * (2 * kIndex + 2 * 2 * kIndex);
}

std::uint64_t ViewBytes(const TerrainMesh& mesh) {
    return ViewBytes(mesh.Vertices.size(), mesh.polygonCount(), mesh.Indices.size());
}

std::uint64_t ViewPolygonBudget(std::uint64_t bytes) {
    // A quad with its own vertex is the dearest polygon the generator makes
    // (a triangle has half a vertex and three corners).
    return bytes / ViewBytes(1, 1, 4);
}

std::optional<Vec3> PickGeometry(const ViewGeometry& geometry, const Ray& ray) {
    if (geometry.bounds.empty())
        return std::nullopt;
    // Slab test first: most misses leave without touching a triangle.
    double enter = 0, leave = std::numeric_limits<double>::infinity();
    const double o[3] = {ray.origin.x, ray.origin.y, ray.origin.z};
    const double d[3] = {ray.direction.x, ray.direction.y, ray.direction.z};
    const double lo[3] = {geometry.bounds.min.x, geometry.bounds.min.y, geometry.bounds.min.z};
    const double hi[3] = {geometry.bounds.max.x, geometry.bounds.max.y, geometry.bounds.max.z};
    for (int k = 0; k < 3; ++k) {
        if (d[k] == 0) {
            if (o[k] < lo[k] || o[k] > hi[k])
                return std::nullopt;
            continue;
        }
        double t0 = (lo[k] - o[k]) / d[k], t1 = (hi[k] - o[k]) / d[k];
        if (t0 > t1)
            std::swap(t0, t1);
        enter = std::max(enter, t0);
        leave = std::min(leave, t1);
    }
    if (enter > leave * (1 + 1e-9) + 1e-9)
        return std::nullopt;

    auto at = [&](std::uint32_t i) {
        const float* p = geometry.vertices[i].position;
        return Vec3{p[0], p[1], p[2]};
    };
    std::optional<double> best;
    for (std::size_t k = 0; k + 2 < geometry.triangles.size(); k += 3) {
        const auto t = HitTriangle(ray, at(geometry.triangles[k]), at(geometry.triangles[k + 1]),
                                   at(geometry.triangles[k + 2]));
        if (t && (!best || *t < *best))
            best = t;
    }
    if (!best)
        return std::nullopt;
    return ray.origin + ray.direction * *best;
}

} // namespace talorin
