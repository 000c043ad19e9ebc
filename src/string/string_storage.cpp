// CTKString bodies: where they come from, sharing, copy-on-write, locking,
// construction, assignment, concatenation and conversion out.
//
// A body is [refs | length | capacity | units... | NUL]. Capacities 64, 128,
// 256 and 512 mean a block of scratch pool 1..4; any other capacity means
// the heap. refs counts sharers; -1 marks a locked body and the static empty
// record, which is never written.
#include <cstring>

#include "core/heap.h"
#include "core/scratch_pools.h"
#include "platform/codepage.h"
#include "platform/wide_crt.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKString.h"

using tk::platform::lstrlenA;
using tk::platform::lstrlenW;

namespace {

// The shared empty record: count -1, length 0, capacity 0, one NUL.
struct EmptyRecord {
    std::int32_t refs = -1;
    std::int32_t length = 0;
    std::int32_t capacity = 0;
    TKWCHAR nul[2] = {0, 0};
};
EmptyRecord g_emptyRecord;

TKWCHAR* EmptyChars() {
    return g_emptyRecord.nul;
}

constexpr int kLargestPooledLength = 512;

// Pool index for a body of n units (1..512), by the 64/128/256/512 steps.
inline int PoolIndexForLength(int n) {
    if (n <= 64) return 0;
    if (n <= 128) return 1;
    if (n <= 256) return 2;
    return 3;
}

inline int PoolIndexForCapacity(int capacity) {
    switch (capacity) {
        case 64:
            return 0;
        case 128:
            return 1;
        case 256:
            return 2;
        case 512:
            return 3;
        default:
            return -1;
    }
}

// Reference counts are plain int32 fields of the body (the layout is fixed),
// changed with atomic builtins.
inline std::int32_t LoadRefs(const std::int32_t* refs) {
    return tkAtomicLoad(refs);
}

inline void CopyUnits(TKWCHAR* dst, const TKWCHAR* src, int n) {
    if (n > 0) std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(TKWCHAR));
}

inline std::size_t HeapBodyBytes(int length) {
    return 12 + (static_cast<std::size_t>(length) + 1) * sizeof(TKWCHAR);
}

TKWCHAR g_allocFailed[] = TKL("Alloc failed!");
TKWCHAR g_reallocFailed[] = TKL("ReAlloc failed!");

}  // namespace

// ---- body management -----------------------------------------------------------

CTKString::Body* CTKString::NewBody(int length) {
    Body* body;
    if (length <= kLargestPooledLength) {
        int pool = PoolIndexForLength(length);
        body = static_cast<Body*>(tk::detail::ScratchPool(pool).Alloc());
        body->capacity = 64 << pool;
    } else {
        body = static_cast<Body*>(tk::detail::HeapAlloc(HeapBodyBytes(length)));
        body->capacity = length;
    }
    body->refs = 1;
    body->length = length;
    body->Chars()[length] = 0;
    return body;
}

void CTKString::FreeBody(Body* body) {
    int pool = PoolIndexForCapacity(body->capacity);
    if (pool >= 0)
        tk::detail::ScratchPool(pool).Free(body);
    else
        tk::detail::HeapFree(body);
}

bool CTKString::IsEmptyRecord() const {
    return m_chars == EmptyChars();
}

void CTKString::AllocBody(int length) {
    m_chars = length <= 0 ? EmptyChars() : NewBody(length)->Chars();
}

void CTKString::ReleaseBody() {
    if (IsEmptyRecord()) return;
    Body* body = Header();
    // A sole owner (or a locked body) needs no atomic change: nobody else
    // can reach the body to add a reference.
    std::int32_t refs = LoadRefs(&body->refs);
    if (refs <= 1 || tkAtomicDecrement(&body->refs) <= 1) FreeBody(body);
    m_chars = EmptyChars();
}

