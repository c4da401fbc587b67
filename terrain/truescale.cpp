#include "terrain/truescale.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/error.h"
#include "base/messages.h"

namespace talorin {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180;

// A value with one decimal and its thousands grouped: 2180.5 → "2,180.5".
std::string Grouped(double value) {
    char digits[64];
    const int length = std::snprintf(digits, sizeof digits, "%.1f", value);
    const char* begin = digits;
    std::string out;
    if (*begin == '-') {
        out += '-';
        ++begin;
    }
    const char* point = digits + length - 2; // "%.1f" ends in ".d"
    for (const char* c = begin; c < point; ++c) {
        out += *c;
        const long left = point - c - 1;
        if (left > 0 && left % 3 == 0)
            out += ',';
    }
    return out + point;
}

} // namespace

double MetresPerDegreeLatitude(double latitude) {
    const double p = latitude * kDegree;
    return 111132.92 - 559.82 * std::cos(2 * p) + 1.175 * std::cos(4 * p) -
           0.0023 * std::cos(6 * p);
}

double MetresPerDegreeLongitude(double latitude) {
    const double p = latitude * kDegree;
    return 111412.84 * std::cos(p) - 93.5 * std::cos(3 * p) + 0.118 * std::cos(5 * p);
}

std::string TrueScaleUnavailableReason(const Bitmap& image) {
    const Elevation* elevation = image.elevation();
    if (elevation == nullptr)
        return Text(Msg::NotElevation);
    if (elevation->units == GroundUnits::None)
        return elevation->notGeoreferenced;
    return {};
}

TrueScale ComputeTrueScale(const Bitmap& image, double exaggeration) {
    const std::string reason = TrueScaleUnavailableReason(image);
    if (!reason.empty())
        throw Error(Text(Msg::NoTrueScale, {reason}));
    const Elevation& e = *image.elevation();
    double metresX = e.pixelWidth;
    double metresY = e.pixelHeight;
    if (e.units == GroundUnits::Degrees) {
        metresX *= MetresPerDegreeLongitude(e.centreLatitude);
        metresY *= MetresPerDegreeLatitude(e.centreLatitude);
    }
    const int spanX = image.width() - 1;
    const int spanY = image.height() - 1;
    TrueScale scale;
    scale.size = spanX >= spanY ? spanX * metresX : spanY * metresY;
    scale.height = (e.maximum - e.minimum) * exaggeration;
    return scale;
}

std::string MetresText(double metres) {
    const double rounded = std::round(metres * 1000) / 1000;
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, rounded);
    return std::string(text, result.ptr);
}

std::string ElevationRangeText(const Elevation& elevation) {
    return Text(Msg::ElevationRange, {Grouped(elevation.minimum), Grouped(elevation.maximum)});
}

} // namespace talorin
