// WKT: the writer's texts byte for byte, the reader's tree and messages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "geo/wkt_tree.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKGeo.h"

namespace {

using Geo = CTKGeoCoordinateSystem;
using Pro = CTKProCoordinateSystem;
using tk::detail::CWKTDef;
using tk::detail::CWKTDefValue;

std::string TakeText(char* p) {
    std::string s = p ? p : "(null)";
    tkFreeMem(p);
    return s;
}

std::u16string TakeText(TKWCHAR* p) {
    std::u16string s = p ? std::u16string(p) : u"(null)";
    tkFreeMem(p);
    return s;
}

std::string Geogcs(const char* name, const char* datum, const char* spheroid, const char* a,
                   const char* invF, const char* degree) {
    return std::string("GEOGCS[\"") + name + "\",\nDATUM[\"" + datum + "\",SPHEROID[\"" + spheroid +
           "\"," + a + "," + invF + "]],\nPRIMEM[\"Greenwich\",0],\nUNIT[\"degree\"," + degree +
           "]]";
}

// ---- writer ------------------------------------------------------------------

TEST(WktWriter, GeogcsTemplates) {
    struct Row {
        const char* name;
        Geo geo;
        std::string text;
    } rows[] = {
        {"Beijing54", Geo::Beijing54,
         Geogcs("Beijing 1954", "Beijing_1954", "Krassowsky 1940", "6378245", "298.3",
                "0.01745329251994328")},
        {"XiAn80", Geo::XiAn80,
         Geogcs("Xian 1980", "Xian_1980", "Xian 1980", "6378140", "298.257",
                "0.01745329251994328")},
        {"CGCS2000", Geo::CGCS2000,
         Geogcs("China Geodetic Coordinate System 2000", "China_2000", "CGCS2000", "6378137",
                "298.257222101", "0.0174532925199433")},
        {"WGS84", Geo::WGS84,
         Geogcs("WGS 84", "WGS_1984", "WGS 84", "6378137", "298.257", "0.0174532925199433")},
        {"unknown", Geo(6378137, 298.2572),
         Geogcs("Unknown", "Unknown", "Unknown", "6378137", "298.2572", "0.0174532925199433")},
        // %f keeps six decimals of a, nine of 1/f; trailing zeros then go.
        {"fractions", Geo(6378137.1234567, 300.0000000004),
         Geogcs("Unknown", "Unknown", "Unknown", "6378137.123457", "300", "0.0174532925199433")},
        {"tolerance picks WGS84", Geo(6378137.0004, 298.25700000005),
         Geogcs("WGS 84", "WGS_1984", "WGS 84", "6378137.0004", "298.257", "0.0174532925199433")},
    };
    for (const Row& row : rows) EXPECT_EQ(TakeText(row.geo.CreateWKT()), row.text) << row.name;
}

TEST(WktWriter, ProjcsCgcs2000CM117) {
    const Pro p(Geo::CGCS2000, 117, 500000, 0, 1);
    const std::string expected =
        "PROJCS[\"CGCS2000 / 3-degree Gauss-Kruger CM 117E\",\n" +
        Geogcs("China Geodetic Coordinate System 2000", "China_2000", "CGCS2000", "6378137",
               "298.257222101", "0.0174532925199433") +
        ",\n"
        "UNIT[\"metre\",1],\n"
        "PROJECTION[\"Transverse_Mercator\"],\n"
        "PARAMETER[\"latitude_of_origin\",0],\n"
        "PARAMETER[\"central_meridian\",117],\n"
        "PARAMETER[\"scale_factor\",1],\n"
        "PARAMETER[\"false_easting\",500000],\n"
        "PARAMETER[\"false_northing\",0],\n"
        "AXIS[\"Y\",EAST],\n"
        "AXIS[\"X\",NORTH]]";
    EXPECT_EQ(TakeText(p.CreateWKT()), expected);
}

TEST(WktWriter, ProjcsTitlesAndNumbers) {
    Pro utm1;
    ASSERT_TRUE(utm1.setByUTMCode(-1));
    const std::string text = TakeText(utm1.CreateWKT());
    // Always "3-degree", also for UTM; west meridians carry W and |CM|.
    EXPECT_EQ(text.rfind("PROJCS[\"WGS 84 / 3-degree Gauss-Kruger CM 177W\",\n", 0), 0u);
    EXPECT_NE(text.find("PARAMETER[\"central_meridian\",-177],\n"), std::string::npos);
    EXPECT_NE(text.find("PARAMETER[\"scale_factor\",0.9996],\n"), std::string::npos);
    EXPECT_NE(text.find("PARAMETER[\"false_northing\",10000000],\n"), std::string::npos);

    const Pro odd(Geo(6378000, 297), 0, 0, 0, 1);
    const std::string oddText = TakeText(odd.CreateWKT());
    EXPECT_EQ(oddText.rfind("PROJCS[\"Unknown / 3-degree Gauss-Kruger CM 0E\",\n", 0), 0u);

    const Pro xian(Geo::XiAn80, 112.5, 37500000.25, 0, 1);
    const std::string xianText = TakeText(xian.CreateWKT());
    EXPECT_EQ(xianText.rfind("PROJCS[\"Xian 1980 / 3-degree Gauss-Kruger CM 112.5E\",\n", 0), 0u);
    EXPECT_NE(xianText.find("PARAMETER[\"false_easting\",37500000.25],\n"), std::string::npos);
}

// Absurd numbers make texts longer than the buffers; they are cut, never
// overrun.
TEST(WktWriter, HugeNumbersAreCutToTheBuffer) {
    const Geo huge(1e300, 1e300);
    const std::string text = TakeText(huge.CreateWKT());
    EXPECT_EQ(text.size(), 511u);
    const Pro p(huge, -1e300, 1e300, -1e300, 1e300);
    EXPECT_EQ(TakeText(p.CreateWKT()).size(), 1023u);
}

TEST(WktWriter, WrittenTextsReadBackToEqualObjects) {
    Geo geos[] = {Geo::Beijing54, Geo::XiAn80, Geo::WGS84, Geo::CGCS2000,
                  Geo(6377397.155, 299.1528128)};
    for (const Geo& g : geos) {
        Geo back(1, 2);
        char* message = nullptr;
        ASSERT_TRUE(back.SetFromWKTA(TakeText(g.CreateWKT()).c_str(), &message));
        EXPECT_EQ(message, nullptr);
        EXPECT_TRUE(back == g);
    }
    Pro systems[6];
    Pro::EPCSType type;
    ASSERT_TRUE(systems[0].setByEPSGCode(2383, type));
    ASSERT_TRUE(systems[1].setByEPSGCode(4527, type));
    ASSERT_TRUE(systems[2].setByEPSGCode(2401, type));
    ASSERT_TRUE(systems[3].setByEPSGCode(32650, type));
    ASSERT_TRUE(systems[4].setByUTMCode(-33));
    systems[5].set(Geo(6378388, 297), -63.25, 1234.5, -99.75, 0.99985);
    for (const Pro& p : systems) {
        Pro back(Geo::WGS84, 0, 0, 0, 0);
        ASSERT_TRUE(back.SetFromWKTA(TakeText(p.CreateWKT()).c_str(), nullptr));
        EXPECT_TRUE(back == p);
        EXPECT_EQ(back.GetUTMCode(), p.GetUTMCode());
    }
}

// ---- tokenizer and tree --------------------------------------------------------

TEST(WktTree, ItemsKindsAndLookups) {
    CWKTDef root;
    CTKString error;
    ASSERT_TRUE(
        CWKTDef::Parse(root,
                       u"projcs[\"n\", Geogcs[\"g\", datum[\"d\", SPHEROID[\"s\",6378137.0.0,"
                       u"-.5,+3,-,EAST, WEST END ,]]], PARAMETER[\"K\",7]]",
                       error));
    EXPECT_EQ(std::u16string(root.m_name), u"projcs");
    const CWKTDef* sph = CWKTDef::FindDef(root, u" PROJCS \\\\ GEOGCS\\DATUM\\spheroid\\");
    ASSERT_NE(sph, nullptr);
    // A word always starts with a visible character, so ",]" adds no item.
    ASSERT_EQ(sph->m_values.size(), 7u);
    struct Expect {
        int kind;
        double number;
        const char16_t* text;
    } expect[] = {{2, 0, u"s"}, {4, 6378137, u""}, {4, -0.5, u""},     {4, 3, u""},
                  {4, 0, u""},  {3, 0, u"EAST"},   {3, 0, u"WEST END"}};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(sph->m_values[i]->m_kind, expect[i].kind) << i;
        EXPECT_EQ(sph->m_values[i]->m_number, expect[i].number) << i;
        EXPECT_EQ(std::u16string(sph->m_values[i]->m_text), expect[i].text) << i;
    }
    EXPECT_EQ(root.m_values[1]->m_def, root.m_values[1]);
    EXPECT_EQ(CWKTDef::FindDef(root, u"GEOGCS"), nullptr);
    EXPECT_EQ(CWKTDef::FindDef(root, u"PROJCS\\DATUM"), nullptr);
    EXPECT_EQ(CWKTDef::FindDef(root, u" \\ "), nullptr);
    EXPECT_EQ(CWKTDef::FindDef(root, u"projCS"), &root);
    double v = 0;
    EXPECT_TRUE(CWKTDef::GetParamValue(root, u"k", v));
    EXPECT_EQ(v, 7);
    EXPECT_FALSE(CWKTDef::GetParamValue(root, u"missing", v));
}

