// The private records behind CMyJsonValue and CMyJsonObj, the growable list
// they keep their elements and items in, and the internal entry points that
// the reader and the writer share with the model.
#ifndef TAVIKFCU_JSON_JSON_RECORDS_H
#define TAVIKFCU_JSON_JSON_RECORDS_H

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "json/json_store.h"
#include "memory/heap.h"
#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"

namespace tk::detail {

// An ordered growable array of one-word items that may be moved in memory
// with memcpy: element pointers, and CTKStrings (one pointer into a body
// that never points back). The list itself is one pointer, to a heap block
// that holds the count, the capacity and the items; an empty list has no
// block. So a value or object record stays within three words. Items are
// constructed in place by the caller through EmplaceSlot/InsertSlot and
// destroyed by Clear/the destructor.
//
// The block of a list read from text may lie in a document store
// (json_store.h): it is never freed or grown in place, and a list that
// grows moves to a heap block.
template <typename T>
class RelocList {
    static_assert(sizeof(T) % sizeof(void*) == 0, "items are whole words");

    struct Block {
        std::int32_t size;
        std::int32_t capacity;  // negative: -capacity, in a document store
        // the items follow, word-aligned
        std::int32_t Capacity() const { return capacity < 0 ? -capacity : capacity; }
        bool IsStored() const { return capacity < 0; }
    };
    static_assert(sizeof(Block) == sizeof(void*), "the items start one word in");

  public:
    RelocList() = default;
    RelocList(const RelocList&) = delete;
    RelocList& operator=(const RelocList&) = delete;
    ~RelocList() { Clear(); }

    int Size() const { return m_block ? m_block->size : 0; }
    bool Empty() const { return Size() == 0; }
    T* Data() const { return m_block ? Items(m_block) : nullptr; }
    T& operator[](int i) const { return Items(m_block)[i]; }
    T& Back() const { return Items(m_block)[m_block->size - 1]; }

    // Raw room for one more item at the end; the caller constructs it.
    void* EmplaceSlot() {
        if (!m_block || m_block->size == m_block->Capacity()) Grow(Size() + 1);
        return &Items(m_block)[m_block->size++];
    }
    // Raw room for one item before index pos (0 <= pos <= size).
    void* InsertSlot(int pos) {
        if (!m_block || m_block->size == m_block->Capacity()) Grow(Size() + 1);
        T* items = Items(m_block);
        std::memmove(static_cast<void*>(&items[pos + 1]), &items[pos],
                     static_cast<std::size_t>(m_block->size - pos) * sizeof(T));
        ++m_block->size;
        return &items[pos];
    }
    // Forgets item pos without destroying it (its bytes were relocated or
    // ownership went elsewhere); later items move up.
    void Forget(int pos) {
        T* items = Items(m_block);
        std::memmove(static_cast<void*>(&items[pos]), &items[pos + 1],
                     static_cast<std::size_t>(m_block->size - pos - 1) * sizeof(T));
        --m_block->size;
    }
    void Erase(int pos) {
        Items(m_block)[pos].~T();
        Forget(pos);
    }
    // Takes n relocated items (their bytes) into an empty list of exactly n
    // capacity. The source items must not be destroyed afterwards.
    void AdoptRelocated(const T* items, int n) {
        Clear();
        if (n <= 0) return;
        Reserve(n);
        std::memcpy(static_cast<void*>(Items(m_block)), items,
                    static_cast<std::size_t>(n) * sizeof(T));
        m_block->size = n;
    }
    // AdoptRelocated into a block carved from store.
    void AdoptRelocatedStored(DocumentStore& store, const T* items, int n) {
        if (n <= 0) return AdoptRelocated(items, n);
        const std::size_t bytes = sizeof(Block) + static_cast<std::size_t>(n) * sizeof(T);
        Clear();
        auto* block = static_cast<Block*>(store.Allocate(bytes));
        block->size = n;
        block->capacity = -n;
        std::memcpy(static_cast<void*>(Items(block)), items,
                    static_cast<std::size_t>(n) * sizeof(T));
        m_block = block;
    }
    // Room for exactly n items in a block carved from store, for an empty
    // list that is then filled through EmplaceSlot.
    void ReserveStored(DocumentStore& store, int n) {
        if (n <= 0) return;
        Clear();
        auto* block = static_cast<Block*>(
            store.Allocate(sizeof(Block) + static_cast<std::size_t>(n) * sizeof(T)));
        block->size = 0;
        block->capacity = -n;
        m_block = block;
    }
    // Drops the items from index n on without destroying them.
    void ForgetFrom(int n) {
        if (m_block) m_block->size = n;
    }
    // Lets go of every item without destroying them (they were relocated).
    void ForgetAll() {
        if (m_block && !m_block->IsStored()) HeapFree(m_block);
        m_block = nullptr;
    }
    void Reserve(int n) {
        if (n > (m_block ? m_block->Capacity() : 0)) Reallocate(n);
    }
    // Destroys every item and frees the storage.
    void Clear() {
        if (!m_block) return;
        if (!std::is_trivially_destructible<T>::value) {
            T* items = Items(m_block);
            for (int i = 0; i < m_block->size; ++i) items[i].~T();
        }
        ForgetAll();
    }
    // Exchanges contents with another list.
    void Swap(RelocList& other) { std::swap(m_block, other.m_block); }

