// The document builder: the consumer of the reader's events that turns
// UTF-16 text into CMyJsonObj / CMyJsonValue, and the two Load entry points.
//
// Where the memory goes. Everything below the top of the document (values,
// objects, lists, strings) is carved from one document store (json_store.h),
// in text order. Values and objects are compact there: a handle and one word
// (json_records.h), which gets a record only when something changes it. The
// values the top holds escape the store: each holds a reference on it, and
// the top's own list and keys are ordinary heap memory, so that whatever the
// caller later does to the top (replace or remove an item) never leaves
// anything pointing into a store that has gone.
//
// Elements and items are gathered on two stacks shared by all nesting
// levels; when a container closes, its slice moves (memcpy) into a list of
// exactly its size, so no container keeps slack or regrows while it is
// read. Strings of up to 64 units go through a small per-document cache: a
// key or text seen before shows the earlier fixed body, which spares room
// and a copy for every repeated key.
#include <cstring>
#include <memory>

#include "json/json_blocks.h"
#include "json/json_reader.h"
#include "json/json_records.h"

namespace tk::detail {

namespace {

// Short strings seen earlier in one document, by a hash of their units.
// Each hash picks a set of two slots, which hold the last two fixed bodies
// that hashed to it; a new body replaces the one of the two used longer
// ago. So two texts that come back all the time (keys) never push each
// other out, and a text seen once (an id) displaces only another such text.
class StringCache {
  public:
    static constexpr int kSets = 128;
    static constexpr int kMaxUnits = 64;

    // Shows n units (1 <= n <= kMaxUnits) at s in the empty target.
    void Assign(DocumentStore& store, CTKString& target, const TKWCHAR* s, int n) {
        const int set = static_cast<int>(Hash(s, n) & (kSets - 1));
        int i = 2 * set;
        if (!Holds(i, s, n)) {
            ++i;
            if (!Holds(i, s, n)) {
                i = 2 * set + m_older[set];
                TKWCHAR* chars = store.NewFixedText(n);
                std::memcpy(chars, s, static_cast<std::size_t>(n) * sizeof(TKWCHAR));
                m_chars[i] = chars;
                m_lengths[i] = n;
            }
        }
        m_older[set] = static_cast<std::uint8_t>((i & 1) ^ 1);
        DocumentStore::ShowFixed(target, m_chars[i]);
    }

  private:
    // n units equal, four at a time (short texts: no library call).
    static bool SameUnits(const TKWCHAR* a, const TKWCHAR* b, int n) {
        int i = 0;
        for (; i + 4 <= n; i += 4) {
            std::uint64_t x, y;
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y) return false;
        }
        for (; i < n; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }
    // Length, the first and the last four units: cheap, and enough to keep
    // a document's distinct keys apart.
    static std::uint32_t Hash(const TKWCHAR* s, int n) {
        std::uint64_t a, b;
        if (n >= 4) {
            std::memcpy(&a, s, 8);
            std::memcpy(&b, s + n - 4, 8);
        } else {
            a = s[0] | (std::uint64_t(s[n - 1]) << 16) | (std::uint64_t(s[n / 2]) << 32);
            b = 0;
        }
        std::uint64_t h =
            (a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full) ^ std::uint64_t(n);
        return static_cast<std::uint32_t>(h >> 32) ^ static_cast<std::uint32_t>(h >> 13);
    }

    bool Holds(int i, const TKWCHAR* s, int n) const {
        return m_chars[i] && m_lengths[i] == n && SameUnits(m_chars[i], s, n);
    }

    TKWCHAR* m_chars[2 * kSets] = {};
    int m_lengths[2 * kSets] = {};
    std::uint8_t m_older[kSets] = {};  // the slot of each set used longer ago
};

// Builds the document from the reader's events. Members and elements are
// gathered on two stacks shared by all nesting levels, one frame per open
// container; when a container closes, its slice moves into a list of
// exactly its size and the container goes to its parent as one value.
class DocumentBuilder {
  public:
    // The top-level container or value lands in exactly one of these.
    DocumentBuilder(CMyJsonObjImp* rootObject, CMyJsonValueImp* rootValue)
        : m_rootObject(rootObject), m_rootValue(rootValue) {}
    // Whatever a failed read left on the stacks goes, then the store unless
    // the document holds it.
    ~DocumentBuilder() {
        for (int i = 0; i < m_items.Size(); ++i) {
            delete m_items[i].value;
            m_items[i].~JsonItem();
        }
        m_items.ForgetFrom(0);
        for (int i = 0; i < m_values.Size(); ++i) delete m_values[i];
        m_values.ForgetFrom(0);
        if (m_store) m_store->Release();
    }
    DocumentBuilder(const DocumentBuilder&) = delete;
    DocumentBuilder& operator=(const DocumentBuilder&) = delete;

