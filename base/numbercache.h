#pragma once
// Recently formatted numbers by their bits, for the writers. A terrain has few
// distinct heights (one per brightness) and, on a uniform lattice, few distinct
// x, y, u and v values; a model read from a file holds every shared point once
// per polygon. So most numbers are copied instead of formatted again. The key
// is the exact bit pattern, so the text is always that of the value. The
// .suf writers format with FormatSufNumber; a writer of another format gives
// its own formatter.

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/numtext.h"

namespace vesk {

// Format writes a number's text (at most kMaxNumberText bytes, at least one)
// and returns its length.
template <std::size_t (*Format)(double v, char* out)> class BasicNumberCache {
  public:
    // Writes Format(v) to out and returns its length. out must have room for
    // kMaxNumberText bytes, whatever the length: the text is copied as one
    // fixed-size block.
    std::size_t format(double v, char* out) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        const std::uint64_t hash = (bits ^ (bits >> 29) ^ (bits >> 47)) * 0x9E3779B97F4A7C15u;
        Entry& entry = m_entries[hash >> (64 - kEntryBits)];
        if (entry.length == 0 || entry.bits != bits) {
            entry.length = static_cast<std::uint8_t>(Format(v, entry.text));
            entry.bits = bits;
        }
        std::memcpy(out, entry.text, sizeof entry.text);
        return entry.length;
    }

  private:
    static constexpr int kEntryBits = 13;
    struct Entry {
        std::uint64_t bits = 0;
        std::uint8_t length = 0; // 0: empty (no number formats to nothing)
        char text[kMaxNumberText];
    };
    std::vector<Entry> m_entries = std::vector<Entry>(std::size_t{1} << kEntryBits);
};

using NumberCache = BasicNumberCache<FormatSufNumber>;

} // namespace vesk
