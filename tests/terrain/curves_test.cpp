#include "terrain/profilecurves.h"

#include <gtest/gtest.h>

#include <limits>

#include "terrain/terrain.h"
#include "base/error.h"

using namespace talorin;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The fault text a call throws, or "" when it throws none.
template <typename F> std::string FaultOf(F f) {
    try {
        f();
    } catch (const FloatFault& fault) {
        return fault.what();
    }
    return "";
}

} // namespace

// --- CurvePower -----------------------------------------------------------------

TEST(CurvePower, ZeroBaseGivesZeroForAnyExponent) {
    EXPECT_EQ(CurvePower(0, -1), 0);
    EXPECT_EQ(CurvePower(-0.0, 5), 0);
    EXPECT_EQ(CurvePower(0, 0), 0);
}

TEST(CurvePower, DropsTheSignOfTheBase) {
    EXPECT_EQ(CurvePower(-2, 2), 4);
    EXPECT_NEAR(CurvePower(-8, 1.0 / 3), 2, 1e-15);
}

TEST(CurvePower, IsExpOfExponentTimesLog) {
    // exp(3 ln 4) is not exactly 64; a library pow would give 64.
    EXPECT_EQ(CurvePower(4, 3), 63.999999999999979);
    EXPECT_EQ(CurvePower(4, 10), 1048576);
    EXPECT_EQ(CurvePower(0.5, 0), 1);
}

TEST(CurvePower, OverflowIsAFault) {
    EXPECT_EQ(FaultOf([] { CurvePower(10, 400); }), kOverflowText);
    EXPECT_EQ(FaultOf([] { CurvePower(0.5, 1e308); }), ""); // underflows to 0 quietly
}

// --- The three curves through ShapeCurve ------------------------------------------

struct CurveCase {
    std::uint8_t mode;
    double e;
    double x;
    double expected;
};

class ShapeCurveValues : public ::testing::TestWithParam<CurveCase> {};

TEST_P(ShapeCurveValues, MatchesTheProfile) {
    const CurveCase c = GetParam();
    if (c.e == 2)
        EXPECT_EQ(ShapeCurve(c.mode, c.x, c.e), c.expected);
    else
        EXPECT_NEAR(ShapeCurve(c.mode, c.x, c.e), c.expected, 5e-7);
}

INSTANTIATE_TEST_SUITE_P(
    SquareLevel, ShapeCurveValues,
    ::testing::Values(CurveCase{0, 2, 0.25, 0.0625}, CurveCase{0, 2, 0.5, 0.25},
                      CurveCase{0, 2, 0.75, 0.5625}, CurveCase{1, 2, 0.25, 0.4375},
                      CurveCase{1, 2, 0.5, 0.75}, CurveCase{1, 2, 0.75, 0.9375},
                      CurveCase{2, 2, 0.25, 0.125}, CurveCase{2, 2, 0.5, 0.5},
                      CurveCase{2, 2, 0.75, 0.875}));

INSTANTIATE_TEST_SUITE_P(TenthLevel, ShapeCurveValues,
                         ::testing::Values(CurveCase{0, 0.1, 0.25, 0.870551},
                                           CurveCase{1, 0.1, 0.25, 0.028358},
                                           CurveCase{2, 0.1, 0.25, 0.466516},
                                           CurveCase{2, 0.1, 0.75, 0.533484}));

TEST(ShapeCurve, SCurvePassesThroughItsCentreAtEveryLevel) {
    for (int position = 1; position <= 100; ++position)
        EXPECT_EQ(ShapeCurve(2, 0.5, position / 10.0), 0.5) << position;
}

TEST(ShapeCurve, BlackIsZeroAndWhiteIsOneInEveryModeAndLevel) {
    for (std::uint8_t mode : {0, 1, 2})
        for (int position : {1, 7, 10, 23, 100}) {
            EXPECT_EQ(ShapeCurve(mode, 0, position / 10.0), 0) << int(mode) << " " << position;
            EXPECT_EQ(ShapeCurve(mode, 1, position / 10.0), 1) << int(mode) << " " << position;
        }
}

TEST(ShapeCurve, LevelOneGivesTheInputItself) {
    for (std::uint8_t mode : {0, 1, 2})
        for (double x : {0.1, 0.3, 384.0 / 765, 0.9})
            EXPECT_NEAR(ShapeCurve(mode, x, 1.0), x, 1e-15);
}

