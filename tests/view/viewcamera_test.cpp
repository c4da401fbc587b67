#include "view/viewcamera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace talorin;

namespace {

constexpr double kDegree = std::numbers::pi / 180;

Bounds Box(Vec3 lo, Vec3 hi) {
    Bounds b;
    b.add(lo);
    b.add(hi);
    return b;
}

// The terrain of the default settings: 2000 on a side, up to 500 high.
const Bounds kTerrain = Box({-1000, -1000, 0}, {1000, 1000, 500});

ScreenPoint MustProject(const ViewCamera& camera, const Viewport& viewport, Vec3 p) {
    const auto s = Project(camera, viewport, p);
    EXPECT_TRUE(s.has_value());
    return s.value_or(ScreenPoint{});
}

double DistanceToRay(const Ray& ray, Vec3 p) {
    const Vec3 rel = p - ray.origin;
    return Length(rel - ray.direction * Dot(rel, ray.direction));
}

} // namespace

TEST(ViewCamera, FitKeepsEveryCornerInsideAndTouchesTheMargin) {
    for (const Viewport viewport : {Viewport{640, 480}, Viewport{300, 700}, Viewport{1200, 200}}) {
        for (const Bounds& box :
             {kTerrain, Box({-1000, -1000, 0}, {1000, 1000, 0}), Box({5, -3, 100}, {9, 40, 101})}) {
            const ViewCamera camera = FitCamera(box, viewport);
            double worst = 0; // largest share of the half viewport a corner reaches
            for (int i = 0; i < 8; ++i) {
                const Vec3 corner{(i & 1) ? box.max.x : box.min.x, (i & 2) ? box.max.y : box.min.y,
                                  (i & 4) ? box.max.z : box.min.z};
                const ScreenPoint s = MustProject(camera, viewport, corner);
                const double fx = std::fabs(s.x - viewport.width / 2) / (viewport.width / 2);
                const double fy = std::fabs(s.y - viewport.height / 2) / (viewport.height / 2);
                EXPECT_LE(fx, 0.9 + 1e-9);
                EXPECT_LE(fy, 0.9 + 1e-9);
                worst = std::max({worst, fx, fy});
            }
            EXPECT_NEAR(worst, 0.9, 1e-9) << "the fit is not tight";
        }
    }
}

TEST(ViewCamera, FirstViewIsFromTheSouthEastAt35Degrees) {
    const ViewCamera camera = FitCamera(kTerrain, {640, 480});
    const Vec3 toEye = EyeOf(camera) - camera.target;
    EXPECT_EQ(camera.target, (Vec3{0, 0, 250}));
    // South is +X (down the image), east is +Y.
    EXPECT_GT(toEye.x, 0);
    EXPECT_NEAR(toEye.x, toEye.y, 1e-9 * camera.distance);
    EXPECT_NEAR(std::asin(toEye.z / Length(toEye)), 35 * kDegree, 1e-12);
    // From there the north-west corner lies beyond the centre, the south-east
    // corner in front of it.
    const ScreenPoint nw = MustProject(camera, {640, 480}, {-1000, -1000, 0});
    const ScreenPoint se = MustProject(camera, {640, 480}, {1000, 1000, 0});
    EXPECT_LT(nw.y, se.y);
    EXPECT_GT(nw.depth, se.depth);
}

TEST(ViewCamera, StraightDownShowsNorthUpAndEastRight) {
    ViewCamera camera;
    camera.target = {0, 0, 0};
    camera.distance = 3000;
    camera.yaw = 0;
    camera.pitch = std::numbers::pi / 2;
    const Viewport viewport{400, 400};
    const ScreenPoint centre = MustProject(camera, viewport, {0, 0, 0});
    EXPECT_NEAR(centre.x, 200, 1e-9);
    EXPECT_NEAR(centre.y, 200, 1e-9);
    const ScreenPoint north = MustProject(camera, viewport, {-500, 0, 0});
    EXPECT_LT(north.y, 200 - 1);
    EXPECT_NEAR(north.x, 200, 1e-9);
    const ScreenPoint east = MustProject(camera, viewport, {0, 500, 0});
    EXPECT_GT(east.x, 200 + 1);
    EXPECT_NEAR(east.y, 200, 1e-9);
}

