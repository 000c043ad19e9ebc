// CPU feature detection. GCC's and Clang's __builtin_cpu_supports check the
// OS's register-state support (XGETBV) along with CPUID; SHA is read from
// CPUID directly because not every compiler knows its name. Other
// architectures report no features and run the portable kernels.
#include "platform/cpu_features.h"
#include "platform/features.h"

#if TK_ARCH_X86
#include <cpuid.h>
#endif

namespace tk::platform {

namespace {

CpuFeatures Detect() {
    CpuFeatures f;
#if TK_ARCH_X86
    __builtin_cpu_init();
    f.ssse3 = __builtin_cpu_supports("ssse3");
    f.sse41 = __builtin_cpu_supports("sse4.1");
    f.pclmul = __builtin_cpu_supports("pclmul");
    f.avx2 = __builtin_cpu_supports("avx2");
    f.avx512bw = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                 __builtin_cpu_supports("avx512vl");
    f.avx512vbmi = f.avx512bw && __builtin_cpu_supports("avx512vbmi");
    f.vpclmul = f.avx512bw && __builtin_cpu_supports("vpclmulqdq");
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    // Leaf 7, sub-leaf 0, EBX bit 29: SHA extensions (they use only XMM state).
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) f.sha = f.sse41 && ((ebx >> 29) & 1u);
#endif
    return f;
}

}  // namespace

const CpuFeatures& GetCpuFeatures() {
    static const CpuFeatures features = Detect();
    return features;
}

}  // namespace tk::platform
