// Saving a whole file so that a failed write never destroys the old one.
//
// The bytes go to a temporary file beside the target, are flushed to the
// disk, and the temporary file is renamed over the target: readers see the
// old contents or the new, never a torn file. Symbolic links are followed as
// open() follows them (the links survive): a dangling link gets the file it
// names created, a loop fails with ELOOP. The target's permission bits are
// kept. Where no temporary file can be made in that folder (no write
// permission there, no free inode), the target is rewritten in place with
// its old bytes kept in memory and written back if the new ones fail, so
// that whatever fails the file holds its old contents or the complete new
// ones.
#ifndef TAVIKFCU_PLATFORM_FILE_REPLACE_H
#define TAVIKFCU_PLATFORM_FILE_REPLACE_H

#include <cstddef>

#include "tavikfcu/TKTypes.h"

namespace tk::platform {

struct ByteSpan {
    const void* data;
    std::size_t size;
};

// Replaces the file at path (UTF-16, '\' read as '/') by the concatenated
// pieces. Returns 0, or the errno of the call that failed: an existing target
// that may not be written (EACCES, EISDIR...), a missing folder (ENOENT), a
// link loop (ELOOP), a full disk (ENOSPC), a file-size limit (EFBIG) or an
// I/O error; a regular file then holds its old contents.
[[nodiscard]] int ReplaceFileContents(const TKWCHAR* path, const ByteSpan* pieces,
                                      std::size_t count);

// Receives the new contents a piece at a time (ReplaceFileContentsFrom).
class ContentSink {
  public:
    // Writes all size bytes; 0, or the errno that stopped them.
    [[nodiscard]] virtual int Write(const void* data, std::size_t size) = 0;

  protected:
    ~ContentSink() = default;
};

// Produces the new contents for ReplaceFileContentsFrom.
class ContentSource {
  public:
    // Passes the contents to sink in order and returns 0, or the first
    // nonzero result of sink.Write (then it stops). It may throw; the file
    // is then left as a failed write leaves it and the exception goes on.
    [[nodiscard]] virtual int WriteTo(ContentSink& sink) = 0;

  protected:
    ~ContentSource() = default;
};

// ReplaceFileContents with contents made while they are written, so that
// they never need to be in memory whole. Same rules, same results.
[[nodiscard]] int ReplaceFileContentsFrom(const TKWCHAR* path, ContentSource& source);

// Test seam: when set, called with the bytes of each write of the new
// contents (to the temporary file, or in place); a nonzero result fails that
// write with that errno. Writing old bytes back does not pass through it.
using WriteFaultHook = int (*)(std::size_t bytes);
void SetWriteFaultHook(WriteFaultHook hook);

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_FILE_REPLACE_H
