// Line fits that discard points: the exhaustive search (numIgnore 1 to 3),
// the ranked-window search and the minimum-zone strip, on a noisy line with
// a tenth of its points thrown far off.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include <zfit/zfit.h>

namespace {

std::vector<zmath_vect> lineWithOutliers(int64_t n)
{
    std::mt19937_64 rng(11);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::uniform_real_distribution<double> far(20.0, 60.0);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(n) * 100.0;
        const double off = (i % 10 == 3) ? far(rng) * ((i / 10) % 2 ? 1.0 : -1.0) : noise(rng);
        points[static_cast<size_t>(i)] = {t, 0.3 * t + 5.0 + off};
    }
    return points;
}

struct PointVector {
    explicit PointVector(const std::vector<zmath_vect>& points)
    {
        zstd_vector_zmath_vect_construct(&v, static_cast<int64_t>(points.size()));
        std::copy(points.begin(), points.end(), v.begin);
    }
    ~PointVector() { zstd_vector_zmath_vect_destruct(&v); }
    zstd_vector_zmath_vect v{};
};

void run(benchmark::State& state, int32_t mode, int32_t numIgnore)
{
    const PointVector points(lineWithOutliers(state.range(0)));
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    params.mode = mode;
    params.numIgnore = numIgnore;
    zmath_lineFitResult result;
    zmath_lineFitResult_construct(&result);
    for (auto _ : state) {
        const zfit_status status = zmath_lineFitVector(&points.v, &params, &result);
        if (ZFIT_FAILED(status)) state.SkipWithError("fit failed");
        benchmark::DoNotOptimize(result.rmsError);
    }
    zmath_lineFitResult_destruct(&result);
    state.counters["numIgnore"] = numIgnore;
}

// state.range(1): numIgnore, or 0 for a tenth of the points.
int32_t numIgnoreOf(const benchmark::State& state)
{
    return state.range(1) > 0 ? static_cast<int32_t>(state.range(1)) : static_cast<int32_t>(state.range(0) / 10);
}

void BM_LineExhaustive(benchmark::State& state) { run(state, 0, static_cast<int32_t>(state.range(1))); }
void BM_LineRanked(benchmark::State& state) { run(state, 0, std::max(4, numIgnoreOf(state))); }
void BM_LineMinZone(benchmark::State& state) { run(state, 1, numIgnoreOf(state)); }

}  // namespace

BENCHMARK(BM_LineExhaustive)
    ->ArgsProduct({{50, 200}, {1, 2, 3}})
    ->ArgNames({"n", "m"})
    ->Unit(benchmark::kMicrosecond);
// m = 0 stands for n / 10 (at least 4 for the ranked search).
BENCHMARK(BM_LineRanked)
    ->ArgsProduct({{20, 50, 100, 200}, {4, 0}})
    ->ArgNames({"n", "m"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineMinZone)
    ->ArgsProduct({{20, 50, 100, 200}, {4, 0}})
    ->ArgNames({"n", "m"})
    ->Unit(benchmark::kMillisecond);
