#pragma once
// Geometry of an indexed mesh shared by everything that draws or writes one:
// the one 3D vector type, polygon area vectors and vertex normals.

#include <array>
#include <cstddef>
#include <vector>

#include "shape/terrainmesh.h"

namespace talorin {

using Vec3 = std::array<double, 3>;

inline Vec3 PositionOf(const MeshVertex& v) {
    return {v.X, v.Y, v.Z};
}

// Whether the mesh's kind carries texture coordinates.
bool HasUv(const TerrainMesh& mesh);

// Twice the area vector of polygon p (Newell's sum over its corner fan), in
// the .suf frame: its length is twice the area, its direction the side the
// corners turn counter-clockwise around. Zero for a degenerate polygon.
Vec3 PolygonAreaVector(const TerrainMesh& mesh, std::size_t p);

// The unit normal of every vertex in the .suf frame: the area-weighted mean of
// the normals of the polygons around it. A vertex that no polygon with an
// area touches gets (0, 0, 1), straight up.
std::vector<Vec3> VertexNormals(const TerrainMesh& mesh);

// v / |v|, or (0, 0, 0) when v has no length.
Vec3 Normalized(const Vec3& v);

} // namespace talorin
