// Documents read from text live in storage of their own: values handed to
// the caller outlive the document, strings taken out are the caller's own,
// and a loaded document edits like any other. Run under ASan/LSan, a store
// freed too early or never freed fails the suite.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "json_test_util.h"

namespace {

const TKWCHAR* const kDocument =
    TKL("{\"list\":[{\"name\":\"first\",\"tags\":[\"a\",\"b\"]},{\"name\":\"second\",\"n\":[1,2]}],"
        "\"words\":[\"x\",\"y\",\"z\"],\"box\":{\"inner\":{\"k\":\"v\"},\"w\":2}}");

std::u16string Compact(CMyJsonValue& v) {
    return U16(v.CreateJson(false));
}

CMyJsonValue* At(const CMyJsonObj& obj, const TKWCHAR* path) {
    CMyJsonValue* v = nullptr;
    EXPECT_TRUE(obj.Value(path, v));
    return v;
}

// Every way a value read from text becomes the caller's, each followed by
// the end of the document it came from.
TEST(JsonStore, ValuesHandedOutOutliveTheirDocument) {
    struct Row {
        const char* name;
        // Takes a value out of doc (a Load of kDocument) for the caller.
        CMyJsonValue* (*take)(CMyJsonObj& doc);
        std::u16string compact;
    };
    const Row rows[] = {
        {"removed element",
         [](CMyJsonObj& doc) {
             CMyJsonValue* list = At(doc, TKL("list"));
             CMyJsonValue* first = list->ValueArrItem(0);
             list->RemoveFromArr(0, false);
             return first;
         },
         u"{\"name\":\"first\",\"tags\":[\"a\",\"b\"]}"},
        {"removed nested element",
         [](CMyJsonObj& doc) {
             CMyJsonValue* tags = At(doc, TKL("list"))->ValueArrItem(0);
             CMyJsonValue* array;
             EXPECT_TRUE(tags->ValueObj()->Value(TKL("tags"), array));
             CMyJsonValue* b = array->ValueArrItem(1);
             array->RemoveFromArr(1, false);
             return b;
         },
         u"\"b\""},
        {"spliced array read from text",
         [](CMyJsonObj& doc) {
             CMyJsonValue* list = At(doc, TKL("list"));
             CMyJsonValue* first = list->ValueArrItem(0);
             list->RemoveFromArr(0, false);
             CMyJsonValue* tags;
             EXPECT_TRUE(first->ValueObj()->Value(TKL("tags"), tags));
             CMyJsonValue* detached = tags->Clone();
             delete first;
             // An array whose elements were read from text, in its own store.
             CMyJsonValue loaded;
             CTKString error;
             EXPECT_TRUE(loaded.Load(TKL("[[\"p\",\"q\"]]"), error));
             CMyJsonValue* inner = loaded.ValueArrItem(0);
             loaded.RemoveFromArr(0, false);
             EXPECT_TRUE(detached->MoveToArr(inner, 0));  // inner goes, its elements stay
             return detached;
         },
         u"[\"p\",\"q\",\"a\",\"b\"]"},
    };
    for (const Row& row : rows) {
        std::unique_ptr<CMyJsonValue> taken;
        {
            CMyJsonObj doc;
            ASSERT_TRUE(doc.Load(kDocument)) << row.name;
            taken.reset(row.take(doc));
        }
        // Another document read meanwhile must not reuse the first one's memory.
        CMyJsonObj other;
        ASSERT_TRUE(other.Load(kDocument));
        EXPECT_EQ(Compact(*taken), row.compact) << row.name;
    }

    // A value read from text and moved into another document lives as
    // long as that document.
    auto receiver = std::make_unique<CMyJsonObj>();
    {
        CMyJsonValue top;
        CTKString error;
        ASSERT_TRUE(top.Load(TKL("[{\"k\":\"kept\"},{\"k\":\"other\"}]"), error));
        CMyJsonValue* element = top.ValueArrItem(0);
        top.RemoveFromArr(0, false);
        ASSERT_TRUE(receiver->AddItem(TKL("moved"), element));
    }
    EXPECT_EQ(U16(receiver->CreateJson(false)), u"{\"moved\":{\"k\":\"kept\"}}");
}

// A key or text taken out of a document is a string of its own with the
// capacity a fresh copy of its text has, whatever the caller's string held.
TEST(JsonStore, StringsTakenOutAreTheCallersOwn) {
    const struct {
        const char* name;
        std::u16string text;  // as written in the document
        std::u16string value;
    } rows[] = {
        {"short", u"abc", u"abc"},
        {"escaped", u"say \\\"hi\\\"", u"say \"hi\""},
        {"100 units", std::u16string(100, u'm'), std::u16string(100, u'm')},
        {"300 units", std::u16string(300, u'l'), std::u16string(300, u'l')},
        {"700 units", std::u16string(700, u'h'), std::u16string(700, u'h')},
    };
    for (const auto& row : rows) {
        const std::u16string quoted = u"\"" + row.text + u"\"";
        const std::u16string text =
            u"{\"o\":{" + quoted + u":" + quoted + u"},\"a\":[" + quoted + u"]}";
        CTKString key, value, element;
        key.GetBuffer(1000);  // a body of the caller's with room to spare
        {
            CMyJsonObj doc;
            ASSERT_TRUE(doc.Load(W(text))) << row.name;
            CMyJsonObj* inner;
            ASSERT_TRUE(doc.ValueEx(TKL("o"), inner)) << row.name;
            CMyJsonValue* v;
            ASSERT_TRUE(inner->Item(0, key, v)) << row.name;
            ASSERT_TRUE(inner->ValueEx(W(row.value), value)) << row.name;
            element = CTKString(At(doc, TKL("a"))->ValueArrItem(0)->ValueStr());
            value.SetAt(0, 'Z');
            EXPECT_EQ(U16(inner->CreateJson(false)), u"{\"" + row.value + u"\":" + quoted + u"}")
                << row.name;
        }
        const CTKString fresh(W(row.value));
        EXPECT_EQ(U16(key), row.value) << row.name;
        EXPECT_EQ(key.GetAllocLength(), fresh.GetAllocLength()) << row.name;
        EXPECT_EQ(value.GetAllocLength(), fresh.GetAllocLength()) << row.name;
        EXPECT_EQ(U16(value), u"Z" + row.value.substr(1)) << row.name;
        EXPECT_EQ(U16(element), row.value) << row.name;
    }
}

// A document read from text takes every edit: lists that grow leave the
// document's storage, replaced and removed values go, an inner object may
// be loaded again, and nothing is freed twice or left behind.
TEST(JsonStore, LoadedDocumentsEditLikeAnyOther) {
    CMyJsonObj doc;
    ASSERT_TRUE(doc.Load(kDocument));
    CMyJsonObj* box;
    ASSERT_TRUE(doc.ValueEx(TKL("box"), box));
    EXPECT_TRUE(box->AddItem(TKL("added"), TKL("new")));
    EXPECT_TRUE(box->SetItem(TKL("w"), 3));
    EXPECT_TRUE(At(doc, TKL("words"))->AddToArr(TKL("w0"), 0));
    EXPECT_TRUE(doc.SetItem(TKL("list"), TKL("replaced")));
    CMyJsonObj* inner;
    ASSERT_TRUE(box->ValueEx(TKL("inner"), inner));
    ASSERT_TRUE(inner->Load(TKL("{\"again\":[true,\"t\"]}")));
    At(doc, TKL("box\\inner\\again"))->CopyFrom(At(doc, TKL("words")));
    doc.DelItem(TKL("words"));
    EXPECT_EQ(U16(doc.CreateJson(false)),
              u"{\"list\":\"replaced\",\"box\":{\"inner\":{\"again\":[\"w0\",\"x\",\"y\",\"z\"]},"
              u"\"w\":3,\"added\":\"new\"}}");

    std::unique_ptr<CMyJsonObj> copy(doc.Clone());
    ASSERT_TRUE(doc.Load(TKL("{\"fresh\":1}")));  // the first document's storage goes
    EXPECT_EQ(U16(copy->CreateJson(false)).substr(0, 22), u"{\"list\":\"replaced\",\"bo");
}

}  // namespace
