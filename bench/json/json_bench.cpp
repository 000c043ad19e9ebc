// JSON benchmarks: reading (text to document) and writing (document to text,
// compact and formatted) of twitter.json, citm_catalog.json and canada.json,
// against RapidJSON's UTF-16 DOM and nlohmann::json in the same binary; the
// memory a loaded document holds; and the UTF-8 to UTF-16 conversion that
// the JSON file functions use, against glibc's iconv.
//
// Every figure for one document is given in MB/s of that document's UTF-16
// size (the input for reading, this library's output for writing), so the
// figures of the peers compare as inverse times. nlohmann reads and writes
// UTF-8, as it is meant to be used. The texts are converted to UTF-16 in
// memory before any timing. Every peer case first checks that the peer read
// the same document as TavikFCU. The size sweep of generated documents is in
// json_sweep_bench.cpp.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "json_peers.h"
#include "json_report.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"

using namespace tkjsonbench;

namespace {

const char* const kDocuments[] = {"twitter", "citm_catalog", "canada"};

struct Document {
    std::string utf8;
    std::u16string utf16;
    std::size_t utf16Bytes() const { return utf16.size() * sizeof(char16_t); }
};

std::map<std::string, Document>& Documents() {
    static std::map<std::string, Document> documents;
    return documents;
}

// The data folder: TK_BENCH_DATA_DIR when set (a work tree elsewhere than
// beside the shared folder), else the one the build was configured with.
std::string DataFolder() {
    const char* folder = std::getenv("TK_BENCH_DATA_DIR");
    return folder && *folder ? folder : TK_BENCH_DATA;
}

bool LoadDocuments() {
    for (const char* name : kDocuments) {
        std::ifstream in(DataFolder() + "/" + name + ".json", std::ios::binary);
        if (!in) {
            std::fprintf(stderr,
                         "bench_json: %s.json is missing from %s; the JSON benchmarks need "
                         "twitter.json, citm_catalog.json and canada.json there (set "
                         "TK_BENCH_DATA_DIR to the folder that holds them)\n",
                         name, DataFolder().c_str());
            return false;
        }
        std::stringstream buffer;
        buffer << in.rdbuf();
        Document& doc = Documents()[name];
        doc.utf8 = buffer.str();
        int units = TKStringUtils::UTF82Unicode(doc.utf8.c_str(), nullptr, 0);
        doc.utf16.resize(static_cast<std::size_t>(units));
        TKStringUtils::UTF82Unicode(doc.utf8.c_str(), reinterpret_cast<TKWCHAR*>(&doc.utf16[0]),
                                    units);
        doc.utf16.resize(static_cast<std::size_t>(units - 1));  // drop the terminator
    }
    return true;
}

const TKWCHAR* Text(const Document& doc) {
    return reinterpret_cast<const TKWCHAR*>(doc.utf16.c_str());
}

// ---- reading ----------------------------------------------------------------------

void BM_Load_TK(benchmark::State& state, const char* name) {
    const Document& doc = Documents()[name];
    for (auto _ : state) {
        CMyJsonObj obj;
        if (!obj.Load(Text(doc))) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(obj.ValueCount());
    }
    state.SetBytesProcessed(state.iterations() * doc.utf16Bytes());
}

// Whether a peer read the same document as TavikFCU, checked once per
// document and peer before the first timing.
template <typename Check>
bool SameOnce(const std::string& key, Check check) {
    static std::map<std::string, bool> known;
    auto it = known.find(key);
    if (it == known.end()) it = known.emplace(key, check()).first;
    return it->second;
}

#if HAVE_RAPIDJSON
bool RapidReadsTheSame(const char* name) {
    return SameOnce(std::string("rapid/") + name, [name] {
        CMyJsonObj ours;
        RapidDocument d;
        d.Parse(Documents()[name].utf16.c_str());
        return ours.Load(Text(Documents()[name])) && !d.HasParseError() && RapidView::Same(ours, d);
    });
}

void BM_Load_RapidJSON(benchmark::State& state, const char* name) {
    const Document& doc = Documents()[name];
    if (!RapidReadsTheSame(name)) return state.SkipWithError("RapidJSON read another document");
    for (auto _ : state) {
        RapidDocument d;
        d.Parse(doc.utf16.c_str());
        if (d.HasParseError()) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(d.MemberCount());
    }
    state.SetBytesProcessed(state.iterations() * doc.utf16Bytes());
}
#endif

#if HAVE_NLOHMANN
bool NlohmannReadsTheSame(const char* name) {
    return SameOnce(std::string("nlohmann/") + name, [name] {
        CMyJsonObj ours;
        return ours.Load(Text(Documents()[name])) &&
               NlohmannView::Same(ours, nlohmann::json::parse(Documents()[name].utf8));
    });
}

void BM_Load_nlohmann(benchmark::State& state, const char* name) {
    const Document& doc = Documents()[name];
    if (!NlohmannReadsTheSame(name)) return state.SkipWithError("nlohmann read another document");
    for (auto _ : state) {
        nlohmann::json j = nlohmann::json::parse(doc.utf8);
        benchmark::DoNotOptimize(j.size());
    }
    state.SetBytesProcessed(state.iterations() * doc.utf16Bytes());
}
#endif

// ---- writing ----------------------------------------------------------------------

void BM_Write_TK(benchmark::State& state, const char* name, bool formatted) {
    CMyJsonObj obj;
    obj.Load(Text(Documents()[name]));
    std::size_t bytes = 0;
    for (auto _ : state) {
        CTKString text = obj.CreateJson(formatted);
        bytes = static_cast<std::size_t>(text.GetLength()) * sizeof(TKWCHAR);
        benchmark::DoNotOptimize(text.GetLength());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

// A deep copy and its destruction: the two whole-document walks besides
// reading and writing (no peer; before/after figures of this library).
void BM_CloneDestroy_TK(benchmark::State& state, const char* name) {
    const Document& doc = Documents()[name];
    CMyJsonObj obj;
    obj.Load(Text(doc));
    for (auto _ : state) {
        std::unique_ptr<CMyJsonObj> copy(obj.Clone());
        benchmark::DoNotOptimize(copy->ValueCount());
    }
    state.SetBytesProcessed(state.iterations() * doc.utf16Bytes());
}

// The UTF-16 size of this library's output, the common yardstick.
std::size_t TKOutputBytes(const char* name, bool formatted) {
    CMyJsonObj obj;
    obj.Load(Text(Documents()[name]));
    return static_cast<std::size_t>(obj.CreateJson(formatted).GetLength()) * sizeof(TKWCHAR);
}

#if HAVE_RAPIDJSON
void BM_Write_RapidJSON(benchmark::State& state, const char* name, bool formatted) {
    if (!RapidReadsTheSame(name)) return state.SkipWithError("RapidJSON read another document");
    RapidDocument d;
    d.Parse(Documents()[name].utf16.c_str());
    std::size_t bytes = TKOutputBytes(name, formatted);
    for (auto _ : state) {
        rapidjson::GenericStringBuffer<RapidUtf16> out;
        if (formatted) {
            rapidjson::PrettyWriter<rapidjson::GenericStringBuffer<RapidUtf16>, RapidUtf16,
                                    RapidUtf16>
                writer(out);
            writer.SetIndent('\t', 1);
            d.Accept(writer);
        } else {
            rapidjson::Writer<rapidjson::GenericStringBuffer<RapidUtf16>, RapidUtf16, RapidUtf16>
                writer(out);
            d.Accept(writer);
        }
        benchmark::DoNotOptimize(out.GetSize());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
#endif

#if HAVE_NLOHMANN
void BM_Write_nlohmann(benchmark::State& state, const char* name, bool formatted) {
    if (!NlohmannReadsTheSame(name)) return state.SkipWithError("nlohmann read another document");
    nlohmann::json j = nlohmann::json::parse(Documents()[name].utf8);
    std::size_t bytes = TKOutputBytes(name, formatted);
    for (auto _ : state) {
        std::string text = formatted ? j.dump(1, '\t') : j.dump();
        benchmark::DoNotOptimize(text.size());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
#endif

// ---- UTF-8 to UTF-16 -------------------------------------------------------------

// One pass into a buffer of known size, as the file reader does with the
// size it measured.
void BM_Utf8ToUtf16_TK(benchmark::State& state, const char* name) {
    const Document& doc = Documents()[name];
    std::vector<TKWCHAR> out(doc.utf16.size() + 1);
    for (auto _ : state) {
        int n =
            TKStringUtils::UTF82Unicode(doc.utf8.c_str(), out.data(), static_cast<int>(out.size()));
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(state.iterations() * doc.utf8.size());
}

void BM_Utf8ToUtf16_iconv(benchmark::State& state, const char* name) {
    const Document& doc = Documents()[name];
    std::vector<char16_t> out(doc.utf16.size() + 1);
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    for (auto _ : state) {
        char* in = const_cast<char*>(doc.utf8.data());
        std::size_t inLeft = doc.utf8.size();
        char* to = reinterpret_cast<char*>(out.data());
        std::size_t outLeft = out.size() * sizeof(char16_t);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        iconv(cd, &in, &inLeft, &to, &outLeft);
        benchmark::DoNotOptimize(outLeft);
    }
    iconv_close(cd);
    state.SetBytesProcessed(state.iterations() * doc.utf8.size());
}

// ---- memory of a loaded document ----------------------------------------------------

// Heap bytes held by the three loaded documents, per library. Measured
// before any benchmark runs and with all three documents alive at once, so
// that no block freed by an earlier load is reused unseen.
// TavikFCU's documents stay alive in keep: its pools reuse freed blocks
// without the heap seeing it, so the caller frees them only once every
// measurement is done.
void ReportMemory(std::vector<std::unique_ptr<CMyJsonObj>>& keep) {
    std::printf("\nmemory held by a loaded document (heap bytes in use, glibc mallinfo2):\n");
    std::printf("%-14s %12s %12s %12s %10s %10s\n", "document", "TavikFCU", "RapidJSON", "nlohmann",
                "tk/rapid", "tk/nlohm");
    std::map<std::string, std::size_t> tk, rapid, nlohm;
    {
        for (const char* name : kDocuments) {
            std::size_t before = HeapInUse();
            keep.emplace_back(new CMyJsonObj);
            keep.back()->Load(Text(Documents()[name]));
            tk[name] = HeapInUse() - before;
        }
    }
#if HAVE_RAPIDJSON
    {
        std::vector<std::unique_ptr<RapidDocument>> keep;
        for (const char* name : kDocuments) {
            std::size_t before = HeapInUse();
            keep.emplace_back(new RapidDocument);
            keep.back()->Parse(Documents()[name].utf16.c_str());
            rapid[name] = HeapInUse() - before;
        }
    }
#endif
#if HAVE_NLOHMANN
    {
        std::vector<std::unique_ptr<nlohmann::json>> keep;
        for (const char* name : kDocuments) {
            std::size_t before = HeapInUse();
            keep.emplace_back(new nlohmann::json(nlohmann::json::parse(Documents()[name].utf8)));
            nlohm[name] = HeapInUse() - before;
        }
    }
#endif
    for (const char* name : kDocuments) {
        double r = rapid[name] ? double(tk[name]) / double(rapid[name]) : 0;
        double n = nlohm[name] ? double(tk[name]) / double(nlohm[name]) : 0;
        std::printf("%-14s %12zu %12zu %12zu %10.2f %10.2f\n", name, tk[name], rapid[name],
                    nlohm[name], r, n);
    }
    std::printf("\n");
}

// ---- summary ----------------------------------------------------------------------

void PrintRatio(const MedianCounters& r, const std::string& tk, const std::string& peer,
                const char* label) {
    double a = r.Get(tk, "bytes_per_second");
    double b = r.Get(peer, "bytes_per_second");
    if (a <= 0 || b <= 0) return;
    std::printf("%-40s tk %8.1f MB/s  peer %8.1f MB/s  ratio tk/peer = %.2f\n", label, a / 1e6,
                b / 1e6, a / b);
}

void PrintSummary(const MedianCounters& r) {
    std::printf(
        "\nsummary (medians; MB/s of the document's UTF-16 size; ratio > 1: TavikFCU faster)\n");
    for (const char* name : kDocuments) {
        std::string n = name;
        PrintRatio(r, "Load/TK/" + n, "Load/RapidJSON/" + n,
                   ("Load " + n + " vs RapidJSON").c_str());
        PrintRatio(r, "Load/TK/" + n, "Load/nlohmann/" + n, ("Load " + n + " vs nlohmann").c_str());
        for (const char* form : {"compact", "formatted"}) {
            std::string f = form;
            PrintRatio(r, "Write/TK/" + n + "/" + f, "Write/RapidJSON/" + n + "/" + f,
                       ("Write " + n + " " + f + " vs RapidJSON").c_str());
            PrintRatio(r, "Write/TK/" + n + "/" + f, "Write/nlohmann/" + n + "/" + f,
                       ("Write " + n + " " + f + " vs nlohmann").c_str());
        }
        PrintRatio(r, "Utf8ToUtf16/TK/" + n, "Utf8ToUtf16/iconv/" + n,
                   ("UTF-8 to UTF-16 " + n + " vs iconv").c_str());
    }
}

void RegisterAll() {
    for (const char* name : kDocuments) {
        std::string n = name;
        benchmark::RegisterBenchmark(("Load/TK/" + n).c_str(), BM_Load_TK, name);
#if HAVE_RAPIDJSON
        benchmark::RegisterBenchmark(("Load/RapidJSON/" + n).c_str(), BM_Load_RapidJSON, name);
#endif
#if HAVE_NLOHMANN
        benchmark::RegisterBenchmark(("Load/nlohmann/" + n).c_str(), BM_Load_nlohmann, name);
#endif
        for (bool formatted : {false, true}) {
            std::string suffix = formatted ? "/formatted" : "/compact";
            benchmark::RegisterBenchmark(("Write/TK/" + n + suffix).c_str(), BM_Write_TK, name,
                                         formatted);
#if HAVE_RAPIDJSON
            benchmark::RegisterBenchmark(("Write/RapidJSON/" + n + suffix).c_str(),
                                         BM_Write_RapidJSON, name, formatted);
#endif
#if HAVE_NLOHMANN
            benchmark::RegisterBenchmark(("Write/nlohmann/" + n + suffix).c_str(),
                                         BM_Write_nlohmann, name, formatted);
#endif
        }
        benchmark::RegisterBenchmark(("CloneDestroy/TK/" + n).c_str(), BM_CloneDestroy_TK, name);
        benchmark::RegisterBenchmark(("Utf8ToUtf16/TK/" + n).c_str(), BM_Utf8ToUtf16_TK, name);
        benchmark::RegisterBenchmark(("Utf8ToUtf16/iconv/" + n).c_str(), BM_Utf8ToUtf16_iconv,
                                     name);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!LoadDocuments()) return 1;
    // The sweep's memory pass reads every generated size up to 100 MB with
    // each library: only when the reading sweep is among the selected
    // benchmarks.
    bool sweep = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--benchmark_filter=", 0) == 0) {
            // The writing sweep needs no memory figures.
            for (std::size_t at; (at = arg.find("SweepWrite")) != std::string::npos;)
                arg.erase(at, 10);
            sweep = arg.find("Sweep") != std::string::npos;
        }
    }
    {
        std::vector<std::unique_ptr<CMyJsonObj>> keep;
        ReportMemory(keep);
        if (sweep) MeasureSweepMemory();
    }
    RegisterAll();
    RegisterSweep();
    benchmark::Initialize(&argc, argv);
    MedianCounters reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    PrintSweepSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
