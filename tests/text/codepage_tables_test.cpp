// The Windows code pages the library converts with its own tables. Expected
// characters come from the Windows mapping data (Perl's Encode cp9xx / cpNNN
// tables), not from the converter.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "text/codepage.h"
#include "platform/last_error.h"
#include "tavikfcu/TKString.h"

using namespace tk::platform;

namespace {

std::u16string Decode(unsigned int cp, const std::string& bytes) {
    int n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    if (n) {
        EXPECT_EQ(MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()),
                                      reinterpret_cast<TKWCHAR*>(&out[0]), n),
                  n);
    }
    return out;
}

std::string Encode(unsigned int cp, const std::u16string& text, int* usedDefault = nullptr) {
    const auto* src = reinterpret_cast<const TKWCHAR*>(text.data());
    int size = static_cast<int>(text.size());
    int n = WideCharToMultiByte(cp, 0, src, size, nullptr, 0);
    std::string out(static_cast<std::size_t>(n), '\0');
    if (n) {
        EXPECT_EQ(WideCharToMultiByte(cp, 0, src, size, &out[0], n, nullptr, usedDefault), n);
    }
    return out;
}

// Every code page with a table, and how many byte sequences of it stand for
// a character in the mapping data: ASCII included and, on single-byte
// pages, the undefined bytes of 0x80-0x9F, which read as C1 controls.
struct Page {
    unsigned int cp;
    bool doubleByte;
    int mapped;
};
constexpr Page kPages[] = {
    {874, false, 248},        {932, true, 196 + 9604},  {936, true, 130 + 23940},
    {949, true, 130 + 17236}, {950, true, 130 + 19720}, {1250, false, 256},
    {1251, false, 256},       {1252, false, 256},       {1253, false, 253},
    {1254, false, 256},       {1255, false, 245},       {1256, false, 256},
    {1257, false, 254},       {1258, false, 256},       {437, false, 256},
    {850, false, 256},        {866, false, 256},
};

}  // namespace

// Runs first, while no page's lookup tables are built yet: four threads
// race to build them (the thread-shared part of the converter).
TEST(CodePageTables, TablesBuiltConcurrently) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (const Page& page : kPages) {
                std::u16string text = Decode(page.cp, "ab\xE0\xE1z");
                EXPECT_EQ(Decode(page.cp, Encode(page.cp, text)), text) << page.cp;
            }
        });
    }
    for (std::thread& t : threads) t.join();
}

TEST(CodePageTables, TrickyByteSequences) {
    struct Row {
        const char* name;
        unsigned int cp;
        std::string bytes;
        std::u16string expected;
    } rows[] = {
        // 936, GBK as Windows reads it.
        {"euro, then a pair whose trail looks like '@'", 936, "\x80\x81\x40", u"€丂"},
        {"pair after an odd run of high bytes", 936, "\xD6\xD0\x80\x81\x40", u"中€丂"},
        {"user-defined AAA1 is Private Use", 936, "\xAA\xA1", u"\uE000"},
        {"user-defined A140 and A7A0", 936, "\xA1\x40\xA7\xA0", u"\uE4C6\uE765"},
        {"user-defined pair with trail 0x80", 936, "\xA1\x80", u"\uE505"},
        {"user-defined F8A1 and FEFE", 936, "\xF8\xA1\xFE\xFE", u"\uE234\uE4C5"},
        {"0xFF alone", 936, "\xFF", u"\uF8F5"},
        {"lead then 0x7F: '?' and the DEL", 936, "\x81\x7F", u"?\x7F"},
        {"lead then a quote keeps the quote", 936, "\"\xD6\"", u"\"?\""},
        {"lead then 0xFF: '?' and U+F8F5", 936, "\x81\xFF", u"?\uF8F5"},
        {"lead, digit, then a pair", 936, "\x81\x30\x81\x81", u"?0\u4E96"},
        {"lone lead at the end", 936, "a\x81", u"a?"},
        // 932, Shift-JIS.
        {"hiragana and half-width katakana", 932, "\x82\xA0\xB1", u"\u3042\uFF71"},
        {"single bytes 80, A0, FD, FF", 932, "\x80\xA0\xFD\xFF", u"\u0080\uF8F0\uF8F1\uF8F3"},
        {"backslash stays a backslash", 932, "\x5C\x81\x5C", u"\\\u2015"},
        {"user-defined F040", 932, "\xF0\x40", u"\uE000"},
        {"lead byte without any pair", 932, "\x85\x40", u"?@"},
        {"NEC and IBM rows read alike", 932, "\x87\x84\xFA\x5A", u"\u2121\u2121"},
        {"lead then 0x7F", 932, "\x81\x7F", u"?\x7F"},
        {"lone lead at the end", 932, "\x82", u"?"},
        // 949, Unified Hangul Code.
        {"KS X 1001 and UHC extension", 949, "\xB0\xA1\x81\x41\xA1\x41", u"\uAC00\uAC02\uC8A5"},
        {"user-defined C9A1 and FEA1", 949, "\xC9\xA1\xFE\xA1", u"\uE000\uE05E"},
        {"single bytes 80 and FF", 949, "\x80\xFF", u"\u0080\uF8F7"},
        {"'[' is no trail byte", 949, "\xA1\x5B", u"?["},
        {"user-defined lead takes only A1-FE", 949, "\xC9\x41", u"?A"},
        {"lone lead at the end", 949, "\xB0", u"?"},
        // 950, Big5.
        {"first hanzi and user-defined 8140", 950, "\xA4\x40\x81\x40", u"一\uEEB8"},
        {"box drawing read from two rows", 950, "\xF9\xF9\xA2\xA4", u"\u2550\u2550"},
        {"single bytes 80 and FF", 950, "\x80\xFF", u"\u0080\uF8F8"},
        {"lead then a digit", 950, "\xA4\x30", u"?0"},
        {"lone lead at the end", 950, "x\xA4", u"x?"},
    };
    for (const Row& row : rows) EXPECT_EQ(Decode(row.cp, row.bytes), row.expected) << row.name;
}

