#include "base/numbercache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace vesk;

namespace {

std::string Cached(NumberCache& cache, double v) {
    char text[kMaxNumberText];
    const std::size_t length = cache.format(v, text);
    return std::string(text, length);
}

} // namespace

TEST(NumberCache, GivesTheFormattedTextOfEveryValueAgainAndAgain) {
    // Far more distinct values than the cache holds, each asked for several
    // times in a shuffled order: entries are replaced all the time, and a
    // stale entry must never answer for another value.
    std::mt19937_64 random(7);
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  -1.0,
                                  0.1,
                                  1e15,
                                  1e-5,
                                  12.5,
                                  1e300,
                                  std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::denorm_min()};
    std::uniform_real_distribution<double> spread(-3000, 3000);
    for (int k = 0; k < 20000; ++k)
        values.push_back(spread(random));
    for (int k = 0; k < 2000; ++k) { // neighbours in the last bit
        const double v = spread(random);
        values.push_back(v);
        values.push_back(std::nextafter(v, 1e9));
    }
    std::vector<double> asked;
    for (int round = 0; round < 3; ++round)
        asked.insert(asked.end(), values.begin(), values.end());
    std::shuffle(asked.begin(), asked.end(), random);

    NumberCache cache;
    std::size_t wrong = 0;
    for (const double v : asked)
        if (Cached(cache, v) != FormatSufNumber(v))
            ++wrong;
    EXPECT_EQ(wrong, 0u);
}

TEST(NumberCache, ZerosOfBothSignsAreBothZero) {
    NumberCache cache;
    EXPECT_EQ(Cached(cache, 0.0), "0");
    EXPECT_EQ(Cached(cache, -0.0), "0");
    EXPECT_EQ(Cached(cache, -0.25), "-0.25");
    EXPECT_EQ(Cached(cache, -0.25), "-0.25");
}
