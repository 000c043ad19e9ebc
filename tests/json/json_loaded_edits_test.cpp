// Values and objects read from text are kept in a lean form until something
// changes them. These tests change them every way the API allows, move them
// between documents and copy them, and check that each then reads, writes,
// copies and goes exactly as a value built through the API would. Under
// ASan/LSan a record freed twice, a store left behind or a word read in the
// wrong form fails the suite.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "json_test_util.h"

namespace {

const TKWCHAR* const kKinds =
    TKL("{\"s\":\"abc\",\"n\":2.5,\"t\":true,\"e\":,\"a\":[1,2],\"o\":{\"k\":\"v\"}}");

std::u16string Text(CMyJsonObj& obj) {
    return U16(obj.CreateJson(false));
}

// A loaded document reads the same after a Clone, and its clone's
// formatted text matches its own.
void ExpectCloneMatches(CMyJsonObj& doc, const std::string& name) {
    std::unique_ptr<CMyJsonObj> copy(doc.Clone());
    EXPECT_EQ(Text(*copy), Text(doc)) << name;
    EXPECT_EQ(U16(copy->CreateJson(true)), U16(doc.CreateJson(true))) << name;
}

}  // namespace

// A value read from text that changes its kind keeps what the model says a
// value keeps: Load leaves the text of a former string, CopyFrom takes the
// source's text (none for a non-string).
TEST(JsonLoadedEdits, KindChanges) {
    struct Row {
        const char* name;
        const TKWCHAR* key;
        std::function<bool(CMyJsonValue&, CMyJsonObj&)> change;
        CMyJsonValue::EValueType kind;
        std::u16string str;  // ValueStr afterwards
        std::u16string doc;  // the document's text afterwards
    };
    auto load = [](const TKWCHAR* text) {
        return [text](CMyJsonValue& v, CMyJsonObj&) {
            CTKString error;
            return v.Load(text, error);
        };
    };
    auto copyFrom = [](const TKWCHAR* key) {
        return [key](CMyJsonValue& v, CMyJsonObj& doc) {
            v.CopyFrom(At(doc, key));
            return true;
        };
    };
    const Row rows[] = {
        {"string loads a number, keeps its text", TKL("s"), load(TKL("5 ")), CMyJsonValue::eNumber,
         u"abc", u"{\"s\":5,\"n\":2.5,\"t\":true,\"e\":null,\"a\":[1,2],\"o\":{\"k\":\"v\"}}"},
        {"number loads an array", TKL("n"), load(TKL("[\"x\"]")), CMyJsonValue::eArr, u"",
         u"{\"s\":\"abc\",\"n\":[\"x\"],\"t\":true,\"e\":null,\"a\":[1,2],\"o\":{\"k\":\"v\"}}"},
        {"flag loads a string", TKL("t"), load(TKL("\"q\"")), CMyJsonValue::eStr, u"q",
         u"{\"s\":\"abc\",\"n\":2.5,\"t\":\"q\",\"e\":null,\"a\":[1,2],\"o\":{\"k\":\"v\"}}"},
        {"empty loads an object", TKL("e"), load(TKL("{\"z\":[]}")), CMyJsonValue::eObj, u"",
         u"{\"s\":\"abc\",\"n\":2.5,\"t\":true,\"e\":{\"z\":[]},\"a\":[1,2],\"o\":{\"k\":\"v\"}}"},
        {"array loads an object", TKL("a"), load(TKL("{\"y\":1}")), CMyJsonValue::eObj, u"",
         u"{\"s\":\"abc\",\"n\":2.5,\"t\":true,\"e\":null,\"a\":{\"y\":1},\"o\":{\"k\":\"v\"}}"},
        {"object loads a flag", TKL("o"), load(TKL("false")), CMyJsonValue::eBool, u"",
         u"{\"s\":\"abc\",\"n\":2.5,\"t\":true,\"e\":null,\"a\":[1,2],\"o\":false}"},
        {"failed load leaves an empty value", TKL("a"), load(TKL("[1,")), CMyJsonValue::eEmpty, u"",
         u"{\"s\":\"abc\",\"n\":2.5,\"t\":true,\"e\":null,\"a\":null,\"o\":{\"k\":\"v\"}}"},
        {"string copies a number, drops its text", TKL("s"), copyFrom(TKL("n")),
         CMyJsonValue::eNumber, u"",
         u"{\"s\":2.5,\"n\":2.5,\"t\":true,\"e\":null,\"a\":[1,2],\"o\":{\"k\":\"v\"}}"},
        {"array copies an object", TKL("a"), copyFrom(TKL("o")), CMyJsonValue::eObj, u"",
         u"{\"s\":\"abc\",\"n\":2.5,\"t\":true,\"e\":null,\"a\":{\"k\":\"v\"},\"o\":{\"k\":\"v\"}"
         u"}"},
        {"object copies a string", TKL("o"), copyFrom(TKL("s")), CMyJsonValue::eStr, u"abc",
         u"{\"s\":\"abc\",\"n\":2.5,\"t\":true,\"e\":null,\"a\":[1,2],\"o\":\"abc\"}"},
    };
    for (const Row& row : rows) {
        auto doc = std::make_unique<CMyJsonObj>();
        ASSERT_TRUE(doc->Load(kKinds)) << row.name;
        CMyJsonValue* v = At(*doc, row.key);
        row.change(*v, *doc);
        EXPECT_EQ(v->Type(), row.kind) << row.name;
        EXPECT_EQ(U16(v->ValueStr()), row.str) << row.name;
        EXPECT_EQ(v->ValueArrLength() == 0, row.kind != CMyJsonValue::eArr) << row.name;
        EXPECT_EQ(v->ValueObj() != nullptr, row.kind == CMyJsonValue::eObj) << row.name;
        EXPECT_EQ(Text(*doc), row.doc) << row.name;
        ExpectCloneMatches(*doc, row.name);
    }
}

