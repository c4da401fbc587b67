#pragma once
// Binary little-endian PLY: welded vertices with normals (and texture
// coordinates), polygons as index lists, Z up.

#include "base/atomicsave.h"
#include "shape/terrainmesh.h"

namespace talorin {

// Writes mesh as "format binary_little_endian 1.0" into sink. Vertex
// properties float x y z nx ny nz and, when the mesh's kind carries UV, s t
// (s = U/255, t = 1 - V/255, origin at the bottom left); positions in the
// Z-up frame, normals the unit area-weighted vertex normals. Faces as
// "property list uchar int vertex_indices", corners in the mesh's order
// (counter-clockwise seen from above); a polygon of more than 255 corners,
// which a uchar count cannot hold, is written as its triangle fan. Object and
// attribute names go into comment lines as UTF-8. Throws talorin::Error when
// the mesh has more vertices than an int index holds (before the first
// byte), and passes on what the sink throws.
void WritePly(const TerrainMesh& mesh, const vesk::ByteSink& sink);

} // namespace talorin
