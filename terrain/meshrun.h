#pragma once
// Internal to core: what the mesh generators (the uniform run and the adaptive
// one) share about a run, so that both fill a mesh alike and fail alike.

#include <cstdint>

#include "terrain/terrain.h"
#include "shape/terrainmesh.h"
#include "base/error.h"
#include "shape/shape.h"

namespace talorin {

// Throws talorin::Error of kind OutOfMemory with kOutOfMemoryText.
[[noreturn]] inline void ThrowOutOfMemory() {
    throw Error(ErrorKind::OutOfMemory, kOutOfMemoryText);
}

// Passes (done, total) to progress when there is one; throws talorin::Error
// of kind Cancelled with kCancelledText when it returns false.
inline void ReportProgress(const ProgressFn& progress, std::uint64_t done, std::uint64_t total) {
    if (progress && !progress(done, total))
        throw Error(ErrorKind::Cancelled, kCancelledText);
}

// Sets what the mesh of a run of args takes from args alone: the names, the
// polygon kind and the mode. Throws std::bad_alloc when out of memory.
inline void SetMeshHeader(TerrainMesh& mesh, const Talorin_Args& args) {
    mesh.ObjName = args.ObjName;
    mesh.AtrName = args.AtrName;
    mesh.Kind = std::uint8_t(2 * int(args.WithUV) + int(args.WithShade));
    mesh.QuadMode = args.QuadMode;
}

// The memory claim of a run of args that needs bytes up front (a count in
// double, which cannot wrap; clamped to 2^63). A run that cannot be built,
// tooLarge or not fitting the claim, is refused here before anything is
// built: with the floating-point fault the run would have met before memory
// ran out (one in its first leaf, such as a Size of 0), else OutOfMemory.
// args must have passed CheckGenerationArgs.
vesk::MemoryClaim ClaimRunMemory(const Talorin_Args& args, double bytes, bool tooLarge);

} // namespace talorin
