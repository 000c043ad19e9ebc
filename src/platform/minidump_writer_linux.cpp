// The minidump writer for Linux. The records below are those of Microsoft's
// minidump format (pack 4, little-endian); the Linux stream numbers, the
// platform id 0x8201 and the "BpEL" build-id record are the conventions the
// Breakpad tools introduced and lldb reads.
//
// The file is laid out in one go: header, directory and the fixed-size
// streams first, then the lists (sized by a counting pass over
// /proc/self/task and /proc/self/maps), then their variable data appended
// behind. Everything is written with pwrite at known offsets, so memory that
// cannot be read simply leaves zeros behind.
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>
#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "platform/minidump_writer.h"

namespace tk::platform {

namespace {

// ---- the format's records -------------------------------------------------------

constexpr std::uint32_t kSignature = 0x504d444d;  // "MDMP"
constexpr std::uint32_t kVersion = 0xa793;
constexpr std::uint32_t kCvSignatureElf = 0x4270454c;  // "BpEL": an ELF build id follows
constexpr std::uint16_t kArchitectureAmd64 = 9;
[[maybe_unused]] constexpr std::uint16_t kArchitectureUnknown = 0xffff;  // other CPUs
constexpr std::uint32_t kPlatformLinux = 0x8201;

enum StreamType : std::uint32_t {
    kThreadListStream = 3,
    kModuleListStream = 4,
    kMemoryListStream = 5,
    kExceptionStream = 6,
    kSystemInfoStream = 7,
    kMiscInfoStream = 15,
    kLinuxProcStatusStream = 0x47670004,
    kLinuxCmdLineStream = 0x47670006,
    kLinuxMapsStream = 0x47670009,
};

enum ContextFlags : std::uint32_t {
    kContextAmd64 = 0x00100000,
    kContextControl = kContextAmd64 | 0x1,  // rip, rsp, eflags, cs, ss
    kContextInteger = kContextAmd64 | 0x2,
    kContextSegments = kContextAmd64 | 0x4,
    kContextFloatingPoint = kContextAmd64 | 0x8,
};

#pragma pack(push, 4)
struct LocationDescriptor {
    std::uint32_t dataSize;
    std::uint32_t rva;
};
struct MemoryDescriptor {
    std::uint64_t start;
    LocationDescriptor memory;
};
struct Header {
    std::uint32_t signature;
    std::uint32_t version;
    std::uint32_t streamCount;
    std::uint32_t directoryRva;
    std::uint32_t checksum;
    std::uint32_t timeDateStamp;
    std::uint64_t flags;
};
struct Directory {
    std::uint32_t streamType;
    LocationDescriptor location;
};
struct Thread {
    std::uint32_t threadId;
    std::uint32_t suspendCount;
    std::uint32_t priorityClass;
    std::uint32_t priority;
    std::uint64_t teb;
    MemoryDescriptor stack;
    LocationDescriptor context;
};
struct Module {
    std::uint64_t base;
    std::uint32_t size;
    std::uint32_t checksum;
    std::uint32_t timeDateStamp;
    std::uint32_t nameRva;
    std::uint32_t versionInfo[13];
    LocationDescriptor cvRecord;
    LocationDescriptor miscRecord;
    std::uint64_t reserved0;
    std::uint64_t reserved1;
};
struct ExceptionStream {
    std::uint32_t threadId;
    std::uint32_t alignment;
    std::uint32_t code;
    std::uint32_t flags;
    std::uint64_t record;
    std::uint64_t address;
    std::uint32_t parameterCount;
    std::uint32_t unusedAlignment;
    std::uint64_t information[15];
    LocationDescriptor context;
};
struct SystemInfo {
    std::uint16_t processorArchitecture;
    std::uint16_t processorLevel;
    std::uint16_t processorRevision;
    std::uint8_t processorCount;
    std::uint8_t productType;
    std::uint32_t majorVersion;
    std::uint32_t minorVersion;
    std::uint32_t buildNumber;
    std::uint32_t platformId;
    std::uint32_t csdVersionRva;
    std::uint16_t suiteMask;
    std::uint16_t reserved;
    std::uint32_t vendorId[3];
    std::uint32_t versionInformation;
    std::uint32_t featureInformation;
    std::uint32_t amdExtendedFeatures;
};
struct MiscInfo {
    std::uint32_t size;
    std::uint32_t flags;  // 1: processId is valid
    std::uint32_t processId;
    std::uint32_t processCreateTime;
    std::uint32_t processUserTime;
    std::uint32_t processKernelTime;
};
#pragma pack(pop)

// The x86-64 thread context, laid out as the Windows CONTEXT record.
struct Context {
    std::uint64_t home[6];
    std::uint32_t flags;
    std::uint32_t mxcsr;
    std::uint16_t cs, ds, es, fs, gs, ss;
    std::uint32_t eflags;
    std::uint64_t dr0, dr1, dr2, dr3, dr6, dr7;
    std::uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi;
    std::uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    std::uint64_t rip;
    std::uint8_t floatSave[512];  // the FXSAVE image, as the kernel saves it
    std::uint8_t vectorRegisters[26 * 16];
    std::uint64_t vectorControl;
    std::uint64_t debugControl;
    std::uint64_t lastBranchToRip, lastBranchFromRip;
    std::uint64_t lastExceptionToRip, lastExceptionFromRip;
};

static_assert(sizeof(Header) == 32 && sizeof(Directory) == 12);
static_assert(sizeof(Thread) == 48 && sizeof(Module) == 108 && sizeof(MemoryDescriptor) == 16);
static_assert(sizeof(ExceptionStream) == 168 && sizeof(SystemInfo) == 56);
static_assert(sizeof(MiscInfo) == 24);
static_assert(sizeof(Context) == 1232 && offsetof(Context, rip) == 0xf8 &&
              offsetof(Context, floatSave) == 0x100);

// x86-64 Linux user-mode selectors, for threads seen only through /proc.
constexpr std::uint16_t kUserCodeSelector = 0x33;
constexpr std::uint16_t kUserStackSelector = 0x2b;
// Below the stack pointer, the 128 bytes a leaf function may use unannounced.
constexpr std::uint64_t kRedZone = 128;
constexpr std::uint64_t kCrashingStackCap = 256 * 1024;
constexpr std::uint64_t kOtherStackCap = 64 * 1024;
constexpr std::uint64_t kPage = 4096;

// ---- prepared at load ---------------------------------------------------------

struct Prepared {
    std::uint8_t processorCount = 1;
    std::uint16_t processorLevel = 0;
    std::uint16_t processorRevision = 0;
    std::uint32_t vendorId[3] = {};
    std::uint32_t versionInformation = 0;
    std::uint32_t featureInformation = 0;
};
Prepared g_prepared;
// Whether process_vm_readv may read this process (a sandbox may refuse it).
std::atomic<bool> g_canReadViaSyscall{false};

// ---- small signal-safe helpers ------------------------------------------------

// For a function with large buffers: kept out of its callers so that its
// frame exists only while it runs, and the writer's stack stays the largest
// of these frames rather than their sum.
#define TK_OWN_FRAME __attribute__((noinline))

pid_t ThreadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

// Copies size bytes (at most a pipe's 64 KiB) of this process's memory; an
// unmapped or unreadable range fails instead of faulting. Where
// process_vm_readv is refused, the kernel copies through a pipe instead.
bool ReadOwnMemory(std::uint64_t address, void* out, std::size_t size) {
    if (g_canReadViaSyscall.load(std::memory_order_relaxed)) {
        iovec local{out, size};
        iovec remote{reinterpret_cast<void*>(address), size};
        return syscall(SYS_process_vm_readv, getpid(), &local, 1UL, &remote, 1UL, 0UL) ==
               static_cast<long>(size);
    }
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0) return false;
    bool copied = syscall(SYS_write, pipe[1], address, size) == static_cast<long>(size) &&
                  read(pipe[0], out, size) == static_cast<ssize_t>(size);
    close(pipe[0]);
    close(pipe[1]);
    return copied;
}

// Parses hex digits (an optional "0x" first); stops at the first other
// character. False when there was no digit.
bool ParseHex(const char*& p, const char* end, std::uint64_t& value) {
    if (end - p > 2 && p[0] == '0' && p[1] == 'x') p += 2;
    const char* start = p;
    value = 0;
    for (; p < end; ++p) {
        char c = *p;
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        value = value << 4 | digit;
    }
    return p != start;
}

bool ParseDecimal(const char*& p, const char* end, std::uint64_t& value) {
    const char* start = p;
    value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + static_cast<unsigned>(*p - '0');
    return p != start;
}

// Appends the decimal digits of value at out; returns the end.
char* FormatDecimal(char* out, std::uint64_t value) {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (n) *out++ = digits[--n];
    return out;
}

// ---- reading /proc text files line by line -----------------------------------

class LineReader {
  public:
    explicit LineReader(const char* path) : m_fd(open(path, O_RDONLY | O_CLOEXEC)) {}
    ~LineReader() {
        if (m_fd >= 0) close(m_fd);
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line without its '\n'; lines longer than the buffer are
    // skipped (no line of the files read here comes near it).
    bool Next(const char*& line, std::size_t& length) {
        bool discarding = false;
        for (;;) {
            char* newline = static_cast<char*>(std::memchr(m_buf + m_begin, '\n', m_end - m_begin));
            if (newline) {
                std::size_t at = static_cast<std::size_t>(newline - m_buf);
                line = m_buf + m_begin;
                length = at - m_begin;
                m_begin = at + 1;
                if (discarding) {
                    discarding = false;
                    continue;
                }
                return true;
            }
            if (m_eof) {
                if (m_begin == m_end || discarding) return false;
                line = m_buf + m_begin;
                length = m_end - m_begin;
                m_begin = m_end;
                return true;
            }
            if (m_begin > 0) {
                std::memmove(m_buf, m_buf + m_begin, m_end - m_begin);
                m_end -= m_begin;
                m_begin = 0;
            }
            if (m_end == sizeof m_buf) {  // a line longer than the buffer
                discarding = true;
                m_end = 0;
            }
            if (m_fd < 0) {
                m_eof = true;
                continue;
            }
            ssize_t n = read(m_fd, m_buf + m_end, sizeof m_buf - m_end);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                m_eof = true;
            else
                m_end += static_cast<std::size_t>(n);
        }
    }

  private:
    int m_fd;
    bool m_eof = false;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    char m_buf[4096];
};

// One line of /proc/self/maps.
struct Mapping {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t offset = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool readable = false;
    const char* path = nullptr;  // into the reader's buffer
    std::size_t pathLength = 0;
};

// "start-end perms offset major:minor inode   path"
bool ParseMapping(const char* p, std::size_t length, Mapping& m) {
    const char* end = p + length;
    std::uint64_t major = 0, minor = 0;
    if (!ParseHex(p, end, m.start) || p == end || *p++ != '-') return false;
    if (!ParseHex(p, end, m.end) || p == end || *p++ != ' ') return false;
    if (end - p < 5) return false;
    m.readable = p[0] == 'r';
    p += 5;
    if (!ParseHex(p, end, m.offset) || p == end || *p++ != ' ') return false;
    if (!ParseHex(p, end, major) || p == end || *p++ != ':') return false;
    if (!ParseHex(p, end, minor) || p == end || *p++ != ' ') return false;
    m.device = major << 32 | minor;
    if (!ParseDecimal(p, end, m.inode)) return false;
    while (p < end && *p == ' ') ++p;
    m.path = p;
    m.pathLength = static_cast<std::size_t>(end - p);
    return true;
}

// The mapping that holds a stack pointer. A pointer that overflowed its
// stack lies in the guard below it: a gap (1 MiB by default for the main
// thread) or an inaccessible guard mapping (threads). Then the readable
// mapping just above, whose top part is the stack that is left.
TK_OWN_FRAME bool FindStackMapping(std::uint64_t sp, std::uint64_t& start, std::uint64_t& end) {
    constexpr std::uint64_t kGuardGap = 1 << 20;
    LineReader maps("/proc/self/maps");
    const char* line;
    std::size_t length;
    Mapping m;
    while (maps.Next(line, length)) {
        if (!ParseMapping(line, length, m) || m.end <= sp || !m.readable) continue;
        if (m.start > sp && m.start - sp > kGuardGap) return false;
        start = m.start;
        end = m.end;
        return true;
    }
    return false;
}

// The first mapping of an ELF file: mapped from its start, readable, with
// the ELF magic there.
bool StartsModule(const Mapping& m) {
    if (m.offset != 0 || m.inode == 0 || !m.readable || m.pathLength == 0 || m.path[0] != '/')
        return false;
    unsigned char magic[SELFMAG];
    return ReadOwnMemory(m.start, magic, sizeof magic) && std::memcmp(magic, ELFMAG, SELFMAG) == 0;
}

// The GNU build id from the ELF notes of the module loaded at base, read
// from memory; its length, 0 when it has none.
TK_OWN_FRAME std::size_t ReadBuildId(std::uint64_t base, std::uint8_t (&id)[64]) {
    Elf64_Ehdr header;
    if (!ReadOwnMemory(base, &header, sizeof header) || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_phentsize != sizeof(Elf64_Phdr))
        return 0;
    Elf64_Phdr phdrs[32];
    std::size_t count = header.e_phnum < 32 ? header.e_phnum : 32;
    if (!ReadOwnMemory(base + header.e_phoff, phdrs, count * sizeof(Elf64_Phdr))) return 0;
    // The load bias: where the lowest segment's page landed.
    std::uint64_t lowest = ~std::uint64_t{0};
    for (std::size_t i = 0; i < count; ++i)
        if (phdrs[i].p_type == PT_LOAD && phdrs[i].p_vaddr < lowest) lowest = phdrs[i].p_vaddr;
    if (lowest == ~std::uint64_t{0}) return 0;
    std::uint64_t bias = base - (lowest & ~(kPage - 1));
    for (std::size_t i = 0; i < count; ++i) {
        if (phdrs[i].p_type != PT_NOTE) continue;
        alignas(4) std::uint8_t notes[1024];
        std::size_t size = phdrs[i].p_memsz < sizeof notes ? phdrs[i].p_memsz : sizeof notes;
        if (!ReadOwnMemory(bias + phdrs[i].p_vaddr, notes, size)) continue;
        std::size_t at = 0;
        while (at + sizeof(Elf64_Nhdr) <= size) {
            Elf64_Nhdr note;
            std::memcpy(&note, notes + at, sizeof note);
            std::size_t name = at + sizeof note;
            std::size_t desc = name + ((note.n_namesz + 3) & ~3u);
            std::size_t next = desc + ((note.n_descsz + 3) & ~3u);
            if (next > size) break;
            if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
                std::memcmp(notes + name, "GNU", 4) == 0 && note.n_descsz <= sizeof id) {
                std::memcpy(id, notes + desc, note.n_descsz);
                return note.n_descsz;
            }
            at = next;
        }
    }
    return 0;
}

// The stack pointer and instruction pointer of a thread blocked in the
// kernel, from /proc/self/task/<tid>/syscall ("nr args... sp pc", or
// "-1 sp pc"); false for a running thread.
TK_OWN_FRAME bool ReadBlockedThreadRegisters(std::uint64_t tid, std::uint64_t& sp,
                                             std::uint64_t& pc) {
    char path[64] = "/proc/self/task/";
    char* p = FormatDecimal(path + std::strlen(path), tid);
    std::memcpy(p, "/syscall", sizeof "/syscall");
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[256];
    ssize_t n = read(fd, text, sizeof text);
    close(fd);
    if (n <= 0 || text[0] < '-' || text[0] > '9') return false;  // "running"
    const char* pcEnd = text + n;
    while (pcEnd > text && (pcEnd[-1] == '\n' || pcEnd[-1] == ' ')) --pcEnd;
    const char* pcStart = pcEnd;
    while (pcStart > text && pcStart[-1] != ' ') --pcStart;
    const char* spEnd = pcStart;
    while (spEnd > text && spEnd[-1] == ' ') --spEnd;
    const char* spStart = spEnd;
    while (spStart > text && spStart[-1] != ' ') --spStart;
    if (spStart == text) return false;  // the system call number comes first
    return ParseHex(spStart, spEnd, sp) && ParseHex(pcStart, pcEnd, pc) && sp != 0;
}

// ---- the output file ------------------------------------------------------------

class Output {
  public:
    explicit Output(int fd) : m_fd(fd) {}

