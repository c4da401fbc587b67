#pragma once
// Drawing of the contour preview with its lattice and of the side-profile
// graph. The pixel work is done by plain functions in view/raster; these only
// move pictures between them and the paint boxes.

#include <QImage>
#include <cstdint>

#include "image/bitmap.h"
#include "terrain/lattice.h"

class PaintBox;

// Sets scaleX/scaleY to box size / image size and makes previewImage a
// boxWidth x boxHeight picture holding contour stretched (nearest neighbour)
// into (0, 0)-(boxWidth-1, boxHeight-1), right and bottom edges excluded.
void MakePreviewImage(const talorin::Bitmap& contour, int boxWidth, int boxHeight,
                      QImage& previewImage, double& scaleX, double& scaleY);

// Paints box from scratch: previewImage without its last column and row, then
// every cell of mesh (black, then red shifted by (-2, -2)). Shows it at once.
void DrawMeshOverlay(PaintBox& box, const QImage& previewImage, const talorin::MeshLattice& mesh,
                     int paMax, double scaleX, double scaleY);

// Makes graphBackground a width x height grey gradient (black at the left).
void MakeGraphBackground(QImage& graphBackground, int width, int height);

// Paints box from scratch: graphBackground without its last column and row,
// then the profile curve of shapeMode at level (the exponent). Shows it at once.
void DrawShapeGraph(PaintBox& box, const QImage& graphBackground, std::uint8_t shapeMode,
                    double level);
