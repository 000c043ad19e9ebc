// Unicode simple case mapping, simple case folding and White_Space for the
// BMP, locale-independent. The tables are generated (unicode_tables.cpp, by
// scripts/gen_case_tables.py): a unit's high byte picks a 256-entry block,
// its low byte a 16-bit delta that is added modulo 2^16. Surrogate units map
// to themselves, so supplementary characters are left as they are.
#ifndef TAVIKFCU_TEXT_UNICODE_TABLES_H
#define TAVIKFCU_TEXT_UNICODE_TABLES_H

#include <cstdint>

#include "tavikfcu/TKTypes.h"

namespace tk::platform {
namespace detail {

// Exported (not declared in any public header) so that tests and inline
// callers outside the library can use the inline mappers below.
extern const std::uint8_t kUpperIndex[256];
extern const std::uint16_t kUpperBlocks[][256];
extern const std::uint8_t kLowerIndex[256];
extern const std::uint16_t kLowerBlocks[][256];
extern const std::uint8_t kFoldIndex[256];
extern const std::uint16_t kFoldBlocks[][256];

inline constexpr int kWhiteSpaceRangeCount = 11;
extern const std::uint16_t kWhiteSpaceRanges[][2];

inline TKWCHAR MapUnit(const std::uint8_t* index, const std::uint16_t (*blocks)[256], TKWCHAR c) {
    unsigned u = c;
    return static_cast<TKWCHAR>(u + blocks[index[u >> 8]][u & 0xFF]);
}

}  // namespace detail

// Simple upper-case mapping (U+00E4 -> U+00C4, U+03C2 -> U+03A3).
inline TKWCHAR ToUpperUnit(TKWCHAR c) {
    return detail::MapUnit(detail::kUpperIndex, detail::kUpperBlocks, c);
}

// Simple lower-case mapping (U+00C4 -> U+00E4, U+0130 -> U+0069).
inline TKWCHAR ToLowerUnit(TKWCHAR c) {
    return detail::MapUnit(detail::kLowerIndex, detail::kLowerBlocks, c);
}

// Simple case folding: the form case-insensitive comparison uses. Mostly the
// lower case, but also merges forms lower-casing keeps apart (U+03C2 final
// sigma and U+03A3 both fold to U+03C3; U+017F long s folds to 's').
inline TKWCHAR FoldUnit(TKWCHAR c) {
    if (c < 0x80) return static_cast<TKWCHAR>(static_cast<unsigned>(c - 'A') < 26u ? c + 32 : c);
    return detail::MapUnit(detail::kFoldIndex, detail::kFoldBlocks, c);
}

// Unicode White_Space: TAB..CR, space, U+0085, U+00A0, U+1680, U+2000..U+200A,
// U+2028, U+2029, U+202F, U+205F, U+3000.
inline bool IsWhiteSpaceUnit(TKWCHAR c) {
    if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0x85) return false;
    for (int i = 1; i < detail::kWhiteSpaceRangeCount; ++i) {
        if (c < detail::kWhiteSpaceRanges[i][0]) return false;
        if (c <= detail::kWhiteSpaceRanges[i][1]) return true;
    }
    return false;
}

}  // namespace tk::platform

#endif  // TAVIKFCU_TEXT_UNICODE_TABLES_H
