// Ellipse family: validation and the point-count check, the record state
// after every kind of failure, exact and noisy recovery of random ellipses,
// covariance under motion and scale, the radial error, and the subset
// search (stray points found, enumeration count, cancellation, storage).
//
// Ellipses are compared geometrically: the centre and M*M^T of the
// transform that maps the unit circle onto them, so the angle's wrap and
// a swap of the axes do not matter.
#include <algorithm>
#include <array>
#include <climits>
#include <limits>

#include "support.hpp"

namespace {

using EllipseResult = zt::Owned<zmath_ellipseFitResult, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_destruct>;

zmath_ellipseFitParams params(int32_t numIgnore = 0, double maxRmsError = HUGE_VAL)
{
    zmath_ellipseFitParams p;
    zmath_ellipseFitParams_init(&p);
    p.numIgnore = numIgnore;
    p.maxRmsError = maxRmsError;
    return p;
}

zfit_status fit(const std::vector<zmath_vect>& points, EllipseResult& r, zmath_ellipseFitParams p = params())
{
    return zmath_ellipseFit(points.data(), static_cast<int32_t>(points.size()), &p, r.get());
}

struct Truth {
    zmath_vect center;
    double r1, r2, angle;

    zmath_shapeEllipse shape() const
    {
        zmath_shapeEllipse e;
        EXPECT_EQ(zmath_shapeEllipse_init(&e, &center, r1, r2, angle), 0);
        return e;
    }
    // The point at parameter t (radians around the ellipse), pushed out
    // along the ray from the centre by `out` times its distance.
    zmath_vect at(double t, double out = 0.0) const
    {
        const double u = r1 * std::cos(t) * (1 + out), v = r2 * std::sin(t) * (1 + out);
        return {center.x + std::cos(angle) * u - std::sin(angle) * v, center.y + std::sin(angle) * u + std::cos(angle) * v};
    }
};

Truth randomTruth(zt::Rng& rng)
{
    return {{rng.uniform(-50, 50), rng.uniform(-50, 50)}, rng.uniform(2, 20), rng.uniform(2, 20), rng.uniform(0, zt::pi)};
}

// n parameters spread around the ellipse, each jittered by up to a fifth of a step.
std::vector<double> spreadParameters(zt::Rng& rng, int n)
{
    std::vector<double> t;
    const double step = 2 * zt::pi / n, start = rng.uniform(0, 2 * zt::pi);
    for (int i = 0; i < n; ++i) t.push_back(start + i * step + rng.uniform(-0.2, 0.2) * step);
    return t;
}

std::array<double, 3> gram(const zmath_matrix& m)
{
    return {m.m00 * m.m00 + m.m01 * m.m01, m.m00 * m.m10 + m.m01 * m.m11, m.m10 * m.m10 + m.m11 * m.m11};
}

// Centre within tol * size, M*M^T within tol * size^2 (size = the larger radius).
void expectSameEllipse(const zmath_shapeEllipse& got, const zmath_shapeEllipse& want, double tol)
{
    zmath_xformLinear xg, xw;
    zmath_shapeEllipse_getXform(&got, &xg);
    zmath_shapeEllipse_getXform(&want, &xw);
    double radii[2];
    zmath_shapeEllipse_getRadii(&want, radii);
    const double size = std::max(radii[0], radii[1]);
    EXPECT_NEAR(xg.translation.x, xw.translation.x, tol * size);
    EXPECT_NEAR(xg.translation.y, xw.translation.y, tol * size);
    const auto gg = gram(xg.matrix), gw = gram(xw.matrix);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(gg[i], gw[i], tol * size * size) << "M*M^T element " << i;
}

bool isResetEllipse(const zmath_shapeEllipse& e)
{
    zmath_xformLinear identity;
    zmath_xformLinear_initIdentity(&identity);
    zmath_shapeEllipse unit;
    zmath_shapeEllipse_initFromXform(&unit, &identity);
    return std::memcmp(&e, &unit, sizeof e) == 0;
}

// A record as an earlier successful fit leaves it.
void fillFromEarlierFit(EllipseResult& r)
{
    const Truth t{{3, 4}, 5, 2, 0.3};
    std::vector<zmath_vect> points;
    for (int i = 0; i < 6; ++i) points.push_back(t.at(i));
    points.push_back({40, 40});
    ASSERT_EQ(fit(points, r, params(1)), 0);
    ASSERT_EQ(r->isValid, 1);
    ASSERT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{6});
}

