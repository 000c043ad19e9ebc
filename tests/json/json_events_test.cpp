// The reader as an event producer: each named leniency rule, and documents
// built from the events equal to what the events said, on small documents
// and on the standard ones when they are at hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "json/json_reader.h"
#include "json_test_util.h"

namespace {

using tk::detail::JsonEventReader;
using tk::detail::JsonLeniency;

struct LeniencyRow {
    JsonLeniency rule;
    const char* name;
    std::u16string text;     // read with CMyJsonValue::Load
    std::u16string compact;  // the value written back
};

// One row per rule, in the order of the list.
TEST(JsonEvents, EachLeniencyRule) {
    const LeniencyRow rows[] = {
        {JsonLeniency::kOptionalCommas, "optional commas", u"{\"a\":1 \"b\":[1 2 [3]{}]}",
         u"{\"a\":1,\"b\":[1,2,[3],{}]}"},
        {JsonLeniency::kTrailingComma, "trailing comma", u"{\"a\":[1,],\"b\":{\"c\":2,},}",
         u"{\"a\":[1],\"b\":{\"c\":2}}"},
        {JsonLeniency::kTextAfterTheEnd, "text after the end", u"[1] {\"unread", u"[1]"},
        {JsonLeniency::kMissingMemberValue, "missing member value", u"{\"a\":,\"b\":1,\"c\":}",
         u"{\"a\":null,\"b\":1,\"c\":null}"},
        {JsonLeniency::kEmptyElementIsZero, "empty element is 0", u"[,1,,2 , ,]", u"[0,1,0,2,0]"},
        {JsonLeniency::kNullElementIsZero, "null element is 0", u"[null,{\"m\":null}]",
         u"[0,{\"m\":null}]"},
        {JsonLeniency::kNumberPrefix, "number prefix", u"[1e2, .5,+5,0x1A,12abc,abc,-]",
         u"[100,0.5,5,26,12,0,0]"},
        {JsonLeniency::kLiteralEscapes, "literal escapes", u"[\"\\u0041\\b\\f\\/\\q\\t\"]",
         u"[\"u0041bf/q\\t\"]"},
        {JsonLeniency::kRawControlUnits, "raw control units", u"[\"a\x01\x1f\"]",
         u"[\"a\x01\x1f\"]"},
        {JsonLeniency::kDuplicateKeys, "duplicate keys", u"{\"a\":1,\"b\":2,\"a\":3}",
         u"{\"a\":1,\"b\":2,\"a\":3}"},
        {JsonLeniency::kTopLevelWordPrefix, "top-level word prefix", u"falsehood", u"false"},
    };
    static_assert(
        sizeof rows / sizeof rows[0] == static_cast<int>(JsonLeniency::kTopLevelWordPrefix) + 1,
        "a row for every rule");
    int index = 0;
    for (const auto& row : rows) {
        EXPECT_EQ(static_cast<int>(row.rule), index++) << row.name << ": rows follow the list";
        CMyJsonValue value;
        CTKString error;
        ASSERT_TRUE(value.Load(W(row.text), error)) << row.name << ": " << U16(error).size();
        EXPECT_EQ(U16(value.CreateJson(false)), row.compact) << row.name;
    }
}

// Writes the events down as text: one letter per event, strings and keys
// decoded and closed by U+0001, numbers by their bits.
class RecordingSink {
  public:
    void BeginObject() { out += u'{'; }
    void EndObject() { out += u'}'; }
    void BeginArray() { out += u'['; }
    void EndArray() { out += u']'; }
    void Key(const TKWCHAR* s, int n, bool escaped) { Text(u'K', s, n, escaped); }
    void String(const TKWCHAR* s, int n, bool escaped) { Text(u'S', s, n, escaped); }
    void Number(double x) { NumberBits(out, x); }
    void Boolean(bool b) { out += b ? u"T" : u"F"; }
    void Empty() { out += u'E'; }

    static void NumberBits(std::u16string& to, double x) {
        std::uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        to += u'N';
        for (int shift = 60; shift >= 0; shift -= 4)
            to += u"0123456789abcdef"[(bits >> shift) & 15];
    }

    std::u16string out;

