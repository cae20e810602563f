// The geometric circle: exact shapes recovered, weights acting as relative
// inverse variances, unbiased and honestly uncertain on short arcs, and every
// failure status.
#include <zfit/metrology/metrology.h>

#include "scatter.hpp"

namespace {

zmet_geometricCircleParams params(int32_t mode = 0, double fixedRadius = 1.0)
{
    zmet_geometricCircleParams p;
    zmet_geometricCircleParams_init(&p);
    p.mode = mode;
    p.fixedRadius = fixedRadius;
    return p;
}

zmet_geometricCircleResult fit(const std::vector<zmath_vect>& points, const zmet_geometricCircleParams& p,
                               zfit_status expected = zfit_ok)
{
    zmet_geometricCircleResult r{};
    EXPECT_EQ(zmet_geometricCircleFit(points.data(), static_cast<int32_t>(points.size()), &p, &r), expected);
    return r;
}

zmet_geometricCircleResult fitWeighted(const std::vector<zmath_vect>& points, const std::vector<double>& weights,
                                       const zmet_geometricCircleParams& p)
{
    zmet_geometricCircleResult r{};
    EXPECT_EQ(
        zmet_geometricCircleFitWeighted(points.data(), static_cast<int32_t>(points.size()), weights.data(), &p, &r),
        zfit_ok);
    return r;
}

TEST(GeometricCircle, WeightsActAsRelativeInverseVariances)
{
    zt::Rng rng(5);
    const auto points = mt::circleArc(rng, {-2, 7}, 15, 0.3, 2.0, 25, 0.3);
    std::vector<double> weights(points.size());
    for (double& w : weights) w = rng.uniform(0.5, 3.0);
    const auto base = fitWeighted(points, weights, params());

    std::vector<double> scaled = weights;
    for (double& w : scaled) w *= 1e3;
    const auto s = fitWeighted(points, scaled, params());
    EXPECT_NEAR(s.radius, base.radius, 1e-10 * base.radius) << "scaled weights move the radius";
    EXPECT_NEAR(s.uncertainty.covariance[8], base.uncertainty.covariance[8], 1e-8 * base.uncertainty.covariance[8])
        << "scaled weights change the radius variance";
}

// The partial arcs of machine vision: radius 100, 50 points, noise 0.5.
// The radius is unbiased (the algebraic fit is 17 short on 30 degrees), its
// reported standard error matches the observed scatter and its 95% interval
// holds the truth 95% of the time. (That the fit is the least-squares
// circle, the certified data sets hold to the last digits.)
TEST(GeometricCircle, IsUnbiasedAndHonestOnShortArcs)
{
    for (const double degrees : {30.0, 60.0, 120.0, 360.0}) {
        SCOPED_TRACE("arc " + std::to_string(degrees) + " degrees, seed 2024");
        zt::Rng rng(2024);
        mt::Scatter radius, centreX;
        for (int trial = 0; trial < 400; ++trial) {
            const zmath_vect centre = {rng.uniform(-50, 50), rng.uniform(-50, 50)};
            const auto points =
                mt::circleArc(rng, centre, 100.0, rng.uniform(0, 2 * zt::pi), degrees * zt::pi / 180, 50, 0.5);
            const auto r = fit(points, params());
            const zmet_uncertainty& u = r.uncertainty;
            radius.add(r.radius - 100.0, u.standardErrors[2], u.halfWidth95[2]);
            centreX.add(r.centre.x - centre.x, u.standardErrors[0], u.halfWidth95[0]);
        }
        EXPECT_LE(std::fabs(radius.median()), 1.0) << radius.describe();
        mt::expectHonest(radius, "radius");
        mt::expectHonest(centreX, "centre x");
    }
}

TEST(GeometricCircle, StatusesAndWhatTheResultHolds)
{
    zt::Rng rng(9);
    const auto good = mt::circleArc(rng, {0, 0}, 10, 0, 3, 12, 0.1);
    const std::vector<zmath_vect> line = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}};
    const std::vector<zmath_vect> same(6, zmath_vect{2, 3});
    const std::vector<zmath_vect> three(good.begin(), good.begin() + 3), four(good.begin(), good.begin() + 4),
        five(good.begin(), good.begin() + 5);
    auto with = [](auto change) {
        zmet_geometricCircleParams p = params();
        change(p);
        return p;
    };
    struct Case {
        const char* name;
        std::vector<zmath_vect> points;
        zmet_geometricCircleParams p;
        zfit_status expected;
        std::vector<double> weights = {};  // none: the unweighted entry
    };
    const Case cases[] = {
        {"maxRmsError negative", good, with([](auto& p) { p.maxRmsError = -1; }), zmath_errFitMaxRmsErrorNegative},
        {"mode 2", good, with([](auto& p) { p.mode = 2; }), zmath_errFitBadMode},
        {"fixedRadius negative in mode 0", good, with([](auto& p) { p.fixedRadius = -1; }),
         zmath_errFitFixedRadiusNegative},
        {"maxIterations 0", good, with([](auto& p) { p.maxIterations = 0; }), zmath_errFitMaxIterations},
        {"fixedRadius infinite in mode 1", good, params(1, HUGE_VAL), zmath_errDegenerate},
        {"three points, free radius", three, params(), zmet_errTooFewPoints},
        {"collinear points", line, params(), zmath_errDegenerate},
        {"coincident points", same, params(1, 5.0), zmath_errDegenerate},
        {"useStart 2", good, with([](auto& p) { p.useStart = 2; }), zmath_errFitBadMode},
        {"start radius 0", good, with([](auto& p) { p.useStart = 1, p.startRadius = 0.0; }), zmet_errOutOfRange},
        // Every plain entry shares the one check of numIgnore.
        {"numIgnore 1 in a plain entry", good, with([](auto& p) { p.numIgnore = 1; }), zmet_errOutOfRange},
        {"a negative weight", five, params(), zmath_errFitWeightNegative, {1, 1, -0.5, 1, 1}},
        {"a NaN weight", five, params(), zmath_errDegenerate, {1, 1, NAN, 1, 1}},
        {"a point of weight 0 counted towards the four needed", four, params(), zmet_errTooFewPoints, {1, 0, 1, 1}},
    };
    for (const Case& c : cases) {
        auto r = mt::marked<zmet_geometricCircleResult>();
        const auto n = static_cast<int32_t>(c.points.size());
        EXPECT_EQ(c.weights.empty() ? zmet_geometricCircleFit(c.points.data(), n, &c.p, &r)
                                    : zmet_geometricCircleFitWeighted(c.points.data(), n, c.weights.data(), &c.p, &r),
                  c.expected)
            << c.name << ": " << zfit::statusName(c.expected);
        EXPECT_TRUE(mt::unchanged(r)) << c.name << ": the result was written";
    }
    EXPECT_EQ(fit(three, params(1, 10.0)).uncertainty.parameterCount, 2) << "three points suffice for a fixed radius";
}

