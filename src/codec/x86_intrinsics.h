// <immintrin.h> for the kernels compiled with per-function target attributes.
#ifndef TAVIKFCU_CODEC_X86_INTRINSICS_H
#define TAVIKFCU_CODEC_X86_INTRINSICS_H

#include "platform/features.h"

#if TK_COMPILER_GCC
// GCC 12's AVX-512 intrinsics start from _mm512_undefined_epi32(), which
// -Wmaybe-uninitialized reports once they are inlined into a target function.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#endif  // TAVIKFCU_CODEC_X86_INTRINSICS_H
