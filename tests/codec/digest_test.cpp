// MD5, HMAC-SHA256 and CRC-64 through the exported functions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codec/crc64_tables.h"
#include "codec_test_util.h"

using namespace codec_test;

namespace {

std::string Md5Lower(const std::string& s) {
    char text[33];
    TKMD5::tkGetMD5StrLowerA(s.data(), static_cast<unsigned>(s.size()), text);
    return text;
}

std::string Hex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string h;
    for (size_t i = 0; i < n; ++i) {
        h.push_back(digits[p[i] >> 4]);
        h.push_back(digits[p[i] & 15]);
    }
    return h;
}

TEST(Md5, Rfc1321Suite) {
    const std::pair<const char*, const char*> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, digest] : suite) {
        EXPECT_EQ(Md5Lower(text), digest) << '"' << text << '"';
    }
}

// 55 bytes fit the length in the same block; 56 to 63 need another one. The
// bytes are all 0x80 or above, so a signed char anywhere would show.
TEST(Md5, PaddingBoundariesAndHighBytes) {
    const std::pair<size_t, const char*> rows[] = {
        {1, "8d39dd7eef115ea6975446ef4082951f"},   {55, "af66044fc9f8eb6f937fc06882fcf424"},
        {56, "69b1050dc277a3d7841129299539570e"},  {57, "cc03066fb82db854c3c53a0a4929f57b"},
        {63, "4efb3ce48cb2bc783a8d59a27ba03196"},  {64, "d6ca682b2eb7f73b60186df087b5a7c2"},
        {65, "72620da83fa5d0a4cd7a8adf5714c372"},  {119, "c342cd2df7bdd193080f4bf5a40d2596"},
        {120, "2f4ee3f8bb8f2f93b63f330b78fbd559"}, {127, "b3740dea4af55361c0b438ea33fe5668"},
        {128, "14c658668a61329b8cb4fc092c0b0490"}, {129, "14112c411459a8ff07bc68b35cd5600d"},
        {1000, "68340d202a8017799bbdacaa59648ea7"}};
    for (const auto& [n, digest] : rows) {
        std::string m(n, '\0');
        for (size_t i = 0; i < n; ++i) m[i] = static_cast<char>(0x80 + (i * 7) % 128);
        EXPECT_EQ(Md5Lower(m), digest) << n << " bytes";
    }
}

