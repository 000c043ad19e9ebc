// Base64: the exported encoders and decoders and the portable kernels.
#include <array>
#include <cstring>

#include "codec/codec_kernels.h"
#include "codec/radix_decode.h"
#include "memory/heap.h"
#include "tavikfcu/TKCodec.h"

namespace tk::detail {

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr AlphabetTable<6> kBase64Table(kBase64Alphabet);

// For the portable bulk decoder: the value of a character already shifted to
// its place in a 24-bit group, one table per position in the group. Bytes
// outside the alphabet carry bit 24, which no valid sum can reach.
constexpr std::uint32_t kGroupBad = 1u << 24;
using GroupTables = std::array<std::array<std::uint32_t, 256>, 4>;
constexpr GroupTables MakeGroupTables() {
    GroupTables t{};
    for (int pos = 0; pos < 4; ++pos) {
        for (int c = 0; c < 256; ++c) {
            const unsigned v = c < 128 ? kBase64Table.value[c] : kNotInAlphabet;
            t[pos][c] = v == kNotInAlphabet ? kGroupBad : v << (18 - 6 * pos);
        }
    }
    return t;
}
constexpr GroupTables kGroupTables = MakeGroupTables();

template <typename Unit>
std::size_t DecodeGroupsPortable(const Unit* src, std::size_t n, std::uint8_t* dst,
                                 std::size_t dstCap) {
    using U = std::make_unsigned_t<Unit>;
    auto at = [&](std::size_t pos, std::size_t i) -> std::uint32_t {
        const unsigned c = static_cast<U>(src[i]);
        return c < 256 ? kGroupTables[pos][c] : kGroupBad;
    };
    std::size_t i = 0, o = 0;
    while (n - i >= 4 && dstCap - o >= 3) {
        const std::uint32_t v = at(0, i) | at(1, i + 1) | at(2, i + 2) | at(3, i + 3);
        if (v & kGroupBad) break;
        dst[o] = static_cast<std::uint8_t>(v >> 16);
        dst[o + 1] = static_cast<std::uint8_t>(v >> 8);
        dst[o + 2] = static_cast<std::uint8_t>(v);
        i += 4;
        o += 3;
    }
    return i;
}

}  // namespace

namespace {

// Two output characters per 12 input bits: halves the lookups of the
// portable encoder. Entry v holds alphabet[v >> 6] then alphabet[v & 63].
using PairTable = std::array<char, 2 * 4096>;
constexpr PairTable MakePairTable() {
    PairTable t{};
    for (int v = 0; v < 4096; ++v) {
        t[2 * v] = kBase64Alphabet[v >> 6];
        t[2 * v + 1] = kBase64Alphabet[v & 63];
    }
    return t;
}
constexpr PairTable kPairs = MakePairTable();

}  // namespace

std::size_t Base64EncodePortable(const std::uint8_t* src, std::size_t n, char* dst) {
    const char* a = kBase64Alphabet;
    char* out = dst;
    std::size_t i = 0;
    for (; n - i >= 3; i += 3) {
        const std::uint32_t v =
            std::uint32_t(src[i]) << 16 | std::uint32_t(src[i + 1]) << 8 | src[i + 2];
        std::memcpy(out, &kPairs[2 * (v >> 12)], 2);
        std::memcpy(out + 2, &kPairs[2 * (v & 0xFFF)], 2);
        out += 4;
    }
    if (n - i == 1) {
        const unsigned b0 = src[i];
        out[0] = a[b0 >> 2];
        out[1] = a[(b0 & 3) << 4];
        out[2] = out[3] = '=';
        out += 4;
    } else if (n - i == 2) {
        const unsigned b0 = src[i], b1 = src[i + 1];
        out[0] = a[b0 >> 2];
        out[1] = a[(b0 & 3) << 4 | b1 >> 4];
        out[2] = a[(b1 & 15) << 2];
        out[3] = '=';
        out += 4;
    }
    return static_cast<std::size_t>(out - dst);
}

std::size_t Base64DecodePortable(const char* src, std::size_t n, std::uint8_t* dst,
                                 std::size_t dstCap) {
    return DecodeGroupsPortable(src, n, dst, dstCap);
}

std::size_t Base64DecodeWPortable(const TKWCHAR* src, std::size_t n, std::uint8_t* dst,
                                  std::size_t dstCap) {
    return DecodeGroupsPortable(src, n, dst, dstCap);
}

namespace {

// floor(8 * n / 6) + 4 characters, or 0 when that exceeds a 32-bit count.
std::size_t EncodedBufferUnits(unsigned int length) {
    const std::uint64_t units = std::uint64_t(8) * length / 6 + 4;
    return units > 0xFFFFFFFFu ? 0 : static_cast<std::size_t>(units);
}

template <typename Unit, typename Bulk>
int DecodeBase64(const Unit* text, unsigned int length, unsigned char** out, Bulk bulk) {
    return DecodeRadix<6, 4>(text, length, out, kBase64Table, bulk);
}

}  // namespace

}  // namespace tk::detail

namespace TKBase64 {

using namespace tk::detail;

char* tkEncodeBase64A(const unsigned char* data, unsigned int length) {
    if (!data && length) return nullptr;
    const std::size_t units = EncodedBufferUnits(length);
    if (!units) return nullptr;
    char* text = static_cast<char*>(HeapAlloc(units));
    const std::size_t written = length ? ActiveCodecKernels().base64Encode(data, length, text) : 0;
    std::memset(text + written, 0, units - written);
    return text;
}

TKWCHAR* tkEncodeBase64W(const unsigned char* data, unsigned int length) {
    if (!data && length) return nullptr;
    const std::size_t units = EncodedBufferUnits(length);
    if (!units) return nullptr;
    auto* text = static_cast<TKWCHAR*>(HeapAlloc(units * sizeof(TKWCHAR)));
    // Encode in slices through a small narrow buffer that stays in cache,
    // then widen; a slice is a whole number of 3-byte groups.
    constexpr std::size_t kSlice = 3 * 1024;
    char narrow[kSlice / 3 * 4];
    const Base64EncodeFn encode = ActiveCodecKernels().base64Encode;
    std::size_t written = 0;
    for (std::size_t i = 0; i < length; i += kSlice) {
        const std::size_t take = length - i < kSlice ? length - i : kSlice;
        const std::size_t n = encode(data + i, take, narrow);
        WidenAscii(narrow, n, text + written);
        written += n;
    }
    for (std::size_t i = written; i < units; ++i) text[i] = 0;
    return text;
}

int tkDecodeBase64A(const char* text, unsigned int length, unsigned char** out) {
    return DecodeBase64(text, length, out, ActiveCodecKernels().base64Decode);
}

int tkDecodeBase64W(const TKWCHAR* text, unsigned int length, unsigned char** out) {
    return DecodeBase64(text, length, out, ActiveCodecKernels().base64DecodeW);
}

}  // namespace TKBase64
