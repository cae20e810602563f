// Circle family: the weighted algebraic circle, the free- and fixed-radius
// outlier searches (discarded indices and their order, windows without a
// circle, the ranking and the bounds of a cell of centres, polls and work
// storage) and properties over random circles. Bad input shared by every
// family, allocation failures, the record life cycle and cancellation at
// every poll are covered by the cross-family tests.
#include <algorithm>
#include <array>
#include <cmath>

#include <zfit/circle/cell_bounds.hpp>
#include <zfit/circle/circle_internal.hpp>
#include <zfit/circle/ordered_points.hpp>
#include <zfit/services/rank_keys.hpp>

#include "support.hpp"

namespace {

using CircleResult = zfit::Result<zmath_circleFitResult>;
using Pts = std::vector<zmath_vect>;

// Mode 0 searches with a free radius, mode 1 with the fixed one.
zmath_circleFitParams params(int32_t mode = 0, int32_t numIgnore = 0, double fixedRadius = 1.0)
{
    zmath_circleFitParams p;
    zmath_circleFitParams_init(&p);
    p.mode = mode;
    p.numIgnore = numIgnore;
    p.fixedRadius = fixedRadius;
    return p;
}

zfit_status fit(const Pts& points, CircleResult& r, zmath_circleFitParams p = params())
{
    return zmath_circleFit(points.data(), static_cast<int32_t>(points.size()), &p, r.get());
}

// The weighted algebraic fit; unit weights unless given.
zfit_status fitWeighted(const Pts& points, CircleResult& r, std::vector<double> w = {})
{
    if (w.empty()) w.assign(points.size(), 1.0);
    const zmath_circleFitParams p = params();
    return zmath_circleFitWeighted(points.data(), static_cast<int32_t>(points.size()), w.data(), &p, r.get());
}

// The three ways to a circle: the weighted algebraic fit and the searches
// with a free and with a fixed radius.
enum class Algorithm { Weighted, FreeRadius, FixedRadius };

std::ostream& operator<<(std::ostream& out, Algorithm a)
{
    return out << (a == Algorithm::Weighted ? "weighted" : a == Algorithm::FreeRadius ? "free radius" : "fixed radius");
}

zfit_status fit(const Pts& points, CircleResult& r, Algorithm a, int32_t numIgnore = 0, double fixedRadius = 1.0)
{
    if (a == Algorithm::Weighted) return fitWeighted(points, r);
    return fit(points, r, params(a == Algorithm::FixedRadius ? 1 : 0, numIgnore, fixedRadius));
}

// n points evenly spread over the circle; with `rng`, at random angles with
// radial noise instead.
Pts onCircle(zmath_vect c, double radius, int n, zt::Rng* rng = nullptr, double sigma = 0)
{
    Pts points;
    for (int i = 0; i < n; ++i) {
        const double a = rng ? rng->uniform(0, 2 * zt::pi) : 2 * zt::pi * (i + 0.37) / n,
                     rho = radius + (rng ? rng->normal(sigma) : 0);
        points.push_back({c.x + rho * std::cos(a), c.y + rho * std::sin(a)});
    }
    return points;
}

Pts noisy(zt::Rng& rng, zmath_vect c, double r, double s, int n) { return onCircle(c, r, n, &rng, s); }
template <class T>
std::vector<T> without(std::vector<T> v, long i)
{
    v.erase(v.begin() + i);
    return v;
}

void expectCircle(CircleResult& r, zmath_vect c, double radius, double rms, double tolerance)
{
    EXPECT_NEAR(r->centre.x, c.x, tolerance);
    EXPECT_NEAR(r->centre.y, c.y, tolerance);
    EXPECT_NEAR(r->radius, radius, tolerance);
    EXPECT_NEAR(r->rmsError, rms, tolerance);
}

// b holds a's fit.
void expectSameFit(CircleResult& a, CircleResult& b, double tolerance)
{
    expectCircle(b, a->centre, a->radius, a->rmsError, tolerance);
}

// Over random circles: scaling the weights changes nothing; a zero weight,
// also on the first point (which fixes the origin), equals leaving the point
// out.
TEST(CircleProperties, RandomCircles)
{
    zt::Rng rng(5);
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        const zmath_vect c{rng.uniform(-100, 100), rng.uniform(-100, 100)};
        const double radius = rng.uniform(0.1, 50), tolerance = 1e-8 * (1 + radius);
        const Pts points = noisy(rng, c, radius, 0.04 * radius, 12);
        std::vector<double> w, scaledW;
        for (int i = 0; i < 12; ++i) scaledW.push_back(1e3 * w.emplace_back(rng.uniform(0.1, 3.0)));
        const long drop = trial % 2 == 0 ? 0 : 5;
        CircleResult base, scaled, zeroed, omitted;
        ASSERT_EQ(fitWeighted(points, base, w), 0);
        ASSERT_EQ(fitWeighted(points, scaled, scaledW), 0);
        ASSERT_EQ(fitWeighted(without(points, drop), omitted, without(w, drop)), 0);
        w[static_cast<size_t>(drop)] = 0.0;
        ASSERT_EQ(fitWeighted(points, zeroed, w), 0);
        expectSameFit(base, scaled, tolerance);
        expectSameFit(omitted, zeroed, tolerance);
    }
}

