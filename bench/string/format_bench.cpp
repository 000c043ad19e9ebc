// CTKString::Format against the other ways a program gets the same UTF-16
// text: snprintf then widening, two std::to_string calls joined and widened,
// and (when available) QString::asprintf. Each iteration builds a new string.
// "%s" of a 64 Ki-unit text is set against a plain memcpy of it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tavikfcu/TKString.h"
#if HAVE_QT
#include <QString>
#endif

namespace {

const char16_t kName[] = u"gauge";
const double kValue = 3.14159;

std::u16string WidenAscii(const char* s, std::size_t n) {
    return std::u16string(s, s + n);
}

// "%d items, %s, %.2f"
void BM_Format_tk(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        CTKString s;
        s.Format(TKL("%d items, %s, %.2f"), ++i, kName, kValue);
        benchmark::DoNotOptimize(s);
    }
}

void BM_Format_snprintf(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        char buffer[128];
        int n = std::snprintf(buffer, sizeof buffer, "%d items, %s, %.2f", ++i, "gauge", kValue);
        std::u16string s = WidenAscii(buffer, static_cast<std::size_t>(n));
        benchmark::DoNotOptimize(s);
    }
}

// std::to_string has no precision, so its double comes out as "%f".
void BM_Format_to_string(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        std::string text = std::to_string(++i) + " items, gauge, " + std::to_string(kValue);
        std::u16string s = WidenAscii(text.data(), text.size());
        benchmark::DoNotOptimize(s);
    }
}

// "%d %f"
void BM_IntDouble_tk(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        CTKString s;
        s.Format(TKL("%d %f"), ++i, kValue);
        benchmark::DoNotOptimize(s);
    }
}

void BM_IntDouble_to_string(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        std::string text = std::to_string(++i) + ' ' + std::to_string(kValue);
        std::u16string s = WidenAscii(text.data(), text.size());
        benchmark::DoNotOptimize(s);
    }
}

// "%s" with a 64 Ki-unit argument against a plain copy of the same units
// (terminator included) into a buffer that is already large enough.
constexpr std::size_t kLongUnits = 64 * 1024;
const std::u16string& LongText() {
    static const std::u16string text(kLongUnits, u'x');
    return text;
}

void BM_FormatLongText_tk(benchmark::State& state) {
    const TKWCHAR* text = LongText().c_str();
    CTKString s;
    for (auto _ : state) {
        s.Format(TKL("%s"), text);
        benchmark::DoNotOptimize(s);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLongUnits * 2));
}

void BM_FormatLongText_memcpy(benchmark::State& state) {
    const std::u16string& text = LongText();
    std::u16string s(kLongUnits, u' ');
    for (auto _ : state) {
        std::memcpy(&s[0], text.c_str(), (kLongUnits + 1) * sizeof(char16_t));
        benchmark::DoNotOptimize(s);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLongUnits * 2));
}

#if HAVE_QT
void BM_Format_QString(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        QString s = QString::asprintf("%d items, %ls, %.2f", ++i,
                                      reinterpret_cast<const ushort*>(kName), kValue);
        benchmark::DoNotOptimize(s);
    }
}

void BM_IntDouble_QString(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        QString s = QString::asprintf("%d %f", ++i, kValue);
        benchmark::DoNotOptimize(s);
    }
}
#endif

}  // namespace

BENCHMARK(BM_Format_tk)->Name("Format/tk");
BENCHMARK(BM_Format_snprintf)->Name("Format/snprintf+widen");
BENCHMARK(BM_Format_to_string)->Name("Format/to_string");
BENCHMARK(BM_IntDouble_tk)->Name("FormatIntDouble/tk");
BENCHMARK(BM_IntDouble_to_string)->Name("FormatIntDouble/to_string");
BENCHMARK(BM_FormatLongText_tk)->Name("FormatText64Ki/tk");
BENCHMARK(BM_FormatLongText_memcpy)->Name("FormatText64Ki/memcpy");
#if HAVE_QT
BENCHMARK(BM_Format_QString)->Name("Format/QString");
BENCHMARK(BM_IntDouble_QString)->Name("FormatIntDouble/QString");
#endif
