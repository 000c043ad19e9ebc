// Files on POSIX: C streams opened with O_CLOEXEC, 64-bit offsets.
#include "platform/file_io.h"

#include <errno.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <utility>

#include "platform/native_text.h"

static_assert(sizeof(off_t) >= 8, "file offsets must be 64-bit");

namespace tk::platform {

namespace {

// errno after a failed C-library call, never 0: a call that failed without
// saying why is an I/O error.
int LastErrno() {
    return errno != 0 ? errno : EIO;
}

std::atomic<ReadFaultHook> g_readFaultHook{nullptr};

// The fault the test seam injects into this call, or 0; bytes may be lowered.
int InjectedFault(FileCall call, std::size_t& bytes) {
    ReadFaultHook hook = g_readFaultHook.load(std::memory_order_acquire);
    return hook ? hook(call, bytes) : 0;
}

}  // namespace

std::string NativePath(const TKWCHAR* path) {
    std::string out = NativeText(path, NativeTextLength(path));
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

bool IsMissingPathError(int err) {
    return err == ENOENT || err == ENOTDIR;
}

void SetReadFaultHook(ReadFaultHook hook) {
    g_readFaultHook.store(hook, std::memory_order_release);
}

File::~File() {
    Close();
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_stream = std::exchange(other.m_stream, nullptr);
    }
    return *this;
}

int File::Open(const TKWCHAR* path, FileMode mode) {
    Close();
    std::string native = NativePath(path);
    if (native.empty()) return ENOENT;
    if (mode == FileMode::kRead) {
        std::size_t none = 0;
        if (int fault = InjectedFault(FileCall::kOpen, none)) return fault;
    }
    errno = 0;
    std::FILE* stream = std::fopen(native.c_str(), mode == FileMode::kRead ? "rbe" : "wbe");
    if (!stream) return LastErrno();
    struct stat info;
    if (fstat(fileno(stream), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(stream);
        return EISDIR;
    }
    m_stream = stream;
    return 0;
}

int File::Close() {
    if (!m_stream) return 0;
    errno = 0;
    int rc = std::fclose(std::exchange(m_stream, nullptr));
    return rc == 0 ? 0 : LastErrno();
}

int File::Size(std::uint64_t& size) const {
    size = 0;
    if (!m_stream) return EBADF;
    std::size_t none = 0;
    if (int fault = InjectedFault(FileCall::kSize, none)) return fault;
    errno = 0;
    off_t here = ftello(m_stream);
    if (here < 0) return LastErrno();
    if (fseeko(m_stream, 0, SEEK_END) != 0) return LastErrno();
    off_t end = ftello(m_stream);
    int err = end < 0 ? LastErrno() : 0;
    if (fseeko(m_stream, here, SEEK_SET) != 0 && err == 0) err = LastErrno();
    if (err == 0) size = static_cast<std::uint64_t>(end);
    return err;
}

int File::Seek(std::uint64_t offset) {
    if (!m_stream) return EBADF;
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return EINVAL;
    errno = 0;
    return fseeko(m_stream, static_cast<off_t>(offset), SEEK_SET) == 0 ? 0 : LastErrno();
}

int File::Read(void* dst, std::size_t n, std::size_t& got) {
    got = 0;
    if (!m_stream) return EBADF;
    std::size_t allowed = n;
    if (int fault = InjectedFault(FileCall::kRead, allowed)) {
        got = std::fread(dst, 1, allowed < n ? allowed : n, m_stream);
        return fault;
    }
    errno = 0;
    // fread keeps reading until n bytes, the end or an error, so a short
    // count means one of the last two.
    got = std::fread(dst, 1, n, m_stream);
    if (got < n && std::ferror(m_stream)) {
        int err = LastErrno();
        std::clearerr(m_stream);
        return err;
    }
    return 0;
}

int File::ReadExactly(void* dst, std::size_t n) {
    std::size_t got = 0;
    int err = Read(dst, n, got);
    return err != 0 ? err : got == n ? 0 : EIO;
}

int File::Write(const void* src, std::size_t n) {
    if (!m_stream) return EBADF;
    errno = 0;
    if (std::fwrite(src, 1, n, m_stream) != n) {
        int err = LastErrno();
        std::clearerr(m_stream);
        return err;
    }
    return 0;
}

}  // namespace tk::platform
