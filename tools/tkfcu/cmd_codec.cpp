// tkfcu b64 / b32 / md5 / crc64 / hmac-sha256 over the library's codecs.
//
// The library's codecs and digests are one-shot calls over a whole buffer.
// The codecs stream anyway, one whole group (3 or 5 bytes, 4 or 8
// characters) at a time. CRC-64 streams through the combination rule of
// linear checksums (below). MD5 and HMAC need the input at once: files are
// mapped, other inputs read into memory, within the calls' length limits.
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <new>

#include "sys.h"
#include "tkfcu.h"

namespace tkfcu {

namespace {

constexpr std::size_t kChunk = 3 * 5 * 8 * 1024;  // a multiple of every group size

// ---- Base64 and Base32 -------------------------------------------------------------

struct Codec {
    const char* name;
    // A group of bytes (3 or 5) encodes to a whole group of characters, so
    // groups encode and decode independently.
    std::size_t charsPerGroup;
    char* (*encode)(const unsigned char*, unsigned int);
    int (*decode)(const char*, unsigned int, unsigned char**);
};

const Codec kBase64 = {"Base64", 4, TKBase64::tkEncodeBase64A, TKBase64::tkDecodeBase64A};
const Codec kBase32 = {"Base32", 8, TKBase32::tkEncodeBase32A, TKBase32::tkDecodeBase32A};

void Encode(const Codec& codec) {
    Input input("-");
    static unsigned char chunk[kChunk];
    bool wrote = false;
    for (;;) {
        std::size_t n = input.ReadFull(chunk, sizeof chunk);
        if (n == 0) break;
        char* text = codec.encode(chunk, static_cast<unsigned int>(n));
        if (!text) throw std::bad_alloc();
        Out(text, std::strlen(text));
        tkFreeMem(text);
        wrote = true;
        if (n < sizeof chunk) break;  // a short chunk was the last; its padding ends the text
    }
    if (wrote) Out("\n");
}

// Decodes standard input, dropping line breaks. The library stops at the
// first "=", so the stream stops there too.
void Decode(const Codec& codec) {
    Input input("-");
    static char raw[kChunk];
    static char text[kChunk + 8];
    std::size_t held = 0;  // characters waiting in text
    for (;;) {
        std::size_t n = input.Read(raw, sizeof raw);
        bool last = n == 0;
        for (std::size_t i = 0; i < n; ++i)
            if (raw[i] != '\n' && raw[i] != '\r') text[held++] = raw[i];
        bool padded = std::memchr(text, '=', held) != nullptr;
        last = last || padded;
        std::size_t take = last ? held : held - held % codec.charsPerGroup;
        if (take) {
            unsigned char* bytes = nullptr;
            int count = codec.decode(text, static_cast<unsigned int>(take), &bytes);
            if (!bytes) Fail("standard input is not valid " + std::string(codec.name) + " text");
            Out(bytes, static_cast<std::size_t>(count));
            tkFreeMem(bytes);
            std::memmove(text, text + take, held - take);
            held -= take;
        }
        if (last) break;
    }
}

// ---- digests -------------------------------------------------------------------------

void PrintSum(const char* hex, const std::string& name) {
    Out(hex);
    Out("  ");
    Out(name);
    Out("\n");
}

// Runs sum over each named input (standard input when none), printing a line
// for each. A file that cannot be read is reported and the others still run.
int ForEachInput(const Args& args, void (*sum)(Input&)) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < args.Count(); ++i) names.push_back(args[i]);
    if (names.empty()) names.push_back("-");
    int status = kExitOk;
    for (const std::string& name : names) {
        try {
            Input input(name);
            sum(input);
        } catch (const Failure& f) {
            FlushOut();
            std::fprintf(stderr, "tkfcu: %s\n", f.message.c_str());
            status = kExitFailed;
        }
    }
    return status;
}

