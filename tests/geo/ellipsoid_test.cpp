// Ellipsoids: derived values, the tolerant equality, ECEF and ENU.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "tavikfcu/TKGeo.h"

namespace {

using Geo = CTKGeoCoordinateSystem;

struct EllipsoidRow {
    const char* name;
    const Geo* geo;
    double a, invF, b, e2;
};

// b and e^2 as the library has always stored them.
const EllipsoidRow kEllipsoids[] = {
    {"Beijing54", &Geo::Beijing54, 6378245, 298.3, 6356863.018773047, 0.006693421622965934},
    {"XiAn80", &Geo::XiAn80, 6378140, 298.257, 6356755.288157528, 0.006694384999587966},
    {"WGS84", &Geo::WGS84, 6378137, 298.257, 6356752.298215968, 0.006694384999588188},
    {"CGCS2000", &Geo::CGCS2000, 6378137, 298.257222101, 6356752.314140356, 0.006694380022900792},
};

TEST(Ellipsoid, PredefinedHoldWhatSetComputes) {
    for (const EllipsoidRow& row : kEllipsoids) {
        SCOPED_TRACE(row.name);
        const Geo& g = *row.geo;
        EXPECT_EQ(g.m_a, row.a);
        EXPECT_EQ(g.m_invF, row.invF);
        EXPECT_NEAR(g.m_b, row.b, 1e-8);
        EXPECT_NEAR(g.m_e * g.m_e, row.e2, 1e-17);
        // Every derived value is exactly what set() gives now.
        const Geo fresh(row.a, row.invF);
        EXPECT_EQ(0, std::memcmp(&fresh, &g, sizeof g));
        // The textbook relations the caches stand for.
        EXPECT_NEAR(g.m_ep * g.m_ep, g.m_e * g.m_e / (1 - g.m_e * g.m_e), 1e-15);
        EXPECT_NEAR(g.m_n, (g.m_a - g.m_b) / (g.m_a + g.m_b), 1e-15);
        EXPECT_EQ(g.m_a2, g.m_a * g.m_a);
        EXPECT_EQ(g.m_b2, g.m_b * g.m_b);
        EXPECT_EQ(g.m_aA0, g.m_A0 * g.m_a);
    }
}

// The meridian arc series and the footpoint series are each other's
// inverse, to the truncation of the series: 1.3e-10 rad (under 1 mm) at
// 60-80 degrees latitude.
TEST(Ellipsoid, FootpointSeriesInvertsMeridianArc) {
    const Geo& g = Geo::CGCS2000;
    for (double deg = -80; deg <= 80; deg += 10) {
        const double phi = deg * M_PI / 180;
        const double arc = g.m_a * (g.m_A0 * phi - g.m_A2 * std::sin(2 * phi) +
                                    g.m_A4 * std::sin(4 * phi) - g.m_A6 * std::sin(6 * phi));
        const double mu = arc / g.m_aA0;
        const double phi1 =
            mu + g.m_F2 * std::sin(2 * mu) + g.m_F4 * std::sin(4 * mu) + g.m_F6 * std::sin(6 * mu);
        EXPECT_NEAR(phi1, phi, 1.5e-10) << deg;
    }
}

TEST(Ellipsoid, DefaultIsACopyOfBeijing54AtTheTimeOfTheCall) {
    const Geo def;
    EXPECT_EQ(def.m_a, 6378245);
    EXPECT_EQ(def.m_invF, 298.3);
    EXPECT_TRUE(def == Geo::Beijing54);
    // The predefined objects are ordinary shared values, read when used.
    const Geo saved = Geo::Beijing54;
    Geo::Beijing54.set(1000, 10);
    EXPECT_EQ(Geo().m_a, 1000);
    Geo::Beijing54 = saved;
}

TEST(Ellipsoid, EqualityComparesOnlyTheDefiningValuesWithTolerance) {
    struct Row {
        const char* name;
        Geo left, right;
        bool equal;
    } rows[] = {
        {"CGCS2000 rebuilt", Geo(6378137, 298.257222101), Geo::CGCS2000, true},
        {"1/f off by 2e-4 vs WGS84", Geo(6378137, 298.2572), Geo::WGS84, false},
        {"1/f off by 2e-5 vs CGCS2000", Geo(6378137, 298.2572), Geo::CGCS2000, false},
        {"WGS84 vs XiAn80 (a differs 3 m)", Geo::WGS84, Geo::XiAn80, false},
        {"WGS84 vs CGCS2000", Geo::WGS84, Geo::CGCS2000, false},
        // Derived values (b differs) are ignored.
        {"a off by 0.9 mm", Geo(6378137.0009, 298.257), Geo::WGS84, true},
        {"a off by 1 mm (strict)", Geo(6378137.0011, 298.257), Geo::WGS84, false},
        {"1/f off by 9e-8", Geo(6378137, 298.25700009), Geo::WGS84, true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.left == row.right, row.equal) << row.name;
        EXPECT_EQ(row.left != row.right, !row.equal) << row.name;
    }
}

// ---- ECEF --------------------------------------------------------------------

struct EcefRow {
    const char* name;
    const Geo* geo;
    double lon, lat, h;
    double x, y, z;
    double tolerance;  // metres
};

const EcefRow kEcef[] = {
    {"equator, Greenwich", &Geo::WGS84, 0, 0, 0, 6378137, 0, 0, 1e-9},
    {"north pole", &Geo::WGS84, 0, 90, 0, 3.9e-10, 0, 6356752.298215968, 1e-9},
    {"Beijing area, 50 m up", &Geo::CGCS2000, 116, 40, 50, -2144838.632151, 4397570.887067,
     4078017.711474, 1e-6},
    {"90 E on the equator, 1 km up", &Geo::WGS84, 90, 0, 1000, 0, 6379137, 0, 1e-9},
    {"south pole, 100 m below", &Geo::XiAn80, 0, -90, -100, 0, 0, -(6356755.288157528 - 100), 1e-9},
};

TEST(Ecef, GeodeticToCartesian) {
    for (const EcefRow& row : kEcef) {
        double x, y, z;
        Geo::LonLat2ECI(row.lon, row.lat, row.h, x, y, z, *row.geo);
        EXPECT_NEAR(x, row.x, row.tolerance) << row.name;
        EXPECT_NEAR(y, row.y, row.tolerance) << row.name;
        EXPECT_NEAR(z, row.z, row.tolerance) << row.name;
    }
}

TEST(Ecef, CartesianToGeodeticRoundTrips) {
    for (double lat = -89.5; lat <= 89.5; lat += 7.9) {
        for (double lon = -179; lon <= 180; lon += 23.3) {
            for (double h : {-5000.0, 0.0, 50.0, 9000.0, 400000.0}) {
                double x, y, z, lon2, lat2, h2;
                Geo::LonLat2ECI(lon, lat, h, x, y, z, Geo::CGCS2000);
                Geo::ECI2LonLat(x, y, z, lon2, lat2, h2, Geo::CGCS2000);
                ASSERT_NEAR(lon2, lon, 1e-9) << lat << " " << lon << " " << h;
                ASSERT_NEAR(lat2, lat, 1e-9) << lat << " " << lon << " " << h;
                // Newton stops at |f| <= 1e-12, about 3 micrometres.
                ASSERT_NEAR(h2, h, 5e-6) << lat << " " << lon << " " << h;
            }
        }
    }
}

TEST(Ecef, WorkedExampleBackToGeodetic) {
    double lon, lat, h;
    Geo::ECI2LonLat(-2144838.632151, 4397570.887067, 4078017.711474, lon, lat, h, Geo::CGCS2000);
    EXPECT_NEAR(lon, 116, 1e-9);
    EXPECT_NEAR(lat, 40, 1e-9);
    EXPECT_NEAR(h, 50, 1e-6);
}

TEST(Ecef, BelowTheSurfaceHeightIsNegative) {
    double x, y, z, lon, lat, h;
    Geo::LonLat2ECI(100, 30, -20000, x, y, z, Geo::WGS84);
    Geo::ECI2LonLat(x, y, z, lon, lat, h, Geo::WGS84);
    EXPECT_NEAR(h, -20000, 1e-6);
    // Deep inside (s < 0.1): the radial intersection is taken, still below.
    Geo::ECI2LonLat(1000, 2000, 3000, lon, lat, h, Geo::WGS84);
    EXPECT_LT(h, -6000000);
    EXPECT_NEAR(lon, std::atan2(2000, 1000) * 180 / M_PI, 1e-9);
}

// The iteration has no pass limit; these inputs would never satisfy it and
// must still return (with something non-finite to show for it).
TEST(Ecef, NonFiniteAndCentreInputsEnd) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double inputs[][3] = {
        {0, 0, 0}, {nan, 1, 1}, {inf, 0, 0}, {1e308, 1e308, 1e308}, {-inf, inf, nan}};
    for (const auto& p : inputs) {
        double lon = 0, lat = 0, h = 0;
        Geo::ECI2LonLat(p[0], p[1], p[2], lon, lat, h, Geo::WGS84);
        EXPECT_FALSE(std::isfinite(lon) && std::isfinite(lat) && std::isfinite(h));
    }
    // Far away but finite: converges normally.
    double lon, lat, h;
    Geo::ECI2LonLat(1e12, 1e12, 1e12, lon, lat, h, Geo::WGS84);
    EXPECT_NEAR(lon, 45, 1e-9);
    EXPECT_GT(h, 1e12);
}

