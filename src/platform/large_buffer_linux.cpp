#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/large_buffer.h"

namespace tk::platform {

namespace {
// Below this the general heap is as good: few pages, often reused.
constexpr std::size_t kMapThreshold = 4u << 20;
// Mappings start on a huge page's boundary, so that every whole 2 MB of
// them can be one.
constexpr std::size_t kHugeBytes = std::size_t(2) << 20;

// bytes of fresh address space at a multiple of kHugeBytes, mapped with
// prot; null when there is none.
void* MapAligned(std::size_t bytes, int prot) {
    const std::size_t span = bytes + kHugeBytes;
    void* p = ::mmap(nullptr, span, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const auto aligned = (start + kHugeBytes - 1) & ~(std::uintptr_t(kHugeBytes) - 1);
    if (aligned > start) ::munmap(p, aligned - start);
    const auto end = start + span;
    if (end > aligned + bytes)
        ::munmap(reinterpret_cast<void*>(aligned + bytes), end - aligned - bytes);
    return reinterpret_cast<void*>(aligned);
}

void* MapLarge(std::size_t bytes) {
    void* p = MapAligned(bytes, PROT_READ | PROT_WRITE);
    if (!p) throw std::bad_alloc();
    ::madvise(p, bytes, MADV_HUGEPAGE);  // a hint; refused where huge pages are off
    return p;
}
}  // namespace

void* AllocLargeBuffer(std::size_t bytes) {
    if (bytes < kMapThreshold) {
        void* p = std::malloc(bytes ? bytes : 1);
        if (!p) throw std::bad_alloc();
        return p;
    }
    return MapLarge(bytes);
}

void* ResizeLargeBuffer(void* buffer, std::size_t bytes, std::size_t newBytes) {
    if (bytes < kMapThreshold || newBytes < kMapThreshold) {
        // From or to the general heap: a new buffer and a copy.
        void* fresh = AllocLargeBuffer(newBytes);
        std::memcpy(fresh, buffer, bytes < newBytes ? bytes : newBytes);
        FreeLargeBuffer(buffer, bytes);
        return fresh;
    }
    if (newBytes <= bytes) {
        // Cut back where it lies.
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const std::size_t keep = (newBytes + page - 1) / page * page;
        const std::size_t had = (bytes + page - 1) / page * page;
        if (had > keep) ::munmap(static_cast<char*>(buffer) + keep, had - keep);
        return buffer;
    }
    // The pages move, without a copy, to a range of their own on a huge
    // page's boundary: huge pages stay whole. Reserved first, so that the
    // move lands there.
    void* target = MapAligned(newBytes, PROT_NONE);
    if (!target) throw std::bad_alloc();
    void* moved = ::mremap(buffer, bytes, newBytes, MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (moved == MAP_FAILED) {
        ::munmap(target, newBytes);
        throw std::bad_alloc();
    }
    ::madvise(moved, newBytes, MADV_HUGEPAGE);
    return moved;
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
