// Length-prefixed ANSI string records on a binary stream:
// a signed 32-bit little-endian byte count (text plus its NUL), the text in
// the ANSI code page, one NUL byte.
#include <cstdint>

#include "memory/scratch_pools.h"
#include "string/temp_strings.h"
#include "text/wide_crt.h"
#include "tavikfcu/TKString.h"

namespace {

// Counts a reader accepts; a record is at most this long, NUL included.
constexpr std::int32_t kMaxRecordBytes = 10240;

// Releases a scratch block when it goes out of scope.
struct ScratchGuard {
    tk::detail::CTempData data;
    ~ScratchGuard() { tk::detail::ReleaseScratch(data); }
};

}  // namespace

namespace TKStringUtils {

void WriteString(FILE* file, const CTKString& s) {
    if (!file) return;
    CTempAnsiString ansi(s);
    const char* text = ansi.Text() ? ansi.Text() : "";
    const std::uint32_t count = static_cast<std::uint32_t>(tk::platform::lstrlenA(text)) + 1;
    const unsigned char prefix[4] = {
        static_cast<unsigned char>(count), static_cast<unsigned char>(count >> 8),
        static_cast<unsigned char>(count >> 16), static_cast<unsigned char>(count >> 24)};
    std::fwrite(prefix, 1, sizeof(prefix), file);
    std::fwrite(text, 1, count, file);
}

bool ReadString(FILE* file, CTKString& s) {
    if (!file) return false;
    unsigned char prefix[4];
    if (std::fread(prefix, 1, sizeof(prefix), file) != sizeof(prefix)) return false;
    const auto count = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(prefix[0]) | static_cast<std::uint32_t>(prefix[1]) << 8 |
        static_cast<std::uint32_t>(prefix[2]) << 16 | static_cast<std::uint32_t>(prefix[3]) << 24);
    if (count < 1 || count > kMaxRecordBytes) return false;

    // One byte more than the record, so a record without its NUL still
    // reads as all of its count bytes and nothing beyond.
    ScratchGuard scratch;
    char* bytes = static_cast<char*>(tk::detail::ObtainScratch(scratch.data, count + 1));
    if (std::fread(bytes, 1, static_cast<std::size_t>(count), file) !=
        static_cast<std::size_t>(count))
        return false;
    bytes[count] = 0;
    s = bytes;
    return true;
}

}  // namespace TKStringUtils
