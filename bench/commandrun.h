// Runs another program as one step of a benchmark, for the benchmarks that
// set whole runs of talorin-cli side by side.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchsupport.h"

namespace talorin::bench {

// What one run took: wall time and the peak resident memory.
struct Sample {
    double seconds = 0;
    double peakMiB = 0;
};

// Runs argv (argv[0] a path) with stdout and stderr sent to /dev/null; ends
// the benchmark when it fails, since its figures would mean nothing.
inline Sample Run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr); // the child must not write out the parent's buffered lines
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double seconds = SecondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s (status %d)\n", argv[0].c_str(), status);
        std::exit(1);
    }
    return {seconds, double(usage.ru_maxrss) / 1024};
}

} // namespace talorin::bench
