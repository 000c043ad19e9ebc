// The UTF-16 C-runtime helpers: searches (including the block-wise SSE2
// paths at every alignment), case tables, white space, ordering, collation
// and number parsing.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "text/wide_crt.h"

namespace crt = tk::platform;

namespace {

// Runs check(text) with text placed at every 2-byte offset of a 16-byte block
// and ending at every offset too, so the aligned-block loops meet their
// first and last blocks in every position.
template <typename Check>
void AtEveryAlignment(const std::u16string& text, Check check) {
    for (int shift = 0; shift < 8; ++shift) {
        alignas(16) TKWCHAR buffer[512];
        ASSERT_LT(text.size() + shift + 1, sizeof(buffer) / sizeof(buffer[0]));
        for (auto& u : buffer) u = u'#';
        std::copy(text.begin(), text.end(), buffer + shift);
        buffer[shift + text.size()] = 0;
        check(buffer + shift);
    }
}

}  // namespace

TEST(WideCrtSearch, ChrFindsFirstOrTerminator) {
    AtEveryAlignment(u"hello, world", [](const TKWCHAR* s) {
        EXPECT_EQ(crt::wcschr(s, u'l'), s + 2);
        EXPECT_EQ(crt::wcschr(s, u'd'), s + 11);
        EXPECT_EQ(crt::wcschr(s, u'#'), nullptr);  // the filler behind the NUL is not text
        EXPECT_EQ(crt::wcschr(s, 0), s + 12);
        EXPECT_EQ(crt::wcsrchr(s, u'l'), s + 10);
        EXPECT_EQ(crt::wcsrchr(s, u'#'), nullptr);
    });
    EXPECT_EQ(crt::wcschr(u"", u'a'), nullptr);
}

TEST(WideCrtSearch, StrFindsFirstOccurrence) {
    struct Row {
        const char* name;
        std::u16string hay, needle;
        int at;
    };
    const Row rows[] = {
        {"empty needle", u"abc", u"", 0},
        {"one unit", u"abc", u"c", 2},
        {"at start", u"needle in hay", u"needle", 0},
        {"at end", u"hay hay hay needle", u"needle", 12},
        {"prefix repeats", u"aaaaaaaaaaaaaaaaaab", u"aab", 16},
        {"only the first two units match", u"abxabyabz", u"abz", 6},
        {"runs into the terminator", u"xxxxxxxxxxxxxxab", u"abc", -1},
        {"longer than the text", u"ab", u"abc", -1},
        {"across a block edge", u"0123456ab9", u"6ab9", 6},
        {"non-ASCII", u"Grüße, Ärger", u"Ärg", 7},
    };
    for (const Row& row : rows) {
        AtEveryAlignment(row.hay, [&](const TKWCHAR* s) {
            const TKWCHAR* hit = crt::wcsstr(s, row.needle.c_str());
            EXPECT_EQ(hit ? static_cast<int>(hit - s) : -1, row.at) << row.name;
        });
    }
}

TEST(WideCrtSearch, LengthBoundedSearchStepsOverNuls) {
    const TKWCHAR text[] = {u'a', 0, u'b', u'c', 0, u'b', u'c', u'd'};
    EXPECT_EQ(crt::FindUnitN(text, 8, u'd'), text + 7);
    EXPECT_EQ(crt::FindUnitN(text, 7, u'd'), nullptr);
    EXPECT_EQ(crt::FindUnitsN(text, 8, u"bcd", 3), text + 5);
    EXPECT_EQ(crt::FindUnitsN(text, 7, u"bcd", 3), nullptr);
    std::u16string big(1000, u'x');
    big.replace(997, 3, u"abc");
    EXPECT_EQ(crt::FindUnitsN(big.data(), big.size(), u"xab", 3), big.data() + 996);
    EXPECT_EQ(crt::FindUnitsN(big.data(), big.size(), u"abcd", 4), nullptr);
}

TEST(WideCrtCase, SimpleMappingCoversTheBmp) {
    struct Row {
        const char* name;
        TKWCHAR c, upper, lower, fold;
    };
    const Row rows[] = {
        {"ASCII", u'a', u'A', u'a', u'a'},
        {"A umlaut", u'Ä', u'Ä', u'ä', u'ä'},
        {"capital sigma", u'Σ', u'Σ', u'σ', u'σ'},
        {"final sigma folds to sigma", u'ς', u'Σ', u'ς', u'σ'},
        {"dotted capital I lowers to i, folds to itself", u'İ', u'İ', u'i', u'İ'},
        {"sharp s has no simple upper case", u'ß', u'ß', u'ß', u'ß'},
        {"capital sharp s", u'ẞ', u'ẞ', u'ß', u'ß'},
        {"long s", u'ſ', u'S', u'ſ', u's'},
        {"Cyrillic", u'Ж', u'Ж', u'ж', u'ж'},
        {"fullwidth", u'ｚ', u'Ｚ', u'ｚ', u'ｚ'},
        {"Georgian Mtavruli", 0x1C90, 0x1C90, 0x10D0, 0x10D0},
        {"surrogate unit", 0xD801, 0xD801, 0xD801, 0xD801},
        {"CJK", u'中', u'中', u'中', u'中'},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(crt::ToUpperUnit(row.c), row.upper) << row.name;
        EXPECT_EQ(crt::ToLowerUnit(row.c), row.lower) << row.name;
        EXPECT_EQ(crt::FoldUnit(row.c), row.fold) << row.name;
    }
}