TEST(ViewCamera, PickRayAndProjectAreInverse) {
    ViewCamera camera = FitCamera(kTerrain, {640, 480});
    Orbit(camera, 37, -12);
    const Viewport viewport{640, 480};
    for (const Vec3 p : {Vec3{0, 0, 0}, Vec3{-900, 300, 480}, Vec3{700, -650, 20}}) {
        const ScreenPoint s = MustProject(camera, viewport, p);
        const Ray ray = PickRay(camera, viewport, s.x, s.y);
        EXPECT_NEAR(Length(ray.direction), 1, 1e-12);
        EXPECT_LT(DistanceToRay(ray, p), 1e-9 * camera.distance);
    }
    for (const auto& [x, y] : {std::pair{0.0, 0.0}, {639.5, 12.25}, {320.0, 479.0}}) {
        const Ray ray = PickRay(camera, viewport, x, y);
        const ScreenPoint back = MustProject(camera, viewport, ray.origin + ray.direction * 1234.5);
        EXPECT_NEAR(back.x, x, 1e-9);
        EXPECT_NEAR(back.y, y, 1e-9);
    }
}

TEST(ViewCamera, MatricesAgreeWithProject) {
    ViewCamera camera = FitCamera(kTerrain, {800, 600});
    Orbit(camera, -80, 25);
    const Viewport viewport{800, 600};
    const Mat4 clip = Multiply(ProjectionMatrix(camera, viewport, kTerrain), ViewMatrix(camera));
    double previousDepth = -2;
    // Points further and further from the eye, all inside the box's sphere.
    const CameraBasis axes = BasisOf(camera);
    for (const double ahead : {-600.0, 0.0, 700.0}) {
        const Vec3 p = camera.target - axes.back * ahead + axes.right * 100;
        double c[4];
        for (int r = 0; r < 4; ++r)
            c[r] = clip[r] * p.x + clip[4 + r] * p.y + clip[8 + r] * p.z + clip[12 + r];
        const ScreenPoint s = MustProject(camera, viewport, p);
        EXPECT_NEAR((c[0] / c[3] + 1) * 400, s.x, 1e-6);
        EXPECT_NEAR((1 - c[1] / c[3]) * 300, s.y, 1e-6);
        const double depth = c[2] / c[3];
        EXPECT_GT(depth, -1);
        EXPECT_LT(depth, 1);
        EXPECT_GT(depth, previousDepth);
        previousDepth = depth;
    }
}

TEST(ViewCamera, OrbitFollowsTheMouseAndComesBack) {
    const ViewCamera start = FitCamera(kTerrain, {640, 480});
    const Viewport viewport{640, 480};
    // A point on the ground between the target and the eye.
    const CameraBasis axes = BasisOf(start);
    const Vec3 near = start.target + Vec3{axes.back.x, axes.back.y, 0} * (start.distance / 3);

    ViewCamera right = start;
    Orbit(right, 40, 0);
    EXPECT_GT(MustProject(right, viewport, near).x, MustProject(start, viewport, near).x + 1);
    EXPECT_EQ(right.pitch, start.pitch);
    EXPECT_EQ(right.distance, start.distance);

    ViewCamera down = start;
    Orbit(down, 0, 30);
    EXPECT_GT(down.pitch, start.pitch);

    ViewCamera back = right;
    Orbit(back, -40, 0);
    EXPECT_NEAR(back.yaw, start.yaw, 1e-12);

    ViewCamera over = start;
    Orbit(over, 0, 100000);
    EXPECT_EQ(over.pitch, std::numbers::pi / 2);
    Orbit(over, 0, -100000);
    EXPECT_EQ(over.pitch, -std::numbers::pi / 2);
    // Whole turns do not let the yaw grow without bound.
    ViewCamera spun = start;
    for (int i = 0; i < 1000; ++i)
        Orbit(spun, 629, 0);
    EXPECT_LE(std::fabs(spun.yaw), std::numbers::pi);
}

