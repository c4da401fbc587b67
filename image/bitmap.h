#pragma once
// A decoded picture: 8-bit red, green and blue per pixel, rows from the top.
// The core reads contour heights through it; the window draws from it.
//
// A picture whose file carries more than 8 bits a channel (16-bit PNG, PGM or
// PPM with a maxval other than 255) also keeps its full-precision level per
// pixel, red + green + blue in the file's own units, with levelMax() = 3 x the
// channel maximum. Its 8-bit pixels are then only the reduction for display.
// An 8-bit picture keeps no levels: its level is r + g + b out of 765.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace talorin {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Decoders write straight into the pixel array as packed 8-bit RGB.
static_assert(sizeof(Rgb) == 3 && alignof(Rgb) == 1);

// The level range of 8-bit pixels: 3 x 255.
inline constexpr std::uint32_t kRgbLevelMax = 765;

// A sample of 0..max (max > 0, up to 65535) as the nearest 8-bit value, for display.
inline std::uint8_t ScaleTo8Bits(std::uint32_t value, std::uint32_t max) {
    return std::uint8_t((value * 255 + max / 2) / max);
}

class Bitmap {
  public:
    Bitmap() = default;
    Bitmap(int width, int height)
        : m_width(width), m_height(height), m_pixels(std::size_t(width) * height) {}

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool empty() const { return m_pixels.empty(); }

    // x = column from the left, y = row from the top; both must be in range.
    // Writing a pixel of a picture with levels leaves its level as it was.
    const Rgb& pixel(int x, int y) const { return m_pixels[std::size_t(y) * m_width + x]; }
    Rgb& pixel(int x, int y) { return m_pixels[std::size_t(y) * m_width + x]; }
    void setPixel(int x, int y, Rgb c) { pixel(x, y) = c; }

    const Rgb* data() const { return m_pixels.data(); }
    Rgb* data() { return m_pixels.data(); }

    // The brightness of pixel (x, y) is level(x, y) / levelMax(), between 0 and 1.
    std::uint32_t levelMax() const { return m_levels.empty() ? kRgbLevelMax : m_levelMax; }
    std::uint32_t level(int x, int y) const {
        const std::size_t i = std::size_t(y) * m_width + x;
        if (m_levels.empty()) {
            const Rgb& c = m_pixels[i];
            return std::uint32_t(c.r) + c.g + c.b;
        }
        return m_levels[i];
    }

    // Row-major levels, width() x height() of them, or null for an 8-bit picture.
    const std::uint32_t* levels() const { return m_levels.empty() ? nullptr : m_levels.data(); }

    // Gives the picture full-precision levels: width() x height() values, none
    // above levelMax (> 0). The caller guarantees both; the decoders do.
    void setLevels(std::vector<std::uint32_t> levels, std::uint32_t levelMax) {
        m_levels = std::move(levels);
        m_levelMax = levelMax;
    }

  private:
    int m_width = 0;
    int m_height = 0;
    std::vector<Rgb> m_pixels;
    std::vector<std::uint32_t> m_levels; // empty for an 8-bit picture
    std::uint32_t m_levelMax = kRgbLevelMax;
};

} // namespace talorin