    bool Failed() const { return m_failed; }

    // Room for size bytes at the end, 8-aligned; its offset.
    std::uint32_t Reserve(std::uint64_t size) {
        m_end = (m_end + 7) & ~std::uint64_t{7};
        std::uint64_t at = m_end;
        m_end += size;
        if (m_end > 0xffffffffu) m_failed = true;  // offsets are 32-bit
        return static_cast<std::uint32_t>(at);
    }

    void WriteAt(std::uint64_t at, const void* data, std::size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0 && !m_failed) {
            ssize_t n = pwrite(m_fd, p, size, static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                m_failed = true;
                return;
            }
            p += n;
            at += static_cast<std::uint64_t>(n);
            size -= static_cast<std::size_t>(n);
        }
    }

    std::uint32_t Append(const void* data, std::size_t size) {
        std::uint32_t at = Reserve(size);
        WriteAt(at, data, size);
        return at;
    }

    // Copies size bytes of this process's memory at address to the file at
    // at. The kernel reads the memory, so a page that cannot be read fails
    // that write (EFAULT) and stays zeros, where reading it here would fault.
    // The raw system call keeps sanitizers from checking memory they do not
    // own (other threads' stacks).
    void CopyMemoryAt(std::uint64_t at, std::uint64_t address, std::uint64_t size) {
        std::uint64_t done = 0;
        while (done < size && !m_failed) {
            long n = syscall(SYS_pwrite64, m_fd, address + done, size - done, at + done);
            if (n > 0) {
                done += static_cast<std::uint64_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && errno == EFAULT) {
                done = ((address + done) & ~(kPage - 1)) + kPage - address;  // skip the page
            } else {
                m_failed = true;
            }
        }
    }

