// CTKString::Format / FormatV: size the body once from an estimate of the
// output length, then format straight into it.
//
// The estimate is a fixed set of rules per conversion (below); its results
// are visible through GetAllocLength, so they are kept exactly, overshoot
// and shortfall included. When the output turns out longer than the estimate
// (a %f wider than 312 + precision, a %.200e, sizes the rules do not know
// such as %lld), the text is formatted again into a body that fits: the
// engine never writes past the capacity it is given.
#include <limits>
#include <new>

#include "memory/heap.h"
#include "text/wide_crt.h"
#include "string/format_engine.h"
#include "tavikfcu/TKString.h"

using tk::detail::FormatArg;
using tk::detail::FormatArgKind;
using tk::detail::FormatArgs;
using tk::detail::FormatSpec;

namespace {

// Item length of a text or character conversion: a nonzero precision caps
// it, a larger width raises it.
std::int64_t FitText(std::int64_t length, const FormatSpec& spec) {
    if (spec.givenPrecision != 0 && spec.givenPrecision < length) length = spec.givenPrecision;
    if (spec.givenWidth > length) length = spec.givenWidth;
    return length;
}

std::int64_t AtLeast(std::int64_t floor, std::int64_t value) {
    return value > floor ? value : floor;
}

// The estimate rules see one size letter ("I64", h, l, F, L or N) and take
// the next unit as the conversion letter. Where the engine read a longer
// prefix (hh, ll, I32, z...), the rules take its first letter as an unknown
// conversion and count the rest of the conversion as plain text.
const TKWCHAR* EstimateLetterAt(const FormatSpec& spec) {
    const TKWCHAR* p = spec.sizeBegin;
    if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') return p + 3;
    switch (*p) {
        case u'h':
        case u'l':
        case u'F':
        case u'L':
        case u'N':
            return p + 1;
        default:
            return p;
    }
}

// The estimate's item length for one parsed conversion whose argument (read
// the engine's way, so the walk stays on the real arguments) is arg.
std::int64_t EstimateItem(const FormatSpec& spec, const FormatArg& arg,
                          tk::detail::MeasuredTexts* measured) {
    std::int64_t item = 2 * static_cast<std::int64_t>(spec.altCount);
    const TKWCHAR* letterAt = EstimateLetterAt(spec);
    if (letterAt != spec.letterAt) {
        // The units behind the letter the rules stopped at count one each.
        return item + (spec.letterAt - letterAt - 1) + (spec.letter ? 1 : 0);
    }
    std::int64_t sum = static_cast<std::int64_t>(spec.givenWidth) + spec.givenPrecision;
    switch (spec.letter) {
        case u'c':
        case u'C':
            return item + FitText(2, spec);
        case u's':
        case u'S': {
            std::int64_t length = 6;  // the null rendering
            if (arg.p && arg.kind == FormatArgKind::kNarrowText) {
                length = tk::platform::lstrlenA(static_cast<const char*>(arg.p));
                if (length < 1) length = 1;
            } else if (arg.p) {
                const auto* text = static_cast<const TKWCHAR*>(arg.p);
                const std::size_t units = tk::platform::LongTextLength(text);
                if (measured) measured->Record(text, units);
                length = units > 0 ? static_cast<std::int64_t>(units) : 1;
            }
            return item + FitText(length, spec);
        }
        case u'd':
        case u'i':
        case u'o':
        case u'u':
        case u'x':
        case u'X':
        case u'p':
            return item + AtLeast(32, sum);
        case u'e':
        case u'E':
        case u'g':
        case u'G':
            return item + AtLeast(128, sum);
        case u'f':
            return item + AtLeast(128, 312 + static_cast<std::int64_t>(spec.givenPrecision));
        default:  // n, and letters the rules do not know
            return item;
    }
}

// Upper bound (by the rules above) of the units FormatV writes.
std::int64_t EstimateFormattedLength(const TKWCHAR* format, FormatArgs& args) {
    std::int64_t n = 0;
    const TKWCHAR* p = format;
    for (;;) {
        const TKWCHAR* run = p;
        while (*p && *p != u'%') ++p;
        n += p - run;
        if (!*p || !p[1]) break;
        ++p;
        if (*p == u'%') {
            ++n;
            ++p;
            continue;
        }
        FormatSpec spec;
        p = tk::detail::ParseConversion(p, args, spec);
        n += EstimateItem(spec, tk::detail::ReadArgument(spec, args), args.measured);
    }
    return n;
}

// The longest text a body can hold.
constexpr std::int64_t kMaxLength = std::numeric_limits<int>::max() - 1;

}  // namespace

void CTKString::Format(const TKWCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CTKString::FormatV(const TKWCHAR* format, va_list args) {
    if (!format) return;

    tk::detail::MeasuredTexts measured;
    FormatArgs estimateArgs;
    estimateArgs.measured = &measured;
    va_copy(estimateArgs.ap, args);
    std::int64_t estimate = EstimateFormattedLength(format, estimateArgs);
    va_end(estimateArgs.ap);
    if (estimate < 0) estimate = 0;

    // The body the string starts with stays alive until the text is
    // written, so arguments that point into it are still readable; interim
    // bodies that proved too small are let go at once. An estimate no body
    // can hold sizes nothing: the real length will.
    const std::int64_t current = GetLength();
    const std::int64_t size = estimate <= kMaxLength && estimate > current ? estimate : current;
    FormerBody previous = PrepareToWrite(static_cast<int>(size), Keep::kNothing);
    auto replaceBody = [&](int units) {
        FormerBody interim = PrepareToWrite(units, Keep::kNothing);
        if (!previous) previous = std::move(interim);
    };

    bool mayHoldNul = false;
    std::size_t written = 0;
    try {
        for (;;) {
            std::size_t capacity = IsFixed() ? 0 : static_cast<std::size_t>(GetAllocLength()) + 1;
            FormatArgs formatArgs;
            formatArgs.measured = &measured;
            measured.next = 0;
            va_copy(formatArgs.ap, args);
            std::size_t needed =
                tk::detail::FormatWideArgs(m_chars, capacity, format, formatArgs, &mayHoldNul);
            written = needed;
            va_end(formatArgs.ap);
            if (needed == tk::detail::kFormatFailed ||
                needed > static_cast<std::size_t>(kMaxLength))
                throw std::bad_alloc();  // no string can hold the output
            if (needed < capacity || needed == 0) break;
            // The estimate fell short: again, into a body that fits.
            replaceBody(static_cast<int>(needed));
        }
    } catch (...) {
        // The body holds part of an output: leave it a valid empty text.
        if (!IsFixed()) {
            Header()->length = 0;
            m_chars[0] = 0;
        }
        throw;
    }

    if (IsFixed()) return;
    // A %c of 0 ends the text, as in the C runtime's wide output; nothing
    // else can put a NUL inside it.
    int length = mayHoldNul ? tk::platform::lstrlenW(m_chars) : static_cast<int>(written);
    Header()->length = length;
    m_chars[length] = 0;
}