// ---- parameters, point count and record state ----------------------------

TEST(EllipseParams, ValidationOrderAndUntouchedRecord)
{
    struct Row {
        int32_t numIgnore;
        double maxRmsError;
        zfit_status expected;
    } rows[] = {
        {0, HUGE_VAL, 0},
        {-1, -1.0, zmath_errFitNumIgnoreNegative},  // numIgnore is checked first
        {0, -1.0, zmath_errFitMaxRmsErrorNegative},
        {INT32_MIN, 1.0, zmath_errFitNumIgnoreNegative},
        {0, -0.0, 0},
        {3, NAN, 0},
    };
    zmath_ellipseFitParams defaults;
    ASSERT_EQ(zmath_ellipseFitParams_init(&defaults), 0);
    EXPECT_EQ(defaults.numIgnore, 0);
    EXPECT_EQ(defaults.maxRmsError, HUGE_VAL);
    for (const Row& row : rows) {
        const zmath_ellipseFitParams p{row.numIgnore, row.maxRmsError};
        EXPECT_EQ(zmath_ellipseFitParams_validate(&p), row.expected);
        if (row.expected == 0) continue;
        EllipseResult r;
        fillFromEarlierFit(r);
        const zmath_shapeEllipse before = r->ellipse;
        const std::vector<zmath_vect> points{{0, 1}, {1, 0}, {0, -1}, {-1, 0}, {0.7, 0.7}, {3, 3}};
        EXPECT_EQ(fit(points, r, p), row.expected);
        EXPECT_EQ(r->isValid, 1) << "result untouched";
        EXPECT_EQ(std::memcmp(&r->ellipse, &before, sizeof before), 0);
        EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{6});
    }
}

TEST(EllipsePointCount, TooFewPointsLeaveTheRecordUntouched)
{
    const std::vector<zmath_vect> ten{{0, 1}, {1, 0}, {0, -1}, {-1, 0}, {0.6, 0.8}, {0.8, -0.6},
                                      {-0.6, 0.8}, {-0.8, -0.6}, {1, 0}, {0, 1}};
    struct Row {
        const char* what;
        size_t count;
        int32_t numIgnore;
    } rows[] = {
        {"no points", 0, 0},
        {"four points", 4, 0},
        {"six points, two left out", 6, 2},
        {"ten points, six left out", 10, 6},
        // n < numIgnore + 5 would overflow here and let the search run.
        {"ten points, INT32_MAX left out", 10, INT32_MAX},
        {"ten points, INT32_MAX - 4 left out", 10, INT32_MAX - 4},
    };
    for (const Row& row : rows) {
        EllipseResult r;
        fillFromEarlierFit(r);
        const zmath_shapeEllipse before = r->ellipse;
        const double rms = r->rmsError;
        const std::vector<zmath_vect> points(ten.begin(), ten.begin() + static_cast<long>(row.count));
        EXPECT_EQ(fit(points, r, params(row.numIgnore)), zmath_errDegenerate) << row.what;
        EXPECT_EQ(r->isValid, 1) << row.what << ": untouched";
        EXPECT_EQ(r->rmsError, rms) << row.what;
        EXPECT_EQ(std::memcmp(&r->ellipse, &before, sizeof before), 0) << row.what;
        EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{6}) << row.what;
    }
}

TEST(EllipsePointCount, NegativeCountActsAsNoPoints)
{
    const zmath_vect p[6] = {{0, 1}, {1, 0}, {0, -1}, {-1, 0}, {0.6, 0.8}, {3, 3}};
    EllipseResult r;
    zmath_ellipseFitParams ps = params();
    EXPECT_EQ(zmath_ellipseFit(p, -5, &ps, r.get()), zmath_errDegenerate);
    EXPECT_EQ(zmath_ellipseFit(p, INT32_MIN, &ps, r.get()), zmath_errDegenerate);
    ps.numIgnore = -1;
    EXPECT_EQ(zmath_ellipseFit(p, -5, &ps, r.get()), zmath_errFitNumIgnoreNegative) << "validation comes first";
    EXPECT_EQ(zmath_ellipseFit(nullptr, 0, &ps, r.get()), zmath_errFitNumIgnoreNegative) << "NULL is fine with count 0";
}

