#include "cli/console.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include <unistd.h>

#include "base/atomicsave.h"
#include "base/error.h"
#include "base/sjis.h"

namespace talorin::cli {

namespace {

constexpr auto kQuietTime = std::chrono::seconds(1);

} // namespace

void PrintError(std::string_view text) {
    std::string line = vesk::ValidUtf8(text);
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    line += '\n';
    // Nothing sensible is left to do when stderr itself cannot be written.
    (void)vesk::WriteAll(STDERR_FILENO, line);
}

void WriteStderr(std::string_view text) {
    (void)vesk::WriteAll(STDERR_FILENO, text);
}

void WriteStdout(std::string_view bytes) {
    // Bypasses stdio so that nothing is buffered or translated on the way.
    if (!vesk::WriteAll(STDOUT_FILENO, bytes))
        throw Error(ErrorKind::Io, vesk::WriteErrorText(kStandardOutputName, errno));
}

TerminalProgress::TerminalProgress(int fd, Clock now)
    : m_fd(fd), m_now(std::move(now)), m_enabled(::isatty(fd) == 1), m_start(m_now()) {}

TerminalProgress::~TerminalProgress() {
    finish();
}

ProgressFn TerminalProgress::callback() {
    if (!m_enabled)
        return {};
    m_start = m_now();
    return [this](std::uint64_t done, std::uint64_t total) {
        report(done, total);
        return true;
    };
}

void TerminalProgress::report(std::uint64_t done, std::uint64_t total) {
    if (total == 0)
        return;
    const int percent = int(done >= total ? 100 : done * 100 / total);
    if (percent == m_lastPercent)
        return;
    // Short runs stay silent: the line would only flicker.
    if (!m_shown && m_now() - m_start < kQuietTime)
        return;
    m_lastPercent = percent;
    m_shown = true;
    const std::string line = "\rgenerating " + std::to_string(percent) + "%";
    (void)vesk::WriteAll(m_fd, line);
}

void TerminalProgress::phase(std::string_view text) {
    if (!m_shown)
        return;
    const std::string line = "\r\x1b[K" + std::string(text);
    (void)vesk::WriteAll(m_fd, line);
}

void TerminalProgress::finish() {
    if (!m_shown)
        return;
    m_shown = false;
    (void)vesk::WriteAll(m_fd, "\r\x1b[K");
}

} // namespace talorin::cli
