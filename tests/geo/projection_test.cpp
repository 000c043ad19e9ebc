// Projected systems: UTM and EPSG codes, the Gauss-Kruger series.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tavikfcu/TKGeo.h"

namespace {

using Geo = CTKGeoCoordinateSystem;
using Pro = CTKProCoordinateSystem;

TEST(ProjectedSystem, DefaultIsBeijing54CM120) {
    const Pro p, expected(Geo::Beijing54, 120, 500000, 0, 1);
    EXPECT_EQ(0, std::memcmp(&p, &expected, sizeof p));
    EXPECT_EQ(p.GetUTMCode(), 0);
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

// Each range runs from the 75E zone to the 135E zone.
TEST(Epsg, EveryRangeFirstAndLastCode) {
    const struct {
        int first, last;
        const Geo* geo;
        Pro::EPCSType type;
    } ranges[] = {
        {2327, 2337, &Geo::XiAn80, Pro::ePCS_XiAn80},
        {2338, 2348, &Geo::XiAn80, Pro::ePCS_XiAn80},
        {2349, 2369, &Geo::XiAn80, Pro::ePCS_XiAn80},
        {2370, 2390, &Geo::XiAn80, Pro::ePCS_XiAn80},
        {2401, 2421, &Geo::Beijing54, Pro::ePCS_Beijing54},
        {2422, 2442, &Geo::Beijing54, Pro::ePCS_Beijing54},
        {4513, 4533, &Geo::CGCS2000, Pro::ePCS_CGCS2000},
        {4534, 4554, &Geo::CGCS2000, Pro::ePCS_CGCS2000},
    };
    for (const auto& range : ranges) {
        for (int code : {range.first, range.last}) {
            Pro p;
            auto type = static_cast<Pro::EPCSType>(0);
            ASSERT_TRUE(p.setByEPSGCode(code, type)) << code;
            EXPECT_EQ(type, range.type) << code;
            // No zone number in front of the false easting.
            const Pro expected(*range.geo, code == range.first ? 75 : 135, 500000, 0, 1);
            EXPECT_EQ(0, std::memcmp(&p, &expected, sizeof p)) << code;
        }
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

// One point known from outside anchors the forward series (a round trip
// cannot catch a wrong constant); in a UTM-shaped system the same point is
// scaled by k and shifted by the false northing. The inverse is held to the
// forward by the round trips below.
TEST(GaussKruger, WorkedExample) {
    const Pro p(Geo::CGCS2000, 117, 500000, 0, 1);
    double x, y;
    Pro::GeoToGauss(118.5, 31, x, y, p);
    EXPECT_NEAR(x, 643264.1353, 0.0001);
    EXPECT_NEAR(y, 3431940.3239, 0.0001);

    const Pro utm(Geo::CGCS2000, 117, 500000, 10000000, 0.9996);
    double ux, uy;
    Pro::GeoToGauss(118.5, 31, ux, uy, utm);
    EXPECT_NEAR(ux - 500000, 0.9996 * (x - 500000), 1e-8);
    EXPECT_NEAR(uy, 0.9996 * y + 10000000, 1e-8);
}

// Mirror symmetry about the central meridian and the equator; on the
// meridian itself the easting is exactly the false easting.
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
    Pro::GeoToGauss(114, -60, x2, y2, p);
    EXPECT_EQ(x2, 500000);
}

// Forward then inverse across a 3-degree zone, also in a southern UTM-shaped
// system. The round trip is limited by the series themselves, not by
// rounding: the footpoint series stops at sin 6mu (the next term,
// 1097n^4/512 sin 8mu, is 1.7e-11 rad = 1e-9 degree) and the arc series at
// e^6. Measured maxima, all at or near the central meridian: 1.23e-9 degrees
// up to 40° latitude, 3.1e-9 at 55°, 4.7e-9 at 60° (0.5 mm on the ground).
TEST(GaussKruger, RoundTripAcrossAThreeDegreeZone) {
    const Pro systems[] = {Pro(Geo::CGCS2000, 117, 500000, 0, 1),
                           Pro(Geo::WGS84, -177, 500000, 10000000, 0.9996)};
    struct Band {
        double maxLat, tolerance;
    } bands[] = {{40, 1.3e-9}, {55, 3.2e-9}, {60, 4.8e-9}};
    for (const Pro& p : systems) {
        const double cm = p.m_centralMeridian;
        for (const Band& band : bands) {
            double worst = 0;
            for (double lat = -band.maxLat; lat <= band.maxLat; lat += 0.0731) {
                for (double dl = -1.5; dl <= 1.5; dl += 0.0617) {
                    double x, y, lon, la;
                    Pro::GeoToGauss(cm + dl, lat, x, y, p);
                    Pro::GaussToGeo(x, y, lon, la, p);
                    worst = std::max({worst, std::fabs(lon - cm - dl), std::fabs(la - lat)});
                }
            }
            EXPECT_LE(worst, band.tolerance) << "CM " << cm << " up to " << band.maxLat;
        }
    }
}

}  // namespace
