// CTKString searching, extracting, editing, trimming and case.
//
// Searches and trims measure the text like the C runtime (up to the first
// NUL); Replace, Remove, Insert and Delete work on the header length and
// keep NULs inside the text. Every change goes through PrepareToWrite first,
// and only when something actually changes: an operation that finds nothing
// to do leaves a shared body shared.
#include <climits>
#include <cstring>
#include <new>

#include "text/wide_crt.h"
#include "tavikfcu/TKString.h"

namespace crt = tk::platform;
using crt::lstrlenW;

namespace {

inline void MoveUnits(TKWCHAR* dst, const TKWCHAR* src, int n) {
    if (n > 0) std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(TKWCHAR));
}

// Position of p in s, or -1 for null.
inline int PositionOf(const TKWCHAR* s, const TKWCHAR* p) {
    return p ? static_cast<int>(p - s) : -1;
}

// Lengths that no int can hold mean the text cannot exist.
inline int CheckedLength(long long length) {
    if (length > INT_MAX) throw std::bad_alloc();
    return static_cast<int>(length);
}

inline bool PointsInto(const TKWCHAR* p, const TKWCHAR* begin, int units) {
    auto a = reinterpret_cast<std::uintptr_t>(p);
    auto b = reinterpret_cast<std::uintptr_t>(begin);
    return a >= b && a < b + static_cast<std::uintptr_t>(units + 1) * sizeof(TKWCHAR);
}

// Inserts count units from text before index (already clamped). The body
// grows only when its capacity is too small; text may lie inside s.
void InsertUnits(CTKString& s, int index, const TKWCHAR* text, int count) {
    const int length = s.GetLength();
    const TKWCHAR* before = s;
    const bool aliased = PointsInto(text, before, s.GetAllocLength());
    const long long offset = aliased ? text - before : 0;
    const int total = CheckedLength(static_cast<long long>(length) + count);

    TKWCHAR* chars = s.GetBuffer(total);  // keeps the text, terminator included
    MoveUnits(chars + index + count, chars + index, length - index + 1);
    if (!aliased) {
        MoveUnits(chars + index, text, count);
    } else {
        // The inserted text may straddle index: its part before index stayed
        // put, its part from index on moved right by count with the tail.
        const int off = static_cast<int>(offset);
        const int stayed = off >= index ? 0 : (off + count <= index ? count : index - off);
        MoveUnits(chars + index, chars + off, stayed);
        const int movedFrom = (off > index ? off : index) + count;
        MoveUnits(chars + index + stayed, chars + movedFrom, count - stayed);
    }
    s.ReleaseBuffer(total);
}

}  // namespace

// ---- searching --------------------------------------------------------------------

int CTKString::Find(TKWCHAR ch) const {
    if (GetLength() < 1) return -1;
    return PositionOf(m_chars, crt::wcschr(m_chars, ch));
}

int CTKString::Find(TKWCHAR ch, int start) const {
    if (start >= GetLength()) return -1;
    if (start < 0) start = 0;  // not the caller's to pass; never read before the text
    return PositionOf(m_chars, crt::wcschr(m_chars + start, ch));
}

int CTKString::Find(const TKWCHAR* sub) const {
    return PositionOf(m_chars, crt::wcsstr(m_chars, sub));
}

int CTKString::Find(const TKWCHAR* sub, int start) const {
    if (start > GetLength()) return -1;
    if (start < 0) start = 0;
    return PositionOf(m_chars, crt::wcsstr(m_chars + start, sub));
}

int CTKString::ReverseFind(TKWCHAR ch) const {
    return PositionOf(m_chars, crt::wcsrchr(m_chars, ch));
}

int CTKString::FindOneOf(const TKWCHAR* set) const {
    return PositionOf(m_chars, crt::wcspbrk(m_chars, set));
}

// ---- extracting ---------------------------------------------------------------------

CTKString CTKString::Mid(int first, int count) {
    const int length = GetLength();
    if (first < 0) first = 0;
    if (count < 0) count = 0;
    if (static_cast<long long>(first) + count > length) count = length - first;
    if (first > length) count = 0;
    if (first == 0 && count == length) return *this;
    return count > 0 ? CTKString(m_chars + first, count) : CTKString();
}

CTKString CTKString::Mid(int first) {
    // length - first overflows for a first near INT_MIN; any count that
    // reaches the end is cut to it, so INT_MAX stands for them all.
    const long long count = static_cast<long long>(GetLength()) - first;
    return Mid(first, count > INT_MAX ? INT_MAX : static_cast<int>(count));
}

CTKString CTKString::Left(int count) {
    if (count < 0) count = 0;
    if (count >= GetLength()) return *this;
    return CTKString(m_chars, count);
}

CTKString CTKString::Right(int count) {
    if (count < 0) count = 0;
    if (count >= GetLength()) return *this;
    return CTKString(m_chars + GetLength() - count, count);
}

