#pragma once
// Binary STL: the terrain (or solid) as triangles, Z up, for slicers and
// other tools that take triangle soup.

#include "base/atomicsave.h"
#include "shape/terrainmesh.h"

namespace talorin {

// Writes mesh as binary STL into sink: an 80-byte header (never starting with
// "solid", which readers take for the text form), the facet count, then one
// 50-byte facet per triangle of each polygon's fan: the unit face normal and
// the three corners as float32 in the Z-up frame, counter-clockwise seen from
// outside. Names are not written. Throws talorin::Error when the mesh has
// more triangles than a 32-bit count holds (checked before the first byte),
// and passes on what the sink throws.
void WriteStl(const TerrainMesh& mesh, const vesk::ByteSink& sink);

} // namespace talorin
