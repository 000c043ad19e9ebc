// The reader: accepted texts and their leniencies, every failure message with
// its excerpt, escapes, numbers, and the depth limit.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "json_test_util.h"

namespace {

struct ObjectFailure {
    const char* name;
    std::u16string text;
    std::u16string message;
};

// Every message of an object document, with where its excerpt starts.
TEST(JsonReader, ObjectFailuresCarryTheInnermostMessage) {
    const ObjectFailure cases[] = {
        {"not an object", u"[1]", u"Can't find { "},
        {"blank only", u"   ", u"Can't find { "},
        {"number runs to the end", u"{\"a\":1", u"Invalid number : 1"},
        {"end after a blank", u"{\"a\":1 ", u"Can't find '}' : {\"a\":1 "},
        {"missing colon", u"{\"a\" 1}", u"Can't find ':' : 1}"},
        {"unterminated string value", u"{\"a\":\"x}", u"Invalid string : \"x}"},
        {"unquoted key", u"{a:1}", u"Can't find '}' : {a:1}"},
        {"array meets a brace", u"{\"a\":[1,2}", u"Invalid number : }"},
        {"unterminated key", u"{\"ab", u"Invalid key: ab"},
        {"backslash at the very end", u"{\"a\\", u"Invalid key: a\\"},
        // The excerpt starts one unit before the first non-blank.
        {"blank before the first key", u"{  a}", u"Can't find '}' :  a}"},
        {"inner object fails first", u"{\"a\":{\"b\" 2}}", u"Can't find ':' : 2}}"},
        {"inner array cut off", u"{\"a\":[1, ", u"Can't find '}' : {\"a\":[1, "},
        {"garbage after a member", u"{\"a\":1 x}", u"Can't find '}' : {\"a\":1 x}"},
        {"element starting with a brace", u"{\"a\":[}", u"Invalid number : }"},
        {"key excerpt stops at 50 units", u"{\"" + std::u16string(80, u'k'),
         u"Invalid key: " + std::u16string(50, u'k')},
        {"string excerpt stops at 50 units", u"{\"a\":\"" + std::u16string(70, u's'),
         u"Invalid string : \"" + std::u16string(49, u's')},
    };
    for (const auto& c : cases) {
        CMyJsonObj obj;
        obj.AddItem(TKL("stale"), 1);
        EXPECT_FALSE(obj.Load(W(c.text))) << c.name;
        EXPECT_EQ(U16(obj.GetErrMsg()), c.message) << c.name;
        EXPECT_EQ(obj.ValueCount(), 0) << c.name;
        // A later success clears the message.
        ASSERT_TRUE(obj.Load(TKL("  {}"))) << c.name;
        EXPECT_TRUE(obj.GetErrMsg().IsEmpty()) << c.name;
    }
    CMyJsonObj obj;
    EXPECT_FALSE(obj.Load(nullptr));
    EXPECT_EQ(U16(obj.GetErrMsg()), u"json字符串为NULL");
}

struct LenientCase {
    const char* name;
    std::u16string text;
    std::u16string compact;  // the document written back
};

// Each leniency rule has its row in the event tests; these are the object
// document's own top level and what no rule names: blanks and mixed kinds.
TEST(JsonReader, Leniencies) {
    const LenientCase cases[] = {
        {"optional and trailing commas, text after the end", u"{\"a\":1 \"b\":2,} trailing [junk",
         u"{\"a\":1,\"b\":2}"},
        {"blanks everywhere", u"{\"v\":[ \t\r\n1 , \n 2 \n]}", u"{\"v\":[1,2]}"},
        {"empty array", u"{\"v\":[ ]}", u"{\"v\":[]}"},
        {"mixed kinds kept as read", u"{\"v\":[1,\"s\",true,[2],{\"k\":false},false]}",
         u"{\"v\":[1,\"s\",true,[2],{\"k\":false},false]}"},
    };
    for (const auto& c : cases) {
        CMyJsonObj obj;
        ASSERT_TRUE(obj.Load(W(c.text))) << c.name << ": " << U16(obj.GetErrMsg()).size();
        EXPECT_EQ(U16(obj.CreateJson(false)), c.compact) << c.name;
    }
}

struct StringCase {
    const char* name;
    std::u16string text;  // the quoted JSON string
    std::u16string expected;
};

TEST(JsonReader, Escapes) {
    const StringCase cases[] = {
        {"\\u stays literal", u"\"\\u0041\"", u"u0041"},
        {"\\b is the letter", u"\"\\b\"", u"b"},
        {"\\f is the letter", u"\"\\f\"", u"f"},
        {"quote", u"\"a\\\"b\"", u"a\"b"},
        {"backslash", u"\"a\\\\b\"", u"a\\b"},
        {"slash", u"\"\\/\"", u"/"},
        {"tab cr lf", u"\"\\t\\r\\n\"", u"\t\r\n"},
        {"raw control units", u"\"a\x01\tb\"", u"a\x01\tb"},
        {"non-ASCII", u"\"中文\"", u"中文"},
        {"long with escape at the end", u"\"" + std::u16string(100, u'x') + u"\\n\"",
         std::u16string(100, u'x') + u"\n"},
    };
    for (const auto& c : cases) {
        CMyJsonObj obj;
        ASSERT_TRUE(obj.Load(W(u"{\"k\":" + c.text + u"}"))) << c.name;
        CTKString s;
        ASSERT_TRUE(obj.ValueEx(TKL("k"), s)) << c.name;
        EXPECT_EQ(U16(s), c.expected) << c.name;
        // Keys decode the same way.
        ASSERT_TRUE(obj.Load(W(u"{" + c.text + u":1}"))) << c.name;
        CMyJsonValue* v;
        ASSERT_TRUE(obj.Item(0, s, v));
        EXPECT_EQ(U16(s), c.expected) << c.name;
    }
}

struct ValueCase {
    const char* name;
    const char16_t* text;
    bool ok;
    CMyJsonValue::EValueType kind;
    std::u16string error;  // after a failure (the error starts as "keep")
};

TEST(JsonReader, TopLevelValues) {
    const ValueCase cases[] = {
        {"number without delimiter", u"12", false, CMyJsonValue::eEmpty, u"无效的json字符串"},
        {"number with blank", u"12 ", true, CMyJsonValue::eNumber, u"keep"},
        {"true", u"true", true, CMyJsonValue::eBool, u"keep"},
        {"trueish", u"trueish", true, CMyJsonValue::eBool, u"keep"},
        {"false", u" false", true, CMyJsonValue::eBool, u"keep"},
        {"string", u"\"abc\"", true, CMyJsonValue::eStr, u"keep"},
        {"unterminated string", u"\"abc", false, CMyJsonValue::eEmpty, u"无效的字符串"},
        {"array cut off keeps the error", u"[1,2 ", false, CMyJsonValue::eEmpty, u"keep"},
        {"empty text", u"", false, CMyJsonValue::eEmpty, u"无效的json字符串"},
        {"object", u"{\"a\":[]}", true, CMyJsonValue::eObj, u"keep"},
        {"object failure", u"{\"a\" 1}", false, CMyJsonValue::eEmpty, u"Can't find ':' : 1}"},
        {"null text", nullptr, false, CMyJsonValue::eEmpty, u"json字符串为NULL"},
    };
    for (const auto& c : cases) {
        CMyJsonValue value(TKL("previous"));
        CTKString error(TKL("keep"));
        EXPECT_EQ(value.Load(reinterpret_cast<const TKWCHAR*>(c.text), error), c.ok) << c.name;
        EXPECT_TRUE(value.IsType(c.kind)) << c.name;
        EXPECT_EQ(U16(error), c.error) << c.name;
    }
}

struct NumberCase {
    const char* name;
    std::u16string token;
    double expected;
};

TEST(JsonReader, NumbersReadAsTheLongestValidPrefix) {
    const NumberCase cases[] = {
        {"integer", u"42", 42},
        {"negative", u"-7", -7},
        {"plus sign", u"+5", 5},
        {"leading point", u".5", 0.5},
        {"trailing point", u"5.", 5},
        {"exponent", u"1e5", 1e5},
        {"signed exponent", u"2.5E-3", 2.5e-3},
        {"exponent without digits", u"1.5e", 1.5},
        {"garbage after digits", u"12abc", 12},
        {"two points", u"1.2.3", 1.2},
        {"word", u"abc", 0},
        {"null", u"null", 0},
        {"hexadecimal", u"0x10", 16},
        {"infinity", u"inf", INFINITY},
        {"point tenth", u"0.1", 0.1},
        {"third", u"0.333333333333333314829616256247390992939472198486328125",
         0.333333333333333314829616256247390992939472198486328125},
        {"big", u"1e20", 1e20},
        {"two to the 53 plus one", u"9007199254740993", 9007199254740992.0},
        {"nineteen digits", u"1234567890123456789", 1234567890123456789.0},
        {"seventeen digits", u"-65.613616999999977", -65.613616999999977},
        {"halfway, odd below", u"9007199254740995", 9007199254740996.0},
        {"halfway, even below", u"18014398509481986", 18014398509481984.0},
        {"halfway, even above", u"18014398509481990", 18014398509481992.0},
        {"just above halfway", u"9007199254740993.0000001", 9007199254740994.0},
        {"nineteen digits, negative power", u"0.1234567890123456789e-20",
         0.1234567890123456789e-20},
        {"tiny", u"4.9406564584124654e-324", 4.9406564584124654e-324},
        {"smallest normal", u"2.2250738585072014e-308", 2.2250738585072014e-308},
        {"underflow", u"1e-400", 0},
        {"overflow", u"1e400", INFINITY},
        {"many leading zeros", u"0000000000000000000000012.5", 12.5},
        {"long fraction", u"0.1000000000000000055511151231257827021181583404541015625", 0.1},
        {"negative zero keeps its sign", u"-0.0", -0.0},
    };
    for (const auto& c : cases) {
        CMyJsonValue value;
        CTKString error;
        ASSERT_TRUE(value.Load(W(u"[" + c.token + u"]"), error)) << c.name;
        ASSERT_EQ(value.ValueArrLength(), 1) << c.name;
        EXPECT_EQ(value.ValueArrItem(0)->ValueNumber(), c.expected) << c.name;
        EXPECT_EQ(std::signbit(value.ValueArrItem(0)->ValueNumber()), std::signbit(c.expected))
            << c.name;
    }
}

std::u16string Nested(int depth) {
    return std::u16string(depth, u'[') + std::u16string(depth, u']') + u" ";
}

TEST(JsonReader, DepthLimit) {
    CMyJsonValue value;
    CTKString error;
    EXPECT_TRUE(value.Load(W(Nested(512)), error));
    EXPECT_FALSE(value.Load(W(Nested(513)), error));
    EXPECT_EQ(U16(error).rfind(u"Nesting deeper than 512 levels : [", 0), 0u) << U16(error).size();
    // Far deeper text fails the same way instead of exhausting the stack.
    std::u16string deep;
    for (int i = 0; i < 100000; ++i) deep += u"{\"a\":";
    CMyJsonObj obj;
    EXPECT_FALSE(obj.Load(W(deep)));
    EXPECT_EQ(U16(obj.GetErrMsg()).rfind(u"Nesting deeper than 512 levels : {", 0), 0u);
}

}  // namespace
