// The robust fits: shapes recovered through clutter, spurs and 40% gross
// outliers, the fit moving with the points, the outcome's vectors agreeing
// with each other, the life cycle of the records, and every refusal.
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

#include <zfit/metrology/metrology.hpp>

#include "scatter.hpp"

namespace {

zmet_robustParams params(int32_t estimator = zmet_robustTukey)
{
    zmet_robustParams p;
    zmet_robustParams_init(&p, estimator);
    return p;
}

// Clip (or the estimator given) about a scale the caller gives.
zmet_robustParams givenScale(double scale, int32_t estimator = zmet_robustClip)
{
    zmet_robustParams p = params(estimator);
    p.scaleMode = zmet_robustScaleGiven;
    p.scale = scale;
    return p;
}

std::vector<double> doubles(const zstd_vectord& v) { return std::vector<double>(v.begin, v.begin + v.size); }

int32_t count(const std::vector<zmath_vect>& points) { return static_cast<int32_t>(points.size()); }

// Uniform clutter over the box [lo, hi]^2, appended.
void addClutter(zt::Rng& rng, std::vector<zmath_vect>& points, size_t n, double lo, double hi)
{
    for (size_t k = 0; k < n; ++k) points.push_back({rng.uniform(lo, hi), rng.uniform(lo, hi)});
}

// Every outcome holds together: outliers ascending and exactly the points
// at or beyond c * scale, the weights of the estimator, the inlier count.
void expectConsistent(const zmet_robustOutcome& o, double rmsError, const zmet_robustParams& p, size_t n,
                      const std::string& what)
{
    const std::vector<double> residuals = doubles(o.residuals), weights = doubles(o.weights);
    const std::vector<int32_t> outliers = zt::indices(o.outliers);
    ASSERT_EQ(residuals.size(), n) << what << ": a residual per point";
    ASSERT_EQ(weights.size(), n) << what << ": a weight per point";
    std::vector<int32_t> beyond;
    for (size_t i = 0; i < n; ++i)
        if (!(std::fabs(residuals[i]) < p.clip * o.scale)) beyond.push_back(static_cast<int32_t>(i));
    EXPECT_EQ(outliers, beyond) << what << ": the outliers are the points beyond c * scale, ascending";
    EXPECT_EQ(o.inlierCount, static_cast<int32_t>(n - outliers.size())) << what << ": inliers and outliers";
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i)
        if (!std::binary_search(outliers.begin(), outliers.end(), static_cast<int32_t>(i)))
            sum += residuals[i] * residuals[i];
    EXPECT_NEAR(rmsError, std::sqrt(sum / static_cast<double>(o.inlierCount)), 1e-12 * (1 + rmsError))
        << what << ": rmsError is the inliers' RMS residual";
    for (size_t i = 0; i < n; ++i) {
        const double u = std::fabs(residuals[i]) / (p.clip * o.scale);
        const double expected = p.estimator == zmet_robustTukey  ? (u < 1 ? (1 - u * u) * (1 - u * u) : 0.0)
                                : p.estimator == zmet_robustClip ? (u < 1 ? 1.0 : 0.0)
                                                                 : (u < 1 ? 1.0 : 1.0 / u);
        ASSERT_NEAR(weights[i], expected, 1e-12) << what << ": the weight of point " << i;
    }
}

TEST(RobustLine, RecoversTheEdgeThroughClutterAndASpur)
{
    for (int32_t estimator : {zmet_robustTukey, zmet_robustClip, zmet_robustHuber}) {
        zt::Rng rng(23 + estimator);
        const double sigma = 0.5, angle = 0.3;
        std::vector<zmath_vect> points = mt::noisyLine(rng, {0, 20}, angle, 400, sigma);
        // A spur: 5% of the points leaving the edge in a clump.
        for (int i = 0; i < 20; ++i) points.push_back({200 + i * 0.5, 20 + 200 * std::sin(angle) + 15 + i});
        addClutter(rng, points, 180, 0, 400);
        const zmet_robustParams p = params(estimator);
        zfit::RobustLineResult r;
        ASSERT_EQ(zmet_robustLineFit(points.data(), count(points), nullptr, &p, r.get()), zfit_ok);
        const std::string what = "estimator " + std::to_string(estimator);
        EXPECT_LT(std::fabs(std::remainder(r->line.angle - angle, zt::pi)), 3e-3) << what;
        EXPECT_EQ(r->robust.converged, 1) << what;
        expectConsistent(r->robust, r->rmsError, p, points.size(), what);
        // Huber's weights never reach 0: the clutter still pulls, each
        // point by c * scale, so its scale is not the edge's.
        if (estimator == zmet_robustHuber) continue;
        EXPECT_NEAR(r->robust.scale, sigma, 0.1 * sigma) << what << ": the scale is the edge's noise";
    }
}

