// The calling thread's last-error code, as the platform's GetLastError keeps
// it. Code-page conversions and file functions set it when they fail.
#ifndef TAVIKFCU_PLATFORM_LAST_ERROR_H
#define TAVIKFCU_PLATFORM_LAST_ERROR_H

#include <cstdint>

namespace tk::platform {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorNoUnicodeTranslation = 1113;

std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_LAST_ERROR_H
