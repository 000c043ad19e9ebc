// Crash dumps and the system log. Children forked here crash for real with
// the crash handler installed; the parent reads their dumps back with the
// small minidump reader below (and with lldb where it is installed).
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/crash_support.h"
#include "platform/system_log.h"
#include "tavikfcu/TKCore.h"

namespace fs = std::filesystem;

namespace {

// ---- functions that crash, each in its own section so that the parent can
// tell whether an address lies inside it. noipa keeps them and the child's
// runner whole: lldb 14 cannot name GCC's clones of functions in an
// anonymous namespace ("(anonymous namespace)::(anonymous)"). -------------

extern "C" char __start_tk_crash_write[], __stop_tk_crash_write[];
extern "C" char __start_tk_crash_recurse[], __stop_tk_crash_recurse[];

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif

constexpr std::uintptr_t kBadAddress = 0x18;
volatile std::uintptr_t g_badAddress = kBadAddress;

__attribute__((noipa, section("tk_crash_write"))) void CrashByBadWrite() {
    *reinterpret_cast<volatile int*>(g_badAddress) = 1;
}

volatile bool g_never = false;

__attribute__((noipa, section("tk_crash_recurse"))) int CrashByRecursion(int depth) {
    volatile char pad[512];
    pad[depth % sizeof pad] = static_cast<char>(depth);
    if (g_never) return pad[0];
    return CrashByRecursion(depth + 1) + pad[1];
}

void CrashByStackOverflow() {
    CrashByRecursion(0);
}

// The prefix of the crashing child, for threads that install the handler.
std::u16string g_childPrefix;

void* OverflowWithOwnAltStack(void*) {
    TKErrorUtils::InstallCrashHandler(g_childPrefix.c_str());
    CrashByRecursion(0);
    return nullptr;
}

// A thread that gave itself the handler's alternate stack overflows its
// stack into its guard page.
void CrashByStackOverflowOnThread() {
    pthread_t thread;
    pthread_create(&thread, nullptr, OverflowWithOwnAltStack, nullptr);
    pthread_join(thread, nullptr);
}

void CrashByAbort() {
    std::abort();
}

void* BlockForever(void*) {
    for (;;) pause();
    return nullptr;
}

bool Inside(std::uint64_t address, const char* begin, const char* end) {
    return address >= reinterpret_cast<std::uintptr_t>(begin) &&
           address < reinterpret_cast<std::uintptr_t>(end);
}

// ---- a small minidump reader ------------------------------------------------

class Minidump {
  public:
    explicit Minidump(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        m_bytes.assign(std::istreambuf_iterator<char>(in), {});
    }

    template <typename T>
    T At(std::uint64_t offset) const {
        T value{};
        if (offset + sizeof value <= m_bytes.size())
            std::memcpy(&value, m_bytes.data() + offset, sizeof value);
        else
            ADD_FAILURE() << "read past the end at " << offset;
        return value;
    }
    std::uint32_t U32(std::uint64_t offset) const { return At<std::uint32_t>(offset); }
    std::uint64_t U64(std::uint64_t offset) const { return At<std::uint64_t>(offset); }
    std::size_t Size() const { return m_bytes.size(); }

    struct Location {
        std::uint32_t size = 0;
        std::uint32_t rva = 0;
    };

    // The stream of that type; size 0 when missing.
    Location Stream(std::uint32_t type) const {
        std::uint32_t count = U32(8), directory = U32(12);
        for (std::uint32_t i = 0; i < count; ++i)
            if (U32(directory + i * 12) == type)
                return {U32(directory + i * 12 + 4), U32(directory + i * 12 + 8)};
        return {};
    }

    std::string Bytes(Location where) const {
        if (std::uint64_t{where.rva} + where.size > m_bytes.size()) return {};
        return m_bytes.substr(where.rva, where.size);
    }

