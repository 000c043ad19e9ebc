// UTF-16 C-runtime helpers: searching, case, comparison, collation, numbers.
//
// The NUL-terminated searches scan whole aligned 16-byte blocks with SSE2:
// an aligned block never straddles a page, so reading the block that holds
// the terminator is safe even where it extends past the text. Those reads
// are outside the text's allocation, so these functions are excluded from
// address and thread sanitizing.
#include "text/wide_crt.h"

#include <climits>
#include <cwchar>
#include <string>

#include "platform/c_locale_numbers.h"
#include "platform/features.h"

#if TK_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace tk::platform {

namespace {

#if TK_HAVE_SSE2
// Units of one 16-byte block.
constexpr std::size_t kBlockUnits = 8;
static_assert(sizeof(TKWCHAR) * kBlockUnits == 16, "a block is 16 bytes of UTF-16");

inline unsigned CountTrailingZeros(unsigned mask) {
    return static_cast<unsigned>(tk::detail::CountTrailingZeros32(mask));
}

inline unsigned EqualMask(__m128i v, __m128i w) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, w)));
}

// The aligned block holding s and a mask that drops the bytes before s.
// Misaligned (odd) UTF-16 pointers do not occur: TKWCHAR is 2-aligned.
inline const char* BlockOf(const TKWCHAR* s, unsigned& keepMask) {
    auto address = reinterpret_cast<std::uintptr_t>(s);
    keepMask = 0xFFFFu << (address & 15);
    return reinterpret_cast<const char*>(address & ~static_cast<std::uintptr_t>(15));
}
#endif

// Units of a needle tail equal to the haystack at p; stops at the needle's
// terminator (match) or the first difference (a haystack terminator is a
// difference, so p is never read beyond its text).
inline bool RestMatches(const TKWCHAR* p, const TKWCHAR* sub) {
    while (*sub) {
        if (*p != *sub) return false;
        ++p;
        ++sub;
    }
    return true;
}

const TKWCHAR* ScalarStr(const TKWCHAR* s, const TKWCHAR* sub) {
    for (; *s; ++s)
        if (*s == sub[0] && RestMatches(s + 1, sub + 1)) return s;
    return nullptr;
}

// Whether c is one of the units of set (sets are short: a scan is fastest).
inline bool InSet(const TKWCHAR* set, TKWCHAR c) {
    for (; *set; ++set)
        if (*set == c) return true;
    return false;
}

const TKWCHAR kEmpty[1] = {0};
inline const TKWCHAR* OrEmpty(const TKWCHAR* s) {
    return s ? s : kEmpty;
}

}  // namespace

// ---- searching up to the first NUL -----------------------------------------------

TK_READS_PAST_END const TKWCHAR* wcschr(const TKWCHAR* s, TKWCHAR c) {
    if (!s) return nullptr;
#if TK_HAVE_SSE2
    unsigned keep;
    const char* block = BlockOf(s, keep);
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(c));
    const __m128i zero = _mm_setzero_si128();
    for (;;) {
        __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        unsigned mask = (EqualMask(v, wanted) | EqualMask(v, zero)) & keep;
        if (mask) {
            const TKWCHAR* p = reinterpret_cast<const TKWCHAR*>(block + CountTrailingZeros(mask));
            return *p == c ? p : nullptr;
        }
        block += 16;
        keep = 0xFFFF;
    }
#else
    for (;; ++s) {
        if (*s == c) return s;
        if (!*s) return nullptr;
    }
#endif
}

