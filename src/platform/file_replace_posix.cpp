// Whole-file replacement on POSIX: mkstemp beside the target, write, fsync,
// rename over the target; where no temporary file can be made, a rewrite in
// place that puts the old bytes back when the new ones fail.
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
#include <memory>
#include <new>
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

// Writes everything to fd, retrying short writes; 0 or errno. Counts what it
// wrote, for the in-place rewrite.
class FdSink final : public ContentSink {
  public:
    explicit FdSink(int fd) : m_fd(fd), m_hook(g_faultHook.load(std::memory_order_acquire)) {}
    int Write(const void* data, std::size_t size) override {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            if (m_hook)
                if (int err = m_hook(size)) return err;
            ssize_t done = ::write(m_fd, p, size);
            if (done < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            p += done;
            size -= static_cast<std::size_t>(done);
            m_written += static_cast<std::size_t>(done);
        }
        return 0;
    }
    std::size_t Written() const { return m_written; }

  private:
    int m_fd;
    WriteFaultHook m_hook;
    std::size_t m_written = 0;
};

// Contents that are already in memory, as pieces.
class SpanSource final : public ContentSource {
  public:
    SpanSource(const ByteSpan* pieces, std::size_t count) : m_pieces(pieces), m_count(count) {}
    int WriteTo(ContentSink& sink) override {
        for (std::size_t i = 0; i < m_count; ++i)
            if (m_pieces[i].size > 0)
                if (int err = sink.Write(m_pieces[i].data, m_pieces[i].size)) return err;
        return 0;
    }

  private:
    const ByteSpan* m_pieces;
    std::size_t m_count;
};

// Runs source into fd. An exception from the source runs undo first.
template <typename Undo>
int Produce(ContentSource& source, FdSink& sink, Undo undo) {
    try {
        return source.WriteTo(sink);
    } catch (...) {
        undo();
        throw;
    }
}

// A chain of more links than this is a loop, as open() has it (Linux's
// limit).
constexpr int kMaxLinks = 40;

// The file path names once symbolic links in its last component are
// followed the way open() follows them: a link whose target does not exist
// names that target (open with O_CREAT would create it), and a chain of
// more than kMaxLinks links fails with ELOOP. Folders on the way are left
// to the calls that use the path. Returns 0 or errno.
int FollowLinks(std::string path, std::string& target) {
    for (int links = 0;; ++links) {
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno != ENOENT) return errno;  // ELOOP in a folder, ENOTDIR, EACCES
            break;                              // to be created (or a missing folder)
        }
        if (!S_ISLNK(info.st_mode)) break;
        if (links == kMaxLinks) return ELOOP;
        std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX),
                         '\0');
        for (;;) {
            ssize_t n = ::readlink(path.c_str(), &link[0], link.size());
            if (n < 0) return errno;
            if (static_cast<std::size_t>(n) < link.size()) {
                link.resize(static_cast<std::size_t>(n));
                break;
            }
            link.resize(link.size() * 2);  // the link changed under us
        }
        std::size_t slash = path.rfind('/');
        if (link.empty() || link[0] == '/' || slash == std::string::npos)
            path = link;
        else
            path = path.substr(0, slash + 1) + link;
    }
    target = path;
    return 0;
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Devices, FIFOs and the like: written as a plain "wb" open would; they hold
// no old contents to lose.
int WriteStream(const std::string& target, ContentSource& source) {
    int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return errno;
    FdSink sink(fd);
    int err = Produce(source, sink, [fd] { ::close(fd); });
    if (::close(fd) != 0 && !err) err = errno;
    return err;
}

// Writes size bytes at offset 0 and past any partial write; 0 or errno.
// Not a write of the new contents: the fault hook does not see it.
int WriteBack(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Rewrites target itself, for when no temporary file can be made beside it
// (a folder that may not be written, a file system out of inodes). The old
// bytes are read into memory first and written back, and the file cut to
// its old length, if the new ones cannot all be written: the file ends up
// holding the one or the other. A target that did not exist is removed
// again. Returns the error that stopped the new contents, or 0. A file that
// cannot be read as well as written is refused (EACCES), as its old bytes
// could not be kept.
int RewriteInPlace(const std::string& target, bool exists, ContentSource& source) {
    int fd = exists ? ::open(target.c_str(), O_RDWR | O_CLOEXEC)
                    : ::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;

    std::unique_ptr<char[]> old;
    std::size_t oldSize = 0;
    if (exists) {
        struct stat info;
        if (::fstat(fd, &info) != 0) {
            int err = errno;
            ::close(fd);
            return err;
        }
        oldSize = static_cast<std::size_t>(info.st_size);
        old.reset(new (std::nothrow) char[oldSize ? oldSize : 1]);
        std::size_t got = 0;
        int err = old ? 0 : ENOMEM;
        while (!err && got < oldSize) {
            ssize_t n = ::pread(fd, old.get() + got, oldSize - got, static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                err = n < 0 ? errno : EIO;  // the file shrank under us
            else
                got += static_cast<std::size_t>(n);
        }
        if (err) {
            ::close(fd);
            return err;
        }
    }

    // Best effort: the old bytes go back where they were, over blocks the
    // file already had, and whatever the new text added is cut.
    auto restore = [&] {
        if (exists) {
            if (WriteBack(fd, old.get(), oldSize) == 0 &&
                ::ftruncate(fd, static_cast<off_t>(oldSize)) == 0)
                ::fsync(fd);
        } else {
            ::unlink(target.c_str());
        }
    };
    FdSink sink(fd);
    int err = Produce(source, sink, [&] {
        restore();
        ::close(fd);
    });
    const std::size_t newSize = sink.Written();
    if (!err && newSize < oldSize && ::ftruncate(fd, static_cast<off_t>(newSize)) != 0) err = errno;
    if (!err && ::fsync(fd) != 0 && errno != EINVAL) err = errno;
    if (err) restore();
    if (::close(fd) != 0 && !err) err = errno;
    return err;
}

}  // namespace

void SetWriteFaultHook(WriteFaultHook hook) {
    g_faultHook.store(hook, std::memory_order_release);
}

int ReplaceFileContents(const TKWCHAR* path, const ByteSpan* pieces, std::size_t count) {
    SpanSource source(pieces, count);
    return ReplaceFileContentsFrom(path, source);
}

int ReplaceFileContentsFrom(const TKWCHAR* path, ContentSource& source) {
    std::string native = NativePath(path);
    if (native.empty()) return ENOENT;
    std::string target;
    if (int err = FollowLinks(native, target)) return err;

    // The target must be writable as a plain open for writing would demand.
    struct stat existing;
    bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode)) return EISDIR;
        if (::access(target.c_str(), W_OK) != 0) return errno;
        if (!S_ISREG(existing.st_mode)) return WriteStream(target, source);
    }

    std::string base =
        target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    std::string temp = FolderOf(target) + "/." + base + ".tkXXXXXX";
    int fd = ::mkstemp(&temp[0]);
    if (fd < 0) return RewriteInPlace(target, exists, source);

    mode_t mode = exists ? (existing.st_mode & 07777) : (0666 & ~CurrentUmask());
    ::fchmod(fd, mode);
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()))
        (void)!::fchown(fd, existing.st_uid, existing.st_gid);  // best effort

    FdSink sink(fd);
    int err = Produce(source, sink, [&] {
        ::close(fd);
        ::unlink(temp.c_str());
    });
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
