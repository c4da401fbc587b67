#include "ui/previews.h"

#include <QPainter>
#include <QPalette>

#include "view/raster.h"
#include "terrain/terraindocument.h"
#include "base/error.h"
#include "ui/paintbox.h"

using talorin::ConstPixelView;
using talorin::PixelView;

namespace {

// Both views need 32-bit 0xAARRGGBB pixels, which is what RGB32 holds.
PixelView ViewOf(QImage& image) {
    if (image.isNull())
        return {};
    return {reinterpret_cast<talorin::Pixel*>(image.bits()), image.width(), image.height(),
            image.bytesPerLine() / 4};
}

ConstPixelView ViewOf(const QImage& image) {
    if (image.isNull())
        return {};
    return {reinterpret_cast<const talorin::Pixel*>(image.constBits()), image.width(),
            image.height(), image.bytesPerLine() / 4};
}

QImage AsRgb32(const QImage& image) {
    if (image.isNull() || image.format() == QImage::Format_RGB32)
        return image;
    return image.convertToFormat(QImage::Format_RGB32);
}

// The box's canvas at the box's size. A widget that has not been shown yet
// has had no resize event, so its canvas may still be empty.
QImage& CanvasOf(PaintBox& box) {
    QImage& canvas = box.canvas();
    if (canvas.size() != box.size() || canvas.format() != QImage::Format_RGB32) {
        QImage fitted;
        if (!box.size().isEmpty()) {
            fitted = QImage(box.size(), QImage::Format_RGB32);
            fitted.fill(box.palette().color(QPalette::Window));
            QPainter p(&fitted);
            p.drawImage(0, 0, canvas);
        }
        canvas = fitted;
    }
    return canvas;
}

// Shows the canvas on the next paint.
void Show(PaintBox& box) {
    box.update();
}

} // namespace

void MakePreviewImage(const talorin::Bitmap& contour, int boxWidth, int boxHeight,
                      QImage& previewImage, double& scaleX, double& scaleY) {
    const double sx = talorin::PreviewScale(boxWidth, contour.width());
    const double sy = talorin::PreviewScale(boxHeight, contour.height());
    scaleX = sx;
    scaleY = sy;
    QImage image;
    if (boxWidth > 0 && boxHeight > 0) {
        image = QImage(boxWidth, boxHeight, QImage::Format_RGB32);
        image.fill(Qt::white);
        // Right and bottom edges excluded: the last column and row stay blank.
        talorin::StretchImage(ViewOf(image), boxWidth - 1, boxHeight - 1, contour);
    }
    previewImage = image;
}

void DrawMeshOverlay(PaintBox& box, const QImage& previewImage, const talorin::MeshLattice& mesh,
                     int paMax, double scaleX, double scaleY) {
    QImage& canvas = CanvasOf(box);
    const PixelView view = ViewOf(canvas);
    const QImage preview = AsRgb32(previewImage);
    talorin::CopyRect(view, ViewOf(preview), view.width - 1, view.height - 1);
    Show(box);
    talorin::DrawLatticeOverlay(view, mesh, paMax, scaleX, scaleY);
}

void MakeGraphBackground(QImage& graphBackground, int width, int height) {
    if (width == 0)
        throw talorin::FloatFault(talorin::kDivideByZeroText);
    QImage image;
    if (width > 0 && height > 0) {
        image = QImage(width, height, QImage::Format_RGB32);
        talorin::FillGradient(ViewOf(image));
    }
    graphBackground = image;
}

void DrawShapeGraph(PaintBox& box, const QImage& graphBackground, std::uint8_t shapeMode,
                    double level) {
    QImage& canvas = CanvasOf(box);
    const PixelView view = ViewOf(canvas);
    const QImage background = AsRgb32(graphBackground);
    talorin::CopyRect(view, ViewOf(background), background.width() - 1, background.height() - 1);
    Show(box);
    talorin::DrawShapeGraphCurve(view, shapeMode, level);
}
