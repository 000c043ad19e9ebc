// The JSON text reader: UTF-16 text into CMyJsonObj / CMyJsonValue.
//
// One pass with one cursor over text whose end (its first NUL) is measured
// up front, so scans can run eight units at a time. The reader is lenient in
// its loops (optional and trailing commas, text after the top level) and
// strict elsewhere (numbers need a delimiter, keys need quotes).
//
// Where the memory goes. Elements and items are gathered on two stacks
// shared by all nesting levels; when a container closes, its slice moves
// (memcpy) into a list of exactly its size, so no container keeps slack or
// regrows while it is read. Strings of up to 64 units go through a small
// per-document cache: a key or text seen before shares the earlier body
// (copy-on-write keeps that invisible), which spares a pool block and a copy
// for every repeated key.
#include <climits>
#include <cstring>
#include <memory>

#include "json/json_number.h"
#include "json/json_records.h"
#include "json/text_scan.h"

namespace tk::detail {

namespace {

// Containers nested deeper than this are refused, so that hostile text
// cannot exhaust the stack.
constexpr int kMaxDepth = 512;
// Messages quote at most this many units of the text.
constexpr int kExcerptUnits = 50;

const TKWCHAR kInvalidKey[] = TKL("Invalid key: ");
const TKWCHAR kNoColon[] = TKL("Can't find ':' : ");
const TKWCHAR kInvalidString[] = TKL("Invalid string : ");
const TKWCHAR kInvalidNumber[] = TKL("Invalid number : ");
const TKWCHAR kNoClosingBrace[] = TKL("Can't find '}' : ");
const TKWCHAR kNoOpeningBrace[] = TKL("Can't find { ");
const TKWCHAR kNullText[] = TKL("json字符串为NULL");
const TKWCHAR kBadTopString[] = TKL("无效的字符串");
const TKWCHAR kBadTopNumber[] = TKL("无效的json字符串");
const TKWCHAR kTooDeep[] = TKL("Nesting deeper than 512 levels : ");

inline bool IsBlank(TKWCHAR c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Blank, ",", "]", "}" or the terminating NUL.
inline bool IsDelimiter(TKWCHAR c) {
    return c == ',' || c == ']' || c == '}' || IsBlank(c) || c == 0;
}

inline bool StartsWithTrue(const TKWCHAR* p) {
    return p[0] == 't' && p[1] == 'r' && p[2] == 'u' && p[3] == 'e';
}
inline bool StartsWithFalse(const TKWCHAR* p) {
    return p[0] == 'f' && p[1] == 'a' && p[2] == 'l' && p[3] == 's' && p[4] == 'e';
}
inline bool StartsWithNull(const TKWCHAR* p) {
    return p[0] == 'n' && p[1] == 'u' && p[2] == 'l' && p[3] == 'l';
}

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
        if (n == 0) return;
        if (n > kMaxUnits) {
            Copy(target, s, n);
            return;
        }
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

class Reader {
  public:
    Reader(const TKWCHAR* text, CTKString& error)
        : m_p(text), m_end(text + TextLength(text)), m_error(error) {}

    // Only an exception (out of memory) can leave things on the stacks.
    ~Reader() {
        DiscardItems(0);
        DiscardValues(0);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    void SkipBlanks() {
        while (IsBlank(*m_p)) ++m_p;
    }
    TKWCHAR Peek() const { return *m_p; }
    const TKWCHAR* Cursor() const { return m_p; }
    bool AtEnd() const { return m_p == m_end; }
    void Advance(int units) { m_p += units; }

    // Cursor just behind "{": reads the members into items (empty on entry).
    [[nodiscard]] bool ReadObjectItems(RelocList<JsonItem>& items, int depth);
    // Cursor just behind "{": a new heap object in result, or null.
    [[nodiscard]] bool ReadObject(CMyJsonObj*& result, int depth);
    // Cursor just behind "[": the elements into list (left empty on failure).
    [[nodiscard]] bool ReadArray(RelocList<CMyJsonValue*>& list, int depth);
    // Cursor just behind the opening quote; sets no message.
    [[nodiscard]] bool ReadQuoted(CTKString& text);
    // Sets no message.
    [[nodiscard]] bool ReadNumber(double& number);

    void SetError(const TKWCHAR* message, const TKWCHAR* at) {
        std::size_t left = static_cast<std::size_t>(m_end - at);
        int n = left > kExcerptUnits ? kExcerptUnits : static_cast<int>(left);
        CTKString text(message);
        text += CTKString(at, n);
        m_error = text;
    }
    void SetError(const TKWCHAR* message) { m_error = message; }
    bool HasError() const { return !m_error.IsEmpty(); }

  private:
    [[nodiscard]] bool TooDeep(int depth) {
        if (depth <= kMaxDepth) return false;
        SetError(kTooDeep, m_p - 1);
        return true;
    }
    // Reads the value of a member or an element that starts with '{', '['
    // or a quote; the cursor is on that unit.
    [[nodiscard]] bool ReadNested(std::unique_ptr<CMyJsonValue>& value, int depth);
    void DiscardItems(int base) {
        for (int i = base; i < m_items.Size(); ++i) {
            delete m_items[i].value;
            m_items[i].~JsonItem();
        }
        m_items.ForgetFrom(base);
    }
    void DiscardValues(int base) {
        for (int i = base; i < m_values.Size(); ++i) delete m_values[i];
        m_values.ForgetFrom(base);
    }
    static void Decode(CTKString& text, const TKWCHAR* s, int n);

    const TKWCHAR* m_p;
    const TKWCHAR* const m_end;
    CTKString& m_error;
    RelocList<JsonItem> m_items;        // members of the objects being read
    RelocList<CMyJsonValue*> m_values;  // elements of the arrays being read
    StringCache m_cache;
};

void Reader::Decode(CTKString& text, const TKWCHAR* s, int n) {
    TKWCHAR* out = text.GetBufferSetLength(n);
    int length = 0;
    for (int i = 0; i < n; ++i) {
        TKWCHAR c = s[i];
        if (c == '\\') {
            c = s[++i];  // the scan guarantees a unit after every backslash
            if (c == 't')
                c = '\t';
            else if (c == 'r')
                c = '\r';
            else if (c == 'n')
                c = '\n';
        }
        out[length++] = c;
    }
    text.ReleaseBuffer(length);
}

bool Reader::ReadQuoted(CTKString& text) {
    const TKWCHAR* q = m_p;
    bool escaped = false;
    for (;;) {
        q = FindQuoteOrBackslash(q, m_end);
        if (q == m_end) return false;
        if (*q == '"') break;
        if (q + 1 == m_end) return false;  // a backslash as the last unit
        escaped = true;
        q += 2;
    }
    std::size_t units = static_cast<std::size_t>(q - m_p);
    if (units > INT_MAX / 2) return false;  // beyond what a string can hold
    if (escaped)
        Decode(text, m_p, static_cast<int>(units));
    else
        m_cache.Assign(text, m_p, static_cast<int>(units));
    m_p = q + 1;
    return true;
}

bool Reader::ReadNumber(double& number) {
    SkipBlanks();
    if (AtEnd()) return false;
    const TKWCHAR* start = m_p;
    const TKWCHAR* stop = start;
    double value = 0;
    bool exact = ParseDecimalFast(start, &stop, &value);
    // The number's own units never delimit, so the token goes on from stop.
    const TKWCHAR* delimiter = stop;
    while (!IsDelimiter(*delimiter)) ++delimiter;
    if (delimiter == m_end) return false;  // a number must be followed by something
    number = exact ? value : ParseNumberPrefix(start, delimiter);
    m_p = delimiter;
    return true;
}

bool Reader::ReadNested(std::unique_ptr<CMyJsonValue>& value, int depth) {
    TKWCHAR c = *m_p;
    if (c == '"') {
        const TKWCHAR* quote = m_p++;
        value.reset(new CMyJsonValue);
        CMyJsonValueImp& imp = TKJsonAccess::Of(*value);
        if (!ReadQuoted(imp.text)) {
            SetError(kInvalidString, quote);
            return false;
        }
        imp.type = CMyJsonValue::eStr;
        return true;
    }
    ++m_p;
    if (c == '{') {
        CMyJsonObj* object;
        if (!ReadObject(object, depth + 1)) return false;
        value.reset(new CMyJsonValue);
        CMyJsonValueImp& imp = TKJsonAccess::Of(*value);
        imp.MakeObject(object);
        return true;
    }
    value.reset(new CMyJsonValue);
    CMyJsonValueImp& imp = TKJsonAccess::Of(*value);
    return ReadArray(imp.MakeArray(), depth + 1);
}

bool Reader::ReadObjectItems(RelocList<JsonItem>& items, int depth) {
    if (TooDeep(depth)) return false;
    SkipBlanks();
    // Quoted when nothing better is known: from one unit before the first
    // non-blank, which is the "{" itself when no blank follows it.
    const TKWCHAR* start = m_p - 1;
    const int base = m_items.Size();
    if (*m_p == '}') {
        ++m_p;
        return true;
    }
    if (*m_p != '"') goto fail;
    for (;;) {
        // Key: the cursor is on its opening quote.
        const TKWCHAR* keyStart = ++m_p;
        const int slot = m_items.Size();
        new (m_items.EmplaceSlot()) JsonItem{CTKString(), nullptr};
        if (!ReadQuoted(m_items[slot].key)) {
            SetError(kInvalidKey, keyStart);
            goto fail;
        }
        SkipBlanks();
        if (*m_p != ':') {
            SetError(kNoColon, m_p);
            goto fail;
        }
        ++m_p;
        SkipBlanks();

        std::unique_ptr<CMyJsonValue> value;
        switch (TKWCHAR c = *m_p) {
            case '{':
            case '[':
            case '"':
                if (!ReadNested(value, depth)) goto fail;
                break;
            case ',':
            case '}':
                value.reset(new CMyJsonValue);  // "a":, and "a":} give empty values
                break;
            default:
                if (c == 't' && StartsWithTrue(m_p)) {
                    m_p += 4;
                    value.reset(new CMyJsonValue(true));
                } else if (c == 'f' && StartsWithFalse(m_p)) {
                    m_p += 5;
                    value.reset(new CMyJsonValue(false));
                } else if (c == 'n' && StartsWithNull(m_p)) {
                    m_p += 4;
                    value.reset(new CMyJsonValue);
                } else {
                    const TKWCHAR* numberStart = m_p;
                    double number;
                    if (!ReadNumber(number)) {
                        SetError(kInvalidNumber, numberStart);
                        goto fail;
                    }
                    value.reset(new CMyJsonValue(number));
                }
        }
        m_items[slot].value = value.release();

        SkipBlanks();
        if (*m_p == ',') {
            ++m_p;
            SkipBlanks();
        }
        if (*m_p == '}') {
            ++m_p;
            items.AdoptRelocated(&m_items[base], m_items.Size() - base);
            m_items.ForgetFrom(base);
            return true;
        }
        if (*m_p != '"') goto fail;
    }

fail:
    if (!HasError()) SetError(kNoClosingBrace, start);
    DiscardItems(base);
    return false;
}

bool Reader::ReadObject(CMyJsonObj*& result, int depth) {
    result = nullptr;
    RelocList<JsonItem> items;
    if (!ReadObjectItems(items, depth)) return false;
    auto* object = new CMyJsonObj;
    TKJsonAccess::Of(*object).items.Swap(items);
    result = object;
    return true;
}

bool Reader::ReadArray(RelocList<CMyJsonValue*>& list, int depth) {
    if (TooDeep(depth)) return false;
    SkipBlanks();
    if (*m_p == ']') {
        ++m_p;
        return true;
    }
    if (AtEnd()) return false;  // no message of its own
    const int base = m_values.Size();
    for (;;) {
        std::unique_ptr<CMyJsonValue> value;
        switch (TKWCHAR c = *m_p) {
            case '{':
            case '[':
            case '"':
                if (!ReadNested(value, depth)) goto fail;
                break;
            case '}':
                SetError(kInvalidNumber, m_p);
                goto fail;
            default:
                if (c == 't' && StartsWithTrue(m_p)) {
                    m_p += 4;
                    value.reset(new CMyJsonValue(true));
                } else if (c == 'f' && StartsWithFalse(m_p)) {
                    m_p += 5;
                    value.reset(new CMyJsonValue(false));
                } else {
                    // null, a comma or a word: a number token reading as 0.
                    const TKWCHAR* numberStart = m_p;
                    double number;
                    if (!ReadNumber(number)) {
                        SetError(kInvalidNumber, numberStart);
                        goto fail;
                    }
                    value.reset(new CMyJsonValue(number));
                }
        }
        new (m_values.EmplaceSlot()) CMyJsonValue*(value.release());

        SkipBlanks();
        if (*m_p == ',') {
            ++m_p;
            SkipBlanks();
        }
        if (*m_p == ']') {
            ++m_p;
            list.AdoptRelocated(&m_values[base], m_values.Size() - base);
            m_values.ForgetFrom(base);
            return true;
        }
        if (AtEnd()) goto fail;  // no message of its own
    }

fail:
    DiscardValues(base);
    return false;
}

}  // namespace

bool ReadDocumentObject(const TKWCHAR* text, CMyJsonObjImp& obj, CTKString& error) {
    obj.ReleaseItems();
    error.Empty();
    if (!text) {
        error = kNullText;
        return false;
    }
    Reader reader(text, error);
    reader.SkipBlanks();
    if (reader.Peek() != '{') {
        reader.SetError(kNoOpeningBrace);
        return false;
    }
    reader.Advance(1);
    // Text after the closing "}" is ignored.
    return reader.ReadObjectItems(obj.items, 1);
}

bool ReadDocumentValue(const TKWCHAR* text, CMyJsonValueImp& value, CTKString& error) {
    value.Reset();
    if (!text) {
        error = kNullText;
        return false;
    }
    Reader reader(text, error);
    reader.SkipBlanks();
    // Text after the value is ignored.
    switch (reader.Peek()) {
        case '{': {
            reader.Advance(1);
            CMyJsonObj* object;
            if (!reader.ReadObject(object, 1)) return false;
            value.MakeObject(object);
            return true;
        }
        case '"':
            reader.Advance(1);
            value.text.Empty();
            if (!reader.ReadQuoted(value.text)) {
                value.text.Empty();
                reader.SetError(kBadTopString);
                return false;
            }
            value.type = CMyJsonValue::eStr;
            return true;
        case '[':
            reader.Advance(1);
            if (reader.ReadArray(value.MakeArray(), 1)) return true;
            value.Reset();
            return false;
        default:
            break;
    }
    // "true" and "false" need no delimiter at the top: "trueish" is true.
    if (StartsWithTrue(reader.Cursor()) || StartsWithFalse(reader.Cursor())) {
        value.MakeBool(reader.Peek() == 't');
        return true;
    }
    double number;
    if (!reader.ReadNumber(number)) {
        reader.SetError(kBadTopNumber);
        return false;
    }
    value.MakeNumber(number);
    return true;
}

}  // namespace tk::detail