TEST(RobustLine, CallerWeightsMultiplyAndAGivenScaleSetsTheThreshold)
{
    zt::Rng rng(9);
    std::vector<zmath_vect> points = mt::noisyLine(rng, {500, -300}, 0.5, 100, 0.1);
    points.push_back({50, -40});
    std::vector<double> weights(points.size(), 2.0);
    weights[3] = 0.0;
    const zmet_robustParams p = givenScale(0.5);
    zfit::RobustLineResult r;
    ASSERT_EQ(zmet_robustLineFit(points.data(), count(points), weights.data(), &p, r.get()), zfit_ok);
    const std::vector<double> w = doubles(r->robust.weights);
    EXPECT_EQ(w[0], 2.0) << "an inlier's weight is the caller's";
    EXPECT_EQ(w[3], 0.0) << "a point of weight 0 keeps it";
    EXPECT_EQ(zt::indices(r->robust.outliers), std::vector<int32_t>{100}) << "the far point alone";
    const zmet_uncertainty& u = r->robust.uncertainty;
    ASSERT_EQ(u.parameterCount, 2);
    EXPECT_EQ(u.degreesOfFreedom, 99 - 2) << "the points of positive weight less the parameters";
}

// A point exactly c * scale off the line is an outlier: the threshold
// keeps only the points strictly inside it.
TEST(RobustLine, APointExactlyAtTheThresholdIsAnOutlier)
{
    std::vector<zmath_vect> points;
    for (int i = 0; i < 20; ++i) points.push_back({static_cast<double>(i), 0.0});
    const zmet_robustParams p = givenScale(0.5);
    points.push_back({7.0, p.clip * p.scale});
    zfit::RobustLineResult r;
    ASSERT_EQ(zmet_robustLineFit(points.data(), count(points), nullptr, &p, r.get()), zfit_ok);
    EXPECT_EQ(zt::indices(r->robust.outliers), std::vector<int32_t>{20}) << "the point at the threshold";
    EXPECT_EQ(r->robust.inlierCount, 20) << "the points on the line";
    EXPECT_EQ(r->rmsError, 0.0) << "the inliers' RMS residual";
}

TEST(RobustCircle, RecoversAnArcInFortyPercentClutterInBothFlavours)
{
    for (int32_t flavour : {zmet_robustAlgebraic, zmet_robustGeometric}) {
        zt::Rng rng(40 + flavour);
        std::vector<zmath_vect> points = mt::circleArc(rng, {50, 60}, 30, 0.2, 2 * zt::pi / 3, 300, 0.3);
        // The oracle: the same flavour's fit of the true inliers alone.
        zmath_vect centre{};
        double radius = 0;
        if (flavour == zmet_robustGeometric) {
            zmet_geometricCircleParams gp;
            zmet_geometricCircleParams_init(&gp);
            zmet_geometricCircleResult g{};
            ASSERT_EQ(zmet_geometricCircleFit(points.data(), count(points), &gp, &g), zfit_ok);
            centre = g.centre, radius = g.radius;
        } else {
            zfit::CircleResult a;
            zmath_circleFitParams cp;
            zmath_circleFitParams_init(&cp);
            ASSERT_EQ(zmath_circleFit(points.data(), count(points), &cp, a.get()), zfit_ok);
            centre = a->centre, radius = a->radius;
        }
        addClutter(rng, points, 200, 0, 110);
        const zmet_robustParams p = params();
        zfit::RobustCircleResult r;
        ASSERT_EQ(zmet_robustCircleFit(points.data(), count(points), nullptr, &p, flavour, r.get()), zfit_ok);
        const std::string what = "flavour " + std::to_string(flavour);
        const zmet_uncertainty& u = r->robust.uncertainty;
        ASSERT_EQ(u.parameterCount, 3) << what;
        // Within three of its own standard errors of the oracle.
        EXPECT_NEAR(r->centre.x, centre.x, 3 * u.standardErrors[0]) << what;
        EXPECT_NEAR(r->centre.y, centre.y, 3 * u.standardErrors[1]) << what;
        EXPECT_NEAR(r->radius, radius, 3 * u.standardErrors[2]) << what;
        EXPECT_LT(u.standardErrors[2], 0.3) << what << ": of an arc of 300 points";
        expectConsistent(r->robust, r->rmsError, p, points.size(), what);
    }
}

