#pragma once
// The recursive subdivision of a lattice cell, as a walk that visits the leaf
// cells and leaves what to do with each leaf to the caller: the uniform mesh
// generator, an adaptive mesher or a preview all share one walk and so the
// exact same corner values.
//
// Every corner of every leaf is computed here with the two operations below,
// in plain double, in a fixed order. A point that several leaves share is
// computed once at the level where it first appears and handed down by value,
// and the midpoint of an edge shared by two cells is computed from the same two
// corners (addition commutes exactly), so equal grid positions (see Leaf) give
// bit-identical points, also across neighbouring lattice cells.

#include <cstdint>

#include "terrain/lattice.h"
#include "terrain/profilecurves.h"

namespace talorin {

// --- Corner arithmetic ------------------------------------------------------------

// The middle of a and b, per coordinate: (a + b) / 2.
inline MeshPoint Midpoint(MeshPoint a, MeshPoint b) {
    return {(a.X + b.X) / 2, (a.Y + b.Y) / 2};
}

// The mean of four corners, per coordinate, summed in the order a, b, c, d and
// then divided by 4. Not the crossing of the diagonals: the two differ on a
// distorted cell.
inline MeshPoint Centre(MeshPoint a, MeshPoint b, MeshPoint c, MeshPoint d) {
    return {(((a.X + b.X) + c.X) + d.X) / 4, (((a.Y + b.Y) + c.Y) + d.Y) / 4};
}

// The same operations with every step checked in the same order: the first
// step that gives a non-finite result throws FloatFault with its own text.
inline MeshPoint CheckedMidpoint(MeshPoint a, MeshPoint b) {
    return {CheckedDiv(CheckedAdd(a.X, b.X), 2), CheckedDiv(CheckedAdd(a.Y, b.Y), 2)};
}
inline MeshPoint CheckedCentre(MeshPoint a, MeshPoint b, MeshPoint c, MeshPoint d) {
    return {CheckedDiv(CheckedAdd(CheckedAdd(CheckedAdd(a.X, b.X), c.X), d.X), 4),
            CheckedDiv(CheckedAdd(CheckedAdd(CheckedAdd(a.Y, b.Y), c.Y), d.Y), 4)};
}

// --- The walk -------------------------------------------------------------------

// One leaf cell handed to the visitor.
//
// A, B, C, D are the leaf's corners in the order of its cell (on an unedited
// lattice: top left, top right, bottom right, bottom left in the image).
//
// X, Y is the integer grid position of corner A, in leaf steps: B lies at
// (X + 1, Y), C at (X + 1, Y + 1), D at (X, Y + 1). Positions count from the
// origin handed to the walk, so a walk over the whole lattice (WalkLattice)
// numbers the points of all cells on one grid of paMax * 2^depth + 1 points a
// side, and equal positions mean bit-identical points. A leaf's centre, which
// belongs to that leaf alone, sits at (2X + 1, 2Y + 1) on the grid of half steps.
struct Leaf {
    MeshPoint A, B, C, D;
    std::uint32_t X = 0, Y = 0;
};

namespace detail {

// The walk itself: a node (a Leaf whose X, Y count in steps of the full
// depth) with levels splits below it is split while split(node, levels)
// says so, and otherwise handed to visit(node, levels).
template <bool kChecked, typename Split, typename Visit>
bool WalkNodeImpl(MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, int levels, std::uint32_t x,
                  std::uint32_t y, Split& split, Visit& visit) {
    if (levels == 0 || !split(Leaf{A, B, C, D, x, y}, levels))
        return visit(Leaf{A, B, C, D, x, y}, levels);
    MeshPoint c, ab, bc, cd, da;
    if constexpr (kChecked) {
        c = CheckedCentre(A, B, C, D);
        ab = CheckedMidpoint(A, B);
        bc = CheckedMidpoint(B, C);
        cd = CheckedMidpoint(C, D);
        da = CheckedMidpoint(D, A);
    } else {
        c = Centre(A, B, C, D);
        ab = Midpoint(A, B);
        bc = Midpoint(B, C);
        cd = Midpoint(C, D);
        da = Midpoint(D, A);
    }
    if (levels == 1) // the last level's four leaves in one step: no calls for them
        return visit(Leaf{A, ab, c, da, x, y}, 0) && visit(Leaf{ab, B, bc, c, x + 1, y}, 0) &&
               visit(Leaf{c, bc, C, cd, x + 1, y + 1}, 0) && visit(Leaf{da, c, cd, D, x, y + 1}, 0);
    const std::uint32_t half = std::uint32_t{1} << (levels - 1);
    return WalkNodeImpl<kChecked>(A, ab, c, da, levels - 1, x, y, split, visit) &&
           WalkNodeImpl<kChecked>(ab, B, bc, c, levels - 1, x + half, y, split, visit) &&
           WalkNodeImpl<kChecked>(c, bc, C, cd, levels - 1, x + half, y + half, split, visit) &&
           WalkNodeImpl<kChecked>(da, c, cd, D, levels - 1, x, y + half, split, visit);
}

template <bool kChecked, typename Visit>
bool WalkCellImpl(MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, int depth, std::uint32_t x,
                  std::uint32_t y, Visit& visit) {
    auto always = [](const Leaf&, int) { return true; };
    auto leaf = [&visit](const Leaf& l, int) { return visit(l); };
    return WalkNodeImpl<kChecked>(A, B, C, D, depth, x, y, always, leaf);
}

} // namespace detail

// The largest depth whose grid positions fit the 32-bit fields of Leaf for a
// lattice of up to kMaxPaMax cells a side.
inline constexpr int kMaxWalkDepth = 27;

// Splits cell (A, B, C, D) into quarters depth times and calls visit(const
// Leaf&) for each of the 4^depth leaves, depth first, in quadrant order at
// every level: the quarter at A (A, ab, c, da), at B (ab, B, bc, c), at C
// (c, bc, C, cd), at D (da, c, cd, D), where c = Centre(A, B, C, D) and ab, bc,
// cd, da are the edge midpoints, computed in that order. The recursion is
// depth levels deep and allocates nothing.
//
// visit returns true to go on, false to stop the walk at once; WalkCell
// returns false when it was stopped. (originX, originY) is the grid position of
// A. depth must lie in 0..kMaxWalkDepth.
template <typename Visit>
bool WalkCell(MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, int depth, Visit&& visit,
              std::uint32_t originX = 0, std::uint32_t originY = 0) {
    return detail::WalkCellImpl<false>(A, B, C, D, depth, originX, originY, visit);
}

// WalkCell for a tree of uneven depth: a node is split (as WalkCell splits it,
// same operations, same order) only while split(node, levels) returns true,
// and a node that is not split is handed to visit(node, levels) as a leaf.
// node is a Leaf whose X, Y are the grid position of its corner A in steps of
// depth (a node covers 2^levels steps a side); levels (0..depth) counts the
// splits that WalkCell would still make below it. split is not asked at
// levels 0. visit returns true to go on, false to stop the walk at once;
// WalkCellWhile returns false when it was stopped.
template <typename Split, typename Visit>
bool WalkCellWhile(MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, int depth, Split&& split,
                   Visit&& visit, std::uint32_t originX = 0, std::uint32_t originY = 0) {
    return detail::WalkNodeImpl<false>(A, B, C, D, depth, originX, originY, split, visit);
}

// WalkCell with CheckedCentre and CheckedMidpoint: throws FloatFault at the
// first faulting step, in the order in which the plain walk computes.
template <typename Visit>
bool WalkCellChecked(MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, int depth, Visit&& visit,
                     std::uint32_t originX = 0, std::uint32_t originY = 0) {
    return detail::WalkCellImpl<true>(A, B, C, D, depth, originX, originY, visit);
}

// Walks every cell of the lattice, rows from the top, each row from the left:
// cell (i, j) has the corners lattice[i][j], [i + 1][j], [i + 1][j + 1],
// [i][j + 1] and its grid origin at (i * 2^depth, j * 2^depth). Returns false
// when visit stopped the walk. paMax must lie in 1..kMaxPaMax.
template <bool kChecked = false, typename Visit>
bool WalkLattice(const MeshLattice& lattice, int paMax, int depth, Visit&& visit) {
    const std::uint32_t side = std::uint32_t{1} << depth;
    for (int j = 0; j < paMax; ++j)
        for (int i = 0; i < paMax; ++i)
            if (!detail::WalkCellImpl<kChecked>(
                    lattice[i][j], lattice[i + 1][j], lattice[i + 1][j + 1], lattice[i][j + 1],
                    depth, std::uint32_t(i) * side, std::uint32_t(j) * side, visit))
                return false;
    return true;
}

} // namespace talorin
