// Number text for JSON.
//
// Reading. Most JSON numbers have at most 19 significant digits and a small
// power of ten, so they are read without the C library:
//  - Clinger's fast path: a mantissa below 2^53 and |power| <= 22 are both
//    exact doubles, and one IEEE multiplication or division rounds the exact
//    product correctly;
//  - on x87 hardware, any 19-digit mantissa and |power| <= 27 are exact in
//    the 64-bit long double mantissa (5^27 < 2^63), so one extended
//    operation is off by at most half an extended ulp. Rounding that to
//    double again can only go wrong when the extended result lies within one
//    extended ulp of a point halfway between two doubles; those few cases
//    (low 11 bits 0x3FF..0x401) go to strtod.
// Everything else (more digits, far exponents, hexadecimal, inf, nan) is
// handed to strtod_l in the "C" locale, which is correctly rounded in glibc.
//
// Writing. "%.15f" of a double x = m * 2^e (m < 2^53) is the exact value
// rounded to 15 decimals, ties to even. Below 2^64 that is integer arithmetic
// in 128 bits: the fraction bits times 10^15, shifted right by -e with the
// remainder deciding the rounding. Larger and non-finite values go to
// snprintf in the "C" locale.
#include "json/json_number.h"

#include <locale.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tk::detail {

namespace {

// The "C" locale, so that a caller's setlocale never changes the decimal
// point. Created once, on first use; never freed (it lives as long as the
// process, like the C library's own locales).
locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

inline bool IsDigit(TKWCHAR c) {
    return static_cast<unsigned>(c - '0') < 10u;
}

constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

#if (defined(__x86_64__) || defined(__i386__)) && LDBL_MANT_DIG == 64
#define TK_JSON_X87_PATH 1
// 10^0 .. 10^27, all exact in a 64-bit mantissa.
const long double kPow10L[28] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                 1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L,
                                 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
static_assert(sizeof(long double) >= 10, "x87 extended format");
#endif

}  // namespace

bool ParseDecimalFast(const TKWCHAR* p, const TKWCHAR** stop, double* value) {
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    std::uint64_t mantissa = 0;
    int digits = 0;    // significant digits held in mantissa (at most 19)
    int exponent = 0;  // power of ten applied to mantissa
    bool seenDigit = false;
    bool dropped = false;  // a nonzero digit did not fit in mantissa

    const TKWCHAR* integerStart = p;
    for (; IsDigit(*p); ++p) {
        seenDigit = true;
        unsigned d = static_cast<unsigned>(*p - '0');
        if (digits < 19) {
            mantissa = mantissa * 10 + d;
            if (mantissa) ++digits;  // leading zeros are not significant
        } else {
            ++exponent;
            dropped |= d != 0;
        }
    }
    // "0x..." is hexadecimal for strtod.
    if (p - integerStart == 1 && *integerStart == '0' && (*p == 'x' || *p == 'X')) return false;
    if (*p == '.') {
        ++p;
        for (; IsDigit(*p); ++p) {
            seenDigit = true;
            unsigned d = static_cast<unsigned>(*p - '0');
            if (digits < 19) {
                mantissa = mantissa * 10 + d;
                if (mantissa) ++digits;
                --exponent;
            } else {
                dropped |= d != 0;
            }
        }
    }
    if (!seenDigit) return false;  // ".", "-", words: strtod decides
    if (*p == 'e' || *p == 'E') {
        const TKWCHAR* q = p + 1;
        bool negativeExponent = false;
        if (*q == '-' || *q == '+') {
            negativeExponent = *q == '-';
            ++q;
        }
        if (IsDigit(*q)) {
            int e = 0;
            for (; IsDigit(*q); ++q)
                if (e < 100000) e = e * 10 + (*q - '0');  // saturates; strtod takes over
            exponent += negativeExponent ? -e : e;
            p = q;
        }
    }
    *stop = p;
    if (dropped) return false;
    if (mantissa == 0) {
        *value = negative ? -0.0 : 0.0;
        return true;
    }
    double result;
    if (mantissa <= (std::uint64_t(1) << 53) && exponent >= -22 && exponent <= 22) {
        double m = static_cast<double>(mantissa);
        result = exponent < 0 ? m / kPow10[-exponent] : m * kPow10[exponent];
    } else {
#ifdef TK_JSON_X87_PATH
        if (exponent < -27 || exponent > 27) return false;
        long double m = static_cast<long double>(mantissa);
        long double r = exponent < 0 ? m / kPow10L[-exponent] : m * kPow10L[exponent];
        std::uint64_t significand;
        std::memcpy(&significand, &r, sizeof significand);  // low 8 bytes: the mantissa
        unsigned low = static_cast<unsigned>(significand & 0x7FF);
        if (low >= 0x3FF && low <= 0x401) return false;  // near a halfway point
        result = static_cast<double>(r);
#else
        return false;
#endif
    }
    *value = negative ? -result : result;
    return true;
}

