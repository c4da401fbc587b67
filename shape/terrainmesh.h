#pragma once
// The terrain as an indexed mesh: every distinct point once, polygons as index
// lists. A plain value (no process-wide state, no Qt) that can be moved to
// another thread and handed to any writer: the .suf writer, the exporters, the
// 3D view.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/error.h"

namespace talorin {

// The values of one distinct point, in the .suf frame: X, Y across the
// terrain (centred on 0), Z the height, U, V the texture coordinates (0..255).
// Normals are not stored: the generator writes 0 0 0 for them in the shade kinds.
struct MeshVertex {
    double X = 0, Y = 0, Z = 0;
    double U = 0, V = 0;
    friend bool operator==(const MeshVertex&, const MeshVertex&) = default;
};

struct TerrainMesh {
    std::string ObjName;   // CP932 bytes, as written into the .suf file
    std::string AtrName;   // CP932 bytes
    std::uint8_t Kind = 0; // vesk::kPoly, kShade, kUvPoly or kUvShade
    bool QuadMode = true;  // leaves are quads, or four triangles around the centre

    // Every distinct point once: a point that several polygons share is one
    // vertex. The generator numbers them in the order in which it first
    // reaches them (the order of the subdivision walk, see terrain/subdivision.h);
    // a large run is built as two bands of cell rows, the upper one first.
    std::vector<MeshVertex> Vertices;

    // Polygon p has the corners Indices[Starts[p]] .. Indices[Starts[p + 1] - 1]
    // in the order a .suf file lists them (counter-clockwise seen from above,
    // .suf frame). Polygons are in the order of the .suf file. Starts has one
    // more entry than there are polygons (a single 0 when there are none).
    std::vector<std::uint32_t> Indices;
    std::vector<std::uint32_t> Starts{0};

    std::size_t polygonCount() const { return Starts.size() - 1; }
    std::size_t cornerCount(std::size_t p) const { return Starts[p + 1] - Starts[p]; }
    const std::uint32_t* corners(std::size_t p) const { return Indices.data() + Starts[p]; }
};

// The reason given for a mesh whose index lists do not hold together.
inline const char* const kBrokenMeshText = MessageText(Msg::BrokenMesh, ProgramLanguage()).data();

// Refuses, with an Error of kind BadInput, a mesh whose lists would make a
// reader go outside them: Starts must rise from 0 to Indices.size(), and every
// index must name a vertex. The writers and the view call it before anything
// else.
inline void CheckMeshIndices(const TerrainMesh& mesh) {
    bool sound = !mesh.Starts.empty() && mesh.Starts.front() == 0 &&
                 mesh.Starts.back() == mesh.Indices.size();
    for (std::size_t p = 1; sound && p < mesh.Starts.size(); ++p)
        sound = mesh.Starts[p - 1] <= mesh.Starts[p];
    const std::size_t vertices = mesh.Vertices.size();
    for (std::size_t k = 0; sound && k < mesh.Indices.size(); ++k)
        sound = mesh.Indices[k] < vertices;
    if (!sound)
        throw Error(ErrorKind::BadInput, kBrokenMeshText);
}

// The number of triangles that the fans of polygons first .. last - 1 make
// (n - 2 for a polygon of n corners, none for fewer than 3).
inline std::uint64_t TriangleCount(const TerrainMesh& mesh, std::size_t first, std::size_t last) {
    std::uint64_t count = 0;
    for (std::size_t p = first; p < last; ++p)
        if (mesh.cornerCount(p) >= 3)
            count += mesh.cornerCount(p) - 2;
    return count;
}
inline std::uint64_t TriangleCount(const TerrainMesh& mesh) {
    return TriangleCount(mesh, 0, mesh.polygonCount());
}

// Calls emit(a, b, c) for every triangle of polygon p's fan around its first
// corner, in order: a quad ABCD becomes ABC and ACD. The fan keeps every
// triangle turning the way the polygon turns. For a polygon whose fan would
// join three points of one straight line, see ForEachTriangle.
template <typename Emit>
void ForEachFanTriangle(const TerrainMesh& mesh, std::size_t p, Emit&& emit) {
    const std::uint32_t* c = mesh.corners(p);
    const std::size_t n = mesh.cornerCount(p);
    for (std::size_t i = 1; i + 1 < n; ++i)
        emit(c[0], c[i], c[i + 1]);
}

// Whether a, b and c lie on one straight line seen from above, up to rounding:
// the triangle they make has no area there.
inline bool CollinearXY(const MeshVertex& a, const MeshVertex& b, const MeshVertex& c) {
    const double abx = b.X - a.X, aby = b.Y - a.Y, acx = c.X - a.X, acy = c.Y - a.Y;
    const double cross = abx * acy - aby * acx;
    const double scale = (std::fabs(abx) + std::fabs(aby)) * (std::fabs(acx) + std::fabs(acy));
    return !(std::fabs(cross) > 1e-9 * scale);
}

// The triangles of the n corners c (n > 3) as index triples, none of them
// three points of one line: ears cut off the outline one by one, each at a
// real corner beside a point on a straight edge while there is one (so that
// what is left never lies all on one line). n - 2 triangles, each turning the
// way the polygon turns.
std::vector<std::uint32_t> CleanTriangles(const TerrainMesh& mesh, const std::uint32_t* c,
                                          std::size_t n);

// The triangles of polygon p for the triangle-only formats, emit(a, b, c) in
// order: the fan of ForEachFanTriangle, unless the polygon has more than four
// corners and that fan would join three points of one straight line (an
// adaptive outline with points on an edge from one of its corners): then
// CleanTriangles, which makes no triangle without area.
template <typename Emit> void ForEachTriangle(const TerrainMesh& mesh, std::size_t p, Emit&& emit) {
    const std::uint32_t* c = mesh.corners(p);
    const std::size_t n = mesh.cornerCount(p);
    bool clean = true;
    if (n > 4) {
        const MeshVertex& apex = mesh.Vertices[c[0]];
        for (std::size_t i = 1; clean && i + 1 < n; ++i)
            clean = !CollinearXY(apex, mesh.Vertices[c[i]], mesh.Vertices[c[i + 1]]);
    }
    if (clean) {
        for (std::size_t i = 1; i + 1 < n; ++i)
            emit(c[0], c[i], c[i + 1]);
        return;
    }
    const std::vector<std::uint32_t> triangles = CleanTriangles(mesh, c, n);
    for (std::size_t k = 0; k + 2 < triangles.size(); k += 3)
        emit(triangles[k], triangles[k + 1], triangles[k + 2]);
}

} // namespace talorin
