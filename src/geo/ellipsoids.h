// The predefined reference ellipsoids: one table of defining values, and the
// load step that fills CTKGeoCoordinateSystem's four static members from it.
#ifndef TAVIKFCU_GEO_ELLIPSOIDS_H
#define TAVIKFCU_GEO_ELLIPSOIDS_H

#include "tavikfcu/TKGeo.h"

namespace tk::detail {

// One predefined ellipsoid: its defining values and the static member that
// holds the derived form. The expected b and e^2 are what set() gives; the
// tests hold the library to them.
struct EllipsoidDefinition {
    const char* name;                // datum, for humans
    double a;                        // semi-major axis, metres
    double invF;                     // inverse flattening
    CTKGeoCoordinateSystem* target;  // the static member filled at load
};

//  datum             a (m)     1/f            b (m)               e^2
//  Beijing 1954      6378245   298.3          6356863.018773047   0.006693421622965934
//  Xian 1980         6378140   298.257        6356755.288157528   0.006694384999587966
//  WGS 84 (as used)  6378137   298.257        6356752.298215968   0.006694384999588188
//  CGCS2000          6378137   298.257222101  6356752.314140356   0.006694380022900792
//
// WGS 84 carries 1/f = 298.257, not the defining 298.257223563. The value is
// kept because coordinates that programs have stored were projected with it,
// and because the WKT writer names WGS 84 by exactly this pair and the texts
// it writes (which other programs compare byte for byte) hold 298.257.
inline constexpr int kPredefinedEllipsoidCount = 4;
extern const EllipsoidDefinition kPredefinedEllipsoids[kPredefinedEllipsoidCount];

// Load step 3: fills the four static ellipsoids. Called once from the
// library's load sequence, before any exported function can run.
void InitEllipsoids();

}  // namespace tk::detail

#endif  // TAVIKFCU_GEO_ELLIPSOIDS_H
