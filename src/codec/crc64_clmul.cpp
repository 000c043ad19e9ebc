// CRC-64 by carry-less multiplication ("folding"), after Intel's white paper
// "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ Instruction".
//
// The data is read as one long reflected polynomial. A 128-bit accumulator
// holds a value congruent, modulo P, to everything read so far; folding
// multiplies it by x^d (d = the distance to the next chunk it meets) through
// two 64x64 carry-less products with precomputed x^k mod P, and adds the
// chunk. Several accumulators run side by side to hide the multiply latency.
// The last accumulator is then an ordinary 16-byte message whose CRC, taken
// from a zero register, is the CRC of everything before it; the portable
// kernel finishes that and the tail, which costs a few dozen table steps.
#include "codec/codec_kernels.h"

#ifdef TK_CODEC_X86

#include "codec/x86_intrinsics.h"

#include "codec/crc64_tables.h"

namespace tk::detail {

namespace {

#define TK_CLMUL TK_TARGET("pclmul,sse4.1")
#define TK_VPCLMUL TK_TARGET("avx512f,avx512bw,avx512vl,vpclmulqdq,pclmul,sse4.1")

constexpr Crc64FoldConstants kFold128 = Crc64FoldBy(128);
constexpr Crc64FoldConstants kFold1024 = Crc64FoldBy(1024);  // 8 lanes of 128 bits
constexpr Crc64FoldConstants kFold512 = Crc64FoldBy(512);    // 1 ZMM register
constexpr Crc64FoldConstants kFold2048 = Crc64FoldBy(2048);  // 4 ZMM registers

TK_CLMUL inline __m128i Constants(const Crc64FoldConstants& k) {
    return _mm_set_epi64x(static_cast<long long>(k.highHalf), static_cast<long long>(k.lowHalf));
}

TK_CLMUL inline __m128i Load16(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x carried forward by the distance that k was made for, plus next.
TK_CLMUL inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Folds the remaining 16-byte blocks into x, then lets the table kernel take
// x as a message of its own followed by the last n % 16 bytes.
TK_CLMUL std::uint64_t Finish(__m128i x, const std::uint8_t* p, std::size_t n) {
    const __m128i k128 = Constants(kFold128);
    for (; n >= 16; n -= 16, p += 16) x = Fold(x, k128, Load16(p));
    alignas(16) std::uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
    return Crc64Portable(Crc64Portable(0, rest, 16), p, n);
}

}  // namespace

TK_CLMUL std::uint64_t Crc64Clmul(std::uint64_t crc, const std::uint8_t* p, std::size_t n) {
    if (n < 32) return Crc64Portable(crc, p, n);
    // A running register is the same as XOR-ing it into the next 8 bytes.
    const __m128i seed = _mm_cvtsi64_si128(static_cast<long long>(crc));
    if (n < 128) return Finish(_mm_xor_si128(Load16(p), seed), p + 16, n - 16);

    __m128i x[8];
    for (int i = 0; i < 8; ++i) x[i] = Load16(p + 16 * i);
    x[0] = _mm_xor_si128(x[0], seed);
    p += 128;
    n -= 128;
    const __m128i k1024 = Constants(kFold1024);
    for (; n >= 128; n -= 128, p += 128)
        for (int i = 0; i < 8; ++i) x[i] = Fold(x[i], k1024, Load16(p + 16 * i));
    const __m128i k128 = Constants(kFold128);
    __m128i acc = x[0];
    for (int i = 1; i < 8; ++i) acc = Fold(acc, k128, x[i]);
    return Finish(acc, p, n);
}

namespace {

TK_VPCLMUL inline __m512i Broadcast(const Crc64FoldConstants& k) {
    return _mm512_broadcast_i32x4(
        _mm_set_epi64x(static_cast<long long>(k.highHalf), static_cast<long long>(k.lowHalf)));
}

TK_VPCLMUL inline __m512i Fold512(__m512i x, __m512i k, __m512i next) {
    const __m512i lo = _mm512_clmulepi64_epi128(x, k, 0x00);
    const __m512i hi = _mm512_clmulepi64_epi128(x, k, 0x11);
    return _mm512_ternarylogic_epi64(lo, hi, next, 0x96);  // three-way XOR
}

}  // namespace

TK_VPCLMUL std::uint64_t Crc64Vpclmul(std::uint64_t crc, const std::uint8_t* p, std::size_t n) {
    if (n < 512) return Crc64Clmul(crc, p, n);
    __m512i x[4];
    for (int i = 0; i < 4; ++i) x[i] = _mm512_loadu_si512(p + 64 * i);
    x[0] = _mm512_xor_si512(x[0],
                            _mm512_zextsi128_si512(_mm_cvtsi64_si128(static_cast<long long>(crc))));
    p += 256;
    n -= 256;
    const __m512i k2048 = Broadcast(kFold2048);
    for (; n >= 256; n -= 256, p += 256)
        for (int i = 0; i < 4; ++i) x[i] = Fold512(x[i], k2048, _mm512_loadu_si512(p + 64 * i));
    const __m512i k512 = Broadcast(kFold512);
    __m512i acc = x[0];
    for (int i = 1; i < 4; ++i) acc = Fold512(acc, k512, x[i]);
    for (; n >= 64; n -= 64, p += 64) acc = Fold512(acc, k512, _mm512_loadu_si512(p));
    // Four 128-bit lanes, the first read earliest, fold into one.
    const __m128i k128 = Constants(kFold128);
    __m128i lane = _mm512_castsi512_si128(acc);
    lane = Fold(lane, k128, _mm512_extracti32x4_epi32(acc, 1));
    lane = Fold(lane, k128, _mm512_extracti32x4_epi32(acc, 2));
    lane = Fold(lane, k128, _mm512_extracti32x4_epi32(acc, 3));
    return Finish(lane, p, n);
}

}  // namespace tk::detail

#endif  // TK_CODEC_X86
