// Number text for JSON.
//
// Reading. Most JSON numbers have at most 19 significant digits and a small
// power of ten, so they are read without the C library:
//  - Clinger's fast path: a mantissa below 2^53 and |power| <= 22 are both
//    exact doubles, and one IEEE multiplication or division rounds the exact
//    product correctly;
//  - any other mantissa of up to 19 digits with |power| <= 27 goes through
//    the Eisel-Lemire method: one 64x128-bit product with a table entry of
//    5^power decides the correctly rounded result, exact halfway points
//    included (see MultiplyByPowerOfTen).
// Everything else (more digits, far exponents, hexadecimal, inf, nan) is
// handed to the C library's strtod in the "C" locale, correctly rounded in
// glibc.
//
// Writing. "%.15f" of a double x = m * 2^e (m < 2^53) is the exact value
// rounded to 15 decimals, ties to even. Below 2^64 that is integer arithmetic
// in 128 bits: the fraction bits times 10^15, shifted right by -e with the
// remainder deciding the rounding. Larger values go to snprintf in the "C"
// locale, non-finite ones to the library's own formatting.
#include "json/json_number.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/c_locale_numbers.h"
#include "platform/features.h"
#include "string/format_engine.h"

#if !TK_HAVE_INT128
#error "the number conversions need a 128-bit integer type"
#endif