void CTKString::Reallocate(int minLength) {
    int length = GetLength();
    int size = minLength > length ? minLength : length;
    Body* fresh = NewBody(size);
    CopyUnits(fresh->Chars(), m_chars, length + 1);
    fresh->length = length;
    ReleaseBody();
    m_chars = fresh->Chars();
}

void CTKString::Unshare() {
    if (IsEmptyRecord()) return;
    if (LoadRefs(&Header()->refs) >= 2) Reallocate(GetLength());
}

void CTKString::AssignText(const TKWCHAR* text, int count) {
    if (count <= 0) count = 0;
    if (IsEmptyRecord() && count == 0) return;
    Body* body = Header();
    if (!IsEmptyRecord() && LoadRefs(&body->refs) < 2 && count <= body->capacity) {
        CopyUnits(m_chars, text, count);  // in place; a locked body stays locked
    } else {
        // The new body is filled before the old one is let go, so text may
        // point into this string.
        TKWCHAR* fresh = count > 0 ? NewBody(count)->Chars() : EmptyChars();
        CopyUnits(fresh, text, count);
        ReleaseBody();
        m_chars = fresh;
        if (count == 0) return;
    }
    Header()->length = count;
    m_chars[count] = 0;
}

void CTKString::AppendText(const TKWCHAR* text, int count) {
    if (count <= 0) return;
    int length = GetLength();
    int total = length + count;
    Body* body = Header();
    bool sole = !IsEmptyRecord() && LoadRefs(&body->refs) < 2;
    if (sole && total <= body->capacity) {
        CopyUnits(m_chars + length, text, count);
    } else if (sole && body->refs == 1 && PoolIndexForCapacity(body->capacity) < 0 &&
               total > kLargestPooledLength) {
        // A heap body we own alone grows in place where the allocator can,
        // keeping the exact capacity without copying the text each time.
        bool inside = text >= m_chars && text < m_chars + length;
        std::ptrdiff_t offset = inside ? text - m_chars : 0;
        body = static_cast<Body*>(tk::detail::HeapRealloc(body, HeapBodyBytes(total)));
        body->capacity = total;
        m_chars = body->Chars();
        CopyUnits(m_chars + length, inside ? m_chars + offset : text, count);
    } else {
        Body* fresh = NewBody(total);
        CopyUnits(fresh->Chars(), m_chars, length);
        CopyUnits(fresh->Chars() + length, text, count);
        ReleaseBody();  // only now: text may be this string's own
        m_chars = fresh->Chars();
    }
    Header()->length = total;
    m_chars[total] = 0;
}

void CTKString::AssignAnsi(const char* text) {
    int bytes = lstrlenA(text);
    if (bytes == 0) {
        // Nothing to convert: keep a private body at length 0.
        AssignText(nullptr, 0);
        return;
    }
    if (IsEmptyRecord() || LoadRefs(&Header()->refs) >= 2 || bytes > GetAllocLength()) {
        ReleaseBody();
        AllocBody(bytes);
    }
    // An ANSI byte never yields more than one UTF-16 unit, so bytes + 1
    // units always hold the conversion.
    m_chars[0] = 0;
    int units = tk::platform::MultiByteToWideChar(tk::platform::kCodePageAnsi, 0, text, -1, m_chars,
                                                  bytes + 1);
    if (units > 0) m_chars[units - 1] = 0;
    int length = lstrlenW(m_chars);
    Header()->length = length;
    m_chars[length] = 0;
}

// ---- construction ------------------------------------------------------------------

CTKString::CTKString() : m_chars(EmptyChars()) {}

void CTKString::CopyUnshareable(const CTKString& src) {
    m_chars = EmptyChars();
    AssignText(src.m_chars, lstrlenW(src.m_chars));
}

CTKString::CTKString(TKWCHAR ch, int count) : m_chars(EmptyChars()) {
    if (count < 1) return;
    AllocBody(count);
    for (int i = 0; i < count; ++i) m_chars[i] = ch;
}

