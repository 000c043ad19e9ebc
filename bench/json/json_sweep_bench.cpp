// The size sweep: generated documents from 1 KB to 100 MB, read by this
// library, RapidJSON's UTF-16 DOM and nlohmann::json, in nanoseconds and
// heap bytes per value (measured once before any timing, see
// MeasureSweepMemory); and written back, compact and formatted, by this
// library and RapidJSON's UTF-16 writers into UTF-16 text in memory.
//
// A document is {"records":[...]} with records of 14 small values counting
// the record itself: an id, a short id string, a name, a Chinese city, a
// string with an escaped quote, two decimals, a boolean, a two-element array
// and a one-member object. Sizes are of the UTF-8 text; TavikFCU and
// RapidJSON read its UTF-16 form, nlohmann the UTF-8 one.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "json_peers.h"
#include "json_report.h"

namespace tkjsonbench {

namespace {

struct Generated {
    std::string utf8;
    std::u16string utf16;
    std::size_t values = 0;  // containers included
};

std::string Record(unsigned n) {
    char buffer[320];
    std::snprintf(buffer, sizeof buffer,
                  "{\"id\":%u,\"uid\":\"u%07u\",\"name\":\"user %u\",\"city\":\"西安\","
                  "\"quote\":\"say \\\"hi\\\"\",\"lat\":%u.%04u,\"score\":%u.5,\"active\":%s,"
                  "\"tags\":[%u,%u],\"box\":{\"w\":%u.25}}",
                  n, n, n, 30 + n % 10, n % 10000, n % 100, n % 3 ? "true" : "false", n % 7, n % 11,
                  n % 50);
    return buffer;
}

const Generated& Document(std::size_t bytes) {
    static std::map<std::size_t, std::unique_ptr<Generated>> documents;
    auto& slot = documents[bytes];
    if (!slot) {
        slot.reset(new Generated);
        std::string& text = slot->utf8;
        text.reserve(bytes + 512);
        text = "{\"records\":[";
        unsigned n = 0;
        do {
            if (n) text += ',';
            text += Record(n++);
        } while (text.size() + 2 < bytes);
        text += "]}";
        slot->utf16 = Utf8To16(text);
        slot->values = 2 + 14 * static_cast<std::size_t>(n);
    }
    return *slot;
}

std::string SizeName(std::size_t bytes) {
    if (bytes >= (1u << 20)) return std::to_string(bytes >> 20) + "MB";
    return std::to_string(bytes >> 10) + "KB";
}

// Heap bytes per value by "impl/size", from MeasureSweepMemory.
std::map<std::string, double>& BytesPerValue() {
    static std::map<std::string, double> table;
    return table;
}

void SetCounters(benchmark::State& state, const Generated& doc, const std::string& key) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(doc.utf16.size() * sizeof(char16_t)));
    state.counters["ns/value"] = benchmark::Counter(
        static_cast<double>(doc.values) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    auto it = BytesPerValue().find(key);
    if (it != BytesPerValue().end()) state.counters["B/value"] = it->second;
}

const TKWCHAR* Text(const Generated& doc) {
    return reinterpret_cast<const TKWCHAR*>(doc.utf16.c_str());
}

void BM_Sweep_TK(benchmark::State& state, std::size_t bytes) {
    const Generated& doc = Document(bytes);
    {
        CMyJsonObj obj;
        if (!obj.Load(Text(doc)) || CountValues(obj) != doc.values)
            return state.SkipWithError("load failed or values lost");
    }
    for (auto _ : state) {
        CMyJsonObj obj;
        if (!obj.Load(Text(doc))) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(obj.ValueCount());
    }
    SetCounters(state, doc, "TK/" + SizeName(bytes));
}

#if HAVE_RAPIDJSON
void BM_Sweep_RapidJSON(benchmark::State& state, std::size_t bytes) {
    const Generated& doc = Document(bytes);
    {
        CMyJsonObj ours;
        if (!ours.Load(Text(doc))) return state.SkipWithError("TavikFCU load failed");
        RapidDocument d;
        d.Parse(doc.utf16.c_str());
        if (d.HasParseError() || !RapidView::Same(ours, d))
            return state.SkipWithError("RapidJSON read another document");
    }
    for (auto _ : state) {
        RapidDocument d;
        d.Parse(doc.utf16.c_str());
        if (d.HasParseError()) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(d.MemberCount());
    }
    SetCounters(state, doc, "RapidJSON/" + SizeName(bytes));
}
#endif

#if HAVE_NLOHMANN
void BM_Sweep_nlohmann(benchmark::State& state, std::size_t bytes) {
    const Generated& doc = Document(bytes);
    {
        CMyJsonObj ours;
        if (!ours.Load(Text(doc))) return state.SkipWithError("TavikFCU load failed");
        nlohmann::json j = nlohmann::json::parse(doc.utf8);
        if (!NlohmannView::Same(ours, j))
            return state.SkipWithError("nlohmann read another document");
    }
    for (auto _ : state) {
        nlohmann::json j = nlohmann::json::parse(doc.utf8);
        benchmark::DoNotOptimize(j.size());
    }
    SetCounters(state, doc, "nlohmann/" + SizeName(bytes));
}
#endif

// ---- writing ----------------------------------------------------------------

void BM_SweepWrite_TK(benchmark::State& state, std::size_t bytes, bool formatted) {
    const Generated& doc = Document(bytes);
    CMyJsonObj obj;
    if (!obj.Load(Text(doc))) return state.SkipWithError("load failed");
    for (auto _ : state) {
        CTKString text = obj.CreateJson(formatted);
        benchmark::DoNotOptimize(text.GetLength());
    }
    SetCounters(state, doc, "");
}

#if HAVE_RAPIDJSON
void BM_SweepWrite_RapidJSON(benchmark::State& state, std::size_t bytes, bool formatted) {
    const Generated& doc = Document(bytes);
    RapidDocument d;
    {
        CMyJsonObj ours;
        if (!ours.Load(Text(doc))) return state.SkipWithError("TavikFCU load failed");
        d.Parse(doc.utf16.c_str());
        if (d.HasParseError() || !RapidView::Same(ours, d))
            return state.SkipWithError("RapidJSON read another document");
    }
    using Buffer = rapidjson::GenericStringBuffer<RapidUtf16>;
    for (auto _ : state) {
        Buffer out;
        if (formatted) {
            rapidjson::PrettyWriter<Buffer, RapidUtf16, RapidUtf16> writer(out);
            writer.SetIndent('\t', 1);
            d.Accept(writer);
        } else {
            rapidjson::Writer<Buffer, RapidUtf16, RapidUtf16> writer(out);
            d.Accept(writer);
        }
        benchmark::DoNotOptimize(out.GetSize());
    }
    SetCounters(state, doc, "");
}
#endif

const std::size_t kSizes[] = {1u << 10, 16u << 10, 64u << 10, 1u << 20, 16u << 20, 100u << 20};

// Keeps every document of one library alive while the next is read, so that
// no block freed by an earlier document is reused unseen: what each read
// adds to the heap is what its document holds.
template <typename Load>
void MeasureEach(const char* impl, Load load) {
    std::vector<std::shared_ptr<void>> keep;
    for (std::size_t bytes : kSizes) {
        const Generated& doc = Document(bytes);
        std::size_t before = HeapInUse();
        keep.push_back(load(doc));
        BytesPerValue()[std::string(impl) + "/" + SizeName(bytes)] =
            static_cast<double>(HeapInUse() - before) / static_cast<double>(doc.values);
    }
}

}  // namespace

