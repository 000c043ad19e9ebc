// TKGeo.h — geodesy: ellipsoids, Gauss-Kruger / UTM projections, EPSG and
// UTM codes, WKT text, earth-centred and east-north-up frames, Web Mercator.
//
// A CTKGeoCoordinateSystem is a reference ellipsoid (semi-major axis a and
// inverse flattening 1/f plus fourteen values derived from them once). A
// CTKProCoordinateSystem is an ellipsoid plus the four parameters of a
// Transverse Mercator projection whose latitude of origin is the equator.
// Angles are decimal degrees (east and north positive), lengths metres:
//
//     CTKProCoordinateSystem pcs;
//     CTKProCoordinateSystem::EPCSType type;
//     pcs.setByEPSGCode(4527, type);                // CGCS2000 / 3-degree GK CM 117E
//     double x, y;                                  // easting, northing
//     CTKProCoordinateSystem::GeoToGauss(118.5, 31.0, x, y, pcs);
//     // x = 643264.1353, y = 3431940.3239
//     char* wkt = pcs.CreateWKT();                  // PROJCS["CGCS2000 / ...
//     tkFreeMem(wkt);
//
// Both classes are plain values (no resources, copied member by member). All
// operations are reentrant. The four predefined ellipsoids (Beijing54, XiAn80,
// WGS84, CGCS2000) are filled in when the library loads; they are ordinary
// shared objects, not constants, and the library takes no lock for them: a
// caller that changes one while another thread reads it races.
//
// Texts handed out (CreateWKT results, WKT reader messages) are released by
// the caller with tkFreeMem (TKCore.h).
#ifndef TAVIKFCU_TKGEO_H
#define TAVIKFCU_TKGEO_H

#include "TKTypes.h"

// ---- geographic coordinate system ------------------------------------------

// A reference ellipsoid. Only m_a and m_invF are defining values; set()
// derives the rest, which the conversions and projections read instead of
// recomputing. The object holds exactly these sixteen doubles, in this order.
class TK_API CTKGeoCoordinateSystem {
  public:
    // A copy of Beijing54 as it is at the moment of the call.
    CTKGeoCoordinateSystem();
    // The same as set(a, invF).
    CTKGeoCoordinateSystem(double a, double invF);
    CTKGeoCoordinateSystem(const CTKGeoCoordinateSystem&) = default;
    // Copy and move both copy all sixteen values; a moved-from object keeps
    // its values.
    CTKGeoCoordinateSystem& operator=(const CTKGeoCoordinateSystem&) = default;
    CTKGeoCoordinateSystem& operator=(CTKGeoCoordinateSystem&&) = default;

    // Stores a (metres) and the inverse flattening and recomputes the derived
    // values. Nothing is validated: a = 0 or invF <= 1 leaves non-finite
    // derived values, which every later computation then propagates.
    void set(double a, double invF);

    // Same ellipsoid: |Δa| < 0.001 m and |Δ(1/f)| < 1e-7. The derived values
    // are not compared, so WGS84 (1/f = 298.257) and CGCS2000
    // (1/f = 298.257222101) differ, as do WGS84 and XiAn80 (a differs by 3 m).
    bool operator==(const CTKGeoCoordinateSystem& other) const;
    bool operator!=(const CTKGeoCoordinateSystem& other) const { return !(*this == other); }

    // Geodetic (lon, lat in degrees, height above the ellipsoid in metres) to
    // the earth-centred, earth-fixed Cartesian frame of the ellipsoid: origin
    // at its centre, X to (0°E, 0°N), Y to (90°E, 0°N), Z to the north pole.
    // Example: (116, 40, 50) on CGCS2000 gives about
    // (-2144838.632151, 4397570.887067, 4078017.711474).
    static void LonLat2ECI(double lon, double lat, double height, double& x, double& y, double& z,
                           const CTKGeoCoordinateSystem& geo);
    // The inverse: projects the point along the ellipsoid normal onto the
    // surface (Newton iteration, two or three passes near the earth) and
    // gives lon, lat in degrees and the signed height (negative below the
    // surface). The centre (0, 0, 0) and non-finite input give NaN results;
    // the iteration always ends.
    static void ECI2LonLat(double x, double y, double z, double& lon, double& lat, double& height,
                           const CTKGeoCoordinateSystem& geo);
    // The 4x4 matrix whose columns are the east, north and up unit vectors of
    // the local frame at the Cartesian point (x, y, z) and, when
    // withTranslation is true, the point itself (else zeros); the last row is
    // 0 0 0 1. matrix * (e, n, u, 1) gives Cartesian coordinates. On the polar
    // axis the east and north columns are zero and up is (0, 0, ±1). A null
    // matrix is ignored.
    static void EastNorthUpToFixedFrame(double x, double y, double z, bool withTranslation,
                                        double (*matrix)[4], const CTKGeoCoordinateSystem& geo);

