#pragma once
// Wavefront OBJ and its material file: welded vertices, polygons kept as
// they are (quads stay quads), Y up.

#include <string>

#include "base/atomicsave.h"
#include "shape/terrainmesh.h"

namespace talorin {

// Writes mesh as OBJ text (lines end in LF) into sink: "mtllib mtlFileName"
// when mtlFileName is not empty, "o OBJECT", then "v x y z" in the Y-up
// frame, "vt u v" (u = U/255, v = 1 - V/255) when the kind carries UV, "vn"
// with the unit area-weighted vertex normals, "usemtl ATTRIBUTE" and one
// "f a/b/c ..." per polygon (1-based; "f a//c" without UV), corners in the
// mesh's order. Numbers are the shortest text that reads back as the same
// double. Names are UTF-8. Passes on what the sink throws.
void WriteObj(const TerrainMesh& mesh, const std::string& mtlFileName, const vesk::ByteSink& sink);

// Writes the material file that goes with WriteObj's output: one material
// named after the attribute, white, with "map_Kd texturePath" when
// texturePath is not empty (a path relative to the OBJ's folder, UTF-8).
void WriteMtl(const TerrainMesh& mesh, const std::string& texturePath, const vesk::ByteSink& sink);

} // namespace talorin
