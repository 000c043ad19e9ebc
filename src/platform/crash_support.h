// The operating-system pieces of crash reporting that must also work inside
// a fatal-signal handler: the dump file, the folder the reports go to, a
// clock reading local time without the C library's locks, and the handler
// for fatal signals itself.
//
// Everything marked "signal-safe" makes system calls on caller or static
// buffers only: no heap, no locks, no stdio. What it needs from the C library
// (the zone's offset, the library's own path) is prepared at load and on
// calls from normal context.
#ifndef TAVIKFCU_PLATFORM_CRASH_SUPPORT_H
#define TAVIKFCU_PLATFORM_CRASH_SUPPORT_H

#include <signal.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>

namespace tk::platform {

// Records the library's folder and the local-time offset; runs at load.
void InitCrashSupport();

// The folder "log" beside the file that holds this library (the shared
// library, or the executable when the library is linked into it), without a
// trailing '/'; "" when it could not be found at load. Signal-safe.
const char* CrashLogFolder() noexcept;

// Creates a folder; one that exists already is fine, failures are ignored.
// Signal-safe.
void MakeFolder(const char* path) noexcept;

// A local calendar time.
struct LocalClock {
    int year;
    int month;  // 1 to 12
    int day;    // 1 to 31
    int hour;
    int minute;
    int second;
};

// Reads the zone's current offset from UTC with the C library, for
// SignalSafeLocalTime. Normal context only (the C library locks).
void RefreshLocalTimeOffset();

// The current local time from the system clock and the last offset
// RefreshLocalTimeOffset read. False when no offset was ever read.
// Signal-safe.
[[nodiscard]] bool SignalSafeLocalTime(LocalClock& out) noexcept;

// Opens path (UTF-8) for a dump: created when missing, locked exclusively,
// and only then emptied, so a writer that finds the file locked by another
// one gives up instead of mixing two dumps. -1 on any failure. Signal-safe.
[[nodiscard]] int OpenDumpFile(const char* path) noexcept;
// Writes all of data at the file's position; failures are ignored.
// Signal-safe.
void WriteDumpBytes(int fd, const void* data, std::size_t size) noexcept;
// Closes the file and with it the lock. Signal-safe.
void CloseDumpFile(int fd) noexcept;

// Called on the thread that received a fatal signal, on its alternate
// stack when it has one.
using FatalSignalHandler = void (*)(siginfo_t* info, ucontext_t* context);

// Installs handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT and gives
// the calling thread an alternate signal stack when it has none. After the
// handler returns, the previous handlers are put back and the signal takes
// its course again. Installing again replaces the handler and gives the
// calling thread its alternate stack. False when a handler could not be
// installed.
[[nodiscard]] bool InstallFatalSignalHandlers(FatalSignalHandler handler);

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_CRASH_SUPPORT_H
