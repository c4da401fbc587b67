#pragma once
// Pixel-exact drawing of the two previews over plain 32-bit pixel buffers: the
// stretched contour image, the lattice lines, the graph's gradient and its
// curve. The window only blits the results, so every pixel is testable here.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/bitmap.h"
#include "terrain/lattice.h"

namespace talorin {

// One pixel as 0xAARRGGBB (the layout of a Qt RGB32 image); alpha is always 0xff.
using Pixel = std::uint32_t;

inline constexpr Pixel kBlack = 0xff000000u;
inline constexpr Pixel kRed = 0xffff0000u;

inline constexpr Pixel PixelFromRgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return 0xff000000u | (Pixel(r) << 16) | (Pixel(g) << 8) | Pixel(b);
}

// A rectangle of pixels owned elsewhere: row y starts at pixels + y * stride
// (stride in pixels, >= width). An empty view (width or height 0) is allowed
// and nothing is drawn into it.
struct PixelView {
    Pixel* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;

    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    Pixel& at(int x, int y) const { return pixels[y * stride + x]; }
};

// The same for reading only.
struct ConstPixelView {
    const Pixel* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;

    const Pixel& at(int x, int y) const { return pixels[y * stride + x]; }
};

// Sets the pixel when (x, y) lies inside view; does nothing otherwise.
inline void PutPixel(const PixelView& view, int x, int y, Pixel color) {
    if (view.contains(x, y))
        view.at(x, y) = color;
}

// Copies the top-left width x height pixels of source onto the same place of
// target, cut to what both views hold.
void CopyRect(const PixelView& target, const ConstPixelView& source, int width, int height);

// --- Lines ------------------------------------------------------------------

// Draws a 1-pixel line from (x0, y0) up to, but not including, (x1, y1); a line
// of zero length draws nothing. Pixels outside view are skipped (any int
// coordinates are safe; the work is bounded by the view's size).
//
// The rule is Bresenham's: the axis with the larger extent (x when the extents
// are equal) is the major axis and advances one pixel per step; at step t the
// minor coordinate is the start's moved by round(t * dMinor / dMajor), with a
// tie (an exact half) going to the smaller coordinate: up for a flat line,
// left for a steep one, whichever way the line runs. So (0,0)->(4,1) draws
// (0,0) (1,0) (2,0) (3,1), and its reverse (4,1)->(0,0) draws (4,1) (3,1) (2,0)
// (1,0): both directions cover the same pixels apart from the end points.
void DrawLine(const PixelView& view, int x0, int y0, int x1, int y1, Pixel color);

// A pen position and colour with move-to / line-to, each line ending before
// its end point, which becomes the new position.
class Pen {
  public:
    explicit Pen(const PixelView& view) : m_view(view) {}
    void setColor(Pixel color) { m_color = color; }
    void moveTo(int x, int y) {
        m_x = x;
        m_y = y;
    }
    void lineTo(int x, int y) {
        DrawLine(m_view, m_x, m_y, x, y, m_color);
        moveTo(x, y);
    }

  private:
    PixelView m_view;
    Pixel m_color = kBlack;
    int m_x = 0;
    int m_y = 0;
};

// --- Contour preview ----------------------------------------------------------

// The source index that destination index d (0 <= d < dstSize, dstSize > 0) shows when
// srcSize pixels are stretched over dstSize without averaging:
// floor(d * srcSize / dstSize), in exact integer arithmetic. Columns or rows are
// dropped when shrinking and repeated when growing.
int StretchSource(int d, int srcSize, int dstSize);

// Stretches the whole of image into the top-left width x height pixels of
// target (cut to target), nearest neighbour by StretchSource on each axis.
// Does nothing when image is empty.
void StretchImage(const PixelView& target, int width, int height, const Bitmap& image);

struct PixelPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

// Where a lattice point is drawn: (X * scaleX, Y * scaleY), each rounded to the
// nearest integer with halves to the even neighbour. Throws FloatFault when a
// coordinate is not a number or outside the 32-bit range.
PixelPoint PreviewPosition(const MeshPoint& point, double scaleX, double scaleY);

// Draws the cells of mesh (0..paMax in use, 1 <= paMax <= kMaxPaMax) over view:
// for i (outer) and j (inner) from 0 to paMax-1, the cell A = [i][j],
// B = [i+1][j], C = [i+1][j+1], D = [i][j+1] as a black outline A-B-C-D-A and
// then the same outline in red shifted by (-2, -2). Throws as PreviewPosition.
void DrawLatticeOverlay(const PixelView& view, const MeshLattice& mesh, int paMax, double scaleX,
                        double scaleY);

// --- Side-profile graph ---------------------------------------------------------

// Grey level of each column of a gradient width pixels wide: a running sum
// from 0 growing by 255 / width per column, rounded half to even (0, 1, ...,
// 254 for width 233). Throws FloatFault for a width of 0.
std::vector<std::uint8_t> GradientLevels(int width);

// Fills view with the gradient of its own width, every row alike.
void FillGradient(const PixelView& view);

// One point of the profile curve: the red pixel is (column, row), its black
// shadow (column + 2, row + 2).
struct GraphPoint {
    int column = 0;
    int row = 0;
    friend bool operator==(const GraphPoint&, const GraphPoint&) = default;
};

// The curve of ShapeCurve(shapeMode, x, level) in a width x height graph, one
// point per column from 4 to width-4 (none when width < 8). x runs in fixed
// steps of n / 10000 with n = 10000 / width rounded half to even (43 for 233:
// x = 0.0172 at column 4); the row is (height-8) * (1 - y) + 2 rounded half to
// even, so y = 0 lies on row height-6 and y = 1 on row 2. Throws FloatFault for
// a width of 0.
std::vector<GraphPoint> ShapeGraphPoints(int width, int height, std::uint8_t shapeMode,
                                         double level);

// Draws the curve of ShapeGraphPoints(view.width, view.height, ...) over view:
// per column the black shadow first, then the red point.
void DrawShapeGraphCurve(const PixelView& view, std::uint8_t shapeMode, double level);

} // namespace talorin
