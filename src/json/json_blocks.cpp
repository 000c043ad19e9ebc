// The block pools of JSON values and objects, and the handle classes'
// allocation functions.
#include "json/json_blocks.h"

#include <cstdint>

#include "memory/thread_block_cache.h"
#include "json/json_records.h"

namespace tk::detail {

namespace {

using ValueLayout = BlockLayout<CMyJsonValue, CMyJsonValueImp>;
using ObjectLayout = BlockLayout<CMyJsonObj, CMyJsonObjImp>;

// Half a cache line each, so no block straddles two lines.
static_assert(ValueLayout::kBlockSize == 32, "a value block is 32 bytes");
static_assert(ObjectLayout::kBlockSize == 32, "an object block is 32 bytes");

// Blocks per chunk: a chunk of 16 KB.
constexpr unsigned int kBlocksPerChunk = 512;

alignas(CTKFixedAlloc) unsigned char g_valuePool[sizeof(CTKFixedAlloc)];
alignas(CTKFixedAlloc) unsigned char g_objectPool[sizeof(CTKFixedAlloc)];

TK_INITIAL_EXEC_TLS thread_local PendingBlocks t_pending;

CTKFixedAlloc& PoolAt(int pool) {
    return *std::launder(reinterpret_cast<CTKFixedAlloc*>(pool == 0 ? g_valuePool : g_objectPool));
}

// A document is one allocation per element, so the shared list's lock (two
// atomic operations per block) would cost as much as the rest of the block's
// life: large per-thread caches stand in front of the two pools.
using JsonCache = ThreadBlockCache<2, 128, 512, &PoolAt>;  // values, objects

void* Allocate(int pool, void*& pending) {
    void* block = JsonCache::Alloc(pool);
    pending = block;
    return block;
}

void Release(int pool, void*& pending, void* block) {
    // A constructor that threw never claimed its block.
    if (pending == block) pending = nullptr;
    JsonCache::Free(pool, block);
}

}  // namespace

CTKFixedAlloc& JsonValuePool() {
    return *std::launder(reinterpret_cast<CTKFixedAlloc*>(g_valuePool));
}
CTKFixedAlloc& JsonObjectPool() {
    return *std::launder(reinterpret_cast<CTKFixedAlloc*>(g_objectPool));
}

void InitJsonPools() {
    new (g_valuePool) CTKFixedAlloc(ValueLayout::kBlockSize, kBlocksPerChunk);
    new (g_objectPool) CTKFixedAlloc(ObjectLayout::kBlockSize, kBlocksPerChunk);
    JsonCache::Start();
    DocumentStore::OpenChunkCache();
}

void TeardownJsonPools() {
    DocumentStore::CloseChunkCache();
    JsonCache::Stop();
    JsonValuePool().~CTKFixedAlloc();
    JsonObjectPool().~CTKFixedAlloc();
}

PendingBlocks& Pending() {
    return t_pending;
}

}  // namespace tk::detail

using tk::detail::Pending;

// A derived class (of another size) gets ordinary heap memory and, through
// the constructor's check, a heap record.
void* CMyJsonValue::operator new(std::size_t size) {
    if (size != sizeof(CMyJsonValue)) return ::operator new(size);
    return tk::detail::Allocate(0, Pending().value);
}

void CMyJsonValue::operator delete(void* p, std::size_t size) {
    if (!p) return;
    if (p == Pending().stored) {
        Pending().stored = nullptr;  // its store owns the block
        return;
    }
    if (size != sizeof(CMyJsonValue)) return ::operator delete(p);
    tk::detail::Release(0, Pending().value, p);
}

void* CMyJsonObj::operator new(std::size_t size) {
    if (size != sizeof(CMyJsonObj)) return ::operator new(size);
    return tk::detail::Allocate(1, Pending().object);
}

void CMyJsonObj::operator delete(void* p, std::size_t size) {
    if (!p) return;
    if (p == Pending().stored) {
        Pending().stored = nullptr;  // its store owns the block
        return;
    }
    if (size != sizeof(CMyJsonObj)) return ::operator delete(p);
    tk::detail::Release(1, Pending().object, p);
}
