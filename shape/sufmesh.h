#pragma once
// The .suf writer over a terrain mesh: the same bytes as the shape model's
// writer (shape/suf.h) gives for the same terrain, without building the model.
//
// Every function first checks that the mesh's lists are consistent (Starts
// from 0, rising, within Indices; every index a vertex) and throws
// talorin::Error of kind BadInput, before touching any file, when they are not.

#include <cstdint>
#include <functional>
#include <string>

#include "shape/terrainmesh.h"

namespace talorin {

// Writes mesh as one .suf object to fileName (a path in the platform's
// encoding), atomically as vesk::SaveSuf does: through a temporary file in the
// same folder, renamed over fileName only when complete; a device or a pipe is
// written through itself. Each distinct vertex line is formatted once (on two
// threads when there are many).
// On failure leaves an existing file as it was and throws talorin::Error:
// kind Io, "ファイル <name> に書き込めませんでした: <reason>", for a failed
// write (base/atomicsave.h); kind BadInput, naming the name and the reason,
// before anything is written, for an object or attribute name that would not
// read back (shape/sufnames.h). onWritten (may be empty) gets the bytes
// written so far after every chunk, possibly on another thread, so that a
// window can show how far a long save has come.
void SaveSufMesh(const std::string& fileName, const TerrainMesh& mesh,
                 const std::function<void(std::uint64_t written)>& onWritten = {});

// The same text written to an open descriptor (standard output, a pipe) in big
// chunks. Throws as SaveSufMesh does, naming `name`.
void WriteSufMesh(int fd, const std::string& name, const TerrainMesh& mesh);

// The same text as a string (for tests and small meshes).
std::string SufMeshText(const TerrainMesh& mesh);

} // namespace talorin