  private:
    static T* Items(Block* block) { return reinterpret_cast<T*>(block + 1); }

    void Grow(int minimum) {
        int capacity = m_block ? m_block->Capacity() : 0;
        int next = capacity < 4 ? 4 : capacity + capacity / 2;
        Reallocate(next < minimum ? minimum : next);
    }
    void Reallocate(int capacity) {
        int size = Size();
        const std::size_t bytes = sizeof(Block) + static_cast<std::size_t>(capacity) * sizeof(T);
        Block* block;
        if (m_block && m_block->IsStored()) {
            // The store keeps its block; the items move to the heap.
            block = static_cast<Block*>(HeapAlloc(bytes));
            std::memcpy(static_cast<void*>(Items(block)), Items(m_block),
                        static_cast<std::size_t>(size) * sizeof(T));
        } else {
            block = static_cast<Block*>(HeapRealloc(m_block, bytes));
        }
        block->size = size;
        block->capacity = capacity;
        m_block = block;
    }

    Block* m_block = nullptr;
};

static_assert(sizeof(RelocList<void*>) == sizeof(void*), "a list is one pointer");

// Where a value's or an object's record lives, and so what destroying it
// must do. Handles read from text live in a document store (json_store.h),
// most of them compact (no record at all, see CompactWord below); a record
// that a stored handle needs later comes from the heap.
enum class Placement : std::uint8_t {
    kHeap,             // a heap block of its own
    kBlock,            // in its handle's pool block (json_blocks.h)
    kStored,           // with its handle in a store, held by a record of that store
    kEscaped,          // with its handle in a store, held from outside it: the record
                       // holds one reference on the store
    kPromoted,         // on the heap, for a compact handle in a store that changed;
                       // held by a record of that store
    kPromotedEscaped,  // the same, held from outside the store (one reference)
};

// A handle read from text holds no record pointer but a tag: its word has
// bit 0 set (records are 8-aligned, so a record address never has), and the
// one word behind the handle in its store block is all it holds (a value's
// number, text, element list or object; an object's item list).
//
// A value's tag: bit 0 set, the kind in bits 1 to 3, the flag in bit 4. Both
// kinds of handle mark in bit 5 that they escaped their store (are held from
// outside it, with one reference on it).
struct CompactWord {
    static constexpr std::uintptr_t kCompact = 1;
    static constexpr int kKindShift = 1;
    static constexpr std::uintptr_t kKindMask = 7;
    static constexpr std::uintptr_t kFlag = 1 << 4;
    static constexpr std::uintptr_t kEscaped = 1 << 5;

