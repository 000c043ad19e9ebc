// TKStringUtils: conversions into caller buffers, splitting, wildcard
// matching, path joining and binary string records.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKString.h"

using namespace TKStringUtils;

namespace {

std::vector<std::u16string> Pieces(const std::vector<TKWCHAR*>& arr) {
    std::vector<std::u16string> out;
    for (const TKWCHAR* p : arr) out.emplace_back(p);
    return out;
}

}  // namespace

TEST(StringConvert, ExactBufferSizes) {
    const TKWCHAR* text = TKL("aé€");  // UTF-8: 1 + 2 + 3 bytes + NUL = 7
    EXPECT_EQ(Unicode2UTF8(text, nullptr, 0), 7);
    char exact[7];
    EXPECT_EQ(Unicode2UTF8(text, exact, 7), 7);
    EXPECT_STREQ(exact, "a\xC3\xA9\xE2\x82\xAC");

    // One byte short: size + 1, and the text ends after the last whole
    // character that leaves room for the terminator inside the buffer.
    char shorter[8];
    std::memset(shorter, 'Z', sizeof(shorter));
    EXPECT_EQ(Unicode2UTF8(text, shorter, 6), 7);
    EXPECT_STREQ(shorter, "a\xC3\xA9");
    EXPECT_EQ(shorter[6], 'Z');  // nothing written past the buffer

    char none[4] = {'Z', 'Z', 'Z', 'Z'};
    EXPECT_EQ(Unicode2UTF8(text, none, 0), 0);
    EXPECT_EQ(none[0], 'Z');
    EXPECT_EQ(Unicode2UTF8(text, nullptr, 5), 0);  // no buffer but a size: refused

    const TKWCHAR pair[] = {u'x', 0xD83D, 0xDE00, 0};  // x + U+1F600
    const char* utf8 = "x\xF0\x9F\x98\x80";
    EXPECT_EQ(UTF82Unicode(utf8, nullptr, 0), 4);
    TKWCHAR wide[4];
    EXPECT_EQ(UTF82Unicode(utf8, wide, 4), 4);
    EXPECT_EQ(std::u16string(wide), std::u16string(pair));
    TKWCHAR cut[3] = {u'Z', u'Z', u'Z'};
    EXPECT_EQ(UTF82Unicode(utf8, cut, 3), 4);
    EXPECT_EQ(std::u16string(cut), u"x");  // the pair is not split

    TKWCHAR ascii[5];
    EXPECT_EQ(Ansi2Unicode("abcdefghijkl", ascii, 5), 6);
    EXPECT_EQ(std::u16string(ascii), u"abcd");
}

TEST(StringSplit, PiecesPerSeparator) {
    struct Row {
        const char* name;
        const TKWCHAR* text;
        std::vector<std::u16string> want;
    };
    const Row rows[] = {
        {"inner empty", TKL("a;b;;c"), {u"a", u"b", u"", u"c"}},
        {"trailing separator", TKL("a;"), {u"a", u""}},
        {"separator only", TKL(";"), {u"", u""}},
        {"no separator", TKL("abc"), {u"abc"}},
        {"empty", TKL(""), {}},
        {"null", nullptr, {}},
    };
    for (const Row& row : rows) {
        std::vector<TKWCHAR*> arr;
        EXPECT_EQ(SplitStr(row.text, TKL(';'), arr), static_cast<int>(row.want.size())) << row.name;
        EXPECT_EQ(Pieces(arr), row.want) << row.name;
        FreeStrArr(arr);
        EXPECT_TRUE(arr.empty());
    }
    std::vector<TKWCHAR*> arr;
    EXPECT_EQ(tkSplitStr(TKL("x,y"), TKL(','), arr), 2);
    tkFreeStrArr(arr);
    EXPECT_TRUE(arr.empty());
}

