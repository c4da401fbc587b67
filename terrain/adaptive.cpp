#include "terrain/adaptive.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <utility>

#include "terrain/meshrun.h"
#include "terrain/subdivision.h"
#include "terrain/vertexsampler.h"
#include "base/error.h"
#include "shape/shape.h"
#include "terrain/terraindocument.h"

namespace talorin {

namespace {

constexpr std::uint32_t kNoVertex = std::numeric_limits<std::uint32_t>::max();
// A leaf corner whose vertex has not been made yet.
constexpr std::uint32_t kUsed = kNoVertex - 1;

// A value went non-finite: some step of the run faulted. Thrown inside the
// passes and turned into the fault's own text at the top.
struct Faulted {};

class AdaptiveRun {
  public:
    AdaptiveRun(const Talorin_Args& args, double maxError, const ProgressFn& progress)
        : m_args(args), m_maxError(maxError), m_progress(progress), m_sampler(args),
          m_depth(args.Depth), m_quads(args.QuadMode), m_side(std::uint32_t{1} << args.Depth),
          m_gridSide(std::uint64_t(args.PaMax) * m_side + 1),
          m_totalSteps(2 * std::uint64_t(args.PaMax) * std::uint64_t(args.PaMax)) {
        m_used.assign(std::size_t(m_gridSide * m_gridSide), kNoVertex);
        m_z.resize(std::size_t(m_side + 1) * (m_side + 1));
        if (!m_quads)
            m_zc.resize(std::size_t(m_side) * m_side);
    }

    // Decides every leaf of every cell and marks its corners on the grid.
    void decide() {
        forEachCell([&](MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, std::uint32_t x,
                        std::uint32_t y) {
            m_originX = x;
            m_originY = y;
            sampleReference(A, B, C, D);
            decideCell(A, B, C, D);
        });
    }

    // The polygon count of the decided leaves.
    std::uint64_t count() {
        std::uint64_t polygons = 0;
        forEachCell([&](MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, std::uint32_t x,
                        std::uint32_t y) {
            walkDecided(A, B, C, D, x, y, [&](const Leaf& leaf, std::uint32_t span) {
                if (m_quads) {
                    ++polygons;
                } else {
                    polygons += 4;
                    for (int side = 0; side < 4; ++side)
                        polygons += countEdge(leaf, span, side);
                }
            });
        });
        return polygons;
    }

    // The mesh of the decided leaves.
    TerrainMesh build(std::vector<AdaptiveLeaf>* leaves) {
        TerrainMesh mesh;
        SetMeshHeader(mesh, m_args);
        m_mesh = &mesh;
        std::vector<std::uint32_t> corners; // emitted polygons, in emission order
        std::vector<std::uint32_t> sizes;   // their corner counts (quads; triangles have 3)
        // Every leaf corner becomes one vertex, every triangle leaf's centre
        // one more; extra outline points are rare beside the corners.
        mesh.Vertices.reserve(std::size_t(m_cornerCount + (m_quads ? 0 : m_leafCount)));
        const std::size_t polygons = std::size_t(m_quads ? m_leafCount : 4 * m_leafCount);
        if (m_quads)
            sizes.reserve(polygons);
        corners.reserve((m_quads ? 4 : 3) * (polygons + polygons / 8));
        if (leaves != nullptr)
            leaves->reserve(std::size_t(m_leafCount));
        forEachCell([&](MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, std::uint32_t x,
                        std::uint32_t y) {
            walkDecided(A, B, C, D, x, y, [&](const Leaf& leaf, std::uint32_t span) {
                const std::size_t before = corners.size();
                if (m_quads)
                    quadLeaf(leaf, span, corners, sizes);
                else
                    fanLeaf(leaf, span, corners);
                if (leaves != nullptr)
                    leaves->push_back(
                        {leaf.X, leaf.Y, span,
                         m_quads ? 1u : std::uint32_t((corners.size() - before) / 3)});
            });
        });
        // The file lists the last emitted polygon first: turning the whole list
        // round, then each polygon's corners back, does that in place.
        std::reverse(corners.begin(), corners.end());
        if (m_quads) {
            std::reverse(sizes.begin(), sizes.end());
            mesh.Starts.assign(sizes.size() + 1, 0);
            std::size_t at = 0;
            for (std::size_t p = 0; p < sizes.size(); ++p) {
                std::reverse(corners.begin() + std::ptrdiff_t(at),
                             corners.begin() + std::ptrdiff_t(at + sizes[p]));
                at += sizes[p];
                mesh.Starts[p + 1] = std::uint32_t(at);
            }
        } else {
            const std::size_t triangles = corners.size() / 3;
            mesh.Starts.resize(triangles + 1);
            for (std::size_t p = 0; p < triangles; ++p) {
                std::swap(corners[3 * p], corners[3 * p + 2]);
                mesh.Starts[p] = std::uint32_t(3 * p);
            }
            mesh.Starts[triangles] = std::uint32_t(3 * triangles);
        }
        mesh.Indices = std::move(corners);
        m_mesh = nullptr;
        return mesh;
    }

