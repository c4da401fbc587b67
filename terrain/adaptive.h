#pragma once
// Adaptive depth: every lattice cell is subdivided only as deep as its terrain
// needs, up to the run's depth, so that flat ground gets few polygons and
// ridges many, while the lattice the user shaped still decides where the
// cells are.
//
// The reference surface is the uniform terrain at the run's depth (Depth of
// Talorin_Args): its reference points are the points the uniform run samples,
// the corners of all its leaves and, in triangle mode, their centres too. A
// point is measured at its position in its lattice cell, in the local
// coordinates (u, v) of the leaf that contains it: u runs from the leaf's
// corner A (u = 0) toward B (u = 1), v from A (v = 0) toward D (v = 1), in
// equal steps of the full-depth grid, whatever shape the lattice gives the
// leaf in the image.
//
// The error of a leaf is the largest |reference height - interpolated height|
// over the reference points inside or on the leaf, where the interpolated
// height is:
// - quad mode: bilinear in the four corner heights zA, zB, zC, zD,
//   (1-u)(1-v) zA + u(1-v) zB + u v zC + (1-u) v zD;
// - triangle mode: linear within the fan triangle that holds the point. The
//   fan runs from the leaf's centre c (at u = v = 1/2, its height sampled at
//   Centre(A, B, C, D) as in the uniform run) through every point of the
//   leaf's outline. A point q lies on the ray from c through the outline point
//   r with q = c + l (r - c), l = max(|u - 1/2|, |v - 1/2|) / (1/2), and gets
//   (1 - l) zc + l z(r), z(r) linear between the outline points on either side
//   of r. Since the outline takes whatever finer points its neighbours put on
//   its edges, a leaf is kept only when this holds for every refinement of
//   its edges down to the full-depth grid.
//
// A leaf is split (exactly as the uniform subdivision splits, same operations,
// same doubles) while its error exceeds the allowed error and it is above the
// run's depth. So every reference point is interpolated within the allowed
// error, and every point the adaptive mesh shares with the uniform one has
// bit-identical values.
//
// No cracks, no T-junctions: a leaf takes into its outline every corner of a
// finer neighbour on its edges, also across lattice cells; points are welded
// by their position on the full-depth grid. A quad leaf with such points is one
// polygon with more than four corners; in triangle mode the fan from its
// centre goes through all of them. So every interior edge belongs to exactly
// two polygons and every border edge to one.

#include <cstdint>
#include <vector>

#include "terrain/terrain.h"
#include "shape/terrainmesh.h"

namespace talorin {

// One leaf of an adaptive run, in the order the run emits them (depth first,
// cells row by row as in the uniform run). X, Y is the grid position of the
// leaf's corner A on the full-depth grid of the whole lattice (paMax * 2^Depth
// + 1 points a side), Span its side in grid steps (a power of two). Polygons is
// how many polygons it made: 1 in quad mode, 4 plus the extra outline points
// in triangle mode.
struct AdaptiveLeaf {
    std::uint32_t X = 0, Y = 0;
    std::uint32_t Span = 1;
    std::uint32_t Polygons = 1;
};

// Generates the adaptive terrain of args with allowed error maxError (> 0, in
// output height units, the units of MaxHeight). args.Depth is the largest
// depth. The mesh has the form of GenerateTerrainMesh's: polygons in .suf file
// order (the last emitted first), corners counterclockwise seen from above,
// quads listed from D; with no extra outline points a leaf gives exactly the
// polygons the uniform run gives for it. A leaf's extra points follow its
// corners around the outline. In triangle mode the fan triangles of an edge are
// emitted from the edge's first corner on, (c, next, previous) on the edges
// A-B, B-C and D-A and (next, previous, c) on C-D, as the uniform run does.
//
// Vertices are numbered in the order they first appear, as in the uniform run,
// so that a run in which every leaf reaches full depth gives a mesh equal to
// GenerateTerrainMesh's.
//
// progress gets (steps done, steps in all), two steps per lattice cell.
// leaves, when given, receives the leaves in emission order.
//
// Failures throw talorin::Error and leave nothing behind: those of
// GenerateTerrainMesh (bad input, floating-point faults, out of memory,
// cancelled), and BadInput for a maxError that is not a finite number > 0.
// The full-depth reference heights of one cell and one index per point of the
// full-depth grid must fit the memory budget.
TerrainMesh GenerateAdaptiveMesh(const Talorin_Args& args, double maxError,
                                 const ProgressFn& progress = {},
                                 std::vector<AdaptiveLeaf>* leaves = nullptr);

// The number of polygons GenerateAdaptiveMesh makes for the same arguments,
// without building the mesh. Fails as GenerateAdaptiveMesh does.
std::uint64_t AdaptivePolygonCount(const Talorin_Args& args, double maxError,
                                   const ProgressFn& progress = {});

// The text for an allowed error that is not a number above 0.
inline const char* const kBadMaxErrorText = MessageText(Msg::BadMaxError, ProgramLanguage()).data();

} // namespace talorin
