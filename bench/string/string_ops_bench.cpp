// CTKString operations against std::u16string and (when available) QString:
// Replace of "e" by "EE" in 10,240 units, Find of a 6-unit text at the end
// of 1 Mi units, CompareNoCase of two 30-unit texts equal but for case.
// The ratio lines come from the main() in storage_bench.cpp.
#include <benchmark/benchmark.h>

#include <cwctype>
#include <string>

#include "tavikfcu/TKString.h"
#if HAVE_QT
#include <QString>
#endif

namespace {

// Word-like text of n units (letters and spaces, about one 'e' in ten),
// reproducible from a fixed seed.
std::u16string WordText(std::size_t n) {
    static const char16_t kLetters[] = u"etaoinshrdlucmfwypvbgkjqxz";
    std::u16string out;
    out.reserve(n);
    std::uint32_t seed = 12345;
    while (out.size() < n) {
        seed = seed * 1664525u + 1013904223u;
        std::size_t word = 2 + (seed >> 28) % 8;
        for (std::size_t i = 0; i < word && out.size() < n; ++i) {
            seed = seed * 1664525u + 1013904223u;
            // Skewed towards the frequent letters, like prose.
            std::uint32_t r = (seed >> 16) & 0xFFFF;
            out.push_back(kLetters[(r * r >> 16) * 26 >> 16]);
        }
        if (out.size() < n) out.push_back(u' ');
    }
    return out;
}

inline const TKWCHAR* W(const std::u16string& s) {
    return s.c_str();
}

// ---- Replace: "e" by "EE" in 10,240 units ------------------------------------------------

constexpr std::size_t kReplaceUnits = 10240;

void BM_Replace_tk(benchmark::State& state) {
    const CTKString source(W(WordText(kReplaceUnits)));
    for (auto _ : state) {
        CTKString s = source;  // shared: Replace builds the new body
        int n = s.Replace(TKL("e"), TKL("EE"));
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(s);
    }
    state.SetBytesProcessed(state.iterations() * kReplaceUnits * 2);
}

void BM_Replace_u16string(benchmark::State& state) {
    const std::u16string source = WordText(kReplaceUnits);
    const std::u16string from = u"e", to = u"EE";
    for (auto _ : state) {
        std::u16string s;
        s.reserve(source.size() + source.size() / 4);
        std::size_t at = 0;
        for (std::size_t hit; (hit = source.find(from, at)) != std::u16string::npos;) {
            s.append(source, at, hit - at);
            s += to;
            at = hit + from.size();
        }
        s.append(source, at, std::u16string::npos);
        benchmark::DoNotOptimize(s);
    }
    state.SetBytesProcessed(state.iterations() * kReplaceUnits * 2);
}

#if HAVE_QT
void BM_Replace_QString(benchmark::State& state) {
    const QString source = QString::fromStdU16String(WordText(kReplaceUnits));
    const QString to = QStringLiteral("EE");
    for (auto _ : state) {
        QString s = source;
        s.replace(QChar(u'e'), to);  // the one-unit overload: QString's fastest form
        benchmark::DoNotOptimize(s);
    }
    state.SetBytesProcessed(state.iterations() * kReplaceUnits * 2);
}
#endif

// ---- Find: a 6-unit text at the end of 1 Mi units --------------------------------------------

constexpr std::size_t kFindUnits = 1 << 20;
// Starts with a frequent letter, as most needles do; the '!' never occurs
// in the text, so the only match is the one at the end.
const std::u16string kNeedle = u"there!";

std::u16string Haystack() {
    std::u16string hay = WordText(kFindUnits - kNeedle.size());
    return hay + kNeedle;
}

void BM_Find_tk(benchmark::State& state) {
    const CTKString hay(W(Haystack()));
    for (auto _ : state) benchmark::DoNotOptimize(hay.Find(W(kNeedle)));
    state.SetBytesProcessed(state.iterations() * kFindUnits * 2);
}

void BM_Find_u16string(benchmark::State& state) {
    const std::u16string hay = Haystack();
    for (auto _ : state) benchmark::DoNotOptimize(hay.find(kNeedle));
    state.SetBytesProcessed(state.iterations() * kFindUnits * 2);
}

#if HAVE_QT
void BM_Find_QString(benchmark::State& state) {
    const QString hay = QString::fromStdU16String(Haystack());
    const QString needle = QString::fromStdU16String(kNeedle);
    for (auto _ : state) benchmark::DoNotOptimize(hay.indexOf(needle));
    state.SetBytesProcessed(state.iterations() * kFindUnits * 2);
}
#endif

// ---- CompareNoCase: two 30-unit texts equal but for case -------------------------------------

const std::u16string kMixedA = u"The Quick Brown Fox Jumps Over";
const std::u16string kMixedB = u"tHE qUICK bROWN fOX jUMPS oVER";
static_assert(sizeof(char16_t) == sizeof(TKWCHAR), "UTF-16 units");

void BM_CompareNoCase_tk(benchmark::State& state) {
    const CTKString a(W(kMixedA));
    const CTKString b(W(kMixedB));
    for (auto _ : state) {
        benchmark::DoNotOptimize(a.CompareNoCase(b));
        benchmark::ClobberMemory();
    }
}

// The C library route: towlower on every unit of both texts.
void BM_CompareNoCase_towlower(benchmark::State& state) {
    const std::u16string a = kMixedA, b = kMixedB;
    for (auto _ : state) {
        int r = 0;
        for (std::size_t i = 0;; ++i) {
            wint_t x = std::towlower(a[i]), y = std::towlower(b[i]);
            if (x != y || !x) {
                r = static_cast<int>(x) - static_cast<int>(y);
                break;
            }
        }
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
}

#if HAVE_QT
void BM_CompareNoCase_QString(benchmark::State& state) {
    const QString a = QString::fromStdU16String(kMixedA);
    const QString b = QString::fromStdU16String(kMixedB);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a.compare(b, Qt::CaseInsensitive));
        benchmark::ClobberMemory();
    }
}
#endif

}  // namespace

BENCHMARK(BM_Replace_tk)->Name("Replace10240/tk")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Replace_u16string)->Name("Replace10240/u16string")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Find_tk)->Name("Find1Mi/tk")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Find_u16string)->Name("Find1Mi/u16string")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompareNoCase_tk)->Name("CompareNoCase30/tk");
BENCHMARK(BM_CompareNoCase_towlower)->Name("CompareNoCase30/towlower");
#if HAVE_QT
BENCHMARK(BM_Replace_QString)->Name("Replace10240/QString")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Find_QString)->Name("Find1Mi/QString")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompareNoCase_QString)->Name("CompareNoCase30/QString");
#endif