TEST(EllipsePointCountDeathTest, NullArrayWithPointsIsABrokenPrecondition)
{
    EllipseResult r;
    zmath_ellipseFitParams ps = params();
    EXPECT_DEATH(zmath_ellipseFit(nullptr, 6, &ps, r.get()), "broken precondition");
}

TEST(EllipseFailures, AFailureAfterTheCountCheckLeavesTheRecordReset)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = HUGE_VAL;
    const std::vector<zmath_vect> ring{{5, 0}, {0, 3}, {-5, 0}, {0, -3}, {3, 2.4}, {-3, -2.4}, {4, -1.8}};
    struct Row {
        const char* what;
        std::vector<zmath_vect> points;
        int32_t numIgnore;
    } rows[] = {
        {"collinear", {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}, 0},
        {"collinear, every subset skipped", {{0, 0}, {1, 2}, {2, 4}, {3, 6}, {4, 8}, {5, 10}, {6, 12}}, 1},
        {"all points equal", {{2, 2}, {2, 2}, {2, 2}, {2, 2}, {2, 2}}, 0},
        {"NaN coordinate", {{5, 0}, {0, 3}, {-5, 0}, {0, -3}, {3, nan}, {-3, -2.4}}, 0},
        {"infinite coordinate", {{5, 0}, {0, 3}, {inf, 0}, {0, -3}, {3, 2.4}, {-3, -2.4}}, 0},
        {"-inf with points to spare", {{5, 0}, {0, 3}, {-5, 0}, {0, -3}, {3, 2.4}, {-3, -2.4}, {-inf, 1}}, 1},
        {"coordinates whose powers overflow", {{1e90, 0}, {0, 1e90}, {-1e90, 0}, {0, -1e90}, {7e89, 7e89}}, 0},
    };
    for (const Row& row : rows) {
        EllipseResult r;
        fillFromEarlierFit(r);
        EXPECT_EQ(fit(row.points, r, params(row.numIgnore)), zmath_errDegenerate) << row.what;
        EXPECT_EQ(r->isValid, 0) << row.what << ": not the earlier fit's flag";
        EXPECT_TRUE(isResetEllipse(r->ellipse)) << row.what;
        if (row.numIgnore == 0) {
            EXPECT_EQ(r->ignoredIndices.size, 0) << row.what;
        }
    }
}

TEST(EllipseFailures, ConicsThatAreNoEllipseAreNeverReturned)
{
    // Points on a parabola and on a hyperbola: either no ellipse, or one the
    // shape services accept (then it passes through the same points loosely).
    const std::vector<std::vector<zmath_vect>> sets{
        {{-2, 4}, {-1, 1}, {0, 0}, {1, 1}, {2, 4}, {3, 9}},
        {{1, 1}, {2, 0.5}, {4, 0.25}, {-1, -1}, {-2, -0.5}, {-4, -0.25}},
        {{1, 0}, {2, std::sqrt(3.0)}, {3, std::sqrt(8.0)}, {-1, 0}, {-2, -std::sqrt(3.0)}},
    };
    for (size_t i = 0; i < sets.size(); ++i) {
        EllipseResult r;
        const zfit_status s = fit(sets[i], r);
        EXPECT_TRUE(s == 0 || s == zmath_errDegenerate) << "set " << i << ": " << zt::statusName(s);
        if (s == 0) {
            EXPECT_GT(r->ellipse.radius1, 0.0);
            EXPECT_GT(r->ellipse.radius2, 0.0);
        }
    }
}

// ---- the algebraic fit ---------------------------------------------------

TEST(EllipseAlgebraic, FivePointsOnARandomEllipseAreFittedExactly)
{
    zt::Rng rng(4041);
    for (int trial = 0; trial < 300; ++trial) {
        const Truth t = randomTruth(rng);
        SCOPED_TRACE(::testing::Message() << "seed 4041 trial " << trial);
        std::vector<zmath_vect> points;
        for (double u : spreadParameters(rng, 5)) points.push_back(t.at(u));
        EllipseResult r;
        ASSERT_EQ(fit(points, r), 0);
        expectSameEllipse(r->ellipse, t.shape(), 1e-7);
        EXPECT_LT(r->rmsError, 1e-8 * std::max(t.r1, t.r2));
        EXPECT_EQ(r->isValid, 1);
        EXPECT_EQ(r->ignoredIndices.size, 0);
        EXPECT_GE(r->ellipse.radius1, r->ellipse.radius2) << "the major axis comes first";
    }
}

