// Code-page conversions into caller buffers (TKStringUtils::*2*).
#include <climits>
#include <cstring>

#include "text/codepage.h"
#include "tavikfcu/TKString.h"

namespace {

using tk::platform::kCodePageAnsi;
using tk::platform::kCodePageUtf8;

// The shared size and terminator rules. convert(out, room) is the platform
// conversion of the whole source, terminator included.
//
// A buffer that is too small returns size + 1 and keeps its terminator
// inside: the conversion is run again into size - 1 units of a zeroed
// buffer, so the text ends after the last whole character that fits (never
// inside a multi-byte sequence or a surrogate pair).
template <typename Unit, typename Convert>
int ConvertInto(bool haveSource, Unit* buffer, int size, Convert convert) {
    if (size == 0 && buffer) return 0;
    if (!haveSource) {
        if (buffer && size > 0) buffer[0] = 0;
        return 0;
    }
    // A null buffer with a nonzero size is refused by the conversion itself.
    int r = convert(buffer, size);
    if (r > 0) {
        if (buffer) buffer[r - 1] = 0;
        return r;
    }
    if (!buffer || size < 1) return 0;
    std::memset(buffer, 0, static_cast<std::size_t>(size) * sizeof(Unit));
    if (size > 1) (void)convert(buffer, size - 1);  // fails again: only whole characters
    buffer[size - 1] = 0;
    return size < INT_MAX ? size + 1 : INT_MAX;  // no int is above INT_MAX
}

}  // namespace

namespace TKStringUtils {

int Unicode2Ansi(const TKWCHAR* src, char* buffer, int size) {
    return ConvertInto(src != nullptr, buffer, size, [&](char* out, int room) {
        return tk::platform::WideCharToMultiByte(kCodePageAnsi, 0, src, -1, out, room);
    });
}

int Ansi2Unicode(const char* src, TKWCHAR* buffer, int size) {
    return ConvertInto(src != nullptr, buffer, size, [&](TKWCHAR* out, int room) {
        return tk::platform::MultiByteToWideChar(kCodePageAnsi, 0, src, -1, out, room);
    });
}

int Unicode2UTF8(const TKWCHAR* src, char* buffer, int size) {
    return ConvertInto(src != nullptr, buffer, size, [&](char* out, int room) {
        return tk::platform::WideCharToMultiByte(kCodePageUtf8, 0, src, -1, out, room);
    });
}

int UTF82Unicode(const char* src, TKWCHAR* buffer, int size) {
    return ConvertInto(src != nullptr, buffer, size, [&](TKWCHAR* out, int room) {
        return tk::platform::MultiByteToWideChar(kCodePageUtf8, 0, src, -1, out, room);
    });
}

}  // namespace TKStringUtils
