// Byte searches that the C library does faster than a plain loop, where it
// has them.
#ifndef TAVIKFCU_PLATFORM_BYTE_SEARCH_H
#define TAVIKFCU_PLATFORM_BYTE_SEARCH_H

#include <cstring>

#include "platform/features.h"

namespace tk::platform {

// The first c or terminating zero at or after p.
inline char* FindByteOrEnd(char* p, char c) {
#if TK_HAVE_STRCHRNUL
    return strchrnul(p, c);
#else
    while (*p != c && *p != 0) ++p;
    return p;
#endif
}

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_BYTE_SEARCH_H