TEST(RobustCircle, StartsExactlyOnTheCircleWithFreeOrFixedRadius)
{
    // Exact points and a given scale of 1e-6: only a start through points
    // of the circle (three, or two with the radius given) keeps them inliers.
    zt::Rng rng(13);
    std::vector<zmath_vect> points = mt::circleArc(rng, {3, -4}, 7, 0.5, 4, 60, 0.0);
    addClutter(rng, points, 40, -10, 10);
    const zmet_robustParams p = givenScale(1e-6);
    for (bool fixed : {false, true}) {
        const std::string what = fixed ? "fixed radius" : "free radius";
        zfit::RobustCircleResult r;
        ASSERT_EQ(fixed
                      ? zmet_robustCircleFitFixedRadius(points.data(), count(points), nullptr, &p, zmet_robustAlgebraic,
                                                        7, r.get())
                      : zmet_robustCircleFit(points.data(), count(points), nullptr, &p, zmet_robustAlgebraic, r.get()),
                  zfit_ok)
            << what;
        EXPECT_NEAR(r->centre.x, 3, 1e-9) << what;
        EXPECT_NEAR(r->centre.y, -4, 1e-9) << what;
        EXPECT_NEAR(r->radius, 7, 1e-9) << what;
        EXPECT_EQ(r->robust.inlierCount, 60) << what << ": every point of the circle, none of the clutter";
    }
}

TEST(RobustEllipse, RecoversAnEllipseInClutterInBothFlavours)
{
    for (int32_t flavour : {zmet_robustAlgebraic, zmet_robustGeometric}) {
        zt::Rng rng(70 + flavour);
        std::vector<zmath_vect> points = mt::ellipseArc(rng, {5, -3}, 40, 20, 0.6, 0, 2 * zt::pi, 350, 0.3);
        addClutter(rng, points, 150, -45, 45);
        const zmet_robustParams p = params();
        zfit::RobustEllipseResult r;
        ASSERT_EQ(zmet_robustEllipseFit(points.data(), count(points), nullptr, &p, flavour, r.get()), zfit_ok);
        const std::string what = "flavour " + std::to_string(flavour);
        const zmath_shapeEllipse& e = r->ellipse;
        EXPECT_NEAR(e.center.x, 5, 0.2) << what;
        EXPECT_NEAR(e.center.y, -3, 0.2) << what;
        EXPECT_NEAR(e.radius1, 40, 0.2) << what;
        EXPECT_NEAR(e.radius2, 20, 0.2) << what;
        EXPECT_NEAR(e.angle, 0.6, 0.01) << what;
        EXPECT_NEAR(r->robust.scale, 0.3, 0.05) << what << ": orthogonal residuals give the noise";
        expectConsistent(r->robust, r->rmsError, p, points.size(), what);
        EXPECT_EQ(r->robust.uncertainty.parameterCount, flavour == zmet_robustGeometric ? 5 : 0) << what;
    }
}