TEST(EllipseAlgebraic, PointsOnACircleGiveEqualRadii)
{
    zt::Rng rng(77);
    for (int trial = 0; trial < 50; ++trial) {
        SCOPED_TRACE(::testing::Message() << "seed 77 trial " << trial);
        const double radius = rng.uniform(0.5, 100);
        const Truth t{{rng.uniform(-1e3, 1e3), rng.uniform(-1e3, 1e3)}, radius, radius, 0};
        std::vector<zmath_vect> points;
        for (double u : spreadParameters(rng, rng.integer(5, 40))) points.push_back(t.at(u));
        EllipseResult r;
        ASSERT_EQ(fit(points, r), 0);
        EXPECT_NEAR(r->ellipse.radius1, radius, 1e-8 * radius);
        EXPECT_NEAR(r->ellipse.radius2, radius, 1e-8 * radius);
        EXPECT_NEAR(r->ellipse.center.x, t.center.x, 1e-8 * radius);
        EXPECT_NEAR(r->ellipse.center.y, t.center.y, 1e-8 * radius);
    }
}

TEST(EllipseAlgebraic, MovingThePointsMovesOnlyTheCentre)
{
    zt::Rng rng(9);
    for (int trial = 0; trial < 100; ++trial) {
        SCOPED_TRACE(::testing::Message() << "seed 9 trial " << trial);
        const Truth t = randomTruth(rng);
        std::vector<zmath_vect> points;
        for (double u : spreadParameters(rng, 30)) {
            const zmath_vect p = t.at(u, rng.normal(0.02));
            points.push_back(p);
        }
        const zmath_vect shift{rng.uniform(-1e3, 1e3), rng.uniform(-1e3, 1e3)};
        std::vector<zmath_vect> moved;
        for (const zmath_vect& p : points) moved.push_back({p.x + shift.x, p.y + shift.y});
        EllipseResult a, b;
        ASSERT_EQ(fit(points, a), 0);
        ASSERT_EQ(fit(moved, b), 0);
        zmath_shapeEllipse expected = a->ellipse;
        const zmath_vect c{expected.center.x + shift.x, expected.center.y + shift.y};
        zmath_shapeEllipse_setCenter(&expected, &c);
        expectSameEllipse(b->ellipse, expected, 1e-9);
        EXPECT_NEAR(b->rmsError, a->rmsError, 1e-9 * (1 + a->rmsError));
    }
}

TEST(EllipseAlgebraic, ScalingThePointsScalesTheEllipse)
{
    // The reduced scatter matrix scales with the fourth power of the spread:
    // small ellipses must not be taken for degenerate ones, nor large ones
    // lose their shape.
    zt::Rng rng(31);
    for (double scale : {1e-4, 1e-3, 1e3, 1e5}) {
        for (int trial = 0; trial < 20; ++trial) {
            SCOPED_TRACE(::testing::Message() << "seed 31 scale " << scale << " trial " << trial);
            const Truth unit{{rng.uniform(-3, 3), rng.uniform(-3, 3)}, rng.uniform(1, 3), rng.uniform(1, 3),
                             rng.uniform(0, zt::pi)};
            const Truth scaled{{unit.center.x * scale, unit.center.y * scale}, unit.r1 * scale, unit.r2 * scale, unit.angle};
            const std::vector<double> params5 = spreadParameters(rng, 5);
            std::vector<zmath_vect> small, large;
            for (double u : params5) {
                small.push_back(unit.at(u));
                large.push_back(scaled.at(u));
            }
            EllipseResult a, b;
            ASSERT_EQ(fit(small, a), 0);
            ASSERT_EQ(fit(large, b), 0) << "the same points scaled";
            expectSameEllipse(b->ellipse, scaled.shape(), 1e-7);
            EXPECT_NEAR(b->ellipse.radius1, a->ellipse.radius1 * scale, 1e-7 * scale * a->ellipse.radius1);
            EXPECT_NEAR(b->ellipse.radius2, a->ellipse.radius2 * scale, 1e-7 * scale * a->ellipse.radius1);
        }
    }
}

