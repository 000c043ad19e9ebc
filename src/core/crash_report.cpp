// TKErrorUtils' crash dumps and system log: paths, names and text. The
// dump-writing path is async-signal-safe: texts are converted into stack
// buffers by the code below, and the platform layer does the rest with
// system calls.
#include <errno.h>
#include <limits.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "core/crash_report.h"
#include "platform/crash_support.h"
#include "platform/minidump_writer.h"
#include "platform/system_log.h"
#include "tavikfcu/TKCore.h"

namespace tk::detail {

void InitCrashReports() {
    platform::InitCrashSupport();
    platform::PrepareMinidumpWriter();
}

}  // namespace tk::detail

namespace {

constexpr char kNullPointersText[] = "_EXCEPTION_POINTERS is null";
static_assert(sizeof kNullPointersText - 1 == 27);
// How the library's formatter renders a null %s.
constexpr char kNullPrefix[] = "(null)";
constexpr char kIdentity[] = "Tavik";

// Text built in a caller's fixed buffer; anything that does not fit marks
// it overflowed instead of writing past the end.
class TextBuffer {
  public:
    TextBuffer(char* buffer, std::size_t capacity) : m_buf(buffer), m_capacity(capacity) {
        m_buf[0] = '\0';
    }

    bool Overflowed() const { return m_overflow; }
    const char* Text() const { return m_buf; }
    std::size_t Length() const { return m_length; }

    void Append(const char* text, std::size_t length) {
        if (m_overflow || length >= m_capacity - m_length) {
            m_overflow = true;
            return;
        }
        std::memcpy(m_buf + m_length, text, length);
        m_length += length;
        m_buf[m_length] = '\0';
    }
    void Append(const char* text) { Append(text, std::strlen(text)); }

    void AppendDecimal(unsigned value) {
        char digits[10];
        std::size_t n = 0;
        do {
            digits[sizeof digits - ++n] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value);
        Append(digits + sizeof digits - n, n);
    }

    // Upper-case hex without leading zeros, as %X.
    void AppendHex(std::uint32_t value) {
        char digits[8];
        std::size_t n = 0;
        do {
            digits[sizeof digits - ++n] = "0123456789ABCDEF"[value & 0xf];
            value >>= 4;
        } while (value);
        Append(digits + sizeof digits - n, n);
    }

    // Appends UTF-16 text as UTF-8; a lone surrogate becomes U+FFFD. With
    // pathSeparators a '\' is written as '/'. With cutToFit the text stops
    // before the first character that does not fit (never inside one);
    // otherwise that overflows the buffer.
    void AppendUtf16(const TKWCHAR* text, bool pathSeparators, bool cutToFit) {
        for (const TKWCHAR* p = text; *p && !m_overflow; ++p) {
            std::uint32_t c = *p;
            if (c >= 0xd800 && c < 0xdc00 && p[1] >= 0xdc00 && p[1] < 0xe000) {
                c = 0x10000 + ((c - 0xd800) << 10) + (p[1] - 0xdc00);
                ++p;
            } else if (c >= 0xd800 && c < 0xe000) {
                c = 0xfffd;
            }
            if (pathSeparators && c == '\\') c = '/';
            char bytes[4];
            std::size_t n;
            if (c < 0x80) {
                bytes[0] = static_cast<char>(c);
                n = 1;
            } else if (c < 0x800) {
                bytes[0] = static_cast<char>(0xc0 | c >> 6);
                bytes[1] = static_cast<char>(0x80 | (c & 0x3f));
                n = 2;
            } else if (c < 0x10000) {
                bytes[0] = static_cast<char>(0xe0 | c >> 12);
                bytes[1] = static_cast<char>(0x80 | (c >> 6 & 0x3f));
                bytes[2] = static_cast<char>(0x80 | (c & 0x3f));
                n = 3;
            } else {
                bytes[0] = static_cast<char>(0xf0 | c >> 18);
                bytes[1] = static_cast<char>(0x80 | (c >> 12 & 0x3f));
                bytes[2] = static_cast<char>(0x80 | (c >> 6 & 0x3f));
                bytes[3] = static_cast<char>(0x80 | (c & 0x3f));
                n = 4;
            }
            if (cutToFit && n >= m_capacity - m_length) return;
            Append(bytes, n);
        }
    }

  private:
    char* m_buf;
    std::size_t m_capacity;
    std::size_t m_length = 0;
    bool m_overflow = false;
};

// Saves errno on entry and puts it back on exit: a signal handler that
// calls the dump functions must not disturb the interrupted code's errno.
class ErrnoKeeper {
  public:
    ErrnoKeeper() : m_saved(errno) {}
    ~ErrnoKeeper() { errno = m_saved; }
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

