// CTKString searching, extracting, editing, trimming, case and comparison.
#include <gtest/gtest.h>

#include <string>

#include "tavikfcu/TKString.h"

namespace {

// The whole header length, NULs inside included.
std::u16string Text(const CTKString& s) {
    return std::u16string(static_cast<const TKWCHAR*>(s), static_cast<std::size_t>(s.GetLength()));
}

const TKWCHAR* Ptr(const CTKString& s) {
    return s;
}

CTKString WithNuls(std::u16string units) {
    return CTKString(units.data(), static_cast<int>(units.size()));
}

}  // namespace

// Find and its kin: the start rules at both ends of the text, and the C
// runtime's habit of stopping at the first NUL.
TEST(StringFind, StartRulesAndTheFirstNul) {
    CTKString s(TKL("hello"));
    CTKString n = WithNuls({u'a', u'b', 0, u'c', u'd'});
    struct Row {
        const char* name;
        int got, want;
    };
    const Row rows[] = {
        {"char from a start", s.Find(TKL('l'), 3), 3},
        {"char at start == length is refused", s.Find(TKL('l'), 5), -1},
        {"text at start == length finds only empty", s.Find(TKL("lo"), 5), -1},
        {"empty text at the length", s.Find(TKL(""), 5), 5},
        {"empty text past the length", s.Find(TKL(""), 6), -1},
        {"text running past the end", s.Find(TKL("lo"), 4), -1},
        {"negative start reads from 0 (char)", s.Find(TKL('h'), -3), 0},
        {"negative start reads from 0 (text)", s.Find(TKL("he"), -3), 0},
        {"ReverseFind", s.ReverseFind(TKL('l')), 3},
        {"FindOneOf", s.FindOneOf(TKL("xyzo")), 4},
        {"FindOneOf empty set", s.FindOneOf(TKL("")), -1},
        {"empty string", CTKString().Find(TKL('a')), -1},
        {"NUL in the empty string", CTKString().Find(TKL('\0')), -1},
        {"char behind a NUL", n.Find(TKL('c')), -1},
        {"char from behind the NUL", n.Find(TKL('c'), 3), 3},
        {"text behind a NUL", n.Find(TKL("cd")), -1},
        {"reverse behind a NUL", n.ReverseFind(TKL('d')), -1},
        {"the NUL itself", n.Find(TKL('\0')), 2},
    };
    for (const Row& row : rows) EXPECT_EQ(row.got, row.want) << row.name;
}

TEST(StringExtract, ClampingAndSharing) {
    CTKString s(TKL("hello"));
    struct Row {
        const char* name;
        CTKString got;
        std::u16string want;
    };
    const Row rows[] = {
        {"Mid 1,3", s.Mid(1, 3), u"ell"},
        {"Mid past the end", s.Mid(3, 10), u"lo"},
        {"Mid negative first", s.Mid(-2, 3), u"hel"},
        {"Mid negative count", s.Mid(1, -3), u""},
        {"Mid beyond the length", s.Mid(7), u""},
        {"Mid at the length", s.Mid(5), u""},
        {"Left -1", s.Left(-1), u""},
        {"Left 2", s.Left(2), u"he"},
        {"Right 2", s.Right(2), u"lo"},
        {"Right -3", s.Right(-3), u""},
        {"SpanIncluding", s.SpanIncluding(TKL("leh")), u"hell"},
        {"SpanExcluding", s.SpanExcluding(TKL("l")), u"he"},
        {"SpanExcluding none", s.SpanExcluding(TKL("xyz")), u"hello"},
    };
    for (const Row& row : rows) EXPECT_EQ(Text(row.got), row.want) << row.name;

    // Whole-text results share the body; parts get their own.
    EXPECT_EQ(Ptr(s.Mid(-4)), Ptr(s));
    EXPECT_EQ(Ptr(s.Left(10)), Ptr(s));
    EXPECT_EQ(Ptr(s.Right(5)), Ptr(s));
    EXPECT_NE(Ptr(s.Left(4)), Ptr(s));

    // Extracting keeps NULs inside the header length.
    CTKString n = WithNuls({u'a', 0, u'b', u'c'});
    EXPECT_EQ(Text(n.Mid(1, 2)), (std::u16string{0, u'b'}));
    EXPECT_EQ(Text(n.Right(3)), (std::u16string{0, u'b', u'c'}));
}

