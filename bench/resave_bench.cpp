// Two builds of talorin-cli reading the same large shape file, side by side:
// resave of the 1,048,576-quad terrain (the contour image of the benchmarks
// at density 16 and depth 6, about 316 MB) to /dev/null.
//
//     resave_bench BASE_CLI NEW_CLI [runs] [folder]
//
// The two programs run alternately, runs times each (default 7), so that both
// see the same load. Prints min / median / max of the wall time and of the
// child's peak resident memory, and the ratio of the medians. The file is
// written by NEW_CLI into folder (default /tmp) and removed at the end.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "benchsupport.h"
#include "commandrun.h"
#include "image/pngencode.h"

namespace {

using namespace talorin::bench;

void Print(const char* what, const char* unit, const std::vector<double>& values) {
    const Summary s = Summarize(values);
    std::printf("  %-12s min %8.3f  median %8.3f  max %8.3f %s\n", what, s.min, s.median, s.max,
                unit);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: resave_bench BASE_CLI NEW_CLI [runs] [folder]\n");
        return 2;
    }
    const std::string base = argv[1], fresh = argv[2];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
    const std::string folder = argc > 4 ? argv[4] : "/tmp";
    const std::string stem = folder + "/resave_bench_" + std::to_string(::getpid());
    const std::string image = stem + ".png", file = stem + ".suf";
    std::ofstream(image, std::ios::binary) << talorin::EncodePng(ContourImage(1024));
    (void)Run({fresh, "generate", image, "-o", file, "--density", "16", "--depth", "6"});
    struct stat st {};
    ::stat(file.c_str(), &st);
    std::printf("resave %lld bytes to /dev/null, %d runs each\n", (long long)st.st_size, runs);
    std::vector<double> timeBase, timeNew, peakBase, peakNew;
    for (int r = 0; r < runs; ++r) {
        const Sample b = Run({base, "resave", file, "/dev/null"});
        const Sample n = Run({fresh, "resave", file, "/dev/null"});
        timeBase.push_back(b.seconds);
        timeNew.push_back(n.seconds);
        peakBase.push_back(b.peakMiB);
        peakNew.push_back(n.peakMiB);
    }
    Print("base", "s", timeBase);
    Print("new", "s", timeNew);
    Print("base peak", "MiB", peakBase);
    Print("new peak", "MiB", peakNew);
    std::printf("  base / new (medians) %.2f\n",
                Summarize(timeBase).median / Summarize(timeNew).median);
    ::unlink(file.c_str());
    ::unlink(image.c_str());
    return 0;
}