namespace tk::detail {

namespace {

inline bool IsDigit(TKWCHAR c) {
    return static_cast<unsigned>(c - '0') < 10u;
}

constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// 5^q for q in -27..27, normalised to 128 bits (top bit set): truncated
// for q >= 0, and 2^b / 5^-q rounded up for q < 0. In this range one
// 64x128-bit product of a 64-bit mantissa with the entry determines the
// correctly rounded double, or shows that it lies on a halfway point.
constexpr int kMinPower5 = -27;
constexpr int kMaxPower5 = 27;
constexpr std::uint64_t kPower5[kMaxPower5 - kMinPower5 + 1][2] = {
    {0x9E74D1B791E07E48ull, 0x775EA264CF55347Eull},  // 5^-27
    {0xC612062576589DDAull, 0x95364AFE032A819Eull},  // 5^-26
    {0xF79687AED3EEC551ull, 0x3A83DDBD83F52205ull},  // 5^-25
    {0x9ABE14CD44753B52ull, 0xC4926A9672793543ull},  // 5^-24
    {0xC16D9A0095928A27ull, 0x75B7053C0F178294ull},  // 5^-23
    {0xF1C90080BAF72CB1ull, 0x5324C68B12DD6339ull},  // 5^-22
    {0x971DA05074DA7BEEull, 0xD3F6FC16EBCA5E04ull},  // 5^-21
    {0xBCE5086492111AEAull, 0x88F4BB1CA6BCF585ull},  // 5^-20
    {0xEC1E4A7DB69561A5ull, 0x2B31E9E3D06C32E6ull},  // 5^-19
    {0x9392EE8E921D5D07ull, 0x3AFF322E62439FD0ull},  // 5^-18
    {0xB877AA3236A4B449ull, 0x09BEFEB9FAD487C3ull},  // 5^-17
    {0xE69594BEC44DE15Bull, 0x4C2EBE687989A9B4ull},  // 5^-16
    {0x901D7CF73AB0ACD9ull, 0x0F9D37014BF60A11ull},  // 5^-15
    {0xB424DC35095CD80Full, 0x538484C19EF38C95ull},  // 5^-14
    {0xE12E13424BB40E13ull, 0x2865A5F206B06FBAull},  // 5^-13
    {0x8CBCCC096F5088CBull, 0xF93F87B7442E45D4ull},  // 5^-12
    {0xAFEBFF0BCB24AAFEull, 0xF78F69A51539D749ull},  // 5^-11
    {0xDBE6FECEBDEDD5BEull, 0xB573440E5A884D1Cull},  // 5^-10
    {0x89705F4136B4A597ull, 0x31680A88F8953031ull},  // 5^-9
    {0xABCC77118461CEFCull, 0xFDC20D2B36BA7C3Eull},  // 5^-8
    {0xD6BF94D5E57A42BCull, 0x3D32907604691B4Dull},  // 5^-7
    {0x8637BD05AF6C69B5ull, 0xA63F9A49C2C1B110ull},  // 5^-6
    {0xA7C5AC471B478423ull, 0x0FCF80DC33721D54ull},  // 5^-5
    {0xD1B71758E219652Bull, 0xD3C36113404EA4A9ull},  // 5^-4
    {0x83126E978D4FDF3Bull, 0x645A1CAC083126EAull},  // 5^-3
    {0xA3D70A3D70A3D70Aull, 0x3D70A3D70A3D70A4ull},  // 5^-2
    {0xCCCCCCCCCCCCCCCCull, 0xCCCCCCCCCCCCCCCDull},  // 5^-1
    {0x8000000000000000ull, 0x0000000000000000ull},  // 5^0
    {0xA000000000000000ull, 0x0000000000000000ull},  // 5^1
    {0xC800000000000000ull, 0x0000000000000000ull},  // 5^2
    {0xFA00000000000000ull, 0x0000000000000000ull},  // 5^3
    {0x9C40000000000000ull, 0x0000000000000000ull},  // 5^4
    {0xC350000000000000ull, 0x0000000000000000ull},  // 5^5
    {0xF424000000000000ull, 0x0000000000000000ull},  // 5^6
    {0x9896800000000000ull, 0x0000000000000000ull},  // 5^7
    {0xBEBC200000000000ull, 0x0000000000000000ull},  // 5^8
    {0xEE6B280000000000ull, 0x0000000000000000ull},  // 5^9
    {0x9502F90000000000ull, 0x0000000000000000ull},  // 5^10
    {0xBA43B74000000000ull, 0x0000000000000000ull},  // 5^11
    {0xE8D4A51000000000ull, 0x0000000000000000ull},  // 5^12
    {0x9184E72A00000000ull, 0x0000000000000000ull},  // 5^13
    {0xB5E620F480000000ull, 0x0000000000000000ull},  // 5^14
    {0xE35FA931A0000000ull, 0x0000000000000000ull},  // 5^15
    {0x8E1BC9BF04000000ull, 0x0000000000000000ull},  // 5^16
    {0xB1A2BC2EC5000000ull, 0x0000000000000000ull},  // 5^17
    {0xDE0B6B3A76400000ull, 0x0000000000000000ull},  // 5^18
    {0x8AC7230489E80000ull, 0x0000000000000000ull},  // 5^19
    {0xAD78EBC5AC620000ull, 0x0000000000000000ull},  // 5^20
    {0xD8D726B7177A8000ull, 0x0000000000000000ull},  // 5^21
    {0x878678326EAC9000ull, 0x0000000000000000ull},  // 5^22
    {0xA968163F0A57B400ull, 0x0000000000000000ull},  // 5^23
    {0xD3C21BCECCEDA100ull, 0x0000000000000000ull},  // 5^24
    {0x84595161401484A0ull, 0x0000000000000000ull},  // 5^25
    {0xA56FA5B99019A5C8ull, 0x0000000000000000ull},  // 5^26
    {0xCECB8F27F4200F3Aull, 0x0000000000000000ull},  // 5^27
};

// w * 10^q correctly rounded, for w != 0 and q within the table, by the
// Eisel-Lemire method. False when the result would be subnormal or
// infinite (strtod then decides).
bool MultiplyByPowerOfTen(std::uint64_t w, int q, double* result) {
    const std::uint64_t* power = kPower5[q - kMinPower5];
    int lz = tk::detail::CountLeadingZeros64(w);
    w <<= lz;
    UInt128 first = static_cast<UInt128>(w) * power[0];
    std::uint64_t high = static_cast<std::uint64_t>(first >> 64);
    std::uint64_t low = static_cast<std::uint64_t>(first);
    // 55 bits are needed (53, a rounding bit, and one for the leading bit's
    // place); when the bits below them are all ones the truncated product
    // may be short by a carry from the entry's low word.
    if ((high & 0x1FF) == 0x1FF) {
        UInt128 second = static_cast<UInt128>(w) * power[1];
        std::uint64_t secondHigh = static_cast<std::uint64_t>(second >> 64);
        low += secondHigh;
        if (secondHigh > low) ++high;
    }
    int upper = static_cast<int>(high >> 63);
    int shift = upper + 9;
    std::uint64_t mantissa = high >> shift;
    // The binary exponent: floor(q * log2(10)) + 63 as an integer formula,
    // biased by 1023.
    int exponent = (((152170 + 65536) * q) >> 16) + 63 + upper - lz + 1023;
    if (exponent <= 0) return false;  // subnormal
    // Exactly halfway between two doubles (possible only for small q):
    // round to even rather than up.
    if (low <= 1 && q >= -4 && q <= 23 && (mantissa & 3) == 1 && (mantissa << shift) == high)
        mantissa &= ~std::uint64_t(1);
    mantissa += mantissa & 1;
    mantissa >>= 1;
    if (mantissa >= (std::uint64_t(2) << 52)) {
        mantissa = std::uint64_t(1) << 52;
        ++exponent;
    }
    mantissa &= ~(std::uint64_t(1) << 52);
    if (exponent >= 0x7FF) return false;  // infinite
    std::uint64_t bits = mantissa | (static_cast<std::uint64_t>(exponent) << 52);
    std::memcpy(result, &bits, sizeof bits);
    return true;
}

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
    } else if (exponent < kMinPower5 || exponent > kMaxPower5 ||
               !MultiplyByPowerOfTen(mantissa, exponent, &result)) {
        return false;
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
    return tk::platform::ParseDoubleCLocale(narrow, nullptr);
}

namespace {

// "00" to "99" as pairs of UTF-16 units: digits are written two at a time,
// right to left, so that the divisions of one number form short
// independent chains instead of one long one.
struct DigitPairs {
    TKWCHAR units[200];
    constexpr DigitPairs() : units() {
        for (int i = 0; i < 100; ++i) {
            units[2 * i] = static_cast<TKWCHAR>('0' + i / 10);
            units[2 * i + 1] = static_cast<TKWCHAR>('0' + i % 10);
        }
    }
};
constexpr DigitPairs kDigitPairs;

inline void PutPair(unsigned v, TKWCHAR* out) {
    std::memcpy(out, &kDigitPairs.units[2 * v], 2 * sizeof(TKWCHAR));
}

constexpr std::uint64_t kPowersOf10[20] = {1ull,
                                           10ull,
                                           100ull,
                                           1000ull,
                                           10000ull,
                                           100000ull,
                                           1000000ull,
                                           10000000ull,
                                           100000000ull,
                                           1000000000ull,
                                           10000000000ull,
                                           100000000000ull,
                                           1000000000000ull,
                                           10000000000000ull,
                                           100000000000000ull,
                                           1000000000000000ull,
                                           10000000000000000ull,
                                           100000000000000000ull,
                                           1000000000000000000ull,
                                           10000000000000000000ull};

// The number of decimal digits of v (1 for 0): log10 from the bit length
// (1233 / 4096 is just above log10(2)), corrected by one comparison.
inline int DigitCount(std::uint64_t v) {
    const int t = ((64 - CountLeadingZeros64(v | 1)) * 1233) >> 12;
    const int n = t + (v >= kPowersOf10[t]);
    return n > 0 ? n : 1;
}

// Writes the decimal digits of v (at least one) and returns the count. Two
// digits a step from the end; values that fit 32 bits divide in 32 bits.
int PutUnsigned(std::uint64_t v, TKWCHAR* out) {
    const int n = DigitCount(v);
    int i = n;
    while (v > 0xFFFFFFFFu) {
        i -= 2;
        PutPair(static_cast<unsigned>(v % 100), out + i);
        v /= 100;
    }
    auto w = static_cast<std::uint32_t>(v);
    while (w >= 100) {
        i -= 2;
        PutPair(w % 100, out + i);
        w /= 100;
    }
    if (w >= 10)
        PutPair(w, out);
    else
        out[0] = static_cast<TKWCHAR>('0' + w);
    return n;
}

// Writes v < 10^8 as exactly eight digits (leading zeros kept).
inline void PutEight(std::uint32_t v, TKWCHAR* out) {
    std::uint32_t high = v / 10000, low = v % 10000;
    PutPair(high / 100, out);
    PutPair(high % 100, out + 2);
    PutPair(low / 100, out + 4);
    PutPair(low % 100, out + 6);
}

// Writes v < 10^15 as exactly fifteen digits (leading zeros kept).
inline void PutFifteen(std::uint64_t v, TKWCHAR* out) {
    auto high = static_cast<std::uint32_t>(v / 100000000);  // seven digits
    auto low = static_cast<std::uint32_t>(v % 100000000);
    out[0] = static_cast<TKWCHAR>('0' + high / 1000000);
    std::uint32_t rest = high % 1000000;
    PutPair(rest / 10000, out + 1);
    PutPair(rest / 100 % 100, out + 3);
    PutPair(rest % 100, out + 5);
    PutEight(low, out + 7);
}

constexpr std::uint64_t kScale15 = 1000000000000000ull;  // 10^15

// "%.15f" of values the integer path cannot hold, through the C library.
int FormatWithPrintf(double x, TKWCHAR* out) {
    char buffer[kMaxNumberUnits];
    int n = tk::platform::FormatCLocale(buffer, sizeof buffer, "%.15f", x);
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
    // Infinities and NaNs as the library's own "%.15f" names them (the C
    // library's "-nan" cannot tell the indefinite NaN from others).
    if (!std::isfinite(x))
        return static_cast<int>(FormatWide(out, kMaxNumberUnits, TKL("%.15f"), x));
    if (std::fabs(x) >= 18446744073709551616.0) return FormatWithPrintf(x, out);

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
            UInt128 scaled = static_cast<UInt128>(fractionBits) * kScale15;
            UInt128 q = scaled >> k;
            UInt128 r = scaled & ((static_cast<UInt128>(1) << k) - 1);
            UInt128 half = static_cast<UInt128>(1) << (k - 1);
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
        PutFifteen(fraction, out + n);
        n += 15;
        while (out[n - 1] == '0') --n;  // the fraction is not 0: a digit stays
    }
    return n;
}

}  // namespace tk::detail