// Names fold case beyond ASCII, as _wcsicmp does.
TEST(WktTree, NamesFoldNonAsciiCase) {
    CWKTDef root;
    CTKString error;
    ASSERT_TRUE(CWKTDef::Parse(root, u"ÉTÉ[ΣΦ[1], PARAMETER[\"Ä\",2]]", error));
    ASSERT_NE(CWKTDef::FindDef(root, u"été\\σφ"), nullptr);
    double v = 0;
    EXPECT_TRUE(CWKTDef::GetParamValue(root, u"ä", v));
    EXPECT_EQ(v, 2);
}

// Thousands of nested definitions parse and are destroyed without
// recursion.
TEST(WktTree, DeepNesting) {
    std::u16string text;
    const int depth = 200000;
    for (int i = 0; i < depth; ++i) text += u"A[";
    text += u"1";
    for (int i = 0; i < depth; ++i) text += u"]";
    CWKTDef root;
    CTKString error;
    EXPECT_TRUE(CWKTDef::Parse(root, text.c_str(), error));
}

// ---- reader messages -------------------------------------------------------------

const char16_t kSpheroidMessage[] = u"未发现GEOGCS\\DATUM\\SPHEROID，或值非法!";

TEST(WktReader, GeographicMessages) {
    struct Row {
        const char* name;
        const TKWCHAR* text;
        const char16_t* message;
    } rows[] = {
        {"null", nullptr, u"WKT参数为NULL"},
        {"empty", u"", u"无效的WKT格式，未发现KEY[xxx]定义"},
        {"quoted key", u"\"GEOGCS\"[1]", u"无效的WKT格式，未发现KEY[xxx]定义"},
        {"no bracket", u"GEOGCS,1]", u"无效的WKT格式，未发现KEY[xxx]定义"},
        {"unclosed", u"GEOGCS[\"a\",", u"无效的WKT格式，[]不匹配"},
        {"extra ]", u"GEOGCS[\"a\"]]", u"无效的WKT格式，[]不匹配"},
        {"token after root", u"GEOGCS[\"a\"] \"x\"", u"无效的WKT格式，[]不匹配"},
        {"ends inside root", u"GEOGCS[DATUM[1]", u"无效的WKT格式，[]不匹配"},
        {"[ as item", u"GEOGCS[[,1]", u"无效的WKT格式，[]不匹配"},
        {"item then nothing", u"GEOGCS[\"a\"", u"无效的WKT格式，a后未发现结束标记"},
        {"unclosed quote", u"GEOGCS[\"a\",\"open", u"无效的WKT格式，[]不匹配"},
        // A word needs a , [ or ] somewhere after it; otherwise it is not there.
        {"word at the end", u"GEOGCS[\"a\",word", u"无效的WKT格式，[]不匹配"},
        {"two quoted texts", u"GEOGCS[\"a\" \"b\"]", u"无效的WKT格式，a后未发现结束标记"},
        {"quoted then number", u"GEOGCS[\"a\" 5]", u"无效的WKT格式，a后未发现有效的结束标记"},
        // A word runs to the next , [ or ], quotes included.
        {"word swallows quotes", u"GEOGCS[\"a\",1.5 \"x\"]", kSpheroidMessage},
        {"quoted then [", u"GEOGCS[\"a\"[1]]", u"无效的WKT格式，a后未发现有效的结束标记"},
        // A word followed by [ opens a definition, even one named 1.5.
        {"number-named definition", u"GEOGCS[\"a\",1.5 [x]]", kSpheroidMessage},
        {"no spheroid", u"GEOGCS[\"a\",DATUM[\"d\"]]", kSpheroidMessage},
        {"spheroid too short", u"GEOGCS[DATUM[SPHEROID[\"s\",6378137]]]", kSpheroidMessage},
        {"quoted axis", u"GEOGCS[DATUM[SPHEROID[\"s\",\"6378137\",298]]]", kSpheroidMessage},
        {"exponent is a word", u"GEOGCS[DATUM[SPHEROID[\"s\",6.378137E6,298.3]]]",
         kSpheroidMessage},
        // Only a missing GEOGCS path falls back to PROJCS.
        {"other root", u"LOCAL_CS[DATUM[SPHEROID[\"s\",1,2]]]", kSpheroidMessage},
    };
    for (const Row& row : rows) {
        Geo g = Geo::XiAn80;
        TKWCHAR* message = nullptr;
        EXPECT_FALSE(g.SetFromWKTW(row.text, &message)) << row.name;
        EXPECT_EQ(TakeText(message), row.message) << row.name;
        EXPECT_EQ(0, std::memcmp(&g, &Geo::XiAn80, sizeof g)) << row.name;
        // No message pointer: the same result, nothing handed out.
        EXPECT_FALSE(g.SetFromWKTW(row.text, nullptr)) << row.name;
    }
}

