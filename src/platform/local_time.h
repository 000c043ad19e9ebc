// The system clock and the C library's local-time conversions. The zone is
// whatever the C library's TZ setting says; callers that change TZ call
// tzset() afterwards, as with any C program.
#ifndef TAVIKFCU_PLATFORM_LOCAL_TIME_H
#define TAVIKFCU_PLATFORM_LOCAL_TIME_H

#include <cstdint>
#include <ctime>

namespace tk::platform {

// Seconds since 1970-01-01 00:00:00 UTC.
std::int64_t CurrentTime();

// Breaks t down as local time (thread-safe). False when the C library
// cannot represent it.
[[nodiscard]] bool ToLocalTime(std::int64_t t, std::tm& out);

// The instant of a broken-down local time; out-of-range fields are
// normalised (day 31 of a 30-day month is the 1st of the next) and
// tm_isdst -1 lets the zone decide. False when it cannot be converted.
[[nodiscard]] bool FromLocalTime(std::tm& local, std::int64_t& out);

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_LOCAL_TIME_H
