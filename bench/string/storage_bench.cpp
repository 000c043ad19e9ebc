// CTKString storage against std::u16string and (when available) QString:
// copy+destroy and assignment of 19 units, construction from 98 units (count
// given, or scanned), and strings of 1 Ki to 16 Mi units built by one-unit appends.
#include <benchmark/benchmark.h>

#include <string>

#include "common/ratio_main.h"
#include "tavikfcu/TKString.h"
#if HAVE_QT
#include <QString>
#endif

namespace {

const char16_t kText19[] = u"nineteen units long";
constexpr int kText19Units = sizeof(kText19) / sizeof(char16_t) - 1;
static_assert(kText19Units == 19, "the name says 19");
const char16_t kText98[] =
    u"ninety-eight units of text, about the length of a message or a path that a real "
    u"program handles!!!";
constexpr int kText98Units = sizeof(kText98) / sizeof(char16_t) - 1;
static_assert(kText98Units == 98, "the name says 98");

template <typename S>
S Make19();
template <>
CTKString Make19<CTKString>() {
    return CTKString(reinterpret_cast<const TKWCHAR*>(kText19));
}
template <>
std::u16string Make19<std::u16string>() {
    return kText19;
}
#if HAVE_QT
template <>
QString Make19<QString>() {
    return QString(reinterpret_cast<const QChar*>(kText19), kText19Units);
}
#endif

template <typename S>
void BM_CopyDestroy19(benchmark::State& state) {
    S source = Make19<S>();
    for (auto _ : state) {
        S copy(source);
        benchmark::DoNotOptimize(copy);
    }
}

template <typename S>
void BM_Assign19(benchmark::State& state) {
    S a = Make19<S>(), b = Make19<S>();
    S target;
    for (auto _ : state) {
        target = a;
        benchmark::DoNotOptimize(target);
        target = b;
        benchmark::DoNotOptimize(target);
    }
    state.SetItemsProcessed(state.iterations() * 2);
}

// A new string from 98 units whose count is known, each in its own form.
void BM_FromUnits98_CTKString(benchmark::State& state) {
    for (auto _ : state) {
        CTKString s(reinterpret_cast<const TKWCHAR*>(kText98), kText98Units);
        benchmark::DoNotOptimize(s);
    }
}
void BM_FromUnits98_u16string(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s(kText98, kText98Units);
        benchmark::DoNotOptimize(s);
    }
}
#if HAVE_QT
void BM_FromUnits98_QString(benchmark::State& state) {
    for (auto _ : state) {
        QString s(reinterpret_cast<const QChar*>(kText98), kText98Units);
        benchmark::DoNotOptimize(s);
    }
}
#endif

// A new string from a NUL-terminated text of 98 units (the length is scanned).
void BM_FromTerminated98_CTKString(benchmark::State& state) {
    for (auto _ : state) {
        CTKString s(reinterpret_cast<const TKWCHAR*>(kText98));
        benchmark::DoNotOptimize(s);
    }
}
void BM_FromTerminated98_u16string(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s(kText98);
        benchmark::DoNotOptimize(s);
    }
}

// A string built by n one-unit appends, from empty; time per append.
template <typename S, typename Unit>
void BM_AppendUnits(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        S s;
        for (int i = 0; i < n; ++i) s += static_cast<Unit>(u'a' + (i & 15));
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void AppendSizes(benchmark::internal::Benchmark* b) {
    b->RangeMultiplier(16)->Range(1 << 10, 1 << 24)->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_CopyDestroy19, CTKString)->Name("CopyDestroy19/tk");
BENCHMARK_TEMPLATE(BM_CopyDestroy19, std::u16string)->Name("CopyDestroy19/u16string");
BENCHMARK_TEMPLATE(BM_Assign19, CTKString)->Name("Assign19/tk");
BENCHMARK_TEMPLATE(BM_Assign19, std::u16string)->Name("Assign19/u16string");
BENCHMARK(BM_FromUnits98_CTKString)->Name("FromUnits98/tk");
BENCHMARK(BM_FromUnits98_u16string)->Name("FromUnits98/u16string");
BENCHMARK(BM_FromTerminated98_CTKString)->Name("FromTerminated98/tk");
BENCHMARK(BM_FromTerminated98_u16string)->Name("FromTerminated98/u16string");
BENCHMARK_TEMPLATE(BM_AppendUnits, CTKString, TKWCHAR)->Name("AppendUnits/tk")->Apply(AppendSizes);
BENCHMARK_TEMPLATE(BM_AppendUnits, std::u16string, char16_t)
    ->Name("AppendUnits/u16string")
    ->Apply(AppendSizes);
#if HAVE_QT
BENCHMARK_TEMPLATE(BM_CopyDestroy19, QString)->Name("CopyDestroy19/QString");
BENCHMARK_TEMPLATE(BM_Assign19, QString)->Name("Assign19/QString");
BENCHMARK(BM_FromUnits98_QString)->Name("FromUnits98/QString");
BENCHMARK_TEMPLATE(BM_AppendUnits, QString, QChar)->Name("AppendUnits/QString")->Apply(AppendSizes);
#endif

TK_BENCHMARK_RATIO_MAIN()