TEST(WktReader, GeographicAccepts) {
    struct Row {
        const char* name;
        const TKWCHAR* text;
        double a, invF;
    } rows[] = {
        {"lower-case keys", u"geogcs[\"x\",datum[\"y\",spheroid[\"z\",6378245,298.3]]]", 6378245,
         298.3},
        {"second point ends the number", u"GEOGCS[DATUM[SPHEROID[\"s\",6378137.0.0,298.257]]]",
         6378137, 298.257},
        {"inside PROJCS", u"PROJCS[\"p\",GEOGCS[\"g\",DATUM[\"d\",SPHEROID[\"s\",1,2]]]]", 1, 2},
        {"trailing text without tokens", u"GEOGCS[DATUM[SPHEROID[s,1,2]]]  tail", 1, 2},
        {"first DATUM wins", u"GEOGCS[DATUM[SPHEROID[s,1,2]],DATUM[SPHEROID[s,3,4]]]", 1, 2},
        // Quoted text is verbatim: brackets, commas and blanks inside stay.
        {"brackets inside quotes", u"GEOGCS[\"[,] \",DATUM[SPHEROID[\"]\",1,2]]]", 1, 2},
        {"empty quoted name", u"GEOGCS[\"\",DATUM[SPHEROID[\"\",1,2]]]", 1, 2},
    };
    for (const Row& row : rows) {
        Geo g;
        TKWCHAR* untouched = reinterpret_cast<TKWCHAR*>(&g);
        TKWCHAR* message = untouched;
        EXPECT_TRUE(g.SetFromWKTW(row.text, &message)) << row.name;
        EXPECT_EQ(message, untouched) << row.name;
        EXPECT_EQ(g.m_a, row.a) << row.name;
        EXPECT_EQ(g.m_invF, row.invF) << row.name;
    }
}

