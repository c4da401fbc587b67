#include "terrain/subdivision.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "base/error.h"

using namespace talorin;

namespace {

std::vector<Leaf> LeavesOf(MeshPoint A, MeshPoint B, MeshPoint C, MeshPoint D, int depth) {
    std::vector<Leaf> leaves;
    EXPECT_TRUE(WalkCell(A, B, C, D, depth, [&](const Leaf& leaf) {
        leaves.push_back(leaf);
        return true;
    }));
    return leaves;
}

bool SameBits(MeshPoint a, MeshPoint b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A lattice with its interior points moved to awkward fractions.
MeshLattice Distorted(int paMax) {
    MeshLattice lattice = InitMeshLattice(233, 233, paMax);
    for (int i = 1; i < paMax; ++i)
        for (int j = 1; j < paMax; ++j)
            lattice[i][j] = {lattice[i][j].X + 0.1 * i / 3.0 + 7.0 / (j + 3),
                             lattice[i][j].Y - 0.7 * j / 9.0 + 1.0 / (i + 7)};
    return lattice;
}

} // namespace

TEST(Subdivision, MidpointAndCentreOfWorkedCorners) {
    EXPECT_EQ(Midpoint({0, 0}, {58, 58}), (MeshPoint{29, 29}));
    EXPECT_EQ(Midpoint({-3, 1}, {4, 2}), (MeshPoint{0.5, 1.5}));
    // The mean of the corners, not the crossing of the diagonals (0.75, 0.625).
    EXPECT_EQ(Centre({0, 0}, {1, 0}, {1.5, 1.25}, {0, 1}), (MeshPoint{0.625, 0.5625}));
}

TEST(Subdivision, CentreSumsInTheOrderOfTheCorners) {
    // 1e16 + 1 + 1 - 1e16 is 0 in double when summed in this order, 2 in another.
    EXPECT_EQ(Centre({1e16, 0}, {1, 0}, {1, 0}, {-1e16, 0}).X, 0);
    EXPECT_EQ(Centre({1, 0}, {1, 0}, {1e16, 0}, {-1e16, 0}).X, 0.5);
}

TEST(Subdivision, DepthOneGivesTheFourQuartersInOrder) {
    const auto leaves = LeavesOf({0, 0}, {58, 0}, {58, 58}, {0, 58}, 1);
    ASSERT_EQ(leaves.size(), 4u);
    // The quarters at A, B, C, D, each keeping the order around its outline.
    const MeshPoint expected[4][4] = {{{0, 0}, {29, 0}, {29, 29}, {0, 29}},
                                      {{29, 0}, {58, 0}, {58, 29}, {29, 29}},
                                      {{29, 29}, {58, 29}, {58, 58}, {29, 58}},
                                      {{0, 29}, {29, 29}, {29, 58}, {0, 58}}};
    const std::pair<std::uint32_t, std::uint32_t> positions[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(leaves[k].A, expected[k][0]) << k;
        EXPECT_EQ(leaves[k].B, expected[k][1]) << k;
        EXPECT_EQ(leaves[k].C, expected[k][2]) << k;
        EXPECT_EQ(leaves[k].D, expected[k][3]) << k;
        EXPECT_EQ(std::make_pair(leaves[k].X, leaves[k].Y), positions[k]) << k;
    }
}

TEST(Subdivision, DepthZeroVisitsTheCellItself) {
    const auto leaves = LeavesOf({1, 2}, {3, 4}, {5, 6}, {7, 8}, 0);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].C, (MeshPoint{5, 6}));
    EXPECT_EQ(leaves[0].X + leaves[0].Y, 0u);
}

