// The value model: kinds, key paths and lookups, array insertion and the
// ownership rules (run under ASan: a double free or a leak fails the suite).
#include <gtest/gtest.h>

#include <memory>

#include "json_test_util.h"

namespace {

// The numbers of a number array, for compact checks.
std::vector<double> Numbers(const CMyJsonValue& array) {
    std::vector<double> out;
    for (int i = 0; i < array.ValueArrLength(); ++i)
        out.push_back(array.ValueArrItem(i)->ValueNumber());
    return out;
}

CMyJsonValue* NumberArray(std::initializer_list<double> numbers) {
    std::vector<double> v(numbers);
    return new CMyJsonValue(v.data(), static_cast<int>(v.size()));
}

TEST(JsonModel, ConstructorsSetTheKind) {
    const unsigned char bytes[] = {1, 255};
    const short shorts[] = {-3};
    const float floats[] = {0.5f, 1.5f};
    CMyJsonValue* pointers[] = {new CMyJsonValue(1), new CMyJsonValue(TKL("x"))};
    struct {
        const char* name;
        CMyJsonValue value;
        CMyJsonValue::EValueType kind;
        int length;
    } cases[] = {
        {"default", CMyJsonValue(), CMyJsonValue::eEmpty, 0},
        {"text", CMyJsonValue(TKL("t")), CMyJsonValue::eStr, 0},
        {"null text", CMyJsonValue(static_cast<const TKWCHAR*>(nullptr)), CMyJsonValue::eEmpty, 0},
        {"int", CMyJsonValue(3), CMyJsonValue::eNumber, 0},
        {"bool", CMyJsonValue(true), CMyJsonValue::eBool, 0},
        {"object", CMyJsonValue(new CMyJsonObj), CMyJsonValue::eObj, 0},
        {"null object", CMyJsonValue(static_cast<CMyJsonObj*>(nullptr)), CMyJsonValue::eEmpty, 0},
        {"pointers", CMyJsonValue(pointers, 2), CMyJsonValue::eArr, 2},
        {"bytes", CMyJsonValue(bytes, 2), CMyJsonValue::eArr, 2},
        {"shorts", CMyJsonValue(shorts, 1), CMyJsonValue::eArr, 1},
        {"floats", CMyJsonValue(floats, 2), CMyJsonValue::eArr, 2},
        {"no numbers", CMyJsonValue(floats, 0), CMyJsonValue::eArr, 0},
    };
    for (auto& c : cases) {
        EXPECT_TRUE(c.value.IsType(c.kind)) << c.name;
        EXPECT_EQ(c.value.Type(), c.kind) << c.name;
        EXPECT_EQ(c.value.ValueArrLength(), c.length) << c.name;
    }
    EXPECT_EQ(cases[8].value.ValueArrItem(1)->ValueNumber(), 255);
    EXPECT_EQ(cases[9].value.ValueArrItem(0)->ValueNumber(), -3);
    EXPECT_EQ(cases[7].value.ValueArrItem(1)->IsStr(), true);
    EXPECT_EQ(cases[1].value.ValueArrItem(0), nullptr);  // no bounds surprise
}

TEST(JsonModel, ValueArrFillsTheCallersBuffer) {
    std::unique_ptr<CMyJsonValue> array(NumberArray({1, 2, 3}));
    CMyJsonValue* buffer[2] = {nullptr, nullptr};
    int n = 2;
    array->ValueArr(buffer, n);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(buffer[0], array->ValueArrItem(0));
    EXPECT_EQ(buffer[1], array->ValueArrItem(1));
    n = 0;
    array->ValueArr(nullptr, n);
    EXPECT_EQ(n, 3);
}

TEST(JsonModel, KeyPathsCreateAndFind) {
    CMyJsonObj obj;
    ASSERT_TRUE(obj.SetItem(TKL("a\\b\\c"), 7, false, false));
    EXPECT_EQ(obj.ValueCount(), 1);
    int found = 0;
    ASSERT_TRUE(obj.ValueEx(TKL("a\\b\\c"), found));
    EXPECT_EQ(found, 7);
    CMyJsonObj* b = nullptr;
    ASSERT_TRUE(obj.ValueEx(TKL("a\\b"), b));
    EXPECT_EQ(b->ValueCount(), 1);

    // A number in the middle of a path refuses, changing nothing.
    ASSERT_TRUE(obj.SetItem(TKL("n"), 1.5));
    auto* value = new CMyJsonValue(true);
    EXPECT_FALSE(obj.SetItem(TKL("n\\x"), value, true, false));
    delete value;  // still the caller's
    EXPECT_EQ(obj.ValueCount(), 2);

    // mustExist refuses a missing key at any level; the caller keeps the value.
    value = new CMyJsonValue(1);
    EXPECT_FALSE(obj.SetItem(TKL("a\\missing"), value, true, true));
    EXPECT_FALSE(obj.SetItem(TKL("zz"), value, true, true));
    EXPECT_TRUE(obj.SetItem(TKL("a\\b\\c"), value, true, true));
    ASSERT_TRUE(obj.ValueEx(TKL("a\\b\\c"), found));
    EXPECT_EQ(found, 1);

    EXPECT_FALSE(obj.SetItem(nullptr, 1));
    CMyJsonValue* none = nullptr;
    EXPECT_FALSE(obj.ValueEx(nullptr, none));
}

TEST(JsonModel, SetItemReplacesInPlace) {
    CMyJsonObj obj;
    obj.AddItem(TKL("first"), 1);
    obj.AddItem(TKL("second"), TKL("old"));
    obj.AddItem(TKL("third"), true);
    ASSERT_TRUE(obj.SetItem(TKL("second"), TKL("new")));
    CTKString key;
    CMyJsonValue* v;
    ASSERT_TRUE(obj.Item(1, key, v));
    EXPECT_EQ(U16(key), u"second");
    EXPECT_EQ(U16(v->ValueStr()), u"new");
    // Storing the value already there keeps it alive.
    EXPECT_TRUE(obj.SetItem(TKL("second"), v));
    EXPECT_EQ(U16(v->ValueStr()), u"new");
    EXPECT_EQ(obj.ValueCount(), 3);
}

TEST(JsonModel, FindKeyPrefersAnExactMatch) {
    CMyJsonObj both;
    both.AddItem(TKL("Name"), 1);
    both.AddItem(TKL("name"), 2);
    CMyJsonObj upperOnly;
    upperOnly.AddItem(TKL("Name"), 1);
    struct {
        const char* name;
        const CMyJsonObj& obj;
        bool exact;
        bool found;
        int value;
    } cases[] = {
        {"exact beats earlier case-insensitive", both, false, true, 2},
        {"case-insensitive fallback", upperOnly, false, true, 1},
        {"exact only", upperOnly, true, false, 0},
    };
    for (const auto& c : cases) {
        int value = 0;
        EXPECT_EQ(c.obj.ValueEx(TKL("name"), value, c.exact), c.found) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
    }

    // Beyond ASCII the fallback folds case by Unicode, also inside a path.
    CMyJsonObj outer;
    outer.SetItem(TKL("Äußere\\ΣΟΦΊΑ"), 3, false, false);
    int value = 0;
    EXPECT_TRUE(outer.ValueEx(TKL("ÄUßERE\\σοφία"), value, false));
    EXPECT_EQ(value, 3);
    EXPECT_FALSE(outer.ValueEx(TKL("ÄUßERE\\σοφία"), value, true));
    outer.DelItemEx(TKL("äußere"), false);
    EXPECT_EQ(outer.ValueCount(), 0);
}

TEST(JsonModel, DuplicateKeysAndDeletion) {
    CMyJsonObj obj;
    obj.AddItem(TKL("k"), 1);
    obj.AddItem(TKL("k"), 2);
    obj.AddItem(TKL("a\\b"), 3);  // no path splitting in AddItem
    EXPECT_EQ(obj.ValueCount(), 3);
    int v = 0;
    ASSERT_TRUE(obj.ValueEx(TKL("k"), v));
    EXPECT_EQ(v, 1);
    obj.DelItem(TKL("a\\b"));  // the literal key
    EXPECT_EQ(obj.ValueCount(), 2);
    obj.DelItemEx(TKL("K"), false);
    ASSERT_TRUE(obj.ValueEx(TKL("k"), v));
    EXPECT_EQ(v, 2);
    obj.DelItem(TKL("absent"));
    obj.DelItem(nullptr);
    EXPECT_EQ(obj.ValueCount(), 1);
    EXPECT_FALSE(obj.AddItem(nullptr, 1));
    EXPECT_FALSE(obj.AddItem(TKL("x"), static_cast<CMyJsonValue*>(nullptr)));
    EXPECT_TRUE(obj.AddItem(TKL("x"), static_cast<CMyJsonObj*>(nullptr)));
}

TEST(JsonModel, TypedLookupsNeverConvert) {
    CMyJsonObj obj;
    obj.AddItem(TKL("pos"), 2.9);
    obj.AddItem(TKL("neg"), -2.9);
    obj.AddItem(TKL("huge"), 1e10);
    obj.AddItem(TKL("text"), TKL("2"));
    int i = 99;
    EXPECT_TRUE(obj.ValueEx(TKL("pos"), i));
    EXPECT_EQ(i, 2);
    EXPECT_TRUE(obj.ValueEx(TKL("neg"), i));
    EXPECT_EQ(i, -2);
    i = 99;
    EXPECT_FALSE(obj.ValueEx(TKL("text"), i));
    EXPECT_FALSE(obj.ValueEx(TKL("huge"), i));
    EXPECT_EQ(i, 99);
    bool flag = true;
    EXPECT_FALSE(obj.ValueEx(TKL("pos"), flag));
    const TKWCHAR* text = nullptr;
    EXPECT_TRUE(obj.ValueEx(TKL("text"), text));
    EXPECT_EQ(U16(text), u"2");
}

TEST(JsonModel, AddToArrFollowsTheKindRule) {
    std::unique_ptr<CMyJsonValue> numbers(NumberArray({1, 2, 3}));
    EXPECT_FALSE(numbers->AddToArr(TKL("s"), 0));
    EXPECT_TRUE(numbers->AddToArr(5, -1));
    EXPECT_TRUE(numbers->AddToArr(6, 99));
    EXPECT_TRUE(numbers->AddToArr(0, 0));
    EXPECT_EQ(Numbers(*numbers), (std::vector<double>{0, 1, 2, 3, 5, 6}));

    CMyJsonValue empty(static_cast<CMyJsonValue* const*>(nullptr), 0);
    EXPECT_TRUE(empty.AddToArr(TKL("s"), 0));  // fixes the kind to string
    EXPECT_FALSE(empty.AddToArr(1.0));
    CMyJsonObj obj;
    EXPECT_FALSE(empty.AddToArr(&obj));

    CMyJsonValue scalar(1);
    EXPECT_FALSE(scalar.AddToArr(2));
}

TEST(JsonModel, AddToArrSplicesArrays) {
    std::unique_ptr<CMyJsonValue> target(NumberArray({0, 3}));
    std::unique_ptr<CMyJsonValue> insert(NumberArray({1, 2}));
    ASSERT_TRUE(target->AddToArr(insert.get(), 1));
    EXPECT_EQ(Numbers(*target), (std::vector<double>{0, 1, 2, 3}));
    EXPECT_EQ(insert->ValueArrLength(), 2);  // copied, not taken

    // Appending an array to itself.
    ASSERT_TRUE(target->AddToArr(target.get(), -1));
    EXPECT_EQ(Numbers(*target), (std::vector<double>{0, 1, 2, 3, 0, 1, 2, 3}));

    // A refused element stops the splice; copies made before it stay.
    CMyJsonValue* mixed[] = {new CMyJsonValue(TKL("s")), new CMyJsonValue(9)};
    CMyJsonValue mixedArray(mixed, 2);
    std::unique_ptr<CMyJsonValue> small(NumberArray({1}));
    EXPECT_FALSE(small->AddToArr(&mixedArray, -1));
    EXPECT_EQ(Numbers(*small), (std::vector<double>{1, 9}));
}

TEST(JsonModel, MoveToArrChecksEveryKindFirst) {
    std::unique_ptr<CMyJsonValue> target(NumberArray({1}));
    CMyJsonValue* mixed[] = {new CMyJsonValue(2), new CMyJsonValue(TKL("s"))};
    auto* source = new CMyJsonValue(mixed, 2);
    EXPECT_FALSE(target->MoveToArr(source, -1));
    EXPECT_EQ(target->ValueArrLength(), 1);
    EXPECT_EQ(source->ValueArrLength(), 2);  // untouched, still the caller's
    delete source;

    // Success: the elements themselves move and the source is destroyed.
    auto* good = NumberArray({2, 3});
    CMyJsonValue* firstElement = good->ValueArrItem(0);
    ASSERT_TRUE(target->MoveToArr(good, 0));
    EXPECT_EQ(target->ValueArrItem(0), firstElement);
    EXPECT_EQ(Numbers(*target), (std::vector<double>{2, 3, 1}));

    auto* scalar = new CMyJsonValue(4);
    ASSERT_TRUE(target->MoveToArr(scalar, 1));
    EXPECT_EQ(target->ValueArrItem(1), scalar);

    auto* text = new CMyJsonValue(TKL("t"));
    EXPECT_FALSE(target->MoveToArr(text));
    delete text;

    CMyJsonValue objects(static_cast<CMyJsonValue* const*>(nullptr), 0);
    auto* obj = new CMyJsonObj;
    ASSERT_TRUE(objects.MoveToArr(obj));
    EXPECT_EQ(objects.ValueArrItem(0)->ValueObj(), obj);
    EXPECT_FALSE(objects.MoveToArr(static_cast<CMyJsonObj*>(nullptr)));
}

TEST(JsonModel, RemoveFromArr) {
    std::unique_ptr<CMyJsonValue> array(NumberArray({1, 2, 3}));
    array->RemoveFromArr(-1, true);
    array->RemoveFromArr(3, true);
    EXPECT_EQ(array->ValueArrLength(), 3);
    std::unique_ptr<CMyJsonValue> kept(array->ValueArrItem(0));
    array->RemoveFromArr(0, false);  // now owned by `kept`
    array->RemoveFromArr(1, true);
    EXPECT_EQ(Numbers(*array), (std::vector<double>{2}));
    EXPECT_EQ(kept->ValueNumber(), 1);
}

TEST(JsonModel, CopiesAreDeep) {
    CMyJsonObj original;
    ASSERT_TRUE(original.Load(TKL("{\"a\":[1,{\"b\":\"x\"}],\"c\":{\"d\":true}}")));
    std::unique_ptr<CMyJsonObj> clone(original.Clone());
    CMyJsonObj assigned;
    assigned.AddItem(TKL("gone"), 1);
    assigned = original;
    CMyJsonObj copied(original);
    original.SetItem(TKL("c\\d"), false);
    original.DelItem(TKL("a"));
    for (const CMyJsonObj* copy : {clone.get(), &assigned, &copied}) {
        bool d = false;
        EXPECT_TRUE(copy->ValueEx(TKL("c\\d"), d));
        EXPECT_TRUE(d);
        CMyJsonValue* a = nullptr;
        ASSERT_TRUE(copy->Value(TKL("a"), a));
        EXPECT_EQ(a->ValueArrLength(), 2);
        EXPECT_EQ(copy->ValueCount(), 2);
    }
    assigned = assigned;  // self-assignment keeps everything
    EXPECT_EQ(assigned.ValueCount(), 2);

    CMyJsonValue value(1);
    CMyJsonValue array;
    CTKString error;
    ASSERT_TRUE(array.Load(TKL("[[1,2],[3]]"), error));
    value = array;
    EXPECT_EQ(value.ValueArrLength(), 2);
    EXPECT_NE(value.ValueArrItem(0), array.ValueArrItem(0));
    // Copying from one's own element releases the old content only after.
    array.CopyFrom(array.ValueArrItem(0));
    EXPECT_EQ(Numbers(array), (std::vector<double>{1, 2}));
    CMyJsonValue copy(array);
    EXPECT_EQ(Numbers(copy), (std::vector<double>{1, 2}));
}

TEST(JsonModel, CopyFromReplacesItems) {
    CMyJsonObj target;
    target.AddItem(TKL("old"), 1);
    ASSERT_FALSE(target.Load(TKL("x")));  // leaves a message
    CTKString message = target.GetErrMsg();
    CMyJsonObj source;
    source.AddItem(TKL("new"), 2);
    target.CopyFrom(&source);
    EXPECT_EQ(target.ValueCount(), 1);
    EXPECT_EQ(U16(target.GetErrMsg()), U16(message));
    target.CopyFrom(nullptr);
    EXPECT_EQ(target.ValueCount(), 0);
}

// One value through every kind: whatever a kind left behind (elements, an
// object) is released on the change, and the accessors of other kinds see
// no elements and no object.
TEST(JsonModel, ChangingKindReleasesTheOldContent) {
    CMyJsonValue value;
    CTKString error;
    std::unique_ptr<CMyJsonObj> obj(new CMyJsonObj);
    obj->AddItem(TKL("k"), TKL("v"));
    CMyJsonValue holder(obj.release());
    CMyJsonValue text(TKL("s"));
    struct Step {
        const char* name;
        const TKWCHAR* load;       // Load this text, or
        const CMyJsonValue* copy;  // CopyFrom this value
        CMyJsonValue::EValueType kind;
    };
    const Step steps[] = {
        {"array", TKL("[1,[2],{\"a\":3}]"), nullptr, CMyJsonValue::eArr},
        {"number", TKL("7 "), nullptr, CMyJsonValue::eNumber},
        {"object copy", nullptr, &holder, CMyJsonValue::eObj},
        {"bool", TKL("true"), nullptr, CMyJsonValue::eBool},
        {"array again", TKL("[{},{}]"), nullptr, CMyJsonValue::eArr},
        {"failed array", TKL("[1,2 "), nullptr, CMyJsonValue::eEmpty},
        {"object", TKL("{\"x\":[1]}"), nullptr, CMyJsonValue::eObj},
        {"string copy", nullptr, &text, CMyJsonValue::eStr},
    };
    for (const Step& step : steps) {
        if (step.load)
            value.Load(step.load, error);
        else
            value.CopyFrom(step.copy);
        EXPECT_EQ(value.Type(), step.kind) << step.name;
        if (step.kind != CMyJsonValue::eArr) {
            EXPECT_EQ(value.ValueArrLength(), 0) << step.name;
        }
        if (step.kind != CMyJsonValue::eObj) {
            EXPECT_EQ(value.ValueObj(), nullptr) << step.name;
        }
    }
    EXPECT_EQ(U16(value.ValueStr()), u"s");
    CMyJsonValue number(2.5);
    EXPECT_EQ(U16(number.ValueStr()), u"");  // never held a string
}

}  // namespace
