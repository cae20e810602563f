// Every family on many threads at once, each thread with its own records
// and its own attention check. Built with ThreadSanitizer as well: any data
// race (shared state inside the libraries) is reported there.
#include <atomic>
#include <functional>
#include <thread>

#include "support.hpp"

namespace {

// One round of fits of every family on data derived from the seed; returns
// how many fits disagreed with the same round run alone.
using Round = std::function<std::vector<double>(uint64_t seed)>;

std::vector<double> lineRound(uint64_t seed)
{
    zt::Rng rng(seed);
    std::vector<zmath_vect> points;
    for (int i = 0; i < 40; ++i) points.push_back({i + rng.normal(0.01), 0.5 * i + rng.normal(0.01)});
    points[7] = {7, 30};
    points[21] = {21, -30};
    std::vector<double> out;
    for (int32_t mode : {0, 1})
        for (int32_t ignore : {0, 2, 5}) {
            zmath_lineFitParams params;
            zmath_lineFitParams_init(&params);
            params.mode = mode;
            params.numIgnore = ignore;
            zt::LineResult r;
            const zfit_status s = zmath_lineFit(points.data(), static_cast<int32_t>(points.size()), &params, r.get());
            out.insert(out.end(), {double(s), r->line.angle, r->line.d, r->rmsError});
        }
    return out;
}

const std::vector<std::pair<const char*, Round>>& rounds()
{
    static const std::vector<std::pair<const char*, Round>> all{
        {"line", lineRound},
    };
    return all;
}

TEST(Concurrency, EveryFamilyOnManyThreadsGivesTheSingleThreadedResults)
{
    constexpr int threads = 8, roundsPerThread = 3;
    // Results computed alone first.
    std::vector<std::vector<std::vector<double>>> expected(rounds().size());
    for (size_t f = 0; f < rounds().size(); ++f)
        for (int t = 0; t < threads; ++t) expected[f].push_back(rounds()[f].second(1000 + t));

    std::atomic<int> mismatches{0}, cancelled{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            // A per-thread attention check that never fires; one thread's
            // check must not be seen by another.
            zt::ScopedAttention attention(t == 0 ? 0 : 1000000);
            for (int round = 0; round < roundsPerThread; ++round)
                for (size_t f = 0; f < rounds().size(); ++f)
                    if (rounds()[f].second(1000 + t) != expected[f][t]) ++mismatches;
            if (zsys_attention_check() != 0) ++cancelled;
        });
    for (std::thread& th : pool) th.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(cancelled.load(), 0);
}

TEST(Concurrency, AttentionChecksArePerThread)
{
    zt::ScopedAttention stopHere(1);
    std::thread other([] { EXPECT_EQ(zsys_attention_check(), 0); });
    other.join();
    EXPECT_EQ(zsys_attention_check(), zsys_errCancelled);
}

}  // namespace