// Measuring the points in another unit (1e-9 to 1e9) and moving them far
// from the origin (up to 1e5 times the radius) scales and moves the circle
// of every algorithm (with the fixed radius scaled alike), and the same
// points are discarded, in the same order. The circles agree within 1e-7 of
// the scaled radius.
TEST(CircleProperties, ScalingAndMovingThePointsScalesAndMovesTheFit)
{
    const struct {
        Algorithm algorithm;
        int32_t numIgnore;
    } algorithms[] = {
        {Algorithm::Weighted, 0},   {Algorithm::FreeRadius, 0},  {Algorithm::FixedRadius, 0},
        {Algorithm::FreeRadius, 2}, {Algorithm::FixedRadius, 2},
    };
    zt::Rng rng(606);
    for (int trial = 0; trial < 10; ++trial) {
        Pts points = noisy(rng, {0, 0}, 4.0, 0.1, 14);
        points[3] = {9, 9};
        const std::vector<zt::Placement> placements = zt::placements(rng, 4.0);
        for (const auto& [algorithm, numIgnore] : algorithms) {
            CircleResult a;
            ASSERT_EQ(fit(points, a, algorithm, numIgnore, 4.0), 0) << algorithm;
            const std::vector<int32_t> ia = zt::indices(a->ignoredIndices);
            for (const zt::Placement& at : placements) {
                SCOPED_TRACE(::testing::Message() << "seed 606 trial " << trial << " " << algorithm << ", " << numIgnore
                                                  << " discarded, " << at);
                CircleResult b;
                ASSERT_EQ(fit(at(points), b, algorithm, numIgnore, 4.0 * at.scale), 0);
                expectCircle(b, at(a->centre), at.scale * a->radius, at.scale * a->rmsError,
                             1e-7 * at.scale * a->radius);
                EXPECT_EQ(zt::indices(b->ignoredIndices), ia) << "the same points discarded, in the same order";
            }
        }
    }
}

// The imposed radius never moves the centre of a given set of points, even
// when it dwarfs them; the RMS is then close to the radius and finite, also
// past 1e154 where its square overflows (the search's window scores are sums
// of squares, so only the fit without discarding reaches that far).
TEST(CircleProperties, AHugeFixedRadiusLeavesTheCentreOfTheKeptPoints)
{
    const Pts points{{20.5, 0}, {0, 20.5}, {-0.25, 20.5}, {20.5, 20.5}, {-0.25, 20.5}, {20.5, 20.5}, {20.5, 0}};
    for (const int32_t numIgnore : {0, 1, 2}) {
        for (const double radius : {1e10, 1e40, 1.6e87, 1e150, 1e200}) {
            if (numIgnore > 0 && radius > 1e154) continue;
            SCOPED_TRACE(::testing::Message() << numIgnore << " discarded, radius " << radius);
            CircleResult huge;
            ASSERT_EQ(fit(points, huge, Algorithm::FixedRadius, numIgnore, radius), 0);
            Pts kept;
            const std::vector<int32_t> ignored = zt::indices(huge->ignoredIndices);
            for (int32_t i = 0; i < static_cast<int32_t>(points.size()); ++i)
                if (std::find(ignored.begin(), ignored.end(), i) == ignored.end()) kept.push_back(points[size_t(i)]);
            CircleResult small;
            ASSERT_EQ(fit(kept, small, Algorithm::FixedRadius, 0, 4.0), 0);
            EXPECT_NEAR(huge->centre.x, small->centre.x, 1e-9) << "centre x of the kept points";
            EXPECT_NEAR(huge->centre.y, small->centre.y, 1e-9) << "centre y of the kept points";
            EXPECT_EQ(huge->radius, radius) << "the imposed radius";
            EXPECT_NEAR(huge->rmsError / radius, 1.0, 1e-6) << "the RMS is about the radius";
        }
    }
}

