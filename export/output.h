#pragma once
// The output command, shared by the window and talorin-cli: generate the
// terrain (GenerateOutput), then save it (SaveTerrain, export/save.h). The
// window asks for the file name between the two; both front ends make the two
// calls in that order.

#include <cstdint>
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
    // The format it will be saved in, when known before generating (the
    // window asks afterwards: CheckSaveMemory then counts the writer).
    std::optional<ExportFormat> format;
    // The most that a view showing the result holds besides (the window's
    // 3D view, which is capped); the run counts what the view would take for
    // the mesh, up to this. 0: no view.
    std::uint64_t viewShare = 0;
};

// Generates the terrain of request (uniform or adaptive) and closes it into a
// solid when asked. progress gets (done, total) and may cancel by returning
// false. The memory budget covers the whole run: the mesh, the solid's copy,
// the writer's buffers (when the format is known) and the view's share. A
// uniform run that cannot fit is refused before it starts, any run once its
// mesh is known, with talorin::Error of kind OutOfMemory (kOutOfMemoryText).
// Throws talorin::Error as the generators and MakeSolid do (kind Cancelled,
// OutOfMemory, or the run's fault), having saved nothing.
TerrainMesh GenerateOutput(const OutputRequest& request, const ProgressFn& progress = {});

// Throws talorin::Error of kind OutOfMemory (kOutOfMemoryText) when saving
// mesh as format would not fit beside the mesh and a view of it holding up to
// viewShare bytes (as OutputRequest::viewShare).
void CheckSaveMemory(ExportFormat format, const TerrainMesh& mesh, const ExportTexture& texture,
                     std::uint64_t viewShare);

} // namespace talorin
