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

// Bodies made on one thread and let go on another travel through the other
// thread's pool cache; every block must come back usable (ASan, TSan).
TEST(ThreadStress, BodiesFreedOnAnotherThread) {
    constexpr int kItems = 20000;
    std::vector<CTKString> made(kItems);
    std::thread producer([&] {
        for (int i = 0; i < kItems; ++i)
            made[i] = CTKString(static_cast<TKWCHAR>(u'a' + i % 26), 1 + i % 300);
    });
    producer.join();
    std::thread consumer([&] {
        for (int i = 0; i < kItems; ++i) {
            ASSERT_EQ(made[i].GetLength(), 1 + i % 300);
            made[i].Empty();
        }
    });
    consumer.join();
    // The consumer's cached blocks went back to the shared lists at its exit.
    CTKString after(TKL('z'), 200);
    EXPECT_EQ(after.GetAllocLength(), 256);
}
