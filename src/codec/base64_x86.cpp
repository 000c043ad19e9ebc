// Base64 kernels for AVX2 and for AVX-512 with VBMI byte permutes.
//
// Encoding regroups each 3 input bytes into the 32-bit lane [b1 b0 b2 b1], in
// which the four 6-bit fields sit at fixed bit offsets (10, 4, 22, 16); they
// are moved to one byte each and mapped to ASCII. Decoding classifies every
// character by its two nibbles to find anything outside the alphabet (any
// such block is left to the exact decoder), maps characters to values, and
// packs four 6-bit values into three bytes with two multiply-adds.
#include "codec/codec_kernels.h"

#ifdef TK_CODEC_X86

#include "codec/x86_intrinsics.h"

namespace tk::detail {

// ---- AVX2 ---------------------------------------------------------------------

namespace {

#define TK_AVX2 TK_TARGET("avx2")

// 24 bytes in two overlapping 16-byte loads -> 32 six-bit values, one a byte.
TK_AVX2 inline __m256i SplitSixBits(const std::uint8_t* src) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 12));
    __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    in = _mm256_shuffle_epi8(
        in, _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3, 5,
                             4, 7, 6, 8, 7, 10, 9, 11, 10));
    // Fields at bits 10 and 22 move down by 10 and 6 (high half of a multiply);
    // fields at bits 4 and 16 move up by 4 and 8.
    const __m256i t0 = _mm256_and_si256(in, _mm256_set1_epi32(0x0fc0fc00));
    const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
    const __m256i t2 = _mm256_and_si256(in, _mm256_set1_epi32(0x003f03f0));
    const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
    return _mm256_or_si256(t1, t3);
}

// Values 0-63 -> ASCII: one offset per range, picked by a 16-entry shuffle.
// Index 13: A-Z; 0: a-z; 1-10: digits; 11: '+'; 12: '/'.
TK_AVX2 inline __m256i SixBitsToAscii(__m256i v) {
    __m256i range = _mm256_subs_epu8(v, _mm256_set1_epi8(51));
    const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), v);
    range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
    const __m256i offsets =
        _mm256_setr_epi8(71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0, 71, -4, -4,
                         -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0);
    return _mm256_add_epi8(_mm256_shuffle_epi8(offsets, range), v);
}

// 32 characters -> 32 values; false when any is outside the alphabet
// (including "=" and bytes 0x80 and above).
TK_AVX2 inline bool AsciiToSixBits(__m256i in, __m256i* values) {
    // A character is bad when the class bit of its high nibble is among the
    // bad classes of its low nibble. Classes: 0x01 high nibble 2 ("+" "/"),
    // 0x02 nibble 3 (digits), 0x04 nibbles 4, 6 (letters from A, a), 0x08
    // nibbles 5, 7 (letters to Z, z), 0x10 every other high nibble.
    const __m256i badByLow =
        _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                         0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                         0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i classOfHigh =
        _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i nib = _mm256_set1_epi8(0x0f);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi32(in, 4), nib);
    const __m256i lo = _mm256_and_si256(in, nib);
    if (!_mm256_testz_si256(_mm256_shuffle_epi8(badByLow, lo),
                            _mm256_shuffle_epi8(classOfHigh, hi)))
        return false;
    // Offset by high nibble; "/" shares nibble 2 with "+" and is moved to slot 1.
    const __m256i shiftByHigh =
        _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                         -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i slash = _mm256_cmpeq_epi8(in, _mm256_set1_epi8('/'));
    const __m256i shift = _mm256_shuffle_epi8(shiftByHigh, _mm256_add_epi8(slash, hi));
    *values = _mm256_add_epi8(in, shift);
    return true;
}

