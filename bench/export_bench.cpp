// Saving one large terrain in every format, side by side: the 1,048,576-quad
// case (a 1024 x 1024 contour image, density 16, depth 6, quads, UV). Each
// round saves .suf, OBJ, STL, PLY and glb once, in turn, so that every format
// meets the same load on a shared machine; the table gives min, median and
// max wall time per format and the ratios to .suf.
//
//     export_bench [rounds] [folder for the temporary files]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "shape/sufmesh.h"
#include "terrain/terrain.h"
#include "export/meshsave.h"

#include "benchsupport.h"

using namespace talorin;
using namespace talorin::bench;

namespace {

struct Format {
    const char* name;
    ExportFormat format;
    std::vector<double> seconds;
    double size = 0;
};

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const Bitmap image = ContourImage(1024);

    Talorin_Args args = LargeRunArgs(image);
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
            // A failed save throws and ends the run with its message.
            if (f.format == ExportFormat::Suf)
                SaveSufMesh(file, mesh);
            else
                SaveMeshExport(f.format, file, mesh, {imageFile, &image});
            f.seconds.push_back(SecondsSince(start));
            struct stat info {};
            if (::stat(file.c_str(), &info) != 0) {
                std::fprintf(stderr, "saving %s failed\n", file.c_str());
                return 1;
            }
            f.size = double(info.st_size);
            std::remove(file.c_str());
        }
    std::remove((base + ".mtl").c_str());

    const Summary suf = Summarize(formats[0].seconds);
    std::printf("%-5s %9s %9s %9s %10s %13s %10s\n", "", "min s", "median s", "max s", "size MB",
                "median/.suf", "min/.suf");
    for (const Format& f : formats) {
        const Summary t = Summarize(f.seconds);
        std::printf("%-5s %9.3f %9.3f %9.3f %10.1f %13.2f %10.2f\n", f.name, t.min, t.median, t.max,
                    f.size / 1e6, t.median / suf.median, t.min / suf.min);
    }
    return 0;
}
