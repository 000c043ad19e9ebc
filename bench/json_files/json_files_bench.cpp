// JSON files end to end, at 64 KB, 1 MB and 16 MB, against RapidJSON doing
// the same job in the same binary:
//  - Read: TKJsonUtils::ReadJsonFile of a UTF-8 file (open, read, decode,
//    parse) against reading the file and parsing it with RapidJSON into its
//    UTF-16 DOM (rapidjson) and, for reference, its UTF-8 DOM (rapidjson_utf8,
//    which never decodes). ReadGbk reads the GBK form of the 16 MB file; its
//    yardstick is RapidJSON reading the UTF-8 twin.
//  - Save: TKJsonUtils::SaveJsonFile (formatted, UTF-8) against RapidJSON's
//    formatted writer from its UTF-16 DOM into UTF-8, with the same durable
//    steps: a temporary file beside the target, fsync, rename, fsync of the
//    folder.
// Before any timing each case checks that both sides hold the same document
// (saves: both files read back to the same text).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "common/ratio_main.h"
#include "json/json_peers.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"
#if HAVE_RAPIDJSON
#include <rapidjson/filewritestream.h>
#endif

namespace {

std::string Folder() {
    static const std::string folder = [] {
        char name[] = "/tmp/tk-bench-files-XXXXXX";
        const char* made = mkdtemp(name);
        return std::string(made ? made : "/tmp");
    }();
    return folder;
}

// {"records":[...]} of records of 14 small values, as the JSON size sweep
// generates them, up to bytes of UTF-8.
std::string Generate(std::size_t bytes) {
    std::string text = "{\"records\":[";
    char record[320];
    for (unsigned n = 0; text.size() + 2 < bytes; ++n) {
        std::snprintf(record, sizeof record,
                      "%s{\"id\":%u,\"uid\":\"u%07u\",\"name\":\"user %u\",\"city\":\"西安\","
                      "\"quote\":\"say \\\"hi\\\"\",\"lat\":%u.%04u,\"score\":%u.5,\"active\":%s,"
                      "\"tags\":[%u,%u],\"box\":{\"w\":%u.25}}",
                      n ? "," : "", n, n, n, 30 + n % 10, n % 10000, n % 100,
                      n % 3 ? "true" : "false", n % 7, n % 11, n % 50);
        text += record;
    }
    return text + "]}";
}

struct TestFile {
    std::string path;     // UTF-8, no byte-order mark (the ANSI code page is UTF-8)
    std::string gbkPath;  // the same text in GBK
    std::string bytes;
};

const TestFile& FileOf(std::size_t size) {
    static std::unique_ptr<TestFile> files[3];
    int slot = size <= (64u << 10) ? 0 : size <= (1u << 20) ? 1 : 2;
    if (!files[slot]) {
        auto f = std::make_unique<TestFile>();
        f->bytes = Generate(size);
        f->path = Folder() + "/read-" + std::to_string(size) + ".json";
        std::ofstream(f->path, std::ios::binary) << f->bytes;
        CTKString wide(f->bytes.c_str());
        tkSetAnsiCodePage(936);
        char* gbk = wide.AllocANSIString();
        tkSetAnsiCodePage(65001);
        f->gbkPath = Folder() + "/read-" + std::to_string(size) + "-gbk.json";
        std::ofstream(f->gbkPath, std::ios::binary) << gbk;
        tkFreeMem(gbk);
        files[slot] = std::move(f);
    }
    return *files[slot];
}

bool TkRead(const std::string& path, CMyJsonObj& doc) {
    std::uint64_t error = 0;
    if (TKJsonUtils::ReadJsonFile(CTKString(path.c_str()), doc, &error)) return true;
    tkCloseHandle(error);
    return false;
}

void BM_Read_Tk(benchmark::State& state, std::size_t size, bool gbk) {
    const TestFile& f = FileOf(size);
    if (gbk) tkSetAnsiCodePage(936);
    CTKString path((gbk ? f.gbkPath : f.path).c_str());
    for (auto _ : state) {
        CMyJsonObj doc;
        std::uint64_t error = 0;
        if (!TKJsonUtils::ReadJsonFile(path, doc, &error)) {
            tkCloseHandle(error);
            state.SkipWithError("ReadJsonFile failed");
            break;
        }
        benchmark::DoNotOptimize(doc);
    }
    tkSetAnsiCodePage(65001);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.bytes.size()));
}

