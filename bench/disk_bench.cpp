// The whole `generate` to a file on disk against its two floors, side by side:
// the generation alone (the same run into a folder that does not exist, which
// generates and then fails to save) and write_floor writing and fsyncing as
// many bytes from memory. On the 1,048,576-quad case (a 1024 x 1024 contour
// image, density 16, depth 6, quads, UV), for .suf, OBJ and glb. Every round
// runs each measurement once, in turn, so that all meet the same load.
//
//     disk_bench [runs] [folder] [CLI] [WRITE_FLOOR]
//
// The table gives min / median / max wall time and the ratio of generate to
// the larger floor (medians, and minimums).

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "image/pngencode.h"

#include "benchsupport.h"

namespace {

using namespace talorin::bench;

// Runs argv with its output sent to pipeOut (or /dev/null); the wall time.
// Exits the benchmark when the exit status is not the one expected.
double Run(const std::vector<std::string>& argv, bool shouldSucceed, std::string* pipeOut = nullptr) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (pipeOut && ::pipe(fds) != 0)
        std::exit(1);
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (pipeOut)
            ::dup2(fds[1], STDOUT_FILENO);
        else
            std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (pipeOut) {
        ::close(fds[1]);
        char buffer[256];
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
            pipeOut->append(buffer, std::size_t(n));
        ::close(fds[0]);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = SecondsSince(start);
    const bool succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (succeeded != shouldSucceed || (WIFEXITED(status) && WEXITSTATUS(status) == 127)) {
        std::fprintf(stderr, "unexpected status %d: %s\n", status, argv[0].c_str());
        std::exit(1);
    }
    return seconds;
}

long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

struct Case {
    const char* format;
    std::vector<double> generate, generationOnly, floor;
    long long bytes = 0;
};

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const std::string cli = argc > 3 ? argv[3] : TALORIN_CLI_PATH;
    const std::string floorProgram = argc > 4 ? argv[4] : TALORIN_WRITE_FLOOR_PATH;
    const std::string stem = folder + "/disk_bench_" + std::to_string(::getpid());
    const std::string image = stem + ".png";
    std::ofstream(image, std::ios::binary) << talorin::EncodePng(ContourImage(1024));

    std::vector<Case> cases = {{"suf", {}, {}, {}}, {"obj", {}, {}, {}}, {"glb", {}, {}, {}}};
    const auto generateTo = [&](const std::string& out, const char* format, bool succeed) {
        return Run({cli, "generate", image, "--density", "16", "--depth", "6", "--format", format,
                    "-o", out},
                   succeed);
    };
    for (Case& c : cases) {
        const std::string out = stem + "." + c.format;
        (void)generateTo(out, c.format, true);
        c.bytes = FileSize(out);
    }
    std::printf("1,048,576 quads to %s, %d runs each\n", folder.c_str(), runs);
    for (int r = 0; r < runs; ++r)
        for (Case& c : cases) {
            const std::string out = stem + "." + c.format;
            ::unlink(out.c_str());
            c.generate.push_back(generateTo(out, c.format, true));
            c.generationOnly.push_back(
                generateTo(stem + ".missing/x." + c.format, c.format, false));
            const std::string floorFile = stem + ".floor";
            ::unlink(floorFile.c_str());
            std::string reported;
            (void)Run({floorProgram, floorFile, std::to_string(c.bytes)}, true, &reported);
            c.floor.push_back(std::atof(reported.c_str()));
            ::unlink(floorFile.c_str());
        }
    std::printf("%-4s %8s  %-25s %-25s %-25s %s\n", "", "MB", "generate min/med/max s",
                "generation only", "write_floor", "generate / larger floor: median, min");
    for (const Case& c : cases) {
        const Summary g = Summarize(c.generate), o = Summarize(c.generationOnly),
                      f = Summarize(c.floor);
        std::printf("%-4s %8.1f  %6.3f %6.3f %6.3f    %6.3f %6.3f %6.3f    %6.3f %6.3f %6.3f    "
                    "%5.2f %5.2f\n",
                    c.format, double(c.bytes) / 1e6, g.min, g.median, g.max, o.min, o.median,
                    o.max, f.min, f.median, f.max, g.median / std::max(o.median, f.median),
                    g.min / std::max(o.min, f.min));
        ::unlink((stem + "." + c.format).c_str());
    }
    ::unlink((stem + ".mtl").c_str());
    ::unlink(image.c_str());
    return 0;
}
