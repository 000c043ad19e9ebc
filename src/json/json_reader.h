// The JSON text reader as an event producer: it walks UTF-16 text once and
// tells a consumer what it finds (begin/end object and array, key, string,
// number, boolean, empty), in text order. The document builder is one such
// consumer (json_reader.cpp); tests record the events with another.
//
// A consumer is any class with these members (the reader is a template over
// it, so the calls inline):
//
//     void BeginObject();  void EndObject();
//     void BeginArray();   void EndArray();
//     void Key(const TKWCHAR* s, int n, bool escaped);
//     void String(const TKWCHAR* s, int n, bool escaped);
//     void Number(double x);
//     void Boolean(bool b);
//     void Empty();
//
// Keys and strings come as the units between the quotes; when escaped is
// true they hold backslash escapes that DecodeEscapes resolves. When the
// reader fails, events simply stop: the consumer throws away what it built.
//
// The reader is lenient in its loops and strict elsewhere. Every leniency is
// one rule of JsonLeniency below, and the places that apply a rule name it.
#ifndef TAVIKFCU_JSON_JSON_READER_H
#define TAVIKFCU_JSON_JSON_READER_H

#include <climits>
#include <cstddef>

#include "json/json_number.h"
#include "json/text_scan.h"
#include "tavikfcu/TKString.h"

namespace tk::detail {

// What the reader accepts beyond strict JSON. All rules are always on; the
// list exists so that each one has a name, a place in the code and a test.
enum class JsonLeniency {
    kOptionalCommas,      // {"a":1 "b":2} and [1 2]: no comma needed between entries
    kTrailingComma,       // {"a":1,} and [1,]
    kTextAfterTheEnd,     // {"a":1} junk: text after the top-level value is ignored
    kMissingMemberValue,  // {"a":} and {"a":,"b":1}: a is an empty value
    kEmptyElementIsZero,  // [1,,2] is [1,0,2] and [,1] is [0,1]
    kNullElementIsZero,   // [null] is [0]
    kNumberPrefix,        // a number token counts by its longest numeric prefix
                          // (1e5, .5, +5, 0x1A, inf); a token without one (abc) is 0
    kLiteralEscapes,      // \t \r \n decode; any other escaped unit stands for
                          // itself: \u0041 is the five units u0041, \b is b
    kRawControlUnits,     // control units inside strings are taken as they are
    kDuplicateKeys,       // {"a":1,"a":2} keeps both items, in text order
    kTopLevelWordPrefix,  // a top-level value that starts with true or false is
                          // that boolean, whatever follows ("trueish")
};

// Every rule holds; naming one at the place it applies keeps the list and
// the code in step.
constexpr bool Accepts(JsonLeniency) {
    return true;
}

// The reader's messages. Those marked with an excerpt are followed by up to
// kExcerptUnits units of the text from where the fault was seen.
enum class JsonMessage {
    kNoOpeningBrace,  // the top level of an object document is not "{"
    kInvalidKey,      // unterminated key (excerpt from its first unit)
    kNoColon,         // no ":" behind a key (excerpt from what was found)
    kInvalidString,   // unterminated string value (excerpt from its quote)
    kInvalidNumber,   // number token running to the end, or "}" as an element
    kNoClosingBrace,  // any other fault of an object, when nothing better was said
    kNullText,        // Load of a null text
    kBadTopString,    // unterminated top-level string
    kBadTopNumber,    // top-level number token running to the end
    kTooDeep,         // nesting beyond kMaxJsonDepth
};

struct JsonMessageText {
    JsonMessage id;
    const TKWCHAR* text;
};

// The one table of message texts, in JsonMessage order.
inline constexpr JsonMessageText kJsonMessages[] = {
    {JsonMessage::kNoOpeningBrace, TKL("Can't find { ")},
    {JsonMessage::kInvalidKey, TKL("Invalid key: ")},
    {JsonMessage::kNoColon, TKL("Can't find ':' : ")},
    {JsonMessage::kInvalidString, TKL("Invalid string : ")},
    {JsonMessage::kInvalidNumber, TKL("Invalid number : ")},
    {JsonMessage::kNoClosingBrace, TKL("Can't find '}' : ")},
    {JsonMessage::kNullText, TKL("json字符串为NULL")},
    {JsonMessage::kBadTopString, TKL("无效的字符串")},
    {JsonMessage::kBadTopNumber, TKL("无效的json字符串")},
    {JsonMessage::kTooDeep, TKL("Nesting deeper than 512 levels : ")},
};

constexpr const TKWCHAR* MessageText(JsonMessage id) {
    return kJsonMessages[static_cast<int>(id)].text;
}

// Containers nested deeper than this are refused, so that hostile text
// cannot exhaust the stack.
inline constexpr int kMaxJsonDepth = 512;
// Messages quote at most this many units of the text.
inline constexpr int kExcerptUnits = 50;

// Resolves the escapes of the n units at s into out (room for n units);
// returns the units written.
inline int DecodeEscapes(const TKWCHAR* s, int n, TKWCHAR* out) {
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
            // JsonLeniency::kLiteralEscapes: every other unit stands for itself.
        }
        out[length++] = c;
    }
    return length;
}

