// TKString.h — the library's UTF-16 string, string utilities and code pages.
//
// CTKString is one pointer wide. It points at the characters of a body that
// carries, just before them, a reference count, a length and a capacity.
// Copies share a body; the first change gives a string its own body
// (copy-on-write), so passing strings by value costs one atomic count change:
//
//     CTKString a(TKL("hello"));
//     CTKString b = a;             // shares a's body
//     b.MakeUpper();               // b gets its own body: "HELLO"; a unchanged
//     b.Format(TKL("%s has %d chars"), (const TKWCHAR*)a, a.GetLength());
//
// Bodies of up to 512 characters come from the scratch pools (capacities 64,
// 128, 256, 512); longer bodies come from the heap, and GetAllocLength reports
// exactly what was asked for. A heap body that grows keeps spare room behind
// that capacity, so appending unit by unit stays linear; FreeExtra gives the
// spare room back. The empty string points at one static body and never
// allocates.
//
// Large bodies (over 2 M characters, blocks of 4 MB and more) come in whole
// 2 MB pages that the kernel is asked to back with huge pages, and keep up
// to an eighth more room than their text after FreeExtra (pages never
// written cost no memory). The library keeps one such block: that of the
// large body that went last (at most 1 GB), which the next body that needs
// a large block takes when it has the room, its pages still mapped. So a
// program that makes one large string after another (a JSON document
// written again and again) waits for fresh memory once. While kept, the
// block's pages but its first 2 MB are left for the kernel to take back
// when it runs short of memory; it is freed when the library is unloaded.
//
// Threads: reference counts are atomic, so copies of one string may be made
// and destroyed on different threads. One string object (and a body it owns
// alone) is changed by one thread at a time.
//
// Text lengths are UTF-16 code units. Operations that take the length from
// the body header keep NUL units inside the text; operations that measure the
// text like the C runtime stop at the first NUL. Each declaration says which.
//
// Narrow text (char*) is in the library's ANSI code page: UTF-8 by default,
// switchable at run time with tkSetAnsiCodePage (e.g. 936 or 1252). The code
// page is one process-wide setting: any thread may switch it at any time, and
// every thread's next conversion follows.
//
// Releasing: AllocANSIString and tkUnionPath results with tkFreeMem; BSTRs
// with tkSysFreeString; the pieces of SplitStr/tkSplitStr with
// FreeStrArr/tkFreeStrArr. A string's characters belong to the string and
// live until it changes or dies.
#ifndef TAVIKFCU_TKSTRING_H
#define TAVIKFCU_TKSTRING_H

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "TKTypes.h"

// ---- ANSI code page -----------------------------------------------------------

extern "C" {
// Selects the code page that narrow ("A") text uses throughout the library.
// 65001 (UTF-8, the default), 936 (GBK), 1252 and any code page the C
// library's iconv knows as "CP<n>" are accepted. Returns nonzero on success;
// an unknown code page leaves the setting unchanged and returns 0.
TK_API int tkSetAnsiCodePage(unsigned int codePage);
// The code page narrow text currently uses.
TK_API unsigned int tkGetAnsiCodePage(void);
}

// ---- CTKString ---------------------------------------------------------------

class TK_API CTKString {
  public:
    // -- construction --
    CTKString();
    // Shares the source's body; a locked source is copied up to its first
    // NUL instead, a fixed one (see Body) whole.
    CTKString(const CTKString& src);
    // ch repeated count times; count below 1 gives an empty string.
    CTKString(TKWCHAR ch, int count);
    // Copy up to the first NUL; null gives an empty string.
    CTKString(const TKWCHAR* text);
    // Exactly count units, NULs included; count 0 gives an empty string.
    CTKString(const TKWCHAR* text, int count);
    // Converted from the ANSI code page up to the first NUL; null gives empty.
    CTKString(const char* text);
    // Exactly count bytes converted from the ANSI code page.
    CTKString(const char* text, int count);
    CTKString(const unsigned char* text);
    ~CTKString();

