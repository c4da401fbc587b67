#pragma once
// The lines of a .suf polygon that both writers format: the shape model's
// (shape/sufwriter.cpp) and the indexed mesh's (shape/sufmesh.cpp). One
// formatter keeps their bytes the same.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/numbercache.h"
#include "base/numtext.h"
#include "shape/shape.h"

namespace vesk {

// The longest vertex line: four spaces, eight numbers, their separators,
// CR LF. A line is formatted into room for kVertexLineRoom bytes, the
// longest line plus the fixed-size copy of the last number (NumberCache).
inline constexpr std::size_t kMaxVertexLine = 4 + 8 * kMaxNumberText + 9 + 2;
inline constexpr std::size_t kVertexLineRoom = kMaxVertexLine + kMaxNumberText;

// The opening line of a polygon of each kind, padded with zeros to 32 bytes
// so that it can be copied in whole blocks; the views end at the line's end.
inline constexpr char kPrimText[4][32] = {"prim poly (\r\n", "prim shade (\r\n",
                                          "prim uvpoly (\r\n", "prim uvshade (\r\n"};
inline constexpr std::string_view kPrimLines[] = {kPrimText[0], kPrimText[1], kPrimText[2],
                                                  kPrimText[3]};

// The vertex line of v for a polygon of this kind into out (room for
// kVertexLineRoom bytes); returns its length. Vertex is a type with X, Y, Z,
// U, V, and NX, NY, NZ unless zeroNormals, which writes "0 0 0" for the normal
// of the shade kinds, as FormatSufNumber writes zero.
template <bool zeroNormals, typename Vertex>
std::size_t FormatVertexLine(const Vertex& v, std::uint8_t kind, NumberCache& numbers, char* out) {
    char* p = out;
    std::memcpy(p, "    ", 4);
    p += 4;
    p += numbers.format(v.X, p);
    *p++ = ' ';
    p += numbers.format(v.Y, p);
    *p++ = ' ';
    p += numbers.format(v.Z, p);
    if (kind == kShade || kind == kUvShade) {
        if constexpr (zeroNormals) {
            std::memcpy(p, "  0 0 0", 7);
            p += 7;
        } else {
            *p++ = ' ';
            *p++ = ' ';
            p += numbers.format(v.NX, p);
            *p++ = ' ';
            p += numbers.format(v.NY, p);
            *p++ = ' ';
            p += numbers.format(v.NZ, p);
        }
    }
    if (kind == kUvPoly || kind == kUvShade) {
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

} // namespace vesk
