// The progress line of talorin-cli generate: one updating line on a terminal
// once a run has lasted a second, nothing at all on a pipe or file.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include "cli/console.h"

namespace {

using Time = std::chrono::steady_clock::time_point;
using namespace std::chrono_literals;

// A terminal to write to, read back from its other side.
class Terminal {
  public:
    Terminal() {
        if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            return;
        // Raw: what the program writes arrives byte for byte.
        termios raw{};
        tcgetattr(m_slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(m_slave, TCSANOW, &raw);
        fcntl(m_master, F_SETFL, O_NONBLOCK);
    }
    ~Terminal() {
        if (m_master >= 0)
            close(m_master);
        if (m_slave >= 0)
            close(m_slave);
    }
    bool ok() const { return m_master >= 0 && m_slave >= 0; }
    int fd() const { return m_slave; }
    std::string read() const {
        std::string text;
        char buf[256];
        for (ssize_t n; (n = ::read(m_master, buf, sizeof buf)) > 0;)
            text.append(buf, std::size_t(n));
        return text;
    }

  private:
    int m_master = -1;
    int m_slave = -1;
};

struct FakeClock {
    Time now{};
    talorin::cli::TerminalProgress::Clock clock() {
        return [this] { return now; };
    }
};

} // namespace

TEST(TerminalProgress, ShortRunStaysSilent) {
    Terminal tty;
    ASSERT_TRUE(tty.ok());
    FakeClock t;
    {
        talorin::cli::TerminalProgress progress(tty.fd(), t.clock());
        const auto report = progress.callback();
        ASSERT_TRUE(report);
        t.now += 900ms;
        report(50, 100);
        report(100, 100);
        progress.phase("writing");
    }
    EXPECT_EQ(tty.read(), "");
}

TEST(TerminalProgress, LongRunUpdatesOneLineAndErasesIt) {
    Terminal tty;
    ASSERT_TRUE(tty.ok());
    FakeClock t;
    talorin::cli::TerminalProgress progress(tty.fd(), t.clock());
    const auto report = progress.callback();
    ASSERT_TRUE(report);
    report(10, 100); // within the first second
    t.now += 1100ms;
    report(25, 100);
    report(25, 100); // the same percentage is not written again
    report(2, 3);
    EXPECT_EQ(tty.read(), "\rgenerating 25%\rgenerating 66%");
    progress.phase("writing");
    progress.finish();
    const std::string end = tty.read();
    EXPECT_EQ(end, "\r\x1b[Kwriting\r\x1b[K");
    EXPECT_EQ(end.find('\n'), std::string::npos);
}

TEST(TerminalProgress, PipeGetsNothing) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FakeClock t;
    {
        talorin::cli::TerminalProgress progress(fds[1], t.clock());
        EXPECT_FALSE(progress.callback());
        t.now += 5s;
        progress.phase("writing");
    }
    close(fds[1]);
    char c = 0;
    EXPECT_EQ(read(fds[0], &c, 1), 0);
    close(fds[0]);
}
