// Reading every row of a generated 100 MB CSV file (10 columns, some quoted,
// some Chinese text, UTF-8 with a byte-order mark): CTKCSVFileReader::NextRow
// against libcsv turning the same fields into std::u16string. Reports MB/s,
// rows/s, the peak resident set of each reader (reset before each run), and
// the ratio of the two speeds.
//
//     build-bench/bench/bench_file [--benchmark_filter=...]
//     TK_BENCH_CSV=/path/file.csv  reuses (or creates) the data file there.
#include <benchmark/benchmark.h>

#include "common/ratio_main.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tavikfcu/TKFile.h"

#if HAVE_LIBCSV
#include <csv.h>
#endif

namespace {

constexpr std::size_t kTargetBytes = 100u << 20;

std::string DataPath() {
    if (const char* p = std::getenv("TK_BENCH_CSV")) return p;
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/tk_bench_csv_100mb.csv";
}

std::uint64_t FileSize(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fclose(f);
    return n > 0 ? static_cast<std::uint64_t>(n) : 0;
}

// Rows like
//   17,user_17,"Lane 3, ""North"" gate",42.125,true,2024-03-05 08:07:09,北京市海淀区,x,,9
// written through a 1 MB buffer so that making the file costs no memory.
void MakeData(const std::string& path) {
    if (FileSize(path) >= kTargetBytes) return;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        std::exit(1);
    }
    static const char* kCities[] = {"北京市海淀区", "上海市浦东新区", "Zürich", "Berlin Mitte",
                                    "广州市天河区"};
    std::string chunk;
    chunk.reserve(1 << 20);
    chunk += "\xEF\xBB\xBFid,name,address,score,flag,time,city,tag,empty,n\n";
    std::size_t written = 0;
    std::uint32_t seed = 2024;
    char line[512];
    for (std::uint64_t id = 0; written + chunk.size() < kTargetBytes; ++id) {
        seed = seed * 1664525u + 1013904223u;
        int n = std::snprintf(line, sizeof line,
                              "%llu,user_%u,\"Lane %u, \"\"North\"\" gate\",%u.%03u,%s,"
                              "2024-%02u-%02u %02u:%02u:%02u,%s,%s,,%u\n",
                              static_cast<unsigned long long>(id), seed % 100000, seed % 97,
                              seed % 1000, (seed >> 10) % 1000, (seed & 1) ? "true" : "false",
                              1 + seed % 12, 1 + (seed >> 4) % 28, (seed >> 8) % 24,
                              (seed >> 12) % 60, (seed >> 16) % 60, kCities[(seed >> 20) % 5],
                              (seed >> 24) % 3 ? "x" : "\"quoted tag\"", seed % 10);
        chunk.append(line, static_cast<std::size_t>(n));
        if (chunk.size() > (1 << 20) - 512) {
            std::fwrite(chunk.data(), 1, chunk.size(), f);
            written += chunk.size();
            chunk.clear();
        }
    }
    std::fwrite(chunk.data(), 1, chunk.size(), f);
    std::fclose(f);
}

// Peak resident set since the last reset, and the current one, in bytes.
// Writing 5 to clear_refs resets the peak (Linux 4.0 and later).
void ResetPeakRss() {
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

double StatusKb(const char* key) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    double kb = 0;
    std::size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0) kb = std::atof(line + n);
    std::fclose(f);
    return kb;
}

struct Totals {
    std::uint64_t rows = 0;
    std::uint64_t fields = 0;
    std::uint64_t units = 0;  // UTF-16 units in all fields: both readers must agree
};
std::map<std::string, Totals> g_totals;

void Report(benchmark::State& state, const char* key, const Totals& t, std::uint64_t bytes,
            double rssBeforeKb) {
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(t.rows * state.iterations()),
                                                  benchmark::Counter::kIsRate);
    double peakKb = StatusKb("VmHWM:");
    state.counters["peakRSS_MB"] = peakKb / 1024;
    state.counters["RSSgrowth_MB"] = (peakKb - rssBeforeKb) / 1024;
    g_totals[key] = t;
}

