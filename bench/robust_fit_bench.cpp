// The robust fits of the companion library beside the plain least-squares
// fits of the same points, n = 10^3 .. 10^6: the start costs the same at
// every n (it scores its samples on at most 512 points), so the ratio of
// the two times shows the cost per iteration over the plain fit's pass.
//   - line: y = 0.3 x + 5 with noise 0.5 across, 30% uniform clutter over
//     the bounding box and a 5% spur;
//   - circle: a 120 degree arc of radius 1000, noise 0.3, 40% clutter;
//   - point to point, dof 4 and 6: 1,000 pairs, noise 0.5, 30% wrong
//     matches; the second argument caps the iterations (1: the start and
//     one weighted fit, 50: the default), which splits the time between
//     the start and the loop.
// Run: build/release/bench/robust_fit_bench --benchmark_filter=Robust
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include <zfit/metrology/metrology.hpp>

#include "bench_points.hpp"

namespace {

std::vector<zmath_vect> edgeWithClutter(int64_t n)
{
    std::mt19937_64 rng(23);
    std::normal_distribution<double> noise(0.0, 0.5);
    std::uniform_real_distribution<double> along(0.0, 1000.0), box(0.0, 1.0);
    const int64_t spur = n / 20, clutter = n * 3 / 10, edge = n - spur - clutter;
    std::vector<zmath_vect> points;
    points.reserve(static_cast<size_t>(n));
    for (int64_t i = 0; i < edge; ++i) {
        const double x = along(rng);
        points.push_back({x, 0.3 * x + 5 + noise(rng)});
    }
    for (int64_t i = 0; i < spur; ++i) {
        const double t = box(rng) * 40;
        points.push_back({500 + t, 155 + 2 * t + noise(rng)});
    }
    for (int64_t i = 0; i < clutter; ++i) points.push_back({1000 * box(rng), 305 * box(rng)});
    return points;
}

std::vector<zmath_vect> arcWithClutter(int64_t n)
{
    std::mt19937_64 rng(40);
    std::normal_distribution<double> noise(0.0, 0.3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int64_t clutter = n * 2 / 5;
    std::vector<zmath_vect> points;
    points.reserve(static_cast<size_t>(n));
    for (int64_t i = 0; i < n - clutter; ++i) {
        const double t = 2.0 * M_PI / 3.0 * unit(rng);
        points.push_back({1000 * std::cos(t) + noise(rng), 1000 * std::sin(t) + noise(rng)});
    }
    for (int64_t i = 0; i < clutter; ++i) points.push_back({-600 + 1700 * unit(rng), -100 + 1200 * unit(rng)});
    return points;
}

// Pairs source -> target of a similarity (dof 4) or a general affine map
// (dof 6), the first 30% of targets replaced by uniform clutter.
struct Pairs {
    std::vector<zmath_vect> target, source;
};

Pairs pairsWithWrongMatches(int32_t dof)
{
    std::mt19937_64 rng(30);
    std::normal_distribution<double> noise(0.0, 0.5);
    std::uniform_real_distribution<double> box(-100.0, 100.0), wide(-120.0, 120.0);
    const double a = 1.1 * std::cos(0.3), b = 1.1 * std::sin(0.3);
    const double m00 = dof == 4 ? a : 1.05, m01 = dof == 4 ? -b : 0.2, m10 = dof == 4 ? b : -0.1,
                 m11 = dof == 4 ? a : 0.9;
    const int n = 1000, wrong = 300;
    Pairs pairs;
    for (int i = 0; i < n; ++i) {
        const zmath_vect p{box(rng), box(rng)};
        pairs.source.push_back(p);
        pairs.target.push_back({m00 * p.x + m01 * p.y + 5 + noise(rng), m10 * p.x + m11 * p.y - 3 + noise(rng)});
    }
    for (int i = 0; i < wrong; ++i) pairs.target[static_cast<size_t>(i)] = {wide(rng), wide(rng)};
    return pairs;
}

// Times fit(points, record) on a record R owned for the run.
template <class R, class Fit>
void timeFit(benchmark::State& state, const std::vector<zmath_vect>& points, Fit fit)
{
    zfit::Result<R> result;
    const auto n = static_cast<int32_t>(points.size());
    for (auto _ : state) {
        if (ZFIT_FAILED(fit(points.data(), n, result.get()))) state.SkipWithError("fit failed");
        benchmark::DoNotOptimize(result->rmsError);
    }
    if constexpr (requires { result->robust; }) state.counters["iterations"] = result->robust.iterations;
}

zmet_robustParams tukey()
{
    zmet_robustParams params;
    zmet_robustParams_init(&params, zmet_robustTukey);
    return params;
}

void BM_RobustLine(benchmark::State& state)
{
    const zmet_robustParams params = tukey();
    timeFit<zmet_robustLineResult>(state, edgeWithClutter(state.range(0)), [&](auto* p, int32_t n, auto* r) {
        return zmet_robustLineFit(p, n, nullptr, &params, r);
    });
}

void BM_PlainLine(benchmark::State& state)
{
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    timeFit<zmath_lineFitResult>(state, edgeWithClutter(state.range(0)),
                                 [&](auto* p, int32_t n, auto* r) { return zmath_lineFit(p, n, &params, r); });
}

void BM_RobustCircle(benchmark::State& state)
{
    const zmet_robustParams params = tukey();
    timeFit<zmet_robustCircleResult>(state, arcWithClutter(state.range(0)), [&](auto* p, int32_t n, auto* r) {
        return zmet_robustCircleFit(p, n, nullptr, &params, zmet_robustAlgebraic, r);
    });
}

void BM_PlainCircle(benchmark::State& state)
{
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    timeFit<zmath_circleFitResult>(state, arcWithClutter(state.range(0)),
                                   [&](auto* p, int32_t n, auto* r) { return zmath_circleFit(p, n, &params, r); });
}

void BM_RobustTransform(benchmark::State& state)
{
    const auto dof = static_cast<int32_t>(state.range(0));
    zmet_robustParams params = tukey();
    params.maxIterations = static_cast<int32_t>(state.range(1));
    const Pairs pairs = pairsWithWrongMatches(dof);
    timeFit<zmet_robustTransformResult>(state, pairs.source, [&](auto* source, int32_t n, auto* r) {
        return zmet_robustPointToPointFit(pairs.target.data(), source, n, nullptr, dof, &params, r);
    });
}

void BM_PlainTransform(benchmark::State& state)
{
    zmath_pointToPointFitParams params;
    zmath_pointToPointFitParams_init(&params);
    params.dof = static_cast<int32_t>(state.range(0));
    const Pairs pairs = pairsWithWrongMatches(params.dof);
    timeFit<zmath_pointToPointFitResult>(state, pairs.source, [&](auto* source, int32_t n, auto* r) {
        return zmath_pointToPointFit(&params, pairs.target.data(), source, n, r);
    });
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->RangeMultiplier(10)->Range(1000, 1000000)->ArgName("n")->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_RobustLine)->Apply(sizes);
BENCHMARK(BM_PlainLine)->Apply(sizes);
BENCHMARK(BM_RobustCircle)->Apply(sizes);
BENCHMARK(BM_PlainCircle)->Apply(sizes);
BENCHMARK(BM_RobustTransform)->ArgsProduct({{4, 6}, {1, 50}})->ArgNames({"dof", "iterations"});
BENCHMARK(BM_PlainTransform)->Arg(4)->Arg(6)->ArgName("dof");
