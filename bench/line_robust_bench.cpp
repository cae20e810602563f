// Line fits that discard points, on the data of the peer comparison
// (bench/robust_peers.py): x uniform over 0..100 on y = 5 + 0.3 x with noise
// 0.02, a tenth of the points moved 3 to 30 off the line.
//   - the exhaustive search (numIgnore 1 to 3), the ranked window and the
//     minimum zone with a tenth of the points discarded, n = 50 .. 1000;
//   - the straightness of a profile (minimum zone, nothing discarded)
//     against the least-squares line of the same points, n = 10^3 .. 10^6.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "bench_points.hpp"

namespace {

using namespace zbench;

void run(benchmark::State& state, int32_t mode, int32_t numIgnore, int64_t outliers)
{
    const zfit::Points points{std::span<const zmath_vect>(lineWithOutliers(state.range(0), outliers))};
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    params.mode = mode;
    params.numIgnore = numIgnore;
    zfit::Result<zmath_lineFitResult> result;
    for (auto _ : state) {
        const zfit_status status = zmath_lineFitVector(points.get(), &params, result.get());
        if (ZFIT_FAILED(status)) state.SkipWithError("fit failed");
        benchmark::DoNotOptimize(result->rmsError);
    }
    state.counters["numIgnore"] = numIgnore;
}

int32_t tenth(const benchmark::State& state) { return static_cast<int32_t>(state.range(0) / 10); }

void BM_LineExhaustive(benchmark::State& state) { run(state, 0, static_cast<int32_t>(state.range(1)), state.range(1)); }
void BM_LineRanked(benchmark::State& state) { run(state, 0, std::max(4, tenth(state)), tenth(state)); }
void BM_LineMinZone(benchmark::State& state) { run(state, 1, tenth(state), tenth(state)); }
void BM_LineStraightness(benchmark::State& state) { run(state, 1, 0, 0); }
void BM_LineLeastSquares(benchmark::State& state) { run(state, 0, 0, 0); }

}  // namespace

BENCHMARK(BM_LineExhaustive)
    ->ArgsProduct({{50, 100, 200, 400, 1000}, {1, 2, 3}})
    ->ArgNames({"n", "m"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineRanked)->Apply(searchSizes);
BENCHMARK(BM_LineMinZone)->Apply(searchSizes);
BENCHMARK(BM_LineStraightness)->Apply(largeSizes);
BENCHMARK(BM_LineLeastSquares)->Apply(largeSizes);