    // Copies a whole file (a /proc text) behind the end; its location.
    TK_OWN_FRAME LocationDescriptor AppendFile(const char* path) {
        LocationDescriptor where{0, Reserve(0)};
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return where;
        char chunk[4096];
        for (;;) {
            ssize_t n = read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            WriteAt(m_end, chunk, static_cast<std::size_t>(n));
            m_end += static_cast<std::uint64_t>(n);
            where.dataSize += static_cast<std::uint32_t>(n);
        }
        close(fd);
        return where;
    }

    // A string record: its byte length, then UTF-16 with a terminator.
    // Invalid UTF-8 becomes U+FFFD.
    TK_OWN_FRAME std::uint32_t AppendUtf16String(const char* text, std::size_t length) {
        std::uint32_t units = 0;
        ForEachUnit(text, length, [&](std::uint16_t) { ++units; });
        std::uint32_t bytes = units * 2;
        std::uint32_t at = Reserve(4 + bytes + 2);
        WriteAt(at, &bytes, 4);
        std::uint16_t buffer[128];
        std::size_t filled = 0;
        std::uint64_t next = at + 4;
        auto flush = [&] {
            WriteAt(next, buffer, filled * 2);
            next += filled * 2;
            filled = 0;
        };
        ForEachUnit(text, length, [&](std::uint16_t unit) {
            buffer[filled++] = unit;
            if (filled == 128) flush();
        });
        buffer[filled++] = 0;
        flush();
        return at;
    }

