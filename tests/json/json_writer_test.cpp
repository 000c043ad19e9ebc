// The writer: layout rules, escaping, number text, UTF-8 output, and text
// that reads back as the same document.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include "json_test_util.h"
#include "tavikfcu/TKCore.h"

namespace {

// The example document: a = 1, b = [true, false], c = [{x: "s"}, {}].
void BuildExample(CMyJsonObj& obj) {
    obj.AddItem(TKL("a"), 1);
    auto* b = new CMyJsonValue(static_cast<CMyJsonValue* const*>(nullptr), 0);
    b->AddToArr(true);
    b->AddToArr(false);
    obj.AddItem(TKL("b"), b);
    auto* c = new CMyJsonValue(static_cast<CMyJsonValue* const*>(nullptr), 0);
    auto* x = new CMyJsonObj;
    x->AddItem(TKL("x"), TKL("s"));
    c->MoveToArr(x);
    c->MoveToArr(new CMyJsonObj);
    obj.AddItem(TKL("c"), c);
}

TEST(JsonWriter, TheElevenLineExample) {
    CMyJsonObj obj;
    BuildExample(obj);
    EXPECT_EQ(U16(obj.CreateJson(false)), u"{\"a\":1,\"b\":[true,false],\"c\":[{\"x\":\"s\"},{}]}");
    EXPECT_EQ(U16(obj.CreateJson(true)),
              u"{\r\n"
              u"\t\"a\":1,\r\n"
              u"\t\"b\":[true,false],\r\n"
              u"\t\"c\":[\r\n"
              u"\t\t{\r\n"
              u"\t\t\t\"x\":\"s\"\r\n"
              u"\t\t},\r\n"
              u"\t\t{\r\n"
              u"\t\t}\r\n"
              u"\t]\r\n"
              u"}");
}

struct LayoutCase {
    const char* name;
    std::u16string json;  // read with CMyJsonObj::Load
    std::u16string compact;
    std::u16string formatted;
};

TEST(JsonWriter, Layouts) {
    const LayoutCase cases[] = {
        {"empty object", u"{}", u"{}", u"{\r\n}"},
        {"nested empty object", u"{\"o\":{}}", u"{\"o\":{}}", u"{\r\n\t\"o\":{\r\n\t}\r\n}"},
        {"empty array", u"{\"a\":[]}", u"{\"a\":[]}", u"{\r\n\t\"a\":[]\r\n}"},
        {"empty value", u"{\"e\":null}", u"{\"e\":null}", u"{\r\n\t\"e\":null\r\n}"},
        {"arrays in an array", u"{\"a\":[[1],[2]]}", u"{\"a\":[[1],[2]]}",
         u"{\r\n\t\"a\":[\r\n\t[1],\r\n\r\n\t[2]\r\n\t]\r\n}"},
        {"number then object", u"{\"a\":[1,{}]}", u"{\"a\":[1,{}]}",
         u"{\r\n\t\"a\":[1,\t\t{\r\n\t\t}\r\n\t]\r\n}"},
        {"escapes", u"{\"s\":\"q\\\"b\\\\t\\tn\\nr\\r/\x01\"}",
         u"{\"s\":\"q\\\"b\\\\t\\tn\\nr\\r/\x01\"}",
         u"{\r\n\t\"s\":\"q\\\"b\\\\t\\tn\\nr\\r/\x01\"\r\n}"},
        {"keys are written unescaped", u"{\"k\\\"ey\":1}", u"{\"k\"ey\":1}",
         u"{\r\n\t\"k\"ey\":1\r\n}"},
    };
    for (const auto& c : cases) {
        CMyJsonObj obj;
        ASSERT_TRUE(obj.Load(W(c.json))) << c.name;
        EXPECT_EQ(U16(obj.CreateJson(false)), c.compact) << c.name;
        EXPECT_EQ(U16(obj.CreateJson(true)), c.formatted) << c.name;
    }
}

TEST(JsonWriter, ValueTexts) {
    auto* inner = new CMyJsonObj;
    inner->AddItem(TKL("k"), 1);
    auto array = std::make_unique<CMyJsonValue>();
    CTKString error;
    ASSERT_TRUE(array->Load(TKL("[{\"x\":1},[2]]"), error));
    CMyJsonValue* items[] = {new CMyJsonValue(1), new CMyJsonValue, new CMyJsonValue(2)};
    struct {
        const char* name;
        std::unique_ptr<CMyJsonValue> value;
        std::u16string compact;
        std::u16string formatted;
    } cases[] = {
        {"empty", std::make_unique<CMyJsonValue>(), u"", u""},
        {"number", std::make_unique<CMyJsonValue>(5), u"5", u"5"},
        {"string", std::make_unique<CMyJsonValue>(TKL("abc")), u"\"abc\"", u"\"abc\""},
        {"bool", std::make_unique<CMyJsonValue>(false), u"false", u"false"},
        {"object", std::make_unique<CMyJsonValue>(inner), u"{\"k\":1}", u"{\r\n\t\"k\":1\r\n}"},
        // An array is laid out as an item value at one TAB.
        {"array", std::move(array), u"[{\"x\":1},[2]]",
         u"[\r\n\t\t{\r\n\t\t\t\"x\":1\r\n\t\t},\r\n\r\n\t[2]\r\n\t]"},
        {"empty elements leave only their comma", std::make_unique<CMyJsonValue>(items, 3),
         u"[1,,2]", u"[1,,2]"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(U16(c.value->CreateJson(false)), c.compact) << c.name;
        EXPECT_EQ(U16(c.value->CreateJson(true)), c.formatted) << c.name;
    }
}

double FromBits(std::uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

struct NumberText {
    const char* name;
    double value;
    std::u16string text;
};

// Ordinary finite values are swept against the C library below; these rows
// are the zeros, the rounding edges and the non-finite spellings.
TEST(JsonWriter, NumberTexts) {
    const NumberText cases[] = {
        {"integer", 3.0, u"3"},
        {"zero", 0, u"0"},
        {"negative zero", -0.0, u"-0"},
        {"tiny negative", -1e-20, u"-0"},
        {"rounds up to an integer", 0.9999999999999999, u"1"},
        // Fifteen decimals of the double's exact value, not the shortest
        // text that reads back: texts are compared by other programs.
        {"decimal without an exact double", 108.94, u"108.939999999999998"},
        {"infinity", INFINITY, u"inf"},
        {"minus infinity", -INFINITY, u"-inf"},
        // NaNs as the library's "%.15f" writes them, told apart by sign,
        // quiet bit and payload.
        {"indefinite NaN (0/0)", FromBits(0xFFF8000000000000), u"-nan(ind)"},
        {"quiet NaN", FromBits(0x7FF8000000000000), u"nan"},
        {"negative NaN with payload", FromBits(0xFFF8000000000001), u"-nan"},
        {"signalling NaN", FromBits(0x7FF0000000000001), u"nan(snan)"},
        {"negative signalling NaN", FromBits(0xFFF4000000000000), u"-nan(snan)"},
    };
    for (const auto& c : cases) {
        CMyJsonValue value(c.value);
        EXPECT_EQ(U16(value.CreateJson(false)), c.text) << c.name;
        if (!std::isfinite(c.value)) {
            CTKString formatted;
            formatted.Format(TKL("%.15f"), c.value);
            EXPECT_EQ(U16(formatted), c.text) << c.name;
        }
    }
}

// Exact "%.15f" with trimming, checked against the C library over many
// doubles of every magnitude the integer path covers.
TEST(JsonWriter, NumberTextMatchesPrintf) {
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> exponent(-30, 25);
    for (int i = 0; i < 200000; ++i) {
        double x = std::pow(10.0, exponent(random)) * ((random() & 1) ? -1 : 1);
        if (i % 4 == 0)
            x = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 70));
        char expected[400];
        int n = std::snprintf(expected, sizeof expected, "%.15f", x);
        while (n > 0 && expected[n - 1] == '0') --n;
        if (n > 0 && expected[n - 1] == '.') --n;
        CMyJsonValue value(x);
        ASSERT_EQ(U16(value.CreateJson(false)), Widen(std::string(expected, n))) << x;
    }
}

TEST(JsonWriter, Utf8Output) {
    CMyJsonObj obj;
    obj.AddItem(TKL("名"), TKL("值"));
    char* text = obj.CreateUTF8Json(false);
    EXPECT_STREQ(text, "{\"名\":\"值\"}");
    tkFreeMem(text);
    CMyJsonValue empty;
    text = empty.CreateUTF8Json(true);
    EXPECT_STREQ(text, "");
    tkFreeMem(text);
}

// A document far beyond one 512-unit piece: the same text as the one built
// by plain concatenation of its parts, and its formatted text reads back.
TEST(JsonWriter, LargeDocumentsJoinSeamlessly) {
    const std::u16string nested =
        u"{\"a\":[[1,{\"b\":[{},[]]}],[\"x\\ty\"]],\"c\":{\"d\":null,\"e\":-0.5}}";
    auto* first = new CMyJsonObj;
    ASSERT_TRUE(first->Load(W(nested)));
    CMyJsonObj obj;
    obj.AddItem(TKL("nested"), first);
    std::u16string expected = u"{\"nested\":" + nested;
    for (int i = 0; i < 400; ++i) {
        std::u16string key = Widen("key" + std::to_string(i));
        std::u16string text(i % 50 == 7 ? 700 : i % 13, static_cast<char16_t>(u'a' + i % 26));
        obj.AddItem(W(key), W(text));
        expected += u",";
        expected += u"\"" + key + u"\":\"" + text + u"\"";
        if (i % 40 == 0) {
            auto* inner = new CMyJsonObj;
            inner->AddItem(TKL("n"), i);
            obj.AddItem(TKL("o"), inner);
            expected += u",\"o\":{\"n\":" + Widen(std::to_string(i)) + u"}";
        }
    }
    expected += u"}";
    CTKString text = obj.CreateJson(false);
    EXPECT_EQ(U16(text), expected);
    EXPECT_GT(text.GetLength(), 512 * 20);
    // The capacity a result reports: its length, or a short text's pool step.
    EXPECT_EQ(text.GetAllocLength(), text.GetLength());
    EXPECT_EQ(CMyJsonObj().CreateJson(false).GetAllocLength(), 64);
    CMyJsonObj back;
    ASSERT_TRUE(back.Load(text));
    EXPECT_EQ(U16(back.CreateJson(true)), U16(obj.CreateJson(true)));

    // A long string value alone: the writer's very first request for room
    // is its largest one.
    std::u16string raw(3000, u'q'), escaped = u"\"";
    for (std::size_t i = 0; i < raw.size(); i += 7) raw[i] = u'"';
    for (char16_t c : raw) escaped += c == u'"' ? std::u16string(u"\\\"") : std::u16string(1, c);
    CMyJsonValue alone(W(raw));
    EXPECT_EQ(U16(alone.CreateJson(false)), escaped + u"\"");
}

// Texts of tens of megabytes grow the result's body into large blocks and
// are handed to the writer a step at a time; written again, they go into
// the block kept from the text before. Compact and formatted, every unit
// lands where plain concatenation puts it, and the result reports its
// length as its capacity, as every CreateJson result longer than 512 units
// does.
TEST(JsonWriter, TextsOfManyMegabytesAreExact) {
    CMyJsonObj obj;
    std::u16string compact = u"{", formatted = u"{\r\n";
    const int items = 250000;
    for (int i = 0; i < items; ++i) {
        const std::u16string key = Widen("k" + std::to_string(i));
        std::u16string raw(static_cast<std::size_t>(40 + (i * 37) % 200),
                           static_cast<char16_t>(u'a' + i % 26));
        raw[static_cast<std::size_t>(i) % raw.size()] = u'"';
        std::u16string escaped;
        for (char16_t c : raw)
            escaped += c == u'"' ? std::u16string(u"\\\"") : std::u16string(1, c);
        obj.AddItem(W(key), W(raw));
        const std::u16string item = u"\"" + key + u"\":\"" + escaped + u"\"";
        const std::u16string comma = i + 1 < items ? u"," : u"";
        compact += item + comma;
        formatted += u"\t" + item + comma + u"\r\n";
    }
    compact += u"}";
    formatted += u"}";
    ASSERT_GT(compact.size(), std::size_t(34) << 20);  // past a 64 MB body
    for (int round = 0; round < 2; ++round) {
        for (bool layout : {false, true}) {
            CTKString text = obj.CreateJson(layout);
            EXPECT_TRUE(U16(text) == (layout ? formatted : compact)) << round;
            EXPECT_EQ(text.GetAllocLength(), text.GetLength()) << round;
        }
    }
}

// The layout rules written out plainly, recursively, as the reference for
// the writer's one loop over open containers (scalars as CreateJson writes
// them alone).
void ReferenceArray(CMyJsonValue& array, bool formatted, const std::u16string& indent,
                    std::u16string& out);

void ReferenceObject(CMyJsonObj& object, bool formatted, const std::u16string& indent,
                     std::u16string& out) {
    out += u"{";
    if (formatted) out += u"\r\n";
    const int n = object.ValueCount();
    for (int i = 0; i < n; ++i) {
        CTKString key;
        CMyJsonValue* value = nullptr;
        object.Item(i, key, value);
        if (formatted) out += indent + u"\t";
        out += u"\"" + U16(key) + u"\":";
        if (value->ValueObj())
            ReferenceObject(*value->ValueObj(), formatted, indent + u"\t", out);
        else if (value->IsArr())
            ReferenceArray(*value, formatted, indent + u"\t", out);
        else if (value->IsEmpty() || value->IsObj())
            out += u"null";
        else
            out += U16(value->CreateJson(false));
        if (i + 1 < n) out += u",";
        if (formatted) out += u"\r\n";
    }
    if (formatted) out += indent;
    out += u"}";
}

void ReferenceArray(CMyJsonValue& array, bool formatted, const std::u16string& indent,
                    std::u16string& out) {
    out += u"[";
    const int n = array.ValueArrLength();
    bool lastWasContainer = false;
    for (int i = 0; i < n; ++i) {
        CMyJsonValue* element = array.ValueArrItem(i);
        lastWasContainer = true;
        if (element->ValueObj()) {
            if (formatted) out += (i == 0 ? u"\r\n" : u"") + indent + u"\t";
            ReferenceObject(*element->ValueObj(), formatted, indent + u"\t", out);
        } else if (element->IsArr()) {
            if (formatted) out += u"\r\n" + indent;
            ReferenceArray(*element, formatted, indent + u"\t", out);
        } else {
            out += U16(element->CreateJson(false));  // "" for an empty value
            lastWasContainer = false;
        }
        if (i + 1 < n) out += u",";
        if (formatted && lastWasContainer) out += u"\r\n";
    }
    if (formatted && lastWasContainer) out += indent;
    out += u"]";
}

// A random value: containers of up to four entries down to depth 0, every
// kind, empty containers and the object kind without an object included.
CMyJsonValue* RandomValue(std::mt19937& random, int depth) {
    switch (depth > 0 ? random() % 8 : random() % 4) {
        case 0:
            return new CMyJsonValue(static_cast<int>(random() % 100));
        case 1:
            return new CMyJsonValue(TKL("s\t\"x\""));
        case 2:
            return new CMyJsonValue(random() % 2 == 0);
        case 3:
            return random() % 2 ? new CMyJsonValue
                                : new CMyJsonValue(static_cast<CMyJsonObj*>(nullptr));
        case 4:
        case 5: {
            CMyJsonValue* items[4];
            int n = static_cast<int>(random() % 5);
            for (int i = 0; i < n; ++i) items[i] = RandomValue(random, depth - 1);
            return new CMyJsonValue(items, n);
        }
        default: {
            auto* object = new CMyJsonObj;
            for (int i = 0, n = static_cast<int>(random() % 5); i < n; ++i)
                object->AddItem(W(Widen(std::string(1, static_cast<char>('a' + i)))),
                                RandomValue(random, depth - 1));
            return new CMyJsonValue(object);
        }
    }
}

TEST(JsonWriter, LayoutAndClonesMatchARecursiveReferenceOnRandomDocuments) {
    std::mt19937 random(2024);
    for (int round = 0; round < 3000; ++round) {
        std::unique_ptr<CMyJsonValue> value(RandomValue(random, 1 + round % 6));
        for (bool formatted : {false, true}) {
            std::u16string expected;
            if (CMyJsonObj* object = value->ValueObj()) {
                ReferenceObject(*object, formatted, u"", expected);
            } else if (value->IsArr()) {
                ReferenceArray(*value, formatted, u"\t", expected);  // as a top-level value
            } else {
                continue;
            }
            ASSERT_EQ(U16(value->CreateJson(formatted)), expected)
                << "round " << round << (formatted ? " formatted" : " compact");
            std::unique_ptr<CMyJsonValue> copy(value->Clone());  // the copying walk
            ASSERT_EQ(U16(copy->CreateJson(formatted)), expected) << "clone, round " << round;
        }
    }
}

}  // namespace