    static constexpr std::uintptr_t Value(CMyJsonValue::EValueType kind, bool flag = false) {
        return kCompact | (static_cast<std::uintptr_t>(kind) << kKindShift) | (flag ? kFlag : 0);
    }
    static constexpr std::uintptr_t kObject = kCompact;
    static constexpr bool IsCompact(std::uintptr_t word) { return (word & kCompact) != 0; }
    static constexpr CMyJsonValue::EValueType Kind(std::uintptr_t word) {
        return static_cast<CMyJsonValue::EValueType>((word >> kKindShift) & kKindMask);
    }
};
static_assert(CMyJsonValue::eObj <= CompactWord::kKindMask, "every kind fits its bits");
static_assert(CompactWord::Kind(CompactWord::Value(CMyJsonValue::eArr, true)) == CMyJsonValue::eArr,
              "the flag stays out of the kind");

// One item of an object.
struct JsonItem {
    CTKString key;
    CMyJsonValue* value;
};
static_assert(sizeof(JsonItem) == 2 * sizeof(void*), "an item is a key and a pointer");

// Whole-tree walks without recursion (json_walks.cpp). DestroyDescendants
// destroys everything below a record (array elements, a held object, an
// object's items and keys) and leaves its lists empty; DestroyCompact does
// the same for a compact handle whose store has changed. They allocate
// nothing. CopyTree fills the fresh eEmpty record dst with a deep copy of
// src; CopyItems appends deep copies of src's items to dst. When memory runs
// out they throw std::bad_alloc and dst holds a sound partial copy.
void DestroyDescendants(CMyJsonValueImp& value);
void DestroyDescendants(CMyJsonObjImp& object);
void DestroyCompact(CMyJsonValue& value);
void DestroyCompact(CMyJsonObj& object);
void CopyTree(CMyJsonValueImp& dst, const CMyJsonValue& src);
void CopyItems(RelocList<JsonItem>& dst, const CMyJsonObj& src);

}  // namespace tk::detail

// The record behind a CMyJsonValue, three words. The text has a field of
// its own (it keeps what it held when the kind changes, and stays the empty
// text for a value that never held a string); the number, the object and
// the element list share one word, and which of them is live follows the
// kind: elements for eArr, number for eNumber, object (possibly null) for
// every other kind. Every member of that word is trivially relocatable (a
// double, a pointer, a one-pointer list), so records may swap it bytewise.
class CMyJsonValueImp {
  public:
    using ElementList = tk::detail::RelocList<CMyJsonValue*>;

    CMyJsonValueImp() : object(nullptr) {}
    ~CMyJsonValueImp() { Reset(); }
    CMyJsonValueImp(const CMyJsonValueImp&) = delete;
    CMyJsonValueImp& operator=(const CMyJsonValueImp&) = delete;

    CMyJsonValue::EValueType type = CMyJsonValue::eEmpty;
    bool flag = false;
    tk::detail::Placement where = tk::detail::Placement::kHeap;
    CTKString text;
    union {
        double number;
        CMyJsonObj* object;
        ElementList elements;
    };

    // Destroys the elements of an array or a held object, then makes the
    // value eEmpty. The text and the flag stay.
    void Reset() {
        if (type == CMyJsonValue::eArr) {
            if (!elements.Empty()) tk::detail::DestroyDescendants(*this);
            elements.~ElementList();
        } else if (type == CMyJsonValue::eObj && object) {
            tk::detail::DestroyDescendants(*this);
        }
        object = nullptr;
        type = CMyJsonValue::eEmpty;
    }
    // The kind setters expect an eEmpty record (fresh or Reset).
    void MakeNumber(double x) {
        number = x;
        type = CMyJsonValue::eNumber;
    }
    void MakeBool(bool b) {
        flag = b;
        type = CMyJsonValue::eBool;
    }
    void MakeObject(CMyJsonObj* o) {
        object = o;
        type = o ? CMyJsonValue::eObj : CMyJsonValue::eEmpty;
    }
    // An empty array; fill it through elements.
    ElementList& MakeArray() {
        new (&elements) ElementList();
        type = CMyJsonValue::eArr;
        return elements;
    }

    // What the accessors see: nothing of another kind.
    int ElementCount() const { return type == CMyJsonValue::eArr ? elements.Size() : 0; }
    CMyJsonObj* HeldObject() const { return type == CMyJsonValue::eObj ? object : nullptr; }

    // Exchanges everything but where the records live. The text and the
    // shared word move as bytes (a string is one pointer that nothing points
    // back to).
    void SwapContents(CMyJsonValueImp& other) {
        std::swap(type, other.type);
        std::swap(flag, other.flag);
        SwapWords(&text, &other.text);
        SwapWords(&number, &other.number);
    }