// Every mutator of both classes on a document read from text, each row on
// a fresh document, which then writes, clones and goes.
TEST(JsonLoadedEdits, EveryMutator) {
    const TKWCHAR* const text =
        TKL("{\"nums\":[1,2,3],\"objs\":[{\"k\":1},{\"k\":2}],\"none\":[],"
            "\"box\":{\"in\":{\"d\":true},\"w\":\"z\"},\"top\":7}");
    const std::u16string rest = u"\"box\":{\"in\":{\"d\":true},\"w\":\"z\"},\"top\":7}";
    struct Row {
        const char* name;
        std::function<bool(CMyJsonObj&)> change;
        bool result;
        std::u16string doc;
    };
    auto box = [](CMyJsonObj& doc) { return At(doc, TKL("box"))->ValueObj(); };
    const Row rows[] = {
        {"AddToArr number at the front",
         [](CMyJsonObj& d) { return At(d, TKL("nums"))->AddToArr(9, 0); }, true,
         u"{\"nums\":[9,1,2,3],\"objs\":[{\"k\":1},{\"k\":2}],\"none\":[]," + rest},
        {"AddToArr of another kind is refused",
         [](CMyJsonObj& d) { return At(d, TKL("nums"))->AddToArr(TKL("x"), 0); }, false,
         u"{\"nums\":[1,2,3],\"objs\":[{\"k\":1},{\"k\":2}],\"none\":[]," + rest},
        {"AddToArr splices a loaded array into itself",
         [](CMyJsonObj& d) {
             CMyJsonValue* nums = At(d, TKL("nums"));
             return nums->AddToArr(nums, 1);
         },
         true, u"{\"nums\":[1,1,2,3,2,3],\"objs\":[{\"k\":1},{\"k\":2}],\"none\":[]," + rest},
        {"AddToArr copies a loaded object",
         [box](CMyJsonObj& d) { return At(d, TKL("objs"))->AddToArr(box(d), -1); }, true,
         u"{\"nums\":[1,2,3],\"objs\":[{\"k\":1},{\"k\":2},{\"in\":{\"d\":true},\"w\":\"z\"}],"
         u"\"none\":[]," +
             rest},
        {"AddToArr bool fixes an empty loaded array's kind",
         [](CMyJsonObj& d) {
             CMyJsonValue* none = At(d, TKL("none"));
             return none->AddToArr(true, 0) && !none->AddToArr(1.5, 0);
         },
         true, u"{\"nums\":[1,2,3],\"objs\":[{\"k\":1},{\"k\":2}],\"none\":[true]," + rest},
        {"RemoveFromArr then MoveToArr back at the end",
         [](CMyJsonObj& d) {
             CMyJsonValue* objs = At(d, TKL("objs"));
             CMyJsonValue* first = objs->ValueArrItem(0);
             objs->RemoveFromArr(0, false);
             return objs->MoveToArr(first, 5);
         },
         true, u"{\"nums\":[1,2,3],\"objs\":[{\"k\":2},{\"k\":1}],\"none\":[]," + rest},
        {"MoveToArr of a new object and RemoveFromArr destroying",
         [](CMyJsonObj& d) {
             CMyJsonValue* objs = At(d, TKL("objs"));
             objs->RemoveFromArr(1, true);
             return objs->MoveToArr(new CMyJsonObj, 0);
         },
         true, u"{\"nums\":[1,2,3],\"objs\":[{},{\"k\":1}],\"none\":[]," + rest},
        {"CopyFrom and assignment between loaded values",
         [](CMyJsonObj& d) {
             At(d, TKL("top"))->CopyFrom(At(d, TKL("box\\in")));
             *At(d, TKL("none")) = *At(d, TKL("nums"));
             return true;
         },
         true,
         u"{\"nums\":[1,2,3],\"objs\":[{\"k\":1},{\"k\":2}],\"none\":[1,2,3],"
         u"\"box\":{\"in\":{\"d\":true},\"w\":\"z\"},\"top\":{\"d\":true}}"},
        {"AddItem, SetItem through paths, DelItem on a loaded object",
         [box](CMyJsonObj& d) {
             return box(d)->AddItem(TKL("n"), 1.5) && box(d)->SetItem(TKL("in\\d"), false) &&
                    box(d)->SetItem(TKL("new\\deep"), TKL("v")) &&
                    !box(d)->SetItem(TKL("gone"), 1, true, true) &&
                    (box(d)->DelItem(TKL("w")), true);
         },
         true,
         u"{\"nums\":[1,2,3],\"objs\":[{\"k\":1},{\"k\":2}],\"none\":[],\"box\":{\"in\":{\"d\":"
         u"false},\"n\":1.5,\"new\":{\"deep\":\"v\"}},\"top\":7}"},
        {"CopyFrom of an object inside the object",
         [box](CMyJsonObj& d) {
             CMyJsonObj* in = At(d, TKL("box\\in"))->ValueObj();
             box(d)->CopyFrom(in);
             return true;
         },
         true,
         u"{\"nums\":[1,2,3],\"objs\":[{\"k\":1},{\"k\":2}],\"none\":[],\"box\":{\"d\":true},"
         u"\"top\":7}"},
        {"Load and assignment of loaded objects",
         [box](CMyJsonObj& d) {
             CMyJsonObj* first = At(d, TKL("objs"))->ValueArrItem(0)->ValueObj();
             return first->Load(TKL("{\"r\":[1]}")) && (*box(d) = *first, true);
         },
         true,
         u"{\"nums\":[1,2,3],\"objs\":[{\"r\":[1]},{\"k\":2}],\"none\":[],\"box\":{\"r\":[1]},"
         u"\"top\":7}"},
    };
    for (const Row& row : rows) {
        auto doc = std::make_unique<CMyJsonObj>();
        ASSERT_TRUE(doc->Load(text)) << row.name;
        EXPECT_EQ(row.change(*doc), row.result) << row.name;
        EXPECT_EQ(Text(*doc), row.doc) << row.name;
        ExpectCloneMatches(*doc, row.name);
    }
}