CTKString::CTKString(const TKWCHAR* text) : m_chars(EmptyChars()) {
    AssignText(text, lstrlenW(text));
}

CTKString::CTKString(const TKWCHAR* text, int count) : m_chars(EmptyChars()) {
    AssignText(text, count);
}

CTKString::CTKString(const char* text) : m_chars(EmptyChars()) {
    AssignAnsi(text);
}

CTKString::CTKString(const char* text, int count) : m_chars(EmptyChars()) {
    if (!text || count <= 0) return;
    AllocBody(count);
    int units = tk::platform::MultiByteToWideChar(tk::platform::kCodePageAnsi, 0, text, count,
                                                  m_chars, count + 1);
    Header()->length = units;
    m_chars[units] = 0;
}

CTKString::CTKString(const unsigned char* text) : m_chars(EmptyChars()) {
    AssignAnsi(reinterpret_cast<const char*>(text));
}

// ---- assignment ----------------------------------------------------------------------

// Assignment where sharing does not apply: the same body, a locked target
// (which keeps its lock) or a locked or empty source: the text is copied.
CTKString& CTKString::AssignUnshareable(const CTKString& src) {
    if (m_chars != src.m_chars) AssignText(src.m_chars, src.GetLength());
    return *this;
}

CTKString& CTKString::operator=(const TKWCHAR* text) {
    AssignText(text, lstrlenW(text));
    return *this;
}

CTKString& CTKString::operator=(const char* text) {
    AssignAnsi(text);
    return *this;
}

CTKString& CTKString::operator=(const unsigned char* text) {
    AssignAnsi(reinterpret_cast<const char*>(text));
    return *this;
}

CTKString& CTKString::operator=(TKWCHAR ch) {
    AssignText(&ch, 1);
    return *this;
}

CTKString& CTKString::operator=(char ch) {
    // Sign extension, no code page: 0xE9 becomes U+FFE9.
    return *this = static_cast<TKWCHAR>(static_cast<signed char>(ch));
}

CTKString& CTKString::operator+=(const CTKString& text) {
    AppendText(text.m_chars, text.GetLength());
    return *this;
}

CTKString& CTKString::operator+=(const TKWCHAR* text) {
    AppendText(text, lstrlenW(text));
    return *this;
}

CTKString& CTKString::operator+=(TKWCHAR ch) {
    AppendText(&ch, 1);
    return *this;
}

CTKString& CTKString::operator+=(char ch) {
    return *this += static_cast<TKWCHAR>(static_cast<signed char>(ch));
}

// ---- concatenation ----------------------------------------------------------------------

namespace {

// A new string of exactly left + right units.
CTKString Concat(const TKWCHAR* left, int leftLength, const TKWCHAR* right, int rightLength) {
    CTKString result;
    int total = leftLength + rightLength;
    if (total == 0) return result;
    TKWCHAR* chars = result.GetBuffer(total);
    CopyUnits(chars, left, leftLength);
    CopyUnits(chars + leftLength, right, rightLength);
    result.ReleaseBuffer(total);
    return result;
}

inline TKWCHAR Widen(char ch) {
    return static_cast<TKWCHAR>(static_cast<signed char>(ch));
}

}  // namespace

CTKString operator+(const CTKString& a, const CTKString& b) {
    return Concat(a, a.GetLength(), b, b.GetLength());
}
CTKString operator+(const CTKString& a, const TKWCHAR* b) {
    return Concat(a, a.GetLength(), b, lstrlenW(b));
}
CTKString operator+(const TKWCHAR* a, const CTKString& b) {
    return Concat(a, lstrlenW(a), b, b.GetLength());
}
CTKString operator+(const CTKString& a, TKWCHAR b) {
    return Concat(a, a.GetLength(), &b, 1);
}
CTKString operator+(TKWCHAR a, const CTKString& b) {
    return Concat(&a, 1, b, b.GetLength());
}
CTKString operator+(const CTKString& a, char b) {
    return a + Widen(b);
}
CTKString operator+(char a, const CTKString& b) {
    return Widen(a) + b;
}

