#include <sys/mman.h>

#include <cstdlib>
#include <new>

#include "platform/large_buffer.h"

namespace tk::platform {

namespace {
// Below this the general heap is as good: few pages, often reused.
constexpr std::size_t kMapThreshold = 4u << 20;
}  // namespace

void* AllocLargeBuffer(std::size_t bytes) {
    if (bytes < kMapThreshold) {
        void* p = std::malloc(bytes ? bytes : 1);
        if (!p) throw std::bad_alloc();
        return p;
    }
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    ::madvise(p, bytes, MADV_HUGEPAGE);  // a hint; refused where huge pages are off
    return p;
}

void FreeLargeBuffer(void* buffer, std::size_t bytes) {
    if (!buffer) return;
    if (bytes < kMapThreshold)
        std::free(buffer);
    else
        ::munmap(buffer, bytes);
}

}  // namespace tk::platform