    // The ellipsoid as a four-line GEOGCS WKT text in the ANSI code page,
    // named after the first predefined ellipsoid it equals (Beijing54, XiAn80,
    // CGCS2000, WGS84 in that order) or "Unknown". Numbers are written with
    // six decimals (the inverse flattening with nine) and trailing zeros and
    // points removed. Never null; free with tkFreeMem.
    char* CreateWKT() const;
    // Reads a and 1/f from the SPHEROID of a GEOGCS text (or of the GEOGCS
    // inside a PROJCS) and calls set(). Any text of the KEY[item, ...] form
    // parses; keys and paths compare case-insensitively. On failure returns
    // false, leaves the object unchanged and, when message is not null,
    // stores in *message a new text naming the fault (free with tkFreeMem).
    // On success *message is not touched.
    bool SetFromWKTW(const TKWCHAR* wkt, TKWCHAR** message);
    // SetFromWKTW for text in the ANSI code page; the message comes back in
    // the ANSI code page too.
    bool SetFromWKTA(const char* wkt, char** message);

    // The predefined ellipsoids (a in metres, inverse flattening):
    //   Beijing54  6378245  298.3           Krassowsky 1940
    //   XiAn80     6378140  298.257         IAG 1975
    //   WGS84      6378137  298.257         (deliberately not 298.257223563)
    //   CGCS2000   6378137  298.257222101
    // Ready before any exported function runs. Operations that start from one
    // of them read it at the moment of the call.
    static CTKGeoCoordinateSystem Beijing54;
    static CTKGeoCoordinateSystem XiAn80;
    static CTKGeoCoordinateSystem WGS84;
    static CTKGeoCoordinateSystem CGCS2000;

    // The sixteen values. set() rewrites all but m_a and m_invF from those two.
    double m_a;     // semi-major axis a, metres (defining)
    double m_b;     // semi-minor axis b = a(1 - 1/invF), metres
    double m_invF;  // inverse flattening 1/f (defining)
    double m_e;     // first eccentricity e = sqrt(1 - (b/a)^2)
    double m_ep;    // second eccentricity e' = sqrt((a/b)^2 - 1)
    double m_a2;    // a^2
    double m_b2;    // b^2
    double m_n;     // third flattening n = (a - b)/(a + b)
    double m_aA0;   // a * A0: metres of meridian arc per radian of rectifying latitude
    double m_F2;    // footpoint series, coefficient of sin 2mu
    double m_F4;    // footpoint series, coefficient of sin 4mu
    double m_F6;    // footpoint series, coefficient of sin 6mu
    double m_A0;    // meridian arc series, coefficient of phi
    double m_A2;    // meridian arc series, coefficient of sin 2phi
    double m_A4;    // meridian arc series, coefficient of sin 4phi
    double m_A6;    // meridian arc series, coefficient of sin 6phi

  private:
    // Zero-filled and constant-initialised: the predefined ellipsoids use it
    // so that no dynamic initialiser can run after the library's load step
    // has filled them.
    struct UnfilledTag {};
    constexpr explicit CTKGeoCoordinateSystem(UnfilledTag)
        : m_a(0),
          m_b(0),
          m_invF(0),
          m_e(0),
          m_ep(0),
          m_a2(0),
          m_b2(0),
          m_n(0),
          m_aA0(0),
          m_F2(0),
          m_F4(0),
          m_F6(0),
          m_A0(0),
          m_A2(0),
          m_A4(0),
          m_A6(0) {}
};

// ---- projected coordinate system -------------------------------------------

// A Transverse Mercator (Gauss-Kruger) system: an ellipsoid, a central
// meridian, false easting and northing and a scale factor; the latitude of
// origin is always the equator. Easting comes first in every argument list.
//
// The ellipsoid is a public member, not a base class: a projected system is
// not an ellipsoid, and a base would let one compare equal to, or be passed
// as, a CTKGeoCoordinateSystem by slicing without a word at the call site.
class TK_API CTKProCoordinateSystem {
  public:
    // The family an EPSG code belonged to.
    enum EPCSType {
        ePCS_Beijing54 = 1,  // Beijing 1954 3-degree Gauss-Kruger
        ePCS_XiAn80 = 2,     // Xian 1980 Gauss-Kruger, 6-degree and 3-degree
        ePCS_CGCS2000 = 3,   // CGCS2000 3-degree Gauss-Kruger
        ePCS_WGS84UTM = 4,   // WGS 84 UTM
    };

    // Beijing54, central meridian 120, false easting 500000, false northing
    // 0, scale factor 1.
    CTKProCoordinateSystem();
    // The same as set() with these arguments.
    CTKProCoordinateSystem(const CTKGeoCoordinateSystem& geo, double centralMeridian,
                           double falseEasting, double falseNorthing, double scaleFactor);
    CTKProCoordinateSystem(const CTKProCoordinateSystem&) = default;
    CTKProCoordinateSystem& operator=(const CTKProCoordinateSystem&) = default;
    CTKProCoordinateSystem& operator=(CTKProCoordinateSystem&&) = default;