// Values taken out of one document and moved into another, then edited,
// live as long as their new owner, whichever document goes first.
TEST(JsonLoadedEdits, MovesBetweenDocumentsInEitherOrder) {
    for (const bool sourceFirst : {true, false}) {
        const std::string name = sourceFirst ? "source first" : "receiver first";
        auto source = std::make_unique<CMyJsonValue>();
        CTKString error;
        ASSERT_TRUE(source->Load(TKL("[{\"k\":[1,2]},{\"k\":[3]},[4,5]]"), error));
        auto receiver = std::make_unique<CMyJsonObj>();
        ASSERT_TRUE(receiver->Load(TKL("{\"list\":[{\"k\":[0]}],\"nums\":[9],\"arrs\":[[8]]}")));

        // A top-level element, a nested element and an array spliced in.
        CMyJsonValue* second = source->ValueArrItem(1);
        source->RemoveFromArr(1, false);
        CMyJsonValue* ks = At(*source->ValueArrItem(0)->ValueObj(), TKL("k"));
        CMyJsonValue* one = ks->ValueArrItem(0);
        ks->RemoveFromArr(0, false);
        CMyJsonValue* pair = source->ValueArrItem(1);
        source->RemoveFromArr(1, false);
        ASSERT_TRUE(At(*receiver, TKL("list"))->MoveToArr(second, -1)) << name;
        ASSERT_TRUE(At(*receiver, TKL("nums"))->MoveToArr(one, 0)) << name;
        ASSERT_TRUE(At(*receiver, TKL("nums"))->MoveToArr(pair, -1)) << name;  // spliced

        // Edits of moved values after the move.
        ASSERT_TRUE(second->ValueObj()->AddItem(TKL("x"), true)) << name;
        ASSERT_TRUE(one->Load(TKL("6 "), error)) << name;

        if (sourceFirst) {
            source.reset();
            EXPECT_EQ(Text(*receiver),
                      u"{\"list\":[{\"k\":[0]},{\"k\":[3],\"x\":true}],\"nums\":[6,9,4,5],"
                      u"\"arrs\":[[8]]}")
                << name;
            ExpectCloneMatches(*receiver, name);
        } else {
            receiver.reset();
            EXPECT_EQ(U16(source->CreateJson(false)), u"[{\"k\":[2]}]") << name;
        }
    }
}

