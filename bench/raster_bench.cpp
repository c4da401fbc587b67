// What one press on the contour preview costs: moving the lattice and redrawing
// the 233 x 233 preview (image copy plus every cell), which must stay far below
// one frame (16 ms). Also the profile graph's redraw.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "terrain/lattice.h"
#include "view/raster.h"

namespace {

using namespace talorin;

struct Buffer {
    int width, height;
    std::vector<Pixel> pixels;
    Buffer(int w, int h, Pixel fill) : width(w), height(h), pixels(std::size_t(w) * h, fill) {}
    PixelView view() { return {pixels.data(), width, height, width}; }
    ConstPixelView constView() const { return {pixels.data(), width, height, width}; }
};

Buffer PreviewOf(const Bitmap& image) {
    Buffer preview(kPreviewWidth, kPreviewHeight, 0xffffffffu);
    StretchImage(preview.view(), kPreviewWidth - 1, kPreviewHeight - 1, image);
    return preview;
}

Bitmap PatternImage(int width, int height) {
    Bitmap image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, {std::uint8_t(x), std::uint8_t(y), std::uint8_t(x ^ y)});
    return image;
}

// One left press in the middle of the preview on a fresh uniform lattice.
void BM_PreviewClick(benchmark::State& state) {
    const int paMax = int(state.range(0));
    const Bitmap image = PatternImage(640, 480);
    const double scaleX = double(kPreviewWidth) / image.width();
    const double scaleY = double(kPreviewHeight) / image.height();
    const Buffer preview = PreviewOf(image);
    const MeshLattice uniform = InitMeshLattice(image, paMax);
    Buffer canvas(kPreviewWidth, kPreviewHeight, 0);
    int click = 0;
    for (auto _ : state) {
        MeshLattice mesh = uniform;
        const int x = 100 + (click % 7) * 5, y = 90 + (click % 5) * 7;
        ++click;
        AdjustMeshDensity(mesh, paMax, x, y, kLeftButton, scaleX, scaleY);
        CopyRect(canvas.view(), preview.constView(), kPreviewWidth - 1, kPreviewHeight - 1);
        DrawLatticeOverlay(canvas.view(), mesh, paMax, scaleX, scaleY);
        benchmark::DoNotOptimize(canvas.pixels.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PreviewClick)->Arg(4)->Arg(16)->Unit(benchmark::kMicrosecond);

// Loading an image: the stretch into the preview.
void BM_StretchPreview(benchmark::State& state) {
    const Bitmap image = PatternImage(int(state.range(0)), int(state.range(0)));
    Buffer preview(kPreviewWidth, kPreviewHeight, 0xffffffffu);
    for (auto _ : state) {
        StretchImage(preview.view(), kPreviewWidth - 1, kPreviewHeight - 1, image);
        benchmark::DoNotOptimize(preview.pixels.data());
    }
}
BENCHMARK(BM_StretchPreview)->Arg(233)->Arg(2048)->Unit(benchmark::kMicrosecond);

// Moving the level slider: background copy plus the curve.
void BM_ShapeGraph(benchmark::State& state) {
    Buffer background(233, 73, 0);
    FillGradient(background.view());
    Buffer canvas(233, 73, 0);
    for (auto _ : state) {
        CopyRect(canvas.view(), background.constView(), 232, 72);
        DrawShapeGraphCurve(canvas.view(), 2, 5.5);
        benchmark::DoNotOptimize(canvas.pixels.data());
    }
}
BENCHMARK(BM_ShapeGraph)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
