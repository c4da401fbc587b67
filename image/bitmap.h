#pragma once
// A decoded picture: 8-bit red, green and blue per pixel, rows from the top.
// The core reads contour heights through it; the window draws from it.
//
// A picture whose file carries more than 8 bits a channel (16-bit PNG, PGM or
// PPM with a maxval other than 255) also keeps its full-precision level per
// pixel, red + green + blue in the file's own units, with levelMax() = 3 x the
// channel maximum. Its 8-bit pixels are then only the reduction for display.
// An 8-bit picture keeps no levels: its level is r + g + b out of 765.
//
// An elevation raster (a TIFF of measured heights) keeps instead a height
// fraction per pixel, (value - minimum) / (maximum - minimum) in full double
// precision, with what the file says of its range and place (Elevation). Its
// pixels are the fractions as 8-bit grey, for display only.

#include <cstddef>
#include <cstdint>
#include <string>
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

// How a raster's pixels are measured on the ground.
enum class GroundUnits : std::uint8_t {
    None,    // not georeferenced, or in units we cannot turn into metres
    Metres,  // a projected system: pixel sizes in metres
    Degrees, // a geographic system: pixel sizes in degrees of longitude and latitude
};

// What an elevation raster tells of itself: its range in metres and, when it
// is georeferenced, the size of its pixels on the ground.
struct Elevation {
    double minimum = 0; // the lowest valid sample, in metres
    double maximum = 0; // the highest, above minimum
    GroundUnits units = GroundUnits::None;
    double pixelWidth = 0;     // along a row, in units (> 0 when units is not None)
    double pixelHeight = 0;    // along a column, in units
    double centreLatitude = 0; // degrees, for Degrees: where the raster's centre lies
    std::string notGeoreferenced; // with units None: why, in the program's language
};

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

    // Row-major height fractions in 0..1, or null for a picture of levels.
    const double* heights() const { return m_heights.empty() ? nullptr : m_heights.data(); }
    // What the raster says of its range and place; null for a picture of levels.
    const Elevation* elevation() const { return m_heights.empty() ? nullptr : &m_elevation; }

    // Makes the picture an elevation raster: width() x height() fractions in
    // 0..1. The caller guarantees both; the TIFF reader does.
    void setHeights(std::vector<double> heights, Elevation elevation) {
        m_heights = std::move(heights);
        m_elevation = std::move(elevation);
    }

  private:
    int m_width = 0;
    int m_height = 0;
    std::vector<Rgb> m_pixels;
    std::vector<std::uint32_t> m_levels; // empty for an 8-bit picture
    std::uint32_t m_levelMax = kRgbLevelMax;
    std::vector<double> m_heights; // empty unless an elevation raster
    Elevation m_elevation;
};

} // namespace talorin
