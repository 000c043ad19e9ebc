// The UTF-16 printf engine: conversion parsing, argument reading and the
// output of each conversion family into a capped buffer.
//
// Integers and text are produced here directly. Floating point digits come
// from std::to_chars (f, e, g without '#': exact and locale-free) or from the
// C library's snprintf under the "C" locale (everything else); both are
// correctly rounded, so the digits equal the Windows runtime's. Padding is
// always done here, so a huge width never reaches snprintf.
#include "string/format_engine.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "memory/heap.h"
#include "platform/c_locale_numbers.h"
#include "text/codepage.h"
#include "text/wide_crt.h"

namespace tk::detail {
namespace {

constexpr int kIntMax = std::numeric_limits<int>::max();

// Decimal digits at p, skipped; saturates at INT_MAX; 0 when there are none.
int ReadDigits(const TKWCHAR*& p) {
    int value = 0;
    while (*p >= u'0' && *p <= u'9') {
        int digit = *p - u'0';
        value = value > (kIntMax - digit) / 10 ? kIntMax : value * 10 + digit;
        ++p;
    }
    return value;
}

// The output cursor: writes what fits below the cap, counts everything.
class Sink {
  public:
    Sink(TKWCHAR* out, std::size_t capacity)
        : m_out(out), m_room(capacity ? capacity - 1 : 0), m_terminate(capacity > 0) {}

    void Put(TKWCHAR c) {
        if (m_count < m_room) m_out[m_count] = c;
        ++m_count;
    }
    void Write(const TKWCHAR* s, std::size_t n) {
        if (m_count < m_room) {
            std::size_t k = n < m_room - m_count ? n : m_room - m_count;
            std::memcpy(m_out + m_count, s, k * sizeof(TKWCHAR));
        }
        m_count += n;
    }
    // Bytes widened one to one (the ASCII output of the number formatters).
    void WriteAscii(const char* s, std::size_t n) {
        if (m_count < m_room) {
            std::size_t k = n < m_room - m_count ? n : m_room - m_count;
            TKWCHAR* d = m_out + m_count;
            for (std::size_t i = 0; i < k; ++i) d[i] = static_cast<unsigned char>(s[i]);
        }
        m_count += n;
    }
    void Fill(TKWCHAR c, std::size_t n) {
        if (m_count < m_room) {
            std::size_t k = n < m_room - m_count ? n : m_room - m_count;
            TKWCHAR* d = m_out + m_count;
            for (std::size_t i = 0; i < k; ++i) d[i] = c;
        }
        m_count += n;
    }
    void Fail() { m_failed = true; }
    // A character conversion ran: its unit may be a NUL inside the output.
    void MarkCharacter() { m_character = true; }
    bool WroteCharacter() const { return m_character; }

    std::size_t Finish() {
        if (m_terminate) m_out[m_count < m_room ? m_count : m_room] = 0;
        return m_failed ? kFormatFailed : m_count;
    }

  private:
    TKWCHAR* m_out;
    std::size_t m_room;  // units that may be written before the terminator
    bool m_terminate;
    bool m_failed = false;
    bool m_character = false;
    std::size_t m_count = 0;
};

// A stack buffer that moves to the heap for large sizes.
template <typename T, std::size_t N>
class ScratchBuffer {
  public:
    ScratchBuffer() = default;
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;
    ~ScratchBuffer() { Drop(); }

    T* Data() { return m_data; }
    std::size_t Size() const { return m_size; }
    // Room for n elements; the old content is not kept.
    T* Reserve(std::size_t n) {
        if (n <= m_size) return m_data;
        Drop();
        m_data = static_cast<T*>(HeapAlloc(n * sizeof(T)));
        m_size = n;
        return m_data;
    }