    // Gives the file its full length (memory that could not be read at the
    // end would otherwise be missing, not zeros).
    void Finish() {
        if (!m_failed && ftruncate(m_fd, static_cast<off_t>(m_end)) != 0) m_failed = true;
    }

  private:
    template <typename Sink>
    static void ForEachUnit(const char* text, std::size_t length, Sink sink) {
        const auto* p = reinterpret_cast<const unsigned char*>(text);
        const unsigned char* end = p + length;
        while (p < end) {
            std::uint32_t c = *p++;
            int more = c < 0x80                ? 0
                       : c >= 0xc2 && c < 0xe0 ? 1
                       : c >= 0xe0 && c < 0xf0 ? 2
                       : c >= 0xf0 && c < 0xf5 ? 3
                                               : -1;
            if (more < 0) {
                sink(0xfffd);
                continue;
            }
            c &= 0x7fu >> more;
            int i = 0;
            for (; i < more && p < end && (*p & 0xc0) == 0x80; ++i) c = c << 6 | (*p++ & 0x3f);
            bool overlong = (more == 2 && c < 0x800) || (more == 3 && c < 0x10000);
            if (i < more || overlong || c > 0x10ffff || (c >= 0xd800 && c < 0xe000)) {
                sink(0xfffd);
            } else if (c >= 0x10000) {
                sink(static_cast<std::uint16_t>(0xd800 + ((c - 0x10000) >> 10)));
                sink(static_cast<std::uint16_t>(0xdc00 + (c & 0x3ff)));
            } else {
                sink(static_cast<std::uint16_t>(c));
            }
        }
    }

