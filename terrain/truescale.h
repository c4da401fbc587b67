#pragma once
// True scale: the size and height of a terrain made from a georeferenced
// elevation raster, in metres, as the land itself measures.

#include <string>

#include "image/bitmap.h"

namespace talorin {

struct TrueScale {
    double size = 0;   // the real extent along the raster's longer side
    double height = 0; // the real relief (maximum - minimum) times the exaggeration
};

// Metres per degree of latitude and of longitude at a latitude (degrees), on
// the WGS 84 ellipsoid, by the usual cosine series:
//   latitude:  111132.92 - 559.82 cos 2p + 1.175 cos 4p - 0.0023 cos 6p
//   longitude: 111412.84 cos p - 93.5 cos 3p + 0.118 cos 5p
double MetresPerDegreeLatitude(double latitude);
double MetresPerDegreeLongitude(double latitude);

// Why image cannot be made at true scale (in the program's language), or
// empty when it can.
std::string TrueScaleUnavailableReason(const Bitmap& image);

// The true scale of image with the relief times exaggeration (finite, > 0).
// The size spans (samples - 1) pixels along the longer side, as the terrain
// does with its proportions kept. Throws talorin::Error (BadInput) naming the
// reason when TrueScaleUnavailableReason gives one.
TrueScale ComputeTrueScale(const Bitmap& image, double exaggeration);

// A length in metres as the text a user would type in a size or height
// field: rounded to the millimetre, no more digits than needed.
std::string MetresText(double metres);

// The range of an elevation raster as shown beside its name:
// "標高 312.0 – 2,180.5 m" (one decimal, thousands grouped), in English
// "Elevation 312.0 – 2,180.5 m".
std::string ElevationRangeText(const Elevation& elevation);

} // namespace talorin
