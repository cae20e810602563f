// Circle family: validation and the entries' record handling, the weighted
// algebraic circle, the free- and fixed-radius outlier searches (discarded
// indices and their order, degenerate and non-finite input, cancellation,
// work storage) and properties over random circles.
#include <algorithm>
#include <limits>
#include <numeric>

#include "support.hpp"

namespace {

using CircleResult = zt::Owned<zmath_circleFitResult, zmath_circleFitResult_construct, zmath_circleFitResult_destruct>;
using Pts = std::vector<zmath_vect>;

const double nan = std::numeric_limits<double>::quiet_NaN();

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

zfit_status fitWeighted(const Pts& points, const std::vector<double>& w, CircleResult& r,
                        zmath_circleFitParams p = params())
{
    return zmath_circleFitWeighted(points.data(), static_cast<int32_t>(points.size()), w.data(), &p, r.get());
}

Pts onCircle(zmath_vect c, double radius, int n, double from = 0.0, double to = 2 * zt::pi)
{
    Pts points;
    for (int i = 0; i < n; ++i) {
        const double a = from + (to - from) * (i + 0.37) / n;
        points.push_back({c.x + radius * std::cos(a), c.y + radius * std::sin(a)});
    }
    return points;
}

// Marks a result as left by an earlier fit, to see what a call changes.
void stain(CircleResult& r)
{
    r->isValid = 1;
    r->centre = {-7.0, -8.0};
    r->radius = -9.0;
    r->rmsError = 42.0;
    const int32_t old = 99;
    zstd_vector32_pushBack(&r->ignoredIndices, &old);
}

bool circleIsStained(CircleResult& r) { return r->centre.x == -7.0 && r->centre.y == -8.0 && r->radius == -9.0; }

TEST(CircleParams, ValidationOrderAndUntouchedResult)
{
    struct Row {
        int32_t numIgnore;
        double maxRmsError;
        int32_t mode;
        double fixedRadius;
        zfit_status expected;
    } rows[] = {
        {0, HUGE_VAL, 0, 1.0, 0},
        {-1, -1.0, 0, 1.0, zmath_errFitNumIgnoreNegative},  // numIgnore is checked first
        {0, -1.0, 9, -1.0, zmath_errFitMaxRmsErrorNegative},
        {0, 1.0, 0, -1.0, zmath_errFitFixedRadiusNegative},  // whatever the mode
        {0, 1.0, 2, 0.0, zmath_errFitBadMode},
        {0, -0.0, 1, 0.0, 0},
        {0, nan, 1, nan, 0},
    };
    const Pts points = onCircle({1, 2}, 3, 6);
    zt::Doubles weights(std::vector<double>(6, 1.0));
    zt::Points vector(points);
    for (const Row& row : rows) {
        const zmath_circleFitParams p{row.numIgnore, row.maxRmsError, row.mode, row.fixedRadius};
        EXPECT_EQ(zmath_circleFitParams_validate(&p), row.expected);
        if (row.expected == 0) continue;
        for (int entry = 0; entry < 2; ++entry) {
            CircleResult r;
            stain(r);
            const zfit_status status = entry == 0 ? fit(points, r, p)
                                                  : zmath_circleFitWeightedVector(vector.get(), weights.get(), &p, r.get());
            EXPECT_EQ(status, row.expected) << "entry " << entry;
            EXPECT_TRUE(circleIsStained(r) && r->rmsError == 42.0 && r->ignoredIndices.size == 1) << "untouched";
        }
    }
    const zmath_circleFitParams defaults = params();
    EXPECT_EQ(defaults.maxRmsError, HUGE_VAL);
    EXPECT_EQ(defaults.fixedRadius, 1.0);
}

TEST(CircleResultLifeCycle, CopyAssignResetAndHooks)
{
    CircleResult source;
    stain(source);
    zmath_circleFitResult copy;
    ASSERT_EQ(zmath_circleFitResult_constructCopy(&copy, source.get()), 0);
    EXPECT_EQ(copy.centre.y, -8.0);
    EXPECT_EQ(copy.radius, -9.0);
    EXPECT_EQ(zt::indices(copy.ignoredIndices), std::vector<int32_t>{99});
    zstd_vector32_resize(&copy.ignoredIndices, 0);
    EXPECT_EQ(source->ignoredIndices.size, 1) << "independent copy";
    ASSERT_EQ(zmath_circleFitResult_assign(&copy, &copy), 0);
    ASSERT_EQ(zmath_circleFitResult_reset(&copy), 0);
    EXPECT_TRUE(copy.isValid == 0 && copy.centre.x == 0 && copy.centre.y == 0 && copy.radius == 0 && copy.rmsError == 0);
    ASSERT_EQ(zmath_circleFitResult_assign(&copy, source.get()), 0);
    EXPECT_EQ(copy.rmsError, 42.0);
    EXPECT_EQ(copy.ignoredIndices.size, 1);
    EXPECT_EQ(zmath_circleFitResult_destruct(&copy), 0);
    const zmath_circleFitResult* p = source.get();
    zfit_status (*destruct)(zmath_circleFitResult*) = zmath_circleFitResult_destruct;
    zsys_typeCheck_zmath_circleFitResult(p);
    zsys_typeCheckPtr_zmath_circleFitResult(&p);
    zsys_typeCheckFunc_zmath_circleFitResult(destruct);
    zsys_typeCheckFuncPtr_zmath_circleFitResult(&destruct);
    EXPECT_EQ(source->rmsError, 42.0);
}

TEST(CircleWeighted, EntryChecksAndWhatTheyLeave)
{
    const Pts points = onCircle({1, 2}, 3, 5);
    CircleResult r;
    stain(r);
    zt::Points vector(points);
    zt::Doubles four({1, 1, 1, 1});
    zmath_circleFitParams p = params();
    EXPECT_EQ(zmath_circleFitWeightedVector(vector.get(), four.get(), &p, r.get()), zmath_errFitWeightCount);
    EXPECT_EQ(r->ignoredIndices.size, 1) << "untouched by a size mismatch";

    EXPECT_EQ(fitWeighted(points, {1, 1, -1e-300, 1, -1}, r), zmath_errFitWeightNegative);
    EXPECT_EQ(r->ignoredIndices.size, 0) << "emptied before the checks";
    EXPECT_TRUE(circleIsStained(r));
    EXPECT_EQ(fitWeighted(points, {1, 1, 1, 1, -HUGE_VAL}, r), zmath_errFitWeightNegative);

    p.numIgnore = -1;  // not validated: any non-zero numIgnore is refused as such
    EXPECT_EQ(fitWeighted(points, {1, 1, 1, 1, 1}, r, p), zmath_errFitWeightedIgnore);
    p = params(7, 0, -3.0);  // mode and fixedRadius are not read
    ASSERT_EQ(fitWeighted(points, {1, 1, 1, 1, 1}, r, p), 0);
    EXPECT_NEAR(r->radius, 3.0, 1e-12);
    EXPECT_EQ(r->ignoredIndices.size, 0);
}

TEST(CircleWeighted, DegenerateInputLeavesCircleErrorAndValidity)
{
    const double inf = HUGE_VAL;
    struct Row {
        const char* what;
        Pts points;
        std::vector<double> weights;
        int32_t count;  // -1: the number of points
    } rows[] = {
        {"no points", {}, {}, -1},
        {"negative count", {{0, 0}, {1, 0}, {0, 1}}, {1, 1, 1}, -4},
        {"two points", {{0, 0}, {1, 0}}, {1, 1}, -1},
        {"collinear", {{0, 0}, {1, 1}, {2, 2}, {5, 5}}, {1, 2, 3, 4}, -1},
        {"all weights 0", onCircle({0, 0}, 1, 5), {0, 0, 0, 0, 0}, -1},
        {"two points of non-zero weight", onCircle({0, 0}, 1, 4), {0, 1, 0, 1}, -1},
        {"NaN coordinate", {{0, 0}, {1, nan}, {0, 1}, {2, 2}}, {1, 1, 1, 0}, -1},
        {"infinite coordinate", {{0, 0}, {inf, 0}, {0, 1}, {2, 2}}, {1, 1, 1, 1}, -1},
        {"NaN weight", onCircle({0, 0}, 1, 4), {1, nan, 1, 1}, -1},
        {"infinite weight", onCircle({0, 0}, 1, 4), {1, inf, 1, 1}, -1},
        {"sums overflow", {{0, 0}, {1e200, 0}, {0, 1e200}}, {1, 1, 1}, -1},
    };
    for (const Row& row : rows) {
        CircleResult r;
        stain(r);
        const int32_t count = row.count == -1 ? static_cast<int32_t>(row.points.size()) : row.count;
        zmath_circleFitParams p = params();
        EXPECT_EQ(zmath_circleFitWeighted(row.points.data(), count, row.weights.data(), &p, r.get()),
                  zmath_errDegenerate)
            << row.what;
        EXPECT_TRUE(circleIsStained(r) && r->rmsError == 42.0 && r->isValid == 1) << row.what;
    }
}

TEST(CircleWeighted, WeightsActRelativeToEachOther)
{
    zt::Rng rng(31);
    for (int trial = 0; trial < 100; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        const zmath_vect c{rng.uniform(-50, 50), rng.uniform(-50, 50)};
        Pts points;
        std::vector<double> w;
        for (int i = 0; i < 12; ++i) {
            const double a = rng.uniform(0, 2 * zt::pi), radius = 5.0 + rng.normal(0.2);
            points.push_back({c.x + radius * std::cos(a), c.y + radius * std::sin(a)});
            w.push_back(rng.uniform(0.1, 3.0));
        }
        CircleResult base, scaled, zeroed, omitted;
        ASSERT_EQ(fitWeighted(points, w, base), 0);
        std::vector<double> w2 = w;
        for (double& x : w2) x *= 1e3;
        ASSERT_EQ(fitWeighted(points, w2, scaled), 0);
        EXPECT_NEAR(scaled->centre.x, base->centre.x, 1e-9);
        EXPECT_NEAR(scaled->radius, base->radius, 1e-9);
        EXPECT_NEAR(scaled->rmsError, base->rmsError, 1e-9);
        // A zero weight, also on the first point (which fixes the origin), is
        // the same as leaving the point out.
        const size_t drop = trial % 2 == 0 ? 0 : 5;
        std::vector<double> w3 = w;
        w3[drop] = 0.0;
        Pts rest = points;
        std::vector<double> wRest = w;
        rest.erase(rest.begin() + static_cast<long>(drop));
        wRest.erase(wRest.begin() + static_cast<long>(drop));
        ASSERT_EQ(fitWeighted(points, w3, zeroed), 0);
        ASSERT_EQ(fitWeighted(rest, wRest, omitted), 0);
        EXPECT_NEAR(zeroed->centre.y, omitted->centre.y, 1e-9);
        EXPECT_NEAR(zeroed->radius, omitted->radius, 1e-9);
        EXPECT_NEAR(zeroed->rmsError, omitted->rmsError, 1e-9);
    }
}

TEST(CircleWeighted, ThreePointsGiveTheirCircumcircle)
{
    zt::Rng rng(5);
    for (int trial = 0; trial < 200; ++trial) {
        const zmath_vect c{rng.uniform(-100, 100), rng.uniform(-100, 100)};
        const double radius = rng.uniform(0.1, 50);
        Pts points;
        for (int i = 0; i < 3; ++i) {
            const double a = rng.uniform(0, 2 * zt::pi);
            points.push_back({c.x + radius * std::cos(a), c.y + radius * std::sin(a)});
        }
        // Keep to triples far enough from collinear for the expected precision.
        const zmath_vect u{points[1].x - points[0].x, points[1].y - points[0].y};
        const zmath_vect v{points[2].x - points[0].x, points[2].y - points[0].y};
        if (std::fabs(u.x * v.y - u.y * v.x) < 0.05 * radius * radius) continue;
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        for (int mode = 0; mode < 2; ++mode) {
            CircleResult r;
            const zfit_status status = mode == 0 ? fitWeighted(points, {1, 1, 1}, r) : fit(points, r);
            ASSERT_EQ(status, 0) << "mode " << mode;
            EXPECT_NEAR(r->centre.x, c.x, 1e-8 * (1 + radius));
            EXPECT_NEAR(r->centre.y, c.y, 1e-8 * (1 + radius));
            EXPECT_NEAR(r->radius, radius, 1e-8 * (1 + radius));
            EXPECT_NEAR(r->rmsError, 0.0, 1e-8 * (1 + radius));
        }
    }
}

TEST(CircleProperties, NoisyArcsAreRecoveredAlsoFarFromTheOrigin)
{
    zt::Rng rng(77);
    const double sigma = 0.01, radius = 10.0;
    for (int trial = 0; trial < 30; ++trial) {
        const double span = trial % 2 == 0 ? zt::pi : zt::pi / 2;  // half and quarter circles
        const double from = rng.uniform(0, 2 * zt::pi);
        Pts near, far;
        for (int i = 0; i < 120; ++i) {
            const double a = from + span * rng.uniform(0, 1), e = rng.normal(sigma);
            near.push_back({(radius + e) * std::cos(a), (radius + e) * std::sin(a)});
            far.push_back({near.back().x + 1e4, near.back().y - 1e4});
        }
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " span " << span);
        const double tolerance = span < 2 ? 0.05 : 0.01;
        for (int mode = 0; mode < 3; ++mode) {
            CircleResult a, b;
            const std::vector<double> w(near.size(), 1.0);
            const zmath_circleFitParams p = params(mode == 2 ? 1 : 0, 0, radius);
            SCOPED_TRACE(::testing::Message() << "mode " << mode);
            ASSERT_EQ(mode == 0 ? fitWeighted(near, w, a) : fit(near, a, p), 0);
            ASSERT_EQ(mode == 0 ? fitWeighted(far, w, b) : fit(far, b, p), 0);
            EXPECT_NEAR(std::hypot(a->centre.x, a->centre.y), 0.0, tolerance) << "mode " << mode;
            EXPECT_NEAR(a->radius, radius, tolerance);
            // With the radius imposed, the algebraic centre's error on a short
            // arc adds to the residual.
            if (mode == 2) {
                EXPECT_LT(a->rmsError, sigma + std::hypot(a->centre.x, a->centre.y) + 0.003);
            } else {
                EXPECT_NEAR(a->rmsError, sigma, 0.003);
            }
            // The same circle moved far away fits as well. The weighted fit
            // sums about its first point and agrees to rounding. The searches
            // sum about each candidate centre and keep the variant with the
            // smallest error; candidates from nearly collinear triples lie far
            // off and cost digits, so they agree within the noise.
            const double agree = mode == 0 ? 1e-6 : sigma;
            EXPECT_NEAR(b->centre.x - 1e4, a->centre.x, agree);
            EXPECT_NEAR(b->centre.y + 1e4, a->centre.y, agree);
            EXPECT_NEAR(b->radius, a->radius, agree);
            EXPECT_NEAR(b->rmsError, a->rmsError, agree * 0.2);
        }
    }
}

