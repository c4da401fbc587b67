#pragma once
// Little-endian TIFF files built field by field, so that a test can state any
// tag, valid or hostile: strip data first (at offset 8), then the directory.
// Offsets in StripOffsets or TileOffsets count from the start of the data.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testsupport {

struct TiffField {
    std::uint16_t tag;
    std::uint16_t type; // 2 ASCII, 3 SHORT, 4 LONG, 12 DOUBLE
    std::vector<double> values; // the numbers, or empty for ASCII
    std::string text = {};      // ASCII, without its terminator
};

inline std::string TiffBytes(std::vector<TiffField> fields, const std::string& data) {
    auto put = [](std::string& out, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out += char(v >> (8 * i));
    };
    const std::uint32_t ifd = std::uint32_t(8 + data.size() + data.size() % 2);
    std::string out = "II*";
    out += '\0';
    put(out, ifd, 4);
    out += data + std::string(data.size() % 2, '\0');
    std::string extra;
    const std::uint32_t extraAt = ifd + 2 + 12 * std::uint32_t(fields.size()) + 4;
    std::string dir;
    put(dir, fields.size(), 2);
    for (const TiffField& f : fields) {
        std::string payload = f.text.empty() ? "" : f.text + '\0';
        for (double v : f.values) {
            const bool offset = f.tag == 273 || f.tag == 324;
            if (f.type == 12) {
                std::uint64_t bits;
                std::memcpy(&bits, &v, 8);
                put(payload, bits, 8);
            } else {
                put(payload, std::uint64_t(v) + (offset ? 8 : 0), f.type == 3 ? 2 : 4);
            }
        }
        const std::size_t size = f.type == 2 ? 1 : f.type == 3 ? 2 : f.type == 4 ? 4 : 8;
        put(dir, f.tag, 2);
        put(dir, f.type, 2);
        put(dir, payload.size() / size, 4);
        if (payload.size() <= 4) {
            dir += payload + std::string(4 - payload.size(), '\0');
        } else {
            put(dir, extraAt + extra.size(), 4);
            extra += payload + std::string(payload.size() % 2, '\0');
        }
    }
    put(dir, 0, 4);
    return out + dir + extra;
}

// The fields of a one-strip, uncompressed, one-band raster of width x height
// samples of bits, of format 1 (unsigned), 2 (signed) or 3 (floating point),
// whose data holds byteCount bytes.
inline std::vector<TiffField> TiffRasterFields(int width, int height, int bits, int format,
                                               std::size_t byteCount) {
    return {{256, 4, {double(width)}},      {257, 4, {double(height)}},
            {258, 3, {double(bits)}},       {259, 3, {1}},
            {262, 3, {1}},                  {273, 4, {0}},
            {277, 3, {1}},                  {278, 4, {double(height)}},
            {279, 4, {double(byteCount)}},  {339, 3, {double(format)}}};
}

} // namespace testsupport