    // -- assignment and concatenation --
    CTKString& operator=(const CTKString& src);
    CTKString& operator=(const TKWCHAR* text);
    CTKString& operator=(const char* text);
    CTKString& operator=(const unsigned char* text);
    CTKString& operator=(TKWCHAR ch);
    // The byte is widened by sign extension (0xE9 becomes U+FFE9); no code
    // page applies.
    CTKString& operator=(char ch);
    // Appends the other string's header length (NULs inside included).
    CTKString& operator+=(const CTKString& text);
    // Appends up to the first NUL; null appends nothing.
    CTKString& operator+=(const TKWCHAR* text);
    CTKString& operator+=(TKWCHAR ch);
    CTKString& operator+=(char ch);  // sign-extended as operator=(char)

    friend TK_API CTKString operator+(const CTKString& a, const CTKString& b);
    friend TK_API CTKString operator+(const CTKString& a, const TKWCHAR* b);
    friend TK_API CTKString operator+(const TKWCHAR* a, const CTKString& b);
    friend TK_API CTKString operator+(const CTKString& a, TKWCHAR b);
    friend TK_API CTKString operator+(TKWCHAR a, const CTKString& b);
    friend TK_API CTKString operator+(const CTKString& a, char b);
    friend TK_API CTKString operator+(char a, const CTKString& b);

    // -- access --
    int GetLength() const { return Header()->length; }
    int GetAllocLength() const { return Header()->capacity; }
    bool IsEmpty() const { return Header()->length == 0; }
    // Never null; the text is always NUL-terminated at GetLength().
    operator const TKWCHAR*() const { return m_chars; }
    // The index is not validated.
    TKWCHAR GetAt(int index) const { return m_chars[index]; }
    TKWCHAR operator[](int index) const { return m_chars[index]; }
    // Stores ch at index after making the body private; the length does not
    // change, so storing a NUL embeds it. The index is not validated.
    void SetAt(int index, TKWCHAR ch);

    // -- direct buffer access --
    // Room for at least minLength units (plus a terminator), privately owned.
    TKWCHAR* GetBuffer(int minLength);
    // Sets the length to newLength (-1, or any negative: measure up to the
    // first NUL); a length past the capacity is cut to the capacity.
    void ReleaseBuffer(int newLength = -1);
    // GetBuffer(newLength), then the length set to it (below 0: 0).
    TKWCHAR* GetBufferSetLength(int newLength);
    // Shrinks the body to the length (pooled bodies: to the pool that fits),
    // spare room of a heap body included (a large body keeps up to an eighth
    // more, see above); the capacity is then the length.
    void FreeExtra();
    // Makes the body private and locked: copies of this string copy the text
    // instead of sharing it, until UnlockBuffer.
    TKWCHAR* LockBuffer();
    void UnlockBuffer();
    void Empty();

    // -- conversion out --
    // A new BSTR with the header length (NULs kept). Throws a TKWCHAR*
    // pointing at "Alloc failed!" when it cannot be allocated.
    BSTR AllocSysString() const;
    // Reallocates *pbstr to hold this text. Throws a TKWCHAR* pointing at
    // "ReAlloc failed!" on failure.
    BSTR SetSysString(BSTR* pbstr) const;
    // A new heap buffer holding the text (up to its first NUL) in the ANSI
    // code page, always terminated: 2 * length + 1 bytes, or as many as the
    // code page needs when that is more (UTF-8 takes up to 3 bytes a unit).
    // Free with tkFreeMem.
    char* AllocANSIString() const;

    // -- searching --
    // Searches read the text the C-runtime way, up to its first NUL, and
    // return a position from the start of the string or -1 (not found).
    // Pointer arguments must not be null.
    //
    //     CTKString s(TKL("hello"));
    //     s.Find(TKL('l'));          // 2
    //     s.Find(TKL('l'), 5);       // -1: a character start must be below the length
    //     s.Find(TKL(""), 5);        // 5: a text start may equal it

    // -1 for an empty string; a NUL character finds the first NUL.
    int Find(TKWCHAR ch) const;
    // -1 when start is not below the length.
    int Find(TKWCHAR ch, int start) const;
    // An empty sub is found at 0.
    int Find(const TKWCHAR* sub) const;
    // -1 when start is above the length; an empty sub is found at start.
    int Find(const TKWCHAR* sub, int start) const;
    // The last occurrence.
    int ReverseFind(TKWCHAR ch) const;
    // The first character that is one of set.
    int FindOneOf(const TKWCHAR* set) const;