TEST(GeometricCircle, AStartNearTheAnswerReachesTheSameCircleSooner)
{
    zt::Rng rng(21);
    const auto points = mt::circleArc(rng, {40, -7}, 100, 0.4, zt::pi / 3, 60, 0.5);
    for (int32_t mode : {0, 1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const auto p = params(mode, 100.0);
        const auto hyper = fit(points, p);
        auto near = p;
        near.useStart = 1;
        near.startCentre = {hyper.centre.x + 0.3, hyper.centre.y - 0.2};
        near.startRadius = mode == 0 ? hyper.radius + 0.25 : -1.0;  // read in mode 0 only
        const auto started = fit(points, near);
        EXPECT_NEAR(started.centre.x, hyper.centre.x, 1e-9) << "centre x";
        EXPECT_NEAR(started.centre.y, hyper.centre.y, 1e-9) << "centre y";
        EXPECT_NEAR(started.radius, hyper.radius, 1e-9) << "radius";
        near.startCentre = hyper.centre;
        near.startRadius = mode == 0 ? hyper.radius : -1.0;
        EXPECT_LE(fit(points, near).iterations, 2) << "from the answer itself";
    }
}

TEST(GeometricCircle, StopsAtTheIterationLimitWithABetterCircleThanItsStart)
{
    zt::Rng rng(12);
    const auto points = mt::circleArc(rng, {0, 0}, 100, 0.4, zt::pi / 6, 50, 0.5);
    const auto converged = fit(points, params());
    zmet_geometricCircleParams p = params();
    p.maxIterations = 1;
    zmet_geometricCircleResult r{};
    r.isValid = 1;
    EXPECT_EQ(zmet_geometricCircleFit(points.data(), 50, &p, &r), zmet_errNotConverged);
    EXPECT_EQ(r.iterations, 1) << "iterations";
    EXPECT_EQ(r.isValid, 0) << "isValid after no convergence";
    EXPECT_EQ(r.uncertainty.parameterCount, 0) << "an uncertainty without a solution";
    EXPECT_GE(r.rmsError, converged.rmsError) << "better than the solution";
    EXPECT_LE(std::fabs(r.radius - converged.radius), 40.0) << "the iterate is a circle near the solution";
}

}  // namespace
