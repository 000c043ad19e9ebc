// Error handles and error documents: creation, both readers under two code
// pages, the document layout, and who releases what.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"

namespace {

std::u16string Wide(const TKWCHAR* s) {
    return reinterpret_cast<const char16_t*>(s);
}

// Takes and frees the wide message of a handle.
std::u16string MessageW(std::uint64_t handle, int* code) {
    TKWCHAR* text = tkGetErrorW(handle, code);
    std::u16string result = Wide(text);
    tkFreeMem(text);
    return result;
}

std::string MessageA(std::uint64_t handle, int* code) {
    char* text = tkGetErrorA(handle, code);
    std::string result = text;
    tkFreeMem(text);
    return result;
}

}  // namespace

TEST(ErrorHandle, CodeAndMessageThroughBothReaders) {
    std::uint64_t handle =
        TKErrorUtils::CreateError(CTKObject::eInvalidContent, TKL("坏文件 bad file"));
    int code = 0;
    EXPECT_EQ(MessageW(handle, &code), u"坏文件 bad file");
    EXPECT_EQ(code, 5);
    code = 0;
    EXPECT_EQ(MessageA(handle, &code), "坏文件 bad file");
    EXPECT_EQ(code, 5);

    ASSERT_TRUE(tkSetAnsiCodePage(936));
    EXPECT_EQ(MessageA(handle, nullptr), "\xBB\xB5\xCE\xC4\xBC\xFE bad file");
    tkSetAnsiCodePage(65001);
    tkCloseHandle(handle);  // the handle stayed open through every read
}

TEST(ErrorHandle, NullAndZero) {
    std::uint64_t handle = TKErrorUtils::CreateError(CTKObject::eNotFound, nullptr);
    int code = -1;
    EXPECT_EQ(MessageW(handle, &code), u"");  // empty, never null
    EXPECT_EQ(code, 2);
    EXPECT_EQ(MessageA(handle, nullptr), "");
    tkCloseHandle(handle);

    code = 77;
    EXPECT_EQ(tkGetErrorW(0, &code), nullptr);
    EXPECT_EQ(tkGetErrorA(0, &code), nullptr);
    EXPECT_EQ(code, 77);
    tkCloseHandle(0);
    tkFreeMem(nullptr);
}

TEST(ErrorHandle, FromObjectWithAndWithoutPrefix) {
    CTKObject obj;
    obj.SetError(CTKObject::eNotFound, TKL("not found"));
    std::uint64_t prefixed = TKErrorUtils::CreateErrorFromObj(&obj, TKL("Load"));
    std::uint64_t plain = TKErrorUtils::CreateErrorFromObj(&obj, nullptr);
    int code = 0;
    EXPECT_EQ(MessageW(prefixed, &code), u"Load not found");
    EXPECT_EQ(code, 2);
    EXPECT_EQ(MessageW(plain, nullptr), u"not found");
    EXPECT_EQ(Wide(obj.GetErrorMsgW()), u"not found");  // the source is untouched
    tkCloseHandle(prefixed);
    tkCloseHandle(plain);
}

TEST(DebugOutput, SinkReceivesTheText) {
    static std::vector<std::u16string> received;
    received.clear();
    tkSetDebugOutputSink([](const TKWCHAR* text) { received.push_back(Wide(text)); });
    tk::platform::OutputDebugStringW(TKL("Tavik: 测试"));
    tkSetDebugOutputSink(nullptr);
    tk::platform::OutputDebugStringW(TKL("not received"));  // no tracer: goes nowhere
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], u"Tavik: 测试");
    EXPECT_FALSE(tk::platform::IsDebuggerPresent());
}

// ---- error documents ------------------------------------------------------------

namespace {
std::string TakeText(char* text) {
    std::string result = text ? text : "<null>";
    tkFreeMem(text);
    return result;
}
const char kUndefinedDocument[] =
    "{\r\n\t\"Error\":{\r\n\t\t\"DisplayText\":\"未定义错误\",\r\n\t\t\"ErrorCode\":1\r\n\t}\r\n}";
}  // namespace

TEST(ErrorDocument, LayoutByteForByte) {
    EXPECT_EQ(TakeText(TKErrorUtils::CreateErrorUTF8Json(CTKObject::eNotFound, TKL("找不到文件"))),
              "{\r\n\t\"Error\":{\r\n\t\t\"DisplayText\":\"找不到文件\",\r\n\t\t\"ErrorCode\":"
              "2\r\n\t}\r\n}");
}

TEST(ErrorDocument, HandlesAreConsumedAndObjectsKept) {
    // A handle with code 0 gives only the code; the handle is released (ASan
    // would report it otherwise).
    std::unique_ptr<CMyJsonObj> noError(TKErrorUtils::CreateErrorJson(
        TKErrorUtils::CreateError(CTKObject::eNoError, TKL("x")), nullptr));
    char* text = noError->CreateUTF8Json(false);
    EXPECT_EQ(TakeText(text), "{\"Error\":{\"ErrorCode\":0}}");

    std::unique_ptr<CMyJsonObj> none(TKErrorUtils::CreateErrorJson(0, nullptr));
    EXPECT_EQ(TakeText(none->CreateUTF8Json(true)), kUndefinedDocument);
    std::unique_ptr<CMyJsonObj> withText(TKErrorUtils::CreateErrorJson(0, TKL("oops")));
    EXPECT_EQ(TakeText(withText->CreateUTF8Json(false)),
              "{\"Error\":{\"DisplayText\":\"oops\",\"ErrorCode\":1}}");

    EXPECT_EQ(TKErrorUtils::CreateErrorUTF8JsonByHandle(0), nullptr);
    std::uint64_t handle = TKErrorUtils::CreateError(CTKObject::eAccessFailed, TKL("denied"));
    EXPECT_NE(TakeText(TKErrorUtils::CreateErrorUTF8JsonByHandle(handle)).find("\"ErrorCode\":14"),
              std::string::npos);

    CTKObject obj;
    obj.SetError(CTKObject::eNotFound, TKL("not found"));
    std::string byObj = TakeText(TKErrorUtils::CreateErrorUTF8JsonByObj(&obj, TKL("Load")));
    EXPECT_NE(byObj.find("\"DisplayText\":\"Loadnot found\""), std::string::npos);  // no space
    EXPECT_EQ(obj.GetErrorCode(), CTKObject::eNotFound);
}
