// Parabola family: the checks only this family makes and properties over random parabolas (recovery, the two starting angles,
// motion, weights). Bad input shared by every
// family, allocation failures and the generic record life cycle are tested
// across families elsewhere.
#include <array>

#include "support.hpp"

namespace {

using zfit::ParabolaResult;

// Either entry: the weighted one when weights are given.
zfit_status fit(const std::vector<zmath_vect>& points, ParabolaResult& r, int32_t maxIterations = 1,
                const std::vector<double>& weights = {})
{
    const zmath_parabolaFitParams p{maxIterations};
    const zfit::Points v(points);
    return weights.empty() ? zmath_parabolaFitVector(v.get(), &p, r.get())
                           : zmath_parabolaFitWeightedVector(v.get(), zfit::Doubles(weights).get(), &p, r.get());
}

// Difference of two angles brought into [-pi, pi].
double angleGap(double a, double b) { return std::remainder(a - b, 2.0 * zt::pi); }

// b holds what a holds: validity, parabola and error.
void expectSameRecord(const zmath_parabolaFitResult& a, const zmath_parabolaFitResult& b, const char* why)
{
    EXPECT_EQ(a.isValid, b.isValid) << why;
    EXPECT_EQ(zt::shapeValues(a), zt::shapeValues(b)) << why;
    EXPECT_EQ(a.rmsError, b.rmsError) << why;
}

// ---- an independent reference for the fit at one axis angle ---------------

struct Reference {
    double rms, a;
};  // a >= 0

// Weighted least squares of y = a x^2 + b x + c over the points turned by
// -theta (centred by the caller), in long double with Cramer's rule; rms of
// y - (a x^2 + b x + c), which is the vertical residual measured from the
// vertex.
Reference referenceAtAngle(const std::vector<zmath_vect>& points, const std::vector<double>& weights, double theta)
{
    const long double c = std::cos(static_cast<long double>(theta)), s = std::sin(static_cast<long double>(theta));
    const auto turned = [&](const zmath_vect& p) {
        return std::array<long double, 2>{c * p.x + s * p.y, -s * p.x + c * p.y};
    };
    long double m[3][4] = {}, W = 0;  // normal equations | right-hand side
    for (size_t i = 0; i < points.size(); ++i) {
        const auto [u, v] = turned(points[i]);
        const long double row[3] = {u * u, u, 1};
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) m[j][k] += weights[i] * row[j] * row[k];
            m[j][3] += weights[i] * row[j] * v;
        }
        W += weights[i];
    }
    const auto det = [&](int replaced) {  // Cramer's rule: one column replaced by the right-hand side
        const auto e = [&](int r, int k) { return m[r][k == replaced ? 3 : k]; };
        return e(0, 0) * (e(1, 1) * e(2, 2) - e(1, 2) * e(2, 1)) - e(0, 1) * (e(1, 0) * e(2, 2) - e(1, 2) * e(2, 0)) +
               e(0, 2) * (e(1, 0) * e(2, 1) - e(1, 1) * e(2, 0));
    };
    const long double d = det(-1), A = det(0) / d, B = det(1) / d, C = det(2) / d;
    long double sum = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const auto [u, v] = turned(points[i]);
        sum += weights[i] * (v - (A * u * u + B * u + C)) * (v - (A * u * u + B * u + C));
    }
    return {static_cast<double>(std::sqrt(sum / W)), static_cast<double>(std::fabs(A))};
}

