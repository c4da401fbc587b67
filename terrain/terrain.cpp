#include "terrain/terrain.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "terrain/meshrun.h"
#include "terrain/profilecurves.h"
#include "terrain/subdivision.h"
#include "terrain/vertexsampler.h"
#include "base/error.h"

namespace talorin {

namespace {

// --- One run ------------------------------------------------------------------

// Leaves between two progress reports and memory checks: well under a
// millisecond of work, so that a cancel takes effect at once.
constexpr std::uint64_t kProgressStride = 4096;
constexpr std::uint32_t kNoVertex = std::numeric_limits<std::uint32_t>::max();

// Every value of one leaf checked in the order in which the rules compute
// them: the corners A, B, C, D of a quad; the centre, then c, A, B, C, D of
// the four triangles.
void CheckLeaf(const VertexSampler& sampler, bool quadMode, const Leaf& leaf) {
    if (quadMode) {
        for (const MeshPoint& corner : {leaf.A, leaf.B, leaf.C, leaf.D})
            (void)sampler.checkedVertex(corner);
    } else {
        const MeshPoint centre = CheckedCentre(leaf.A, leaf.B, leaf.C, leaf.D);
        for (const MeshPoint& point : {centre, leaf.A, leaf.B, leaf.C, leaf.D})
            (void)sampler.checkedVertex(point);
    }
}

// Where one band of lattice cell rows puts its part of the mesh. The bands
// of a run are built side by side on two threads; the first owns the grid
// row it shares with the second.
struct Band {
    int firstRow = 0, endRow = 0;      // cell rows firstRow .. endRow - 1
    std::vector<MeshVertex>* vertices; // where its vertices go, in order
    std::uint32_t base = 0;            // the mesh's number of its first vertex
    std::uint32_t* out = nullptr;      // just past its polygons (it fills backwards)
    // Grid row whose points the band above makes, or none. A corner there is
    // written as kSharedPoint | its grid column and noted in shared, to be
    // replaced by the vertex's number once the band above is done.
    std::uint64_t sharedRow = std::numeric_limits<std::uint64_t>::max();
    std::vector<std::uint32_t*> shared;
};

constexpr std::uint32_t kSharedPoint = std::uint32_t{1} << 31;

// Fills a band of the mesh leaf by leaf. Polygons are emitted in the order of
// the walk and the .suf file lists them last emitted first, so they are
// written into the index list from the band's end backwards.
//
// Corners are welded by their grid position (see Leaf): the walk computes a
// point once where it first appears and hands it on by value, and the point of
// an edge shared by two cells comes from the same two corners by the same
// commutative operations, so equal positions hold bit-identical points and so
// bit-identical vertex values. A point's values are computed the first time
// its position is reached; later leaves reuse its vertex.
class MeshBuilder {
  public:
    MeshBuilder(const VertexSampler& sampler, std::vector<std::uint32_t>& grid,
                std::uint64_t gridSide, Band& band)
        : m_sampler(sampler), m_grid(grid), m_gridSide(gridSide), m_band(band) {}

    // False when a value came out non-finite: some step of this leaf faulted.
    bool quad(const Leaf& leaf) {
        std::uint32_t a, b, c, d;
        if (!corner(leaf.A, leaf.X, leaf.Y, a) || !corner(leaf.B, leaf.X + 1, leaf.Y, b) ||
            !corner(leaf.C, leaf.X + 1, leaf.Y + 1, c) || !corner(leaf.D, leaf.X, leaf.Y + 1, d))
            return false;
        // Listed D, C, B, A: the builders of the shape model insert at the head.
        std::uint32_t* out = m_band.out -= 4;
        out[0] = d;
        out[1] = c;
        out[2] = b;
        out[3] = a;
        noteShared(out, 4, leaf);
        return true;
    }

    // Four triangles around the leaf's centre c: (c, B, A), (c, C, B),
    // (D, C, c), (c, A, D), each counterclockwise seen from above.
    bool triangles(const Leaf& leaf) {
        MeshVertex centre;
        if (!m_sampler.vertex(Centre(leaf.A, leaf.B, leaf.C, leaf.D), centre))
            return false;
        std::uint32_t a, b, cc, d;
        if (!corner(leaf.A, leaf.X, leaf.Y, a) || !corner(leaf.B, leaf.X + 1, leaf.Y, b) ||
            !corner(leaf.C, leaf.X + 1, leaf.Y + 1, cc) || !corner(leaf.D, leaf.X, leaf.Y + 1, d))
            return false;
        const std::uint32_t c = add(centre); // the centre belongs to this leaf alone
        // The four in file order: the last emitted first.
        const std::uint32_t list[12] = {c, a, d, d, cc, c, c, cc, b, c, b, a};
        std::uint32_t* out = m_band.out -= 12;
        std::memcpy(out, list, sizeof list);
        noteShared(out, 12, leaf);
        return true;
    }