TEST(CodePageTables, WritingBytes) {
    struct Row {
        const char* name;
        unsigned int cp;
        std::u16string text;
        std::string expected;
        int usedDefault;
    } rows[] = {
        {"euro and a pair with trail 0x40", 936, u"€丂", "\x80\x81\x40", 0},
        {"Private Use back to user-defined bytes", 936, u"\uE000\uE505\uF8F5",
         "\xAA\xA1\xA1\x80\xFF", 0},
        {"a tag character is one default char", 936, u"a\U000E0041b", "a?b", 1},
        {"lone surrogates", 936, u"\xD800x\xDC00", "?x?", 1},
        // Intended: no best-fit substitutes, which would change text silently.
        {"feminine ordinal is not 'a'", 936, u"\u00AA", "?", 1},
        {"yen sign is not a backslash", 932, u"\u00A5", "?", 1},
        {"NEC row 13 preferred for U+2121", 932, u"\u2121", "\x87\x84", 0},
        {"not-sign from the JIS row", 932, u"\uFFE2", "\x81\xCA", 0},
        {"double line from F9F9", 950, u"\u2550", "\xF9\xF9", 0},
        {"Hangul syllable from the UHC extension", 949, u"\uAC02", "\x81\x41", 0},
        {"C1 control in 1252", 1252, u"\u0081", "\x81", 0},
    };
    for (const Row& row : rows) {
        int used = -1;
        EXPECT_EQ(Encode(row.cp, row.text, &used), row.expected) << row.name;
        EXPECT_EQ(used, row.usedDefault) << row.name;
    }
    char custom = '*';
    char out[4];
    int used = 0;
    EXPECT_EQ(WideCharToMultiByte(936, 0, TKL("\U0001F600a"), 3, out, 4, &custom, &used), 2);
    EXPECT_EQ(std::string(out, 2), "*a");
    EXPECT_EQ(used, 1);
}

// Every byte sequence that stands for a character, alone and all in one
// text, survives bytes -> text -> bytes -> text.
TEST(CodePageTables, EveryMappedCharacterRoundTrips) {
    for (const Page& page : kPages) {
        std::vector<std::string> sequences;
        for (int b = 0; b < 256; ++b) {
            std::string one(1, static_cast<char>(b));
            std::u16string c = Decode(page.cp, one);
            if (c != u"?" || b == '?') {
                sequences.push_back(one);
                continue;
            }
            if (!page.doubleByte) continue;
            for (int t = 0; t < 256; ++t) {
                std::string pair = one + static_cast<char>(t);
                if (Decode(page.cp, pair).size() == 1) sequences.push_back(pair);
            }
        }
        EXPECT_EQ(static_cast<int>(sequences.size()), page.mapped) << page.cp;

        std::u16string all;
        int failures = 0;
        for (const std::string& bytes : sequences) {
            std::u16string c = Decode(page.cp, bytes);
            ASSERT_EQ(c.size(), 1u) << page.cp;
            int used = -1;
            std::string back = Encode(page.cp, c, &used);
            if (used != 0 || Decode(page.cp, back) != c) ++failures;
            all += c;
        }
        EXPECT_EQ(failures, 0) << page.cp;
        EXPECT_EQ(Decode(page.cp, Encode(page.cp, all)), all) << page.cp;
    }
}

