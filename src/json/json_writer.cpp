// The JSON text writer: CMyJsonObj / CMyJsonValue into UTF-16 text, compact
// or laid out over CR LF lines with TAB indents.
//
// The text goes to a destination (json_text_out.h) that hands the writer a
// window to fill: CreateJson writes straight into the result string's body,
// which grows with the text and is cut to it at the end, so the text is
// written once and never joined or concatenated; a saved file gets it a
// window at a time, converted to its code page. Layout rules:
//  - object: "{", then each item on its own line (formatted) as indent + TAB,
//    "key":value, "," between items; then indent and "}". Keys are written
//    as they are. An empty value is "null".
//  - array: "[", scalars inline and comma-separated; an object element opens
//    a new line for the first element only, an array element always does;
//    container elements end their line; an empty element writes nothing
//    (its comma stays).
//  - numbers: "%.15f" with the trailing zeros and point dropped
//    (FormatFixed15); strings: quote, backslash, TAB, CR and LF escaped.
// Nested containers are written by the same loop as their parent, from a
// stack of open containers: no recursion, whatever the depth.
#include <cmath>
#include <cstring>
#include <new>

#include "json/json_number.h"
#include "json/json_records.h"
#include "json/json_text_out.h"
#include "json/walk_stack.h"
#include "platform/features.h"
#include "platform/large_buffer.h"

#if TK_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace tk::detail {

namespace {

// The longest text a CTKString holds.
constexpr std::size_t kMaxTextUnits = 2147483646;
// Units of a string value escaped per request for room: every unit may
// double, and the vector loop stores eight units ahead.
constexpr std::size_t kStringStep = (JsonTextOut::kMaxRoom - 16) / 2;

// Moves n units; below 17 units with overlapping fixed-size moves, which
// compile to a load and a store each (keys and short strings are the bulk
// of a document). Never reads past src + n.
inline void CopyUnits(TKWCHAR* dst, const TKWCHAR* src, std::size_t n) {
    if (n >= 8) {
        if (n > 64) {
            std::memcpy(dst, src, n * sizeof(TKWCHAR));
            return;
        }
        for (std::size_t i = 0; i + 8 < n; i += 8) std::memcpy(dst + i, src + i, 16);
        std::memcpy(dst + n - 8, src + n - 8, 16);
    } else if (n >= 4) {
        std::memcpy(dst, src, 8);
        std::memcpy(dst + n - 4, src + n - 4, 8);
    } else if (n >= 2) {
        std::memcpy(dst, src, 4);
        std::memcpy(dst + n - 2, src + n - 2, 4);
    } else if (n == 1) {
        dst[0] = src[0];
    }
}

inline bool IsEscaped(TKWCHAR c) {
    return c == '"' || c == '\\' || c == '\t' || c == '\n' || c == '\r';
}
// The letter behind the backslash.
inline TKWCHAR EscapeLetter(TKWCHAR c) {
    return c == '\t' ? TKWCHAR('t') : c == '\r' ? TKWCHAR('r') : c == '\n' ? TKWCHAR('n') : c;
}

constexpr TKWCHAR kTabRun[64] = {
    '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t',
    '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t',
    '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t',
    '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t'};

// The text goes straight into the result's own body, written once. When the
// window is full the body is asked for twice the room, past 2 MB for an
// eighth more: where its block has the room that only moves the capacity;
// otherwise the string storage moves the text to a larger block. A large
// block comes with its spare room, and the block kept from the last large
// body that went (string/kept_body.h) usually holds the whole of the next
// text: a program that writes one large document after another fills pages
// that are already mapped, and the text never moves.
//
// A large region is handed to the writer a step at a time, the pages of
// each step mapped by the kernel in one call first: a page fault every few
// hundred values would otherwise interrupt the walk over the document.
class StringOut final : public JsonTextOut {
  public:
    CTKString Finish() {
        if (m_first) {
            m_text.ReleaseBuffer(static_cast<int>(pos - m_first));
            m_text.FreeExtra();
        }
        return m_text;
    }

