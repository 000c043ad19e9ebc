// Per-thread caches of free blocks in front of a group of fixed-block pools.
//
// Each thread keeps up to Limit free blocks per pool, refilled and drained
// Refill at a time under the pool's lock, so the common Alloc/Free pair
// takes no lock and touches no shared cache line. A block freed on another
// thread than the one that took it joins that thread's cache. A thread's
// blocks go back to the shared lists when the thread ends. Each pool has a
// generation: Invalidate (after FreeAll) and Stop (at unload) change it, and
// a cache of an older generation is dropped unused, its blocks being gone.
//
//     using Cache = ThreadBlockCache<2, 128, 512, &PoolAt>;
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

template <int Pools, unsigned int Refill, unsigned int Limit, CTKFixedAlloc& (*PoolAt)(int)>
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
        return block_chain::PopRefilling(CurrentSlot(pool),
                                         [pool] { return TakeBatch(PoolAt(pool), Refill); });
    }

    static void Free(int pool, void* block) {
        Slot& slot = CurrentSlot(pool);
        NextOf(block) = slot.head;
        slot.head = block;
        if (++slot.count <= Limit) return;
        void* older = block_chain::DetachAfter(slot.head, Refill);
        GiveBatch(PoolAt(pool), older, LastOf(older));
        slot.count = Refill;
    }

  private:
    struct Slot {
        void* head;
        unsigned int count;
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
            slot = Slot{nullptr, 0, generation};
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
