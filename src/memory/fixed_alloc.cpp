// CTKFixedAlloc: blocks of one size carved from chunks, reused LIFO.
//
// The scratch pools put a per-thread cache in front of the shared list (see
// scratch_pools.cpp). Allocators a program makes itself get one too: each
// thread has a few slots, one allocator each (by address), that hold up to
// kOwnLimit free blocks, refilled and drained kOwnRefill at a time under the
// allocator's lock. A slot changes hands only when it is empty; an allocator
// whose slot holds another's blocks goes to its list directly. A slot names
// its allocator by a key that a registry of live allocators resolves, so a
// thread that ends returns blocks only to an allocator still alive, and
// never to one whose blocks FreeAll has taken away.
#include <cstdlib>
#include <new>
#include <unordered_map>

#include "memory/block_chain.h"
#include "memory/scratch_pools.h"
#include "platform/features.h"
#include "platform/lock.h"
#include "tavikfcu/TKCore.h"

using tk::platform::CriticalSectionGuard;

namespace {

// A chunk starts with the link to the previously obtained chunk.
struct ChunkHeader {
    ChunkHeader* previous;
};
static_assert(sizeof(ChunkHeader) == 8, "a chunk's link word is 8 bytes");

using tk::detail::block_chain::LastOf;
using tk::detail::block_chain::NextOf;

// ---- per-thread caches of the allocators a program makes -------------------------

constexpr int kOwnSlots = 8;
constexpr unsigned int kOwnRefill = 16;
constexpr unsigned int kOwnLimit = 48;

struct OwnSlot {
    const CTKFixedAlloc* alloc;  // compared only, never followed
    std::uint64_t key;           // the allocator's key when the slot was claimed
    void* head;
    unsigned int count;
};

TK_INITIAL_EXEC_TLS thread_local OwnSlot t_ownSlots[kOwnSlots] = {};
TK_INITIAL_EXEC_TLS thread_local bool t_ownFlushRegistered = false;

// Live allocators by key; taken only on the slow paths (an allocator's
// first cached block, FreeAll, thread exit). Never destroyed: threads may end after
// static destruction has begun.
TKLockWord g_registryLock;
std::uint64_t g_nextKey = 1;
std::unordered_map<std::uint64_t, CTKFixedAlloc*>& Registry() {
    static auto* registry = new std::unordered_map<std::uint64_t, CTKFixedAlloc*>;
    return *registry;
}

inline OwnSlot& SlotFor(const CTKFixedAlloc* alloc) {
    auto address = reinterpret_cast<std::uintptr_t>(alloc);
    return t_ownSlots[(address >> 4 ^ address >> 10) % kOwnSlots];
}

}  // namespace

// Gives the per-thread caches access to the allocator's lists.
struct CTKFixedAllocBatches {
    static void* Take(CTKFixedAlloc& a, unsigned int n) { return a.TakeBatch(n); }
    static void Give(CTKFixedAlloc& a, void* first, void* last) { a.GiveBatch(first, last); }
    static std::uint64_t Key(const CTKFixedAlloc& a) {
        return a.m_cacheKey.load(std::memory_order_relaxed);
    }

    // The key under which a thread may cache this allocator's blocks.
    static std::uint64_t Register(CTKFixedAlloc& a) {
        CriticalSectionGuard guard(g_registryLock);
        std::uint64_t key = a.m_cacheKey.load(std::memory_order_relaxed);
        if (key == 0) {
            key = g_nextKey++;
            Registry().emplace(key, &a);
            a.m_cacheKey.store(key, std::memory_order_relaxed);
        }
        return key;
    }
    static void Deregister(CTKFixedAlloc& a) {
        CriticalSectionGuard guard(g_registryLock);
        std::uint64_t key = a.m_cacheKey.load(std::memory_order_relaxed);
        if (key == 0) return;
        Registry().erase(key);
        a.m_cacheKey.store(0, std::memory_order_relaxed);
    }

    // Empties a slot at thread exit: its blocks go back to their allocator
    // if that is still alive under the same key, else they are gone with
    // its chunks.
    static void Return(OwnSlot& slot) {
        if (slot.head) {
            CriticalSectionGuard guard(g_registryLock);
            auto found = Registry().find(slot.key);
            if (found != Registry().end() && found->second == slot.alloc)
                found->second->GiveBatch(slot.head, LastOf(slot.head));
        }
        slot = OwnSlot{};
    }

    // Makes the slot this allocator's, under its current key; false when
    // the slot holds blocks of another allocator, which keeps it (this
    // allocator then goes to its list directly). Blocks cached under an
    // earlier key of this allocator (before a FreeAll) are gone: dropped.
    static bool Claim(CTKFixedAlloc& a, OwnSlot& slot) {
        if (slot.alloc != &a && slot.head) return false;
        std::uint64_t key = Key(a);
        if (key == 0) key = Register(a);
        slot = OwnSlot{&a, key, nullptr, 0};
        if (!t_ownFlushRegistered) {
            t_ownFlushRegistered = true;
            (void)&t_ownFlusher;  // first use registers the thread-exit flush
        }
        return true;
    }