TEST(ShapeCurve, ClampsItsInput) {
    for (std::uint8_t mode : {0, 1, 2}) {
        EXPECT_EQ(ShapeCurve(mode, -0.3, 2), ShapeCurve(mode, 0, 2));
        EXPECT_EQ(ShapeCurve(mode, 1.7, 2), ShapeCurve(mode, 1, 2));
        EXPECT_EQ(ShapeCurve(mode, kNaN, 2), ShapeCurve(mode, 0, 2));
        EXPECT_EQ(ShapeCurve(mode, -kInf, 0.5), ShapeCurve(mode, 0, 0.5));
    }
}

TEST(ShapeCurve, MidGreyLiesInTheUpperHalfOfTheSCurve) {
    const double grey = 384.0 / 765; // 128, 128, 128
    EXPECT_EQ(ShapeCurve(2, grey, 3), MirrorCurve(0.5, 1, 0.5, 1, grey, 3));
    EXPECT_GT(ShapeCurve(2, grey, 3), 0.5);
}

TEST(ShapeCurve, UnknownModeFallsBackToTheRisingCurve) {
    EXPECT_EQ(ShapeCurve(3, 0.25, 2), 0.0625);
    EXPECT_EQ(ShapeCurve(255, 0.6, 3.3), ShapeCurve(0, 0.6, 3.3));
}

TEST(ShapeCurve, ExtremeLevelThatUnderflowsTheBoxIsADivisionByZero) {
    // (1/2)^2000 is 0 in double, so the S curve's half box divides by zero.
    EXPECT_EQ(FaultOf([] { ShapeCurve(2, 0.3, 2000); }), kDivideByZeroText);
    EXPECT_EQ(FaultOf([] { ShapeCurve(0, 0.3, 2000); }), "");
}

// --- The curves on other boxes ------------------------------------------------------

TEST(Curves, RunFromEndToEndOfTheirBox) {
    EXPECT_EQ(RiseCurve(10, 20, 2, 4, 2, 2), 10);
    EXPECT_EQ(RiseCurve(10, 20, 2, 4, 4, 2), 20);
    EXPECT_EQ(RiseCurve(10, 20, 2, 4, 3, 2), 12.5);
    EXPECT_EQ(MirrorCurve(10, 20, 2, 4, 3, 2), 17.5);
    EXPECT_EQ(SCurve(10, 20, 2, 4, 3, 2), 15);
}

TEST(Curves, RiseCurveReflectsInputsBeforeTheBox) {
    EXPECT_EQ(RiseCurve(0, 1, 0, 1, -0.5, 2), RiseCurve(0, 1, 0, 1, 0.5, 2));
}

TEST(Curves, EmptyBoxDividesByZero) {
    EXPECT_EQ(FaultOf([] { RiseCurve(0, 1, 3, 3, 3.5, 2); }), kDivideByZeroText);
    EXPECT_EQ(FaultOf([] { RiseCurve(1, 1, 3, 3, 3.5, 2); }), kInvalidOperationText);
}

// --- Checked steps ------------------------------------------------------------------

TEST(CheckedSteps, ReportEachKindOfFault) {
    const double big = std::numeric_limits<double>::max();
    EXPECT_EQ(FaultOf([] { CheckedDiv(1, 0); }), kDivideByZeroText);
    EXPECT_EQ(FaultOf([] { CheckedDiv(-1, 0); }), kDivideByZeroText);
    EXPECT_EQ(FaultOf([] { CheckedDiv(0, 0); }), kInvalidOperationText);
    EXPECT_EQ(FaultOf([&] { CheckedAdd(big, big); }), kOverflowText);
    EXPECT_EQ(FaultOf([&] { CheckedMul(big, 2); }), kOverflowText);
    EXPECT_EQ(FaultOf([&] { CheckedDiv(big, 0.5); }), kOverflowText);
    EXPECT_EQ(FaultOf([] { CheckedSub(kInf, kInf); }), kInvalidOperationText);
    EXPECT_EQ(FaultOf([] { CheckedMul(0, kInf); }), kInvalidOperationText);
}

TEST(CheckedSteps, PassPlainResultsAndCarriedInfinities) {
    EXPECT_EQ(CheckedDiv(1, 4), 0.25);
    EXPECT_EQ(CheckedAdd(kInf, 1), kInf);
    EXPECT_EQ(CheckedDiv(kInf, 0), kInf);
    EXPECT_EQ(CheckedMul(1e-300, 1e-300), 0); // underflow is no fault
}
