#pragma once
// A decoded picture: 8-bit red, green and blue per pixel, rows from the top.
// The core reads contour heights through it; the window draws from it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talorin {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

class Bitmap {
public:
    Bitmap() = default;
    Bitmap(int width, int height) : m_width(width), m_height(height), m_pixels(std::size_t(width) * height) {}

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool empty() const { return m_pixels.empty(); }

    // x = column from the left, y = row from the top; both must be in range.
    const Rgb& pixel(int x, int y) const { return m_pixels[std::size_t(y) * m_width + x]; }
    Rgb& pixel(int x, int y) { return m_pixels[std::size_t(y) * m_width + x]; }
    void setPixel(int x, int y, Rgb c) { pixel(x, y) = c; }

    const Rgb* data() const { return m_pixels.data(); }
    Rgb* data() { return m_pixels.data(); }

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<Rgb> m_pixels;
};

} // namespace talorin
