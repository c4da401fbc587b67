#pragma once
// glTF 2.0 binary (.glb): one scene, node, mesh and triangle primitive, Y up,
// with the contour image embedded as the base-colour texture.

#include "base/atomicsave.h"
#include "image/bitmap.h"
#include "shape/terrainmesh.h"

namespace talorin {

// Writes mesh as a .glb file into sink: the JSON chunk, then the binary chunk
// with POSITION (float32, Y-up frame, with min and max), NORMAL (the unit
// area-weighted vertex normals), TEXCOORD_0 (u = U/255, v = V/255, origin at
// the top left) when the kind carries UV, the triangles of every polygon's
// fan as uint16 indices when the vertices allow it, else uint32, and, when
// the kind carries UV and texture is neither null nor empty, texture encoded
// as PNG. The material is named after the attribute, the node and the mesh
// after the object (UTF-8); asset.generator is "Talorin" and the version.
// Throws talorin::Error before the first byte when the mesh has no triangle,
// a position that is not finite, or is too large for a .glb (4 GiB); passes
// on what the sink throws.
void WriteGlb(const TerrainMesh& mesh, const Bitmap* texture, const vesk::ByteSink& sink);

} // namespace talorin
