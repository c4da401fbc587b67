// Vertex normals of one large terrain, as the exporters and the 3D view take
// them: the 1,048,576-quad case (1024 x 1024 contour image, density 16, depth
// 6) and its 4,194,304-triangle twin. Each round times VertexNormals and
// BuildViewSurface once per mesh; the table gives min, median and max wall
// time in milliseconds.
//
//     normals_bench [rounds]

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "shape/meshgeometry.h"
#include "terrain/terrain.h"
#include "view/viewgeometry.h"

#include "benchsupport.h"

using namespace talorin;
using namespace talorin::bench;

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const Bitmap image = ContourImage(1024);
    Talorin_Args args = LargeRunArgs(image);
    args.Depth = 6;
    args.QuadMode = true;
    const TerrainMesh quads = GenerateTerrainMesh(args);
    args.QuadMode = false;
    const TerrainMesh triangles = GenerateTerrainMesh(args);

    struct Case {
        const char* name;
        const TerrainMesh* mesh;
        bool view;
        std::vector<double> ms;
    };
    std::vector<Case> cases = {{"normals quads", &quads, false, {}},
                               {"normals triangles", &triangles, false, {}},
                               {"view surface quads", &quads, true, {}},
                               {"view surface triangles", &triangles, true, {}}};
    double sink = 0;
    for (int round = 0; round < rounds; ++round)
        for (Case& c : cases) {
            const auto start = Clock::now();
            if (c.view)
                sink += BuildViewSurface(*c.mesh).vertices[1].normal[0];
            else
                sink += VertexNormals(*c.mesh)[1].x;
            c.ms.push_back(MillisecondsSince(start));
        }
    std::printf("%d rounds (%g)\n%-24s %9s %9s %9s\n", rounds, sink > 0 ? 1.0 : 0.0, "", "min ms",
                "median ms", "max ms");
    for (const Case& c : cases) {
        const Summary t = Summarize(c.ms);
        std::printf("%-24s %9.1f %9.1f %9.1f\n", c.name, t.min, t.median, t.max);
    }
    return 0;
}