    // -- extracting --
    // New strings; this one is not changed. Arguments are clamped to the
    // text; a result covering the whole text shares this string's body (as
    // a copy would), anything else is a fresh copy with NULs inside kept.

    // first and count below 0 count as 0; count is cut at the end of the text.
    CTKString Mid(int first, int count);
    // From first to the end (Mid(-3) is the whole text).
    CTKString Mid(int first);
    // The first count units; count below 0 gives "".
    CTKString Left(int count);
    // The last count units; count below 0 gives "".
    CTKString Right(int count);
    // The leading run of characters that are in set.
    CTKString SpanIncluding(const TKWCHAR* set);
    // The leading run of characters that are not in set.
    CTKString SpanExcluding(const TKWCHAR* set);

    // -- editing --
    // Edits work on the header length (NULs inside the text are kept and
    // searched past) and leave copies that shared the body untouched. A body
    // grows only when its capacity is too small; a shared body is copied
    // only when something actually changes.

    // Every oldCh becomes newCh; returns how many. Equal characters: 0.
    int Replace(TKWCHAR oldCh, TKWCHAR newCh);
    // Every occurrence of oldText, left to right and not overlapping ("aa"
    // in "aaa" once), becomes newText; inserted text is not searched again.
    // Returns how many. A null or empty oldText does nothing; a null newText
    // counts as "". Either text may point into this string.
    int Replace(const TKWCHAR* oldText, const TKWCHAR* newText);
    // Removes every ch; returns how many were removed.
    int Remove(TKWCHAR ch);
    // Inserts ch before index (clamped to 0..length; a NUL is inserted too);
    // returns the new length.
    int Insert(int index, TKWCHAR ch);
    // Inserts text (up to its NUL; null or "" changes nothing) before index,
    // clamped to 0..length; returns the new length. text may point into
    // this string.
    int Insert(int index, const TKWCHAR* text);
    // Removes count units from index (below 0: 0), fewer at the end of the
    // text; count below 1 or index at or past the end changes nothing.
    // Returns the length before the deletion.
    int Delete(int index, int count = 1);

    // -- trimming --
    // The left trims remove a leading run and keep the rest of the header
    // length; the right trims look at the text up to its first NUL and cut
    // the run that ends there (a text with a NUL inside ends up cut at the
    // start of that run). White space is Unicode White_Space.

    void TrimLeft();
    // ch == 0 removes leading NULs.
    void TrimLeft(TKWCHAR ch);
    // Characters found in set; a null or empty set does nothing.
    void TrimLeft(const TKWCHAR* set);
    void TrimRight();
    void TrimRight(TKWCHAR ch);
    // Characters found in set; a null or empty set does nothing.
    void TrimRight(const TKWCHAR* set);
    // TrimLeft(), then TrimRight().
    void Trim();

    // -- case and order --
    // Up to the first NUL, by Unicode simple case mapping over the whole BMP
    // (one unit for one unit: "ß" stays "ß", "Σ" lower-cases to "σ" in every
    // position), independent of any locale.
    void MakeUpper();
    void MakeLower();
    // Reverses the units up to the first NUL (surrogate pairs are reversed
    // too, as the Windows runtime does).
    void MakeReverse();

    // -- comparison --
    // All read both texts up to their first NUL; text must not be null.

    // Ordinal by unsigned UTF-16 units: exactly -1, 0 or 1.
    int Compare(const TKWCHAR* text) const;
    // Case-insensitive by Unicode simple case folding, ordered by the folded
    // (lower-case) units: "B" against "a" is positive, "_" against "a"
    // negative, "ΣΑΣ" equals "σας". Only the sign is meaningful.
    int CompareNoCase(const TKWCHAR* text) const;
    // The C library's collation under the current LC_COLLATE (setlocale).
    int Collate(const TKWCHAR* text) const;
    // Collate of the case-folded texts.
    int CollateNoCase(const TKWCHAR* text) const;

