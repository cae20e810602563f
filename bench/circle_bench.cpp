// Circle fits: the weighted algebraic circle in points per second, and the
// free- and fixed-radius outlier searches in candidate centres per second
// and time per fit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "bench_points.hpp"

namespace {

using namespace zbench;

void BM_CircleFitWeighted(benchmark::State& state) { timeLeastSquaresCircle(state, noisyCircle(state.range(0))); }

// The plain fit of the unweighted entry (nothing discarded): the one window
// of all points, solved once; to be compared with the weighted fit above.
void plainBench(benchmark::State& state, int32_t mode)
{
    const auto points = noisyCircle(state.range(0));
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.mode = mode;
    params.fixedRadius = 10.0;
    zfit::Result<zmath_circleFitResult> result;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            zmath_circleFit(points.data(), static_cast<int32_t>(points.size()), &params, result.get()));
        benchmark::DoNotOptimize(result->rmsError);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_CircleFitPlainFreeRadius(benchmark::State& state) { plainBench(state, 0); }
void BM_CircleFitPlainFixedRadius(benchmark::State& state) { plainBench(state, 1); }

// The searches with a tenth of the points moved off and discarded. Every
// triple of points proposes a candidate centre.
void searchBench(benchmark::State& state, int32_t mode)
{
    const int64_t n = state.range(0), m = n / 10;
    const zfit::Points points{std::span<const zmath_vect>(noisyCircle(n, m))};
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.mode = mode;
    params.numIgnore = static_cast<int32_t>(m);
    params.fixedRadius = 10.0;
    zfit::Result<zmath_circleFitResult> result;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zmath_circleFitVector(points.get(), &params, result.get()));
        benchmark::DoNotOptimize(result->rmsError);
    }
    const double candidates = static_cast<double>(n * (n - 1) * (n - 2) / 6);
    state.counters["numIgnore"] = static_cast<double>(m);
    state.counters["candidates/s"] =
        benchmark::Counter(candidates * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_CircleFitFreeRadius(benchmark::State& state) { searchBench(state, 0); }

// The free-radius search at n = 1,000 with 50 outliers, once: its time and
// the longest time between two of its polls of the attention check (which
// a host uses to show progress and to stop it).
void BM_CircleFitPollGaps(benchmark::State& state)
{
    struct Gaps {
        std::chrono::steady_clock::time_point last;
        double longest = 0.0;
        int64_t polls = 0;
        static zfit_status poll(void* context)
        {
            Gaps& g = *static_cast<Gaps*>(context);
            const auto now = std::chrono::steady_clock::now();
            g.longest = std::max(g.longest, std::chrono::duration<double>(now - g.last).count());
            g.last = now;
            ++g.polls;
            return zfit_ok;
        }
    };
    const int64_t n = state.range(0), m = state.range(1);
    const zfit::Points points{std::span<const zmath_vect>(noisyCircle(n, m))};
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.numIgnore = static_cast<int32_t>(m);
    zfit::Result<zmath_circleFitResult> result;
    Gaps gaps;
    zsys_attention_install(&Gaps::poll, &gaps);
    for (auto _ : state) {
        gaps.last = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(zmath_circleFitVector(points.get(), &params, result.get()));
        Gaps::poll(&gaps);  // the time after the last poll
    }
    zsys_attention_install(nullptr, nullptr);
    state.counters["longest_poll_gap_s"] = gaps.longest;
    state.counters["polls"] = static_cast<double>(gaps.polls);
}
void BM_CircleFitFixedRadius(benchmark::State& state) { searchBench(state, 1); }

}  // namespace

BENCHMARK(BM_CircleFitWeighted)->Arg(1000)->Arg(20000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_CircleFitPlainFreeRadius)->Arg(1000)->Arg(20000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_CircleFitPlainFixedRadius)->Arg(1000)->Arg(20000)->Arg(100000)->Arg(1000000);
// n = 1000 proposes 1.7e8 candidates: most are passed over by cells, about
// a minute per fit.
BENCHMARK(BM_CircleFitFreeRadius)->Apply(searchSizes);
BENCHMARK(BM_CircleFitFixedRadius)->Apply(searchSizes);
// About a minute: run it on its own (--benchmark_filter=PollGaps).
BENCHMARK(BM_CircleFitPollGaps)->Args({1000, 50})->Iterations(1)->Unit(benchmark::kSecond);
