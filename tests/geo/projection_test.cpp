// Projected systems: UTM and EPSG codes, the Gauss-Kruger series.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "gauss_reference.h"
#include "tavikfcu/TKGeo.h"

namespace {

using Geo = CTKGeoCoordinateSystem;
using Pro = CTKProCoordinateSystem;

TEST(ProjectedSystem, DefaultIsBeijing54CM120) {
    const Pro p;
    EXPECT_TRUE(p.m_geo == Geo::Beijing54);
    EXPECT_EQ(p.m_centralMeridian, 120);
    EXPECT_EQ(p.m_falseEasting, 500000);
    EXPECT_EQ(p.m_falseNorthing, 0);
    EXPECT_EQ(p.m_scaleFactor, 1);
    EXPECT_EQ(p.GetUTMCode(), 0);
    EXPECT_FALSE(p.IsUTM());
}

TEST(ProjectedSystem, EqualityTolerances) {
    const Pro base(Geo::CGCS2000, 117, 500000, 0, 1);
    struct Row {
        const char* name;
        Pro other;
        bool equal;
    } rows[] = {
        {"same", Pro(Geo::CGCS2000, 117, 500000, 0, 1), true},
        // Pinned: the scale tolerance is 0.001, so UTM's 0.9996 equals 1.
        {"scale 0.9996", Pro(Geo::CGCS2000, 117, 500000, 0, 0.9996), true},
        {"scale 0.998", Pro(Geo::CGCS2000, 117, 500000, 0, 0.998), false},
        {"CM off 1e-7", Pro(Geo::CGCS2000, 117.0000001, 500000, 0, 1), true},
        {"CM off 2e-6", Pro(Geo::CGCS2000, 117.000002, 500000, 0, 1), false},
        {"FE off 0.9 mm", Pro(Geo::CGCS2000, 117, 500000.0009, 0, 1), true},
        {"FE off 2 mm", Pro(Geo::CGCS2000, 117, 500000.002, 0, 1), false},
        {"FN off 2 mm", Pro(Geo::CGCS2000, 117, 500000, 0.002, 1), false},
        {"other ellipsoid", Pro(Geo::WGS84, 117, 500000, 0, 1), false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(base == row.other, row.equal) << row.name;
        EXPECT_EQ(base != row.other, !row.equal) << row.name;
    }
    EXPECT_NE(rows[1].other.IsUTM(), base.IsUTM());
}

TEST(Utm, SetByCode) {
    struct Row {
        int code;
        bool ok;
        double meridian, falseNorthing;
    } rows[] = {
        {1, true, -177, 0}, {-1, true, -177, 10000000}, {50, true, 117, 0}, {-50, true, 117, 1e7},
        {60, true, 177, 0}, {-60, true, 177, 1e7},      {0, false, 0, 0},   {61, false, 0, 0},
        {-61, false, 0, 0}, {1 << 30, false, 0, 0},
    };
    for (const Row& row : rows) {
        Pro p(Geo::Beijing54, 1, 2, 3, 4);
        const Pro before = p;
        EXPECT_EQ(p.setByUTMCode(row.code), row.ok) << row.code;
        if (!row.ok) {
            EXPECT_EQ(0, std::memcmp(&p, &before, sizeof p)) << row.code;
            continue;
        }
        EXPECT_EQ(0, std::memcmp(&p.m_geo, &Geo::WGS84, sizeof p.m_geo));
        EXPECT_EQ(p.m_centralMeridian, row.meridian) << row.code;
        EXPECT_EQ(p.m_falseEasting, 500000);
        EXPECT_EQ(p.m_falseNorthing, row.falseNorthing) << row.code;
        EXPECT_EQ(p.m_scaleFactor, 0.9996);
        EXPECT_TRUE(p.IsUTM());
        EXPECT_EQ(p.GetUTMCode(), row.code);
    }
}

TEST(Utm, GetCodeLooksOnlyAtTheShape) {
    struct Row {
        const char* name;
        Pro p;
        int code;
    } rows[] = {
        {"CM 114 is not a zone centre, still 49", Pro(Geo::WGS84, 114, 500000, 0, 0.9996), 49},
        {"CGCS2000 zone 50", Pro(Geo::CGCS2000, 117, 500000, 0, 0.9996), 50},
        {"south by FN", Pro(Geo::CGCS2000, 117, 500000, 10000000, 0.9996), -50},
        {"scale 1", Pro(Geo::WGS84, 117, 500000, 0, 1), 0},
        {"scale 0.99961 is UTM", Pro(Geo::WGS84, 117, 500000, 0, 0.99961), 50},
        {"FN neither 0 nor 1e7", Pro(Geo::WGS84, 117, 500000, 5000, 0.9996), 0},
        {"FE with zone prefix", Pro(Geo::WGS84, 117, 50500000, 0, 0.9996), 0},
        {"CM -183 truncates to 0", Pro(Geo::WGS84, -183, 500000, 0, 0.9996), 0},
        {"CM -200 truncates to -2 (north)", Pro(Geo::WGS84, -200, 500000, 0, 0.9996), -2},
        {"CM beyond any int", Pro(Geo::WGS84, 1e300, 500000, 0, 0.9996), 0},
        {"CM NaN", Pro(Geo::WGS84, NAN, 500000, 0, 0.9996), 0},
    };
    for (const Row& row : rows) EXPECT_EQ(row.p.GetUTMCode(), row.code) << row.name;
}

TEST(Epsg, EveryRangeFirstAndLastCode) {
    struct Row {
        int code;
        const Geo* geo;
        double meridian;
        Pro::EPCSType type;
    } rows[] = {
        {2327, &Geo::XiAn80, 75, Pro::ePCS_XiAn80},
        {2337, &Geo::XiAn80, 135, Pro::ePCS_XiAn80},
        {2338, &Geo::XiAn80, 75, Pro::ePCS_XiAn80},
        {2348, &Geo::XiAn80, 135, Pro::ePCS_XiAn80},
        {2349, &Geo::XiAn80, 75, Pro::ePCS_XiAn80},
        {2369, &Geo::XiAn80, 135, Pro::ePCS_XiAn80},
        {2370, &Geo::XiAn80, 75, Pro::ePCS_XiAn80},
        {2390, &Geo::XiAn80, 135, Pro::ePCS_XiAn80},
        {2383, &Geo::XiAn80, 114, Pro::ePCS_XiAn80},
        {2401, &Geo::Beijing54, 75, Pro::ePCS_Beijing54},
        {2421, &Geo::Beijing54, 135, Pro::ePCS_Beijing54},
        {2422, &Geo::Beijing54, 75, Pro::ePCS_Beijing54},
        {2442, &Geo::Beijing54, 135, Pro::ePCS_Beijing54},
        {4513, &Geo::CGCS2000, 75, Pro::ePCS_CGCS2000},
        {4527, &Geo::CGCS2000, 117, Pro::ePCS_CGCS2000},
        {4533, &Geo::CGCS2000, 135, Pro::ePCS_CGCS2000},
        {4534, &Geo::CGCS2000, 75, Pro::ePCS_CGCS2000},
        {4554, &Geo::CGCS2000, 135, Pro::ePCS_CGCS2000},
    };
    for (const Row& row : rows) {
        Pro p;
        auto type = static_cast<Pro::EPCSType>(0);
        ASSERT_TRUE(p.setByEPSGCode(row.code, type)) << row.code;
        EXPECT_EQ(type, row.type) << row.code;
        EXPECT_EQ(0, std::memcmp(&p.m_geo, row.geo, sizeof p.m_geo)) << row.code;
        EXPECT_EQ(p.m_centralMeridian, row.meridian) << row.code;
        // No zone number in front of the false easting.
        EXPECT_EQ(p.m_falseEasting, 500000) << row.code;
        EXPECT_EQ(p.m_falseNorthing, 0) << row.code;
        EXPECT_EQ(p.m_scaleFactor, 1) << row.code;
    }
}

TEST(Epsg, UtmRanges) {
    const struct {
        int code, utm;
    } rows[] = {{32601, 1}, {32650, 50}, {32660, 60}, {32701, -1}, {32760, -60}};
    for (const auto& row : rows) {
        Pro p, expected;
        Pro::EPCSType type;
        ASSERT_TRUE(p.setByEPSGCode(row.code, type)) << row.code;
        ASSERT_TRUE(expected.setByUTMCode(row.utm));
        EXPECT_EQ(type, Pro::ePCS_WGS84UTM);
        EXPECT_EQ(0, std::memcmp(&p, &expected, sizeof p)) << row.code;
    }
}

TEST(Epsg, ZoneAndMeridianCodesNameTheSameSystem) {
    Pro a, b;
    Pro::EPCSType t;
    ASSERT_TRUE(a.setByEPSGCode(2327, t));
    ASSERT_TRUE(b.setByEPSGCode(2338, t));
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
}

TEST(Epsg, CodesOutsideTheRangesChangeNothing) {
    for (int code :
         {0, -4527, 2326, 2391, 2400, 2443, 4512, 4555, 32600, 32661, 32700, 32761, 3857, 4326}) {
        Pro p(Geo::WGS84, 1, 2, 3, 4);
        const Pro before = p;
        auto type = static_cast<Pro::EPCSType>(7);
        EXPECT_FALSE(p.setByEPSGCode(code, type)) << code;
        EXPECT_EQ(static_cast<int>(type), 7) << code;
        EXPECT_EQ(0, std::memcmp(&p, &before, sizeof p)) << code;
    }
}

// ---- the series --------------------------------------------------------------

TEST(GaussKruger, WorkedExampleBothWays) {
    const Pro p(Geo::CGCS2000, 117, 500000, 0, 1);
    double x, y;
    Pro::GeoToGauss(118.5, 31, x, y, p);
    EXPECT_NEAR(x, 643264.1353, 0.0001);
    EXPECT_NEAR(y, 3431940.3239, 0.0001);
    double lon, lat;
    Pro::GaussToGeo(x, y, lon, lat, p);
    EXPECT_NEAR(lon, 118.5, 1e-9);
    EXPECT_NEAR(lat, 31, 1e-9);
}

TEST(GaussKruger, OnTheCentralMeridianTheNorthingIsTheScaledArc) {
    for (const Pro& p :
         {Pro(Geo::CGCS2000, 117, 500000, 0, 1), Pro(Geo::WGS84, -177, 500000, 10000000, 0.9996)}) {
        for (double lat : {-60.0, -1.0, 0.0, 23.5, 45.0, 80.0}) {
            double x, y;
            Pro::GeoToGauss(p.m_centralMeridian, lat, x, y, p);
            EXPECT_EQ(x, p.m_falseEasting) << lat;
            const Geo& g = p.m_geo;
            const double phi = lat * 3.14159265358979 / 180;
            const double arc = g.m_a * (g.m_A0 * phi - g.m_A2 * std::sin(2 * phi) +
                                        g.m_A4 * std::sin(4 * phi) - g.m_A6 * std::sin(6 * phi));
            EXPECT_NEAR(y, arc * p.m_scaleFactor + p.m_falseNorthing, 1e-8) << lat;
        }
    }
}

// Mirror symmetry about the central meridian and the equator.
TEST(GaussKruger, Symmetry) {
    const Pro p(Geo::XiAn80, 114, 500000, 0, 1);
    double x1, y1, x2, y2;
    Pro::GeoToGauss(114 + 1.2, 35, x1, y1, p);
    Pro::GeoToGauss(114 - 1.2, 35, x2, y2, p);
    EXPECT_NEAR(x1 - 500000, 500000 - x2, 1e-9);
    EXPECT_EQ(y1, y2);
    Pro::GeoToGauss(114 + 1.2, -35, x2, y2, p);
    EXPECT_EQ(x1, x2);
    EXPECT_NEAR(y1, -y2, 1e-9);
}

// The projection is written with multiplications and multiple-angle
// identities instead of pow() and separate sines; it must give the literal
// series' numbers: to 1e-9 m, except where one unit in the last place of the
// northing is itself larger (above 2^23 m northing one ulp is 1.9e-9 m), and
// to 1e-12 degrees.
TEST(GaussKruger, AgreesWithTheLiteralSeries) {
    const Pro systems[] = {Pro(Geo::CGCS2000, 117, 500000, 0, 1),
                           Pro(Geo::Beijing54, 75, 500000, 0, 1),
                           Pro(Geo::WGS84, 177, 500000, 10000000, 0.9996)};
    for (const Pro& p : systems) {
        for (double lat = -84; lat <= 84; lat += 0.3719) {
            for (double dl = -3.5; dl <= 3.5; dl += 0.0917) {
                const double lon = p.m_centralMeridian + dl;
                double x, y, rx, ry;
                Pro::GeoToGauss(lon, lat, x, y, p);
                gauss_reference::GeoToGauss(lon, lat, rx, ry, p);
                const double ulp = std::nextafter(std::fabs(ry), INFINITY) - std::fabs(ry);
                ASSERT_LE(std::fabs(x - rx), 1e-9) << lat << " " << dl;
                ASSERT_LE(std::fabs(y - ry), std::max(1e-9, ulp)) << lat << " " << dl;
                double lo, la, rlo, rla;
                Pro::GaussToGeo(x, y, lo, la, p);
                gauss_reference::GaussToGeo(x, y, rlo, rla, p);
                ASSERT_LE(std::fabs(lo - rlo), 1e-12) << lat << " " << dl;
                ASSERT_LE(std::fabs(la - rla), 1e-12) << lat << " " << dl;
            }
        }
    }
}

// Forward then inverse across a 3-degree zone. The round trip is limited by
// the series themselves, not by rounding: the footpoint series stops at
// sin 6mu (the next term, 1097n^4/512 sin 8mu, is 1.7e-11 rad = 1e-9 degree)
// and the arc series at e^6. Measured maxima, all at or near the central
// meridian: 1.23e-9 degrees up to 40° latitude, 3.1e-9 at 55°, 4.7e-9 at
// 60° (0.5 mm on the ground).
TEST(GaussKruger, RoundTripAcrossAThreeDegreeZone) {
    const Pro p(Geo::CGCS2000, 117, 500000, 0, 1);
    struct Band {
        double maxLat, tolerance;
    } bands[] = {{40, 1.3e-9}, {55, 3.2e-9}, {60, 4.8e-9}};
    for (const Band& band : bands) {
        double worst = 0;
        for (double lat = -band.maxLat; lat <= band.maxLat; lat += 0.0731) {
            for (double dl = -1.5; dl <= 1.5; dl += 0.0617) {
                double x, y, lon, la;
                Pro::GeoToGauss(117 + dl, lat, x, y, p);
                Pro::GaussToGeo(x, y, lon, la, p);
                worst = std::max({worst, std::fabs(lon - 117 - dl), std::fabs(la - lat)});
            }
        }
        EXPECT_LE(worst, band.tolerance) << "up to " << band.maxLat;
    }
}

}  // namespace
