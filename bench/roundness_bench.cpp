// Roundness: the minimum zone, circumscribed and inscribed circles of
// lobed, noisy profiles of 10^3 to 10^6 points, each against the weighted
// least-squares circle (zmath_circleFitWeighted, unit weights) of the same
// points. The counter x_least_squares is the ratio of the two CPU times,
// both measured within the same benchmark, so that the load of a shared
// machine falls on both alike.
#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <random>
#include <vector>

#include <zfit/metrology/metrology.h>

#include "bench_points.hpp"

namespace {

using namespace zbench;

double cpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// CPU seconds per call of the least-squares circle, over at least 50 ms.
double leastSquaresSeconds(const std::vector<zmath_vect>& points)
{
    LeastSquaresCircle circle(points);
    int64_t calls = 0;
    const double start = cpuSeconds();
    double elapsed = 0.0;
    do {
        circle.fit();
        ++calls;
        elapsed = cpuSeconds() - start;
    } while (elapsed < 0.05);
    return elapsed / static_cast<double>(calls);
}

void roundnessBench(benchmark::State& state, int32_t method)
{
    const auto points = profile(state.range(0));
    const double baseline = leastSquaresSeconds(points);
    zmet_roundnessParams params;
    zmet_roundnessParams_init(&params);
    params.method = method;
    zmet_roundnessResult result;
    const double start = cpuSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmet_roundness(points.data(), static_cast<int32_t>(points.size()), &params, &result));
        benchmark::DoNotOptimize(result.roundness);
    }
    const double perCall = (cpuSeconds() - start) / static_cast<double>(state.iterations());
    state.counters["x_least_squares"] = perCall / baseline;
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_RoundnessMinimumZone(benchmark::State& state) { roundnessBench(state, zmet_roundnessMinimumZone); }

// A 30-degree arc of radius 100 with noise of 0.5 (the geometric fits'
// arc): the proof that its zone is global searches the long valley of
// centres along the arc's axis.
void BM_RoundnessMinimumZoneArc(benchmark::State& state)
{
    const auto points = arc(state.range(0), 30.0, false);
    const double baseline = leastSquaresSeconds(points);
    zmet_roundnessParams params;
    zmet_roundnessParams_init(&params);
    zmet_roundnessResult result;
    const double start = cpuSeconds();
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmet_roundness(points.data(), static_cast<int32_t>(points.size()), &params, &result));
        benchmark::DoNotOptimize(result.roundness);
    }
    const double perCall = (cpuSeconds() - start) / static_cast<double>(state.iterations());
    state.counters["x_least_squares"] = perCall / baseline;
}
void BM_RoundnessCircumscribed(benchmark::State& state) { roundnessBench(state, zmet_roundnessCircumscribed); }
void BM_RoundnessInscribed(benchmark::State& state) { roundnessBench(state, zmet_roundnessInscribed); }

void sizes(benchmark::internal::Benchmark* b)
{
    for (int64_t n : {1000, 10000, 100000, 1000000}) b->Arg(n);
    b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_RoundnessMinimumZone)->Apply(sizes);
BENCHMARK(BM_RoundnessMinimumZoneArc)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoundnessCircumscribed)->Apply(sizes);
BENCHMARK(BM_RoundnessInscribed)->Apply(sizes);
