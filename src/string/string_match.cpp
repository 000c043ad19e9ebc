// Wildcard matching: '*' any run of characters, '?' exactly one.
//
// The pattern is cut at its '*' runs into a first part (anchored at the
// start of the text), middle parts (each found at its leftmost place behind
// the previous one) and a last part (anchored at the end of the text, and
// never reaching back before where the middle parts ended). Taking each
// middle part at its leftmost place is never worse than any later place,
// so this greedy walk decides a match without backtracking.
#include "text/wide_crt.h"
#include "tavikfcu/TKString.h"

namespace {

struct Units {
    const TKWCHAR* chars;
    int length;
};

// Compares one pattern part (no '*') with the text at t, '?' matching any
// unit; upper-cases both sides when asked.
inline bool PartMatchesAt(Units part, const TKWCHAR* t, bool caseSensitive) {
    for (int i = 0; i < part.length; ++i) {
        TKWCHAR p = part.chars[i];
        if (p == '?') continue;
        TKWCHAR c = t[i];
        if (caseSensitive ? p != c : tk::platform::ToUpperUnit(p) != tk::platform::ToUpperUnit(c))
            return false;
    }
    return true;
}

// The part of the pattern that starts at p and ends before the next '*'.
inline Units PartAt(const TKWCHAR* p) {
    const TKWCHAR* e = p;
    while (*e && *e != '*') ++e;
    return {p, static_cast<int>(e - p)};
}

}  // namespace

namespace TKStringUtils {

bool StrIsMatching(const TKWCHAR* pattern, const TKWCHAR* text, bool caseSensitive) {
    if (!pattern || !text) return false;
    const int textLength = tk::platform::lstrlenW(text);

    Units first = PartAt(pattern);
    if (!pattern[first.length]) {  // no '*': the whole text, exactly
        return first.length == textLength && PartMatchesAt(first, text, caseSensitive);
    }
    if (first.length > textLength || !PartMatchesAt(first, text, caseSensitive)) return false;
    int position = first.length;

    const TKWCHAR* p = pattern + first.length;
    for (;;) {
        while (*p == '*') ++p;  // a run of '*' counts as one
        Units part = PartAt(p);
        if (!p[part.length]) {
            // The last part: the end of the text, not before the position.
            int start = textLength - part.length;
            return start >= position && PartMatchesAt(part, text + start, caseSensitive);
        }
        // A middle part: its leftmost occurrence at or after the position.
        int at = position;
        while (at + part.length <= textLength && !PartMatchesAt(part, text + at, caseSensitive))
            ++at;
        if (at + part.length > textLength) return false;
        position = at + part.length;
        p += part.length;
    }
}

}  // namespace TKStringUtils