void BM_TkNextRow(benchmark::State& state) {
    const std::string path = DataPath();
    const std::uint64_t bytes = FileSize(path);
    std::u16string wpath(path.begin(), path.end());
    ResetPeakRss();
    double before = StatusKb("VmRSS:");
    Totals t;
    for (auto _ : state) {
        t = Totals();
        CTKCSVFileReader reader;
        if (!reader.Open(wpath.c_str())) {
            state.SkipWithError("open failed");
            return;
        }
        std::vector<CTKString> row;
        while (reader.NextRow(row)) {
            ++t.rows;
            t.fields += row.size();
            for (const CTKString& f : row) t.units += static_cast<std::uint64_t>(f.GetLength());
        }
        benchmark::DoNotOptimize(row.data());
    }
    Report(state, "tk", t, bytes, before);
}
BENCHMARK(BM_TkNextRow)->Unit(benchmark::kMillisecond)->Iterations(3);

#if HAVE_LIBCSV
// UTF-8 to UTF-16 for the peer's fields: an ASCII run copies straight.
void AppendUtf16(std::u16string& out, const unsigned char* s, std::size_t n) {
    out.resize(n);
    char16_t* o = out.data();
    std::size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        if (b < 0x80) {
            *o++ = b;
            ++i;
            continue;
        }
        char32_t cp;
        std::size_t len;
        if (b >= 0xF0 && i + 3 < n) {
            cp = ((b & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
                 (s[i + 3] & 0x3Fu);
            len = 4;
        } else if (b >= 0xE0 && i + 2 < n) {
            cp = ((b & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
            len = 3;
        } else if (b >= 0xC0 && i + 1 < n) {
            cp = ((b & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
            len = 2;
        } else {
            cp = 0xFFFD;
            len = 1;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *o++ = static_cast<char16_t>(cp);
        }
        i += len;
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
}

struct PeerRow {
    std::vector<std::u16string> fields;
    Totals totals;
    bool header = true;  // the reader keeps the first row apart; so does this count
};

void OnField(void* data, std::size_t len, void* ctx) {
    auto* row = static_cast<PeerRow*>(ctx);
    std::u16string& field = row->fields.emplace_back();
    if (len) AppendUtf16(field, static_cast<const unsigned char*>(data), len);
}

void OnRowEnd(int, void* ctx) {
    auto* row = static_cast<PeerRow*>(ctx);
    if (std::exchange(row->header, false)) {
        row->fields.clear();
        return;
    }
    ++row->totals.rows;
    row->totals.fields += row->fields.size();
    for (const std::u16string& f : row->fields) row->totals.units += f.size();
    row->fields.clear();
}

void BM_LibcsvU16(benchmark::State& state) {
    const std::string path = DataPath();
    const std::uint64_t bytes = FileSize(path);
    ResetPeakRss();
    double before = StatusKb("VmRSS:");
    Totals t;
    std::vector<char> chunk(1 << 16);
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) {
            state.SkipWithError("open failed");
            return;
        }
        csv_parser parser;
        csv_init(&parser, 0);
        PeerRow row;
        bool first = true;
        std::size_t n;
        while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
            const char* p = chunk.data();
            if (first && n >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
                p += 3;
                n -= 3;
            }
            first = false;
            csv_parse(&parser, p, n, OnField, OnRowEnd, &row);
        }
        csv_fini(&parser, OnField, OnRowEnd, &row);
        csv_free(&parser);
        std::fclose(f);
        t = row.totals;
    }
    Report(state, "peer", t, bytes, before);
}
BENCHMARK(BM_LibcsvU16)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

// Keeps each run's CPU time so that the ratio can be printed at the end (CPU
// time: the machine is shared, and both readers make the same system calls).
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (tkbench::IsSummaryRun(r)) seconds[tkbench::SummaryName(r)] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
    MakeData(DataPath());
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double tk = 0, peer = 0;
    for (const auto& [name, t] : reporter.seconds) {
        if (name.rfind("BM_TkNextRow", 0) == 0) tk = t;
        if (name.rfind("BM_LibcsvU16", 0) == 0) peer = t;
    }
    if (tk > 0 && peer > 0) {
        std::printf("ratio tk/libcsv speed (CPU time) = %.2f (>1: TavikFCU faster)\n", peer / tk);
        const Totals& a = g_totals["tk"];
        const Totals& b = g_totals["peer"];
        std::printf(
            "rows %llu/%llu, fields %llu/%llu, UTF-16 units %llu/%llu: %s\n",
            static_cast<unsigned long long>(a.rows), static_cast<unsigned long long>(b.rows),
            static_cast<unsigned long long>(a.fields), static_cast<unsigned long long>(b.fields),
            static_cast<unsigned long long>(a.units), static_cast<unsigned long long>(b.units),
            a.rows == b.rows && a.fields == b.fields && a.units == b.units ? "same" : "DIFFERENT");
    }
    benchmark::Shutdown();
    return 0;
}