const TKWCHAR kGeogcsPart[] =
    u"GEOGCS[\"g\",DATUM[\"d\",SPHEROID[\"s\",6378137,298.257222101]],PRIMEM[\"Greenwich\",0]]";

std::u16string Projcs(const char16_t* projection, const char16_t* parameters) {
    return std::u16string(u"PROJCS[\"p\",") + kGeogcsPart + u",PROJECTION[" + projection + u"]," +
           parameters + u"]";
}

TEST(WktReader, ProjectedMessagesAndPartialUpdates) {
    const char16_t* all =
        u"PARAMETER[\"central_meridian\",117],PARAMETER[\"false_easting\",500000],"
        u"PARAMETER[\"false_northing\",0],PARAMETER[\"scale_factor\",1]";
    struct Row {
        const char* name;
        std::u16string text;
        const char16_t* message;
        double meridian, easting;  // what the system holds afterwards
    } rows[] = {
        {"geographic text only", kGeogcsPart, u"未定义PROJCS\\PROJECTION[\"xxx\"]", 1, 2},
        {"unquoted projection", Projcs(u"Transverse_Mercator", all),
         u"未定义PROJCS\\PROJECTION[\"xxx\"]", 1, 2},
        {"Lambert", Projcs(u"\"Lambert_Conformal_Conic\"", all),
         u"PROJECTION只支持Transverse_Mercator，不支持当前定义的Lambert_Conformal_Conic", 1, 2},
        {"no central meridian", Projcs(u"\"transverse_mercator\"", u"PARAMETER[\"x\",1]"),
         u"未定义有效的PARAMETER[\"central_meridian\",xx]", 1, 2},
        // The first PARAMETER of a name decides; a later numeric one is not read.
        {"quoted false easting",
         Projcs(u"\"Transverse_Mercator\"",
                u"PARAMETER[\"central_meridian\",117],PARAMETER[\"false_easting\",\"500000\"],"
                u"PARAMETER[\"false_easting\",500000]"),
         u"未定义有效的PARAMETER[\"false_easting\",xx]", 117, 2},
        {"no false northing",
         Projcs(u"\"Transverse_Mercator\"",
                u"PARAMETER[\"central_meridian\",117],PARAMETER[\"false_easting\",500000]"),
         u"未定义有效的PARAMETER[\"false_northing\",xx]", 117, 500000},
        {"short scale factor",
         Projcs(u"\"Transverse_Mercator\"",
                u"PARAMETER[\"central_meridian\",117],PARAMETER[\"false_easting\",500000],"
                u"PARAMETER[\"false_northing\",0],PARAMETER[\"scale_factor\"]"),
         u"未定义有效的PARAMETER[\"scale_factor\",xx]", 117, 500000},
    };
    for (const Row& row : rows) {
        Pro p(Geo::Beijing54, 1, 2, 3, 4);
        TKWCHAR* message = nullptr;
        EXPECT_FALSE(p.SetFromWKTW(row.text.c_str(), &message)) << row.name;
        EXPECT_EQ(TakeText(message), row.message) << row.name;
        // The ellipsoid is taken before anything else is checked.
        EXPECT_TRUE(p.m_geo == Geo::CGCS2000) << row.name;
        EXPECT_EQ(p.m_centralMeridian, row.meridian) << row.name;
        EXPECT_EQ(p.m_falseEasting, row.easting) << row.name;
    }

    // A failing ellipsoid stops everything before any change.
    Pro p(Geo::Beijing54, 1, 2, 3, 4);
    TKWCHAR* message = nullptr;
    EXPECT_FALSE(p.SetFromWKTW(u"PROJCS[PROJECTION[\"Transverse_Mercator\"]]", &message));
    EXPECT_EQ(TakeText(message), kSpheroidMessage);
    EXPECT_TRUE(p == Pro(Geo::Beijing54, 1, 2, 3, 4));

    Pro ok(Geo::Beijing54, 1, 2, 3, 4);
    EXPECT_TRUE(ok.SetFromWKTW(Projcs(u"\"transverse_MERCATOR\"", all).c_str(), nullptr));
    EXPECT_TRUE(ok == Pro(Geo::CGCS2000, 117, 500000, 0, 1));
}

