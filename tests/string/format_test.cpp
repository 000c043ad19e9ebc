// CTKString::Format and the UTF-16 printf engine behind it.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include "text/wide_crt.h"
#include "string/format_engine.h"
#include "tavikfcu/TKString.h"

namespace {

std::u16string Widen(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

std::u16string Fmt(const TKWCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    CTKString s;
    s.FormatV(format, args);
    va_end(args);
    return std::u16string(s, s.GetLength());
}

// Capacity the estimate asks for, made exact by a 1000-unit literal prefix
// (bodies above 512 units are sized exactly).
template <typename... Args>
int EstimateOf(const std::u16string& format, Args... args) {
    std::u16string full = std::u16string(1000, u'.') + format;
    CTKString s;
    s.Format(full.c_str(), args...);
    return s.GetAllocLength() - 1000;
}

struct Case {
    const char* name;
    std::u16string actual;
    std::u16string expected;
};

void Check(const Case* cases, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        EXPECT_EQ(cases[i].actual, cases[i].expected) << cases[i].name;
}
#define CHECK_CASES(cases) Check(cases, sizeof(cases) / sizeof(cases[0]))

}  // namespace

// Flags, widths and precisions of %d..%X are swept against the C library
// below; these rows are the sizes, the stars and what glibc does not share.
TEST(Format, IntegerSizesStarsAndOddities) {
    int stored = 77;
    const Case cases[] = {
        {"int min", Fmt(u"%d", std::numeric_limits<int>::min()), u"-2147483648"},
        {"I64 min", Fmt(u"%I64d", std::numeric_limits<std::int64_t>::min()),
         u"-9223372036854775808"},
        {"ll", Fmt(u"%lld", -1234567890123LL), u"-1234567890123"},
        {"I64u max", Fmt(u"%I64u", ~std::uint64_t{0}), u"18446744073709551615"},
        {"I32", Fmt(u"%I32d", -7), u"-7"},
        {"l is 32-bit", Fmt(u"%lu", 0xFFFFFFFFu), u"4294967295"},
        {"h", Fmt(u"%hd", 70000), u"4464"},
        {"hu", Fmt(u"%hu", -1), u"65535"},
        {"hh", Fmt(u"%hhd", 300), u"44"},
        {"z", Fmt(u"%zu", std::size_t{1} << 33), u"8589934592"},
        {"I", Fmt(u"%Ix", std::size_t{1} << 36), u"1000000000"},
        {"hex of a negative int", Fmt(u"%x", -1), u"ffffffff"},
        {"star width", Fmt(u"[%*d]", 5, 42), u"[   42]"},
        {"negative star width", Fmt(u"[%*d]", -5, 42), u"[42   ]"},
        {"negative star precision", Fmt(u"[%.*d]", -1, 42), u"[42]"},
        {"star among flags", Fmt(u"[%*-d]", 4, 42), u"[42  ]"},
        {"percent", Fmt(u"100%%"), u"100%"},
        {"unknown letter", Fmt(u"a%yb"), u"ab"},
        {"lone percent at end", Fmt(u"ab%"), u"ab"},
        {"format ends in conversion", Fmt(u"ab%-5"), u"ab"},
        {"pointer", Fmt(u"%p", reinterpret_cast<void*>(0xDEADBEEF)), u"00000000DEADBEEF"},
        {"alt pointer", Fmt(u"%#p", reinterpret_cast<void*>(0xAB)), u"0X00000000000000AB"},
        {"pointer width", Fmt(u"[%20p]", reinterpret_cast<void*>(1)), u"[    0000000000000001]"},
        {"n writes nothing", Fmt(u"ab%ncd%d", &stored, 3), u"abcd3"},
    };
    CHECK_CASES(cases);
    EXPECT_EQ(stored, 77) << "%n must not store";
}

TEST(Format, TextAndCharacters) {
    const TKWCHAR* nullWide = nullptr;
    const char* nullNarrow = nullptr;
    const Case cases[] = {
        {"wide s", Fmt(u"<%s>", u"h\u00e9"), u"<h\u00e9>"},
        {"S is narrow", Fmt(u"%S", "narrow"), u"narrow"},
        {"hs, hS narrow; ls, ws wide", Fmt(u"%hs%hS%ls%ws", "x", "y", u"a", u"b"), u"xyab"},
        {"lS is wide", Fmt(u"%lS", u"w"), u"w"},
        {"null wide", Fmt(u"%s", nullWide), u"(null)"},
        {"null narrow", Fmt(u"%S", nullNarrow), u"(null)"},
        {"empty narrow", Fmt(u"[%S|%3S]", "", ""), u"[|   ]"},
        {"null cut by precision", Fmt(u"%.3s", nullWide), u"(nu"},
        {"precision and width", Fmt(u"[%-10.3s]", u"abcdef"), u"[abc       ]"},
        {"zero pads text (runtime habit)", Fmt(u"[%05s]", u"ab"), u"[000ab]"},
        {"narrow precision", Fmt(u"[%.2S]", "abc"), u"[ab]"},
        {"star precision text", Fmt(u"[%.*s]", 2, u"abc"), u"[ab]"},
        {"wide c", Fmt(u"%c%c", u'\u4e2d', 'A'), u"\u4e2dA"},
        {"C is narrow", Fmt(u"%C%hc", 'x', 'y'), u"xy"},
        {"lC is wide", Fmt(u"%lC", u'\u00e9'), u"\u00e9"},
        {"c width", Fmt(u"[%3c][%-3c]", u'a', u'b'), u"[  a][b  ]"},
        {"c of 0 ends the text", Fmt(u"a%cb", 0), u"a"},
        // Text lengths measured while estimating are reused by address, in
        // order; a text the estimate did not measure (after %ws, which the
        // estimate does not know) is measured again.
        {"same text twice, cut once", Fmt(u"%s|%.2s|%s", u"abc", u"xyz", u"abc"), u"abc|xy|abc"},
        {"unmeasured text in between", Fmt(u"%ws|%s|%ws|%s", u"p", u"qq", u"r", u"ss"),
         u"p|qq|r|ss"},
        {"more texts than are remembered",
         Fmt(u"%s%s%s%s%s%s%s%s%s%s", u"1", u"22", u"3", u"44", u"5", u"66", u"7", u"88", u"9",
             u"00"),
         u"1223445667889"
         u"00"},
    };
    CHECK_CASES(cases);
    CTKString s(TKL("previous"));
    s.Format(TKL("%c"), 0);
    EXPECT_EQ(s.GetLength(), 0);
}

TEST(Format, NarrowTextFollowsTheAnsiCodePage) {
    ASSERT_NE(tkSetAnsiCodePage(65001), 0);
    EXPECT_EQ(Fmt(u"%S", "\xE4\xB8\xAD\xE6\x96\x87"), u"\u4e2d\u6587");
    EXPECT_EQ(Fmt(u"[%.1S]", "\xE4\xB8\xAD\xE6\x96\x87"), u"[\u4e2d]") << "precision counts units";
    EXPECT_EQ(Fmt(u"[%4S]", "\xE4\xB8\xAD"), u"[   \u4e2d]");
    if (tkSetAnsiCodePage(936)) {
        EXPECT_EQ(Fmt(u"%S!", "\xD6\xD0\xCE\xC4"), u"\u4e2d\u6587!");
        EXPECT_EQ(Fmt(u"%hs", "\xD6\xD0"), u"\u4e2d");
        tkSetAnsiCodePage(65001);
    } else {
        ADD_FAILURE() << "code page 936 is not available";
    }
}

// Finite values are swept against the C library below; these rows are the
// specials, the Windows spellings and what the sweep cannot reach.
TEST(Format, FloatingPointSpecials) {
    const double inf = std::numeric_limits<double>::infinity();
    const double quiet = std::numeric_limits<double>::quiet_NaN();
    const double signalling = std::numeric_limits<double>::signaling_NaN();
    volatile double zero = 0.0;
    const double invalid = zero / zero;  // the processor's default NaN: sign set
    const Case cases[] = {
        {"inf", Fmt(u"%f %e %g", inf, inf, inf), u"inf inf inf"},
        {"upper inf", Fmt(u"%E %G", -inf, inf), u"-INF INF"},
        {"plus inf", Fmt(u"%+f", inf), u"+inf"},
        {"quiet nan", Fmt(u"%f", quiet), u"nan"},
        {"invalid operation", Fmt(u"%f", std::signbit(invalid) ? invalid : -invalid), u"-nan(ind)"},
        {"upper invalid", Fmt(u"%G", -std::fabs(quiet)), u"-NAN(IND)"},
        {"signalling", Fmt(u"%f", signalling), u"nan(snan)"},
        {"zero flag pads specials with spaces", Fmt(u"[%08f]", inf), u"[     inf]"},
        {"left", Fmt(u"[%-5f]", inf), u"[inf  ]"},
        {"hex float: 13 digits", Fmt(u"%a", 3.0), u"0x1.8000000000000p+1"},
        {"hex float upper", Fmt(u"%A", 1.0), u"0X1.0000000000000P+0"},
        {"hex float zero pad", Fmt(u"%025a", -1.0), u"-0x00001.0000000000000p+0"},
        {"long double", Fmt(u"%Lf", 2.5L), u"2.500000"},
        {"star precision", Fmt(u"%.*f", 1, 2.25), u"2.2"},
    };
    CHECK_CASES(cases);
}

// Everything the Windows runtime prints like the C standard says must match
// glibc's narrow printf, widened: a sweep over flags, widths and precisions.
TEST(Format, MatchesTheCLibraryAcrossFlagsWidthsAndPrecisions) {
    const char* flagSets[] = {"", "-", "+", " ", "#", "0", "-+", "+0", " #", "#0", "-#0+ "};
    const char* widths[] = {"", "1", "8", "25"};
    const char* precisions[] = {"", ".", ".0", ".1", ".3", ".17", ".60"};
    const double doubles[] = {0.0,
                              -0.0,
                              1.0,
                              -1.5,
                              0.1,
                              2.5,
                              1e-7,
                              123.456,
                              9.9999995,
                              1e21,
                              -3e-310,
                              5e-324,
                              0.5,
                              1e15 + 0.3,
                              999999.5,
                              6.02214076e23,
                              1.7976931348623157e308};
    const long long integers[] = {
        0, 1, -1, 42, -42, 2147483647LL, -2147483648LL, (1LL << 53) + 7, -(1LL << 62)};
    int checked = 0;
    for (const char* flags : flagSets)
        for (const char* width : widths)
            for (const char* precision : precisions) {
                for (char conversion : std::string("feEgGa")) {
                    std::string narrow = std::string("%") + flags + width + precision + conversion;
                    std::u16string wide = Widen(narrow);
                    for (double value : doubles) {
                        char expected[512];
                        std::snprintf(expected, sizeof expected, narrow.c_str(), value);
                        if (conversion == 'a' && precision[0] == 0)
                            continue;  // 13 digits on Windows
                        ASSERT_EQ(Fmt(wide.c_str(), value), Widen(expected))
                            << narrow << " with " << value;
                        ++checked;
                    }
                }
                for (char conversion : std::string("dioxXu")) {
                    std::string narrow =
                        std::string("%") + flags + width + precision + "ll" + conversion;
                    std::u16string wide =
                        Widen(std::string("%") + flags + width + precision + "I64" + conversion);
                    for (long long value : integers) {
                        char expected[128];
                        std::snprintf(expected, sizeof expected, narrow.c_str(), value);
                        ASSERT_EQ(Fmt(wide.c_str(), value), Widen(expected))
                            << narrow << " with " << value;
                        ++checked;
                    }
                }
            }
    EXPECT_GT(checked, 10000);
}

// A locale whose decimal point is a comma, built at run time with localedef
// (installed systems rarely carry one).
// Returns the folder holding it (empty on failure); the caller removes it.
std::string UseDecimalCommaLocale() {
    char dir[] = "/tmp/tk_format_locale_XXXXXX";
    if (!mkdtemp(dir)) return std::string();
    std::string source = std::string(dir) + "/comma.src";
    if (FILE* f = std::fopen(source.c_str(), "w")) {
        std::fputs(
            "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\n"
            "grouping 3;3\nEND LC_NUMERIC\n",
            f);
        std::fclose(f);
    }
    std::string command =
        "localedef -c -i " + source + " -f ANSI_X3.4-1968 " + dir + "/tk_comma >/dev/null 2>&1";
    // localedef reports the categories left undefined with a nonzero status.
    if (std::system(command.c_str()) == -1) return dir;
    setenv("LOCPATH", dir, 1);
    std::setlocale(LC_NUMERIC, "tk_comma");
    return dir;
}

TEST(Format, DecimalPointIgnoresLcNumeric) {
    std::string folder = UseDecimalCommaLocale();
    bool active = std::strcmp(std::setlocale(LC_NUMERIC, nullptr), "tk_comma") == 0;
    if (!folder.empty()) std::filesystem::remove_all(folder);
    if (!active) GTEST_SKIP() << "cannot build a decimal-comma locale";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5") << "the locale is in effect for the C library";
    EXPECT_EQ(Fmt(u"%.2f %e %#g %a", 3.14159, 2.5, 1.0, 1.0),
              u"3.14 2.500000e+00 1.00000 0x1.0000000000000p+0");
    // Parsing uses the same "C" locale; plain strtod here would read "2.5" as 2.
    EXPECT_EQ(tk::platform::_wtof(u"2.5"), 2.5);
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
}

TEST(Format, EstimateRules) {
    const TKWCHAR* nullWide = nullptr;
    EXPECT_EQ(EstimateOf(u"%d items", 5), 38);
    EXPECT_EQ(EstimateOf(u"%s", nullWide), 6);
    EXPECT_EQ(EstimateOf(u"%-10.3s", u"abcdef"), 10);
    EXPECT_EQ(EstimateOf(u"%.2f", 3.14159), 314);
    EXPECT_EQ(EstimateOf(u"%s", u""), 1) << "text counts at least 1";
    EXPECT_EQ(EstimateOf(u"%S", "abcd"), 4);
    EXPECT_EQ(EstimateOf(u"%c%5c%.1c", u'a', u'b', u'c'), 2 + 5 + 1);
    EXPECT_EQ(EstimateOf(u"%*d", 40, 1), 40);
    // A negative star width counts as written (the %f leaves room for the output).
    EXPECT_EQ(EstimateOf(u"%*d%f", -40, 1, 1.0), 32 + 312);
    EXPECT_EQ(EstimateOf(u"%e%200.10g", 1.0, 1.0), 128 + 210);
    EXPECT_EQ(EstimateOf(u"%p%n%I64d", nullptr, nullptr, 1LL), 64);
    // Sizes outside the rules: the first letter is an unknown conversion and
    // the rest of the conversion counts as text.
    EXPECT_EQ(EstimateOf(u"%lld", 7LL), 1);
    EXPECT_EQ(EstimateOf(u"%I32d", 7), 3);
}

// The body is reused when the estimate fits, replaced when shared, kept
// when locked, and grown when the output outruns the estimate.
// A text cut by a precision is read no further than its terminator or the
// precision, whichever comes first: here a read past it would fault.
TEST(Format, PrecisionTextEndingAtAnUnreadablePage) {
    const long page = sysconf(_SC_PAGESIZE);
    char* map = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(map, MAP_FAILED);
    ASSERT_EQ(mprotect(map + page, page, PROT_NONE), 0);
    auto* text = reinterpret_cast<TKWCHAR*>(map + page) - 4;
    std::memcpy(text, u"abc", 4 * sizeof(TKWCHAR));
    CTKString s;
    const struct {
        const TKWCHAR* format;
        const char16_t* result;
    } rows[] = {{TKL("[%.33s]"), u"[abc]"},
                {TKL("[%.33Is]"), u"[abc]"},  // a text the estimate does not measure
                {TKL("[%-6.2s]"), u"[ab    ]"}};
    for (const auto& row : rows) {
        s.Format(row.format, text);
        EXPECT_EQ(std::u16string(static_cast<const TKWCHAR*>(s)), row.result);
    }
    munmap(map, 2 * page);
}

TEST(Format, Bodies) {
    CTKString s(TKL("0123456789012345678901234567890123456789"));  // 40 in a 64 body
    const TKWCHAR* before = s;
    CTKString sharer = s;
    s.Format(TKL("%d items"), 5);
    EXPECT_EQ(std::u16string(s), u"5 items");
    EXPECT_EQ(sharer.GetLength(), 40);
    sharer.Format(TKL("%d"), 1);
    EXPECT_EQ(static_cast<const TKWCHAR*>(sharer), before) << "estimate 32 fits the sole body";

    CTKString empty;
    empty.Format(TKL(""));
    EXPECT_EQ(empty.GetAllocLength(), 0) << "nothing to hold: still the empty record";
    CTKString a(TKL("hello"));
    CTKString c = a;
    c.Format(TKL(""));  // a shared body is replaced even when the estimate is 0
    EXPECT_EQ(c.GetLength(), 0);
    EXPECT_EQ(std::u16string(a), u"hello");
    a.FormatV(nullptr, nullptr);
    EXPECT_EQ(std::u16string(a), u"hello") << "a null format changes nothing";

    CTKString locked(TKL("locked"));
    const TKWCHAR* chars = locked.LockBuffer();
    locked.Format(TKL("%d"), 12);
    EXPECT_EQ(static_cast<const TKWCHAR*>(locked), chars) << "formatted in place";
    CTKString copy = locked;
    EXPECT_NE(static_cast<const TKWCHAR*>(copy), chars) << "still locked: copies copy";
    locked.UnlockBuffer();

    char expected[2048];
    s.Format(TKL("%1000f|"), -2.25);  // estimate 313, output 1001
    std::snprintf(expected, sizeof expected, "%1000f|", -2.25);
    EXPECT_EQ(std::u16string(s), Widen(expected));
    CTKString e;
    e.Format(TKL("%.600e"), 2.0 / 3);  // estimate 600 from the heap, output 606
    std::snprintf(expected, sizeof expected, "%.600e", 2.0 / 3);
    EXPECT_EQ(std::u16string(e), Widen(expected));
    EXPECT_EQ(e.GetAllocLength(), 606);
    e.Format(TKL("%a|%s"), 1.0, TKL("tail"));  // %a is outside the estimate rules
    EXPECT_EQ(std::u16string(e), u"0x1.0000000000000p+0|tail");
}

TEST(FormatEngine, CapsTheBufferAndReportsTheFullLength) {
    TKWCHAR buffer[8];
    std::fill(buffer, buffer + 8, u'#');
    EXPECT_EQ(tk::detail::FormatWide(buffer, 5, TKL("%d-%s"), 1234, TKL("abc")), 8u);
    EXPECT_EQ(std::u16string(buffer), u"1234") << "cut at capacity - 1 and terminated";
    EXPECT_EQ(buffer[5], u'#') << "nothing written past the capacity";
    EXPECT_EQ(tk::detail::FormatWide(nullptr, 0, TKL("%05d"), 7), 5u);
    EXPECT_EQ(tk::detail::FormatWide(buffer, 1, TKL("xyz")), 3u);
    EXPECT_EQ(buffer[0], 0);
}
