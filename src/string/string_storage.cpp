// CTKString bodies: where they come from, the move to a writable body,
// locking, construction, assignment, concatenation and conversion out. The
// sharing rules themselves are written once, at CTKString::Body.
//
// A body is [refs | length | capacity | units... | NUL]. Capacities 64, 128,
// 256 and 512 mean a block of scratch pool 1..4; capacity 0 a fixed body
// (the static empty record, or one in storage owned elsewhere) that is never
// written or freed; any other capacity means a block of the heap, or for a
// room of 4 MB and more a large buffer of the platform (kept_body.h).
//
// Such a block holds one private word before the body: its room, the units
// of text the block can hold. The capacity a string reports stays exact
// (what was asked for), while a body that grows gets a block half as large
// again as its text, so that appends that fit the room only move the
// reported capacity instead of reallocating every time. The block of the
// last large body that went is kept for the next one.
#include <atomic>
#include <cstring>

#include "memory/heap.h"
#include "memory/scratch_pools.h"
#include "platform/large_buffer.h"
#include "string/kept_body.h"
#include "text/codepage.h"
#include "text/wide_crt.h"
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

inline void CopyUnits(TKWCHAR* dst, const TKWCHAR* src, int n) {
    if (n > 0) std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(TKWCHAR));
}

// ---- heap blocks: [room | body header | units... | NUL | spare] ----

constexpr std::size_t kRoomBytes = sizeof(std::int32_t);
constexpr std::int64_t kLongestText = 0x7FFFFFFE;  // a length and its terminator fit an int

inline std::size_t HeapBlockBytes(int room) {
    return kRoomBytes + 12 + (static_cast<std::size_t>(room) + 1) * sizeof(TKWCHAR);
}
inline void* BlockOfBody(void* body) {
    return static_cast<char*>(body) - kRoomBytes;
}
inline void* BodyOfBlock(void* block) {
    return static_cast<char*>(block) + kRoomBytes;
}

// ---- large blocks and the kept one (kept_body.h) ----
// A block of kLargeBodyBlockBytes or more is a large buffer of the platform:
// whole 2 MB pages on a 2 MB boundary, asked for huge pages. Faulting it in
// costs one fault per 2 MB, it grows by moving its pages instead of copying
// them, and a kept block left for the kernel to take back stays cheap to
// write again (a 4 KB page left so costs a fault when it is written again,
// a huge page one for all of its 2 MB). Whether a block is large follows
// from its room: a large block's room is all of its bytes.

constexpr std::size_t kHugePageBytes = std::size_t(2) << 20;

std::atomic<void*> g_keptBlock{nullptr};
std::atomic<bool> g_keepBlocks{false};

