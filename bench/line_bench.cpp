// Least-squares line fit against a baseline that only sums the same points'
// coordinates: the fit makes one moment pass and one residual pass.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include <zfit/zfit.h>

namespace {

std::vector<zmath_vect> noisyLine(int64_t n)
{
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(n) * 100.0;
        points[static_cast<size_t>(i)] = {t + noise(rng), 0.3 * t + 5.0 + noise(rng)};
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

void BM_SumCoordinatesBaseline(benchmark::State& state)
{
    const auto points = noisyLine(state.range(0));
    for (auto _ : state) {
        double sx = 0.0, sy = 0.0;
        for (const zmath_vect& p : points) {
            sx += p.x;
            sy += p.y;
        }
        benchmark::DoNotOptimize(sx);
        benchmark::DoNotOptimize(sy);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_LineFitVector(benchmark::State& state)
{
    const PointVector points(noisyLine(state.range(0)));
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    zmath_lineFitResult result;
    zmath_lineFitResult_construct(&result);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmath_lineFitVector(&points.v, &params, &result));
        benchmark::DoNotOptimize(result.rmsError);
    }
    zmath_lineFitResult_destruct(&result);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_LineFitArray(benchmark::State& state)
{
    const auto points = noisyLine(state.range(0));
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    zmath_lineFitResult result;
    zmath_lineFitResult_construct(&result);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            zmath_lineFit(points.data(), static_cast<int32_t>(points.size()), &params, &result));
        benchmark::DoNotOptimize(result.rmsError);
    }
    zmath_lineFitResult_destruct(&result);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_SumCoordinatesBaseline)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_LineFitVector)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_LineFitArray)->Arg(1000)->Arg(100000)->Arg(1000000);
