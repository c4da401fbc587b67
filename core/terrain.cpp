#include "core/terrain.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "core/profilecurves.h"
#include "core/subdivision.h"
#include "shape/error.h"

namespace talorin {

std::string GenerationError;

namespace {

constexpr double kTwoPow52 = 4503599627370496.0;

// Nearest integer, halves to even, under the default rounding mode: adding and
// taking away 2^52 leaves no fraction bits. Magnitudes from 2^52 up are whole.
inline double RoundHalfEven(double x) {
    const double magnitude = std::fabs(x);
    if (!(magnitude < kTwoPow52))
        return x;
    return std::copysign((magnitude + kTwoPow52) - kTwoPow52, x);
}

// False for not-a-number too.
inline bool FitsInt32(double whole) {
    return whole >= -2147483648.0 && whole <= 2147483647.0;
}

// The truncating remainder of value by divisor (> 0), moved into 0..divisor-1.
// A negative remainder (an interior point pulled past the left or top border)
// would otherwise index outside the image. Points inside need no division.
inline int WrapIndex(int value, int divisor) {
    if (static_cast<unsigned>(value) < static_cast<unsigned>(divisor))
        return value;
    const int r = value % divisor;
    return r < 0 ? r + divisor : r;
}

void CheckDensity(int paMax) {
    if (paMax < 1 || paMax > kMaxPaMax)
        throw Error("メッシュの密度は 1 から 16 までで指定してください");
}

void CheckSampleImage(const Bitmap& image) {
    if (image.width() < 2 || image.height() < 2)
        throw Error("高さを読む画像は 2 x 2 画素以上にしてください");
}

// The constant text of a fault thrown by a checked step.
const char* FaultText(const FloatFault& fault) {
    for (const char* text : {kDivideByZeroText, kInvalidOperationText, kOverflowText})
        if (std::strcmp(fault.what(), text) == 0)
            return text;
    return kInvalidOperationText;
}

// --- One run ------------------------------------------------------------------

constexpr int kBrightnessSums = 766; // red + green + blue, 0..765
// Leaves between two progress reports and memory checks: well under a
// millisecond of work, so that a cancel takes effect at once.
constexpr std::uint64_t kProgressStride = 4096;
constexpr std::uint32_t kNoVertex = std::numeric_limits<std::uint32_t>::max();

// The run's constants that the vertex values need.
struct Run {
    const Rgb* pixels = nullptr;
    int width = 0;
    int spanX = 0; // width - 1
    int spanY = 0; // height - 1

    double sW = 0;
    double sH = 0;
    double size = 0;
    double half = 0;

