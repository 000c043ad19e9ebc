// The block pools of JSON values and objects, and the handle classes'
// allocation functions.
#include "json/json_blocks.h"

#include <atomic>
#include <cstdint>

#include "core/scratch_pools.h"
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

// In the initial TLS block: a plain thread-relative access, no call into
// the dynamic loader.
#define TK_JSON_FAST_TLS __attribute__((tls_model("initial-exec")))
TK_JSON_FAST_TLS thread_local PendingBlocks t_pending;

// ---- per-thread caches ---------------------------------------------------------
// A document is one allocation per element, so the shared list's lock (two
// atomic operations per block) would cost as much as the rest of the block's
// life. Each thread keeps a list of free blocks per pool instead, refilled
// and drained in batches; a block freed on another thread simply joins that
// thread's list. The generation changes at teardown, so a cache of an
// earlier library load is dropped unused.

constexpr unsigned int kRefillBlocks = 128;
constexpr unsigned int kCacheLimit = 512;
constexpr int kPoolCount = 2;  // values, objects

std::atomic<std::uint32_t> g_generation{1};
std::atomic<bool> g_poolsAlive{false};

struct CacheSlot {
    void* head;
    unsigned int count;
    std::uint32_t generation;
};
TK_JSON_FAST_TLS thread_local CacheSlot t_slots[kPoolCount];
TK_JSON_FAST_TLS thread_local bool t_flushRegistered;

CTKFixedAlloc& PoolAt(int pool) {
    return *std::launder(reinterpret_cast<CTKFixedAlloc*>(pool == 0 ? g_valuePool : g_objectPool));
}

inline void*& NextOf(void* block) {
    return *static_cast<void**>(block);
}

// The last block of a non-empty list.
void* LastOf(void* head) {
    while (NextOf(head)) head = NextOf(head);
    return head;
}

// Returns a thread's cached blocks to the shared lists when the thread ends.
struct CacheFlusher {
    ~CacheFlusher() {
        if (!g_poolsAlive.load(std::memory_order_acquire)) return;
        std::uint32_t generation = g_generation.load(std::memory_order_acquire);
        for (int i = 0; i < kPoolCount; ++i) {
            CacheSlot& slot = t_slots[i];
            if (slot.head && slot.generation == generation)
                GiveBatch(PoolAt(i), slot.head, LastOf(slot.head));
            slot = CacheSlot{};
        }
    }
};
thread_local CacheFlusher t_flusher;

inline CacheSlot& CurrentSlot(int pool) {
    CacheSlot& slot = t_slots[pool];
    std::uint32_t generation = g_generation.load(std::memory_order_relaxed);
    if (__builtin_expect(slot.generation != generation, 0)) {
        slot = CacheSlot{nullptr, 0, generation};
        if (!t_flushRegistered) {
            t_flushRegistered = true;
            (void)&t_flusher;  // first use registers the thread-exit flush
        }
    }
    return slot;
}

void* Allocate(int pool, void*& pending) {
    CacheSlot& slot = CurrentSlot(pool);
    if (!slot.head) {
        slot.head = TakeBatch(PoolAt(pool), kRefillBlocks);
        slot.count = 0;
        for (void* b = slot.head; b; b = NextOf(b)) ++slot.count;
    }
    void* block = slot.head;
    slot.head = NextOf(block);
    --slot.count;
    pending = block;
    return block;
}

void Release(int pool, void*& pending, void* block) {
    // A constructor that threw never claimed its block.
    if (pending == block) pending = nullptr;
    CacheSlot& slot = CurrentSlot(pool);
    NextOf(block) = slot.head;
    slot.head = block;
    if (++slot.count <= kCacheLimit) return;
    // Keep the most recently freed blocks (warm in the cache); the older
    // ones go back to the shared list.
    void* keepLast = slot.head;
    for (unsigned int i = 1; i < kRefillBlocks; ++i) keepLast = NextOf(keepLast);
    void* first = NextOf(keepLast);
    NextOf(keepLast) = nullptr;
    GiveBatch(PoolAt(pool), first, LastOf(first));
    slot.count = kRefillBlocks;
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
    g_poolsAlive.store(true, std::memory_order_release);
}

void TeardownJsonPools() {
    g_poolsAlive.store(false, std::memory_order_release);
    g_generation.fetch_add(1, std::memory_order_acq_rel);
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
    if (size != sizeof(CMyJsonValue)) return ::operator delete(p);
    tk::detail::Release(0, Pending().value, p);
}

void* CMyJsonObj::operator new(std::size_t size) {
    if (size != sizeof(CMyJsonObj)) return ::operator new(size);
    return tk::detail::Allocate(1, Pending().object);
}

void CMyJsonObj::operator delete(void* p, std::size_t size) {
    if (!p) return;
    if (size != sizeof(CMyJsonObj)) return ::operator delete(p);
    tk::detail::Release(1, Pending().object, p);
}
