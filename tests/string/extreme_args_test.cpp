// Positions, counts, sizes, widths and precisions at the ends of their
// types: clamped or refused as documented, never an overflow, a huge
// allocation or a long wait.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <new>
#include <string>

#include "tavikfcu/TKString.h"

namespace {

std::u16string Text(const CTKString& s) {
    return std::u16string(static_cast<const TKWCHAR*>(s), static_cast<std::size_t>(s.GetLength()));
}

}  // namespace

TEST(ExtremeArguments, PositionsAndCountsClamp) {
    CTKString s(TKL("hello"));
    auto edited = [](int (CTKString::*edit)(int, int), int a, int b) {
        CTKString t(TKL("hello"));
        (t.*edit)(a, b);
        return t;
    };
    auto inserted = [](int at, const TKWCHAR* text) {
        CTKString t(TKL("hello"));
        t.Insert(at, text);
        return t;
    };
    struct Row {
        const char* name;
        CTKString got;
        std::u16string want;
    } rows[] = {
        {"Mid(INT_MIN)", s.Mid(INT_MIN), u"hello"},
        {"Mid(INT_MAX)", s.Mid(INT_MAX), u""},
        {"Mid(INT_MIN, INT_MAX)", s.Mid(INT_MIN, INT_MAX), u"hello"},
        {"Mid(INT_MAX, INT_MAX)", s.Mid(INT_MAX, INT_MAX), u""},
        {"Mid(4, INT_MAX)", s.Mid(4, INT_MAX), u"o"},
        {"Mid(INT_MIN, INT_MIN)", s.Mid(INT_MIN, INT_MIN), u""},
        {"Left(INT_MIN)", s.Left(INT_MIN), u""},
        {"Left(INT_MAX)", s.Left(INT_MAX), u"hello"},
        {"Right(INT_MIN)", s.Right(INT_MIN), u""},
        {"Right(INT_MAX)", s.Right(INT_MAX), u"hello"},
        {"Delete(INT_MIN, INT_MAX)", edited(&CTKString::Delete, INT_MIN, INT_MAX), u""},
        {"Delete(1, INT_MAX)", edited(&CTKString::Delete, 1, INT_MAX), u"h"},
        {"Delete(INT_MAX, 1)", edited(&CTKString::Delete, INT_MAX, 1), u"hello"},
        {"Delete(2, INT_MIN)", edited(&CTKString::Delete, 2, INT_MIN), u"hello"},
        {"Insert(INT_MIN)", inserted(INT_MIN, TKL("<")), u"<hello"},
        {"Insert(INT_MAX)", inserted(INT_MAX, TKL(">")), u"hello>"},
        {"CTKString(ch, INT_MIN)", CTKString(TKL('x'), INT_MIN), u""},
        {"CTKString(text, INT_MIN)", CTKString(TKL("abc"), INT_MIN), u""},
        {"CTKString(narrow, INT_MIN)", CTKString("abc", INT_MIN), u""},
    };
    for (const Row& row : rows) EXPECT_EQ(Text(row.got), row.want) << row.name;

    struct Position {
        const char* name;
        int got, want;
    } positions[] = {
        {"Find(ch, INT_MIN)", s.Find(TKL('l'), INT_MIN), 2},
        {"Find(ch, INT_MAX)", s.Find(TKL('l'), INT_MAX), -1},
        {"Find(text, INT_MIN)", s.Find(TKL("lo"), INT_MIN), 3},
        {"Find(text, INT_MAX)", s.Find(TKL("lo"), INT_MAX), -1},
    };
    for (const Position& row : positions) EXPECT_EQ(row.got, row.want) << row.name;

    // Buffer lengths: negative ones measure (or empty), long ones stop at
    // the body. Bodies of 64 units: "hello" in a pool body.
    struct Buffer {
        const char* name;
        void (*edit)(CTKString&);
        int length;
    } buffers[] = {
        {"ReleaseBuffer(INT_MIN) measures", [](CTKString& t) { t.ReleaseBuffer(INT_MIN); }, 5},
        {"ReleaseBuffer(INT_MAX) stops at the capacity",
         [](CTKString& t) { t.ReleaseBuffer(INT_MAX); }, 64},
        {"GetBufferSetLength(INT_MIN) empties", [](CTKString& t) { t.GetBufferSetLength(INT_MIN); },
         0},
        {"GetBuffer(INT_MIN) keeps the text",
         [](CTKString& t) { t.GetBuffer(INT_MIN), t.ReleaseBuffer(); }, 5},
    };
    for (const Buffer& row : buffers) {
        CTKString t(TKL("hello"));
        ASSERT_EQ(t.GetAllocLength(), 64);
        row.edit(t);
        EXPECT_EQ(t.GetLength(), row.length) << row.name;
        EXPECT_EQ(t.GetAllocLength(), 64) << row.name;
        EXPECT_EQ(static_cast<const TKWCHAR*>(t)[t.GetLength()], 0) << row.name;
    }
}

// Widths and precisions up to INT_MAX: output that fits is produced (fast,
// the digits past a double's own come as zeros); output longer than a
// string can hold, and digits the C library refuses, end at once with
// std::bad_alloc and an empty string that is still sound.
TEST(ExtremeArguments, FormatWidthsAndPrecisions) {
    struct Row {
        const char* name;
        const TKWCHAR* format;
        double value;
    } refused[] = {
        {"%.INT_MAXf", TKL("%.2147483647f"), 1.0},
        {"%.INT_MAXe", TKL("%.2147483647e"), 1.0},
        {"%.INT_MAXa", TKL("%.2147483647a"), 1.0},
        {"%INT_MAXf", TKL("%2147483647f"), 1.0},
        {"%.INT_MAX-1f (one unit too long)", TKL("%.2147483646f"), 1.0},
    };
    for (const Row& row : refused) {
        CTKString s(TKL("old text"));
        auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(s.Format(row.format, row.value), std::bad_alloc) << row.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << row.name;
        EXPECT_EQ(s.GetLength(), 0) << row.name;
        s += TKL("usable");
        EXPECT_EQ(Text(s), u"usable") << row.name;
    }

    CTKString s;
    s.Format(TKL("%.2000f|"), 0.5);
    EXPECT_EQ(Text(s), u"0.5" + std::u16string(1999, u'0') + u"|");
    s.Format(TKL("%.1000e"), -1.5);
    EXPECT_EQ(Text(s), u"-1.5" + std::u16string(999, u'0') + u"e+00");
    s.Format(TKL("%.1000g|%#.1000g"), 2.5, 2.0);  // '#' keeps the zeros
    EXPECT_EQ(Text(s), u"2.5|2." + std::u16string(999, u'0'));
    s.Format(TKL("%.40a"), 1.0);
    EXPECT_EQ(Text(s), u"0x1." + std::u16string(40, u'0') + u"p+0");
    s.Format(TKL("%0*.*f"), 1200, 1100, -0.25);
    EXPECT_EQ(Text(s), u"-" + std::u16string(97, u'0') + u"0.25" + std::u16string(1098, u'0'));
    s.Format(TKL("%.2147483647s|%.*S|"), TKL("ab"), INT_MIN, "cd");
    EXPECT_EQ(Text(s), u"ab|cd|");
}