// 32 values -> 24 bytes in the low 24 bytes of the result.
TK_AVX2 inline __m256i PackSixBits(__m256i v) {
    const __m256i pairs = _mm256_maddubs_epi16(v, _mm256_set1_epi32(0x01400140));
    const __m256i quads = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    const __m256i bytes = _mm256_shuffle_epi8(
        quads, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6,
                                5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

// 32 UTF-16 units -> 32 bytes; units above 0xFF become 0xFF or 0, both bad.
TK_AVX2 inline __m256i NarrowUnits(const TKWCHAR* src) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 16));
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}

}  // namespace

TK_AVX2 std::size_t Base64EncodeAvx2(const std::uint8_t* src, std::size_t n, char* dst) {
    std::size_t i = 0;
    char* out = dst;
    // The second load of a step reads 28 bytes from src + i.
    for (; n - i >= 28; i += 24, out += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), SixBitsToAscii(SplitSixBits(src + i)));
    return static_cast<std::size_t>(out - dst) + Base64EncodePortable(src + i, n - i, out);
}

TK_AVX2 std::size_t Base64DecodeAvx2(const char* src, std::size_t n, std::uint8_t* dst,
                                     std::size_t dstCap) {
    std::size_t i = 0, o = 0;
    __m256i v;
    // Each step stores 32 bytes of which 24 are kept.
    for (; n - i >= 32 && dstCap - o >= 32; i += 32, o += 24) {
        if (!AsciiToSixBits(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i)), &v))
            break;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + o), PackSixBits(v));
    }
    return i + Base64DecodePortable(src + i, n - i, dst + o, dstCap - o);
}

TK_AVX2 std::size_t Base64DecodeWAvx2(const TKWCHAR* src, std::size_t n, std::uint8_t* dst,
                                      std::size_t dstCap) {
    std::size_t i = 0, o = 0;
    __m256i v;
    for (; n - i >= 32 && dstCap - o >= 32; i += 32, o += 24) {
        if (!AsciiToSixBits(NarrowUnits(src + i), &v)) break;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + o), PackSixBits(v));
    }
    return i + Base64DecodeWPortable(src + i, n - i, dst + o, dstCap - o);
}

// ---- AVX-512 VBMI -------------------------------------------------------------