    // ShapeCurve(mode, s / 765, e) * MaxHeight for every brightness sum s,
    // computed once per run with every step checked: the same doubles the
    // height sample gives, without four logarithms and powers per vertex. An
    // entry whose computation faults holds NaN and its fault's text, raised
    // only when a vertex actually reads that brightness.
    std::array<double, kBrightnessSums> heights{};
    std::array<const char*, kBrightnessSums> heightFaults{};
};

void FillHeights(Run& run, std::uint8_t shapeMode, double e, double maxHeight) {
    for (int s = 0; s < kBrightnessSums; ++s) {
        try {
            run.heights[s] = CheckedMul(ShapeCurve(shapeMode, s / 765.0, e), maxHeight);
            run.heightFaults[s] = nullptr;
        } catch (const FloatFault& fault) {
            run.heights[s] = std::numeric_limits<double>::quiet_NaN();
            run.heightFaults[s] = FaultText(fault);
        }
    }
}

// The vertex values of image point p, unchecked. False when any of them is not
// finite or p cannot be rounded to a pixel: then some step faulted.
inline bool FastVertex(const Run& run, MeshPoint p, MeshVertex& out) {
    const double a = p.X * run.sW;
    const double b = p.Y * run.sH;
    out.X = b - run.half;
    out.Y = a - run.half;
    const double column = RoundHalfEven(p.X);
    const double row = RoundHalfEven(p.Y);
    if (!FitsInt32(column) || !FitsInt32(row))
        return false;
    const int c = WrapIndex(static_cast<int>(column), run.spanX);
    const int r = WrapIndex(static_cast<int>(row), run.spanY);
    const Rgb& pixel = run.pixels[std::size_t(r) * std::size_t(run.width) + std::size_t(c)];
    out.Z = run.heights[pixel.r + pixel.g + pixel.b];
    out.U = a / run.size * 255;
    out.V = b / run.size * 255;
    return std::isfinite(out.X) && std::isfinite(out.Y) && std::isfinite(out.Z) &&
           std::isfinite(out.U) && std::isfinite(out.V);
}

// The same values with every step checked in the order of the rules, so that
// the first fault throws with its own text.
MeshVertex CheckedVertex(const Run& run, MeshPoint p) {
    MeshVertex out;
    const double a = CheckedMul(p.X, run.sW);
    const double b = CheckedMul(p.Y, run.sH);
    out.X = CheckedSub(b, run.half);
    out.Y = CheckedSub(a, run.half);
    const int c = WrapIndex(RoundToInt32(p.X), run.spanX);
    const int r = WrapIndex(RoundToInt32(p.Y), run.spanY);
    const Rgb& pixel = run.pixels[std::size_t(r) * std::size_t(run.width) + std::size_t(c)];
    const int sum = pixel.r + pixel.g + pixel.b;
    if (run.heightFaults[sum] != nullptr)
        throw FloatFault(run.heightFaults[sum]);
    out.Z = run.heights[sum];
    out.U = CheckedMul(CheckedDiv(a, run.size), 255);
    out.V = CheckedMul(CheckedDiv(b, run.size), 255);
    return out;
}

// Every value of one leaf checked in the order in which the rules compute
// them: the corners A, B, C, D of a quad; the centre, then c, A, B, C, D of
// the four triangles.
void CheckLeaf(const Run& run, bool quadMode, const Leaf& leaf) {
    if (quadMode) {
        for (const MeshPoint& corner : {leaf.A, leaf.B, leaf.C, leaf.D})
            (void)CheckedVertex(run, corner);
    } else {
        const MeshPoint centre = CheckedCentre(leaf.A, leaf.B, leaf.C, leaf.D);
        for (const MeshPoint& point : {centre, leaf.A, leaf.B, leaf.C, leaf.D})
            (void)CheckedVertex(run, point);
    }
}

// Fills a mesh leaf by leaf. Polygons are emitted in the order of the walk
// and the .suf file lists them last emitted first, so they are written into
// the index list from its end.
//
// Corners are welded by their grid position (see Leaf): the walk computes a
// point once where it first appears and hands it on by value, and the point of
// an edge shared by two cells comes from the same two corners by the same
// commutative operations, so equal positions hold bit-identical points and so
// bit-identical vertex values. A point's values are computed the first time
// its position is reached; later leaves reuse its vertex.
class MeshBuilder {
  public:
    MeshBuilder(const Run& run, TerrainMesh& mesh, std::uint64_t gridSide)
        : m_run(run), m_mesh(mesh), m_gridSide(gridSide),
          m_grid(std::size_t(gridSide * gridSide), kNoVertex),
          m_out(mesh.Indices.data() + mesh.Indices.size()) {}

    // False when a value came out non-finite: some step of this leaf faulted.
    bool quad(const Leaf& leaf) {
        std::uint32_t a, b, c, d;
        if (!corner(leaf.A, leaf.X, leaf.Y, a) || !corner(leaf.B, leaf.X + 1, leaf.Y, b) ||
            !corner(leaf.C, leaf.X + 1, leaf.Y + 1, c) || !corner(leaf.D, leaf.X, leaf.Y + 1, d))
            return false;
        // Listed D, C, B, A: the builders of the shape model insert at the head.
        m_out -= 4;
        m_out[0] = d;
        m_out[1] = c;
        m_out[2] = b;
        m_out[3] = a;
        return true;
    }

