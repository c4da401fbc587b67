#pragma once
// What the 3D view draws, made from a terrain mesh on any thread: one vertex
// record per mesh point with its smoothed normal and height colour, the
// polygons cut into triangles, and the edges for the wireframe and for the
// outlines of the lattice cells. The view only copies these into buffers.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "shape/terrainmesh.h"
#include "view/viewcamera.h"

namespace talorin {

struct Rgb8 {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb8&, const Rgb8&) = default;
};

// The record the view's vertex buffer holds, 36 bytes, no padding.
struct ViewVertex {
    float position[3];      // .suf frame
    float normal[3];        // unit length: VertexNormals, as the exporters write it
    std::uint8_t colour[4]; // height colour, alpha 255
    float uv[2];            // U / 255, V / 255: 0..1 across the contour image
};
static_assert(sizeof(ViewVertex) == 36);

struct ViewGeometry {
    std::vector<ViewVertex> vertices;
    std::vector<std::uint32_t> triangles;    // three indices per triangle
    std::vector<std::uint32_t> edges;        // two per edge; every polygon edge once
    std::vector<std::uint32_t> cellOutlines; // two per edge on a lattice cell's border
    // A lighter stand-in for triangles, drawn while the camera moves: the
    // vertices clustered on a kCoarseGrid x kCoarseGrid grid over the ground,
    // each cluster drawn by its member nearest the cluster's corner. Empty
    // when triangles holds no more than kCoarseAbove triangles.
    std::vector<std::uint32_t> coarseTriangles;
    Bounds bounds; // of all vertices
    std::size_t polygonCount = 0;
};

inline constexpr int kCoarseGrid = 256;
inline constexpr std::size_t kCoarseAbove = 160000;

// The terrain ramp at t (0 lowest, 1 highest; clamped; not a number counts
// as 0): greens in the lowlands through tan and brown to near-white peaks,
// varying continuously.
Rgb8 HeightColour(double t);

// Everything the view needs from mesh. polygonsPerCell (> 0) says that the
// polygons come in runs of that many per lattice cell, as the generator
// writes them; an edge between polygons of different runs, or with a polygon
// on one side only, outlines a cell. 0 leaves cellOutlines empty. Polygons
// with fewer than three corners draw nothing. Heights map to colours over the
// mesh's own height range (a flat mesh takes the ramp's middle colour).
// Meshes of more than kCoarseAbove triangles get coarseTriangles too.
// Throws talorin::Error when an index lies outside the vertices or Starts is
// not a rising list that ends at Indices.size(); more than 2^32 - 1 vertices
// are refused the same way.
ViewGeometry BuildViewGeometry(const TerrainMesh& mesh, std::size_t polygonsPerCell = 0);

// Asked now and then during long work; false stops it.
using StillWanted = std::function<bool()>;

// The same in two steps, so that a view can show the surface before the rest
// is ready: BuildViewSurface fills vertices, triangles, bounds and
// polygonCount (and throws as above); AddViewExtras then fills edges,
// cellOutlines and coarseTriangles of a surface built from the same mesh. It
// gives up, leaving those three empty and returning false, as soon as
// stillWanted (when given) returns false: a newer terrain needs the cores.
ViewGeometry BuildViewSurface(const TerrainMesh& mesh);
bool AddViewExtras(const TerrainMesh& mesh, std::size_t polygonsPerCell, ViewGeometry& surface,
                   const StillWanted& stillWanted = {});

// The live view's polygon budget: a chosen depth whose run makes more
// polygons is previewed at a shallower one.
inline constexpr std::uint64_t kPreviewPolygonBudget = 262144;

// The deepest depth from 0 to depth whose run makes at most budget polygons
// (4^d x paMax^2 quads, four times as many triangles); 0 when even that is
// over. A depth below 0 gives 0. paMax must be 1..16.
int PreviewDepth(int depth, bool quads, int paMax, std::uint64_t budget = kPreviewPolygonBudget);

// What the view may hold for one terrain beside the mesh it came from: the
// geometry, the copy the graphics driver keeps of it, and what building its
// edges takes for a while. A larger shape is shown as a reduced copy.
inline constexpr std::uint64_t kViewByteBudget = std::uint64_t(1) << 30;

// The most polygons a reduced copy of an output shape holds: more than the
// window has pixels, and generated and prepared within a second or two, where
// the deepest copy within kViewByteBudget would take several.
inline constexpr std::uint64_t kReducedShapePolygonBudget = std::uint64_t(1) << 20;

// An upper estimate of what the view takes, in bytes, for a mesh of these
// counts (corners: the length of its index list), all of the above included.
std::uint64_t ViewBytes(std::uint64_t vertices, std::uint64_t polygons, std::uint64_t corners);
std::uint64_t ViewBytes(const TerrainMesh& mesh);

// How many polygons of the generator's output (quads or triangles) surely
// fit in bytes by ViewBytes.
std::uint64_t ViewPolygonBudget(std::uint64_t bytes);

// The nearest point where ray meets one of geometry's triangles, or nothing.
std::optional<Vec3> PickGeometry(const ViewGeometry& geometry, const Ray& ray);

} // namespace talorin
