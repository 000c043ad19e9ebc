// ANSI code page conversions under code page 936 (GBK) against glibc's
// iconv ("GBK" <-> "UTF-16LE", one descriptor per direction, opened once):
// Ansi2Unicode and Unicode2Ansi over 10 MiB of GBK text, once mostly
// Chinese, once mostly ASCII. Bytes per second count the GBK bytes in both
// directions. The ratio lines come from the main() in storage_bench.cpp.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tavikfcu/TKString.h"

namespace {

constexpr std::size_t kTextBytes = 10u << 20;

// Frequent hanzi (all in GB2312) and full-width punctuation.
constexpr char16_t kHanzi[] =
    u"的一是不了人我在有他这为之大来以个中上们到说国和地也子时道出而要于就下得可你年生自会那后能对"
    u"着事其"
    u"里所去行过家十用发天如然作方成者多日都三小军二无同么经法当起与好看学进种将还分此心前面又定见"
    u"只主没公从"
    u"文件数据系统设置错误名称读取保存坐标投影椭球经纬度高程网络请求字符串编码转换";
constexpr char16_t kPunctuation[] = u"，。、：；“”（）";
constexpr char16_t kLetters[] = u"etaoinshrdlucmfwypvbgkjqxz";

struct Lcg {
    std::uint32_t state = 20240601;
    std::uint32_t Next(std::uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    }
};

// Sentences of hanzi with Chinese punctuation, a number now and then, and a
// newline per paragraph: what a Chinese document or settings file holds.
std::u16string ChineseText() {
    Lcg rng;
    std::u16string out;
    std::size_t bytes = 0;
    const std::size_t hanzi = sizeof(kHanzi) / sizeof(char16_t) - 1;
    while (bytes < kTextBytes) {
        std::uint32_t words = 4 + rng.Next(10);
        for (std::uint32_t w = 0; w < words; ++w) {
            std::uint32_t len = 1 + rng.Next(3);
            for (std::uint32_t k = 0; k < len; ++k) {
                std::uint32_t r = rng.Next(hanzi);
                out += kHanzi[r * r / hanzi];  // skewed towards the frequent ones
                bytes += 2;
            }
            if (rng.Next(16) == 0) {
                out += u"2024";
                bytes += 4;
            }
        }
        out += kPunctuation[rng.Next(9)];
        bytes += 2;
        if (rng.Next(8) == 0) {
            out += u'\n';
            ++bytes;
        }
    }
    return out;
}

// English-like words with a short Chinese name about every 250 bytes: logs,
// CSV exports and JSON settings with a few Chinese values.
std::u16string MostlyAsciiText() {
    Lcg rng;
    std::u16string out;
    std::size_t bytes = 0;
    const std::size_t hanzi = sizeof(kHanzi) / sizeof(char16_t) - 1;
    while (bytes < kTextBytes) {
        if (rng.Next(40) == 0) {
            for (int k = 0; k < 3; ++k) out += kHanzi[rng.Next(hanzi)];
            bytes += 6;
        } else {
            std::uint32_t len = 2 + rng.Next(8);
            for (std::uint32_t k = 0; k < len; ++k) out += kLetters[rng.Next(26)];
            bytes += len;
        }
        out += rng.Next(12) == 0 ? u'\n' : u' ';
        ++bytes;
    }
    return out;
}

struct Corpus {
    std::u16string wide;  // NUL-terminated by the string
    std::string gbk;
};

// The GBK form comes from iconv, so both sides start from the same bytes.
Corpus MakeCorpus(std::u16string wide) {
    Corpus c;
    c.wide = std::move(wide);
    c.gbk.assign(c.wide.size() * 2, '\0');
    iconv_t cd = iconv_open("GBK", "UTF-16LE");
    char* in = reinterpret_cast<char*>(&c.wide[0]);
    std::size_t inLeft = c.wide.size() * 2;
    char* out = &c.gbk[0];
    std::size_t outLeft = c.gbk.size();
    if (iconv(cd, &in, &inLeft, &out, &outLeft) != 0) std::abort();  // the text is all GBK
    iconv_close(cd);
    c.gbk.resize(c.gbk.size() - outLeft);
    return c;
}

const Corpus& Chinese() {
    static const Corpus c = MakeCorpus(ChineseText());
    return c;
}
const Corpus& MostlyAscii() {
    static const Corpus c = MakeCorpus(MostlyAsciiText());
    return c;
}

void DecodeTk(benchmark::State& state, const Corpus& c) {
    tkSetAnsiCodePage(936);
    std::vector<TKWCHAR> out(c.wide.size() + 1);
    for (auto _ : state) {
        int n =
            TKStringUtils::Ansi2Unicode(c.gbk.c_str(), out.data(), static_cast<int>(out.size()));
        if (n != static_cast<int>(c.wide.size()) + 1) state.SkipWithError("wrong length");
        benchmark::DoNotOptimize(out.data());
    }
    tkSetAnsiCodePage(65001);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.gbk.size()));
}

