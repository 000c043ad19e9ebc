// Compiler and processor detection, in one place. The rest of the library
// tests the named features below, never a compiler's or an architecture's
// own macros, so that a new compiler or processor is taught here once.
//
//     #include "platform/features.h"
//     #if TK_HAVE_SSE2
//     ...16-byte scan...
//     #endif
//
// Every TK_HAVE_*, TK_ARCH_* and TK_COMPILER_* macro is defined, to 1 or 0,
// so a misspelt name is reported by -Wundef (on in the library's build)
// instead of silently selecting the fallback.
#ifndef TAVIKFCU_PLATFORM_FEATURES_H
#define TAVIKFCU_PLATFORM_FEATURES_H

#include <cstdint>

// GCC and Clang share attribute, builtin and pragma spellings; both build
// the library today. TK_COMPILER_GCC is GCC alone (its own warning quirks).
#if defined(__GNUC__) || defined(__clang__)
#define TK_COMPILER_GNU_LIKE 1
#else
#define TK_COMPILER_GNU_LIKE 0
#endif
#if defined(__GNUC__) && !defined(__clang__)
#define TK_COMPILER_GCC 1
#else
#define TK_COMPILER_GCC 0
#endif

// x86 (32- or 64-bit): CPUID, the spin-wait pause hint and the kernels
// compiled for instruction sets beyond the baseline exist only there.
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define TK_ARCH_X86 1
#else
#define TK_ARCH_X86 0
#endif

// SSE2 enabled for the whole build (always on x86-64): the 16-byte text
// scans of the code pages, the C-runtime stand-ins and the JSON reader.
#if defined(__SSE2__) || defined(_M_X64)
#define TK_HAVE_SSE2 1
#else
#define TK_HAVE_SSE2 0
#endif

// A 128-bit integer: the JSON number code multiplies 64 x 64 -> 128 bits.
#if defined(__SIZEOF_INT128__)
#define TK_HAVE_INT128 1
#else
#define TK_HAVE_INT128 0
#endif

// glibc's strchrnul: a vectorised scan for a byte or the terminator.
#if defined(__GLIBC__)
#define TK_HAVE_STRCHRNUL 1
#else
#define TK_HAVE_STRCHRNUL 0
#endif

// no_sanitize("address", "thread") exists from GCC 8 and in Clang.
#if defined(__clang__) || (defined(__GNUC__) && __GNUC__ >= 8)
#define TK_HAVE_NO_SANITIZE 1
#else
#define TK_HAVE_NO_SANITIZE 0
#endif

#if TK_COMPILER_GNU_LIKE
// One function compiled for a richer instruction set than the build's
// baseline; callers pick it at run time after checking the CPU.
#define TK_TARGET(isa) __attribute__((target(isa)))
// Kept out of line (so callers stay instrumented when the callee is not).
#define TK_NOINLINE __attribute__((noinline))
// Thread-locals of the library itself in the initial TLS block: a
// thread-relative load instead of a call into the dynamic loader.
#define TK_INITIAL_EXEC_TLS __attribute__((tls_model("initial-exec")))
// A branch that is almost never taken.
#define TK_UNLIKELY(x) __builtin_expect(!!(x), 0)
// A hint to start loading the cache line at address (any address: it never
// faults and reads nothing).
#define TK_PREFETCH(address) __builtin_prefetch(address)
// printf-style arguments checked against the format at compile time.
#define TK_PRINTF_FORMAT(formatIndex, firstArg) \
    __attribute__((format(printf, formatIndex, firstArg)))
// A pragma from a macro: TK_PRAGMA(GCC unroll 4).
#define TK_PRAGMA(text) _Pragma(#text)
#else
#define TK_TARGET(isa)
#define TK_NOINLINE
#define TK_INITIAL_EXEC_TLS
#define TK_UNLIKELY(x) (x)
#define TK_PREFETCH(address) ((void)0)
#define TK_PRINTF_FORMAT(formatIndex, firstArg)
#define TK_PRAGMA(text)
#endif

// Aligned 16-byte loads that may read past a text's terminator but never
// past its page: correct, but outside the allocation, so the sanitizers
// are told not to count them.
#if TK_HAVE_NO_SANITIZE
#define TK_READS_PAST_END __attribute__((no_sanitize("address", "thread")))
#else
#define TK_READS_PAST_END
#endif

namespace tk::detail {

#if TK_HAVE_INT128
using UInt128 = unsigned __int128;
#endif

// Bit scans of a nonzero value (zero is undefined, as for the builtins).
inline int CountLeadingZeros64(std::uint64_t x) {
#if TK_COMPILER_GNU_LIKE
    return __builtin_clzll(x);
#else
    int n = 0;
    while (!(x & (std::uint64_t(1) << 63))) x <<= 1, ++n;
    return n;
#endif
}

inline int CountTrailingZeros32(std::uint32_t x) {
#if TK_COMPILER_GNU_LIKE
    return __builtin_ctz(x);
#else
    int n = 0;
    while (!(x & 1)) x >>= 1, ++n;
    return n;
#endif
}

inline int PopCount32(std::uint32_t x) {
#if TK_COMPILER_GNU_LIKE
    return __builtin_popcount(x);
#else
    int n = 0;
    for (; x; x &= x - 1) ++n;
    return n;
#endif
}

}  // namespace tk::detail

#endif  // TAVIKFCU_PLATFORM_FEATURES_H
