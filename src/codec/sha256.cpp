// SHA-256: the streaming context and the portable compression kernel.
#include "codec/sha256.h"

#include <cstring>

namespace tk::detail {

const std::uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

namespace {

inline std::uint32_t Rotr(std::uint32_t x, int s) {
    return (x >> s) | (x << (32 - s));
}

inline std::uint32_t LoadBe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

void Sha256BlocksPortable(std::uint32_t state[8], const std::uint8_t* p, std::size_t count) {
    for (; count; --count, p += 64) {
        std::uint32_t w[64];
        for (int t = 0; t < 16; ++t) w[t] = LoadBe32(p + 4 * t);
        for (int t = 16; t < 64; ++t) {
            const std::uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const std::uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            const std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) +
                                     ((e & f) ^ (~e & g)) + kSha256K[t] + w[t];
            const std::uint32_t t2 =
                (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

Sha256::Sha256(Sha256BlocksFn blocks)
    : m_blocks(blocks), m_state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::Update(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    m_bits += std::uint64_t(n) * 8;
    if (m_buffered) {
        const std::size_t take =
            n < kSha256BlockSize - m_buffered ? n : kSha256BlockSize - m_buffered;
        std::memcpy(m_block + m_buffered, p, take);
        m_buffered += static_cast<std::uint32_t>(take);
        p += take;
        n -= take;
        if (m_buffered < kSha256BlockSize) return;
        m_blocks(m_state, m_block, 1);
        m_buffered = 0;
    }
    if (const std::size_t whole = n / kSha256BlockSize) {
        m_blocks(m_state, p, whole);
        p += whole * kSha256BlockSize;
        n -= whole * kSha256BlockSize;
    }
    if (n) std::memcpy(m_block, p, n);
    m_buffered = static_cast<std::uint32_t>(n);
}

void Sha256::Final(std::uint8_t digest[kSha256DigestSize]) {
    const std::uint64_t bits = m_bits;
    std::uint8_t pad[2 * kSha256BlockSize] = {0x80};
    // 0x80, zeros to 56 mod 64, then the 64-bit big-endian bit count.
    const std::size_t padLen = (m_buffered < 56 ? 56 : 120) - m_buffered;
    for (int i = 0; i < 8; ++i) pad[padLen + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Update(pad, padLen + 8);
    for (int i = 0; i < 8; ++i)
        for (int b = 0; b < 4; ++b)
            digest[4 * i + b] = static_cast<std::uint8_t>(m_state[i] >> (24 - 8 * b));
}

}  // namespace tk::detail
