// Circle family: the weighted algebraic circle, the free- and fixed-radius
// outlier searches (discarded indices and their order, windows without a
// circle, polls and work storage) and properties over random circles. Bad
// input shared by every family, allocation failures, the record life cycle
// and cancellation at every poll are covered by the cross-family tests.
#include <algorithm>
#include <limits>

#include <zfit/circle/circle_internal.hpp>

#include "support.hpp"

namespace {

using CircleResult = zfit::Result<zmath_circleFitResult>;
using Pts = std::vector<zmath_vect>;

const double nan = std::numeric_limits<double>::quiet_NaN();

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

// n points evenly spread over the arc from..to; with `rng`, at random angles
// on the arc with radial noise instead.
Pts onCircle(zmath_vect c, double radius, int n, double from = 0, double to = 2 * zt::pi, zt::Rng* rng = nullptr,
             double sigma = 0)
{
    Pts points;
    for (int i = 0; i < n; ++i) {
        const double a = rng ? rng->uniform(from, to) : from + (to - from) * (i + 0.37) / n,
                     rho = radius + (rng ? rng->normal(sigma) : 0);
        points.push_back({c.x + rho * std::cos(a), c.y + rho * std::sin(a)});
    }
    return points;
}

Pts noisy(zt::Rng& rng, zmath_vect c, double r, double s, int n) { return onCircle(c, r, n, 0, 2 * zt::pi, &rng, s); }
template <class T>
std::vector<T> without(std::vector<T> v, long i)
{
    v.erase(v.begin() + i);
    return v;
}

void expectCircle(CircleResult& r, zmath_vect c, double radius, double rms, double tolerance, double rmsTolerance = -1)
{
    EXPECT_NEAR(r->centre.x, c.x, tolerance);
    EXPECT_NEAR(r->centre.y, c.y, tolerance);
    EXPECT_NEAR(r->radius, radius, tolerance);
    EXPECT_NEAR(r->rmsError, rms, rmsTolerance < 0 ? tolerance : rmsTolerance);
}

// b is a's fit moved by `s`.
void expectSameFit(CircleResult& a, CircleResult& b, double tolerance, double rmsTolerance, zmath_vect s = {})
{
    expectCircle(b, {a->centre.x + s.x, a->centre.y + s.y}, a->radius, a->rmsError, tolerance, rmsTolerance);
}

// Over random circles: scaling the weights changes nothing; a zero weight,
// also on the first point (which fixes the origin), equals leaving the point
// out; three points give their circumcircle.
TEST(CircleProperties, RandomCircles)
{
    zt::Rng rng(5);
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        const zmath_vect c{rng.uniform(-100, 100), rng.uniform(-100, 100)};
        const double radius = rng.uniform(0.1, 50), tolerance = 1e-8 * (1 + radius);
        const Pts points = noisy(rng, c, radius, 0.04 * radius, 12), t = noisy(rng, c, radius, 0, 3);
        std::vector<double> w, scaledW;
        for (int i = 0; i < 12; ++i) scaledW.push_back(1e3 * w.emplace_back(rng.uniform(0.1, 3.0)));
        const long drop = trial % 2 == 0 ? 0 : 5;
        CircleResult base, scaled, zeroed, omitted;
        ASSERT_EQ(fitWeighted(points, base, w), 0);
        ASSERT_EQ(fitWeighted(points, scaled, scaledW), 0);
        ASSERT_EQ(fitWeighted(without(points, drop), omitted, without(w, drop)), 0);
        w[static_cast<size_t>(drop)] = 0.0;
        ASSERT_EQ(fitWeighted(points, zeroed, w), 0);
        expectSameFit(base, scaled, tolerance, tolerance);
        expectSameFit(omitted, zeroed, tolerance, tolerance);
        // Keep to triples far enough from collinear for the expected precision.
        if (std::fabs((t[1].x - t[0].x) * (t[2].y - t[0].y) - (t[1].y - t[0].y) * (t[2].x - t[0].x)) <
            0.05 * radius * radius)
            continue;
        for (Algorithm a : {Algorithm::Weighted, Algorithm::FreeRadius}) {
            CircleResult r;
            ASSERT_EQ(fit(t, r, a), 0) << a;
            expectCircle(r, c, radius, 0.0, tolerance);
        }
    }
}