double ParseNumberPrefix(const TKWCHAR* text, const TKWCHAR* tokenEnd) {
    // Number characters are ASCII: the token is narrowed up to its first
    // other unit, which could not be part of the number anyway.
    char small[128];
    std::string large;
    std::size_t n = 0;
    std::size_t limit = static_cast<std::size_t>(tokenEnd - text);
    while (n < limit && text[n] > 0 && text[n] < 0x80) ++n;
    char* narrow = small;
    if (n >= sizeof small) {
        large.resize(n + 1);
        narrow = &large[0];
    }
    for (std::size_t i = 0; i < n; ++i) narrow[i] = static_cast<char>(text[i]);
    narrow[n] = 0;
    return strtod_l(narrow, nullptr, CLocale());
}

namespace {

// Writes the decimal digits of v (at least one) and returns the count. The
// digits go straight to their places, right to left: building them in a
// scratch array and copying stalls on store forwarding.
int PutUnsigned(std::uint64_t v, TKWCHAR* out) {
    int n = 1;
    for (std::uint64_t rest = v / 10; rest; rest /= 10) ++n;
    for (int i = n - 1; i >= 0; --i) {
        out[i] = static_cast<TKWCHAR>('0' + v % 10);
        v /= 10;
    }
    return n;
}

constexpr std::uint64_t kScale15 = 1000000000000000ull;  // 10^15

// "%.15f" of values the integer path cannot hold, through the C library.
int FormatWithPrintf(double x, TKWCHAR* out) {
    char buffer[kMaxNumberUnits];
    locale_t previous = uselocale(CLocale());
    int n = std::snprintf(buffer, sizeof buffer, "%.15f", x);
    uselocale(previous);
    if (n < 0) n = 0;
    if (n >= kMaxNumberUnits) n = kMaxNumberUnits - 1;
    // Trim zeros of the fraction only: "inf" and "nan" have no point.
    if (std::memchr(buffer, '.', static_cast<std::size_t>(n))) {
        while (n > 0 && buffer[n - 1] == '0') --n;
        if (n > 0 && buffer[n - 1] == '.') --n;
    }
    for (int i = 0; i < n; ++i) out[i] = static_cast<TKWCHAR>(buffer[i]);
    return n;
}

}  // namespace

int FormatFixed15(double x, TKWCHAR* out) {
    if (!std::isfinite(x) || std::fabs(x) >= 18446744073709551616.0)
        return FormatWithPrintf(x, out);

    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bool negative = bits >> 63;
    int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t m = bits & ((std::uint64_t(1) << 52) - 1);
    int e;  // |x| = m * 2^e
    if (biased == 0) {
        e = -1074;  // subnormal (or zero)
    } else {
        m |= std::uint64_t(1) << 52;
        e = biased - 1075;
    }

    std::uint64_t integer;
    std::uint64_t fraction = 0;  // the 15 decimals as an integer, rounded
    if (e >= 0) {
        integer = m << e;  // below 2^64 by the test above
    } else {
        int k = -e;
        std::uint64_t fractionBits;
        if (k < 64) {
            integer = m >> k;
            fractionBits = m & ((std::uint64_t(1) << k) - 1);
        } else {
            integer = 0;
            fractionBits = m;
        }
        // fractionBits * 10^15 < 2^103, so for k >= 105 the scaled fraction
        // is below 1/4 and rounds to 0.
        if (k < 105 && fractionBits) {
            unsigned __int128 scaled = static_cast<unsigned __int128>(fractionBits) * kScale15;
            unsigned __int128 q = scaled >> k;
            unsigned __int128 r = scaled & ((static_cast<unsigned __int128>(1) << k) - 1);
            unsigned __int128 half = static_cast<unsigned __int128>(1) << (k - 1);
            if (r > half || (r == half && (q & 1))) ++q;
            fraction = static_cast<std::uint64_t>(q);
            if (fraction == kScale15) {
                fraction = 0;
                ++integer;  // cannot overflow: integer < 2^53 when k >= 1
            }
        }
    }

    int n = 0;
    if (negative) out[n++] = '-';
    n += PutUnsigned(integer, out + n);
    if (fraction) {
        out[n++] = '.';
        int width = 15;  // decimals kept: the trailing zeros go
        while (fraction % 10 == 0) {
            fraction /= 10;
            --width;
        }
        for (int i = width - 1; i >= 0; --i) {
            out[n + i] = static_cast<TKWCHAR>('0' + fraction % 10);
            fraction /= 10;
        }
        n += width;
    }
    return n;
}

}  // namespace tk::detail
