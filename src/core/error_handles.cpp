// Error handles: heap CTKObjects handed out as 64-bit values, their readers,
// and the release of memory the library hands out.
#include <cstdint>

#include "memory/heap.h"
#include "platform/debug_output.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKString.h"

namespace {

CTKObject* ObjectOf(std::uint64_t handle) {
    return reinterpret_cast<CTKObject*>(static_cast<std::uintptr_t>(handle));
}

std::uint64_t HandleOf(CTKObject* obj) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(obj));
}

template <typename Unit>
std::size_t Length(const Unit* s) {
    std::size_t n = 0;
    if (s)
        while (s[n]) ++n;
    return n;
}

// A heap copy for the caller; a missing message is handed out as "".
template <typename Unit>
Unit* CopyOut(const Unit* text) {
    return tk::detail::HeapCopy(text ? text : reinterpret_cast<const Unit*>(u""), Length(text));
}

}  // namespace

extern "C" {

TK_API void tkFreeMem(void* p) {
    tk::detail::HeapFree(p);
}

TK_API void tkCloseHandle(std::uint64_t handle) {
    if (handle) ObjectOf(handle)->Release();
}

TK_API char* tkGetErrorA(std::uint64_t handle, int* code) {
    if (!handle) return nullptr;
    const CTKObject* obj = ObjectOf(handle);
    if (code) *code = obj->GetErrorCode();
    const char* message = obj->GetErrorMsgA();
    return tk::detail::HeapCopy(message ? message : "", Length(message));
}

TK_API TKWCHAR* tkGetErrorW(std::uint64_t handle, int* code) {
    if (!handle) return nullptr;
    const CTKObject* obj = ObjectOf(handle);
    if (code) *code = obj->GetErrorCode();
    return CopyOut(obj->GetErrorMsgW());
}

TK_API void tkSetDebugOutputSink(void (*sink)(const TKWCHAR* text)) {
    tk::platform::SetDebugOutputSink(sink);
}

}  // extern "C"

namespace TKErrorUtils {

std::uint64_t CreateError(CTKObject::EErrorStatus code, const TKWCHAR* text) {
    auto* obj = new CTKObject();
    obj->SetError(code, text);
    return HandleOf(obj);
}

std::uint64_t CreateErrorFromObj(const CTKObject* obj, const TKWCHAR* prefix) {
    const TKWCHAR* message = obj->GetErrorMsgW();
    if (!prefix) return CreateError(obj->GetErrorCode(), message);
    CTKString joined(prefix);
    joined += TKL(' ');
    joined += message;
    return CreateError(obj->GetErrorCode(), joined);
}

}  // namespace TKErrorUtils