    // -- formatting --
    // Replaces the text by printf-style output, with the Windows runtime's
    // wide conventions: %s/%c take TKWCHAR text, %S/%C narrow text in the
    // ANSI code page, and h (narrow) or l/w (wide) override either. Integer
    // sizes: hh, h, l (32 bits, the Windows long), ll and I64, I32, I/z/j/t
    // (pointer-sized); L reads a long double. Flags "-+ #0", '*' width and
    // precision; conversions d i o u x X e E f g G a A p n %. %p prints 16
    // upper-case hex digits, a null %s "(null)", %n stores nothing;
    // infinities and NaNs print inf, nan, -nan(ind). The decimal point is
    // '.' whatever the C locale says. A %c of 0 ends the text.
    // The body is sized once from an estimate of the output length, so a
    // string with room enough keeps its body ("%d items" fits a 64-unit
    // body); output longer than the estimate is formatted again into a body
    // that fits. The format and text arguments must not point into this
    // string. A null format leaves the string unchanged.
    // Widths and precisions up to INT_MAX are honoured; the digits past those
    // a double can have (1074 decimals for %f, 767 significant digits, 13
    // hex digits) are zeros. When the output would be longer than a string
    // can hold (2^31 - 2 units), or a conversion's text cannot be produced,
    // Format throws std::bad_alloc at once and leaves this string empty and
    // usable; nothing has been written past its body.
    void Format(const TKWCHAR* format, ...);
    void FormatV(const TKWCHAR* format, va_list args);

  private:
    // ---- copy-on-write ----------------------------------------------------------
    // The body header, immediately before the characters, is the one place that
    // knows how strings share text. The rules:
    //  - Copying a string shares its body and counts one more reference. The
    //    count changes atomically, so copies of one string may be made and
    //    dropped on different threads; nothing else in a body is ever written
    //    while another string can reach it.
    //  - A locked body (LockBuffer until UnlockBuffer) and the static empty
    //    record are never shared: a copy of either gets its own text, up to
    //    the first NUL. A locked string that is assigned to keeps its body and
    //    its lock and takes the text in.
    //  - Every change goes through PrepareToWrite first, which leaves the
    //    string a body nobody else holds (its own, or its locked one) with room
    //    for the change. A change that finds nothing to do leaves a shared body
    //    shared.
    //  - The last reference frees the body: to the scratch pool of its
    //    capacity (64, 128, 256, 512) or, for any other capacity, to the heap.
    //  - A body of capacity 0 is fixed: it lives in memory that something
    //    else owns and is never counted, freed or written. The static empty
    //    record is one; a JSON document read from text keeps its strings in
    //    fixed bodies of its own storage. Like a locked body, a fixed body is
    //    never shared: a copy gets its own text (all `length` units of it),
    //    and a change first moves the string to a body of its own.
    // The layout below (three 32-bit fields before the units, a heap block's
    // room in the word before them) is compiled into programs: copying,
    // destroying, assigning, GetLength and appending a unit are inline and
    // read and write it. Changing it changes the library's ABI and its SONAME.
    struct Body {
        std::int32_t refs;      // sharers; -1: locked, or fixed
        std::int32_t length;    // units before the terminator
        std::int32_t capacity;  // units of room; 0: fixed

        TKWCHAR* Chars() { return reinterpret_cast<TKWCHAR*>(this + 1); }

        // The count, read atomically: another string holding this body may be
        // copied or dropped on another thread meanwhile.
        std::int32_t Refs() const { return tkAtomicLoad(&refs); }
        bool IsFixed() const { return capacity == 0; }
        bool IsLocked() const { return !IsFixed() && Refs() < 0; }
        // Whether copies may share it: neither locked nor fixed.
        bool IsShareable() const { return Refs() >= 0; }
        // Whether more than one string holds it.
        bool IsShared() const { return Refs() >= 2; }
        // Whether one unlocked string holds it.
        bool IsOwnedAlone() const { return Refs() == 1; }
        // Whether the string holding it may write units of text in place:
        // nobody else holds it and it has the room. True of the empty record
        // for 0 units only (its terminator is already there), never of
        // another fixed body (its length exceeds its capacity).
        bool CanWriteInPlace(int units) const {
            return Refs() < 2 && units <= capacity && length <= capacity;
        }

