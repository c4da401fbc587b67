// The .suf writer over a terrain mesh.
//
// A generated terrain shares each point between up to four polygons (eight
// triangles), and formatting numbers is most of a writer's work. So every
// distinct vertex line is formatted once, in chunks shared out between two
// threads, and the polygons then only copy lines into the output buffer,
// which a third thread hands on to the file while the next buffer fills.

#include "shape/sufmesh.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/atomicsave.h"
#include "base/error.h"
#include "base/numbercache.h"
#include "base/numtext.h"
#include "base/sjis.h"
#include "base/slices.h"
#include "shape/shape.h"
#include "shape/suflines.h"
#include "shape/sufnames.h"

namespace talorin {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// Vertices formatted as one piece of work, into a block of text of their own:
// small pieces share out evenly between the threads.
constexpr std::size_t kChunkBits = 12;
constexpr std::size_t kChunkVertices = std::size_t{1} << kChunkBits;

using vesk::kMaxVertexLine;
using vesk::kPrimLines;
// Polygons with more corners than this are copied through the buffer's checks
// line by line (the buffer holds a polygon of this many corners at once).
constexpr std::size_t kMaxBufferedCorners = 64;

// Lines are copied in whole blocks of this many bytes: a few fixed-size
// moves instead of a call per line. Both the lines' storage and the output
// buffer keep this much room after their last byte.
constexpr std::size_t kCopyBlock = 16;

inline char* CopyLine(char* to, std::string_view line) {
    for (std::size_t k = 0; k < line.size(); k += kCopyBlock)
        std::memcpy(to + k, line.data() + k, kCopyBlock);
    return to + line.size();
}

struct FreeText {
    void operator()(char* text) const { std::free(text); }
};
using Text = std::unique_ptr<char, FreeText>;

// Every vertex's line, formatted once. Line v lives in chunk v >> kChunkBits
// and ends at m_ends[v] within it.
class VertexLines {
  public:
    VertexLines(const TerrainMesh& mesh, std::uint8_t kind)
        : m_ends(CheckedLineCount(mesh, kind)),
          m_chunks((mesh.Vertices.size() + kChunkVertices - 1) / kChunkVertices) {
        const std::size_t slices = m_chunks.size() >= 4 ? vesk::SliceCount() : 1;
        vesk::ForSlices(m_chunks.size(), slices,
                        [&](std::size_t, std::size_t first, std::size_t last) {
                            vesk::NumberCache numbers;
                            for (std::size_t c = first; c < last; ++c)
                                formatChunk(mesh, kind, c, numbers);
                        });
    }

    std::string_view line(std::uint32_t v) const {
        const char* chunk = m_chunks[v >> kChunkBits].get();
        const std::uint32_t begin = (v & (kChunkVertices - 1)) == 0 ? 0 : m_ends[v - 1];
        return {chunk + begin, m_ends[v] - begin};
    }

  private:
    // The vertex count, once the lines are known to fit into memory (about
    // 20 bytes a number; refused as std::bad_alloc, which the save reports).
    static std::size_t CheckedLineCount(const TerrainMesh& mesh, std::uint8_t kind) {
        const int numbers = 3 + (kind & 1) * 3 + (kind >> 1) * 2;
        const double bytes = double(mesh.Vertices.size()) * (20.0 * numbers + 10);
        if (!vesk::MemoryClaim(std::uint64_t(bytes)).fits())
            throw std::bad_alloc();
        return mesh.Vertices.size();
    }

    // Formats straight into a block of the largest size the chunk may take,
    // then gives back what it did not use.
    void formatChunk(const TerrainMesh& mesh, std::uint8_t kind, std::size_t c,
                     vesk::NumberCache& numbers) {
        const std::size_t first = c * kChunkVertices;
        const std::size_t last = std::min(first + kChunkVertices, mesh.Vertices.size());
        Text text(static_cast<char*>(
            std::malloc((last - first) * kMaxVertexLine + vesk::kMaxNumberText + kCopyBlock)));
        if (!text)
            throw std::bad_alloc();
        std::size_t used = 0;
        for (std::size_t v = first; v < last; ++v) {
            // The generator's normals are always zero.
            used +=
                vesk::FormatVertexLine<true>(mesh.Vertices[v], kind, numbers, text.get() + used);
            m_ends[v] = static_cast<std::uint32_t>(used);
        }
        if (char* shrunk = static_cast<char*>(std::realloc(text.get(), used + kCopyBlock))) {
            (void)text.release();
            text.reset(shrunk);
        }
        m_chunks[c] = std::move(text);
    }

