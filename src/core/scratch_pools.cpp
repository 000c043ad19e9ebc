// The four static scratch pools, their accessors, and scratch buffers.
#include "core/scratch_pools.h"

#include <atomic>
#include <cstdint>
#include <new>

#include "core/heap.h"
#include "platform/codepage.h"
#include "tavikfcu/TKString.h"

namespace tk::detail {

namespace {

// The pools are built in place at library load and destroyed at unload, so
// their lifetime follows the load order rather than static initialisation.
alignas(CTKFixedAlloc) unsigned char g_poolStorage[kScratchPoolCount][sizeof(CTKFixedAlloc)];

CTKFixedAlloc* PoolAt(int index) {
    return std::launder(reinterpret_cast<CTKFixedAlloc*>(g_poolStorage[index]));
}

}  // namespace

CTKFixedAlloc& ScratchPool(int index) {
    return *PoolAt(index);
}

int ScratchPoolIndex(const CTKFixedAlloc* alloc) {
    auto address = reinterpret_cast<std::uintptr_t>(alloc);
    auto first = reinterpret_cast<std::uintptr_t>(g_poolStorage[0]);
    if (address < first || address >= first + sizeof(g_poolStorage)) return -1;
    return static_cast<int>((address - first) / sizeof(g_poolStorage[0]));
}

// ---- per-thread caches ---------------------------------------------------------
// Each thread keeps up to kCacheLimit free blocks per pool, refilled and
// drained in batches under the pool's lock. The common Alloc/Free pair so
// takes no lock and touches no shared cache line. A pool's generation
// changes on FreeAll; a cache of an older generation is dropped unused.

namespace {

constexpr unsigned int kRefillBlocks = 16;
constexpr unsigned int kCacheLimit = 32;

std::atomic<std::uint32_t> g_generation[kScratchPoolCount];
std::atomic<bool> g_poolsAlive{false};

struct CacheSlot {
    void* head;
    unsigned int count;
    std::uint32_t generation;
};
// Trivially destructible and in the initial TLS block, so access is a plain
// thread-relative load instead of a call into the dynamic loader.
#define TK_FAST_TLS __attribute__((tls_model("initial-exec")))
TK_FAST_TLS thread_local CacheSlot t_slots[kScratchPoolCount];
TK_FAST_TLS thread_local bool t_flushRegistered;

inline void*& NextOf(void* block) {
    return *static_cast<void**>(block);
}

// Returns a thread's cached blocks to the shared lists when the thread ends.
struct CacheFlusher {
    ~CacheFlusher() {
        if (!g_poolsAlive.load(std::memory_order_acquire)) return;
        for (int i = 0; i < kScratchPoolCount; ++i) {
            CacheSlot& slot = t_slots[i];
            if (slot.head && slot.generation == g_generation[i].load(std::memory_order_acquire)) {
                void* last = slot.head;
                while (NextOf(last)) last = NextOf(last);
                GiveBatch(*PoolAt(i), slot.head, last);
            }
            slot = CacheSlot{};
        }
    }
};
thread_local CacheFlusher t_flusher;

inline CacheSlot& CurrentSlot(int pool) {
    CacheSlot& slot = t_slots[pool];
    std::uint32_t generation = g_generation[pool].load(std::memory_order_acquire);
    if (slot.generation != generation) slot = CacheSlot{nullptr, 0, generation};
    if (!t_flushRegistered) {
        t_flushRegistered = true;
        (void)&t_flusher;  // first use registers the thread-exit flush
    }
    return slot;
}

}  // namespace

void* CachedAlloc(int pool) {
    CacheSlot& slot = CurrentSlot(pool);
    if (!slot.head) {
        slot.head = TakeBatch(*PoolAt(pool), kRefillBlocks);
        slot.count = 0;
        for (void* b = slot.head; b; b = NextOf(b)) ++slot.count;
    }
    void* block = slot.head;
    slot.head = NextOf(block);
    --slot.count;
    return block;
}

void CachedFree(int pool, void* block) {
    CacheSlot& slot = CurrentSlot(pool);
    NextOf(block) = slot.head;
    slot.head = block;
    if (++slot.count <= kCacheLimit) return;
    // Keep the most recently freed blocks; the older ones go back.
    void* keepLast = slot.head;
    for (unsigned int i = 1; i < kRefillBlocks; ++i) keepLast = NextOf(keepLast);
    void* first = NextOf(keepLast);
    NextOf(keepLast) = nullptr;
    void* last = first;
    while (NextOf(last)) last = NextOf(last);
    GiveBatch(*PoolAt(pool), first, last);
    slot.count = kRefillBlocks;
}

void InvalidateCaches(int pool) {
    g_generation[pool].fetch_add(1, std::memory_order_acq_rel);
}

void InitScratchPools() {
    for (int i = 0; i < kScratchPoolCount; ++i)
        new (g_poolStorage[i]) CTKFixedAlloc(kScratchBlockSizes[i], kScratchBlocksPerChunk);
    g_poolsAlive.store(true, std::memory_order_release);
}

void TeardownScratchPools() {
    g_poolsAlive.store(false, std::memory_order_release);
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

// ---- scratch holders ----------------------------------------------------------

CTempAnsiString::CTempAnsiString(const TKWCHAR* src) {
    if (!src) return;
    int bytes =
        tk::platform::WideCharToMultiByte(tk::platform::kCodePageAnsi, 0, src, -1, nullptr, 0);
    if (bytes < 1) bytes = 1;
    m_text = static_cast<char*>(tk::detail::ObtainScratch(m_data, bytes));
    m_text[0] = 0;
    TKStringUtils::Unicode2Ansi(src, m_text, bytes);
}

CTempWideString::CTempWideString(const char* src, bool utf8) {
    if (!src) return;
    unsigned int cp = utf8 ? tk::platform::kCodePageUtf8 : tk::platform::kCodePageAnsi;
    int units = tk::platform::MultiByteToWideChar(cp, 0, src, -1, nullptr, 0);
    if (units < 1) units = 1;
    m_text = static_cast<TKWCHAR*>(tk::detail::ObtainScratch(m_data, 2 * units));
    m_text[0] = 0;
    if (utf8)
        TKStringUtils::UTF82Unicode(src, m_text, units);
    else
        TKStringUtils::Ansi2Unicode(src, m_text, units);
}

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
