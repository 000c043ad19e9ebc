// One allocator shared by 2 and 8 threads: the scratch pools (with their
// per-thread caches) and an allocator the program makes itself. Blocks are
// stamped by their holder and checked before they are freed, so a block
// handed to two holders at once shows; half of them are freed by another
// thread than the one that took them. Meant for ThreadSanitizer runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <future>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "memory/scratch_pools.h"
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

// Takes n blocks of the 144-byte scratch pool, then frees them all.
std::set<void*> Burst(int n) {
    std::vector<void*> blocks(static_cast<std::size_t>(n));
    for (void*& block : blocks) block = _TempDataStr64()->Alloc();
    for (void* block : blocks) _TempDataStr64()->Free(block);
    return {blocks.begin(), blocks.end()};
}

std::size_t CountShared(const std::set<void*>& a, const std::set<void*>& b) {
    std::vector<void*> both;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
    return both.size();
}

}  // namespace

// A thread that takes and frees a burst keeps the burst's blocks (up to its
// budget) while it lives: another thread's burst meanwhile gets none of them,
// and its own next burst gets the same blocks back. Past the budget it keeps
// no more than the budget and the rest go to the shared list.
TEST(PoolThreads, ABurstStaysWithItsThreadUpToTheBudget) {
    const int budget = static_cast<int>(tk::detail::kScratchCacheBytes / 144);
    struct Row {
        const char* name;
        int burst;
    } rows[] = {{"under the budget", 1000}, {"over the budget", budget * 2 + 500}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::set<void*> first, again, other;
        std::promise<void> firstDone, otherDone;
        std::future<void> otherDoneSeen = otherDone.get_future();
        std::thread keeper([&] {
            first = Burst(row.burst);
            firstDone.set_value();
            otherDoneSeen.wait();
            again = Burst(row.burst);
        });
        firstDone.get_future().wait();
        std::thread([&] { other = Burst(row.burst); }).join();
        otherDone.set_value();
        keeper.join();

        if (row.burst <= budget) {
            EXPECT_EQ(CountShared(first, other), 0u) << "blocks the keeper holds";
            EXPECT_EQ(CountShared(again, first), first.size()) << "its own blocks again";
        } else {
            EXPECT_GE(CountShared(first, other), static_cast<std::size_t>(row.burst - budget));
        }
    }
}

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
