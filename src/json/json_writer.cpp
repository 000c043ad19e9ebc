// The JSON text writer: CMyJsonObj / CMyJsonValue into UTF-16 text, compact
// or laid out over CR LF lines with TAB indents.
//
// Output goes to a list of pieces instead of one growing string: the writer
// appends to the last piece, a full piece (512 units) is closed and a new one
// opened, and the pieces are joined by one allocation at the end. Nested
// objects and arrays append to the same list in order, so they need no piece
// of their own. Layout rules:
//  - object: "{", then each item on its own line (formatted) as indent + TAB,
//    "key":value, "," between items; then indent and "}". Keys are written
//    as they are. An empty value is "null".
//  - array: "[", scalars inline and comma-separated; an object element opens
//    a new line for the first element only, an array element always does;
//    container elements end their line; an empty element writes nothing
//    (its comma stays).
// Nested containers are written by the same loop as their parent, from a
// stack of open containers: no recursion, whatever the depth.
#include <cmath>
#include <cstring>
#include <new>

#include "json/json_number.h"
#include "json/json_records.h"
#include "json/text_scan.h"
#include "json/walk_stack.h"

namespace tk::detail {

namespace {

// Pieces are bodies of the largest scratch pool: a write that does not fit
// the current piece goes on in a new one, so no piece ever regrows and their
// blocks are reused from the pool's free list.
constexpr int kPieceUnits = 512;
// The longest text a CTKString holds.
constexpr std::size_t kMaxTextUnits = 2147483646;

class PieceList {
  public:
    PieceList() { Open(); }
    PieceList(const PieceList&) = delete;
    PieceList& operator=(const PieceList&) = delete;

    void Put(TKWCHAR c) {
        if (m_length == kPieceUnits) Next();
        m_buffer[m_length++] = c;
    }
    void Put(const TKWCHAR* s, int n) {
        while (n > 0) {
            if (m_length == kPieceUnits) Next();
            int k = kPieceUnits - m_length < n ? kPieceUnits - m_length : n;
            std::memcpy(m_buffer + m_length, s, static_cast<std::size_t>(k) * sizeof(TKWCHAR));
            m_length += k;
            s += k;
            n -= k;
        }
    }
    template <std::size_t N>
    void PutLiteral(const TKWCHAR (&s)[N]) {
        Put(s, static_cast<int>(N - 1));
    }
    // Room for n <= kPieceUnits units at the returned pointer; Commit says
    // how many were used.
    TKWCHAR* Reserve(int n) {
        if (kPieceUnits - m_length < n) Next();
        return m_buffer + m_length;
    }
    void Commit(int n) { m_length += n; }

    // The pieces joined into one string of exactly their total length.
    CTKString Join() {
        Close();
        const std::size_t total = m_total;
        CTKString result;
        if (total == 0) return result;
        TKWCHAR* out = result.GetBufferSetLength(static_cast<int>(total));
        for (int i = 0; i < m_pieces.Size(); ++i) {
            int n = m_pieces[i].GetLength();
            std::memcpy(out, static_cast<const TKWCHAR*>(m_pieces[i]),
                        static_cast<std::size_t>(n) * sizeof(TKWCHAR));
            out += n;
        }
        m_pieces.Clear();
        return result;
    }

  private:
    void Open() {
        m_buffer = m_current.GetBuffer(kPieceUnits);
        m_length = 0;
    }
    void Close() {
        if (m_length == 0) return;
        // A text no string can hold is refused as soon as it grows past
        // that, not after gigabytes more of pieces.
        m_total += static_cast<std::size_t>(m_length);
        if (m_total > kMaxTextUnits) throw std::bad_alloc();
        m_current.ReleaseBuffer(m_length);
        new (m_pieces.EmplaceSlot()) CTKString(m_current);
        m_current.Empty();
        m_buffer = nullptr;
        m_length = 0;
    }
    void Next() {
        Close();
        Open();
    }

    RelocList<CTKString> m_pieces;  // closed pieces, in order
    std::size_t m_total = 0;        // units in m_pieces
    CTKString m_current;            // the piece being written
    TKWCHAR* m_buffer = nullptr;
    int m_length = 0;
};

class Writer {
  public:
    explicit Writer(bool formatted) : m_formatted(formatted) {}

    // An object, or an array, and everything inside it, written at indent.
    void WriteTree(const CMyJsonObjImp* object, const CMyJsonValueImp* array, int indent);
    // A scalar as it stands after "key": (nothing for an empty value).
    void WriteScalar(const CMyJsonValueImp& value) { Scalar(value); }
    CTKString Finish() { return m_out.Join(); }

  private:
    // One open object or array of the walk. Its items or elements before
    // `next` are written; an item whose value is itself open below counts
    // as written once that value closes.
    struct Frame {
        const CMyJsonObjImp* object;  // one of object and array is set
        const CMyJsonValueImp* array;
        int next;
        int count;
        int indent;
        bool lastWasContainer;  // arrays: the element just written
    };
    // Writes the opening of a container; its frame, with nothing written.
    Frame Open(const CMyJsonObjImp* object, const CMyJsonValueImp* array, int indent) {
        if (object) {
            m_out.Put('{');
            if (m_formatted) LineBreak();
            return {object, nullptr, 0, object->items.Size(), indent, false};
        }
        m_out.Put('[');
        return {nullptr, array, 0, array->elements.Size(), indent, false};
    }
    // The closing of a container whose entries are all written.
    void Close(const Frame& f) {
        if (m_formatted && (f.object || f.lastWasContainer)) Tabs(f.indent);
        m_out.Put(f.object ? '}' : ']');
    }
    // What follows entry f.next - 1: its comma, its line break.
    void EndEntry(const Frame& f) {
        if (f.next < f.count) m_out.Put(',');
        if (m_formatted && (f.object || f.lastWasContainer)) LineBreak();
    }