TEST(CircleSearch, NoDiscardEqualsTheUnitWeightFit)
{
    zt::Rng rng(8);
    Pts points;
    for (int i = 0; i < 15; ++i) {
        const double a = rng.uniform(0, 2 * zt::pi), radius = 2.0 + rng.normal(0.05);
        points.push_back({3 + radius * std::cos(a), -1 + radius * std::sin(a)});
    }
    CircleResult w, free, fixed;
    ASSERT_EQ(fitWeighted(points, std::vector<double>(points.size(), 1.0), w), 0);
    ASSERT_EQ(fit(points, free), 0);
    ASSERT_EQ(fit(points, fixed, params(1, 0, 2.5)), 0);
    EXPECT_NEAR(free->centre.x, w->centre.x, 1e-10);
    EXPECT_NEAR(free->radius, w->radius, 1e-10);
    EXPECT_NEAR(free->rmsError, w->rmsError, 1e-10);
    EXPECT_NEAR(fixed->centre.x, w->centre.x, 1e-10) << "the fixed radius does not move the centre";
    EXPECT_NEAR(fixed->centre.y, w->centre.y, 1e-10);
    EXPECT_EQ(fixed->radius, 2.5);
    EXPECT_EQ(free->ignoredIndices.size, 0);
}

TEST(CircleSearch, FixedRadiusReferenceValues)
{
    const Pts points = onCircle({4, -3}, 2.0, 9);
    struct Row {
        double fixedRadius, rms;
    } rows[] = {{2.0, 0.0}, {1.0, 1.0}, {0.0, 2.0}, {3.5, 1.5}};
    for (const Row& row : rows) {
        CircleResult r;
        ASSERT_EQ(fit(points, r, params(1, 0, row.fixedRadius)), 0) << row.fixedRadius;
        EXPECT_NEAR(r->centre.x, 4.0, 1e-12);
        EXPECT_NEAR(r->centre.y, -3.0, 1e-12);
        EXPECT_EQ(r->radius, row.fixedRadius);
        EXPECT_NEAR(r->rmsError, row.rms, 1e-12);
    }
}

