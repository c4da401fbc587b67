#pragma once
// The output command, shared by the window and talorin-cli: generate the
// terrain (GenerateOutput), then save it (SaveTerrain, export/save.h). The
// window asks for the file name between the two; both front ends make the two
// calls in that order.

#include <optional>

#include "export/format.h"
#include "export/save.h"
#include "shape/terrainmesh.h"
#include "terrain/terrain.h"

namespace talorin {

// What one output run makes.
struct OutputRequest {
    Talorin_Args args;
    std::optional<double> maxError;  // adaptive depth with this error; unset: uniform
    std::optional<double> solidBase; // close into a solid down to -solidBase
};

// Generates the terrain of request (uniform or adaptive) and closes it into a
// solid when asked. progress gets (done, total) and may cancel by returning
// false. Throws talorin::Error as the generators and MakeSolid do (kind
// Cancelled, OutOfMemory, or the run's fault), having saved nothing.
TerrainMesh GenerateOutput(const OutputRequest& request, const ProgressFn& progress = {});

} // namespace talorin
