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

#include <zfit/zfit.h>

namespace {

std::vector<zmath_vect> lineWithOutliers(int64_t n, int64_t outliers)
{
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> along(0.0, 100.0), off(3.0, 30.0);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (zmath_vect& p : points) {
        const double x = along(rng);
        p = {x, 5.0 + 0.3 * x + noise(rng)};
    }
    for (int64_t k = 0; k < outliers; ++k) points[static_cast<size_t>((7 * k + 3) % n)].y += (k % 2 ? -1 : 1) * off(rng);
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

void run(benchmark::State& state, int32_t mode, int32_t numIgnore, int64_t outliers)
{
    const PointVector points(lineWithOutliers(state.range(0), outliers));
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

int32_t tenth(const benchmark::State& state) { return static_cast<int32_t>(state.range(0) / 10); }

void BM_LineExhaustive(benchmark::State& state)
{
    run(state, 0, static_cast<int32_t>(state.range(1)), state.range(1));
}
void BM_LineRanked(benchmark::State& state) { run(state, 0, std::max(4, tenth(state)), tenth(state)); }
void BM_LineMinZone(benchmark::State& state) { run(state, 1, tenth(state), tenth(state)); }
void BM_LineStraightness(benchmark::State& state) { run(state, 1, 0, 0); }
void BM_LineLeastSquares(benchmark::State& state) { run(state, 0, 0, 0); }

}  // namespace

BENCHMARK(BM_LineExhaustive)
    ->ArgsProduct({{50, 100, 200, 400, 1000}, {1, 2, 3}})
    ->ArgNames({"n", "m"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineRanked)->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Arg(1000)->ArgName("n")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineMinZone)->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Arg(1000)->ArgName("n")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineStraightness)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->ArgName("n")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineLeastSquares)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->ArgName("n")->Unit(benchmark::kMillisecond);