    std::vector<std::uint32_t> m_ends;
    std::vector<Text> m_chunks;
};

// Collects text in a buffer and passes it on to the sink whenever it fills.
// Full buffers go to the sink on a thread of their own, so that writing (for
// a file: the copy into the system's cache and starting write-back) overlaps
// filling the next buffer. An exception of the sink comes back to the caller
// at the next flush or at finish.
template <typename Sink> class Output {
  public:
    explicit Output(const Sink& sink)
        : m_buffers{std::make_unique<char[]>(kBufferSize), std::make_unique<char[]>(kBufferSize)},
          m_sink(sink) {
        // Without a thread to be had, the sink is called in place.
        m_thread = vesk::StartThreadOrNone([this] { passOn(); });
    }

    ~Output() {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void text(std::string_view text) {
        if (kBufferSize - m_used < text.size()) {
            flush();
            if (text.size() > kBufferSize / 2) { // a huge name: pass it on as it is
                waitIdle();
                m_sink(text.data(), text.size());
                return;
            }
        }
        std::memcpy(buffer() + m_used, text.data(), text.size());
        m_used += text.size();
    }

    // Room for at least bytes more (bytes <= kBufferSize); where to write them.
    char* reserve(std::size_t bytes) {
        if (kBufferSize - m_used < bytes)
            flush();
        return buffer() + m_used;
    }
    void commit(char* end) { m_used = static_cast<std::size_t>(end - buffer()); }

    void flush() {
        if (m_used == 0)
            return;
        if (!m_thread.joinable()) {
            m_sink(buffer(), m_used);
            m_used = 0;
            return;
        }
        waitIdle();
        {
            const std::lock_guard lock(m_mutex);
            m_pendingData = buffer();
            m_pending = m_used;
        }
        m_changed.notify_all();
        m_current ^= 1;
        m_used = 0;
    }

    // Passes on what is left and waits until the sink has taken everything.
    void finish() {
        flush();
        waitIdle();
    }

  private:
    char* buffer() { return m_buffers[m_current].get(); }

    // Waits until the thread has passed on the other buffer; rethrows what
    // the sink threw.
    void waitIdle() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_pending == 0; });
        if (m_error)
            std::rethrow_exception(std::exchange(m_error, nullptr));
    }

    void passOn() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_pending != 0 || m_stop; });
            if (m_pending == 0)
                return;
            const char* data = m_pendingData;
            const std::size_t size = m_pending;
            lock.unlock();
            std::exception_ptr error;
            try {
                if (!m_failed)
                    m_sink(data, size);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            if (error) {
                m_error = error;
                m_failed = true; // nothing more is written after a failure
            }
            m_pending = 0;
            m_changed.notify_all();
        }
    }

    std::unique_ptr<char[]> m_buffers[2];
    int m_current = 0; // the buffer being filled
    std::size_t m_used = 0;
    const Sink& m_sink;

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const char* m_pendingData = nullptr; // the other buffer, handed to the thread
    std::size_t m_pending = 0;           // its bytes not yet passed on
    bool m_stop = false;
    bool m_failed = false;
    std::exception_ptr m_error;
};

template <typename Sink> void WriteMesh(const TerrainMesh& mesh, const Sink& sink) {
    // Kinds beyond the four do not occur; written as the reader would take them, as poly.
    const std::uint8_t kind = mesh.Kind <= vesk::kUvShade ? mesh.Kind : std::uint8_t{vesk::kPoly};
    const VertexLines lines(mesh, kind);
    const std::string_view prim = kPrimLines[kind];

    Output<Sink> out(sink);
    out.text("obj suf ");
    out.text(mesh.ObjName);
    out.text(" {\r\n");
    // Every polygon is in the one group: its line stands before the first.
    if (mesh.polygonCount() > 0) {
        out.text("atr ");
        out.text(mesh.AtrName);
        out.text("\r\n");
    }
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
        const std::uint32_t* corners = mesh.corners(p);
        const std::size_t count = mesh.cornerCount(p);
        if (count > kMaxBufferedCorners) { // not made by the generator; copied line by line
            out.text(prim);
            for (std::size_t k = 0; k < count; ++k)
                out.text(lines.line(corners[k]));
            out.text(")\r\n");
            continue;
        }
        char* to = out.reserve(prim.size() + count * kMaxVertexLine + 3 + kCopyBlock);
        to = CopyLine(to, prim);
        for (std::size_t k = 0; k < count; ++k)
            to = CopyLine(to, lines.line(corners[k]));
        std::memcpy(to, ")\r\n", 3);
        out.commit(to + 3);
    }
    out.text("}\r\n");
    out.finish();
}

// A name that the file would not give back as it is is refused before anything
// is written, as by the shape model's writer, with the reason (BadInput).
void CheckNames(const TerrainMesh& mesh) {
    // The attribute's line comes before the first polygon: no polygon, no line.
    for (const bool attribute : {false, true}) {
        if (attribute && mesh.polygonCount() == 0)
            break;
        std::string problem =
            vesk::SufNameProblem(attribute ? mesh.AtrName : mesh.ObjName, attribute);
        if (!problem.empty())
            throw Error(std::move(problem));
    }
}

} // namespace

std::string SufMeshText(const TerrainMesh& mesh) {
    CheckMeshIndices(mesh);
    CheckNames(mesh);
    std::string text;
    auto sink = [&text](const char* data, std::size_t size) { text.append(data, size); };
    WriteMesh(mesh, sink);
    return text;
}

void WriteSufMesh(int fd, const std::string& name, const TerrainMesh& mesh) {
    CheckMeshIndices(mesh);
    CheckNames(mesh);
    vesk::WriteThrough(fd, name, [&mesh](const vesk::ByteSink& sink) { WriteMesh(mesh, sink); });
}

void SaveSufMesh(const std::string& fileName, const TerrainMesh& mesh,
                 const std::function<void(std::uint64_t written)>& onWritten) {
    CheckMeshIndices(mesh);
    CheckNames(mesh);
    vesk::SaveAtomically(fileName, [&](const vesk::ByteSink& sink) {
        if (!onWritten) {
            WriteMesh(mesh, sink);
            return;
        }
        std::uint64_t written = 0;
        WriteMesh(mesh, [&](const char* data, std::size_t size) {
            sink(data, size);
            written += size;
            onWritten(written);
        });
    });
}

} // namespace talorin
