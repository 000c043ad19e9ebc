// Codec throughput against OpenSSL and ISA-L, in the same binary.
//
// Each TavikFCU benchmark runs once per code path the CPU supports (the
// "/portable", "/sse", "/avx2", "/avx512" suffix caps the kernels), so the
// portable code is measured too. At the end a table prints, for each job,
// the throughput of TavikFCU's path over the peer's: "ratio tk/peer = 2.31"
// means 2.31 times the peer's speed. Ratios come from the medians of the
// repetitions, in CPU time: the machines these run on are shared, and wall
// time there measures the neighbours.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "codec/codec_kernels.h"
#include "common/ratio_main.h"
#include "tavikfcu/TKCodec.h"
#include "tavikfcu/TKCore.h"

#ifdef HAVE_OPENSSL
#include <openssl/evp.h>
#include <openssl/hmac.h>
#endif
#ifdef HAVE_ISAL
#include <isa-l/crc64.h>
#endif

using tk::detail::CodecPath;

namespace {

constexpr size_t kMiB = 1 << 20;
const char* const kPathNames[] = {"portable", "sse", "avx2", "avx512"};

const std::vector<unsigned char>& Data() {
    static const std::vector<unsigned char> data = [] {
        std::vector<unsigned char> d(kMiB);
        std::mt19937 rng(5);
        for (auto& b : d) b = static_cast<unsigned char>(rng());
        return d;
    }();
    return data;
}

const std::string& Text() {
    static const std::string text = [] {
        char* t = TKBase64::tkEncodeBase64A(Data().data(), kMiB);
        std::string s(t);
        tkFreeMem(t);
        return s;
    }();
    return text;
}

// Caps the library's kernels for one benchmark run.
struct PathCap {
    explicit PathCap(int path)
        : previous(tk::detail::LimitCodecPath(static_cast<CodecPath>(path))) {}
    ~PathCap() { tk::detail::LimitCodecPath(previous); }
    CodecPath previous;
};

void SetBytes(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// ---- TavikFCU ----------------------------------------------------------------

void TkBase64Encode(benchmark::State& state) {
    PathCap cap(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        char* t = TKBase64::tkEncodeBase64A(Data().data(), kMiB);
        benchmark::DoNotOptimize(t);
        tkFreeMem(t);
    }
    SetBytes(state, kMiB);
}

void TkBase64Decode(benchmark::State& state) {
    PathCap cap(static_cast<int>(state.range(0)));
    const std::string& text = Text();
    for (auto _ : state) {
        unsigned char* out = nullptr;
        benchmark::DoNotOptimize(
            TKBase64::tkDecodeBase64A(text.data(), static_cast<unsigned>(text.size()), &out));
        tkFreeMem(out);
    }
    SetBytes(state, kMiB);
}

void TkMd5(benchmark::State& state) {
    unsigned int words[4];
    for (auto _ : state) {
        TKMD5::tkGetMD5Data(Data().data(), kMiB, words);
        benchmark::DoNotOptimize(words);
    }
    SetBytes(state, kMiB);
}

void TkHmac(benchmark::State& state) {
    PathCap cap(static_cast<int>(state.range(0)));
    const int n = static_cast<int>(state.range(1));
    char mac[32];
    for (auto _ : state) {
        int len = 32;
        TKHMACSHA::tkHMAC_SHA256("a secret key", 12, Data().data(), n, mac, &len);
        benchmark::DoNotOptimize(mac);
    }
    SetBytes(state, static_cast<size_t>(n));
}

void TkCrc64(benchmark::State& state) {
    PathCap cap(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        char* t = TKCRC64::tkGetCRC64StrA(Data().data(), kMiB);
        benchmark::DoNotOptimize(t);
        tkFreeMem(t);
    }
    SetBytes(state, kMiB);
}

// ---- peers -------------------------------------------------------------------

#ifdef HAVE_OPENSSL
void OpensslBase64Encode(benchmark::State& state) {
    std::vector<unsigned char> out(kMiB / 3 * 4 + 8);
    for (auto _ : state) {
        benchmark::DoNotOptimize(EVP_EncodeBlock(out.data(), Data().data(), kMiB));
    }
    SetBytes(state, kMiB);
}

void OpensslBase64Decode(benchmark::State& state) {
    const std::string& text = Text();
    std::vector<unsigned char> out(text.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size())));
    }
    SetBytes(state, kMiB);
}

void OpensslMd5(benchmark::State& state) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_Digest(Data().data(), kMiB, digest, &len, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    SetBytes(state, kMiB);
}

void OpensslHmac(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    for (auto _ : state) {
        HMAC(EVP_sha256(), "a secret key", 12, Data().data(), n, mac, &len);
        benchmark::DoNotOptimize(mac);
    }
    SetBytes(state, n);
}
#endif

#ifdef HAVE_ISAL
// ISA-L inverts the register on entry and exit; this CRC does neither, so
// pass an inverted zero and invert the result.
template <uint64_t (*Crc)(uint64_t, const unsigned char*, uint64_t)>
void IsalCrc64(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(~Crc(~0ull, Data().data(), kMiB));
    SetBytes(state, kMiB);
}
#endif

// ---- registration and the ratio table ----------------------------------------

benchmark::internal::Benchmark* Reg(const std::string& name, void (*fn)(benchmark::State&)) {
    return benchmark::RegisterBenchmark(name.c_str(), fn);
}

struct Pair {
    std::string job, tk, peer;
};
std::vector<Pair> g_pairs;

