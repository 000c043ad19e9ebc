// Differential fuzzing of the string operations: the block-wise searches and
// case-blind comparison, Replace, wildcard matching and the number readers
// against plain reference implementations, plus path joining and splitting
// for crashes.
//
// Input: byte 0 picks small alphabets so that matches are frequent; the rest
// is cut at 0xFF bytes into a pattern/needle and a text of UTF-16 units.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "text/wide_crt.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKString.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "mismatch: %s\n", what);
    std::abort();
}

// Maps bytes onto a few units (including NUL, '*', '?', '.', '\\', a
// surrogate and non-ASCII letters) so that interesting cases are common.
TKWCHAR Unit(std::uint8_t b) {
    static const TKWCHAR kUnits[] = {u'a',  u'b', u'A', u'B', u'*', u'?', u'.',
                                     u'\\', u'/', u' ', u'Σ', u'σ', u'ς', 0xD83D,
                                     u'0',  u'1', u'e', u'x', u':', u'-', 0};
    return kUnits[b % (sizeof(kUnits) / sizeof(kUnits[0]))];
}

// The textbook dynamic-programming matcher for '*' and '?':
// row[j] tells whether the pattern so far matches the first j units.
bool ReferenceMatch(const std::u16string& p, const std::u16string& t) {
    std::vector<char> row(t.size() + 1, 0);
    row[0] = 1;
    for (char16_t c : p) {
        std::vector<char> next(t.size() + 1, 0);
        if (c == u'*') {
            next[0] = row[0];
            for (std::size_t j = 1; j <= t.size(); ++j) next[j] = row[j] || next[j - 1];
        } else {
            for (std::size_t j = 1; j <= t.size(); ++j)
                next[j] = row[j - 1] && (c == u'?' || c == t[j - 1]);
        }
        row.swap(next);
    }
    return row[t.size()] != 0;
}

std::u16string ReferenceReplace(std::u16string text, const std::u16string& from,
                                const std::u16string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::u16string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Case-blind order unit by unit: the difference of the first folded units
// that differ, or 0.
int ReferenceNoCase(const TKWCHAR* a, const TKWCHAR* b) {
    for (;; ++a, ++b) {
        int x = tk::platform::FoldUnit(*a), y = tk::platform::FoldUnit(*b);
        if (x != y || !x) return x - y;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 4096) return 0;
    std::u16string first, second;
    std::u16string* into = &first;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFF && into == &first) {
            into = &second;
            continue;
        }
        into->push_back(data[0] & 1 ? static_cast<TKWCHAR>(data[i] | (data[i] << 8))
                                    : Unit(data[i]));
    }

    // Searches over the text placed at every alignment of a heap block sized
    // exactly to it, so reading past the terminator would be caught.
    const std::u16string text(second.c_str());  // up to the first NUL
    const std::u16string needle(first.c_str());
    for (std::size_t shift = 0; shift < 8; ++shift) {
        std::vector<TKWCHAR> heap(shift + text.size() + 1);
        std::memcpy(heap.data() + shift, text.c_str(), (text.size() + 1) * sizeof(TKWCHAR));
        const TKWCHAR* s = heap.data() + shift;
        const TKWCHAR* hit = tk::platform::wcsstr(s, needle.c_str());
        std::size_t want = text.find(needle);
        if ((hit ? static_cast<std::size_t>(hit - s) : std::u16string::npos) != want)
            Fail("wcsstr");
        if (!needle.empty()) {
            hit = tk::platform::wcschr(s, needle[0]);
            if ((hit ? static_cast<std::size_t>(hit - s) : std::u16string::npos) !=
                text.find(needle[0]))
                Fail("wcschr");
            hit = tk::platform::wcsrchr(s, needle[0]);
            if ((hit ? static_cast<std::size_t>(hit - s) : std::u16string::npos) !=
                text.rfind(needle[0]))
                Fail("wcsrchr");
        }
        if (tk::platform::_wcsicmp(s, needle.c_str()) != ReferenceNoCase(s, needle.c_str()))
            Fail("_wcsicmp");
    }

    // Replace over the whole header length (NULs inside), shared and sole.
    if (!needle.empty()) {
        const std::u16string to = needle.size() > 1 ? needle.substr(1) + u"xy" : u"";
        CTKString s(second.data(), static_cast<int>(second.size()));
        CTKString keep = s;
        s.Replace(needle.c_str(), to.c_str());
        if (std::u16string(static_cast<const TKWCHAR*>(s), s.GetLength()) !=
            ReferenceReplace(second, needle, to))
            Fail("Replace");
        if (std::u16string(static_cast<const TKWCHAR*>(keep), keep.GetLength()) != second)
            Fail("Replace changed a sharer");
        s.Replace(to.c_str(), needle.c_str());
    }

    // Wildcards: the greedy matcher agrees with backtracking.
    if (needle.size() <= 24 && text.size() <= 64) {
        if (TKStringUtils::StrIsMatching(needle.c_str(), text.c_str(), true) !=
            ReferenceMatch(needle, text))
            Fail("StrIsMatching");
        TKStringUtils::StrIsMatching(needle.c_str(), text.c_str(), false);
    }

    // Numbers: _wtof reads what strtod reads, for ASCII texts.
    std::string narrow;
    for (TKWCHAR u : text) {
        if (u >= 0x80 || !u) break;
        narrow.push_back(static_cast<char>(u));
    }
    if (narrow.size() == text.size() && !narrow.empty() && narrow[0] > ' ') {
        double a = tk::platform::_wtof(text.c_str());
        double b = std::strtod(narrow.c_str(), nullptr);
        if (!(a == b || (a != a && b != b))) Fail("_wtof");
    }
    (void)tk::platform::_wtoi(text.c_str());

    // Paths, splitting, trims and case: no crash, no leak.
    TKWCHAR* joined = tkUnionPath(needle.c_str(), text.c_str());
    tkFreeMem(joined);
    std::vector<TKWCHAR*> pieces;
    TKStringUtils::SplitStr(text.c_str(), needle.empty() ? u'.' : needle[0], pieces);
    TKStringUtils::AdjustStrArr(pieces, true, true);
    TKStringUtils::FreeStrArr(pieces);
    CTKString t(second.data(), static_cast<int>(second.size()));
    t.TrimRight(needle.c_str());
    t.TrimLeft(needle.c_str());
    t.Insert(static_cast<int>(data[0]) - 100, needle.c_str());
    t.Delete(static_cast<int>(data[0] >> 2), static_cast<int>(size % 7));
    t.MakeUpper();
    t.MakeReverse();
    (void)t.CompareNoCase(needle.c_str());
    (void)t.Mid(static_cast<int>(data[0] % 9) - 3, static_cast<int>(size % 11) - 2);
    return 0;
}