// ---- east-north-up -----------------------------------------------------------

TEST(Enu, ColumnsAreEastNorthUpAtTheOrigin) {
    double x, y, z;
    Geo::LonLat2ECI(116, 40, 0, x, y, z, Geo::CGCS2000);
    double m[4][4];
    Geo::EastNorthUpToFixedFrame(x, y, z, true, m, Geo::CGCS2000);
    const double lam = 116 * M_PI / 180, phi = 40 * M_PI / 180;
    const double east[3] = {-std::sin(lam), std::cos(lam), 0};
    const double north[3] = {-std::sin(phi) * std::cos(lam), -std::sin(phi) * std::sin(lam),
                             std::cos(phi)};
    const double up[3] = {std::cos(phi) * std::cos(lam), std::cos(phi) * std::sin(lam),
                          std::sin(phi)};
    for (int r = 0; r < 3; ++r) {
        EXPECT_NEAR(m[r][0], east[r], 1e-12);
        EXPECT_NEAR(m[r][1], north[r], 1e-12);
        EXPECT_NEAR(m[r][2], up[r], 1e-12);
    }
    EXPECT_EQ(m[0][3], x);
    EXPECT_EQ(m[1][3], y);
    EXPECT_EQ(m[2][3], z);
    EXPECT_EQ(m[3][0], 0);
    EXPECT_EQ(m[3][1], 0);
    EXPECT_EQ(m[3][2], 0);
    EXPECT_EQ(m[3][3], 1);

    // 100 m up in the local frame is 100 m higher on the ellipsoid.
    const double local[4] = {0, 0, 100, 1};
    double p[3];
    for (int r = 0; r < 3; ++r) {
        p[r] = 0;
        for (int c = 0; c < 4; ++c) p[r] += m[r][c] * local[c];
    }
    double lon, lat, h;
    Geo::ECI2LonLat(p[0], p[1], p[2], lon, lat, h, Geo::CGCS2000);
    EXPECT_NEAR(h, 100, 1e-6);
    EXPECT_NEAR(lat, 40, 1e-9);

    Geo::EastNorthUpToFixedFrame(x, y, z, false, m, Geo::CGCS2000);
    EXPECT_EQ(m[0][3], 0);
    EXPECT_EQ(m[1][3], 0);
    EXPECT_EQ(m[2][3], 0);
}

TEST(Enu, OnThePolarAxisEastAndNorthAreZero) {
    for (double z : {6356752.0, -6356752.0}) {
        double m[4][4];
        Geo::EastNorthUpToFixedFrame(0, 0, z, true, m, Geo::WGS84);
        for (int r = 0; r < 3; ++r) {
            EXPECT_EQ(m[r][0], 0);
            EXPECT_EQ(m[r][1], 0);
        }
        EXPECT_EQ(m[2][2], z > 0 ? 1 : -1);
    }
}

}  // namespace
