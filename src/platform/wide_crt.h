// UTF-16 versions of the C-runtime and Kernel32 text helpers the library
// relies on. The C library's wcs* functions work on 32-bit wchar_t on Linux,
// so none of them may touch TKWCHAR text; these stand in for them.
#ifndef TAVIKFCU_PLATFORM_WIDE_CRT_H
#define TAVIKFCU_PLATFORM_WIDE_CRT_H

#include <cstring>

#include "tavikfcu/TKTypes.h"

namespace tk::platform {

// Units up to the first NUL; 0 for null.
inline int lstrlenW(const TKWCHAR* s) {
    if (!s) return 0;
    const TKWCHAR* p = s;
    while (*p) ++p;
    return static_cast<int>(p - s);
}

// Bytes up to the first NUL; 0 for null.
inline int lstrlenA(const char* s) {
    return s ? static_cast<int>(std::strlen(s)) : 0;
}

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_WIDE_CRT_H
