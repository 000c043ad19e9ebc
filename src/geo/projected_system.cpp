// CTKProCoordinateSystem: construction, comparison, UTM zone codes and the
// EPSG codes of the Chinese Gauss-Kruger systems and of WGS 84 UTM.
#include <climits>
#include <cmath>

#include "tavikfcu/TKGeo.h"

namespace {

// UTM: zones of 6 degrees numbered 1..60 eastwards from 180°W; k0 = 0.9996,
// FE = 500 km, FN = 10000 km in the southern hemisphere.
constexpr int kUtmZoneCount = 60;
constexpr double kUtmScaleFactor = 0.9996;
constexpr double kUtmScaleTolerance = 0.0001;
constexpr double kUtmFalseEasting = 500000.0;
constexpr double kUtmFalseNorthingSouth = 10000000.0;
constexpr double kMetreTolerance = 0.001;

// Gauss-Kruger systems of the EPSG tables below: FE 500 km with no zone
// number in front, FN 0, k0 1.
constexpr double kGaussKrugerFalseEasting = 500000.0;

// One inclusive range of EPSG codes. For Gauss-Kruger ranges the central
// meridian is slope * code + offset (whole degrees); UTM ranges derive the
// zone as code - zoneBase, negated for the southern hemisphere.
struct EpsgRange {
    int first;
    int last;
    CTKGeoCoordinateSystem* ellipsoid;  // read at the moment of the call
    CTKProCoordinateSystem::EPCSType type;
    bool utm;
    int slope;    // Gauss-Kruger: degrees per code
    int offset;   // Gauss-Kruger: central meridian of code 0
    int utmSign;  // UTM: +1 north, -1 south (zone = sign * (code - zoneBase))
    int zoneBase;
};

using G = CTKGeoCoordinateSystem;
using P = CTKProCoordinateSystem;

// Every range spans central meridians 75°E .. 135°E (or UTM zones 1..60).
const EpsgRange kEpsgRanges[] = {
    // Xian 1980 6-degree GK, zones 13..23 and the same by meridian 75E..135E.
    {2327, 2337, &G::XiAn80, P::ePCS_XiAn80, false, 6, -13887, 0, 0},
    {2338, 2348, &G::XiAn80, P::ePCS_XiAn80, false, 6, -13953, 0, 0},
    // Xian 1980 3-degree GK, zones 25..45 and by meridian.
    {2349, 2369, &G::XiAn80, P::ePCS_XiAn80, false, 3, -3 * 2324, 0, 0},
    {2370, 2390, &G::XiAn80, P::ePCS_XiAn80, false, 3, -3 * 2345, 0, 0},
    // Beijing 1954 3-degree GK, zones 25..45 and by meridian.
    {2401, 2421, &G::Beijing54, P::ePCS_Beijing54, false, 3, -3 * 2376, 0, 0},
    {2422, 2442, &G::Beijing54, P::ePCS_Beijing54, false, 3, -3 * 2397, 0, 0},
    // CGCS2000 3-degree GK, zones 25..45 and by meridian.
    {4513, 4533, &G::CGCS2000, P::ePCS_CGCS2000, false, 3, -3 * 4488, 0, 0},
    {4534, 4554, &G::CGCS2000, P::ePCS_CGCS2000, false, 3, -3 * 4509, 0, 0},
    // WGS 84 UTM north and south.
    {32601, 32660, &G::WGS84, P::ePCS_WGS84UTM, true, 0, 0, +1, 32600},
    {32701, 32760, &G::WGS84, P::ePCS_WGS84UTM, true, 0, 0, -1, 32700},
};

}  // namespace

static_assert(sizeof(CTKProCoordinateSystem) == sizeof(CTKGeoCoordinateSystem) + 4 * sizeof(double),
              "a projected system is its ellipsoid and four numbers");

CTKProCoordinateSystem::CTKProCoordinateSystem()
    : CTKProCoordinateSystem(CTKGeoCoordinateSystem::Beijing54, 120.0, kGaussKrugerFalseEasting,
                             0.0, 1.0) {}

CTKProCoordinateSystem::CTKProCoordinateSystem(const CTKGeoCoordinateSystem& geo,
                                               double centralMeridian, double falseEasting,
                                               double falseNorthing, double scaleFactor)
    : m_geo(geo),
      m_centralMeridian(centralMeridian),
      m_falseEasting(falseEasting),
      m_falseNorthing(falseNorthing),
      m_scaleFactor(scaleFactor) {}

void CTKProCoordinateSystem::set(const CTKGeoCoordinateSystem& geo, double centralMeridian,
                                 double falseEasting, double falseNorthing, double scaleFactor) {
    m_geo = geo;
    m_centralMeridian = centralMeridian;
    m_falseEasting = falseEasting;
    m_falseNorthing = falseNorthing;
    m_scaleFactor = scaleFactor;
}

bool CTKProCoordinateSystem::operator==(const CTKProCoordinateSystem& other) const {
    return m_geo == other.m_geo && std::fabs(m_centralMeridian - other.m_centralMeridian) < 1e-6 &&
           std::fabs(m_falseEasting - other.m_falseEasting) < kMetreTolerance &&
           std::fabs(m_falseNorthing - other.m_falseNorthing) < kMetreTolerance &&
           std::fabs(m_scaleFactor - other.m_scaleFactor) < 0.001;
}

bool CTKProCoordinateSystem::IsUTM() const {
    return std::fabs(m_scaleFactor - kUtmScaleFactor) < kUtmScaleTolerance;
}

bool CTKProCoordinateSystem::setByUTMCode(int code) {
    if (code == 0 || code < -kUtmZoneCount || code > kUtmZoneCount) return false;
    const int zone = code < 0 ? -code : code;
    set(CTKGeoCoordinateSystem::WGS84, std::trunc(6.0 * zone - 183.0), kUtmFalseEasting,
        code < 0 ? kUtmFalseNorthingSouth : 0.0, kUtmScaleFactor);
    return true;
}

int CTKProCoordinateSystem::GetUTMCode() const {
    if (!IsUTM()) return 0;
    if (std::fabs(m_falseNorthing) > kMetreTolerance &&
        std::fabs(m_falseNorthing - kUtmFalseNorthingSouth) > kMetreTolerance)
        return 0;
    if (std::fabs(m_falseEasting - kUtmFalseEasting) > kMetreTolerance) return 0;
    // Truncation towards zero. A meridian so far off that the zone is no int
    // (or NaN) cannot be a zone at all.
    const double zone = std::trunc((m_centralMeridian + 183.0) / 6.0);
    if (!(zone > INT_MIN && zone < INT_MAX)) return 0;
    const int z = static_cast<int>(zone);
    const bool south = std::fabs(m_falseNorthing - kUtmFalseNorthingSouth) <= kMetreTolerance;
    return south ? -z : z;
}

bool CTKProCoordinateSystem::setByEPSGCode(int code, EPCSType& type) {
    for (const EpsgRange& range : kEpsgRanges) {
        if (code < range.first || code > range.last) continue;
        if (range.utm) {
            // The zone is 1..60 by the range bounds; setByUTMCode takes WGS84.
            if (!setByUTMCode(range.utmSign * (code - range.zoneBase))) return false;
        } else {
            set(*range.ellipsoid, static_cast<double>(range.slope * code + range.offset),
                kGaussKrugerFalseEasting, 0.0, 1.0);
        }
        type = range.type;
        return true;
    }
    return false;
}
