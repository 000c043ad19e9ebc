// The four scratch pools and the scratch buffers taken from them. The
// holders that keep one code-page conversion in a scratch buffer
// (CTempAnsiString and its kin) stand on the strings: string/temp_strings.h.
#ifndef TAVIKFCU_MEMORY_SCRATCH_POOLS_H
#define TAVIKFCU_MEMORY_SCRATCH_POOLS_H

#include <cstdint>

#include "tavikfcu/TKCore.h"

namespace tk::detail {

inline constexpr int kScratchPoolCount = 4;
// Block sizes: a string body header (12 bytes) plus 65, 129, 257 or 513
// UTF-16 units, rounded up to a multiple of 4.
inline constexpr unsigned int kScratchBlockSizes[kScratchPoolCount] = {144, 272, 528, 1040};
inline constexpr unsigned int kScratchBlocksPerChunk = 64;
// The most a thread keeps of one pool's free blocks for itself: 1,820 bodies
// of 64 characters, 252 of 512. A thread's work of that size reuses its own
// blocks round after round; the footprint it costs is bounded by 1 MB a
// thread over the four pools, held until the thread ends.
inline constexpr unsigned int kScratchCacheBytes = 256 * 1024;

// Pool i (0..3). Valid between library load and unload.
CTKFixedAlloc& ScratchPool(int index);

// The pool for a scratch buffer of n bytes, or null for the heap (n >= 1024).
CTKFixedAlloc* ScratchPoolForBytes(int bytes);

// Where the pools live (built at load): ScratchPoolIndex is a range test.
extern unsigned char g_scratchPoolStorage[kScratchPoolCount][sizeof(CTKFixedAlloc)];

// The scratch pool index of an allocator, or -1 for any other allocator.
inline int ScratchPoolIndex(const CTKFixedAlloc* alloc) {
    auto address = reinterpret_cast<std::uintptr_t>(alloc);
    auto first = reinterpret_cast<std::uintptr_t>(g_scratchPoolStorage[0]);
    if (address - first >= sizeof(g_scratchPoolStorage)) return -1;
    return static_cast<int>((address - first) / sizeof(g_scratchPoolStorage[0]));
}

// The per-thread caches in front of the scratch pools' shared lists.
void* CachedAlloc(int pool);
void CachedFree(int pool, void* block);
// Makes every thread drop its cached blocks of a pool (after FreeAll).
void InvalidateCaches(int pool);

// Batch access to an allocator's shared list, for the caches.
void* TakeBatch(CTKFixedAlloc& alloc, unsigned int count);
void GiveBatch(CTKFixedAlloc& alloc, void* first, void* last);

// Load and unload steps (called from the library's lifetime code only).
void InitScratchPools();
void TeardownScratchPools();

// One scratch buffer: where its block came from, the block, its size.
struct CTempData {
    CTKFixedAlloc* pool = nullptr;  // null: the block is from the heap
    void* block = nullptr;
    int size = 0;
};

// Takes a block of n bytes by the pool rule; throws std::bad_alloc.
void* ObtainScratch(CTempData& data, int bytes);
void ReleaseScratch(CTempData& data);

}  // namespace tk::detail

#endif  // TAVIKFCU_MEMORY_SCRATCH_POOLS_H
