#include "export/exportbytes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <exception>
#include <future>
#include <thread>

#include "base/error.h"
#include "base/sjis.h"
#include "base/slices.h"

namespace talorin {

std::string NameForExport(const std::string& cp932) {
    std::string name = vesk::Utf8FromCp932(cp932);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '_';
    return name;
}

void CheckFloat32Points(const TerrainMesh& mesh, const char* formatName) {
    for (const MeshVertex& v : mesh.Vertices)
        for (const double c : {v.X, v.Y, v.Z})
            if (!std::isfinite(float(c))) {
                char text[32];
                const std::string value(text, std::to_chars(text, text + sizeof text, c).ptr);
                throw Error(Text(Msg::OutOfFloat, {formatName, value}));
            }
}

void WriteFormattedInParallel(
    BufferedSink& out, std::size_t count,
    const std::function<void(std::size_t first, std::size_t last, std::string& text)>& format) {
    constexpr std::size_t kItemsPerBlock = 65536;
    // Blocks in flight: the workers format the next ones while this thread
    // writes the oldest.
    const std::size_t inFlight =
        std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4) + 1;
    std::deque<std::future<std::string>> blocks;
    std::size_t next = 0;
    const auto launch = [&] {
        const std::size_t first = next;
        const std::size_t last = std::min(count, first + kItemsPerBlock);
        next = last;
        const auto task = [&format, first, last] {
            std::string text;
            format(first, last, text);
            return text;
        };
        blocks.push_back(vesk::StartAsync(task));
    };
    try {
        while (next < count || !blocks.empty()) {
            while (next < count && blocks.size() < inFlight)
                launch();
            out.write(blocks.front().get());
            blocks.pop_front();
        }
    } catch (...) {
        // The remaining blocks still use format: let them finish first.
        for (auto& block : blocks)
            if (block.valid())
                block.wait();
        throw;
    }
}

} // namespace talorin
