// Generation and saving of a large terrain: a 1024 x 1024 contour image at
// density 16 and depth 6: 1,048,576 quads, or 4,194,304 triangles. Prints the
// time of each step (freeing too), corners per second and the peak memory of
// the process.
//
//     generate_bench [runs] [output folder | --no-save]
//
// Wall time suffers when other processes share the cores, so the CPU time of
// the process (user + system, the latter mostly first touches of new pages)
// and its page faults are shown too. The side-by-side comparison of whole
// command-line runs is cli_bench.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "shape/sufmesh.h"
#include "terrain/terrain.h"

#include "benchsupport.h"

using namespace talorin;
using namespace talorin::bench;

namespace {

rusage Usage() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage;
}

double CpuSeconds(const rusage& u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Case {
    const char* name;
    bool quads;
    int depth;
};

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const bool save = folder != "--no-save";
    const Bitmap image = ContourImage(1024);

    Talorin_Args args = LargeRunArgs(image);
    args.WithUV = true;

    const Case cases[] = {{"quads, depth 6", true, 6}, {"triangles, depth 6", false, 6}};
    for (const Case& c : cases) {
        args.QuadMode = c.quads;
        args.Depth = c.depth;
        const std::uint64_t polygons =
            std::uint64_t(EstimatePolygonCount(c.depth, c.quads ? 1 : 0, args.PaMax));
        const std::uint64_t vertices = polygons * (c.quads ? 4 : 3);

        double best = 1e300, total = 0, freeing = 1e300, bestCpu = 1e300;
        long faults = 0;
        TerrainMesh mesh;
        for (int run = 0; run < runs; ++run) {
            const rusage before = Usage();
            const auto start = Clock::now();
            mesh = GenerateTerrainMesh(args);
            const double seconds = SecondsSince(start);
            const rusage after = Usage();
            best = std::min(best, seconds);
            bestCpu = std::min(bestCpu, CpuSeconds(after) - CpuSeconds(before));
            faults += after.ru_minflt - before.ru_minflt;
            total += seconds;
            if (run + 1 < runs) {
                const auto freeStart = Clock::now();
                mesh = TerrainMesh{};
                freeing = std::min(freeing, SecondsSince(freeStart));
            }
        }
        std::printf("%s: %llu polygons, %llu corners, %zu distinct vertices\n", c.name,
                    (unsigned long long)polygons, (unsigned long long)vertices,
                    mesh.Vertices.size());
        std::printf("  generate: best %.3f s, mean %.3f s over %d runs, %.1f M corners/s (best)\n",
                    best, total / runs, runs, double(vertices) / best / 1e6);
        std::printf("  generate: CPU best %.3f s, %.1f M corners/s; %ld page faults per run\n",
                    bestCpu, double(vertices) / bestCpu / 1e6, faults / runs);
        if (runs > 1)
            std::printf("  free:     %.3f s\n", freeing);
        std::printf("  mesh memory: %.1f MB\n",
                    double(mesh.Vertices.capacity() * sizeof(MeshVertex) +
                           (mesh.Indices.capacity() + mesh.Starts.capacity()) * 4) /
                        1e6);
        if (!save)
            continue;

        const std::string file = folder + "/generate_bench_" + std::to_string(::getpid()) + ".suf";
        const auto saveStart = Clock::now();
        SaveSufMesh(file, mesh); // a failed save throws and ends the run with its message
        const double saveSeconds = SecondsSince(saveStart);
        struct stat info {};
        const bool sized = ::stat(file.c_str(), &info) == 0;
        std::remove(file.c_str());
        std::printf("  save:     %.3f s, %.1f MB, %.1f MB/s, %.1f M corners/s\n", saveSeconds,
                    sized ? double(info.st_size) / 1e6 : 0.0,
                    sized ? double(info.st_size) / 1e6 / saveSeconds : 0.0,
                    double(vertices) / saveSeconds / 1e6);
    }
    std::printf("peak resident memory: %.1f MB\n", double(Usage().ru_maxrss) / 1024);
    return 0;
}
