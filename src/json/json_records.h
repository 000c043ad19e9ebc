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

#include "core/heap.h"
#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"

namespace tk::detail {

// An ordered growable array of one-word items that may be moved in memory
// with memcpy: element pointers, and CTKStrings (one pointer into a body
// that never points back). 16 bytes, so a value record stays small. Items
// are constructed in place by the caller through Emplace/InsertSlot and
// destroyed by Clear/the destructor.
template <typename T>
class RelocList {
    static_assert(sizeof(T) % sizeof(void*) == 0, "items are whole words");

  public:
    RelocList() = default;
    RelocList(const RelocList&) = delete;
    RelocList& operator=(const RelocList&) = delete;
    ~RelocList() { Clear(); }

    int Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }
    T* Data() const { return m_data; }
    T& operator[](int i) const { return m_data[i]; }
    T& Back() const { return m_data[m_size - 1]; }

    // Raw room for one more item at the end; the caller constructs it.
    void* EmplaceSlot() {
        if (m_size == m_capacity) Grow(m_size + 1);
        return &m_data[m_size++];
    }
    // Raw room for one item before index pos (0 <= pos <= size).
    void* InsertSlot(int pos) {
        if (m_size == m_capacity) Grow(m_size + 1);
        std::memmove(static_cast<void*>(&m_data[pos + 1]), &m_data[pos],
                     static_cast<std::size_t>(m_size - pos) * sizeof(T));
        ++m_size;
        return &m_data[pos];
    }
    // Forgets item pos without destroying it (its bytes were relocated or
    // ownership went elsewhere); later items move up.
    void Forget(int pos) {
        std::memmove(static_cast<void*>(&m_data[pos]), &m_data[pos + 1],
                     static_cast<std::size_t>(m_size - pos - 1) * sizeof(T));
        --m_size;
    }
    void Erase(int pos) {
        m_data[pos].~T();
        Forget(pos);
    }
    // Takes n relocated items (their bytes) into an empty list of exactly n
    // capacity. The source items must not be destroyed afterwards.
    void AdoptRelocated(const T* items, int n) {
        Clear();
        if (n <= 0) return;
        Reserve(n);
        std::memcpy(static_cast<void*>(m_data), items, static_cast<std::size_t>(n) * sizeof(T));
        m_size = n;
    }
    // Drops the items from index n on without destroying them.
    void ForgetFrom(int n) { m_size = n; }
    // Lets go of every item without destroying them (they were relocated).
    void ForgetAll() {
        HeapFree(m_data);
        m_data = nullptr;
        m_size = m_capacity = 0;
    }
    void Reserve(int n) {
        if (n > m_capacity) Reallocate(n);
    }
    // Destroys every item and frees the storage.
    void Clear() {
        for (int i = 0; i < m_size; ++i) m_data[i].~T();
        ForgetAll();
    }
    // Exchanges contents with another list.
    void Swap(RelocList& other) {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

  private:
    void Grow(int minimum) {
        int next = m_capacity < 4 ? 4 : m_capacity + m_capacity / 2;
        Reallocate(next < minimum ? minimum : next);
    }
    void Reallocate(int capacity) {
        m_data =
            static_cast<T*>(HeapRealloc(m_data, static_cast<std::size_t>(capacity) * sizeof(T)));
        m_capacity = capacity;
    }

    T* m_data = nullptr;
    std::int32_t m_size = 0;
    std::int32_t m_capacity = 0;
};

static_assert(sizeof(RelocList<void*>) == 16, "a list is a pointer and two counts");

// One item of an object.
struct JsonItem {
    CTKString key;
    CMyJsonValue* value;
};
static_assert(sizeof(JsonItem) == 2 * sizeof(void*), "an item is a key and a pointer");

}  // namespace tk::detail

// The record behind a CMyJsonValue. Only the field of the current kind is
// meaningful; elements is empty and object null for every other kind. The
// small fields share the first word so that a handle and its record fit a
// 56-byte block.
class CMyJsonValueImp {
  public:
    CMyJsonValue::EValueType type = CMyJsonValue::eEmpty;
    bool flag = false;
    bool embedded = false;  // lives in its handle's block (json_blocks.h)
    CTKString text;
    double number = 0;
    tk::detail::RelocList<CMyJsonValue*> elements;
    CMyJsonObj* object = nullptr;

    // Destroys the elements and the object, leaving an empty list and null.
    void ReleaseContainers();
    // Exchanges everything but where the records live.
    void SwapContents(CMyJsonValueImp& other);
};
static_assert(sizeof(CMyJsonValueImp) == 48, "a value record is six words");

// The record behind a CMyJsonObj: the last Load's message and the items, in
// order. Keys are not unique.
class CMyJsonObjImp {
  public:
    CTKString error;
    tk::detail::RelocList<tk::detail::JsonItem> items;
    bool embedded = false;  // lives in its handle's block (json_blocks.h)

    // Destroys every item value and key.
    void ReleaseItems();
};

// The model's records, for the reader and the writer.
struct TKJsonAccess {
    static CMyJsonValueImp& Of(const CMyJsonValue& v) { return *v.m_imp; }
    static CMyJsonObjImp& Of(const CMyJsonObj& o) { return *o.m_imp; }
};

namespace tk::detail {

// Reader entry points (json_reader.cpp). ReadDocumentObject fills obj's
// items from text that starts with "{" after blanks; ReadDocumentValue makes
// value the top-level value. Both report through error as Load does.
[[nodiscard]] bool ReadDocumentObject(const TKWCHAR* text, CMyJsonObjImp& obj, CTKString& error);
[[nodiscard]] bool ReadDocumentValue(const TKWCHAR* text, CMyJsonValueImp& value, CTKString& error);

// Writer entry points (json_writer.cpp).
CTKString WriteObjectText(const CMyJsonObjImp& obj, bool formatted);
CTKString WriteValueText(const CMyJsonValue& value, bool formatted);
// A NUL-terminated UTF-8 copy of text in a HeapAlloc buffer.
char* ToUtf8Buffer(const CTKString& text);

}  // namespace tk::detail

#endif  // TAVIKFCU_JSON_JSON_RECORDS_H
