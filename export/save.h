#pragma once
// The one way a terrain mesh reaches a file, whatever the format: the window
// and talorin-cli both save through here.

#include <cstdint>
#include <functional>
#include <string>

#include "export/format.h"
#include "export/meshsave.h"
#include "shape/terrainmesh.h"

namespace talorin {

// The name that stands for standard output, and how messages name it.
inline constexpr const char* kStandardOutputFile = "-";
inline const char* const kStandardOutputText = MessageText(Msg::StandardOutput, ProgramLanguage()).data();

// Gets the bytes written so far after every chunk, possibly on another thread.
using WrittenFn = std::function<void(std::uint64_t written)>;

// Saves mesh in format to fileName, or writes it to standard output when
// fileName is "-" (an OBJ then has no material file). A file is saved
// atomically (SaveSufMesh for .suf, SaveMeshExport for the others): a failure
// leaves what was there as it was. onWritten (may be empty) counts every byte
// handed to the file, for every format. Throws talorin::Error as those do.
void SaveTerrain(ExportFormat format, const std::string& fileName, const TerrainMesh& mesh,
                 const ExportTexture& texture, const WrittenFn& onWritten = {});

} // namespace talorin