  private:
    static void SwapWords(void* a, void* b) {
        unsigned char held[sizeof(void*)];
        std::memcpy(held, a, sizeof held);
        std::memcpy(a, b, sizeof held);
        std::memcpy(b, held, sizeof held);
    }
};
static_assert(sizeof(CMyJsonValueImp) == 3 * sizeof(void*), "a value record is three words");

// The record behind a CMyJsonObj: the last Load's message and the items, in
// order. Keys are not unique.
class CMyJsonObjImp {
  public:
    CTKString error;
    tk::detail::RelocList<tk::detail::JsonItem> items;
    tk::detail::Placement where = tk::detail::Placement::kHeap;

    // Destroys every item value and key.
    void ReleaseItems();
};

// The model's handles and records, for the reader, the writer and the walks.
// Of() is for a handle known to hold a record (not compact).
struct TKJsonAccess {
    static CMyJsonValueImp& Of(const CMyJsonValue& v) { return *v.m_imp; }
    static CMyJsonObjImp& Of(const CMyJsonObj& o) { return *o.m_imp; }

    static std::uintptr_t Word(const CMyJsonValue& v) {
        return reinterpret_cast<std::uintptr_t>(v.m_imp);
    }
    static std::uintptr_t Word(const CMyJsonObj& o) {
        return reinterpret_cast<std::uintptr_t>(o.m_imp);
    }
    static void SetWord(CMyJsonValue& v, std::uintptr_t word) {
        v.m_imp = reinterpret_cast<CMyJsonValueImp*>(word);
    }
    static void SetWord(CMyJsonObj& o, std::uintptr_t word) {
        o.m_imp = reinterpret_cast<CMyJsonObjImp*>(word);
    }
    // The word behind a compact handle in its block.
    template <typename Handle>
    static void* Payload(const Handle& h) {
        static_assert(sizeof(Handle) == sizeof(void*), "a handle is one word");
        return const_cast<char*>(reinterpret_cast<const char*>(&h)) + sizeof(void*);
    }
};

namespace tk::detail {

using ItemList = RelocList<JsonItem>;
using ElementList = RelocList<CMyJsonValue*>;

template <typename Handle>
bool IsCompact(const Handle& h) {
    return CompactWord::IsCompact(TKJsonAccess::Word(h));
}

// The empty text that a compact value of another kind than eStr shows.
const CTKString& EmptyText();

// What a value holds, for either form of handle. The number, the element
// list and the object are meaningful for their own kind only, as in the
// record.
class ValueView {
  public:
    explicit ValueView(const CMyJsonValue& v) : m_handle(&v), m_word(TKJsonAccess::Word(v)) {}

    bool IsCompact() const { return CompactWord::IsCompact(m_word); }
    const CMyJsonValueImp& Record() const {
        return *reinterpret_cast<const CMyJsonValueImp*>(m_word);
    }
    CMyJsonValue::EValueType Kind() const {
        return IsCompact() ? CompactWord::Kind(m_word) : Record().type;
    }
    bool Flag() const { return IsCompact() ? (m_word & CompactWord::kFlag) != 0 : Record().flag; }
    double Number() const {
        return IsCompact() ? *static_cast<const double*>(Payload()) : Record().number;
    }
    const CTKString& Text() const {
        if (!IsCompact()) return Record().text;
        return Kind() == CMyJsonValue::eStr ? *static_cast<const CTKString*>(Payload())
                                            : EmptyText();
    }
    ElementList& Elements() const {
        return IsCompact() ? *static_cast<ElementList*>(Payload())
                           : const_cast<ElementList&>(Record().elements);
    }
    CMyJsonObj* Object() const {
        return IsCompact() ? *static_cast<CMyJsonObj* const*>(Payload()) : Record().object;
    }
    int ElementCount() const { return Kind() == CMyJsonValue::eArr ? Elements().Size() : 0; }
    CMyJsonObj* HeldObject() const { return Kind() == CMyJsonValue::eObj ? Object() : nullptr; }

  private:
    void* Payload() const { return TKJsonAccess::Payload(*m_handle); }