        // Bodies above 512 units live on the heap, and their block keeps, in
        // one word just before the header, its room: the units of text it can
        // hold, at least the capacity. The capacity reports what was asked for.
        bool IsOnHeap() const { return capacity > 512; }
        std::int32_t& Room() {
            return *reinterpret_cast<std::int32_t*>(reinterpret_cast<std::uintptr_t>(this) - 4);
        }
        // Refs() < 2 and the room for units, or else a heap body owned alone
        // whose block has the room: then the capacity moves up to `units` and
        // the body stays. A locked body never grows in place (growing ends the
        // lock). A fixed body holding text passes for 0 units only, which
        // PrepareToWrite rules out; appending a unit always needs room.
        bool MakeRoomInPlace(int units) {
            const std::int32_t sharers = Refs();
            if (sharers < 2 && units <= capacity) return true;
            if (sharers != 1 || !IsOnHeap() || units > Room()) return false;
            capacity = units;
            return true;
        }

        void AddRef() { tkAtomicIncrement(&refs); }
        // Lets go of one reference; true when it was the last, and the body is
        // to be freed. A sole owner (or a locked body) needs no atomic change:
        // nobody else can reach the body to add a reference.
        bool DropRef() { return Refs() <= 1 || tkAtomicDecrement(&refs) <= 1; }
        void Lock() { refs = -1; }
        void Unlock() { refs = 1; }
    };
    static_assert(sizeof(Body) == 12, "the body header is three 32-bit fields");

    // The body a string left in PrepareToWrite, alive (so text that pointed
    // into it stays readable) until this goes out of scope, then let go.
    // Empty when the string kept its body.
    class FormerBody {
      public:
        explicit FormerBody(Body* body = nullptr) : m_body(body) {}
        FormerBody(FormerBody&& other) noexcept : m_body(other.m_body) { other.m_body = nullptr; }
        FormerBody& operator=(FormerBody&& other) noexcept {
            std::swap(m_body, other.m_body);
            return *this;
        }
        FormerBody(const FormerBody&) = delete;
        FormerBody& operator=(const FormerBody&) = delete;
        ~FormerBody() {
            if (m_body) DropBody(m_body);
        }
        explicit operator bool() const { return m_body != nullptr; }
        const TKWCHAR* Chars() const { return m_body->Chars(); }

      private:
        Body* m_body;
    };

    // What a change needs of the current text when the body must move.
    enum class Keep {
        kText,     // the new body starts with the text and its length
        kNothing,  // the change writes the whole text; 0 units: the empty record
    };

    Body* Header() const { return reinterpret_cast<Body*>(m_chars) - 1; }
    bool IsFixed() const { return Header()->IsFixed(); }

    // The one step before every change: makes this string's body one that
    // nobody else holds, with room for at least minLength units. A body that
    // already is (CanWriteInPlace) is kept, locked or not. Otherwise the
    // string moves to a new body of max(minLength, length) units (kText) or
    // of minLength units (kNothing), and the old body comes back as a
    // FormerBody: a change that reads from the old text (text that may point
    // into this string) keeps it in a variable until it is done; a change
    // that does not lets the temporary go at once. A heap body owned alone
    // grows in place: within the spare room of its block (only the reported
    // capacity moves), else where the heap can extend the block, leaving
    // spare room again; nothing comes back then.
    FormerBody PrepareToWrite(int minLength, Keep keep) {
        Body* body = Header();
        if (body->length <= body->capacity && body->MakeRoomInPlace(minLength)) return FormerBody();
        return MoveToWritableBody(minLength, keep);
    }
    FormerBody MoveToWritableBody(int minLength, Keep keep);

