// Feeds arbitrary bytes to the .suf reader: it must read them or fail with a
// message or talorin::Error, never crash, hang or read out of bounds. What it
// reads must survive a round trip: written, read back and written again, the
// text is the same bytes (a name the writer refuses ends the round trip early).

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
