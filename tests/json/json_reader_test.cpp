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
    };
    for (const auto& c : cases) {
        CMyJsonObj obj;
        obj.AddItem(TKL("stale"), 1);
        EXPECT_FALSE(obj.Load(W(c.text))) << c.name;
        EXPECT_EQ(U16(obj.GetErrMsg()), c.message) << c.name;
        EXPECT_EQ(obj.ValueCount(), 0) << c.name;
    }
}

TEST(JsonReader, ExcerptsStopAtFiftyUnits) {
    std::u16string longKey(80, u'k');
    CMyJsonObj obj;
    ASSERT_FALSE(obj.Load(W(u"{\"" + longKey)));
    EXPECT_EQ(U16(obj.GetErrMsg()), u"Invalid key: " + std::u16string(50, u'k'));

    std::u16string longString = u"{\"a\":\"" + std::u16string(70, u's');
    ASSERT_FALSE(obj.Load(W(longString)));
    EXPECT_EQ(U16(obj.GetErrMsg()), u"Invalid string : \"" + std::u16string(49, u's'));
}

TEST(JsonReader, NullTextsFail) {
    CMyJsonObj obj;
    EXPECT_FALSE(obj.Load(nullptr));
    EXPECT_FALSE(obj.GetErrMsg().IsEmpty());
    CMyJsonValue value(1.0);
    CTKString error;
    EXPECT_FALSE(value.Load(nullptr, error));
    EXPECT_EQ(U16(error), u"json字符串为NULL");
    EXPECT_TRUE(value.IsEmpty());
}

TEST(JsonReader, SuccessEmptiesTheMessage) {
    CMyJsonObj obj;
    ASSERT_FALSE(obj.Load(TKL("x")));
    ASSERT_TRUE(obj.Load(TKL("  {}")));
    EXPECT_TRUE(obj.GetErrMsg().IsEmpty());
    EXPECT_EQ(obj.ValueCount(), 0);
}

TEST(JsonReader, LenientObjects) {
    CMyJsonObj obj;
    // Duplicate keys stay, in text order.
    ASSERT_TRUE(obj.Load(TKL("{\"a\":1,\"a\":2}")));
    ASSERT_EQ(obj.ValueCount(), 2);
    CTKString key;
    CMyJsonValue* v;
    ASSERT_TRUE(obj.Item(1, key, v));
    EXPECT_EQ(U16(key), u"a");
    EXPECT_EQ(v->ValueNumber(), 2);

    // Optional and trailing commas, text after the top level.
    ASSERT_TRUE(obj.Load(TKL("{\"a\":1 \"b\":2,} trailing [junk")));
    EXPECT_EQ(obj.ValueCount(), 2);

    // null, nothing and a lone comma all make empty values.
    ASSERT_TRUE(obj.Load(TKL("{\"a\":null,\"b\":,\"c\":}")));
    ASSERT_EQ(obj.ValueCount(), 3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(obj.Item(i, key, v));
        EXPECT_TRUE(v->IsEmpty()) << i;
    }
}

struct ArrayCase {
    const char* name;
    std::u16string text;
    std::vector<double> numbers;
};

TEST(JsonReader, LenientArrays) {
    const ArrayCase cases[] = {
        {"no comma", u"[1 2] ", {1, 2}},
        {"trailing comma", u"[1,] ", {1}},
        {"empty element", u"[1,,2] ", {1, 0, 2}},
        {"leading comma", u"[,1] ", {0, 1}},
        {"null reads as a number", u"[null] ", {0}},
        {"word reads as 0", u"[abc, 5] ", {0, 5}},
        {"blanks everywhere", u"[ \t\r\n1 , \n 2 \n] ", {1, 2}},
        {"empty", u"[ ] ", {}},
    };
    for (const auto& c : cases) {
        CMyJsonValue value;
        CTKString error;
        ASSERT_TRUE(value.Load(W(c.text), error)) << c.name << ": " << U16(error).size();
        ASSERT_TRUE(value.IsArr()) << c.name;
        ASSERT_EQ(value.ValueArrLength(), static_cast<int>(c.numbers.size())) << c.name;
        for (int i = 0; i < value.ValueArrLength(); ++i)
            EXPECT_EQ(value.ValueArrItem(i)->ValueNumber(), c.numbers[i]) << c.name << " " << i;
    }
}

TEST(JsonReader, MixedArraysAreKeptAsRead) {
    CMyJsonValue value;
    CTKString error;
    ASSERT_TRUE(value.Load(TKL("[1,\"s\",true,[2],{\"k\":false},false]"), error));
    const CMyJsonValue::EValueType kinds[] = {CMyJsonValue::eNumber, CMyJsonValue::eStr,
                                              CMyJsonValue::eBool,   CMyJsonValue::eArr,
                                              CMyJsonValue::eObj,    CMyJsonValue::eBool};
    ASSERT_EQ(value.ValueArrLength(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(value.ValueArrItem(i)->IsType(kinds[i])) << i;
    EXPECT_FALSE(value.ValueArrItem(5)->ValueBool());
    bool k = true;
    EXPECT_TRUE(value.ValueArrItem(4)->ValueObj()->ValueEx(TKL("k"), k));
    EXPECT_FALSE(k);
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

TEST(JsonReader, RepeatedStringsStayIndependent) {
    // Equal short strings may share storage; changing one copy must not
    // show in the others.
    CMyJsonObj obj;
    ASSERT_TRUE(obj.Load(TKL("{\"a\":\"same\",\"b\":\"same\",\"a\":\"same\"}")));
    CTKString first;
    ASSERT_TRUE(obj.ValueEx(TKL("a"), first));
    first.SetAt(0, 'S');
    CTKString second;
    ASSERT_TRUE(obj.ValueEx(TKL("b"), second));
    EXPECT_EQ(U16(second), u"same");
    EXPECT_EQ(U16(first), u"Same");
}

struct ValueCase {
    const char* name;
    std::u16string text;
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
    };
    for (const auto& c : cases) {
        CMyJsonValue value(TKL("previous"));
        CTKString error(TKL("keep"));
        EXPECT_EQ(value.Load(W(c.text), error), c.ok) << c.name;
        EXPECT_TRUE(value.IsType(c.kind)) << c.name;
        EXPECT_EQ(U16(error), c.error) << c.name;
    }
}

TEST(JsonReader, ValueLoadReplacesWhatWasHeld) {
    CMyJsonValue value;
    CTKString error;
    ASSERT_TRUE(value.Load(TKL("[1,[2,[3]],{\"a\":{}}]"), error));
    ASSERT_TRUE(value.Load(TKL("\"s\""), error));
    EXPECT_EQ(value.ValueArrLength(), 0);
    EXPECT_EQ(value.ValueObj(), nullptr);
    EXPECT_EQ(U16(value.ValueStr()), u"s");
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
    };
    for (const auto& c : cases) {
        CMyJsonValue value;
        CTKString error;
        ASSERT_TRUE(value.Load(W(u"[" + c.token + u"]"), error)) << c.name;
        ASSERT_EQ(value.ValueArrLength(), 1) << c.name;
        EXPECT_EQ(value.ValueArrItem(0)->ValueNumber(), c.expected) << c.name;
    }
}

TEST(JsonReader, NegativeZeroKeepsItsSign) {
    CMyJsonObj obj;
    ASSERT_TRUE(obj.Load(TKL("{\"z\":-0.0}")));
    double z = 1;
    ASSERT_TRUE(obj.ValueEx(TKL("z"), z));
    EXPECT_EQ(z, 0.0);
    EXPECT_TRUE(std::signbit(z));
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
