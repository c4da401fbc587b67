#pragma once
// Terrain meshes built in the tests, laid out the way the generator lays out
// its own: X down the image, Y across it, corners counter-clockwise seen from
// above, and the polygons of one lattice cell in one run.

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "shape/terrainmesh.h"

namespace testmesh {

using HeightFn = std::function<double(double x, double y)>;

// cells x cells lattice cells over a square of side size centred on 0, each
// cut into leaves x leaves quads (or four triangles per leaf around its
// centre). Shared points are stored once.
inline talorin::TerrainMesh Grid(int cells, int leaves, double size, const HeightFn& height,
                                 bool quads = true) {
    talorin::TerrainMesh mesh;
    mesh.QuadMode = quads;
    const int n = cells * leaves;
    const double step = size / n;
    std::map<std::pair<int, int>, std::uint32_t> corner; // (row, column) in half steps
    auto point = [&](int row2, int column2) {
        const auto key = std::make_pair(row2, column2);
        if (auto it = corner.find(key); it != corner.end())
            return it->second;
        const double x = row2 * step / 2 - size / 2, y = column2 * step / 2 - size / 2;
        mesh.Vertices.push_back(
            {x, y, height(x, y), column2 * 255.0 / (2 * n), row2 * 255.0 / (2 * n)});
        const auto index = std::uint32_t(mesh.Vertices.size() - 1);
        corner[key] = index;
        return index;
    };
    auto polygon = [&](std::initializer_list<std::uint32_t> corners) {
        mesh.Indices.insert(mesh.Indices.end(), corners);
        mesh.Starts.push_back(std::uint32_t(mesh.Indices.size()));
    };
    for (int cj = 0; cj < cells; ++cj)
        for (int ci = 0; ci < cells; ++ci)
            for (int lj = 0; lj < leaves; ++lj)
                for (int li = 0; li < leaves; ++li) {
                    const int r = 2 * (cj * leaves + lj), c = 2 * (ci * leaves + li);
                    const std::uint32_t a = point(r, c), b = point(r, c + 2),
                                        cc = point(r + 2, c + 2), d = point(r + 2, c);
                    if (quads) {
                        polygon({d, cc, b, a});
                    } else {
                        const std::uint32_t m = point(r + 1, c + 1);
                        polygon({m, b, a});
                        polygon({m, cc, b});
                        polygon({d, cc, m});
                        polygon({m, a, d});
                    }
                }
    return mesh;
}

inline talorin::TerrainMesh Flat(int cells, int leaves, double size, double z, bool quads = true) {
    return Grid(
        cells, leaves, size, [z](double, double) { return z; }, quads);
}

// A smooth round hill of the given height at the centre, falling to 0 at the
// border of the square.
inline talorin::TerrainMesh Peak(int cells, int leaves, double size, double height,
                                 bool quads = true) {
    return Grid(
        cells, leaves, size,
        [size, height](double x, double y) {
            const double r = std::sqrt(x * x + y * y) / (size / 2);
            return r >= 1 ? 0.0 : height * 0.5 * (1 + std::cos(r * 3.141592653589793));
        },
        quads);
}

} // namespace testmesh
