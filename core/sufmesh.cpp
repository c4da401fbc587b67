// The .suf writer over a terrain mesh.
//
// A generated terrain shares each point between up to four polygons (eight
// triangles), and formatting numbers is most of a writer's work. So every
// distinct vertex line is formatted once, in chunks shared out between two
// threads, and the polygons then only copy lines into the output buffer.

#include "core/sufmesh.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "shape/atomicsave.h"
#include "shape/numtext.h"
#include "shape/shape.h"

namespace talorin {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// Longest vertex line: four spaces, eight numbers, their separators, CR LF.
constexpr std::size_t kMaxVertexLine = 4 + 8 * vesk::kMaxNumberText + 9 + 2;
// Vertices formatted as one piece of work: small enough that a chunk's text
// stays in the cache while it is copied into its own block.
constexpr std::size_t kChunkBits = 12;
constexpr std::size_t kChunkVertices = std::size_t{1} << kChunkBits;

// Padded to whole copy blocks for CopyLine; the views end at the line's end.
constexpr char kPrimText[4][32] = {"prim poly (\r\n", "prim shade (\r\n", "prim uvpoly (\r\n",
                                   "prim uvshade (\r\n"};
constexpr std::string_view kPrimLines[] = {kPrimText[0], kPrimText[1], kPrimText[2], kPrimText[3]};
// Polygons with more corners than this are copied through the buffer's checks
// line by line (the buffer holds a polygon of this many corners at once).
constexpr std::size_t kMaxBufferedCorners = 64;

// Recently formatted numbers by their bits. A terrain has few distinct
// heights (one per brightness), and on a uniform lattice few distinct x, y, u
// and v values, so most numbers are copied instead of formatted again. The
// key is the exact bit pattern, so the text is always that of the value.
class NumberCache {
  public:
    std::size_t format(double v, char* out) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        Entry& entry = m_entries[(bits ^ (bits >> 29) ^ (bits >> 47)) * 0x9E3779B97F4A7C15u >>
                                 (64 - kEntryBits)];
        if (entry.length == 0 || entry.bits != bits) {
            entry.length = static_cast<std::uint8_t>(vesk::FormatSufNumber(v, entry.text));
            entry.bits = bits;
        }
        std::memcpy(out, entry.text, sizeof entry.text); // whole entry: one fixed-size copy
        return entry.length;
    }

  private:
    static constexpr int kEntryBits = 13;
    struct Entry {
        std::uint64_t bits = 0;
        std::uint8_t length = 0; // 0: empty
        char text[vesk::kMaxNumberText];
    };
    std::vector<Entry> m_entries = std::vector<Entry>(std::size_t{1} << kEntryBits);
};

// Room a formatted number may take in the output, beyond its length, for
// NumberCache's fixed-size copy.
constexpr std::size_t kNumberSlack = vesk::kMaxNumberText;