  private:
    // Calls f(A, B, C, D, gridX, gridY) for each lattice cell in the order of
    // the uniform run, reporting progress after each.
    template <typename F> void forEachCell(F&& f) {
        const MeshLattice& lattice = m_args.Lattice;
        for (int j = 0; j < m_args.PaMax; ++j)
            for (int i = 0; i < m_args.PaMax; ++i) {
                f(lattice[i][j], lattice[i + 1][j], lattice[i + 1][j + 1], lattice[i][j + 1],
                  std::uint32_t(i) * m_side, std::uint32_t(j) * m_side);
                ReportProgress(m_progress, ++m_steps, m_totalSteps);
            }
    }

    std::uint32_t& slot(std::uint64_t x, std::uint64_t y) {
        return m_used[std::size_t(y * m_gridSide + x)];
    }

    double& z(std::uint32_t x, std::uint32_t y) { return m_z[std::size_t(y) * (m_side + 1) + x]; }

    // The full-depth reference heights of one cell: corners of all leaves, and
    // centres in triangle mode. Each point is sampled once.
    void sampleReference(MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D) {
        WalkCell(A, B, C, D, m_depth, [&](const Leaf& leaf) {
            referenceLeaf(leaf.A, leaf.B, leaf.C, leaf.D, leaf.X, leaf.Y);
            return true;
        });
    }

    // A full-depth leaf samples its corner A, the corners on the cell's far
    // edges, and its centre in triangle mode: every point once.
    void referenceLeaf(MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, std::uint32_t x,
                       std::uint32_t y) {
        const std::uint32_t last = m_side - 1;
        sample(A, z(x, y));
        if (x == last)
            sample(B, z(x + 1, y));
        if (y == last)
            sample(D, z(x, y + 1));
        if (x == last && y == last)
            sample(C, z(x + 1, y + 1));
        if (!m_quads)
            sample(Centre(A, B, C, D), m_zc[std::size_t(y) * m_side + x]);
    }

    void sample(MeshPoint p, double& out) const {
        if (!m_sampler.height(p, out))
            throw Faulted{};
    }

    // The leaves of the cell (A, B, C, D), at local grid positions: a node is
    // kept as a leaf when its error is within bounds, else split as the
    // uniform walk splits it.
    void decideCell(MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D) {
        const auto exceeds = [&](const Leaf& node, int levels) {
            const std::uint32_t span = std::uint32_t{1} << levels;
            if (m_quads)
                return quadExceeds(node.X, node.Y, span);
            double zc = 0;
            sample(Centre(node.A, node.B, node.C, node.D), zc);
            return fanExceeds(node.X, node.Y, span, zc);
        };
        WalkCellWhile(A, B, C, D, m_depth, exceeds, [&](const Leaf& leaf, int levels) {
            markLeaf(leaf.X, leaf.Y, std::uint32_t{1} << levels);
            return true;
        });
    }

    // A leaf at local grid (x, y): its corners go onto the lattice's grid.
    void markLeaf(std::uint32_t x, std::uint32_t y, std::uint32_t span) {
        const std::uint64_t gx = m_originX + x;
        const std::uint64_t gy = m_originY + y;
        ++m_leafCount;
        for (const auto& [cx, cy] : {std::pair{gx, gy}, std::pair{gx + span, gy},
                                     std::pair{gx + span, gy + span}, std::pair{gx, gy + span}}) {
            std::uint32_t& s = slot(cx, cy);
            m_cornerCount += s == kNoVertex;
            s = kUsed;
        }
    }