    // Four triangles around the leaf's centre c: (c, B, A), (c, C, B),
    // (D, C, c), (c, A, D), each counterclockwise seen from above.
    bool triangles(const Leaf& leaf) {
        MeshVertex centre;
        if (!FastVertex(m_run, Centre(leaf.A, leaf.B, leaf.C, leaf.D), centre))
            return false;
        std::uint32_t a, b, cc, d;
        if (!corner(leaf.A, leaf.X, leaf.Y, a) || !corner(leaf.B, leaf.X + 1, leaf.Y, b) ||
            !corner(leaf.C, leaf.X + 1, leaf.Y + 1, cc) || !corner(leaf.D, leaf.X, leaf.Y + 1, d))
            return false;
        const std::uint32_t c = add(centre); // the centre belongs to this leaf alone
        const std::uint32_t list[4][3] = {{c, b, a}, {c, cc, b}, {d, cc, c}, {c, a, d}};
        for (const auto& t : list) {
            m_out -= 3;
            m_out[0] = t[0];
            m_out[1] = t[1];
            m_out[2] = t[2];
        }
        return true;
    }

  private:
    std::uint32_t add(const MeshVertex& v) {
        m_mesh.Vertices.push_back(v);
        return std::uint32_t(m_mesh.Vertices.size() - 1);
    }

    // The vertex of point p at grid position (x, y), made when the position is
    // new; false when its values are not finite.
    bool corner(MeshPoint p, std::uint64_t x, std::uint64_t y, std::uint32_t& index) {
        std::uint32_t& slot = m_grid[std::size_t(y * m_gridSide + x)];
        if (slot == kNoVertex) {
            MeshVertex v;
            if (!FastVertex(m_run, p, v))
                return false;
            slot = add(v);
        }
        index = slot;
        return true;
    }

    const Run& m_run;
    TerrainMesh& m_mesh;
    std::uint64_t m_gridSide;
    std::vector<std::uint32_t> m_grid; // the vertex at each grid position
    std::uint32_t* m_out;              // the last polygon written
};

// The first leaf of cell (0, 0) with every step checked and nothing built, for
// a run refused up front: it raises the fault that the run would have hit
// before memory ran out (a Size of 0 faults at the very first vertex). The
// leaf is the A quarter of the A quarter ..., found by a loop rather than
// recursion since the depth may be anything; once the quarter stops changing,
// deeper levels repeat it.
void CheckFirstLeaf(const Run& run, bool quadMode, const MeshLattice& lattice, int depth) {
    constexpr int kMaxLevels = 1 << 16;
    MeshPoint A = lattice[0][0];
    MeshPoint B = lattice[1][0];
    MeshPoint C = lattice[1][1];
    MeshPoint D = lattice[0][1];
    for (int level = 0; level < depth && level < kMaxLevels; ++level) {
        const MeshPoint c = CheckedCentre(A, B, C, D);
        const MeshPoint ab = CheckedMidpoint(A, B);
        (void)CheckedMidpoint(B, C);
        (void)CheckedMidpoint(C, D);
        const MeshPoint da = CheckedMidpoint(D, A);
        if (ab == B && c == C && da == D)
            break;
        B = ab;
        C = c;
        D = da;
    }
    CheckLeaf(run, quadMode, Leaf{A, B, C, D, 0, 0});
}

// a * b, or the largest count when it does not fit.
std::uint64_t SaturatingMul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r = 0;
    return __builtin_mul_overflow(a, b, &r) ? std::numeric_limits<std::uint64_t>::max() : r;
}

std::uint64_t LeafCount(int depth, int paMax) {
    if (depth >= 32)
        return std::numeric_limits<std::uint64_t>::max();
    return SaturatingMul(std::uint64_t{1} << (2 * depth), std::uint64_t(paMax) * paMax);
}

[[noreturn]] void ThrowOutOfMemory() {
    throw Error(ErrorKind::OutOfMemory, kOutOfMemoryText);
}

struct FreeShape {
    void operator()(vesk::TVESK_Object* object) const { vesk::FreeSuf(object); }
};
using ShapeGuard = std::unique_ptr<vesk::TVESK_Object, FreeShape>;

} // namespace

