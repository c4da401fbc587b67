#include "terrain/lattice.h"

#include <cmath>

#include "terrain/profilecurves.h"
#include "base/error.h"

namespace talorin {

void CheckDensity(int paMax) {
    if (paMax < 1 || paMax > kMaxPaMax)
        throw Error(Text(Msg::LatticeDensity));
}

namespace {

double PointDistance(double a, double b) {
    return std::sqrt(CheckedAdd(CheckedMul(a, a), CheckedMul(b, b)));
}

} // namespace

MeshLattice InitMeshLattice(int width, int height, int paMax) {
    CheckDensity(paMax);
    const int spanX = width - 1;
    const int spanY = height - 1;
    const double dx = double(spanX) / paMax;
    const double dy = double(spanY) / paMax;
    // Running sums, not i * dx: the last point may differ from the span in the
    // last bits, and every user of the lattice sees exactly these values.
    MeshLattice mesh{};
    double x = 0;
    for (int i = 0; i <= paMax; ++i) {
        double y = 0;
        for (int j = 0; j <= paMax; ++j) {
            mesh[i][j] = {x, y};
            y = y + dy;
        }
        x = x + dx;
    }
    return mesh;
}

MeshLattice InitMeshLattice(const Bitmap& image, int paMax) {
    return InitMeshLattice(image.width(), image.height(), paMax);
}

void AdjustMeshDensity(MeshLattice& mesh, int paMax, int clickX, int clickY,
                       std::uint8_t clickButton, double scaleX, double scaleY, int boxWidth,
                       int boxHeight) {
    CheckDensity(paMax);
    if (clickButton != kLeftButton && clickButton != kRightButton)
        return;
    const double diag = PointDistance(boxWidth, boxHeight);
    const double quarter = double(paMax) / 4;
    const double k = quarter * quarter;
    const double mx = clickX;
    const double my = clickY;
    const MeshPoint low = mesh[0][0];
    const MeshPoint high = mesh[paMax][paMax];

    for (int i = 1; i < paMax; ++i) {
        for (int j = 1; j < paMax; ++j) {
            MeshPoint& point = mesh[i][j];
            const double px = CheckedMul(point.X, scaleX);
            const double py = CheckedMul(point.Y, scaleY);
            const double dist = PointDistance(CheckedSub(mx, px), CheckedSub(my, py));
            if (dist == 0)
                continue;
            const double f = CheckedDiv(CheckedDiv(diag, CheckedMul(dist, dist)), k);
            if (clickButton == kLeftButton) {
                const double nx = CheckedAdd(px, CheckedMul(CheckedSub(mx, px), f));
                const double ny = CheckedAdd(py, CheckedMul(CheckedSub(my, py), f));
                // A pull that overshoots by more than the distance lands on the press.
                if (PointDistance(CheckedSub(mx, nx), CheckedSub(my, ny)) > dist)
                    point = {CheckedDiv(mx, scaleX), CheckedDiv(my, scaleY)};
                else
                    point = {CheckedDiv(nx, scaleX), CheckedDiv(ny, scaleY)};
            } else {
                const double nx = CheckedSub(px, CheckedMul(CheckedSub(mx, px), f));
                const double ny = CheckedSub(py, CheckedMul(CheckedSub(my, py), f));
                point = {CheckedDiv(nx, scaleX), CheckedDiv(ny, scaleY)};
                if (point.X < low.X)
                    point.X = low.X;
                if (point.Y < low.Y)
                    point.Y = low.Y;
                if (point.X > high.X)
                    point.X = high.X;
                if (point.Y > high.Y)
                    point.Y = high.Y;
            }
        }
    }
}

} // namespace talorin