    // Whether some reference point of the quad leaf departs from the bilinear
    // surface through its corners by more than the allowed error.
    bool quadExceeds(std::uint32_t x, std::uint32_t y, std::uint32_t span) {
        const double zA = z(x, y);
        const double zB = z(x + span, y);
        const double zC = z(x + span, y + span);
        const double zD = z(x, y + span);
        const double step = 1.0 / span; // exact: span is a power of two
        const auto exceeds = [&](std::uint32_t i, std::uint32_t j) {
            const double u = i * step;
            const double v = j * step;
            const double top = zA + u * (zB - zA);
            const double bottom = zD + u * (zC - zD);
            const double value = top + v * (bottom - top);
            return std::fabs(z(x + i, y + j) - value) > m_maxError;
        };
        // The middle and the edge midpoints stray furthest on smooth ground:
        // trying them first settles most leaves to split at once.
        const std::uint32_t h = span / 2;
        if (exceeds(h, h) || exceeds(h, 0) || exceeds(span, h) || exceeds(h, span) || exceeds(0, h))
            return true;
        for (std::uint32_t j = 0; j <= span; ++j)
            for (std::uint32_t i = 0; i <= span; ++i)
                if (exceeds(i, j))
                    return true;
        return false;
    }

    // The same for a triangle leaf with centre height zc, against its fan for
    // every refinement its edges may get from finer neighbours.
    bool fanExceeds(std::uint32_t x, std::uint32_t y, std::uint32_t span, double zc) {
        // Doubled local coordinates put the corners on even and the centres of
        // full-depth leaves on odd positions; the leaf's centre is at (span, span).
        const std::int64_t s = span;
        int levels = 0;
        while ((std::uint32_t{1} << levels) < span)
            ++levels;
        const auto exceeds = [&](std::int64_t qx, std::int64_t qy) {
            const double reference =
                qy % 2 == 0 ? z(x + std::uint32_t(qx / 2), y + std::uint32_t(qy / 2))
                            : m_zc[std::size_t(y + qy / 2) * m_side + std::size_t(x + qx / 2)];
            return fanPointExceeds(x, y, s, levels, qx - s, qy - s, reference, zc);
        };
        // The middle, the edge midpoints and the quarters' middles first:
        // they settle most leaves to split at once.
        const std::int64_t h = s / 2;
        if (exceeds(s, s) || exceeds(s, 0) || exceeds(2 * s, s) || exceeds(s, 2 * s) ||
            exceeds(0, s) || exceeds(h, h) || exceeds(s + h, h) || exceeds(s + h, s + h) ||
            exceeds(h, s + h))
            return true;
        for (std::int64_t qy = 0; qy <= 2 * s; ++qy)
            for (std::int64_t qx = qy % 2; qx <= 2 * s; qx += 2)
                if (exceeds(qx, qy))
                    return true;
        return false;
    }

    // The reference point at (dx, dy) from the centre, in doubled steps.
    bool fanPointExceeds(std::uint32_t x, std::uint32_t y, std::int64_t s, int levels,
                         std::int64_t dx, std::int64_t dy, double reference, double zc) {
        const std::int64_t m = std::max(std::llabs(dx), std::llabs(dy));
        if (m == 0)
            return std::fabs(reference - zc) > m_maxError;
        const double lambda = double(m) * (1.0 / double(s)); // exact: s is a power of two
        // Which edge the ray from the centre meets, and how far along it from
        // the edge's first corner, as a / (2m) of the edge.
        int side = 0;
        std::int64_t a = 0;
        if (dy == -m) {
            side = 0, a = dx + m; // A to B
        } else if (dx == m) {
            side = 1, a = dy + m; // B to C
        } else if (dy == m) {
            side = 2, a = m - dx; // C to D
        } else {
            side = 3, a = m - dy; // D to A
        }
        // The piece of the edge at level l is that of the finest level shifted
        // down: floor(floor(v) / n) = floor(v / n). One division a point.
        const std::int64_t finest = (a << levels) / (2 * m);
        for (int l = 0; l <= levels; ++l) {
            const std::int64_t pieces = std::int64_t{1} << l;
            std::int64_t k = finest >> (levels - l);
            if (k == pieces)
                k = pieces - 1;
            const double t = double((a << l) - k * 2 * m) / double(2 * m);
            const std::uint32_t length = std::uint32_t(s) >> l;
            const double z0 = edgeHeight(x, y, std::uint32_t(s), side, std::uint32_t(k) * length);
            const double z1 =
                edgeHeight(x, y, std::uint32_t(s), side, std::uint32_t(k + 1) * length);
            const double onEdge = z0 + t * (z1 - z0);
            const double value = zc + lambda * (onEdge - zc);
            if (std::fabs(reference - value) > m_maxError)
                return true;
        }
        return false;
    }