TEST(EllipseAlgebraic, NoisyEllipsesAreRecoveredWithinTheNoise)
{
    zt::Rng rng(2026);
    for (int trial = 0; trial < 100; ++trial) {
        SCOPED_TRACE(::testing::Message() << "seed 2026 trial " << trial);
        Truth t = randomTruth(rng);
        t.r1 = rng.uniform(10, 30);
        t.r2 = rng.uniform(10, 30);
        const double sigma = 0.02;
        std::vector<zmath_vect> points;
        for (int i = 0; i < 400; ++i) {
            const zmath_vect p = t.at(rng.uniform(0, 2 * zt::pi));
            points.push_back({p.x + rng.normal(sigma), p.y + rng.normal(sigma)});
        }
        EllipseResult r;
        ASSERT_EQ(fit(points, r), 0);
        // Centre within a few sigma, the radii and the shape likewise.
        expectSameEllipse(r->ellipse, t.shape(), 0.05 / std::max(t.r1, t.r2) * 4);
        // The radial residual of isotropic noise is about sigma (somewhat
        // above, since the ray is not the normal where the ellipse is flat).
        EXPECT_GT(r->rmsError, 0.5 * sigma);
        EXPECT_LT(r->rmsError, 2.0 * sigma);
    }
}

TEST(EllipseAlgebraic, TheErrorIsMeasuredAlongTheRayAndTheCentreCountsAsTheMinorRadius)
{
    // A configuration symmetric about both axes (and a point at the centre)
    // fits an axis-aligned ellipse about the origin; the error is then
    // worked out independently from its radii.
    const std::vector<zmath_vect> points{{6, 0},   {-6, 0},   {0, 2},    {0, -2},   {4, 1.6},
                                         {-4, 1.6}, {4, -1.6}, {-4, -1.6}, {0, 0}};
    EllipseResult r;
    ASSERT_EQ(fit(points, r), 0);
    EXPECT_NEAR(r->ellipse.center.x, 0.0, 1e-12);
    EXPECT_NEAR(r->ellipse.center.y, 0.0, 1e-12);
    const double a = r->ellipse.radius1, b = r->ellipse.radius2;
    ASSERT_GT(a, b);
    EXPECT_NEAR(std::sin(r->ellipse.angle), 0.0, 1e-12) << "the major axis lies along x";
    double sum = b * b;  // the point at the centre
    for (size_t i = 0; i + 1 < points.size(); ++i) {
        const zmath_vect p = points[i];
        const double scale = std::hypot(p.x / a, p.y / b);  // the ray meets the ellipse at p / scale
        const double along = std::hypot(p.x, p.y) * std::fabs(1.0 - 1.0 / scale);
        sum += along * along;
    }
    EXPECT_NEAR(r->rmsError, std::sqrt(sum / static_cast<double>(points.size())), 1e-12);
    EXPECT_GT(r->rmsError, 0.1);
}

TEST(EllipseAlgebraic, ValidityIsAStrictOrderedComparison)
{
    const std::vector<zmath_vect> points{{6, 0}, {-6, 0.1}, {0, 2}, {0.2, -2}, {4, 1.6}, {-4, -1.5}};
    EllipseResult r;
    ASSERT_EQ(fit(points, r), 0);
    const double rms = r->rmsError;
    ASSERT_GT(rms, 0.0);
    ASSERT_EQ(fit(points, r, params(0, rms)), 0);
    EXPECT_EQ(r->isValid, 0) << "equality is not below the limit";
    ASSERT_EQ(fit(points, r, params(0, std::nextafter(rms, HUGE_VAL))), 0);
    EXPECT_EQ(r->isValid, 1);
    ASSERT_EQ(fit(points, r, params(0, NAN)), 0);
    EXPECT_EQ(r->isValid, 0);
}

// ---- the subset search ---------------------------------------------------

TEST(EllipseSubsets, OneStrayPointIsFoundWhereverItIs)
{
    zt::Rng rng(555);
    for (int trial = 0; trial < 40; ++trial) {
        const Truth t = randomTruth(rng);
        const int n = rng.integer(7, 12);  // with six points every subset of five fits exactly
        const int stray = trial % n;
        SCOPED_TRACE(::testing::Message() << "seed 555 trial " << trial << " n " << n << " stray " << stray);
        std::vector<zmath_vect> points;
        const std::vector<double> u = spreadParameters(rng, n);
        for (int i = 0; i < n; ++i) points.push_back(t.at(u[static_cast<size_t>(i)], i == stray ? 0.3 : 0.0));
        EllipseResult r;
        ASSERT_EQ(fit(points, r, params(1)), 0);
        EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{stray});
        EXPECT_LT(r->rmsError, 1e-8 * std::max(t.r1, t.r2));
        expectSameEllipse(r->ellipse, t.shape(), 1e-7);
        EXPECT_EQ(r->isValid, 1);
    }
}

