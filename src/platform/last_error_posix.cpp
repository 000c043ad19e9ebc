// The thread's last error on POSIX: a thread-local of the library's own (the OS
// keeps none in Windows' sense).
#include "platform/last_error.h"

namespace tk::platform {

namespace {
thread_local std::uint32_t t_lastError = kErrorSuccess;
}

std::uint32_t GetLastError() {
    return t_lastError;
}
void SetLastError(std::uint32_t code) {
    t_lastError = code;
}

}  // namespace tk::platform
