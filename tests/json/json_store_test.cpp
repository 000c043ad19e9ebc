// Documents read from text live in storage of their own: values handed to
// the caller outlive the document, strings taken out are the caller's own,
// and a loaded document edits like any other. Run under ASan/LSan, a store
// freed too early or never freed fails the suite.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "json_test_util.h"

namespace {

const TKWCHAR* const kDocument =
    TKL("{\"list\":[{\"name\":\"first\",\"tags\":[\"a\",\"b\"]},{\"name\":\"second\",\"n\":[1,2]}],"
        "\"words\":[\"x\",\"y\",\"z\"],\"box\":{\"inner\":{\"k\":\"v\"},\"w\":2}}");

std::u16string Compact(CMyJsonValue& v) {
    return U16(v.CreateJson(false));
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

// Copies of a document read from text, untouched or edited, stand alone:
// they outlive the source, take edits, hand out values that outlive them,
// and strings taken out of them are fresh copies.
TEST(JsonStore, CopiesOfLoadedDocumentsStandAlone) {
    struct Row {
        const char* name;
        // A copy of the array "list" of doc, or of a container holding it.
        CMyJsonValue* (*copy)(CMyJsonObj& doc);
    };
    const Row rows[] = {
        {"Clone of the value", [](CMyJsonObj& doc) { return At(doc, TKL("list"))->Clone(); }},
        {"CopyFrom",
         [](CMyJsonObj& doc) {
             auto* v = new CMyJsonValue(TKL("old"));
             v->CopyFrom(At(doc, TKL("list")));
             return v;
         }},
        {"Clone of the document", [](CMyJsonObj& doc) { return new CMyJsonValue(doc.Clone()); }},
        {"copy of a copy",
         [](CMyJsonObj& doc) {
             std::unique_ptr<CMyJsonObj> first(doc.Clone());
             return new CMyJsonValue(*At(*first, TKL("list")));
         }},
    };
    const std::u16string second = u"{\"name\":\"second\",\"n\":[1,2]}";
    const std::u16string secondEdited = u"{\"name\":\"second\",\"n\":[1,2],\"p\":\"q\"}";
    // Element 0 holds enough values that copies of the list get a store.
    std::u16string text = u"{\"list\":[{\"name\":\"first\",\"tags\":[\"a\"";
    for (int i = 0; i < 80; ++i) text += u",\"b\"";
    text += u"]},{\"name\":\"second\",\"n\":[1,2]}]}";
    for (const bool edited : {false, true}) {
        for (const Row& row : rows) {
            const std::string name = std::string(row.name) + (edited ? ", edited" : "");
            std::unique_ptr<CMyJsonValue> copy;
            {
                CMyJsonObj doc;
                ASSERT_TRUE(doc.Load(W(text))) << name;
                if (edited) {
                    CMyJsonObj* obj = At(doc, TKL("list"))->ValueArrItem(1)->ValueObj();
                    ASSERT_TRUE(obj->AddItem(TKL("p"), TKL("q")));
                }
                copy.reset(row.copy(doc));
            }
            CMyJsonObj other;  // must not reuse the source's memory
            ASSERT_TRUE(other.Load(kDocument));
            CMyJsonValue* list = copy->IsObj() ? At(*copy->ValueObj(), TKL("list")) : copy.get();
            ASSERT_EQ(list->ValueArrLength(), 2) << name;
            EXPECT_EQ(Compact(*list->ValueArrItem(1)), edited ? secondEdited : second) << name;
            CTKString text;
            ASSERT_TRUE(list->ValueArrItem(0)->ValueObj()->ValueEx(TKL("name"), text)) << name;
            EXPECT_EQ(text.GetAllocLength(), CTKString(TKL("first")).GetAllocLength()) << name;
            // Edits: the list regrows, an element is handed out, the copy goes.
            EXPECT_TRUE(list->AddToArr(list->ValueArrItem(0)->ValueObj())) << name;
            CMyJsonValue* taken = list->ValueArrItem(1);
            list->RemoveFromArr(1, false);
            std::unique_ptr<CMyJsonValue> owned(taken);
            EXPECT_TRUE(list->MoveToArr(owned->Clone(), 0)) << name;
            EXPECT_EQ(list->ValueArrLength(), 3) << name;
            copy.reset();
            EXPECT_EQ(Compact(*owned), edited ? secondEdited : second) << name;
        }
    }
}

// Documents read, copied and destroyed on several threads at once, of
// sizes that take chunks of many sizes, some destroyed on another thread
// than the one that read them: the storage the threads share hands every
// chunk to one document at a time (TSan and ASan check it).
TEST(JsonStore, ThreadsReadAndDropDocumentsAtOnce) {
    constexpr int kThreads = 4;
    std::vector<std::u16string> texts;
    for (int records : {1, 40, 2000, 20000}) {
        std::u16string text = u"{\"r\":[";
        for (int i = 0; i < records; ++i)
            text += (i ? u"," : u"") + std::u16string(u"{\"id\":7,\"name\":\"n\",\"t\":[true]}");
        texts.push_back(text + u"]}");
    }
    std::vector<std::unique_ptr<CMyJsonObj>> handedOver(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 12; ++round) {
                const std::u16string& text = texts[(t + round) % texts.size()];
                auto doc = std::make_unique<CMyJsonObj>();
                if (!doc->Load(W(text))) return ADD_FAILURE() << "thread " << t;
                std::unique_ptr<CMyJsonObj> copy(doc->Clone());
                if (U16(copy->CreateJson(false)) != text) ADD_FAILURE() << "thread " << t;
                // Every other round the document is kept until the next such
                // round; the last one kept goes on the main thread.
                if (round % 2 == 0) handedOver[t].reset(doc.release());
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (auto& doc : handedOver) EXPECT_EQ(U16(doc->CreateJson(false)).substr(0, 6), u"{\"r\":[");
}

}  // namespace
