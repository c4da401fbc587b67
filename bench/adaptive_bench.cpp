// Adaptive depth against the uniform run on the 1024 x 1024 contour image of
// generate_bench at density 16, depth 6 (1,048,576 quads): polygon counts and
// generation times for allowed errors of 0.1 %, 0.5 % and 2 % of the height,
// side by side in one run (the cases take turns, run after run), and the
// largest error measured at the reference points, which must not exceed the
// allowed one.
//
//     adaptive_bench [runs] [--triangles]

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "terrain/adaptive.h"
#include "terrain/terrain.h"

#include "benchsupport.h"

using namespace talorin;
using namespace talorin::bench;

namespace {

// Heights of the uniform quad run on its grid of points, read back from the
// mesh: leaf w of the walk sits at the grid position its quarter bits name.
std::vector<double> GridHeights(const TerrainMesh& uniform, int paMax, int depth,
                                std::uint32_t& side) {
    side = (std::uint32_t(paMax) << depth) + 1;
    std::vector<double> z(std::size_t(side) * side);
    const std::size_t n = uniform.polygonCount();
    for (std::size_t w = 0; w < n; ++w) {
        const std::uint64_t perCell = std::uint64_t{1} << (2 * depth);
        const std::uint64_t cell = w / perCell, rest = w % perCell;
        std::uint32_t x = std::uint32_t(cell % paMax) << depth;
        std::uint32_t y = std::uint32_t(cell / paMax) << depth;
        for (int level = depth - 1; level >= 0; --level) {
            const unsigned quarter = unsigned(rest >> (2 * level)) & 3;
            x += (quarter == 1 || quarter == 2) ? 1u << level : 0;
            y += (quarter == 2 || quarter == 3) ? 1u << level : 0;
        }
        const std::uint32_t* q = uniform.corners(n - 1 - w); // D, C, B, A
        z[std::size_t(y + 1) * side + x] = uniform.Vertices[q[0]].Z;
        z[std::size_t(y + 1) * side + x + 1] = uniform.Vertices[q[1]].Z;
        z[std::size_t(y) * side + x + 1] = uniform.Vertices[q[2]].Z;
        z[std::size_t(y) * side + x] = uniform.Vertices[q[3]].Z;
    }
    return z;
}

// The largest |reference - bilinear through the leaf's corners| over all
// reference points of all quad leaves.
double MeasuredError(const std::vector<double>& z, std::uint32_t side,
                     const std::vector<AdaptiveLeaf>& leaves) {
    double worst = 0;
    for (const AdaptiveLeaf& leaf : leaves) {
        auto at = [&](std::uint32_t x, std::uint32_t y) { return z[std::size_t(y) * side + x]; };
        const std::uint32_t x0 = leaf.X, y0 = leaf.Y, s = leaf.Span;
        const double zA = at(x0, y0), zB = at(x0 + s, y0), zC = at(x0 + s, y0 + s),
                     zD = at(x0, y0 + s);
        for (std::uint32_t j = 0; j <= s; ++j)
            for (std::uint32_t i = 0; i <= s; ++i) {
                const double u = double(i) / s, v = double(j) / s;
                const double value =
                    (1 - u) * (1 - v) * zA + u * (1 - v) * zB + u * v * zC + (1 - u) * v * zD;
                worst = std::max(worst, std::fabs(at(x0 + i, y0 + j) - value));
            }
    }
    return worst;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const bool quads = !(argc > 2 && std::strcmp(argv[2], "--triangles") == 0);
    const Bitmap image = ContourImage(1024);

    Talorin_Args args = LargeRunArgs(image);
    args.QuadMode = quads;
    args.Depth = quads ? 6 : 5;

    const double shares[] = {0.001, 0.005, 0.02};
    constexpr int kCases = 4; // uniform, then the three allowed errors
    std::vector<double> times[kCases];
    std::size_t polygons[kCases] = {};
    std::vector<AdaptiveLeaf> leaves[kCases];
    TerrainMesh uniform;
    for (int run = 0; run < runs; ++run)
        for (int c = 0; c < kCases; ++c) {
            const auto start = Clock::now();
            if (c == 0) {
                uniform = GenerateTerrainMesh(args);
                times[c].push_back(SecondsSince(start));
                polygons[c] = uniform.polygonCount();
            } else {
                const TerrainMesh mesh = GenerateAdaptiveMesh(args, shares[c - 1] * args.MaxHeight);
                times[c].push_back(SecondsSince(start));
                polygons[c] = mesh.polygonCount();
            }
        }

    // The leaves, for measuring, from one more run outside the timing.
    for (int c = 1; c < kCases; ++c)
        (void)GenerateAdaptiveMesh(args, shares[c - 1] * args.MaxHeight, {}, &leaves[c]);

    std::printf("%s, density 16, depth %d, height %g, %d runs each, taking turns\n",
                quads ? "quads" : "triangles", args.Depth, args.MaxHeight, runs);
    std::printf("%-22s %10s %8s %9s %9s %9s %8s %12s\n", "case", "polygons", "share", "min s",
                "median s", "max s", "x time", "max error");
    std::uint32_t side = 0;
    const Summary uniformTimes = Summarize(times[0]);
    const std::vector<double> z =
        quads ? GridHeights(uniform, args.PaMax, args.Depth, side) : std::vector<double>{};
    for (int c = 0; c < kCases; ++c) {
        const Summary t = Summarize(times[c]);
        char name[64];
        if (c == 0)
            std::snprintf(name, sizeof name, "uniform");
        else
            std::snprintf(name, sizeof name, "E = %.1f %% (%.1f)", shares[c - 1] * 100,
                          shares[c - 1] * args.MaxHeight);
        char error[32] = "-";
        if (c > 0 && quads)
            std::snprintf(error, sizeof error, "%.4f", MeasuredError(z, side, leaves[c]));
        std::printf("%-22s %10zu %7.2f%% %9.4f %9.4f %9.4f %8.2f %12s\n", name, polygons[c],
                    100.0 * double(polygons[c]) / double(polygons[0]), t.min, t.median, t.max,
                    t.median / uniformTimes.median, error);
    }
    return 0;
}
