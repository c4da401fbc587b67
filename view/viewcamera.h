#pragma once
// The camera of the 3D view and the picking math behind its navigation:
// plain values and functions, so that every rule of the navigation can be
// checked without a window or a graphics driver.
//
// World frame: the .suf frame. X runs down the image (south), Y across it
// (east), Z up; this is right-handed. Screen: pixels, x from the left edge,
// y from the top edge.

#include <array>
#include <optional>

#include "shape/meshgeometry.h"

namespace talorin {

// An axis-aligned box; empty (min > max) until a point is added.
struct Bounds {
    Vec3 min{1, 1, 1};
    Vec3 max{-1, -1, -1};
    bool empty() const { return min.x > max.x; }
    void add(Vec3 p);
    Vec3 centre() const { return (min + max) * 0.5; }
    // Half the diagonal: the radius of the sphere around centre() that holds the box.
    double radius() const { return empty() ? 0.0 : Length(max - min) * 0.5; }
};

// 4 x 4 matrix in the order OpenGL takes it: element (row r, column c) at [c * 4 + r].
using Mat4 = std::array<double, 16>;
Mat4 Multiply(const Mat4& a, const Mat4& b);

struct Viewport {
    double width = 1;  // pixels, > 0
    double height = 1; // pixels, > 0
    double aspect() const { return width / height; }
};

// An orbiting camera: the eye looks at target from distance, from the
// direction given by yaw (radians, measured in the ground plane from +X toward
// +Y) and pitch (radians above the ground plane, -pi/2..pi/2). At pitch pi/2
// and yaw 0 the view is straight down with north (-X) at the top of the screen.
struct ViewCamera {
    Vec3 target;
    double distance = 1; // > 0
    double yaw = 0;
    double pitch = 0;
    double fovY = 0.6981317007977318; // vertical field of view: 40 degrees
    friend bool operator==(const ViewCamera&, const ViewCamera&) = default;
};

// The camera's unit axes in the world: right and up on the screen, and back
// (from the target toward the eye).
struct CameraBasis {
    Vec3 right, up, back;
};
CameraBasis BasisOf(const ViewCamera& camera);
Vec3 EyeOf(const ViewCamera& camera);

// The first view of a terrain: seen from the south-east (yaw 45 degrees) at
// 35 degrees elevation, looking at the box's centre from the least distance at
// which all eight corners of the box lie inside the middle 90 % of the
// viewport. An empty box gives a camera on a unit box around the origin.
ViewCamera FitCamera(const Bounds& bounds, const Viewport& viewport);

// Orbits around the target for a drag of (dx, dy) pixels: the scene follows
// the mouse (a drag to the right turns it to the right, a drag downwards tilts
// its top towards the viewer). Pitch stays within -pi/2..pi/2.
void Orbit(ViewCamera& camera, double dx, double dy);

// Moves the target across the screen so that points at the target's depth
// follow a drag of (dx, dy) pixels exactly.
void Pan(ViewCamera& camera, double dx, double dy, const Viewport& viewport);

// Scales the camera about point by factor (below 1 comes closer): point keeps
// its place on the screen. The distance stays within minDistance..maxDistance
// (factor is cut to fit), so no number of wheel turns can put the eye through
// the terrain or lose it in the distance.
void ZoomTowards(ViewCamera& camera, Vec3 point, double factor, double minDistance,
                 double maxDistance);

// World to eye space.
Mat4 ViewMatrix(const ViewCamera& camera);
// Eye space to clip space, OpenGL conventions (depth -1..1). The near and far
// planes enclose the sphere around bounds with a little room; an empty box
// is treated as a unit sphere around the target.
Mat4 ProjectionMatrix(const ViewCamera& camera, const Viewport& viewport, const Bounds& bounds);

struct ScreenPoint {
    double x = 0, y = 0; // pixels
    double depth = 0;    // distance in front of the eye along the view direction
};
// Where p appears on the screen; nothing when p lies behind or at the eye.
std::optional<ScreenPoint> Project(const ViewCamera& camera, const Viewport& viewport, Vec3 p);

struct Ray {
    Vec3 origin;
    Vec3 direction; // unit length
};
// The ray from the eye through screen point (x, y).
Ray PickRay(const ViewCamera& camera, const Viewport& viewport, double x, double y);

// The distance along ray at which it meets the plane Z = z, or nothing when it
// runs parallel to it or meets it behind the origin.
std::optional<double> HitPlaneZ(const Ray& ray, double z);

// The distance along ray to triangle (a, b, c), either side, or nothing.
std::optional<double> HitTriangle(const Ray& ray, Vec3 a, Vec3 b, Vec3 c);

} // namespace talorin
