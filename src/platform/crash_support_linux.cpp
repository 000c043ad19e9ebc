// Crash-report support on Linux: the dump file with its lock, the report
// folder found with dladdr at load, a signal-safe local clock and the
// fatal-signal handler on an alternate stack.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/crash_support.h"

namespace tk::platform {

namespace {

// ---- the report folder ----------------------------------------------------------

char g_logFolder[PATH_MAX];

// The real path of the file this code was loaded from. dladdr names the
// shared library; for a program that links the library in, it gives
// argv[0], which may be relative or bare, so the executable is read from
// /proc instead.
bool OwnFilePath(char (&path)[PATH_MAX]) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&InitCrashSupport), &info) && info.dli_fname &&
        info.dli_fname[0] == '/') {
        struct stat own {
        }, exe{};
        bool isExecutable = stat("/proc/self/exe", &exe) == 0 && stat(info.dli_fname, &own) == 0 &&
                            own.st_dev == exe.st_dev && own.st_ino == exe.st_ino;
        if (!isExecutable && realpath(info.dli_fname, path)) return true;
    }
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = '\0';
    return true;
}

void RecordLogFolder() {
    char path[PATH_MAX];
    if (!OwnFilePath(path)) return;
    char* slash = std::strrchr(path, '/');
    if (!slash) return;
    std::size_t folderLength = static_cast<std::size_t>(slash - path) + 1;
    if (folderLength + sizeof "log" > sizeof g_logFolder) return;
    std::memcpy(g_logFolder, path, folderLength);
    std::memcpy(g_logFolder + folderLength, "log", sizeof "log");
}

// ---- the local clock ------------------------------------------------------------

// Seconds east of UTC, as the C library last reported them.
std::atomic<long> g_utcOffset{0};
std::atomic<bool> g_utcOffsetKnown{false};
// Signal handlers read these: they must not hide a lock.
static_assert(std::atomic<long>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// The proleptic Gregorian date of a day count from 1970-01-01.
void CivilFromDays(std::int64_t days, LocalClock& out) {
    days += 719468;
    std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    std::int64_t dayOfEra = days - era * 146097;
    std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // March is 0
    out.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    out.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    out.year = static_cast<int>(yearOfEra + era * 400 + (out.month <= 2 ? 1 : 0));
}

// ---- fatal signals --------------------------------------------------------------

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];
// Room for the dump writer (about 18 KiB of frames) with a wide margin.
constexpr std::size_t kAltStackSize = 128 * 1024;
constexpr std::size_t kMinAltStackSize = 32 * 1024;

struct sigaction g_previous[kSignalCount];
std::atomic<FatalSignalHandler> g_handler{nullptr};
std::atomic<bool> g_installed{false};

void RestorePreviousHandlers() {
    if (!g_installed.exchange(false)) return;
    for (std::size_t i = 0; i < kSignalCount; ++i)
        sigaction(kFatalSignals[i], &g_previous[i], nullptr);
}

void OnFatalSignal(int signal, siginfo_t* info, void* context) {
    int savedErrno = errno;
    if (FatalSignalHandler handler = g_handler.load(std::memory_order_acquire))
        handler(info, static_cast<ucontext_t*>(context));
    RestorePreviousHandlers();
    // A fault comes back by itself when the instruction runs again, now to
    // the previous handler with its true information. A signal that was
    // sent (abort, kill) is sent again; it stays blocked, hence pending,
    // until this handler returns.
    if (info->si_code <= 0 || signal == SIGABRT)
        syscall(SYS_tgkill, getpid(), static_cast<pid_t>(syscall(SYS_gettid)), signal);
    errno = savedErrno;
}

// Gives the calling thread an alternate stack when it has none big enough;
// the stack stays for the life of the process, guarded below by one page.
void EnsureAltStack() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
        current.ss_size >= kMinAltStackSize)
        return;
    long page = sysconf(_SC_PAGESIZE);
    std::size_t guard = page > 0 ? static_cast<std::size_t>(page) : 4096;
    void* memory = mmap(nullptr, kAltStackSize + guard, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return;
    mprotect(memory, guard, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(memory) + guard;
    stack.ss_size = kAltStackSize;
    if (sigaltstack(&stack, nullptr) != 0) munmap(memory, kAltStackSize + guard);
}

}  // namespace

void InitCrashSupport() {
    RecordLogFolder();
    RefreshLocalTimeOffset();
}

const char* CrashLogFolder() noexcept {
    return g_logFolder;
}

void MakeFolder(const char* path) noexcept {
    mkdir(path, 0777);
}

void RefreshLocalTimeOffset() {
    time_t now = time(nullptr);
    struct tm local {};
    if (!localtime_r(&now, &local)) return;
    g_utcOffset.store(local.tm_gmtoff, std::memory_order_relaxed);
    g_utcOffsetKnown.store(true, std::memory_order_release);
}

bool SignalSafeLocalTime(LocalClock& out) noexcept {
    if (!g_utcOffsetKnown.load(std::memory_order_acquire)) return false;
    struct timespec now {};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    std::int64_t local =
        static_cast<std::int64_t>(now.tv_sec) + g_utcOffset.load(std::memory_order_relaxed);
    std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    std::int64_t secondOfDay = local - days * 86400;
    CivilFromDays(days, out);
    out.hour = static_cast<int>(secondOfDay / 3600);
    out.minute = static_cast<int>(secondOfDay / 60 % 60);
    out.second = static_cast<int>(secondOfDay % 60);
    return true;
}

int OpenDumpFile(const char* path) noexcept {
    // Dumps hold stack memory, which may hold secrets: owner only.
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void WriteDumpBytes(int fd, const void* data, std::size_t size) noexcept {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void CloseDumpFile(int fd) noexcept {
    close(fd);
}

bool InstallFatalSignalHandlers(FatalSignalHandler handler) {
    g_handler.store(handler, std::memory_order_release);
    EnsureAltStack();
    if (g_installed.load()) return true;
    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // While one fatal signal is handled, the others wait: a second fault in
    // the dump itself then ends the process at once instead of nesting.
    sigemptyset(&action.sa_mask);
    for (int signal : kFatalSignals) sigaddset(&action.sa_mask, signal);
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        if (sigaction(kFatalSignals[i], &action, &g_previous[i]) != 0) {
            while (i-- > 0) sigaction(kFatalSignals[i], &g_previous[i], nullptr);
            return false;
        }
    }
    g_installed.store(true);
    return true;
}

}  // namespace tk::platform
