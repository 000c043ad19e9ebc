// Base32 with this library's alphabet and no padding.
#include <cstring>
#include <memory>

#include "codec/radix_decode.h"
#include "memory/heap.h"
#include "memory/scratch_pools.h"
#include "string/temp_strings.h"
#include "tavikfcu/TKCodec.h"
#include "tavikfcu/TKCore.h"

namespace tk::detail {

namespace {

// Values 0-25 are a-z; 26-31 are the digits 6 down to 1.
constexpr char kBase32Alphabet[] = "abcdefghijklmnopqrstuvwxyz654321";
constexpr AlphabetTable<5> kBase32Table(kBase32Alphabet);

// Characters for a tail of 1, 2, 3 or 4 bytes: the 40-bit group cut after the
// last character that holds input bits.
constexpr std::size_t kTailChars[5] = {0, 2, 4, 5, 7};

std::size_t EncodeBase32(const std::uint8_t* src, std::size_t n, char* dst) {
    const char* a = kBase32Alphabet;
    char* out = dst;
    std::size_t i = 0;
    for (; n - i >= 5; i += 5) {
        std::uint64_t v = 0;
        for (int k = 0; k < 5; ++k) v = v << 8 | src[i + k];
        for (int k = 0; k < 8; ++k) out[k] = a[(v >> (35 - 5 * k)) & 31];
        out += 8;
    }
    if (const std::size_t rest = n - i) {
        // Zero bytes after the tail supply the right-hand fill bits.
        std::uint64_t v = 0;
        for (std::size_t k = 0; k < 5; ++k) v = v << 8 | (k < rest ? src[i + k] : 0u);
        for (std::size_t k = 0; k < kTailChars[rest]; ++k) out[k] = a[(v >> (35 - 5 * k)) & 31];
        out += kTailChars[rest];
    }
    return static_cast<std::size_t>(out - dst);
}

// Whole 8-character groups for as long as they are clean.
template <typename Unit>
std::size_t DecodeGroups(const Unit* src, std::size_t n, std::uint8_t* dst, std::size_t cap) {
    using U = std::make_unsigned_t<Unit>;
    std::size_t i = 0, o = 0;
    while (n - i >= 8 && cap - o >= 5) {
        std::uint64_t v = 0;
        unsigned bad = 0;
        for (int k = 0; k < 8; ++k) {
            const unsigned c = static_cast<U>(src[i + k]);
            const unsigned d = c < 128 ? kBase32Table.value[c] : kNotInAlphabet;
            bad |= d;
            v = v << 5 | (d & 31);
        }
        if (bad & 0x80) break;
        for (int k = 0; k < 5; ++k) dst[o + k] = static_cast<std::uint8_t>(v >> (32 - 8 * k));
        i += 8;
        o += 5;
    }
    return i;
}

template <typename Unit>
int DecodeBase32(const Unit* text, unsigned int length, unsigned char** out) {
    return DecodeRadix<5, 8>(text, length, out, kBase32Table, DecodeGroups<Unit>);
}

}  // namespace

}  // namespace tk::detail

namespace TKBase32 {

using namespace tk::detail;

char* tkEncodeBase32A(const unsigned char* data, unsigned int length) {
    if (!data && length) return nullptr;
    const std::uint64_t units = std::uint64_t(8) * length / 5 + 8;
    if (units > 0xFFFFFFFFu) return nullptr;
    char* text = static_cast<char*>(HeapAlloc(static_cast<std::size_t>(units)));
    const std::size_t written = EncodeBase32(data, length, text);
    std::memset(text + written, 0, static_cast<std::size_t>(units) - written);
    return text;
}

TKWCHAR* tkEncodeBase32W(const unsigned char* data, unsigned int length) {
    // Freed on every way out, including a failed allocation below.
    const std::unique_ptr<char, void (*)(void*)> narrow(tkEncodeBase32A(data, length), tkFreeMem);
    if (!narrow) return nullptr;
    // The text is ASCII, so the conversion maps each byte to one unit.
    CTempWideString converted(narrow.get());
    return HeapCopy(converted.Text(), CountUnits(converted.Text()));
}

int tkDecodeBase32A(const char* text, unsigned int length, unsigned char** out) {
    return DecodeBase32(text, length, out);
}

int tkDecodeBase32W(const TKWCHAR* text, unsigned int length, unsigned char** out) {
    return DecodeBase32(text, length, out);
}

}  // namespace TKBase32