// Work storage that does not grow with the candidates (the polls of these
// counts are rows of the search plan test).
// The ranking repaired from centre to centre holds the extremes a full sort
// by (distance, index) gives, on a pixel grid where distances tie often:
// small steps (repairs), jumps across the points and centres on grid
// points (many equal distances).
TEST(CircleRanking, RepairedExtremesAreThoseOfAFullSort)
{
    zt::Rng rng(217);
    std::vector<double> xs, ys;
    for (int i = 0; i < 36; ++i) {
        xs.push_back(rng.integer(0, 8));
        ys.push_back(rng.integer(0, 8));
    }
    const size_t n = xs.size(), extremes = 4;
    std::vector<double> storedX(n), storedY(n), keys(n);
    std::vector<int32_t> ids(n), all(n);
    std::vector<uint8_t> regions(n);
    std::vector<zfit::circle::OrderedPoints::Ranked> pairs(n);
    for (size_t k = 0; k < n; ++k) all[k] = static_cast<int32_t>(k);
    zfit::circle::OrderedPoints ranking({storedX, storedY, keys, ids, regions, pairs}, all, xs.data(), ys.data(),
                                        extremes);
    double cx = 4, cy = 4;
    for (int step = 0; step < 3000; ++step) {
        if (step % 50 == 0) {
            cx = rng.integer(-4, 12);
            cy = rng.integer(-4, 12);
        } else {
            cx += rng.uniform(-0.3, 0.3);
            cy += rng.uniform(-0.3, 0.3);
        }
        ranking.rank(cx, cy, step == 0, [](int32_t, bool) {});
        std::vector<std::pair<double, int32_t>> sorted;
        for (size_t k = 0; k < n; ++k) sorted.emplace_back(zsvc::distanceKey(xs[k], ys[k], cx, cy), int32_t(k));
        std::sort(sorted.begin(), sorted.end());
        std::vector<int32_t> nearest, farthest;
        for (size_t r = 0; r < extremes; ++r) {
            nearest.push_back(sorted[r].second);
            farthest.push_back(sorted[n - extremes + r].second);
        }
        const auto first = ranking.first(), last = ranking.last();
        ASSERT_EQ(std::vector<int32_t>(first.begin(), first.end()), nearest) << "the nearest, step " << step;
        ASSERT_EQ(std::vector<int32_t>(last.begin(), last.end()), farthest) << "the farthest, step " << step;
    }
}