    void BeginObject() { Push(true, m_items.Size()); }
    void BeginArray() { Push(false, m_values.Size()); }

    void Key(const TKWCHAR* s, int n, bool escaped) {
        auto* item = static_cast<JsonItem*>(m_items.EmplaceSlot());
        ShowEmpty(item->key);
        item->value = nullptr;
        if (m_depth == 1 && m_rootObject)
            OrdinaryText(item->key, s, n, escaped);  // the top's keys outlive its values
        else
            StoredText(item->key, s, n, escaped);
    }

    void EndObject() {
        const int base = m_frames[--m_depth].base;
        const int n = m_items.Size() - base;
        if (m_depth == 0 && m_rootObject) {
            m_rootObject->items.AdoptRelocated(m_items.Data() + base, n);
            m_items.ForgetFrom(base);
            RelocList<JsonItem>& items = m_rootObject->items;
            for (int i = 0; i < items.Size(); ++i) Escape(*items[i].value);
            return;
        }
        std::unique_ptr<CMyJsonObj> object(
            NewCompactHandle<CMyJsonObj>(Store(), CompactWord::kObject));
        ItemsOf(*object).AdoptRelocatedStored(Store(), m_items.Data() + base, n);
        m_items.ForgetFrom(base);
        if (m_depth == 0) {
            Escape(*object);
            m_rootValue->MakeObject(object.release());
            return;
        }
        std::unique_ptr<CMyJsonValue> value(NewValue(CMyJsonValue::eObj));
        *static_cast<CMyJsonObj**>(TKJsonAccess::Payload(*value)) = object.release();
        Deliver(value);
    }

    void EndArray() {
        const int base = m_frames[--m_depth].base;
        const int n = m_values.Size() - base;
        if (m_depth == 0) {
            CMyJsonValueImp::ElementList& elements = m_rootValue->MakeArray();
            elements.AdoptRelocated(m_values.Data() + base, n);
            m_values.ForgetFrom(base);
            for (int i = 0; i < elements.Size(); ++i) Escape(*elements[i]);
            return;
        }
        std::unique_ptr<CMyJsonValue> value(NewValue(CMyJsonValue::eArr));
        static_cast<ElementList*>(TKJsonAccess::Payload(*value))
            ->AdoptRelocatedStored(Store(), m_values.Data() + base, n);
        m_values.ForgetFrom(base);
        Deliver(value);
    }

    void String(const TKWCHAR* s, int n, bool escaped) {
        if (m_depth == 0) {
            m_rootValue->text.Empty();
            OrdinaryText(m_rootValue->text, s, n, escaped);
            m_rootValue->type = CMyJsonValue::eStr;
            return;
        }
        std::unique_ptr<CMyJsonValue> value(NewValue(CMyJsonValue::eStr));
        auto* text = static_cast<CTKString*>(TKJsonAccess::Payload(*value));
        ShowEmpty(*text);
        StoredText(*text, s, n, escaped);
        Deliver(value);
    }

    void Number(double x) {
        if (m_depth == 0) return m_rootValue->MakeNumber(x);
        std::unique_ptr<CMyJsonValue> value(NewValue(CMyJsonValue::eNumber));
        *static_cast<double*>(TKJsonAccess::Payload(*value)) = x;
        Deliver(value);
    }

    void Boolean(bool b) {
        if (m_depth == 0) return m_rootValue->MakeBool(b);
        std::unique_ptr<CMyJsonValue> value(NewValue(CMyJsonValue::eBool, b));
        Deliver(value);
    }

    // Only members are ever empty, never the top level.
    void Empty() {
        std::unique_ptr<CMyJsonValue> value(NewValue(CMyJsonValue::eEmpty));
        Deliver(value);
    }

