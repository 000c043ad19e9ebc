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
// memory before any timing.
#include <benchmark/benchmark.h>

#include "common/ratio_main.h"
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

#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"

#if HAVE_RAPIDJSON
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#endif
#if HAVE_NLOHMANN
#include <nlohmann/json.hpp>
#endif

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
            std::fprintf(stderr, "missing %s/%s.json\n", DataFolder().c_str(), name);
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

#if HAVE_RAPIDJSON
using RapidUtf16 = rapidjson::UTF16<char16_t>;
using RapidDocument = rapidjson::GenericDocument<RapidUtf16>;

void BM_Load_RapidJSON(benchmark::State& state, const char* name) {
    const Document& doc = Documents()[name];
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
void BM_Load_nlohmann(benchmark::State& state, const char* name) {
    const Document& doc = Documents()[name];
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

std::size_t HeapInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    return mallinfo2().uordblks;
#else
    return static_cast<std::size_t>(mallinfo().uordblks);
#endif
}

// Heap bytes held by the three loaded documents, per library. Measured
// before any benchmark runs and with all three documents alive at once, so
// that no block freed by an earlier load is reused unseen.
void ReportMemory() {
    std::printf("\nmemory held by a loaded document (heap bytes in use, glibc mallinfo2):\n");
    std::printf("%-14s %12s %12s %12s %10s %10s\n", "document", "TavikFCU", "RapidJSON", "nlohmann",
                "tk/rapid", "tk/nlohm");
    std::map<std::string, std::size_t> tk, rapid, nlohm;
    {
        std::vector<std::unique_ptr<CMyJsonObj>> keep;
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

// Collects bytes per second by benchmark name for the ratio lines.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (!tkbench::IsSummaryRun(run)) continue;
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) rates[tkbench::SummaryName(run)] = it->second.value;
        }
    }
    std::map<std::string, double> rates;
};

void PrintRatio(const SummaryReporter& r, const std::string& tk, const std::string& peer,
                const char* label) {
    auto a = r.rates.find(tk);
    auto b = r.rates.find(peer);
    if (a == r.rates.end() || b == r.rates.end() || b->second == 0) return;
    std::printf("%-40s tk %8.1f MB/s  peer %8.1f MB/s  ratio tk/peer = %.2f\n", label,
                a->second / 1e6, b->second / 1e6, a->second / b->second);
}

void PrintSummary(const SummaryReporter& r) {
    std::printf("\nsummary (MB/s of the document's UTF-16 size; ratio > 1: TavikFCU faster)\n");
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
    ReportMemory();
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