  private:
    std::uint32_t add(const MeshVertex& v) {
        m_band.vertices->push_back(v);
        return m_band.base + std::uint32_t(m_band.vertices->size() - 1);
    }

    // The vertex of point p at grid position (x, y), made when the position is
    // new; false when its values are not finite.
    bool corner(MeshPoint p, std::uint64_t x, std::uint64_t y, std::uint32_t& index) {
        if (y == m_band.sharedRow) {
            index = kSharedPoint | std::uint32_t(x);
            return true;
        }
        std::uint32_t& slot = m_grid[std::size_t(y * m_gridSide + x)];
        if (slot == kNoVertex) {
            MeshVertex v;
            if (!m_sampler.vertex(p, v))
                return false;
            slot = add(v);
        }
        index = slot;
        return true;
    }

    // Notes the corners on the shared row among the count just written.
    void noteShared(std::uint32_t* out, int count, const Leaf& leaf) {
        if (leaf.Y != m_band.sharedRow)
            return;
        for (int k = 0; k < count; ++k)
            if ((out[k] & kSharedPoint) != 0)
                m_band.shared.push_back(out + k);
    }

    const VertexSampler& m_sampler;
    std::vector<std::uint32_t>& m_grid; // the vertex at each grid position
    std::uint64_t m_gridSide;
    Band& m_band;
};

// The first leaf of cell (0, 0) with every step checked and nothing built, for
// a run refused up front: it raises the fault that the run would have hit
// before memory ran out (a Size of 0 faults at the very first vertex). The
// leaf is the A quarter of the A quarter ..., found by a loop rather than
// recursion since the depth may be anything; once the quarter stops changing,
// deeper levels repeat it.
void CheckFirstLeaf(const VertexSampler& sampler, bool quadMode, const MeshLattice& lattice,
                    int depth) {
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
    CheckLeaf(sampler, quadMode, Leaf{A, B, C, D, 0, 0});
}

// Whether a run is built as two bands on two threads: when it is large
// enough to gain, and its vertex numbers leave a bit to mark shared points.
bool TwoBands(int paMax, double leaves, double vertices) {
    constexpr double kTwoBandLeaves = 65536;
    return paMax >= 2 && leaves >= kTwoBandLeaves && vertices < double(kSharedPoint);
}

struct FreeShape {
    void operator()(vesk::TVESK_Object* object) const { vesk::FreeSuf(object); }
};
using ShapeGuard = std::unique_ptr<vesk::TVESK_Object, FreeShape>;

// Progress reports and memory checks of a run, on the caller's thread.
class RunMonitor {
  public:
    RunMonitor(const ProgressFn& progress, vesk::MemoryClaim& claim, double bytesPerLeaf,
               std::uint64_t total)
        : m_progress(progress), m_claim(claim), m_bytesPerLeaf(bytesPerLeaf), m_total(total) {}

    // Reports done leaves when they are more than at the last report; throws
    // when the caller cancels or the rest no longer fits into memory.
    void report(std::uint64_t done) {
        if (done <= m_reported)
            return;
        m_reported = done;
        ReportProgress(m_progress, done, m_total);
        if (!m_claim.grow(std::uint64_t(double(done) * m_bytesPerLeaf)))
            ThrowOutOfMemory();
    }

    // The last report of a successful run.
    void finish() {
        if (m_progress && m_reported != m_total)
            (void)m_progress(m_total, m_total);
    }

