// Geodesy benchmarks: Gauss-Kruger forward and inverse against PROJ's
// Transverse Mercator (default algorithm and +approx, batched through
// proj_trans_generic) and GeographicLib's TransverseMercator; the ECEF
// conversions against PROJ's geocentric conversion (+proj=cart). Every
// benchmark handles the same 1,000,000 points of a 3-degree zone
// (CGCS2000, CM 117E, lon 115.5..118.5, lat 18..54); PROJ gets radians
// prepared outside the timed loop. A ratio table follows the run.
#include <benchmark/benchmark.h>

#include "common/ratio_main.h"
#include <proj.h>

#include <GeographicLib/TransverseMercator.hpp>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tavikfcu/TKGeo.h"

void PrintProjCrossCheck();

namespace {

constexpr std::size_t kPoints = 1000000;
constexpr double kRad = M_PI / 180.0;

struct Data {
    CTKProCoordinateSystem pcs{CTKGeoCoordinateSystem::CGCS2000, 117, 500000, 0, 1};
    std::vector<double> lon, lat, lonRad, latRad, x, y, ex, ey, ez, h;

    Data() {
        std::mt19937_64 rng(20240601);
        std::uniform_real_distribution<double> dl(-1.5, 1.5), dlat(18, 54), dh(-100, 5000);
        for (auto* v : {&lon, &lat, &lonRad, &latRad, &x, &y, &ex, &ey, &ez, &h})
            v->resize(kPoints);
        for (std::size_t i = 0; i < kPoints; ++i) {
            lon[i] = 117 + dl(rng);
            lat[i] = dlat(rng);
            h[i] = dh(rng);
            lonRad[i] = lon[i] * kRad;
            latRad[i] = lat[i] * kRad;
            CTKProCoordinateSystem::GeoToGauss(lon[i], lat[i], x[i], y[i], pcs);
            CTKGeoCoordinateSystem::LonLat2ECI(lon[i], lat[i], h[i], ex[i], ey[i], ez[i],
                                               pcs.m_geo);
        }
    }
};

const Data& GetData() {
    static const Data data;
    return data;
}

std::string Tmerc(bool approx) {
    return std::string(
               "+proj=tmerc +lat_0=0 +lon_0=117 +k=1 +x_0=500000 +y_0=0 +a=6378137 "
               "+rf=298.257222101 +units=m") +
           (approx ? " +approx" : "");
}

// ---- Gauss-Kruger -------------------------------------------------------------

void BM_TK_GeoToGauss(benchmark::State& state) {
    const Data& d = GetData();
    std::vector<double> x(kPoints), y(kPoints);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kPoints; ++i)
            CTKProCoordinateSystem::GeoToGauss(d.lon[i], d.lat[i], x[i], y[i], d.pcs);
        benchmark::DoNotOptimize(x.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_TK_GaussToGeo(benchmark::State& state) {
    const Data& d = GetData();
    std::vector<double> lon(kPoints), lat(kPoints);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kPoints; ++i)
            CTKProCoordinateSystem::GaussToGeo(d.x[i], d.y[i], lon[i], lat[i], d.pcs);
        benchmark::DoNotOptimize(lon.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

// PROJ transforms in place, so each pass copies the input first (a memcpy
// of 16 MB, small next to the transformation itself).
void RunProj(benchmark::State& state, const std::string& definition, PJ_DIRECTION direction,
             const std::vector<double>& a, const std::vector<double>& b,
             const std::vector<double>* c = nullptr) {
    PJ_CONTEXT* ctx = proj_context_create();
    PJ* pj = proj_create(ctx, definition.c_str());
    if (!pj) {
        state.SkipWithError("proj_create failed");
        proj_context_destroy(ctx);
        return;
    }
    std::vector<double> u(kPoints), v(kPoints), w(kPoints);
    for (auto _ : state) {
        u = a;
        v = b;
        if (c) w = *c;
        proj_trans_generic(pj, direction, u.data(), sizeof(double), kPoints, v.data(),
                           sizeof(double), kPoints, c ? w.data() : nullptr, sizeof(double),
                           c ? kPoints : 0, nullptr, 0, 0);
        benchmark::DoNotOptimize(u.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
    proj_destroy(pj);
    proj_context_destroy(ctx);
}

void BM_PROJ_TmercFwd(benchmark::State& state) {
    RunProj(state, Tmerc(false), PJ_FWD, GetData().lonRad, GetData().latRad);
}
void BM_PROJ_TmercInv(benchmark::State& state) {
    RunProj(state, Tmerc(false), PJ_INV, GetData().x, GetData().y);
}
void BM_PROJ_TmercApproxFwd(benchmark::State& state) {
    RunProj(state, Tmerc(true), PJ_FWD, GetData().lonRad, GetData().latRad);
}
void BM_PROJ_TmercApproxInv(benchmark::State& state) {
    RunProj(state, Tmerc(true), PJ_INV, GetData().x, GetData().y);
}

void BM_GeographicLib_TMFwd(benchmark::State& state) {
    const Data& d = GetData();
    const GeographicLib::TransverseMercator tm(6378137, 1 / 298.257222101, 1);
    std::vector<double> x(kPoints), y(kPoints);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kPoints; ++i) {
            tm.Forward(117, d.lat[i], d.lon[i], x[i], y[i]);
            x[i] += 500000;
        }
        benchmark::DoNotOptimize(x.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_GeographicLib_TMInv(benchmark::State& state) {
    const Data& d = GetData();
    const GeographicLib::TransverseMercator tm(6378137, 1 / 298.257222101, 1);
    std::vector<double> lon(kPoints), lat(kPoints);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kPoints; ++i)
            tm.Reverse(117, d.x[i] - 500000, d.y[i], lat[i], lon[i]);
        benchmark::DoNotOptimize(lon.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

// ---- ECEF ----------------------------------------------------------------------

void BM_TK_LonLat2ECI(benchmark::State& state) {
    const Data& d = GetData();
    std::vector<double> x(kPoints), y(kPoints), z(kPoints);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kPoints; ++i)
            CTKGeoCoordinateSystem::LonLat2ECI(d.lon[i], d.lat[i], d.h[i], x[i], y[i], z[i],
                                               d.pcs.m_geo);
        benchmark::DoNotOptimize(x.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void BM_TK_ECI2LonLat(benchmark::State& state) {
    const Data& d = GetData();
    std::vector<double> lon(kPoints), lat(kPoints), h(kPoints);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kPoints; ++i)
            CTKGeoCoordinateSystem::ECI2LonLat(d.ex[i], d.ey[i], d.ez[i], lon[i], lat[i], h[i],
                                               d.pcs.m_geo);
        benchmark::DoNotOptimize(lon.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

const char kCart[] = "+proj=cart +a=6378137 +rf=298.257222101";

void BM_PROJ_CartFwd(benchmark::State& state) {
    RunProj(state, kCart, PJ_FWD, GetData().lonRad, GetData().latRad, &GetData().h);
}
void BM_PROJ_CartInv(benchmark::State& state) {
    RunProj(state, kCart, PJ_INV, GetData().ex, GetData().ey, &GetData().ez);
}

BENCHMARK(BM_TK_GeoToGauss)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PROJ_TmercFwd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PROJ_TmercApproxFwd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GeographicLib_TMFwd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TK_GaussToGeo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PROJ_TmercInv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PROJ_TmercApproxInv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GeographicLib_TMInv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TK_LonLat2ECI)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PROJ_CartFwd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TK_ECI2LonLat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PROJ_CartInv)->Unit(benchmark::kMillisecond);

// Console output plus a record of every rate, for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (!tkbench::IsSummaryRun(run)) continue;
            const auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) rates[tkbench::SummaryName(run)] = it->second.value;
        }
    }
    std::map<std::string, double> rates;
};

void PrintRatio(const RatioReporter& r, const char* tk, const char* peer) {
    const auto a = r.rates.find(tk), b = r.rates.find(peer);
    if (a == r.rates.end() || b == r.rates.end()) return;
    std::printf("%-18s %6.1f Mpt/s  vs %-24s %6.1f Mpt/s   ratio tk/peer = %.2f\n", tk + 3,
                a->second / 1e6, peer + 3, b->second / 1e6, a->second / b->second);
}

}  // namespace

int main(int argc, char** argv) {
    PrintProjCrossCheck();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n== ratios (points per second)\n");
    PrintRatio(reporter, "BM_TK_GeoToGauss", "BM_PROJ_TmercFwd");
    PrintRatio(reporter, "BM_TK_GeoToGauss", "BM_PROJ_TmercApproxFwd");
    PrintRatio(reporter, "BM_TK_GeoToGauss", "BM_GeographicLib_TMFwd");
    PrintRatio(reporter, "BM_TK_GaussToGeo", "BM_PROJ_TmercInv");
    PrintRatio(reporter, "BM_TK_GaussToGeo", "BM_PROJ_TmercApproxInv");
    PrintRatio(reporter, "BM_TK_GaussToGeo", "BM_GeographicLib_TMInv");
    PrintRatio(reporter, "BM_TK_LonLat2ECI", "BM_PROJ_CartFwd");
    PrintRatio(reporter, "BM_TK_ECI2LonLat", "BM_PROJ_CartInv");
    benchmark::Shutdown();
    return 0;
}