    // Copies the ellipsoid and stores the four numbers; nothing is validated.
    void set(const CTKGeoCoordinateSystem& geo, double centralMeridian, double falseEasting,
             double falseNorthing, double scaleFactor);

    // Same system: the ellipsoids are equal (see CTKGeoCoordinateSystem) and
    // |Δ central meridian| < 1e-6, |Δ false easting| < 0.001,
    // |Δ false northing| < 0.001, |Δ scale factor| < 0.001. So a scale factor
    // of 0.9996 equals one of 1; IsUTM() tells them apart.
    bool operator==(const CTKProCoordinateSystem& other) const;
    bool operator!=(const CTKProCoordinateSystem& other) const { return !(*this == other); }

    // Whether the scale factor is within 0.0001 of 0.9996 (nothing else is
    // looked at).
    bool IsUTM() const;
    // UTM zone code: 1..60 north, -1..-60 south. Sets WGS84, central meridian
    // 6|code| - 183, false easting 500000, false northing 0 (north) or
    // 10000000 (south), scale factor 0.9996. Any other code returns false and
    // changes nothing.
    bool setByUTMCode(int code);
    // The signed zone code of a UTM-shaped system (scale factor 0.9996, false
    // easting 500000, false northing 0 or 10000000), from (CM + 183) / 6
    // truncated; 0 when the shape does not match. The ellipsoid is not looked
    // at, nor whether the central meridian is a zone centre (CM 114 gives 49).
    int GetUTMCode() const;
    // EPSG codes of the Chinese Gauss-Kruger systems (2327-2390 Xian 1980,
    // 2401-2442 Beijing 1954, 4513-4554 CGCS2000; false easting 500000
    // without a zone prefix, scale factor 1) and of WGS 84 UTM (32601-32660
    // north, 32701-32760 south). Sets the system and type; any other code
    // returns false and leaves both unchanged.
    bool setByEPSGCode(int code, EPCSType& type);

    // Geodetic (lon, lat in degrees) to plane (easting x, northing y, metres)
    // with the classical Gauss-Kruger series (terms to l^6, meridian arc to
    // e^6). Against an exact Transverse Mercator: within 0.55 mm in a
    // 3-degree zone (18-54°N) and 0.96 mm in a UTM zone (0-84°N), the limit
    // being the meridian arc series at high latitude; 6 mm at 6° from the
    // central meridian and 0.2 m at 9°.
    static void GeoToGauss(double lon, double lat, double& x, double& y,
                           const CTKProCoordinateSystem& pcs);
    // Plane to geodetic, the footpoint-latitude series: within 0.45 mm of an
    // exact inverse inside a zone, 47 mm at 6° from the central meridian.
    // Forward then inverse returns the input to 1.3e-9 degrees up to 40°
    // latitude (4.7e-9 at 60°). The stored false easting is subtracted as is
    // (no zone prefix is looked for). A scale factor of 0 gives non-finite
    // results.
    static void GaussToGeo(double x, double y, double& lon, double& lat,
                           const CTKProCoordinateSystem& pcs);

    // The system as an eleven-line PROJCS WKT text in the ANSI code page,
    // always named "<datum> / 3-degree Gauss-Kruger CM <|CM|><E|W>", with the
    // GEOGCS text of the ellipsoid inside. Never null; free with tkFreeMem.
    char* CreateWKT() const;
    // Reads a PROJCS text: the ellipsoid first (as CTKGeoCoordinateSystem::
    // SetFromWKTW), then PROJECTION, which must be Transverse_Mercator or
    // Gauss_Kruger (the name ESRI .prj files give it; any case), then
    // the central_meridian, false_easting, false_northing and scale_factor
    // PARAMETERs, each stored as soon as it is found. A failure can therefore
    // leave the system partly updated. Messages as for the geographic class.
    bool SetFromWKTW(const TKWCHAR* wkt, TKWCHAR** message);
    bool SetFromWKTA(const char* wkt, char** message);

    CTKGeoCoordinateSystem m_geo;  // the ellipsoid
    double m_centralMeridian;      // L0, degrees
    double m_falseEasting;         // FE, metres, added to every easting
    double m_falseNorthing;        // FN, metres, added to every northing
    double m_scaleFactor;          // k0 on the central meridian
};

// ---- Web Mercator ----------------------------------------------------------

// Spherical ("Web") Mercator on the sphere of radius 6378137 m, as used by
// web map tiles. No clamping and no wrapping: latitude -90 gives y = -inf,
// longitude 540 gives x = 3 * 20037508.3427892.
namespace TKWebMercator {
// lon 180, lat 0 gives (20037508.3427892, 0); |y| < 1e-8 is snapped to 0.
TK_API void LonLat2WebMercator(double lon, double lat, double& x, double& y);
// x = y = 20037508.3427892 gives (180, 85.0511287798...); |lat| < 1e-8 is
// snapped to 0.
TK_API void WebMercator2LonLat(double x, double y, double& lon, double& lat);
}  // namespace TKWebMercator

#endif  // TAVIKFCU_TKGEO_H
