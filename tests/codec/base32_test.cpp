// Base32 with the library's own alphabet, through the exported functions.
#include <gtest/gtest.h>

#include <cstring>

#include "codec_test_util.h"

using namespace codec_test;

namespace {

struct Vector {
    const char* name;
    std::string plain;
    const char* encoded;
};
const Vector kVectors[] = {
    {"empty", "", ""},
    {"abc", "abc", "mfrgg"},
    {"abcdef", "abcdef", "mfrggzdfmy"},
    {"one 0xFF", "\xff", "14"},
    {"five 0xFF", "\xff\xff\xff\xff\xff", "11111111"},
    {"two bytes", "\xff\xff", "111q"},
    {"four bytes", "\xff\xff\xff\xff", "111111y"},
    {"zeros", std::string(5, '\0'), "aaaaaaaa"},
    {"RFC text foobar", "foobar", "mzxw2ytboi"},
};

TEST(Base32, VectorsBothWaysNarrowAndWide) {
    for (const auto& v : kVectors) {
        const auto* data = reinterpret_cast<const unsigned char*>(v.plain.data());
        const unsigned n = static_cast<unsigned>(v.plain.size());
        Owned<char> a(TKBase32::tkEncodeBase32A(data, n));
        Owned<TKWCHAR> w(TKBase32::tkEncodeBase32W(data, n));
        ASSERT_TRUE(a && w) << v.name;
        EXPECT_STREQ(a.get(), v.encoded) << v.name;
        EXPECT_EQ(Narrow(w.get()), v.encoded) << v.name;
        for (size_t i = std::strlen(v.encoded); i < 8 * n / 5 + 8; ++i)
            EXPECT_EQ(a.get()[i], 0) << v.name << " unit " << i;
        // The empty text gives one zero byte (the spare), not a null pointer.
        const Decoded d = Decode(TKBase32::tkDecodeBase32A, v.encoded, 0);
        EXPECT_EQ(d.bytes, Bytes(v.plain)) << v.name;
        EXPECT_FALSE(d.null) << v.name;
        EXPECT_EQ(Decode(TKBase32::tkDecodeBase32W, Widen(v.encoded).c_str(), 0), d) << v.name;
    }
}

TEST(Base32, FinalGroupSizesGiveTheseByteCounts) {
    const int expected[8] = {0, 0, 1, 1, 2, 3, 3, 4};  // for 0..7 characters
    const unsigned char ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    Owned<char> text(TKBase32::tkEncodeBase32A(ten, 10));  // 16 characters
    for (unsigned len = 1; len <= 7; ++len) {
        const Decoded d = Decode(TKBase32::tkDecodeBase32A, text.get(), len);
        EXPECT_FALSE(d.null);
        EXPECT_EQ(d.count, expected[len]) << len << " characters";
        EXPECT_EQ(Decode(TKBase32::tkDecodeBase32A, text.get(), 8 + len).count, 5 + expected[len]);
    }
}

struct DecodeCase {
    const char* name;
    const char* text;
    bool fails;
    const char* bytes;
};
const DecodeCase kDecodeCases[] = {
    {"upper case is not in the alphabet", "MFRGG", true, nullptr},
    {"digit 0", "mfrg0", true, nullptr},
    {"digit 7", "mfrg7", true, nullptr},
    {"digit 8", "mfrg8", true, nullptr},
    {"digit 9", "mfrg9", true, nullptr},
    {"trailing line feed", "mfrgg\n", true, nullptr},
    {"= ends decoding, the rest is ignored", "mfrgg=Z!", false, "abc"},
    {"= after whole group", "mfrggzdf=mfrgg", false, "abcde"},
    {"starts with =", "=mfrgg", false, ""},
};

TEST(Base32, DecodingRules) {
    for (const auto& c : kDecodeCases) {
        const Decoded a = Decode(TKBase32::tkDecodeBase32A, c.text, 0);
        const WString wide = Widen(c.text);
        EXPECT_EQ(Decode(TKBase32::tkDecodeBase32W, wide.c_str(), 0), a) << c.name;
        EXPECT_EQ(a.null, c.fails) << c.name;
        if (!c.fails) {
            EXPECT_EQ(a.bytes, Bytes(c.bytes)) << c.name;
        }
    }
}

TEST(Base32, RoundTripsEveryLengthUpTo200) {
    std::vector<unsigned char> data;
    for (unsigned n = 0; n <= 200; ++n) {
        Owned<char> text(TKBase32::tkEncodeBase32A(data.data(), n));
        ASSERT_TRUE(text);
        EXPECT_EQ(std::strlen(text.get()), (8 * n + 4) / 5) << n;
        EXPECT_EQ(Decode(TKBase32::tkDecodeBase32A, text.get(), 0).bytes, data) << n;
        data.push_back(static_cast<unsigned char>(n * 37 + 11));
    }
}

TEST(Base32, RefusesWhatCannotBeRepresented) {
    const unsigned char byte = 0;
    EXPECT_EQ(TKBase32::tkEncodeBase32A(&byte, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(TKBase32::tkEncodeBase32W(&byte, 0xFFFFFFFFu), nullptr);
    unsigned char* out = reinterpret_cast<unsigned char*>(&out);
    EXPECT_EQ(TKBase32::tkDecodeBase32A("mfrgg", 3435973837u, &out), 0);
    EXPECT_EQ(out, nullptr);
    // No text at all is the empty text.
    const TKWCHAR* none = nullptr;
    EXPECT_EQ(TKBase32::tkDecodeBase32W(none, 0, &out), 0);
    ASSERT_NE(out, nullptr);
    tkFreeMem(out);
}

}  // namespace
