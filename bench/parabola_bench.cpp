// Parabola fit, unweighted and weighted, with one search pass per start (the
// default) and with up to 50. One benchmark iteration is one whole fit:
// items_per_second counts fits, and points_per_second the points those fits
// went through.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench_points.hpp"

namespace {

using namespace zbench;

// A noisy arc of y = 0.02 x^2, x in [-50, 50], turned by 0.5 rad and moved
// to (200, -40); weights between 0.5 and 2.
struct Arc {
    explicit Arc(int64_t n) : points(n), weights(n)
    {
        std::mt19937_64 rng(11);
        std::uniform_real_distribution<double> along(-50.0, 50.0), weight(0.5, 2.0);
        std::normal_distribution<double> noise(0.0, 0.05);
        const std::span<zmath_vect> p = points.span();
        const std::span<double> w = weights.span();
        const double c = std::cos(0.5), s = std::sin(0.5);
        for (int64_t i = 0; i < n; ++i) {
            const double x = along(rng), y = 0.02 * x * x + noise(rng);
            p[static_cast<size_t>(i)] = {200.0 + c * x - s * y, -40.0 + s * x + c * y};
            w[static_cast<size_t>(i)] = weight(rng);
        }
    }
    zfit::Points points;
    zfit::Doubles weights;
};

template <bool weighted>
void BM_ParabolaFit(benchmark::State& state)
{
    const Arc arc(state.range(0));
    zmath_parabolaFitParams params;
    zmath_parabolaFitParams_init(&params);
    params.maxIterations = static_cast<int32_t>(state.range(1));
    zfit::Result<zmath_parabolaFitResult> result;
    for (auto _ : state) {
        const zfit_status status =
            weighted ? zmath_parabolaFitWeightedVector(arc.points.get(), arc.weights.get(), &params, result.get())
                     : zmath_parabolaFitVector(arc.points.get(), &params, result.get());
        if (ZFIT_FAILED(status)) state.SkipWithError("fit failed");
        benchmark::DoNotOptimize(result->rmsError);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["points_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"n", "maxIterations"});
    for (int64_t iterations : {1, 50})
        for (int64_t n : {100, 10000, 1000000}) b->Args({n, iterations});
    b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_ParabolaFit<false>)->Name("BM_ParabolaFitVector")->Apply(sizes);
BENCHMARK(BM_ParabolaFit<true>)->Name("BM_ParabolaFitWeightedVector")->Apply(sizes);
