// Ellipse fit: the algebraic fit of all points (three passes over them: the
// centroid, the power sums, the radial error) against a baseline that only
// sums the same points' coordinates, and the exhaustive subset search, whose
// cost is C(n, k) fits of n - k points each.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench_points.hpp"

namespace {

using namespace zbench;

void BM_SumCoordinatesBaseline(benchmark::State& state) { sumCoordinates(state, noisyEllipse(state.range(0), false)); }

// numIgnore = range(1) over range(0) points.
void fitVector(benchmark::State& state, bool strays)
{
    const zfit::Points points{std::span<const zmath_vect>(noisyEllipse(state.range(0), strays))};
    zmath_ellipseFitParams params;
    zmath_ellipseFitParams_init(&params);
    params.numIgnore = static_cast<int32_t>(state.range(1));
    zfit::Result<zmath_ellipseFitResult> result;
    for (auto _ : state) {
        const zfit_status status = zmath_ellipseFitVector(points.get(), &params, result.get());
        if (ZFIT_FAILED(status)) state.SkipWithError("fit failed");
        benchmark::DoNotOptimize(result->rmsError);
    }
}

void BM_EllipseFitAlgebraic(benchmark::State& state)
{
    fitVector(state, false);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_EllipseFitSubsets(benchmark::State& state)
{
    fitVector(state, true);
    // Items are the subsets tried: C(n, k).
    double subsets = 1.0;
    for (int64_t i = 0; i < state.range(1); ++i)
        subsets = subsets * static_cast<double>(state.range(0) - i) / static_cast<double>(i + 1);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(std::llround(subsets)));
}

}  // namespace

BENCHMARK(BM_SumCoordinatesBaseline)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_EllipseFitAlgebraic)->Args({1000, 0})->Args({100000, 0})->Args({1000000, 0});
BENCHMARK(BM_EllipseFitSubsets)->Args({12, 1})->Args({12, 2})->Args({20, 2})->Args({20, 3});