TEST(StringSplit, AdjustTrimsSpacesAndDropsEmpties) {
    std::vector<TKWCHAR*> arr;
    SplitStr(TKL("  a |||   | b c |\t"), TKL('|'), arr);
    AdjustStrArr(arr, true, true);
    EXPECT_EQ(Pieces(arr), (std::vector<std::u16string>{u"a", u"b c", u"\t"}));  // spaces only
    FreeStrArr(arr);

    SplitStr(TKL(" x ;;"), TKL(';'), arr);
    AdjustStrArr(arr, false, true);
    EXPECT_EQ(Pieces(arr), (std::vector<std::u16string>{u" x "}));
    FreeStrArr(arr);
    SplitStr(TKL(" x ;;"), TKL(';'), arr);
    AdjustStrArr(arr, true, false);
    EXPECT_EQ(Pieces(arr), (std::vector<std::u16string>{u"x", u"", u""}));
    FreeStrArr(arr);
}

TEST(StringMatch, Wildcards) {
    struct Row {
        const TKWCHAR* pattern;
        const TKWCHAR* text;
        bool caseSensitive, want;
    };
    const Row rows[] = {
        {TKL("*.txt"), TKL("note.TXT"), true, false},
        {TKL("*.txt"), TKL("note.TXT"), false, true},
        {TKL("a?c"), TKL("abc"), true, true},
        {TKL("a?c"), TKL("ac"), true, false},
        {TKL("a?c"), TKL("abcd"), true, false},
        {TKL("*"), TKL(""), true, true},
        {TKL("a**b"), TKL("axxb"), true, true},
        {TKL("a**b"), TKL("ab"), true, true},
        // The last part may not reuse characters the first part matched.
        {TKL("ab*b"), TKL("ab"), true, false},
        {TKL("ab*b"), TKL("abb"), true, true},
        {TKL("*a*a*"), TKL("a"), true, false},
        {TKL("*a*a*"), TKL("baba"), true, true},
        {TKL("*ab*cd"), TKL("xxabyyabcd"), true, true},
        {TKL("?"), TKL(""), true, false},
        {TKL(""), TKL(""), true, true},
        {TKL(""), TKL("a"), true, false},
        {TKL("ÄR*"), TKL("ärger"), false, true},
        {TKL("x"), nullptr, true, false},
        {nullptr, TKL("x"), true, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(StrIsMatching(row.pattern, row.text, row.caseSensitive), row.want)
            << "row " << (&row - rows);
    }
}

TEST(StringPath, Joining) {
    struct Row {
        const TKWCHAR* base;
        const TKWCHAR* path;
        bool ok;
        std::u16string want;
    };
    const Row rows[] = {
        {TKL("C:/data/"), TKL("x/y.txt"), true, u"C:\\data\\x\\y.txt"},
        {TKL("C:/data/"), TKL("..\\z"), true, u"C:\\z"},
        {TKL("C:/data/"), TKL("..\\..\\z"), false, u""},
        {TKL("C:\\data"), TKL("D:\\other"), true, u"D:\\other"},
        {TKL("C:\\data"), TKL("\\\\srv\\share\\f"), true, u"\\\\srv\\share\\f"},
        {TKL("C:\\data"), TKL("\\f"), true, u"C:\\data\\f"},
        {TKL("C:\\data"), TKL(""), true, u"C:\\data\\"},
        {TKL("C:\\data"), TKL("  \t "), true, u"C:\\data\\"},
        {TKL("C:\\data"), TKL(".\\x"), true, u"C:\\data\\x"},
        {TKL("C:\\data"), TKL(".cfg"), false, u""},
        {TKL("C:\\data"), TKL("."), true, u"C:\\data\\."},
        {TKL("C:\\data"), TKL(".\\."), false, u""},
        {TKL("C:\\data"), TKL("\\"), true, u"C:\\data\\"},
        {TKL("C:\\data\\\\"), TKL("./a/../b"), true, u"C:\\data\\a\\..\\b"},
        {TKL("/srv/www"), TKL("../etc"), true, u"\\srv\\etc"},
        {TKL("/srv"), TKL("../../etc"), false, u""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << (&row - rows));
        CTKString path(row.path);
        bool ok = tkUnionPathEx(CTKString(row.base), path);
        EXPECT_EQ(ok, row.ok);
        TKWCHAR* joined = tkUnionPath(row.base, row.path);
        if (row.ok) {
            EXPECT_EQ(std::u16string(static_cast<const TKWCHAR*>(path)), row.want);
            ASSERT_NE(joined, nullptr);
            EXPECT_EQ(std::u16string(joined), row.want);
        } else {
            EXPECT_EQ(joined, nullptr);
        }
        tkFreeMem(joined);
    }
    EXPECT_EQ(tkUnionPath(nullptr, TKL("a")), nullptr);
    EXPECT_EQ(tkUnionPath(TKL("a"), nullptr), nullptr);
}

class StringRecords : public ::testing::Test {
  protected:
    void SetUp() override {
        file_ = std::tmpfile();
        ASSERT_NE(file_, nullptr);
    }
    void TearDown() override { std::fclose(file_); }
    void WriteBytes(const std::vector<unsigned char>& bytes) {
        std::fwrite(bytes.data(), 1, bytes.size(), file_);
        std::rewind(file_);
    }
    FILE* file_ = nullptr;
};

TEST_F(StringRecords, WriteThenRead) {
    WriteString(file_, CTKString(TKL("abc")));
    WriteString(file_, CTKString(TKL("Grüße")));
    WriteString(file_, CTKString());
    std::rewind(file_);
    unsigned char head[8];
    ASSERT_EQ(std::fread(head, 1, 8, file_), 8u);
    const unsigned char want[8] = {4, 0, 0, 0, 'a', 'b', 'c', 0};
    EXPECT_EQ(std::memcmp(head, want, 8), 0);
    std::rewind(file_);
    CTKString s;
    EXPECT_TRUE(ReadString(file_, s));
    EXPECT_EQ(s, TKL("abc"));
    EXPECT_TRUE(ReadString(file_, s));
    EXPECT_EQ(s, TKL("Grüße"));
    EXPECT_TRUE(ReadString(file_, s));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_FALSE(ReadString(file_, s));  // end of file
}

TEST_F(StringRecords, BadCountsAndShortFilesLeaveTheStringAlone) {
    struct Row {
        const char* name;
        std::vector<unsigned char> bytes;
    };
    const Row rows[] = {
        {"count 0", {0, 0, 0, 0, 'a'}},
        {"count 10241", {0x01, 0x28, 0, 0}},
        {"negative count", {0xFF, 0xFF, 0xFF, 0xFF}},
        {"short prefix", {4, 0}},
        {"short text", {4, 0, 0, 0, 'a', 'b'}},
    };
    for (const Row& row : rows) {
        std::fclose(file_);
        file_ = std::tmpfile();
        WriteBytes(row.bytes);
        CTKString s(TKL("keep"));
        EXPECT_FALSE(ReadString(file_, s)) << row.name;
        EXPECT_EQ(s, TKL("keep")) << row.name;
    }
}

TEST_F(StringRecords, RecordsWithoutNulStayWithinTheirCount) {
    // Count 3 without a NUL, then a second record: the first reads as its
    // three bytes, and the second is still found behind them.
    WriteBytes({3, 0, 0, 0, 'x', 'y', 'z', 2, 0, 0, 0, 'q', 0});
    CTKString s;
    EXPECT_TRUE(ReadString(file_, s));
    EXPECT_EQ(s, TKL("xyz"));
    EXPECT_TRUE(ReadString(file_, s));
    EXPECT_EQ(s, TKL("q"));
    // The largest accepted record.
    std::fclose(file_);
    file_ = std::tmpfile();
    std::vector<unsigned char> big = {0x00, 0x28, 0, 0};  // 10240
    big.insert(big.end(), 10239, 'k');
    big.push_back(0);
    WriteBytes(big);
    EXPECT_TRUE(ReadString(file_, s));
    EXPECT_EQ(s.GetLength(), 10239);
}