  private:
    static constexpr std::size_t kFirstUnits = 2048;
    static constexpr std::size_t kDoublingUnits = 1024 * 1024;
    static constexpr std::size_t kStepUnits = 128 * 1024;
    static constexpr std::size_t kPrefaultUnits = 32 * 1024;

    void MakeRoom(std::size_t n) override {
        if (static_cast<std::size_t>(m_limit - pos) >= n) return Expose(n);
        const std::size_t used = m_first ? static_cast<std::size_t>(pos - m_first) : 0;
        // A text no string can hold is refused as soon as it grows past that.
        if (n > kMaxTextUnits - used) throw std::bad_alloc();
        // Below 2 MB the body doubles; past that the steps are an eighth
        // of the text, so that the last one overshoots the block's room as
        // little as it may (a large block has room to spare).
        const std::size_t region = static_cast<std::size_t>(m_limit - m_first);
        std::size_t more = region < kDoublingUnits ? region : used / 8;
        if (more < kFirstUnits) more = kFirstUnits;
        if (more < n) more = n;
        const std::size_t capacity = more < kMaxTextUnits - used ? used + more : kMaxTextUnits;
        if (m_first) m_text.ReleaseBuffer(static_cast<int>(used));
        m_first = m_text.GetBuffer(static_cast<int>(capacity));
        Enter(m_first + used, m_first + capacity, n);
    }

    // Writing goes on at `at`, in a region that ends at limit; n units are
    // asked for.
    void Enter(TKWCHAR* at, TKWCHAR* limit, std::size_t n) {
        pos = at;
        m_end = at;
        m_limit = limit;
        Expose(n);
    }
    // Hands the writer the next step of the region (at least n units).
    void Expose(std::size_t n) {
        const std::size_t left = static_cast<std::size_t>(m_limit - pos);
        if (left <= kStepUnits) {
            // The region's last step. A few pages are left to fault one by
            // one: most come warm from the heap anyway.
            if (m_limit - m_end >= static_cast<std::ptrdiff_t>(kPrefaultUnits))
                tk::platform::PrefaultForWrite(m_end, (m_limit - m_end) * sizeof(TKWCHAR));
            m_end = m_limit;
            return;
        }
        TKWCHAR* const from = m_end > pos ? m_end : pos;
        m_end = pos + (n > kStepUnits ? n : kStepUnits);
        if (m_end > from) tk::platform::PrefaultForWrite(from, (m_end - from) * sizeof(TKWCHAR));
    }

    CTKString m_text;
    TKWCHAR* m_first = nullptr;  // the body of m_text
    TKWCHAR* m_limit = nullptr;  // the end of the region m_end lies in
};

// ---- reading ahead --------------------------------------------------------------
// A document lies scattered over more memory than the caches hold, and each
// entry is a chain of records (the value's handle and record, a string's
// body, a held object's record and its items). The walk asks for the
// entries ahead of the one it writes, one link further the nearer they are,
// so that their cache misses overlap instead of following one another.

inline void Touch(const void* p) {
#if TK_COMPILER_GNU_LIKE
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}
inline void TouchText(const CTKString& text) {
    Touch(static_cast<const TKWCHAR*>(text) - 4);  // the body's header and first units
}
// The record of a value whose handle is in the cache by now (a compact
// value has none: its word is in the handle's line).
inline void TouchRecord(const CMyJsonValue* value) {
    const std::uintptr_t word = TKJsonAccess::Word(*value);
    if (!CompactWord::IsCompact(word)) Touch(reinterpret_cast<const void*>(word));
}
// What a value points at.
inline void TouchContents(const CMyJsonValue* value) {
    const ValueView view(*value);
    const CMyJsonValue::EValueType kind = view.Kind();
    if (kind == CMyJsonValue::eStr)
        TouchText(view.Text());
    else if (kind == CMyJsonValue::eObj)
        Touch(view.Object());
    else if (kind == CMyJsonValue::eArr)
        Touch(view.Elements().Data());
}
// The items of an object value whose object is in the cache by now.
inline void TouchItems(const CMyJsonValue* value) {
    if (CMyJsonObj* held = ValueView(*value).HeldObject()) Touch(ItemsOf(*held).Data());
}
// An object just opened: the keys and values of its first items at once.
inline void TouchFirstItems(const ItemList& items) {
    const int n = items.Size() < 8 ? items.Size() : 8;
    for (int i = 0; i < n; ++i) {
        TouchText(items[i].key);
        Touch(items[i].value);
    }
}

class Writer {
  public:
    Writer(bool formatted, JsonTextOut& out) : m_out(out), m_formatted(formatted) {}

