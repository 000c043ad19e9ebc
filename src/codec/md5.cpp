// MD5 (RFC 1321), one shot over a whole buffer.
#include <cstdint>
#include <cstring>

#include "tavikfcu/TKCodec.h"

namespace tk::detail {

namespace {

inline std::uint32_t Rotl(std::uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// The four auxiliary functions. G and I are written in the forms that leave
// the compiler the most independent work: G's two terms never overlap, so
// they are added rather than OR-ed.
#define TK_MD5_STEP(f, a, b, c, d, x, t, s) \
    a += f(b, c, d) + (x) + (t);            \
    a = Rotl(a, s) + (b)
#define TK_MD5_F(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define TK_MD5_G(b, c, d) (((b) & (d)) + ((c) & ~(d)))
#define TK_MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define TK_MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

void Md5Blocks(std::uint32_t state[4], const std::uint8_t* p, std::size_t count) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; count; --count, p += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = LoadLe32(p + 4 * i);
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
        // Round 1: word i. The constants are floor(|sin(i + 1)| * 2^32).
        TK_MD5_STEP(TK_MD5_F, a, b, c, d, x[0], 0xd76aa478, 7);
        TK_MD5_STEP(TK_MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12);
        TK_MD5_STEP(TK_MD5_F, c, d, a, b, x[2], 0x242070db, 17);
        TK_MD5_STEP(TK_MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22);
        TK_MD5_STEP(TK_MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7);
        TK_MD5_STEP(TK_MD5_F, d, a, b, c, x[5], 0x4787c62a, 12);
        TK_MD5_STEP(TK_MD5_F, c, d, a, b, x[6], 0xa8304613, 17);
        TK_MD5_STEP(TK_MD5_F, b, c, d, a, x[7], 0xfd469501, 22);
        TK_MD5_STEP(TK_MD5_F, a, b, c, d, x[8], 0x698098d8, 7);
        TK_MD5_STEP(TK_MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12);
        TK_MD5_STEP(TK_MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17);
        TK_MD5_STEP(TK_MD5_F, b, c, d, a, x[11], 0x895cd7be, 22);
        TK_MD5_STEP(TK_MD5_F, a, b, c, d, x[12], 0x6b901122, 7);
        TK_MD5_STEP(TK_MD5_F, d, a, b, c, x[13], 0xfd987193, 12);
        TK_MD5_STEP(TK_MD5_F, c, d, a, b, x[14], 0xa679438e, 17);
        TK_MD5_STEP(TK_MD5_F, b, c, d, a, x[15], 0x49b40821, 22);
        // Round 2: word (5i + 1) mod 16.
        TK_MD5_STEP(TK_MD5_G, a, b, c, d, x[1], 0xf61e2562, 5);
        TK_MD5_STEP(TK_MD5_G, d, a, b, c, x[6], 0xc040b340, 9);
        TK_MD5_STEP(TK_MD5_G, c, d, a, b, x[11], 0x265e5a51, 14);
        TK_MD5_STEP(TK_MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20);
        TK_MD5_STEP(TK_MD5_G, a, b, c, d, x[5], 0xd62f105d, 5);
        TK_MD5_STEP(TK_MD5_G, d, a, b, c, x[10], 0x02441453, 9);
        TK_MD5_STEP(TK_MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14);
        TK_MD5_STEP(TK_MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20);
        TK_MD5_STEP(TK_MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5);
        TK_MD5_STEP(TK_MD5_G, d, a, b, c, x[14], 0xc33707d6, 9);
        TK_MD5_STEP(TK_MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14);
        TK_MD5_STEP(TK_MD5_G, b, c, d, a, x[8], 0x455a14ed, 20);
        TK_MD5_STEP(TK_MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5);
        TK_MD5_STEP(TK_MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9);
        TK_MD5_STEP(TK_MD5_G, c, d, a, b, x[7], 0x676f02d9, 14);
        TK_MD5_STEP(TK_MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20);
        // Round 3: word (3i + 5) mod 16.
        TK_MD5_STEP(TK_MD5_H, a, b, c, d, x[5], 0xfffa3942, 4);
        TK_MD5_STEP(TK_MD5_H, d, a, b, c, x[8], 0x8771f681, 11);
        TK_MD5_STEP(TK_MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16);
        TK_MD5_STEP(TK_MD5_H, b, c, d, a, x[14], 0xfde5380c, 23);
        TK_MD5_STEP(TK_MD5_H, a, b, c, d, x[1], 0xa4beea44, 4);
        TK_MD5_STEP(TK_MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11);
        TK_MD5_STEP(TK_MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16);
        TK_MD5_STEP(TK_MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23);
        TK_MD5_STEP(TK_MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4);
        TK_MD5_STEP(TK_MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11);
        TK_MD5_STEP(TK_MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16);
        TK_MD5_STEP(TK_MD5_H, b, c, d, a, x[6], 0x04881d05, 23);
        TK_MD5_STEP(TK_MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4);
        TK_MD5_STEP(TK_MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11);
        TK_MD5_STEP(TK_MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16);
        TK_MD5_STEP(TK_MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23);
        // Round 4: word 7i mod 16.
        TK_MD5_STEP(TK_MD5_I, a, b, c, d, x[0], 0xf4292244, 6);
        TK_MD5_STEP(TK_MD5_I, d, a, b, c, x[7], 0x432aff97, 10);
        TK_MD5_STEP(TK_MD5_I, c, d, a, b, x[14], 0xab9423a7, 15);
        TK_MD5_STEP(TK_MD5_I, b, c, d, a, x[5], 0xfc93a039, 21);
        TK_MD5_STEP(TK_MD5_I, a, b, c, d, x[12], 0x655b59c3, 6);
        TK_MD5_STEP(TK_MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10);
        TK_MD5_STEP(TK_MD5_I, c, d, a, b, x[10], 0xffeff47d, 15);
        TK_MD5_STEP(TK_MD5_I, b, c, d, a, x[1], 0x85845dd1, 21);
        TK_MD5_STEP(TK_MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6);
        TK_MD5_STEP(TK_MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
        TK_MD5_STEP(TK_MD5_I, c, d, a, b, x[6], 0xa3014314, 15);
        TK_MD5_STEP(TK_MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21);
        TK_MD5_STEP(TK_MD5_I, a, b, c, d, x[4], 0xf7537e82, 6);
        TK_MD5_STEP(TK_MD5_I, d, a, b, c, x[11], 0xbd3af235, 10);
        TK_MD5_STEP(TK_MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
        TK_MD5_STEP(TK_MD5_I, b, c, d, a, x[9], 0xeb86d391, 21);
        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

// Whole blocks straight from the caller's buffer; the tail, the 0x80 marker
// and the bit length go through one or two blocks on the stack.
void Md5(const void* data, unsigned int length, std::uint32_t state[4]) {
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
    const auto* p = static_cast<const std::uint8_t*>(data);
    const std::size_t whole = length / 64;
    if (whole) Md5Blocks(state, p, whole);
    const std::size_t rest = length % 64;
    std::uint8_t tail[128] = {};
    if (rest) std::memcpy(tail, p + whole * 64, rest);
    tail[rest] = 0x80;
    const std::size_t blocks = rest < 56 ? 1 : 2;
    const std::uint64_t bits = std::uint64_t(length) * 8;
    for (int i = 0; i < 8; ++i)
        tail[blocks * 64 - 8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    Md5Blocks(state, tail, blocks);
}

template <typename Unit>
void Md5Text(const void* data, unsigned int length, Unit* text, const char* digits) {
    std::uint32_t s[4];
    Md5(data, length, s);
    for (int w = 0; w < 4; ++w) {
        for (int b = 0; b < 4; ++b) {
            const unsigned byte = (s[w] >> (8 * b)) & 0xFF;
            text[8 * w + 2 * b] = static_cast<Unit>(digits[byte >> 4]);
            text[8 * w + 2 * b + 1] = static_cast<Unit>(digits[byte & 15]);
        }
    }
    text[32] = Unit(0);
}

constexpr char kLowerDigits[] = "0123456789abcdef";
constexpr char kUpperDigits[] = "0123456789ABCDEF";

}  // namespace

}  // namespace tk::detail

namespace TKMD5 {

using namespace tk::detail;

void tkGetMD5Data(const void* data, unsigned int length, unsigned int* words) {
    static_assert(sizeof(unsigned int) == sizeof(std::uint32_t), "MD5 words are 32-bit");
    std::uint32_t s[4];
    Md5(data, length, s);
    for (int i = 0; i < 4; ++i) words[i] = s[i];
}

void tkGetMD5StrLowerA(const void* data, unsigned int length, char* text) {
    Md5Text(data, length, text, kLowerDigits);
}
void tkGetMD5StrUpperA(const void* data, unsigned int length, char* text) {
    Md5Text(data, length, text, kUpperDigits);
}
void tkGetMD5StrLowerW(const void* data, unsigned int length, TKWCHAR* text) {
    Md5Text(data, length, text, kLowerDigits);
}
void tkGetMD5StrUpperW(const void* data, unsigned int length, TKWCHAR* text) {
    Md5Text(data, length, text, kUpperDigits);
}

}  // namespace TKMD5