void MeasureSweepMemory() {
    for (std::size_t bytes : kSizes) Document(bytes);  // all texts first, shared with the child
    // The pass runs in a child process: the pools keep the blocks of every
    // document it reads, scattered, and the timings must not inherit them.
    int channel[2];
    if (pipe(channel) != 0) return;
    pid_t child = fork();
    if (child < 0) return;
    if (child == 0) {
        close(channel[0]);
        MeasureEach("TK", [](const Generated& doc) {
            auto obj = std::make_shared<CMyJsonObj>();
            obj->Load(Text(doc));
            return std::shared_ptr<void>(obj);
        });
#if HAVE_RAPIDJSON
        MeasureEach("RapidJSON", [](const Generated& doc) {
            auto d = std::make_shared<RapidDocument>();
            d->Parse(doc.utf16.c_str());
            return std::shared_ptr<void>(d);
        });
#endif
#if HAVE_NLOHMANN
        MeasureEach("nlohmann", [](const Generated& doc) {
            return std::shared_ptr<void>(
                std::make_shared<nlohmann::json>(nlohmann::json::parse(doc.utf8)));
        });
#endif
        std::string lines;
        for (const auto& [key, value] : BytesPerValue())
            lines += key + " " + std::to_string(value) + "\n";
        for (std::size_t done = 0; done < lines.size();) {
            ssize_t n = write(channel[1], lines.data() + done, lines.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(channel[1]);
    std::string lines;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        lines.append(buffer, static_cast<std::size_t>(n));
    close(channel[0]);
    waitpid(child, nullptr, 0);
    std::istringstream in(lines);
    std::string key;
    double value;
    while (in >> key >> value) BytesPerValue()[key] = value;
}

void RegisterSweep() {
    for (std::size_t bytes : kSizes) {
        std::string size = SizeName(bytes);
        benchmark::RegisterBenchmark(("Sweep/TK/" + size).c_str(), BM_Sweep_TK, bytes);
#if HAVE_RAPIDJSON
        benchmark::RegisterBenchmark(("Sweep/RapidJSON/" + size).c_str(), BM_Sweep_RapidJSON,
                                     bytes);
#endif
#if HAVE_NLOHMANN
        benchmark::RegisterBenchmark(("Sweep/nlohmann/" + size).c_str(), BM_Sweep_nlohmann, bytes);
#endif
        for (bool formatted : {false, true}) {
            std::string form = formatted ? "/formatted" : "/compact";
            benchmark::RegisterBenchmark(("SweepWrite/TK/" + size + form).c_str(), BM_SweepWrite_TK,
                                         bytes, formatted);
#if HAVE_RAPIDJSON
            benchmark::RegisterBenchmark(("SweepWrite/RapidJSON/" + size + form).c_str(),
                                         BM_SweepWrite_RapidJSON, bytes, formatted);
#endif
        }
    }
}

void PrintSweepSummary(const MedianCounters& r) {
    std::printf("\nsize sweep (medians; ratio = TavikFCU speed / peer speed, above 1: faster)\n");
    std::printf("%-7s %9s %9s %9s %9s %9s %8s %8s %8s\n", "size", "tk ns/v", "rapid", "nlohm",
                "vs rapid", "vs nlohm", "tk B/v", "rapid", "nlohm");
    double first[2] = {0, 0}, last[2] = {0, 0};
    for (std::size_t bytes : kSizes) {
        std::string size = SizeName(bytes);
        double tk = r.Get("Sweep/TK/" + size, "ns/value");
        if (tk <= 0) continue;
        double rapid = r.Get("Sweep/RapidJSON/" + size, "ns/value");
        double nlohm = r.Get("Sweep/nlohmann/" + size, "ns/value");
        std::printf("%-7s %9.1f %9.1f %9.1f %9.2f %9.2f %8.1f %8.1f %8.1f\n", size.c_str(), tk,
                    rapid, nlohm, rapid > 0 ? rapid / tk : 0, nlohm > 0 ? nlohm / tk : 0,
                    BytesPerValue()["TK/" + size], BytesPerValue()["RapidJSON/" + size],
                    BytesPerValue()["nlohmann/" + size]);
        if (bytes == (64u << 10)) first[0] = tk, first[1] = rapid;
        last[0] = tk, last[1] = rapid;
    }
    if (first[0] > 0 && first[1] > 0)
        std::printf("time per value, largest size / 64KB: TavikFCU %.2fx, RapidJSON %.2fx\n",
                    last[0] / first[0], last[1] / first[1]);

    bool header = false;
    for (std::size_t bytes : kSizes) {
        std::string size = SizeName(bytes);
        double v[4];  // TavikFCU and RapidJSON ns/value, compact then formatted
        int i = 0;
        for (const char* form : {"/compact", "/formatted"})
            for (const char* impl : {"TK/", "RapidJSON/"})
                v[i++] = r.Get("SweepWrite/" + std::string(impl) + size + form, "ns/value");
        if (v[0] <= 0 && v[2] <= 0) continue;
        if (!header) {
            std::printf(
                "\nwriting, size sweep (medians; ratio = TavikFCU speed / RapidJSON speed)\n");
            std::printf("%-7s %9s %9s %9s %9s %9s %9s\n", "size", "compact", "rapid", "ratio",
                        "formatd", "rapid", "ratio");
            header = true;
        }
        std::printf("%-7s %9.1f %9.1f %9.2f %9.1f %9.1f %9.2f\n", size.c_str(), v[0], v[1],
                    v[0] > 0 && v[1] > 0 ? v[1] / v[0] : 0, v[2], v[3],
                    v[2] > 0 && v[3] > 0 ? v[3] / v[2] : 0);
    }
}

}  // namespace tkjsonbench
