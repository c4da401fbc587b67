#pragma once
// ShapeCurves: the mountain-profile curve functions. Plain functions, no state.

namespace talorin {

// |base| raised to exponent as exp(exponent * ln|base|); 0 when base is 0.
double CurvePower(double base, double exponent);

// From (x0, y0) to (x1, y1) along ((x - x0) / (x1 - x0))^e.
double RiseCurve(double y0, double y1, double x0, double x1, double x, double e);
// RiseCurve turned a half turn about the centre of its box.
double MirrorCurve(double y0, double y1, double x0, double x1, double x, double e);
// RiseCurve up to the box's centre, MirrorCurve from there on.
double SCurve(double y0, double y1, double x0, double x1, double x, double e);

} // namespace talorin