namespace {

// The distance from (u, v) to the ellipse x^2/a^2 + y^2/b^2 = 1 by brute
// force: the nearest of 20,000 points of the curve, then a ternary search
// about it; negative inside.
double bruteForceEllipseDistance(double a, double b, double u, double v)
{
    const auto distance = [&](double t) { return std::hypot(u - a * std::cos(t), v - b * std::sin(t)); };
    const int steps = 20000;
    int best = 0;
    for (int k = 1; k < steps; ++k)
        if (distance(2 * zt::pi * k / steps) < distance(2 * zt::pi * best / steps)) best = k;
    double lo = 2 * zt::pi * (best - 1) / steps, hi = 2 * zt::pi * (best + 1) / steps;
    for (int k = 0; k < 100; ++k) {
        const double m1 = lo + (hi - lo) / 3, m2 = hi - (hi - lo) / 3;
        if (distance(m1) < distance(m2))
            hi = m2;
        else
            lo = m1;
    }
    const bool inside = u * u / (a * a) + v * v / (b * b) < 1.0;
    return inside ? -distance(lo) : distance(lo);
}

}  // namespace

TEST(RobustEllipse, ResidualsAreTheDistancesToTheCurve)
{
    // An exact ellipse and a given scale of 1e-6: the extra points are the
    // outliers, and each one's residual is its signed distance to the curve,
    // on the axes too (inside, a point on the major axis has two nearest
    // points off the axis; on the minor axis, the vertex). The curve's points
    // are mirrored about both axes to the bit, so the fit is axis-aligned to
    // the bit and (+-0.5, 0) lie exactly on its major axis.
    std::vector<zmath_vect> points;
    for (int k = 0; k <= 15; ++k)
        for (const double sx : {1.0, -1.0})
            for (const double sy : {1.0, -1.0})
                points.push_back({sx * 2 * std::cos(2 * zt::pi * k / 60), sy * std::sin(2 * zt::pi * k / 60)});
    const size_t onCurve = points.size();
    const std::vector<zmath_vect> extra{{0.5, 0}, {-0.5, 0},   {0.5, 1e-17}, {0.5, -1e-13}, {0.5, 1e-9},
                                        {1.9, 0}, {3, 0},      {0, 0.5},     {0, -2},       {0.3, 0.2},
                                        {1, 1},   {-2.5, 0.7}, {1.5, -0.2},  {0, 0},        {-0.1, 3}};
    points.insert(points.end(), extra.begin(), extra.end());
    const zmet_robustParams p = givenScale(1e-6);
    zfit::RobustEllipseResult r;
    ASSERT_EQ(zmet_robustEllipseFit(points.data(), count(points), nullptr, &p, zmet_robustAlgebraic, r.get()), zfit_ok);
    ASSERT_EQ(r->robust.inlierCount, static_cast<int32_t>(onCurve)) << "the curve's points, none of the extra ones";
    const std::vector<double> residuals = doubles(r->robust.residuals);
    for (size_t k = 0; k < extra.size(); ++k)
        EXPECT_NEAR(residuals[onCurve + k], bruteForceEllipseDistance(2, 1, extra[k].x, extra[k].y), 1e-9)
            << "point (" << extra[k].x << ", " << extra[k].y << ")";
}

TEST(RobustEllipse, WithEveryWeightOneTheLoopMinimisesTheDirectFitsCost)
{
    // Heavy noise on a short arc, every weight 1: the ellipse minimises
    // sum Q(p)^2 / (4AC - B^2) over conics Q = Ax^2 + Bxy + Cy^2 + ...; in
    // the ellipse's own parameters that is sum F(p)^2 r1^2 r2^2 / 4, F the
    // ellipse's normalised equation, and no step in any parameter lowers it.
    zt::Rng rng(91);
    const std::vector<zmath_vect> points = mt::ellipseArc(rng, {1, 2}, 3, 2, 0.4, 0, 2.5, 40, 0.25);
    const zmet_robustParams p = givenScale(1e6);
    zfit::RobustEllipseResult r;
    ASSERT_EQ(zmet_robustEllipseFit(points.data(), count(points), nullptr, &p, zmet_robustAlgebraic, r.get()), zfit_ok);
    const zmath_shapeEllipse& fitted = r->ellipse;
    const auto cost = [&](const std::array<double, 5>& e) {
        const double c = std::cos(e[4]), s = std::sin(e[4]);
        double sum = 0;
        for (const zmath_vect& q : points) {
            const double dx = q.x - e[0], dy = q.y - e[1], u = c * dx + s * dy, v = -s * dx + c * dy;
            const double f = u * u / (e[2] * e[2]) + v * v / (e[3] * e[3]) - 1;
            sum += f * f;
        }
        return sum * e[2] * e[2] * e[3] * e[3] / 4;
    };
    const std::array<double, 5> best{fitted.center.x, fitted.center.y, fitted.radius1, fitted.radius2, fitted.angle};
    for (int k = 0; k < 5; ++k)
        for (const double h : {-1e-4, 1e-4}) {
            std::array<double, 5> moved = best;
            moved[k] += h;
            EXPECT_GE(cost(moved), cost(best) * (1 - 1e-12)) << "parameter " << k << " moved by " << h;
        }
}

