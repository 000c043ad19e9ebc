// Number text for JSON: reading a number token the way the C runtime's
// wide-to-double conversion does, correctly rounded, and writing a double in
// fixed notation with 15 decimals and the trailing zeros removed.
#ifndef TAVIKFCU_JSON_JSON_NUMBER_H
#define TAVIKFCU_JSON_JSON_NUMBER_H

#include "tavikfcu/TKTypes.h"

namespace tk::detail {

// The value of the longest prefix of text that forms a number by the rules
// of strtod in the "C" locale (optional sign, decimal digits with an optional
// point and exponent, hexadecimal, inf, infinity, nan); 0 when there is none.
// *stop receives the end of the decimal number the fast path read (only
// meaningful as a hint: the caller still finds the token's delimiter).
// tokenEnd bounds what the slow path may look at; text[tokenEnd] may be
// anything.
double ParseNumberPrefix(const TKWCHAR* text, const TKWCHAR* tokenEnd);

// Reads a decimal number (sign, digits, point, exponent) starting at text
// and stops at the first unit that cannot continue it. Returns false when
// the fast path cannot give the correctly rounded value by itself (no digits,
// hexadecimal, special words, more than 19 significant digits, far
// exponents, near-halfway cases); then the caller uses ParseNumberPrefix.
[[nodiscard]] bool ParseDecimalFast(const TKWCHAR* text, const TKWCHAR** stop, double* value);

// Room FormatFixed15 may need: sign, 309 integer digits of DBL_MAX, point,
// 15 decimals, with margin.
inline constexpr int kMaxNumberUnits = 352;

// Writes x as "%.15f" would (fixed notation, 15 decimals, exact binary value
// correctly rounded), then drops trailing zeros and a trailing point: 2 -> 2,
// 0.5 -> 0.5, 1e20 -> 100000000000000000000, -1e-20 -> -0. Non-finite values
// come out as CTKString::Format's "%.15f" writes them: "inf", "-inf", "nan",
// "-nan(ind)" for the indefinite NaN, "nan(snan)" for a signalling one.
// Returns the units written.
int FormatFixed15(double x, TKWCHAR* out);

}  // namespace tk::detail

#endif  // TAVIKFCU_JSON_JSON_NUMBER_H
