// UTF-16 versions of the C-runtime and Kernel32 text helpers the library
// relies on. The C library's wcs* functions work on 32-bit wchar_t on Linux,
// so none of them may touch TKWCHAR text; these stand in for them, with the
// Windows runtime's contracts:
//
//     namespace crt = tk::platform;
//     const TKWCHAR* hit = crt::wcsstr(text, TKL("needle"));   // null: none
//     int order = crt::_wcsicmp(TKL("B"), TKL("a"));          // > 0
//
// Texts end at their first NUL, as in the C runtime; a null text reads as
// "" (the C runtime would stop the program instead). The *N functions take
// an explicit length and step over NULs. Case mapping is Unicode simple case
// mapping over the BMP, independent of any locale; only wcscoll and
// _wcsicoll look at the C library's current LC_COLLATE.
//
// Searches read whole aligned 16-byte blocks, which may extend past the
// terminator (never past the page holding it).
//
// Everything here is thread-safe and keeps no state. The functions are
// internal to the library.
#ifndef TAVIKFCU_TEXT_WIDE_CRT_H
#define TAVIKFCU_TEXT_WIDE_CRT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "text/unicode_tables.h"
#include "tavikfcu/TKTypes.h"

namespace tk::platform {

// ---- lengths ----------------------------------------------------------------

// Units up to the first NUL; 0 for null.
inline int lstrlenW(const TKWCHAR* s) {
    if (!s) return 0;
    const TKWCHAR* p = s;
    while (*p) ++p;
    return static_cast<int>(p - s);
}

// lstrlenW for texts that may be long: 64 bytes at a time.
std::size_t LongTextLength(const TKWCHAR* s);
// Units up to the first NUL, but at most cap: s need not be terminated
// within cap units, and nothing past its terminator or s[cap - 1] is read
// from a page the text does not reach. 0 for null.
std::size_t TextLengthWithin(const TKWCHAR* s, std::size_t cap);

// Bytes up to the first NUL; 0 for null.
inline int lstrlenA(const char* s) {
    return s ? static_cast<int>(std::strlen(s)) : 0;
}

// ---- searching up to the first NUL --------------------------------------------

// The first c in s; c == 0 finds the terminator. Null when absent.
const TKWCHAR* wcschr(const TKWCHAR* s, TKWCHAR c);
// The last c in s; c == 0 finds the terminator. Null when absent.
const TKWCHAR* wcsrchr(const TKWCHAR* s, TKWCHAR c);
// The first occurrence of sub in s; an empty sub is found at s.
const TKWCHAR* wcsstr(const TKWCHAR* s, const TKWCHAR* sub);
// The first unit of s that is in set (the terminators excluded).
const TKWCHAR* wcspbrk(const TKWCHAR* s, const TKWCHAR* set);
// Length of the leading run of s made of units in set.
std::size_t wcsspn(const TKWCHAR* s, const TKWCHAR* set);
// Length of the leading run of s made of units not in set.
std::size_t wcscspn(const TKWCHAR* s, const TKWCHAR* set);

// ---- searching within an explicit length (NULs are ordinary units) -----------

// The first c in s[0, n); null when absent.
const TKWCHAR* FindUnitN(const TKWCHAR* s, std::size_t n, TKWCHAR c);
// The first occurrence of sub[0, m) in s[0, n); m must be at least 1.
const TKWCHAR* FindUnitsN(const TKWCHAR* s, std::size_t n, const TKWCHAR* sub, std::size_t m);

// Occurrences of c in s[0, n).
std::size_t CountUnitN(const TKWCHAR* s, std::size_t n, TKWCHAR c);
// Copies s[0, n) to dst with every c replaced by with[0, withLength);
// returns the end of what was written. dst may be s itself or lie before s
// in the same buffer, as long as the output never overtakes the input
// (withLength <= 1, or dst placed far enough ahead of the growth).
TKWCHAR* CopyReplacingUnitN(TKWCHAR* dst, const TKWCHAR* s, std::size_t n, TKWCHAR c,
                            const TKWCHAR* with, std::size_t withLength);

// ---- character classes and case -------------------------------------------------

// True for the Unicode White_Space characters of the BMP.
inline bool iswspace(TKWCHAR c) {
    return IsWhiteSpaceUnit(c);
}

// Upper- / lower-cases s in place up to its first NUL (simple case mapping,
// one unit for one unit, so the length never changes). Returns s.
TKWCHAR* _wcsupr(TKWCHAR* s);
TKWCHAR* _wcslwr(TKWCHAR* s);
// Reverses s in place up to its first NUL, unit by unit as the Windows
// runtime does (a surrogate pair comes out in the wrong order). Returns s.
TKWCHAR* _wcsrev(TKWCHAR* s);

// ---- comparison ---------------------------------------------------------------------

// Compares unit by unit as unsigned 16-bit numbers; returns their
// difference at the first mismatch (0 when equal), so a prefix comes first.
int wcscmp(const TKWCHAR* a, const TKWCHAR* b);
// Compares the simple case folds (lower case, with final sigma and long s
// merged) unit by unit; returns their difference at the first mismatch, so
// "B" against "a" is positive and "_" against "a" negative.
int _wcsicmp(const TKWCHAR* a, const TKWCHAR* b);
// The C library's wcscoll under the current LC_COLLATE, on the texts
// converted to its wchar_t (surrogate pairs joined; a lone surrogate is
// passed on as it is).
int wcscoll(const TKWCHAR* a, const TKWCHAR* b);
// wcscoll of the case folds of a and b.
int _wcsicoll(const TKWCHAR* a, const TKWCHAR* b);

// ---- numbers ---------------------------------------------------------------------------

// Leading white space, an optional sign, then ASCII decimal digits, as long
// as they go; no digits give 0. Out-of-range values give INT32_MAX or
// INT32_MIN, as the Windows runtime does.
int _wtoi(const TKWCHAR* s);
// As _wtoi; the Windows long is 32 bits.
std::int32_t _wtol(const TKWCHAR* s);
// The longest prefix that reads as a C99 floating constant, after leading
// white space: decimal with optional exponent, hexadecimal ("0x1.8p3"),
// "inf", "infinity" or "nan" / "nan(chars)" in any case, with an optional
// sign (the Windows runtime accepts all of these since its C99 overhaul).
// Correctly rounded, independent of the locale ('.' is the decimal point).
// No number gives 0; out-of-range values give +-HUGE_VAL or a (sub)normal
// rounding of the value towards 0.
double _wtof(const TKWCHAR* s);

// ---- non-const overloads, as the C++ runtime offers them -------------------------

inline TKWCHAR* wcschr(TKWCHAR* s, TKWCHAR c) {
    return const_cast<TKWCHAR*>(wcschr(static_cast<const TKWCHAR*>(s), c));
}
inline TKWCHAR* wcsrchr(TKWCHAR* s, TKWCHAR c) {
    return const_cast<TKWCHAR*>(wcsrchr(static_cast<const TKWCHAR*>(s), c));
}
inline TKWCHAR* wcsstr(TKWCHAR* s, const TKWCHAR* sub) {
    return const_cast<TKWCHAR*>(wcsstr(static_cast<const TKWCHAR*>(s), sub));
}
inline TKWCHAR* wcspbrk(TKWCHAR* s, const TKWCHAR* set) {
    return const_cast<TKWCHAR*>(wcspbrk(static_cast<const TKWCHAR*>(s), set));
}

}  // namespace tk::platform

#endif  // TAVIKFCU_TEXT_WIDE_CRT_H