// Long texts go through the fast loops (pairs, ASCII stretches, stretches
// bounded by the end of the text); a short piece alone is read near its
// end, one character at a time. A text of many pieces must read and write
// as the pieces do one by one.
TEST(CodePageTables, LongTextsConvertLikeTheirPieces) {
    for (const Page& page : kPages) {
        std::vector<std::string> pieces{"plain ascii words, long enough for a run", "x", "\n"};
        for (int b = 0x80; b < 256; ++b) {
            std::string one(1, static_cast<char>(b));
            if (Decode(page.cp, one) != u"?") {
                pieces.push_back(one);
                continue;
            }
            if (!page.doubleByte) continue;
            for (int t = 0; t < 256; t += 7) {
                std::string pair = one + static_cast<char>(t);
                std::u16string c = Decode(page.cp, pair);
                // A lead byte with an ASCII byte it does not pair with reads
                // as '?' and that byte; other broken pairs are not pieces
                // that keep to themselves.
                if (c.size() == 1 || (t < 0x80 && c.size() == 2)) pieces.push_back(pair);
            }
        }
        std::string bytes;
        std::u16string expected;
        std::uint32_t seed = page.cp;
        for (int k = 0; k < 20000; ++k) {
            seed = seed * 1664525u + 1013904223u;
            // Mostly double-byte characters, now and then anything else.
            std::size_t pick = (seed >> 8) % pieces.size();
            bytes += pieces[pick];
            expected += Decode(page.cp, pieces[pick]);
        }
        EXPECT_EQ(Decode(page.cp, bytes), expected) << page.cp;

        std::u16string text = expected + u"\U0001F600\xD800\U0001F600 tail";
        std::string written;
        for (std::size_t k = 0; k < text.size(); ++k) {
            std::size_t units = (text[k] >= 0xD800 && text[k] <= 0xDBFF && k + 1 < text.size() &&
                                 text[k + 1] >= 0xDC00 && text[k + 1] <= 0xDFFF)
                                    ? 2
                                    : 1;
            written += Encode(page.cp, text.substr(k, units));
            k += units - 1;
        }
        EXPECT_EQ(Encode(page.cp, text), written) << page.cp;
    }
}

// 1252 in full: Latin-1 with the Windows characters at 0x80-0x9F and the
// five undefined bytes as C1 controls, both ways; nothing else is written.
TEST(CodePageTables, Windows1252InFull) {
    const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                               0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                               0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                               0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string bytes;
    std::u16string expected;
    for (int b = 0; b < 256; ++b) {
        bytes += static_cast<char>(b);
        expected += (b >= 0x80 && b <= 0x9F) ? high[b - 0x80] : static_cast<char16_t>(b);
    }
    EXPECT_EQ(Decode(1252, bytes), expected);
    EXPECT_EQ(Encode(1252, expected), bytes);

    int writable = 0;
    for (char32_t u = 0x80; u < 0x10000; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        int used = 0;
        Encode(1252, std::u16string(1, static_cast<char16_t>(u)), &used);
        writable += used ? 0 : 1;
    }
    EXPECT_EQ(writable, 128);
}

// A buffer one short of the need is refused with error 122 and never holds
// half a pair; the exact size takes everything. Long enough for the ASCII
// runs to go sixteen at a time.
TEST(CodePageTables, BuffersTooSmall) {
    const std::u16string text = u"0123456789abcdef€丂中文 ok \uE000";
    for (unsigned int cp : {936u, 932u, 949u, 950u, 1252u}) {
        std::string bytes = Encode(cp, text);
        std::u16string wide = Decode(cp, bytes);
        const auto* src = reinterpret_cast<const TKWCHAR*>(wide.data());
        for (std::size_t room = 0; room <= bytes.size(); ++room) {
            std::string out(room + 1, '#');
            SetLastError(0);
            int n = WideCharToMultiByte(cp, 0, src, static_cast<int>(wide.size()), &out[0],
                                        static_cast<int>(room));
            if (room == bytes.size()) {
                EXPECT_EQ(n, static_cast<int>(room)) << cp;
                EXPECT_EQ(out.substr(0, room), bytes) << cp;
            } else if (room > 0) {
                EXPECT_EQ(n, 0) << cp << " room " << room;
                EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer) << cp;
                // What was written is whole characters: no half pair.
                std::size_t k = out.find('#');
                ASSERT_NE(k, std::string::npos);
                std::u16string part = k ? Decode(cp, out.substr(0, k)) : u"";
                EXPECT_EQ(part, wide.substr(0, part.size())) << cp << " room " << room;
            }
        }
        TKWCHAR units[64];
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), units,
                                      static_cast<int>(wide.size()) - 1),
                  0);
        EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
        EXPECT_EQ(MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), units,
                                      static_cast<int>(wide.size())),
                  static_cast<int>(wide.size()));
    }
}

// Code pages without a table still convert through glibc's iconv, which
// reads the whole text so that it alone decides where characters begin.
TEST(CodePageTables, OtherCodePagesUseIconv) {
    EXPECT_EQ(Decode(852, "\x9D\xA2\x64\xAB"), u"\u0141\u00F3d\u017A");
    EXPECT_EQ(Encode(852, u"\u0141\u00F3d\u017A"), "\x9D\xA2\x64\xAB");
    EXPECT_EQ(Decode(1361, "\x88\x61\x41\x88"), u"\uAC00A?");  // Johab, lone lead at the end
}

TEST(CodePageTables, AnsiCodePageUsersReadGbk) {
    EXPECT_TRUE(tkSetAnsiCodePage(936));
    CTKString s("\x80\x81\x40\xAA\xA1");
    EXPECT_TRUE(tkSetAnsiCodePage(65001));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(static_cast<const TKWCHAR*>(s))),
              u"€丂\uE000");
}
