// Whole-file replacement on POSIX: mkstemp beside the target, write, fsync,
// rename over the target.
#include "platform/file_replace.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file_io.h"

namespace tk::platform {

namespace {

std::atomic<WriteFaultHook> g_faultHook{nullptr};

// The process's file-creation mask, read without changing it (umask() would
// race with other threads).
mode_t CurrentUmask() {
    mode_t mask = 022;
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[128];
        while (std::fgets(line, sizeof line, status))
            if (std::strncmp(line, "Umask:", 6) == 0) {
                mask = static_cast<mode_t>(std::strtol(line + 6, nullptr, 8));
                break;
            }
        std::fclose(status);
    }
    return mask;
}

// Writes everything, retrying short writes; 0 or errno.
int WriteAll(int fd, const ByteSpan* pieces, std::size_t count) {
    WriteFaultHook hook = g_faultHook.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < count; ++i) {
        const char* data = static_cast<const char*>(pieces[i].data);
        std::size_t left = pieces[i].size;
        while (left > 0) {
            if (hook)
                if (int err = hook(left)) return err;
            ssize_t done = ::write(fd, data, left);
            if (done < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            data += done;
            left -= static_cast<std::size_t>(done);
        }
    }
    return 0;
}

// The file a path finally names: symbolic links followed. A path that does
// not exist yet is used as it is.
std::string ResolveTarget(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) return resolved;
    return path;
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int WriteInPlace(const std::string& target, const ByteSpan* pieces, std::size_t count) {
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    int err = WriteAll(fd, pieces, count);
    if (!err && ::fsync(fd) != 0 && errno != EINVAL) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    return err;
}

}  // namespace

void SetWriteFaultHook(WriteFaultHook hook) {
    g_faultHook.store(hook, std::memory_order_release);
}

int ReplaceFileContents(const TKWCHAR* path, const ByteSpan* pieces, std::size_t count) {
    std::string native = NativePath(path);
    if (native.empty()) return ENOENT;
    std::string target = ResolveTarget(native);

    // The target must be writable as a plain open for writing would demand.
    struct stat existing;
    bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode)) return EISDIR;
        if (::access(target.c_str(), W_OK) != 0) return errno;
        if (!S_ISREG(existing.st_mode))
            return WriteInPlace(target, pieces, count);  // devices, FIFOs
    }

    std::string base =
        target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    std::string temp = FolderOf(target) + "/." + base + ".tkXXXXXX";
    int fd = ::mkstemp(&temp[0]);
    if (fd < 0) return WriteInPlace(target, pieces, count);

    mode_t mode = exists ? (existing.st_mode & 07777) : (0666 & ~CurrentUmask());
    ::fchmod(fd, mode);
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()))
        (void)!::fchown(fd, existing.st_uid, existing.st_gid);  // best effort

    int err = WriteAll(fd, pieces, count);
    if (!err && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(temp.c_str());
        return err;
    }
    // Make the rename itself durable.
    int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return 0;
}

}  // namespace tk::platform
