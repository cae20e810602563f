// The Student t quantile against exact values; the residual scale of every
// fit that reports an uncertainty (n - p degrees of freedom); the covariance
// of the 4- and 6-dof point-to-point transforms against the inverse of their
// normal matrix; and every failure status. (The line's covariance is held
// to the robust line's, formed apart, by the robust tests; the standard
// errors and intervals every fit shares by the circle's and ellipse's
// Monte Carlo tests.)
#include <zfit/metrology/metrology.h>

#include "scatter.hpp"

namespace {

TEST(StudentQuantile, MatchesExactValues)
{
    struct Case {
        double probability, dof, expected;
    };
    // 1 and 2 dof in closed form, the rest from the incomplete beta function
    // evaluated to 30 digits.
    const Case cases[] = {
        {0.975, 1, 12.706204736174707},  {0.975, 2, 4.3026527297494637},    {0.975, 10, 2.2281388519862742},
        {0.975, 30, 2.0422724563012379}, {0.995, 5, 4.0321429835552272},    {0.9, 3.5, 1.5765766051364053},
        {0.975, 47, 2.0117405137297655}, {0.975, 1000, 1.9623390808264081}, {0.5, 7, 0.0},
    };
    for (const Case& c : cases) {
        double t = 0.0;
        ASSERT_EQ(zmet_studentTQuantile(c.probability, c.dof, &t), zfit_ok) << c.probability << ", " << c.dof;
        EXPECT_NEAR(t, c.expected, 1e-11 * c.expected) << c.probability << " with " << c.dof << " dof";
    }
    double t = 42.0;
    for (const double probability : {0.0, 1.0, -0.5, std::nan("")})
        EXPECT_EQ(zmet_studentTQuantile(probability, 5, &t), zmet_errOutOfRange) << "probability " << probability;
    for (const double dof : {0.0, -3.0, HUGE_VAL, std::nan("")})
        EXPECT_EQ(zmet_studentTQuantile(0.975, dof, &t), zmet_errOutOfRange) << "dof " << dof;
    EXPECT_EQ(t, 42.0) << "written on failure";
}

// The 95% quantile is looked up for whole degrees of freedom; the lower
// quantile at 1 - 0.975 computes the same tail.
TEST(StudentQuantile, LookUpIsTheComputation)
{
    for (int dof = 1; dof <= 300; ++dof) {
        double upper = 0.0, lower = 0.0;
        ASSERT_EQ(zmet_studentTQuantile(0.975, dof, &upper), zfit_ok) << "dof " << dof;
        ASSERT_EQ(zmet_studentTQuantile(1.0 - 0.975, dof, &lower), zfit_ok) << "dof " << dof;
        EXPECT_EQ(upper, -lower) << "dof " << dof;
    }
}

// A point of the line -x sin(0.7) + y cos(0.7) = 12.
const zmath_vect kOnTheLine{-12 * std::sin(0.7), 12 * std::cos(0.7)};

struct Pairs {
    std::vector<zmath_vect> target, source;
};

// Sources spread over a plate.
std::vector<zmath_vect> plate(zt::Rng& rng, int n)
{
    std::vector<zmath_vect> sources(static_cast<size_t>(n));
    for (zmath_vect& s : sources) s = {rng.uniform(100, 400), rng.uniform(-50, 250)};
    return sources;
}

// The sources mapped by `xf`, with noise sigma in each coordinate of the
// targets.
Pairs noisyPairs(zt::Rng& rng, const std::vector<zmath_vect>& sources, const zmath_xformLinear& xf, double sigma)
{
    Pairs p;
    p.source = sources;
    for (const zmath_vect& s : sources) {
        zmath_vect t;
        zmath_xformLinear_mapPoint(&xf, &s, &t);
        p.target.push_back({t.x + rng.normal(sigma), t.y + rng.normal(sigma)});
    }
    return p;
}

// The transform's covariance C is sigma^2 (J^T W J)^-1 with J the
// derivatives of the mapped sources by the parameters in their documented
// order, formed here entry by entry in plain coordinates: every entry of
// C J^T W J is that of sigma^2 I, to 1e-9 of the terms it sums.
TEST(PointToPointUncertainty, IsTheInverseOfTheNormalMatrix)
{
    zt::Rng rng(31);
    const zmath_xformLinear truth = {{12, -7}, {0.8, -0.5, 0.6, 0.9}};
    const Pairs pairs = noisyPairs(rng, plate(rng, 9), truth, 0.05);
    std::vector<double> w(9);
    for (double& x : w) x = rng.uniform(0.5, 2);
    for (const int32_t dof : {4, 6}) {
        SCOPED_TRACE("dof " + std::to_string(dof));
        const zmath_pointToPointFitParams params{HUGE_VAL, dof};
        zfit::PointToPointResult fit;
        ASSERT_EQ(
            zmath_pointToPointFitWeighted(&params, pairs.target.data(), pairs.source.data(), w.data(), 9, fit.get()),
            zfit_ok);
        zmet_uncertainty u{};
        ASSERT_EQ(zmet_pointToPointFitUncertaintyWeighted(&params, pairs.target.data(), pairs.source.data(), w.data(),
                                                          9, &fit->xform, &u),
                  zfit_ok);
        const auto p = static_cast<size_t>(dof);
        std::vector<std::vector<double>> normal(p, std::vector<double>(p, 0.0));
        for (size_t i = 0; i < 9; ++i) {
            const double su = pairs.source[i].x, sv = pairs.source[i].y;
            // d(x, y)/d(tx, ty, m00, m10) with m01 = -m10, m11 = m00; or
            // d(x, y)/d(tx, ty, m00, m01, m10, m11).
            const std::vector<double> dx =
                dof == 4 ? std::vector<double>{1, 0, su, -sv} : std::vector<double>{1, 0, su, sv, 0, 0};
            const std::vector<double> dy =
                dof == 4 ? std::vector<double>{0, 1, sv, su} : std::vector<double>{0, 1, 0, 0, su, sv};
            for (size_t a = 0; a < p; ++a)
                for (size_t b = 0; b < p; ++b) normal[a][b] += w[i] * (dx[a] * dx[b] + dy[a] * dy[b]);
        }
        for (size_t a = 0; a < p; ++a)
            for (size_t b = 0; b < p; ++b) {
                double product = 0.0, size = 0.0;
                for (size_t k = 0; k < p; ++k) {
                    product += u.covariance[a * p + k] * normal[k][b];
                    size += std::fabs(u.covariance[a * p + k] * normal[k][b]);
                }
                EXPECT_NEAR(product, a == b ? u.sigma * u.sigma : 0.0, 1e-9 * size)
                    << "C J^T W J at " << a << ", " << b;
            }
    }
}

// What every uncertainty promises of its residual scale: n - p degrees of
// freedom, sigma^2 (n - p) equal to the weighted sum of squared residuals
// (rmsError^2 times the weight sum, for the fits that report one), and t95
// the quantile at n - p; n counts the observations of positive weight (two
// per pair for a transform).
void expectResidualScale(const zmet_uncertainty& u, int32_t p, int32_t n, double rss, const std::string& what)
{
    SCOPED_TRACE(what);
    EXPECT_EQ(u.parameterCount, p) << "parameters";
    EXPECT_EQ(u.degreesOfFreedom, n - p) << "degrees of freedom";
    EXPECT_NEAR(u.sigma * u.sigma * (n - p), rss, 1e-9 * rss) << "sigma^2 (n - p) = sum w r^2";
    double t = 0.0;
    ASSERT_EQ(zmet_studentTQuantile(0.975, n - p, &t), zfit_ok);
    EXPECT_EQ(u.t95, t) << "t95 at n - p";
}

TEST(Uncertainty, EveryPathEstimatesSigmaWithNMinusPDegreesOfFreedom)
{
    zt::Rng rng(2615);
    const std::vector<zmath_vect> linePoints = mt::noisyLine(rng, kOnTheLine, 0.7, 15, 0.2);
    zmath_lineFitParams lineParams;
    zmath_lineFitParams_init(&lineParams);
    zfit::LineResult line;
    ASSERT_EQ(zmath_lineFit(linePoints.data(), 15, &lineParams, line.get()), zfit_ok);
    zmet_uncertainty lineFit{};
    ASSERT_EQ(zmet_lineFitUncertainty(linePoints.data(), 15, &line->line, &lineFit), zfit_ok);
    double rss = 0.0;
    for (const zmath_vect& p : linePoints) rss += zt::offset(line->line, p) * zt::offset(line->line, p);
    expectResidualScale(lineFit, 2, 15, rss, "line");

    // Unweighted, then weighted with every fourth weight 0: 14, then 10 of
    // the 14 points count.
    const std::vector<zmath_vect> arc = mt::ellipseArc(rng, {5, -3}, 20, 12, 0.4, 0.3, 4.0, 14, 0.05);
    const zmath_xformLinear xf = {{12, -7}, {0.8, -0.6, 0.6, 0.8}};
    const Pairs pairs = noisyPairs(rng, plate(rng, 14), xf, 0.05);
    const zmath_vect *target = pairs.target.data(), *source = pairs.source.data();
    std::vector<double> weights(14);
    for (size_t i = 0; i < weights.size(); ++i) weights[i] = i % 4 == 0 ? 0.0 : rng.uniform(0.5, 2);
    for (const bool weighted : {false, true}) {
        const std::vector<double> w = weighted ? weights : std::vector<double>(14, 1.0);
        const int32_t n = weighted ? 10 : 14;
        double weightSum = 0.0;
        for (double x : w) weightSum += x;
        const std::string how = weighted ? ", weighted" : "";
        for (int32_t mode : {0, 1}) {
            zmet_geometricCircleParams params;
            zmet_geometricCircleParams_init(&params);
            params.mode = mode;
            params.fixedRadius = 15.0;
            zmet_geometricCircleResult c{};
            ASSERT_EQ(weighted ? zmet_geometricCircleFitWeighted(arc.data(), 14, w.data(), &params, &c)
                               : zmet_geometricCircleFit(arc.data(), 14, &params, &c),
                      zfit_ok);
            expectResidualScale(c.uncertainty, 3 - mode, n, c.rmsError * c.rmsError * weightSum,
                                "circle, mode " + std::to_string(mode) + how);
        }
        zmet_geometricEllipseParams params;
        zmet_geometricEllipseParams_init(&params);
        zmet_geometricEllipseResult e{};
        ASSERT_EQ(weighted ? zmet_geometricEllipseFitWeighted(arc.data(), 14, w.data(), &params, &e)
                           : zmet_geometricEllipseFit(arc.data(), 14, &params, &e),
                  zfit_ok);
        expectResidualScale(e.uncertainty, 5, n, e.rmsError * e.rmsError * weightSum, "ellipse" + how);
        for (int32_t dof : {4, 6}) {
            const zmath_pointToPointFitParams p2p{HUGE_VAL, dof};
            zfit::PointToPointResult fit;
            ASSERT_EQ(zmath_pointToPointFitWeighted(&p2p, target, source, w.data(), 14, fit.get()), zfit_ok);
            zmet_uncertainty u{};
            ASSERT_EQ(weighted
                          ? zmet_pointToPointFitUncertaintyWeighted(&p2p, target, source, w.data(), 14, &fit->xform, &u)
                          : zmet_pointToPointFitUncertainty(&p2p, target, source, 14, &fit->xform, &u),
                      zfit_ok);
            expectResidualScale(u, dof, 2 * n, fit->rmsError * fit->rmsError * weightSum,
                                "point to point, dof " + std::to_string(dof) + how);
        }
    }
}

TEST(PointToPointUncertainty, Statuses)
{
    zt::Rng rng(2);
    const zmath_xformLinear identity = {{0, 0}, {1, 0, 0, 1}};
    const Pairs p = noisyPairs(rng, plate(rng, 5), identity, 0.1);
    std::vector<zmath_vect> onALine(5);
    for (size_t i = 0; i < onALine.size(); ++i) onALine[i] = {1.0 * i, 3.0 - 2.0 * i};
    const struct {
        const char* what;
        int32_t dof, count;
        const std::vector<zmath_vect>* sources;
        zfit_status expected;
        std::vector<double> weights = {};  // none: the unweighted entry
    } cases[] = {
        {"dof 5", 5, 5, &p.source, zmath_errFitBadMode},
        {"dof 7", 7, 5, &p.source, zmath_errFitBadMode},
        {"three pairs for 6 dof", 6, 3, &p.source, zmet_errTooFewPoints},
        {"sources on a line for 6 dof", 6, 5, &onALine, zmath_errFitSolveFailed},
        {"a negative weight", 6, 5, &p.source, zmath_errFitWeightNegative, {1, 1, -1, 1, 1}},
        {"sources on a line determine a similarity", 4, 5, &onALine, zfit_ok},
        {"pairs of weight 0 counted", 4, 5, &p.source, zmet_errTooFewPoints, {1, 1, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const zmath_pointToPointFitParams params{HUGE_VAL, c.dof};
        const zmath_vect *target = p.target.data(), *source = c.sources->data();
        zmet_uncertainty u{};
        EXPECT_EQ(c.weights.empty() ? zmet_pointToPointFitUncertainty(&params, target, source, c.count, &identity, &u)
                                    : zmet_pointToPointFitUncertaintyWeighted(&params, target, source, c.weights.data(),
                                                                              c.count, &identity, &u),
                  c.expected)
            << c.what;
    }
    zt::ScopedAssertCounter asserts;
    const zmath_pointToPointFitParams params{HUGE_VAL, 4};
    zmet_uncertainty u{};
    const zmath_vect *target = p.target.data(), *source = p.source.data();
    EXPECT_EQ(zmet_pointToPointFitUncertainty(nullptr, target, source, 5, &identity, &u), zstd_errBrokenPrecondition)
        << "no parameters";
    EXPECT_EQ(zmet_pointToPointFitUncertainty(&params, target, source, 5, nullptr, &u), zstd_errBrokenPrecondition)
        << "no transform";
    EXPECT_EQ(zmet_pointToPointFitUncertainty(&params, target, source, 5, &identity, nullptr),
              zstd_errBrokenPrecondition)
        << "no record";
    EXPECT_EQ(asserts.count(), 3) << "each missing argument reported";
}

// The line's refusals: a sum over the points that is not finite (a
// coordinate that is not, or points so far out that the squares overflow)
// leaves no noise to estimate, whichever point of a pair carries it.
TEST(LineUncertainty, Statuses)
{
    zt::Rng rng(34);
    const std::vector<zmath_vect> line = mt::noisyLine(rng, kOnTheLine, 0.7, 7, 0.2);
    zmath_shapeFLine fitted;
    const double angle = 0.7;
    ASSERT_EQ(zmath_shapeFLine_initAngleDistance(&fitted, &angle, 12.0), zfit_ok);
    const auto with = [&](size_t row, zmath_vect p) {
        std::vector<zmath_vect> points = line;
        points[row] = p;
        return points;
    };
    const double inf = HUGE_VAL, nan = std::nan("");
    std::vector<zmath_vect> far(7);
    for (size_t i = 0; i < far.size(); ++i) far[i] = {1e200 * static_cast<double>(i), 1e200 * static_cast<double>(i)};
    const struct {
        const char* what;
        std::vector<zmath_vect> points;
        int32_t count;
        zfit_status expected;
    } cases[] = {
        {"two points", line, 2, zmet_errTooFewPoints},
        {"a NaN x in an even row", with(2, {nan, 1}), 7, zmath_errDegenerate},
        {"an infinite y in an odd row", with(3, {1, -inf}), 7, zmath_errDegenerate},
        {"an infinite x in the last row", with(6, {inf, 1}), 7, zmath_errDegenerate},
        {"squares that overflow", far, 7, zmath_errDegenerate},
        {"every point in one place", std::vector<zmath_vect>(7, {3, 4}), 7, zmath_errDegenerate},
        {"the points the line was fitted to", line, 7, zfit_ok},
    };
    for (const auto& c : cases) {
        zmet_uncertainty u{};
        EXPECT_EQ(zmet_lineFitUncertainty(c.points.data(), c.count, &fitted, &u), c.expected) << c.what;
    }
    // Seven points 1e160 above the x axis, which their positions along it
    // (0 to 6) leave well spread: only the residuals' squares overflow.
    std::vector<zmath_vect> above(7);
    for (size_t i = 0; i < above.size(); ++i) above[i] = {static_cast<double>(i), 1e160};
    zmath_shapeFLine xAxis;
    const double zero = 0.0;
    ASSERT_EQ(zmath_shapeFLine_initAngleDistance(&xAxis, &zero, 0.0), zfit_ok);
    zmet_uncertainty overflowed{};
    EXPECT_EQ(zmet_lineFitUncertainty(above.data(), 7, &xAxis, &overflowed), zmath_errDegenerate)
        << "residuals whose squares overflow";

    zt::ScopedAssertCounter asserts;
    zmet_uncertainty u{};
    EXPECT_EQ(zmet_lineFitUncertainty(nullptr, 7, &fitted, &u), zstd_errBrokenPrecondition) << "no points";
    EXPECT_EQ(zmet_lineFitUncertainty(line.data(), 7, nullptr, &u), zstd_errBrokenPrecondition) << "no line";
    EXPECT_EQ(zmet_lineFitUncertainty(line.data(), 7, &fitted, nullptr), zstd_errBrokenPrecondition) << "no record";
    EXPECT_EQ(asserts.count(), 3) << "each missing argument reported";
}

}  // namespace
