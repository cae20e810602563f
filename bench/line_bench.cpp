// Least-squares line fit against a baseline that only sums the same points'
// coordinates: the fit makes one moment pass and one residual pass.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bench_points.hpp"

namespace {

using namespace zbench;

void BM_SumCoordinatesBaseline(benchmark::State& state) { sumCoordinates(state, noisyLine(state.range(0))); }

void BM_LineFitVector(benchmark::State& state)
{
    const zfit::Points points{std::span<const zmath_vect>(noisyLine(state.range(0)))};
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    zfit::Result<zmath_lineFitResult> result;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmath_lineFitVector(points.get(), &params, result.get()));
        benchmark::DoNotOptimize(result->rmsError);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_LineFitArray(benchmark::State& state)
{
    const auto points = noisyLine(state.range(0));
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    zfit::Result<zmath_lineFitResult> result;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            zmath_lineFit(points.data(), static_cast<int32_t>(points.size()), &params, result.get()));
        benchmark::DoNotOptimize(result->rmsError);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_SumCoordinatesBaseline)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_LineFitVector)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_LineFitArray)->Arg(1000)->Arg(100000)->Arg(1000000);