TEST(Subdivision, LeavesTileTheGridDepthFirst) {
    const int depth = 4;
    const auto leaves = LeavesOf({0, 0}, {16, 0}, {16, 16}, {0, 16}, depth);
    ASSERT_EQ(leaves.size(), 256u);
    std::vector<int> seen(256);
    for (std::size_t n = 0; n < leaves.size(); ++n) {
        const Leaf& leaf = leaves[n];
        ASSERT_LT(leaf.X, 16u);
        ASSERT_LT(leaf.Y, 16u);
        ++seen[leaf.Y * 16 + leaf.X];
        // On this square cell a grid step is one unit, so positions are coordinates.
        EXPECT_EQ(leaf.A, (MeshPoint{double(leaf.X), double(leaf.Y)}));
        EXPECT_EQ(leaf.C, (MeshPoint{leaf.X + 1.0, leaf.Y + 1.0}));
        // Depth first: the first quarter of the cell is done before the second.
        if (n < 64)
            EXPECT_TRUE(leaf.X < 8 && leaf.Y < 8) << n;
        else if (n < 128)
            EXPECT_TRUE(leaf.X >= 8 && leaf.Y < 8) << n;
        else if (n < 192)
            EXPECT_TRUE(leaf.X >= 8 && leaf.Y >= 8) << n;
        else
            EXPECT_TRUE(leaf.X < 8 && leaf.Y >= 8) << n;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 256);
}

TEST(Subdivision, EqualGridPositionsGiveBitIdenticalPointsAcrossTheLattice) {
    const int paMax = 5, depth = 3;
    const MeshLattice lattice = Distorted(paMax);
    std::map<std::pair<std::uint32_t, std::uint32_t>, MeshPoint> points;
    std::size_t leaves = 0, mismatches = 0;
    auto record = [&](std::uint32_t x, std::uint32_t y, MeshPoint p) {
        const auto [it, added] = points.emplace(std::make_pair(x, y), p);
        if (!added && !SameBits(it->second, p))
            ++mismatches;
    };
    EXPECT_TRUE(WalkLattice(lattice, paMax, depth, [&](const Leaf& leaf) {
        ++leaves;
        record(leaf.X, leaf.Y, leaf.A);
        record(leaf.X + 1, leaf.Y, leaf.B);
        record(leaf.X + 1, leaf.Y + 1, leaf.C);
        record(leaf.X, leaf.Y + 1, leaf.D);
        return true;
    }));
    EXPECT_EQ(leaves, 25u * 64u);
    EXPECT_EQ(points.size(), 41u * 41u);
    EXPECT_EQ(mismatches, 0u);
    // The lattice points themselves come through untouched.
    EXPECT_TRUE(SameBits(points.at({16, 24}), lattice[2][3]));
    EXPECT_TRUE(SameBits(points.at({40, 40}), lattice[5][5]));
}

TEST(Subdivision, VisitorStopsTheWalkAtOnce) {
    int visits = 0;
    EXPECT_FALSE(
        WalkCell({0, 0}, {1, 0}, {1, 1}, {0, 1}, 5, [&](const Leaf&) { return ++visits < 7; }));
    EXPECT_EQ(visits, 7);
    visits = 0;
    const MeshLattice lattice = InitMeshLattice(9, 9, 4);
    EXPECT_FALSE(WalkLattice(lattice, 4, 1, [&](const Leaf&) { return ++visits < 9; }));
    EXPECT_EQ(visits, 9); // the first leaf of the third cell
}

TEST(Subdivision, CheckedWalkThrowsTheFirstFaultAndPlainWalkGivesTheSamePoints) {
    constexpr double kMax = std::numeric_limits<double>::max();
    // A + B overflows in the first midpoint (after the centre, which overflows
    // too: the centre comes first).
    try {
        WalkCellChecked({kMax, 0}, {kMax, 0}, {0, 1}, {0, 1}, 1, [](const Leaf&) { return true; });
        ADD_FAILURE() << "no fault";
    } catch (const FloatFault& fault) {
        EXPECT_STREQ(fault.what(), kOverflowText);
    }
    std::vector<Leaf> checked;
    WalkCellChecked({0.1, 0.2}, {7.3, 0.4}, {6.9, 5.5}, {0.3, 4.7}, 3, [&](const Leaf& leaf) {
        checked.push_back(leaf);
        return true;
    });
    const auto plain = LeavesOf({0.1, 0.2}, {7.3, 0.4}, {6.9, 5.5}, {0.3, 4.7}, 3);
    ASSERT_EQ(checked.size(), plain.size());
    for (std::size_t n = 0; n < plain.size(); ++n)
        EXPECT_TRUE(SameBits(checked[n].C, plain[n].C) && SameBits(checked[n].D, plain[n].D));
}