TEST(EllipseSubsets, StrayPointsComeBackInDecreasingOrder)
{
    zt::Rng rng(808);
    for (int trial = 0; trial < 10; ++trial) {
        const Truth t = randomTruth(rng);
        const int n = 10;
        std::vector<int32_t> strays;
        while (strays.size() < 3) {
            const int32_t s = rng.integer(0, n - 1);
            if (std::find(strays.begin(), strays.end(), s) == strays.end()) strays.push_back(s);
        }
        SCOPED_TRACE(::testing::Message() << "seed 808 trial " << trial);
        std::vector<zmath_vect> points;
        const std::vector<double> u = spreadParameters(rng, n);
        for (int i = 0; i < n; ++i) {
            const bool isStray = std::find(strays.begin(), strays.end(), i) != strays.end();
            points.push_back(t.at(u[static_cast<size_t>(i)], isStray ? rng.uniform(0.2, 0.5) : 0.0));
        }
        EllipseResult r;
        ASSERT_EQ(fit(points, r, params(3)), 0);
        std::sort(strays.begin(), strays.end(), std::greater<>());
        EXPECT_EQ(zt::indices(r->ignoredIndices), strays);
        expectSameEllipse(r->ellipse, t.shape(), 1e-6);
    }
}

TEST(EllipseSubsets, EverySubsetIsTriedOnceWithOnePollEach)
{
    const Truth t{{1, -2}, 7, 3, 1.0};
    struct Row {
        int n, k, subsets;
    } rows[] = {{6, 1, 6}, {7, 2, 21}, {9, 3, 84}, {8, 0, 0}, {10, 5, 252}};
    for (const Row& row : rows) {
        std::vector<zmath_vect> points;
        for (int i = 0; i < row.n; ++i) points.push_back(t.at(0.7 * i));
        zt::ScopedAttention attention;
        EllipseResult r;
        ASSERT_EQ(fit(points, r, params(row.k)), 0) << "n " << row.n << " k " << row.k;
        EXPECT_EQ(attention.polls(), row.subsets) << "n " << row.n << " k " << row.k;
        EXPECT_EQ(r->ignoredIndices.size, row.k);
    }
}

TEST(EllipseSubsets, CancellationStopsTheSearchWithTheEllipseAsReset)
{
    const Truth t{{1, -2}, 7, 3, 1.0};
    std::vector<zmath_vect> points;
    for (int i = 0; i < 7; ++i) points.push_back(t.at(0.9 * i));
    for (int failAt : {1, 2, 11, 21}) {
        EllipseResult r;
        fillFromEarlierFit(r);
        zt::ScopedAttention attention(failAt);
        EXPECT_EQ(fit(points, r, params(2)), zsys_errCancelled) << "poll " << failAt;
        EXPECT_EQ(attention.polls(), failAt) << "nothing runs after the failing poll";
        EXPECT_EQ(r->isValid, 0);
        EXPECT_TRUE(isResetEllipse(r->ellipse)) << "poll " << failAt;
        // The indices are only ever those of an improvement: two of them.
        EXPECT_TRUE(r->ignoredIndices.size == 0 || r->ignoredIndices.size == 2);
    }
}

TEST(EllipseSubsets, StorageFailuresAreReportedAndNothingLeaks)
{
    const Truth t{{1, -2}, 7, 3, 1.0};
    std::vector<zmath_vect> points;
    for (int i = 0; i < 8; ++i) points.push_back(t.at(0.8 * i, i == 3 ? 0.4 : 0.0));
    for (int32_t k : {0, 2}) {
        int failAt = 1;
        for (;; ++failAt) {
            zt::ScopedAllocator allocator(failAt);
            zfit_status status = 0;
            {
                EllipseResult r;
                status = fit(points, r, params(k));
            }
            EXPECT_EQ(allocator.outstanding(), 0u) << "k " << k << " allocation " << failAt;
            if (status == 0) break;
            EXPECT_EQ(status, zstd_errOutOfMemory) << "k " << k << " allocation " << failAt;
            ASSERT_LT(failAt, 1000);
        }
        EXPECT_GT(failAt, 1);
    }
}

