// Independent check of the Gauss-Kruger series against PROJ's exact
// Transverse Mercator (Poder/Engsager, accurate to a few nanometres), printed
// before the benchmarks run.
//
// Table 1 compares with PROJ on exactly the library's system (same a, 1/f,
// central meridian, false easting and northing, scale): it measures the
// series alone. Table 2 compares with the EPSG registry's own definitions,
// which differ from the library's systems by design in two places: EPSG's
// 3-degree zone codes (4513-4533, 2349-2369...) carry the zone number in
// front of the false easting, and EPSG's WGS 84 has 1/f = 298.257223563
// where the library keeps 298.257.
#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "tavikfcu/TKGeo.h"

namespace {

constexpr double kRad = M_PI / 180.0;

struct Extent {
    double lonSpan;  // degrees either side of the central meridian
    double latMin, latMax;
};

struct Worst {
    double metres = 0, lon = 0, lat = 0;
};

std::string TmercDefinition(const CTKProCoordinateSystem& p) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "+proj=tmerc +lat_0=0 +lon_0=%.17g +k=%.17g +x_0=%.17g +y_0=%.17g +a=%.17g "
                  "+rf=%.17g +units=m",
                  p.m_centralMeridian, p.m_scaleFactor, p.m_falseEasting, p.m_falseNorthing,
                  p.m_geo.m_a, p.m_geo.m_invF);
    return text;
}

// Largest horizontal distance between the library and PROJ, forward
// (metres on the plane) and inverse (the geodetic difference of the
// library's inverse of PROJ's plane point, in metres on the ground).
void CompareSeries(const char* name, const CTKProCoordinateSystem& p, const Extent& e) {
    PJ_CONTEXT* ctx = proj_context_create();
    PJ* tm = proj_create(ctx, TmercDefinition(p).c_str());
    if (!tm) {
        std::printf("%-28s PROJ could not create the system\n", name);
        proj_context_destroy(ctx);
        return;
    }
    Worst fwd, inv;
    const double step = e.lonSpan / 60;
    for (double lat = e.latMin; lat <= e.latMax + 1e-9; lat += 0.05) {
        for (double dl = -e.lonSpan; dl <= e.lonSpan + 1e-9; dl += step) {
            const double lon = p.m_centralMeridian + dl;
            PJ_COORD c = proj_coord(lon * kRad, lat * kRad, 0, 0);
            const PJ_COORD xy = proj_trans(tm, PJ_FWD, c);
            double x, y;
            CTKProCoordinateSystem::GeoToGauss(lon, lat, x, y, p);
            const double d = std::hypot(x - xy.xy.x, y - xy.xy.y);
            if (d > fwd.metres) fwd = {d, dl, lat};

            double lon2, lat2;
            CTKProCoordinateSystem::GaussToGeo(xy.xy.x, xy.xy.y, lon2, lat2, p);
            const double dLat = (lat2 - lat) * kRad * p.m_geo.m_a;
            const double dLon = (lon2 - lon) * kRad * p.m_geo.m_a * std::cos(lat * kRad);
            const double di = std::hypot(dLat, dLon);
            if (di > inv.metres) inv = {di, dl, lat};
        }
    }
    std::printf(
        "%-28s |dlon|<=%-4g lat %5.1f..%-5.1f  fwd %9.4f mm (dl %+5.2f lat %5.1f)  "
        "inv %9.4f mm (dl %+5.2f lat %5.1f)\n",
        name, e.lonSpan, e.latMin, e.latMax, fwd.metres * 1e3, fwd.lon, fwd.lat, inv.metres * 1e3,
        inv.lon, inv.lat);
    proj_destroy(tm);
    proj_context_destroy(ctx);
}

// Against the registry: geographic CRS -> projected CRS by EPSG code, with
// lon/lat axis order; eastingOffset undoes the zone prefix.
void CompareRegistry(int epsg, int geographicEpsg, double eastingOffset, const Extent& e) {
    CTKProCoordinateSystem p;
    CTKProCoordinateSystem::EPCSType type;
    if (!p.setByEPSGCode(epsg, type)) return;
    PJ_CONTEXT* ctx = proj_context_create();
    const std::string from = "EPSG:" + std::to_string(geographicEpsg);
    const std::string to = "EPSG:" + std::to_string(epsg);
    PJ* raw = proj_create_crs_to_crs(ctx, from.c_str(), to.c_str(), nullptr);
    PJ* op = raw ? proj_normalize_for_visualization(ctx, raw) : nullptr;
    if (!op) {
        std::printf("EPSG:%d  PROJ has no operation (%s)\n", epsg,
                    proj_errno_string(proj_context_errno(ctx)));
        if (raw) proj_destroy(raw);
        proj_context_destroy(ctx);
        return;
    }
    Worst fwd;
    const double step = e.lonSpan / 60;
    for (double lat = e.latMin; lat <= e.latMax + 1e-9; lat += 0.05) {
        for (double dl = -e.lonSpan; dl <= e.lonSpan + 1e-9; dl += step) {
            const double lon = p.m_centralMeridian + dl;
            const PJ_COORD xy = proj_trans(op, PJ_FWD, proj_coord(lon, lat, 0, 0));
            double x, y;
            CTKProCoordinateSystem::GeoToGauss(lon, lat, x, y, p);
            const double d = std::hypot(x - (xy.xy.x - eastingOffset), y - xy.xy.y);
            if (d > fwd.metres) fwd = {d, dl, lat};
        }
    }
    std::printf(
        "EPSG:%-5d from EPSG:%-5d  |dlon|<=%-4g lat %5.1f..%-5.1f  fwd %9.4f mm "
        "(dl %+5.2f lat %5.1f)\n",
        epsg, geographicEpsg, e.lonSpan, e.latMin, e.latMax, fwd.metres * 1e3, fwd.lon, fwd.lat);
    proj_destroy(op);
    proj_destroy(raw);
    proj_context_destroy(ctx);
}

}  // namespace

void PrintProjCrossCheck() {
    std::printf("== Gauss-Kruger series vs PROJ exact tmerc, same parameters (largest distance)\n");
    struct Case {
        int epsg;
        const char* name;
    } cases[] = {{2383, "EPSG 2383 Xian80 CM114"},
                 {4527, "EPSG 4527 CGCS2000 CM117"},
                 {32650, "EPSG 32650 UTM 50N"}};
    for (const Case& c : cases) {
        CTKProCoordinateSystem p;
        CTKProCoordinateSystem::EPCSType type;
        if (!p.setByEPSGCode(c.epsg, type)) continue;
        const bool utm = c.epsg > 32000;
        // Inside the zone, then twice as wide to show how the series degrades.
        const Extent inZone = utm ? Extent{3, 0, 84} : Extent{1.5, 18, 54};
        const Extent wide = utm ? Extent{6, 0, 84} : Extent{3, 18, 54};
        const Extent wider = utm ? Extent{9, 0, 84} : Extent{6, 18, 54};
        CompareSeries(c.name, p, inZone);
        CompareSeries(c.name, p, wide);
        CompareSeries(c.name, p, wider);
    }
    std::printf("== vs the EPSG registry definitions\n");
    CompareRegistry(2383, 4610, 0, Extent{1.5, 18, 54});
    CompareRegistry(4527, 4490, 39000000, Extent{1.5, 18, 54});
    CompareRegistry(32650, 4326, 0, Extent{3, 0, 84});
    std::printf("\n");
}
