// ReadJsonFile end to end (open, read, decode, parse) on a 20 MB document,
// as UTF-8 with a byte-order mark and as GBK, against reading the same file
// and parsing it with RapidJSON's UTF-8 DOM.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "common/ratio_main.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"
#if HAVE_RAPIDJSON
#include <rapidjson/document.h>
#endif

namespace {

constexpr std::size_t kTargetBytes = 20 * 1000 * 1000;

struct Files {
    std::string utf8Path, gbkPath;
    std::size_t utf8Bytes = 0, gbkBytes = 0;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// {"items":[twitter,twitter,...]} up to about 20 MB, written once per run.
const Files& TestFiles() {
    static Files files = [] {
        const char* folder = std::getenv("TK_BENCH_DATA_DIR");
        std::string twitter =
            ReadAll(std::string(folder && *folder ? folder : TK_BENCH_DATA) + "/twitter.json");
        std::string doc = "{\"items\":[";
        while (doc.size() + twitter.size() < kTargetBytes) doc += twitter + ",";
        doc.back() = ']';
        doc += "}";
        Files f;
        f.utf8Path = "/tmp/tk-bench-20mb-utf8.json";
        f.gbkPath = "/tmp/tk-bench-20mb-gbk.json";
        std::ofstream(f.utf8Path, std::ios::binary) << "\xEF\xBB\xBF" << doc;
        f.utf8Bytes = doc.size() + 3;
        // The same text in GBK (characters GBK lacks become '?').
        CTKString wide(doc.c_str());
        tkSetAnsiCodePage(936);
        char* gbk = wide.AllocANSIString();
        tkSetAnsiCodePage(65001);
        std::ofstream(f.gbkPath, std::ios::binary) << gbk;
        f.gbkBytes = std::char_traits<char>::length(gbk);
        tkFreeMem(gbk);
        return f;
    }();
    return files;
}

void ReadWithTavik(benchmark::State& state, const std::string& path, std::size_t bytes,
                   unsigned int codePage) {
    CTKString widePath(path.c_str());
    tkSetAnsiCodePage(codePage);
    for (auto _ : state) {
        CMyJsonObj doc;
        std::uint64_t error = 0;
        if (!TKJsonUtils::ReadJsonFile(widePath, doc, &error)) {
            tkCloseHandle(error);
            state.SkipWithError("ReadJsonFile failed");
            break;
        }
        benchmark::DoNotOptimize(doc);
    }
    tkSetAnsiCodePage(65001);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

void BM_Utf8_Tavik(benchmark::State& state) {
    ReadWithTavik(state, TestFiles().utf8Path, TestFiles().utf8Bytes, 65001);
}
void BM_Gbk_Tavik(benchmark::State& state) {
    ReadWithTavik(state, TestFiles().gbkPath, TestFiles().gbkBytes, 936);
}

#if HAVE_RAPIDJSON
void BM_Utf8_RapidJson(benchmark::State& state) {
    const Files& f = TestFiles();
    for (auto _ : state) {
        std::FILE* file = std::fopen(f.utf8Path.c_str(), "rb");
        std::string bytes(f.utf8Bytes, '\0');
        std::size_t got = std::fread(&bytes[0], 1, bytes.size(), file);
        std::fclose(file);
        rapidjson::Document doc;
        doc.Parse(bytes.data() + 3, got - 3);
        if (doc.HasParseError()) state.SkipWithError("RapidJSON failed");
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.utf8Bytes));
}
#endif

}  // namespace

BENCHMARK(BM_Utf8_Tavik)->Name("ReadJsonFile20MB_utf8/tk")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gbk_Tavik)->Name("ReadJsonFile20MB_gbk/tk")->Unit(benchmark::kMillisecond);
#if HAVE_RAPIDJSON
BENCHMARK(BM_Utf8_RapidJson)
    ->Name("ReadJsonFile20MB_utf8/rapidjson")
    ->Unit(benchmark::kMillisecond);
// GBK has no RapidJSON counterpart: the UTF-8 read is the yardstick for both.
BENCHMARK(BM_Utf8_RapidJson)
    ->Name("ReadJsonFile20MB_gbk/rapidjson_utf8")
    ->Unit(benchmark::kMillisecond);
#endif

TK_BENCHMARK_RATIO_MAIN()
