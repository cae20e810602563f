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

std::vector<double> circleRound(uint64_t seed)
{
    zt::Rng rng(seed);
    std::vector<zmath_vect> points;
    for (int i = 0; i < 12; ++i) {
        const double t = 2 * zt::pi * i / 12;
        points.push_back({4 * std::cos(t) + rng.normal(0.01), 4 * std::sin(t) + rng.normal(0.01)});
    }
    points[5] = {9, 9};
    std::vector<double> weights(points.size(), 1.0);
    std::vector<double> out;
    for (int32_t mode : {0, 1}) {
        zmath_circleFitParams params;
        zmath_circleFitParams_init(&params);
        params.mode = mode;
        params.numIgnore = 1;
        params.fixedRadius = 4;
        zt::Owned<zmath_circleFitResult, zmath_circleFitResult_construct, zmath_circleFitResult_destruct> r;
        const zfit_status s = zmath_circleFit(points.data(), int32_t(points.size()), &params, r.get());
        out.insert(out.end(), {double(s), r->centre.x, r->centre.y, r->radius, r->rmsError});
        params.numIgnore = 0;
        const zfit_status w =
            zmath_circleFitWeighted(points.data(), int32_t(points.size()), weights.data(), &params, r.get());
        out.insert(out.end(), {double(w), r->centre.x, r->centre.y, r->radius, r->rmsError});
    }
    return out;
}

std::vector<double> ellipseRound(uint64_t seed)
{
    zt::Rng rng(seed);
    std::vector<zmath_vect> points;
    for (int i = 0; i < 9; ++i) {
        const double t = 2 * zt::pi * i / 9;
        points.push_back({5 * std::cos(t) + rng.normal(0.01), 2 * std::sin(t) + rng.normal(0.01)});
    }
    zmath_ellipseFitParams params;
    zmath_ellipseFitParams_init(&params);
    params.numIgnore = 1;
    zt::Owned<zmath_ellipseFitResult, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_destruct> r;
    const zfit_status s = zmath_ellipseFit(points.data(), int32_t(points.size()), &params, r.get());
    return {double(s), r->ellipse.center.x, r->ellipse.center.y, r->ellipse.radius1, r->ellipse.radius2, r->rmsError};
}

std::vector<double> parabolaRound(uint64_t seed)
{
    zt::Rng rng(seed);
    std::vector<zmath_vect> points;
    for (int i = 0; i < 15; ++i) {
        const double x = i - 7.0;
        points.push_back({x, 0.2 * x * x + rng.normal(0.02)});
    }
    zt::Points vector(points);
    zt::Doubles weights(std::vector<double>(points.size(), 2.0));
    const zmath_parabolaFitParams params{20};
    zt::Owned<zmath_parabolaFitResult, zmath_parabolaFitResult_construct, zmath_parabolaFitResult_destruct> r;
    const zfit_status s = zmath_parabolaFitVector(vector.get(), &params, r.get());
    const zfit_status w = zmath_parabolaFitWeightedVector(vector.get(), weights.get(), &params, r.get());
    return {double(s), double(w), r->parabola.coefficient, r->parabola.pose.angle, r->rmsError};
}

std::vector<double> transformRound(uint64_t seed)
{
    zt::Rng rng(seed);
    std::vector<zmath_vect> source, target;
    std::vector<zmath_shapeFLine> lines;
    for (int i = 0; i < 12; ++i) {
        source.push_back({rng.uniform(-5, 5), rng.uniform(-5, 5)});
        target.push_back({1.1 * source.back().x - 0.2 * source.back().y + 3, 0.2 * source.back().x + 1.1 * source.back().y});
        const double angle = 0.5 * i, d = -target.back().x * std::sin(angle) + target.back().y * std::cos(angle);
        zmath_shapeFLine line;
        zmath_shapeFLine_initAngleDistance(&line, &angle, d + rng.normal(0.01));
        lines.push_back(line);
    }
    std::vector<double> out;
    const auto n = int32_t(source.size());
    for (int32_t dof : {3, 4, 5, 6}) {
        const zmath_pointToPointFitParams params{HUGE_VAL, dof};
        zt::Owned<zmath_pointToPointFitResult, zmath_pointToPointFitResult_construct,
                  zmath_pointToPointFitResult_destruct>
            r;
        const zfit_status s = zmath_pointToPointFit(&params, target.data(), source.data(), n, r.get());
        out.insert(out.end(), {double(s), r->xform.matrix.m00, r->xform.translation.x, r->rmsError});
    }
    zmath_pointToLineFitParams params;
    zmath_pointToLineFitParams_init(&params);
    zt::Owned<zmath_pointToLineFitResult, zmath_pointToLineFitResult_construct, zmath_pointToLineFitResult_destruct> r;
    const zfit_status s = zmath_pointToLineFit(&params, source.data(), lines.data(), n, r.get());
    out.insert(out.end(), {double(s), r->xform.matrix.m00, r->xform.translation.y, r->rmsError});
    return out;
}

const std::vector<std::pair<const char*, Round>>& rounds()
{
    static const std::vector<std::pair<const char*, Round>> all{
        {"line", lineRound},         {"circle", circleRound},       {"ellipse", ellipseRound},
        {"parabola", parabolaRound}, {"transforms", transformRound},
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