    // Internal body operations shared by the storage, editing and formatting
    // code. Each leaves the string pointing at a valid body.
    void ReleaseBody();
    void AssignText(const TKWCHAR* text, int count);
    void AppendText(const TKWCHAR* text, int count);
    // operator+=(TKWCHAR) when the body must move or grow past its block.
    CTKString& AppendUnit(TKWCHAR ch);
    void AssignAnsi(const char* text);
    void CopyUnshareable(const CTKString& src);
    CTKString& AssignUnshareable(const CTKString& src);
    static void DropBody(Body* body);
    // A body of `length` units; a heap body's block has room for at least
    // `room` units (the reported capacity is still `length`).
    static Body* NewBody(int length, int room = 0);
    static void FreeBody(Body* body);

    TKWCHAR* m_chars;
};

static_assert(sizeof(CTKString) == sizeof(void*), "a CTKString is one pointer");

// Copying and destroying are the hot paths of a shared string: one atomic
// count change each, inline. Everything else lives in the library.
inline CTKString::CTKString(const CTKString& src) : m_chars(src.m_chars) {
    Body* body = Header();
    if (body->IsShareable())
        body->AddRef();
    else
        CopyUnshareable(src);  // locked, or fixed
}

inline void CTKString::DropBody(Body* body) {
    if (body->IsFixed()) return;
    if (body->DropRef()) FreeBody(body);
}

inline CTKString::~CTKString() {
    DropBody(Header());
}

// Building text unit by unit: in place, without a call, while the body has
// the room; a body that must grow or be unshared is left to the library.
// The length is read as unsigned on purpose: each append reads the field the
// one before it stored, and the x86 cores measured hand that value to a plain
// load far sooner than to a sign-extending one (twice the cost per append).
// The unit and the terminator after it go to memory in one 32-bit store.
inline CTKString& CTKString::operator+=(TKWCHAR ch) {
    TKWCHAR* const chars = m_chars;
    Body* const body = Header();
    const std::uint32_t length = static_cast<std::uint32_t>(body->length);
    const std::int32_t units = static_cast<std::int32_t>(length) + 1;
    if (!body->MakeRoomInPlace(units)) return AppendUnit(ch);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    const std::uint32_t unitThenNul = static_cast<std::uint32_t>(ch) << 16;
#else
    const std::uint32_t unitThenNul = ch;
#endif
    std::memcpy(chars + length, &unitThenNul, sizeof unitThenNul);
    body->length = units;
    return *this;
}

inline CTKString& CTKString::operator=(const CTKString& src) {
    Body* mine = Header();
    Body* theirs = src.Header();
    // Sharing applies when neither side is locked; the rest is out of line.
    if (mine == theirs || !theirs->IsShareable() || mine->IsLocked()) return AssignUnshareable(src);
    theirs->AddRef();
    m_chars = src.m_chars;
    DropBody(mine);
    return *this;
}

// Ordinal comparisons, as CTKString::Compare.
TK_API bool operator==(const CTKString& a, const CTKString& b);
TK_API bool operator==(const CTKString& a, const TKWCHAR* b);
TK_API bool operator==(const TKWCHAR* a, const CTKString& b);
TK_API bool operator!=(const CTKString& a, const CTKString& b);
TK_API bool operator!=(const CTKString& a, const TKWCHAR* b);
TK_API bool operator!=(const TKWCHAR* a, const CTKString& b);
TK_API bool operator<(const CTKString& a, const CTKString& b);
TK_API bool operator<(const CTKString& a, const TKWCHAR* b);
TK_API bool operator<(const TKWCHAR* a, const CTKString& b);
TK_API bool operator>(const CTKString& a, const CTKString& b);
TK_API bool operator>(const CTKString& a, const TKWCHAR* b);
TK_API bool operator>(const TKWCHAR* a, const CTKString& b);
TK_API bool operator<=(const CTKString& a, const CTKString& b);
TK_API bool operator<=(const CTKString& a, const TKWCHAR* b);
TK_API bool operator<=(const TKWCHAR* a, const CTKString& b);
TK_API bool operator>=(const CTKString& a, const CTKString& b);
TK_API bool operator>=(const CTKString& a, const TKWCHAR* b);
TK_API bool operator>=(const TKWCHAR* a, const CTKString& b);

// ---- string utilities --------------------------------------------------------

