#include "export/output.h"

#include "terrain/adaptive.h"
#include "terrain/solid.h"

namespace talorin {

TerrainMesh GenerateOutput(const OutputRequest& request, const ProgressFn& progress) {
    TerrainMesh mesh = request.maxError
                           ? GenerateAdaptiveMesh(request.args, *request.maxError, progress)
                           : GenerateTerrainMesh(request.args, progress);
    if (request.solidBase)
        mesh = MakeSolid(mesh, *request.solidBase);
    return mesh;
}

} // namespace talorin
