// Heights from 8-bit and 16-bit contour images side by side: a small and a large
// generation run on the same terrain at both depths, and the cost of computing
// every level's height up front, which the generator avoids for 16-bit images
// by computing each level when it is first read.
//
//     levels_bench [runs]
//
// Prints min / median / max wall time of each case and the 16-bit / 8-bit ratio
// of the medians.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "terrain/lattice.h"
#include "terrain/profilecurves.h"
#include "terrain/terrain.h"

#include "benchsupport.h"

using namespace talorin;
using namespace talorin::bench;

namespace {

// The hill in 8-bit grey, or with 16-bit levels beside its 8-bit display.
Bitmap HillImage(int size, bool sixteen) {
    Bitmap image(size, size);
    std::vector<std::uint32_t> levels;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double h = HillHeight(x, y, size);
            const auto g = std::uint8_t(std::lround(h * 255));
            image.setPixel(x, y, {g, g, g});
            if (sixteen)
                levels.push_back(3 * std::uint32_t(std::lround(h * 65535)));
        }
    if (sixteen)
        image.setLevels(std::move(levels), 3 * 65535);
    return image;
}

// Milliseconds of runs calls of work.
Summary Time(int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        ms.push_back(MillisecondsSince(start));
    }
    return Summarize(std::move(ms), EvenMedian::Upper);
}

void Report(const char* name, const Summary& eight, const Summary& sixteen) {
    std::printf("%-34s  8-bit %8.3f / %8.3f / %8.3f ms   16-bit %8.3f / %8.3f / %8.3f ms   "
                "ratio %.2f\n",
                name, eight.min, eight.median, eight.max, sixteen.min, sixteen.median, sixteen.max,
                sixteen.median / eight.median);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const Bitmap eight = HillImage(1024, false);
    const Bitmap sixteen = HillImage(1024, true);

    auto generate = [](const Bitmap& image, int paMax, int depth) {
        Talorin_Args args = HeightArgs(image, paMax);
        args.Depth = depth;
        return [args] { (void)GenerateTerrainMesh(args); };
    };
    std::printf("min / median / max of %d runs\n", runs);
    Report("run: density 4, depth 2", Time(runs, generate(eight, 4, 2)),
           Time(runs, generate(sixteen, 4, 2)));
    Report("run: density 16, depth 6", Time(runs, generate(eight, 16, 6)),
           Time(runs, generate(sixteen, 16, 6)));

    // What filling the whole table before every run would cost.
    auto fill = [](std::uint32_t levelMax) {
        return [levelMax] {
            std::vector<double> heights(std::size_t(levelMax) + 1);
            for (std::uint32_t level = 0; level <= levelMax; ++level)
                heights[level] = CheckedMul(ShapeCurve(2, level / double(levelMax), 2.3), 500);
            volatile double sink = heights[levelMax / 2];
            (void)sink;
        };
    };
    Report("every level up front (766 / 196606)", Time(runs, fill(765)), Time(runs, fill(196605)));
    return 0;
}
