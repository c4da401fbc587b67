#include "export/save.h"

#include <unistd.h>

#include "shape/sufmesh.h"

namespace talorin {

void SaveTerrain(ExportFormat format, const std::string& fileName, const TerrainMesh& mesh,
                 const ExportTexture& texture, const WrittenFn& onWritten) {
    const bool toStdout = fileName == kStandardOutputFile;
    if (format == ExportFormat::Suf) {
        if (toStdout)
            WriteSufMesh(STDOUT_FILENO, kStandardOutputText, mesh);
        else
            SaveSufMesh(fileName, mesh, onWritten);
    } else if (toStdout) {
        WriteMeshExport(STDOUT_FILENO, kStandardOutputText, format, mesh, texture, onWritten);
    } else {
        SaveMeshExport(format, fileName, mesh, texture, onWritten);
    }
}

} // namespace talorin