TEST(RobustTransform, RecoversEveryDofThroughThirtyPercentWrongMatches)
{
    for (int32_t dof : {3, 4, 5, 6}) {
        zt::Rng rng(90 + dof);
        const double c = std::cos(0.4), s = std::sin(0.4);
        const double sx = dof >= 5 ? 1.3 : dof == 4 ? 1.2 : 1.0, sy = dof == 5 ? 0.7 : sx;
        const double shear = dof == 6 ? 0.2 : 0.0;
        const zmath_matrix m{c * sx, -s * sy + shear, s * sx, c * sy};
        std::vector<zmath_vect> source, target;
        for (int i = 0; i < 200; ++i) {
            const zmath_vect q{rng.uniform(-50, 50), rng.uniform(-50, 50)};
            source.push_back(q);
            const bool wrong = i % 10 < 3;
            target.push_back(wrong ? zmath_vect{rng.uniform(-80, 80), rng.uniform(-80, 80)}
                                   : zmath_vect{m.m00 * q.x + m.m01 * q.y + 7 + rng.normal(0.1),
                                                m.m10 * q.x + m.m11 * q.y - 4 + rng.normal(0.1)});
        }
        const zmet_robustParams p = params();
        zfit::RobustTransformResult r;
        ASSERT_EQ(zmet_robustPointToPointFit(target.data(), source.data(), 200, nullptr, dof, &p, r.get()), zfit_ok);
        const std::string what = "dof " + std::to_string(dof);
        EXPECT_NEAR(r->xform.translation.x, 7, 0.1) << what;
        EXPECT_NEAR(r->xform.translation.y, -4, 0.1) << what;
        EXPECT_NEAR(r->xform.matrix.m00, m.m00, 3e-3) << what;
        EXPECT_NEAR(r->xform.matrix.m01, m.m01, 3e-3) << what;
        EXPECT_NEAR(r->robust.scale, 0.1, 0.02) << what << ": the per-coordinate noise";
        EXPECT_EQ(r->robust.inlierCount, 140) << what << ": the wrong matches are the outliers";
        expectConsistent(r->robust, r->rmsError, p, 200, what);
        EXPECT_EQ(r->robust.uncertainty.parameterCount, dof == 4 || dof == 6 ? dof : 0) << what;
    }
}

namespace {

// The scale the fits report, recomputed by brute force from their final
// residuals: toSigma(upper median of every |r|), then fixed-point steps
// s <- toSigma(upper median of {|r| : |r| < play * s}) until a step moves s
// by at most a millionth (the same arithmetic, over a sorted copy).
double bruteForceScale(const std::vector<double>& residuals, const std::function<double(double)>& toSigma, double play)
{
    std::vector<double> sorted;
    for (double r : residuals) sorted.push_back(std::fabs(r));
    std::sort(sorted.begin(), sorted.end());
    double s = toSigma(sorted[sorted.size() / 2]);
    for (int step = 0; step < 40; ++step) {
        const auto inPlay =
            static_cast<size_t>(std::lower_bound(sorted.begin(), sorted.end(), play * s) - sorted.begin());
        const double next = toSigma(sorted[inPlay / 2]);
        const bool settled = std::fabs(next - s) <= 1e-6 * s;
        s = next;
        if (settled) break;
    }
    return s;
}

}  // namespace

