// Saving a whole file so that a failed write never destroys the old one.
//
// The bytes go to a temporary file beside the target, are flushed to the
// disk, and the temporary file is renamed over the target: readers see the
// old contents or the new, never a torn file. A symbolic link is followed to
// the file it names (the link survives), and the target's permission bits
// are kept. Where no temporary file can be made in that folder, the target
// is written in place, as a plain "wb" open would.
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
// full disk (ENOSPC) or an I/O error; the old file is then untouched unless
// it had to be written in place.
[[nodiscard]] int ReplaceFileContents(const TKWCHAR* path, const ByteSpan* pieces,
                                      std::size_t count);

// Test seam: when set, called with the bytes of each write to the temporary
// (or in-place) file; a nonzero result fails that write with that errno.
using WriteFaultHook = int (*)(std::size_t bytes);
void SetWriteFaultHook(WriteFaultHook hook);

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_FILE_REPLACE_H
