// Every family on many threads at once, each thread with its own records;
// attention checks installed on one thread are not seen by another. Built with ThreadSanitizer as well: any data
// race (shared state inside the libraries) is reported there.
#include <atomic>
#include <thread>

#include "support.hpp"

namespace {

using Out = std::vector<double>;

// Points on a curve: f(i) plus Gaussian noise of sigma from rng.
template <class F>
std::vector<zmath_vect> noisy(zt::Rng& rng, int n, double sigma, F f)
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) p.push_back({f(i).x + rng.normal(sigma), f(i).y + rng.normal(sigma)});
    return p;
}

zmath_vect onEllipse(int i, int n, double a, double b) { return zt::onEllipse({0, 0}, a, b, 0.0, 2 * zt::pi * i / n); }

// One round of fits of every family on data derived from the seed: statuses
// and fitted values, to compare with the same round run alone.
Out everyFamily(uint64_t seed)
{
    zt::Rng rng(seed);
    Out out;
    const auto add = [&](std::initializer_list<double> values) { out.insert(out.end(), values); };
    auto line = noisy(rng, 40, 0.01, [](int i) { return zmath_vect{1.0 * i, 0.5 * i}; });
    line[7] = {7, 30};
    line[21] = {21, -30};
    for (int32_t mode : {0, 1})
        for (int32_t ignore : {0, 2, 5}) {
            const zmath_lineFitParams params{ignore, HUGE_VAL, mode};
            zfit::LineResult r;
            const zfit_status s = zmath_lineFit(line.data(), int32_t(line.size()), &params, r.get());
            add({double(s), r->line.angle, r->line.d, r->rmsError});
        }

    auto circle = noisy(rng, 12, 0.01, [](int i) { return onEllipse(i, 12, 4, 4); });
    circle[5] = {9, 9};
    const std::vector<double> ones(circle.size(), 1.0);
    for (int32_t mode : {0, 1}) {
        const zmath_circleFitParams params{1, HUGE_VAL, mode, 4}, weighted{0, HUGE_VAL, mode, 4};
        zfit::Result<zmath_circleFitResult> r;
        const zfit_status s = zmath_circleFit(circle.data(), 12, &params, r.get());
        add({double(s), r->centre.x, r->centre.y, r->radius, r->rmsError});
        const zfit_status w = zmath_circleFitWeighted(circle.data(), 12, ones.data(), &weighted, r.get());
        add({double(w), r->centre.x, r->centre.y, r->radius, r->rmsError});
    }

    const auto ellipse = noisy(rng, 9, 0.01, [](int i) { return onEllipse(i, 9, 5, 2); });
    const zmath_ellipseFitParams ellipseParams{1, HUGE_VAL};
    zfit::Result<zmath_ellipseFitResult> er;
    const zfit_status es = zmath_ellipseFit(ellipse.data(), 9, &ellipseParams, er.get());
    add({double(es), er->ellipse.center.x, er->ellipse.center.y, er->ellipse.radius1, er->ellipse.radius2,
         er->rmsError});

    zfit::Points parabola(noisy(rng, 15, 0.02, [](int i) { return zmath_vect{i - 7.0, 0.2 * (i - 7.0) * (i - 7.0)}; }));
    zfit::Doubles twos(std::vector<double>(15, 2.0));
    const zmath_parabolaFitParams parabolaParams{20};
    zfit::Result<zmath_parabolaFitResult> pr;
    const zfit_status ps = zmath_parabolaFitVector(parabola.get(), &parabolaParams, pr.get());
    const zfit_status pw = zmath_parabolaFitWeightedVector(parabola.get(), twos.get(), &parabolaParams, pr.get());
    add({double(ps), double(pw), pr->parabola.coefficient, pr->parabola.pose.angle, pr->rmsError});

    std::vector<zmath_vect> source, target;
    std::vector<zmath_shapeFLine> lines;
    for (int i = 0; i < 12; ++i) {
        const zmath_vect s{rng.uniform(-5, 5), rng.uniform(-5, 5)}, t{1.1 * s.x - 0.2 * s.y + 3, 0.2 * s.x + 1.1 * s.y};
        const double angle = 0.5 * i, d = -t.x * std::sin(angle) + t.y * std::cos(angle);
        source.push_back(s);
        target.push_back(t);
        lines.emplace_back();
        zmath_shapeFLine_initAngleDistance(&lines.back(), &angle, d + rng.normal(0.01));
    }
    for (int32_t dof : {3, 4, 5, 6}) {
        const zmath_pointToPointFitParams params{HUGE_VAL, dof};
        zfit::Result<zmath_pointToPointFitResult> r;
        const zfit_status s = zmath_pointToPointFit(&params, target.data(), source.data(), 12, r.get());
        add({double(s), r->xform.matrix.m00, r->xform.translation.x, r->rmsError});
    }
    const zmath_pointToLineFitParams params{HUGE_VAL, 6};
    zfit::Result<zmath_pointToLineFitResult> r;
    const zfit_status s = zmath_pointToLineFit(&params, source.data(), lines.data(), 12, r.get());
    add({double(s), r->xform.matrix.m00, r->xform.translation.y, r->rmsError});
    return out;
}

TEST(Concurrency, EveryFamilyOnManyThreadsGivesTheSingleThreadedResults)
{
    constexpr int threads = 8, roundsPerThread = 3;
    std::vector<Out> expected;  // computed alone first
    for (int t = 0; t < threads; ++t) expected.push_back(everyFamily(1000 + t));
    std::atomic<int> mismatches{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int k = 0; k < roundsPerThread; ++k) mismatches += everyFamily(1000 + t) != expected[t];
        });
    for (std::thread& th : pool) th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(Concurrency, AttentionChecksArePerThread)
{
    zt::ScopedAttention stopHere(1);
    std::thread other([] { EXPECT_EQ(zsys_attention_check(), 0); });
    other.join();
    EXPECT_EQ(zsys_attention_check(), zsys_errCancelled);
}

}  // namespace