// With one pass the fit is the better of the reference fits at its two
// starting angles: along the plain least-squares line through the points
// centred on their weighted centroid (computed as the fit computes it), and
// across it. The frame's x axis is that direction, up to a half turn.
void expectBetterStart(const std::vector<zmath_vect>& points, const std::vector<double>& weights,
                       const zmath_parabolaFitResult& r)
{
    double sx = 0, sy = 0, total = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        sx += weights[i] * points[i].x;
        sy += weights[i] * points[i].y;
        total += weights[i];
    }
    const double scale = 1.0 / total;
    std::vector<zmath_vect> centred;
    for (const zmath_vect& p : points) centred.push_back({p.x - sx * scale, p.y - sy * scale});
    zmath_lineFitParams lp;
    zmath_lineFitParams_init(&lp);
    zfit::LineResult line;
    ASSERT_EQ(zmath_lineFitVector(zfit::Points(centred).get(), &lp, line.get()), 0);
    const double start = line->line.angle;
    const Reference along = referenceAtAngle(centred, weights, start);
    const Reference across = referenceAtAngle(centred, weights, start + zt::pi / 2);
    const bool first = along.rms <= across.rms;
    const Reference& best = first ? along : across;
    EXPECT_NEAR(r.rmsError, best.rms, 1e-9 * (1 + best.rms));
    EXPECT_NEAR(r.parabola.coefficient, best.a, 1e-9 * (1 + best.a));
    EXPECT_NEAR(std::sin(r.parabola.pose.angle - (first ? start : start + zt::pi / 2)), 0.0, 1e-12);
}

// ---- random parabolas -----------------------------------------------------

struct Truth {
    double angle;
    zmath_vect vertex;
    double a, halfWidth;
    std::vector<zmath_vect> points;
};

// Points on y = a x^2 in a frame at `angle` with its origin on `vertex`: an
// arc of half-width L (sampled a little lopsided) whose height is 0.5 to 1.5
// times its half-width, plus optional noise across the curve. (Taller arcs
// can trap the local angle search in a side minimum.)
Truth randomParabola(zt::Rng& rng, int n, double noise = 0.0)
{
    Truth t{rng.uniform(-zt::pi, zt::pi),
            {rng.uniform(-100, 100), rng.uniform(-100, 100)},
            rng.uniform(0.05, 2.0),
            0.0,
            {}};
    const double L = rng.uniform(0.5, 1.5) / t.a, left = -L * rng.uniform(0.5, 1.0);
    t.halfWidth = L;
    const double c = std::cos(t.angle), s = std::sin(t.angle);
    for (int i = 0; i < n; ++i) {
        const double x = rng.uniform(left, L), y = t.a * x * x + rng.normal(noise);
        t.points.push_back({t.vertex.x + c * x - s * y, t.vertex.y + s * x + c * y});
    }
    return t;
}

// ---- properties -------------------------------------------------------------

TEST(Parabola, RandomParabolas)
{
    zt::Rng rng(7);
    for (int trial = 0; trial < 300; ++trial) {
        const bool exact = trial % 2 == 0;
        const Truth t = randomParabola(rng, rng.integer(6, exact ? 200 : 60), exact ? 0.0 : 0.1);
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " angle " << t.angle << " a " << t.a);
        const std::vector<double> ones(t.points.size(), 1.0);
        ParabolaResult once, longer, onceWeighted;
        ASSERT_EQ(fit(t.points, once, 1), 0);
        ASSERT_EQ(fit(t.points, longer, 50), 0);
        ASSERT_EQ(fit(t.points, onceWeighted, 1, ones), 0);
        expectBetterStart(t.points, ones, *once);
        EXPECT_LE(longer->rmsError, once->rmsError * (1 + 1e-12)) << "more passes can only improve";
        expectSameRecord(*once, *onceWeighted, "unit weights give exactly the unweighted fit");
        if (exact) {  // recovered by the longer search, which stops once its step is below 1e-7 rad
            const double L = t.halfWidth;
            EXPECT_LT(longer->rmsError, 1e-6 * L);
            EXPECT_NEAR(longer->parabola.coefficient, t.a, 5e-6 * t.a);
            EXPECT_NEAR(angleGap(longer->parabola.pose.angle, t.angle), 0.0, 2e-6);
            const zmath_vect& v = longer->parabola.pose.translation;
            EXPECT_NEAR(std::hypot(v.x - t.vertex.x, v.y - t.vertex.y), 0.0, 2e-6 * L);
        }
    }
}

