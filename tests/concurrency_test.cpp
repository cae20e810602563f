// Every family on many threads at once, each thread with its own records;
// attention checks installed on one thread are not seen by another. Built with ThreadSanitizer as well: any data
// race (shared state inside the libraries) is reported there.
#include <atomic>
#include <thread>

#include "support.hpp"

namespace {

using Out = std::vector<double>;

// Appends a fit's status, shape and error.
template <class R>
void add(Out& out, zfit_status status, const zfit::Result<R>& r)
{
    out.push_back(double(status));
    for (double v : zt::shapeValues(*r)) out.push_back(v);
    out.push_back(r->rmsError);
}

// One round of fits of every family on data derived from the seed: points
// near an ellipse with two far points, their images under an affine map
// and lines through those. The statuses and fitted values, to compare with
// the same round run alone.
Out everyFamily(uint64_t seed)
{
    zt::Rng rng(seed);
    Out out;
    std::vector<zmath_vect> points, images;
    std::vector<zmath_shapeFLine> lines;
    for (int i = 0; i < 16; ++i) {
        const zmath_vect q = zt::onEllipse({1, 2}, 6, 3, 0.4, 2 * zt::pi * i / 16);
        points.push_back({q.x + rng.normal(0.01), q.y + rng.normal(0.01)});
        images.push_back({1.1 * q.x - 0.2 * q.y + 3, 0.2 * q.x + 1.1 * q.y});
        lines.push_back(zt::lineThrough(images.back(), 0.5 * i + rng.normal(0.01)));
    }
    points[5] = {9, 9};
    points[11] = {-12, 4};
    const auto n = int32_t(points.size());
    for (int32_t mode : {0, 1})
        for (int32_t ignore : {0, 2, 5}) {
            const zmath_lineFitParams params{ignore, HUGE_VAL, mode};
            zfit::LineResult r;
            add(out, zmath_lineFit(points.data(), n, &params, r.get()), r);
        }
    const std::vector<double> ones(points.size(), 1.0);
    for (int32_t mode : {0, 1}) {
        const zmath_circleFitParams params{1, HUGE_VAL, mode, 4}, weighted{0, HUGE_VAL, mode, 4};
        zfit::CircleResult r;
        add(out, zmath_circleFit(points.data(), n, &params, r.get()), r);
        add(out, zmath_circleFitWeighted(points.data(), n, ones.data(), &weighted, r.get()), r);
    }
    const zmath_ellipseFitParams ellipseParams{1, HUGE_VAL};
    zfit::EllipseResult er;
    add(out, zmath_ellipseFit(points.data(), n, &ellipseParams, er.get()), er);

    zfit::Points vector(points);
    zfit::Doubles twos(std::vector<double>(points.size(), 2.0));
    const zmath_parabolaFitParams parabolaParams{20};
    zfit::ParabolaResult pr;
    add(out, zmath_parabolaFitVector(vector.get(), &parabolaParams, pr.get()), pr);
    add(out, zmath_parabolaFitWeightedVector(vector.get(), twos.get(), &parabolaParams, pr.get()), pr);

    for (int32_t dof : {3, 4, 5, 6}) {
        const zmath_pointToPointFitParams params{HUGE_VAL, dof};
        zfit::PointToPointResult r;
        add(out, zmath_pointToPointFit(&params, images.data(), points.data(), n, r.get()), r);
    }
    const zmath_pointToLineFitParams params{HUGE_VAL, 6};
    zfit::PointToLineResult r;
    add(out, zmath_pointToLineFit(&params, points.data(), lines.data(), n, r.get()), r);
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

}  // namespace
