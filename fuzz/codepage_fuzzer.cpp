// libFuzzer target: the table code pages. The first byte picks the page,
// the rest is text in it (an exact-size heap copy, so reading past it is
// caught). Counting and writing must agree, a buffer one unit short must be
// refused, and the text read must write back to bytes that read the same;
// NUL-terminated, the text must convert as it does with its length given.
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
    return out;
}

// NUL-terminated text is read in blocks: repeated past a block or two so
// that their ends fall inside the input's sequences, it must read and write
// as it does with its length given.
void CheckTerminated(unsigned int cp, const std::vector<char>& bytes) {
    std::string text;
    for (char c : bytes)
        if (c) text += c;
    if (text.empty()) return;
    while (text.size() < 40000) text += text;
    std::vector<char> whole(text.c_str(), text.c_str() + text.size() + 1);  // with its NUL
    std::u16string wide = Read(cp, whole);
    std::u16string units(wide.size(), u'#');
    int n = static_cast<int>(wide.size());
    Check(MultiByteToWideChar(cp, 0, whole.data(), -1, nullptr, 0) == n);
    Check(MultiByteToWideChar(cp, 0, whole.data(), -1, reinterpret_cast<TKWCHAR*>(&units[0]), n) ==
          n);
    Check(units == wide);
    std::vector<char> narrow = Write(cp, wide);
    std::vector<char> back(narrow.size(), '#');
    int size = static_cast<int>(back.size());
    Check(WideCharToMultiByte(cp, 0, reinterpret_cast<const TKWCHAR*>(wide.c_str()), -1, nullptr,
                              0) == size);
    Check(WideCharToMultiByte(cp, 0, reinterpret_cast<const TKWCHAR*>(wide.c_str()), -1,
                              back.data(), size) == size);
    Check(back == narrow);
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
    CheckTerminated(table.codePage, bytes);
    return 0;
}
