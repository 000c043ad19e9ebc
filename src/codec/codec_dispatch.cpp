// Builds one kernel table per path cap, once, and serves the table of the
// current cap.
#include <array>
#include <atomic>
#include <cstdio>

#include "codec/codec_kernels.h"
#include "platform/cpu_features.h"

namespace tk::detail {

namespace {

constexpr const char* kPathNames[kCodecPathCount] = {"portable", "sse", "avx2", "avx512"};

bool Allowed(CodecPath tier, CodecPath cap) {
    return static_cast<int>(tier) <= static_cast<int>(cap);
}

CodecKernels BuildTable(CodecPath cap) {
    CodecKernels k{};
    k.base64Encode = Base64EncodePortable;
    k.base64Decode = Base64DecodePortable;
    k.base64DecodeW = Base64DecodeWPortable;
    k.crc64 = Crc64Portable;
    k.sha256Blocks = Sha256BlocksPortable;
    k.base64EncodePath = k.base64DecodePath = k.crc64Path = k.sha256Path = CodecPath::kPortable;
#ifdef TK_CODEC_X86
    const platform::CpuFeatures& cpu = platform::GetCpuFeatures();
    if (Allowed(CodecPath::kSse, cap) && cpu.pclmul && cpu.sse41) {
        k.crc64 = Crc64Clmul;
        k.crc64Path = CodecPath::kSse;
    }
    if (Allowed(CodecPath::kSse, cap) && cpu.sha) {
        k.sha256Blocks = Sha256BlocksShaNi;
        k.sha256Path = CodecPath::kSse;
    }
    if (Allowed(CodecPath::kAvx2, cap) && cpu.avx2) {
        k.base64Encode = Base64EncodeAvx2;
        k.base64Decode = Base64DecodeAvx2;
        k.base64DecodeW = Base64DecodeWAvx2;
        k.base64EncodePath = k.base64DecodePath = CodecPath::kAvx2;
    }
    if (Allowed(CodecPath::kAvx512, cap) && cpu.avx512vbmi) {
        k.base64Encode = Base64EncodeVbmi;
        k.base64Decode = Base64DecodeVbmi;
        k.base64DecodeW = Base64DecodeWVbmi;
        k.base64EncodePath = k.base64DecodePath = CodecPath::kAvx512;
    }
    if (Allowed(CodecPath::kAvx512, cap) && cpu.vpclmul && cpu.pclmul) {
        k.crc64 = Crc64Vpclmul;
        k.crc64Path = CodecPath::kAvx512;
    }
#else
    (void)cap;
#endif
    return k;
}

using TableSet = std::array<CodecKernels, kCodecPathCount>;

const TableSet& Tables() {
    static const TableSet tables = [] {
        TableSet t{};
        for (int i = 0; i < kCodecPathCount; ++i) t[i] = BuildTable(static_cast<CodecPath>(i));
        return t;
    }();
    return tables;
}

std::atomic<int> g_cap{kCodecPathCount - 1};

}  // namespace

const CodecKernels& ActiveCodecKernels() {
    return Tables()[g_cap.load(std::memory_order_relaxed)];
}

bool CodecPathSupported(CodecPath path) {
#ifdef TK_CODEC_X86
    const platform::CpuFeatures& cpu = platform::GetCpuFeatures();
    switch (path) {
        case CodecPath::kPortable:
            return true;
        case CodecPath::kSse:
            return cpu.sse41;
        case CodecPath::kAvx2:
            return cpu.avx2;
        case CodecPath::kAvx512:
            return cpu.avx512bw;
    }
    return false;
#else
    return path == CodecPath::kPortable;
#endif
}

CodecPath LimitCodecPath(CodecPath cap) {
    int c = static_cast<int>(cap);
    if (c < 0) c = 0;
    if (c >= kCodecPathCount) c = kCodecPathCount - 1;
    return static_cast<CodecPath>(g_cap.exchange(c));
}

const char* DescribeCodecPaths() {
    static thread_local char text[128];
    const CodecKernels& k = ActiveCodecKernels();
    auto name = [](CodecPath p) { return kPathNames[static_cast<int>(p)]; };
    std::snprintf(text, sizeof text, "base64-encode=%s base64-decode=%s crc64=%s sha256=%s",
                  name(k.base64EncodePath), name(k.base64DecodePath), name(k.crc64Path),
                  name(k.sha256Path));
    return text;
}

}  // namespace tk::detail