    int m_fd;
    bool m_failed = false;
    std::uint64_t m_end = 0;
};

// ---- the streams ----------------------------------------------------------------

void FillContext(const ucontext_t& uc, Context& c) {
    std::memset(&c, 0, sizeof c);
#if defined(__x86_64__)
    const greg_t* g = uc.uc_mcontext.gregs;
    c.flags = kContextControl | kContextInteger | kContextSegments;
    c.rax = static_cast<std::uint64_t>(g[REG_RAX]);
    c.rcx = static_cast<std::uint64_t>(g[REG_RCX]);
    c.rdx = static_cast<std::uint64_t>(g[REG_RDX]);
    c.rbx = static_cast<std::uint64_t>(g[REG_RBX]);
    c.rsp = static_cast<std::uint64_t>(g[REG_RSP]);
    c.rbp = static_cast<std::uint64_t>(g[REG_RBP]);
    c.rsi = static_cast<std::uint64_t>(g[REG_RSI]);
    c.rdi = static_cast<std::uint64_t>(g[REG_RDI]);
    c.r8 = static_cast<std::uint64_t>(g[REG_R8]);
    c.r9 = static_cast<std::uint64_t>(g[REG_R9]);
    c.r10 = static_cast<std::uint64_t>(g[REG_R10]);
    c.r11 = static_cast<std::uint64_t>(g[REG_R11]);
    c.r12 = static_cast<std::uint64_t>(g[REG_R12]);
    c.r13 = static_cast<std::uint64_t>(g[REG_R13]);
    c.r14 = static_cast<std::uint64_t>(g[REG_R14]);
    c.r15 = static_cast<std::uint64_t>(g[REG_R15]);
    c.rip = static_cast<std::uint64_t>(g[REG_RIP]);
    c.eflags = static_cast<std::uint32_t>(g[REG_EFL]);
    // cs, gs, fs and (on current kernels) ss, 16 bits each.
    auto selectors = static_cast<std::uint64_t>(g[REG_CSGSFS]);
    c.cs = static_cast<std::uint16_t>(selectors);
    c.gs = static_cast<std::uint16_t>(selectors >> 16);
    c.fs = static_cast<std::uint16_t>(selectors >> 32);
    c.ss = static_cast<std::uint16_t>(selectors >> 48);
    if (c.ss == 0) c.ss = kUserStackSelector;
    if (uc.uc_mcontext.fpregs) {
        static_assert(sizeof *uc.uc_mcontext.fpregs == sizeof c.floatSave);
        std::memcpy(c.floatSave, uc.uc_mcontext.fpregs, sizeof c.floatSave);
        c.mxcsr = uc.uc_mcontext.fpregs->mxcsr;
        c.flags |= kContextFloatingPoint;
    }
#else
    (void)uc;
#endif
}