inline bool IsJsonBlank(TKWCHAR c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

template <typename Sink>
class JsonEventReader {
  public:
    // text must be NUL-terminated; error receives the message of a failure.
    JsonEventReader(const TKWCHAR* text, Sink& sink, CTKString& error)
        : m_p(text), m_end(text + TextLength(text)), m_sink(sink), m_error(error) {}
    JsonEventReader(const JsonEventReader&) = delete;
    JsonEventReader& operator=(const JsonEventReader&) = delete;

    // A document whose top level must be an object.
    [[nodiscard]] bool ReadObjectDocument() {
        SkipBlanks();
        if (*m_p != '{') {
            m_error = MessageText(JsonMessage::kNoOpeningBrace);
            return false;
        }
        ++m_p;
        // JsonLeniency::kTextAfterTheEnd: nothing is read behind the "}".
        return ReadObject(1);
    }

    // A document whose top level is any value.
    [[nodiscard]] bool ReadValueDocument() {
        SkipBlanks();
        switch (*m_p) {
            case '{':
                ++m_p;
                return ReadObject(1);
            case '[':
                ++m_p;
                return ReadArray(1);
            case '"': {
                ++m_p;
                const TKWCHAR* s;
                int n;
                bool escaped;
                if (!ReadQuoted(s, n, escaped)) {
                    m_error = MessageText(JsonMessage::kBadTopString);
                    return false;
                }
                m_sink.String(s, n, escaped);
                return true;
            }
            default:
                break;
        }
        if (Accepts(JsonLeniency::kTopLevelWordPrefix) &&
            (StartsWithTrue(m_p) || StartsWithFalse(m_p))) {
            m_sink.Boolean(*m_p == 't');
            return true;
        }
        double number;
        if (!ReadNumber(number)) {
            m_error = MessageText(JsonMessage::kBadTopNumber);
            return false;
        }
        m_sink.Number(number);
        return true;
    }

  private:
    // Where a value stands decides the few cases that differ: a member's
    // value may be missing or null (empty), an element never is.
    enum class Slot { kMember, kElement };

    static bool IsDelimiter(TKWCHAR c) {
        return c == ',' || c == ']' || c == '}' || IsJsonBlank(c) || c == 0;
    }
    static bool StartsWithTrue(const TKWCHAR* p) {
        return p[0] == 't' && p[1] == 'r' && p[2] == 'u' && p[3] == 'e';
    }
    static bool StartsWithFalse(const TKWCHAR* p) {
        return p[0] == 'f' && p[1] == 'a' && p[2] == 'l' && p[3] == 's' && p[4] == 'e';
    }
    static bool StartsWithNull(const TKWCHAR* p) {
        return p[0] == 'n' && p[1] == 'u' && p[2] == 'l' && p[3] == 'l';
    }

    void SkipBlanks() {
        while (IsJsonBlank(*m_p)) ++m_p;
    }
    bool AtEnd() const { return m_p == m_end; }

    void Fail(JsonMessage id, const TKWCHAR* at) {
        std::size_t left = static_cast<std::size_t>(m_end - at);
        int n = left > kExcerptUnits ? kExcerptUnits : static_cast<int>(left);
        CTKString text(MessageText(id));
        text += CTKString(at, n);
        m_error = text;
    }
    bool HasError() const { return !m_error.IsEmpty(); }

    // Cursor just behind the opening quote: the units up to the closing
    // quote, which the cursor then passes. Sets no message.
    [[nodiscard]] bool ReadQuoted(const TKWCHAR*& s, int& n, bool& escaped) {
        const TKWCHAR* q = m_p;
        escaped = false;
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
        s = m_p;
        n = static_cast<int>(units);
        m_p = q + 1;
        return true;
    }

    // A number token, which must be followed by a delimiter; the cursor
    // stops on that delimiter. Sets no message.
    [[nodiscard]] bool ReadNumber(double& number) {
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
        // JsonLeniency::kNumberPrefix: the slow path reads the longest prefix.
        number = exact ? value : ParseNumberPrefix(start, delimiter);
        m_p = delimiter;
        return true;
    }

    // The value of a member or an element; the cursor is on its first unit.
    [[nodiscard]] bool ReadValue(Slot slot, int depth) {
        const TKWCHAR* at = m_p;
        switch (*m_p) {
            case '"': {
                ++m_p;
                const TKWCHAR* s;
                int n;
                bool escaped;
                if (!ReadQuoted(s, n, escaped)) {
                    Fail(JsonMessage::kInvalidString, at);
                    return false;
                }
                m_sink.String(s, n, escaped);
                return true;
            }
            case '{':
                ++m_p;
                return ReadObject(depth + 1);
            case '[':
                ++m_p;
                return ReadArray(depth + 1);
            case 't':
                if (StartsWithTrue(m_p)) {
                    m_p += 4;
                    m_sink.Boolean(true);
                    return true;
                }
                break;
            case 'f':
                if (StartsWithFalse(m_p)) {
                    m_p += 5;
                    m_sink.Boolean(false);
                    return true;
                }
                break;
            case 'n':
                // JsonLeniency::kNullElementIsZero: only a member's null is
                // empty; an element's is a number token.
                if (slot == Slot::kMember && StartsWithNull(m_p)) {
                    m_p += 4;
                    m_sink.Empty();
                    return true;
                }
                break;
            case ',':
                // JsonLeniency::kMissingMemberValue; an element here is
                // JsonLeniency::kEmptyElementIsZero (an empty number token).
                if (slot == Slot::kMember && Accepts(JsonLeniency::kMissingMemberValue)) {
                    m_sink.Empty();  // the "," stays for the loop
                    return true;
                }
                break;
            case '}':
                if (slot == Slot::kMember && Accepts(JsonLeniency::kMissingMemberValue)) {
                    m_sink.Empty();
                    return true;
                }
                Fail(JsonMessage::kInvalidNumber, at);
                return false;
            default:
                break;
        }
        double number;
        if (!ReadNumber(number)) {
            Fail(JsonMessage::kInvalidNumber, at);
            return false;
        }
        m_sink.Number(number);
        return true;
    }

    // Cursor just behind "{".
    [[nodiscard]] bool ReadObject(int depth) {
        if (depth > kMaxJsonDepth) {
            Fail(JsonMessage::kTooDeep, m_p - 1);
            return false;
        }
        SkipBlanks();
        // Quoted when nothing better is known: from one unit before the
        // first non-blank, which is the "{" itself when no blank follows it.
        const TKWCHAR* start = m_p - 1;
        m_sink.BeginObject();
        if (*m_p == '}') {
            ++m_p;
            m_sink.EndObject();
            return true;
        }
        while (*m_p == '"') {
            const TKWCHAR* keyStart = ++m_p;
            const TKWCHAR* s;
            int n;
            bool escaped;
            if (!ReadQuoted(s, n, escaped)) {
                Fail(JsonMessage::kInvalidKey, keyStart);
                return false;
            }
            // JsonLeniency::kDuplicateKeys: a key is never looked up here.
            m_sink.Key(s, n, escaped);
            SkipBlanks();
            if (*m_p != ':') {
                Fail(JsonMessage::kNoColon, m_p);
                return false;
            }
            ++m_p;
            SkipBlanks();
            if (!ReadValue(Slot::kMember, depth)) break;

            SkipBlanks();
            // JsonLeniency::kOptionalCommas and kTrailingComma.
            if (*m_p == ',') {
                ++m_p;
                SkipBlanks();
            }
            if (*m_p == '}') {
                ++m_p;
                m_sink.EndObject();
                return true;
            }
        }
        if (!HasError()) Fail(JsonMessage::kNoClosingBrace, start);
        return false;
    }

    // Cursor just behind "[". Running into the end of the text sets no
    // message: an enclosing object says "Can't find '}'", a top-level array
    // leaves the caller's message as it was.
    [[nodiscard]] bool ReadArray(int depth) {
        if (depth > kMaxJsonDepth) {
            Fail(JsonMessage::kTooDeep, m_p - 1);
            return false;
        }
        SkipBlanks();
        m_sink.BeginArray();
        if (*m_p == ']') {
            ++m_p;
            m_sink.EndArray();
            return true;
        }
        while (!AtEnd()) {
            if (!ReadValue(Slot::kElement, depth)) return false;
            SkipBlanks();
            // JsonLeniency::kOptionalCommas and kTrailingComma.
            if (*m_p == ',') {
                ++m_p;
                SkipBlanks();
            }
            if (*m_p == ']') {
                ++m_p;
                m_sink.EndArray();
                return true;
            }
        }
        return false;
    }

    const TKWCHAR* m_p;
    const TKWCHAR* const m_end;
    Sink& m_sink;
    CTKString& m_error;
};

}  // namespace tk::detail

#endif  // TAVIKFCU_JSON_JSON_READER_H
