#pragma once
// What every exporter shares: the two export frames, names on one line, a
// buffered writer for the byte sink and parallel text formatting.

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/atomicsave.h"
#include "shape/meshgeometry.h"

namespace talorin {

// The .suf frame (x = image rows, y = image columns, z up) turned into the
// export frames. Both are proper rotations, so nothing is mirrored and
// counter-clockwise stays counter-clockwise seen from the up axis.
// Z up (STL, PLY): (suf y, -suf x, suf z).
inline Vec3 ToZUp(const Vec3& v) {
    return {v.y, -v.x, v.z};
}
// Y up (OBJ, glb): (suf y, suf z, suf x).
inline Vec3 ToYUp(const Vec3& v) {
    return {v.y, v.z, v.x};
}

// A name (CP932 bytes) as UTF-8 on one line: control characters, which would
// break a line-based file, become "_".
std::string NameForExport(const std::string& cp932);

// Throws talorin::Error, "<format> 形式では書けません: ...", naming the first
// coordinate of a point that a 32-bit float cannot hold (it would be stored
// as infinity), before anything is written.
void CheckFloat32Points(const TerrainMesh& mesh, const char* formatName);

// Collects small writes and hands them to the sink in large blocks. flush()
// must be called at the end; bytes not flushed are dropped.
class BufferedSink {
  public:
    explicit BufferedSink(const vesk::ByteSink& sink) : m_sink(sink), m_buffer(new char[kBlock]) {}

    void write(const char* data, std::size_t size) {
        if (m_used + size > kBlock)
            flush();
        if (size >= kBlock) {
            m_sink(data, size);
            return;
        }
        std::memcpy(m_buffer.get() + m_used, data, size);
        m_used += size;
    }
    void write(std::string_view text) { write(text.data(), text.size()); }
    void put8(std::uint8_t v) { write(reinterpret_cast<const char*>(&v), 1); }
    // Little-endian, whatever the machine's order.
    void put16(std::uint16_t v) {
        const char b[2] = {char(v & 0xFF), char(v >> 8)};
        write(b, 2);
    }
    void put32(std::uint32_t v) {
        const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                           char(v >> 24)};
        write(b, 4);
    }
    void putFloat(float v) { put32(std::bit_cast<std::uint32_t>(v)); }
    // Room for the next size bytes (size < 1 MiB), to be filled at once.
    char* claim(std::size_t size) {
        if (m_used + size > kBlock)
            flush();
        char* const at = m_buffer.get() + m_used;
        m_used += size;
        return at;
    }
    void flush() {
        if (m_used > 0)
            m_sink(m_buffer.get(), m_used);
        m_used = 0;
    }

  private:
    static constexpr std::size_t kBlock = std::size_t(1) << 20;
    const vesk::ByteSink& m_sink;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
};

// Stores v at `at` in little-endian order; returns the end.
inline char* StoreLe32(char* at, std::uint32_t v) {
    at[0] = char(v & 0xFF);
    at[1] = char((v >> 8) & 0xFF);
    at[2] = char((v >> 16) & 0xFF);
    at[3] = char(v >> 24);
    return at + 4;
}
inline char* StoreFloat(char* at, double v) {
    return StoreLe32(at, std::bit_cast<std::uint32_t>(float(v)));
}
// v's x, y and z as three floats.
inline char* StoreFloats(char* at, const Vec3& v) {
    return StoreFloat(StoreFloat(StoreFloat(at, v.x), v.y), v.z);
}

// The shortest text that reads back as v, exactly the bytes std::to_chars(v)
// gives (fixed or scientific, whichever is shorter, fixed on a tie), at most
// kMaxNumberText bytes; returns its length. About twice as fast: numbers are
// most of the work of a text format.
std::size_t ShortestText(double v, char* out);

// Formats items 0 .. count-1 as text in blocks, several blocks at a time on
// up to four threads, and writes the blocks to out in item order.
// format(first, last, text) appends the text of items first .. last-1 to
// text; it runs on other threads and must only read shared data. An exception
// it throws reaches the caller once the blocks of that round are done.
void WriteFormattedInParallel(
    BufferedSink& out, std::size_t count,
    const std::function<void(std::size_t first, std::size_t last, std::string& text)>& format);

} // namespace talorin