// ---- direct buffer access ----------------------------------------------------------------

void CTKString::SetAt(int index, TKWCHAR ch) {
    Unshare();
    m_chars[index] = ch;
}

TKWCHAR* CTKString::GetBuffer(int minLength) {
    if (LoadRefs(&Header()->refs) < 2 && minLength <= GetAllocLength()) return m_chars;
    Reallocate(minLength);
    return m_chars;
}

void CTKString::ReleaseBuffer(int newLength) {
    Unshare();
    if (IsEmptyRecord()) return;  // nothing to record; never write the record
    const int capacity = GetAllocLength();
    if (newLength < 0) {
        // Up to the first NUL, or the whole body when the caller filled it.
        newLength = 0;
        while (newLength < capacity && m_chars[newLength]) ++newLength;
    }
    if (newLength > capacity) newLength = capacity;  // never past the body
    Header()->length = newLength;
    m_chars[newLength] = 0;
}

TKWCHAR* CTKString::GetBufferSetLength(int newLength) {
    if (newLength < 0) newLength = 0;
    GetBuffer(newLength);
    if (!IsEmptyRecord()) {
        Header()->length = newLength;
        m_chars[newLength] = 0;
    }
    return m_chars;
}

void CTKString::FreeExtra() {
    if (GetLength() == GetAllocLength()) return;
    int length = GetLength();
    TKWCHAR* fresh = length > 0 ? NewBody(length)->Chars() : EmptyChars();
    CopyUnits(fresh, m_chars, length);
    ReleaseBody();
    m_chars = fresh;
}

TKWCHAR* CTKString::LockBuffer() {
    GetBuffer(0);
    if (!IsEmptyRecord()) Header()->refs = -1;
    return m_chars;
}

void CTKString::UnlockBuffer() {
    if (!IsEmptyRecord()) Header()->refs = 1;
}

void CTKString::Empty() {
    // A zero-length body of its own (left by assigning empty text) is let go
    // as well, so Empty always gives memory back unless the body is locked.
    if (IsEmptyRecord()) return;
    if (LoadRefs(&Header()->refs) < 0) {
        Header()->length = 0;
        m_chars[0] = 0;
        return;
    }
    ReleaseBody();
}

// ---- conversion out ------------------------------------------------------------------------

BSTR CTKString::AllocSysString() const {
    BSTR result = tkSysAllocStringLen(m_chars, static_cast<unsigned int>(GetLength()));
    if (!result) throw static_cast<TKWCHAR*>(g_allocFailed);
    return result;
}

BSTR CTKString::SetSysString(BSTR* pbstr) const {
    if (!tkSysReAllocStringLen(pbstr, m_chars, static_cast<unsigned int>(GetLength())))
        throw static_cast<TKWCHAR*>(g_reallocFailed);
    return *pbstr;
}

char* CTKString::AllocANSIString() const {
    using tk::platform::WideCharToMultiByte;
    // 2 * length + 1 bytes hold any double-byte code page; UTF-8 may need up
    // to 3 bytes a unit, and then the buffer is sized to fit.
    std::size_t size = 2 * static_cast<std::size_t>(GetLength()) + 1;
    int needed = WideCharToMultiByte(tk::platform::kCodePageAnsi, 0, m_chars, -1, nullptr, 0);
    if (needed > 0 && static_cast<std::size_t>(needed) > size) size = needed;
    char* buffer = static_cast<char*>(tk::detail::HeapAlloc(size));
    int written = WideCharToMultiByte(tk::platform::kCodePageAnsi, 0, m_chars, -1, buffer,
                                      static_cast<int>(size));
    buffer[written > 0 ? written - 1 : 0] = 0;
    return buffer;
}
