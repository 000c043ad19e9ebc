// TKTimeUtils: the clock, local date-time text and its parsing. Times are the
// low 32 bits of the 64-bit clock; widening fills the upper bits with zero,
// so every value is an instant from 1970 to 2106.
#include <cstdio>
#include <ctime>

#include "platform/local_time.h"
#include "text/wide_crt.h"
#include "tavikfcu/TKFile.h"

namespace {

constexpr unsigned int kFailure = 0xFFFFFFFFu;

// Index of the first c in text[start, length), or -1 (also when start is at
// or past the end).
int FindFrom(const TKWCHAR* text, int length, TKWCHAR c, int start) {
    for (int i = start; i < length; ++i)
        if (text[i] == c) return i;
    return -1;
}

// Reads text[first, last) as one number of a date: white space around it is
// trimmed as CTKString::Trim does; then an optional '-' and at least one
// digit 0-9, nothing else; the value must lie in [low, high].
[[nodiscard]] bool ReadNumber(const TKWCHAR* text, int first, int last, int low, int high,
                              int& value) {
    while (first < last && tk::platform::iswspace(text[first])) ++first;
    while (last > first && tk::platform::iswspace(text[last - 1])) --last;
    bool negative = first < last && text[first] == u'-';
    if (negative) ++first;
    if (first == last) return false;  // empty, or a lone '-'
    long long magnitude = 0;
    for (int i = first; i < last; ++i) {
        TKWCHAR c = text[i];
        if (c < u'0' || c > u'9') return false;
        // Saturate like the C conversion: anything this large is out of range.
        if (magnitude < 1000000000LL) magnitude = magnitude * 10 + (c - u'0');
    }
    long long v = negative ? -magnitude : magnitude;
    if (v < low || v > high) return false;
    value = static_cast<int>(v);
    return true;
}

}  // namespace

namespace TKTimeUtils {

unsigned int GetCurTime() {
    return static_cast<unsigned int>(static_cast<std::uint64_t>(tk::platform::CurrentTime()));
}

CTKString FormatTime(unsigned int t) {
    std::tm local{};
    if (!tk::platform::ToLocalTime(static_cast<std::int64_t>(t), local)) return CTKString();
    char ascii[64];
    int n =
        std::snprintf(ascii, sizeof ascii, "%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    if (n <= 0 || n >= static_cast<int>(sizeof ascii)) return CTKString();
    TKWCHAR wide[64];
    for (int i = 0; i < n; ++i) wide[i] = static_cast<TKWCHAR>(ascii[i]);
    return CTKString(wide, n);
}

CTKString GetCurFormatTime() {
    return FormatTime(GetCurTime());
}

unsigned int GetTimeFromStr(const TKWCHAR* text) {
    const int length = tk::platform::lstrlenW(text);  // null reads as empty text
    const int dash1 = FindFrom(text, length, u'-', 0);
    if (dash1 < 0) return kFailure;
    const int dash2 = FindFrom(text, length, u'-', dash1 + 1);
    if (dash2 < 0) return kFailure;
    const int space = FindFrom(text, length, u' ', dash2 + 1);
    const int dateEnd = space >= 0 ? space : length;

    std::tm local{};
    local.tm_isdst = -1;  // the zone decides whether daylight saving applies
    int year = 0, month = 0, day = 0;
    if (!ReadNumber(text, 0, dash1, 1990, 2500, year) ||
        !ReadNumber(text, dash1 + 1, dash2, 1, 12, month) ||
        !ReadNumber(text, dash2 + 1, dateEnd, 1, 31, day))
        return kFailure;
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;

    // A time of day needs two colons after the date; otherwise it is
    // midnight and the rest of the text is ignored.
    const int colon1 = space >= 0 ? FindFrom(text, length, u':', space + 1) : -1;
    const int colon2 = colon1 >= 0 ? FindFrom(text, length, u':', colon1 + 1) : -1;
    if (colon2 >= 0) {
        if (!ReadNumber(text, dateEnd + 1, colon1, 0, 23, local.tm_hour) ||
            !ReadNumber(text, colon1 + 1, colon2, 0, 59, local.tm_min) ||
            !ReadNumber(text, colon2 + 1, length, 0, 59, local.tm_sec))
            return kFailure;
    }

    std::int64_t t = 0;
    if (!tk::platform::FromLocalTime(local, t)) return kFailure;
    return static_cast<unsigned int>(static_cast<std::uint64_t>(t));  // years past 2106 wrap
}

}  // namespace TKTimeUtils
