// CTKString bodies: sources and capacities, sharing, locking, buffers,
// assignment and concatenation, large bodies, conversion out.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKString.h"

namespace {

const TKWCHAR* Ptr(const CTKString& s) {
    return s;
}
std::u16string Text(const CTKString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(Ptr(s)), s.GetLength());
}

// The reference count sits three 32-bit fields before the characters.
int RefCount(const CTKString& s) {
    return reinterpret_cast<const int*>(Ptr(s))[-3];
}

}  // namespace

TEST(StringBody, EmptyStringsShareTheStaticRecord) {
    CTKString a;
    CTKString b(TKL(""));
    CTKString c(static_cast<const TKWCHAR*>(nullptr));
    CTKString d(static_cast<const char*>(nullptr));
    CTKString e(TKL('x'), 0), f(TKL('x'), -5);
    for (const CTKString* s : {&a, &b, &c, &d, &e, &f}) {
        EXPECT_EQ(Ptr(*s), Ptr(a));
        EXPECT_EQ(s->GetLength(), 0);
        EXPECT_EQ(s->GetAllocLength(), 0);
        EXPECT_EQ(RefCount(*s), -1);
    }
}

TEST(StringBody, CapacityFollowsPoolSteps) {
    struct Row {
        int length;
        int capacity;
    } rows[] = {{1, 64},    {64, 64},   {65, 128},  {128, 128}, {129, 256},
                {256, 256}, {257, 512}, {512, 512}, {513, 513}, {4000, 4000}};
    for (const Row& row : rows) {
        CTKString s(TKL('a'), row.length);
        EXPECT_EQ(s.GetLength(), row.length);
        EXPECT_EQ(s.GetAllocLength(), row.capacity) << row.length << " units";
        EXPECT_EQ(Ptr(s)[row.length], 0);
    }
}

TEST(StringBody, PooledBodyUsesThePoolsBlock) {
    // A freed 3-unit body goes back to pool 1, whose next block is it again.
    const TKWCHAR* chars;
    {
        CTKString s(TKL("abc"));
        chars = s;
    }
    void* block = _TempDataStr64()->Alloc();
    EXPECT_EQ(static_cast<char*>(block) + 12, reinterpret_cast<const char*>(chars));
    _TempDataStr64()->Free(block);
}

TEST(StringSharing, CopiesAndAssignmentsShare) {
    CTKString a(TKL("abc"));
    CTKString b = a;
    EXPECT_EQ(Ptr(a), Ptr(b));
    EXPECT_EQ(RefCount(a), 2);
    b.SetAt(0, TKL('X'));  // the edits' own copying is tabled with them
    EXPECT_EQ(RefCount(a), 1);

    CTKString c;
    c = a;  // assignment shares too
    EXPECT_EQ(Ptr(c), Ptr(a));
    c = c;  // self-assignment changes nothing
    EXPECT_EQ(RefCount(a), 2);
}

TEST(StringSharing, LockedBodiesAreCopiedNotShared) {
    CTKString a(TKL("a\0b"), 3);
    EXPECT_EQ(a.GetLength(), 3);
    a.LockBuffer();
    EXPECT_EQ(RefCount(a), -1);
    CTKString b(a);  // copies up to the first NUL
    EXPECT_NE(Ptr(a), Ptr(b));
    EXPECT_EQ(Text(b), u"a");
    EXPECT_EQ(RefCount(a), -1);

    CTKString c(TKL("xyz"));
    CTKString shared = c;
    c.LockBuffer();  // a shared body is made private before the lock
    EXPECT_NE(Ptr(c), Ptr(shared));
    c = shared;  // a locked target copies the text and stays locked
    EXPECT_EQ(RefCount(c), -1);
    EXPECT_EQ(RefCount(shared), 1);
    c.Empty();  // keeps body and lock
    EXPECT_EQ(c.GetLength(), 0);
    EXPECT_EQ(RefCount(c), -1);
    c.UnlockBuffer();
    EXPECT_EQ(RefCount(c), 1);

    c.LockBuffer();
    c += CTKString(TKL('z'), 100);  // growing ends the lock
    EXPECT_EQ(RefCount(c), 1);
    EXPECT_EQ(c.GetLength(), 100);
}