TEST(RobustScale, IsTheFixedPointOfTheMedianInPlayOverTheFinalResiduals)
{
    // Pixel-grid points repeat their residuals many times over: the medians
    // must be exact whatever the ties.
    const auto madSigma = [](double median) { return 1.482602218505602 * median; };
    const auto pairSigma = [](double median) { return median / 1.1774100225154747; };
    for (int n : {7, 40, 257, 1000, 3001}) {
        for (bool grid : {false, true}) {
            zt::Rng rng(static_cast<uint64_t>(n) * 2 + grid);
            std::vector<zmath_vect> points;
            for (int i = 0; i < n; ++i) {
                zmath_vect p{rng.uniform(0, 400), 0.25 * i + rng.normal(1.0)};
                if (i % 5 == 0) p.y += rng.uniform(-60, 60);
                if (grid) p = {std::round(p.x), std::round(p.y)};
                points.push_back(p);
            }
            const std::string what = "n " + std::to_string(n) + (grid ? ", on the pixel grid" : "");
            const zmet_robustParams p = params();
            zfit::RobustLineResult line;
            ASSERT_EQ(zmet_robustLineFit(points.data(), n, nullptr, &p, line.get()), zfit_ok) << what;
            EXPECT_EQ(line->robust.scale, bruteForceScale(doubles(line->robust.residuals), madSigma, p.clip))
                << what << ": the line's scale";
            if (n < 40) continue;  // too few pairs for a transform through this much clutter
            std::vector<zmath_vect> source(points.begin(), points.end());
            for (zmath_vect& q : source) q = {q.y, q.x};
            zfit::RobustTransformResult transform;
            ASSERT_EQ(zmet_robustPointToPointFit(points.data(), source.data(), n, nullptr, 4, &p, transform.get()),
                      zfit_ok)
                << what;
            EXPECT_EQ(transform->robust.scale, bruteForceScale(doubles(transform->robust.residuals), pairSigma, p.clip))
                << what << ": the transform's scale, from 2-D distances";
        }
    }
}

TEST(RobustTransform, WithEveryWeightOneTheLoopSolvesThePlainLeastSquares)
{
    // Clip with a scale far above the noise keeps every pair at weight 1:
    // the loop's weighted fit is then the plain least-squares transform.
    for (int32_t dof : {4, 6}) {
        zt::Rng rng(40 + dof);
        std::vector<zmath_vect> source, target;
        for (int i = 0; i < 300; ++i) {
            const zmath_vect q{rng.uniform(1e4, 1e4 + 80), rng.uniform(-5e3, -5e3 + 60)};
            source.push_back(q);
            target.push_back(
                {0.9 * q.x - 0.3 * q.y + 11 + rng.normal(0.2), 0.35 * q.x + 1.1 * q.y - 2 + rng.normal(0.2)});
        }
        const zmet_robustParams p = givenScale(1e6);
        zfit::RobustTransformResult robust;
        ASSERT_EQ(zmet_robustPointToPointFit(target.data(), source.data(), 300, nullptr, dof, &p, robust.get()),
                  zfit_ok);
        zmath_pointToPointFitParams plainParams;
        zmath_pointToPointFitParams_init(&plainParams);
        plainParams.dof = dof;
        zfit::Result<zmath_pointToPointFitResult> plain;
        ASSERT_EQ(zmath_pointToPointFit(&plainParams, target.data(), source.data(), 300, plain.get()), zfit_ok);
        const zmath_xformLinear &a = robust->xform, &b = plain->xform;
        const std::string what = "dof " + std::to_string(dof);
        EXPECT_NEAR(a.matrix.m00, b.matrix.m00, 1e-11) << what;
        EXPECT_NEAR(a.matrix.m01, b.matrix.m01, 1e-11) << what;
        EXPECT_NEAR(a.matrix.m10, b.matrix.m10, 1e-11) << what;
        EXPECT_NEAR(a.matrix.m11, b.matrix.m11, 1e-11) << what;
        EXPECT_NEAR(a.translation.x, b.translation.x, 1e-7) << what << " (sources 1e4 from the origin)";
        EXPECT_NEAR(a.translation.y, b.translation.y, 1e-7) << what;
        EXPECT_EQ(robust->robust.inlierCount, 300) << what;
    }
}