std::int32_t RoundToInt32(double x) {
    const double whole = RoundHalfEven(x);
    if (!FitsInt32(whole))
        throw FloatFault(kInvalidOperationText);
    return static_cast<std::int32_t>(whole);
}

double ShapeCurve(std::uint8_t shapeMode, double x, double e) {
    if (!(x >= 0)) // negative or not a number
        x = 0;
    if (x > 1)
        x = 1;
    switch (shapeMode) {
    case 1:
        return MirrorCurve(0, 1, 0, 1, x, e);
    case 2:
        return SCurve(0, 1, 0, 1, x, e);
    default: // 0; no caller passes another mode, which falls back to the rising curve
        return RiseCurve(0, 1, 0, 1, x, e);
    }
}

double SampleHeight(const Bitmap& image, std::uint8_t shapeMode, double x, double y,
                    double heightScale, double e) {
    CheckSampleImage(image);
    const int column = WrapIndex(RoundToInt32(x), image.width() - 1);
    const int row = WrapIndex(RoundToInt32(y), image.height() - 1);
    const Rgb& pixel = image.pixel(column, row);
    const int sum = pixel.r + pixel.g + pixel.b;
    return CheckedMul(ShapeCurve(shapeMode, sum / 765.0, e), heightScale);
}

TerrainMesh GenerateTerrainMesh(const Talorin_Args& args, const ProgressFn& progress) {
    if (args.Depth < 0)
        throw Error("再帰回数は 0 以上で指定してください");
    if (args.Bitmap == nullptr || args.Bitmap->empty())
        throw Error("等高線画像が読み込まれていません");
    CheckDensity(args.PaMax);
    // The window's fields only give finite numbers; anything else would turn
    // into a fault later anyway, so refuse it before building.
    bool finite =
        std::isfinite(args.Size) && std::isfinite(args.MaxHeight) && std::isfinite(args.CurveLevel);
    for (int i = 0; i <= args.PaMax; ++i)
        for (int j = 0; j <= args.PaMax; ++j)
            finite = finite && std::isfinite(args.Lattice[i][j].X) &&
                     std::isfinite(args.Lattice[i][j].Y);
    if (!finite)
        throw FloatFault(kInvalidOperationText);

    const Bitmap& image = *args.Bitmap;
    Run run;
    run.pixels = image.data();
    run.width = image.width();
    run.spanX = image.width() - 1;
    run.spanY = image.height() - 1;
    // An image one pixel wide or high faults here, before any height is read.
    run.sW = CheckedDiv(args.Size, double(run.spanX));
    run.sH = CheckedDiv(args.Size, double(run.spanY));
    run.size = args.Size;
    run.half = args.Size / 2;
    FillHeights(run, args.ShapeMode, args.CurveLevel, args.MaxHeight);

    // Ask before building whether the whole mesh can fit, so that a run far
    // too large fails at once instead of after filling memory. Counts in
    // double cannot wrap around.
    const bool quads = args.QuadMode;
    const std::uint64_t leaves = LeafCount(args.Depth, args.PaMax);
    const double leafCount = std::ldexp(double(args.PaMax) * args.PaMax, 2 * args.Depth);
    const double gridSide = std::ldexp(double(args.PaMax), args.Depth) + 1;
    const double polygonCount = quads ? leafCount : 4 * leafCount;
    const double indexCount = polygonCount * (quads ? 4 : 3);
    const double vertexCount = gridSide * gridSide + (quads ? 0 : leafCount);
    const double bytes = vertexCount * sizeof(MeshVertex) + indexCount * 4 +
                         (polygonCount + 1) * 4 + gridSide * gridSide * 4;
    constexpr double kIndexLimit = double(std::numeric_limits<std::uint32_t>::max());
    vesk::MemoryClaim claim(bytes < 0x1p63 ? std::uint64_t(bytes) : std::uint64_t{1} << 63);
    if (args.Depth > kMaxWalkDepth || indexCount > kIndexLimit || vertexCount >= kIndexLimit ||
        !claim.fits()) {
        CheckFirstLeaf(run, quads, args.Lattice, args.Depth);
        ThrowOutOfMemory();
    }

    TerrainMesh mesh;
    std::uint64_t done = 0; // leaves finished
    bool suspect = false;
    try {
        mesh.ObjName = args.ObjName;
        mesh.AtrName = args.AtrName;
        mesh.Kind = std::uint8_t(2 * int(args.WithUV) + int(args.WithShade));
        mesh.QuadMode = quads;
        mesh.Vertices.reserve(std::size_t(vertexCount));
        mesh.Indices.resize(std::size_t(indexCount));
        MeshBuilder builder(run, mesh, std::uint64_t(gridSide));

        const double bytesPerLeaf = bytes / leafCount;
        std::uint64_t nextCheck = kProgressStride;
        auto visit = [&](const Leaf& leaf) {
            if (!(quads ? builder.quad(leaf) : builder.triangles(leaf))) {
                suspect = true;
                return false;
            }
            if (++done == nextCheck) {
                nextCheck += kProgressStride;
                if (progress && !progress(done, leaves))
                    throw Error(ErrorKind::Cancelled, kCancelledText);
                if (!claim.grow(std::uint64_t(double(done) * bytesPerLeaf)))
                    ThrowOutOfMemory();
            }
            return true;
        };
        WalkLattice(args.Lattice, args.PaMax, args.Depth, visit);
        if (!suspect) {
            const std::uint32_t corners = quads ? 4 : 3;
            mesh.Starts.resize(std::size_t(polygonCount) + 1);
            for (std::size_t p = 0; p < mesh.Starts.size(); ++p)
                mesh.Starts[p] = std::uint32_t(p * corners);
        }
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }

    if (suspect) {
        // Some step faulted at or before the leaf just reached. Give the
        // partial mesh back, then go over the run again up to that leaf with
        // every step checked: the first fault throws with its own text.
        mesh = TerrainMesh{};
        const std::uint64_t limit = done + 1;
        std::uint64_t checked = 0;
        WalkLattice<true>(args.Lattice, args.PaMax, args.Depth, [&](const Leaf& leaf) {
            CheckLeaf(run, quads, leaf);
            return ++checked < limit;
        });
        // Not reached: with finite input a non-finite value only comes from a fault.
        throw FloatFault(kInvalidOperationText);
    }
    if (progress && done % kProgressStride != 0)
        (void)progress(leaves, leaves);
    return mesh;
}

