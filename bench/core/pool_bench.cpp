// CTKFixedAlloc Alloc+Free of 144-byte blocks against glibc malloc+free,
// on one thread and with two threads contending for the same pool.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "common/ratio_main.h"
#include "tavikfcu/TKCore.h"

namespace {

CTKFixedAlloc* Pool() {
    return _TempDataStr64();
}

void BM_PoolAllocFree(benchmark::State& state) {
    CTKFixedAlloc* pool = Pool();
    for (auto _ : state) {
        void* p = pool->Alloc();
        benchmark::DoNotOptimize(p);
        pool->Free(p);
    }
}

void BM_MallocFree(benchmark::State& state) {
    for (auto _ : state) {
        void* p = std::malloc(144);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}

}  // namespace

BENCHMARK(BM_PoolAllocFree)->Name("AllocFree144/tk")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_MallocFree)->Name("AllocFree144/malloc")->Threads(1)->Threads(2)->UseRealTime();

TK_BENCHMARK_RATIO_MAIN()