  private:
    void Drop() {
        if (m_data != m_local) HeapFree(m_data);
        m_data = m_local;
        m_size = N;
    }
    T m_local[N];
    T* m_data = m_local;
    std::size_t m_size = N;
};

// ---- padding and text ----------------------------------------------------------

// Padding before a field of `length` units. The '0' flag pads text with
// zeros as well (the Windows runtime pads every conversion that way).
void PadBefore(Sink& sink, const FormatSpec& spec, std::size_t length) {
    if (!spec.left && static_cast<std::size_t>(spec.width) > length)
        sink.Fill(spec.zero ? u'0' : u' ', spec.width - length);
}

void PadAfter(Sink& sink, const FormatSpec& spec, std::size_t length) {
    if (spec.left && static_cast<std::size_t>(spec.width) > length)
        sink.Fill(u' ', spec.width - length);
}

void EmitUnits(Sink& sink, const FormatSpec& spec, const TKWCHAR* s, std::size_t n) {
    PadBefore(sink, spec, n);
    sink.Write(s, n);
    PadAfter(sink, spec, n);
}

constexpr TKWCHAR kNullText[] = u"(null)";

void EmitWideText(Sink& sink, const FormatSpec& spec, const TKWCHAR* s,
                  MeasuredTexts* measured = nullptr) {
    if (!s) s = kNullText;
    // With a precision the text need not be terminated: never look past it.
    std::size_t n;
    if (measured && measured->Take(s, n)) {
        if (spec.precision >= 0 && n > static_cast<std::size_t>(spec.precision))
            n = static_cast<std::size_t>(spec.precision);
    } else if (spec.precision >= 0) {
        n = tk::platform::TextLengthWithin(s, static_cast<std::size_t>(spec.precision));
    } else {
        n = tk::platform::LongTextLength(s);
    }
    EmitUnits(sink, spec, s, n);
}

void EmitNarrowText(Sink& sink, const FormatSpec& spec, const char* s) {
    if (!s) {
        EmitWideText(sink, spec, nullptr);
        return;
    }
    std::size_t bytes = std::strlen(s);
    if (bytes == 0) {
        EmitUnits(sink, spec, u"", 0);
        return;
    }
    if (bytes >= static_cast<std::size_t>(kIntMax)) {
        sink.Fail();
        return;
    }
    // No ANSI code page turns one byte into more than one UTF-16 unit.
    ScratchBuffer<TKWCHAR, 256> wide;
    TKWCHAR* buffer = wide.Reserve(bytes + 1);
    int units = tk::platform::MultiByteToWideChar(tk::platform::kCodePageAnsi, 0, s,
                                                  static_cast<int>(bytes), buffer,
                                                  static_cast<int>(bytes + 1));
    std::size_t n = units > 0 ? static_cast<std::size_t>(units) : 0;
    if (spec.precision >= 0 && n > static_cast<std::size_t>(spec.precision)) n = spec.precision;
    EmitUnits(sink, spec, buffer, n);
}

void EmitNarrowChar(Sink& sink, const FormatSpec& spec, char byte) {
    TKWCHAR units[2];
    int n = tk::platform::MultiByteToWideChar(tk::platform::kCodePageAnsi, 0, &byte, 1, units, 2);
    if (n <= 0) {
        units[0] = 0xFFFD;  // a byte the code page cannot decode alone
        n = 1;
    }
    EmitUnits(sink, spec, units, static_cast<std::size_t>(n));
}

// ---- integers --------------------------------------------------------------------

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// sign is 0 or the unit to print before the digits ('-', '+' or ' ').
void EmitInteger(Sink& sink, const FormatSpec& spec, std::uint64_t value, TKWCHAR sign,
                 unsigned base, bool upper) {
    TKWCHAR digits[24];
    TKWCHAR* end = digits + 24;
    TKWCHAR* first = end;
    if (value != 0 || spec.precision != 0) {  // precision 0 prints no digits for 0
        std::uint64_t v = value;
        if (base == 10) {
            while (v >= 100) {
                const char* pair = kDigitPairs + 2 * (v % 100);
                v /= 100;
                *--first = static_cast<TKWCHAR>(pair[1]);
                *--first = static_cast<TKWCHAR>(pair[0]);
            }
            if (v >= 10) {
                const char* pair = kDigitPairs + 2 * v;
                *--first = static_cast<TKWCHAR>(pair[1]);
                *--first = static_cast<TKWCHAR>(pair[0]);
            } else {
                *--first = static_cast<TKWCHAR>(u'0' + v);
            }
        } else if (base == 16) {
            const char* hex = upper ? "0123456789ABCDEF" : "0123456789abcdef";
            do {
                *--first = static_cast<TKWCHAR>(hex[v & 15]);
                v >>= 4;
            } while (v);
        } else {
            do {
                *--first = static_cast<TKWCHAR>(u'0' + (v & 7));
                v >>= 3;
            } while (v);
        }
    }
    std::size_t digitCount = static_cast<std::size_t>(end - first);

    TKWCHAR prefix[2];
    std::size_t prefixLength = 0;
    if (sign) prefix[prefixLength++] = sign;
    if (base == 16 && spec.alt && value != 0) {
        prefix[prefixLength++] = u'0';
        prefix[prefixLength++] = upper ? u'X' : u'x';
    }

    std::size_t zeros = 0;
    if (spec.precision > 0 && static_cast<std::size_t>(spec.precision) > digitCount)
        zeros = spec.precision - digitCount;
    // '#' with octal: the first digit printed is a 0.
    if (base == 8 && spec.alt && zeros == 0 && (digitCount == 0 || *first != u'0')) zeros = 1;
    // '0' pads with zeros behind the sign or prefix, unless a precision is given.
    std::size_t length = prefixLength + zeros + digitCount;
    if (spec.zero && !spec.left && spec.precision < 0 &&
        static_cast<std::size_t>(spec.width) > length) {
        zeros += spec.width - length;
        length = spec.width;
    }

    if (!spec.left && static_cast<std::size_t>(spec.width) > length)
        sink.Fill(u' ', spec.width - length);
    sink.Write(prefix, prefixLength);
    sink.Fill(u'0', zeros);
    sink.Write(first, digitCount);
    PadAfter(sink, spec, length);
}

TKWCHAR SignFor(const FormatSpec& spec, bool negative) {
    if (negative) return u'-';
    if (spec.plus) return u'+';
    if (spec.space) return u' ';
    return 0;
}

void EmitSigned(Sink& sink, const FormatSpec& spec, std::int64_t value) {
    bool negative = value < 0;
    // Negate in unsigned arithmetic: INT64_MIN has no positive counterpart.
    std::uint64_t magnitude =
        negative ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
    EmitInteger(sink, spec, magnitude, SignFor(spec, negative), 10, false);
}

// ---- floating point ------------------------------------------------------------------

bool IsUpperCase(TKWCHAR letter) {
    return letter == u'E' || letter == u'G' || letter == u'A';
}

// The Windows runtime's names: inf, nan, -nan(ind) for the default NaN of an
// invalid operation, nan(snan) for a signalling NaN. Padded with spaces.
void EmitNonFinite(Sink& sink, const FormatSpec& spec, double value) {
    bool negative = std::signbit(value);
    const char* name = "inf";
    if (std::isnan(value)) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        constexpr std::uint64_t kQuietBit = std::uint64_t{1} << 51;
        std::uint64_t payload = bits & (kQuietBit - 1);
        if (!(bits & kQuietBit))
            name = "nan(snan)";
        else if (negative && payload == 0)
            name = "nan(ind)";
        else
            name = "nan";
    }
    char text[16];
    std::size_t n = 0;
    if (TKWCHAR sign = SignFor(spec, negative)) text[n++] = static_cast<char>(sign);
    bool upper = IsUpperCase(spec.letter);
    for (const char* c = name; *c; ++c)
        text[n++] = upper && *c >= 'a' && *c <= 'z' ? static_cast<char>(*c - 'a' + 'A') : *c;
    if (!spec.left && static_cast<std::size_t>(spec.width) > n) sink.Fill(u' ', spec.width - n);
    sink.WriteAscii(text, n);
    PadAfter(sink, spec, n);
}

// Zeros that belong inside a number's text at position at: the digits past
// what a double can hold, which are known without asking anyone.
struct TrailingZeros {
    std::size_t at = 0;
    std::size_t count = 0;
};

// The largest precision whose digits can be anything but 0: a double's exact
// value has at most 1074 decimals (2^-1074) and 767 significant digits, and
// 13 hexadecimal digits behind the point. Beyond it the C library is asked
// for this precision and the zeros are added here, so a huge precision costs
// nothing and never meets the C library's own limits.
int ExactPrecision(TKWCHAR letter) {
    switch (letter) {
        case u'f':
            return 1080;
        case u'a':
        case u'A':
            return 16;
        default:  // e E g G
            return 780;
    }
}

// The digits of value without any padding, sign flags applied, into text,
// and the zeros that go inside them. Returns the length of text, or -1 when
// the C library cannot produce it.
template <std::size_t N>
long FloatDigits(ScratchBuffer<char, N>& text, TrailingZeros& zeros, const FormatSpec& spec,
                 double value) {
    TKWCHAR letter = spec.letter;
    int precision = spec.precision;
    const int exact = ExactPrecision(letter);
    std::size_t extra = 0;
    if (precision > exact) {
        // %g drops trailing zeros unless '#' keeps them.
        if (spec.alt || (letter != u'g' && letter != u'G')) extra = precision - exact;
        precision = exact;
    }
    // Fast exact path: the common conversions at ordinary precisions.
    constexpr int kFastPrecision = 100;
    if (!spec.alt && precision <= kFastPrecision && letter != u'a' && letter != u'A') {
        char* out = text.Data();
        char* limit = out + text.Size();
        if (!std::signbit(value) && (spec.plus || spec.space)) *out++ = spec.plus ? '+' : ' ';
        std::chars_format format = letter == u'f' ? std::chars_format::fixed
                                   : (letter == u'e' || letter == u'E')
                                       ? std::chars_format::scientific
                                       : std::chars_format::general;
        auto result = std::to_chars(out, limit, value, format, precision < 0 ? 6 : precision);
        if (result.ec == std::errc()) {
            if (IsUpperCase(letter))
                for (char* c = out; c != result.ptr; ++c)
                    if (*c == 'e') *c = 'E';
            return static_cast<long>(result.ptr - text.Data());
        }
    }
    // Everything else through the C library, flags and precision passed on.
    char pattern[16];
    std::size_t k = 0;
    pattern[k++] = '%';
    if (spec.plus) pattern[k++] = '+';
    if (spec.space) pattern[k++] = ' ';
    if (spec.alt) pattern[k++] = '#';
    pattern[k++] = '.';
    pattern[k++] = '*';
    pattern[k++] = static_cast<char>(letter);
    pattern[k] = 0;
    // Without a precision the Windows runtime prints all 13 hex digits of %a.
    if (precision < 0 && (letter == u'a' || letter == u'A')) precision = 13;
    // In the "C" locale, so the decimal point is '.'.
    int n = tk::platform::FormatCLocale(text.Data(), text.Size(), pattern, precision, value);
    if (n >= 0 && static_cast<std::size_t>(n) >= text.Size()) {
        text.Reserve(static_cast<std::size_t>(n) + 1);
        n = tk::platform::FormatCLocale(text.Data(), text.Size(), pattern, precision, value);
    }
    if (n >= 0 && extra > 0) {
        // Behind the last digit: before the exponent, if there is one.
        const char* s = text.Data();
        zeros.at = static_cast<std::size_t>(n);
        for (long i = 0; i < n; ++i)
            if (s[i] == 'e' || s[i] == 'E' || s[i] == 'p' || s[i] == 'P')
                zeros.at = static_cast<std::size_t>(i);
        zeros.count = extra;
    }
    return n;
}

// Writes text[from, n) with the zeros inserted where they belong.
void WriteDigits(Sink& sink, const char* text, std::size_t from, std::size_t n,
                 const TrailingZeros& zeros) {
    if (zeros.count == 0 || zeros.at < from) {
        sink.WriteAscii(text + from, n - from);
        return;
    }
    sink.WriteAscii(text + from, zeros.at - from);
    sink.Fill(u'0', zeros.count);
    sink.WriteAscii(text + zeros.at, n - zeros.at);
}

void EmitFloat(Sink& sink, const FormatSpec& spec, double value) {
    if (!std::isfinite(value)) {
        EmitNonFinite(sink, spec, value);
        return;
    }
    ScratchBuffer<char, 512> text;
    TrailingZeros zeros;
    long n = FloatDigits(text, zeros, spec, value);
    if (n < 0) {
        sink.Fail();
        return;
    }
    const char* s = text.Data();
    std::size_t digits = static_cast<std::size_t>(n);
    std::size_t length = digits + zeros.count;
    std::size_t width = static_cast<std::size_t>(spec.width);
    if (spec.left || width <= length) {
        WriteDigits(sink, s, 0, digits, zeros);
        PadAfter(sink, spec, length);
    } else if (spec.zero) {
        // Zeros go behind the sign and the 0x of %a.
        std::size_t lead = (*s == '-' || *s == '+' || *s == ' ') ? 1 : 0;
        if (digits >= lead + 2 && s[lead] == '0' && (s[lead + 1] == 'x' || s[lead + 1] == 'X'))
            lead += 2;
        sink.WriteAscii(s, lead);
        sink.Fill(u'0', width - length);
        WriteDigits(sink, s, lead, digits, zeros);
    } else {
        sink.Fill(u' ', width - length);
        WriteDigits(sink, s, 0, digits, zeros);
    }
}

// ---- one conversion ---------------------------------------------------------------------

void EmitConversion(Sink& sink, const FormatSpec& spec, const FormatArg& arg,
                    MeasuredTexts* measured) {
    switch (spec.letter) {
        case u'd':
        case u'i':
            EmitSigned(sink, spec, arg.i);
            break;
        case u'u':
            EmitInteger(sink, spec, arg.u, 0, 10, false);
            break;
        case u'o':
            EmitInteger(sink, spec, arg.u, 0, 8, false);
            break;
        case u'x':
        case u'X':
            EmitInteger(sink, spec, arg.u, 0, 16, spec.letter == u'X');
            break;
        case u'p': {
            // As %X with all the digits of a pointer.
            FormatSpec pointer = spec;
            pointer.precision = 2 * sizeof(void*);
            EmitInteger(sink, pointer, reinterpret_cast<std::uintptr_t>(arg.p), 0, 16, true);
            break;
        }
        case u'e':
        case u'E':
        case u'f':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            EmitFloat(sink, spec, arg.d);
            break;
        case u'c':
        case u'C':
            sink.MarkCharacter();
            if (arg.kind == FormatArgKind::kNarrowChar) {
                EmitNarrowChar(sink, spec, static_cast<char>(arg.i));
            } else {
                TKWCHAR unit = static_cast<TKWCHAR>(arg.i);
                EmitUnits(sink, spec, &unit, 1);
            }
            break;
        case u's':
        case u'S':
            if (arg.kind == FormatArgKind::kNarrowText)
                EmitNarrowText(sink, spec, static_cast<const char*>(arg.p));
            else
                EmitWideText(sink, spec, static_cast<const TKWCHAR*>(arg.p), measured);
            break;
        case u'%':
            sink.Put(u'%');
            break;
        default:  // %n stores nothing; unknown letters print nothing
            break;
    }
}

}  // namespace