    // A string record (byte length, UTF-16) as UTF-8, ASCII only.
    std::string String(std::uint32_t rva) const {
        std::string text;
        std::uint32_t bytes = U32(rva);
        for (std::uint32_t i = 0; i < bytes; i += 2)
            text += static_cast<char>(At<char16_t>(rva + 4 + i));
        return text;
    }

    struct Thread {
        std::uint32_t id;
        std::uint64_t stackStart;
        std::uint32_t stackSize;
        Location context;
        std::uint64_t Rip(const Minidump& d) const { return d.U64(context.rva + 0xf8); }
        std::uint64_t Rsp(const Minidump& d) const { return d.U64(context.rva + 0x98); }
    };
    std::vector<Thread> Threads() const {
        std::vector<Thread> threads;
        Location list = Stream(3);
        for (std::uint32_t i = 0, n = list.size ? U32(list.rva) : 0; i < n; ++i) {
            std::uint64_t at = list.rva + 4 + i * 48;
            threads.push_back({U32(at), U64(at + 24), U32(at + 32), {U32(at + 40), U32(at + 44)}});
        }
        return threads;
    }

    struct Module {
        std::uint64_t base;
        std::uint32_t size;
        std::string name;
        std::string cvRecord;
    };
    std::vector<Module> Modules() const {
        std::vector<Module> modules;
        Location list = Stream(4);
        for (std::uint32_t i = 0, n = list.size ? U32(list.rva) : 0; i < n; ++i) {
            std::uint64_t at = list.rva + 4 + i * 108;
            modules.push_back(
                {U64(at), U32(at + 8), String(U32(at + 20)), Bytes({U32(at + 76), U32(at + 80)})});
        }
        return modules;
    }

    std::optional<Module> ModuleAt(std::uint64_t address) const {
        for (Module& m : Modules())
            if (address >= m.base && address < m.base + m.size) return std::move(m);
        return std::nullopt;
    }

  private:
    std::string m_bytes;
};

// ---- crashing children --------------------------------------------------------

fs::path LogFolder() {
    return tk::platform::CrashLogFolder();
}

// The dumps in folder whose names begin with prefix.
std::vector<fs::path> DumpsWithPrefix(const std::string& prefix,
                                      const fs::path& folder = LogFolder()) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path());
    return found;
}

void RemoveDumps(const std::string& prefix) {
    for (const fs::path& p : DumpsWithPrefix(prefix)) fs::remove(p);
}

std::u16string Utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Forks a child that installs the crash handler with prefix, starts a thread
// that blocks, then crashes; the child's wait status.
__attribute__((noipa)) int RunCrashingChild(const std::string& prefix, void (*crash)()) {
    pid_t child = fork();
    if (child == 0) {
        // The handler the crash goes back to is the default one (not a
        // sanitizer's), so the child dies of its signal.
        for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) std::signal(signal, SIG_DFL);
        g_childPrefix = Utf16(prefix);
        if (!TKErrorUtils::InstallCrashHandler(g_childPrefix.c_str())) _exit(3);
        pthread_t blocked;
        pthread_create(&blocked, nullptr, BlockForever, nullptr);
        usleep(20 * 1000);  // let it reach pause()
        crash();
        _exit(4);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

// "<prefix>M_D_h_m_s(0xHEX).dmp" with a time between before and after.
void ExpectNamedByLocalTime(const fs::path& dump, const std::string& prefix, std::time_t before,
                            std::time_t after) {
    std::smatch m;
    std::string name = dump.filename().string();
    ASSERT_TRUE(
        std::regex_match(name.cbegin() + prefix.size(), name.cend(), m,
                         std::regex(R"((\d+)_(\d+)_(\d+)_(\d+)_(\d+)\(0x[0-9A-F]+\)\.dmp)")))
        << name;
    bool matched = false;
    for (std::time_t t = before; t <= after && !matched; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        matched = std::to_string(local.tm_mon + 1) == m[1].str() &&
                  std::to_string(local.tm_mday) == m[2].str() &&
                  std::to_string(local.tm_hour) == m[3].str() &&
                  std::to_string(local.tm_min) == m[4].str() &&
                  std::to_string(local.tm_sec) == m[5].str();
    }
    EXPECT_TRUE(matched) << name << " is not the local time of the crash";
}

// Exception pointers made up from the caller's registers, as code outside
// a signal handler may pass them.
__attribute__((noinline)) _EXCEPTION_POINTERS CallersPointers(ucontext_t& context,
                                                              siginfo_t& info) {
    getcontext(&context);
    return {&info, &context};
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string RunCommand(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
        pclose(pipe);
    }
    return output;
}

struct CrashCase {
    const char* name;
    void (*crash)();
    int signal;
    // Where the crashing thread's instruction pointer must be: inside the
    // crashing function, or (null) inside the C library, which aborts.
    const char* begin;
    const char* end;
};

}  // namespace

