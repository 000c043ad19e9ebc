// The system log, as journald and rsyslog read it: one datagram per record
// to the socket /dev/log, in the traditional syslog form
//
//     <PRI>Mmm dd hh:mm:ss identity[pid]: text
//
// with PRI = facility user (1) * 8 + severity. The record is built and sent
// here rather than with openlog/syslog, which would change the identity the
// host program itself logs under.
#ifndef TAVIKFCU_PLATFORM_SYSTEM_LOG_H
#define TAVIKFCU_PLATFORM_SYSTEM_LOG_H

#include <cstddef>

namespace tk::platform {

// The syslog severities the library uses.
enum class LogSeverity : int { kError = 3, kWarning = 4, kInfo = 6 };

// The longest text, in UTF-8 bytes, one record carries: with its header the
// datagram stays within the 8 KiB every syslog reader accepts.
constexpr std::size_t kMaxLogTextBytes = 8000;

enum class LogResult {
    kSent,
    kNoSystemLog,  // no socket, or nobody reads it: the caller may keep the record itself
    kFailed,       // the system log is there but did not take the record
};

// Sends one record of text (UTF-8, at most kMaxLogTextBytes; longer text is
// cut). Never blocks: a full socket queue gives kFailed.
[[nodiscard]] LogResult SendSystemLog(LogSeverity severity, const char* identity, const char* text,
                                      std::size_t length);

// Appends the record as one line to the file at path (created when
// missing): "YYYY-MM-DD hh:mm:ss identity[pid] severity: text", line breaks
// in text turned into spaces. Failures are ignored.
void AppendLogLine(const char* path, LogSeverity severity, const char* identity, const char* text,
                   std::size_t length);

namespace detail {
// Points the writer at another socket path (tests bind their own); null
// restores /dev/log. path must outlive its use.
void SetSystemLogSocketPath(const char* path);
}  // namespace detail

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_SYSTEM_LOG_H
