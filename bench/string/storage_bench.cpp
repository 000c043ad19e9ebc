// CTKString storage against std::u16string and (when available) QString:
// copy+destroy, assignment, one-character appends, construction from a literal.
#include <benchmark/benchmark.h>

#include <string>

#include "common/ratio_main.h"
#include "tavikfcu/TKString.h"
#if HAVE_QT
#include <QString>
#endif

namespace {

const char16_t kText20[] = u"twenty characters..";  // 20 units with the dot pair
const char16_t kText100[] =
    u"one hundred characters of text, which is a typical length for a message or a path "
    u"in real programs";

template <typename S>
S Make20();
template <>
CTKString Make20<CTKString>() {
    return CTKString(reinterpret_cast<const TKWCHAR*>(kText20));
}
template <>
std::u16string Make20<std::u16string>() {
    return kText20;
}
#if HAVE_QT
template <>
QString Make20<QString>() {
    return QString::fromUtf16(kText20);
}
#endif

template <typename S>
void BM_CopyDestroy20(benchmark::State& state) {
    S source = Make20<S>();
    for (auto _ : state) {
        S copy(source);
        benchmark::DoNotOptimize(copy);
    }
}

template <typename S>
void BM_Assign20(benchmark::State& state) {
    S a = Make20<S>(), b = Make20<S>();
    S target;
    for (auto _ : state) {
        target = a;
        benchmark::DoNotOptimize(target);
        target = b;
        benchmark::DoNotOptimize(target);
    }
    state.SetItemsProcessed(state.iterations() * 2);
}

void BM_FromLiteral100_CTKString(benchmark::State& state) {
    for (auto _ : state) {
        CTKString s(reinterpret_cast<const TKWCHAR*>(kText100));
        benchmark::DoNotOptimize(s);
    }
}
void BM_FromLiteral100_u16string(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s(kText100);  // scans for the terminator, as CTKString does
        benchmark::DoNotOptimize(s);
    }
}
#if HAVE_QT
void BM_FromLiteral100_QString(benchmark::State& state) {
    for (auto _ : state) {
        QString s = QString::fromUtf16(kText100);
        benchmark::DoNotOptimize(s);
    }
}
#endif

constexpr int kAppends = 1000000;

void BM_Append1M_CTKString(benchmark::State& state) {
    for (auto _ : state) {
        CTKString s;
        for (int i = 0; i < kAppends; ++i) s += static_cast<TKWCHAR>(u'a' + (i & 15));
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}
void BM_Append1M_u16string(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s;
        for (int i = 0; i < kAppends; ++i) s += static_cast<char16_t>(u'a' + (i & 15));
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}
#if HAVE_QT
void BM_Append1M_QString(benchmark::State& state) {
    for (auto _ : state) {
        QString s;
        for (int i = 0; i < kAppends; ++i) s += QChar(u'a' + (i & 15));
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}
#endif

// Linear growth check: appends in loops of 100k, 400k and 1.6M units.
void BM_AppendScaling_CTKString(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        CTKString s;
        for (int i = 0; i < n; ++i) s += TKL('x');
        benchmark::DoNotOptimize(s);
    }
    state.SetComplexityN(n);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_CopyDestroy20, CTKString)->Name("CopyDestroy20/tk");
BENCHMARK_TEMPLATE(BM_CopyDestroy20, std::u16string)->Name("CopyDestroy20/u16string");
BENCHMARK_TEMPLATE(BM_Assign20, CTKString)->Name("Assign20/tk");
BENCHMARK_TEMPLATE(BM_Assign20, std::u16string)->Name("Assign20/u16string");
#if HAVE_QT
BENCHMARK_TEMPLATE(BM_CopyDestroy20, QString)->Name("CopyDestroy20/QString");
BENCHMARK_TEMPLATE(BM_Assign20, QString)->Name("Assign20/QString");
BENCHMARK(BM_FromLiteral100_QString)->Name("FromLiteral100/QString");
BENCHMARK(BM_Append1M_QString)->Name("Append1M/QString")->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_FromLiteral100_CTKString)->Name("FromLiteral100/tk");
BENCHMARK(BM_FromLiteral100_u16string)->Name("FromLiteral100/u16string");
BENCHMARK(BM_Append1M_CTKString)->Name("Append1M/tk")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Append1M_u16string)->Name("Append1M/u16string")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendScaling_CTKString)
    ->Name("AppendScaling_tk")
    ->RangeMultiplier(4)
    ->Range(100000, 1600000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

TK_BENCHMARK_RATIO_MAIN()
