// Code-page conversions: the size/terminator contract, UTF-8 repair of
// invalid input, and the switchable ANSI code page.
#include <gtest/gtest.h>

#include <string>

#include "text/codepage.h"
#include "platform/last_error.h"
#include "tavikfcu/TKString.h"

using namespace tk::platform;

namespace {

std::u16string ToWide(unsigned int cp, const std::string& bytes) {
    int n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    if (n)
        MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()),
                            reinterpret_cast<TKWCHAR*>(&out[0]), n);
    return out;
}

std::string ToNarrow(unsigned int cp, const std::u16string& units) {
    const auto* src = reinterpret_cast<const TKWCHAR*>(units.data());
    int n = WideCharToMultiByte(cp, 0, src, static_cast<int>(units.size()), nullptr, 0);
    std::string out(static_cast<std::size_t>(n), '\0');
    if (n) WideCharToMultiByte(cp, 0, src, static_cast<int>(units.size()), &out[0], n);
    return out;
}

// Restores the default ANSI code page when a test leaves.
struct AnsiCodePage {
    explicit AnsiCodePage(unsigned int cp) { EXPECT_TRUE(tkSetAnsiCodePage(cp)); }
    ~AnsiCodePage() { tkSetAnsiCodePage(65001); }
};

}  // namespace

TEST(CodePageContract, SizeQueriesAndTerminators) {
    // -1: the terminator is converted and counted.
    EXPECT_EQ(MultiByteToWideChar(kCodePageUtf8, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(kCodePageUtf8, 0, "abc", 3, nullptr, 0), 3);
    EXPECT_EQ(WideCharToMultiByte(kCodePageUtf8, 0, TKL("中"), -1, nullptr, 0), 4);

    TKWCHAR small[3];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(kCodePageUtf8, 0, "abc", -1, small, 3), 0);
    EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);

    TKWCHAR exact[4];
    EXPECT_EQ(MultiByteToWideChar(kCodePageUtf8, 0, "abc", -1, exact, 4), 4);
    EXPECT_EQ(exact[3], 0);

    char narrow[2];  // a 3-byte character never goes in half
    EXPECT_EQ(WideCharToMultiByte(kCodePageUtf8, 0, TKL("中"), 1, narrow, 2), 0);
    EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);

    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(kCodePageUtf8, 0, nullptr, -1, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
    EXPECT_EQ(MultiByteToWideChar(kCodePageUtf8, 0, "a", 0, nullptr, 0), 0);
}

TEST(CodePageUtf8, RoundTripsSurrogatePairs) {
    std::u16string emoji = u"a\U0001F600b";
    std::string bytes = ToNarrow(kCodePageUtf8, emoji);
    EXPECT_EQ(bytes,
              "a\xF0\x9F\x98\x80"
              "b");
    EXPECT_EQ(ToWide(kCodePageUtf8, bytes), emoji);
}

TEST(CodePageUtf8, InvalidInputBecomesReplacementCharacters) {
    struct Row {
        const char* name;
        std::string bytes;
        std::u16string expected;
    } rows[] = {
        {"stray continuation", "a\x80z", u"a\uFFFDz"},
        {"overlong two-byte", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"truncated three-byte", "\xE4\xB8", u"\uFFFD"},
        {"truncated then ASCII", "\xE4\xB8z", u"\uFFFDz"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        // The fast path for runs of multi-byte characters checks these too.
        {"overlong three-byte in a run", "\xE4\xB8\xAD\xE0\x80\xAFz", u"中\uFFFD\uFFFD\uFFFDz"},
        {"overlong U+07FF", "\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"invalid lead", "\xFF", u"\uFFFD"},
        {"valid after invalid", "\xFE\xE4\xB8\xAD", u"\uFFFD中"},
        {"long ascii run", "0123456789abcdef\x80", u"0123456789abcdef\uFFFD"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ToWide(kCodePageUtf8, row.bytes), row.expected) << row.name;

    // Lone surrogates on the way out become U+FFFD (EF BF BD).
    EXPECT_EQ(ToNarrow(kCodePageUtf8, std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(ToNarrow(kCodePageUtf8, std::u16string(1, u'\xDC00')), "\xEF\xBF\xBD");
}

TEST(CodePageAnsi, DefaultsToUtf8AndSwitches) {
    EXPECT_EQ(tkGetAnsiCodePage(), 65001u);
    EXPECT_FALSE(tkSetAnsiCodePage(12345));  // unknown: unchanged
    EXPECT_EQ(tkGetAnsiCodePage(), 65001u);
    EXPECT_EQ(ToWide(kCodePageAnsi, "\xC3\xA4"), u"ä");
}

// The tables themselves are checked in full elsewhere; here only that the
// ANSI code page routes both directions through the page chosen.
TEST(CodePageAnsi, ConversionsFollowTheChosenPage) {
    {
        AnsiCodePage cp(936);
        EXPECT_EQ(ToNarrow(kCodePageAnsi, u"中文abc"),
                  "\xD6\xD0\xCE\xC4"
                  "abc");
        EXPECT_EQ(ToWide(kCodePageAnsi,
                         "\xD6\xD0\xCE\xC4"
                         "abc"),
                  u"中文abc");
    }
    AnsiCodePage cp(1252);
    EXPECT_EQ(ToWide(kCodePageAnsi, "\x80\xE9\x9F"), u"€éŸ");
    EXPECT_EQ(ToNarrow(kCodePageAnsi, u"€é中"), "\x80\xE9?");
}

TEST(Utf8Bulk, UncheckedDecoderMatchesTheCountingPass) {
    std::string text = "plain ascii, then Grüße, 中文 and \xF0\x9F\x98\x80 and a bad \xC3 byte";
    std::u16string out(text.size(), u'\0');
    std::size_t n =
        Utf8ToUtf16Unchecked(text.data(), text.size(), reinterpret_cast<TKWCHAR*>(&out[0]));
    EXPECT_EQ(n, Utf16LengthOfUtf8(text.data(), text.size()));
    out.resize(n);
    EXPECT_EQ(out, ToWide(kCodePageUtf8, text));
}