    void LineBreak() {
        TKWCHAR* p = m_out.Reserve(2);
        p[0] = '\r';
        p[1] = '\n';
        m_out.Commit(2);
    }
    void Tabs(int n) {
        while (n > 0) {
            int k = n < 64 ? n : 64;
            TKWCHAR* p = m_out.Reserve(k);
            for (int i = 0; i < k; ++i) p[i] = '\t';
            m_out.Commit(k);
            n -= k;
        }
    }
    void Number(double x) {
        // Below 2^64 the text has at most a sign, 20 digits, a point and 15
        // decimals, and is written in place.
        if (std::fabs(x) < 18446744073709551616.0) {
            m_out.Commit(FormatFixed15(x, m_out.Reserve(37)));
            return;
        }
        TKWCHAR text[kMaxNumberUnits];
        m_out.Put(text, FormatFixed15(x, text));
    }
    void Bool(bool flag) {
        if (flag)
            m_out.PutLiteral(TKL("true"));
        else
            m_out.PutLiteral(TKL("false"));
    }
    void String(const CTKString& text);
    // Numbers, strings and booleans: the same inside objects and arrays.
    void Scalar(const CMyJsonValueImp& value);

    PieceList m_out;
    const bool m_formatted;
};

void Writer::String(const CTKString& text) {
    m_out.Put('"');
    const TKWCHAR* p = text;
    const TKWCHAR* end = p + text.GetLength();
    for (;;) {
        const TKWCHAR* special = FindEscapable(p, end);
        m_out.Put(p, static_cast<int>(special - p));
        if (special == end) break;
        TKWCHAR c = *special;
        TKWCHAR escaped[2] = {'\\', c};
        if (c == '\t')
            escaped[1] = 't';
        else if (c == '\r')
            escaped[1] = 'r';
        else if (c == '\n')
            escaped[1] = 'n';
        m_out.Put(escaped, 2);
        p = special + 1;
    }
    m_out.Put('"');
}

void Writer::Scalar(const CMyJsonValueImp& value) {
    switch (value.type) {
        case CMyJsonValue::eNumber:
            Number(value.number);
            break;
        case CMyJsonValue::eStr:
            String(value.text);
            break;
        case CMyJsonValue::eBool:
            Bool(value.flag);
            break;
        default:
            break;
    }
}

// One loop for every level. The container being written is the local f;
// the ones it is nested in wait on the stack. An entry that is a container
// pushes f and becomes f; a finished container is closed and its parent
// taken back from the stack.
void Writer::WriteTree(const CMyJsonObjImp* root, const CMyJsonValueImp* rootArray, int indent) {
    WalkStack<Frame> stack;
    Frame f = Open(root, rootArray, indent);
    for (;;) {
        const CMyJsonObjImp* innerObject = nullptr;
        const CMyJsonValueImp* innerArray = nullptr;
        if (f.object) {
            const RelocList<JsonItem>& items = f.object->items;
            while (f.next < f.count) {
                const JsonItem& item = items[f.next++];
                if (m_formatted) Tabs(f.indent + 1);
                m_out.Put('"');
                m_out.Put(item.key, item.key.GetLength());
                m_out.Put('"');
                m_out.Put(':');
                const CMyJsonValueImp& value = TKJsonAccess::Of(*item.value);
                if (CMyJsonObj* held = value.HeldObject()) {
                    innerObject = &TKJsonAccess::Of(*held);
                    break;
                }
                if (value.type == CMyJsonValue::eArr) {
                    innerArray = &value;
                    break;
                }
                if (value.type == CMyJsonValue::eEmpty || value.type == CMyJsonValue::eObj)
                    m_out.PutLiteral(TKL("null"));
                else
                    Scalar(value);
                EndEntry(f);
            }
        } else {
            const CMyJsonValueImp::ElementList& elements = f.array->elements;
            while (f.next < f.count) {
                const int i = f.next++;
                const CMyJsonValueImp& element = TKJsonAccess::Of(*elements[i]);
                if (CMyJsonObj* held = element.HeldObject()) {
                    // Only the first element gets the line break; later
                    // objects follow the previous element's line break.
                    if (m_formatted) {
                        if (i == 0) LineBreak();
                        Tabs(f.indent + 1);
                    }
                    f.lastWasContainer = true;
                    innerObject = &TKJsonAccess::Of(*held);
                    break;
                }
                if (element.type == CMyJsonValue::eArr) {
                    if (m_formatted) {
                        LineBreak();
                        Tabs(f.indent);
                    }
                    f.lastWasContainer = true;
                    innerArray = &element;
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

CTKString WriteObjectText(const CMyJsonObjImp& obj, bool formatted) {
    Writer writer(formatted);
    writer.WriteTree(&obj, nullptr, 0);
    return writer.Finish();
}

CTKString WriteValueText(const CMyJsonValue& value, bool formatted) {
    const CMyJsonValueImp& imp = TKJsonAccess::Of(value);
    switch (imp.type) {
        case CMyJsonValue::eEmpty:
            return CTKString();
        case CMyJsonValue::eObj:
            return imp.object ? WriteObjectText(TKJsonAccess::Of(*imp.object), formatted)
                              : CTKString();
        default: {
            // As the value of an item of a top-level object, without the
            // object around it: "{", "tmp": and the closing "}" with its
            // line breaks are never written, which is what stripping them
            // from the object's text would leave.
            Writer writer(formatted);
            if (imp.type == CMyJsonValue::eArr)
                writer.WriteTree(nullptr, &imp, 1);
            else
                writer.WriteScalar(imp);
            return writer.Finish();
        }
    }
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