TEST(StringEdit, ReplaceText) {
    struct Row {
        const char* name;
        std::u16string text;
        const TKWCHAR* from;
        const TKWCHAR* to;
        int count;
        std::u16string want;
    };
    const Row rows[] = {
        {"null new removes", u"hello", TKL("ll"), nullptr, 1, u"heo"},
        {"empty old", u"hello", TKL(""), TKL("x"), 0, u"hello"},
        {"null old", u"hello", nullptr, TKL("x"), 0, u"hello"},
        {"no overlap, leftmost first", u"aaa", TKL("aa"), TKL("b"), 1, u"ba"},
        {"inserted text is not searched again", u"aXa", TKL("a"), TKL("aa"), 2, u"aaXaa"},
        {"whole text", u"abc", TKL("abc"), TKL(""), 1, u""},
    };
    for (const Row& row : rows) {
        CTKString s = WithNuls(row.text);
        EXPECT_EQ(s.Replace(row.from, row.to), row.count) << row.name;
        EXPECT_EQ(Text(s), row.want) << row.name;
        EXPECT_EQ(s[s.GetLength()], 0) << row.name;
    }
}

// The body is kept while the result fits and grows by the pool steps.
TEST(StringEdit, ReplaceGrowsIntoTheNextPool) {
    CTKString big(TKL('x'), 60);
    big += TKL("yy");
    EXPECT_EQ(big.Replace(TKL("y"), TKL("zzz")), 2);  // 66 units
    EXPECT_EQ(big.GetAllocLength(), 128);
    EXPECT_EQ(Text(big.Right(7)), u"xzzzzzz");
}

TEST(StringEdit, ReplaceWithTextsFromTheStringItself) {
    CTKString s(TKL("abcabc"));
    EXPECT_EQ(s.Replace(Ptr(s) + 3, Ptr(s)), 2);  // "abc" by "abcabc"
    EXPECT_EQ(Text(s), u"abcabcabcabc");
    CTKString t(TKL("xyx"));
    EXPECT_EQ(t.Replace(Ptr(t) + 2, Ptr(t) + 1), 2);  // "x" by "yx", growing in place
    EXPECT_EQ(Text(t), u"yxyyx");
}

TEST(StringEdit, ReplaceCharAndRemoveReachPastNuls) {
    CTKString s = WithNuls({u'l', 0, u'l', u'x'});
    EXPECT_EQ(s.Replace(TKL('l'), TKL('L')), 2);
    EXPECT_EQ(Text(s), (std::u16string{u'L', 0, u'L', u'x'}));
    EXPECT_EQ(s.Replace(TKL('x'), TKL('x')), 0);
    EXPECT_EQ(s.Remove(TKL('L')), 2);
    EXPECT_EQ(Text(s), (std::u16string{0, u'x'}));
}

// Every edit of a shared body changes only its own string; an edit that
// changes nothing keeps the body shared.
TEST(StringEdit, SharedBodiesAreCopiedOnlyWhenChanged) {
    struct Row {
        const char* name;
        std::u16string text;
        void (*edit)(CTKString&);
        std::u16string want;
    };
    const Row rows[] = {
        {"SetAt", u"abc", [](CTKString& s) { s.SetAt(0, TKL('X')); }, u"Xbc"},
        {"Replace char", u"lol", [](CTKString& s) { s.Replace(TKL('l'), TKL('L')); }, u"LoL"},
        {"Replace text", u"lol", [](CTKString& s) { s.Replace(TKL("ol"), TKL("")); }, u"l"},
        {"Remove", u"lol", [](CTKString& s) { s.Remove(TKL('o')); }, u"ll"},
        {"Insert into a full body", std::u16string(64, u'a'),
         [](CTKString& s) { s.Insert(0, TKL('b')); }, u"b" + std::u16string(64, u'a')},
        {"Delete", u"lol", [](CTKString& s) { s.Delete(0); }, u"ol"},
        {"Trim", u"  x  ", [](CTKString& s) { s.Trim(); }, u"x"},
        {"MakeUpper", u"Grüße, Σίσυφος", [](CTKString& s) { s.MakeUpper(); }, u"GRÜßE, ΣΊΣΥΦΟΣ"},
        // Simple mapping: a word-final sigma lowers to σ, not ς.
        {"MakeLower", u"ÄΣ", [](CTKString& s) { s.MakeLower(); }, u"äσ"},
        {"MakeReverse", u"abc", [](CTKString& s) { s.MakeReverse(); }, u"cba"},
        {"Remove nothing", u"heo", [](CTKString& s) { s.Remove(TKL('z')); }, u"heo"},
        {"Trim nothing", u"x", [](CTKString& s) { s.Trim(); }, u"x"},
        {"MakeUpper nothing", u"ABC", [](CTKString& s) { s.MakeUpper(); }, u"ABC"},
    };
    for (const Row& row : rows) {
        CTKString s = WithNuls(row.text);
        CTKString copy = s;
        row.edit(s);
        EXPECT_EQ(Text(s), row.want) << row.name;
        EXPECT_EQ(Text(copy), row.text) << row.name;
        EXPECT_EQ(Ptr(s) == Ptr(copy), row.want == row.text) << row.name;
    }
}