TK_READS_PAST_END std::size_t LongTextLength(const TKWCHAR* s) {
    if (!s) return 0;
#if TK_HAVE_SSE2
    // Aligned blocks up to a 64-byte boundary, then four blocks a step: an
    // aligned 64-byte group never crosses a page.
    unsigned keep;
    const char* block = BlockOf(s, keep);
    const __m128i zero = _mm_setzero_si128();
    auto found = [&](const char* at, unsigned mask) {
        return static_cast<std::size_t>(
            reinterpret_cast<const TKWCHAR*>(at + CountTrailingZeros(mask)) - s);
    };
    for (;;) {
        unsigned mask =
            EqualMask(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero) & keep;
        if (mask) return found(block, mask);
        block += 16;
        keep = 0xFFFF;
        if ((reinterpret_cast<std::uintptr_t>(block) & 63) == 0) break;
    }
    for (;; block += 64) {
        const __m128i* v = reinterpret_cast<const __m128i*>(block);
        const __m128i a = _mm_cmpeq_epi16(_mm_load_si128(v), zero);
        const __m128i b = _mm_cmpeq_epi16(_mm_load_si128(v + 1), zero);
        const __m128i c = _mm_cmpeq_epi16(_mm_load_si128(v + 2), zero);
        const __m128i d = _mm_cmpeq_epi16(_mm_load_si128(v + 3), zero);
        if (!_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)))) continue;
        const __m128i parts[4] = {a, b, c, d};
        for (int i = 0; i < 4; ++i) {
            unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(parts[i]));
            if (mask) return found(block + 16 * i, mask);
        }
    }
#else
    return static_cast<std::size_t>(lstrlenW(s));
#endif
}

const TKWCHAR* wcsrchr(const TKWCHAR* s, TKWCHAR c) {
    if (!s) return nullptr;
    const TKWCHAR* end = wcschr(s, 0);
    if (c == 0) return end;
    const TKWCHAR* hit = FindUnitN(s, static_cast<std::size_t>(end - s), c);
    const TKWCHAR* last = nullptr;
    while (hit) {
        last = hit;
        hit = FindUnitN(hit + 1, static_cast<std::size_t>(end - hit - 1), c);
    }
    return last;
}

TK_READS_PAST_END const TKWCHAR* wcsstr(const TKWCHAR* s, const TKWCHAR* sub) {
    if (!s) return nullptr;
    if (!sub || !sub[0]) return s;
    if (!sub[1]) return wcschr(s, sub[0]);
#if TK_HAVE_SSE2
    // Candidates are positions holding the needle's first two units; only
    // they are compared in full. The second unit comes from a load one unit
    // further on, whose last unit lies in the next block: that unit belongs
    // to the text (or is its terminator) whenever this block holds no NUL.
    unsigned keep;
    const char* block = BlockOf(s, keep);
    const __m128i first = _mm_set1_epi16(static_cast<short>(sub[0]));
    const __m128i second = _mm_set1_epi16(static_cast<short>(sub[1]));
    const __m128i zero = _mm_setzero_si128();
    for (;;) {
        __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        if (EqualMask(v, zero) & keep) {
            const TKWCHAR* from = reinterpret_cast<const TKWCHAR*>(block);
            return ScalarStr(from > s ? from : s, sub);
        }
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 2));
        unsigned candidates = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
                                  _mm_cmpeq_epi16(v, first), _mm_cmpeq_epi16(next, second)))) &
                              keep;
        while (candidates) {
            const TKWCHAR* p =
                reinterpret_cast<const TKWCHAR*>(block + CountTrailingZeros(candidates));
            if (RestMatches(p + 2, sub + 2)) return p;
            candidates &= candidates - 1;  // each unit sets two mask bits
            candidates &= candidates - 1;
        }
        block += 16;
        keep = 0xFFFF;
    }
#else
    return ScalarStr(s, sub);
#endif
}

const TKWCHAR* wcspbrk(const TKWCHAR* s, const TKWCHAR* set) {
    if (!s) return nullptr;
    set = OrEmpty(set);
    if (!set[0]) return nullptr;
    if (!set[1]) {
        const TKWCHAR* p = wcschr(s, set[0]);
        return p && *p ? p : nullptr;
    }
    for (; *s; ++s)
        if (InSet(set, *s)) return s;
    return nullptr;
}

std::size_t wcsspn(const TKWCHAR* s, const TKWCHAR* set) {
    s = OrEmpty(s);
    set = OrEmpty(set);
    const TKWCHAR* p = s;
    while (*p && InSet(set, *p)) ++p;
    return static_cast<std::size_t>(p - s);
}

