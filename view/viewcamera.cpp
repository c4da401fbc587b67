#include "view/viewcamera.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace talorin {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr double kHomeYaw = 45.0 * kDegree;   // from the south-east
constexpr double kHomePitch = 35.0 * kDegree; // elevation of the first view
constexpr double kFitMargin = 0.9;            // the box fills the middle 90 %
constexpr double kOrbitPerPixel = 0.01;       // radians per pixel of drag
constexpr double kHalfPi = std::numbers::pi / 2.0;

} // namespace

void Bounds::add(Vec3 p) {
    if (empty()) {
        min = max = p;
        return;
    }
    min = {std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z)};
    max = {std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z)};
}

Mat4 Multiply(const Mat4& a, const Mat4& b) {
    Mat4 m{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            double sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += a[k * 4 + r] * b[c * 4 + k];
            m[c * 4 + r] = sum;
        }
    return m;
}

CameraBasis BasisOf(const ViewCamera& camera) {
    const double cp = std::cos(camera.pitch), sp = std::sin(camera.pitch);
    const double cy = std::cos(camera.yaw), sy = std::sin(camera.yaw);
    const Vec3 back{cp * cy, cp * sy, sp};
    // The right axis stays in the ground plane, so the horizon never rolls and
    // the straight-down view is still well defined.
    const Vec3 right{-sy, cy, 0};
    return {right, Cross(back, right), back};
}

Vec3 EyeOf(const ViewCamera& camera) {
    return camera.target + BasisOf(camera).back * camera.distance;
}

ViewCamera FitCamera(const Bounds& bounds, const Viewport& viewport) {
    Bounds box = bounds;
    if (box.empty()) {
        box.add({-1, -1, -1});
        box.add({1, 1, 1});
    }
    ViewCamera camera;
    camera.target = box.centre();
    camera.yaw = kHomeYaw;
    camera.pitch = kHomePitch;
    const CameraBasis axes = BasisOf(camera);
    const double tanY = std::tan(camera.fovY / 2) * kFitMargin;
    const double tanX = std::tan(camera.fovY / 2) * viewport.aspect() * kFitMargin;

    // Each corner asks for a least distance at which it projects inside the
    // margin; the fit is the largest of them.
    double distance = 0;
    double nearest = -1e300;
    for (int i = 0; i < 8; ++i) {
        const Vec3 corner{(i & 1) ? box.max.x : box.min.x, (i & 2) ? box.max.y : box.min.y,
                          (i & 4) ? box.max.z : box.min.z};
        const Vec3 rel = corner - camera.target;
        const double cx = Dot(rel, axes.right), cy = Dot(rel, axes.up);
        const double cz = Dot(rel, axes.back);
        distance = std::max({distance, cz + std::fabs(cx) / tanX, cz + std::fabs(cy) / tanY});
        nearest = std::max(nearest, cz);
    }
    // A box that is a single point still needs the eye somewhere in front of it.
    if (!(distance > nearest) || distance <= 0)
        distance = std::max(nearest, 0.0) + 1.0;
    camera.distance = distance;
    return camera;
}

void Orbit(ViewCamera& camera, double dx, double dy) {
    camera.yaw -= dx * kOrbitPerPixel;
    camera.yaw = std::remainder(camera.yaw, 2 * std::numbers::pi);
    camera.pitch = std::clamp(camera.pitch + dy * kOrbitPerPixel, -kHalfPi, kHalfPi);
}

void Pan(ViewCamera& camera, double dx, double dy, const Viewport& viewport) {
    const CameraBasis axes = BasisOf(camera);
    const double perPixel = 2 * camera.distance * std::tan(camera.fovY / 2) / viewport.height;
    camera.target = camera.target - axes.right * (dx * perPixel) + axes.up * (dy * perPixel);
}

void ZoomTowards(ViewCamera& camera, Vec3 point, double factor, double minDistance,
                 double maxDistance) {
    const double wanted = std::clamp(camera.distance * factor, minDistance, maxDistance);
    const double f = wanted / camera.distance;
    camera.target = point + (camera.target - point) * f;
    camera.distance = wanted;
}

