// The shared body of the four decoder fuzzers. Each input is decoded as text
// of an explicit length (an exact-size heap copy, so reading past it is
// caught) on every code path the CPU supports; all paths must agree with the
// portable one byte for byte. Decoded output must fit the documented size,
// and decoding, encoding and decoding again must give the same bytes.
#ifndef TAVIKFCU_FUZZ_CODEC_FUZZ_H
#define TAVIKFCU_FUZZ_CODEC_FUZZ_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/codec_kernels.h"
#include "tavikfcu/TKCodec.h"
#include "tavikfcu/TKCore.h"

namespace codec_fuzz {

struct Result {
    int count;
    bool null;
    std::vector<unsigned char> bytes;  // count bytes and the spare byte
};

template <typename Unit>
Result Run(int (*decode)(const Unit*, unsigned int, unsigned char**), const Unit* text,
           unsigned int length) {
    unsigned char* out = nullptr;
    Result r;
    r.count = decode(text, length, &out);
    r.null = out == nullptr;
    if (out) r.bytes.assign(out, out + r.count + 1);
    tkFreeMem(out);
    return r;
}

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "codec fuzz: %s\n", what);
    std::abort();
}

// bitsPerChar: 6 for Base64, 5 for Base32.
template <typename Unit>
void FuzzDecoder(const std::uint8_t* data, std::size_t size,
                 int (*decode)(const Unit*, unsigned int, unsigned char**), int bitsPerChar,
                 TKWCHAR* (*encodeW)(const unsigned char*, unsigned int),
                 char* (*encodeA)(const unsigned char*, unsigned int)) {
    const std::size_t units = size / sizeof(Unit);
    if (units == 0) return;
    Unit* text = static_cast<Unit*>(std::malloc(units * sizeof(Unit)));
    std::memcpy(text, data, units * sizeof(Unit));
    const unsigned int len = static_cast<unsigned int>(units);

    Result expected;
    {
        const auto previous = tk::detail::LimitCodecPath(tk::detail::CodecPath::kPortable);
        expected = Run(decode, text, len);
        tk::detail::LimitCodecPath(previous);
    }
    if (expected.null != (expected.count == 0 && expected.bytes.empty()))
        Fail("null/count mismatch");
    if (!expected.null &&
        static_cast<std::size_t>(expected.count) > std::size_t(bitsPerChar) * units / 8)
        Fail("more bytes than the text can carry");
    for (int p = 1; p < tk::detail::kCodecPathCount; ++p) {
        const auto path = static_cast<tk::detail::CodecPath>(p);
        if (!tk::detail::CodecPathSupported(path)) continue;
        const auto previous = tk::detail::LimitCodecPath(path);
        const Result got = Run(decode, text, len);
        tk::detail::LimitCodecPath(previous);
        if (got.count != expected.count || got.null != expected.null || got.bytes != expected.bytes)
            Fail("a code path disagrees with the portable one");
    }
    // Re-encoding the decoded bytes and decoding again is the identity.
    if (!expected.null && expected.count > 0) {
        const unsigned n = static_cast<unsigned>(expected.count);
        Unit* again = nullptr;
        if constexpr (sizeof(Unit) == 1) {
            again = reinterpret_cast<Unit*>(encodeA(expected.bytes.data(), n));
        } else {
            again = encodeW(expected.bytes.data(), n);
        }
        const Result round = Run(decode, again, 0);
        tkFreeMem(again);
        if (round.count != expected.count ||
            std::memcmp(round.bytes.data(), expected.bytes.data(), n) != 0)
            Fail("decode(encode(x)) != x");
    }
    std::free(text);
}

}  // namespace codec_fuzz

#endif  // TAVIKFCU_FUZZ_CODEC_FUZZ_H