std::size_t wcscspn(const TKWCHAR* s, const TKWCHAR* set) {
    s = OrEmpty(s);
    const TKWCHAR* p = wcspbrk(s, set);
    return p ? static_cast<std::size_t>(p - s) : static_cast<std::size_t>(lstrlenW(s));
}

TK_READS_PAST_END std::size_t TextLengthWithin(const TKWCHAR* s, std::size_t cap) {
    if (!s || cap == 0) return 0;
#if TK_HAVE_SSE2
    // Aligned blocks, each holding at least one unit that may be read: none
    // crosses into a page the text does not reach.
    unsigned keep;
    const char* block = BlockOf(s, keep);
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(s);
    const std::uintptr_t end = start + cap * sizeof(TKWCHAR);
    const __m128i zero = _mm_setzero_si128();
    for (;;) {
        const unsigned mask =
            EqualMask(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), zero) & keep;
        if (mask) {
            const std::size_t n =
                (reinterpret_cast<std::uintptr_t>(block) + CountTrailingZeros(mask) - start) /
                sizeof(TKWCHAR);
            return n < cap ? n : cap;
        }
        block += 16;
        keep = 0xFFFF;
        if (reinterpret_cast<std::uintptr_t>(block) >= end) return cap;
    }
#else
    std::size_t n = 0;
    while (n < cap && s[n]) ++n;
    return n;
#endif
}

// ---- searching within an explicit length ------------------------------------------

const TKWCHAR* FindUnitN(const TKWCHAR* s, std::size_t n, TKWCHAR c) {
    std::size_t i = 0;
#if TK_HAVE_SSE2
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(c));
    for (; i + kBlockUnits <= n; i += kBlockUnits) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        unsigned mask = EqualMask(v, wanted);
        if (mask) return s + i + CountTrailingZeros(mask) / 2;
    }
#endif
    for (; i < n; ++i)
        if (s[i] == c) return s + i;
    return nullptr;
}

const TKWCHAR* FindUnitsN(const TKWCHAR* s, std::size_t n, const TKWCHAR* sub, std::size_t m) {
    if (m == 0 || m > n) return m == 0 ? s : nullptr;
    if (m == 1) return FindUnitN(s, n, sub[0]);
    const std::size_t last = n - m;  // the last start position
    const std::size_t restBytes = (m - 2) * sizeof(TKWCHAR);
    std::size_t i = 0;
#if TK_HAVE_SSE2
    // First and last needle unit as the filter: both loads stay inside s.
    const __m128i first = _mm_set1_epi16(static_cast<short>(sub[0]));
    const __m128i final = _mm_set1_epi16(static_cast<short>(sub[m - 1]));
    for (; i + kBlockUnits <= last + 1; i += kBlockUnits) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + m - 1));
        unsigned candidates = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(a, first), _mm_cmpeq_epi16(b, final))));
        while (candidates) {
            const TKWCHAR* p = s + i + CountTrailingZeros(candidates) / 2;
            if (std::memcmp(p + 1, sub + 1, restBytes) == 0) return p;
            candidates &= candidates - 1;
            candidates &= candidates - 1;
        }
    }
#endif
    for (; i <= last; ++i)
        if (s[i] == sub[0] && s[i + m - 1] == sub[m - 1] &&
            std::memcmp(s + i + 1, sub + 1, restBytes) == 0)
            return s + i;
    return nullptr;
}

std::size_t CountUnitN(const TKWCHAR* s, std::size_t n, TKWCHAR c) {
    std::size_t count = 0, i = 0;
#if TK_HAVE_SSE2
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(c));
    for (; i + kBlockUnits <= n; i += kBlockUnits) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        count += static_cast<std::size_t>(tk::detail::PopCount32(EqualMask(v, wanted))) / 2;
    }
#endif
    for (; i < n; ++i) count += s[i] == c;
    return count;
}

