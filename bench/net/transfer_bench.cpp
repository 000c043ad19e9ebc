// HTTP transfers through the client against libcurl's easy interface, both
// talking to one nginx on 127.0.0.1 started for this program.
//
//   Download256MiB/tk, /curl   GET of a 256 MiB file: Read in 64 KiB calls,
//                              against a write callback that discards;
//                              counter rss_growth_MiB is our peak growth
//   SmallGet1KiB/tk, /curl     one GET of a 1 KiB file on a kept connection
//   Upload64MiB/tk, /curl      PUT of 64 MiB: SendRequestEx + Write in 64 KiB
//                              calls + EndRequest, against a read callback
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "../../tests/net/net_test_support.h"
#include "tavikfcu/TKNet.h"

namespace {

constexpr std::uint64_t kBig = 256ull << 20;
constexpr std::uint64_t kUpload = 64ull << 20;

nettest::Nginx* Server() {
    static nettest::Nginx* server = [] {
        std::string why;
        nettest::Nginx* n = nettest::SharedNginx(why);
        if (!n) {
            std::fprintf(stderr, "no nginx: %s\n", why.c_str());
            return n;
        }
        nettest::WriteFile(n->Html() + "/small.bin", std::string(1024, 's'));
        return n;
    }();
    return server;
}

long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
    return 0;
}

std::string Url(const char* path) {
    return "http://127.0.0.1:" + std::to_string(Server()->Port()) + path;
}

// ---- download -----------------------------------------------------------------------

// The 256 MiB file, written on first use.
bool BigFile() {
    static const bool made = [] {
        if (!Server()) return false;
        std::ofstream big(Server()->Html() + "/big256.bin", std::ios::binary);
        std::vector<char> block(1 << 20, 'x');
        for (std::uint64_t at = 0; at < kBig; at += block.size())
            big.write(block.data(), std::streamsize(block.size()));
        return bool(big);
    }();
    return made;
}

void BM_DownloadTk(benchmark::State& state) {
    if (!BigFile()) return state.SkipWithError("no nginx");
    CTKInternetSession session(TKL("bench"));
    CTKHttpConnection* conn = session.GetHttpConnection(TKL("127.0.0.1"), Server()->Port());
    std::vector<char> buf(64 * 1024);
    long before = RssKiB(), peak = before;
    for (auto _ : state) {
        CTKHttpFile* file =
            conn->OpenRequest(TKL("GET"), TKL("/big256.bin"), nullptr, 1, nullptr, TKL("HTTP/1.1"));
        file->SendRequest();
        std::uint64_t total = 0;
        int reads = 0;
        while (unsigned int n = file->Read(buf.data(), unsigned(buf.size()))) {
            total += n;
            if (++reads % 256 == 0) peak = std::max(peak, RssKiB());
        }
        delete file;
        if (total != kBig) state.SkipWithError("short body");
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * kBig));
    state.counters["rss_growth_MiB"] = double(peak - before) / 1024.0;
    delete conn;
}
BENCHMARK(BM_DownloadTk)
    ->Name("Download256MiB/tk")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

size_t Discard(char*, size_t size, size_t n, void*) {
    return size * n;
}

void BM_DownloadCurl(benchmark::State& state) {
    if (!BigFile()) return state.SkipWithError("no nginx");
    CURL* e = curl_easy_init();
    std::string url = Url("/big256.bin");
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, Discard);
    for (auto _ : state) curl_easy_perform(e);
    state.SetBytesProcessed(std::int64_t(state.iterations() * kBig));
    curl_easy_cleanup(e);
}
BENCHMARK(BM_DownloadCurl)
    ->Name("Download256MiB/curl")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// ---- small requests -----------------------------------------------------------------

void BM_SmallTk(benchmark::State& state) {
    if (!Server()) return state.SkipWithError("no nginx");
    CTKInternetSession session(TKL("bench"));
    CTKHttpConnection* conn = session.GetHttpConnection(TKL("127.0.0.1"), Server()->Port());
    char buf[4096];
    for (auto _ : state) {
        CTKHttpFile* file =
            conn->OpenRequest(TKL("GET"), TKL("/small.bin"), nullptr, 1, nullptr, TKL("HTTP/1.1"));
        file->SendRequest();
        while (file->Read(buf, sizeof buf)) {
        }
        delete file;
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()));
    delete conn;
}
BENCHMARK(BM_SmallTk)->Name("SmallGet1KiB/tk")->Iterations(10000)->UseRealTime();

void BM_SmallCurl(benchmark::State& state) {
    if (!Server()) return state.SkipWithError("no nginx");
    CURL* e = curl_easy_init();
    std::string url = Url("/small.bin");
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, Discard);
    for (auto _ : state) curl_easy_perform(e);
    state.SetItemsProcessed(std::int64_t(state.iterations()));
    curl_easy_cleanup(e);
}
BENCHMARK(BM_SmallCurl)->Name("SmallGet1KiB/curl")->Iterations(10000)->UseRealTime();

// ---- upload -------------------------------------------------------------------------

void BM_UploadTk(benchmark::State& state) {
    if (!Server()) return state.SkipWithError("no nginx");
    CTKInternetSession session(TKL("bench"));
    CTKHttpConnection* conn = session.GetHttpConnection(TKL("127.0.0.1"), Server()->Port());
    std::vector<char> chunk(64 * 1024, 'u');
    for (auto _ : state) {
        CTKHttpFile* file = conn->OpenRequest(TKL("PUT"), TKL("/upload/tk.bin"), nullptr, 1,
                                              nullptr, TKL("HTTP/1.1"));
        file->SendRequestEx(std::uint32_t(kUpload));
        for (std::uint64_t done = 0; done < kUpload; done += chunk.size())
            file->Write(chunk.data(), unsigned(chunk.size()));
        file->EndRequest();
        delete file;
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * kUpload));
    delete conn;
}
BENCHMARK(BM_UploadTk)
    ->Name("Upload64MiB/tk")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

struct Feed {
    std::uint64_t left;
};
size_t Produce(char* buffer, size_t size, size_t n, void* user) {
    auto* feed = static_cast<Feed*>(user);
    size_t k = std::min<std::uint64_t>(size * n, feed->left);
    std::fill(buffer, buffer + k, 'u');
    feed->left -= k;
    return k;
}

void BM_UploadCurl(benchmark::State& state) {
    if (!Server()) return state.SkipWithError("no nginx");
    CURL* e = curl_easy_init();
    std::string url = Url("/upload/curl.bin");
    curl_slist* headers = curl_slist_append(nullptr, "Expect:");
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(kUpload));
    curl_easy_setopt(e, CURLOPT_READFUNCTION, Produce);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, Discard);
    for (auto _ : state) {
        Feed feed{kUpload};
        curl_easy_setopt(e, CURLOPT_READDATA, &feed);
        curl_easy_perform(e);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * kUpload));
    curl_slist_free_all(headers);
    curl_easy_cleanup(e);
}
BENCHMARK(BM_UploadCurl)
    ->Name("Upload64MiB/curl")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace
