// The one general-heap allocator of the library. Everything the library hands
// out as a plain pointer comes from HeapAlloc so that tkFreeMem can free it.
#ifndef TAVIKFCU_MEMORY_HEAP_H
#define TAVIKFCU_MEMORY_HEAP_H

#include <cstddef>
#include <cstdlib>
#include <new>

namespace tk::detail {

// Never returns null: throws std::bad_alloc when the heap is exhausted.
inline void* HeapAlloc(std::size_t bytes) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

// Grows or shrinks in place where the allocator can; throws on failure (the
// old block then stays valid).
inline void* HeapRealloc(void* p, std::size_t bytes) {
    void* q = std::realloc(p, bytes ? bytes : 1);
    if (!q) throw std::bad_alloc();
    return q;
}

inline void HeapFree(void* p) {
    std::free(p);
}

// bytes (a multiple of alignment, a power of two) at an address that is a
// multiple of alignment; release with HeapFreeAligned.
inline void* HeapAllocAligned(std::size_t alignment, std::size_t bytes) {
    void* p = std::aligned_alloc(alignment, bytes);
    if (!p) throw std::bad_alloc();
    return p;
}

inline void HeapFreeAligned(void* p) {
    std::free(p);
}

// A heap copy of n units plus a terminator, for handing text out.
template <typename Unit>
Unit* HeapCopy(const Unit* src, std::size_t n) {
    Unit* p = static_cast<Unit*>(HeapAlloc((n + 1) * sizeof(Unit)));
    for (std::size_t i = 0; i < n; ++i) p[i] = src[i];
    p[n] = Unit(0);
    return p;
}

}  // namespace tk::detail

#endif  // TAVIKFCU_MEMORY_HEAP_H