TEST(StringEdit, InsertAndDeleteClamp) {
    CTKString s(TKL("hi"));
    EXPECT_EQ(s.Insert(99, TKL('!')), 3);
    EXPECT_EQ(Text(s), u"hi!");
    EXPECT_EQ(s.Insert(-5, TKL("ab")), 5);
    EXPECT_EQ(Text(s), u"abhi!");
    EXPECT_EQ(s.Insert(1, TKL("")), 5);
    EXPECT_EQ(s.Insert(1, nullptr), 5);
    EXPECT_EQ(s.Insert(2, TKL('\0')), 6);  // a NUL character is inserted, embedded
    EXPECT_EQ(Text(s), (std::u16string{u'a', u'b', 0, u'h', u'i', u'!'}));

    CTKString e;
    EXPECT_EQ(e.Insert(0, TKL("x")), 1);
    EXPECT_EQ(Text(e), u"x");

    CTKString self(TKL("abcd"));
    EXPECT_EQ(self.Insert(2, Ptr(self)), 8);  // text straddling the insert point
    EXPECT_EQ(Text(self), u"ababcdcd");
    CTKString tail(TKL("abcd"));
    EXPECT_EQ(tail.Insert(1, Ptr(tail) + 2), 6);  // text wholly behind it
    EXPECT_EQ(Text(tail), u"acdbcd");

    struct Row {
        const char* name;
        int index, count;
        std::u16string want;
    };
    const Row rows[] = {
        {"middle", 1, 2, u"hlo"},          {"past the end", 3, 10, u"hel"},
        {"at the length", 5, 1, u"hello"}, {"zero count", 0, 0, u"hello"},
        {"negative index", -3, 2, u"llo"}, {"negative count", 1, -1, u"hello"},
    };
    for (const Row& row : rows) {
        CTKString h(TKL("hello"));
        EXPECT_EQ(h.Delete(row.index, row.count), 5) << row.name;
        EXPECT_EQ(Text(h), row.want) << row.name;
    }
}

TEST(StringTrim, Sets) {
    struct Row {
        const char* name;
        void (*trim)(CTKString&);
        std::u16string text, want;
    };
    const Row rows[] = {
        {"Trim white space", [](CTKString& s) { s.Trim(); }, u"\t ab \n", u"ab"},
        {"Trim Unicode spaces", [](CTKString& s) { s.Trim(); }, u"\u3000a b\u00A0\u2029", u"a b"},
        {"Trim all blank", [](CTKString& s) { s.Trim(); }, u" \t ", u""},
        {"TrimRight set", [](CTKString& s) { s.TrimRight(TKL("xy")); }, u"abxyyx", u"ab"},
        {"TrimLeft set", [](CTKString& s) { s.TrimLeft(TKL("ba")); }, u"abxab", u"xab"},
        {"TrimLeft null set",
         [](CTKString& s) { s.TrimLeft(static_cast<const TKWCHAR*>(nullptr)); }, u"  a", u"  a"},
        {"TrimRight empty set", [](CTKString& s) { s.TrimRight(TKL("")); }, u"a  ", u"a  "},
        {"TrimLeft char", [](CTKString& s) { s.TrimLeft(TKL('0')); }, u"000120", u"120"},
        {"TrimRight char", [](CTKString& s) { s.TrimRight(TKL('0')); }, u"1200", u"12"},
        {"TrimRight keeps inner runs", [](CTKString& s) { s.TrimRight(); }, u"a  b  ", u"a  b"},
        // The right trim walks to the first NUL and cuts the run before it.
        {"TrimRight before a NUL", [](CTKString& s) { s.TrimRight(); },
         std::u16string{u'a', u' ', 0, u'b'}, u"a"},
        {"TrimRight no run before a NUL", [](CTKString& s) { s.TrimRight(); },
         std::u16string{u'a', 0, u' '}, std::u16string{u'a', 0, u' '}},
        // The left trim keeps the header length of what follows.
        {"TrimLeft keeps the rest", [](CTKString& s) { s.TrimLeft(); },
         std::u16string{u' ', u'a', 0, u'b'}, std::u16string{u'a', 0, u'b'}},
    };
    for (const Row& row : rows) {
        CTKString s = WithNuls(row.text);
        row.trim(s);
        EXPECT_EQ(Text(s), row.want) << row.name;
        EXPECT_EQ(s[s.GetLength()], 0) << row.name;
    }
}