// The part of a thread's stack worth keeping: from just below sp (its red
// zone) towards the stack's base, at most cap bytes, inside sp's mapping.
bool StackRange(std::uint64_t sp, std::uint64_t cap, std::uint64_t& start, std::uint64_t& size) {
    std::uint64_t mapStart = 0, mapEnd = 0;
    if (!FindStackMapping(sp, mapStart, mapEnd)) return false;
    start = sp >= kRedZone && sp - kRedZone > mapStart ? sp - kRedZone : mapStart;
    std::uint64_t end = mapEnd - start > cap ? start + cap : mapEnd;
    size = end - start;
    return true;
}

struct ThreadSlots {
    std::uint32_t listAt;    // the thread list: count, then entries
    std::uint32_t memoryAt;  // the memory list: count, then descriptors
    std::uint32_t capacity;
    std::uint32_t used = 0;
};

// Writes one thread's context and stack and fills its list entries; the
// context's offset.
TK_OWN_FRAME std::uint32_t WriteThread(Output& out, ThreadSlots& slots, std::uint32_t tid,
                                       const Context& context, std::uint64_t stackCap) {
    if (slots.used == slots.capacity) return 0;
    Thread thread{};
    thread.threadId = tid;
    thread.context = {sizeof context, out.Append(&context, sizeof context)};
    std::uint64_t start = 0, size = 0;
    if (StackRange(context.rsp, stackCap, start, size) && size > 0) {
        std::uint32_t at = out.Reserve(size);
        out.CopyMemoryAt(at, start, size);
        thread.stack = {start, {static_cast<std::uint32_t>(size), at}};
    }
    out.WriteAt(slots.listAt + 4 + std::uint64_t{slots.used} * sizeof(Thread), &thread,
                sizeof thread);
    out.WriteAt(slots.memoryAt + 4 + std::uint64_t{slots.used} * sizeof(MemoryDescriptor),
                &thread.stack, sizeof thread.stack);
    ++slots.used;
    return thread.context.rva;
}

// Another thread, when it is blocked in the kernel: its stack and
// instruction pointers and its stack.
TK_OWN_FRAME void WriteBlockedThread(Output& out, ThreadSlots& slots, std::uint64_t tid) {
    std::uint64_t sp = 0, pc = 0;
    if (!ReadBlockedThreadRegisters(tid, sp, pc)) return;
    Context context;
    std::memset(&context, 0, sizeof context);
    context.flags = kContextControl;
    context.rsp = sp;
    context.rip = pc;
    context.cs = kUserCodeSelector;
    context.ss = kUserStackSelector;
    WriteThread(out, slots, static_cast<std::uint32_t>(tid), context, kOtherStackCap);
}

// Calls visit(tid) for every thread of the process.
template <typename Visit>
TK_OWN_FRAME void ForEachThread(Visit visit) {
    int fd = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    alignas(8) char buffer[1024];
    for (;;) {
        long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (long at = 0; at < n;) {
            // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name
            std::uint16_t recordLength;
            std::memcpy(&recordLength, buffer + at + 16, sizeof recordLength);
            const char* name = buffer + at + 19;
            std::uint64_t tid = 0;
            const char* p = name;
            if (ParseDecimal(p, name + std::strlen(name), tid) && *p == '\0') visit(tid);
            at += recordLength;
        }
    }
    close(fd);
}

TK_OWN_FRAME std::uint32_t CountModules() {
    std::uint32_t count = 0;
    LineReader maps("/proc/self/maps");
    const char* line;
    std::size_t length;
    Mapping m;
    while (maps.Next(line, length))
        if (ParseMapping(line, length, m) && StartsModule(m)) ++count;
    return count;
}

