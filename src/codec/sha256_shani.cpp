// SHA-256 compression with the SHA extensions (SHA-NI).
//
// SHA256RNDS2 runs two rounds on the state split as ABEF and CDGH; the
// message schedule comes from SHA256MSG1 (the sigma0 part), one PALIGNR for
// the W[t-7] term and SHA256MSG2 (the sigma1 part).
#include "codec/codec_kernels.h"

#ifdef TK_CODEC_X86

#include "codec/x86_intrinsics.h"

#include "codec/sha256.h"

namespace tk::detail {

#define TK_SHANI TK_TARGET("sha,sse4.1,ssse3")

namespace {

// Four rounds with message words w (already scheduled) and constants K[4g..].
TK_SHANI inline void FourRounds(__m128i& abef, __m128i& cdgh, __m128i w, int g) {
    const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256K + 4 * g));
    __m128i wk = _mm_add_epi32(w, k);
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    wk = _mm_shuffle_epi32(wk, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
}

// W[4g..4g+3] from the previous sixteen words held in m0 (oldest) .. m3.
TK_SHANI inline __m128i Schedule(__m128i m0, __m128i m1, __m128i m2, __m128i m3) {
    __m128i w = _mm_sha256msg1_epu32(m0, m1);
    w = _mm_add_epi32(w, _mm_alignr_epi8(m3, m2, 4));
    return _mm_sha256msg2_epu32(w, m3);
}

}  // namespace

TK_SHANI void Sha256BlocksShaNi(std::uint32_t state[8], const std::uint8_t* p, std::size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    // DCBA and HGFE in memory order -> ABEF and CDGH.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count; --count, p += 64) {
        const __m128i abefSaved = abef, cdghSaved = cdgh;
        __m128i m[4];
        TK_PRAGMA(GCC unroll 4)
        for (int g = 0; g < 4; ++g) {
            m[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g)),
                                    byteSwap);
            FourRounds(abef, cdgh, m[g], g);
        }
        // Unrolled so that m[] stays in registers.
        TK_PRAGMA(GCC unroll 12)
        for (int g = 4; g < 16; ++g) {
            const int i = g & 3;  // m[i] holds the oldest four words
            m[i] = Schedule(m[i], m[(i + 1) & 3], m[(i + 2) & 3], m[(i + 3) & 3]);
            FourRounds(abef, cdgh, m[i], g);
        }
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }

    // Back to DCBA and HGFE.
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

}  // namespace tk::detail

#endif  // TK_CODEC_X86
