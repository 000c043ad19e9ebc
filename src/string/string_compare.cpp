// CTKString comparisons and the free comparison operators.
//
// Every comparison reads the texts up to the first NUL of either, like the
// C runtime, so NULs inside a string's header length end the comparison.
#include "text/wide_crt.h"
#include "tavikfcu/TKString.h"

namespace crt = tk::platform;

namespace {

// Ordinal by unsigned 16-bit units: -1, 0 or 1.
int Ordinal(const TKWCHAR* a, const TKWCHAR* b) {
    const int order = crt::wcscmp(a, b);
    return (order > 0) - (order < 0);
}

}  // namespace

int CTKString::Compare(const TKWCHAR* text) const {
    return Ordinal(m_chars, text);
}

int CTKString::CompareNoCase(const TKWCHAR* text) const {
    return crt::_wcsicmp(m_chars, text);
}

int CTKString::Collate(const TKWCHAR* text) const {
    return crt::wcscoll(m_chars, text);
}

int CTKString::CollateNoCase(const TKWCHAR* text) const {
    return crt::_wcsicoll(m_chars, text);
}

// The operators, three forms each over the same ordinal comparison.
#define TK_STRING_COMPARISON(op)                               \
    bool operator op(const CTKString& a, const CTKString& b) { \
        return Ordinal(a, b) op 0;                             \
    }                                                          \
    bool operator op(const CTKString& a, const TKWCHAR* b) {   \
        return Ordinal(a, b) op 0;                             \
    }                                                          \
    bool operator op(const TKWCHAR* a, const CTKString& b) {   \
        return Ordinal(a, b) op 0;                             \
    }

TK_STRING_COMPARISON(==)
TK_STRING_COMPARISON(!=)
TK_STRING_COMPARISON(<)
TK_STRING_COMPARISON(>)
TK_STRING_COMPARISON(<=)
TK_STRING_COMPARISON(>=)

#undef TK_STRING_COMPARISON
