#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "shape/shape.h"

using namespace vesk;

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

class Budget : public ::testing::Test {
  protected:
    void TearDown() override {
        SetMemoryBudget(0);
        SetAvailableMemorySource({});
    }
};

} // namespace

TEST_F(Budget, ClaimFitsOnlyWithinTheBudgetAndTheMemoryAvailableNow) {
    SetMemoryBudget(1000 * kMiB);
    std::size_t available = 2000 * kMiB;
    SetAvailableMemorySource([&] { return available; });
    EXPECT_TRUE(MemoryClaim(900 * kMiB).fits());
    EXPECT_FALSE(MemoryClaim(1100 * kMiB).fits()); // over the budget
    available = 1000 * kMiB;
    EXPECT_FALSE(MemoryClaim(900 * kMiB).fits()); // the system has less left than that
    EXPECT_TRUE(MemoryClaim(500 * kMiB).fits());
}

TEST_F(Budget, GrowingClaimIsRefusedWhenTheSystemRunsShort) {
    std::size_t available = 1000 * kMiB;
    SetAvailableMemorySource([&] { return available; });
    MemoryClaim claim(600 * kMiB);
    ASSERT_TRUE(claim.fits());
    // Between two re-checks nothing is asked, whatever happens outside.
    available = 0;
    EXPECT_TRUE(claim.grow(10 * kMiB));
    available = 1000 * kMiB;
    EXPECT_TRUE(claim.grow(kRecheckStep));
    available = 300 * kMiB; // another process took most of it: the rest no longer fits
    EXPECT_FALSE(claim.grow(2 * kRecheckStep));
}

TEST_F(Budget, TwoRunsThatTogetherExceedMemoryEndInOneRefusalAndOneSuccess) {
    // A simulated machine of 1000 MiB running two identical runs of 600 MiB,
    // started together and filling their memory in turns. The kernel would
    // kill one of them if what both hold ever passed the machine's memory.
    const std::size_t machine = 1000 * kMiB, need = 600 * kMiB, step = 8 * kMiB;
    std::size_t filled[2] = {0, 0};
    SetAvailableMemorySource([&] { return machine - filled[0] - filled[1]; });
    MemoryClaim a(need), b(need);
    MemoryClaim* claims[2] = {&a, &b};
    ASSERT_TRUE(a.fits() && b.fits()); // on paper both fit
    bool running[2] = {true, true}, refused[2] = {false, false};
    while (running[0] || running[1]) {
        for (int k = 0; k < 2; ++k) {
            if (!running[k])
                continue;
            filled[k] += step;
            ASSERT_LE(filled[0] + filled[1], machine) << "killed";
            if (!claims[k]->grow(filled[k])) {
                refused[k] = true;
                running[k] = false;
                filled[k] = 0; // a refused run frees what it held
            } else if (filled[k] == need) {
                running[k] = false; // done
            }
        }
    }
    EXPECT_NE(refused[0], refused[1]);
    EXPECT_EQ(filled[0] + filled[1], need);
}

TEST_F(Budget, PoolsStopGrowingWhenTheSystemRunsShort) {
    // 100 MiB left on paper at first; once the pools pass their first
    // re-check, the system has only 50 MiB left: the next step does not fit.
    std::size_t available = 100 * kMiB;
    SetAvailableMemorySource([&] { return available; });
    TVESK_Object* object = NewObject("pool");
    ASSERT_NE(object, nullptr);
    TVESK_Polygon* polygon = NewPolygon("g", kPoly, object);
    ASSERT_NE(polygon, nullptr);
    AddPolygon(object, polygon);
    available = 50 * kMiB;
    std::size_t made = 0;
    SufError.clear();
    while (TVESK_Vertex* vertex = NewVertex(1, 2, 3, 0, 0, 0, 0, 0)) {
        AddVertex(polygon, vertex);
        ++made;
        ASSERT_LT(made * sizeof(TVESK_Vertex), 2 * kRecheckStep) << "never refused";
    }
    EXPECT_FALSE(SufError.empty());
    EXPECT_LT(MemoryInUse(), kRecheckStep + 8 * kMiB);
    // With memory back, the pools grow again.
    available = 4000 * kMiB;
    TVESK_Vertex* more = NewVertex(1, 2, 3, 0, 0, 0, 0, 0);
    EXPECT_NE(more, nullptr);
    ReleaseVertex(more);
    FreeSuf(object);
    EXPECT_EQ(MemoryInUse(), 0u);
}
