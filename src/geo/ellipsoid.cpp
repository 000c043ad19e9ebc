// Reference ellipsoids and the conversions between geodetic coordinates, the
// earth-centred earth-fixed (ECEF) Cartesian frame and a local east-north-up
// frame.
//
// Symbols: a, b semi-axes; f flattening; e, e' first and second
// eccentricities; n = (a - b)/(a + b) third flattening; phi geodetic
// latitude; lambda longitude; h ellipsoidal height; mu rectifying latitude.
//
// Meridian arc (classical series in e^2, truncated after e^6; error below
// 0.1 mm over a quadrant for the Earth's flattening):
//   M(phi) = a (A0 phi - A2 sin 2phi + A4 sin 4phi - A6 sin 6phi)
//   A0 = 1 - e^2/4 - 3e^4/64 - 5e^6/256     A2 = 3e^2/8 + 3e^4/32 + 45e^6/1024
//   A4 = 15e^4/256 + 45e^6/1024             A6 = 35e^6/3072
// Its inverse, the footpoint latitude (series in n, truncated after n^4):
//   phi1 = mu + F2 sin 2mu + F4 sin 4mu + F6 sin 6mu,  mu = M / (a A0)
//   F2 = 3n/2 - 27n^3/32   F4 = 21n^2/16 - 55n^4/32   F6 = 151n^3/96
// The binary fractions (0.25 = 1/4, 0.015625 = 1/64, 0.00390625 = 1/256,
// 0.125 = 1/8, 0.03125 = 1/32, 0.0009765625 = 1/1024, 0.0625 = 1/16) are the
// exact reciprocals of the textbook denominators.
#include <cmath>

#include "geo/ellipsoids.h"
#include "tavikfcu/TKGeo.h"

namespace {

// pi to double precision, for the ECEF conversions.
constexpr double kPi = 3.141592653589793;

// Equality tolerances: 1 mm on the axis, 1e-7 on the inverse flattening
// (about 1 micrometre on b).
constexpr double kAxisTolerance = 0.001;
constexpr double kInvFlatteningTolerance = 1e-7;

// Surface projection: below this value of (X/a)^2 + (Y/a)^2 + (Z/b)^2 the
// point is near the centre, where the normal is ill-defined; the radial
// intersection is taken instead of iterating.
constexpr double kCentreTolerance = 0.1;
// Newton stops when the point's ellipsoid equation is satisfied to this.
constexpr double kSurfaceTolerance = 1e-12;

}  // namespace

static_assert(sizeof(CTKGeoCoordinateSystem) == 16 * sizeof(double),
              "an ellipsoid is exactly its sixteen values");

// Constant-initialised (zero) so that no dynamic initialiser can overwrite
// what the load step writes; tk::detail::InitEllipsoids fills them.
CTKGeoCoordinateSystem CTKGeoCoordinateSystem::Beijing54{UnfilledTag{}};
CTKGeoCoordinateSystem CTKGeoCoordinateSystem::XiAn80{UnfilledTag{}};
CTKGeoCoordinateSystem CTKGeoCoordinateSystem::WGS84{UnfilledTag{}};
CTKGeoCoordinateSystem CTKGeoCoordinateSystem::CGCS2000{UnfilledTag{}};

namespace tk::detail {

const EllipsoidDefinition kPredefinedEllipsoids[kPredefinedEllipsoidCount] = {
    {"Beijing 1954", 6378245.0, 298.3, &CTKGeoCoordinateSystem::Beijing54},
    {"Xian 1980", 6378140.0, 298.257, &CTKGeoCoordinateSystem::XiAn80},
    {"WGS 84", 6378137.0, 298.257, &CTKGeoCoordinateSystem::WGS84},
    {"CGCS2000", 6378137.0, 298.257222101, &CTKGeoCoordinateSystem::CGCS2000},
};

void InitEllipsoids() {
    for (const EllipsoidDefinition& def : kPredefinedEllipsoids) def.target->set(def.a, def.invF);
}

}  // namespace tk::detail

CTKGeoCoordinateSystem::CTKGeoCoordinateSystem() : CTKGeoCoordinateSystem(Beijing54) {}

CTKGeoCoordinateSystem::CTKGeoCoordinateSystem(double a, double invF)
    : CTKGeoCoordinateSystem(UnfilledTag{}) {
    set(a, invF);
}

