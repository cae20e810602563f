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

// Points on a circle of radius 10 about (3, -2), noise 0.01; `outliers` of
// them moved outward to 1.3 times the radius (the data of the peer
// comparison in bench/robust_peers.py).
std::vector<zmath_vect> noisyCircle(int64_t n, int64_t outliers = 0)
{
    std::mt19937_64 rng(11);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const double a = angle(rng);
        points[static_cast<size_t>(i)] = {3.0 + 10.0 * std::cos(a) + noise(rng), -2.0 + 10.0 * std::sin(a) + noise(rng)};
    }
    for (int64_t k = 0; k < outliers; ++k) {
        zmath_vect& p = points[static_cast<size_t>((7 * k + 3) % n)];
        p = {3.0 + 1.3 * (p.x - 3.0), -2.0 + 1.3 * (p.y + 2.0)};
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

// The plain fit of the unweighted entry (nothing discarded): the one window
// of all points, solved once; to be compared with the weighted fit above.
void plainBench(benchmark::State& state, int32_t mode)
{
    const auto points = noisyCircle(state.range(0));
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.mode = mode;
    params.fixedRadius = 10.0;
    zmath_circleFitResult result;
    zmath_circleFitResult_construct(&result);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmath_circleFit(points.data(), static_cast<int32_t>(points.size()), &params, &result));
        benchmark::DoNotOptimize(result.rmsError);
    }
    zmath_circleFitResult_destruct(&result);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_CircleFitPlainFreeRadius(benchmark::State& state) { plainBench(state, 0); }
void BM_CircleFitPlainFixedRadius(benchmark::State& state) { plainBench(state, 1); }

// The searches with a tenth of the points moved off and discarded. Every
// triple of points proposes a candidate centre.
void searchBench(benchmark::State& state, int32_t mode)
{
    const int64_t n = state.range(0), m = n / 10;
    const PointVector points(noisyCircle(n, m));
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.mode = mode;
    params.numIgnore = static_cast<int32_t>(m);
    params.fixedRadius = 10.0;
    zmath_circleFitResult result;
    zmath_circleFitResult_construct(&result);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmath_circleFitVector(&points.v, &params, &result));
        benchmark::DoNotOptimize(result.rmsError);
    }
    zmath_circleFitResult_destruct(&result);
    const double candidates = static_cast<double>(n * (n - 1) * (n - 2) / 6);
    state.counters["numIgnore"] = static_cast<double>(m);
    state.counters["candidates/s"] =
        benchmark::Counter(candidates * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_CircleFitFreeRadius(benchmark::State& state) { searchBench(state, 0); }
void BM_CircleFitFixedRadius(benchmark::State& state) { searchBench(state, 1); }

}  // namespace

BENCHMARK(BM_CircleFitWeighted)->Arg(1000)->Arg(20000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_CircleFitPlainFreeRadius)->Arg(1000)->Arg(20000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_CircleFitPlainFixedRadius)->Arg(1000)->Arg(20000)->Arg(100000)->Arg(1000000);
// n = 1000 proposes 1.7e8 candidates: minutes per fit.
BENCHMARK(BM_CircleFitFreeRadius)->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Arg(1000)->ArgName("n")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CircleFitFixedRadius)->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Arg(1000)->ArgName("n")->Unit(benchmark::kMillisecond);
