// The codec kernels and the table that picks one per job at run time.
//
// Every job has a portable kernel that is always built; x86 builds add
// kernels compiled for instruction sets beyond the baseline (through
// per-function target attributes, so the library needs no -march flag). The
// active table holds, for each job, the fastest kernel that the CPU supports
// and that is allowed by the current path cap. Tests and benchmarks lower the
// cap to run each path against the portable one.
#ifndef TAVIKFCU_CODEC_CODEC_KERNELS_H
#define TAVIKFCU_CODEC_CODEC_KERNELS_H

#include <cstddef>
#include <cstdint>

#include "platform/features.h"
#include "tavikfcu/TKTypes.h"

namespace tk::detail {

// Instruction-set tiers, each including the ones before it.
enum class CodecPath : int {
    kPortable = 0,  // plain C++
    kSse = 1,       // SSE4.1 with SHA-NI and PCLMULQDQ where present
    kAvx2 = 2,      // AVX2
    kAvx512 = 3,    // AVX-512 BW/VL with VBMI and VPCLMULQDQ where present
};
inline constexpr int kCodecPathCount = 4;

// Encodes n bytes into 4 * ceil(n / 3) padded Base64 characters (no NUL);
// returns the number of characters written.
using Base64EncodeFn = std::size_t (*)(const std::uint8_t* src, std::size_t n, char* dst);

// Decodes whole 4-character groups from the start of src for as long as they
// hold only alphabet characters, writing 3 bytes per group and never more than
// dstCap bytes. Returns the characters consumed, a multiple of 4; it may stop
// early anywhere (the caller finishes the text with exact rules).
using Base64DecodeFn = std::size_t (*)(const char* src, std::size_t n, std::uint8_t* dst,
                                       std::size_t dstCap);
using Base64DecodeWFn = std::size_t (*)(const TKWCHAR* src, std::size_t n, std::uint8_t* dst,
                                        std::size_t dstCap);

// Continues a CRC-64 register (reflected, polynomial 0xAD93D23594C935A9)
// over n bytes; no initial or final inversion.
using Crc64Fn = std::uint64_t (*)(std::uint64_t crc, const std::uint8_t* data, std::size_t n);

// Runs the SHA-256 compression over count 64-byte blocks.
using Sha256BlocksFn = void (*)(std::uint32_t state[8], const std::uint8_t* blocks,
                                std::size_t count);

struct CodecKernels {
    Base64EncodeFn base64Encode;
    Base64DecodeFn base64Decode;
    Base64DecodeWFn base64DecodeW;
    Crc64Fn crc64;
    Sha256BlocksFn sha256Blocks;
    // Which tier each job runs on, for tests and benchmark labels.
    CodecPath base64EncodePath, base64DecodePath, crc64Path, sha256Path;
};

// The kernels for the current cap. Cheap enough to call per operation.
const CodecKernels& ActiveCodecKernels();

// ---- the kernels ------------------------------------------------------------

std::size_t Base64EncodePortable(const std::uint8_t* src, std::size_t n, char* dst);
std::size_t Base64DecodePortable(const char* src, std::size_t n, std::uint8_t* dst,
                                 std::size_t dstCap);
std::size_t Base64DecodeWPortable(const TKWCHAR* src, std::size_t n, std::uint8_t* dst,
                                  std::size_t dstCap);
std::uint64_t Crc64Portable(std::uint64_t crc, const std::uint8_t* data, std::size_t n);
void Sha256BlocksPortable(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count);

#if TK_ARCH_X86
#define TK_CODEC_X86 1
std::size_t Base64EncodeAvx2(const std::uint8_t* src, std::size_t n, char* dst);
std::size_t Base64DecodeAvx2(const char* src, std::size_t n, std::uint8_t* dst, std::size_t dstCap);
std::size_t Base64DecodeWAvx2(const TKWCHAR* src, std::size_t n, std::uint8_t* dst,
                              std::size_t dstCap);
std::size_t Base64EncodeVbmi(const std::uint8_t* src, std::size_t n, char* dst);
std::size_t Base64DecodeVbmi(const char* src, std::size_t n, std::uint8_t* dst, std::size_t dstCap);
std::size_t Base64DecodeWVbmi(const TKWCHAR* src, std::size_t n, std::uint8_t* dst,
                              std::size_t dstCap);
std::uint64_t Crc64Clmul(std::uint64_t crc, const std::uint8_t* data, std::size_t n);
std::uint64_t Crc64Vpclmul(std::uint64_t crc, const std::uint8_t* data, std::size_t n);
void Sha256BlocksShaNi(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count);
#endif

// ---- hooks for the test, benchmark and fuzz programs ---------------------------
// Exported because the benchmark and fuzz programs link the shared library.

// True when the CPU can run every kernel of that tier that the tier has.
TK_API bool CodecPathSupported(CodecPath path);
// Caps the tier that ActiveCodecKernels may use and returns the previous cap.
// Not for concurrent use with running codec calls; the default cap is kAvx512.
TK_API CodecPath LimitCodecPath(CodecPath cap);
// The tiers that the active table runs each job on, for labels:
// "base64-encode=avx512 base64-decode=avx512 crc64=avx512 sha256=sse".
TK_API const char* DescribeCodecPaths();

}  // namespace tk::detail

#endif  // TAVIKFCU_CODEC_CODEC_KERNELS_H