TEST(Md5, FiveFormsAgree) {
    const char* msg = "message digest";
    const unsigned n = 14;
    unsigned int words[4];
    TKMD5::tkGetMD5Data(msg, n, words);
    EXPECT_EQ(words[0], 0x7d696bf9u);  // f9 6b 69 7d, least significant byte first
    char lowerA[33], upperA[33];
    TKWCHAR lowerW[33], upperW[33];
    TKMD5::tkGetMD5StrLowerA(msg, n, lowerA);
    TKMD5::tkGetMD5StrUpperA(msg, n, upperA);
    TKMD5::tkGetMD5StrLowerW(msg, n, lowerW);
    TKMD5::tkGetMD5StrUpperW(msg, n, upperW);
    EXPECT_STREQ(lowerA, "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_STREQ(upperA, "F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(Narrow(lowerW), lowerA);
    EXPECT_EQ(Narrow(upperW), upperA);
    EXPECT_EQ(lowerW[32], 0);
}

struct HmacCase {
    const char* name;
    std::string key;
    std::string data;
    const char* mac;  // hex; may be a prefix (truncated case)
};

std::string Repeat(int byte, size_t n) {
    return std::string(n, static_cast<char>(byte));
}

std::string Range(int first, int last) {
    std::string s;
    for (int b = first; b <= last; ++b) s.push_back(static_cast<char>(b));
    return s;
}

// RFC 4231, test cases 1 to 7.
const HmacCase kRfc4231[] = {
    {"1", Repeat(0x0b, 20), "Hi There",
     "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
    {"2 short key", "Jefe", "what do ya want for nothing?",
     "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
    {"3", Repeat(0xaa, 20), Repeat(0xdd, 50),
     "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
    {"4", Range(1, 25), Repeat(0xcd, 50),
     "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
    {"5 truncated", Repeat(0x0c, 20), "Test With Truncation", "a3b6167473100ee06e0c796c2955552b"},
    {"6 131-byte key", Repeat(0xaa, 131), "Test Using Larger Than Block-Size Key - Hash Key First",
     "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    {"7 131-byte key, long data", Repeat(0xaa, 131),
     "This is a test using a larger than block-size key and a larger than block-size data. The "
     "key needs to be hashed before being used by the HMAC algorithm.",
     "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
};

std::string Hmac(const std::string& key, const std::string& data, int capacity = 32) {
    char mac[64] = {};
    int len = capacity;
    TKHMACSHA::tkHMAC_SHA256(key.data(), static_cast<int>(key.size()), data.data(),
                             static_cast<int>(data.size()), mac, &len);
    return Hex(reinterpret_cast<unsigned char*>(mac), static_cast<size_t>(len > 0 ? len : 0));
}

TEST(HmacSha256, Rfc4231Cases) {
    for (const auto& c : kRfc4231) {
        const std::string mac = Hmac(c.key, c.data);
        EXPECT_EQ(mac.substr(0, std::strlen(c.mac)), c.mac) << "case " << c.name;
    }
}

TEST(HmacSha256, KeyOfExactly64BytesIsUsedAsItIs) {
    // HMAC pads short keys with zeros to 64 bytes, so the padded key must give
    // the same MAC; had it been hashed first (as a 65-byte key is), it would not.
    const std::string key = Repeat(0x0b, 20);
    const std::string padded = key + std::string(44, '\0');
    EXPECT_EQ(Hmac(padded, "Hi There"), kRfc4231[0].mac);
    EXPECT_NE(Hmac(padded + '\0', "Hi There"), kRfc4231[0].mac);
}

TEST(HmacSha256, MacLengthInAndOut) {
    struct Row {
        const char* name;
        int capacity, after, written;
    };
    const Row rows[] = {{"16 stays 16", 16, 16, 16},    {"40 becomes 32", 40, 32, 32},
                        {"32 stays 32", 32, 32, 32},    {"0 writes nothing", 0, 0, 0},
                        {"1 writes one byte", 1, 1, 1}, {"negative writes nothing", -5, -5, 0}};
    const std::string full = kRfc4231[1].mac;
    for (const auto& r : rows) {
        char mac[48];
        std::memset(mac, 0x5A, sizeof mac);
        int len = r.capacity;
        TKHMACSHA::tkHMAC_SHA256("Jefe", 4, "what do ya want for nothing?", 28, mac, &len);
        EXPECT_EQ(len, r.after) << r.name;
        EXPECT_EQ(Hex(reinterpret_cast<unsigned char*>(mac), r.written),
                  full.substr(0, 2 * r.written))
            << r.name;
        for (int i = r.written; i < 48; ++i) EXPECT_EQ(mac[i], 0x5A) << r.name << " byte " << i;
    }
}

std::string Crc64A(const std::string& s) {
    Owned<char> text(TKCRC64::tkGetCRC64StrA(reinterpret_cast<const unsigned char*>(s.data()),
                                             static_cast<unsigned>(s.size())));
    return text.get();
}

TEST(Crc64, CheckValuesAndTableEntries) {
    const std::pair<std::string, const char*> rows[] = {
        {"123456789", "e9c6d914c4b8d9ca"},
        {"", "0000000000000000"},
        {std::string(1, '\x01'), "7ad870c830358979"},  // table entry 1
        {std::string(1, '\x80'), "95ac9329ac4bc9b5"},  // entry 128, the polynomial
        {std::string(1, '\xff'), "29b7d047efec8728"},  // entry 255
        {std::string(8, '\0'), "0000000000000000"},    // no initial inversion
    };
    for (const auto& [data, crc] : rows) EXPECT_EQ(Crc64A(data), crc) << data.size() << " bytes";
    EXPECT_EQ(tk::detail::kCrc64Slices[0][0], 0u);
    const unsigned char digits[] = "123456789";
    EXPECT_EQ(Narrow(Owned<TKWCHAR>(TKCRC64::tkGetCRC64StrW(digits, 9)).get()), "e9c6d914c4b8d9ca");
    EXPECT_EQ(Narrow(Owned<TKWCHAR>(TKCRC64::tkGetCRC64StrW(nullptr, 0)).get()),
              "0000000000000000");
}

}  // namespace
