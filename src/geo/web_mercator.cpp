// Spherical ("Web") Mercator, EPSG:3857 style, on the sphere R = 6378137 m:
//   x = R lambda,  y = R ln tan(pi/4 + phi/2)
// written in degrees through the half-extent H = pi R = 20037508.3427892 m
// (the x of longitude 180). Inverse: phi = 2 atan(exp(y/R)) - pi/2.
// Exact up to rounding (about 1e-9 m, 1e-14 degrees); no clamping, so the
// poles map to infinity and latitudes beyond ±90 to NaN.
#include <cmath>

#include "tavikfcu/TKGeo.h"

namespace {

constexpr double kHalfExtent = 20037508.3427892;  // pi * 6378137, 15 digits
constexpr double kPi = 3.141592653589793;
constexpr double kRadPerDeg = 0.017453292519943295;  // pi / 180
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kDegPerRad = 57.29577951308232;  // 180 / pi
// Rounding leaves a residue of about 1e-9 m at the equator; anything this
// close to zero is zero.
constexpr double kSnapToZero = 1e-8;

}  // namespace

namespace TKWebMercator {

void LonLat2WebMercator(double lon, double lat, double& x, double& y) {
    x = lon * kHalfExtent / 180.0;
    y = std::log(std::tan((lat + 90.0) * kPi / 360.0)) / kRadPerDeg * kHalfExtent / 180.0;
    if (std::fabs(y) < kSnapToZero) y = 0.0;
}

void WebMercator2LonLat(double x, double y, double& lon, double& lat) {
    lon = x / kHalfExtent * 180.0;
    lat = (2.0 * std::atan(std::exp(y / kHalfExtent * 180.0 * kPi / 180.0)) - kHalfPi) * kDegPerRad;
    if (std::fabs(lat) < kSnapToZero) lat = 0.0;
}

}  // namespace TKWebMercator
