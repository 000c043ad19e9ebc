// WKT writer: the fixed GEOGCS and PROJCS texts of the two coordinate-system
// classes. The texts are fixed byte for byte: other programs store them and
// compare them literally, so change nothing here without a reason.
#include <cmath>
#include <cstdio>

#include "memory/heap.h"
#include "platform/c_locale_numbers.h"
#include "platform/features.h"
#include "tavikfcu/TKGeo.h"

namespace {

// Room for any double printed with "%f" (309 integer digits, sign, point and
// nine decimals) and its terminator.
constexpr std::size_t kNumberTextCap = 330;
// Buffer sizes of the handed-out texts; longer texts are cut, as a bounded
// print does (only absurd numbers, hundreds of digits long, get there).
constexpr std::size_t kGeogcsCap = 512;
constexpr std::size_t kProjcsCap = 1024;

// A number as WKT writes it: "%f" ("%.9f" for the inverse flattening) in
// the "C" locale, then trailing '0's and after them trailing '.'s removed:
// 6378137 -> "6378137", 298.3 -> "298.3", 0.9996 -> "0.9996", -177 -> "-177".
// The text is ASCII, which every supported ANSI code page writes as is.
struct NumberText {
    char text[kNumberTextCap];
    const char* c_str() const { return text; }
};

NumberText FormatNumber(double value, bool nineDecimals) {
    NumberText out;
    int n =
        tk::platform::FormatCLocale(out.text, sizeof out.text, nineDecimals ? "%.9f" : "%f", value);
    if (n < 0) n = 0;
    if (n >= static_cast<int>(sizeof out.text)) n = static_cast<int>(sizeof out.text) - 1;
    while (n > 0 && out.text[n - 1] == '0') --n;
    while (n > 0 && out.text[n - 1] == '.') --n;
    out.text[n] = '\0';
    return out;
}

// The predefined ellipsoids in the order the writer recognises them, with
// their GEOGCS template (a, then 1/f) and the datum name of the PROJCS
// title. The first two templates write the degree as 0.01745329251994328,
// the others as 0.0174532925199433: both texts are in circulation.
struct KnownDatum {
    const CTKGeoCoordinateSystem* ellipsoid;  // compared at the moment of the call
    const char* geogcsTemplate;
    const char* projcsDatumName;
};

const KnownDatum kKnownDatums[] = {
    {&CTKGeoCoordinateSystem::Beijing54,
     "GEOGCS[\"Beijing 1954\",\n"
     "DATUM[\"Beijing_1954\",SPHEROID[\"Krassowsky 1940\",%s,%s]],\n"
     "PRIMEM[\"Greenwich\",0],\n"
     "UNIT[\"degree\",0.01745329251994328]]",
     "Beijing 1954"},
    {&CTKGeoCoordinateSystem::XiAn80,
     "GEOGCS[\"Xian 1980\",\n"
     "DATUM[\"Xian_1980\",SPHEROID[\"Xian 1980\",%s,%s]],\n"
     "PRIMEM[\"Greenwich\",0],\n"
     "UNIT[\"degree\",0.01745329251994328]]",
     "Xian 1980"},
    {&CTKGeoCoordinateSystem::CGCS2000,
     "GEOGCS[\"China Geodetic Coordinate System 2000\",\n"
     "DATUM[\"China_2000\",SPHEROID[\"CGCS2000\",%s,%s]],\n"
     "PRIMEM[\"Greenwich\",0],\n"
     "UNIT[\"degree\",0.0174532925199433]]",
     "CGCS2000"},
    {&CTKGeoCoordinateSystem::WGS84,
     "GEOGCS[\"WGS 84\",\n"
     "DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",%s,%s]],\n"
     "PRIMEM[\"Greenwich\",0],\n"
     "UNIT[\"degree\",0.0174532925199433]]",
     "WGS 84"},
};

const char kUnknownGeogcsTemplate[] =
    "GEOGCS[\"Unknown\",\n"
    "DATUM[\"Unknown\",SPHEROID[\"Unknown\",%s,%s]],\n"
    "PRIMEM[\"Greenwich\",0],\n"
    "UNIT[\"degree\",0.0174532925199433]]";
const char kUnknownDatumName[] = "Unknown";

// Always "3-degree Gauss-Kruger", also for UTM and 6-degree systems: the
// title is fixed text that readers match.
const char kProjcsTemplate[] =
    "PROJCS[\"%s / 3-degree Gauss-Kruger CM %s%s\",\n"
    "%s,\n"
    "UNIT[\"metre\",1],\n"
    "PROJECTION[\"Transverse_Mercator\"],\n"
    "PARAMETER[\"latitude_of_origin\",0],\n"
    "PARAMETER[\"central_meridian\",%s],\n"
    "PARAMETER[\"scale_factor\",%s],\n"
    "PARAMETER[\"false_easting\",%s],\n"
    "PARAMETER[\"false_northing\",%s],\n"
    "AXIS[\"Y\",EAST],\n"
    "AXIS[\"X\",NORTH]]";

const KnownDatum* RecogniseDatum(const CTKGeoCoordinateSystem& geo) {
    for (const KnownDatum& datum : kKnownDatums)
        if (geo == *datum.ellipsoid) return &datum;
    return nullptr;
}

// The templates hold only %s conversions, fixed by the tables above.
TK_PRAGMA(GCC diagnostic push)
TK_PRAGMA(GCC diagnostic ignored "-Wformat-nonliteral")
char* PrintGeogcs(const char* format, const char* a, const char* invF) {
    char* out = static_cast<char*>(tk::detail::HeapAlloc(kGeogcsCap));
    std::snprintf(out, kGeogcsCap, format, a, invF);
    return out;
}
TK_PRAGMA(GCC diagnostic pop)

}  // namespace

char* CTKGeoCoordinateSystem::CreateWKT() const {
    const NumberText a = FormatNumber(m_a, false);
    const NumberText invF = FormatNumber(m_invF, true);
    const KnownDatum* datum = RecogniseDatum(*this);
    return PrintGeogcs(datum ? datum->geogcsTemplate : kUnknownGeogcsTemplate, a.c_str(),
                       invF.c_str());
}

char* CTKProCoordinateSystem::CreateWKT() const {
    char* geogcs = m_geo.CreateWKT();
    const NumberText absMeridian = FormatNumber(std::fabs(m_centralMeridian), false);
    const NumberText meridian = FormatNumber(m_centralMeridian, false);
    const NumberText falseEasting = FormatNumber(m_falseEasting, false);
    const NumberText falseNorthing = FormatNumber(m_falseNorthing, false);
    const NumberText scale = FormatNumber(m_scaleFactor, false);
    const KnownDatum* datum = RecogniseDatum(m_geo);
    const char* hemisphere = m_centralMeridian < 0 ? "W" : "E";

    char* out = nullptr;
    try {
        out = static_cast<char*>(tk::detail::HeapAlloc(kProjcsCap));
    } catch (...) {
        tk::detail::HeapFree(geogcs);
        throw;
    }
    // A result longer than the buffer is cut (and still terminated): the
    // text is bounded, and only absurd numbers reach the bound.
    const int written = std::snprintf(out, kProjcsCap, kProjcsTemplate,
                                      datum ? datum->projcsDatumName : kUnknownDatumName,
                                      absMeridian.c_str(), hemisphere, geogcs, meridian.c_str(),
                                      scale.c_str(), falseEasting.c_str(), falseNorthing.c_str());
    if (written < 0) out[0] = '\0';
    tk::detail::HeapFree(geogcs);
    return out;
}