// On noisy points the error is smooth in the axis angle, and the parabolic
// steps of a longer search end at its minimiser: within 1e-8 rad of the one
// a golden-section search of the reference finds (bracketing steps alone
// stop near 1e-7 rad, where the search gives up).
TEST(Parabola, ALongerSearchEndsAtTheMinimiserOfTheError)
{
    zt::Rng rng(2616);
    for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE(::testing::Message() << "seed 2616 trial " << trial);
        Truth t = randomParabola(rng, 40);
        zmath_vect mean{0, 0};
        for (zmath_vect& p : t.points) {
            p = {p.x + rng.normal(0.03 * t.halfWidth), p.y + rng.normal(0.03 * t.halfWidth)};
            mean = {mean.x + p.x / 40, mean.y + p.y / 40};
        }
        ParabolaResult r;
        ASSERT_EQ(fit(t.points, r, 100), 0);
        std::vector<zmath_vect> centred;
        for (const zmath_vect& p : t.points) centred.push_back({p.x - mean.x, p.y - mean.y});
        const std::vector<double> ones(40, 1.0);
        double lo = r->parabola.pose.angle - 0.01, hi = r->parabola.pose.angle + 0.01;
        const double golden = (std::sqrt(5.0) - 1) / 2;
        while (hi - lo > 1e-12) {
            const double x1 = hi - golden * (hi - lo), x2 = lo + golden * (hi - lo);
            if (referenceAtAngle(centred, ones, x1).rms < referenceAtAngle(centred, ones, x2).rms)
                hi = x2;
            else
                lo = x1;
        }
        EXPECT_NEAR(r->parabola.pose.angle, (lo + hi) / 2, 1e-8);
    }
}

// Measuring the points in another unit (1e-9 to 1e9) and moving them far
// from the origin (up to 1e5 times the arc's half-width) scales and moves the
// parabola, weighted or not, with the fits at the starting angles and after
// a longer search: the vertex within 1e-7 of the scaled half-width, the same
// angle, the coefficient divided by the scale and the error multiplied by it
// (relative 1e-7). Collinear points fail alike everywhere.
TEST(Parabola, ScalingAndMovingThePointsScalesAndMovesTheParabola)
{
    zt::Rng rng(313);
    for (int trial = 0; trial < 12; ++trial) {
        const Truth t = randomParabola(rng, 30, 0.05 * rng.uniform(0.5, 1.5));
        const double L = t.halfWidth;
        std::vector<double> weights;
        for (size_t i = 0; i < t.points.size(); ++i) weights.push_back(trial % 2 ? rng.uniform(0.2, 2.0) : 1.0);
        const std::vector<zt::Placement> placements = zt::placements(rng, L);
        for (int32_t iterations : {1, 50}) {
            ParabolaResult a;
            ASSERT_EQ(fit(t.points, a, iterations, weights), 0);
            for (const zt::Placement& at : placements) {
                SCOPED_TRACE(::testing::Message()
                             << "seed 313 trial " << trial << " maxIterations " << iterations << " " << at);
                ParabolaResult b;
                ASSERT_EQ(fit(at(t.points), b, iterations, weights), 0);
                const zmath_vect vertex = at(a->parabola.pose.translation);
                const zmath_vect& moved = b->parabola.pose.translation;
                EXPECT_NEAR(std::hypot(moved.x - vertex.x, moved.y - vertex.y), 0.0, 1e-7 * at.scale * L);
                EXPECT_NEAR(angleGap(b->parabola.pose.angle, a->parabola.pose.angle), 0.0, 1e-7);
                const double coefficient = a->parabola.coefficient / at.scale, rms = a->rmsError * at.scale;
                EXPECT_NEAR(b->parabola.coefficient, coefficient, 1e-7 * coefficient);
                EXPECT_NEAR(b->rmsError, rms, 1e-7 * rms);
            }
        }
    }
    std::vector<zmath_vect> line;
    for (int i = 0; i < 8; ++i) line.push_back({0.5 * i, 3.0 - 0.25 * i});
    for (const zt::Placement& at : zt::placements(rng, 2.0)) {
        ParabolaResult r;
        EXPECT_EQ(fit(at(line), r), zmath_errMatrixIllConditioned) << at;
    }
}

}  // namespace
