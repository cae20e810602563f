// Geometric fits against the algebraic fits they start from, on the same
// points: a 50-point circle (the target: at most 10 us), a million-point
// circle (the target: at most 20 times the algebraic fit), the ellipse, and
// the uncertainty of a line. Compare the geometric and algebraic rows of one
// run; absolute times on a shared machine are noise.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include <zfit/metrology/metrology.h>

#include "bench_points.hpp"

namespace {

using namespace zbench;

void BM_CircleAlgebraic(benchmark::State& state)
{
    timeLeastSquaresCircle(state, arc(state.range(0), static_cast<double>(state.range(1)), false));
}

void BM_CircleGeometric(benchmark::State& state)
{
    const auto points = arc(state.range(0), static_cast<double>(state.range(1)), false);
    zmet_geometricCircleParams params;
    zmet_geometricCircleParams_init(&params);
    zmet_geometricCircleResult result{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            zmet_geometricCircleFit(points.data(), static_cast<int32_t>(points.size()), &params, &result));
        benchmark::DoNotOptimize(result.radius);
    }
    state.counters["iterations"] = result.iterations;
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_EllipseAlgebraic(benchmark::State& state)
{
    const auto points = arc(state.range(0), 90.0, true);
    zmath_ellipseFitParams params;
    zmath_ellipseFitParams_init(&params);
    zfit::Result<zmath_ellipseFitResult> result;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            zmath_ellipseFit(points.data(), static_cast<int32_t>(points.size()), &params, result.get()));
        benchmark::DoNotOptimize(result->rmsError);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_EllipseGeometric(benchmark::State& state)
{
    const auto points = arc(state.range(0), 90.0, true);
    zmet_geometricEllipseParams params;
    zmet_geometricEllipseParams_init(&params);
    zmet_geometricEllipseResult result{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            zmet_geometricEllipseFit(points.data(), static_cast<int32_t>(points.size()), &params, &result));
        benchmark::DoNotOptimize(result.rmsError);
    }
    state.counters["iterations"] = result.iterations;
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The 95% quantile every fit looks up, alone.
void BM_StudentQuantile(benchmark::State& state)
{
    double t = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmet_studentTQuantile(0.975, static_cast<double>(state.range(0)), &t));
        benchmark::DoNotOptimize(t);
    }
}

}  // namespace

// Args: points, arc in degrees.
BENCHMARK(BM_CircleAlgebraic)->Args({50, 30})->Args({50, 360})->Args({1000000, 360})->Args({1000000, 30});
BENCHMARK(BM_CircleGeometric)->Args({50, 30})->Args({50, 360})->Args({1000000, 360})->Args({1000000, 30});
BENCHMARK(BM_EllipseAlgebraic)->Arg(100)->Arg(100000);
BENCHMARK(BM_EllipseGeometric)->Arg(100)->Arg(100000);
BENCHMARK(BM_StudentQuantile)->Arg(3)->Arg(47)->Arg(999997);