// With k outliers inside the circle or far outside it and numIgnore = k,
// exactly the outliers are discarded, in rank order from the centre: the
// inner ones nearest first, then the outer ones nearest first.
TEST(CircleSearch, OutliersComeBackInRankOrder)
{
    zt::Rng rng(4242);
    for (int trial = 0; trial < 60; ++trial) {
        const int k = 1 + trial % 3, mode = trial % 2;
        const zmath_vect c{rng.uniform(-20, 20), rng.uniform(-20, 20)};
        const double radius = 3.0;
        Pts points = onCircle(c, radius, 10 + trial % 4, rng.uniform(0, 1), rng.uniform(4, 7));
        std::vector<std::pair<double, int32_t>> outliers;
        for (int o = 0; o < k; ++o) {
            const double a = rng.uniform(0, 2 * zt::pi);
            const double dist = rng.integer(0, 1) ? rng.uniform(0.1, 1.0) * (o + 1) / k : rng.uniform(7, 20);
            const auto at = static_cast<size_t>(rng.integer(0, static_cast<int>(points.size())));
            points.insert(points.begin() + static_cast<long>(at), {c.x + dist * std::cos(a), c.y + dist * std::sin(a)});
            for (auto& [d, index] : outliers)
                if (index >= static_cast<int32_t>(at)) ++index;
            outliers.push_back({dist, static_cast<int32_t>(at)});
        }
        std::sort(outliers.begin(), outliers.end());
        std::vector<int32_t> expected;
        for (const auto& [d, index] : outliers) expected.push_back(index);
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " mode " << mode << " k " << k);
        CircleResult r;
        ASSERT_EQ(fit(points, r, params(mode, k, radius)), 0);
        EXPECT_EQ(zt::indices(r->ignoredIndices), expected);
        EXPECT_NEAR(r->centre.x, c.x, 1e-9);
        EXPECT_NEAR(r->centre.y, c.y, 1e-9);
        EXPECT_NEAR(r->radius, radius, 1e-9);
        EXPECT_NEAR(r->rmsError, 0.0, 1e-9);
        EXPECT_EQ(r->isValid, 1);
    }
}

