// POSIX inputs for tkfcu: file descriptors, mapped files, terminals.
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sys.h"
#include "tkfcu.h"

namespace tkfcu {

namespace {

[[noreturn]] void FailErrno(const std::string& name, int error) {
    Fail(name + ": " + std::strerror(error));
}

}  // namespace

Input::Input(const std::string& path) : m_name(path), m_fd(0), m_owned(false) {
    if (path == "-") return;
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) FailErrno(path, errno);
    m_owned = true;
    struct stat st;
    if (::fstat(m_fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(m_fd);
        FailErrno(path, EISDIR);
    }
}

Input::~Input() {
    if (m_owned) ::close(m_fd);
}

std::size_t Input::Read(void* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(m_fd, buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) FailErrno(m_name, errno);
    }
}

std::size_t Input::ReadFull(void* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        std::size_t n = Read(static_cast<char*>(buffer) + done, size - done);
        if (n == 0) break;
        done += n;
    }
    return done;
}

WholeInput::WholeInput(Input& input, std::uint64_t limit) {
    struct stat st;
    if (::fstat(input.m_fd, &st) == 0 && S_ISREG(st.st_mode) &&
        ::lseek(input.m_fd, 0, SEEK_CUR) == 0) {
        std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
        if (size > limit) Fail(input.Name() + ": longer than " + std::to_string(limit) + " bytes");
        if (size == 0) return;  // nothing to map
        void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, input.m_fd, 0);
        if (p != MAP_FAILED) {
            ::madvise(p, size, MADV_SEQUENTIAL);
            m_mapping = p;
            m_data = static_cast<const unsigned char*>(p);
            m_size = static_cast<std::size_t>(size);
            return;
        }
        // Some file systems cannot map; read the file like a pipe.
    }
    char chunk[65536];
    for (;;) {
        std::size_t n = input.Read(chunk, sizeof chunk);
        if (n == 0) break;
        if (m_copy.size() + n > limit)
            Fail(input.Name() + ": longer than " + std::to_string(limit) + " bytes");
        m_copy.append(chunk, n);
    }
    m_data = reinterpret_cast<const unsigned char*>(m_copy.data());
    m_size = m_copy.size();
}

WholeInput::~WholeInput() {
    if (m_mapping) ::munmap(m_mapping, m_size);
}

bool StderrIsTerminal() {
    return ::isatty(2) == 1;
}

}  // namespace tkfcu
