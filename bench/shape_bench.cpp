// Builds, saves, reads back and frees a terrain-sized model:
// 1,048,576 uvpoly quads (4,194,304 vertices) with values like the
// generator's. Prints vertices per second of each step, the file size and the
// peak memory per vertex.
//
// Usage: shape_bench [folder for the temporary .suf file]

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "shape/shape.h"
#include "shape/suf.h"

using namespace vesk;

namespace {

constexpr int kSide = 1024; // quads per side
constexpr std::uint64_t kQuads = std::uint64_t{kSide} * kSide;
constexpr std::uint64_t kVertices = 4 * kQuads;

// Wall-clock and processor time of one step: on a busy machine the
// processor time is the steadier figure.
struct Clock {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
    static double CpuSeconds() {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    }
    double Wall() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    }
    double Cpu() const { return CpuSeconds() - cpu; }
};

double PeakBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

// The grid's corner values as the generator would compute them: x and y from
// -1000 to 1000 with long fractions, z from 0 to 500, uv from 0 to 255. They
// are computed before the clock starts, so that the build measures the
// builders and not the sine.
struct Grid {
    std::vector<double> x, y, u, v, z;
    Grid() : x(kSide + 1), y(kSide + 1), u(kSide + 1), v(kSide + 1), z((kSide + 1) * (kSide + 1)) {
        for (int i = 0; i <= kSide; ++i) {
            x[i] = i * (2000.0 / 1023.7) - 1000.0;
            y[i] = i * (2000.0 / 1023.3) - 1000.0;
            u[i] = i * (255.0 / kSide);
            v[i] = i * (255.0 / 1023.0);
        }
        for (int row = 0; row <= kSide; ++row)
            for (int column = 0; column <= kSide; ++column)
                z[row * (kSide + 1) + column] =
                    250.0 + 250.0 * std::sin(row * 0.0123) * std::cos(column * 0.0171);
    }
    TVESK_Vertex* Corner(int row, int column) const {
        return NewVertex(x[row], y[column], z[row * (kSide + 1) + column], 0, 0, 0, u[column],
                         v[row]);
    }
};

TVESK_Object* Build(const Grid& grid) {
    TVESK_Object* object = NewObject("bench");
    if (object == nullptr)
        return nullptr;
    for (int row = 0; row < kSide; ++row) {
        for (int column = 0; column < kSide; ++column) {
            TVESK_Polygon* polygon = NewPolygon("BodyM", kUvPoly, object);
            if (polygon == nullptr) {
                FreeSuf(object);
                return nullptr;
            }
            const int corners[4][2] = {
                {row, column}, {row + 1, column}, {row + 1, column + 1}, {row, column + 1}};
            for (const auto& c : corners) {
                TVESK_Vertex* vertex = grid.Corner(c[0], c[1]);
                if (vertex == nullptr) {
                    ReleasePolygon(polygon);
                    FreeSuf(object);
                    return nullptr;
                }
                AddVertex(polygon, vertex);
            }
            AddPolygon(object, polygon);
        }
    }
    return object;
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    const std::string file = (folder / "shape_bench.suf").string();
    const double mega = 1e6;

    const Grid grid;
    Clock clock;
    TVESK_Object* model = Build(grid);
    const double build = clock.Wall(), buildCpu = clock.Cpu();
    if (model == nullptr) {
        std::fprintf(stderr, "build failed (memory budget %zu bytes)\n", MemoryBudget());
        return 1;
    }
    const double pools = static_cast<double>(MemoryInUse());
    const double peakBuilt = PeakBytes();

    clock = Clock();
    const bool saved = SaveSuf(file, model);
    const double save = clock.Wall(), saveCpu = clock.Cpu();
    if (!saved) {
        std::fprintf(stderr, "save failed\n");
        return 1;
    }
    const auto size = std::filesystem::file_size(file);

    clock = Clock();
    FreeSuf(model);
    const double release = clock.Wall();

    clock = Clock();
    TVESK_Object* back = LoadSuf(file);
    const double read = clock.Wall(), readCpu = clock.Cpu();
    std::uint64_t vertices = 0;
    if (back != nullptr)
        for (const TVESK_Polygon* p = back->Polygons; p != nullptr; p = p->Next)
            for (const TVESK_Vertex* v = p->Vertices; v != nullptr; v = v->Next)
                ++vertices;
    FreeSuf(back);
    std::filesystem::remove(file);

    const double n = static_cast<double>(kVertices);
    std::printf("model:   %llu uvpoly quads, %llu vertices\n",
                static_cast<unsigned long long>(kQuads),
                static_cast<unsigned long long>(kVertices));
    std::printf("build:   %.3f s  %.1f M vertices/s  (processor time %.3f s, %.1f M/s)\n", build,
                n / build / mega, buildCpu, n / buildCpu / mega);
    std::printf("save:    %.3f s  %.2f M vertex lines/s  (processor time %.3f s, %.2f M/s; "
                "file %.1f MB, %.1f bytes/line)\n",
                save, n / save / mega, saveCpu, n / saveCpu / mega,
                static_cast<double>(size) / mega, static_cast<double>(size) / n);
    std::printf("read:    %.3f s  %.2f M vertex lines/s  (processor time %.3f s, %.2f M/s; "
                "%llu vertices read back)\n",
                read, n / read / mega, readCpu, n / readCpu / mega,
                static_cast<unsigned long long>(vertices));
    std::printf("free:    %.3f s\n", release);
    std::printf("memory:  pools %.1f bytes/vertex, peak RSS after build %.1f bytes/vertex, "
                "peak RSS overall %.1f bytes/vertex\n",
                pools / n, peakBuilt / n, PeakBytes() / n);
    return vertices == kVertices ? 0 : 1;
}
