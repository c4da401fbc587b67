#include "base/slices.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

TEST(ForSlices, CoversEveryItemOnceInEvenSlices) {
    for (const std::size_t count : {0u, 1u, 2u, 7u, 1000u})
        for (const std::size_t slices : {1u, 2u, 3u, 4u}) {
            std::vector<std::atomic<int>> hits(count);
            std::vector<std::atomic<int>> sliceRuns(slices);
            std::atomic<std::size_t> largest{0}, smallest{count};
            std::atomic<bool> firstOnCaller{false};
            const auto caller = std::this_thread::get_id();
            vesk::ForSlices(count, slices, [&](std::size_t s, std::size_t first, std::size_t last) {
                ASSERT_LT(s, slices);
                ASSERT_LE(first, last);
                ASSERT_LE(last, count);
                ++sliceRuns[s];
                if (s == 0)
                    firstOnCaller = std::this_thread::get_id() == caller;
                for (std::size_t i = first; i < last; ++i)
                    ++hits[i];
                if (last > first) {
                    largest = std::max<std::size_t>(largest, last - first);
                    smallest = std::min<std::size_t>(smallest, last - first);
                }
            });
            for (std::size_t i = 0; i < count; ++i)
                EXPECT_EQ(hits[i], 1) << count << " in " << slices << ", item " << i;
            for (std::size_t s = 0; s < slices; ++s)
                EXPECT_LE(sliceRuns[s], 1) << "slice " << s << " ran twice";
            EXPECT_EQ(sliceRuns[0], 1) << "the first slice always runs";
            EXPECT_TRUE(firstOnCaller);
            if (count >= slices) {
                EXPECT_LE(largest - smallest, 1u) << count << " in " << slices;
                for (std::size_t s = 0; s < slices; ++s)
                    EXPECT_EQ(sliceRuns[s], 1) << "slice " << s << " of " << count;
            }
        }
}

// The slices use the caller's data: a failure reaches the caller only once
// every other slice has ended, and the first failure wins.
TEST(ForSlices, FailureWaitsForTheOtherSlices) {
    std::atomic<bool> otherEnded{false};
    try {
        vesk::ForSlices(2, 2, [&](std::size_t s, std::size_t, std::size_t) {
            if (s == 0)
                throw std::runtime_error("first");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            otherEnded = true;
            throw std::runtime_error("second");
        });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "first");
    }
    EXPECT_TRUE(otherEnded);
}

} // namespace
