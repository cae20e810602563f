// What zfit.fit_many's threads can reach at most: the library's own work for
// a batch of 10^4 contours of 50 points (the batch of
// bench/fit_many_bench.py), with no Python and no binding, on one thread and
// on two, each thread fitting a contiguous share. The items per second at two
// threads over those at one are the speed-up this machine gives the work
// itself, the ceiling for fit_many's speed-up from 1 to 2 threads:
//
//   build/release/bench/batch_bench --benchmark_filter=Batch
//
// A line item is what fit_line does in the library: the least-squares line
// and its uncertainty; a circle item the algebraic circle.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <vector>

#include <zfit/metrology/metrology.h>
#include <zfit/zfit.hpp>

namespace {

constexpr int32_t kPoints = 50;
constexpr size_t kContours = 10000;

// Noisy closed contours (ellipses of random pose), as the Python benchmark
// draws them, each in storage of its own as numpy arrays are.
const std::vector<std::vector<zmath_vect>>& contours()
{
    static const std::vector<std::vector<zmath_vect>> sets = [] {
        std::mt19937_64 rng(1);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::normal_distribution<double> noise(0.0, 0.05);
        std::vector<std::vector<zmath_vect>> made(kContours);
        for (std::vector<zmath_vect>& points : made) {
            const double a = 3 + 27 * unit(rng), b = 3 + 27 * unit(rng), turn = std::numbers::pi * unit(rng);
            const double ox = 1000 * unit(rng), oy = 1000 * unit(rng);
            for (int32_t i = 0; i < kPoints; ++i) {
                const double t = 2 * std::numbers::pi * unit(rng), x = a * std::cos(t), y = b * std::sin(t);
                points.push_back({std::cos(turn) * x - std::sin(turn) * y + ox + noise(rng),
                                  std::sin(turn) * x + std::cos(turn) * y + oy + noise(rng)});
            }
        }
        return made;
    }();
    return sets;
}

// This thread's share of the contours.
std::span<const std::vector<zmath_vect>> share(const benchmark::State& state)
{
    const auto& all = contours();
    const size_t threads = static_cast<size_t>(state.threads()), self = static_cast<size_t>(state.thread_index());
    const size_t first = all.size() * self / threads, end = all.size() * (self + 1) / threads;
    return std::span(all).subspan(first, end - first);
}

// Times fit(points) over this thread's share, in a record `Record` kept
// from contour to contour.
template <class Record, class Fit>
void timeShare(benchmark::State& state, const Fit& fit)
{
    const auto mine = share(state);
    Record record;
    for (auto _ : state)
        for (const std::vector<zmath_vect>& points : mine) fit(points.data(), record);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(mine.size()));
}

void BM_BatchLines(benchmark::State& state)
{
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    timeShare<zfit::LineResult>(state, [&](const zmath_vect* points, zfit::LineResult& line) {
        benchmark::DoNotOptimize(zmath_lineFit(points, kPoints, &params, line.get()));
        zmet_uncertainty uncertainty;
        benchmark::DoNotOptimize(zmet_lineFitUncertainty(points, kPoints, &line->line, &uncertainty));
    });
}
BENCHMARK(BM_BatchLines)->Threads(1)->Threads(2)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_BatchCircles(benchmark::State& state)
{
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    timeShare<zfit::CircleResult>(state, [&](const zmath_vect* points, zfit::CircleResult& circle) {
        benchmark::DoNotOptimize(zmath_circleFit(points, kPoints, &params, circle.get()));
    });
}
BENCHMARK(BM_BatchCircles)->Threads(1)->Threads(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
