// The four static scratch pools, their accessors, and scratch buffers.
#include "memory/scratch_pools.h"

#include <cstdint>
#include <new>

#include "memory/heap.h"
#include "memory/thread_block_cache.h"

namespace tk::detail {

// The pools are built in place at library load and destroyed at unload, so
// their lifetime follows the load order rather than static initialisation.
alignas(CTKFixedAlloc) unsigned char g_scratchPoolStorage[kScratchPoolCount][sizeof(CTKFixedAlloc)];

namespace {

auto& g_poolStorage = g_scratchPoolStorage;

CTKFixedAlloc* PoolAt(int index) {
    return std::launder(reinterpret_cast<CTKFixedAlloc*>(g_poolStorage[index]));
}

}  // namespace

CTKFixedAlloc& ScratchPool(int index) {
    return *PoolAt(index);
}

// ---- per-thread caches ---------------------------------------------------------
// Strings and scratch buffers take and return pool blocks constantly; each
// thread keeps 32 free blocks per pool in front of the shared lists, and up
// to kScratchCacheBytes of a pool's blocks once it has taken that many.

namespace {
using ScratchCache = ThreadBlockCache<kScratchPoolCount, 16, 32, &ScratchPool, kScratchCacheBytes>;
}  // namespace

void* CachedAlloc(int pool) {
    return ScratchCache::Alloc(pool);
}
void CachedFree(int pool, void* block) {
    ScratchCache::Free(pool, block);
}
void InvalidateCaches(int pool) {
    ScratchCache::Invalidate(pool);
}

void InitScratchPools() {
    for (int i = 0; i < kScratchPoolCount; ++i)
        new (g_poolStorage[i]) CTKFixedAlloc(kScratchBlockSizes[i], kScratchBlocksPerChunk);
    ScratchCache::Start();
}

void TeardownScratchPools() {
    ScratchCache::Stop();
    for (int i = 0; i < kScratchPoolCount; ++i) PoolAt(i)->~CTKFixedAlloc();
}

CTKFixedAlloc* ScratchPoolForBytes(int bytes) {
    if (bytes < 128) return PoolAt(0);
    if (bytes < 256) return PoolAt(1);
    if (bytes < 512) return PoolAt(2);
    if (bytes < 1024) return PoolAt(3);
    return nullptr;
}

void* ObtainScratch(CTempData& data, int bytes) {
    CTKFixedAlloc* pool = ScratchPoolForBytes(bytes);
    data.block = pool ? pool->Alloc() : HeapAlloc(static_cast<std::size_t>(bytes));
    data.pool = pool;
    data.size = bytes;
    return data.block;
}

void ReleaseScratch(CTempData& data) {
    if (!data.block) return;
    if (data.pool)
        data.pool->Free(data.block);
    else
        HeapFree(data.block);
    data.block = nullptr;
}

}  // namespace tk::detail

// ---- exported accessors ---------------------------------------------------------

using tk::detail::ScratchPool;
CTKFixedAlloc* _TempData64B() {
    return &ScratchPool(0);
}
CTKFixedAlloc* _TempData128B() {
    return &ScratchPool(0);
}
CTKFixedAlloc* _TempDataStr64() {
    return &ScratchPool(0);
}
CTKFixedAlloc* _TempData256B() {
    return &ScratchPool(1);
}
CTKFixedAlloc* _TempDataStr128() {
    return &ScratchPool(1);
}
CTKFixedAlloc* _TempData512B() {
    return &ScratchPool(2);
}
CTKFixedAlloc* _TempDataStr256() {
    return &ScratchPool(2);
}
CTKFixedAlloc* _TempData1024B() {
    return &ScratchPool(3);
}
CTKFixedAlloc* _TempDataStr512() {
    return &ScratchPool(3);
}
