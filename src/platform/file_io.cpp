// Files on POSIX: C streams opened with O_CLOEXEC, 64-bit offsets.
#include "platform/file_io.h"

#include <errno.h>
#include <sys/stat.h>

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

}  // namespace

std::string NativePath(const TKWCHAR* path) {
    std::string out = NativeText(path, NativeTextLength(path));
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
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
