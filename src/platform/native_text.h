// Text in the operating system's own encoding. On POSIX the OS takes UTF-8;
// this is the one place where the library's UTF-16 becomes what the OS reads
// (paths, debugger lines), so the OS layer needs nothing from the text
// runtime above it.
#ifndef TAVIKFCU_PLATFORM_NATIVE_TEXT_H
#define TAVIKFCU_PLATFORM_NATIVE_TEXT_H

#include <cstddef>
#include <string>

#include "tavikfcu/TKTypes.h"

namespace tk::platform {

// The first units of text as UTF-8. A surrogate pair becomes one four-byte
// sequence; a lone surrogate becomes U+FFFD, as the UTF-8 code page does.
std::string NativeText(const TKWCHAR* text, std::size_t units);

// The number of units before text's terminator; null counts as 0.
std::size_t NativeTextLength(const TKWCHAR* text);

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_NATIVE_TEXT_H
