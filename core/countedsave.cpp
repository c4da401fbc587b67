#include "core/countedsave.h"

#include <cerrno>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "shape/atomicsave.h"

namespace talorin {

namespace {

constexpr std::size_t kChunk = 1 << 16;

// Reads until the writer has closed its end, dropping the bytes.
void Drain(int fd) {
    char buffer[kChunk];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR))
            return;
    }
}

} // namespace

bool SaveCounted(const std::string& fileName, const std::function<bool(int fd)>& writeTo,
                 const std::function<void(std::uint64_t written)>& onWritten) {
    // The writer starts only inside the producer, once the save has begun:
    // the save and a failing writer both set the library's message, and they
    // must not do so at the same time.
    return vesk::SaveAtomically(fileName, [&](const vesk::ByteSink& sink) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw vesk::WriteFailed{errno};
        const int readEnd = fds[0];
        std::uint64_t written = 0;
        bool writerOk = false;
        std::thread writer([&writeTo, &writerOk, writeEnd = fds[1]] {
            writerOk = writeTo(writeEnd);
            ::close(writeEnd);
        });
        const auto finish = [&] {
            Drain(readEnd);
            writer.join();
            ::close(readEnd);
        };
        try {
            char buffer[kChunk];
            for (;;) {
                const ssize_t n = ::read(readEnd, buffer, sizeof buffer);
                if (n == 0)
                    break;
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    throw vesk::WriteFailed{errno};
                }
                sink(buffer, std::size_t(n));
                written += std::uint64_t(n);
                if (onWritten)
                    onWritten(written);
            }
        } catch (...) {
            finish();
            throw;
        }
        finish();
        // A writer that gave up leaves a cut-off text: not saved.
        if (!writerOk)
            throw vesk::WriteFailed{EIO};
    });
}

} // namespace talorin