// ESRI .prj files name the Chinese Gauss-Kruger systems "Gauss_Kruger",
// with their own spelling of every name: they read to the system that the
// library's own text describes, and the writer keeps writing its own text.
std::string EsriCgcs2000Prj(const char* name, const char* falseEasting) {
    return std::string("PROJCS[\"") + name +
           "\",GEOGCS[\"GCS_China_Geodetic_Coordinate_System_2000\",DATUM[\"D_China_2000\","
           "SPHEROID[\"CGCS2000\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],UNIT["
           "\"Degree\",0.0174532925199433]],PROJECTION[\"Gauss_Kruger\"],PARAMETER[\"False_"
           "Easting\"," +
           falseEasting +
           "],PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",117.0],"
           "PARAMETER[\"Scale_Factor\",1.0],PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT["
           "\"Meter\",1.0]]";
}

TEST(WktReader, EsriGaussKrugerPrj) {
    Pro epsg4527;  // the library's 4527: CM 117E, no zone prefix
    Pro::EPCSType type;
    ASSERT_TRUE(epsg4527.setByEPSGCode(4527, type));
    Pro zone39 = epsg4527;  // the zone-prefixed false easting of the .prj
    zone39.m_falseEasting = 39500000;
    struct Row {
        const char* name;
        std::string prj;
        Pro own;
    } rows[] = {
        {"zone 39", EsriCgcs2000Prj("CGCS2000_3_Degree_GK_Zone_39", "39500000.0"), zone39},
        {"CM 117E", EsriCgcs2000Prj("CGCS2000_3_Degree_GK_CM_117E", "500000.0"), epsg4527},
    };
    for (const Row& row : rows) {
        Pro fromOwn, fromEsri;
        ASSERT_TRUE(fromOwn.SetFromWKTA(TakeText(row.own.CreateWKT()).c_str(), nullptr));
        char* message = nullptr;
        ASSERT_TRUE(fromEsri.SetFromWKTA(row.prj.c_str(), &message))
            << row.name << ": " << TakeText(message);
        EXPECT_TRUE(fromEsri == fromOwn) << row.name;
        EXPECT_EQ(fromEsri.m_falseEasting, row.own.m_falseEasting) << row.name;
        EXPECT_EQ(TakeText(fromEsri.CreateWKT()), TakeText(row.own.CreateWKT())) << row.name;
    }

    const char16_t* all =
        u"PARAMETER[\"central_meridian\",117],PARAMETER[\"false_easting\",500000],"
        u"PARAMETER[\"false_northing\",0],PARAMETER[\"scale_factor\",1]";
    Pro lower;
    EXPECT_TRUE(lower.SetFromWKTW(Projcs(u"\"gauss_KRUGER\"", all).c_str(), nullptr));
    EXPECT_TRUE(lower == Pro(Geo::CGCS2000, 117, 500000, 0, 1));
}

TEST(WktReader, AnsiVariantConvertsTextAndMessage) {
    Geo g;
    char* message = nullptr;
    EXPECT_FALSE(g.SetFromWKTA("GEOGCS[\"名称\" 5]", &message));
    EXPECT_EQ(TakeText(message), "无效的WKT格式，名称后未发现有效的结束标记");
    EXPECT_FALSE(g.SetFromWKTA(nullptr, &message));
    EXPECT_EQ(TakeText(message), "WKT参数为NULL");
    EXPECT_FALSE(g.SetFromWKTA("x", nullptr));

    Pro p;
    EXPECT_FALSE(
        p.SetFromWKTA("PROJCS[GEOGCS[DATUM[SPHEROID[s,1,2]]],PROJECTION[\"LCC\"]]", &message));
    EXPECT_EQ(TakeText(message), "PROJECTION只支持Transverse_Mercator，不支持当前定义的LCC");
}

}  // namespace
