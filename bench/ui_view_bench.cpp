// The 3D view's costs: preparing the geometry of a terrain, uploading it and
// drawing the first frame, and frames while orbiting. Needs a display with
// OpenGL; headless, run it on Xvfb:
//   QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/ui_view_bench

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTimer>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sys/resource.h>

#include "shape/terrainmesh.h"
#include "terrain/terrain.h"
#include "view/viewgeometry.h"
#include "ui/dialogs.h"
#include "ui/liveterrain.h"
#include "ui/mainwindow.h"
#include "ui/memoryreuse.h"
#include "ui/paintbox.h"
#include "ui/terrainview.h"

namespace {

// A round hill on a square of 2000, side x side quads in 16 x 16 cell runs,
// the layout the generator gives.
talorin::TerrainMesh Hill(int side) {
    talorin::TerrainMesh mesh;
    const int stride = side + 1;
    const double step = 2000.0 / side;
    mesh.Vertices.reserve(std::size_t(stride) * stride);
    for (int r = 0; r <= side; ++r)
        for (int c = 0; c <= side; ++c) {
            const double x = r * step - 1000, y = c * step - 1000;
            const double d = std::min(1.0, std::sqrt(x * x + y * y) / 1000);
            mesh.Vertices.push_back({x, y, 250 * (1 + std::cos(d * 3.141592653589793)),
                                     c * 255.0 / side, r * 255.0 / side});
        }
    const int leaves = side / 16;
    mesh.Indices.reserve(std::size_t(side) * side * 4);
    mesh.Starts.reserve(std::size_t(side) * side + 1);
    for (int cj = 0; cj < 16; ++cj)
        for (int ci = 0; ci < 16; ++ci)
            for (int lj = 0; lj < leaves; ++lj)
                for (int li = 0; li < leaves; ++li) {
                    const auto r = std::uint32_t(cj * leaves + lj),
                               c = std::uint32_t(ci * leaves + li);
                    const auto a = r * stride + c;
                    mesh.Indices.insert(mesh.Indices.end(),
                                        {a + stride, a + stride + 1, a + 1, a}); // D C B A
                    mesh.Starts.push_back(std::uint32_t(mesh.Indices.size()));
                }
    return mesh;
}

const talorin::TerrainMesh& CachedHill(int side) {
    static std::map<int, talorin::TerrainMesh> cache;
    auto it = cache.find(side);
    if (it == cache.end())
        it = cache.emplace(side, Hill(side)).first;
    return it->second;
}

std::unique_ptr<TerrainViewWindow> g_window; // closed before the application ends

TerrainViewWindow& Window() {
    if (!g_window) {
        auto w = std::make_unique<TerrainViewWindow>();
        w->show();
        QElapsedTimer waited;
        waited.start();
        while (w->windowHandle() && !w->windowHandle()->isExposed() && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!w->view() || !w->windowHandle() || !w->windowHandle()->isExposed()) {
            std::fprintf(stderr, "OpenGL did not start; run this on a display (xvfb-run)\n");
            std::exit(2);
        }
        g_window = std::move(w);
    }
    return *g_window;
}

// CPU seconds of every thread of the process so far: the software renderer
// draws on threads of its own, which the benchmark's CPU time leaves out.
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Asks for a repaint and waits until the frame is on the window.
void ShowFrame(TerrainView* view) {
    QEventLoop loop;
    QObject::connect(view, &QOpenGLWidget::frameSwapped, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, [&loop] {
        std::fprintf(stderr, "no frame within 10 s\n");
        loop.quit();
    });
    view->update();
    loop.exec();
}

// Every benchmark here: milliseconds, five repetitions, reported as their
// mean, median, spread, min and max.
void Summarized(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics(
            "min",
            [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ComputeStatistics("max", [](const std::vector<double>& v) {
            return *std::max_element(v.begin(), v.end());
        });
}

// The orbit benchmarks: filled and wireframe, thirty frames a repetition.
void Orbiting(benchmark::internal::Benchmark* b) {
    b->Args({512, 0})->Args({512, 1})->Iterations(30)->UseRealTime()->Apply(Summarized);
}

void BM_BuildGeometry(benchmark::State& state) {
    const auto& mesh = CachedHill(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(talorin::BuildViewGeometry(mesh, mesh.polygonCount() / 256));
    state.counters["polygons"] = double(mesh.polygonCount());
}

// The part a preview waits for: vertices with normals and colours, triangles.
void BM_BuildSurface(benchmark::State& state) {
    const auto& mesh = CachedHill(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(talorin::BuildViewSurface(mesh));
    state.counters["polygons"] = double(mesh.polygonCount());
}

// From a finished mesh to the picture on the window: geometry, upload, frame.
void BM_MeshToPicture(benchmark::State& state) {
    const auto& mesh = CachedHill(int(state.range(0)));
    TerrainView* view = Window().view();
    for (auto _ : state) {
        auto geometry = std::make_shared<const talorin::ViewGeometry>(
            talorin::BuildViewGeometry(mesh, mesh.polygonCount() / 256));
        view->setTerrain(std::move(geometry), QString());
        ShowFrame(view);
    }
    state.counters["polygons"] = double(mesh.polygonCount());
}

// Upload and first frame only, the geometry already prepared.
void BM_UploadAndShow(benchmark::State& state) {
    const auto& mesh = CachedHill(int(state.range(0)));
    const auto geometry = std::make_shared<const talorin::ViewGeometry>(
        talorin::BuildViewGeometry(mesh, mesh.polygonCount() / 256));
    TerrainView* view = Window().view();
    for (auto _ : state) {
        view->setTerrain(nullptr, QString());
        state.PauseTiming();
        ShowFrame(view);
        state.ResumeTiming();
        view->setTerrain(geometry, QString());
        ShowFrame(view);
    }
    state.counters["polygons"] = double(mesh.polygonCount());
}

// Orbiting at 640 x 480: a left drag moving 4 pixels a frame, as the user
// does it (dense terrains are drawn coarsely while the camera moves), or
// the same camera steps set directly (every frame exact). range(1): 1 with
// the wireframe on.
void OrbitFrames(benchmark::State& state, bool drag) {
    const auto& mesh = CachedHill(int(state.range(0)));
    TerrainView* view = Window().view();
    view->setWireframe(state.range(1) != 0);
    view->setTerrain(std::make_shared<const talorin::ViewGeometry>(
                         talorin::BuildViewGeometry(mesh, mesh.polygonCount() / 256)),
                     QString());
    ShowFrame(view);
    auto send = [view](QEvent::Type type, QPoint at, Qt::MouseButton button,
                       Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(at), QPointF(view->mapToGlobal(at)), button, held,
                          Qt::NoModifier);
        QApplication::sendEvent(view, &event);
    };
    QPoint at(200, 240);
    if (drag)
        send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    talorin::ViewCamera camera = view->camera();
    const double cpuBefore = ProcessCpuSeconds();
    for (auto _ : state) {
        if (drag) {
            at += QPoint(4, (state.iterations() % 2) ? 1 : -1);
            send(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
        } else {
            talorin::Orbit(camera, 4, 1);
            view->setCamera(camera);
        }
        ShowFrame(view);
    }
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    if (drag)
        send(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    // All threads' CPU per frame: on an idle machine with 2 cores the frame
    // takes at least half of this.
    state.counters["cpu_ms_per_frame"] = cpu * 1000 / double(state.iterations());
    view->setWireframe(false);
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["polygons"] = double(mesh.polygonCount());
}

void BM_OrbitDrag(benchmark::State& state) {
    OrbitFrames(state, true);
}
void BM_OrbitExact(benchmark::State& state) {
    OrbitFrames(state, false);
}

// The same frame drawn into the view's own framebuffer and read back, without
// putting it on the window: what the drawing itself costs.
void BM_DrawOnly(benchmark::State& state) {
    const auto& mesh = CachedHill(int(state.range(0)));
    TerrainView* view = Window().view();
    view->setTerrain(std::make_shared<const talorin::ViewGeometry>(
                         talorin::BuildViewGeometry(mesh, mesh.polygonCount() / 256)),
                     QString());
    ShowFrame(view);
    talorin::ViewCamera camera = view->camera();
    for (auto _ : state) {
        talorin::Orbit(camera, 4, 1);
        view->setCamera(camera);
        benchmark::DoNotOptimize(view->grabFramebuffer());
    }
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// A round hill of 233 x 233 pixels, the size of the main window's preview.
talorin::Bitmap RoundHill() {
    talorin::Bitmap image(233, 233);
    for (int y = 0; y < 233; ++y)
        for (int x = 0; x < 233; ++x) {
            const double r = std::min(1.0, std::hypot(x - 116.0, y - 116.0) / 116.0);
            const auto v = std::uint8_t(255 * (1 - r));
            image.setPixel(x, y, {v, v, v});
        }
    return image;
}

// A click on the main window's preview until the 3D view shows the changed
// terrain on the window: 16 x 16 cells at depth 5, 262144 quads, generated,
// prepared and drawn. The image is a round hill of 233 x 233 pixels.
void BM_PreviewClickToPicture(benchmark::State& state) {
    TTalorin_main main(RealDialogs(), {QStringLiteral("talorin")});
    main.document().setImage(RoundHill(), "hill");
    main.document().setDensity(16);
    main.document().setDepth(5);
    main.findChild<QAction*>(QStringLiteral("View3D"))->trigger();
    TerrainViewWindow* window = main.terrainViewWindow();
    LiveTerrain* live = main.liveTerrain();
    auto* preview = main.findChild<PaintBox*>(QStringLiteral("BmpShow"));
    if (!window || !window->view()) {
        state.SkipWithError("no OpenGL");
        return;
    }
    window->resize(640, 480);
    // Waits in an event loop, as the program does, rather than polling: a
    // polling loop would take a core from the worker and the renderer.
    bool delivered = false, framed = false;
    QEventLoop loop;
    QObject::connect(live, &LiveTerrain::terrainShown, [&] { delivered = true; });
    QObject::connect(window->view(), &QOpenGLWidget::frameSwapped, [&] {
        framed = delivered;
        if (framed && live->upToDate())
            loop.quit();
    });
    auto waitForPicture = [&] {
        if (framed && live->upToDate())
            return;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, [&loop] {
            std::fprintf(stderr, "no picture within 20 s\n");
            loop.quit();
        });
        timeout.start(20000);
        loop.exec();
    };
    delivered = framed = false;
    waitForPicture();
    int i = 0;
    const double cpuBefore = ProcessCpuSeconds();
    for (auto _ : state) {
        delivered = framed = false;
        // Pull and push by turns, so that every click changes the lattice.
        const bool pull = i++ % 2 == 0;
        const QPoint at(pull ? 80 : 150, pull ? 90 : 140);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), QPointF(at),
                          pull ? Qt::LeftButton : Qt::RightButton,
                          pull ? Qt::LeftButton : Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(preview, &press);
        waitForPicture();
    }
    // All threads' CPU per click: generation and geometry on the worker,
    // upload and drawing on the window's thread and the renderer's.
    state.counters["cpu_ms_per_click"] =
        (ProcessCpuSeconds() - cpuBefore) * 1000 / double(state.iterations());
    state.counters["polygons"] = double(window->view()->terrain()->polygonCount);
}

// Peak resident bytes since the last ResetPeak (Linux: VmHWM), and the present.
std::uint64_t StatusBytes(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    std::uint64_t kib = 0;
    while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, std::strlen(field)) == 0)
            kib = std::strtoull(line + std::strlen(field), nullptr, 10);
    if (f)
        std::fclose(f);
    return kib * 1024;
}
void ResetPeak() {
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

// After output of 16 x 16 cells at depth range(0) (8: 16,777,216 quads, shown
// as a reduced copy; 7: 4,194,304, within the view's budget, shown whole):
// from handing the shape to the view until it is on the window, and the most
// memory the view took for it beside the shape (peak_view_mib).
void BM_ShapeAfterSave(benchmark::State& state) {
    TTalorin_main main(RealDialogs(), {QStringLiteral("talorin")});
    main.document().setImage(RoundHill(), "hill");
    main.document().setDensity(16);
    main.document().setDepth(int(state.range(0)));
    main.findChild<QAction*>(QStringLiteral("View3D"))->trigger();
    TerrainViewWindow* window = main.terrainViewWindow();
    LiveTerrain* live = main.liveTerrain();
    if (!window || !window->view()) {
        state.SkipWithError("no OpenGL");
        return;
    }
    window->resize(640, 480);
    bool delivered = false;
    QEventLoop loop;
    QObject::connect(live, &LiveTerrain::terrainShown, [&] { delivered = true; });
    QObject::connect(window->view(), &QOpenGLWidget::frameSwapped, [&] {
        if (delivered && live->upToDate())
            loop.quit();
    });
    auto waitForPicture = [&] {
        QTimer::singleShot(60000, &loop, [&loop] { loop.quit(); });
        loop.exec();
    };
    waitForPicture(); // the preview
    const auto mesh = std::make_shared<const talorin::TerrainMesh>(
        talorin::GenerateTerrainMesh(main.document().makeArgs()));
    std::uint64_t peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        delivered = false;
        window->view()->setTerrain(nullptr, QString());
        ShowFrame(window->view());
        const std::uint64_t before = StatusBytes("VmRSS:");
        ResetPeak();
        state.ResumeTiming();
        live->showShape(mesh);
        waitForPicture();
        state.PauseTiming();
        peak = std::max(peak, StatusBytes("VmHWM:") - before);
        state.ResumeTiming();
    }
    state.counters["shape_polygons"] = double(mesh->polygonCount());
    state.counters["shown_polygons"] = double(window->view()->terrain()->polygonCount);
    state.counters["peak_view_mib"] = double(peak) / (1 << 20);
}

} // namespace

BENCHMARK(BM_ShapeAfterSave)->Arg(8)->Arg(7)->Iterations(1)->UseRealTime()->Apply(Summarized)->Repetitions(3);
BENCHMARK(BM_PreviewClickToPicture)->Iterations(10)->UseRealTime()->Apply(Summarized);
BENCHMARK(BM_DrawOnly)->Arg(512)->Iterations(30)->UseRealTime()->Apply(Summarized);
BENCHMARK(BM_BuildSurface)->Arg(512)->UseRealTime()->Apply(Summarized);
BENCHMARK(BM_BuildGeometry)->Arg(512)->Arg(2048)->Apply(Summarized);
BENCHMARK(BM_MeshToPicture)->Arg(512)->Apply(Summarized);
BENCHMARK(BM_UploadAndShow)->Arg(512)->Arg(2048)->Iterations(3)->Apply(Summarized);
BENCHMARK(BM_OrbitDrag)->Apply(Orbiting);
BENCHMARK(BM_OrbitExact)->Apply(Orbiting);

int main(int argc, char** argv) {
    // As the program does. NO_MEMORY_REUSE=1 shows what it saves.
    if (!std::getenv("NO_MEMORY_REUSE"))
        KeepFreedMemoryForReuse();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Window().resize(640, 480);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_window.reset();
    return 0;
}