TEST(CircleSearch, TranslatingThePointsTranslatesTheFit)
{
    zt::Rng rng(606);
    for (int trial = 0; trial < 30; ++trial) {
        Pts points;
        for (int i = 0; i < 14; ++i) {
            const double a = rng.uniform(0, 2 * zt::pi), radius = 4.0 + rng.normal(0.1);
            points.push_back({radius * std::cos(a), radius * std::sin(a)});
        }
        points[3] = {9, 9};
        const zmath_vect shift{rng.uniform(-1e3, 1e3), rng.uniform(-1e3, 1e3)};
        Pts moved;
        for (const zmath_vect& p : points) moved.push_back({p.x + shift.x, p.y + shift.y});
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        for (int mode = 0; mode < 3; ++mode) {
            CircleResult a, b;
            const std::vector<double> w(points.size(), 1.0);
            const zmath_circleFitParams p = params(mode == 2 ? 0 : mode, mode == 2 ? 0 : 2, 4.0);
            ASSERT_EQ(mode == 2 ? fitWeighted(points, w, a) : fit(points, a, p), 0);
            ASSERT_EQ(mode == 2 ? fitWeighted(moved, w, b) : fit(moved, b, p), 0);
            EXPECT_NEAR(b->centre.x - shift.x, a->centre.x, 1e-8) << "mode " << mode;
            EXPECT_NEAR(b->centre.y - shift.y, a->centre.y, 1e-8);
            EXPECT_NEAR(b->radius, a->radius, 1e-8);
            EXPECT_NEAR(b->rmsError, a->rmsError, 1e-8);
            // The same points are discarded; their order follows the winning
            // candidate, which rounding may choose differently.
            std::vector<int32_t> ia = zt::indices(a->ignoredIndices), ib = zt::indices(b->ignoredIndices);
            std::sort(ia.begin(), ia.end());
            std::sort(ib.begin(), ib.end());
            EXPECT_EQ(ib, ia);
        }
    }
}

