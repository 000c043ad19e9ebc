// SHA-256 (FIPS 180-4) for the HMAC: a small streaming context over the
// active compression kernel.
#ifndef TAVIKFCU_CODEC_SHA256_H
#define TAVIKFCU_CODEC_SHA256_H

#include <cstddef>
#include <cstdint>

#include "codec/codec_kernels.h"

namespace tk::detail {

inline constexpr std::size_t kSha256BlockSize = 64;
inline constexpr std::size_t kSha256DigestSize = 32;

// The 64 round constants (first 32 bits of the fractional parts of the cube
// roots of the first 64 primes).
extern const std::uint32_t kSha256K[64];

class Sha256 {
  public:
    explicit Sha256(Sha256BlocksFn blocks = ActiveCodecKernels().sha256Blocks);
    // Takes n more message bytes.
    void Update(const void* data, std::size_t n);
    // Pads, compresses the last block(s) and writes the 32-byte digest.
    void Final(std::uint8_t digest[kSha256DigestSize]);

  private:
    Sha256BlocksFn m_blocks;
    std::uint64_t m_bits = 0;  // message bits taken so far
    std::uint32_t m_state[8];
    std::uint32_t m_buffered = 0;  // bytes waiting in m_block
    std::uint8_t m_block[kSha256BlockSize];
};

}  // namespace tk::detail

#endif  // TAVIKFCU_CODEC_SHA256_H
