#include "core/terrain.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "core/profilecurves.h"
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
inline bool FitsInt32(double whole) { return whole >= -2147483648.0 && whole <= 2147483647.0; }

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
constexpr std::uint64_t kProgressStride = 4096;

enum class Stop : std::uint8_t {
    None,
    OutOfMemory, // a builder failed; GenerationError tells
    Suspect,     // a value came out non-finite: a floating-point fault to pin down
    LeafLimit,   // a checking pass reached its last leaf
};

// Everything the recursion needs besides the cell, shared by reference so that
// the recursion itself only passes corners and the depth.
struct Run {
    vesk::TVESK_Object* object = nullptr;
    const std::string* atrName = nullptr;
    std::uint8_t kind = vesk::kPoly;
    bool quadMode = true;

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

    std::uint64_t leaves = 0; // leaves finished
    std::uint64_t total = 0;
    std::uint64_t nextReport = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t leafLimit = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t reported = 0; // leaves at the last progress report
    const ProgressFn* progress = nullptr;
    Stop stop = Stop::None;
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

struct VertexValues {
    double x, y, z, u, v;
};

// The arithmetic of the recursion, plain on the building pass and checked on
// the pass that pins down a fault.
template <bool kChecked> inline double Add(double a, double b) {
    if constexpr (kChecked)
        return CheckedAdd(a, b);
    else
        return a + b;
}
template <bool kChecked> inline double Div(double a, double b) {
    if constexpr (kChecked)
        return CheckedDiv(a, b);
    else
        return a / b;
}

template <bool kChecked> inline MeshPoint Midpoint(MeshPoint a, MeshPoint b) {
    return {Div<kChecked>(Add<kChecked>(a.X, b.X), 2), Div<kChecked>(Add<kChecked>(a.Y, b.Y), 2)};
}

// The mean of the corners, summed in the order A, B, C, D.
template <bool kChecked> inline MeshPoint Centre(MeshPoint a, MeshPoint b, MeshPoint c, MeshPoint d) {
    return {Div<kChecked>(Add<kChecked>(Add<kChecked>(Add<kChecked>(a.X, b.X), c.X), d.X), 4),
            Div<kChecked>(Add<kChecked>(Add<kChecked>(Add<kChecked>(a.Y, b.Y), c.Y), d.Y), 4)};
}

// The vertex values of image point p, unchecked. False when any of them is not
// finite or p cannot be rounded to a pixel: then some step faulted.
inline bool FastVertex(const Run& run, MeshPoint p, VertexValues& out) {
    const double a = p.X * run.sW;
    const double b = p.Y * run.sH;
    out.x = b - run.half;
    out.y = a - run.half;
    const double column = RoundHalfEven(p.X);
    const double row = RoundHalfEven(p.Y);
    if (!FitsInt32(column) || !FitsInt32(row))
        return false;
    const int c = WrapIndex(static_cast<int>(column), run.spanX);
    const int r = WrapIndex(static_cast<int>(row), run.spanY);
    const Rgb& pixel = run.pixels[std::size_t(r) * std::size_t(run.width) + std::size_t(c)];
    out.z = run.heights[pixel.r + pixel.g + pixel.b];
    out.u = a / run.size * 255;
    out.v = b / run.size * 255;
    return std::isfinite(out.x) && std::isfinite(out.y) && std::isfinite(out.z) &&
           std::isfinite(out.u) && std::isfinite(out.v);
}

// The same values with every step checked in the order of the rules, so that
// the first fault throws with its own text.
VertexValues CheckedVertex(const Run& run, MeshPoint p) {
    VertexValues out;
    const double a = CheckedMul(p.X, run.sW);
    const double b = CheckedMul(p.Y, run.sH);
    out.x = CheckedSub(b, run.half);
    out.y = CheckedSub(a, run.half);
    const int c = WrapIndex(RoundToInt32(p.X), run.spanX);
    const int r = WrapIndex(RoundToInt32(p.Y), run.spanY);
    const Rgb& pixel = run.pixels[std::size_t(r) * std::size_t(run.width) + std::size_t(c)];
    const int sum = pixel.r + pixel.g + pixel.b;
    if (run.heightFaults[sum] != nullptr)
        throw FloatFault(run.heightFaults[sum]);
    out.z = run.heights[sum];
    out.u = CheckedMul(CheckedDiv(a, run.size), 255);
    out.v = CheckedMul(CheckedDiv(b, run.size), 255);
    return out;
}

vesk::TVESK_Vertex* MakeVertex(const VertexValues& v) {
    return vesk::NewVertex(v.x, v.y, v.z, 0, 0, 0, v.u, v.v);
}

// One quad, listed D, C, B, A since AddVertex inserts at the head.
template <bool kChecked>
void EmitQuad(Run& run, MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D) {
    const MeshPoint corners[4] = {A, B, C, D};
    if constexpr (kChecked) {
        for (const MeshPoint& corner : corners)
            (void)CheckedVertex(run, corner);
    } else {
        vesk::TVESK_Polygon* polygon = vesk::NewPolygon(*run.atrName, run.kind, run.object);
        if (polygon == nullptr) {
            run.stop = Stop::OutOfMemory;
            return;
        }
        for (const MeshPoint& corner : corners) {
            VertexValues values;
            if (!FastVertex(run, corner, values)) {
                vesk::ReleasePolygon(polygon);
                run.stop = Stop::Suspect;
                return;
            }
            vesk::TVESK_Vertex* vertex = MakeVertex(values);
            if (vertex == nullptr) {
                vesk::ReleasePolygon(polygon);
                run.stop = Stop::OutOfMemory;
                return;
            }
            vesk::AddVertex(polygon, vertex);
        }
        vesk::AddPolygon(run.object, polygon);
    }
}

// A complete triangle listing v1, v2, v3, or null with nothing left over.
vesk::TVESK_Polygon* BuildTriangle(Run& run, const VertexValues& v1, const VertexValues& v2,
                                   const VertexValues& v3) {
    vesk::TVESK_Polygon* polygon = vesk::NewPolygon(*run.atrName, run.kind, run.object);
    if (polygon == nullptr)
        return nullptr;
    vesk::TVESK_Vertex* first = MakeVertex(v1);
    if (first == nullptr) {
        vesk::ReleasePolygon(polygon);
        return nullptr;
    }
    vesk::TVESK_Vertex* second = MakeVertex(v2);
    if (second == nullptr) {
        vesk::ReleaseVertex(first);
        vesk::ReleasePolygon(polygon);
        return nullptr;
    }
    vesk::TVESK_Vertex* third = MakeVertex(v3);
    if (third == nullptr) {
        vesk::ReleaseVertex(second);
        vesk::ReleaseVertex(first);
        vesk::ReleasePolygon(polygon);
        return nullptr;
    }
    vesk::AddVertex(polygon, third);
    vesk::AddVertex(polygon, second);
    vesk::AddVertex(polygon, first);
    return polygon;
}

// Four triangles around the leaf's centre c: (c, B, A), (c, C, B), (D, C, c),
// (c, A, D), each counterclockwise seen from above.
template <bool kChecked>
void EmitTriangles(Run& run, MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D) {
    const MeshPoint centre = Centre<kChecked>(A, B, C, D);
    const MeshPoint points[5] = {centre, A, B, C, D};
    VertexValues v[5];
    for (int k = 0; k < 5; ++k) {
        if constexpr (kChecked) {
            v[k] = CheckedVertex(run, points[k]);
        } else if (!FastVertex(run, points[k], v[k])) {
            run.stop = Stop::Suspect;
            return;
        }
    }
    if constexpr (!kChecked) {
        const VertexValues& c = v[0];
        const VertexValues* triangles[4][3] = {
            {&c, &v[2], &v[1]}, {&c, &v[3], &v[2]}, {&v[4], &v[3], &c}, {&c, &v[1], &v[4]}};
        for (const auto& t : triangles) {
            vesk::TVESK_Polygon* polygon = BuildTriangle(run, *t[0], *t[1], *t[2]);
            if (polygon == nullptr) {
                run.stop = Stop::OutOfMemory;
                return;
            }
            vesk::AddPolygon(run.object, polygon);
        }
    }
}

void ReportProgress(Run& run) {
    run.reported = run.leaves;
    run.nextReport += kProgressStride;
    (*run.progress)(run.leaves, run.total);
}

// Splits the cell into quarters depth times, quadrant order A, B, C, D at every
// level, and emits each leaf. The building pass (kChecked false) stops at the
// first builder failure or non-finite value; the checking pass (kChecked true)
// builds nothing and throws at the first fault.
template <bool kChecked>
void SubdivideCell(Run& run, MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, int depth) {
    if (depth == 0) {
        if (run.quadMode)
            EmitQuad<kChecked>(run, A, B, C, D);
        else
            EmitTriangles<kChecked>(run, A, B, C, D);
        if (run.stop != Stop::None)
            return;
        ++run.leaves;
        if constexpr (kChecked) {
            if (run.leaves == run.leafLimit)
                run.stop = Stop::LeafLimit;
        } else if (run.leaves == run.nextReport) {
            ReportProgress(run);
        }
        return;
    }
    const MeshPoint c = Centre<kChecked>(A, B, C, D);
    const MeshPoint ab = Midpoint<kChecked>(A, B);
    const MeshPoint bc = Midpoint<kChecked>(B, C);
    const MeshPoint cd = Midpoint<kChecked>(C, D);
    const MeshPoint da = Midpoint<kChecked>(D, A);
    SubdivideCell<kChecked>(run, A, ab, c, da, depth - 1);
    if (run.stop != Stop::None)
        return;
    SubdivideCell<kChecked>(run, ab, B, bc, c, depth - 1);
    if (run.stop != Stop::None)
        return;
    SubdivideCell<kChecked>(run, c, bc, C, cd, depth - 1);
    if (run.stop != Stop::None)
        return;
    SubdivideCell<kChecked>(run, da, c, cd, D, depth - 1);
}

// Every cell, row by row from the top, each row from the left.
template <bool kChecked> void SubdivideAll(Run& run, const MeshLattice& lattice, int paMax, int depth) {
    for (int j = 0; j < paMax; ++j) {
        for (int i = 0; i < paMax; ++i) {
            SubdivideCell<kChecked>(run, lattice[i][j], lattice[i + 1][j], lattice[i + 1][j + 1],
                                    lattice[i][j + 1], depth);
            if (run.stop != Stop::None)
                return;
        }
    }
}

// The first leaf of cell (0, 0) with every step checked and nothing built, for
// a run refused up front: it raises the fault that the run would have hit
// before memory ran out (a Size of 0 faults at the very first vertex). The
// leaf is the A quarter of the A quarter ..., found by a loop rather than
// recursion since the depth may be anything; once the quarter stops changing,
// deeper levels repeat it.
void CheckFirstLeaf(Run& run, const MeshLattice& lattice, int depth) {
    constexpr int kMaxLevels = 1 << 16;
    MeshPoint A = lattice[0][0];
    MeshPoint B = lattice[1][0];
    MeshPoint C = lattice[1][1];
    MeshPoint D = lattice[0][1];
    for (int level = 0; level < depth && level < kMaxLevels; ++level) {
        const MeshPoint c = Centre<true>(A, B, C, D);
        const MeshPoint ab = Midpoint<true>(A, B);
        (void)Midpoint<true>(B, C);
        (void)Midpoint<true>(C, D);
        const MeshPoint da = Midpoint<true>(D, A);
        if (ab == B && c == C && da == D)
            break;
        B = ab;
        C = c;
        D = da;
    }
    if (run.quadMode)
        EmitQuad<true>(run, A, B, C, D);
    else
        EmitTriangles<true>(run, A, B, C, D);
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

vesk::TVESK_Object* GenerateTerrain(const Talorin_Args& callerArgs, const ProgressFn& progress) {
    const Talorin_Args args = callerArgs;
    GenerationError.clear();

    if (args.Depth < 0)
        throw Error("再帰回数は 0 以上で指定してください");
    if (args.Bitmap == nullptr || args.Bitmap->empty())
        throw Error("等高線画像が読み込まれていません");
    CheckDensity(args.PaMax);
    // The window's fields only give finite numbers; anything else would turn
    // into a fault later anyway, so refuse it before building.
    bool finite = std::isfinite(args.Size) && std::isfinite(args.MaxHeight) &&
                  std::isfinite(args.CurveLevel);
    for (int i = 0; i <= args.PaMax; ++i)
        for (int j = 0; j <= args.PaMax; ++j)
            finite = finite && std::isfinite(args.Lattice[i][j].X) &&
                     std::isfinite(args.Lattice[i][j].Y);
    if (!finite)
        throw FloatFault(kInvalidOperationText);

    const Bitmap& image = *args.Bitmap;
    ShapeGuard object(vesk::NewObject(args.ObjName));
    if (!object) {
        GenerationError = kOutOfMemoryText;
        return nullptr;
    }

    Run run;
    run.object = object.get();
    run.atrName = &args.AtrName;
    run.kind = std::uint8_t(2 * int(args.WithUV) + int(args.WithShade));
    run.quadMode = args.QuadMode;
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

    // Ask before building whether the whole model can fit, so that a run far
    // too large fails at once instead of after filling memory.
    const std::uint64_t leaves = LeafCount(args.Depth, args.PaMax);
    const std::uint64_t polygons = args.QuadMode ? leaves : SaturatingMul(leaves, 4);
    const std::uint64_t vertices = SaturatingMul(leaves, args.QuadMode ? 4 : 12);
    if (!vesk::ModelWouldFit(polygons, vertices)) {
        CheckFirstLeaf(run, args.Lattice, args.Depth);
        GenerationError = kOutOfMemoryText;
        return nullptr;
    }

    run.total = leaves;
    run.progress = &progress;
    if (progress)
        run.nextReport = kProgressStride;
    SubdivideAll<false>(run, args.Lattice, args.PaMax, args.Depth);

    switch (run.stop) {
    case Stop::OutOfMemory:
        GenerationError = kOutOfMemoryText;
        return nullptr;
    case Stop::Suspect: {
        // Some step faulted at or before the leaf just reached. Give the
        // partial shape back, then go over the run again up to that leaf with
        // every step checked: the first fault throws with its own text.
        object.reset();
        run.object = nullptr;
        run.leafLimit = run.leaves + 1;
        run.leaves = 0;
        run.stop = Stop::None;
        SubdivideAll<true>(run, args.Lattice, args.PaMax, args.Depth);
        // Not reached: with finite input a non-finite value only comes from a fault.
        throw FloatFault(kInvalidOperationText);
    }
    case Stop::None:
    case Stop::LeafLimit:
        break;
    }
    if (progress && run.reported != run.total)
        progress(run.total, run.total);
    return object.release();
}

std::int32_t EstimatePolygonCount(std::int32_t depth, std::uint8_t quadMode, std::int32_t paMax) {
    const double leaves = CheckedMul(CheckedMul(CurvePower(4, depth), paMax), paMax);
    return RoundToInt32(quadMode == 0 ? CheckedMul(leaves, 4) : leaves);
}

} // namespace talorin