  private:
    const ProgressFn& m_progress;
    vesk::MemoryClaim& m_claim;
    double m_bytesPerLeaf;
    std::uint64_t m_total;
    std::uint64_t m_reported = 0;
};

// Walks the band's cells and builds them; false when a value came out
// non-finite or stop was set. Every kProgressStride leaves it calls
// stride(done so far), which may throw or set stop.
template <typename Stride>
bool WalkBand(const VertexSampler& sampler, const Talorin_Args& args,
              std::vector<std::uint32_t>& grid, std::uint64_t gridSide, Band& band,
              const std::atomic<bool>& stop, Stride&& stride) {
    MeshBuilder builder(sampler, grid, gridSide, band);
    const std::uint32_t side = std::uint32_t{1} << args.Depth;
    std::uint64_t done = 0;
    bool sound = true;
    auto visit = [&](const Leaf& leaf) {
        if (!(args.QuadMode ? builder.quad(leaf) : builder.triangles(leaf))) {
            sound = false;
            return false;
        }
        if (++done % kProgressStride == 0) {
            stride(done);
            if (stop.load(std::memory_order_relaxed))
                return false;
        }
        return true;
    };
    const MeshLattice& lattice = args.Lattice;
    for (int j = band.firstRow; j < band.endRow; ++j)
        for (int i = 0; i < args.PaMax; ++i)
            if (!WalkCell(lattice[i][j], lattice[i + 1][j], lattice[i + 1][j + 1],
                          lattice[i][j + 1], args.Depth, visit, std::uint32_t(i) * side,
                          std::uint32_t(j) * side))
                return false;
    return sound;
}

// Sizes a large list in steps, asking the caller between them whether the
// run is still wanted: filling hundreds of MiB takes long enough that a cancel
// waiting for the first leaf would come late.
void ResizeInSteps(std::vector<std::uint32_t>& list, std::size_t size, std::uint32_t value,
                   const ProgressFn& progress, std::uint64_t total) {
    constexpr std::size_t kStep = std::size_t{1} << 22; // 16 MiB
    list.reserve(size);
    while (list.size() < size) {
        list.resize(std::min(size, list.size() + kStep), value);
        ReportProgress(progress, 0, total);
    }
}

// Builds the mesh into mesh.Vertices (reserved) and mesh.Indices (sized):
// large runs as two bands of cell rows on two threads, each numbering its
// own vertices; the second's corners on the row the two share are joined up
// when both are done. False when a value came out non-finite.
bool BuildMesh(const VertexSampler& sampler, const Talorin_Args& args, TerrainMesh& mesh,
               std::uint64_t gridSide, bool twoBands, const ProgressFn& progress,
               vesk::MemoryClaim& claim, double bytesPerLeaf) {
    const bool quads = args.QuadMode;
    const std::uint64_t side = std::uint64_t{1} << args.Depth;
    const std::uint64_t leavesPerRow = side * side * std::uint64_t(args.PaMax);
    const std::uint64_t total = leavesPerRow * std::uint64_t(args.PaMax);
    const std::uint64_t indicesPerLeaf = quads ? 4 : 12;
    RunMonitor monitor(progress, claim, bytesPerLeaf, total);
    std::vector<std::uint32_t> grid;
    ResizeInSteps(grid, std::size_t(gridSide * gridSide), kNoVertex, progress, total);
    std::atomic<bool> stop{false};

    Band first;
    first.firstRow = 0;
    first.vertices = &mesh.Vertices;
    first.out = mesh.Indices.data() + mesh.Indices.size();
    // The whole run as one band on this thread.
    const auto oneBand = [&] {
        first.endRow = args.PaMax;
        const bool sound = WalkBand(sampler, args, grid, gridSide, first, stop,
                                    [&](std::uint64_t done) { monitor.report(done); });
        if (sound)
            monitor.finish();
        return sound;
    };
    if (!twoBands || std::thread::hardware_concurrency() < 2)
        return oneBand();

    // The first band makes the points of its rows of cells up to and with the
    // row it shares with the second, so it makes exactly this many vertices.
    const int split = args.PaMax / 2;
    const std::uint64_t firstLeaves = leavesPerRow * std::uint64_t(split);
    const std::uint64_t firstVertices =
        (std::uint64_t(split) * side + 1) * gridSide + (quads ? 0 : firstLeaves);
    first.endRow = split;
    std::vector<MeshVertex> secondVertices;
    secondVertices.reserve(mesh.Vertices.capacity() - std::size_t(firstVertices));
    Band second;
    second.firstRow = split;
    second.endRow = args.PaMax;
    second.vertices = &secondVertices;
    second.base = std::uint32_t(firstVertices);
    second.out = mesh.Indices.data() + (total - firstLeaves) * indicesPerLeaf;
    second.sharedRow = std::uint64_t(split) * side;
    second.shared.reserve(std::size_t(gridSide) * 4);

    std::atomic<std::uint64_t> secondDone{0};
    std::atomic<bool> secondFinished{false};
    bool secondSound = true;
    std::thread helper;
    try {
        helper = std::thread([&] {
            secondSound =
                WalkBand(sampler, args, grid, gridSide, second, stop, [&](std::uint64_t done) {
                    secondDone.store(done, std::memory_order_relaxed);
                });
            if (!secondSound)
                stop = true;
            secondFinished = true;
        });
    } catch (const std::system_error&) {
        return oneBand(); // no second thread: the first band takes all
    }
    // Whatever ends this call, the helper stops and is waited for first.
    struct Join {
        std::thread& thread;
        std::atomic<bool>& stop;
        ~Join() {
            stop = true;
            thread.join();
        }
    } join{helper, stop};

    std::uint64_t firstDone = 0;
    const bool firstSound =
        WalkBand(sampler, args, grid, gridSide, first, stop, [&](std::uint64_t done) {
            firstDone = done;
            monitor.report(done + secondDone.load(std::memory_order_relaxed));
        });
    if (!firstSound) {
        stop = true;
        return false;
    }
    firstDone = firstLeaves;
    while (!secondFinished) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        monitor.report(firstDone + secondDone.load(std::memory_order_relaxed));
    }
    if (!secondSound)
        return false;
    if (mesh.Vertices.size() != firstVertices)
        throw std::logic_error("the first band made an unexpected number of vertices");
    for (std::uint32_t* slot : second.shared)
        *slot = grid[std::size_t(second.sharedRow * gridSide + (*slot & ~kSharedPoint))];
    mesh.Vertices.insert(mesh.Vertices.end(), secondVertices.begin(), secondVertices.end());
    monitor.finish();
    return true;
}

} // namespace

