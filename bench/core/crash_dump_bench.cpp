// Writing a crash dump of a busy process: 8 threads (7 blocked besides the
// dumping one) and 200 MiB of touched anonymous memory, dumped to a file on
// the build's disk. The dump keeps stacks, not heap, so its size does not
// grow with the 200 MiB; the counter dump_bytes shows it.
#include <benchmark/benchmark.h>

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tavikfcu/TKCore.h"

namespace {

constexpr int kExtraThreads = 7;
constexpr std::size_t kMappedBytes = 200u << 20;

void* BlockForever(void*) {
    for (;;) pause();
    return nullptr;
}

// Starts the threads and maps the memory once, for the life of the program.
void MakeProcessBusy() {
    static bool busy = [] {
        for (int i = 0; i < kExtraThreads; ++i) {
            pthread_t thread;
            pthread_create(&thread, nullptr, BlockForever, nullptr);
            pthread_detach(thread);
        }
        void* memory =
            mmap(nullptr, kMappedBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory != MAP_FAILED) std::memset(memory, 0x5a, kMappedBytes);
        usleep(50 * 1000);  // let the threads block
        return true;
    }();
    (void)busy;
}

__attribute__((noinline)) void MakePointers(ucontext_t& context, siginfo_t& info) {
    getcontext(&context);
    std::memset(&info, 0, sizeof info);
    info.si_signo = SIGSEGV;
}

void BM_DumpBusyProcess(benchmark::State& state) {
    MakeProcessBusy();
    std::string path = "crash_dump_bench.dmp";
    std::u16string wide(path.begin(), path.end());
    ucontext_t context;
    siginfo_t info;
    MakePointers(context, info);
    _EXCEPTION_POINTERS pointers{&info, &context};
    struct stat written {};
    for (auto _ : state) {
        // Each dump makes a new file, as dumps named by the time do; ext4
        // would flush a file emptied and rewritten in place on close.
        state.PauseTiming();
        unlink(path.c_str());
        state.ResumeTiming();
        TKErrorUtils::DbgDumpErrorFile(&pointers, wide.c_str());
    }
    stat(path.c_str(), &written);
    state.counters["dump_bytes"] = static_cast<double>(written.st_size);
    unlink(path.c_str());
}

}  // namespace

BENCHMARK(BM_DumpBusyProcess)
    ->Name("DumpBusyProcess8Threads200MiB/tk")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
