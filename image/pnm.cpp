#include "image/pnm.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "image/filebytes.h"
#include "base/error.h"

namespace talorin {
namespace {

const char* const kNotPnmText = MessageText(Msg::NotPnm, ProgramLanguage()).data();
const char* const kBadHeaderText = MessageText(Msg::PnmBadHeader, ProgramLanguage()).data();
const char* const kBadMaxvalText = MessageText(Msg::PnmBadMaxval, ProgramLanguage()).data();
const char* const kSampleTooLargeText = MessageText(Msg::PnmSampleTooLarge, ProgramLanguage()).data();

// Any header number above this is refused (as a size) or out of range (as a maxval);
// parsing stops counting there, so a long run of digits cannot overflow.
constexpr std::uint64_t kNumberCeiling = std::uint64_t(1) << 40;

[[noreturn]] void fail(const std::string& reason) {
    throw Error(reason);
}

bool isBlank(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class HeaderReader {
  public:
    HeaderReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    // The next decimal number, after at least one blank or comment.
    std::uint64_t number() {
        const bool separated = skipBlanksAndComments();
        if (m_pos == m_size)
            fail(kTruncatedText);
        if (!separated || m_data[m_pos] < '0' || m_data[m_pos] > '9')
            fail(kBadHeaderText);
        std::uint64_t value = 0;
        while (m_pos < m_size && m_data[m_pos] >= '0' && m_data[m_pos] <= '9') {
            value = std::min(value * 10 + (m_data[m_pos] - '0'), kNumberCeiling);
            ++m_pos;
        }
        return value;
    }

    // The single blank that ends the header; the samples follow it.
    std::size_t endOfHeader() {
        if (m_pos == m_size)
            fail(kTruncatedText);
        if (!isBlank(m_data[m_pos]))
            fail(kBadHeaderText);
        return m_pos + 1;
    }

  private:
    // Whether anything was skipped.
    bool skipBlanksAndComments() {
        const std::size_t start = m_pos;
        while (m_pos < m_size) {
            if (isBlank(m_data[m_pos])) {
                ++m_pos;
            } else if (m_data[m_pos] == '#') {
                while (m_pos < m_size && m_data[m_pos] != '\n' && m_data[m_pos] != '\r')
                    ++m_pos;
            } else {
                break;
            }
        }
        return m_pos != start;
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 2; // after the magic
};

} // namespace

bool LooksLikePnm(const std::uint8_t* data, std::size_t size) {
    return size >= 2 && data[0] == 'P' && data[1] >= '1' && data[1] <= '7';
}

Bitmap DecodePnm(const std::uint8_t* data, std::size_t size) {
    if (!LooksLikePnm(data, size))
        fail(kNotPnmText);
    const char kind = char(data[1]);
    if (kind != '5' && kind != '6')
        fail(Text(Msg::PnmUnsupported, {std::string_view(&kind, 1)}));
    const unsigned channels = kind == '6' ? 3 : 1;

    HeaderReader header(data, size);
    const std::uint64_t width = header.number();
    const std::uint64_t height = header.number();
    const std::uint64_t maxval = header.number();
    const std::size_t start = header.endOfHeader();
    if (width == 0 || height == 0)
        fail(kBadSizeText);
    if (maxval == 0 || maxval > 65535)
        fail(kBadMaxvalText);
    if (width > kMaxBmpPixels || height > kMaxBmpPixels || width * height > kMaxBmpPixels)
        fail(kTooLargeText);

    const std::size_t pixels = std::size_t(width * height);
    const unsigned sampleBytes = maxval < 256 ? 1 : 2;
    if (std::uint64_t(pixels) * channels * sampleBytes > size - start)
        fail(kTruncatedText);

    const bool eightBit = maxval == 255;
    Bitmap bitmap;
    std::vector<std::uint32_t> levels;
    AllocateOrThrow([&] {
        bitmap = Bitmap(int(width), int(height));
        if (!eightBit)
            levels.resize(pixels);
    });

    const std::uint32_t max = std::uint32_t(maxval);
    const std::uint8_t* in = data + start;
    auto sample = [&]() -> std::uint32_t {
        std::uint32_t v = in[0];
        if (sampleBytes == 2)
            v = v << 8 | in[1];
        in += sampleBytes;
        if (v > max)
            fail(kSampleTooLargeText);
        return v;
    };
    Rgb* out = bitmap.data();
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint32_t r = sample();
        const std::uint32_t g = channels == 3 ? sample() : r;
        const std::uint32_t b = channels == 3 ? sample() : r;
        if (eightBit) {
            out[i] = Rgb{std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)};
        } else {
            levels[i] = r + g + b;
            out[i] = Rgb{ScaleTo8Bits(r, max), ScaleTo8Bits(g, max), ScaleTo8Bits(b, max)};
        }
    }
    if (!eightBit)
        bitmap.setLevels(std::move(levels), 3 * max);
    return bitmap;
}

} // namespace talorin
