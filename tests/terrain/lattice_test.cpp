#include "terrain/lattice.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/error.h"

using namespace talorin;

namespace {

// Both coordinates of every point in use, for comparisons of whole lattices.
void ExpectBorderEqual(const MeshLattice& a, const MeshLattice& b, int paMax) {
    for (int i = 0; i <= paMax; ++i)
        for (int j = 0; j <= paMax; ++j)
            if (i == 0 || j == 0 || i == paMax || j == paMax) {
                EXPECT_EQ(a[i][j], b[i][j]) << "border point " << i << "," << j;
            }
}

double Distance(MeshPoint a, double x, double y) { return std::hypot(a.X - x, a.Y - y); }

} // namespace

// --- The uniform lattice ------------------------------------------------------

TEST(InitMeshLattice, Density4On233PixelsHitsWholeSteps) {
    const MeshLattice mesh = InitMeshLattice(233, 233, 4);
    const double steps[] = {0, 58, 116, 174, 232};
    for (int i = 0; i <= 4; ++i)
        for (int j = 0; j <= 4; ++j)
            EXPECT_EQ(mesh[i][j], (MeshPoint{steps[i], steps[j]})) << i << "," << j;
}

TEST(InitMeshLattice, Density16StepsByHalfPixels) {
    const MeshLattice mesh = InitMeshLattice(233, 233, 16);
    EXPECT_EQ(mesh[1][1], (MeshPoint{14.5, 14.5}));
    EXPECT_EQ(mesh[16][16], (MeshPoint{232, 232}));
}

TEST(InitMeshLattice, PointsAreRunningSumsNotProducts) {
    const MeshLattice six = InitMeshLattice(233, 233, 6);
    EXPECT_EQ(six[1][1].X, 38.666666666666664);
    EXPECT_EQ(six[6][0].X, 231.99999999999997);
    EXPECT_EQ(six[0][6].Y, 231.99999999999997);
    EXPECT_EQ(six[6][6], (MeshPoint{231.99999999999997, 231.99999999999997}));

    const MeshLattice twelve = InitMeshLattice(233, 233, 12);
    EXPECT_EQ(twelve[12][12], (MeshPoint{232.00000000000003, 232.00000000000003}));
}

TEST(InitMeshLattice, TinyImageGivesQuarterSteps) {
    const MeshLattice mesh = InitMeshLattice(2, 2, 4);
    for (int i = 0; i <= 4; ++i)
        for (int j = 0; j <= 4; ++j)
            EXPECT_EQ(mesh[i][j], (MeshPoint{0.25 * i, 0.25 * j}));
}

TEST(InitMeshLattice, WideImageKeepsItsAspectInPixels) {
    const Bitmap image(400, 100);
    const MeshLattice mesh = InitMeshLattice(image, 4);
    EXPECT_EQ(mesh[1][1], (MeshPoint{99.75, 24.75}));
    EXPECT_EQ(mesh[4][4], (MeshPoint{399, 99}));
    EXPECT_EQ(mesh[4][0], (MeshPoint{399, 0}));
}

TEST(InitMeshLattice, PointsBeyondTheDensityAreZero) {
    const MeshLattice mesh = InitMeshLattice(233, 233, 5);
    for (int i = 0; i <= kMaxPaMax; ++i)
        for (int j = 0; j <= kMaxPaMax; ++j)
            if (i > 5 || j > 5) {
                EXPECT_EQ(mesh[i][j], MeshPoint{}) << i << "," << j;
            }
}

TEST(InitMeshLattice, OnePixelWideImageHasZeroSpan) {
    const MeshLattice mesh = InitMeshLattice(1, 200, 4);
    for (int i = 0; i <= 4; ++i)
        EXPECT_EQ(mesh[i][4], (MeshPoint{0, 199}));
}

TEST(InitMeshLattice, RefusesDensitiesTheArraysCannotHold) {
    EXPECT_THROW(InitMeshLattice(233, 233, 17), Error);
    EXPECT_THROW(InitMeshLattice(233, 233, 0), Error);
}

// --- Editing with the mouse -------------------------------------------------------
// A 233 x 233 image on the 233 x 233 preview: scale 1, so preview pixels are
// image pixels. At density 4 the interior points lie at 58, 116 and 174.

class AdjustMesh : public ::testing::Test {
protected:
    MeshLattice mesh = InitMeshLattice(233, 233, 4);
    const MeshLattice uniform = InitMeshLattice(233, 233, 4);