void BM_Save_Tk(benchmark::State& state, std::size_t size) {
    CMyJsonObj doc;
    if (!TkRead(FileOf(size).path, doc)) return state.SkipWithError("ReadJsonFile failed");
    CTKString path((Folder() + "/save-tk.json").c_str());
    for (auto _ : state) {
        std::uint64_t error = 0;
        if (!TKJsonUtils::SaveJsonFile(path, doc, &error)) {
            tkCloseHandle(error);
            state.SkipWithError("SaveJsonFile failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(FileOf(size).bytes.size()));
}

#if HAVE_RAPIDJSON
using tkjsonbench::RapidDocument;
using tkjsonbench::RapidUtf16;

std::string ReadBytes(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::string();
    std::fseek(file, 0, SEEK_END);
    std::string bytes(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::fseek(file, 0, SEEK_SET);
    std::size_t got = std::fread(&bytes[0], 1, bytes.size(), file);
    std::fclose(file);
    bytes.resize(got);
    return bytes;
}

bool RapidRead(const std::string& path, RapidDocument& d) {
    std::string bytes = ReadBytes(path);
    d.Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(bytes.data(), bytes.size());
    return !d.HasParseError();
}

void BM_Read_Rapid(benchmark::State& state, std::size_t size, bool utf16) {
    const TestFile& f = FileOf(size);
    {
        CMyJsonObj ours;
        RapidDocument d;
        if (!TkRead(f.path, ours) || !RapidRead(f.path, d) ||
            !tkjsonbench::RapidView::Same(ours, d))
            return state.SkipWithError("RapidJSON read another document");
    }
    for (auto _ : state) {
        std::string bytes = ReadBytes(f.path);
        if (utf16) {
            RapidDocument d;
            d.Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(bytes.data(), bytes.size());
            if (d.HasParseError()) state.SkipWithError("RapidJSON failed");
            benchmark::DoNotOptimize(d);
        } else {
            rapidjson::Document d;
            d.Parse(bytes.data(), bytes.size());
            if (d.HasParseError()) state.SkipWithError("RapidJSON failed");
            benchmark::DoNotOptimize(d);
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.bytes.size()));
}

// The durable save, RapidJSON's way: formatted UTF-8 from the UTF-16 DOM
// into a temporary file beside the target, fsync, rename, fsync the folder.
bool RapidSave(const RapidDocument& d, const std::string& target) {
    std::string temp = target + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) return false;
    std::FILE* file = fdopen(fd, "wb");
    char buffer[64 * 1024];
    rapidjson::FileWriteStream stream(file, buffer, sizeof buffer);
    rapidjson::PrettyWriter<rapidjson::FileWriteStream, RapidUtf16, rapidjson::UTF8<>> writer(
        stream);
    writer.SetIndent('\t', 1);
    d.Accept(writer);
    stream.Flush();
    bool ok = std::fflush(file) == 0 && fsync(fd) == 0;
    ok = std::fclose(file) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
    int folder = open(Folder().c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return ok;
}

void BM_Save_Rapid(benchmark::State& state, std::size_t size) {
    const TestFile& f = FileOf(size);
    RapidDocument d;
    if (!RapidRead(f.path, d)) return state.SkipWithError("RapidJSON failed");
    const std::string target = Folder() + "/save-rapid.json";
    {
        // Both saves read back to the same document.
        CMyJsonObj ours, theirs;
        std::string tkTarget = Folder() + "/save-check.json";
        if (!TkRead(f.path, ours) ||
            !TKJsonUtils::SaveJsonFile(CTKString(tkTarget.c_str()), ours, nullptr) ||
            !RapidSave(d, target))
            return state.SkipWithError("a save failed");
        CMyJsonObj a, b;
        if (!TkRead(tkTarget, a) || !TkRead(target, b) ||
            a.CreateJson(false).Compare(b.CreateJson(false)) != 0)
            return state.SkipWithError("the saved files hold different documents");
    }
    for (auto _ : state)
        if (!RapidSave(d, target)) {
            state.SkipWithError("RapidJSON save failed");
            break;
        }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.bytes.size()));
}
#endif

void RegisterAll() {
    for (std::size_t size : {64u << 10, 1u << 20, 16u << 20}) {
        std::string n = size >= (1u << 20) ? std::to_string(size >> 20) + "MB"
                                           : std::to_string(size >> 10) + "KB";
        auto unit = size >= (1u << 20) ? benchmark::kMillisecond : benchmark::kMicrosecond;
        benchmark::RegisterBenchmark(("Read" + n + "/tk").c_str(), BM_Read_Tk, size, false)
            ->Unit(unit);
#if HAVE_RAPIDJSON
        benchmark::RegisterBenchmark(("Read" + n + "/rapidjson").c_str(), BM_Read_Rapid, size, true)
            ->Unit(unit);
        benchmark::RegisterBenchmark(("Read" + n + "/rapidjson_utf8").c_str(), BM_Read_Rapid, size,
                                     false)
            ->Unit(unit);
#endif
        benchmark::RegisterBenchmark(("Save" + n + "/tk").c_str(), BM_Save_Tk, size)->Unit(unit);
#if HAVE_RAPIDJSON
        benchmark::RegisterBenchmark(("Save" + n + "/rapidjson").c_str(), BM_Save_Rapid, size)
            ->Unit(unit);
#endif
    }
    benchmark::RegisterBenchmark("ReadGbk16MB/tk", BM_Read_Tk, 16u << 20, true)
        ->Unit(benchmark::kMillisecond);
#if HAVE_RAPIDJSON
    benchmark::RegisterBenchmark("ReadGbk16MB/rapidjson", BM_Read_Rapid, 16u << 20, true)
        ->Unit(benchmark::kMillisecond);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    tkbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    // The generated files go with the program's temporary folder.
    for (const char* name :
         {"read-65536.json", "read-65536-gbk.json", "read-1048576.json", "read-1048576-gbk.json",
          "read-16777216.json", "read-16777216-gbk.json", "save-tk.json", "save-rapid.json",
          "save-check.json"})
        std::remove((Folder() + "/" + name).c_str());
    rmdir(Folder().c_str());
    return 0;
}
