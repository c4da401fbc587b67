#pragma once
// What talorin-cli shows: messages on stderr, data on stdout, and a progress
// line on a terminal.

#include <chrono>
#include <functional>
#include <string_view>

#include "export/save.h"
#include "terrain/terrain.h"

namespace talorin::cli {

// How messages name standard output.
inline const char* const kStandardOutputName = kStandardOutputText;

// Writes text as one line on stderr: line breaks inside it become spaces, so
// that every failure is exactly one line, and bytes that are not UTF-8 (from
// file names) become U+FFFD, so that the line is valid UTF-8.
void PrintError(std::string_view text);

// Writes text to stderr as it stands (the usage text).
void WriteStderr(std::string_view text);

// Writes all of bytes to standard output unchanged (no newline translation)
// and flushes. Throws talorin::Error naming standard output when the write
// fails (a closed pipe included: the tool ignores SIGPIPE).
void WriteStdout(std::string_view bytes);

// A percentage line on stderr for runs that last more than about a second,
// shown only when stderr is a terminal. finish() (or the destructor) erases it.
class TerminalProgress {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Writes to fd when it is a terminal; now tells the time (a test's clock).
    explicit TerminalProgress(int fd = 2, Clock now = &std::chrono::steady_clock::now);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // The callback for GenerateTerrainMesh; empty when stderr is not a terminal.
    ProgressFn callback();
    // Replaces the percentage by a word for what follows (the save), but only
    // when the line is already showing: a short run stays silent.
    void phase(std::string_view text);
    void finish();

  private:
    void report(std::uint64_t done, std::uint64_t total);

    int m_fd;
    Clock m_now;
    bool m_enabled = false;
    bool m_shown = false;
    int m_lastPercent = -1;
    std::chrono::steady_clock::time_point m_start;
};

} // namespace talorin::cli
