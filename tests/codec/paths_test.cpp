// Every code path this CPU can run gives the same results as the portable one.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "codec_test_util.h"

using namespace codec_test;
using tk::detail::CodecPath;

namespace {

std::vector<unsigned char> RandomBytes(std::mt19937& rng, size_t n) {
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

// Lengths 0 to 4,100: all of 0..300 (every SIMD block/tail split), then a
// spread up to 4,100.
std::vector<size_t> Lengths() {
    std::vector<size_t> n;
    for (size_t i = 0; i <= 300; ++i) n.push_back(i);
    for (size_t i = 301; i <= 4100; i += 97) n.push_back(i);
    n.push_back(4096);
    n.push_back(4100);
    return n;
}

class CodecPaths : public ::testing::TestWithParam<CodecPath> {};

std::string PathName(const ::testing::TestParamInfo<CodecPath>& info) {
    static const char* names[] = {"Portable", "Sse", "Avx2", "Avx512"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Supported, CodecPaths, ::testing::ValuesIn(SupportedPaths()), PathName);

TEST(CodecPathsInfo, DescribesTheActiveKernels) {
    // Shown in the test log: which kernel each job runs on this machine.
    std::printf("codec paths: %s\n", tk::detail::DescribeCodecPaths());
    EXPECT_TRUE(tk::detail::CodecPathSupported(CodecPath::kPortable));
}

TEST_P(CodecPaths, Base64RoundTripsMatchPortable) {
    std::mt19937 rng(1234);
    for (size_t n : Lengths()) {
        const auto data = RandomBytes(rng, n);
        const unsigned len = static_cast<unsigned>(n);
        std::string expected;
        {
            ScopedPath portable(CodecPath::kPortable);
            Owned<char> t(TKBase64::tkEncodeBase64A(data.data(), len));
            expected = t.get();
        }
        ScopedPath path(GetParam());
        Owned<char> a(TKBase64::tkEncodeBase64A(data.data(), len));
        Owned<TKWCHAR> w(TKBase64::tkEncodeBase64W(data.data(), len));
        ASSERT_EQ(a.get(), expected) << n << " bytes";
        ASSERT_EQ(Narrow(w.get()), expected) << n << " bytes";
        const Decoded d = Decode(TKBase64::tkDecodeBase64A, a.get(), 0);
        ASSERT_EQ(d.bytes, data) << n << " bytes";
        ASSERT_EQ(Decode(TKBase64::tkDecodeBase64W, w.get(), 0), d) << n << " bytes";
    }
}

// Valid text with one character replaced at a random place: the decoders of
// every path must stop, fail or carry on exactly like the portable one.
TEST_P(CodecPaths, Base64DecodersMatchPortableOnDamagedText) {
    std::mt19937 rng(99);
    const TKWCHAR wideOnly[] = {0x0100, 0x0141, 0x2B00, 0x7F41, 0x8041, 0xFF2F, 0xFFFF};
    for (int round = 0; round < 3000; ++round) {
        const auto data = RandomBytes(rng, rng() % 600);
        Owned<char> text(
            TKBase64::tkEncodeBase64A(data.data(), static_cast<unsigned>(data.size())));
        std::string narrow = text.get();
        WString wide = Widen(narrow);
        if (!narrow.empty()) {
            const size_t at = rng() % narrow.size();
            const unsigned pick = rng() % 264;
            if (pick < 256) {
                narrow[at] = static_cast<char>(pick ? pick : '=');
                wide[at] = static_cast<TKWCHAR>(static_cast<unsigned char>(narrow[at]));
            } else {
                wide[at] = wideOnly[pick % 7];  // narrow text left intact
            }
        }
        // Sometimes an explicit length shorter than the text.
        const unsigned len = (rng() % 4 == 0 && !narrow.empty())
                                 ? static_cast<unsigned>(rng() % narrow.size()) + 1
                                 : 0;
        Decoded expectA, expectW;
        {
            ScopedPath portable(CodecPath::kPortable);
            expectA = Decode(TKBase64::tkDecodeBase64A, narrow.c_str(), len);
            expectW = Decode(TKBase64::tkDecodeBase64W, wide.c_str(), len);
        }
        ScopedPath path(GetParam());
        ASSERT_EQ(Decode(TKBase64::tkDecodeBase64A, narrow.c_str(), len), expectA)
            << "round " << round;
        ASSERT_EQ(Decode(TKBase64::tkDecodeBase64W, wide.c_str(), len), expectW)
            << "round " << round;
    }
}

// A plain bit-at-a-time CRC, sharing no table or code with the library.
uint64_t BitwiseCrc64(const unsigned char* p, size_t n) {
    uint64_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ ((crc & 1) ? 0x95AC9329AC4BC9B5ull : 0);
    }
    return crc;
}

TEST_P(CodecPaths, Crc64MatchesBitwiseReference) {
    std::mt19937 rng(7);
    auto lengths = Lengths();
    for (size_t n : {511, 512, 513, 767, 768, 1023, 1024, 65536 + 17}) lengths.push_back(n);
    ScopedPath path(GetParam());
    for (size_t n : lengths) {
        const auto data = RandomBytes(rng, n);
        char expected[17];
        std::snprintf(expected, sizeof expected, "%016llx",
                      static_cast<unsigned long long>(BitwiseCrc64(data.data(), n)));
        Owned<char> text(TKCRC64::tkGetCRC64StrA(data.data(), static_cast<unsigned>(n)));
        ASSERT_STREQ(text.get(), expected) << n << " bytes";
    }
    // An all-0xFF buffer stresses every carry of the folding.
    const std::vector<unsigned char> ones(5000, 0xFF);
    char expected[17];
    std::snprintf(expected, sizeof expected, "%016llx",
                  static_cast<unsigned long long>(BitwiseCrc64(ones.data(), ones.size())));
    Owned<char> text(TKCRC64::tkGetCRC64StrA(ones.data(), 5000));
    EXPECT_STREQ(text.get(), expected);
}

TEST_P(CodecPaths, HmacMatchesPortableForAllKeyAndDataSizes) {
    std::mt19937 rng(42);
    for (size_t keyLen : {0, 1, 32, 63, 64, 65, 131, 200}) {
        for (size_t n : Lengths()) {
            if (n > 300 && n % 3) continue;  // keep the product of the two sweeps small
            const auto key = RandomBytes(rng, keyLen);
            const auto data = RandomBytes(rng, n);
            auto mac = [&] {
                char out[32];
                int len = 32;
                TKHMACSHA::tkHMAC_SHA256(reinterpret_cast<const char*>(key.data()),
                                         static_cast<int>(keyLen), data.data(), static_cast<int>(n),
                                         out, &len);
                return std::string(out, 32);
            };
            std::string expected;
            {
                ScopedPath portable(CodecPath::kPortable);
                expected = mac();
            }
            ScopedPath path(GetParam());
            ASSERT_EQ(mac(), expected) << "key " << keyLen << ", data " << n;
        }
    }
}

}  // namespace