vesk::MemoryClaim ClaimRunMemory(const Talorin_Args& args, double bytes, bool tooLarge) {
    vesk::MemoryClaim claim(bytes < 0x1p63 ? std::uint64_t(bytes) : std::uint64_t{1} << 63);
    if (tooLarge || !claim.fits()) {
        // An image one pixel wide or high faults in the sampler's scale factors.
        const VertexSampler sampler(args);
        CheckFirstLeaf(sampler, args.QuadMode, args.Lattice, args.Depth);
        ThrowOutOfMemory();
    }
    return claim;
}

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

void CheckGenerationArgs(const Talorin_Args& args) {
    if (args.Depth < 0)
        throw Error(Text(Msg::DepthNegative));
    if (args.Bitmap == nullptr || args.Bitmap->empty())
        throw Error(Text(Msg::NoContourImage));
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
}

MeshCounts UniformMeshCounts(const Talorin_Args& args) {
    const bool quads = args.QuadMode;
    const double leafCount = std::ldexp(double(args.PaMax) * args.PaMax, 2 * args.Depth);
    const double gridSide = std::ldexp(double(args.PaMax), args.Depth) + 1;
    const double polygonCount = quads ? leafCount : 4 * leafCount;
    return {gridSide * gridSide + (quads ? 0 : leafCount), polygonCount * (quads ? 4 : 3),
            polygonCount};
}

TerrainMesh GenerateTerrainMesh(const Talorin_Args& args, const ProgressFn& progress) {
    CheckGenerationArgs(args);

    // An image one pixel wide or high faults here, before any height is read.
    const VertexSampler sampler(args);

    // Ask before building whether the whole mesh can fit, so that a run far
    // too large fails at once instead of after filling memory. Counts in
    // double cannot wrap around.
    const bool quads = args.QuadMode;
    const double leafCount = std::ldexp(double(args.PaMax) * args.PaMax, 2 * args.Depth);
    const double gridSide = std::ldexp(double(args.PaMax), args.Depth) + 1;
    const auto [vertexCount, indexCount, polygonCount] = UniformMeshCounts(args);
    // Vertices (and the second band's half of them while the two are joined
    // up), corners, polygon starts, the grid.
    const bool twoBands = TwoBands(args.PaMax, leafCount, vertexCount);
    const double bytes = vertexCount * sizeof(MeshVertex) * (twoBands ? 1.5 : 1.0) +
                         indexCount * 4 + (polygonCount + 1) * 4 + gridSide * gridSide * 4;
    constexpr double kIndexLimit = double(std::numeric_limits<std::uint32_t>::max());
    vesk::MemoryClaim claim = ClaimRunMemory(
        args, bytes,
        args.Depth > kMaxWalkDepth || indexCount > kIndexLimit || vertexCount >= kIndexLimit);

    TerrainMesh mesh;
    bool suspect = false;
    try {
        SetMeshHeader(mesh, args);
        mesh.Vertices.reserve(std::size_t(vertexCount));
        ResizeInSteps(mesh.Indices, std::size_t(indexCount), 0, progress, std::uint64_t(leafCount));
        suspect = !BuildMesh(sampler, args, mesh, std::uint64_t(gridSide), twoBands, progress,
                             claim, bytes / leafCount);
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
        // Some step faulted. Give the partial mesh back, then go over the run
        // again with every step checked: the first fault in the order of the
        // rules throws with its own text.
        mesh = TerrainMesh{};
        ThrowFirstFault(args);
    }
    return mesh;
}

void ThrowFirstFault(const Talorin_Args& args) {
    const VertexSampler sampler(args);
    WalkLattice<true>(args.Lattice, args.PaMax, args.Depth, [&](const Leaf& leaf) {
        CheckLeaf(sampler, args.QuadMode, leaf);
        return true;
    });
    throw FloatFault(kInvalidOperationText);
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