// A cell's bounds against every centre of a grid over the cell: a point the
// narrowing keeps is never among the extremes there; where no window can
// win, every window errs more than the best so far; where the windows that
// can win are said to be the same sets, each is the same at every centre.
TEST(CircleCells, VerdictsHoldAtEveryCentreOfTheCell)
{
    using zfit::circle::CellVerdict;
    zt::Rng rng(661);
    std::array<int, 3> verdicts{};
    for (int trial = 0; trial < 1500; ++trial) {
        const int n = rng.integer(16, 32), m = rng.integer(1, 3);
        const bool pixels = trial % 2 == 0;
        Pts p;
        for (int k = 0; k < n; ++k) {
            // The first m points are outliers: far, or (every other trial) just
            // inside or outside the ring, where their ranks are in doubt.
            const double outlier =
                trial % 4 < 2 ? rng.uniform(4, 14) : 8 + (trial % 4 == 2 ? -1 : 1) * rng.uniform(0.1, 0.5);
            const double angle = rng.uniform(0, 2 * M_PI), radius = k < m ? outlier : 8 + rng.normal(0.05);
            const zmath_vect q{radius * std::cos(angle), radius * std::sin(angle)};
            p.push_back(pixels ? zmath_vect{std::round(q.x), std::round(q.y)} : q);
        }
        zsvc::SearchPoints points;
        points.p = p;
        points.n = n;
        points.m = m;
        std::vector<double> xs, ys, values(2 * p.size() + 512);
        zmath_vect low = p[0], high = p[0];
        for (const zmath_vect& q : p) {
            xs.push_back(q.x);
            ys.push_back(q.y);
            points.largest = std::max({points.largest, std::fabs(q.x), std::fabs(q.y)});
            low = {std::min(low.x, q.x), std::min(low.y, q.y)};
            high = {std::max(high.x, q.x), std::max(high.y, q.y)};
        }
        points.xs = xs;
        points.ys = ys;
        points.diameter = std::hypot(high.x - low.x, high.y - low.y);
        std::vector<zfit::circle::OrderedPoints::Ranked> sorted(p.size());
        const zfit::circle::CellBounds bounds(points, {values, sorted});
        const zmath_vect centre{rng.uniform(-0.3, 0.3), rng.uniform(-0.3, 0.3)};
        const double h = trial % 5 == 4 ? rng.uniform(1, 12) : rng.uniform(0, trial % 2 ? 0.05 : 0.2);
        const double halfSide = h / std::sqrt(2.0);
        std::vector<int32_t> all(p.size()), reaching(p.size());
        for (int k = 0; k < n; ++k) all[size_t(k)] = k;
        zfit_circleKeptMoments kept;
        reaching.resize(bounds.narrow(all, centre, h, reaching, kept));

        // Each window's discarded points and error (that of its algebraic
        // circle) at every centre of a 7 x 7 grid over the cell, a square of
        // half-diagonal h.
        std::vector<std::vector<std::vector<int32_t>>> discarded(size_t(m) + 1);
        std::vector<std::vector<double>> errors(size_t(m) + 1);
        for (int gx = 0; gx < 7; ++gx)
            for (int gy = 0; gy < 7; ++gy) {
                const double cx = centre.x + halfSide * (gx / 3.0 - 1.0), cy = centre.y + halfSide * (gy / 3.0 - 1.0);
                std::vector<std::pair<double, int32_t>> ranks;
                for (int k = 0; k < n; ++k)
                    ranks.emplace_back(zsvc::distanceKey(xs[size_t(k)], ys[size_t(k)], cx, cy), k);
                std::sort(ranks.begin(), ranks.end());
                for (int r = 0; r <= m; ++r)
                    for (const int32_t k : {ranks[size_t(r)].second, ranks[size_t(n - 1 - r)].second}) {
                        const bool narrowedAway = std::find(reaching.begin(), reaching.end(), k) == reaching.end();
                        ASSERT_FALSE(narrowedAway) << "point " << k << " reaches the extremes at (" << cx << ", " << cy
                                                   << "), trial " << trial;
                    }
                for (int s = 0; s <= m; ++s) {
                    std::vector<int32_t> out;
                    Pts window;
                    for (int r = 0; r < n; ++r) {
                        const int32_t k = ranks[size_t(r)].second;
                        if (r < s || r >= s + n - m)
                            out.push_back(k);
                        else
                            window.push_back(p[size_t(k)]);
                    }
                    std::sort(out.begin(), out.end());
                    CircleResult fitted;
                    discarded[size_t(s)].push_back(out);
                    errors[size_t(s)].push_back(fit(window, fitted) == zfit_ok ? fitted->rmsError : HUGE_VAL);
                }
            }
        double least = HUGE_VAL;
        for (const auto& e : errors) least = std::min(least, *std::min_element(e.begin(), e.end()));
        // A best so far below every window's error, or above some.
        const double best = least * (trial % 3 == 0 ? rng.uniform(0.3, 1.0) : rng.uniform(1.0, 2.0));
        const CellVerdict verdict = bounds.judge(reaching, centre, h, kept, best);
        ++verdicts[size_t(verdict)];
        for (int s = 0; s <= m; ++s) {
            const auto& e = errors[size_t(s)];
            const bool canWin = *std::min_element(e.begin(), e.end()) <= best;
            if (verdict == CellVerdict::noneCanWin) {
                EXPECT_FALSE(canWin) << "window " << s << " wins in a cell passed over, trial " << trial;
            }
            if (verdict != CellVerdict::sameWindows || !canWin) continue;
            for (const auto& set : discarded[size_t(s)])
                EXPECT_EQ(set, discarded[size_t(s)][0])
                    << "window " << s << " changes across the cell, trial " << trial;
        }
    }
    EXPECT_GT(verdicts[size_t(CellVerdict::noneCanWin)], 20) << "cells passed over";
    EXPECT_GT(verdicts[size_t(CellVerdict::sameWindows)], 20) << "cells of the same windows";
}

TEST(CircleSearch, WorkStorageDoesNotGrowWithThePoints)
{
    for (int mode = 0; mode < 2; ++mode) {
        int allocations[2][2] = {};
        for (int n : {10, 20}) {
            Pts points = onCircle({1, 1}, 2, n - 1);
            points.push_back({30, 30});
            for (int32_t numIgnore : {0, 1}) {
                SCOPED_TRACE(::testing::Message() << "mode " << mode << " n " << n << " numIgnore " << numIgnore);
                CircleResult r;
                zt::ScopedAllocator allocator;
                ASSERT_EQ(fit(points, r, params(mode, numIgnore, 2.0)), 0);
                EXPECT_EQ(allocator.outstanding(), static_cast<size_t>(numIgnore)) << "only the result's indices";
                allocations[n / 20][numIgnore] = allocator.allocations();
            }
        }
        EXPECT_EQ(allocations[0][0], allocations[1][0])
            << "mode " << mode << ", nothing discarded: storage independent of n";
        EXPECT_EQ(allocations[0][1], allocations[1][1])
            << "mode " << mode << ", one discarded: storage independent of n";
    }
}

