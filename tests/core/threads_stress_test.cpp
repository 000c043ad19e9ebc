// Shared state under concurrent use: string reference counts and the pools'
// free lists. Meant for ThreadSanitizer and AddressSanitizer runs.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKString.h"

TEST(ThreadStress, SharedStringsAndPoolBlocks) {
    const CTKString shared(TKL("shared between threads"));
    const CTKString sharedLong(TKL('L'), 700);
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CTKString mine;
            std::vector<void*> blocks;
            for (int i = 0; i < kRounds; ++i) {
                CTKString copy = shared;  // shares the body
                mine = (i & 1) ? shared : sharedLong;
                CTKString changed = copy;
                changed += static_cast<TKWCHAR>(u'a' + t);  // private body from a pool
                ASSERT_EQ(changed.GetLength(), shared.GetLength() + 1);
                blocks.push_back(_TempDataStr128()->Alloc());
                if (blocks.size() > 8) {
                    _TempDataStr128()->Free(blocks.front());
                    blocks.erase(blocks.begin());
                }
            }
            for (void* b : blocks) _TempDataStr128()->Free(b);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(
        static_cast<const int*>(static_cast<const void*>(static_cast<const TKWCHAR*>(shared)))[-3],
        1);
    EXPECT_EQ(shared.GetLength(), 22);
}