// Copies of loaded documents carry edits made before the copy, including
// the message of a failed Load of an inner object, and stand alone after.
TEST(JsonLoadedEdits, CopiesCarryEditsAndMessages) {
    std::u16string text = u"{\"big\":[";
    for (int i = 0; i < 100; ++i) text += (i ? u"," : u"") + std::u16string(u"{\"v\":[\"t\"]}");
    text += u"],\"inner\":{\"a\":1}}";
    for (const bool clone : {true, false}) {
        const std::string name = clone ? "Clone" : "CopyFrom";
        std::unique_ptr<CMyJsonObj> copy(new CMyJsonObj);
        {
            CMyJsonObj doc;
            ASSERT_TRUE(doc.Load(W(text))) << name;
            CMyJsonObj* inner = At(doc, TKL("inner"))->ValueObj();
            EXPECT_FALSE(inner->Load(TKL("[1]"))) << name;
            EXPECT_FALSE(U16(inner->GetErrMsg()).empty()) << name;
            At(doc, TKL("big"))->ValueArrItem(50)->ValueObj()->SetItem(TKL("v"), 2.5);
            if (clone)
                copy.reset(doc.Clone());
            else
                copy->CopyFrom(&doc);
            std::unique_ptr<CMyJsonObj> innerCopy(inner->Clone());
            EXPECT_EQ(U16(innerCopy->GetErrMsg()), U16(inner->GetErrMsg())) << name;
            EXPECT_EQ(Text(*copy), Text(doc)) << name;
        }
        CMyJsonValue* big = At(*copy, TKL("big"));
        ASSERT_EQ(big->ValueArrLength(), 100) << name;
        EXPECT_EQ(U16(big->ValueArrItem(50)->CreateJson(false)), u"{\"v\":2.5}") << name;
        EXPECT_EQ(U16(big->ValueArrItem(51)->CreateJson(false)), u"{\"v\":[\"t\"]}") << name;
        big->RemoveFromArr(0, true);
        EXPECT_EQ(big->ValueArrLength(), 99) << name;
    }
}

// Nesting as deep as the reader takes, in arrays and objects by turns,
// destroyed untouched and after a change at the bottom (which makes the
// destruction walk every level, through values that hold a reference on
// their store), as an object and as a value document.
TEST(JsonLoadedEdits, DeepDocumentsGoAfterAnEdit) {
    constexpr int kPairs = 250;  // 501 levels
    std::u16string text;
    for (int i = 0; i < kPairs; ++i) text += u"[{\"a\":";
    text += u"\"end\"";
    for (int i = 0; i < kPairs; ++i) text += u",\"b\":[1,\"x\"]}]";
    const std::u16string objectText = u"{\"top\":" + text + u"}";
    const std::u16string valueText = u"[" + text + u"]";
    for (const bool edit : {false, true}) {
        for (const bool asValue : {false, true}) {
            std::unique_ptr<CMyJsonValue> value;
            std::unique_ptr<CMyJsonObj> object;
            CMyJsonValue* v;
            CTKString error;
            if (asValue) {
                value.reset(new CMyJsonValue);
                ASSERT_TRUE(value->Load(W(valueText), error));
                v = value->ValueArrItem(0);  // held from outside the store
            } else {
                object.reset(new CMyJsonObj);
                ASSERT_TRUE(object->Load(W(objectText)));
                v = At(*object, TKL("top"));
            }
            for (int i = 0; i < kPairs; ++i) {
                CMyJsonObj* level = v->ValueArrItem(0)->ValueObj();
                ASSERT_NE(level, nullptr);
                v = At(*level, TKL("a"));
            }
            EXPECT_EQ(U16(v->ValueStr()), u"end");
            if (edit) {
                ASSERT_TRUE(v->Load(TKL("[true]"), error));
            }
            std::u16string expected = asValue ? valueText : objectText;
            if (edit) expected.replace(expected.find(u"\"end\""), 5, u"[true]");
            EXPECT_EQ(U16(asValue ? value->CreateJson(false) : object->CreateJson(false)),
                      expected);
        }
    }
}
