// Models nested a million levels deep, built through the API: every walk
// over them (destroying, cloning, copying, writing, finding) works on a
// thread with the default stack and in time linear in the nodes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "json_test_util.h"
#include "tavikfcu/TKCore.h"

namespace {

constexpr int kLevels = 1000000;

// Runs body on a fresh thread with the platform's default stack, where
// recursion per level would overflow long before a million levels.
void OnDefaultStack(const std::function<void()>& body) {
    std::thread thread(body);
    thread.join();
}

// The key path a\a\...\a of n segments.
std::u16string PathOf(int n) {
    std::u16string path(static_cast<std::size_t>(2 * n - 1), u'\\');
    for (int i = 0; i < n; ++i) path[static_cast<std::size_t>(2 * i)] = u'a';
    return path;
}

// {"a":{"a":...7...}}, n objects deep, unformatted.
std::u16string NestedObjectsText(int n) {
    std::u16string text;
    text.reserve(static_cast<std::size_t>(6 * n + 1));
    for (int i = 0; i < n; ++i) text += u"{\"a\":";
    text += u'7';
    text.append(static_cast<std::size_t>(n), u'}');
    return text;
}

// n arrays around the number 7, each made with CMyJsonValue(items, 1).
CMyJsonValue* NestedArrays(int n) {
    CMyJsonValue* value = new CMyJsonValue(7);
    for (int i = 0; i < n; ++i) value = new CMyJsonValue(&value, 1);
    return value;
}

}  // namespace

TEST(JsonDeepModels, KeyPathOfAMillionSegments) {
    OnDefaultStack([] {
        const std::u16string path = PathOf(kLevels);
        auto doc = std::make_unique<CMyJsonObj>();
        ASSERT_TRUE(doc->SetItem(W(path), 7));
        int found = 0;
        ASSERT_TRUE(doc->ValueEx(W(path), found));
        EXPECT_EQ(found, 7);
        EXPECT_FALSE(doc->SetItem(W(path + u"\\b"), 8));  // 7 is not an object

        std::unique_ptr<CMyJsonObj> copy(doc->Clone());
        const std::u16string expected = NestedObjectsText(kLevels);
        EXPECT_EQ(U16(copy->CreateJson(false)), expected);
        char* utf8 = copy->CreateUTF8Json(false);
        EXPECT_EQ(std::strlen(utf8), expected.size());
        tkFreeMem(utf8);

        CMyJsonObj assigned;
        assigned.CopyFrom(copy.get());  // a deep copy, then the copy goes
        copy.reset();
        ASSERT_TRUE(assigned.ValueEx(W(path), found));
        ASSERT_TRUE(assigned.Load(TKL("{\"b\":1}")));  // Load drops the deep items
        EXPECT_EQ(U16(assigned.CreateJson(false)), u"{\"b\":1}");
        doc.reset();  // the destructor
    });
}

TEST(JsonDeepModels, AMillionNestedArrays) {
    OnDefaultStack([] {
        std::unique_ptr<CMyJsonValue> deep(NestedArrays(kLevels));
        std::u16string expected(static_cast<std::size_t>(kLevels), u'[');
        expected += u'7';
        expected.append(static_cast<std::size_t>(kLevels), u']');
        EXPECT_EQ(U16(deep->CreateJson(false)), expected);

        std::unique_ptr<CMyJsonValue> copy(deep->Clone());
        CMyJsonValue* innermost = copy.get();
        while (innermost->IsArr()) innermost = innermost->ValueArrItem(0);
        EXPECT_EQ(innermost->ValueNumber(), 7);

        // Arrays of objects of arrays: the walks between the two kinds.
        std::unique_ptr<CMyJsonValue> mixed(new CMyJsonValue(7));
        for (int i = 0; i < kLevels / 2; ++i) {
            auto* object = new CMyJsonObj;
            object->AddItem(TKL("x"), mixed.release());
            CMyJsonValue* held = new CMyJsonValue(object);
            mixed.reset(new CMyJsonValue(&held, 1));
        }
        std::u16string mixedText;
        for (int i = 0; i < kLevels / 2; ++i) mixedText += u"[{\"x\":";
        mixedText += u'7';
        for (int i = 0; i < kLevels / 2; ++i) mixedText += u"}]";
        std::unique_ptr<CMyJsonValue> mixedCopy(mixed->Clone());
        mixed.reset();
        EXPECT_EQ(U16(mixedCopy->CreateJson(false)), mixedText);

        CMyJsonValue reloaded;
        reloaded.CopyFrom(deep.get());
        CTKString error;
        ASSERT_TRUE(reloaded.Load(TKL("[1]"), error));  // Load drops the deep array
        deep.reset();
    });
}
