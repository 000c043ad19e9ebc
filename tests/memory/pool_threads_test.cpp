// One allocator shared by 2 and 8 threads: the scratch pools (with their
// per-thread caches) and an allocator the program makes itself. Blocks are
// stamped by their holder and checked before they are freed, so a block
// handed to two holders at once shows; half of them are freed by another
// thread than the one that took them. Meant for ThreadSanitizer runs.
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "tavikfcu/TKCore.h"

namespace {

void Hammer(CTKFixedAlloc& alloc, int threads) {
    constexpr int kRounds = 300;
    std::mutex handoffLock;
    std::vector<void*> handoff;  // blocks taken on one thread, freed on another
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const std::uint64_t stamp = 0x5EED000000000000u + static_cast<std::uint64_t>(t);
            std::vector<void*> mine;
            for (int round = 0; round < kRounds; ++round) {
                const int take = 1 + (round * 37 + t * 11) % 200;  // runs past the cache
                for (int i = 0; i < take; ++i) {
                    void* block = alloc.Alloc();
                    static_cast<std::uint64_t*>(block)[1] = stamp;
                    mine.push_back(block);
                }
                for (void* block : mine)
                    ASSERT_EQ(static_cast<std::uint64_t*>(block)[1], stamp) << "shared block";
                std::vector<void*> theirs;
                {
                    std::lock_guard<std::mutex> guard(handoffLock);
                    theirs.swap(handoff);
                    handoff.assign(mine.begin() + static_cast<std::ptrdiff_t>(mine.size() / 2),
                                   mine.end());
                }
                mine.resize(mine.size() / 2);
                for (void* block : mine) alloc.Free(block);
                for (void* block : theirs) alloc.Free(block);
                mine.clear();
            }
        });
    }
    for (auto& worker : workers) worker.join();
    for (void* block : handoff) alloc.Free(block);
}

}  // namespace

TEST(PoolThreads, ScratchPoolUnderTwoAndEightThreads) {
    for (int threads : {2, 8}) {
        SCOPED_TRACE(threads);
        Hammer(*_TempDataStr64(), threads);
    }
}

TEST(PoolThreads, OwnAllocatorUnderTwoAndEightThreads) {
    for (int threads : {2, 8}) {
        SCOPED_TRACE(threads);
        CTKFixedAlloc alloc(48, 64);
        Hammer(alloc, threads);
        // The threads have ended and returned their caches: this thread
        // gets blocks, and FreeAll takes them all back.
        void* block = alloc.Alloc();
        ASSERT_NE(block, nullptr);
        alloc.Free(block);
        alloc.FreeAll();
    }
    // Allocators come and go at one address while this thread's cache
    // remembers the last one: the stale blocks are never handed out.
    for (int i = 0; i < 3; ++i) {
        CTKFixedAlloc alloc(48, 4);
        void* a = alloc.Alloc();
        void* b = alloc.Alloc();
        alloc.Free(a);
        EXPECT_EQ(alloc.Alloc(), a);
        alloc.Free(b);
        alloc.Free(a);
    }
}
