#pragma once
// Closing a terrain into a solid for 3D printing: walls down from its border
// and a flat bottom.

#include "shape/terrainmesh.h"

namespace talorin {

// Returns top closed into a watertight solid (in the .suf frame): top's
// vertices and polygons unchanged and first, then for every border edge (an
// edge that only one polygon uses) a quad wall straight down to height -base,
// then the bottom at -base, facing down. The bottom is a fan of triangles from
// one centre point when every border edge sees that point from inside, else a
// downward copy of every top polygon. Every edge of the result is used by
// exactly two polygons in opposite directions, provided top's own edges are
// used at most twice that way; the enclosed volume is the sum over the terrain
// of (height + base) x area.
// base is in output units and must be finite and > 0; throws talorin::Error
// when it is not, or when a point of the terrain lies at or below -base
// (the walls would turn inside out).
TerrainMesh MakeSolid(const TerrainMesh& top, double base);

} // namespace talorin