    struct Flusher {
        ~Flusher() {
            for (OwnSlot& slot : t_ownSlots) Return(slot);
        }
    };
    static thread_local Flusher t_ownFlusher;
};

thread_local CTKFixedAllocBatches::Flusher CTKFixedAllocBatches::t_ownFlusher;

CTKFixedAlloc::CTKFixedAlloc(unsigned int blockSize, unsigned int blocksPerChunk)
    : m_blockSize(blockSize < sizeof(void*) ? sizeof(void*) : blockSize),
      m_blocksPerChunk(blocksPerChunk ? blocksPerChunk : 1),
      m_chunks(nullptr),
      m_freeList(nullptr) {}

CTKFixedAlloc::~CTKFixedAlloc() {
    FreeAll();
}

void* CTKFixedAlloc::AllocCached() {
    OwnSlot& slot = SlotFor(this);
    const std::uint64_t key = CTKFixedAllocBatches::Key(*this);
    if ((slot.alloc != this || slot.key != key || key == 0) &&
        !CTKFixedAllocBatches::Claim(*this, slot))
        return TakeBatch(1);
    return tk::detail::block_chain::PopRefilling(slot, [this] { return TakeBatch(kOwnRefill); });
}

void CTKFixedAlloc::FreeCached(void* p) {
    OwnSlot& slot = SlotFor(this);
    const std::uint64_t key = CTKFixedAllocBatches::Key(*this);
    if ((slot.alloc != this || slot.key != key || key == 0) &&
        !CTKFixedAllocBatches::Claim(*this, slot))
        return GiveBatch(p, p);
    NextOf(p) = slot.head;
    slot.head = p;
    if (++slot.count <= kOwnLimit) return;
    void* older = tk::detail::block_chain::DetachAfter(slot.head, kOwnRefill);
    GiveBatch(older, LastOf(older));
    slot.count = kOwnRefill;
}

void* CTKFixedAlloc::TakeBatch(unsigned int count) {
    CriticalSectionGuard guard(m_lock);
    if (!m_freeList) {
        // The chunk size is a 32-bit product, as the layout defines it.
        std::uint32_t blockBytes = m_blocksPerChunk * m_blockSize;
        auto* chunk = static_cast<ChunkHeader*>(std::malloc(blockBytes + sizeof(ChunkHeader)));
        if (!chunk) throw std::bad_alloc();
        chunk->previous = static_cast<ChunkHeader*>(m_chunks);
        m_chunks = chunk;
        // Push from the last block down so the list ascends from the first.
        char* first = reinterpret_cast<char*>(chunk + 1);
        for (std::uint32_t i = m_blocksPerChunk; i-- > 0;) {
            void* block = first + static_cast<std::size_t>(i) * m_blockSize;
            NextOf(block) = m_freeList;
            m_freeList = block;
        }
    }
    void* head = m_freeList;
    void* last = head;
    for (unsigned int taken = 1; taken < count && NextOf(last); ++taken) last = NextOf(last);
    m_freeList = NextOf(last);
    NextOf(last) = nullptr;
    return head;
}

void CTKFixedAlloc::GiveBatch(void* first, void* last) {
    CriticalSectionGuard guard(m_lock);
    NextOf(last) = m_freeList;
    m_freeList = first;
}

void* CTKFixedAlloc::Alloc() {
    int pool = tk::detail::ScratchPoolIndex(this);
    if (pool >= 0) return tk::detail::CachedAlloc(pool);
    return AllocCached();
}

void CTKFixedAlloc::Free(void* p) {
    if (!p) return;
    int pool = tk::detail::ScratchPoolIndex(this);
    if (pool >= 0) return tk::detail::CachedFree(pool, p);
    FreeCached(p);
}

void CTKFixedAlloc::FreeAll() {
    int pool = tk::detail::ScratchPoolIndex(this);
    if (pool >= 0)
        tk::detail::InvalidateCaches(pool);
    else
        CTKFixedAllocBatches::Deregister(*this);
    CriticalSectionGuard guard(m_lock);
    auto* chunk = static_cast<ChunkHeader*>(m_chunks);
    while (chunk) {
        ChunkHeader* previous = chunk->previous;
        std::free(chunk);
        chunk = previous;
    }
    m_chunks = nullptr;
    m_freeList = nullptr;
}

namespace tk::detail {
void* TakeBatch(CTKFixedAlloc& a, unsigned int n) {
    return CTKFixedAllocBatches::Take(a, n);
}
void GiveBatch(CTKFixedAlloc& a, void* first, void* last) {
    CTKFixedAllocBatches::Give(a, first, last);
}
}  // namespace tk::detail