TEST(CircleSearch, WithoutOutliersOnePointIsStillDiscarded)
{
    CircleResult r;
    ASSERT_EQ(fit(onCircle({0, 0}, 1, 8), r, params(0, 1)), 0);
    EXPECT_EQ(r->ignoredIndices.size, 1);
    EXPECT_NEAR(r->rmsError, 0.0, 1e-12);
}

TEST(CircleSearch, NoCircleToFit)
{
    struct Row {
        const char* what;
        Pts points;
        int32_t numIgnore;
    } rows[] = {
        {"no points", {}, 0},
        {"two points", {{0, 0}, {1, 1}}, 0},
        {"two left of five", onCircle({0, 0}, 1, 5), 3},  // windows of two points have no circle
        {"one left", onCircle({0, 0}, 1, 5), 4},
        {"all discarded", onCircle({0, 0}, 1, 5), 5},
        {"more discarded than there are", onCircle({0, 0}, 1, 5), 6},
        {"collinear", {{0, 0}, {1, 2}, {2, 4}, {3, 6}, {-1, -2}}, 0},
        {"coincident", {{1, 1}, {1, 1}, {1, 1}, {1, 1}}, 1},
        {"NaN coordinate", {{0, 0}, {1, 0}, {0, 1}, {nan, 1}}, 1},
        {"infinite coordinate", {{0, 0}, {1, 0}, {0, 1}, {1, -HUGE_VAL}}, 0},
    };
    for (const Row& row : rows)
        for (int mode = 0; mode < 2; ++mode) {
            CircleResult r;
            stain(r);
            zt::ScopedAttention attention;
            EXPECT_EQ(fit(row.points, r, params(mode, row.numIgnore)), zmath_errDegenerate) << row.what << " mode " << mode;
            EXPECT_EQ(r->rmsError, HUGE_VAL) << row.what;
            EXPECT_EQ(r->ignoredIndices.size, 0) << row.what;
            EXPECT_TRUE(circleIsStained(r) && r->isValid == 1) << row.what;
            if (row.points.size() >= 3 && row.numIgnore >= static_cast<int32_t>(row.points.size())) {
                EXPECT_EQ(attention.polls(), 0) << row.what << ": refused before the search";
            }
        }
    // Non-finite input is refused before anything is searched or allocated.
    zt::ScopedAttention attention;
    zt::ScopedAllocator allocator;
    zt::Points bad(Pts{{0, 0}, {1, 0}, {0, 1}, {nan, 1}});
    CircleResult r;
    const zmath_circleFitParams p = params(0, 1);
    const int before = allocator.allocations();
    EXPECT_EQ(zmath_circleFitVector(bad.get(), &p, r.get()), zmath_errDegenerate);
    EXPECT_EQ(attention.polls(), 0);
    EXPECT_EQ(allocator.allocations(), before);
}

