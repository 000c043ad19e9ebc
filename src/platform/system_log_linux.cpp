// The system log on Linux: one datagram to /dev/log, or a line in a file.
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/system_log.h"

namespace tk::platform {

namespace {

constexpr int kFacilityUser = 1;
constexpr char kDefaultSocket[] = "/dev/log";
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::atomic<const char*> g_socketPath{kDefaultSocket};

// Room for the header: "<14>Dec  6 01:02:03 " plus the identity and pid.
constexpr std::size_t kHeaderRoom = 160;

const char* SeverityName(LogSeverity severity) {
    switch (severity) {
        case LogSeverity::kError:
            return "error";
        case LogSeverity::kWarning:
            return "warning";
        case LogSeverity::kInfo:
            break;
    }
    return "info";
}

struct tm LocalNow() {
    time_t now = time(nullptr);
    struct tm local {};
    if (!localtime_r(&now, &local)) gmtime_r(&now, &local);
    return local;
}

}  // namespace

LogResult SendSystemLog(LogSeverity severity, const char* identity, const char* text,
                        std::size_t length) {
    if (length > kMaxLogTextBytes) length = kMaxLogTextBytes;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const char* path = g_socketPath.load(std::memory_order_acquire);
    if (std::strlen(path) >= sizeof address.sun_path) return LogResult::kFailed;
    std::strcpy(address.sun_path, path);

    char record[kHeaderRoom + kMaxLogTextBytes];
    struct tm local = LocalNow();
    // RFC 3164 pads the day with a space, not a zero.
    int header = std::snprintf(record, kHeaderRoom, "<%d>%s %2d %02d:%02d:%02d %.64s[%d]: ",
                               kFacilityUser * 8 + static_cast<int>(severity),
                               kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec, identity, static_cast<int>(getpid()));
    if (header <= 0 || static_cast<std::size_t>(header) >= kHeaderRoom) return LogResult::kFailed;
    std::memcpy(record + header, text, length);

    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return LogResult::kFailed;
    ssize_t sent;
    do {
        sent = sendto(fd, record, static_cast<std::size_t>(header) + length,
                      MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
                      sizeof address);
    } while (sent < 0 && errno == EINTR);
    int error = errno;
    close(fd);
    if (sent >= 0) return LogResult::kSent;
    // No socket file, a stale one nobody reads, or something else there.
    if (error == ENOENT || error == ECONNREFUSED || error == ENOTSOCK || error == EPROTOTYPE)
        return LogResult::kNoSystemLog;
    return LogResult::kFailed;
}

void AppendLogLine(const char* path, LogSeverity severity, const char* identity, const char* text,
                   std::size_t length) {
    if (length > kMaxLogTextBytes) length = kMaxLogTextBytes;
    char line[kHeaderRoom + kMaxLogTextBytes + 1];
    struct tm local = LocalNow();
    int header = std::snprintf(
        line, kHeaderRoom, "%04d-%02d-%02d %02d:%02d:%02d %.64s[%d] %s: ", local.tm_year + 1900,
        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, identity,
        static_cast<int>(getpid()), SeverityName(severity));
    if (header <= 0 || static_cast<std::size_t>(header) >= kHeaderRoom) return;
    char* out = line + header;
    for (std::size_t i = 0; i < length; ++i)
        *out++ = text[i] == '\n' || text[i] == '\r' ? ' ' : text[i];
    *out++ = '\n';
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) return;
    // One write per line: appends from several processes do not interleave.
    ssize_t written;
    do {
        written = write(fd, line, static_cast<std::size_t>(out - line));
    } while (written < 0 && errno == EINTR);
    close(fd);
}

namespace detail {
void SetSystemLogSocketPath(const char* path) {
    g_socketPath.store(path ? path : kDefaultSocket, std::memory_order_release);
}
}  // namespace detail

}  // namespace tk::platform