CTKString CTKString::SpanIncluding(const TKWCHAR* set) {
    return Left(static_cast<int>(crt::wcsspn(m_chars, set)));
}

CTKString CTKString::SpanExcluding(const TKWCHAR* set) {
    return Left(static_cast<int>(crt::wcscspn(m_chars, set)));
}

// ---- editing ----------------------------------------------------------------------------

int CTKString::Replace(TKWCHAR oldCh, TKWCHAR newCh) {
    if (oldCh == newCh) return 0;
    const int length = GetLength();
    const TKWCHAR* hit = crt::FindUnitN(m_chars, static_cast<std::size_t>(length), oldCh);
    if (!hit) return 0;
    int from = static_cast<int>(hit - m_chars);
    PrepareToWrite(GetLength(), Keep::kText);
    int count = 0;
    for (int i = from; i < length; ++i) {
        if (m_chars[i] == oldCh) {
            m_chars[i] = newCh;
            ++count;
        }
    }
    return count;
}

int CTKString::Replace(const TKWCHAR* oldText, const TKWCHAR* newText) {
    const int oldLength = lstrlenW(oldText);
    if (oldLength == 0) return 0;
    const int newLength = lstrlenW(newText);
    const int length = GetLength();

    // Matches never overlap and never span a NUL (the old text has none), so
    // a search over the header length finds exactly the segment-wise matches.
    auto next = [oldText, oldLength](const TKWCHAR* from, const TKWCHAR* end) {
        return crt::FindUnitsN(from, static_cast<std::size_t>(end - from), oldText,
                               static_cast<std::size_t>(oldLength));
    };
    int count = 0;
    if (oldLength == 1) {
        count =
            static_cast<int>(crt::CountUnitN(m_chars, static_cast<std::size_t>(length), *oldText));
    } else {
        for (const TKWCHAR* p = m_chars; (p = next(p, m_chars + length)) != nullptr; p += oldLength)
            ++count;
    }
    if (count == 0) return 0;
    const int total =
        CheckedLength(length + static_cast<long long>(count) * (newLength - oldLength));

    // Texts inside this string's body would move under us: work on copies.
    CTKString oldCopy, newCopy;
    if (PointsInto(oldText, m_chars, GetAllocLength()) ||
        PointsInto(newText, m_chars, GetAllocLength())) {
        oldCopy = CTKString(oldText, oldLength);
        newCopy = CTKString(newText, newLength);
        oldText = oldCopy;
        newText = newCopy;
    }

    // Copies the text from src to dst replacing every match; dst may trail
    // src in the same buffer as long as it never overtakes it.
    auto rewrite = [&](TKWCHAR* dst, const TKWCHAR* src, const TKWCHAR* srcEnd) {
        if (oldLength == 1) {
            crt::CopyReplacingUnitN(dst, src, static_cast<std::size_t>(srcEnd - src), *oldText,
                                    newText, static_cast<std::size_t>(newLength));
            return;
        }
        for (const TKWCHAR* hit; (hit = next(src, srcEnd)) != nullptr;) {
            int keep = static_cast<int>(hit - src);
            MoveUnits(dst, src, keep);
            dst += keep;
            MoveUnits(dst, newText, newLength);
            dst += newLength;
            src = hit + oldLength;
        }
        MoveUnits(dst, src, static_cast<int>(srcEnd - src));
    };

    // Shared, or too small: the text is rewritten from the former body into
    // a new one of the old length or, when that is too small, the new one.
    FormerBody former = PrepareToWrite(total > length ? total : length, Keep::kNothing);
    if (former) {
        rewrite(m_chars, former.Chars(), former.Chars() + length);
    } else if (total <= length) {
        rewrite(m_chars, m_chars, m_chars + length);
    } else {
        // Growing in place: park the text at the end of the body first, so
        // the rewrite (which gains total - length units) never catches up.
        TKWCHAR* parked = m_chars + (total - length);
        MoveUnits(parked, m_chars, length);
        rewrite(m_chars, parked, parked + length);
    }
    Header()->length = total;
    m_chars[total] = 0;
    return count;
}

int CTKString::Remove(TKWCHAR ch) {
    const int length = GetLength();
    const TKWCHAR* hit = crt::FindUnitN(m_chars, static_cast<std::size_t>(length), ch);
    if (!hit) return 0;
    const int from = static_cast<int>(hit - m_chars);
    PrepareToWrite(GetLength(), Keep::kText);
    int kept = from;
    for (int i = from; i < length; ++i)
        if (m_chars[i] != ch) m_chars[kept++] = m_chars[i];
    Header()->length = kept;
    m_chars[kept] = 0;
    return length - kept;
}

int CTKString::Insert(int index, TKWCHAR ch) {
    const int length = GetLength();
    index = index < 0 ? 0 : (index > length ? length : index);
    InsertUnits(*this, index, &ch, 1);
    return GetLength();
}