TEST(CircleSearch, DuplicatedPointsAreSkippedNotDividedBy)
{
    Pts points = onCircle({2, 2}, 1.5, 6);
    points.insert(points.begin() + 1, points[0]);
    points.push_back(points[3]);
    for (int mode = 0; mode < 2; ++mode) {
        CircleResult r;
        ASSERT_EQ(fit(points, r, params(mode, 2, 1.5)), 0) << mode;
        EXPECT_NEAR(r->radius, 1.5, 1e-12);
        EXPECT_NEAR(r->rmsError, 0.0, 1e-12);
    }
}

// A small circle is still a circle: the fixed-radius test is relative to the
// spread, as the free-radius one is.
TEST(CircleFixedRadius, SmallCirclesAndDegenerateWindowsNeverYieldTheZeroCircle)
{
    CircleResult small;
    ASSERT_EQ(fit(onCircle({0.3, 0.2}, 0.005, 10), small, params(1, 0, 0.005)), 0);
    EXPECT_NEAR(small->centre.x, 0.3, 1e-12);
    EXPECT_NEAR(small->centre.y, 0.2, 1e-12);
    EXPECT_EQ(small->radius, 0.005);

    // Three collinear points at the origin would score best with the zero
    // circle; a collinear window has no centre, so a true triple wins.
    CircleResult r;
    ASSERT_EQ(fit({{-1e-3, 0}, {0, 0}, {1e-3, 0}, {10, 10}}, r, params(1, 1, 5.0)), 0);
    EXPECT_EQ(r->radius, 5.0);
    EXPECT_GT(std::hypot(r->centre.x, r->centre.y), 1.0);
    EXPECT_EQ(r->ignoredIndices.size, 1);

    // Windows of two points have no centre either.
    CircleResult two;
    stain(two);
    EXPECT_EQ(fit(onCircle({0, 0}, 1, 5), two, params(1, 3, 1.0)), zmath_errDegenerate);
    EXPECT_TRUE(circleIsStained(two));
    for (double radius : {nan, HUGE_VAL}) {
        CircleResult none;
        EXPECT_EQ(fit(onCircle({0, 0}, 1, 5), none, params(1, 0, radius)), zmath_errDegenerate) << radius;
    }
}

