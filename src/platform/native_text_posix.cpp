// UTF-16 to UTF-8 for the OS's calls.
#include "platform/native_text.h"

namespace tk::platform {

std::size_t NativeTextLength(const TKWCHAR* text) {
    std::size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

std::string NativeText(const TKWCHAR* text, std::size_t units) {
    std::string out;
    // At most three bytes per unit: a pair's four bytes come from two units.
    out.reserve(units * 3);
    for (std::size_t i = 0; i < units; ++i) {
        char32_t c = static_cast<char16_t>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            char32_t next = i + 1 < units ? static_cast<char16_t>(text[i + 1]) : 0;
            if (c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
                char32_t cp = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                out += static_cast<char>(0xF0 | (cp >> 18));
                out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (cp & 0x3F));
                ++i;
                continue;
            }
            c = 0xFFFD;
        }
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

}  // namespace tk::platform