// ---- parsing ------------------------------------------------------------------------------

const TKWCHAR* ParseConversion(const TKWCHAR* p, FormatArgs& args, FormatSpec& spec) {
    // Field by field: a whole-struct copy of a fresh FormatSpec costs a
    // store-forwarding stall on every conversion.
    spec.left = spec.plus = spec.space = spec.alt = spec.zero = false;
    spec.altCount = 0;
    spec.givenWidth = spec.givenPrecision = 0;
    spec.precision = -1;
    spec.size = FormatSize::kNone;
    // Flags; a '*' among them takes the width from the arguments.
    for (;; ++p) {
        switch (*p) {
            case u'#':
                spec.alt = true;
                ++spec.altCount;
                continue;
            case u'-':
                spec.left = true;
                continue;
            case u'+':
                spec.plus = true;
                continue;
            case u' ':
                spec.space = true;
                continue;
            case u'0':
                spec.zero = true;
                continue;
            case u'*':
                spec.givenWidth = va_arg(args.ap, int);
                continue;
            default:
                break;
        }
        break;
    }
    // Digits are the width unless a '*' already gave a nonzero one.
    if (spec.givenWidth == 0) spec.givenWidth = ReadDigits(p);
    if (spec.givenWidth < 0) {
        spec.left = true;
        spec.width =
            spec.givenWidth == std::numeric_limits<int>::min() ? kIntMax : -spec.givenWidth;
    } else {
        spec.width = spec.givenWidth;
    }
    if (*p == u'.') {
        ++p;
        if (*p == u'*') {
            ++p;
            spec.givenPrecision = va_arg(args.ap, int);
            spec.precision = spec.givenPrecision < 0 ? -1 : spec.givenPrecision;
        } else {
            spec.givenPrecision = ReadDigits(p);
            spec.precision = spec.givenPrecision;
        }
    }
    spec.sizeBegin = p;
    switch (*p) {
        case u'I':
            if (p[1] == u'6' && p[2] == u'4') {
                spec.size = FormatSize::kInt64;
                p += 3;
            } else if (p[1] == u'3' && p[2] == u'2') {
                spec.size = FormatSize::kInt32;
                p += 3;
            } else {
                spec.size = FormatSize::kPointer;
                ++p;
            }
            break;
        case u'h':
            spec.size = p[1] == u'h' ? FormatSize::kChar : FormatSize::kShort;
            p += p[1] == u'h' ? 2 : 1;
            break;
        case u'l':
            spec.size = p[1] == u'l' ? FormatSize::kInt64 : FormatSize::kLong;
            p += p[1] == u'l' ? 2 : 1;
            break;
        case u'z':
        case u'j':
        case u't':
            spec.size = FormatSize::kPointer;
            ++p;
            break;
        case u'w':
            spec.size = FormatSize::kWide;
            ++p;
            break;
        case u'L':
            spec.size = FormatSize::kLongDouble;
            ++p;
            break;
        case u'F':
        case u'N':
            spec.size = FormatSize::kIgnored;
            ++p;
            break;
        default:
            break;
    }
    spec.letterAt = p;
    spec.letter = *p;
    return *p ? p + 1 : p;
}