    // The reference height at step e along edge side of the leaf at (x, y).
    double edgeHeight(std::uint32_t x, std::uint32_t y, std::uint32_t s, int side,
                      std::uint32_t e) {
        switch (side) {
        case 0:
            return z(x + e, y);
        case 1:
            return z(x + s, y + e);
        case 2:
            return z(x + s - e, y + s);
        default:
            return z(x, y + s - e);
        }
    }

    // Walks the decided leaves of a cell in the uniform order: a node is split
    // exactly when its middle is a leaf corner. visit(leaf, span) gets grid
    // positions on the whole lattice's grid, (x, y) being the cell's corner A.
    template <typename Visit>
    void walkDecided(MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, std::uint32_t x,
                     std::uint32_t y, Visit&& visit) {
        const auto decided = [&](const Leaf& node, int levels) {
            const std::uint32_t half = std::uint32_t{1} << (levels - 1);
            return slot(node.X + half, node.Y + half) != kNoVertex;
        };
        WalkCellWhile(
            A, B, C, D, m_depth, decided,
            [&](const Leaf& leaf, int levels) {
                visit(leaf, std::uint32_t{1} << levels);
                return true;
            },
            x, y);
    }

    struct EdgePoint {
        MeshPoint p;
        std::uint32_t x, y;
    };

    // The first corner of edge side (0 A-B, 1 B-C, 2 C-D, 3 D-A), its point,
    // and the grid direction toward the next corner.
    static void edgeStart(const Leaf& leaf, std::uint32_t span, int side, MeshPoint& p0,
                          MeshPoint& p1, std::int64_t& x0, std::int64_t& y0, int& dx, int& dy) {
        switch (side) {
        case 0:
            p0 = leaf.A, p1 = leaf.B, x0 = leaf.X, y0 = leaf.Y, dx = 1, dy = 0;
            break;
        case 1:
            p0 = leaf.B, p1 = leaf.C, x0 = leaf.X + span, y0 = leaf.Y, dx = 0, dy = 1;
            break;
        case 2:
            p0 = leaf.C, p1 = leaf.D, x0 = leaf.X + span, y0 = leaf.Y + span, dx = -1, dy = 0;
            break;
        default:
            p0 = leaf.D, p1 = leaf.A, x0 = leaf.X, y0 = leaf.Y + span, dx = 0, dy = -1;
            break;
        }
    }

    // The corners of finer neighbours strictly inside an edge, from p0 toward
    // p1. The neighbours tile the edge with halves of halves, so a middle that
    // is no corner has none beyond it either. Points are the edge's midpoints
    // of midpoints: the same doubles the neighbours computed.
    void edgePoints(MeshPoint p0, MeshPoint p1, std::int64_t x0, std::int64_t y0, int dx, int dy,
                    std::uint32_t span, std::vector<EdgePoint>& out) {
        if (span < 2)
            return;
        const std::uint32_t half = span / 2;
        const std::int64_t mx = x0 + dx * std::int64_t(half);
        const std::int64_t my = y0 + dy * std::int64_t(half);
        if (slot(std::uint64_t(mx), std::uint64_t(my)) == kNoVertex)
            return;
        const MeshPoint mid = Midpoint(p0, p1);
        edgePoints(p0, mid, x0, y0, dx, dy, half, out);
        out.push_back({mid, std::uint32_t(mx), std::uint32_t(my)});
        edgePoints(mid, p1, mx, my, dx, dy, half, out);
    }

    std::uint64_t countEdgeFrom(std::int64_t x0, std::int64_t y0, int dx, int dy,
                                std::uint32_t span) {
        if (span < 2)
            return 0;
        const std::uint32_t half = span / 2;
        const std::int64_t mx = x0 + dx * std::int64_t(half);
        const std::int64_t my = y0 + dy * std::int64_t(half);
        if (slot(std::uint64_t(mx), std::uint64_t(my)) == kNoVertex)
            return 0;
        return 1 + countEdgeFrom(x0, y0, dx, dy, half) + countEdgeFrom(mx, my, dx, dy, half);
    }