    const CMyJsonValue* m_handle;
    std::uintptr_t m_word;
};

// An object's items, for either form of handle.
inline ItemList& ItemsOf(const CMyJsonObj& o) {
    const std::uintptr_t word = TKJsonAccess::Word(o);
    if (CompactWord::IsCompact(word)) return *static_cast<ItemList*>(TKJsonAccess::Payload(o));
    return reinterpret_cast<CMyJsonObjImp*>(word)->items;
}
// An object's last Load message (empty for a compact one).
const CTKString& ErrorOf(const CMyJsonObj& o);

// Whether a record lies in a store (with its handle).
template <typename Record>
bool IsStored(const Record& record) {
    return record.where == Placement::kStored || record.where == Placement::kEscaped;
}

// Whether a record lies in a store that nothing has changed since it was
// read: then nothing below it needs destroying. A promoted record is not in
// a store, and its store has changed.
template <typename Record>
bool InUntouchedStore(const Record& record) {
    return IsStored(record) && DocumentStore::Of(&record)->IsUntouched();
}

// Whether a handle lies in a store: a compact one, or one whose record
// says so.
template <typename Handle>
bool InStore(const Handle& h) {
    if (IsCompact(h)) return true;
    const Placement where = TKJsonAccess::Of(h).where;
    return where != Placement::kHeap && where != Placement::kBlock;
}

template <typename Handle>
bool InUntouchedStoreHandle(const Handle& h) {
    return InStore(h) && DocumentStore::Of(&h)->IsUntouched();
}

// A handle in a store that is about to be held from outside it (handed to
// the caller, or spliced into another container) takes a reference on the
// store, so the store outlives the document it was read for.
template <typename Handle>
void Escape(Handle& h) {
    const std::uintptr_t word = TKJsonAccess::Word(h);
    if (CompactWord::IsCompact(word)) {
        if (word & CompactWord::kEscaped) return;
        TKJsonAccess::SetWord(h, word | CompactWord::kEscaped);
    } else {
        auto& record = TKJsonAccess::Of(h);
        if (record.where == Placement::kStored)
            record.where = Placement::kEscaped;
        else if (record.where == Placement::kPromoted)
            record.where = Placement::kPromotedEscaped;
        else
            return;
    }
    DocumentStore::Of(&h)->AddRef();
}

// Every change to a record goes through here first: a record read from text
// marks its store edited, so that it is no longer let go without a walk.
// (A promoted record's store was marked when it was promoted.)
template <typename Record>
void WillChange(const Record& record) {
    if (IsStored(record)) DocumentStore::Of(&record)->MarkEdited();
}

// The one step before any change to a handle's contents: a compact handle
// gets a record of its own (its store is marked edited), and a stored one
// marks its store. Returns the record.
CMyJsonValueImp& Promote(CMyJsonValue& value);
CMyJsonObjImp& Promote(CMyJsonObj& object);

// Before a change that needs no record (an object's items, which both forms
// hold in the same kind of list; the elements that leave an array that
// goes): only the store needs to know.
template <typename Handle>
void MarkStoreEdited(const Handle& h) {
    if (InStore(h)) DocumentStore::Of(&h)->MarkEdited();
}

}  // namespace tk::detail

namespace tk::detail {

// Reader entry points (json_reader.cpp). ReadDocumentObject fills obj's
// items from text that starts with "{" after blanks; ReadDocumentValue makes
// value the top-level value. Both report through error as Load does.
[[nodiscard]] bool ReadDocumentObject(const TKWCHAR* text, CMyJsonObjImp& obj, CTKString& error);
[[nodiscard]] bool ReadDocumentValue(const TKWCHAR* text, CMyJsonValueImp& value, CTKString& error);

// Writer entry points (json_writer.cpp).
CTKString WriteObjectText(const CMyJsonObj& obj, bool formatted);
CTKString WriteValueText(const CMyJsonValue& value, bool formatted);
// A NUL-terminated UTF-8 copy of text in a HeapAlloc buffer.
char* ToUtf8Buffer(const CTKString& text);

}  // namespace tk::detail

#endif  // TAVIKFCU_JSON_JSON_RECORDS_H
