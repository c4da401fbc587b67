#pragma once
// The terrain as an indexed mesh: every distinct point once, polygons as index
// lists. A plain value (no process-wide state, no Qt) that can be moved to
// another thread and handed to any writer: the .suf writer, the exporters, the
// 3D view.

#include <cstdint>
#include <string>
#include <vector>

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
    // reaches them (the order of the subdivision walk, see core/subdivision.h);
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

} // namespace talorin
