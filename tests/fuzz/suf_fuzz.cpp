// Feeds arbitrary bytes to the .suf reader: it must read them or fail with a
// message or talorin::Error, never crash, hang or read out of bounds. What it
// reads must survive a round trip: written, read back and written again, the
// text is the same bytes (a name the writer refuses ends the round trip early).
// Small inputs are also read a byte at a time, which must give the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "base/error.h"
#include "shape/shape.h"
#include "shape/suf.h"

namespace {

// The reader takes a file name: the bytes go into one in-memory file.
const std::string& FileWith(const void* data, std::size_t size) {
    static const int fd = memfd_create("suf_fuzz", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    return path;
}

// The chain as the writer writes it; false when a name is refused.
bool Text(vesk::TVESK_Object* chain, std::string& text) {
    try {
        text = vesk::SufText(chain);
        return true;
    } catch (const talorin::Error&) {
        return false;
    }
}

// What a read gives: the written text, or the failure's message.
std::string Outcome(vesk::TVESK_Object* (*load)(const std::string&), const std::string& path) {
    try {
        vesk::TVESK_Object* chain = load(path);
        if (chain == nullptr)
            return "null:" + vesk::SufError;
        std::string text;
        const bool written = Text(chain, text);
        vesk::FreeSuf(chain);
        return written ? "text:" + text : "refused";
    } catch (const talorin::Error& e) {
        return std::string("error:") + e.what();
    }
}

} // namespace

namespace vesk::detail {
TVESK_Object* LoadSufWithChunkSize(const std::string& fileName, std::size_t chunkSize);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Read a byte at a time, no token lies whole in a chunk, so the reader's
    // shortcuts for plain numbers never apply: both reads must agree.
    if (size <= 4096) {
        const std::string& path = FileWith(data, size);
        const std::string whole = Outcome(&vesk::LoadSuf, path);
        if (whole != Outcome([](const std::string& p) {
                return vesk::detail::LoadSufWithChunkSize(p, 1);
            }, path))
            std::abort();
    }
    vesk::TVESK_Object* chain = nullptr;
    try {
        chain = vesk::LoadSuf(FileWith(data, size));
    } catch (const talorin::Error&) {
        return 0;
    }
    if (chain == nullptr)
        return 0;
    std::string first;
    const bool written = Text(chain, first);
    vesk::FreeSuf(chain);
    if (!written)
        return 0;

    vesk::TVESK_Object* again = nullptr;
    try {
        again = vesk::LoadSuf(FileWith(first.data(), first.size()));
    } catch (const talorin::Error&) {
        std::abort(); // a written file that does not read back
    }
    if (again == nullptr)
        std::abort();
    std::string second;
    if (!Text(again, second) || second != first)
        std::abort();
    vesk::FreeSuf(again);
    return 0;
}
