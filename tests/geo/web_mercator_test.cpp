// Web Mercator: the fixed sphere, the snapping of the second coordinate.
#include <gtest/gtest.h>

#include <cmath>

#include "tavikfcu/TKGeo.h"

namespace {

constexpr double kH = 20037508.3427892;

TEST(WebMercator, Forward) {
    struct Row {
        const char* name;
        double lon, lat, x, y, tolerance;
    } rows[] = {
        {"antimeridian on the equator", 180, 0, kH, 0, 0},
        // No wrapping.
        {"540 degrees", 540, 0, 3 * kH, 0, 1e-6},
        {"tile-square corner", -180, -85.0511287798066, -kH, -kH, 1e-4},
    };
    for (const Row& row : rows) {
        double x, y;
        TKWebMercator::LonLat2WebMercator(row.lon, row.lat, x, y);
        EXPECT_NEAR(x, row.x, row.tolerance) << row.name;
        EXPECT_NEAR(y, row.y, row.tolerance) << row.name;
    }
    double x, y;
    TKWebMercator::LonLat2WebMercator(180, 0, x, y);
    EXPECT_FALSE(std::signbit(y));  // the equator's rounding residue is snapped to +0
    TKWebMercator::LonLat2WebMercator(10, -90, x, y);
    EXPECT_EQ(y, -INFINITY);
    TKWebMercator::LonLat2WebMercator(10, 91, x, y);
    EXPECT_TRUE(std::isnan(y));
}

// The inverse's values are held to the forward ones by the round trip.
TEST(WebMercator, InverseSnapsOnlyTheSecondCoordinate) {
    double lon, lat;
    TKWebMercator::WebMercator2LonLat(1e-9, 1e-9, lon, lat);
    EXPECT_EQ(lat, 0.0);  // snapped
    EXPECT_GT(lon, 0.0);  // never snapped
}

TEST(WebMercator, RoundTrip) {
    for (double lat = -85; lat <= 85; lat += 0.73) {
        for (double lon = -180; lon <= 180; lon += 11.3) {
            double x, y, lon2, lat2;
            TKWebMercator::LonLat2WebMercator(lon, lat, x, y);
            TKWebMercator::WebMercator2LonLat(x, y, lon2, lat2);
            ASSERT_NEAR(lon2, lon, 1e-12);
            ASSERT_NEAR(lat2, lat, 1e-12);
        }
    }
}

}  // namespace