int CTKString::Insert(int index, const TKWCHAR* text) {
    const int count = lstrlenW(text);
    const int length = GetLength();
    if (count == 0) return length;
    index = index < 0 ? 0 : (index > length ? length : index);
    InsertUnits(*this, index, text, count);
    return GetLength();
}

int CTKString::Delete(int index, int count) {
    const int length = GetLength();
    if (index < 0) index = 0;
    if (count < 1 || index >= length) return length;
    if (count > length - index) count = length - index;
    PrepareToWrite(GetLength(), Keep::kText);
    MoveUnits(m_chars + index, m_chars + index + count, length - index - count + 1);
    Header()->length = length - count;
    return length;
}

// ---- trimming -----------------------------------------------------------------------------

namespace {

// Where the trailing run of units matching pred begins in s (up to its first
// NUL), or null when s does not end in such a run.
template <typename Pred>
const TKWCHAR* TrailingRun(const TKWCHAR* s, Pred pred) {
    const TKWCHAR* run = nullptr;
    for (; *s; ++s) {
        if (!pred(*s))
            run = nullptr;
        else if (!run)
            run = s;
    }
    return run;
}

// Units of the leading run matching pred (stops at the first NUL).
template <typename Pred>
int LeadingRun(const TKWCHAR* s, Pred pred) {
    const TKWCHAR* p = s;
    while (*p && pred(*p)) ++p;
    return static_cast<int>(p - s);
}

}  // namespace

// The trims are members that share two small bodies of code through these
// templates; both keep the text's header length apart from the cut.
#define TK_TRIM_LEFT(pred)                            \
    do {                                              \
        int skip = LeadingRun(m_chars, pred);         \
        if (skip == 0) return;                        \
        PrepareToWrite(GetLength(), Keep::kText);     \
        int rest = GetLength() - skip;                \
        MoveUnits(m_chars, m_chars + skip, rest + 1); \
        Header()->length = rest;                      \
    } while (0)

#define TK_TRIM_RIGHT(pred)                              \
    do {                                                 \
        const TKWCHAR* run = TrailingRun(m_chars, pred); \
        if (!run) return;                                \
        int keep = static_cast<int>(run - m_chars);      \
        PrepareToWrite(GetLength(), Keep::kText);        \
        m_chars[keep] = 0;                               \
        Header()->length = keep;                         \
    } while (0)

void CTKString::TrimLeft() {
    TK_TRIM_LEFT([](TKWCHAR c) { return crt::iswspace(c); });
}

void CTKString::TrimLeft(TKWCHAR ch) {
    // A NUL target also strips leading NULs inside the header length.
    if (ch == 0) {
        int length = GetLength(), skip = 0;
        while (skip < length && m_chars[skip] == 0) ++skip;
        if (skip == 0) return;
        PrepareToWrite(GetLength(), Keep::kText);
        MoveUnits(m_chars, m_chars + skip, length - skip + 1);
        Header()->length = length - skip;
        return;
    }
    TK_TRIM_LEFT([ch](TKWCHAR c) { return c == ch; });
}

void CTKString::TrimLeft(const TKWCHAR* set) {
    if (!set || !set[0]) return;
    TK_TRIM_LEFT([set](TKWCHAR c) { return crt::wcschr(set, c) != nullptr; });
}

void CTKString::TrimRight() {
    TK_TRIM_RIGHT([](TKWCHAR c) { return crt::iswspace(c); });
}

void CTKString::TrimRight(TKWCHAR ch) {
    TK_TRIM_RIGHT([ch](TKWCHAR c) { return c == ch; });
}

void CTKString::TrimRight(const TKWCHAR* set) {
    if (!set || !set[0]) return;
    TK_TRIM_RIGHT([set](TKWCHAR c) { return crt::wcschr(set, c) != nullptr; });
}

#undef TK_TRIM_LEFT
#undef TK_TRIM_RIGHT

void CTKString::Trim() {
    TrimLeft();
    TrimRight();
}

// ---- case and order --------------------------------------------------------------------------

void CTKString::MakeUpper() {
    for (int i = 0; m_chars[i]; ++i) {
        if (crt::ToUpperUnit(m_chars[i]) != m_chars[i]) {
            PrepareToWrite(GetLength(), Keep::kText);
            crt::_wcsupr(m_chars + i);
            return;
        }
    }
}

void CTKString::MakeLower() {
    for (int i = 0; m_chars[i]; ++i) {
        if (crt::ToLowerUnit(m_chars[i]) != m_chars[i]) {
            PrepareToWrite(GetLength(), Keep::kText);
            crt::_wcslwr(m_chars + i);
            return;
        }
    }
}

void CTKString::MakeReverse() {
    if (lstrlenW(m_chars) < 2) return;
    PrepareToWrite(GetLength(), Keep::kText);
    crt::_wcsrev(m_chars);
}
