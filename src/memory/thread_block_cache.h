// Per-thread caches of free blocks in front of a group of fixed-block pools.
//
// Each thread keeps free blocks per pool, refilled Refill at a time under the
// pool's lock, so the common Alloc/Free pair takes no lock and touches no
// shared cache line. A cache holds up to its limit; a Free that passes it
// keeps the newest blocks (cache-warm) and gives the older ones back to the
// shared list. The limit starts at Limit. With KeepBytes, it grows by Refill
// with every refill, up to KeepBytes of the pool's blocks: a thread that
// takes and frees bursts of blocks comes to keep a whole burst, and its next
// burst reuses its own blocks, not ones another core wrote last (the cost
// that dominates once two threads run through one shared list). A thread that
// only frees blocks another took never grows its limit and passes them on.
// A block freed on another thread than the one that took it joins that
// thread's cache. A thread's blocks go back to the shared lists when the
// thread ends. Each pool has a generation: Invalidate (after FreeAll) and
// Stop (at unload) change it, and a cache of an older generation is dropped
// unused, its blocks being gone.
//
//     using Cache = ThreadBlockCache<2, 16, 32, &PoolAt, 256 * 1024>;
//     void* block = Cache::Alloc(0);
//     Cache::Free(0, block);
#ifndef TAVIKFCU_MEMORY_THREAD_BLOCK_CACHE_H
#define TAVIKFCU_MEMORY_THREAD_BLOCK_CACHE_H

#include <atomic>
#include <cstdint>

#include "memory/block_chain.h"
#include "memory/scratch_pools.h"
#include "platform/features.h"
#include "tavikfcu/TKCore.h"

namespace tk::detail {

template <int Pools, unsigned int Refill, unsigned int Limit, CTKFixedAlloc& (*PoolAt)(int),
          unsigned int KeepBytes = 0>
class ThreadBlockCache {
    static_assert(Refill >= 1 && Limit > Refill, "the cache keeps Refill blocks when it drains");

  public:
    // The pools exist: caches may fill (library load).
    static void Start() {
        for (auto& g : s_generation) g.fetch_add(1, std::memory_order_acq_rel);
        s_alive.store(true, std::memory_order_release);
    }
    // The pools are about to go (library unload): drop every cache.
    static void Stop() {
        s_alive.store(false, std::memory_order_release);
        for (int pool = 0; pool < Pools; ++pool) Invalidate(pool);
    }
    // The pool's blocks are gone (FreeAll): every thread drops its cache.
    static void Invalidate(int pool) { s_generation[pool].fetch_add(1, std::memory_order_acq_rel); }

    static void* Alloc(int pool) {
        Slot& slot = CurrentSlot(pool);
        return block_chain::PopRefilling(slot, [pool, &slot] {
            CTKFixedAlloc& alloc = PoolAt(pool);
            if constexpr (KeepBytes > 0) {
                const unsigned int most = KeepBytes / alloc.GetAllocSize();
                if (slot.limit < most)
                    slot.limit = slot.limit + Refill < most ? slot.limit + Refill : most;
            }
            return TakeBatch(alloc, Refill);
        });
    }

    static void Free(int pool, void* block) {
        Slot& slot = CurrentSlot(pool);
        NextOf(block) = slot.head;
        slot.head = block;
        if (++slot.count <= slot.limit) return;
        // Refill blocks, and half of what the limit has grown by: a grown
        // cache drains about half of itself, as a walk that long is paid
        // for by as many Frees.
        const unsigned int keep = Refill + (slot.limit - Limit) / 2;
        void* older = block_chain::DetachAfter(slot.head, keep);
        GiveBatch(PoolAt(pool), older, LastOf(older));
        slot.count = keep;
    }

  private:
    struct Slot {
        void* head;
        unsigned int count;
        unsigned int limit;
        std::uint32_t generation;
    };

    // Returns a thread's cached blocks to the shared lists when it ends.
    struct Flusher {
        ~Flusher() {
            bool alive = s_alive.load(std::memory_order_acquire);
            for (int pool = 0; pool < Pools; ++pool) {
                Slot& slot = t_slots[pool];
                if (alive && slot.head &&
                    slot.generation == s_generation[pool].load(std::memory_order_acquire))
                    GiveBatch(PoolAt(pool), slot.head, LastOf(slot.head));
                slot = Slot{};
            }
        }
    };

    static void*& NextOf(void* block) { return block_chain::NextOf(block); }
    static void* LastOf(void* head) { return block_chain::LastOf(head); }

    static Slot& CurrentSlot(int pool) {
        Slot& slot = t_slots[pool];
        std::uint32_t generation = s_generation[pool].load(std::memory_order_acquire);
        if (TK_UNLIKELY(slot.generation != generation)) {
            // A new thread (generations start above 0) or a stale cache.
            slot = Slot{nullptr, 0, Limit, generation};
            if (!t_flushRegistered) {
                t_flushRegistered = true;
                (void)&t_flusher;  // first use registers the thread-exit flush
            }
        }
        return slot;
    }

    static inline std::atomic<std::uint32_t> s_generation[Pools] = {};
    static inline std::atomic<bool> s_alive{false};
    TK_INITIAL_EXEC_TLS static inline thread_local Slot t_slots[Pools] = {};
    TK_INITIAL_EXEC_TLS static inline thread_local bool t_flushRegistered = false;
    static inline thread_local Flusher t_flusher;
};

}  // namespace tk::detail

#endif  // TAVIKFCU_MEMORY_THREAD_BLOCK_CACHE_H