TEST(StringAssign, EmptySourceKeepsTheBody) {
    CTKString s(TKL("abc"));
    const TKWCHAR* chars = s;
    s = CTKString();
    EXPECT_EQ(Ptr(s), chars);
    EXPECT_EQ(s.GetAllocLength(), 64);
    EXPECT_EQ(s.GetLength(), 0);
    s.Empty();
    EXPECT_EQ(s.GetAllocLength(), 0);
}

TEST(StringAssign, NarrowTextAndSignExtendedChars) {
    CTKString s("hello");
    s = static_cast<const char*>(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    s = 'A';
    EXPECT_EQ(Text(s), u"A");
    s = static_cast<char>(0xE9);
    EXPECT_EQ(s.GetAt(0), 0xFFE9);
    CTKString t = CTKString(TKL("xy")) + 'A';
    EXPECT_EQ(Text(t), u"xyA");
    t += static_cast<char>(0xE9);
    EXPECT_EQ(t.GetAt(3), 0xFFE9);
    CTKString u8(reinterpret_cast<const unsigned char*>("\xC3\xA4"));
    EXPECT_EQ(Text(u8), u"ä");
    CTKString counted("a\0b", 3);  // exactly three bytes, NUL included
    EXPECT_EQ(counted.GetLength(), 3);
}

TEST(StringAppend, SelfAppendAndConcatenation) {
    CTKString s(TKL("ab"));
    s += s;
    EXPECT_EQ(Text(s), u"abab");
    CTKString big(TKL('q'), 600);
    big += big;                                      // on the heap, growing in place
    big += static_cast<const TKWCHAR*>(big) + 1190;  // a tail of itself
    EXPECT_EQ(Text(big), std::u16string(1210, u'q'));
    CTKString shared = big;  // a shared heap body is never grown in place
    big += TKL('d');
    EXPECT_EQ(shared.GetLength(), 1210);

    CTKString embedded(TKL("a\0b"), 3);
    CTKString joined = embedded + embedded;  // header lengths, NULs kept
    EXPECT_EQ(joined.GetLength(), 6);
    EXPECT_EQ(Text(TKL("<") + CTKString(TKL("x")) + TKL('>')), u"<x>");
    EXPECT_EQ((CTKString() + CTKString()).GetAllocLength(), 0);
}

// Appends report the capacity exactly: the pool step up to 512 units, the
// length itself beyond, whether the append fits the heap block's spare room
// or moves the text to a larger block.
TEST(StringAppend, CapacityIsReportedExactlyAsTheTextGrows) {
    struct Row {
        const char* name;
        int units;  // appended in one call
        int times;
    } rows[] = {
        {"one unit across the pool steps to 512", 1, 512},
        {"one unit across the 512-unit boundary", 1, 1},
        {"one unit through several block ends", 1, 6000},
        {"runs that straddle block ends", 37, 300},
        {"a run far larger than the spare room", 50000, 1},
        {"one unit after the large run", 1, 100},
    };
    CTKString s;
    std::u16string expected;
    for (const Row& row : rows) {
        for (int t = 0; t < row.times; ++t) {
            std::u16string piece(static_cast<std::size_t>(row.units), u'a' + (t % 26));
            if (row.units == 1)
                s += static_cast<TKWCHAR>(piece[0]);
            else
                s += reinterpret_cast<const TKWCHAR*>(piece.c_str());
            expected += piece;
            const int length = static_cast<int>(expected.size());
            const int step = length <= 64 ? 64 : length <= 128 ? 128 : length <= 256 ? 256 : 512;
            ASSERT_EQ(s.GetAllocLength(), length <= 512 ? step : length)
                << row.name << ", append " << t;
            ASSERT_EQ(Ptr(s)[length], 0) << row.name << ", append " << t;
        }
        EXPECT_EQ(Text(s), expected) << row.name;
    }
}

// A unit that fits is written where the text ends, whatever the body: a
// locked one keeps its lock, and a NUL unit is text like any other.
TEST(StringAppend, OneUnitInPlace) {
    CTKString s(TKL("ab"));
    const TKWCHAR* chars = s.LockBuffer();
    s += TKL('c');
    s += static_cast<TKWCHAR>(0);
    s += TKL('d');
    EXPECT_EQ(Ptr(s), chars);
    EXPECT_EQ(RefCount(s), -1);
    EXPECT_EQ(Text(s), std::u16string(u"abc\0d", 5));
    EXPECT_EQ(chars[5], 0);
    s.UnlockBuffer();

    CTKString fromEmpty;
    fromEmpty += TKL('x');
    EXPECT_EQ(Text(fromEmpty), u"x");
    EXPECT_EQ(fromEmpty.GetAllocLength(), 64);
    EXPECT_EQ(Ptr(CTKString())[0], 0);  // the empty record was not written
}

// Every other way of growing a body with spare room reports what it asked
// for, keeps the text, and leaves a sharer alone.
TEST(StringAppend, SpareRoomServesEveryChange) {
    CTKString s;
    for (int i = 0; i < 600; ++i) s += TKL('x');  // a grown body: room to spare
    CTKString sharer = s;
    s += TKL('y');  // shared: copied, the sharer keeps its text
    EXPECT_EQ(sharer.GetLength(), 600);
    EXPECT_EQ(sharer.GetAllocLength(), 600);
    EXPECT_EQ(s.GetAllocLength(), 601);

    EXPECT_NE(s.GetBuffer(650), nullptr);
    EXPECT_EQ(s.GetAllocLength(), 650);
    EXPECT_EQ(s.GetLength(), 601);
    s.Insert(0, TKL("<<"));
    EXPECT_EQ(s.GetLength(), 603);
    EXPECT_EQ(s.GetAllocLength(), 650);
    EXPECT_EQ(s.Replace(TKL("y"), TKL("0123456789012345678901234567890123456789012345678901234")),
              1);
    EXPECT_EQ(s.GetLength(), 657);
    EXPECT_EQ(s.GetAllocLength(), 657);
    EXPECT_EQ(Text(s).substr(0, 3), u"<<x");
    EXPECT_EQ(Text(s).substr(602), u"0123456789012345678901234567890123456789012345678901234");

    const std::u16string longer(700, u'z');
    s = reinterpret_cast<const TKWCHAR*>(longer.c_str());
    EXPECT_EQ(s.GetAllocLength(), 700);
    EXPECT_EQ(Text(s), longer);
    s.FreeExtra();  // gives the spare room back; nothing visible changes
    EXPECT_EQ(s.GetAllocLength(), 700);
    s += TKL('!');
    EXPECT_EQ(s.GetAllocLength(), 701);
    EXPECT_EQ(s.GetAt(700), TKL('!'));

    s.LockBuffer();  // growing a locked body moves it and ends the lock
    s += TKL('?');
    EXPECT_EQ(RefCount(s), 1);
    EXPECT_EQ(s.GetAllocLength(), 702);
}

TEST(StringBuffer, GetReleaseAndFreeExtra) {
    CTKString s(TKL("abc"));
    const TKWCHAR* before = s;
    EXPECT_EQ(s.GetBuffer(10), before);
    TKWCHAR* grown = s.GetBuffer(100);
    EXPECT_NE(grown, before);
    EXPECT_EQ(s.GetAllocLength(), 128);
    EXPECT_EQ(Text(s), u"abc");
    for (int i = 0; i < 5; ++i) grown[i] = TKL('0') + i;
    grown[5] = 0;
    s.ReleaseBuffer();
    EXPECT_EQ(Text(s), u"01234");

    CTKString t(TKL("hello"));
    CTKString sharer = t;
    TKWCHAR* buffer = t.GetBufferSetLength(2);
    EXPECT_EQ(Text(t), u"he");
    EXPECT_EQ(buffer, Ptr(t));
    EXPECT_EQ(Text(sharer), u"hello");

    CTKString big(TKL('x'), 600);
    big.GetBuffer(1000);
    EXPECT_EQ(big.GetAllocLength(), 1000);
    big.FreeExtra();
    EXPECT_EQ(big.GetAllocLength(), 600);
    big.GetBufferSetLength(100);
    big.FreeExtra();  // back into the pool that fits
    EXPECT_EQ(big.GetAllocLength(), 128);
}

// Bodies of more than 2 M units (blocks of 4 MB and more) are large: the
// block of the large body that went last is kept, and the next body that
// needs a large block takes it when it has the room. The heap is asked for
// another block as large in between, which it would serve from the freed
// block if it had it back.
TEST(StringLargeBody, TheLastLargeBlockThatWentServesTheNext) {
    const int large = 3 << 20;
    const TKWCHAR* kept;
    {
        CTKString older(TKL('o'), large + 5000);
        CTKString last(TKL('a'), large);  // destroyed first: older goes last
        kept = older;
    }
    std::vector<char> elsewhere(std::size_t(large) * 2 + 8192, 1);
    CTKString next(TKL('n'), large - 1000);  // smaller: fits the kept block
    EXPECT_EQ(Ptr(next), kept);
    EXPECT_EQ(next.GetAllocLength(), large - 1000);
    EXPECT_EQ(next.GetAt(large - 1001), TKL('n'));
    EXPECT_EQ(Ptr(next)[large - 1000], 0);

    // Too small for a larger body, the kept block stays for a later one.
    const TKWCHAR* held = next;
    next.Empty();
    CTKString larger(TKL('L'), 2 * large);
    EXPECT_NE(Ptr(larger), held);
    CTKString later(TKL('l'), large);
    EXPECT_EQ(Ptr(later), held);
}

// A body in a block with more room than it asked for (the kept block of a
// longer text) grows in place as far as the block goes, reporting what was
// asked for; FreeExtra reports the text's length.
TEST(StringLargeBody, SpareRoomOfATakenBlockIsReportedExactly) {
    const int large = 3 << 20;
    { CTKString longer(TKL('x'), large + 100000); }
    CTKString s(TKL('a'), large);
    const TKWCHAR* chars = s;
    EXPECT_EQ(s.GetAllocLength(), large);
    for (int i = 0; i < 1000; ++i) s += TKL('b');
    EXPECT_EQ(Ptr(s), chars);
    EXPECT_EQ(s.GetAllocLength(), large + 1000);
    s.GetBuffer(large + 50000);
    EXPECT_EQ(Ptr(s), chars);
    EXPECT_EQ(s.GetAllocLength(), large + 50000);
    s.FreeExtra();
    EXPECT_EQ(s.GetAllocLength(), large + 1000);
    s += CTKString(TKL('c'), large);  // past the block: moves, the text with it
    EXPECT_EQ(s.GetLength(), 2 * large + 1000);
    EXPECT_EQ(s.GetAllocLength(), 2 * large + 1000);
    EXPECT_EQ(s.GetAt(0), TKL('a'));
    EXPECT_EQ(s.GetAt(large + 999), TKL('b'));
    EXPECT_EQ(s.GetAt(2 * large + 999), TKL('c'));

    // Shrunk below the large size, the body keeps its text exactly.
    s.GetBufferSetLength(700000);
    s.FreeExtra();
    EXPECT_EQ(s.GetAllocLength(), 700000);
    EXPECT_EQ(s.GetAt(699999), TKL('a'));
}

// Large bodies made and let go on several threads at once pass the one kept
// block between them (TSan, ASan): each gets a whole block of its own.
TEST(StringLargeBody, ThreadsShareTheKeptBlock) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            for (int round = 0; round < 12; ++round) {
                const int n = (2 << 20) + 4096 * ((t * 7 + round * 3) % 11);
                const TKWCHAR unit = static_cast<TKWCHAR>(TKL('a') + t);
                CTKString s(unit, n);
                s += unit;
                const TKWCHAR* chars = s;
                if (s.GetLength() != n + 1 || chars[0] != unit || chars[n / 2] != unit ||
                    chars[n] != unit || chars[n + 1] != 0)
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(StringConvertOut, SysStringsKeepEmbeddedNuls) {
    CTKString s(TKL("a\0b"), 3);
    BSTR b = s.AllocSysString();
    EXPECT_EQ(tkSysStringLen(b), 3u);
    EXPECT_EQ(b[2], TKL('b'));
    CTKString longer(TKL("longer text"));
    BSTR moved = longer.SetSysString(&b);
    EXPECT_EQ(moved, b);
    EXPECT_EQ(tkSysStringLen(b), 11u);
    tkSysFreeString(b);
}

TEST(StringConvertOut, AnsiStringIsAlwaysTerminated) {
    ASSERT_EQ(tkGetAnsiCodePage(), 65001u);
    CTKString chinese(TKL("中文字"));  // 9 UTF-8 bytes: more than 2 * length + 1
    char* text = chinese.AllocANSIString();
    EXPECT_STREQ(text, "中文字");
    tkFreeMem(text);

    CTKString cut(TKL("ab\0cd"), 5);  // stops at the first NUL
    text = cut.AllocANSIString();
    EXPECT_STREQ(text, "ab");
    tkFreeMem(text);

    ASSERT_TRUE(tkSetAnsiCodePage(936));
    text = chinese.AllocANSIString();
    EXPECT_STREQ(text, "\xD6\xD0\xCE\xC4\xD7\xD6");
    tkFreeMem(text);
    tkSetAnsiCodePage(65001);
}