// ---- the searches' lower bound on the error of every circle ---------------------

// The moments of `kept` (indices into p) about `origin`.
zfit_circleKeptMoments momentsOf(const Pts& p, const std::vector<int>& kept, zmath_vect origin)
{
    zfit_circleKeptMoments moments;
    for (int k : kept) moments.add(p[k].x - origin.x, p[k].y - origin.y);
    return moments;
}

// A window whose circle errs by sigma (RMS) cannot be ruled out at an
// error of sigma or more, whatever part of it the bound sees, with or
// without one more of its points; and the bound does rule out errors well
// below sigma where the points lie about a circle. The windows are random
// noisy circles (some with points moved off, kept in the window) and
// scored by the free-radius fit of the window.
TEST(CircleSearch, ErrorBoundNeverRulesOutAWindowThatReachesIt)
{
    zt::Rng rng(77);
    int ruledOutBelow = 0, clean = 0;
    for (int trial = 0; trial < 200; ++trial) {
        const int n = rng.integer(8, 40);
        const double radius = rng.uniform(0.5, 50), sigma = radius * std::pow(10.0, rng.uniform(-4, -1));
        const zmath_vect centre{rng.uniform(-100, 100), rng.uniform(-100, 100)};
        Pts w = noisy(rng, centre, radius, sigma, n);
        const int moved = trial % 3 == 0 ? rng.integer(1, 3) : 0;
        for (int k = 0; k < moved; ++k)
            w[k] = {centre.x + (w[k].x - centre.x) * 1.3, centre.y + (w[k].y - centre.y) * 1.3};
        CircleResult r;
        ASSERT_EQ(fit(w, r), 0);
        const double error = r->rmsError;
        // The bound sees all but a few of the window's points, about an
        // origin off the points.
        std::vector<int> kept(w.size());
        for (int k = 0; k < n; ++k) kept[k] = k;
        std::shuffle(kept.begin(), kept.end(), rng.engine);
        const int unseen = rng.integer(0, 3);
        const int extra = kept.back();
        kept.resize(kept.size() - static_cast<size_t>(unseen));
        const zmath_vect origin{centre.x + rng.uniform(-radius, radius), centre.y + rng.uniform(-radius, radius)};
        const zfit_circleKeptMoments moments = momentsOf(w, kept, origin);
        SCOPED_TRACE(::testing::Message() << "trial " << trial << ", n " << n << ", error " << error);
        for (const double reached : {error, error * (1 + 1e-9), 2 * error}) {
            const double eta = moments.threshold(n, reached);
            EXPECT_FALSE(eta > 0 && moments.allAbove(eta, false, 0, 0)) << "the window itself errs by " << reached;
            if (unseen > 0) {
                EXPECT_FALSE(eta > 0 && moments.allAbove(eta, true, w[extra].x - origin.x, w[extra].y - origin.y))
                    << "with one more of its points";
            }
        }
        if (moved == 0 && unseen <= 1) {
            ++clean;
            const double eta = moments.threshold(n, 0.5 * error);
            ruledOutBelow += eta > 0 && moments.allAbove(eta, false, 0, 0);
        }
    }
    EXPECT_EQ(ruledOutBelow, clean) << "half the error of a clean window is ruled out";
}

// A far point that the bound knows every window keeps rules out the error
// of the clean window, which the points without it cannot rule out.
TEST(CircleSearch, ErrorBoundSeesTheOnePointAWindowMustKeep)
{
    zt::Rng rng(78);
    for (int trial = 0; trial < 50; ++trial) {
        const int n = rng.integer(10, 40);
        const Pts w = noisy(rng, {3, -2}, 10, 0.01, n);
        CircleResult r;
        ASSERT_EQ(fit(w, r), 0);
        std::vector<int> kept(w.size());
        for (int k = 0; k < n; ++k) kept[k] = k;
        const zfit_circleKeptMoments moments = momentsOf(w, kept, {3, -2});
        const double eta = moments.threshold(n + 1, r->rmsError);
        EXPECT_FALSE(moments.allAbove(eta, false, 0, 0)) << "trial " << trial << ": the clean points reach it";
        EXPECT_TRUE(moments.allAbove(eta, true, 13 * std::cos(0.1 * trial), 13 * std::sin(0.1 * trial)))
            << "trial " << trial << ": with a point 3 off the circle";
    }
}

}  // namespace
