// What the processor the library runs on can do, read once. The codec
// subsystem picks its fastest kernels from this; the library itself is built
// for the baseline instruction set, so nothing here is assumed at compile
// time.
#ifndef TAVIKFCU_PLATFORM_CPU_FEATURES_H
#define TAVIKFCU_PLATFORM_CPU_FEATURES_H

namespace tk::platform {

struct CpuFeatures {
    bool ssse3 = false;
    bool sse41 = false;
    bool pclmul = false;      // 128-bit carry-less multiply
    bool sha = false;         // SHA-256 round instructions (SHA-NI)
    bool avx2 = false;        // usable: the OS saves the YMM state
    bool avx512bw = false;    // with F and VL; the OS saves the ZMM state
    bool avx512vbmi = false;  // byte permutes (vpermb, vpmultishiftqb)
    bool vpclmul = false;     // carry-less multiply on YMM/ZMM registers
};

// Detected on first use; the same object for the life of the process.
const CpuFeatures& GetCpuFeatures();

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_CPU_FEATURES_H
