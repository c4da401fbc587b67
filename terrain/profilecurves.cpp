#include "terrain/profilecurves.h"

#include "base/error.h"

namespace talorin {

double CheckedResult(double r, double a, double b, bool division) {
    if (std::isnan(r))
        throw FloatFault(kInvalidOperationText);
    if (!std::isfinite(a) || !std::isfinite(b))
        return r; // an infinity carried along, not a new fault
    if (division && b == 0)
        throw FloatFault(kDivideByZeroText);
    throw FloatFault(kOverflowText);
}

double CurvePower(double base, double exponent) {
    // The zero rule also keeps ln 0 (a division by zero) out of the way.
    if (base == 0)
        return 0;
    const double ln = std::log(std::fabs(base));
    if (std::isnan(ln))
        throw FloatFault(kInvalidOperationText);
    const double t = CheckedMul(exponent, ln);
    const double r = std::exp(t);
    if (std::isinf(r) && std::isfinite(t))
        throw FloatFault(kOverflowText);
    return r;
}

double RiseCurve(double y0, double y1, double x0, double x1, double x, double e) {
    const double d = CurvePower(CheckedSub(x1, x0), e);
    const double r = CheckedDiv(CheckedSub(y1, y0), d);
    return CheckedAdd(CheckedMul(CurvePower(CheckedSub(x, x0), e), r), y0);
}

double MirrorCurve(double y0, double y1, double x0, double x1, double x, double e) {
    const double reflected = CheckedSub(x1, CheckedSub(x, x0));
    return CheckedAdd(y0, CheckedSub(y1, RiseCurve(y0, y1, x0, x1, reflected, e)));
}

double SCurve(double y0, double y1, double x0, double x1, double x, double e) {
    const double xm = CheckedDiv(CheckedAdd(x0, x1), 2);
    const double ym = CheckedDiv(CheckedAdd(y0, y1), 2);
    if (x < xm)
        return RiseCurve(y0, ym, x0, xm, x, e);
    return MirrorCurve(ym, y1, xm, x1, x, e);
}

} // namespace talorin
