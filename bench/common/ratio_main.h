// A main() for benchmark programs that prints, after the usual table, how
// TavikFCU compares with each peer measured in the same binary.
//
// Name benchmarks "Case/Impl[/args...]", for example "CopyDestroy20/tk" and
// "CopyDestroy20/u16string". Runs whose Impl is "tk" are ours; every other
// Impl of the same Case (and the same arguments, e.g. threads:2) is a peer,
// and one line per peer gives "peer time / tk time" (above 1: we are faster).
//
//     BENCHMARK(BM_Find)->Name("Find1MB/tk");
//     TK_BENCHMARK_RATIO_MAIN()
#ifndef TAVIKFCU_BENCH_RATIO_MAIN_H
#define TAVIKFCU_BENCH_RATIO_MAIN_H

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tkbench {

// Whether a run stands for its benchmark in a summary: a run of its own or,
// with --benchmark_repetitions, the median of the repetitions (reported after
// them, so it overwrites their figures). Programs with summaries of their own
// key them by SummaryName.
inline bool IsSummaryRun(const benchmark::BenchmarkReporter::Run& run) {
    using Run = benchmark::BenchmarkReporter::Run;
    if (run.error_occurred) return false;
    return run.run_type == Run::RT_Iteration ||
           (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median");
}
// The benchmark's name without an aggregate's suffix ("Load/TK/small").
inline std::string SummaryName(const benchmark::BenchmarkReporter::Run& run) {
    return run.run_name.str();
}

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With --benchmark_repetitions the median stands for the runs
            // (it is reported after them, so it overwrites their times).
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred) continue;
            std::string name = run.run_name.str();
            std::size_t slash = name.find('/');
            if (slash == std::string::npos) continue;
            std::size_t next = name.find('/', slash + 1);
            std::string impl =
                name.substr(slash + 1, next == std::string::npos ? next : next - slash - 1);
            std::string key =
                name.substr(0, slash) + (next == std::string::npos ? "" : name.substr(next));
            times_[key][impl] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nRatios (peer time / TavikFCU time; above 1 means TavikFCU is faster):\n");
        for (const auto& [key, impls] : times_) {
            auto ours = impls.find("tk");
            if (ours == impls.end() || ours->second <= 0) continue;
            for (const auto& [impl, t] : impls)
                if (impl != "tk")
                    std::printf("  %-44s %-14s %8.2fx\n", key.c_str(), impl.c_str(),
                                t / ours->second);
        }
    }

  private:
    std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace tkbench

#define TK_BENCHMARK_RATIO_MAIN()                     \
    int main(int argc, char** argv) {                 \
        benchmark::Initialize(&argc, argv);           \
        tkbench::RatioReporter reporter;              \
        benchmark::RunSpecifiedBenchmarks(&reporter); \
        benchmark::Shutdown();                        \
        return 0;                                     \
    }

#endif  // TAVIKFCU_BENCH_RATIO_MAIN_H
