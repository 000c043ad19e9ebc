// HMAC-SHA256 (RFC 2104): H((K ^ opad) || H((K ^ ipad) || data)).
#include <cstring>

#include "codec/sha256.h"
#include "tavikfcu/TKCodec.h"

namespace TKHMACSHA {

using namespace tk::detail;

void tkHMAC_SHA256(const char* key, int keyLength, const void* data, int dataLength, char* mac,
                   int* macLength) {
    const Sha256BlocksFn blocks = ActiveCodecKernels().sha256Blocks;
    std::uint8_t k[kSha256BlockSize] = {};
    std::size_t keyBytes = keyLength > 0 && key ? static_cast<std::size_t>(keyLength) : 0;
    if (keyBytes > kSha256BlockSize) {
        Sha256 h(blocks);
        h.Update(key, keyBytes);
        h.Final(k);
    } else if (keyBytes) {
        std::memcpy(k, key, keyBytes);
    }

    std::uint8_t pad[kSha256BlockSize];
    for (std::size_t i = 0; i < kSha256BlockSize; ++i) pad[i] = k[i] ^ 0x36;
    std::uint8_t inner[kSha256DigestSize];
    Sha256 ih(blocks);
    ih.Update(pad, sizeof pad);
    if (dataLength > 0 && data) ih.Update(data, static_cast<std::size_t>(dataLength));
    ih.Final(inner);

    for (std::size_t i = 0; i < kSha256BlockSize; ++i) pad[i] = k[i] ^ 0x5C;
    std::uint8_t outer[kSha256DigestSize];
    Sha256 oh(blocks);
    oh.Update(pad, sizeof pad);
    oh.Update(inner, sizeof inner);
    oh.Final(outer);

    if (!macLength) return;
    if (*macLength > static_cast<int>(kSha256DigestSize)) *macLength = kSha256DigestSize;
    if (*macLength >= 1 && mac) std::memcpy(mac, outer, static_cast<std::size_t>(*macLength));
}

}  // namespace TKHMACSHA