namespace TKStringUtils {

// Code-page conversions into caller buffers. Each converts the source up to
// and including its NUL and returns the units (bytes) written, terminator
// included. A null buffer with size 0 returns the size needed; a null
// buffer with another size, or a size of 0 with a buffer, returns 0. A
// buffer that is too small returns size + 1 (INT_MAX for one of INT_MAX
// units) and holds the text cut after the last whole character that fits
// before a terminator inside the buffer (never half a multi-byte sequence or
// surrogate pair).
TK_API int Unicode2Ansi(const TKWCHAR* src, char* buffer, int size);
TK_API int Ansi2Unicode(const char* src, TKWCHAR* buffer, int size);
TK_API int Unicode2UTF8(const TKWCHAR* src, char* buffer, int size);
TK_API int UTF82Unicode(const char* src, TKWCHAR* buffer, int size);

// Splits text at sep into heap pieces appended to out (emptied first, without
// freeing what it held). n separators give n + 1 pieces, empty ones
// included: "a;b;;c" gives "a", "b", "", "c"; "a;" gives "a", "". A null or
// empty text gives none. Returns the number of pieces. Free them with
// FreeStrArr.
TK_API int SplitStr(const TKWCHAR* text, TKWCHAR sep, std::vector<TKWCHAR*>& out);
// Frees every piece and empties the array.
TK_API void FreeStrArr(std::vector<TKWCHAR*>& arr);
// With trim, strips spaces (U+0020 only) from both ends of every piece; with
// dropEmpty, frees and removes pieces that are (then) empty.
TK_API void AdjustStrArr(std::vector<TKWCHAR*>& arr, bool trim, bool dropEmpty);

// Wildcard match of the whole text: '*' any run (also none), '?' exactly
// one character (never the end of the text); a run of '*' counts as one.
// Characters matched by the pattern's part after its last '*' must lie
// behind those matched before it: "ab*b" does not match "ab" (it matches
// "abb"). Without caseSensitive both sides are compared upper-cased
// (Unicode simple case mapping). A null pattern or text gives false.
TK_API bool StrIsMatching(const TKWCHAR* pattern, const TKWCHAR* text, bool caseSensitive);

// Length-prefixed ANSI string records on a binary stream: a signed 32-bit
// little-endian count of the bytes that follow (text and NUL), the text in
// the ANSI code page (up to its first NUL), one NUL byte. "abc" is written
// as 04 00 00 00 61 62 63 00.
TK_API void WriteString(FILE* file, const CTKString& s);
// Reads one record into s. A count below 1 or above 10240, or fewer bytes
// than the count, gives false with s untouched (the count bytes are then
// consumed). A record without a NUL reads as all of its count bytes; reading
// never goes past the count.
TK_API bool ReadString(FILE* file, CTKString& s);

}  // namespace TKStringUtils

extern "C" {
// Makes path (trimmed of white space) a full path relative to the folder
// base, with '\' separators on every platform ('/' become '\'): leading
// ".\" are dropped and each leading "..\" climbs one folder of base.
// Paths with a drive (a ':' after the first character) or a network prefix
// ("\\") are kept as they are; an empty path gives base with one trailing
// '\'. Returns false, leaving path half-done, when it climbs above the top
// of base or starts with any other dot name (".cfg", "..x").
//
//     base "C:/data/", path "x/y.txt"  ->  "C:\data\x\y.txt"
//     base "C:/data/", path "..\z"     ->  "C:\z"
TK_API bool tkUnionPathEx(const CTKString& base, CTKString& path);
// TKStringUtils::SplitStr and FreeStrArr under plain exported names.
TK_API int tkSplitStr(const TKWCHAR* text, TKWCHAR sep, std::vector<TKWCHAR*>& out);
TK_API void tkFreeStrArr(std::vector<TKWCHAR*>& arr);
// A new heap path (free with tkFreeMem), or null when either argument is null
// or the path cannot be resolved.
TK_API TKWCHAR* tkUnionPath(const TKWCHAR* base, const TKWCHAR* path);
}

#endif  // TAVIKFCU_TKSTRING_H
