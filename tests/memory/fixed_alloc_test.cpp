// The fixed-block allocator, the scratch pools and scratch buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "memory/scratch_pools.h"
#include "string/temp_strings.h"
#include "tavikfcu/TKCore.h"

TEST(FixedAlloc, FirstChunkIsCarvedInAscendingOrder) {
    CTKFixedAlloc alloc(144, 64);
    EXPECT_EQ(alloc.GetAllocSize(), 144u);
    std::vector<char*> blocks;
    for (int i = 0; i < 64; ++i) blocks.push_back(static_cast<char*>(alloc.Alloc()));
    for (int i = 1; i < 64; ++i) EXPECT_EQ(blocks[i] - blocks[i - 1], 144) << "block " << i;
    // The 65th block comes from a second chunk, outside the first one.
    char* next = static_cast<char*>(alloc.Alloc());
    EXPECT_TRUE(next < blocks.front() || next > blocks.back());
}

TEST(FixedAlloc, ReusesLastFreedBlockFirst) {
    CTKFixedAlloc alloc(32, 4);
    void* a = alloc.Alloc();
    void* b = alloc.Alloc();
    alloc.Free(a);
    alloc.Free(b);
    EXPECT_EQ(alloc.Alloc(), b);
    EXPECT_EQ(alloc.Alloc(), a);
    alloc.Free(nullptr);  // ignored
}

TEST(FixedAlloc, SmallBlockSizeIsRaisedToAPointer) {
    CTKFixedAlloc alloc(1, 8);
    EXPECT_EQ(alloc.GetAllocSize(), sizeof(void*));
    void* a = alloc.Alloc();
    void* b = alloc.Alloc();
    EXPECT_EQ(static_cast<char*>(b) - static_cast<char*>(a),
              static_cast<std::ptrdiff_t>(sizeof(void*)));
}

TEST(FixedAlloc, FreeAllStartsOver) {
    CTKFixedAlloc alloc(64, 8);
    alloc.FreeAll();  // never allocated: nothing happens
    for (int i = 0; i < 20; ++i) alloc.Alloc();
    alloc.FreeAll();
    void* fresh = alloc.Alloc();  // a fresh chunk; ASan sees no leak of the old ones
    EXPECT_NE(fresh, nullptr);
}

// More allocators than a thread has cache slots, used in turn: some share
// a slot, and every block is still handed to one holder at a time.
TEST(FixedAlloc, ManyAllocatorsOnOneThread) {
    std::vector<std::unique_ptr<CTKFixedAlloc>> allocs;
    for (int i = 0; i < 20; ++i) allocs.push_back(std::make_unique<CTKFixedAlloc>(32, 8));
    std::set<void*> held;
    std::vector<std::pair<CTKFixedAlloc*, void*>> order;
    for (int round = 0; round < 30; ++round) {
        for (auto& alloc : allocs) {
            void* block = alloc->Alloc();
            ASSERT_TRUE(held.insert(block).second) << "round " << round;
            order.emplace_back(alloc.get(), block);
        }
        if (round % 3 == 2) {  // give back the older half, in turn as well
            for (std::size_t i = 0; i < order.size() / 2; ++i) {
                held.erase(order[i].second);
                order[i].first->Free(order[i].second);
            }
            order.erase(order.begin(),
                        order.begin() + static_cast<std::ptrdiff_t>(order.size() / 2));
        }
    }
    for (auto& [alloc, block] : order) alloc->Free(block);
    CTKFixedAlloc& last = *allocs.back();
    void* a = last.Alloc();
    last.Free(a);
    EXPECT_EQ(last.Alloc(), a);  // last freed, first reused, whichever path it took
}

TEST(ScratchPools, AccessorsSharePoolsByBlockSize) {
    EXPECT_EQ(_TempData64B(), _TempData128B());
    EXPECT_EQ(_TempData64B(), _TempDataStr64());
    EXPECT_EQ(_TempData256B(), _TempDataStr128());
    EXPECT_EQ(_TempData512B(), _TempDataStr256());
    EXPECT_EQ(_TempData1024B(), _TempDataStr512());
    std::set<CTKFixedAlloc*> distinct{_TempData64B(), _TempData256B(), _TempData512B(),
                                      _TempData1024B()};
    EXPECT_EQ(distinct.size(), 4u);
    EXPECT_EQ(_TempData64B()->GetAllocSize(), 144u);
    EXPECT_EQ(_TempData256B()->GetAllocSize(), 272u);
    EXPECT_EQ(_TempData512B()->GetAllocSize(), 528u);
    EXPECT_EQ(_TempData1024B()->GetAllocSize(), 1040u);
}

TEST(ScratchPools, BufferSizeChoosesThePool) {
    struct Row {
        int bytes;
        CTKFixedAlloc* pool;
    } rows[] = {{1, _TempData64B()},     {127, _TempData64B()},    {128, _TempData256B()},
                {255, _TempData256B()},  {256, _TempData512B()},   {511, _TempData512B()},
                {512, _TempData1024B()}, {1023, _TempData1024B()}, {1024, nullptr}};
    for (const Row& row : rows) {
        tk::detail::CTempData data;
        void* block = tk::detail::ObtainScratch(data, row.bytes);
        EXPECT_EQ(data.pool, row.pool) << row.bytes << " bytes";
        EXPECT_EQ(data.size, row.bytes);
        static_cast<char*>(block)[row.bytes - 1] = 1;  // the whole size is usable
        tk::detail::ReleaseScratch(data);
    }
}

TEST(ScratchPools, ReleasedBlockIsReusedAtOnce) {
    tk::detail::CTempData first;
    void* block = tk::detail::ObtainScratch(first, 100);
    tk::detail::ReleaseScratch(first);
    tk::detail::CTempData second;
    EXPECT_EQ(tk::detail::ObtainScratch(second, 50), block);
    tk::detail::ReleaseScratch(second);
}

TEST(ScratchHolders, ConvertAndHandleNull) {
    CTempAnsiString none(nullptr);
    EXPECT_EQ(none.Text(), nullptr);
    CTempWideString noneWide(nullptr);
    EXPECT_EQ(noneWide.Text(), nullptr);

    CTempAnsiString ansi(TKL("Zürich"));
    EXPECT_STREQ(ansi.Text(), "Zürich");
    EXPECT_EQ(ansi.Size(), 8);  // UTF-8 bytes with the terminator

    CTempUtf8WideString wide("中文");
    ASSERT_NE(wide.Text(), nullptr);
    EXPECT_EQ(std::u16string(wide.Text()), u"中文");
}
