// libFuzzer target: the table code pages. The first byte picks the page,
// the rest is text in it (an exact-size heap copy, so reading past it is
// caught). Counting and writing must agree, a buffer one unit short must be
// refused, a larger one keeps what lies past the text, and the text read
// must write back to bytes that read the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/codepage.h"
#include "text/codepage_tables.h"
#include "platform/last_error.h"

using namespace tk::platform;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

std::u16string Read(unsigned int cp, const std::vector<char>& bytes) {
    int n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    Check(n >= 1 && n <= static_cast<int>(bytes.size()));  // one unit per sequence
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    Check(MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()),
                              reinterpret_cast<TKWCHAR*>(&out[0]), n) == n);
    // The converters store whole words ahead of what they have checked; a
    // larger buffer must still keep everything past the text as it was.
    std::vector<TKWCHAR> larger(static_cast<std::size_t>(n) + 40, u'#');
    Check(MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), larger.data(),
                              n + 40) == n);
    for (std::size_t k = static_cast<std::size_t>(n); k < larger.size(); ++k)
        Check(larger[k] == u'#');
    if (n > 1) {
        std::vector<TKWCHAR> shorter(static_cast<std::size_t>(n - 1));
        Check(MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  shorter.data(), n - 1) == 0);
        Check(GetLastError() == kErrorInsufficientBuffer);
    }
    return out;
}

std::vector<char> Write(unsigned int cp, const std::u16string& text) {
    const auto* src = reinterpret_cast<const TKWCHAR*>(text.data());
    int size = static_cast<int>(text.size());
    int n = WideCharToMultiByte(cp, 0, src, size, nullptr, 0);
    std::vector<char> out(static_cast<std::size_t>(n));
    int used = -1;
    Check(WideCharToMultiByte(cp, 0, src, size, out.data(), n, nullptr, &used) == n);
    Check(used == 0);  // everything read from the page writes back
    std::vector<char> larger(static_cast<std::size_t>(n) + 40, '#');
    Check(WideCharToMultiByte(cp, 0, src, size, larger.data(), n + 40) == n);
    for (std::size_t k = static_cast<std::size_t>(n); k < larger.size(); ++k)
        Check(larger[k] == '#');
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const auto& table =
        tk::platform::detail::kCodePageTables[data[0] % tk::platform::detail::kCodePageTableCount];
    std::vector<char> bytes(data + 1, data + size);
    std::u16string text = Read(table.codePage, bytes);
    std::vector<char> again = Write(table.codePage, text);
    Check(Read(table.codePage, again) == text);
    return 0;
}