vesk::TVESK_Object* MeshToShape(const TerrainMesh& mesh) {
    ShapeGuard object(vesk::NewObject(mesh.ObjName));
    if (!object)
        ThrowOutOfMemory();
    vesk::TVESK_Polygon* last = nullptr;
    for (std::size_t p = 0; p < mesh.polygonCount(); ++p) {
        vesk::TVESK_Polygon* polygon = vesk::NewPolygon(mesh.AtrName, mesh.Kind, object.get());
        if (polygon == nullptr)
            ThrowOutOfMemory();
        vesk::TVESK_Vertex* lastVertex = nullptr;
        const std::uint32_t* corners = mesh.corners(p);
        for (std::size_t k = 0; k < mesh.cornerCount(p); ++k) {
            const MeshVertex& v = mesh.Vertices[corners[k]];
            vesk::TVESK_Vertex* vertex = vesk::NewVertex(v.X, v.Y, v.Z, 0, 0, 0, v.U, v.V);
            if (vertex == nullptr) {
                vesk::ReleasePolygon(polygon);
                ThrowOutOfMemory();
            }
            vesk::AppendVertex(polygon, lastVertex, vertex);
        }
        vesk::AppendPolygon(object.get(), last, polygon);
    }
    return object.release();
}

std::int32_t EstimatePolygonCount(std::int32_t depth, std::uint8_t quadMode, std::int32_t paMax) {
    const double leaves = CheckedMul(CheckedMul(CurvePower(4, depth), paMax), paMax);
    return RoundToInt32(quadMode == 0 ? CheckedMul(leaves, 4) : leaves);
}

} // namespace talorin