Mat4 ViewMatrix(const ViewCamera& camera) {
    const CameraBasis a = BasisOf(camera);
    const Vec3 eye = EyeOf(camera);
    Mat4 m{};
    const Vec3 rows[3] = {a.right, a.up, a.back};
    for (int r = 0; r < 3; ++r) {
        m[0 * 4 + r] = rows[r].x;
        m[1 * 4 + r] = rows[r].y;
        m[2 * 4 + r] = rows[r].z;
        m[3 * 4 + r] = -Dot(rows[r], eye);
    }
    m[15] = 1;
    return m;
}

Mat4 ProjectionMatrix(const ViewCamera& camera, const Viewport& viewport, const Bounds& bounds) {
    const Vec3 centre = bounds.empty() ? camera.target : bounds.centre();
    const double radius = bounds.empty() ? 1.0 : std::max(bounds.radius(), 1e-6);
    const double eyeToCentre = Length(EyeOf(camera) - centre);
    const double far = eyeToCentre + radius * 1.1;
    // Inside the sphere the near plane cannot clear it; keep the depth range
    // at a ratio a 24-bit depth buffer still resolves.
    const double near = std::max(eyeToCentre - radius * 1.1, far * 1e-4);
    const double f = 1.0 / std::tan(camera.fovY / 2);
    Mat4 m{};
    m[0] = f / viewport.aspect();
    m[5] = f;
    m[10] = (far + near) / (near - far);
    m[11] = -1;
    m[14] = 2 * far * near / (near - far);
    return m;
}

std::optional<ScreenPoint> Project(const ViewCamera& camera, const Viewport& viewport, Vec3 p) {
    const CameraBasis a = BasisOf(camera);
    const Vec3 rel = p - EyeOf(camera);
    const double depth = -Dot(rel, a.back);
    if (!(depth > 0))
        return std::nullopt;
    const double tanY = std::tan(camera.fovY / 2);
    const double ndcX = Dot(rel, a.right) / (depth * tanY * viewport.aspect());
    const double ndcY = Dot(rel, a.up) / (depth * tanY);
    return ScreenPoint{(ndcX + 1) * viewport.width / 2, (1 - ndcY) * viewport.height / 2, depth};
}

Ray PickRay(const ViewCamera& camera, const Viewport& viewport, double x, double y) {
    const CameraBasis a = BasisOf(camera);
    const double tanY = std::tan(camera.fovY / 2);
    const double ndcX = 2 * x / viewport.width - 1;
    const double ndcY = 1 - 2 * y / viewport.height;
    const Vec3 direction =
        a.right * (ndcX * tanY * viewport.aspect()) + a.up * (ndcY * tanY) - a.back;
    return {EyeOf(camera), Normalized(direction)};
}

std::optional<double> HitPlaneZ(const Ray& ray, double z) {
    if (std::fabs(ray.direction.z) < 1e-12)
        return std::nullopt;
    const double t = (z - ray.origin.z) / ray.direction.z;
    if (!(t >= 0))
        return std::nullopt;
    return t;
}

std::optional<double> HitTriangle(const Ray& ray, Vec3 a, Vec3 b, Vec3 c) {
    const Vec3 e1 = b - a, e2 = c - a;
    const Vec3 p = Cross(ray.direction, e2);
    const double det = Dot(e1, p);
    const double scale = Length(e1) * Length(e2);
    if (!(std::fabs(det) > 1e-12 * scale))
        return std::nullopt; // parallel to the plane, or a degenerate triangle
    const double inv = 1.0 / det;
    const Vec3 s = ray.origin - a;
    const double u = Dot(s, p) * inv;
    if (u < 0 || u > 1)
        return std::nullopt;
    const Vec3 q = Cross(s, e1);
    const double v = Dot(ray.direction, q) * inv;
    if (v < 0 || u + v > 1)
        return std::nullopt;
    const double t = Dot(e2, q) * inv;
    if (!(t >= 0))
        return std::nullopt;
    return t;
}

} // namespace talorin