    // An object, or an array, and everything inside it, written at indent.
    void WriteTree(const ItemList* object, const ElementList* array, int indent);
    // A scalar as it stands after "key": (nothing for an empty value).
    void WriteScalar(const ValueView& value) { Scalar(value); }

  private:
    // One open object or array of the walk. Its items or elements before
    // `next` are written; an item whose value is itself open below counts
    // as written once that value closes.
    struct Frame {
        const ItemList* object;  // one of object and array is set
        const ElementList* array;
        int next;
        int count;
        int indent;
        bool lastWasContainer;  // arrays: the element just written
    };
    // Writes the opening of a container; its frame, with nothing written.
    Frame Open(const ItemList* object, const ElementList* array, int indent) {
        TKWCHAR* p = m_out.Room(3);
        if (object) {
            TouchFirstItems(*object);
            p[0] = '{';
            int n = 1;
            if (m_formatted) p[1] = '\r', p[2] = '\n', n = 3;
            m_out.pos = p + n;
            return {object, nullptr, 0, object->Size(), indent, false};
        }
        p[0] = '[';
        m_out.pos = p + 1;
        return {nullptr, array, 0, array->Size(), indent, false};
    }
    // The closing of a container whose entries are all written.
    void Close(const Frame& f) {
        if (m_formatted && (f.object || f.lastWasContainer)) Tabs(f.indent);
        Put(f.object ? '}' : ']');
    }
    // What follows entry f.next - 1: its comma, its line break.
    void EndEntry(const Frame& f) {
        TKWCHAR* p = m_out.Room(3);
        if (f.next < f.count) *p++ = ',';
        if (m_formatted && (f.object || f.lastWasContainer)) p[0] = '\r', p[1] = '\n', p += 2;
        m_out.pos = p;
    }

    void Put(TKWCHAR c) { *m_out.Room(1) = c, ++m_out.pos; }
    void LineBreak() {
        TKWCHAR* p = m_out.Room(2);
        p[0] = '\r';
        p[1] = '\n';
        m_out.pos = p + 2;
    }
    void Tabs(std::size_t n) {
        while (n > 0) {
            std::size_t k = n < 64 ? n : 64;
            CopyUnits(m_out.Room(k), kTabRun, k);
            m_out.pos += k;
            n -= k;
        }
    }
    // Units as they are, in steps the destination can take.
    void Text(const TKWCHAR* s, std::size_t n) {
        while (n > 0) {
            std::size_t k = n < JsonTextOut::kMaxRoom ? n : JsonTextOut::kMaxRoom;
            CopyUnits(m_out.Room(k), s, k);
            m_out.pos += k;
            s += k;
            n -= k;
        }
    }
    // The head of an item: its indent (formatted), "key":.
    void Key(const CTKString& key, int indent);
    void Number(double x) {
        // Below 2^64 the text has at most a sign, 20 digits, a point and 15
        // decimals.
        TKWCHAR* p = m_out.Room(std::fabs(x) < 18446744073709551616.0 ? 37 : kMaxNumberUnits);
        m_out.pos = p + FormatFixed15(x, p);
    }
    template <std::size_t N>
    void Literal(const TKWCHAR (&s)[N]) {
        TKWCHAR* p = m_out.Room(N - 1);
        CopyUnits(p, s, N - 1);
        m_out.pos = p + (N - 1);
    }
    void String(const CTKString& text);
    // Numbers, strings and booleans: the same inside objects and arrays.
    void Scalar(const ValueView& value);

