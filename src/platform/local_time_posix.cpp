// Clock and local time on POSIX: time(), localtime_r() and mktime().
#include "platform/local_time.h"

#include <errno.h>

static_assert(sizeof(std::time_t) >= 8, "time_t must be 64-bit to reach past 2038");

namespace tk::platform {

std::int64_t CurrentTime() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool ToLocalTime(std::int64_t t, std::tm& out) {
    std::time_t value = static_cast<std::time_t>(t);
    return localtime_r(&value, &out) != nullptr;
}

bool FromLocalTime(std::tm& local, std::int64_t& out) {
    // mktime's -1 is also one second before the epoch; errno tells them apart.
    errno = 0;
    std::time_t t = std::mktime(&local);
    if (t == static_cast<std::time_t>(-1) && errno != 0) return false;
    out = static_cast<std::int64_t>(t);
    return true;
}

}  // namespace tk::platform
