// Base64 encoders and decoders through the exported functions.
#include <gtest/gtest.h>

#include <cstring>

#include "codec_test_util.h"

using namespace codec_test;

namespace {

struct Vector {
    const char* name;
    const char* plain;
    const char* encoded;
};
// RFC 4648, section 10.
const Vector kRfc4648[] = {
    {"empty", "", ""},
    {"one", "f", "Zg=="},
    {"two", "fo", "Zm8="},
    {"three", "foo", "Zm9v"},
    {"four", "foob", "Zm9vYg=="},
    {"five", "fooba", "Zm9vYmE="},
    {"six", "foobar", "Zm9vYmFy"},
};

TEST(Base64, Rfc4648VectorsBothWaysNarrowAndWide) {
    for (const auto& v : kRfc4648) {
        const unsigned n = static_cast<unsigned>(std::strlen(v.plain));
        const auto* data = reinterpret_cast<const unsigned char*>(v.plain);
        Owned<char> a(TKBase64::tkEncodeBase64A(data, n));
        Owned<TKWCHAR> w(TKBase64::tkEncodeBase64W(data, n));
        ASSERT_TRUE(a && w) << v.name;
        EXPECT_STREQ(a.get(), v.encoded) << v.name;
        EXPECT_EQ(Narrow(w.get()), v.encoded) << v.name;
        // The buffer is floor(8n/6) + 4 units, zero after the text.
        for (size_t i = std::strlen(v.encoded); i < 8 * n / 6 + 4; ++i) {
            EXPECT_EQ(a.get()[i], 0) << v.name << " unit " << i;
            EXPECT_EQ(w.get()[i], 0) << v.name << " unit " << i;
        }
        const Decoded d = Decode(TKBase64::tkDecodeBase64A, v.encoded, 0);
        EXPECT_FALSE(d.null) << v.name;
        EXPECT_EQ(d.bytes, Bytes(v.plain)) << v.name;
        EXPECT_EQ(d.spare, 0) << v.name << ": padded text leaves the spare byte zero";
        EXPECT_EQ(Decode(TKBase64::tkDecodeBase64W, Widen(v.encoded).c_str(), 0), d) << v.name;
    }
}

struct DecodeCase {
    const char* name;
    const char* text;
    unsigned length;  // 0: up to the NUL
    bool fails;
    const char* bytes;  // expected decoded bytes when it does not fail
    int spare;          // expected spare byte, -1 to skip
};

const DecodeCase kDecodeCases[] = {
    {"unpadded pair", "YWI", 0, false, "ab", -1},
    {"unpadded single", "YQ", 0, false, "a", -1},
    {"lone character yields nothing", "Y", 0, false, "", 0x60},
    {"empty text", "", 0, false, "", 0},
    {"starts with =", "=YWJj", 0, false, "", 0},
    {"= third ends early, later text ignored", "YQ=Zm9v", 0, false, "a", -1},
    {"= third ends early even before junk", "YQ=!!!!", 0, false, "a", -1},
    {"= second", "Y=Zm", 0, false, "", 0x60},
    {"= mid-text after whole groups", "Zm9v=Zm9v", 0, false, "foo", 0},
    {"explicit length shorter than text", "Zm9vYmFy", 4, false, "foo", 0},
    {"explicit length cuts a group", "Zm9vYmFy", 6, false, "foob", -1},
    {"explicit length ignores junk beyond", "Zm9v\n", 4, false, "foo", 0},
    {"trailing line feed", "Zm9v\n", 0, true, nullptr, 0},
    {"trailing CR", "Zm9v\r", 0, true, nullptr, 0},
    {"trailing space", "Zm9v ", 0, true, nullptr, 0},
    {"leading TAB", "\tZm9v", 0, true, nullptr, 0},
    {"URL-safe minus", "Zm-v", 0, true, nullptr, 0},
    {"URL-safe underscore", "Zm_v", 0, true, nullptr, 0},
    {"bad character after valid groups", "Zm9vZm9v*", 0, true, nullptr, 0},
    {"high byte", "Zm9\xc3\xa9", 0, true, nullptr, 0},
    {"NUL inside explicit length", "Zm\0v", 4, true, nullptr, 0},
};

TEST(Base64, DecodingRules) {
    for (const auto& c : kDecodeCases) {
        const unsigned len = c.length;
        const Decoded a = Decode(TKBase64::tkDecodeBase64A, c.text, len);
        const size_t units = len ? len : std::strlen(c.text);
        const WString wide = Widen(std::string(c.text, units));
        const Decoded w = Decode(TKBase64::tkDecodeBase64W, wide.c_str(), len);
        EXPECT_EQ(w, a) << c.name;
        if (c.fails) {
            EXPECT_TRUE(a.null) << c.name;
            EXPECT_EQ(a.count, 0) << c.name;
            continue;
        }
        ASSERT_FALSE(a.null) << c.name;
        EXPECT_EQ(a.bytes, Bytes(c.bytes)) << c.name;
        if (c.spare >= 0) {
            EXPECT_EQ(a.spare, c.spare) << c.name;
        }
    }
}

TEST(Base64, WideUnitsAboveAsciiNeverMatch) {
    // Units whose low byte is an alphabet character must still fail.
    for (TKWCHAR unit : {TKWCHAR(0x0141), TKWCHAR(0xFF41), TKWCHAR(0x8030), TKWCHAR(0x00C1)}) {
        WString text = Widen("Zm9vZm9v");
        text[5] = unit;
        const Decoded d = Decode(TKBase64::tkDecodeBase64W, text.c_str(), 0);
        EXPECT_TRUE(d.null) << std::hex << unsigned(unit);
    }
}

TEST(Base64, EncodesAllByteValuesAndDecodesThemBack) {
    std::vector<unsigned char> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    Owned<char> text(TKBase64::tkEncodeBase64A(all.data(), 256));
    ASSERT_TRUE(text);
    EXPECT_EQ(std::string(text.get()).substr(0, 8), "AAECAwQF");
    EXPECT_EQ(std::string(text.get()).substr(336), "/P3+/w==");
    EXPECT_EQ(Decode(TKBase64::tkDecodeBase64A, text.get(), 0).bytes, all);
}

TEST(Base64, UnpaddedTextOfEveryLengthDecodes) {
    std::vector<unsigned char> data;
    for (unsigned n = 0; n < 150; ++n) {
        Owned<char> text(TKBase64::tkEncodeBase64A(data.data(), n));
        std::string unpadded(text.get());
        while (!unpadded.empty() && unpadded.back() == '=') unpadded.pop_back();
        EXPECT_EQ(Decode(TKBase64::tkDecodeBase64A, unpadded.c_str(), 0).bytes, data) << n;
        data.push_back(static_cast<unsigned char>(255 - n));
    }
}

TEST(Base64, RefusesWhatCannotBeRepresented) {
    // Neither call reads the data: the sizes are checked first.
    const unsigned char byte = 0;
    EXPECT_EQ(TKBase64::tkEncodeBase64A(&byte, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(TKBase64::tkEncodeBase64W(&byte, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(TKBase64::tkEncodeBase64A(nullptr, 3), nullptr);
    unsigned char* out = reinterpret_cast<unsigned char*>(&out);
    EXPECT_EQ(TKBase64::tkDecodeBase64A("Zm9v", 2863311531u, &out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(TKBase64::tkDecodeBase64A("Zm9v", 0, nullptr), 0);
}

}  // namespace