// The module list: one entry per ELF file mapped from offset 0, spanning
// the mappings of the same file that follow it.
TK_OWN_FRAME std::uint32_t WriteModules(Output& out, std::uint32_t listAt, std::uint32_t capacity) {
    std::uint32_t count = 0;
    Module module{};
    std::uint64_t device = 0, inode = 0;
    bool inModule = false;
    auto finishModule = [&] {
        if (!inModule) return;
        out.WriteAt(listAt + 4 + std::uint64_t{count} * sizeof module, &module, sizeof module);
        ++count;
        inModule = false;
    };
    LineReader maps("/proc/self/maps");
    const char* line;
    std::size_t length;
    Mapping m;
    while (maps.Next(line, length) && (count < capacity || inModule)) {
        if (!ParseMapping(line, length, m)) continue;
        if (inModule && m.device == device && m.inode == inode && m.offset != 0) {
            module.size = static_cast<std::uint32_t>(m.end - module.base);
            continue;
        }
        finishModule();
        if (count == capacity || !StartsModule(m)) continue;
        module = Module{};
        module.base = m.start;
        module.size = static_cast<std::uint32_t>(m.end - m.start);
        module.nameRva = out.AppendUtf16String(m.path, m.pathLength);
        std::uint8_t id[64];
        if (std::size_t idLength = ReadBuildId(m.start, id)) {
            std::uint32_t at = out.Reserve(4 + idLength);
            out.WriteAt(at, &kCvSignatureElf, 4);
            out.WriteAt(at + 4, id, idLength);
            module.cvRecord = {static_cast<std::uint32_t>(4 + idLength), at};
        }
        device = m.device;
        inode = m.inode;
        inModule = true;
    }
    finishModule();
    out.WriteAt(listAt, &count, 4);
    return count;
}

std::uint32_t ParseVersionPart(const char*& p) {
    std::uint64_t value = 0;
    ParseDecimal(p, p + 16, value);
    if (*p == '.') ++p;
    return static_cast<std::uint32_t>(value);
}

TK_OWN_FRAME SystemInfo MakeSystemInfo(Output& out) {
    SystemInfo info{};
#if defined(__x86_64__)
    info.processorArchitecture = kArchitectureAmd64;
#else
    info.processorArchitecture = kArchitectureUnknown;
#endif
    info.processorLevel = g_prepared.processorLevel;
    info.processorRevision = g_prepared.processorRevision;
    info.processorCount = g_prepared.processorCount;
    info.platformId = kPlatformLinux;
    std::memcpy(info.vendorId, g_prepared.vendorId, sizeof info.vendorId);
    info.versionInformation = g_prepared.versionInformation;
    info.featureInformation = g_prepared.featureInformation;
    struct utsname names;
    char text[sizeof names.sysname + sizeof names.release + sizeof names.version +
              sizeof names.machine + 4] = "";
    if (uname(&names) == 0) {
        const char* p = names.release;
        info.majorVersion = ParseVersionPart(p);
        info.minorVersion = ParseVersionPart(p);
        info.buildNumber = ParseVersionPart(p);
        // "Linux 6.1.0-13-amd64 #1 SMP ... x86_64", as uname -a shows them.
        char* q = text;
        for (const char* part : {names.sysname, names.release, names.version, names.machine}) {
            std::size_t n = std::strlen(part);
            std::memcpy(q, part, n);
            q += n;
            *q++ = ' ';
        }
        q[-1] = '\0';
    }
    info.csdVersionRva = out.AppendUtf16String(text, std::strlen(text));
    return info;
}

}  // namespace

void PrepareMinidumpWriter() {
    long processors = sysconf(_SC_NPROCESSORS_ONLN);
    g_prepared.processorCount = static_cast<std::uint8_t>(processors < 1     ? 1
                                                          : processors > 255 ? 255
                                                                             : processors);
#if defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d)) {
        g_prepared.vendorId[0] = b;
        g_prepared.vendorId[1] = d;
        g_prepared.vendorId[2] = c;
    }
    if (__get_cpuid(1, &a, &b, &c, &d)) {
        unsigned family = (a >> 8) & 0xf;
        unsigned model = (a >> 4) & 0xf;
        if (family == 0xf) family += (a >> 20) & 0xff;
        if (family >= 6) model |= ((a >> 16) & 0xf) << 4;
        g_prepared.processorLevel = static_cast<std::uint16_t>(family);
        g_prepared.processorRevision = static_cast<std::uint16_t>(model << 8 | (a & 0xf));
        g_prepared.versionInformation = a;
        g_prepared.featureInformation = d;
    }
#endif
    int probe = 1, copy = 0;
    iovec local{&copy, sizeof copy};
    iovec remote{&probe, sizeof probe};
    g_canReadViaSyscall.store(
        syscall(SYS_process_vm_readv, getpid(), &local, 1UL, &remote, 1UL, 0UL) == sizeof copy &&
        copy == 1);
}

