// Point-to-line fit, unweighted and weighted, against a baseline that only
// reads the same pairs once; and the record's residual, whose cost does not
// depend on how many pairs the record holds.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench_points.hpp"

namespace {

using namespace zbench;

struct Pairs {
    std::vector<zmath_vect> points;
    std::vector<zmath_shapeFLine> lines;
    std::vector<double> weights;
};

// Points mapped by a fixed affine transform onto lines of random direction
// through their images, each line moved by a little noise.
Pairs noisyPairs(int64_t n)
{
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> coordinate(-500.0, 500.0), angle(0.0, 3.14159), weight(0.5, 2.0);
    std::normal_distribution<double> noise(0.0, 0.05);
    const zmath_xformLinear truth{{12.0, -7.0}, {1.02, 0.05, -0.04, 0.97}};
    Pairs pairs;
    for (int64_t i = 0; i < n; ++i) {
        const zmath_vect p{coordinate(rng), coordinate(rng)};
        zmath_vect q;
        zmath_xformLinear_mapPoint(&truth, &p, &q);
        const double theta = angle(rng);
        zmath_shapeFLine line;
        zmath_shapeFLine_initAngleDistance(&line, &theta, -q.x * std::sin(theta) + q.y * std::cos(theta) + noise(rng));
        pairs.points.push_back(p);
        pairs.lines.push_back(line);
        pairs.weights.push_back(weight(rng));
    }
    return pairs;
}

void BM_ReadPairsBaseline(benchmark::State& state)
{
    const Pairs pairs = noisyPairs(state.range(0));
    for (auto _ : state) {
        double sum = 0.0;
        for (size_t i = 0; i < pairs.points.size(); ++i)
            sum += pairs.points[i].x + pairs.points[i].y + pairs.lines[i].d + pairs.lines[i].sine +
                   pairs.lines[i].cosine + pairs.weights[i];
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <bool weighted>
void BM_PointToLineFit(benchmark::State& state)
{
    const Pairs pairs = noisyPairs(state.range(0));
    const auto count = static_cast<int32_t>(pairs.points.size());
    zmath_pointToLineFitParams params;
    zmath_pointToLineFitParams_init(&params);
    zfit::Result<zmath_pointToLineFitResult> result;
    for (auto _ : state) {
        const zfit_status status =
            weighted ? zmath_pointToLineFitWeighted(&params, pairs.points.data(), pairs.lines.data(),
                                                    pairs.weights.data(), count, result.get())
                     : zmath_pointToLineFit(&params, pairs.points.data(), pairs.lines.data(), count, result.get());
        if (ZFIT_FAILED(status)) state.SkipWithError("fit failed");
        benchmark::DoNotOptimize(result->rmsError);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_PointToLineFitRmsError(benchmark::State& state)
{
    const Pairs pairs = noisyPairs(state.range(0));
    zfit_pointLineVals vals;
    zfit_pointLineVals_init_(&vals);
    for (size_t i = 0; i < pairs.points.size(); ++i) {
        const zmath_shapeFLine& l = pairs.lines[i];
        zmath_pointToLineFitUpdateValsWeighted_(-l.sine, l.cosine, -l.d, pairs.points[i].x, pairs.points[i].y,
                                                pairs.weights[i], &vals);
    }
    zmath_xformLinear candidate;
    if (ZFIT_FAILED(zmath_pointToLineFit6Dof_(&vals, &candidate))) state.SkipWithError("solve failed");
    double error = 0.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmath_pointToLineFitRmsError_(&vals, &candidate, &error));
        benchmark::DoNotOptimize(error);
    }
}

}  // namespace

BENCHMARK(BM_ReadPairsBaseline)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_PointToLineFit<false>)->Name("BM_PointToLineFit")->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_PointToLineFit<true>)->Name("BM_PointToLineFitWeighted")->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_PointToLineFitRmsError)->Arg(1000)->Arg(1000000);