inline bool IsLargeRoom(int room) {
    return HeapBlockBytes(room) >= tk::detail::kLargeBodyBlockBytes;
}
// The bytes of a large block with room for `units`: whole huge pages.
inline std::size_t LargeBlockBytes(std::size_t units) {
    const std::size_t bytes = HeapBlockBytes(0) + units * sizeof(TKWCHAR);
    return (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
}
// The units a large block of `bytes` holds, beside its room word, header
// and terminator.
inline int RoomOfBytes(std::size_t bytes) {
    const std::size_t units = (bytes - HeapBlockBytes(0)) / sizeof(TKWCHAR);
    return units > static_cast<std::size_t>(kLongestText) ? static_cast<int>(kLongestText)
                                                          : static_cast<int>(units);
}
inline int RoomOfBlock(const void* block) {
    return *static_cast<const std::int32_t*>(block);
}

// Gives a block back, never keeping it.
void DropBlock(void* block) {
    const int room = RoomOfBlock(block);
    if (IsLargeRoom(room))
        tk::platform::FreeLargeBuffer(block, LargeBlockBytes(static_cast<std::size_t>(room)));
    else
        tk::detail::HeapFree(block);
}

// The kept block if it holds room units; null otherwise (it stays kept).
void* TakeKeptBlock(int room) {
    if (!g_keptBlock.load(std::memory_order_relaxed)) return nullptr;
    void* block = g_keptBlock.exchange(nullptr, std::memory_order_acquire);
    if (!block || RoomOfBlock(block) >= room) return block;
    // Too small for this body: kept on for the next, unless another went
    // meanwhile and took its place.
    void* none = nullptr;
    if (!g_keptBlock.compare_exchange_strong(none, block, std::memory_order_release))
        DropBlock(block);
    return nullptr;
}

// A block for at least room units; room becomes what it holds. A large one
// is the kept block when that has the room.
void* AllocBlock(int& room) {
    if (!IsLargeRoom(room)) return tk::detail::HeapAlloc(HeapBlockBytes(room));
    if (void* kept = TakeKeptBlock(room)) {
        room = RoomOfBlock(kept);
        return kept;
    }
    const std::size_t bytes = LargeBlockBytes(static_cast<std::size_t>(room));
    void* block = tk::platform::AllocLargeBuffer(bytes);
    room = RoomOfBytes(bytes);
    return block;
}

// Frees a block, or keeps it when it is large (and no larger than the cap):
// the former kept block goes then.
void FreeBlock(void* block) {
    const int room = RoomOfBlock(block);
    if (!IsLargeRoom(room)) {
        tk::detail::HeapFree(block);
        return;
    }
    const std::size_t bytes = LargeBlockBytes(static_cast<std::size_t>(room));
    if (bytes > tk::detail::kKeptBlockMaxBytes || !g_keepBlocks.load(std::memory_order_relaxed)) {
        tk::platform::FreeLargeBuffer(block, bytes);
        return;
    }
    // Its pages are written before they are read again, but for the first,
    // which holds the room word: the kernel may take the others back.
    if (bytes > kHugePageBytes)
        tk::platform::LetKernelReclaim(static_cast<char*>(block) + kHugePageBytes,
                                       bytes - kHugePageBytes);
    if (void* former = g_keptBlock.exchange(block, std::memory_order_acq_rel)) DropBlock(former);
}

// A body's block grown to hold room units; room becomes what the new block
// holds. textBytes (the body header, the text and its terminator) are kept:
// in place, moved with the pages, or copied into the kept block.
void* GrowBlock(void* block, std::size_t textBytes, int& room) {
    const int had = RoomOfBlock(block);
    if (!IsLargeRoom(room)) return tk::detail::HeapRealloc(block, HeapBlockBytes(room));
    void* grown = TakeKeptBlock(room);
    if (grown) {
        // Mapped pages to copy into beat fresh ones to move into.
        room = RoomOfBlock(grown);
        std::memcpy(BodyOfBlock(grown), BodyOfBlock(block), textBytes);
        FreeBlock(block);
        return grown;
    }
    const std::size_t bytes = LargeBlockBytes(static_cast<std::size_t>(room));
    if (IsLargeRoom(had)) {
        grown = tk::platform::ResizeLargeBuffer(
            block, LargeBlockBytes(static_cast<std::size_t>(had)), bytes);
    } else {
        grown = tk::platform::AllocLargeBuffer(bytes);
        std::memcpy(BodyOfBlock(grown), BodyOfBlock(block), textBytes);
        tk::detail::HeapFree(block);
    }
    room = RoomOfBytes(bytes);
    return grown;
}

// Room for a body that grows from `length` units to `needed`: half as much
// again as the text, so n one-unit appends cost O(log n) reallocations.
inline int GrownRoom(int length, int needed) {
    std::int64_t room = static_cast<std::int64_t>(length) + length / 2;
    if (room > kLongestText) room = kLongestText;
    return room > needed ? static_cast<int>(room) : needed;
}

}  // namespace

namespace tk::detail {

void OpenKeptBody() {
    g_keepBlocks.store(true, std::memory_order_relaxed);
}

void CloseKeptBody() {
    g_keepBlocks.store(false, std::memory_order_relaxed);
    if (void* block = g_keptBlock.exchange(nullptr, std::memory_order_acquire)) DropBlock(block);
}

}  // namespace tk::detail

namespace {

TKWCHAR g_allocFailed[] = TKL("Alloc failed!");
TKWCHAR g_reallocFailed[] = TKL("ReAlloc failed!");

}  // namespace

// ---- body management -----------------------------------------------------------

