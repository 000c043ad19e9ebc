// Runs of ASCII, widened and narrowed sixteen units at a time. Text is
// mostly ASCII, and ASCII is the same in UTF-8 and in every ANSI code page
// the library converts, so the converters hand such runs to these helpers
// and treat only the rest character by character.
#ifndef TAVIKFCU_TEXT_ASCII_RUNS_H
#define TAVIKFCU_TEXT_ASCII_RUNS_H

#include "platform/features.h"

#if TK_HAVE_SSE2
#include <emmintrin.h>
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tk::platform::detail {

// Widens the leading ASCII bytes of s[0..n) into out (null: count only);
// returns how many there were.
inline std::size_t WidenAsciiRun(const unsigned char* s, std::size_t n, char16_t* out) {
    std::size_t i = 0;
#if TK_HAVE_SSE2
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (_mm_movemask_epi8(bytes)) break;
        if (out) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8),
                             _mm_unpackhi_epi8(bytes, zero));
        }
        i += 16;
    }
#endif
    for (; i < n && s[i] < 0x80; ++i)
        if (out) out[i] = s[i];
    return i;
}

// Narrows the leading units below 0x80 of s[0..n) into out (null: count
// only); returns how many there were.
inline std::size_t NarrowAsciiRun(const char16_t* s, std::size_t n, char* out) {
    std::size_t i = 0;
#if TK_HAVE_SSE2
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    while (i + 16 <= n) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
        __m128i any = _mm_and_si128(_mm_or_si128(a, b), high);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF) break;
        if (out) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
        i += 16;
    }
#endif
    for (; i < n && s[i] < 0x80; ++i)
        if (out) out[i] = static_cast<char>(s[i]);
    return i;
}

// Bit k set when s[k] is not ASCII, for the 16 bytes at s (all readable).
inline unsigned HighByteMask16(const unsigned char* s) {
#if TK_HAVE_SSE2
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))));
#else
    unsigned mask = 0;
    for (int k = 0; k < 16; ++k) mask |= static_cast<unsigned>(s[k] >> 7) << k;
    return mask;
#endif
}

// Widens the 16 bytes at s (all readable) into out[0..16), whatever they
// are: for a caller that knows how many of them are ASCII and rewrites the
// rest.
inline void Widen16(const unsigned char* s, char16_t* out) {
#if TK_HAVE_SSE2
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
#else
    for (int k = 0; k < 16; ++k) out[k] = s[k];
#endif
}

// Bit k set when s[k] is not below 0x80, for the 16 units at s (all
// readable).
inline unsigned NonAsciiUnitMask16(const char16_t* s) {
#if TK_HAVE_SSE2
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
    __m128i asciiA = _mm_cmpeq_epi16(_mm_and_si128(a, high), zero);
    __m128i asciiB = _mm_cmpeq_epi16(_mm_and_si128(b, high), zero);
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(asciiA, asciiB))) & 0xFFFFu;
#else
    unsigned mask = 0;
    for (int k = 0; k < 16; ++k) mask |= static_cast<unsigned>(s[k] >= 0x80) << k;
    return mask;
#endif
}

// Narrows the 16 units at s (all readable) into out[0..16), whatever they
// are: for a caller that knows how many of them are ASCII and rewrites the
// rest.
inline void Narrow16(const char16_t* s, char* out) {
#if TK_HAVE_SSE2
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
#else
    for (int k = 0; k < 16; ++k) out[k] = static_cast<char>(s[k]);
#endif
}

// Whether the 16 bytes at s (all readable) are ASCII: the test by which a
// character-by-character loop hands a long ASCII stretch to the runs above.
inline bool IsAsciiBlock(const unsigned char* s) {
#if TK_HAVE_SSE2
    return _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))) == 0;
#else
    std::uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + 8, 8);
    return ((a | b) & 0x8080808080808080u) == 0;
#endif
}

// Whether the 16 units at s (all readable) are below 0x80.
inline bool IsAsciiBlock(const char16_t* s) {
#if TK_HAVE_SSE2
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
    __m128i any = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi16(static_cast<short>(0xFF80)));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) == 0xFFFF;
#else
    char16_t any = 0;
    for (int k = 0; k < 16; ++k) any |= s[k];
    return any < 0x80;
#endif
}

}  // namespace tk::platform::detail

#endif  // TAVIKFCU_TEXT_ASCII_RUNS_H