TEST(WideCrtCase, WhiteSpaceIsUnicodeWhiteSpace) {
    const TKWCHAR spaces[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,
                              0x1680, 0x2000, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
    for (TKWCHAR c : spaces) EXPECT_TRUE(crt::iswspace(c)) << std::hex << c;
    const TKWCHAR others[] = {0, 0x08, 0x0E, u'a', 0x84, 0x200B, 0x180E, 0xFEFF, 0x3001, 0xFFFF};
    for (TKWCHAR c : others) EXPECT_FALSE(crt::iswspace(c)) << std::hex << c;
}

TEST(WideCrtCase, ReverseStopsAtTheFirstNul) {
    TKWCHAR text[] = {u'a', u'b', u'c', 0, u'x', 0};
    crt::_wcsrev(text);
    EXPECT_EQ(std::u16string(text, 5), (std::u16string{u'c', u'b', u'a', 0, u'x'}));
}

namespace {

// One ordering case: the sign compare(a, b) must have; compare(b, a) must
// have the opposite one.
struct OrderRow {
    const char* name;
    const TKWCHAR* a;
    const TKWCHAR* b;
    int sign;
};

template <std::size_t N>
void ExpectOrder(int (*compare)(const TKWCHAR*, const TKWCHAR*), const OrderRow (&rows)[N]) {
    for (const OrderRow& row : rows) {
        int r = compare(row.a, row.b);
        EXPECT_EQ((r > 0) - (r < 0), row.sign) << row.name;
        int back = compare(row.b, row.a);
        EXPECT_EQ((back > 0) - (back < 0), -row.sign) << row.name;
    }
}

}  // namespace

TEST(WideCrtCompare, OrdinalOrderIsByUnsignedUnits) {
    const OrderRow rows[] = {
        {"equal", u"abc", u"abc", 0},
        {"case counts", u"B", u"a", -1},
        {"prefix first", u"ab", u"abc", -1},
        {"null reads as empty", nullptr, u"", 0},
        {"units are unsigned", u"\uFFFF", u"a", 1},
        {"a surrogate sorts below U+E000 by unit", u"\U00010000", u"\uE000", -1},
    };
    ExpectOrder(crt::wcscmp, rows);
}

TEST(WideCrtCompare, CaseInsensitiveOrderIsByLowerCase) {
    const OrderRow rows[] = {
        {"equal but for case", u"Hello World", u"hELLO wORLD", 0},
        {"B after a", u"B", u"a", 1},
        {"underscore before a (upper-casing would differ)", u"_", u"a", -1},
        {"prefix first", u"abc", u"ABCD", -1},
        {"umlauts", u"ÄRGER", u"ärger", 0},
        {"all sigmas", u"ΣΑΣ", u"σας", 0},
        {"sharp s is not ss", u"straße", u"STRASSE", 1},
        {"different letters", u"Äa", u"äb", -1},
    };
    ExpectOrder(crt::_wcsicmp, rows);
}

// The 8-unit ASCII blocks must give the unit-by-unit result wherever the
// first difference, non-ASCII unit or terminator falls, whatever the
// texts' offsets within their pages.
TEST(WideCrtCompare, CaseInsensitiveBlocksAgreeWithUnitByUnit) {
    auto reference = [](const char16_t* a, const char16_t* b) {
        for (;; ++a, ++b) {
            int x = crt::FoldUnit(*a), y = crt::FoldUnit(*b);
            if (x != y) return (x > y) - (x < y);
            if (!x) return 0;
        }
    };
    struct Change {
        const char* name;
        char16_t unit;  // put into b (the upper-cased copy of a) at position i
    } changes[] = {{"greater letter", u'Z'},   {"lesser unit", u'!'},
                   {"terminator", 0},          {"umlaut", u'\u00C4'},
                   {"Greek sigma", u'\u03A3'}, {"unit above 0x7F", 0xFF21}};
    // A page-aligned buffer whose texts end right at the page's end, too.
    std::vector<char16_t> page(4096 / sizeof(char16_t) * 3);
    char16_t* end = reinterpret_cast<char16_t*>(
        (reinterpret_cast<std::uintptr_t>(page.data()) + 8191) / 4096 * 4096);
    for (const Change& change : changes) {
        for (int length = 1; length <= 40; ++length) {
            for (int i = 0; i < length; ++i) {
                std::u16string a, b;
                for (int k = 0; k < length; ++k) a += static_cast<char16_t>(u'a' + (k * 7) % 26);
                for (char16_t c : a) b += static_cast<char16_t>(c - 32);
                b[i] = change.unit;
                char16_t* atEnd = end - (length + 1);  // b's terminator is the page's last unit
                std::copy(b.c_str(), b.c_str() + length + 1, atEnd);
                int expected = reference(a.c_str(), b.c_str());
                int got = crt::_wcsicmp(a.c_str(), b.c_str());
                ASSERT_EQ((got > 0) - (got < 0), expected) << change.name << " at " << i;
                got = crt::_wcsicmp(a.c_str(), atEnd);
                ASSERT_EQ((got > 0) - (got < 0), expected) << change.name << " at page end";
                got = crt::_wcsicmp(atEnd, a.c_str());
                ASSERT_EQ((got > 0) - (got < 0), -expected) << change.name << " swapped";
            }
        }
    }
}

// Texts that run across a page boundary, and texts whose terminator is the
// last unit before an unreadable page (a read beyond it would fault), give
// exactly the unit-by-unit value, not only its sign.
constexpr std::size_t kPage = 4096;

// Three readable pages and an unreadable fourth: a text placed right before
// it faults if anything reads past its end.
struct GuardedPages {
    char* at = static_cast<char*>(
        mmap(nullptr, 4 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    GuardedPages() {
        if (at != MAP_FAILED && mprotect(at + 3 * kPage, kPage, PROT_NONE) != 0) {
            munmap(at, 4 * kPage);
            at = static_cast<char*>(MAP_FAILED);
        }
    }
    ~GuardedPages() {
        if (at != MAP_FAILED) munmap(at, 4 * kPage);
    }
    char16_t* Guard() const { return reinterpret_cast<char16_t*>(at + 3 * kPage); }
};

TEST(WideCrtSearch, BoundedLengthStopsAtTheTerminatorOrTheCap) {
    GuardedPages map;
    ASSERT_NE(map.at, MAP_FAILED);
    std::fill(map.at, map.at + 3 * kPage, '#');
    char16_t* guard = map.Guard();
    EXPECT_EQ(crt::TextLengthWithin(nullptr, 5), 0u);
    for (std::size_t length = 0; length <= 40; ++length) {
        // Terminated as the last unit before the guard, any cap.
        char16_t* text = guard - (length + 1);
        std::fill(text, text + length, u'a');
        text[length] = 0;
        for (std::size_t cap : {std::size_t(0), length / 2, length, length + 1, std::size_t(1000)})
            ASSERT_EQ(crt::TextLengthWithin(text, cap), std::min(cap, length))
                << length << " " << cap;
        // Unterminated: its last unit is the last before the guard.
        text = guard - length;
        std::fill(text, guard, u'b');
        ASSERT_EQ(crt::TextLengthWithin(text, length), length) << length;
    }
    // A terminator in the middle of a block, behind the start.
    const char16_t mixed[] = u"abcdefghij\0klmnop";
    EXPECT_EQ(crt::TextLengthWithin(mixed + 3, 100), 7u);
}

TEST(WideCrtCompare, CaseInsensitiveBlocksCrossPagesButNotTheirEnd) {
    GuardedPages map;
    ASSERT_NE(map.at, MAP_FAILED);
    std::fill(map.at, map.at + 3 * kPage, '#');
    auto* boundaryA = reinterpret_cast<char16_t*>(map.at + kPage);
    auto* boundaryB = reinterpret_cast<char16_t*>(map.at + 2 * kPage);
    char16_t* guard = map.Guard();
    auto unitByUnit = [](const char16_t* a, const char16_t* b) {
        for (;; ++a, ++b) {
            int x = crt::FoldUnit(*a), y = crt::FoldUnit(*b);
            if (x != y || !x) return x - y;
        }
    };
    struct Change {
        const char* name;
        char16_t inA, inB;  // put into a and into its case-swapped copy b at position i
    } changes[] = {{"equal but for case", 0, 0},
                   {"greater letter", u'q', u'Z'},
                   {"lesser unit", u'q', u'!'},
                   {"b ends first", u'q', 0},
                   {"umlaut against its capital", u'\u00E4', u'\u00C4'},
                   {"Kelvin sign folds to k", u'k', u'\u212A'},
                   {"ASCII against Greek", u'a', u'\u03B1'}};
    const std::u16string text = u"The Quick Brown Fox Jumps Over The Lazy Dog";
    for (const Change& change : changes) {
        for (std::size_t length = 1; length <= 40; ++length) {
            for (std::size_t i = 0; i < length; ++i) {
                std::u16string a = text.substr(0, length), b;
                if (change.inA) a[i] = change.inA;
                for (char16_t c : a)
                    b += c < 0x80 && std::isalpha(c) ? static_cast<char16_t>(c ^ 0x20) : c;
                if (change.inA) b[i] = change.inB;
                const int expected = unitByUnit(a.c_str(), b.c_str());
                // Both texts from every unit before their page boundaries up
                // to it, so either crosses the boundary at each of its units.
                for (std::size_t before = 0; before <= length + 1; ++before) {
                    char16_t* atA =
                        std::copy(a.c_str(), a.c_str() + length + 1, boundaryA - before);
                    char16_t* atB =
                        std::copy(b.c_str(), b.c_str() + length + 1, boundaryB - before);
                    atA -= length + 1;
                    atB -= length + 1;
                    ASSERT_EQ(crt::_wcsicmp(atA, atB), expected)
                        << change.name << " " << length << " at " << i << ", " << before;
                    ASSERT_EQ(crt::_wcsicmp(atB, atA), -expected) << change.name << " swapped";
                    ASSERT_EQ(crt::_wcsicmp(a.c_str(), atB), expected) << change.name;
                }
                char16_t* last = guard - (length + 1);
                std::copy(b.c_str(), b.c_str() + length + 1, last);
                ASSERT_EQ(crt::_wcsicmp(a.c_str(), last), expected) << change.name << " at guard";
                ASSERT_EQ(crt::_wcsicmp(last, a.c_str()), -expected) << change.name << " at guard";
            }
        }
    }
}

TEST(WideCrtCompare, CollationJoinsSurrogatePairsAndFollowsTheCLocale) {
    ASSERT_NE(std::setlocale(LC_COLLATE, "C.UTF-8"), nullptr);
    // In UTF-16 order U+10000 (D800 DC00) sorts below U+FFFD; by code point
    // (what the C library's collation sees) it sorts above.
    const TKWCHAR high[] = {0xD800, 0xDC00, 0};
    const TKWCHAR replacement[] = {0xFFFD, 0};
    EXPECT_GT(crt::wcscoll(high, replacement), 0);
    EXPECT_LT(crt::wcscoll(u"B", u"a"), 0);
    EXPECT_GT(crt::_wcsicoll(u"B", u"a"), 0);
    EXPECT_EQ(crt::_wcsicoll(u"ÄΣ", u"äς"), 0);
    std::setlocale(LC_COLLATE, "C");
}

TEST(WideCrtNumbers, IntegersTakeTheLongestPrefixAndClamp) {
    struct Row {
        const TKWCHAR* text;
        int value;
    };
    const Row rows[] = {
        {u"42", 42},
        {u"  \t-17abc", -17},
        {u"+8", 8},
        {u"\u3000 12", 12},  // ideographic space is white space
        {u"abc", 0},
        {u"- 5", 0},
        {u"2147483647", 2147483647},
        {u"2147483648", 2147483647},
        {u"-2147483648", -2147483647 - 1},
        {u"-99999999999999999999", -2147483647 - 1},
        {u"１２", 0},  // only ASCII digits count
        {nullptr, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(crt::_wtoi(row.text), row.value);
        EXPECT_EQ(crt::_wtol(row.text), row.value);
    }
}

TEST(WideCrtNumbers, FloatingPointTakesTheLongestPrefixCorrectlyRounded) {
    struct Row {
        const TKWCHAR* text;
        double value;
    };
    const Row rows[] = {
        {u"3.14159", 3.14159},
        {u"  -2.5e3xyz", -2500.0},
        {u"1e", 1.0},  // an exponent without digits is not part of the number
        {u"1e+", 1.0},
        {u".5", 0.5},
        {u"5.", 5.0},
        {u".", 0.0},
        {u"abc", 0.0},
        {u"0x1.8p1", 3.0},
        {u"0x", 0.0},
        {u"1,5", 1.0},
        {u"9007199254740993", 9007199254740992.0},  // ties to even
        {u"2.2250738585072011e-308", 2.2250738585072011e-308},
        {u"0.1000000000000000055511151231257827021181583404541015625", 0.1},
        {u"1e400", HUGE_VAL},
        {u"-INFINITY", -HUGE_VAL},
        {u"inf", HUGE_VAL},
    };
    for (const Row& row : rows) EXPECT_EQ(crt::_wtof(row.text), row.value);
    EXPECT_TRUE(std::isnan(crt::_wtof(u"nan(123)")));
    EXPECT_TRUE(std::isnan(crt::_wtof(u" NaN")));
    std::u16string longDigits = u"1" + std::u16string(300, u'0') + u"e-300";
    EXPECT_EQ(crt::_wtof(longDigits.c_str()), 1.0);
}