CTKString::Body* CTKString::NewBody(int length, int room) {
    Body* body;
    if (length <= kLargestPooledLength) {
        int pool = PoolIndexForLength(length);
        body = static_cast<Body*>(tk::detail::ScratchPool(pool).Alloc());
        body->capacity = 64 << pool;
    } else {
        if (room < length) room = length;
        void* block = AllocBlock(room);
        body = static_cast<Body*>(BodyOfBlock(block));
        body->Room() = room;
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
        FreeBlock(BlockOfBody(body));
}

void CTKString::ReleaseBody() {
    DropBody(Header());
    m_chars = EmptyChars();
}

CTKString::FormerBody CTKString::MoveToWritableBody(int minLength, Keep keep) {
    Body* body = Header();
    const int length = body->length;
    if (keep == Keep::kText && body->IsOwnedAlone() && body->IsOnHeap()) {
        // A heap body owned alone grows where the allocator can, with room
        // to spare; the reported capacity is what was asked for.
        int room = GrownRoom(length, minLength);
        void* block = GrowBlock(
            BlockOfBody(body),
            sizeof(Body) + (static_cast<std::size_t>(length) + 1) * sizeof(TKWCHAR), room);
        body = static_cast<Body*>(BodyOfBlock(block));
        body->Room() = room;
        body->capacity = minLength;
        m_chars = body->Chars();
        return FormerBody();
    }
    TKWCHAR* fresh;
    if (keep == Keep::kText) {
        // Only a body that grows gets spare room; a copy made to unshare
        // fits its text.
        const int units = minLength > length ? minLength : length;
        Body* made = NewBody(units, minLength > length ? GrownRoom(length, minLength) : units);
        CopyUnits(made->Chars(), m_chars, length + 1);
        made->length = length;
        fresh = made->Chars();
    } else {
        fresh = minLength > 0 ? NewBody(minLength)->Chars() : EmptyChars();
    }
    m_chars = fresh;
    return FormerBody(body);
}

void CTKString::AssignText(const TKWCHAR* text, int count) {
    if (count <= 0) count = 0;
    // In place when this string may write there (a locked body stays
    // locked); otherwise the former body lives until the copy is done, as
    // text may point into it.
    FormerBody former = PrepareToWrite(count, Keep::kNothing);
    if (IsFixed()) return;
    CopyUnits(m_chars, text, count);
    Header()->length = count;
    m_chars[count] = 0;
}

void CTKString::AppendText(const TKWCHAR* text, int count) {
    if (count <= 0) return;
    const int length = GetLength();
    const int total = length + count;
    const TKWCHAR* const before = m_chars;
    FormerBody former = PrepareToWrite(total, Keep::kText);
    // Text inside this string moved with it when the body moved (a body
    // that grew in place has no former copy): it is read at its offset.
    if (m_chars != before && text >= before && text < before + length)
        text = m_chars + (text - before);
    CopyUnits(m_chars + length, text, count);
    Header()->length = total;
    m_chars[total] = 0;
}

CTKString& CTKString::AppendUnit(TKWCHAR ch) {
    AppendText(&ch, 1);
    return *this;
}

void CTKString::AssignAnsi(const char* text) {
    int bytes = lstrlenA(text);
    if (bytes == 0) {
        // Nothing to convert: keep a private body at length 0.
        AssignText(nullptr, 0);
        return;
    }
    PrepareToWrite(bytes, Keep::kNothing);
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
    // A fixed body's length holds; a locked one may have been written
    // through its buffer without it.
    AssignText(src.m_chars, src.IsFixed() ? src.GetLength() : lstrlenW(src.m_chars));
}

CTKString::CTKString(TKWCHAR ch, int count) : m_chars(EmptyChars()) {
    if (count < 1) return;
    PrepareToWrite(count, Keep::kNothing);
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
    PrepareToWrite(count, Keep::kNothing);
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
    PrepareToWrite(GetLength(), Keep::kText);
    m_chars[index] = ch;
}

TKWCHAR* CTKString::GetBuffer(int minLength) {
    PrepareToWrite(minLength, Keep::kText);
    return m_chars;
}

void CTKString::ReleaseBuffer(int newLength) {
    PrepareToWrite(GetLength(), Keep::kText);
    if (IsFixed()) return;  // nothing to record; never write the record
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
    if (!IsFixed()) {
        Header()->length = newLength;
        m_chars[newLength] = 0;
    }
    return m_chars;
}

// Not a change of the text: the string moves to a body that fits, and a
// shared body is simply let go by this string.
void CTKString::FreeExtra() {
    Body* body = Header();
    const int length = body->length;
    const bool ownHeapBody = body->IsOwnedAlone() && body->IsOnHeap();
    if (length == body->capacity && !(ownHeapBody && body->Room() > length)) return;
    if (ownHeapBody && length > kLargestPooledLength) {
        // The block shrinks where it lies: no copy, no spare room. A large
        // text keeps up to an eighth more room, in whole huge pages: pages
        // never written cost no memory, and a block that is kept when the
        // body goes then holds a text that grew a little.
        void* block = BlockOfBody(body);
        const int had = body->Room();
        int room = length;
        if (IsLargeRoom(length)) {
            const std::size_t bytes =
                LargeBlockBytes(static_cast<std::size_t>(length) + length / 8);
            room = RoomOfBytes(bytes);
            if (room < had)
                block = tk::platform::ResizeLargeBuffer(
                    block, LargeBlockBytes(static_cast<std::size_t>(had)), bytes);
            else
                room = had;
        } else if (IsLargeRoom(had)) {
            // A short text leaves its large block for one of the heap.
            block = tk::detail::HeapAlloc(HeapBlockBytes(length));
            std::memcpy(BodyOfBlock(block), body,
                        sizeof(Body) + (static_cast<std::size_t>(length) + 1) * sizeof(TKWCHAR));
            FreeBlock(BlockOfBody(body));
        } else {
            block = tk::detail::HeapRealloc(block, HeapBlockBytes(length));
        }
        body = static_cast<Body*>(BodyOfBlock(block));
        body->Room() = room;
        body->capacity = length;
        m_chars = body->Chars();
        return;
    }
    TKWCHAR* fresh = length > 0 ? NewBody(length)->Chars() : EmptyChars();
    CopyUnits(fresh, m_chars, length);
    ReleaseBody();
    m_chars = fresh;
}

TKWCHAR* CTKString::LockBuffer() {
    PrepareToWrite(0, Keep::kText);
    if (!IsFixed()) Header()->Lock();
    return m_chars;
}

void CTKString::UnlockBuffer() {
    if (!IsFixed()) Header()->Unlock();
}

void CTKString::Empty() {
    // A zero-length body of its own (left by assigning empty text) is let go
    // as well, so Empty always gives memory back unless the body is locked.
    if (Header()->IsLocked()) {
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
