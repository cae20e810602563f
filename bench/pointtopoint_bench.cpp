// Point-to-point fits for every dof, unweighted and weighted, against a
// baseline that only sums the coordinates of both point arrays. A fit makes
// one moment pass and one residual pass (the rotation fit measures two
// candidates instead of one).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench_points.hpp"

namespace {

using namespace zbench;

struct Pairs {
    std::vector<zmath_vect> target, source;
    std::vector<double> weights;
};

// Calibration marks on a grid-sized field, moved by a similarity, with noise.
const Pairs& pairs(int64_t n)
{
    static Pairs cached;
    if (static_cast<int64_t>(cached.source.size()) == n) return cached;
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> field(0.0, 2000.0), weight(0.5, 2.0);
    std::normal_distribution<double> noise(0.0, 0.05);
    const double a = 1.02 * std::cos(0.3), b = 1.02 * std::sin(0.3);
    cached = Pairs{};
    for (int64_t i = 0; i < n; ++i) {
        const zmath_vect s{field(rng), field(rng)};
        cached.source.push_back(s);
        cached.target.push_back({a * s.x - b * s.y + 40.0 + noise(rng), b * s.x + a * s.y - 15.0 + noise(rng)});
        cached.weights.push_back(weight(rng));
    }
    return cached;
}

void BM_SumBothArraysBaseline(benchmark::State& state)
{
    const Pairs& p = pairs(state.range(0));
    for (auto _ : state) {
        double sx = 0.0, sy = 0.0, su = 0.0, sv = 0.0;
        for (size_t i = 0; i < p.source.size(); ++i) {
            sx += p.target[i].x;
            sy += p.target[i].y;
            su += p.source[i].x;
            sv += p.source[i].y;
        }
        benchmark::DoNotOptimize(sx);
        benchmark::DoNotOptimize(sy);
        benchmark::DoNotOptimize(su);
        benchmark::DoNotOptimize(sv);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void runFit(benchmark::State& state, bool weighted)
{
    const Pairs& p = pairs(state.range(1));
    zmath_pointToPointFitParams params;
    zmath_pointToPointFitParams_init(&params);
    params.dof = static_cast<int32_t>(state.range(0));
    zfit::Result<zmath_pointToPointFitResult> result;
    const auto count = static_cast<int32_t>(p.source.size());
    for (auto _ : state) {
        const zfit_status status =
            weighted ? zmath_pointToPointFitWeighted(&params, p.target.data(), p.source.data(), p.weights.data(), count,
                                                     result.get())
                     : zmath_pointToPointFit(&params, p.target.data(), p.source.data(), count, result.get());
        if (ZFIT_FAILED(status)) state.SkipWithError("fit failed");
        benchmark::DoNotOptimize(result->rmsError);
    }
    state.SetItemsProcessed(state.iterations() * state.range(1));
}

void BM_PointToPointFit(benchmark::State& state) { runFit(state, false); }
void BM_PointToPointFitWeighted(benchmark::State& state) { runFit(state, true); }

void dofAndSizes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"dof", "n"});
    for (int64_t n : {1000, 100000, 1000000})
        for (int64_t dof = 3; dof <= 6; ++dof) b->Args({dof, n});
}

}  // namespace

BENCHMARK(BM_SumBothArraysBaseline)->ArgName("n")->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_PointToPointFit)->Apply(dofAndSizes);
BENCHMARK(BM_PointToPointFitWeighted)->Apply(dofAndSizes);