// The orderings themselves are checked on the runtime helpers; here each
// member must reach the right one ("B" and "a" tell all four apart).
TEST(StringCompare, EachMemberUsesItsOrdering) {
    CTKString b(TKL("B"));
    EXPECT_EQ(b.Compare(TKL("a")), -1);
    EXPECT_EQ(CTKString(TKL("abd")).Compare(TKL("abc")), 1);  // -1, 0 or 1 only
    EXPECT_GT(b.CompareNoCase(TKL("a")), 0);
    EXPECT_LT(b.Collate(TKL("a")), 0);  // by code point in the C locale
    EXPECT_GT(b.CollateNoCase(TKL("a")), 0);
    EXPECT_EQ(CTKString(TKL("Ä")).CompareNoCase(TKL("ä")), 0);
}

TEST(StringCompare, OperatorsAreOrdinalInAllForms) {
    CTKString a(TKL("B")), b(TKL("a"));
    const TKWCHAR* pa = TKL("B");
    const TKWCHAR* pb = TKL("a");
    EXPECT_TRUE(a < b && a < pb && pa < b);
    EXPECT_TRUE(b > a && b > pa && pb > a);
    EXPECT_TRUE(a <= a && a <= pa && pa <= a);
    EXPECT_TRUE(b >= a && b >= pb && pb >= b);
    EXPECT_TRUE(a == pa && pa == a && a == CTKString(pa));
    EXPECT_TRUE(a != b && a != pb && pb != a);
    EXPECT_TRUE(CTKString(TKL("ab")) < TKL("abc"));  // the shorter text ends first
    // Comparison stops at the first NUL, as the C runtime does.
    EXPECT_TRUE(WithNuls({u'a', 0, u'b'}) == WithNuls({u'a', 0, u'c'}));
}

namespace {

std::u16string ReplaceReference(std::u16string text, const std::u16string& from,
                                const std::u16string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::u16string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

}  // namespace

// Long texts take the block-wise paths: every body case (shared, grown in
// place, shrunk in place, moved to a larger body) against a reference.
TEST(StringEdit, ReplaceMatchesAReferenceOnLongTexts) {
    std::u16string text;
    for (int i = 0; i < 300; ++i) text += (i % 7 == 0) ? u'a' : (i % 11 == 0 ? u'\0' : u'b');
    text += u"ab";
    const std::u16string froms[] = {u"a", u"b", u"ab", u"bba"};
    const std::u16string tos[] = {u"", u"x", u"xy", u"xyz"};
    for (const auto& from : froms) {
        for (const auto& to : tos) {
            SCOPED_TRACE(::testing::Message() << from.size() << " -> " << to.size());
            const std::u16string want = ReplaceReference(text, from, to);
            CTKString shared = WithNuls(text);
            CTKString other = shared;
            shared.Replace(from.c_str(), to.c_str());
            EXPECT_EQ(Text(shared), want);
            EXPECT_EQ(Text(other), text);

            CTKString roomy;  // a sole body with room for any result
            TKWCHAR* chars = roomy.GetBuffer(4 * static_cast<int>(text.size()));
            std::copy(text.begin(), text.end(), chars);
            roomy.ReleaseBuffer(static_cast<int>(text.size()));
            const TKWCHAR* before = roomy;
            roomy.Replace(from.c_str(), to.c_str());
            EXPECT_EQ(Text(roomy), want);
            EXPECT_EQ(Ptr(roomy), before);
        }
    }
}