TEST(ViewCamera, PanMovesPointsAtTheTargetDepthByTheDrag) {
    ViewCamera camera = FitCamera(kTerrain, {640, 480});
    Orbit(camera, 15, 10);
    const Viewport viewport{640, 480};
    const ScreenPoint before = MustProject(camera, viewport, camera.target);
    const Vec3 target = camera.target;
    Pan(camera, 25, -14, viewport);
    const ScreenPoint after = MustProject(camera, viewport, target);
    EXPECT_NEAR(after.x - before.x, 25, 1e-9);
    EXPECT_NEAR(after.y - before.y, -14, 1e-9);
}

TEST(ViewCamera, ZoomKeepsThePointUnderTheCursor) {
    ViewCamera camera = FitCamera(kTerrain, {640, 480});
    const Viewport viewport{640, 480};
    const Vec3 point{600, -200, 120};
    const ScreenPoint before = MustProject(camera, viewport, point);
    const double distance = camera.distance;

    ZoomTowards(camera, point, 0.5, 1, 1e6);
    EXPECT_NEAR(camera.distance, distance * 0.5, 1e-9);
    ScreenPoint s = MustProject(camera, viewport, point);
    EXPECT_NEAR(s.x, before.x, 1e-7);
    EXPECT_NEAR(s.y, before.y, 1e-7);

    // However far the wheel turns, the distance stops at its limits and the
    // point stays put.
    for (int i = 0; i < 200; ++i)
        ZoomTowards(camera, point, 0.8, 10, 1e5);
    EXPECT_EQ(camera.distance, 10);
    s = MustProject(camera, viewport, point);
    EXPECT_NEAR(s.x, before.x, 1e-6);
    EXPECT_NEAR(s.y, before.y, 1e-6);
    for (int i = 0; i < 200; ++i)
        ZoomTowards(camera, point, 1.25, 10, 1e5);
    EXPECT_EQ(camera.distance, 1e5);
}

TEST(ViewCamera, ProjectRefusesPointsBehindTheEye) {
    const ViewCamera camera = FitCamera(kTerrain, {640, 480});
    const Vec3 eye = EyeOf(camera);
    EXPECT_FALSE(Project(camera, {640, 480}, eye));
    EXPECT_FALSE(Project(camera, {640, 480}, eye + BasisOf(camera).back * 10));
}

TEST(RayHits, WorkedTriangleAndPlane) {
    const Ray down{{0.25, 0.25, 10}, {0, 0, -1}};
    const Vec3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0};
    EXPECT_EQ(HitTriangle(down, a, b, c), 10.0);
    EXPECT_EQ(HitTriangle(down, a, c, b), 10.0) << "either side";
    EXPECT_FALSE(HitTriangle({{0.75, 0.75, 10}, {0, 0, -1}}, a, b, c));
    EXPECT_FALSE(HitTriangle({{0.25, 0.25, -10}, {0, 0, -1}}, a, b, c)) << "behind";
    EXPECT_FALSE(HitTriangle({{0.25, 0.25, 0}, {1, 0, 0}}, a, b, c)) << "in its plane";
    EXPECT_FALSE(HitTriangle(down, a, b, b)) << "degenerate";

    EXPECT_EQ(HitPlaneZ(down, 4), 6.0);
    EXPECT_FALSE(HitPlaneZ(down, 12));
    EXPECT_FALSE(HitPlaneZ({{0, 0, 1}, {1, 0, 0}}, 0));
}

TEST(Bounds, GrowsFromEmpty) {
    Bounds b;
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.radius(), 0);
    b.add({1, 2, 3});
    EXPECT_FALSE(b.empty());
    EXPECT_EQ(b.radius(), 0);
    b.add({-3, 2, 6});
    EXPECT_EQ(b.min, (Vec3{-3, 2, 3}));
    EXPECT_EQ(b.max, (Vec3{1, 2, 6}));
    EXPECT_EQ(b.radius(), 2.5);
}