    JsonTextOut& m_out;
    const bool m_formatted;
};

void Writer::Key(const CTKString& key, int indent) {
    const std::size_t n = static_cast<std::size_t>(key.GetLength());
    const std::size_t tabs = m_formatted ? static_cast<std::size_t>(indent) + 1 : 0;
    if (n + tabs + 3 > JsonTextOut::kMaxRoom || tabs > 64) {
        Tabs(tabs);
        Put('"');
        Text(key, n);
        Literal(TKL("\":"));
        return;
    }
    TKWCHAR* p = m_out.Room(n + tabs + 3);
    CopyUnits(p, kTabRun, tabs);
    p += tabs;
    *p++ = '"';
    CopyUnits(p, key, n);
    p += n;
    p[0] = '"';
    p[1] = ':';
    m_out.pos = p + 2;
}

void Writer::String(const CTKString& text) {
    const TKWCHAR* s = text;
    const TKWCHAR* const end = s + text.GetLength();
    TKWCHAR* o = m_out.Room(2 * (end - s < static_cast<std::ptrdiff_t>(kStringStep)
                                     ? static_cast<std::size_t>(end - s)
                                     : kStringStep) +
                            16);
    *o++ = '"';
    for (;;) {
        const TKWCHAR* stop =
            end - s < static_cast<std::ptrdiff_t>(kStringStep) ? end : s + kStringStep;
#if TK_HAVE_SSE2
        // Eight units at a time are stored as they are; at an escaped one
        // the output stops there, takes its two units and goes on behind
        // it. TAB, LF and CR are all below 14: "saturating subtract of 13
        // is 0" finds them with the other control units, which stay as they
        // are.
        const __m128i quote = _mm_set1_epi16('"');
        const __m128i backslash = _mm_set1_epi16('\\');
        const __m128i thirteen = _mm_set1_epi16(13);
        const __m128i zero = _mm_setzero_si128();
        while (stop - s >= 8) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
            __m128i hit =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, quote), _mm_cmpeq_epi16(v, backslash)),
                             _mm_cmpeq_epi16(_mm_subs_epu16(v, thirteen), zero));
            unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
            while (mask && !IsEscaped(s[CountTrailingZeros32(mask) / 2]))
                mask &= ~(3u << CountTrailingZeros32(mask));
            if (!mask) {
                s += 8;
                o += 8;
                continue;
            }
            const int k = CountTrailingZeros32(mask) / 2;
            o[k] = '\\';
            o[k + 1] = EscapeLetter(s[k]);
            o += k + 2;
            s += k + 1;
        }
#endif
        for (; s < stop; ++s) {
            TKWCHAR c = *s;
            if (IsEscaped(c)) {
                o[0] = '\\';
                o[1] = EscapeLetter(c);
                o += 2;
            } else {
                *o++ = c;
            }
        }
        if (s == end) break;
        m_out.pos = o;
        std::size_t left = static_cast<std::size_t>(end - s);
        o = m_out.Room(2 * (left < kStringStep ? left : kStringStep) + 16);
    }
    *o++ = '"';
    m_out.pos = o;
}

void Writer::Scalar(const ValueView& value) {
    switch (value.Kind()) {
        case CMyJsonValue::eNumber:
            Number(value.Number());
            break;
        case CMyJsonValue::eStr:
            String(value.Text());
            break;
        case CMyJsonValue::eBool:
            if (value.Flag())
                Literal(TKL("true"));
            else
                Literal(TKL("false"));
            break;
        default:
            break;
    }
}

