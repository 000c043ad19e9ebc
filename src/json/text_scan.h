// Fast scans over UTF-16 text for the JSON reader: the length of a
// NUL-terminated text, and the next quote or backslash within a bounded
// range. SSE2 handles eight units per step on x86-64; elsewhere the scalar
// loops do the same job.
#ifndef TAVIKFCU_JSON_TEXT_SCAN_H
#define TAVIKFCU_JSON_TEXT_SCAN_H

#include <cstdint>

#include "platform/features.h"
#include "tavikfcu/TKTypes.h"

#if TK_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace tk::detail {

// Units before the first NUL. The SSE2 path reads whole aligned 16-byte
// blocks, which never cross a page boundary, so it may look at up to 14
// bytes past the terminator inside the terminator's own block, exactly like
// the C library's strlen. Those bytes are never used; the address and thread
// sanitizers are told not to count the reads (and the function is kept out
// of line, so its callers stay fully instrumented).
#if TK_HAVE_SSE2
TK_READS_PAST_END TK_NOINLINE inline std::size_t TextLength(const TKWCHAR* text) {
    auto address = reinterpret_cast<std::uintptr_t>(text);
    if (address & 1) {  // not unit-aligned: lanes would straddle units
        const TKWCHAR* p = text;
        while (*p) ++p;
        return static_cast<std::size_t>(p - text);
    }
    const __m128i zero = _mm_setzero_si128();
    std::uintptr_t block = address & ~std::uintptr_t(15);
    unsigned skip = static_cast<unsigned>(address - block);  // bytes before text
    __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, zero)));
    mask &= ~0u << skip;  // ignore lanes before the text
    while (!mask) {
        block += 16;
        v = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, zero)));
    }
    std::uintptr_t at = block + static_cast<unsigned>(CountTrailingZeros32(mask));
    return static_cast<std::size_t>((at - address) / sizeof(TKWCHAR));
}
#else
inline std::size_t TextLength(const TKWCHAR* text) {
    const TKWCHAR* p = text;
    while (*p) ++p;
    return static_cast<std::size_t>(p - text);
}
#endif

// The first unit in [p, end) that is a quote or a backslash, or end.
inline const TKWCHAR* FindQuoteOrBackslash(const TKWCHAR* p, const TKWCHAR* end) {
#if TK_HAVE_SSE2
    const __m128i quote = _mm_set1_epi16('"');
    const __m128i backslash = _mm_set1_epi16('\\');
    while (end - p >= 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_or_si128(_mm_cmpeq_epi16(v, quote), _mm_cmpeq_epi16(v, backslash));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask) return p + CountTrailingZeros32(mask) / 2;
        p += 8;
    }
#endif
    while (p < end && *p != '"' && *p != '\\') ++p;
    return p;
}

}  // namespace tk::detail

#endif  // TAVIKFCU_JSON_TEXT_SCAN_H