TKWCHAR* CopyReplacingUnitN(TKWCHAR* dst, const TKWCHAR* s, std::size_t n, TKWCHAR c,
                            const TKWCHAR* with, std::size_t withLength) {
    std::size_t i = 0;
#if TK_HAVE_SSE2
    // Blocks without c move whole; the load happens before the store, and
    // the store ends no later than the block just read, so a dst trailing s
    // in the same buffer is safe.
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(c));
    for (; i + kBlockUnits <= n; i += kBlockUnits) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (!EqualMask(v, wanted)) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
            dst += kBlockUnits;
            continue;
        }
        for (std::size_t k = i; k < i + kBlockUnits; ++k) {
            TKWCHAR u = s[k];
            if (u != c) {
                *dst++ = u;
            } else {
                for (std::size_t w = 0; w < withLength; ++w) *dst++ = with[w];
            }
        }
    }
#endif
    for (; i < n; ++i) {
        TKWCHAR u = s[i];
        if (u != c) {
            *dst++ = u;
        } else {
            for (std::size_t w = 0; w < withLength; ++w) *dst++ = with[w];
        }
    }
    return dst;
}

// ---- case ---------------------------------------------------------------------------

TKWCHAR* _wcsupr(TKWCHAR* s) {
    if (!s) return s;
    for (TKWCHAR* p = s; *p; ++p) *p = ToUpperUnit(*p);
    return s;
}

TKWCHAR* _wcslwr(TKWCHAR* s) {
    if (!s) return s;
    for (TKWCHAR* p = s; *p; ++p) *p = ToLowerUnit(*p);
    return s;
}

TKWCHAR* _wcsrev(TKWCHAR* s) {
    if (!s) return s;
    TKWCHAR* lo = s;
    TKWCHAR* hi = s + lstrlenW(s);
    while (hi - lo > 1) {
        --hi;
        TKWCHAR t = *lo;
        *lo++ = *hi;
        *hi = t;
    }
    return s;
}

// ---- comparison ---------------------------------------------------------------------

int wcscmp(const TKWCHAR* a, const TKWCHAR* b) {
    a = OrEmpty(a);
    b = OrEmpty(b);
    while (*a && *a == *b) ++a, ++b;
    return static_cast<int>(*a) - static_cast<int>(*b);
}

#if TK_HAVE_SSE2
namespace {

// Whether the 16 bytes from p, a unit of a NUL-terminated text, may be read:
// they stay in p's 4 KiB page, or the text holds no NUL from p to the page's
// end and so runs on into the next page, which is then mapped as well. The
// second test reads only the page's last aligned block. Without it a text
// that crosses a page would be compared unit by unit from the crossing on:
// for a short ASCII text, two to three times slower.
TK_READS_PAST_END inline bool BlockReadable(const TKWCHAR* p) {
    if ((reinterpret_cast<std::uintptr_t>(p) & 4095) <= 4096 - 16) return true;
    unsigned keep;
    const char* last = BlockOf(p, keep);
    const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(last));
    return (EqualMask(v, _mm_setzero_si128()) & keep) == 0;
}

// Units 0..7 of x with 'A'..'Z' folded to 'a'..'z' (others unchanged).
inline __m128i FoldAsciiBlock(__m128i x) {
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi16(x, _mm_set1_epi16(u'A' - 1)),
                                        _mm_cmplt_epi16(x, _mm_set1_epi16(u'Z' + 1)));
    return _mm_add_epi16(x, _mm_and_si128(upper, _mm_set1_epi16(0x20)));
}

}  // namespace
#endif