void Md5(Input& input) {
    WholeInput whole(input, 0xFFFFFFFFu);  // the call takes a 32-bit length
    char hex[33];
    TKMD5::tkGetMD5StrLowerA(whole.Data(), static_cast<unsigned int>(whole.Size()), hex);
    PrintSum(hex, input.Name());
}

// CRC-64 of consecutive blocks. With no initial value and no final XOR the
// CRC is linear over GF(2): crc(A B) = crc(A) * x^(8|B|) mod P  xor  crc(B).
// Polynomials are 64-bit words in the reflected order the CRC uses (bit 63 is
// x^0), so the product below is the bit-serial multiply of that order.
constexpr std::uint64_t kReflectedPoly = 0x95AC9329AC4BC9B5;  // 0xAD93D23594C935A9 reflected

// a * b mod P; a must not be 0.
std::uint64_t MultiplyModP(std::uint64_t a, std::uint64_t b) {
    std::uint64_t m = std::uint64_t(1) << 63;
    std::uint64_t product = 0;
    for (;;) {
        if (a & m) {
            product ^= b;
            if ((a & (m - 1)) == 0) break;
        }
        m >>= 1;
        b = (b & 1) ? (b >> 1) ^ kReflectedPoly : b >> 1;
    }
    return product;
}

// x^(8 * bytes) mod P, by squaring.
std::uint64_t ShiftForBytes(std::uint64_t bytes) {
    std::uint64_t result = std::uint64_t(1) << 63;        // x^0
    std::uint64_t square = std::uint64_t(1) << (63 - 8);  // x^8
    for (; bytes; bytes >>= 1) {
        if (bytes & 1) result = MultiplyModP(square, result);
        square = MultiplyModP(square, square);
    }
    return result;
}

std::uint64_t LibraryCrc(const unsigned char* data, std::size_t size) {
    char* hex = TKCRC64::tkGetCRC64StrA(data, static_cast<unsigned int>(size));
    if (!hex) throw std::bad_alloc();
    std::uint64_t crc = std::strtoull(hex, nullptr, 16);
    tkFreeMem(hex);
    return crc;
}

void Crc64(Input& input) {
    static unsigned char chunk[1 << 20];
    const std::uint64_t fullShift = ShiftForBytes(sizeof chunk);
    std::uint64_t crc = 0;
    for (;;) {
        std::size_t n = input.ReadFull(chunk, sizeof chunk);
        if (n == 0) break;
        std::uint64_t shift = n == sizeof chunk ? fullShift : ShiftForBytes(n);
        crc = MultiplyModP(shift, crc) ^ LibraryCrc(chunk, n);
        if (n < sizeof chunk) break;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, crc);
    PrintSum(hex, input.Name());
}

}  // namespace

int RunBase64(const Args& args) {
    args.Expect(0, 0);
    args.Has("decode") ? Decode(kBase64) : Encode(kBase64);
    return kExitOk;
}

int RunBase32(const Args& args) {
    args.Expect(0, 0);
    args.Has("decode") ? Decode(kBase32) : Encode(kBase32);
    return kExitOk;
}

int RunMd5(const Args& args) {
    return ForEachInput(args, Md5);
}

int RunCrc64(const Args& args) {
    return ForEachInput(args, Crc64);
}

int RunHmacSha256(const Args& args) {
    args.Expect(0, 1);
    const std::string* key = args.Value("key");
    if (!key) BadUsage("missing --key");
    if (key->size() > 0x7FFFFFFF) Fail("the key is longer than 2 GiB");
    Input input(args.Count() ? args[0] : "-");
    WholeInput whole(input, 0x7FFFFFFF);  // the call takes an int length
    char mac[32];
    int macLength = sizeof mac;
    TKHMACSHA::tkHMAC_SHA256(key->data(), static_cast<int>(key->size()), whole.Data(),
                             static_cast<int>(whole.Size()), mac, &macLength);
    char hex[65];
    for (int i = 0; i < macLength; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", static_cast<unsigned char>(mac[i]));
    hex[2 * macLength] = '\0';
    PrintSum(hex, input.Name());
    return kExitOk;
}

}  // namespace tkfcu
