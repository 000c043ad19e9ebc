// The exact decoding rules shared by Base64 and Base32, and the buffer
// handling around them. The fast kernels only ever take whole, clean groups
// off the front; everything they leave (the last groups, "=", bad characters,
// unpadded ends) is decided here, one character at a time.
#ifndef TAVIKFCU_CODEC_RADIX_DECODE_H
#define TAVIKFCU_CODEC_RADIX_DECODE_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "memory/heap.h"
#include "tavikfcu/TKTypes.h"

namespace tk::detail {

// Marks a character outside an alphabet in a 128-entry value table.
inline constexpr std::uint8_t kNotInAlphabet = 0xFF;

// The value table of an alphabet of 2^kBits ASCII characters.
template <int kBits>
struct AlphabetTable {
    std::uint8_t value[128];
    constexpr explicit AlphabetTable(const char* alphabet) : value() {
        for (auto& v : value) v = kNotInAlphabet;
        for (int i = 0; i < (1 << kBits); ++i)
            value[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
    }
};

// Appends the characters text[pos..len) to the bit stream in buf, most
// significant bit first, starting on a byte boundary with count bytes done.
// Stops at "=" or at len. Returns the total count of complete bytes, or -1 at
// the first character outside the alphabet. Bits of an unfinished byte stay in
// buf[count]; buf must hold floor(kBits * len / 8) + 1 bytes and be zero from
// buf[count] on.
template <int kBits, typename Unit>
[[nodiscard]] long long DecodeExact(const Unit* text, std::size_t pos, std::size_t len,
                                    const AlphabetTable<kBits>& table, std::uint8_t* buf,
                                    std::size_t count) {
    using U = std::make_unsigned_t<Unit>;
    unsigned filled = 0;  // bits already placed in buf[count]
    for (; pos < len; ++pos) {
        const unsigned c = static_cast<U>(text[pos]);
        if (c == '=') break;
        const unsigned v = c < 128 ? table.value[c] : kNotInAlphabet;
        if (v == kNotInAlphabet) return -1;
        filled += kBits;
        if (filled < 8) {
            buf[count] = static_cast<std::uint8_t>(buf[count] | (v << (8 - filled)));
        } else {
            filled -= 8;
            buf[count] = static_cast<std::uint8_t>(buf[count] | (v >> filled));
            ++count;
            if (filled) buf[count] = static_cast<std::uint8_t>(v << (8 - filled));
        }
    }
    return static_cast<long long>(count);
}

// Characters up to the NUL; 0 for null.
template <typename Unit>
std::size_t CountUnits(const Unit* text) {
    if (!text) return 0;
    const Unit* p = text;
    while (*p) ++p;
    return static_cast<std::size_t>(p - text);
}

// The whole decoder around a bulk kernel: sizes, allocation, zero fill, exact
// finish, failure. Bulk(text, len, buf, cap) returns the characters it took
// (whole groups of kGroup characters giving kBits * kGroup / 8 bytes each).
template <int kBits, int kGroup, typename Unit, typename Bulk>
int DecodeRadix(const Unit* text, unsigned int length, unsigned char** out,
                const AlphabetTable<kBits>& table, Bulk bulk) {
    if (!out) return 0;
    *out = nullptr;
    const std::size_t len = length ? length : CountUnits(text);
    if (len && !text) return 0;
    const std::uint64_t bytes = static_cast<std::uint64_t>(kBits) * len / 8;
    if (bytes > static_cast<std::uint64_t>(INT_MAX)) return 0;  // the count would not fit
    const std::size_t size = static_cast<std::size_t>(bytes) + 1;
    auto* buf = static_cast<std::uint8_t*>(HeapAlloc(size));
    *out = buf;
    std::size_t taken = len ? bulk(text, len, buf, size) : 0;
    const std::size_t done = taken / kGroup * (kBits * kGroup / 8);
    // The bulk kernel may have scribbled past its last whole group (wide
    // stores); the zero fill covers that too.
    std::memset(buf + done, 0, size - done);
    const long long count = DecodeExact<kBits>(text, taken, len, table, buf, done);
    if (count < 0) {
        HeapFree(buf);
        *out = nullptr;
        return 0;
    }
    return static_cast<int>(count);
}

// Copies n ASCII bytes into UTF-16 units.
inline void WidenAscii(const char* src, std::size_t n, TKWCHAR* dst) {
    for (std::size_t i = 0; i < n; ++i)
        dst[i] = static_cast<TKWCHAR>(static_cast<unsigned char>(src[i]));
}

}  // namespace tk::detail

#endif  // TAVIKFCU_CODEC_RADIX_DECODE_H
