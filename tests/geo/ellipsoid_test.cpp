// Ellipsoids: derived values, the tolerant equality, ECEF and ENU.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "tavikfcu/TKGeo.h"

namespace {

using Geo = CTKGeoCoordinateSystem;

// b and e^2 as the library has always stored them; every other cached
// value must be exactly what set() computes today.
TEST(Ellipsoid, PredefinedHoldWhatSetComputes) {
    const struct {
        const char* name;
        const Geo* geo;
        double a, invF, b, e2;
    } rows[] = {
        {"Beijing54", &Geo::Beijing54, 6378245, 298.3, 6356863.018773047, 0.006693421622965934},
        {"XiAn80", &Geo::XiAn80, 6378140, 298.257, 6356755.288157528, 0.006694384999587966},
        {"WGS84", &Geo::WGS84, 6378137, 298.257, 6356752.298215968, 0.006694384999588188},
        {"CGCS2000", &Geo::CGCS2000, 6378137, 298.257222101, 6356752.314140356,
         0.006694380022900792},
    };
    for (const auto& row : rows) {
        const Geo& g = *row.geo;
        EXPECT_EQ(g.m_a, row.a) << row.name;
        EXPECT_EQ(g.m_invF, row.invF) << row.name;
        EXPECT_NEAR(g.m_b, row.b, 1e-8) << row.name;
        EXPECT_NEAR(g.m_e * g.m_e, row.e2, 1e-17) << row.name;
        const Geo fresh(row.a, row.invF);
        EXPECT_EQ(0, std::memcmp(&fresh, &g, sizeof g)) << row.name;
    }
}

TEST(Ellipsoid, DefaultIsACopyOfBeijing54AtTheTimeOfTheCall) {
    EXPECT_TRUE(Geo() == Geo::Beijing54);
    // The predefined objects are ordinary shared values, read when used.
    const Geo saved = Geo::Beijing54;
    Geo::Beijing54.set(1000, 10);
    EXPECT_EQ(Geo().m_a, 1000);
    Geo::Beijing54 = saved;
}

TEST(Ellipsoid, EqualityComparesOnlyTheDefiningValuesWithTolerance) {
    const struct {
        const char* name;
        Geo left, right;
        bool equal;
    } rows[] = {
        {"CGCS2000 rebuilt", Geo(6378137, 298.257222101), Geo::CGCS2000, true},
        {"1/f off by 2e-4 vs WGS84", Geo(6378137, 298.2572), Geo::WGS84, false},
        {"1/f off by 2e-5 vs CGCS2000", Geo(6378137, 298.2572), Geo::CGCS2000, false},
        {"WGS84 vs XiAn80 (a differs 3 m)", Geo::WGS84, Geo::XiAn80, false},
        // Derived values (b differs) are ignored.
        {"a off by 0.9 mm", Geo(6378137.0009, 298.257), Geo::WGS84, true},
        {"a off by 1 mm (strict)", Geo(6378137.0011, 298.257), Geo::WGS84, false},
        {"1/f off by 9e-8", Geo(6378137, 298.25700009), Geo::WGS84, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.left == row.right, row.equal) << row.name;
        EXPECT_EQ(row.left != row.right, !row.equal) << row.name;
    }
}

// ---- ECEF --------------------------------------------------------------------

// Each row both ways: geodetic to cartesian, and the cartesian back.
TEST(Ecef, ExamplesBothWays) {
    const struct {
        const char* name;
        const Geo* geo;
        double lon, lat, h, x, y, z, tolerance;  // metres
    } rows[] = {
        {"equator, Greenwich", &Geo::WGS84, 0, 0, 0, 6378137, 0, 0, 1e-9},
        {"north pole", &Geo::WGS84, 0, 90, 0, 3.9e-10, 0, 6356752.298215968, 1e-9},
        {"Beijing area, 50 m up", &Geo::CGCS2000, 116, 40, 50, -2144838.632151, 4397570.887067,
         4078017.711474, 1e-6},
        {"90 E on the equator, 1 km up", &Geo::WGS84, 90, 0, 1000, 0, 6379137, 0, 1e-9},
        {"south pole, 100 m below", &Geo::XiAn80, 0, -90, -100, 0, 0, -(6356755.288157528 - 100),
         1e-9},
    };
    for (const auto& row : rows) {
        double x, y, z, lon, lat, h;
        Geo::LonLat2ECI(row.lon, row.lat, row.h, x, y, z, *row.geo);
        EXPECT_NEAR(x, row.x, row.tolerance) << row.name;
        EXPECT_NEAR(y, row.y, row.tolerance) << row.name;
        EXPECT_NEAR(z, row.z, row.tolerance) << row.name;
        Geo::ECI2LonLat(row.x, row.y, row.z, lon, lat, h, *row.geo);
        EXPECT_NEAR(lon, row.lon, 1e-9) << row.name;
        EXPECT_NEAR(lat, row.lat, 1e-9) << row.name;
        EXPECT_NEAR(h, row.h, 1e-6) << row.name;
    }
}

TEST(Ecef, CartesianToGeodeticRoundTrips) {
    for (double lat = -89.5; lat <= 89.5; lat += 7.9) {
        for (double lon = -179; lon <= 180; lon += 23.3) {
            for (double h : {-20000.0, -5000.0, 0.0, 50.0, 9000.0, 400000.0}) {
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

// Deep inside (s < 0.1) the radial intersection is taken; the centre,
// non-finite and huge inputs must still return (the iteration has no pass
// limit) with something non-finite to show for it.
TEST(Ecef, DeepInsideAndDegenerateInputs) {
    double lon, lat, h;
    Geo::ECI2LonLat(1000, 2000, 3000, lon, lat, h, Geo::WGS84);
    EXPECT_LT(h, -6000000);
    EXPECT_NEAR(lon, std::atan2(2000, 1000) * 180 / M_PI, 1e-9);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double inputs[][3] = {
        {0, 0, 0}, {nan, 1, 1}, {inf, 0, 0}, {1e308, 1e308, 1e308}, {-inf, inf, nan}};
    for (const auto& p : inputs) {
        Geo::ECI2LonLat(p[0], p[1], p[2], lon, lat, h, Geo::WGS84);
        EXPECT_FALSE(std::isfinite(lon) && std::isfinite(lat) && std::isfinite(h));
    }
    // Far away but finite: converges normally.
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
    const double sl = std::sin(116 * M_PI / 180), cl = std::cos(116 * M_PI / 180);
    const double sp = std::sin(40 * M_PI / 180), cp = std::cos(40 * M_PI / 180);
    const double expected[4][4] = {
        {-sl, -sp * cl, cp * cl, x}, {cl, -sp * sl, cp * sl, y}, {0, cp, sp, z}, {0, 0, 0, 1}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(m[r][c], expected[r][c], 1e-12) << r << c;

    // 100 m up in the local frame is 100 m higher on the ellipsoid.
    double p[3], lon, lat, h;
    for (int r = 0; r < 3; ++r) p[r] = m[r][2] * 100 + m[r][3];
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
