// Number <-> text in the "C" locale, whatever locale the process has set:
// the decimal point is always '.', there is no grouping. Machine-readable
// texts (WKT, the printf engine's floating-point conversions, _wtof) go
// through these so that a caller's setlocale cannot change them. This is
// the library's one home for the "C" locale object.
#ifndef TAVIKFCU_PLATFORM_C_LOCALE_NUMBERS_H
#define TAVIKFCU_PLATFORM_C_LOCALE_NUMBERS_H

#include <cstddef>

#include "platform/features.h"

namespace tk::platform {

// snprintf in the "C" locale: writes at most size bytes (terminator
// included) and returns the length the full text would have, or a negative
// value on an encoding error.
int FormatCLocale(char* buffer, std::size_t size, const char* format, ...) TK_PRINTF_FORMAT(3, 4);

// strtod in the "C" locale: the longest prefix of text that forms a number;
// *end (when end is not null) receives the first unused character. A text
// with no number gives 0 with *end == text.
double ParseDoubleCLocale(const char* text, char** end);

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_C_LOCALE_NUMBERS_H