FormatArgKind ArgumentKind(const FormatSpec& spec) {
    bool narrowMark = spec.size == FormatSize::kShort;
    bool wideMark = spec.size == FormatSize::kLong || spec.size == FormatSize::kWide;
    switch (spec.letter) {
        case u'd':
        case u'i':
            return FormatArgKind::kSigned;
        case u'o':
        case u'u':
        case u'x':
        case u'X':
            return FormatArgKind::kUnsigned;
        case u'e':
        case u'E':
        case u'f':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            return FormatArgKind::kDouble;
        case u'p':
        case u'n':
            return FormatArgKind::kPointer;
        case u'c':
            return narrowMark ? FormatArgKind::kNarrowChar : FormatArgKind::kWideChar;
        case u'C':
            return wideMark ? FormatArgKind::kWideChar : FormatArgKind::kNarrowChar;
        case u's':
            return narrowMark ? FormatArgKind::kNarrowText : FormatArgKind::kWideText;
        case u'S':
            return wideMark ? FormatArgKind::kWideText : FormatArgKind::kNarrowText;
        default:
            return FormatArgKind::kNone;
    }
}

FormatArg ReadArgument(const FormatSpec& spec, FormatArgs& args) {
    static_assert(sizeof(long long) == 8, "64-bit integers are long long");
    constexpr bool kPointer64 = sizeof(void*) == 8;
    FormatArg arg;
    arg.kind = ArgumentKind(spec);
    switch (arg.kind) {
        case FormatArgKind::kSigned:
            switch (spec.size) {
                case FormatSize::kChar:
                    arg.i = static_cast<signed char>(va_arg(args.ap, int));
                    break;
                case FormatSize::kShort:
                    arg.i = static_cast<short>(va_arg(args.ap, int));
                    break;
                case FormatSize::kInt64:
                    arg.i = va_arg(args.ap, long long);
                    break;
                case FormatSize::kPointer:
                    arg.i = kPointer64 ? va_arg(args.ap, long long) : va_arg(args.ap, int);
                    break;
                default:  // l is 32 bits, as the Windows long
                    arg.i = va_arg(args.ap, int);
                    break;
            }
            break;
        case FormatArgKind::kUnsigned:
            switch (spec.size) {
                case FormatSize::kChar:
                    arg.u = static_cast<unsigned char>(va_arg(args.ap, unsigned int));
                    break;
                case FormatSize::kShort:
                    arg.u = static_cast<unsigned short>(va_arg(args.ap, unsigned int));
                    break;
                case FormatSize::kInt64:
                    arg.u = va_arg(args.ap, unsigned long long);
                    break;
                case FormatSize::kPointer:
                    arg.u = kPointer64 ? va_arg(args.ap, unsigned long long)
                                       : va_arg(args.ap, unsigned int);
                    break;
                default:
                    arg.u = va_arg(args.ap, unsigned int);
                    break;
            }
            break;
        case FormatArgKind::kDouble:
            // Windows' long double is double: print the double it rounds to.
            arg.d = spec.size == FormatSize::kLongDouble
                        ? static_cast<double>(va_arg(args.ap, long double))
                        : va_arg(args.ap, double);
            break;
        case FormatArgKind::kPointer:
        case FormatArgKind::kWideText:
        case FormatArgKind::kNarrowText:
            arg.p = va_arg(args.ap, const void*);
            break;
        case FormatArgKind::kWideChar:
        case FormatArgKind::kNarrowChar:
            arg.i = va_arg(args.ap, int);
            break;
        case FormatArgKind::kNone:
            break;
    }
    return arg;
}

