// TKTypes.h — portability ground for every TavikFCU header.
//
// The library's API speaks UTF-16 everywhere. On Windows the UTF-16 unit is
// wchar_t; on Linux (where wchar_t is 32 bits) it is char16_t. Code that uses
// this library writes TKWCHAR and TKL("text") and compiles on both:
//
//     const TKWCHAR* greeting = TKL("你好");
//     CTKString s(greeting);           // 2 UTF-16 code units
//
// Lengths are always counts of UTF-16 code units. Never hand TKWCHAR text to
// the C library's wcs*/sw* functions on Linux: they expect 32-bit wchar_t.
//
// This header also declares the platform-equivalent of the OLE BSTR: a
// length-prefixed UTF-16 string allocated by tkSysAllocStringLen and freed by
// tkSysFreeString. On Windows the real OleAut32 functions stand behind them.
//
// Threads and ownership: nothing here is shared state. A BSTR belongs to
// whoever holds it and is freed once, with tkSysFreeString, by its last
// holder; any thread may allocate or free one.
#ifndef TAVIKFCU_TKTYPES_H
#define TAVIKFCU_TKTYPES_H

#include <atomic>
#include <cstddef>
#include <cstdint>

// ---- export macro -----------------------------------------------------------
#if defined(_WIN32)
#if defined(TAVIKFCU_BUILDING)
#define TK_API __declspec(dllexport)
#else
#define TK_API __declspec(dllimport)
#endif
#else
#define TK_API __attribute__((visibility("default")))
#endif

// ---- UTF-16 code unit -------------------------------------------------------
#if defined(_WIN32)
typedef wchar_t TKWCHAR;
#define TK_WIDEN_(s) L##s
#else
typedef char16_t TKWCHAR;
#define TK_WIDEN_(s) u##s
#endif
// TKL("text") is a UTF-16 literal of type const TKWCHAR[].
#define TKL(s) TK_WIDEN_(s)

static_assert(sizeof(TKWCHAR) == 2, "TKWCHAR must be one UTF-16 code unit");

// ---- atomic counts ----------------------------------------------------------
// Reference counts live in fixed memory layouts (plain 32-bit fields), so
// they are changed with the compiler's atomic operations on those fields.
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
inline std::int32_t tkAtomicLoad(const std::int32_t* p) {
    return static_cast<std::int32_t>(
        _InterlockedOr(reinterpret_cast<volatile long*>(const_cast<std::int32_t*>(p)), 0));
}
inline void tkAtomicIncrement(std::int32_t* p) {
    _InterlockedIncrement(reinterpret_cast<volatile long*>(p));
}
// Returns the value before the decrement.
inline std::int32_t tkAtomicDecrement(std::int32_t* p) {
    return static_cast<std::int32_t>(_InterlockedDecrement(reinterpret_cast<volatile long*>(p))) +
           1;
}
#else
inline std::int32_t tkAtomicLoad(const std::int32_t* p) {
    return __atomic_load_n(p, __ATOMIC_ACQUIRE);
}
inline void tkAtomicIncrement(std::int32_t* p) {
    __atomic_fetch_add(p, 1, __ATOMIC_RELAXED);
}
// Returns the value before the decrement.
inline std::int32_t tkAtomicDecrement(std::int32_t* p) {
    return __atomic_fetch_sub(p, 1, __ATOMIC_ACQ_REL);
}
#endif

// ---- lock word --------------------------------------------------------------
// The word behind a critical section of the library (each fixed-block
// allocator holds one): 0 free, 1 held, 2 held with waiters. Only the
// library's platform layer touches it.
struct TKLockWord {
    std::atomic<std::uint32_t> state{0};
};

// ---- BSTR -------------------------------------------------------------------
#if defined(_WIN32)
#include <oleauto.h>
#define tkSysAllocStringLen SysAllocStringLen
#define tkSysReAllocStringLen SysReAllocStringLen
#define tkSysFreeString SysFreeString
#define tkSysStringLen SysStringLen
#else
// A BSTR points at its first character. The four bytes before it hold the
// text's length in bytes; a NUL unit follows the text. NULs inside are kept.
typedef TKWCHAR* BSTR;

extern "C" {
// A new BSTR holding len units copied from src (or uninitialised units when
// src is null), plus a terminator. Returns null when memory runs out.
TK_API BSTR tkSysAllocStringLen(const TKWCHAR* src, unsigned int len);
// Replaces *pbstr by a BSTR holding len units of src (src may point into the
// old string). Returns nonzero on success; *pbstr is untouched on failure.
TK_API int tkSysReAllocStringLen(BSTR* pbstr, const TKWCHAR* src, unsigned int len);
// Frees a BSTR; null is ignored.
TK_API void tkSysFreeString(BSTR bstr);
// The length in UTF-16 units recorded in the prefix; 0 for null.
TK_API unsigned int tkSysStringLen(BSTR bstr);
}
#endif

#endif  // TAVIKFCU_TKTYPES_H