// The fixed-radius fit's centre is the algebraic centre of the points it
// keeps (the weighted fit with unit weights of them), whatever the radius
// imposed, and the radius is the one imposed.
TEST(CircleProperties, FixedRadiusCentreIsTheAlgebraicCentreOfTheKeptPoints)
{
    zt::Rng rng(31);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(::testing::Message() << "seed 31 trial " << trial);
        const zmath_vect c{rng.uniform(-50, 50), rng.uniform(-50, 50)};
        const double radius = rng.uniform(1, 20), imposed = rng.uniform(0.5, 30), tolerance = 1e-9 * (radius + 50);
        Pts points = noisy(rng, c, radius, 0.05 * radius, 9);
        points.push_back({c.x + 3 * radius, c.y - 2 * radius});
        for (int32_t numIgnore : {0, 1, 2}) {
            CircleResult fixed, algebraic;
            ASSERT_EQ(fit(points, fixed, Algorithm::FixedRadius, numIgnore, imposed), 0);
            Pts kept = points;
            std::vector<int32_t> ignored = zt::indices(fixed->ignoredIndices);
            std::sort(ignored.rbegin(), ignored.rend());
            for (int32_t k : ignored) kept = without(kept, k);
            ASSERT_EQ(fitWeighted(kept, algebraic), 0);
            EXPECT_NEAR(fixed->centre.x, algebraic->centre.x, tolerance) << numIgnore << " discarded";
            EXPECT_NEAR(fixed->centre.y, algebraic->centre.y, tolerance) << numIgnore << " discarded";
            EXPECT_EQ(fixed->radius, imposed) << numIgnore << " discarded";
        }
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

// Hand-worked fits. A fixed radius r about a circle of radius 2 leaves
// |2 - r|; a point is discarded when asked even without outliers; duplicated
// points make zero-area triples that are skipped, not divided by; a small
// circle is a circle with a fixed radius too (the test is relative).
TEST(CircleSearch, ExactFits)
{
    Pts duplicated = onCircle({4, -3}, 2, 6);
    duplicated.insert(duplicated.begin() + 1, duplicated[0]);
    duplicated.push_back(duplicated[3]);
    const struct Row {
        Pts points;
        int32_t mode, numIgnore;
        double fixedRadius, radius, rms;
    } rows[] = {
        {onCircle({4, -3}, 2, 9), 1, 0, 3.5, 3.5, 1.5},
        {duplicated, 0, 2, 1.0, 2.0, 0.0},
        {onCircle({4, -3}, 0.005, 10), 1, 0, 0.005, 0.005, 0.0},
        // 455 candidates, sorted in one block from a sample of 255 of them
        // (a sample of every one overran the work storage).
        {onCircle({4, -3}, 2, 15), 0, 1, 1.0, 2.0, 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "mode " << row.mode << " numIgnore " << row.numIgnore << " fixed radius "
                                          << row.fixedRadius << " points " << row.points.size());
        CircleResult r;
        ASSERT_EQ(fit(row.points, r, params(row.mode, row.numIgnore, row.fixedRadius)), 0);
        expectCircle(r, {4, -3}, row.radius, row.rms, 1e-12);
    }
    // The three points near (4, 5) lie on a circle; each window holding the
    // far point has no circle from the centre where it is first met, is
    // tried again from the next centres, and loses to the exact circle.
    const Pts far{{16819.579304684139, -50997.315503114878},
                  {5.8328507337879376, 3.8560974274915965},
                  {6.0312555872783111, 3.5699136686633377},
                  {3.6495847179357752, 4.8646264705817028}};
    CircleResult exact;
    ASSERT_EQ(fit(far, exact, params(0, 1)), 0);
    EXPECT_EQ(zt::indices(exact->ignoredIndices), std::vector<int32_t>{0}) << "the far point discarded";
    EXPECT_LT(exact->rmsError, 1e-12) << "the exact circle of the other three";
    // Three collinear points at the origin would score best with the zero
    // circle; a collinear window has no centre, so a true triple wins.
    CircleResult r;
    ASSERT_EQ(fit({{-1e-3, 0}, {0, 0}, {1e-3, 0}, {10, 10}}, r, params(1, 1, 5.0)), 0);
    EXPECT_GT(std::hypot(r->centre.x, r->centre.y), 1.0) << "not centred on the collinear points";
}

// A broken precondition (an array missing for a count above 0) goes to the
// assertion handler and, when that returns, is refused with
// zstd_errBrokenPrecondition, the trace told the file and the condition.
TEST(CircleSearch, BrokenPreconditionIsTraced)
{
    struct Step {
        std::string file, expression;
        zfit_status status;
    };
    std::vector<Step> steps;
    const auto record = [](void* context, const char* file, int32_t, const char* expression, zfit_status status) {
        static_cast<std::vector<Step>*>(context)->push_back({file, expression, status});
    };
    zt::ScopedAssertCounter asserts;
    zfit::ScopedTrace trace(record, &steps);
    CircleResult r;
    const zmath_circleFitParams p = params();
    EXPECT_EQ(zmath_circleFitWeighted(nullptr, 3, nullptr, &p, r.get()), zstd_errBrokenPrecondition);
    EXPECT_EQ(asserts.count(), 1) << "reported to the assertion handler";
    ASSERT_EQ(steps.size(), 1u) << "one step refused";
    EXPECT_NE(steps[0].file.find("circle_fit.cpp"), std::string::npos) << steps[0].file;
    EXPECT_NE(steps[0].expression.find("points != nullptr"), std::string::npos) << steps[0].expression;
    EXPECT_EQ(steps[0].status, zstd_errBrokenPrecondition);
}

// Fewer than three points left have no circle. More discarded than there
// are points, or a non-finite coordinate, is refused before any storage is
// made or any pass polls.
TEST(CircleSearch, NoCircleToFit)
{
    const Pts five = onCircle({0, 0}, 1, 5);
    const struct Row {
        const char* what;
        Pts points;
        int32_t numIgnore;
        bool refusedEarly;
    } rows[] = {
        {"two points", {{0, 0}, {1, 1}}, 0, false},
        {"two left of five", five, 3, false},
        {"more discarded than there are", five, 6, true},
        {"NaN", {{0, 0}, {1, 0}, {0, 1}, {nan, 1}}, 1, true},
    };
    for (const Row& row : rows)
        for (int mode = 0; mode < 2; ++mode) {
            SCOPED_TRACE(::testing::Message() << row.what << " mode " << mode);
            zfit::Points vector(row.points);
            const zmath_circleFitParams p = params(mode, row.numIgnore);
            CircleResult r;
            zt::dirty(*r);
            zt::ScopedAttention attention;
            zt::ScopedAllocator allocator;
            EXPECT_EQ(zmath_circleFitVector(vector.get(), &p, r.get()), zmath_errDegenerate);
            EXPECT_EQ(r->isValid, 1) << "isValid kept";
            EXPECT_EQ(zt::shapeValues(*r), std::vector<double>(3, zt::kDirtyShape)) << "the circle kept";
            EXPECT_EQ(r->rmsError, HUGE_VAL) << "no error";
            EXPECT_EQ(r->ignoredIndices.size, 0) << "no index";
            if (row.refusedEarly) {
                EXPECT_EQ(attention.polls(), 0) << "refused before any pass";
                EXPECT_EQ(allocator.allocations(), 0) << "refused before any storage";
            }
        }
}

// 4 (n - 2) polls (spread over the triples), a single one when nothing is
// discarded, and work storage that does not grow with the candidates.
TEST(CircleSearch, PollsAndAllocations)
{
    for (int mode = 0; mode < 2; ++mode) {
        int allocations[2][2] = {};
        for (int n : {10, 20}) {
            Pts points = onCircle({1, 1}, 2, n - 1);
            points.push_back({30, 30});
            for (int32_t numIgnore : {0, 1}) {
                SCOPED_TRACE(::testing::Message() << "mode " << mode << " n " << n << " numIgnore " << numIgnore);
                CircleResult r;
                zt::ScopedAttention attention;
                zt::ScopedAllocator allocator;
                ASSERT_EQ(fit(points, r, params(mode, numIgnore, 2.0)), 0);
                EXPECT_EQ(attention.polls(), numIgnore == 0 ? 1 : 4 * (n - 2));
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

// Where cells of centres are passed over (points about a circle, a tenth
// moved off) the searches still poll 4 (n - 2) times; the first poll comes
// before any window is scored, so that a host that stops the search there
// gets no window, and a later stop leaves the best window so far.
TEST(CircleSearch, PollsWhereCellsArePassedOver)
{
    zt::Rng rng(79);
    Pts points = noisy(rng, {2, -1}, 5, 0.01, 60);
    for (int k = 0; k < 6; ++k) points[k * 7] = {2 + (points[k * 7].x - 2) * 1.4, -1 + (points[k * 7].y + 1) * 1.4};
    const int n = static_cast<int>(points.size());
    for (int mode = 0; mode < 2; ++mode) {
        SCOPED_TRACE(::testing::Message() << "mode " << mode);
        {
            CircleResult r;
            zt::ScopedAttention attention;
            ASSERT_EQ(fit(points, r, params(mode, 6, 5.0)), 0);
            EXPECT_EQ(attention.polls(), 4 * (n - 2)) << "every poll is made";
        }
        {
            CircleResult r;
            zt::ScopedAttention attention(1);
            EXPECT_EQ(fit(points, r, params(mode, 6, 5.0)), zsys_errCancelled);
            EXPECT_EQ(r->rmsError, HUGE_VAL) << "stopped at the first poll: no window yet";
            EXPECT_EQ(r->ignoredIndices.size, 0) << "stopped at the first poll: nothing discarded";
        }
    }
}

}  // namespace