TEST(CrashHandler, DumpsTheCrashThenDiesOfTheSignal) {
    const CrashCase cases[] = {
        {"bad_write", CrashByBadWrite, SIGSEGV, __start_tk_crash_write, __stop_tk_crash_write},
        {"stack_overflow", CrashByStackOverflow, SIGSEGV, __start_tk_crash_recurse,
         __stop_tk_crash_recurse},
        {"thread_stack_overflow", CrashByStackOverflowOnThread, SIGSEGV, __start_tk_crash_recurse,
         __stop_tk_crash_recurse},
        {"abort", CrashByAbort, SIGABRT, nullptr, nullptr},
    };
    for (const CrashCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string prefix = std::string(c.name) + "_" + std::to_string(getpid()) + "_";
        RemoveDumps(prefix);
        std::time_t before = std::time(nullptr);
        int status = RunCrashingChild(prefix, c.crash);
        std::time_t after = std::time(nullptr);
        ASSERT_TRUE(WIFSIGNALED(status)) << "child status " << status;
        EXPECT_EQ(WTERMSIG(status), c.signal);

        std::vector<fs::path> dumps = DumpsWithPrefix(prefix);
        ASSERT_EQ(dumps.size(), 1u);
        ExpectNamedByLocalTime(dumps[0], prefix, before, after);
        Minidump dump(dumps[0]);
        ASSERT_GT(dump.Size(), 32u);
        EXPECT_EQ(dump.U32(0), 0x504d444du) << "MDMP";
        EXPECT_EQ(dump.U32(4) & 0xffff, 0xa793u);

        // System information: x86-64 on Linux.
        Minidump::Location system = dump.Stream(7);
        ASSERT_EQ(system.size, 56u);
        EXPECT_EQ(dump.At<std::uint16_t>(system.rva), 9);
        EXPECT_EQ(dump.U32(system.rva + 20), 0x8201u);

        // The exception: the signal, on the crashing thread.
        Minidump::Location exception = dump.Stream(6);
        ASSERT_EQ(exception.size, 168u);
        std::vector<Minidump::Thread> threads = dump.Threads();
        // The crashing thread first, then the blocked one (and any a sanitizer
        // runs).
        ASSERT_GE(threads.size(), 2u);
        const Minidump::Thread& crashing = threads[0];
        EXPECT_EQ(dump.U32(exception.rva), crashing.id);
        EXPECT_EQ(dump.U32(exception.rva + 8), static_cast<std::uint32_t>(c.signal));
        EXPECT_EQ(dump.U32(exception.rva + 160 + 4), crashing.context.rva);
        if (c.crash == CrashByBadWrite) {
            EXPECT_EQ(dump.U64(exception.rva + 24), kBadAddress);
        }

        // The crashing thread's registers and the stack they point into.
        std::uint64_t rip = crashing.Rip(dump), rsp = crashing.Rsp(dump);
        if (c.begin) {
            // Under ThreadSanitizer every call of the recursion first calls
            // into the sanitizer's runtime, which may be what meets the
            // guard page.
            std::optional<Minidump::Module> module = dump.ModuleAt(rip);
            const bool inSanitizer =
                kThreadSanitizer && module && module->name.find("libtsan") != std::string::npos;
            EXPECT_TRUE(Inside(rip, c.begin, c.end) || inSanitizer)
                << std::hex << rip << (module ? " in " + module->name : std::string());
        } else {
            std::optional<Minidump::Module> module = dump.ModuleAt(rip);
            ASSERT_TRUE(module) << std::hex << rip;
            EXPECT_NE(module->name.find("libc.so"), std::string::npos) << module->name;
        }
        ASSERT_GT(crashing.stackSize, 0u);
        if (c.crash == CrashByStackOverflow || c.crash == CrashByStackOverflowOnThread) {
            // The stack pointer is at the stack's end or past it, in the
            // guard: the dump keeps the stack just above.
            EXPECT_LE(rsp, crashing.stackStart + 128);
            EXPECT_LT(crashing.stackStart, rsp + (1u << 20));
        } else {
            EXPECT_GE(rsp, crashing.stackStart);
            EXPECT_LT(rsp, crashing.stackStart + crashing.stackSize);
        }
        // The other threads: seen through /proc, each with its stack.
        for (std::size_t i = 1; i < threads.size(); ++i) {
            EXPECT_NE(threads[i].Rip(dump), 0u);
            EXPECT_GE(threads[i].Rsp(dump), threads[i].stackStart);
            EXPECT_LT(threads[i].Rsp(dump), threads[i].stackStart + threads[i].stackSize);
        }

        // The program itself among the modules, with its build id.
        std::optional<Minidump::Module> program =
            dump.ModuleAt(reinterpret_cast<std::uintptr_t>(&CrashByAbort));
        ASSERT_TRUE(program);
        EXPECT_EQ(program->name, fs::read_symlink("/proc/self/exe").string());
        ASSERT_EQ(program->cvRecord.size(), 4u + 20u);
        EXPECT_EQ(program->cvRecord.substr(0, 4), "LEpB");

        // The Linux streams hold the process's own texts.
        EXPECT_NE(dump.Bytes(dump.Stream(0x47670009)).find(program->name), std::string::npos);
        EXPECT_EQ(dump.Bytes(dump.Stream(0x47670004)).rfind("Name:", 0), 0u);
        RemoveDumps(prefix);
    }
}