void EncodeTk(benchmark::State& state, const Corpus& c) {
    tkSetAnsiCodePage(936);
    std::vector<char> out(c.gbk.size() + 1);
    for (auto _ : state) {
        int n =
            TKStringUtils::Unicode2Ansi(c.wide.c_str(), out.data(), static_cast<int>(out.size()));
        if (n != static_cast<int>(c.gbk.size()) + 1) state.SkipWithError("wrong length");
        benchmark::DoNotOptimize(out.data());
    }
    tkSetAnsiCodePage(65001);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.gbk.size()));
}

void Iconv(benchmark::State& state, const char* to, const char* from, const char* src,
           std::size_t srcBytes, std::size_t outBytes, std::size_t gbkBytes) {
    iconv_t cd = iconv_open(to, from);
    std::vector<char> out(outBytes);
    for (auto _ : state) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(src);
        std::size_t inLeft = srcBytes;
        char* o = out.data();
        std::size_t outLeft = out.size();
        if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1))
            state.SkipWithError("iconv failed");
        benchmark::DoNotOptimize(out.data());
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * gbkBytes));
}

void DecodeIconv(benchmark::State& state, const Corpus& c) {
    Iconv(state, "UTF-16LE", "GBK", c.gbk.data(), c.gbk.size(), c.wide.size() * 2, c.gbk.size());
}

void EncodeIconv(benchmark::State& state, const Corpus& c) {
    Iconv(state, "GBK", "UTF-16LE", reinterpret_cast<const char*>(c.wide.data()), c.wide.size() * 2,
          c.gbk.size(), c.gbk.size());
}

void BM_DecodeChinese_tk(benchmark::State& s) {
    DecodeTk(s, Chinese());
}
void BM_DecodeChinese_iconv(benchmark::State& s) {
    DecodeIconv(s, Chinese());
}
void BM_EncodeChinese_tk(benchmark::State& s) {
    EncodeTk(s, Chinese());
}
void BM_EncodeChinese_iconv(benchmark::State& s) {
    EncodeIconv(s, Chinese());
}
void BM_DecodeMostlyAscii_tk(benchmark::State& s) {
    DecodeTk(s, MostlyAscii());
}
void BM_DecodeMostlyAscii_iconv(benchmark::State& s) {
    DecodeIconv(s, MostlyAscii());
}
void BM_EncodeMostlyAscii_tk(benchmark::State& s) {
    EncodeTk(s, MostlyAscii());
}
void BM_EncodeMostlyAscii_iconv(benchmark::State& s) {
    EncodeIconv(s, MostlyAscii());
}

}  // namespace

BENCHMARK(BM_DecodeChinese_tk)->Name("GbkDecodeChinese10MB/tk")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeChinese_iconv)
    ->Name("GbkDecodeChinese10MB/iconv")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeChinese_tk)->Name("GbkEncodeChinese10MB/tk")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeChinese_iconv)
    ->Name("GbkEncodeChinese10MB/iconv")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMostlyAscii_tk)
    ->Name("GbkDecodeMostlyAscii10MB/tk")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMostlyAscii_iconv)
    ->Name("GbkDecodeMostlyAscii10MB/iconv")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeMostlyAscii_tk)
    ->Name("GbkEncodeMostlyAscii10MB/tk")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeMostlyAscii_iconv)
    ->Name("GbkEncodeMostlyAscii10MB/iconv")
    ->Unit(benchmark::kMillisecond);
