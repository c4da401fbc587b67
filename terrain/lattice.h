#pragma once
// The control lattice laid over the contour image, and its editing by mouse presses.

#include <array>
#include <cstdint>

#include "image/bitmap.h"

namespace talorin {

// One lattice point in image pixels: X = column from the left, Y = row from the top.
struct MeshPoint {
    double X = 0;
    double Y = 0;
    friend bool operator==(const MeshPoint&, const MeshPoint&) = default;
};

inline constexpr int kMinPaMax = 4;
inline constexpr int kMaxPaMax = 16;

// [i][j]: i counts lattice columns from the left, j rows from the top. Only
// points with i, j <= PaMax are in use; the others are zero.
using MeshLattice = std::array<std::array<MeshPoint, kMaxPaMax + 1>, kMaxPaMax + 1>;

// The lattice arrays hold at most kMaxPaMax cells per side; fewer than one
// cell has no meaning. Throws talorin::Error when paMax is outside 1..kMaxPaMax.
void CheckDensity(int paMax);

// The uniform lattice of paMax x paMax cells over an image of this size, its
// coordinates built as running sums of (width-1)/paMax and (height-1)/paMax.
// Throws talorin::Error when paMax is outside 1..kMaxPaMax (the arrays' size).
MeshLattice InitMeshLattice(int width, int height, int paMax);
MeshLattice InitMeshLattice(const Bitmap& image, int paMax);

// Mouse buttons of a press on the preview.
enum : std::uint8_t { kLeftButton = 0, kRightButton = 1, kMiddleButton = 2 };

// The preview box the lattice is edited on.
inline constexpr int kPreviewWidth = 233;
inline constexpr int kPreviewHeight = 233;

// Moves the interior points of mesh for a press at (clickX, clickY) in preview
// pixels: the left button pulls them toward the press, the right button pushes
// them away (clamped to the lattice's corner rectangle), any other button does
// nothing. scaleX and scaleY map image pixels to preview pixels (preview size
// divided by image size). Border points never move. Throws talorin::Error for
// paMax outside 1..kMaxPaMax, FloatFault for a zero scale.
void AdjustMeshDensity(MeshLattice& mesh, int paMax, int clickX, int clickY,
                       std::uint8_t clickButton, double scaleX, double scaleY,
                       int boxWidth = kPreviewWidth, int boxHeight = kPreviewHeight);

} // namespace talorin
