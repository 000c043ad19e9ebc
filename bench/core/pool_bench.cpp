// Fixed-block allocation against glibc malloc+free, on one thread and with
// two threads sharing the allocator, in two patterns: one block taken and
// freed at once ("Pair"), and 1,000 blocks taken then freed ("Run1000",
// time per block). "Scratch" is the library's 144-byte scratch pool;
// "Own" is a CTKFixedAlloc of 144-byte blocks that the program made itself.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "common/ratio_main.h"
#include "tavikfcu/TKCore.h"

namespace {

constexpr int kRun = 1000;

CTKFixedAlloc* Own() {
    static CTKFixedAlloc own(144, 64);
    return &own;
}

template <CTKFixedAlloc* (*Pool)()>
void BM_PoolPair(benchmark::State& state) {
    CTKFixedAlloc* pool = Pool();
    for (auto _ : state) {
        void* p = pool->Alloc();
        benchmark::DoNotOptimize(p);
        pool->Free(p);
    }
}

void BM_MallocPair(benchmark::State& state) {
    for (auto _ : state) {
        void* p = std::malloc(144);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}

template <CTKFixedAlloc* (*Pool)()>
void BM_PoolRun(benchmark::State& state) {
    CTKFixedAlloc* pool = Pool();
    std::vector<void*> blocks(kRun);
    for (auto _ : state) {
        for (void*& p : blocks) p = pool->Alloc();
        benchmark::DoNotOptimize(blocks.data());
        for (void* p : blocks) pool->Free(p);
    }
    state.SetItemsProcessed(state.iterations() * kRun);
}

void BM_MallocRun(benchmark::State& state) {
    std::vector<void*> blocks(kRun);
    for (auto _ : state) {
        for (void*& p : blocks) p = std::malloc(144);
        benchmark::DoNotOptimize(blocks.data());
        for (void* p : blocks) std::free(p);
    }
    state.SetItemsProcessed(state.iterations() * kRun);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_PoolPair, _TempDataStr64)
    ->Name("ScratchPair/tk")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
BENCHMARK(BM_MallocPair)->Name("ScratchPair/malloc")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_PoolRun, _TempDataStr64)
    ->Name("ScratchRun1000/tk")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
BENCHMARK(BM_MallocRun)->Name("ScratchRun1000/malloc")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_PoolPair, Own)->Name("OwnPair/tk")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_MallocPair)->Name("OwnPair/malloc")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_PoolRun, Own)->Name("OwnRun1000/tk")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_MallocRun)->Name("OwnRun1000/malloc")->Threads(1)->Threads(2)->UseRealTime();

TK_BENCHMARK_RATIO_MAIN()