    std::uint64_t countEdge(const Leaf& leaf, std::uint32_t span, int side) {
        MeshPoint p0, p1;
        std::int64_t x0 = 0, y0 = 0;
        int dx = 0, dy = 0;
        edgeStart(leaf, span, side, p0, p1, x0, y0, dx, dy);
        return countEdgeFrom(x0, y0, dx, dy, span);
    }

    std::uint32_t addVertex(MeshPoint p) {
        MeshVertex v;
        if (!m_sampler.vertex(p, v))
            throw Faulted{};
        if (m_mesh->Vertices.size() >= kUsed)
            ThrowOutOfMemory();
        m_mesh->Vertices.push_back(v);
        return std::uint32_t(m_mesh->Vertices.size() - 1);
    }

    // The vertex at a grid position, made when first needed.
    std::uint32_t corner(MeshPoint p, std::uint32_t x, std::uint32_t y) {
        std::uint32_t& s = slot(x, y);
        if (s == kUsed || s == kNoVertex)
            s = addVertex(p);
        return s;
    }

    // Whether some edge of the leaf has a finer neighbour's corner in its middle.
    bool hasFinerNeighbour(const Leaf& leaf, std::uint32_t span) {
        if (span < 2)
            return false;
        const std::uint32_t h = span / 2;
        return slot(leaf.X + h, leaf.Y) != kNoVertex ||
               slot(leaf.X + span, leaf.Y + h) != kNoVertex ||
               slot(leaf.X + h, leaf.Y + span) != kNoVertex ||
               slot(leaf.X, leaf.Y + h) != kNoVertex;
    }

    // The outline of a leaf: its corners, made first in the order A, B, C, D
    // as the uniform run makes them, then the finer points of each edge.
    // sides[k] runs from the edge's first corner to its last, both included.
    void outline(const Leaf& leaf, std::uint32_t span,
                 std::array<std::vector<std::uint32_t>, 4>& sides) {
        const std::uint32_t a = corner(leaf.A, leaf.X, leaf.Y);
        const std::uint32_t b = corner(leaf.B, leaf.X + span, leaf.Y);
        const std::uint32_t c = corner(leaf.C, leaf.X + span, leaf.Y + span);
        const std::uint32_t d = corner(leaf.D, leaf.X, leaf.Y + span);
        const std::uint32_t ends[5] = {a, b, c, d, a};
        for (int side = 0; side < 4; ++side) {
            MeshPoint p0, p1;
            std::int64_t x0 = 0, y0 = 0;
            int dx = 0, dy = 0;
            edgeStart(leaf, span, side, p0, p1, x0, y0, dx, dy);
            m_edge.clear();
            edgePoints(p0, p1, x0, y0, dx, dy, span, m_edge);
            std::vector<std::uint32_t>& list = sides[std::size_t(side)];
            list.clear();
            list.push_back(ends[side]);
            for (const EdgePoint& e : m_edge)
                list.push_back(corner(e.p, e.x, e.y));
            list.push_back(ends[side + 1]);
        }
    }

    // One polygon listed D, C, B, A with the finer points between, so that
    // the outline runs counterclockwise seen from above.
    void quadLeaf(const Leaf& leaf, std::uint32_t span, std::vector<std::uint32_t>& corners,
                  std::vector<std::uint32_t>& sizes) {
        if (!hasFinerNeighbour(leaf, span)) {
            const std::uint32_t a = corner(leaf.A, leaf.X, leaf.Y);
            const std::uint32_t b = corner(leaf.B, leaf.X + span, leaf.Y);
            const std::uint32_t c = corner(leaf.C, leaf.X + span, leaf.Y + span);
            const std::uint32_t d = corner(leaf.D, leaf.X, leaf.Y + span);
            corners.insert(corners.end(), {d, c, b, a});
            sizes.push_back(4);
            return;
        }
        outline(leaf, span, m_sides);
        std::uint32_t n = 0;
        for (const int side : {2, 1, 0, 3}) {
            const std::vector<std::uint32_t>& list = m_sides[std::size_t(side)];
            for (std::size_t k = list.size() - 1; k > 0; --k) {
                corners.push_back(list[k]);
                ++n;
            }
        }
        sizes.push_back(n);
    }