    void press(int x, int y, std::uint8_t button) {
        AdjustMeshDensity(mesh, 4, x, y, button, 1.0, 1.0);
    }
};

TEST_F(AdjustMesh, LeftPressTenPixelsAwayPutsThePointOnThePress) {
    press(68, 58, kLeftButton); // f = 329.51 / 100, above 2
    EXPECT_EQ(mesh[1][1], (MeshPoint{68, 58}));
}

TEST_F(AdjustMesh, LeftPressFifteenPixelsAwayJumpsPastThePress) {
    press(73, 58, kLeftButton); // f about 1.464
    EXPECT_NEAR(mesh[1][1].X - 73, 6.97, 0.005);
    EXPECT_EQ(mesh[1][1].Y, 58);
}

TEST_F(AdjustMesh, LeftPressThirtyPixelsAwayPullsPartOfTheWay) {
    press(88, 58, kLeftButton); // f about 0.366
    EXPECT_NEAR(mesh[1][1].X - 58, 10.98, 0.005);
    EXPECT_EQ(mesh[1][1].Y, 58);
}

TEST_F(AdjustMesh, RightPressTenPixelsAwayPushesStraightAway) {
    press(48, 58, kRightButton);
    EXPECT_NEAR(mesh[1][1].X - 58, 32.95, 0.005);
    EXPECT_EQ(mesh[1][1].Y, 58);
}

TEST_F(AdjustMesh, RightPressOnePixelAwayEndsOnTheBorder) {
    press(59, 58, kRightButton); // pushed about 329.5 pixels to the left
    EXPECT_EQ(mesh[1][1], (MeshPoint{0, 58}));
    mesh = uniform;
    press(173, 174, kRightButton); // [3][3] past the right border
    EXPECT_EQ(mesh[3][3], (MeshPoint{232, 174}));
    mesh = uniform;
    press(116, 117, kRightButton); // [2][2] past the top border
    EXPECT_EQ(mesh[2][2], (MeshPoint{116, 0}));
    mesh = uniform;
    press(173, 173, kRightButton); // [3][3] past the bottom right corner
    EXPECT_EQ(mesh[3][3], (MeshPoint{232, 232}));
}

TEST_F(AdjustMesh, PressExactlyOnAPointLeavesItAndMovesTheOthers) {
    press(58, 58, kLeftButton);
    EXPECT_EQ(mesh[1][1], (MeshPoint{58, 58}));
    EXPECT_NE(mesh[2][1], uniform[2][1]);
    EXPECT_LT(Distance(mesh[2][1], 58, 58), Distance(uniform[2][1], 58, 58));
}

TEST_F(AdjustMesh, BorderPointsNeverMove) {
    for (std::uint8_t button : {kLeftButton, kRightButton})
        for (int x : {0, 3, 59, 116, 229, 232})
            for (int y : {0, 1, 60, 175, 232})
                press(x, y, button);
    ExpectBorderEqual(mesh, uniform, 4);
}

TEST_F(AdjustMesh, OtherButtonsChangeNothing) {
    press(60, 60, kMiddleButton);
    press(60, 60, 7);
    EXPECT_EQ(mesh, uniform);
}

TEST_F(AdjustMesh, ScaledPreviewMapsThePressBackToImagePixels) {
    // A 466 x 466 image on the 233 x 233 preview: [1][1] at image 116.25 shows at 58.125.
    MeshLattice big = InitMeshLattice(466, 466, 4);
    AdjustMeshDensity(big, 4, 60, 58, kLeftButton, 0.5, 0.5);
    EXPECT_EQ(big[1][1], (MeshPoint{120, 116}));
}

TEST_F(AdjustMesh, HigherDensityPullsLess) {
    // k = 16 at density 16: 10 pixels away f is about 0.206, so the point moves
    // about 2.06 pixels instead of landing on the press.
    MeshLattice dense = InitMeshLattice(233, 233, 16);
    AdjustMeshDensity(dense, 16, 68, 58, kLeftButton, 1.0, 1.0);
    EXPECT_NEAR(dense[4][4].X - 58, 2.06, 0.005);
}

TEST_F(AdjustMesh, ZeroScaleIsADivisionByZero) {
    try {
        AdjustMeshDensity(mesh, 4, 60, 60, kLeftButton, 0.0, 0.0);
        FAIL() << "no fault";
    } catch (const FloatFault& fault) {
        EXPECT_STREQ(fault.what(), kDivideByZeroText);
    }
}
