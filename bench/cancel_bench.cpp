// How quickly a generation stops once it is cancelled: a run of 16.7 million
// quads (density 16, depth 8) is cancelled after a given time on the clock,
// as the window's キャンセル does, and the time from the cancel to the end of
// the call (the run unwound and everything it built freed) is measured.
// Prints min, median and max over the runs, for each cancel point side by side.
//
//     cancel_bench [runs]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "terrain/terrain.h"
#include "terrain/terraindocument.h"
#include "base/error.h"

#include "benchsupport.h"

using namespace talorin;
using namespace talorin::bench;

namespace {

double MsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

Bitmap Hill(int size) {
    Bitmap image(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const auto g = std::uint8_t((x * 3 + y * 5) % 256);
            image.setPixel(x, y, {g, g, g});
        }
    return image;
}

// Milliseconds from the cancel to the return of the run, or a negative value
// when the run ended before it was cancelled.
double OneRun(const Talorin_Args& args, int cancelAfterMs) {
    std::atomic<bool> cancelled{false};
    Clock::time_point cancelledAt{};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(cancelAfterMs));
        cancelledAt = Clock::now();
        cancelled.store(true);
    });
    bool stopped = false;
    try {
        TerrainMesh mesh = GenerateTerrainMesh(
            args, [&](std::uint64_t, std::uint64_t) { return !cancelled.load(); });
    } catch (const Error& e) {
        stopped = e.kind() == ErrorKind::Cancelled;
    }
    const Clock::time_point end = Clock::now();
    canceller.join();
    return stopped ? MsBetween(cancelledAt, end) : -1;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    TerrainDocument doc;
    doc.setDensity(16);
    doc.setImage(Hill(512), "hill");
    doc.setDepth(8);
    const Talorin_Args args = doc.makeArgs();
    std::printf("density 16, depth 8 (%d quads), %d runs per cancel point\n", doc.polygonCount(),
                runs);
    std::printf("%-14s %10s %10s %10s\n", "cancel after", "min ms", "median ms", "max ms");
    for (const int after : {100, 500, 1500}) {
        std::vector<double> ms;
        for (int r = 0; r < runs; ++r) {
            const double t = OneRun(args, after);
            if (t >= 0)
                ms.push_back(t);
        }
        if (ms.empty()) {
            std::printf("%-11d ms   the run ended before the cancel\n", after);
            continue;
        }
        const Summary s = Summarize(std::move(ms), EvenMedian::Upper);
        std::printf("%-11d ms %10.2f %10.2f %10.2f\n", after, s.min, s.median, s.max);
    }
    return 0;
}