TEST(EllipseSubsets, AllSubsetsLeaveOutTheSameCountAndTheBestWins)
{
    // Two stray points with k = 1: no subset is exact; the best one leaves
    // out the worse stray, and its error is that of the remaining points.
    const Truth t{{0, 0}, 8, 4, 0.4};
    std::vector<zmath_vect> points;
    for (int i = 0; i < 9; ++i) points.push_back(t.at(0.7 * i, i == 2 ? 0.5 : (i == 6 ? 0.05 : 0.0)));
    EllipseResult r;
    ASSERT_EQ(fit(points, r, params(1)), 0);
    EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{2});
    std::vector<zmath_vect> kept = points;
    kept.erase(kept.begin() + 2);
    EllipseResult direct;
    ASSERT_EQ(fit(kept, direct), 0);
    EXPECT_NEAR(r->rmsError, direct->rmsError, 1e-12);
    expectSameEllipse(r->ellipse, direct->ellipse, 1e-9);
}

// ---- the record ----------------------------------------------------------

TEST(EllipseResultRecord, ResetGivesTheUnitCircleAndCopiesAreIndependent)
{
    EllipseResult r;
    EXPECT_EQ(r->isValid, 0);
    EXPECT_EQ(r->rmsError, 0.0);
    EXPECT_TRUE(isResetEllipse(r->ellipse));
    EXPECT_EQ(r->ellipse.radius1, 1.0);
    EXPECT_EQ(r->ellipse.radius2, 1.0);
    fillFromEarlierFit(r);

    zmath_ellipseFitResult copy;
    ASSERT_EQ(zmath_ellipseFitResult_constructCopy(&copy, r.get()), 0);
    EXPECT_EQ(std::memcmp(&copy.ellipse, &r->ellipse, sizeof copy.ellipse), 0);
    EXPECT_EQ(copy.rmsError, r->rmsError);
    EXPECT_EQ(copy.isValid, 1);
    EXPECT_EQ(zt::indices(copy.ignoredIndices), std::vector<int32_t>{6});
    ASSERT_EQ(zmath_ellipseFitResult_reset(&copy), 0);
    EXPECT_TRUE(isResetEllipse(copy.ellipse));
    EXPECT_EQ(copy.ignoredIndices.size, 0);
    EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{6}) << "the source keeps its indices";
    ASSERT_EQ(zmath_ellipseFitResult_assign(&copy, r.get()), 0);
    EXPECT_EQ(zt::indices(copy.ignoredIndices), std::vector<int32_t>{6});
    ASSERT_EQ(zmath_ellipseFitResult_assign(&copy, &copy), 0);
    EXPECT_EQ(zt::indices(copy.ignoredIndices), std::vector<int32_t>{6});
    EXPECT_EQ(zmath_ellipseFitResult_destruct(&copy), 0);

    const zmath_ellipseFitResult* p = r.get();
    zsys_typeCheck_zmath_ellipseFitResult(p);
    zsys_typeCheckPtr_zmath_ellipseFitResult(&p);
    zfit_status (*destruct)(zmath_ellipseFitResult*) = zmath_ellipseFitResult_destruct;
    zsys_typeCheckFunc_zmath_ellipseFitResult(destruct);
    zsys_typeCheckFuncPtr_zmath_ellipseFitResult(&destruct);
    EXPECT_EQ(r->isValid, 1);
}

TEST(EllipseResultRecord, TheVectorEntryAgreesWithTheArrayEntry)
{
    const std::vector<zmath_vect> points{{6, 0}, {-6, 0.1}, {0, 2}, {0.2, -2}, {4, 1.6}, {-4, -1.5}, {9, 9}};
    zt::Points vector(points);
    EllipseResult a, b;
    const zmath_ellipseFitParams p = params(1);
    ASSERT_EQ(zmath_ellipseFitVector(vector.get(), &p, a.get()), 0);
    ASSERT_EQ(fit(points, b, p), 0);
    EXPECT_EQ(std::memcmp(&a->ellipse, &b->ellipse, sizeof a->ellipse), 0);
    EXPECT_EQ(a->rmsError, b->rmsError);
    EXPECT_EQ(zt::indices(a->ignoredIndices), zt::indices(b->ignoredIndices));
    EXPECT_EQ(zt::indices(a->ignoredIndices), std::vector<int32_t>{6});
}

}  // namespace
