// Circle fits: the weighted algebraic circle in points per second, and the
// free- and fixed-radius outlier searches in candidate centres per second
// and time per fit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <zfit/zfit.h>

namespace {

// Points on a circle of radius 10 about (3, -2) with a little noise; every
// tenth point is thrown far off.
std::vector<zmath_vect> noisyCircle(int64_t n)
{
    std::mt19937_64 rng(11);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const double a = angle(rng), r = (i % 10 == 9) ? 25.0 : 10.0 + noise(rng);
        points[static_cast<size_t>(i)] = {3.0 + r * std::cos(a), -2.0 + r * std::sin(a)};
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

void BM_CircleFitWeighted(benchmark::State& state)
{
    const auto points = noisyCircle(state.range(0));
    const std::vector<double> weights(points.size(), 1.0);
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    zmath_circleFitResult result;
    zmath_circleFitResult_construct(&result);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmath_circleFitWeighted(points.data(), static_cast<int32_t>(points.size()),
                                                         weights.data(), &params, &result));
        benchmark::DoNotOptimize(result.rmsError);
    }
    zmath_circleFitResult_destruct(&result);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The searches: args are n and numIgnore (-1 for 10% of n). With points in
// general position every triple is a candidate; without discarding only the
// first pair's n - 2 are.
void searchBench(benchmark::State& state, int32_t mode)
{
    const int64_t n = state.range(0);
    const auto m = static_cast<int32_t>(state.range(1) < 0 ? n / 10 : state.range(1));
    const PointVector points(noisyCircle(n));
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.mode = mode;
    params.numIgnore = m;
    params.fixedRadius = 10.0;
    zmath_circleFitResult result;
    zmath_circleFitResult_construct(&result);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmath_circleFitVector(&points.v, &params, &result));
        benchmark::DoNotOptimize(result.rmsError);
    }
    zmath_circleFitResult_destruct(&result);
    const double candidates = m == 0 ? static_cast<double>(n - 2) : static_cast<double>(n * (n - 1) * (n - 2) / 6);
    state.counters["numIgnore"] = m;
    state.counters["candidates"] = candidates;
    state.counters["candidates/s"] =
        benchmark::Counter(candidates * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_CircleFitFreeRadius(benchmark::State& state) { searchBench(state, 0); }
void BM_CircleFitFixedRadius(benchmark::State& state) { searchBench(state, 1); }

void searchArgs(benchmark::internal::Benchmark* b)
{
    for (int64_t n : {20, 50, 100})
        for (int64_t m : {0, 1, 3, -1}) b->Args({n, m});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_CircleFitWeighted)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_CircleFitFreeRadius)->Apply(searchArgs);
BENCHMARK(BM_CircleFitFixedRadius)->Apply(searchArgs);
