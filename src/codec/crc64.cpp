// CRC-64: the exported text functions and the portable slicing-by-8 kernel.
#include <cinttypes>
#include <cstdio>
#include <memory>

#include "codec/codec_kernels.h"
#include "codec/crc64_tables.h"
#include "memory/heap.h"
#include "memory/scratch_pools.h"
#include "string/temp_strings.h"
#include "text/wide_crt.h"
#include "tavikfcu/TKCodec.h"
#include "tavikfcu/TKCore.h"

namespace tk::detail {

std::uint64_t Crc64Portable(std::uint64_t crc, const std::uint8_t* p, std::size_t n) {
    const Crc64Slices& t = kCrc64Slices;
    for (; n >= 8; n -= 8, p += 8) {
        // Eight bytes little-endian, whatever the host's order.
        std::uint64_t w = 0;
        for (int k = 7; k >= 0; --k) w = w << 8 | p[k];
        crc ^= w;
        crc = t[7][crc & 0xFF] ^ t[6][(crc >> 8) & 0xFF] ^ t[5][(crc >> 16) & 0xFF] ^
              t[4][(crc >> 24) & 0xFF] ^ t[3][(crc >> 32) & 0xFF] ^ t[2][(crc >> 40) & 0xFF] ^
              t[1][(crc >> 48) & 0xFF] ^ t[0][crc >> 56];
    }
    for (; n; --n, ++p) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace tk::detail

namespace TKCRC64 {

using namespace tk::detail;

char* tkGetCRC64StrA(const unsigned char* data, unsigned int length) {
    const std::uint64_t crc = (data && length) ? ActiveCodecKernels().crc64(0, data, length) : 0;
    char* text = static_cast<char*>(HeapAlloc(17));
    std::snprintf(text, 17, "%016" PRIx64, crc);
    return text;
}

TKWCHAR* tkGetCRC64StrW(const unsigned char* data, unsigned int length) {
    const std::unique_ptr<char, void (*)(void*)> narrow(tkGetCRC64StrA(data, length), tkFreeMem);
    if (!narrow) return nullptr;
    CTempWideString converted(narrow.get());
    return HeapCopy(converted.Text(),
                    static_cast<std::size_t>(tk::platform::lstrlenW(converted.Text())));
}

}  // namespace TKCRC64