  private:
    void Text(char16_t kind, const TKWCHAR* s, int n, bool escaped) {
        std::u16string text(static_cast<std::size_t>(n), u'\0');
        const TKWCHAR* from = s;
        if (escaped) {
            n = tk::detail::DecodeEscapes(s, n, reinterpret_cast<TKWCHAR*>(&text[0]));
        } else {
            std::memcpy(&text[0], from, static_cast<std::size_t>(n) * sizeof(TKWCHAR));
        }
        text.resize(static_cast<std::size_t>(n));
        out += kind;
        out += text;
        out += u'\x01';
    }
};

// The same notation, from a walk of a built document through the public API.
void WalkValue(CMyJsonValue& v, std::u16string& out);

void WalkObject(const CMyJsonObj& obj, std::u16string& out) {
    out += u'{';
    for (int i = 0; i < obj.ValueCount(); ++i) {
        CTKString key;
        CMyJsonValue* value = nullptr;
        ASSERT_TRUE(obj.Item(i, key, value));
        out += u'K';
        out += U16(key);
        out += u'\x01';
        WalkValue(*value, out);
    }
    out += u'}';
}

void WalkValue(CMyJsonValue& v, std::u16string& out) {
    switch (v.Type()) {
        case CMyJsonValue::eEmpty:
            out += u'E';
            break;
        case CMyJsonValue::eStr:
            out += u'S';
            out += U16(v.ValueStr());
            out += u'\x01';
            break;
        case CMyJsonValue::eNumber:
            RecordingSink::NumberBits(out, v.ValueNumber());
            break;
        case CMyJsonValue::eBool:
            out += v.ValueBool() ? u"T" : u"F";
            break;
        case CMyJsonValue::eArr:
            out += u'[';
            for (int i = 0; i < v.ValueArrLength(); ++i) WalkValue(*v.ValueArrItem(i), out);
            out += u']';
            break;
        case CMyJsonValue::eObj:
            WalkObject(*v.ValueObj(), out);
            break;
    }
}

// The events of text, and the walks of the object and the value documents
// built from it, must tell the same story.
void ExpectBuiltAsTold(const std::u16string& text, const std::string& name) {
    RecordingSink sink;
    CTKString error;
    JsonEventReader<RecordingSink> reader(W(text), sink, error);
    ASSERT_TRUE(reader.ReadValueDocument()) << name << ": " << U16(error).size();

    CMyJsonValue value;
    ASSERT_TRUE(value.Load(W(text), error)) << name;
    std::u16string walked;
    WalkValue(value, walked);
    EXPECT_TRUE(walked == sink.out) << name << ": the value document differs from the events";

    if (value.IsObj()) {
        CMyJsonObj obj;
        ASSERT_TRUE(obj.Load(W(text))) << name;
        std::u16string walkedObject;
        WalkObject(obj, walkedObject);
        EXPECT_TRUE(walkedObject == sink.out) << name << ": the object document differs";
    }
}

TEST(JsonEvents, SmallDocumentsAreBuiltAsTold) {
    const struct {
        const char* name;
        std::u16string text;
    } cases[] = {
        {"every kind, nested",
         u"{\"s\":\"x\\ty\",\"n\":-1.5e3,\"t\":true,\"f\":false,"
         u"\"e\":null,\"m\":,\"a\":[[],{},[1,[2,{\"k\":[3]}]]],"
         u"\"o\":{\"p\":{\"q\":\"中\"}}}"},
        {"top-level array", u"[1,\"a\",[true,{\"b\":[]}],null]"},
        {"top-level string", u"\"just text\""},
        {"repeated keys and strings", u"[{\"id\":\"x\"},{\"id\":\"x\"},{\"id\":\"y\"}]"},
        {"repeated escaped strings", u"[\"a\\\"b\",{\"k\\/\":\"a\\\"b\"},\"a\\\"b\",\"a\\tb\"]"},
        {"deep", std::u16string(300, u'[') + std::u16string(300, u']')},
    };
    for (const auto& c : cases) ExpectBuiltAsTold(c.text, c.name);
}

// The standard documents, from TK_BENCH_DATA_DIR or the shared folder beside
// the source tree; skipped when neither has them.
TEST(JsonEvents, StandardDocumentsAreBuiltAsTold) {
    std::string folder;
    if (const char* env = std::getenv("TK_BENCH_DATA_DIR"); env && *env) {
        folder = env;
    } else {
        folder = __FILE__;  // <tree>/tests/json/this file
        for (int up = 0; up < 3; ++up) folder.erase(folder.find_last_of('/'));
        folder += "/../shared/bench-data";
    }
    int read = 0;
    for (const char* name : {"twitter", "citm_catalog", "canada"}) {
        std::ifstream in(folder + "/" + name + ".json", std::ios::binary);
        if (!in) continue;
        std::stringstream bytes;
        bytes << in.rdbuf();
        std::string utf8 = bytes.str();
        int units = TKStringUtils::UTF82Unicode(utf8.c_str(), nullptr, 0);
        ASSERT_GT(units, 0) << name;
        std::u16string text(static_cast<std::size_t>(units), u'\0');
        TKStringUtils::UTF82Unicode(utf8.c_str(), reinterpret_cast<TKWCHAR*>(&text[0]), units);
        text.resize(static_cast<std::size_t>(units - 1));
        ExpectBuiltAsTold(text, name);
        ++read;
    }
    if (read == 0)
        GTEST_SKIP() << "no standard documents in '" << folder
                     << "' (set TK_BENCH_DATA_DIR to the folder of twitter.json)";
}

// Equal texts of one document may share a body, escaped ones included;
// changing one copy must not show in the others.
TEST(JsonEvents, SharedTextsStayIndependent) {
    const struct {
        const char* name;
        const TKWCHAR* text;
        std::u16string value;
    } rows[] = {
        {"plain", TKL("{\"a\":\"same\",\"b\":\"same\",\"c\":\"same\"}"), u"same"},
        {"escaped", TKL("{\"a\":\"x\\\"y\",\"b\":\"x\\\"y\",\"c\":\"x\\\"y\"}"), u"x\"y"},
    };
    for (const auto& row : rows) {
        CMyJsonObj obj;
        ASSERT_TRUE(obj.Load(row.text)) << row.name;
        CTKString a, b;
        ASSERT_TRUE(obj.ValueEx(TKL("a"), a)) << row.name;
        a.SetAt(0, 'X');
        ASSERT_TRUE(obj.ValueEx(TKL("b"), b)) << row.name;
        EXPECT_EQ(U16(a), u"X" + row.value.substr(1)) << row.name;
        EXPECT_EQ(U16(b), row.value) << row.name;
        CMyJsonValue* c;
        ASSERT_TRUE(obj.Value(TKL("c"), c)) << row.name;
        EXPECT_EQ(U16(c->ValueStr()), row.value) << row.name;
    }
}

}  // namespace