void CTKGeoCoordinateSystem::set(double a, double invF) {
    m_a = a;
    m_invF = invF;
    // The order and the forms below are fixed: every derived value keeps its
    // exact bits, since coordinates that programs have stored were projected
    // with them and the WKT texts print them; a reordered expression would
    // move results in the last place.
    m_b = (1.0 - 1.0 / invF) * a;
    const double r = m_b / a;
    m_e = std::sqrt(1.0 - r * r);
    const double q = a / m_b;
    m_ep = std::sqrt(q * q - 1.0);
    m_a2 = a * a;
    m_b2 = m_b * m_b;
    m_n = (1.0 - r) / (r + 1.0);

    const double e2 = m_e * m_e;
    const double e4 = std::pow(m_e, 4);
    const double e6 = std::pow(m_e, 6);
    m_A0 = 1.0 - e2 * 0.25 - 3.0 * e4 * 0.015625 - 5.0 * e6 * 0.00390625;
    m_aA0 = m_A0 * a;

    const double n = m_n;
    m_F2 = 1.5 * n - 27.0 * std::pow(n, 3) * 0.03125;
    m_F4 = 21.0 * std::pow(n, 2) * 0.0625 - 55.0 * std::pow(n, 4) * 0.03125;
    m_F6 = 151.0 * std::pow(n, 3) / 96.0;

    m_A2 = 3.0 * e2 * 0.125 + 3.0 * e4 * 0.03125 + 45.0 * e6 * 0.0009765625;
    m_A4 = 15.0 * e4 * 0.00390625 + 45.0 * e6 * 0.0009765625;
    m_A6 = 35.0 * e6 / 3072.0;
}

bool CTKGeoCoordinateSystem::operator==(const CTKGeoCoordinateSystem& other) const {
    return std::fabs(m_a - other.m_a) < kAxisTolerance &&
           std::fabs(m_invF - other.m_invF) < kInvFlatteningTolerance;
}

namespace {

struct Vec3 {
    double x, y, z;
};

// v scaled to length 1; a zero (or non-finite) v is returned as it is.
Vec3 UnitOrAsIs(Vec3 v) {
    const double length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (length > 0.0) {
        v.x /= length;
        v.y /= length;
        v.z /= length;
    }
    return v;
}

// The outward unit normal of the ellipsoid family through p: the gradient
// (X/a^2, Y/a^2, Z/b^2) normalised (zero at the centre).
Vec3 EllipsoidNormal(const Vec3& p, const CTKGeoCoordinateSystem& geo) {
    return UnitOrAsIs(Vec3{p.x / geo.m_a2, p.y / geo.m_a2, p.z / geo.m_b2});
}

}  // namespace

// ---- geodetic -> ECEF -------------------------------------------------------
//
// With the unit normal nu = (cos phi cos lambda, cos phi sin lambda, sin phi),
// the surface point is k / sqrt(k . nu) where k = (a^2 nu_x, a^2 nu_y,
// b^2 nu_z); the height is then added along nu. This is the textbook
// N = a / sqrt(1 - e^2 sin^2 phi) form rearranged to avoid e. Exact up to
// rounding (a few nanometres at the surface).
void CTKGeoCoordinateSystem::LonLat2ECI(double lon, double lat, double height, double& x, double& y,
                                        double& z, const CTKGeoCoordinateSystem& geo) {
    const double lambda = lon * kPi / 180.0;
    const double phi = lat * kPi / 180.0;
    const double cosPhi = std::cos(phi);
    const Vec3 n =
        UnitOrAsIs(Vec3{cosPhi * std::cos(lambda), cosPhi * std::sin(lambda), std::sin(phi)});
    double kx = geo.m_a2 * n.x;
    double ky = geo.m_a2 * n.y;
    double kz = geo.m_b2 * n.z;
    const double gamma = std::sqrt(kx * n.x + ky * n.y + kz * n.z);
    kx /= gamma;
    ky /= gamma;
    kz /= gamma;
    x = kx + height * n.x;
    y = ky + height * n.y;
    z = kz + height * n.z;
}

// ---- ECEF -> geodetic -------------------------------------------------------

