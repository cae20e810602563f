// The geometric ellipse: unbiased and honestly uncertain on a quarter arc,
// a start from either axis, a circle (whose angle alone is undetermined),
// and every failure status. (Exact shapes and the
// least-squares ellipse are the certified data sets'; a point on or next to
// the major axis, inside the evolute, the robust ellipse's residual test.)
#include <cmath>

#include <zfit/metrology/metrology.h>

#include "scatter.hpp"

namespace {

zmet_geometricEllipseParams params(int32_t maxIterations = 100)
{
    zmet_geometricEllipseParams p;
    zmet_geometricEllipseParams_init(&p);
    p.maxIterations = maxIterations;
    return p;
}

zmet_geometricEllipseResult fit(const std::vector<zmath_vect>& points)
{
    zmet_geometricEllipseResult r{};
    const auto p = params();
    EXPECT_EQ(zmet_geometricEllipseFit(points.data(), static_cast<int32_t>(points.size()), &p, &r), zfit_ok);
    return r;
}

// The difference of two axis directions, folded into [-pi/2, pi/2).
double angleDifference(double a, double b) { return std::remainder(a - b, zt::pi); }

// A quarter of the 100 x 50 ellipse, 100 points, noise 0.1: the algebraic
// fit is about 4 short in the semi-major axis; the geometric fit is
// unbiased and its uncertainty honest.
TEST(GeometricEllipse, IsUnbiasedAndHonestOnAQuarterArc)
{
    zt::Rng rng(90);
    mt::Scatter major, minor, angle;
    for (int trial = 0; trial < 300; ++trial) {
        const double turn = rng.uniform(0, zt::pi);
        const auto points = mt::ellipseArc(rng, {5, -5}, 100, 50, turn, 0.0, zt::pi / 2, 100, 0.1);
        const auto r = fit(points);
        const zmet_uncertainty& u = r.uncertainty;
        ASSERT_EQ(u.parameterCount, 5) << "trial " << trial;
        EXPECT_GE(r.ellipse.angle, 0.0) << "angle range, trial " << trial;
        EXPECT_LT(r.ellipse.angle, zt::pi) << "angle range, trial " << trial;
        major.add(r.ellipse.radius1 - 100, u.standardErrors[2], u.halfWidth95[2]);
        minor.add(r.ellipse.radius2 - 50, u.standardErrors[3], u.halfWidth95[3]);
        angle.add(angleDifference(r.ellipse.angle, turn), u.standardErrors[4], u.halfWidth95[4]);
    }
    EXPECT_LE(std::fabs(major.median()), 0.5) << major.describe() << ", seed 90";
    mt::expectHonest(major, "radius1, seed 90");
    mt::expectHonest(minor, "radius2, seed 90");
    mt::expectHonest(angle, "angle, seed 90");
}

TEST(GeometricEllipse, AStartNearTheAnswerReachesTheSameEllipse)
{
    zt::Rng rng(5);
    const auto points = mt::ellipseArc(rng, {30, -12}, 80, 35, 0.7, 0.2, 4.0, 80, 0.2);
    const auto plain = fit(points);
    zmet_geometricEllipseParams p = params();
    p.useStart = 1;
    const zmath_shapeEllipse& e = plain.ellipse;
    // The axes swapped (the angle turned with them) and moved a little.
    p.start = {{e.center.x + 0.4, e.center.y - 0.3}, e.radius2 + 0.2, e.radius1 - 0.3, e.angle + 1.5707963267948966};
    zmet_geometricEllipseResult r{};
    ASSERT_EQ(zmet_geometricEllipseFit(points.data(), static_cast<int32_t>(points.size()), &p, &r), zfit_ok);
    EXPECT_NEAR(r.ellipse.center.x, e.center.x, 1e-8) << "centre x";
    EXPECT_NEAR(r.ellipse.center.y, e.center.y, 1e-8) << "centre y";
    EXPECT_NEAR(r.ellipse.radius1, e.radius1, 1e-8) << "semi-major axis first";
    EXPECT_NEAR(r.ellipse.radius2, e.radius2, 1e-8) << "semi-minor axis";
    EXPECT_NEAR(r.ellipse.angle, e.angle, 1e-9) << "angle";
    // The fit ended with the axes the other way round and ordered them: the
    // covariance follows, row and column.
    ASSERT_EQ(r.uncertainty.parameterCount, 5);
    for (int k = 0; k < 25; ++k)
        EXPECT_NEAR(r.uncertainty.covariance[k], plain.uncertainty.covariance[k],
                    1e-6 * std::fabs(plain.uncertainty.covariance[k]) + 1e-15)
            << "covariance entry " << k;
    EXPECT_NEAR(r.uncertainty.halfWidth95[3], plain.uncertainty.halfWidth95[3], 1e-9) << "interval of radius2";
}

// Sixteen points alternately 0.01 inside and outside a circle: the best
// ellipse is the circle, whose axis has no direction. The angle alone is
// left undetermined; the centre and radii keep their uncertainty.
TEST(GeometricEllipse, ACircleLeavesOnlyTheAngleUndetermined)
{
    std::vector<zmath_vect> points;
    for (int k = 0; k < 16; ++k) {
        const double t = 2 * zt::pi * k / 16, r = k % 2 ? 4.99 : 5.01;
        points.push_back({1 + r * std::cos(t), 2 + r * std::sin(t)});
    }
    const zmet_geometricEllipseResult r = fit(points);
    const zmet_uncertainty& u = r.uncertainty;
    ASSERT_EQ(u.parameterCount, 5) << "centre, radii and angle";
    for (int i = 0; i < 4; ++i) {
        EXPECT_GT(u.standardErrors[i], 0.0) << "parameter " << i;
        EXPECT_LT(u.standardErrors[i], 0.01) << "parameter " << i;
    }
    EXPECT_EQ(u.standardErrors[4], HUGE_VAL) << "the angle of a circle";
}

TEST(GeometricEllipse, StatusesAndWhatTheResultHolds)
{
    zt::Rng rng(8);
    const auto good = mt::ellipseArc(rng, {0, 0}, 20, 10, 0.3, 0.0, 5.0, 20, 0.05);
    const std::vector<zmath_vect> five(good.begin(), good.begin() + 5);
    std::vector<zmath_vect> line(8);
    for (size_t i = 0; i < line.size(); ++i) line[i] = {1.0 * i, 2.0 * i + 1};
    zmet_geometricEllipseParams negative = params();
    negative.maxRmsError = -0.5;
    zmet_geometricEllipseParams badStart = params(), flatStart = params(), nanStart = params();
    badStart.useStart = -1;
    flatStart.useStart = nanStart.useStart = 1;
    flatStart.start.radius2 = 0.0;
    nanStart.start.angle = NAN;
    struct Case {
        const char* name;
        std::vector<zmath_vect> points;
        zmet_geometricEllipseParams p;
        zfit_status expected;
    };
    const Case cases[] = {
        {"maxRmsError negative", good, negative, zmath_errFitMaxRmsErrorNegative},
        {"maxIterations 0", good, params(0), zmath_errFitMaxIterations},
        {"five points", five, params(), zmet_errTooFewPoints},
        {"collinear points", line, params(), zmath_errDegenerate},
        {"useStart -1", good, badStart, zmath_errFitBadMode},
        {"start radius 0", good, flatStart, zmet_errOutOfRange},
        {"start angle NaN", good, nanStart, zmet_errOutOfRange},
    };
    for (const Case& c : cases) {
        auto r = mt::marked<zmet_geometricEllipseResult>();
        EXPECT_EQ(zmet_geometricEllipseFit(c.points.data(), static_cast<int32_t>(c.points.size()), &c.p, &r),
                  c.expected)
            << c.name;
        EXPECT_TRUE(mt::unchanged(r)) << c.name << ": the result was written";
    }
    const std::vector<double> weights = {1, 1, 1, -1, 1, 1};
    const auto p = params();
    zmet_geometricEllipseResult r{};
    EXPECT_EQ(zmet_geometricEllipseFitWeighted(good.data(), 6, weights.data(), &p, &r), zmath_errFitWeightNegative)
        << "a negative weight";

    const auto limited = params(1);
    EXPECT_EQ(zmet_geometricEllipseFit(good.data(), static_cast<int32_t>(good.size()), &limited, &r),
              zmet_errNotConverged)
        << "one step";
    EXPECT_EQ(r.uncertainty.parameterCount, 0) << "an uncertainty without a solution";
}

}  // namespace