TEST(CircleSearch, CancellationKeepsTheBestWindowSoFar)
{
    Pts points = onCircle({1, 1}, 2, 9);
    points.push_back({30, 30});
    for (int mode = 0; mode < 2; ++mode) {
        {
            CircleResult r;
            stain(r);
            zt::ScopedAttention attention(1);
            EXPECT_EQ(fit(points, r, params(mode, 1, 2.0)), zsys_errCancelled);
            EXPECT_EQ(attention.polls(), 1);
            EXPECT_EQ(r->rmsError, HUGE_VAL);
            EXPECT_EQ(r->ignoredIndices.size, 0);
            EXPECT_TRUE(circleIsStained(r) && r->isValid == 1);
        }
        {
            CircleResult r;
            stain(r);
            zt::ScopedAttention attention(3, zsys_errCancelled);
            EXPECT_EQ(fit(points, r, params(mode, 1, 2.0)), zsys_errCancelled);
            EXPECT_EQ(attention.polls(), 3);
            EXPECT_NEAR(r->rmsError, 0.0, 1e-12) << "the first passes found the circle";
            EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{9});
            EXPECT_TRUE(circleIsStained(r) && r->isValid == 1) << "the circle is written only on success";
        }
        {
            zt::ScopedAttention attention;  // one poll per pass of the outer loop
            CircleResult r;
            ASSERT_EQ(fit(points, r, params(mode, 1, 2.0)), 0);
            EXPECT_EQ(attention.polls(), static_cast<int>(points.size()) - 2);
            ASSERT_EQ(fit(points, r, params(mode, 0, 2.0)), 0);
            EXPECT_EQ(attention.polls(), static_cast<int>(points.size()) - 2 + 1) << "one pass without discarding";
        }
    }
}

TEST(CircleSearch, WorkStorageIsFixedPerCallAndAlwaysReleased)
{
    std::vector<int> counts;
    for (int n : {8, 20}) {
        Pts points = onCircle({0, 0}, 5, n);
        points[2] = {40, 1};
        CircleResult r;
        zt::ScopedAllocator allocator;
        ASSERT_EQ(fit(points, r, params(0, 3)), 0);
        EXPECT_EQ(allocator.outstanding(), 1u) << "only the result's indices";
        counts.push_back(allocator.allocations());
    }
    EXPECT_EQ(counts[0], counts[1]) << "the number of allocations does not grow with the candidates";
    const Pts points = onCircle({0, 0}, 5, 8);
    for (int failAt = 1; failAt <= counts[0]; ++failAt) {
        CircleResult fresh;
        zt::ScopedAllocator allocator(failAt);
        EXPECT_EQ(fit(points, fresh, params(1, 2, 5.0)), zstd_errOutOfMemory) << "allocation " << failAt;
        EXPECT_EQ(allocator.outstanding(), 0u) << "allocation " << failAt;
    }
}

TEST(CircleValidity, StrictAndOrdered)
{
    const Pts points{{0, 0}, {2, 0}, {0, 2}, {2, 2.2}};
    CircleResult r;
    zmath_circleFitParams p = params();
    ASSERT_EQ(fit(points, r, p), 0);
    p.maxRmsError = r->rmsError;
    ASSERT_EQ(fit(points, r, p), 0);
    EXPECT_EQ(r->isValid, 0) << "equality is not below the limit";
    p.maxRmsError = std::nextafter(r->rmsError, HUGE_VAL);
    ASSERT_EQ(fit(points, r, p), 0);
    EXPECT_EQ(r->isValid, 1);
    p.maxRmsError = nan;
    ASSERT_EQ(fit(points, r, p), 0);
    EXPECT_EQ(r->isValid, 0);
}

TEST(CircleSearchDeathTest, NullArraysWithPointsAreBrokenPreconditions)
{
    CircleResult r;
    const zmath_circleFitParams p = params();
    const double w[3] = {1, 1, 1};
    EXPECT_DEATH(zmath_circleFit(nullptr, 3, &p, r.get()), "broken precondition");
    EXPECT_DEATH(zmath_circleFitWeighted(nullptr, 3, w, &p, r.get()), "broken precondition");
}

}  // namespace