namespace {

// The foot of the ellipsoid normal through p: the surface point s with
// p = s + lambda * grad(s) / 2 for some multiplier lambda. Writing
// s_i = p_i / (1 + lambda / r_i^2) turns the surface equation into
//   f(lambda) = sum_i (p_i / r_i)^2 / (1 + lambda / r_i^2)^2 - 1 = 0,
// solved by Newton from the radial estimate. f is convex and decreasing on
// the relevant branch, so the iteration converges monotonically after its
// first step; points near the earth need two or three passes.
//
// The loop has no pass limit. It stops early only where it could never stop
// otherwise: when f is not finite (non-finite input, or the centre), or when
// a step no longer changes lambda (the next pass would repeat this one).
Vec3 ProjectOntoSurface(const Vec3& p, const CTKGeoCoordinateSystem& geo) {
    const double invA = 1.0 / geo.m_a;
    const double invB = 1.0 / geo.m_b;
    const double invA2 = invA * invA;
    const double invB2 = invB * invB;

    const double x2 = p.x * p.x * invA2;
    const double y2 = p.y * p.y * invA2;
    const double z2 = p.z * p.z * invB2;
    const double s = x2 + y2 + z2;
    const double ratio = std::sqrt(1.0 / s);
    const Vec3 radial{p.x * ratio, p.y * ratio, p.z * ratio};
    if (s < kCentreTolerance) return radial;

    const double gx = 2.0 * radial.x * invA2;
    const double gy = 2.0 * radial.y * invA2;
    const double gz = 2.0 * radial.z * invB2;
    const double pLength = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    const double gLength = std::sqrt(gx * gx + gy * gy + gz * gz);
    double lambda = (1.0 - ratio) * pLength / (0.5 * gLength);
    double correction = 0.0;
    double mxy, mz;
    for (;;) {
        lambda -= correction;
        mxy = 1.0 / (1.0 + lambda * invA2);
        mz = 1.0 / (1.0 + lambda * invB2);
        const double mxy2 = mxy * mxy;
        const double mz2 = mz * mz;
        const double f = (x2 + y2) * mxy2 + z2 * mz2 - 1.0;
        if (std::fabs(f) <= kSurfaceTolerance) break;
        if (!std::isfinite(f)) break;
        const double derivative = (x2 + y2) * mxy2 * mxy * invA2 + z2 * mz2 * mz * invB2;
        correction = f / (-2.0 * derivative);
        if (lambda - correction == lambda) break;
    }
    return Vec3{p.x * mxy, p.y * mxy, p.z * mz};
}

}  // namespace

void CTKGeoCoordinateSystem::ECI2LonLat(double x, double y, double z, double& lon, double& lat,
                                        double& height, const CTKGeoCoordinateSystem& geo) {
    const Vec3 p{x, y, z};
    const Vec3 s = ProjectOntoSurface(p, geo);

    const Vec3 normal = EllipsoidNormal(s, geo);
    lon = std::atan2(normal.y, normal.x) * 180.0 / kPi;
    lat = std::asin(normal.z) * 180.0 / kPi;

    const double dx = x - s.x;
    const double dy = y - s.y;
    const double dz = z - s.z;
    const double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
    // Above the surface when the offset points away from the centre; an
    // offset at right angles (only possible at distance 0) counts as below.
    height = (dx * x + dy * y + dz * z > 0.0) ? distance : -distance;
}

// ---- local east-north-up frame ----------------------------------------------
//
// up is the ellipsoid normal at the point (the gradient (X/a^2, Y/a^2, Z/b^2)
// normalised), east is the horizontal perpendicular to the meridian plane,
// north = up x east. On the polar axis east is undefined and stays zero.
void CTKGeoCoordinateSystem::EastNorthUpToFixedFrame(double x, double y, double z,
                                                     bool withTranslation, double (*matrix)[4],
                                                     const CTKGeoCoordinateSystem& geo) {
    if (!matrix) return;
    const Vec3 u = EllipsoidNormal(Vec3{x, y, z}, geo);
    const Vec3 e = UnitOrAsIs(Vec3{-y, x, 0.0});
    const double nx = u.y * e.z - u.z * e.y;
    const double ny = u.z * e.x - u.x * e.z;
    const double nz = u.x * e.y - u.y * e.x;

    const double tx = withTranslation ? x : 0.0;
    const double ty = withTranslation ? y : 0.0;
    const double tz = withTranslation ? z : 0.0;
    const double rows[4][4] = {
        {e.x, nx, u.x, tx},
        {e.y, ny, u.y, ty},
        {e.z, nz, u.z, tz},
        {0.0, 0.0, 0.0, 1.0},
    };
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) matrix[r][c] = rows[r][c];
}