TEST(RobustLine, ClipWeightsGiveTheCovarianceOfTheInliersLeastSquaresLine)
{
    // Clip weighs every inlier 1 and every outlier 0, so the final weighted
    // problem is the least-squares line of the inliers.
    zt::Rng rng(6);
    std::vector<zmath_vect> points = mt::noisyLine(rng, {0, 2}, 0.7, 200, 0.2);
    addClutter(rng, points, 60, -50, 200);
    zmet_robustParams p = params(zmet_robustClip);
    p.maxRmsError = 0.0;
    zfit::RobustLineResult r;
    ASSERT_EQ(zmet_robustLineFit(points.data(), count(points), nullptr, &p, r.get()), zfit_ok);
    EXPECT_EQ(r->isValid, 0) << "a limit of 0 is accepted and no fit is below it";
    std::vector<zmath_vect> inliers;
    const std::vector<int32_t> outliers = zt::indices(r->robust.outliers);
    for (size_t i = 0; i < points.size(); ++i)
        if (!std::binary_search(outliers.begin(), outliers.end(), static_cast<int32_t>(i)))
            inliers.push_back(points[i]);
    zmet_uncertainty expected{};
    ASSERT_EQ(zmet_lineFitUncertainty(inliers.data(), count(inliers), &r->line, &expected), zfit_ok);
    const zmet_uncertainty& u = r->robust.uncertainty;
    ASSERT_EQ(u.parameterCount, 2);
    EXPECT_NEAR(u.sigma, expected.sigma, 1e-9 * expected.sigma) << "the inliers' noise";
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(u.covariance[k], expected.covariance[k], 1e-6 * std::fabs(expected.covariance[k])) << "entry " << k;
    EXPECT_EQ(u.covariance[4], 0.0) << "entries past p * p are 0";
    EXPECT_EQ(u.standardErrors[2], 0.0) << "standard errors past p are 0";
}

TEST(RobustRecords, CopyIsIndependentAndAssignCopiesEveryField)
{
    zt::Rng rng(3);
    std::vector<zmath_vect> points = mt::noisyLine(rng, {0, 0}, 0.2, 50, 0.1);
    points.push_back({10, 30});
    const zmet_robustParams p = params();
    zfit::RobustLineResult r, assigned;
    ASSERT_EQ(zmet_robustLineFit(points.data(), count(points), nullptr, &p, r.get()), zfit_ok);
    zmet_robustLineResult copy;
    ASSERT_EQ(zmet_robustLineResult_constructCopy(&copy, r.get()), zfit_ok);
    ASSERT_EQ(zmet_robustLineResult_assign(assigned.get(), r.get()), zfit_ok);
    EXPECT_EQ(zmet_robustLineResult_assign(assigned.get(), assigned.get()), zfit_ok) << "self-assignment";
    zstd_vectord_resize(&r->robust.weights, 0);
    EXPECT_EQ(doubles(copy.robust.weights).size(), points.size()) << "the copy owns its weights";
    EXPECT_EQ(zt::indices(assigned->robust.outliers), std::vector<int32_t>{50}) << "assign copies the outliers";
    EXPECT_EQ(assigned->robust.scale, copy.robust.scale) << "and the scale";
    EXPECT_EQ(doubles(assigned->robust.residuals), doubles(copy.robust.residuals)) << "and the residuals";
    EXPECT_EQ(assigned->line.angle, copy.line.angle) << "and the shape";
    zmet_robustLineResult_destruct(&copy);
}

