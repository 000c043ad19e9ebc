// The library's UTF-16 printf engine.
//
// The C library's wide printf works on 32-bit wchar_t on Linux, so TKWCHAR
// text is formatted here instead, with the conventions of the Windows
// runtime's legacy wide mode that the library's callers were written for:
//
//   %s %c    TKWCHAR text / character      %S %C    narrow (ANSI code page)
//   h        narrow text, short integer    l w      wide text; l: 32-bit integer
//   hh       char integer                  ll I64   64-bit integer
//   I32      32-bit integer                I z j t  64-bit (pointer-sized) integer
//   L        long double (printed as the double it rounds to)
//   F N      accepted and ignored
//   flags - + space # 0, '*' width and precision (also mixed with the flags)
//   d i o u x X e E f g G a A p n %
//
// Details that follow the Windows runtime rather than glibc:
//   - %p is 16 upper-case hex digits ("%#p" adds "0X");
//   - a null %s/%S prints "(null)", cut by the precision like any text;
//   - %a/%A without a precision print all 13 hex digits of the fraction;
//   - infinities print "inf", NaNs "nan", the default NaN of an invalid
//     operation (sign set, quiet, no payload) "-nan(ind)", a signalling NaN
//     "nan(snan)"; upper case for E, G, A. They pad with spaces even with '0';
//   - the '0' flag pads text (%s, %c) with zeros too;
//   - %n takes its pointer and stores nothing;
//   - an unknown conversion letter prints nothing and takes no argument.
// Floating point digits are correctly rounded and always use '.', whatever
// LC_NUMERIC says. Exponents have at least two digits.
//
// Precision counts UTF-16 units of output for text, narrow text included
// (whose bytes are converted first).
//
//     TKWCHAR buf[32];
//     std::size_t n = tk::detail::FormatWide(buf, 32, TKL("%d/%s"), 7, TKL("x"));
//     // buf = u"7/x", n = 3; with a smaller buffer the text is cut and
//     // terminated, and n still says how many units the whole output needs.
#ifndef TAVIKFCU_STRING_FORMAT_ENGINE_H
#define TAVIKFCU_STRING_FORMAT_ENGINE_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "tavikfcu/TKTypes.h"

namespace tk::detail {

// Lengths of wide text arguments that one walk over the arguments (the
// estimate) measured, for the next walk over the same arguments (the
// output), so a long text is read once less. A text is found by its address
// in walk order; one not found is measured again.
struct MeasuredTexts {
    static constexpr int kCapacity = 8;
    const TKWCHAR* text[kCapacity];
    std::size_t units[kCapacity];
    int count = 0;
    int next = 0;

    void Record(const TKWCHAR* s, std::size_t n) {
        if (count == kCapacity) return;
        text[count] = s;
        units[count++] = n;
    }
    bool Take(const TKWCHAR* s, std::size_t& n) {
        if (next == count || text[next] != s) return false;
        n = units[next++];
        return true;
    }
};

// A va_list in a struct, so one argument cursor can be shared by reference
// between the walkers (a va_list parameter cannot portably be passed on).
struct FormatArgs {
    va_list ap;
    MeasuredTexts* measured = nullptr;
};

// The size prefix of a conversion.
enum class FormatSize : std::uint8_t {
    kNone,
    kChar,        // hh
    kShort,       // h: also narrow text
    kLong,        // l: a 32-bit integer (Windows long); also wide text
    kWide,        // w: wide text
    kInt32,       // I32
    kInt64,       // ll, I64
    kPointer,     // I, z, j, t
    kLongDouble,  // L
    kIgnored,     // F, N
};

// One conversion as written: '%' flags/'*' width .precision size letter.
struct FormatSpec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool zero = false;
    int altCount = 0;        // how many '#' were written
    int width = 0;           // never negative: a negative '*' width sets left
    int precision = -1;      // -1: none (also for a negative '*' precision)
    int givenWidth = 0;      // width as written or passed, sign kept; 0 if none
    int givenPrecision = 0;  // likewise for the precision
    FormatSize size = FormatSize::kNone;
    const TKWCHAR* sizeBegin = nullptr;  // where the size prefix starts
    const TKWCHAR* letterAt = nullptr;   // the conversion letter (or the NUL)
    TKWCHAR letter = 0;                  // 0: the format ended inside
};

// What a conversion takes from the argument list.
enum class FormatArgKind : std::uint8_t {
    kNone,
    kSigned,
    kUnsigned,
    kDouble,
    kPointer,     // %p and %n
    kWideText,    // const TKWCHAR*
    kNarrowText,  // const char*
    kWideChar,
    kNarrowChar,
};

struct FormatArg {
    FormatArgKind kind = FormatArgKind::kNone;
    union {
        std::int64_t i;
        std::uint64_t u;
        double d;
        const void* p;
    };
    FormatArg() : u(0) {}
};

// Parses the conversion that starts at `p` (just behind its '%'), taking
// '*' values from args. Returns the position behind the conversion letter,
// or the terminator's position when the format ends inside the conversion.
[[nodiscard]] const TKWCHAR* ParseConversion(const TKWCHAR* p, FormatArgs& args, FormatSpec& spec);

// The kind of argument the parsed conversion takes.
[[nodiscard]] FormatArgKind ArgumentKind(const FormatSpec& spec);

// Takes the conversion's argument from args (nothing for kinds kNone),
// narrowed or widened to the conversion's size.
[[nodiscard]] FormatArg ReadArgument(const FormatSpec& spec, FormatArgs& args);

// Result of the formatting functions when a piece of the output could not be
// produced at all (a precision so large the digits exceed what fits in int).
inline constexpr std::size_t kFormatFailed = static_cast<std::size_t>(-1);

// Formats into out, writing at most capacity units including a terminator
// (nothing at all when capacity is 0; out may then be null). Returns the
// units the complete output needs, terminator excluded, or kFormatFailed.
// Output longer than capacity - 1 is cut and still terminated. When
// mayHoldNul is given, it says whether a character conversion (%c, %C) ran:
// only those can put a NUL inside the output.
[[nodiscard]] std::size_t FormatWideArgs(TKWCHAR* out, std::size_t capacity, const TKWCHAR* format,
                                         FormatArgs& args, bool* mayHoldNul = nullptr);
[[nodiscard]] std::size_t FormatWideV(TKWCHAR* out, std::size_t capacity, const TKWCHAR* format,
                                      va_list args);
[[nodiscard]] std::size_t FormatWide(TKWCHAR* out, std::size_t capacity, const TKWCHAR* format,
                                     ...);

}  // namespace tk::detail

#endif  // TAVIKFCU_STRING_FORMAT_ENGINE_H