// ---- the walk ------------------------------------------------------------------------------

std::size_t FormatWideArgs(TKWCHAR* out, std::size_t capacity, const TKWCHAR* format,
                           FormatArgs& args, bool* mayHoldNul) {
    Sink sink(out, capacity);
    const TKWCHAR* p = format;
    for (;;) {
        const TKWCHAR* run = p;
        while (*p && *p != u'%') ++p;
        sink.Write(run, static_cast<std::size_t>(p - run));
        if (!*p || !p[1]) break;  // a lone '%' at the end prints nothing
        ++p;
        if (*p == u'%') {
            sink.Put(u'%');
            ++p;
            continue;
        }
        FormatSpec spec;
        p = ParseConversion(p, args, spec);
        EmitConversion(sink, spec, ReadArgument(spec, args), args.measured);
    }
    if (mayHoldNul) *mayHoldNul = sink.WroteCharacter();
    return sink.Finish();
}

std::size_t FormatWideV(TKWCHAR* out, std::size_t capacity, const TKWCHAR* format, va_list args) {
    FormatArgs copy;
    va_copy(copy.ap, args);
    std::size_t n = FormatWideArgs(out, capacity, format, copy);
    va_end(copy.ap);
    return n;
}

std::size_t FormatWide(TKWCHAR* out, std::size_t capacity, const TKWCHAR* format, ...) {
    FormatArgs args;
    va_start(args.ap, format);
    std::size_t n = FormatWideArgs(out, capacity, format, args);
    va_end(args.ap);
    return n;
}

}  // namespace tk::detail