  private:
    struct Frame {
        bool object;
        int base;  // where the container's slice starts on its stack
    };

    void Push(bool object, int base) { m_frames[m_depth++] = Frame{object, base}; }

    DocumentStore& Store() {
        if (!m_store) m_store = DocumentStore::Create();
        return *m_store;
    }

    // A compact value of the given kind; the caller fills its word.
    CMyJsonValue* NewValue(CMyJsonValue::EValueType kind, bool flag = false) {
        return NewCompactHandle<CMyJsonValue>(Store(), CompactWord::Value(kind, flag));
    }

    // A finished value goes to the innermost open container: as the value
    // of the member whose key came last, or as the next element.
    void Deliver(std::unique_ptr<CMyJsonValue>& value) {
        if (m_frames[m_depth - 1].object) {
            m_items.Back().value = value.release();
        } else {
            void* slot = m_values.EmplaceSlot();
            new (slot) CMyJsonValue*(value.release());
        }
    }

    // Text for the empty target in a fixed body of the store. A short
    // escaped text is decoded first, so that it too can show an earlier
    // body ("http:\/\/..." and quoted words come back often).
    void StoredText(CTKString& target, const TKWCHAR* s, int n, bool escaped) {
        if (n == 0) return;
        if (n <= StringCache::kMaxUnits) {
            if (!escaped) return m_cache.Assign(Store(), target, s, n);
            TKWCHAR decoded[StringCache::kMaxUnits];
            const int length = DecodeEscapes(s, n, decoded);
            if (length > 0) m_cache.Assign(Store(), target, decoded, length);
            return;
        }
        TKWCHAR* chars = Store().NewFixedText(n);
        if (escaped) {
            DocumentStore::SetFixedLength(chars, DecodeEscapes(s, n, chars));
        } else {
            std::memcpy(chars, s, static_cast<std::size_t>(n) * sizeof(TKWCHAR));
        }
        DocumentStore::ShowFixed(target, chars);
    }

    // Makes the word at target an empty string (whose body is shared and
    // never counted), without a constructor call per key and text.
    void ShowEmpty(CTKString& target) const {
        DocumentStore::ShowFixed(target, const_cast<TKWCHAR*>(m_emptyText));
    }

    // Text for the empty target in a body of its own.
    static void OrdinaryText(CTKString& target, const TKWCHAR* s, int n, bool escaped) {
        if (n == 0) return;
        if (!escaped) {
            std::memcpy(target.GetBufferSetLength(n), s,
                        static_cast<std::size_t>(n) * sizeof(TKWCHAR));
            return;
        }
        target.ReleaseBuffer(DecodeEscapes(s, n, target.GetBufferSetLength(n)));
    }

    CMyJsonObjImp* const m_rootObject;
    CMyJsonValueImp* const m_rootValue;
    DocumentStore* m_store = nullptr;  // made at the first value below the top
    const TKWCHAR* const m_emptyText = EmptyText();
    int m_depth = 0;
    Frame m_frames[kMaxJsonDepth + 1];
    RelocList<JsonItem> m_items;        // members of the open objects
    RelocList<CMyJsonValue*> m_values;  // elements of the open arrays
    StringCache m_cache;
};

}  // namespace

bool ReadDocumentObject(const TKWCHAR* text, CMyJsonObjImp& obj, CTKString& error) {
    WillChange(obj);
    obj.ReleaseItems();
    error.Empty();
    if (!text) {
        error = MessageText(JsonMessage::kNullText);
        return false;
    }
    DocumentBuilder builder(&obj, nullptr);
    JsonEventReader<DocumentBuilder> reader(text, builder, error);
    return reader.ReadObjectDocument();
}

bool ReadDocumentValue(const TKWCHAR* text, CMyJsonValueImp& value, CTKString& error) {
    WillChange(value);
    value.Reset();
    if (!text) {
        error = MessageText(JsonMessage::kNullText);
        return false;
    }
    // A top-level string replaces the text, and a failed one leaves it empty.
    const TKWCHAR* first = text;
    while (IsJsonBlank(*first)) ++first;
    if (*first == '"') value.text.Empty();
    DocumentBuilder builder(nullptr, &value);
    JsonEventReader<DocumentBuilder> reader(text, builder, error);
    return reader.ReadValueDocument();
}

}  // namespace tk::detail
