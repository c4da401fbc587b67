#pragma once
// Geometry of an indexed mesh shared by everything that draws or writes one:
// the one 3D vector type, polygon area vectors and vertex normals.

#include <cstddef>
#include <vector>

#include "shape/terrainmesh.h"

namespace talorin {

// A point or direction in the .suf frame: X down the image (south), Y across
// it (east), Z up.
struct Vec3 {
    double x = 0, y = 0, z = 0;
    friend bool operator==(const Vec3&, const Vec3&) = default;
};

inline Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline double Dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// |a|.
double Length(Vec3 a);

// a / |a|, or (0, 0, 0) when a has no length or an infinite or undefined one.
Vec3 Normalized(Vec3 a);

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
// area touches gets (0, 0, 1), straight up. The one normal of the exporters
// and the 3D view: each vertex sums its polygons' area vectors in polygon
// order, so the bits do not depend on the machine or its number of cores.
// The mesh's index lists must hold together (CheckMeshIndices).
std::vector<Vec3> VertexNormals(const TerrainMesh& mesh);

} // namespace talorin