TK_READS_PAST_END int _wcsicmp(const TKWCHAR* a, const TKWCHAR* b) {
    a = OrEmpty(a);
    b = OrEmpty(b);
#if TK_HAVE_SSE2
    // ASCII text, 8 units at a time: units that are not NUL, not above
    // U+007F and equal once A..Z are folded are skipped. At the first unit
    // that is not, both units below U+0080 decide here (a difference or the
    // end); otherwise the unit loop below takes over from that unit. Either
    // way the result is the unit loop's.
    const __m128i zero = _mm_setzero_si128();
    const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
    while (BlockReadable(a) && BlockReadable(b)) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        const __m128i plain = _mm_cmpeq_epi16(_mm_and_si128(_mm_or_si128(x, y), nonAscii), zero);
        const __m128i ended = _mm_cmpeq_epi16(x, zero);
        const __m128i same = _mm_cmpeq_epi16(FoldAsciiBlock(x), FoldAsciiBlock(y));
        const unsigned skipped = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_andnot_si128(ended, _mm_and_si128(plain, same))));
        if (skipped != 0xFFFF) {
            const unsigned first = CountTrailingZeros(~skipped) / sizeof(TKWCHAR);
            a += first;
            b += first;
            if ((*a | *b) < 0x80) return FoldUnit(*a) - FoldUnit(*b);
            break;
        }
        a += kBlockUnits;
        b += kBlockUnits;
    }
#endif
    for (;; ++a, ++b) {
        unsigned x = *a, y = *b;
        if (x == y) {
            if (!x) return 0;
            continue;
        }
        // Only differing units need folding; equal ones fold alike.
        int fx = FoldUnit(static_cast<TKWCHAR>(x));
        int fy = FoldUnit(static_cast<TKWCHAR>(y));
        if (fx != fy) return fx - fy;
    }
}

namespace {

// UTF-16 to the C library's wchar_t (UTF-32 on Linux), optionally folded.
std::wstring ToCLibraryWide(const TKWCHAR* s, bool fold) {
    std::wstring out;
    s = OrEmpty(s);
    out.reserve(static_cast<std::size_t>(lstrlenW(s)));
    for (; *s; ++s) {
        char32_t c = fold ? FoldUnit(*s) : *s;
        if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00);
            ++s;
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

}  // namespace

int wcscoll(const TKWCHAR* a, const TKWCHAR* b) {
    static_assert(sizeof(wchar_t) == 4 || sizeof(wchar_t) == 2, "wchar_t is UTF-32 or UTF-16");
    return std::wcscoll(ToCLibraryWide(a, false).c_str(), ToCLibraryWide(b, false).c_str());
}

int _wcsicoll(const TKWCHAR* a, const TKWCHAR* b) {
    return std::wcscoll(ToCLibraryWide(a, true).c_str(), ToCLibraryWide(b, true).c_str());
}

// ---- numbers --------------------------------------------------------------------------

namespace {

std::int32_t ParseInt32(const TKWCHAR* s) {
    s = OrEmpty(s);
    while (iswspace(*s)) ++s;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    // Accumulated as a negative number so INT32_MIN is reachable; once out
    // of range, further digits cannot bring the value back.
    std::int64_t value = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        value = value * 10 - (*s - '0');
        if (value < INT32_MIN) return negative ? INT32_MIN : INT32_MAX;
    }
    if (negative) return static_cast<std::int32_t>(value);
    return value < -INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(-value);
}

// Units that can appear in a floating constant (decimal, hexadecimal,
// inf/nan and nan's character sequence).
inline bool IsNumberUnit(TKWCHAR c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
           c == '+' || c == '-' || c == '(' || c == ')' || c == '_';
}

}  // namespace

int _wtoi(const TKWCHAR* s) {
    return ParseInt32(s);
}

std::int32_t _wtol(const TKWCHAR* s) {
    return ParseInt32(s);
}

double _wtof(const TKWCHAR* s) {
    s = OrEmpty(s);
    while (iswspace(*s)) ++s;
    // Narrow the run of units a number can be made of; strtod then takes the
    // longest valid prefix of it, exactly the C99 grammar.
    std::size_t n = 0;
    while (IsNumberUnit(s[n])) ++n;
    if (n == 0) return 0.0;
    char stack[64];
    std::string heap;
    char* narrow = stack;
    if (n >= sizeof(stack)) {
        heap.resize(n + 1);
        narrow = heap.data();
    }
    for (std::size_t i = 0; i < n; ++i) narrow[i] = static_cast<char>(s[i]);
    narrow[n] = 0;
    // strtod must not see the process locale's decimal point.
    return ParseDoubleCLocale(narrow, nullptr);
}

}  // namespace tk::platform