namespace {

#define TK_VBMI TK_TARGET("avx512f,avx512bw,avx512vl,avx512vbmi")

constexpr char kAlphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct VbmiTables {
    std::uint8_t splitOrder[64];  // [b1 b0 b2 b1] per 3 input bytes
    std::uint8_t packOrder[64];   // bytes 2, 1, 0 of each 32-bit lane
    std::uint8_t values[128];     // ASCII -> value, 0x80 when outside the alphabet
    constexpr VbmiTables() : splitOrder(), packOrder(), values() {
        for (int g = 0; g < 16; ++g) {
            splitOrder[4 * g] = static_cast<std::uint8_t>(3 * g + 1);
            splitOrder[4 * g + 1] = static_cast<std::uint8_t>(3 * g);
            splitOrder[4 * g + 2] = static_cast<std::uint8_t>(3 * g + 2);
            splitOrder[4 * g + 3] = static_cast<std::uint8_t>(3 * g + 1);
            packOrder[3 * g] = static_cast<std::uint8_t>(4 * g + 2);
            packOrder[3 * g + 1] = static_cast<std::uint8_t>(4 * g + 1);
            packOrder[3 * g + 2] = static_cast<std::uint8_t>(4 * g);
        }
        for (auto& v : values) v = 0x80;
        for (int i = 0; i < 64; ++i)
            values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
};
constexpr VbmiTables kVbmi;

TK_VBMI inline __m512i Load64(const void* p) {
    return _mm512_loadu_si512(p);
}

// 48 bytes (in the low 48 of in) -> 64 ASCII characters.
TK_VBMI inline __m512i EncodeBlock(__m512i in, __m512i splitOrder, __m512i alphabet) {
    // Bit offsets of the four fields in each 32-bit lane, for both lanes of a qword.
    const __m512i fieldShifts = _mm512_set1_epi64(0x3036242a1016040aLL);
    const __m512i lanes = _mm512_permutexvar_epi8(splitOrder, in);
    const __m512i fields = _mm512_multishift_epi64_epi8(fieldShifts, lanes);
    return _mm512_permutexvar_epi8(fields, alphabet);  // uses the low six bits
}

// 64 characters -> 48 bytes in the low 48 bytes; false when any is bad.
TK_VBMI inline bool DecodeBlock(__m512i in, __m512i lowTable, __m512i highTable, __m512i packOrder,
                                __m512i* out) {
    const __m512i v = _mm512_permutex2var_epi8(lowTable, in, highTable);
    if (_mm512_movepi8_mask(_mm512_or_si512(v, in))) return false;
    const __m512i pairs = _mm512_maddubs_epi16(v, _mm512_set1_epi32(0x01400140));
    const __m512i quads = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
    *out = _mm512_permutexvar_epi8(packOrder, quads);
    return true;
}

TK_VBMI inline __m512i NarrowUnits512(const TKWCHAR* src) {
    const __m256i a = _mm512_cvtusepi16_epi8(Load64(src));
    const __m256i b = _mm512_cvtusepi16_epi8(Load64(src + 32));
    return _mm512_inserti64x4(_mm512_castsi256_si512(a), b, 1);
}

}  // namespace

TK_VBMI std::size_t Base64EncodeVbmi(const std::uint8_t* src, std::size_t n, char* dst) {
    const __m512i splitOrder = Load64(kVbmi.splitOrder);
    const __m512i alphabet = Load64(kAlphabet);
    std::size_t i = 0;
    char* out = dst;
    for (; n - i >= 64; i += 48, out += 64)
        _mm512_storeu_si512(out, EncodeBlock(Load64(src + i), splitOrder, alphabet));
    if (n - i >= 48) {  // the last whole block, without reading past the input
        const __m512i in = _mm512_maskz_loadu_epi8(0x0000FFFFFFFFFFFFull, src + i);
        _mm512_storeu_si512(out, EncodeBlock(in, splitOrder, alphabet));
        i += 48;
        out += 64;
    }
    return static_cast<std::size_t>(out - dst) + Base64EncodePortable(src + i, n - i, out);
}

TK_VBMI std::size_t Base64DecodeVbmi(const char* src, std::size_t n, std::uint8_t* dst,
                                     std::size_t dstCap) {
    const __m512i lowTable = Load64(kVbmi.values), highTable = Load64(kVbmi.values + 64);
    const __m512i packOrder = Load64(kVbmi.packOrder);
    std::size_t i = 0, o = 0;
    __m512i block;
    for (; n - i >= 64 && dstCap - o >= 64; i += 64, o += 48) {
        if (!DecodeBlock(Load64(src + i), lowTable, highTable, packOrder, &block)) break;
        _mm512_storeu_si512(dst + o, block);
    }
    return i + Base64DecodePortable(src + i, n - i, dst + o, dstCap - o);
}

TK_VBMI std::size_t Base64DecodeWVbmi(const TKWCHAR* src, std::size_t n, std::uint8_t* dst,
                                      std::size_t dstCap) {
    const __m512i lowTable = Load64(kVbmi.values), highTable = Load64(kVbmi.values + 64);
    const __m512i packOrder = Load64(kVbmi.packOrder);
    std::size_t i = 0, o = 0;
    __m512i block;
    for (; n - i >= 64 && dstCap - o >= 64; i += 64, o += 48) {
        if (!DecodeBlock(NarrowUnits512(src + i), lowTable, highTable, packOrder, &block)) break;
        _mm512_storeu_si512(dst + o, block);
    }
    return i + Base64DecodeWPortable(src + i, n - i, dst + o, dstCap - o);
}

}  // namespace tk::detail

#endif  // TK_CODEC_X86
