// Files named by UTF-16 paths. The path is handed to the OS as UTF-8, and a
// '\' in it is read as '/', so paths written the Windows way work unchanged.
//
//     tk::platform::File file;
//     if (int err = file.Open(TKL("data\\cities.csv"), tk::platform::FileMode::kRead))
//         return Fail(err);                 // err is the failing call's errno
//     std::uint64_t size = 0;
//     if (int err = file.Size(size)) return Fail(err);
//
// Every call that can fail returns 0 on success or the errno of the call that
// failed, so callers can put the code into their own messages. A File is one
// open C stream: move-only, closed by its destructor, used by one thread at a
// time.
#ifndef TAVIKFCU_PLATFORM_FILE_IO_H
#define TAVIKFCU_PLATFORM_FILE_IO_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tavikfcu/TKTypes.h"

namespace tk::platform {

enum class FileMode {
    kRead,   // existing file, binary, no newline translation ("rb")
    kWrite,  // created or truncated, binary ("wb")
};

// The OS spelling of a UTF-16 path: UTF-8, '\' turned into '/'. Null gives "".
std::string NativePath(const TKWCHAR* path);

// Whether err, returned by a File call, says that the file or a folder on
// its path does not exist, rather than that it exists out of reach.
bool IsMissingPathError(int err);

class File {
  public:
    File() = default;
    ~File();
    File(File&& other) noexcept : m_stream(other.m_stream) { other.m_stream = nullptr; }
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Closes any file this object held, then opens path. Directories are
    // refused with EISDIR (the C library would open them for reading and
    // only fail on the first read). A null or empty path gives ENOENT.
    [[nodiscard]] int Open(const TKWCHAR* path, FileMode mode);
    // Closes the file; for a written file a failed flush is reported. Closing
    // a closed File returns 0.
    int Close();
    bool IsOpen() const { return m_stream != nullptr; }

    // The length in bytes (64-bit: files past 4 GiB are measured correctly).
    // Streams that cannot seek (pipes) fail with ESPIPE.
    [[nodiscard]] int Size(std::uint64_t& size) const;
    // Moves the read/write position to offset bytes from the start.
    [[nodiscard]] int Seek(std::uint64_t offset);

    // Reads up to n bytes into dst and stores the count in got. The count is
    // short of n only at the end of the file or on an error; an error
    // returns its errno, with got holding the bytes read before it.
    [[nodiscard]] int Read(void* dst, std::size_t n, std::size_t& got);
    // Reads exactly n bytes into dst; a file that ends sooner (it shrank
    // after its length was taken) gives an I/O error.
    [[nodiscard]] int ReadExactly(void* dst, std::size_t n);
    // Writes all n bytes or returns the errno of the failure.
    [[nodiscard]] int Write(const void* src, std::size_t n);

    // The underlying C stream, for code that works on FILE* (record
    // readers and writers). Stays owned by this File.
    std::FILE* Stream() const { return m_stream; }

  private:
    std::FILE* m_stream = nullptr;
};

// Test seam for reading: the calls a test can make fail, as a full disk, a
// revoked permission or a failing device would.
enum class FileCall {
    kOpen,  // Open for reading
    kSize,  // Size: the file's length
    kRead,  // Read and ReadExactly
};
// When set, called before each such call with the bytes it asks for (0 for
// kOpen and kSize). A nonzero result fails the call with that errno; for
// kRead the hook may first lower bytes, and the call then delivers that many
// bytes before it fails (a read that fails half way). Set it from one thread
// while no file is being read; null removes it.
using ReadFaultHook = int (*)(FileCall call, std::size_t& bytes);
void SetReadFaultHook(ReadFaultHook hook);

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_FILE_IO_H