    // The fan around the leaf's centre through every outline point.
    void fanLeaf(const Leaf& leaf, std::uint32_t span, std::vector<std::uint32_t>& corners) {
        // The corners come first, then the centre, which belongs to this leaf
        // alone, as in the uniform run; then the finer points of the outline.
        (void)corner(leaf.A, leaf.X, leaf.Y);
        (void)corner(leaf.B, leaf.X + span, leaf.Y);
        (void)corner(leaf.C, leaf.X + span, leaf.Y + span);
        (void)corner(leaf.D, leaf.X, leaf.Y + span);
        const std::uint32_t c = addVertex(Centre(leaf.A, leaf.B, leaf.C, leaf.D));
        if (!hasFinerNeighbour(leaf, span)) {
            const std::uint32_t a = slot(leaf.X, leaf.Y);
            const std::uint32_t b = slot(leaf.X + span, leaf.Y);
            const std::uint32_t cc = slot(leaf.X + span, leaf.Y + span);
            const std::uint32_t d = slot(leaf.X, leaf.Y + span);
            corners.insert(corners.end(), {c, b, a, c, cc, b, d, cc, c, c, a, d});
            return;
        }
        outline(leaf, span, m_sides);
        for (int side = 0; side < 4; ++side) {
            const std::vector<std::uint32_t>& list = m_sides[std::size_t(side)];
            for (std::size_t k = 1; k < list.size(); ++k) {
                const std::uint32_t previous = list[k - 1];
                const std::uint32_t next = list[k];
                if (side == 2)
                    corners.insert(corners.end(), {next, previous, c});
                else
                    corners.insert(corners.end(), {c, next, previous});
            }
        }
    }

    const Talorin_Args& m_args;
    const double m_maxError;
    const ProgressFn& m_progress;
    const VertexSampler m_sampler;
    const int m_depth;
    const bool m_quads;
    const std::uint32_t m_side;     // full-depth grid steps per cell side
    const std::uint64_t m_gridSide; // points per side of the whole lattice's grid
    const std::uint64_t m_totalSteps;
    std::uint64_t m_steps = 0;

    // Per grid point: kNoVertex (no leaf corner), kUsed, or its vertex.
    std::vector<std::uint32_t> m_used;
    std::vector<double> m_z;  // reference heights of the cell's grid points
    std::vector<double> m_zc; // reference heights of its full-depth leaf centres
    std::uint32_t m_originX = 0, m_originY = 0;
    std::uint64_t m_leafCount = 0;   // leaves decided
    std::uint64_t m_cornerCount = 0; // distinct leaf corners

    TerrainMesh* m_mesh = nullptr;
    std::vector<EdgePoint> m_edge;
    std::array<std::vector<std::uint32_t>, 4> m_sides;
};

void CheckArgs(const Talorin_Args& args, double maxError) {
    CheckGenerationArgs(args);
    if (!MaxErrorInRange(maxError))
        throw Error(kBadMaxErrorText);
}

// Runs f on a run of args once the memory it needs up front is known to fit.
template <typename F>
auto WithRun(const Talorin_Args& args, double maxError, const ProgressFn& progress, F&& f) {
    CheckArgs(args, maxError);
    // The reference heights of one cell and the index grid of the lattice;
    // the mesh itself grows with what the terrain needs.
    const double cellSide = std::ldexp(1.0, args.Depth) + 1;
    const double gridSide = std::ldexp(double(args.PaMax), args.Depth) + 1;
    const double bytes = cellSide * cellSide * sizeof(double) * (args.QuadMode ? 1 : 2) +
                         gridSide * gridSide * sizeof(std::uint32_t);
    (void)ClaimRunMemory(args, bytes, args.Depth > kMaxWalkDepth || gridSide * gridSide >= 0x1p53);
    try {
        AdaptiveRun run(args, maxError, progress);
        run.decide();
        return f(run);
    } catch (const Faulted&) {
        ThrowFirstFault(args);
    } catch (const std::bad_alloc&) {
        ThrowOutOfMemory();
    }
}

} // namespace

TerrainMesh GenerateAdaptiveMesh(const Talorin_Args& args, double maxError,
                                 const ProgressFn& progress, std::vector<AdaptiveLeaf>* leaves) {
    if (leaves != nullptr)
        leaves->clear();
    return WithRun(args, maxError, progress, [&](AdaptiveRun& run) { return run.build(leaves); });
}

std::uint64_t AdaptivePolygonCount(const Talorin_Args& args, double maxError,
                                   const ProgressFn& progress) {
    return WithRun(args, maxError, progress, [](AdaptiveRun& run) { return run.count(); });
}

} // namespace talorin