// One loop for every level. The container being written is the local f;
// the ones it is nested in wait on the stack. An entry that is a container
// pushes f and becomes f; a finished container is closed and its parent
// taken back from the stack.
void Writer::WriteTree(const ItemList* root, const ElementList* rootArray, int indent) {
    WalkStack<Frame> stack;
    Frame f = Open(root, rootArray, indent);
    for (;;) {
        const ItemList* innerObject = nullptr;
        const ElementList* innerArray = nullptr;
        if (f.object) {
            const ItemList& items = *f.object;
            while (f.next < f.count) {
                const int i = f.next++;
                if (i + 3 < f.count) {
                    TouchText(items[i + 3].key);
                    Touch(items[i + 3].value);
                }
                if (i + 2 < f.count) TouchRecord(items[i + 2].value);
                if (i + 1 < f.count) TouchContents(items[i + 1].value);
                const JsonItem& item = items[i];
                Key(item.key, f.indent);
                const ValueView value(*item.value);
                const CMyJsonValue::EValueType kind = value.Kind();
                if (kind == CMyJsonValue::eObj && value.Object()) {
                    innerObject = &ItemsOf(*value.Object());
                    break;
                }
                if (kind == CMyJsonValue::eArr) {
                    innerArray = &value.Elements();
                    break;
                }
                if (kind == CMyJsonValue::eEmpty || kind == CMyJsonValue::eObj)
                    Literal(TKL("null"));
                else
                    Scalar(value);
                EndEntry(f);
            }
        } else {
            const ElementList& elements = *f.array;
            while (f.next < f.count) {
                const int i = f.next++;
                if (i + 4 < f.count) Touch(elements[i + 4]);
                if (i + 3 < f.count) TouchRecord(elements[i + 3]);
                if (i + 2 < f.count) TouchContents(elements[i + 2]);
                if (i + 1 < f.count) TouchItems(elements[i + 1]);
                const ValueView element(*elements[i]);
                const CMyJsonValue::EValueType kind = element.Kind();
                if (CMyJsonObj* held = kind == CMyJsonValue::eObj ? element.Object() : nullptr) {
                    // Only the first element gets the line break; later
                    // objects follow the previous element's line break.
                    if (m_formatted) {
                        if (i == 0) LineBreak();
                        Tabs(static_cast<std::size_t>(f.indent) + 1);
                    }
                    f.lastWasContainer = true;
                    innerObject = &ItemsOf(*held);
                    break;
                }
                if (kind == CMyJsonValue::eArr) {
                    if (m_formatted) {
                        LineBreak();
                        Tabs(static_cast<std::size_t>(f.indent));
                    }
                    f.lastWasContainer = true;
                    innerArray = &element.Elements();
                    break;
                }
                Scalar(element);  // an empty element writes nothing
                f.lastWasContainer = false;
                EndEntry(f);
            }
        }
        if (innerObject || innerArray) {
            stack.Push(f);
            f = Open(innerObject, innerArray, f.indent + 1);
            continue;
        }
        Close(f);
        if (stack.Empty()) return;
        f = stack.Top();
        stack.Pop();
        EndEntry(f);
    }
}

}  // namespace

void WriteObjectTo(const CMyJsonObj& obj, bool formatted, JsonTextOut& out) {
    Writer(formatted, out).WriteTree(&ItemsOf(obj), nullptr, 0);
}

void WriteValueTo(const CMyJsonValue& value, bool formatted, JsonTextOut& out) {
    const ValueView view(value);
    switch (view.Kind()) {
        case CMyJsonValue::eEmpty:
            return;
        case CMyJsonValue::eObj:
            if (view.Object()) WriteObjectTo(*view.Object(), formatted, out);
            return;
        default: {
            // As the value of an item of a top-level object, without the
            // object around it: "{", "tmp": and the closing "}" with its
            // line breaks are never written, which is what stripping them
            // from the object's text would leave.
            Writer writer(formatted, out);
            if (view.Kind() == CMyJsonValue::eArr)
                writer.WriteTree(nullptr, &view.Elements(), 1);
            else
                writer.WriteScalar(view);
        }
    }
}

CTKString WriteObjectText(const CMyJsonObj& obj, bool formatted) {
    StringOut out;
    WriteObjectTo(obj, formatted, out);
    return out.Finish();
}

CTKString WriteValueText(const CMyJsonValue& value, bool formatted) {
    StringOut out;
    WriteValueTo(value, formatted, out);
    return out.Finish();
}

char* ToUtf8Buffer(const CTKString& text) {
    int size = TKStringUtils::Unicode2UTF8(text, nullptr, 0);  // terminator included
    if (size < 1) size = 1;
    char* buffer = static_cast<char*>(HeapAlloc(static_cast<std::size_t>(size)));
    buffer[0] = 0;
    TKStringUtils::Unicode2UTF8(text, buffer, size);
    return buffer;
}

}  // namespace tk::detail