TEST(CrashHandler, LldbShowsTheCrashingFunction) {
    if (std::system("command -v lldb >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "lldb is not installed (scripts/install-deps.sh installs it)";
    struct Row {
        const char* name;
        void (*crash)();
        std::vector<const char*> frames;  // names the backtrace must show
    } rows[] = {
        {"bad_write", CrashByBadWrite, {"CrashByBadWrite", "RunCrashingChild"}},
        // Unwound from the guard gap through the stack kept above it.
        {"overflow", CrashByStackOverflow, {"CrashByRecursion"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string prefix = std::string("lldb_") + row.name + "_" + std::to_string(getpid()) + "_";
        RemoveDumps(prefix);
        RunCrashingChild(prefix, row.crash);
        std::vector<fs::path> dumps = DumpsWithPrefix(prefix);
        ASSERT_EQ(dumps.size(), 1u);
        std::string output = RunCommand("timeout 120 lldb --batch -c '" + dumps[0].string() +
                                        "' -o 'thread backtrace all' 2>&1");
        EXPECT_NE(output.find("stop reason = signal SIGSEGV"), std::string::npos) << output;
        for (const char* frame : row.frames)
            EXPECT_NE(output.find(frame), std::string::npos) << frame << " in\n" << output;
#if !defined(__SANITIZE_ADDRESS__)
        // Under AddressSanitizer pause() goes through its interceptor, which
        // lldb does not unwind past; the blocked thread is still listed.
        EXPECT_NE(output.find("BlockForever"), std::string::npos) << output;
#endif
        EXPECT_NE(output.find("thread #2"), std::string::npos) << output;
        RemoveDumps(prefix);
    }
}

// ---- the files themselves ------------------------------------------------------

class DumpFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/tkcrash-XXXXXX";
        ASSERT_TRUE(mkdtemp(name));
        m_folder = name;
    }
    void TearDown() override { fs::remove_all(m_folder); }

    fs::path m_folder;
};

TEST_F(DumpFiles, NullPointersWriteTheTextAndReplaceAnyFile) {
    fs::create_directory(m_folder / "目录");
    fs::path target = m_folder / "目录" / "a.dmp";
    std::ofstream(target) << std::string(100, 'x');
    // Written the Windows way, with a '\' separator.
    std::u16string path = Utf16(m_folder.string()) + u"/目录\\a.dmp";
    TKErrorUtils::DbgDumpErrorFile(nullptr, path.c_str());
    EXPECT_EQ(ReadFile(target), "_EXCEPTION_POINTERS is null");

    // Failures end silently: a missing folder, a null path.
    std::u16string missing = Utf16(m_folder.string()) + u"/none/a.dmp";
    TKErrorUtils::DbgDumpErrorFile(nullptr, missing.c_str());
    TKErrorUtils::DbgDumpErrorFile(nullptr, nullptr);
    EXPECT_FALSE(fs::exists(m_folder / "none"));
}

// Two writers of one name at once: the one that finds the file locked gives
// up and leaves the other's dump whole; once the lock is gone, the next
// writer replaces the file.
TEST_F(DumpFiles, AWriterThatFindsTheFileLockedGivesUp) {
    fs::path target = m_folder / "same.dmp";
    std::ofstream(target) << "first writer's dump";
    int holder = open(target.c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    std::u16string path = Utf16(target.string());
    TKErrorUtils::DbgDumpErrorFile(nullptr, path.c_str());
    EXPECT_EQ(ReadFile(target), "first writer's dump");
    close(holder);
    TKErrorUtils::DbgDumpErrorFile(nullptr, path.c_str());
    EXPECT_EQ(ReadFile(target), "_EXCEPTION_POINTERS is null");
}

// Threads dumping to one path at once, outside a signal handler, as two
// crashes in the same second with the same pointers would: the file always
// holds one whole dump, of one of them.
TEST_F(DumpFiles, ConcurrentDumpsOfOnePathLeaveOneWholeDump) {
    fs::path target = m_folder / "shared.dmp";
    std::u16string path = Utf16(target.string());
    constexpr int kThreads = 4, kRounds = 10;
    std::vector<std::thread> threads;
    std::vector<std::uint32_t> tids(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            tids[t] = static_cast<std::uint32_t>(gettid());
            ucontext_t context;
            siginfo_t info{};
            _EXCEPTION_POINTERS pointers = CallersPointers(context, info);
            info.si_signo = SIGUSR1;
            for (int round = 0; round < kRounds; ++round) {
                TKErrorUtils::DbgDumpErrorFile(&pointers, path.c_str());
                TKErrorUtils::DbgDumpErrorFileEx(nullptr, TKL("stress_"));  // refreshes the clock
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (const fs::path& p : DumpsWithPrefix("stress_")) fs::remove(p);

    Minidump dump(target);
    ASSERT_GT(dump.Size(), 32u);
    EXPECT_EQ(dump.U32(0), 0x504d444du);
    std::vector<Minidump::Thread> listed = dump.Threads();
    ASSERT_FALSE(listed.empty());
    EXPECT_NE(std::find(tids.begin(), tids.end(), listed[0].id), tids.end());
    EXPECT_EQ(dump.U32(dump.Stream(6).rva), listed[0].id);
    EXPECT_EQ(dump.U32(dump.Stream(6).rva + 8), static_cast<std::uint32_t>(SIGUSR1));
    // The Linux streams end where the file ends: nothing of a second writer
    // is left behind them.
    Minidump::Location last = dump.Stream(0x47670006);
    EXPECT_EQ(std::uint64_t{last.rva} + last.size, dump.Size());
}

// ---- names in the log folder ----------------------------------------------------

class ScopedZone {
  public:
    explicit ScopedZone(const char* zone) {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (old) m_old = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedZone() {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        tk::platform::RefreshLocalTimeOffset();
    }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;

  private:
    bool m_had = false;
    std::string m_old;
};

TEST(DumpNames, LogFolderPrefixLocalTimeAndPointers) {
    // A zone far from UTC, so that a name made in UTC would show.
    ScopedZone zone("Asia/Kolkata");
    fs::path folder = LogFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.filename(), "log");
    EXPECT_EQ(folder.parent_path(), fs::read_symlink("/proc/self/exe").parent_path());
    // The folder is made when missing.
    if (fs::exists(folder) && fs::is_empty(folder)) fs::remove(folder);

    struct Row {
        const char* name;
        const TKWCHAR* prefix;
        std::string expectedPrefix;
        bool withPointers;
    } rows[] = {
        {"chinese prefix", TKL("崩溃_"), "崩溃_", false},
        {"null prefix", nullptr, "(null)", false},
        // With pointers the offset read by the calls before is used.
        {"pointers", TKL("p"), "p", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ucontext_t context;
        siginfo_t info{};
        _EXCEPTION_POINTERS pointers = CallersPointers(context, info);
        _EXCEPTION_POINTERS* given = row.withPointers ? &pointers : nullptr;
        char hex[32];
        std::snprintf(hex, sizeof hex, "(0x%X).dmp",
                      static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(given)));

        std::time_t before = std::time(nullptr);
        TKErrorUtils::DbgDumpErrorFileEx(given, row.prefix);
        std::time_t after = std::time(nullptr);
        std::vector<fs::path> made;
        for (const fs::path& p : DumpsWithPrefix(row.expectedPrefix)) {
            std::string name = p.filename().string();
            if (name.size() > std::strlen(hex) &&
                name.compare(name.size() - std::strlen(hex), std::strlen(hex), hex) == 0)
                made.push_back(p);
        }
        ASSERT_EQ(made.size(), 1u) << hex;
        ExpectNamedByLocalTime(made[0], row.expectedPrefix, before, after);
        std::string bytes = ReadFile(made[0]);
        if (row.withPointers)
            EXPECT_EQ(bytes.substr(0, 4), "MDMP");
        else
            EXPECT_EQ(bytes, "_EXCEPTION_POINTERS is null");
        fs::remove(made[0]);
    }
}

// The shared library finds its folder through its own file, wherever the
// program that loads it lives.
TEST(DumpNames, TheSharedLibraryWritesBesideItself) {
    fs::path exe = fs::read_symlink("/proc/self/exe");
    fs::path library = exe.parent_path().parent_path() / "libtavikfcu.so";
    if (!fs::exists(library)) GTEST_SKIP() << "no " << library << " beside the test build";
    std::string prefix = "shared_" + std::to_string(getpid()) + "_";
    fs::path folder = library.parent_path() / "log";
    pid_t child = fork();
    if (child == 0) {
        // A second copy of the library: only in a child, which ends here.
        void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        using DumpEx = void (*)(_EXCEPTION_POINTERS*, const TKWCHAR*);
        auto dump = handle ? reinterpret_cast<DumpEx>(
                                 dlsym(handle,
                                       "_ZN12TKErrorUtils18DbgDumpErrorFileExEP19_EXCEPTION_"
                                       "POINTERSPKDs"))
                           : nullptr;
        if (!dump) _exit(2);
        std::u16string wide = Utf16(prefix);
        dump(nullptr, wide.c_str());
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::vector<fs::path> made = DumpsWithPrefix(prefix, folder);
    ASSERT_EQ(made.size(), 1u) << "no dump in " << folder;
    EXPECT_EQ(ReadFile(made[0]), "_EXCEPTION_POINTERS is null");
    fs::remove(made[0]);
}

// ---- the system log ---------------------------------------------------------------

class SystemLog : public ::testing::Test {
  protected:
    void SetUp() override {
        m_path = "/tmp/tklog-" + std::to_string(getpid()) + ".sock";
        unlink(m_path.c_str());
        m_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(m_socket, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, m_path.c_str());
        ASSERT_EQ(bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        tk::platform::detail::SetSystemLogSocketPath(m_path.c_str());
    }
    void TearDown() override {
        tk::platform::detail::SetSystemLogSocketPath(nullptr);
        close(m_socket);
        unlink(m_path.c_str());
    }

    // The next datagram; "" when none came.
    std::string Receive() {
        std::string record(65536, '\0');
        ssize_t n = recv(m_socket, &record[0], record.size(), MSG_DONTWAIT);
        record.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return record;
    }

    std::string m_path;
    int m_socket = -1;
};

TEST_F(SystemLog, OneRecordWithIdentityPriorityAndUtf8Text) {
    struct Row {
        const char* name;
        unsigned short type;
        int priority;  // facility user (8) + severity
    } rows[] = {
        {"error", EVENTLOG_ERROR_TYPE, 11},
        {"warning", EVENTLOG_WARNING_TYPE, 12},
        {"information", EVENTLOG_INFORMATION_TYPE, 14},
        {"success", EVENTLOG_SUCCESS, 14},
        {"audit success", EVENTLOG_AUDIT_SUCCESS, 14},
        {"audit failure", EVENTLOG_AUDIT_FAILURE, 14},
        {"unknown type", 99, 14},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TKErrorUtils::WriteWindowsLog(row.type, TKL("磁盘已满 disk full"));
        std::string expected = "^<" + std::to_string(row.priority) +
                               R"(>[A-Z][a-z]{2} [ 1-3]\d \d\d:\d\d:\d\d Tavik\[)" +
                               std::to_string(getpid()) + R"(\]: 磁盘已满 disk full$)";
        std::string record = Receive();
        EXPECT_TRUE(std::regex_match(record, std::regex(expected))) << record;
        EXPECT_EQ(Receive(), "") << "one record per call";
    }
}

TEST_F(SystemLog, LongTextIsCutAtACharacterBoundary) {
    std::u16string text(5000, u'汉');  // 15000 UTF-8 bytes
    TKErrorUtils::WriteWindowsLog(EVENTLOG_INFORMATION_TYPE, text.c_str());
    std::string record = Receive();
    std::size_t body = record.find("]: ");
    ASSERT_NE(body, std::string::npos);
    std::string kept = record.substr(body + 3);
    EXPECT_GT(kept.size(), 7900u);
    ASSERT_EQ(kept.size() % 3, 0u) << "a character was split";
    for (std::size_t i = 0; i < kept.size(); i += 3) ASSERT_EQ(kept.substr(i, 3), "汉") << i;
}

TEST_F(SystemLog, WithoutASocketTheRecordGoesToEventsLog) {
    tk::platform::detail::SetSystemLogSocketPath("/tmp/tk-no-such-socket");
    fs::path events = LogFolder() / "events.log";
    fs::remove(events);
    TKErrorUtils::WriteWindowsLog(EVENTLOG_WARNING_TYPE, TKL("第一行\n第二行"));
    TKErrorUtils::WriteWindowsLog(EVENTLOG_ERROR_TYPE, nullptr);
    std::ifstream in(events);
    std::string first, second, third;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_FALSE(std::getline(in, third)) << "one line per record";
    std::string stamp = R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Tavik\[)" + std::to_string(getpid());
    EXPECT_TRUE(std::regex_match(first, std::regex(stamp + R"(\] warning: 第一行 第二行$)")))
        << first;
    EXPECT_TRUE(std::regex_match(second, std::regex(stamp + R"(\] error: $)"))) << second;
    fs::remove(events);
}
