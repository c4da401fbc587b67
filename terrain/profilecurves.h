#pragma once
// ShapeCurves: the mountain-profile curve functions. Plain functions, no state.
//
// Floating-point faults are errors in this program, but C++ does not trap
// them, so every step that can fault is checked and throws talorin::FloatFault
// (shape/error.h) with the fault's text. The checked steps below serve the
// curves, the lattice editing and the generator alike.

#include <cmath>

namespace talorin {

// |base| raised to exponent as exp(exponent * ln|base|); 0 when base is 0.
// Throws FloatFault on overflow (or an invalid operation for non-finite input).
double CurvePower(double base, double exponent);

// From (x0, y0) to (x1, y1) along ((x - x0) / (x1 - x0))^e. A box with
// x1 == x0, or an exponent so large that the box's power underflows to 0,
// divides by zero and throws FloatFault.
double RiseCurve(double y0, double y1, double x0, double x1, double x, double e);
// RiseCurve turned a half turn about the centre of its box.
double MirrorCurve(double y0, double y1, double x0, double x1, double x, double e);
// RiseCurve up to the box's centre, MirrorCurve from there on.
double SCurve(double y0, double y1, double x0, double x1, double x, double e);

// --- Checked floating-point steps ------------------------------------------
// Each computes the plain IEEE result and throws FloatFault when it is a fault:
// a result that is not a number is an invalid operation (0/0, inf - inf, 0 *
// inf, or a NaN operand); an infinite result of finite operands is a division
// by zero (finite / 0) or an overflow. An infinite operand passes through
// silently, as in IEEE arithmetic. The non-finite case is kept out of line.

// Throws for the non-finite result r of a op b, or returns r when r is an
// infinity carried over from an infinite operand.
double CheckedResult(double r, double a, double b, bool division);

inline double CheckedAdd(double a, double b) {
    const double r = a + b;
    return std::isfinite(r) ? r : CheckedResult(r, a, b, false);
}
inline double CheckedSub(double a, double b) {
    const double r = a - b;
    return std::isfinite(r) ? r : CheckedResult(r, a, b, false);
}
inline double CheckedMul(double a, double b) {
    const double r = a * b;
    return std::isfinite(r) ? r : CheckedResult(r, a, b, false);
}
inline double CheckedDiv(double a, double b) {
    const double r = a / b;
    return std::isfinite(r) ? r : CheckedResult(r, a, b, true);
}

} // namespace talorin