// The vertex line of v for a polygon of this kind; returns its length. out
// must have room for kMaxVertexLine + kNumberSlack bytes.
std::size_t FormatVertexLine(const MeshVertex& v, std::uint8_t kind, NumberCache& numbers,
                             char* out) {
    char* p = out;
    std::memcpy(p, "    ", 4);
    p += 4;
    p += numbers.format(v.X, p);
    *p++ = ' ';
    p += numbers.format(v.Y, p);
    *p++ = ' ';
    p += numbers.format(v.Z, p);
    if (kind == vesk::kShade || kind == vesk::kUvShade) {
        // The generator's normals are always zero.
        std::memcpy(p, "  0 0 0", 7);
        p += 7;
    }
    if (kind == vesk::kUvPoly || kind == vesk::kUvShade) {
        *p++ = ' ';
        *p++ = ' ';
        p += numbers.format(v.U, p);
        *p++ = ' ';
        p += numbers.format(v.V, p);
    }
    *p++ = '\r';
    *p++ = '\n';
    return static_cast<std::size_t>(p - out);
}

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
        : m_ends(mesh.Vertices.size()),
          m_chunks((mesh.Vertices.size() + kChunkVertices - 1) / kChunkVertices) {
        std::atomic<std::size_t> next{0};
        std::atomic<bool> failed{false};
        auto work = [&](std::exception_ptr& error) {
            try {
                NumberCache numbers;
                for (std::size_t c = next++; c < m_chunks.size() && !failed; c = next++)
                    formatChunk(mesh, kind, c, numbers);
            } catch (...) {
                error = std::current_exception();
                failed = true;
            }
        };
        std::exception_ptr failure, helperFailure;
        std::thread helper;
        if (m_chunks.size() >= 4 && std::thread::hardware_concurrency() > 1) {
            try {
                helper = std::thread(work, std::ref(helperFailure));
            } catch (const std::system_error&) {
                // No thread to be had: the calling thread does all the work.
            }
        }
        work(failure);
        if (helper.joinable())
            helper.join();
        if (failure)
            std::rethrow_exception(failure);
        if (helperFailure)
            std::rethrow_exception(helperFailure);
    }

    std::string_view line(std::uint32_t v) const {
        const char* chunk = m_chunks[v >> kChunkBits].get();
        const std::uint32_t begin = (v & (kChunkVertices - 1)) == 0 ? 0 : m_ends[v - 1];
        return {chunk + begin, m_ends[v] - begin};
    }

  private:
    // Formats straight into a block of the largest size the chunk may take,
    // then gives back what it did not use.
    void formatChunk(const TerrainMesh& mesh, std::uint8_t kind, std::size_t c,
                     NumberCache& numbers) {
        const std::size_t first = c * kChunkVertices;
        const std::size_t last = std::min(first + kChunkVertices, mesh.Vertices.size());
        Text text(static_cast<char*>(
            std::malloc((last - first) * kMaxVertexLine + kNumberSlack + kCopyBlock)));
        if (!text)
            throw std::bad_alloc();
        std::size_t used = 0;
        for (std::size_t v = first; v < last; ++v) {
            used += FormatVertexLine(mesh.Vertices[v], kind, numbers, text.get() + used);
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

// Collects text in a fixed buffer and passes it on to the sink whenever it fills.
template <typename Sink> class Output {
  public:
    explicit Output(const Sink& sink) : m_buffer(new char[kBufferSize]), m_sink(sink) {}

    void text(std::string_view text) {
        if (kBufferSize - m_used < text.size()) {
            flush();
            if (text.size() > kBufferSize / 2) { // a huge name: pass it on as it is
                m_sink(text.data(), text.size());
                return;
            }
        }
        std::memcpy(m_buffer.get() + m_used, text.data(), text.size());
        m_used += text.size();
    }

    // Room for at least bytes more (bytes <= kBufferSize); where to write them.
    char* reserve(std::size_t bytes) {
        if (kBufferSize - m_used < bytes)
            flush();
        return m_buffer.get() + m_used;
    }
    void commit(char* end) { m_used = static_cast<std::size_t>(end - m_buffer.get()); }

    void flush() {
        if (m_used > 0)
            m_sink(m_buffer.get(), m_used);
        m_used = 0;
    }

  private:
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
    const Sink& m_sink;
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
    out.flush();
}

} // namespace

std::string SufMeshText(const TerrainMesh& mesh) {
    std::string text;
    auto sink = [&text](const char* data, std::size_t size) { text.append(data, size); };
    WriteMesh(mesh, sink);
    return text;
}

bool WriteSufMesh(int fd, const std::string& name, const TerrainMesh& mesh) {
    return vesk::WriteThrough(fd, name,
                              [&mesh](const vesk::ByteSink& sink) { WriteMesh(mesh, sink); });
}

bool SaveSufMesh(const std::string& fileName, const TerrainMesh& mesh) {
    return vesk::SaveAtomically(fileName,
                                [&mesh](const vesk::ByteSink& sink) { WriteMesh(mesh, sink); });
}

} // namespace talorin