TEST(RobustStatuses, EveryRefusalHasItsStatusAndLeavesTheResultAlone)
{
    zt::Rng rng(1);
    const std::vector<zmath_vect> good = mt::noisyLine(rng, {0, 0}, 0.2, 20, 0.1);
    const auto with = [](const std::function<void(zmet_robustParams&)>& change) {
        zmet_robustParams p = params();
        change(p);
        return p;
    };
    std::vector<zmath_vect> nan = good, coincident(10, zmath_vect{1, 1});
    nan[4].y = NAN;
    std::vector<double> negative(good.size(), 1.0), infinite(good.size(), 1.0), mostlyZero(good.size(), 0.0);
    negative[2] = -1;
    infinite[2] = HUGE_VAL;
    mostlyZero[0] = 1;
    const struct {
        const char* what;
        zmet_robustParams p;
        zfit_status expected;
        std::vector<zmath_vect> points;
        std::vector<double> weights = {};  // none: unweighted
    } cases[] = {
        {"scale mode 2", with([](auto& p) { p.scaleMode = 2; }), zmath_errFitBadMode, good},
        {"0 iterations", with([](auto& p) { p.maxIterations = 0; }), zmath_errFitMaxIterations, good},
        {"tolerance 0", with([](auto& p) { p.tolerance = 0; }), zmet_errRobustTolerance, good},
        {"maxRmsError -1", with([](auto& p) { p.maxRmsError = -1; }), zmath_errFitMaxRmsErrorNegative, good},
        {"a NaN coordinate", params(), zmet_errNotFinite, nan},
        {"a negative weight", params(), zmath_errFitWeightNegative, good, negative},
        {"an infinite weight", params(), zmet_errWeightNotFinite, good, infinite},
        {"one point of positive weight", params(), zmet_errTooFewPoints, good, mostlyZero},
        {"all points at one place", params(), zmath_errDegenerate, coincident},
    };
    for (const auto& c : cases) {
        zfit::RobustLineResult r;
        r->rmsError = 42;
        const double* weights = c.weights.empty() ? nullptr : c.weights.data();
        EXPECT_EQ(zmet_robustLineFit(c.points.data(), count(c.points), weights, &c.p, r.get()), c.expected) << c.what;
        EXPECT_EQ(r->rmsError, 42) << c.what << ": the result is untouched";
    }
}

TEST(RobustStatuses, TheFitsCheckTheirOwnArguments)
{
    zt::Rng rng(2);
    const std::vector<zmath_vect> arc = mt::circleArc(rng, {0, 0}, 5, 0, zt::pi, 30, 0.01);
    const zmet_robustParams p = params();
    zfit::RobustCircleResult c;
    zfit::RobustEllipseResult e;
    zfit::RobustTransformResult t;
    EXPECT_EQ(zmet_robustCircleFit(arc.data(), count(arc), nullptr, &p, 2, c.get()), zmath_errFitBadMode) << "flavour";
    EXPECT_EQ(zmet_robustCircleFitFixedRadius(arc.data(), count(arc), nullptr, &p, 0, -1, c.get()),
              zmath_errFitFixedRadiusNegative);
    EXPECT_EQ(zmet_robustCircleFitFixedRadius(arc.data(), count(arc), nullptr, &p, 0, NAN, c.get()), zmet_errNotFinite);
    EXPECT_EQ(zmet_robustCircleFitFixedRadius(arc.data(), count(arc), nullptr, &p, 0, 0.0, c.get()),
              zmath_errDegenerate)
        << "radius 0 is a radius, but no circle of it passes through two points";
    EXPECT_EQ(zmet_robustCircleFitFixedRadius(arc.data(), count(arc), nullptr, &p, 2, 5, c.get()), zmath_errFitBadMode)
        << "fixed radius, flavour";
    EXPECT_EQ(zmet_robustEllipseFit(arc.data(), 4, nullptr, &p, 0, e.get()), zmet_errTooFewPoints) << "5 points needed";
    EXPECT_EQ(zmet_robustPointToPointFit(arc.data(), arc.data(), count(arc), nullptr, 7, &p, t.get()),
              zmath_errFitBadMode);
    const std::vector<zmath_vect> line = mt::noisyLine(rng, {0, 0}, 0.3, 30, 0.0);
    EXPECT_EQ(zmet_robustCircleFit(line.data(), count(line), nullptr, &p, 0, c.get()), zmath_errDegenerate)
        << "collinear points give no circle";
    zt::ScopedAssertCounter asserts;
    zfit::RobustLineResult l;
    EXPECT_EQ(zmet_robustLineFit(line.data(), count(line), nullptr, nullptr, l.get()), zstd_errBrokenPrecondition);
    EXPECT_EQ(asserts.count(), 1) << "no parameters is a broken precondition";
}

}  // namespace
