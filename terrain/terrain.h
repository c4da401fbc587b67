#pragma once
// Talorin_Core: height sampling, recursive subdivision, the generation driver
// and the polygon-count estimate.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "image/bitmap.h"
#include "terrain/lattice.h"
#include "shape/terrainmesh.h"
#include "base/error.h"
#include "shape/shape.h"

namespace talorin {

// How a point's height is read from the contour image: the pixel it rounds to
// (positions past the right and bottom edges wrap), or the brightness
// interpolated between the four pixels around it (edges clamped).
enum class HeightSampling : std::uint8_t { Nearest, Bilinear };

// The terrain's plan: a square of Size, or the image's proportions with the
// longer side Size and one pixel step as long on both axes.
enum class TerrainAspect : std::uint8_t { Square, Image };

// Every setting of one generation run, filled by the caller in one go.
struct Talorin_Args {
    double Size = 0;                           // edge of the square terrain (longer side), output units
    double MaxHeight = 0;                      // z of a point whose profile value is 1
    bool QuadMode = true;                      // quads, or four triangles per leaf
    std::uint8_t ShapeMode = 0;                // 0 rise, 1 dome (mirror), 2 hill (S)
    double CurveLevel = 1.0;                   // the profile's exponent
    std::shared_ptr<const ::talorin::Bitmap> Bitmap; // the contour image, kept alive by the run
    std::int32_t Depth = 0;                    // subdivision depth, >= 0
    std::string ObjName;                       // CP932 bytes
    std::string AtrName;                       // CP932 bytes
    MeshLattice Lattice{};
    std::int32_t PaMax = kMinPaMax;
    bool WithUV = true;
    bool WithShade = false;
    HeightSampling Sampling = HeightSampling::Nearest;
    TerrainAspect Aspect = TerrainAspect::Square;
};

// Rounds to the nearest integer, halves to even; throws FloatFault with the
// invalid-operation text when x is not a number or outside the 32-bit range.
std::int32_t RoundToInt32(double x);

// The profile of mode 0, 1 or 2 on the unit box at x clamped into 0..1.
double ShapeCurve(std::uint8_t shapeMode, double x, double e);

// Called now and then during a run with the leaves done and the leaves in all;
// returning false cancels the run.
using ProgressFn = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Refuses arguments no run can take, in the order a run checks them: talorin::Error
// for a depth below 0, a missing or empty image or a density outside 1..16,
// FloatFault (invalid operation) for a non-finite number.
void CheckGenerationArgs(const Talorin_Args& args);

// Generates the terrain as a mesh value owned by the caller: every distinct
// point once, polygons in .suf file order (see TerrainMesh). Touches no
// process-wide state but the memory budget (shape/shape.h), which it only reads.
//
// progress gets (leaves done, leaves in all) every few thousand leaves (well
// under a millisecond apart) and once at the end of a successful run.
//
// Failures throw talorin::Error and leave nothing behind:
// - kind OutOfMemory, kOutOfMemoryText: the run does not fit the memory budget
//   (refused before anything is built) or stops fitting while it grows;
// - kind FloatFault (class FloatFault) with the fault's text: an image one
//   pixel wide or high, a Size of 0, ..., or a non-finite number in args; the
//   first fault of the run in the order of the rules;
// - kind BadInput: a depth below 0, a missing or empty image, a PaMax outside
//   1..16;
// - kind Cancelled: progress returned false.
TerrainMesh GenerateTerrainMesh(const Talorin_Args& args, const ProgressFn& progress = {});

// The size of the mesh GenerateTerrainMesh makes for args, counted in double
// (which cannot wrap): distinct vertices, corner indices and polygons. For
// budgets that must know the run before it starts; args are not checked.
struct MeshCounts {
    double vertices = 0, indices = 0, polygons = 0;
};
MeshCounts UniformMeshCounts(const Talorin_Args& args);

// Goes over the uniform run of args with every step checked, building
// nothing, and throws the FloatFault that run meets first. For callers that
// saw a non-finite value from args and need the fault's own text. Throws
// FloatFault with the invalid-operation text when no step faults.
[[noreturn]] void ThrowFirstFault(const Talorin_Args& args);

// The text of a cancelled run.
inline const char* const kCancelledText = MessageText(Msg::Cancelled, ProgramLanguage()).data();

// The mesh as one new object of the shape model, which the caller owns
// (FreeSuf): the polygons and their vertex lists in file order, normals zero.
// Written by SaveSuf, it gives the same bytes as SaveSufMesh on the mesh.
// Throws talorin::Error of kind OutOfMemory, leaving nothing, when a builder fails.
vesk::TVESK_Object* MeshToShape(const TerrainMesh& mesh);

// 4^depth x paMax^2 quads, or four times that many triangles. Throws FloatFault
// with the invalid-operation text when the count exceeds 2147483647.
std::int32_t EstimatePolygonCount(std::int32_t depth, std::uint8_t quadMode, std::int32_t paMax);

} // namespace talorin
