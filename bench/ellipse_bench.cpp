// Ellipse fit: the algebraic fit of all points (three passes over them: the
// centroid, the power sums, the radial error) against a baseline that only
// sums the same points' coordinates, and the exhaustive subset search, whose
// cost is C(n, k) fits of n - k points each.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include <zfit/zfit.h>

namespace {

// Points on an ellipse (centre (40, -25), radii 30 and 12, tilted by 0.6 rad)
// with a little noise, and every seventh point pushed outward as a stray.
std::vector<zmath_vect> noisyEllipse(int64_t n, bool strays)
{
    std::mt19937_64 rng(11);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::vector<zmath_vect> points(static_cast<size_t>(n));
    const double c = std::cos(0.6), s = std::sin(0.6);
    for (int64_t i = 0; i < n; ++i) {
        const double t = 2.0 * 3.141592653589793 * static_cast<double>(i) / static_cast<double>(n);
        const double out = strays && i % 7 == 3 ? 1.2 : 1.0;
        const double u = 30.0 * std::cos(t) * out, v = 12.0 * std::sin(t) * out;
        points[static_cast<size_t>(i)] = {40.0 + c * u - s * v + noise(rng), -25.0 + s * u + c * v + noise(rng)};
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
    const auto points = noisyEllipse(state.range(0), false);
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

// numIgnore = range(1) over range(0) points.
void fitVector(benchmark::State& state, bool strays)
{
    const PointVector points(noisyEllipse(state.range(0), strays));
    zmath_ellipseFitParams params;
    zmath_ellipseFitParams_init(&params);
    params.numIgnore = static_cast<int32_t>(state.range(1));
    zmath_ellipseFitResult result;
    zmath_ellipseFitResult_construct(&result);
    for (auto _ : state) {
        const zfit_status status = zmath_ellipseFitVector(&points.v, &params, &result);
        if (ZFIT_FAILED(status)) state.SkipWithError("fit failed");
        benchmark::DoNotOptimize(result.rmsError);
    }
    zmath_ellipseFitResult_destruct(&result);
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
