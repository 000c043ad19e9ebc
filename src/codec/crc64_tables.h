// CRC-64/REDIS: reflected, polynomial 0xAD93D23594C935A9 (0x95AC9329AC4BC9B5
// bit-reversed), initial register 0, no final XOR. The byte table and its
// slicing extensions, and the powers of x that the folding kernels multiply
// by, are all computed here at compile time.
#ifndef TAVIKFCU_CODEC_CRC64_TABLES_H
#define TAVIKFCU_CODEC_CRC64_TABLES_H

#include <array>
#include <cstdint>

namespace tk::detail {

inline constexpr std::uint64_t kCrc64Poly = 0xAD93D23594C935A9ull;           // x^63 .. x^0
inline constexpr std::uint64_t kCrc64PolyReflected = 0x95AC9329AC4BC9B5ull;  // x^0 .. x^63

// kCrc64Slices[0] is the classic byte table; kCrc64Slices[k][b] is the
// register after byte b followed by k zero bytes, for slicing by 8.
using Crc64Slices = std::array<std::array<std::uint64_t, 256>, 8>;
constexpr Crc64Slices MakeCrc64Slices() {
    Crc64Slices t{};
    for (unsigned b = 0; b < 256; ++b) {
        std::uint64_t r = b;
        for (int step = 0; step < 8; ++step) r = (r >> 1) ^ ((r & 1) ? kCrc64PolyReflected : 0);
        t[0][b] = r;
    }
    for (int k = 1; k < 8; ++k)
        for (unsigned b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}
inline constexpr Crc64Slices kCrc64Slices = MakeCrc64Slices();
static_assert(kCrc64Slices[0][1] == 0x7AD870C830358979ull &&
                  kCrc64Slices[0][128] == kCrc64PolyReflected &&
                  kCrc64Slices[0][255] == 0x29B7D047EFEC8728ull,
              "CRC-64 byte table");

// x^n mod P with the bits reversed (bit i holds the coefficient of x^(63-i)),
// the form in which carry-less products of reflected data come out right.
constexpr std::uint64_t Crc64XPowModReflected(unsigned n) {
    std::uint64_t r = 1;
    for (unsigned i = 0; i < n; ++i) r = (r << 1) ^ ((r >> 63) ? kCrc64Poly : 0);
    std::uint64_t rev = 0;
    for (int i = 0; i < 64; ++i) rev |= ((r >> i) & 1) << (63 - i);
    return rev;
}

// Constants to carry a 128-bit chunk `bits` further along the message: its
// first (low) half is multiplied by x^(bits+64), its second by x^bits; a
// carry-less product of two reflected values comes out one degree short, so
// each power is one lower.
struct Crc64FoldConstants {
    std::uint64_t lowHalf, highHalf;
};
constexpr Crc64FoldConstants Crc64FoldBy(unsigned bits) {
    return {Crc64XPowModReflected(bits + 63), Crc64XPowModReflected(bits - 1)};
}

}  // namespace tk::detail

#endif  // TAVIKFCU_CODEC_CRC64_TABLES_H
