// Two builds of talorin-cli side by side, on the 1,048,576-quad case: a
// 1024 x 1024 contour image at density 16 and depth 6.
//
//     cli_bench BASE_CLI NEW_CLI [runs] [folder]
//
// The two programs run alternately, runs times each (default 5), so that both
// see the same load on the machine. For every measurement it prints min /
// median / max of the wall time (and of the peak resident memory of the child,
// from wait4) and the ratios of the medians:
//   - generate to a file in folder (default /tmp) against dd writing and
//     syncing as many bytes (the speed of the disk);
//   - generate to /dev/null;
//   - peak memory of quads at depth 6, triangles at depth 6, quads at depth 7;
//   - resave of the depth 6 quad file to /dev/null.
// Neither program is built by this file; pass the paths of the two builds.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "benchsupport.h"
#include "commandrun.h"

namespace {

using namespace talorin::bench;

void Print(const char* what, const char* unit, const std::vector<double>& values) {
    const Summary s = Summarize(values);
    std::printf("  %-28s min %8.3f  median %8.3f  max %8.3f %s\n", what, s.min, s.median, s.max,
                unit);
}

// The bench image of generate_bench: a smooth hill with ripples.
void WriteContourImage(const std::string& path, int size) {
    const int rowBytes = (size * 3 + 3) & ~3;
    const std::uint32_t dataBytes = std::uint32_t(rowBytes) * std::uint32_t(size);
    std::string file(54 + dataBytes, '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int k = 0; k < 4; ++k)
            file[at + k] = char(v >> (8 * k));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, 54 + dataBytes);
    put32(10, 54);
    put32(14, 40);
    put32(18, std::uint32_t(size));
    put32(22, std::uint32_t(size));
    file[26] = 1;
    file[28] = 24;
    put32(34, dataBytes);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const std::uint8_t level = HillLevel(x, y, size);
            // Rows bottom up, pixels as blue, green, red.
            const std::size_t at = 54 + std::size_t(size - 1 - y) * rowBytes + std::size_t(x) * 3;
            file[at] = char(255 - level);
            file[at + 1] = char(level);
            file[at + 2] = char(level);
        }
    std::ofstream(path, std::ios::binary) << file;
}

long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: cli_bench BASE_CLI NEW_CLI [runs] [folder]\n");
        return 2;
    }
    const std::string base = argv[1], fresh = argv[2];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const std::string folder = argc > 4 ? argv[4] : "/tmp";
    const std::string stem = folder + "/cli_bench_" + std::to_string(::getpid());
    const std::string image = stem + ".bmp";
    const std::string out = stem + ".suf";
    WriteContourImage(image, 1024);
    const std::vector<std::string> quads6 = {"--density", "16", "--depth", "6"};

    auto generate = [&](const std::string& cli, const std::string& to,
                        const std::vector<std::string>& options) {
        std::vector<std::string> argv = {cli, "generate", image, "-o", to};
        argv.insert(argv.end(), options.begin(), options.end());
        return Run(argv);
    };

    // Generate to a file on disk, against dd writing and syncing as many bytes.
    (void)generate(fresh, out, quads6);
    const long long bytes = FileSize(out);
    std::printf("generate to %s (%lld bytes), %d runs each\n", folder.c_str(), bytes, runs);
    std::vector<double> diskBase, diskNew, dd;
    const std::string ddOut = stem + ".dd";
    for (int r = 0; r < runs; ++r) {
        ::unlink(out.c_str());
        diskBase.push_back(generate(base, out, quads6).seconds);
        ::unlink(out.c_str());
        diskNew.push_back(generate(fresh, out, quads6).seconds);
        ::unlink(ddOut.c_str());
        dd.push_back(Run({"/bin/dd", "if=/dev/zero", "of=" + ddOut, "bs=1M",
                          "count=" + std::to_string(bytes >> 20), "conv=fsync"})
                         .seconds);
    }
    ::unlink(ddOut.c_str());
    Print("base", "s", diskBase);
    Print("new", "s", diskNew);
    Print("dd conv=fsync", "s", dd);
    std::printf("  new / dd (medians) %.2f; base / dd %.2f\n",
                Summarize(diskNew).median / Summarize(dd).median,
                Summarize(diskBase).median / Summarize(dd).median);

    // Generate to /dev/null.
    std::printf("generate to /dev/null\n");
    std::vector<double> nullBase, nullNew;
    for (int r = 0; r < runs; ++r) {
        nullBase.push_back(generate(base, "/dev/null", quads6).seconds);
        nullNew.push_back(generate(fresh, "/dev/null", quads6).seconds);
    }
    Print("base", "s", nullBase);
    Print("new", "s", nullNew);
    std::printf("  base / new (medians) %.2f\n",
                Summarize(nullBase).median / Summarize(nullNew).median);

    // Peak memory of the whole process.
    struct MemoryCase {
        const char* name;
        std::vector<std::string> options;
    };
    const MemoryCase cases[] = {
        {"quads, depth 6", quads6},
        {"triangles, depth 6", {"--density", "16", "--depth", "6", "--triangles"}},
        {"quads, depth 7", {"--density", "16", "--depth", "7"}},
    };
    const int memoryRuns = std::min(runs, 3);
    std::printf("peak memory, generate to /dev/null, %d runs each\n", memoryRuns);
    for (const MemoryCase& c : cases) {
        std::vector<double> peakBase, peakNew, timeBase, timeNew;
        for (int r = 0; r < memoryRuns; ++r) {
            const Sample b = generate(base, "/dev/null", c.options);
            const Sample n = generate(fresh, "/dev/null", c.options);
            peakBase.push_back(b.peakMiB);
            peakNew.push_back(n.peakMiB);
            timeBase.push_back(b.seconds);
            timeNew.push_back(n.seconds);
        }
        std::printf(" %s\n", c.name);
        Print("base peak", "MiB", peakBase);
        Print("new peak", "MiB", peakNew);
        Print("base time", "s", timeBase);
        Print("new time", "s", timeNew);
    }

    // Resave of the depth 6 quad file to /dev/null.
    (void)generate(fresh, out, quads6);
    std::printf("resave %lld bytes to /dev/null\n", FileSize(out));
    std::vector<double> resaveBase, resaveNew, resavePeakBase, resavePeakNew;
    for (int r = 0; r < runs; ++r) {
        const Sample b = Run({base, "resave", out, "/dev/null"});
        const Sample n = Run({fresh, "resave", out, "/dev/null"});
        resaveBase.push_back(b.seconds);
        resaveNew.push_back(n.seconds);
        resavePeakBase.push_back(b.peakMiB);
        resavePeakNew.push_back(n.peakMiB);
    }
    Print("base", "s", resaveBase);
    Print("new", "s", resaveNew);
    Print("base peak", "MiB", resavePeakBase);
    Print("new peak", "MiB", resavePeakNew);
    std::printf("  base / new (medians) %.2f\n",
                Summarize(resaveBase).median / Summarize(resaveNew).median);

    ::unlink(out.c_str());
    ::unlink(image.c_str());
    return 0;
}
