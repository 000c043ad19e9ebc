// The document builder: the consumer of the reader's events that turns
// UTF-16 text into CMyJsonObj / CMyJsonValue, and the two Load entry points.
//
// Where the memory goes. Elements and items are gathered on two stacks
// shared by all nesting levels; when a container closes, its slice moves
// (memcpy) into a list of exactly its size, so no container keeps slack or
// regrows while it is read. Strings of up to 64 units go through a small
// per-document cache: a key or text seen before shares the earlier body
// (copy-on-write keeps that invisible), which spares a pool block and a copy
// for every repeated key.
#include <cstring>
#include <memory>

#include "json/json_reader.h"
#include "json/json_records.h"

namespace tk::detail {

namespace {

// Short strings seen earlier in one document, by a hash of their units.
// A slot holds the last string that hashed to it.
class StringCache {
  public:
    static constexpr int kSlots = 256;
    static constexpr int kMaxUnits = 64;  // one smallest pool body

    StringCache() { std::memset(m_used, 0, sizeof m_used); }
    ~StringCache() {
        for (int i = 0; i < kSlots; ++i)
            if (IsUsed(i)) Slot(i).~CTKString();
    }
    StringCache(const StringCache&) = delete;
    StringCache& operator=(const StringCache&) = delete;

    // Gives the empty target the n units at s.
    void Assign(CTKString& target, const TKWCHAR* s, int n) {
        if (n > kMaxUnits) return Copy(target, s, n);
        AssignShort(target, s, n);
    }

    // Assign for n of at most kMaxUnits.
    void AssignShort(CTKString& target, const TKWCHAR* s, int n) {
        if (n == 0) return;
        int i = static_cast<int>(Hash(s, n) & (kSlots - 1));
        if (!IsUsed(i)) {
            Copy(target, s, n);
            new (m_slots[i]) CTKString(target);
            m_used[i / 32] |= 1u << (i % 32);
            return;
        }
        CTKString& cached = Slot(i);
        if (cached.GetLength() == n &&
            std::memcmp(static_cast<const TKWCHAR*>(cached), s, n * sizeof(TKWCHAR)) == 0) {
            target = cached;
            return;
        }
        Copy(target, s, n);
        cached = target;
    }

  private:
    static void Copy(CTKString& target, const TKWCHAR* s, int n) {
        std::memcpy(target.GetBufferSetLength(n), s, n * sizeof(TKWCHAR));
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
    bool IsUsed(int i) const { return m_used[i / 32] & (1u << (i % 32)); }
    CTKString& Slot(int i) { return *std::launder(reinterpret_cast<CTKString*>(m_slots[i])); }

    alignas(CTKString) unsigned char m_slots[kSlots][sizeof(CTKString)];
    std::uint32_t m_used[kSlots / 32];
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
    // Whatever a failed read left on the stacks goes.
    ~DocumentBuilder() {
        for (int i = 0; i < m_items.Size(); ++i) {
            delete m_items[i].value;
            m_items[i].~JsonItem();
        }
        m_items.ForgetFrom(0);
        for (int i = 0; i < m_values.Size(); ++i) delete m_values[i];
        m_values.ForgetFrom(0);
    }
    DocumentBuilder(const DocumentBuilder&) = delete;
    DocumentBuilder& operator=(const DocumentBuilder&) = delete;

    void BeginObject() { Push(true, m_items.Size()); }
    void BeginArray() { Push(false, m_values.Size()); }

    void Key(const TKWCHAR* s, int n, bool escaped) {
        auto* item = new (m_items.EmplaceSlot()) JsonItem{CTKString(), nullptr};
        Text(item->key, s, n, escaped);
    }

    void EndObject() {
        const int base = m_frames[--m_depth].base;
        const int n = m_items.Size() - base;
        if (m_depth == 0 && m_rootObject) {
            m_rootObject->items.AdoptRelocated(&m_items[base], n);
            m_items.ForgetFrom(base);
            return;
        }
        std::unique_ptr<CMyJsonObj> object(new CMyJsonObj);
        TKJsonAccess::Of(*object).items.AdoptRelocated(&m_items[base], n);
        m_items.ForgetFrom(base);
        if (m_depth == 0) {
            m_rootValue->MakeObject(object.release());
            return;
        }
        std::unique_ptr<CMyJsonValue> value(new CMyJsonValue);
        TKJsonAccess::Of(*value).MakeObject(object.release());
        Deliver(value);
    }

    void EndArray() {
        const int base = m_frames[--m_depth].base;
        const int n = m_values.Size() - base;
        if (m_depth == 0) {
            m_rootValue->MakeArray().AdoptRelocated(&m_values[base], n);
            m_values.ForgetFrom(base);
            return;
        }
        std::unique_ptr<CMyJsonValue> value(new CMyJsonValue);
        TKJsonAccess::Of(*value).MakeArray().AdoptRelocated(&m_values[base], n);
        m_values.ForgetFrom(base);
        Deliver(value);
    }

    void String(const TKWCHAR* s, int n, bool escaped) {
        if (m_depth == 0) {
            m_rootValue->text.Empty();
            Text(m_rootValue->text, s, n, escaped);
            m_rootValue->type = CMyJsonValue::eStr;
            return;
        }
        std::unique_ptr<CMyJsonValue> value(new CMyJsonValue);
        CMyJsonValueImp& imp = TKJsonAccess::Of(*value);
        Text(imp.text, s, n, escaped);
        imp.type = CMyJsonValue::eStr;
        Deliver(value);
    }

    void Number(double x) {
        if (m_depth == 0) return m_rootValue->MakeNumber(x);
        std::unique_ptr<CMyJsonValue> value(new CMyJsonValue(x));
        Deliver(value);
    }

    void Boolean(bool b) {
        if (m_depth == 0) return m_rootValue->MakeBool(b);
        std::unique_ptr<CMyJsonValue> value(new CMyJsonValue(b));
        Deliver(value);
    }

    // Only members are ever empty, never the top level.
    void Empty() {
        std::unique_ptr<CMyJsonValue> value(new CMyJsonValue);
        Deliver(value);
    }

  private:
    struct Frame {
        bool object;
        int base;  // where the container's slice starts on its stack
    };

    void Push(bool object, int base) { m_frames[m_depth++] = Frame{object, base}; }

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

    // A short escaped text is decoded first, so that it too can share an
    // earlier body ("http:\/\/..." and quoted words come back often).
    void Text(CTKString& target, const TKWCHAR* s, int n, bool escaped) {
        if (!escaped) return m_cache.Assign(target, s, n);
        if (n <= StringCache::kMaxUnits) {
            TKWCHAR decoded[StringCache::kMaxUnits];
            return m_cache.AssignShort(target, decoded, DecodeEscapes(s, n, decoded));
        }
        target.ReleaseBuffer(DecodeEscapes(s, n, target.GetBufferSetLength(n)));
    }

    CMyJsonObjImp* const m_rootObject;
    CMyJsonValueImp* const m_rootValue;
    int m_depth = 0;
    Frame m_frames[kMaxJsonDepth + 1];
    RelocList<JsonItem> m_items;        // members of the open objects
    RelocList<CMyJsonValue*> m_values;  // elements of the open arrays
    StringCache m_cache;
};

}  // namespace

bool ReadDocumentObject(const TKWCHAR* text, CMyJsonObjImp& obj, CTKString& error) {
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
