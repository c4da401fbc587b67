// Saving one large terrain in every format, side by side: the 1,048,576-quad
// case (a 1024 x 1024 contour image, density 16, depth 6, quads, UV). Each
// round saves .suf, OBJ, STL, PLY and glb once, in turn, so that every format
// meets the same load on a shared machine; the table gives min, median and
// max wall time per format and the ratios to .suf.
//
//     export_bench [rounds] [folder for the temporary files]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/sufmesh.h"
#include "core/terrain.h"
#include "export/meshsave.h"

using namespace talorin;

namespace {

using Clock = std::chrono::steady_clock;

// A smooth hill with ripples, so that heights vary from pixel to pixel.
Bitmap ContourImage(int size) {
    Bitmap image(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double u = double(x) / (size - 1) - 0.5, v = double(y) / (size - 1) - 0.5;
            const double h =
                std::exp(-8 * (u * u + v * v)) * (0.8 + 0.2 * std::sin(40 * u) * std::cos(37 * v));
            const auto level = std::uint8_t(std::clamp(h, 0.0, 1.0) * 255);
            image.setPixel(x, y, {level, level, std::uint8_t(255 - level)});
        }
    return image;
}

struct Format {
    const char* name;
    ExportFormat format;
    std::vector<double> seconds;
    double size = 0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const Bitmap image = ContourImage(1024);

    Talorin_Args args;
    args.Size = 2000;
    args.MaxHeight = 500;
    args.ShapeMode = 2;
    args.CurveLevel = 2.3;
    args.Bitmap = &image;
    args.ObjName = "bench";
    args.AtrName = "ground";
    args.PaMax = 16;
    args.Lattice = InitMeshLattice(image, args.PaMax);
    args.WithUV = true;
    args.QuadMode = true;
    args.Depth = 6;
    const TerrainMesh mesh = GenerateTerrainMesh(args);
    std::printf("%zu polygons, %zu distinct vertices, %d rounds\n", mesh.polygonCount(),
                mesh.Vertices.size(), rounds);

    std::vector<Format> formats = {{".suf", ExportFormat::Suf, {}},
                                   {"OBJ", ExportFormat::Obj, {}},
                                   {"STL", ExportFormat::Stl, {}},
                                   {"PLY", ExportFormat::Ply, {}},
                                   {"glb", ExportFormat::Glb, {}}};
    const std::string base = folder + "/export_bench_" + std::to_string(::getpid());
    const std::string imageFile = folder + "/contour.bmp";
    for (int round = 0; round < rounds; ++round)
        for (Format& f : formats) {
            const std::string file = base + FormatExtension(f.format);
            const auto start = Clock::now();
            const bool saved = f.format == ExportFormat::Suf
                                   ? SaveSufMesh(file, mesh)
                                   : SaveMeshExport(f.format, file, mesh, {imageFile, &image});
            f.seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
            struct stat info {};
            if (!saved || ::stat(file.c_str(), &info) != 0) {
                std::fprintf(stderr, "saving %s failed\n", file.c_str());
                return 1;
            }
            f.size = double(info.st_size);
            std::remove(file.c_str());
        }
    std::remove((base + ".mtl").c_str());

    const double sufMedian = Median(formats[0].seconds);
    const double sufMin = *std::min_element(formats[0].seconds.begin(), formats[0].seconds.end());
    std::printf("%-5s %9s %9s %9s %10s %13s %10s\n", "", "min s", "median s", "max s", "size MB",
                "median/.suf", "min/.suf");
    for (const Format& f : formats) {
        const auto [lo, hi] = std::minmax_element(f.seconds.begin(), f.seconds.end());
        const double median = Median(f.seconds);
        std::printf("%-5s %9.3f %9.3f %9.3f %10.1f %13.2f %10.2f\n", f.name, *lo, median, *hi,
                    f.size / 1e6, median / sufMedian, *lo / sufMin);
    }
    return 0;
}