void WriteMinidump(int fd, const siginfo_t* info, const ucontext_t* context) noexcept {
    ucontext_t own;
    if (!context) {
        getcontext(&own);
        context = &own;
    }
    Output out(fd);
    const std::uint32_t crashingTid = static_cast<std::uint32_t>(ThreadId());

    // Header, directory and the fixed-size streams.
    enum {
        kSystem,
        kMisc,
        kException,
        kThreads,
        kModules,
        kMemory,
        kMaps,
        kStatus,
        kCmdLine,
        kCount
    };
    Directory directory[kCount] = {};
    std::uint32_t headerAt = out.Reserve(sizeof(Header));
    std::uint32_t directoryAt = out.Reserve(sizeof directory);
    std::uint32_t systemAt = out.Reserve(sizeof(SystemInfo));
    std::uint32_t miscAt = out.Reserve(sizeof(MiscInfo));
    std::uint32_t exceptionAt = out.Reserve(sizeof(ExceptionStream));

    // The lists, sized by counting passes; threads or modules that appear
    // between the passes are left out.
    std::uint32_t threadCount = 0;
    ForEachThread([&](std::uint64_t) { ++threadCount; });
    if (threadCount == 0) threadCount = 1;  // /proc unreadable: the crashing thread alone
    ThreadSlots slots{};
    slots.capacity = threadCount;
    slots.listAt = out.Reserve(4 + std::uint64_t{threadCount} * sizeof(Thread));
    slots.memoryAt = out.Reserve(4 + std::uint64_t{threadCount} * sizeof(MemoryDescriptor));
    std::uint32_t moduleCapacity = CountModules();
    std::uint32_t modulesAt = out.Reserve(4 + std::uint64_t{moduleCapacity} * sizeof(Module));
    std::uint32_t moduleCount = 0;
    LocationDescriptor maps{}, status{}, cmdline{};

    // Writes the header, the directory and the lists' counts as they stand,
    // so that a dump cut short (a second fault ends the process) still
    // opens with what it got so far.
    auto publish = [&] {
        auto listSize = [](std::uint32_t count, std::size_t entry) {
            return static_cast<std::uint32_t>(4 + count * entry);
        };
        out.WriteAt(slots.listAt, &slots.used, 4);
        out.WriteAt(slots.memoryAt, &slots.used, 4);
        out.WriteAt(modulesAt, &moduleCount, 4);
        directory[kSystem] = {kSystemInfoStream, {sizeof(SystemInfo), systemAt}};
        directory[kMisc] = {kMiscInfoStream, {sizeof(MiscInfo), miscAt}};
        directory[kException] = {kExceptionStream, {sizeof(ExceptionStream), exceptionAt}};
        directory[kThreads] = {kThreadListStream,
                               {listSize(slots.used, sizeof(Thread)), slots.listAt}};
        directory[kModules] = {kModuleListStream,
                               {listSize(moduleCount, sizeof(Module)), modulesAt}};
        directory[kMemory] = {kMemoryListStream,
                              {listSize(slots.used, sizeof(MemoryDescriptor)), slots.memoryAt}};
        directory[kMaps] = {kLinuxMapsStream, maps};
        directory[kStatus] = {kLinuxProcStatusStream, status};
        directory[kCmdLine] = {kLinuxCmdLineStream, cmdline};
        out.WriteAt(directoryAt, directory, sizeof directory);
        struct timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        Header header{
            kSignature, kVersion, kCount, directoryAt, 0, static_cast<std::uint32_t>(now.tv_sec),
            0};
        out.WriteAt(headerAt, &header, sizeof header);
    };

    // What matters most first: the crashing thread with everything its
    // context holds, the exception and the machine.
    Context crashing;
    FillContext(*context, crashing);
    std::uint32_t crashingContextAt =
        WriteThread(out, slots, crashingTid, crashing, kCrashingStackCap);
    ExceptionStream exception{};
    exception.threadId = crashingTid;
    if (info) {
        exception.code = static_cast<std::uint32_t>(info->si_signo);
        exception.flags = static_cast<std::uint32_t>(info->si_code);
        bool fault = info->si_code > 0 && (info->si_signo == SIGSEGV || info->si_signo == SIGBUS ||
                                           info->si_signo == SIGILL || info->si_signo == SIGFPE ||
                                           info->si_signo == SIGTRAP);
        if (fault) exception.address = reinterpret_cast<std::uint64_t>(info->si_addr);
    }
    exception.context = {sizeof(Context), crashingContextAt};
    out.WriteAt(exceptionAt, &exception, sizeof exception);
    SystemInfo system = MakeSystemInfo(out);
    out.WriteAt(systemAt, &system, sizeof system);
    MiscInfo misc{sizeof(MiscInfo), 1, static_cast<std::uint32_t>(getpid()), 0, 0, 0};
    out.WriteAt(miscAt, &misc, sizeof misc);
    publish();

    // Then the rest of the process.
    ForEachThread([&](std::uint64_t tid) {
        if (tid != crashingTid) WriteBlockedThread(out, slots, tid);
    });
    moduleCount = WriteModules(out, modulesAt, moduleCapacity);
    maps = out.AppendFile("/proc/self/maps");
    status = out.AppendFile("/proc/self/status");
    cmdline = out.AppendFile("/proc/self/cmdline");
    publish();
    out.Finish();
}

}  // namespace tk::platform
