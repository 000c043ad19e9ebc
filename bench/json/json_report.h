// The JSON benchmarks' reporter: the table as usual, and behind it the
// median of every counter per benchmark, from the "median" aggregate under
// --benchmark_repetitions or from the runs themselves otherwise, for the
// summaries printed at the end.
#ifndef TAVIKFCU_BENCH_JSON_REPORT_H
#define TAVIKFCU_BENCH_JSON_REPORT_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace tkjsonbench {

class MedianCounters : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name != "median") continue;
                for (const auto& [counter, value] : run.counters)
                    m_medians[name][counter] = value.value;
                continue;
            }
            for (const auto& [counter, value] : run.counters)
                m_samples[name][counter].push_back(value.value);
        }
    }

    // The median of counter for benchmark name; 0 when it did not run.
    double Get(const std::string& name, const std::string& counter) const {
        auto m = m_medians.find(name);
        if (m != m_medians.end()) {
            auto c = m->second.find(counter);
            return c == m->second.end() ? 0 : c->second;
        }
        auto s = m_samples.find(name);
        if (s == m_samples.end()) return 0;
        auto c = s->second.find(counter);
        if (c == s->second.end() || c->second.empty()) return 0;
        std::vector<double> v = c->second;
        std::sort(v.begin(), v.end());
        std::size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

  private:
    std::map<std::string, std::map<std::string, double>> m_medians;
    std::map<std::string, std::map<std::string, std::vector<double>>> m_samples;
};

// The generated-document sweep (json_sweep_bench.cpp).
void RegisterSweep();
// Heap bytes per value of every generated document and library; run before
// the benchmarks, in a child process whose heap the timings never see.
void MeasureSweepMemory();
void PrintSweepSummary(const MedianCounters& r);

}  // namespace tkjsonbench

#endif  // TAVIKFCU_BENCH_JSON_REPORT_H
