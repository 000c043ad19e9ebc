// Error documents: {"Error": {"DisplayText": ..., "ErrorCode": ...}} built
// from a handle, an object or a code and text, as a model or UTF-8 text.
#include <memory>

#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"

namespace {

const TKWCHAR kUndefinedError[] = TKL("未定义错误");

CTKObject* ObjectOf(std::uint64_t handle) {
    return reinterpret_cast<CTKObject*>(static_cast<std::uintptr_t>(handle));
}

// Builds the document; consumes the handle (also when building throws).
CMyJsonObj* BuildDocument(std::uint64_t handle, const TKWCHAR* text) {
    struct HandleCloser {
        std::uint64_t handle;
        ~HandleCloser() { tkCloseHandle(handle); }
    } closer{handle};
    auto outer = std::make_unique<CMyJsonObj>();
    auto inner = std::make_unique<CMyJsonObj>();
    if (handle) {
        const CTKObject* obj = ObjectOf(handle);
        int code = obj->GetErrorCode();
        if (code != 0) {
            const TKWCHAR* message = obj->GetErrorMsgW();
            inner->AddItem(TKL("DisplayText"), message ? message : TKL(""));
        }
        inner->AddItem(TKL("ErrorCode"), code);
    } else {
        inner->AddItem(TKL("DisplayText"), text ? text : kUndefinedError);
        inner->AddItem(TKL("ErrorCode"), static_cast<int>(CTKObject::eUndefinedError));
    }
    outer->AddItem(TKL("Error"), inner.release());  // the document takes it over
    return outer.release();
}

char* DocumentText(std::uint64_t handle) {
    std::unique_ptr<CMyJsonObj> document(BuildDocument(handle, nullptr));
    return document->CreateUTF8Json(true);
}

}  // namespace

namespace TKErrorUtils {

CMyJsonObj* CreateErrorJson(std::uint64_t handle, const TKWCHAR* text) {
    return BuildDocument(handle, text);
}

char* CreateErrorUTF8Json(CTKObject::EErrorStatus code, const TKWCHAR* text) {
    return DocumentText(CreateError(code, text));
}

char* CreateErrorUTF8JsonByHandle(std::uint64_t handle) {
    return handle ? DocumentText(handle) : nullptr;
}

char* CreateErrorUTF8JsonByObj(const CTKObject* obj, const TKWCHAR* prefix) {
    CTKString message(prefix);
    message += obj->GetErrorMsgW();
    return CreateErrorUTF8Json(obj->GetErrorCode(), message);
}

}  // namespace TKErrorUtils
