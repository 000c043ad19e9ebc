#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
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

void AdviseHugePages(void* p, std::size_t bytes) {
    // madvise wants a page-aligned start; the kernel itself keeps to the
    // whole huge pages inside.
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    auto start = (reinterpret_cast<std::uintptr_t>(p) + page - 1) / page * page;
    auto end = reinterpret_cast<std::uintptr_t>(p) + bytes;
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

void PrefaultForWrite(void* p, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    // The pages that hold any of the range, all of them ours.
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    auto start = reinterpret_cast<std::uintptr_t>(p) / page * page;
    auto end = reinterpret_cast<std::uintptr_t>(p) + bytes;
    if (bytes > 0) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)bytes;
#endif
}

void LetKernelReclaim(void* p, std::size_t bytes) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    auto start = (reinterpret_cast<std::uintptr_t>(p) + page - 1) / page * page;
    auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) / page * page;
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_FREE);
}

void FreeLargeBuffer(void* buffer, std::size_t bytes) {
    if (!buffer) return;
    if (bytes < kMapThreshold)
        std::free(buffer);
    else
        ::munmap(buffer, bytes);
}

}  // namespace tk::platform