void RegisterPaths(const char* job, void (*fn)(benchmark::State&), const char* peer,
                   const char* peerFor128Bit = nullptr, const char* peerForPortable = nullptr,
                   int64_t extra = -1) {
    for (int p = 0; p < tk::detail::kCodecPathCount; ++p) {
        if (!tk::detail::CodecPathSupported(static_cast<CodecPath>(p))) continue;
        std::string name = std::string("tk/") + job + "/" + kPathNames[p];
        auto* b = Reg(name, fn);
        if (extra >= 0)
            b->Args({p, extra});
        else
            b->Arg(p);
        std::string full =
            name + "/" + std::to_string(p) + (extra >= 0 ? "/" + std::to_string(extra) : "");
        const char* against = peer;
        if (p == 0 && peerForPortable) against = peerForPortable;
        // The AVX2 tier has no CRC kernel of its own: it runs the 128-bit one.
        if ((p == 1 || p == 2) && peerFor128Bit) against = peerFor128Bit;
        if (against)
            g_pairs.push_back({std::string(job) + " [" + kPathNames[p] + "]", full, against});
    }
}

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (tkbench::IsSummaryRun(r))
                m_seconds[tkbench::SummaryName(r)] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        std::printf("\n%-34s %-28s %s\n", "job [tk path]", "peer", "ratio tk/peer (throughput)");
        for (const Pair& p : g_pairs) {
            const auto tk = m_seconds.find(p.tk), peer = m_seconds.find(p.peer);
            if (tk == m_seconds.end() || peer == m_seconds.end()) continue;
            std::printf("%-34s %-28s ratio tk/peer = %.2f\n", p.job.c_str(), p.peer.c_str(),
                        peer->second / tk->second);
        }
    }

  private:
    std::map<std::string, double> m_seconds;
};

void CheckPeersAgree() {
#ifdef HAVE_ISAL
    char* t = TKCRC64::tkGetCRC64StrA(Data().data(), kMiB);
    char peer[17];
    std::snprintf(peer, sizeof peer, "%016llx",
                  static_cast<unsigned long long>(~crc64_jones_refl(~0ull, Data().data(), kMiB)));
    if (std::strcmp(t, peer) != 0)
        std::printf("WARNING: ISA-L CRC %s differs from ours %s\n", peer, t);
    tkFreeMem(t);
#endif
#ifdef HAVE_OPENSSL
    char ours[32];
    int len = 32;
    unsigned char theirs[EVP_MAX_MD_SIZE];
    unsigned int theirLen = 0;
    TKHMACSHA::tkHMAC_SHA256("a secret key", 12, Data().data(), 1000, ours, &len);
    HMAC(EVP_sha256(), "a secret key", 12, Data().data(), 1000, theirs, &theirLen);
    if (std::memcmp(ours, theirs, 32) != 0) std::printf("WARNING: HMAC differs from OpenSSL's\n");
#endif
}

}  // namespace

int main(int argc, char** argv) {
    // Five repetitions by default; their medians make the ratios.
    std::vector<char*> args(argv, argv + argc);
    bool repetitionsGiven = false;
    for (int i = 1; i < argc; ++i)
        repetitionsGiven |= std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
    char repetitions[] = "--benchmark_repetitions=5";
    char aggregatesOnly[] = "--benchmark_display_aggregates_only=true";
    if (!repetitionsGiven) {
        args.push_back(repetitions);
        args.push_back(aggregatesOnly);
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);  // argv[argc] is null by convention
    benchmark::Initialize(&count, args.data());
    std::printf("codec paths (best): %s\n", tk::detail::DescribeCodecPaths());
    CheckPeersAgree();
#ifdef HAVE_OPENSSL
    Reg("openssl/base64-encode/1MiB", OpensslBase64Encode);
    Reg("openssl/base64-decode/1MiB", OpensslBase64Decode);
    Reg("openssl/md5/1MiB", OpensslMd5);
    Reg("openssl/hmac-sha256", OpensslHmac)->Arg(64)->Arg(kMiB);
    const char* b64e = "openssl/base64-encode/1MiB";
    const char* b64d = "openssl/base64-decode/1MiB";
    const char* md5 = "openssl/md5/1MiB";
    const char* hmac64 = "openssl/hmac-sha256/64";
    const char* hmac1m = "openssl/hmac-sha256/1048576";
#else
    const char *b64e = nullptr, *b64d = nullptr, *md5 = nullptr, *hmac64 = nullptr,
               *hmac1m = nullptr;
#endif
#ifdef HAVE_ISAL
    Reg("isal/crc64_jones_refl/1MiB", IsalCrc64<crc64_jones_refl>);
    Reg("isal/crc64_jones_refl_by8/1MiB", IsalCrc64<crc64_jones_refl_by8>);
    Reg("isal/crc64_jones_refl_base/1MiB", IsalCrc64<crc64_jones_refl_base>);
    const char* crc = "isal/crc64_jones_refl/1MiB";
    const char* crcBy8 = "isal/crc64_jones_refl_by8/1MiB";
    const char* crcBase = "isal/crc64_jones_refl_base/1MiB";
#else
    const char *crc = nullptr, *crcBy8 = nullptr, *crcBase = nullptr;
#endif
    RegisterPaths("base64-encode/1MiB", TkBase64Encode, b64e);
    RegisterPaths("base64-decode/1MiB", TkBase64Decode, b64d);
    Reg("tk/md5/1MiB", TkMd5);
    if (md5) g_pairs.push_back({"md5/1MiB [portable]", "tk/md5/1MiB", md5});
    RegisterPaths("hmac-sha256/64B", TkHmac, hmac64, nullptr, nullptr, 64);
    RegisterPaths("hmac-sha256/1MiB", TkHmac, hmac1m, nullptr, nullptr, kMiB);
    RegisterPaths("crc64/1MiB", TkCrc64, crc, crcBy8, crcBase);

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
