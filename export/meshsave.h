#pragma once
// Saving a terrain mesh in one of the export formats (everything but .suf),
// atomically like the .suf writer, or through an open descriptor.

#include <cstdint>
#include <functional>
#include <string>

#include "image/bitmap.h"
#include "shape/terrainmesh.h"
#include "export/format.h"

namespace talorin {

// The contour image the terrain was made from, for the formats that refer
// to it (OBJ's material names the file) or embed it (glb). Either part may be
// missing: an empty file name or a null image leaves the texture out.
struct ExportTexture {
    std::string file;              // the image's file name, UTF-8 (as the platform spells it)
    const Bitmap* image = nullptr; // 8-bit RGB pixels; not owned
};

// Saves mesh as format (Obj, Stl, Ply or Glb; not Suf) to fileName. The file
// is written to a temporary file and renamed over fileName only when complete
// (vesk::SaveAtomically), so a failure leaves an existing file untouched. An
// OBJ also gets its material file NAME.mtl beside it (saved the same way,
// before the OBJ), with map_Kd naming texture.file relative to the OBJ's
// folder. On a write failure throws talorin::Error of kind Io,
// "ファイル <name> に書き込めませんでした: <reason>" (base/atomicsave.h).
// Throws talorin::Error, having written nothing, when the mesh's index lists
// do not hold together (CheckMeshIndices), when the mesh does not fit the
// format (too many triangles or vertices, no triangles for glb), when
// the material file would replace the image itself, or when PNG encoding
// fails; every text is Japanese and names the file or the format.
// onWritten (may be empty) gets the bytes written so far (the material file's
// and the mesh file's together) after every chunk, possibly on another thread.
void SaveMeshExport(ExportFormat format, const std::string& fileName, const TerrainMesh& mesh,
                    const ExportTexture& texture,
                    const std::function<void(std::uint64_t written)>& onWritten = {});

// Writes the same bytes to an open descriptor (standard output, a pipe); name
// is used in messages. An OBJ written this way has no material file.
// Throws like SaveMeshExport.
void WriteMeshExport(int fd, const std::string& name, ExportFormat format, const TerrainMesh& mesh,
                     const ExportTexture& texture,
                     const std::function<void(std::uint64_t written)>& onWritten = {});

} // namespace talorin