  private:
    int m_saved;
};

void DumpToNativePath(_EXCEPTION_POINTERS* pointers, const char* path) {
    int fd = tk::platform::OpenDumpFile(path);
    if (fd < 0) return;
    if (pointers)
        tk::platform::WriteMinidump(fd, pointers->ExceptionRecord, pointers->ContextRecord);
    else
        tk::platform::WriteDumpBytes(fd, kNullPointersText, sizeof kNullPointersText - 1);
    tk::platform::CloseDumpFile(fd);
}

// The prefix InstallCrashHandler's handler dumps under.
constexpr std::size_t kMaxHandlerPrefix = 200;
TKWCHAR g_handlerPrefix[kMaxHandlerPrefix + 1];
bool g_handlerPrefixIsNull = true;

void DumpOnFatalSignal(siginfo_t* info, ucontext_t* context) {
    _EXCEPTION_POINTERS pointers{info, context};
    TKErrorUtils::DbgDumpErrorFileEx(&pointers, g_handlerPrefixIsNull ? nullptr : g_handlerPrefix);
}

}  // namespace

namespace TKErrorUtils {

void DbgDumpErrorFile(_EXCEPTION_POINTERS* pointers, const TKWCHAR* path) {
    if (!path) return;
    ErrnoKeeper keeper;
    char buffer[PATH_MAX];
    TextBuffer native(buffer, sizeof buffer);
    native.AppendUtf16(path, true, false);
    if (native.Overflowed() || native.Length() == 0) return;
    DumpToNativePath(pointers, native.Text());
}

void DbgDumpErrorFileEx(_EXCEPTION_POINTERS* pointers, const TKWCHAR* prefix) {
    ErrnoKeeper keeper;
    // Exception pointers mean a signal handler may be running: only then is
    // the offset read at an earlier call trusted instead of refreshed.
    if (!pointers) tk::platform::RefreshLocalTimeOffset();
    const char* folder = tk::platform::CrashLogFolder();
    if (!*folder) return;
    tk::platform::MakeFolder(folder);

    char buffer[PATH_MAX];
    TextBuffer path(buffer, sizeof buffer);
    path.Append(folder);
    path.Append("/");
    tk::platform::LocalClock now{};
    if (tk::platform::SignalSafeLocalTime(now)) {
        if (prefix)
            path.AppendUtf16(prefix, true, false);
        else
            path.Append(kNullPrefix);
        for (int part : {now.month, now.day, now.hour, now.minute}) {
            path.AppendDecimal(static_cast<unsigned>(part));
            path.Append("_");
        }
        path.AppendDecimal(static_cast<unsigned>(now.second));
        path.Append("(0x");
        path.AppendHex(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointers)));
        path.Append(").dmp");
    } else {
        path.Append("error.dmp");
    }
    if (path.Overflowed()) return;
    DumpToNativePath(pointers, path.Text());
}

void WriteWindowsLog(unsigned short type, const TKWCHAR* text) {
    using tk::platform::LogSeverity;
    tk::platform::RefreshLocalTimeOffset();  // a normal-context call: keep the offset current
    LogSeverity severity = type == EVENTLOG_ERROR_TYPE     ? LogSeverity::kError
                           : type == EVENTLOG_WARNING_TYPE ? LogSeverity::kWarning
                                                           : LogSeverity::kInfo;
    char buffer[tk::platform::kMaxLogTextBytes + 1];
    TextBuffer utf8(buffer, sizeof buffer);
    if (text) utf8.AppendUtf16(text, false, true);
    tk::platform::LogResult sent =
        tk::platform::SendSystemLog(severity, kIdentity, utf8.Text(), utf8.Length());
    if (sent != tk::platform::LogResult::kNoSystemLog) return;

    const char* folder = tk::platform::CrashLogFolder();
    if (!*folder) return;
    tk::platform::MakeFolder(folder);
    char pathBuffer[PATH_MAX];
    TextBuffer path(pathBuffer, sizeof pathBuffer);
    path.Append(folder);
    path.Append("/events.log");
    if (path.Overflowed()) return;
    tk::platform::AppendLogLine(path.Text(), severity, kIdentity, utf8.Text(), utf8.Length());
}

bool InstallCrashHandler(const TKWCHAR* prefix) {
    std::size_t length = 0;
    if (prefix)
        while (prefix[length]) ++length;
    if (length > kMaxHandlerPrefix) return false;
    // A crash on another thread while the prefix changes may read a mix of
    // the two, but never past the array: its last unit stays 0.
    if (prefix) std::memcpy(g_handlerPrefix, prefix, length * sizeof(TKWCHAR));
    g_handlerPrefix[length] = 0;
    g_handlerPrefixIsNull = prefix == nullptr;
    return tk::platform::InstallFatalSignalHandlers(&DumpOnFatalSignal);
}

}  // namespace TKErrorUtils
