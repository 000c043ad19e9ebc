#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKString.h"

namespace {

std::u16string W(const TKWCHAR* s) {
    return s ? std::u16string(s) : std::u16string(u"<null>");
}

// Switches the library's ANSI code page for one test and restores UTF-8.
class CodePageScope {
  public:
    explicit CodePageScope(unsigned int codePage) : m_ok(tkSetAnsiCodePage(codePage) != 0) {}
    ~CodePageScope() { tkSetAnsiCodePage(65001); }
    bool ok() const { return m_ok; }

  private:
    bool m_ok;
};

// Records its own destruction, so tests can see when Release deletes it.
class Tracked : public CTKObject {
  public:
    explicit Tracked(bool* destroyed) : m_destroyed(destroyed) {}
    ~Tracked() override { *m_destroyed = true; }

  private:
    bool* m_destroyed;
};

}  // namespace

TEST(Object, NewObjectHasNoError) {
    CTKObject obj;
    EXPECT_EQ(obj.GetErrorCode(), CTKObject::eNoError);
    EXPECT_EQ(obj.GetErrorMsg(), nullptr);
    EXPECT_EQ(obj.GetErrorMsgW(), nullptr);
    EXPECT_EQ(obj.GetErrorMsgA(), nullptr);
    EXPECT_EQ(obj.GetThisClass(), &CTKObject::m_class);
}

TEST(Object, ReleaseDeletesOnLastOwner) {
    bool destroyed = false;
    CTKObject* obj = new Tracked(&destroyed);
    EXPECT_EQ(obj->AddRef(), 2);
    EXPECT_EQ(obj->Release(), 1);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(obj->Release(), 0);  // deleted through the virtual destructor
    EXPECT_TRUE(destroyed);

    destroyed = false;
    (new Tracked(&destroyed))->Release();
    EXPECT_TRUE(destroyed);
}

TEST(Object, MessagesFollowTheActiveCodePage) {
    struct Row {
        const char* name;
        unsigned int codePage;
        const TKWCHAR* text;
        const char* narrow;
    };
    const Row rows[] = {
        {"null text gives empty messages", 65001, nullptr, ""},
        {"ascii under utf8", 65001, TKL("bad file"), "bad file"},
        {"chinese under utf8", 65001, TKL("文件错误"),
         "\xE6\x96\x87\xE4\xBB\xB6\xE9\x94\x99\xE8\xAF\xAF"},
        {"chinese under 936", 936, TKL("文件错误"), "\xCE\xC4\xBC\xFE\xB4\xED\xCE\xF3"},
        {"chinese under 1252 uses the default char", 1252, TKL("中x"), "?x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CodePageScope scope(row.codePage);
        ASSERT_TRUE(scope.ok());
        CTKObject obj;
        obj.SetError(CTKObject::eInvalidContent, row.text);
        EXPECT_EQ(obj.GetErrorCode(), CTKObject::eInvalidContent);
        EXPECT_EQ(W(obj.GetErrorMsgW()), row.text ? W(row.text) : u"");
        ASSERT_NE(obj.GetErrorMsgA(), nullptr);
        EXPECT_STREQ(obj.GetErrorMsgA(), row.narrow);
    }
}

// The narrow message is re-rendered when the code page changes after it was
// set; texts handed out before the switch stay readable until the next set.
TEST(Object, SwitchingCodePageAfterSetIsHonoured) {
    CTKObject obj;
    obj.SetErrorMsg(TKL("中文"));
    const char* utf8 = obj.GetErrorMsgA();
    EXPECT_STREQ(utf8, "\xE4\xB8\xAD\xE6\x96\x87");
    {
        CodePageScope scope(936);
        ASSERT_TRUE(scope.ok());
        EXPECT_STREQ(obj.GetErrorMsgA(), "\xD6\xD0\xCE\xC4");
        EXPECT_STREQ(utf8, "\xE4\xB8\xAD\xE6\x96\x87");  // still valid
    }
    EXPECT_EQ(obj.GetErrorMsgA(), utf8);  // the earlier rendering comes back
    obj.SetErrorMsg(TKL("x"));
    EXPECT_STREQ(obj.GetErrorMsgA(), "x");
}

TEST(Object, CodeAndMessageChangeIndependently) {
    const CTKObject obj;  // the setters work on const objects
    obj.SetError(CTKObject::eNotFound, TKL("missing"));
    obj.SetErrorMsg(TKL("still missing"));
    EXPECT_EQ(obj.GetErrorCode(), CTKObject::eNotFound);
    obj.SetErrorCode(CTKObject::eAccessFailed);
    EXPECT_EQ(W(obj.GetErrorMsg()), u"still missing");
    obj.SetErrorCode(static_cast<CTKObject::EErrorStatus>(123456));  // stored unchanged
    EXPECT_EQ(static_cast<int>(obj.GetErrorCode()), 123456);
}

TEST(Object, SetErrorMsgAcceptsItsOwnMessage) {
    CTKObject obj;
    obj.SetErrorMsg(TKL("self"));
    obj.SetErrorMsg(obj.GetErrorMsgW());
    EXPECT_EQ(W(obj.GetErrorMsgW()), u"self");
    EXPECT_STREQ(obj.GetErrorMsgA(), "self");
}

TEST(Object, CopiesOwnTheirRecords) {
    CTKObject src;
    src.SetError(CTKObject::eInvalidContent, TKL("原因"));
    src.AddRef();  // the copy does not inherit owners

    CTKObject* copy = new CTKObject(src);
    EXPECT_EQ(copy->GetErrorCode(), CTKObject::eInvalidContent);
    EXPECT_EQ(W(copy->GetErrorMsgW()), u"原因");
    EXPECT_NE(copy->GetErrorMsgW(), src.GetErrorMsgW());
    EXPECT_STREQ(copy->GetErrorMsgA(), src.GetErrorMsgA());
    copy->SetError(CTKObject::eNotFound, TKL("changed"));
    EXPECT_EQ(W(src.GetErrorMsgW()), u"原因");
    EXPECT_EQ(copy->Release(), 0);

    // Assignment copies the status but keeps the target's owners.
    CTKObject* target = new CTKObject;
    target->AddRef();
    *target = src;
    EXPECT_EQ(target->GetErrorCode(), CTKObject::eInvalidContent);
    EXPECT_EQ(W(target->GetErrorMsgW()), u"原因");
    *target = *target;
    EXPECT_EQ(W(target->GetErrorMsgW()), u"原因");
    EXPECT_EQ(target->Release(), 1);
    EXPECT_EQ(target->Release(), 0);
}

TEST(ObjClass, OwnsItsName) {
    CTKObjClass base("Base", nullptr);
    CTKObjClass derived("Derived", &base);
    EXPECT_STREQ(derived.m_name, "Derived");
    EXPECT_EQ(derived.m_base, &base);

    CTKObjClass copy(derived);
    EXPECT_NE(copy.m_name, derived.m_name);
    EXPECT_STREQ(copy.m_name, "Derived");
    EXPECT_EQ(copy.m_base, &base);

    copy = base;
    EXPECT_STREQ(copy.m_name, "Base");
    EXPECT_EQ(copy.m_base, nullptr);
}
