#pragma once
// Running the command-line tool as a child process, as a shell would: in a
// given working folder, with nothing on standard input, its output streams
// captured. The tool's path is a parameter, so that this header does not care
// how a test target learns it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/tempfolder.h"

extern char** environ;

namespace testsupport {

struct RunResult {
    int status = -1; // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// The argument vector posix_spawn wants: program, args, then a null pointer.
// It points into its own strings, so it can be neither copied nor moved.
class Argv {
  public:
    Argv(const std::string& program, const std::vector<std::string>& args) : m_text{program} {
        m_text.insert(m_text.end(), args.begin(), args.end());
        for (std::string& a : m_text)
            m_pointers.push_back(a.data());
        m_pointers.push_back(nullptr);
    }
    Argv(const Argv&) = delete;
    Argv& operator=(const Argv&) = delete;

    const char* program() const { return m_pointers[0]; }
    char* const* data() const { return m_pointers.data(); }

  private:
    std::vector<std::string> m_text;
    std::vector<char*> m_pointers;
};

// Runs argv in folder cwd with standard input from /dev/null and standard
// output and error on the descriptors outFd and errFd (which stay open in the
// caller), and waits for it. Returns the exit status, or -1 when the process
// did not exit normally; a program that cannot be started fails the test.
inline int Spawn(const Argv& argv, const std::filesystem::path& cwd, int outFd, int errFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv.program(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << argv.program();
        return -1;
    }
    int ws = 0;
    if (waitpid(pid, &ws, 0) == pid && WIFEXITED(ws))
        return WEXITSTATUS(ws);
    return -1;
}

// Runs program with args in folder cwd and returns its exit status and what it
// wrote on standard output and error. The capture files lie outside cwd, so
// that they never show in a listing of it.
inline RunResult RunCli(const std::string& program, const std::filesystem::path& cwd,
                        const std::vector<std::string>& args) {
    const std::string pattern = (std::filesystem::temp_directory_path() / "talorin-cli-").string();
    std::string outName = pattern + "out-XXXXXX";
    std::string errName = pattern + "err-XXXXXX";
    const int outFd = mkstemp(outName.data());
    const int errFd = mkstemp(errName.data());
    RunResult r;
    if (outFd >= 0 && errFd >= 0) {
        r.status = Spawn(Argv(program, args), cwd, outFd, errFd);
        r.out = ReadFile(outName);
        r.err = ReadFile(errName);
    } else {
        ADD_FAILURE() << "cannot create capture files";
    }
    if (outFd >= 0) {
        close(outFd);
        unlink(outName.c_str());
    }
    if (errFd >= 0) {
        close(errFd);
        unlink(errName.c_str());
    }
    return r;
}

} // namespace testsupport
