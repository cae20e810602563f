// Parabola family: parameter and input checks, the record life cycle, exact
// small cases, and properties over random parabolas (recovery, the two
// starting angles, motion, weights).
#include <array>
#include <limits>

#include <zfit/parabola/parabola_internal.hpp>

#include "support.hpp"

namespace {

using ParabolaResult = zt::Owned<zmath_parabolaFitResult, zmath_parabolaFitResult_construct,
                                 zmath_parabolaFitResult_destruct>;
using zt::Doubles;
using zt::Points;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = HUGE_VAL;

zmath_parabolaFitParams withIterations(int32_t maxIterations)
{
    zmath_parabolaFitParams p;
    zmath_parabolaFitParams_init(&p);
    p.maxIterations = maxIterations;
    return p;
}

zfit_status fit(const std::vector<zmath_vect>& points, ParabolaResult& r, int32_t maxIterations = 1)
{
    const Points v(points);
    const zmath_parabolaFitParams p = withIterations(maxIterations);
    return zmath_parabolaFitVector(v.get(), &p, r.get());
}

zfit_status fitWeighted(const std::vector<zmath_vect>& points, const std::vector<double>& weights, ParabolaResult& r,
                        int32_t maxIterations = 1)
{
    const Points v(points);
    const Doubles w(weights);
    const zmath_parabolaFitParams p = withIterations(maxIterations);
    return zmath_parabolaFitWeightedVector(v.get(), w.get(), &p, r.get());
}

// Difference of two angles brought into [-pi, pi].
double angleGap(double a, double b) { return std::remainder(a - b, 2.0 * zt::pi); }

// A record filled with recognisable values, as left by an earlier fit.
void scribble(zmath_parabolaFitResult& r)
{
    r.isValid = 1;
    const double angle = 0.75;
    zmath_xformRigid_initAngleTransElements(&r.parabola.pose, &angle, 4.0, -2.0);
    r.parabola.coefficient = 3.5;
    r.rmsError = 0.125;
}

bool sameExceptValidity(const zmath_parabolaFitResult& a, const zmath_parabolaFitResult& b)
{
    return std::memcmp(&a.parabola, &b.parabola, sizeof a.parabola) == 0 &&
           std::memcmp(&a.rmsError, &b.rmsError, sizeof a.rmsError) == 0;
}

// ---- an independent reference for the fit at one axis angle ---------------

struct Reference {
    double rms;
    double a;  // >= 0
};

// Weighted least squares of y = a x^2 + b x + c over the points centred on
// their weighted centroid and turned by -theta, in long double with
// Cramer's rule; rms of y - (a x^2 + b x + c), which is the vertical
// residual measured from the vertex.
Reference referenceAtAngle(const std::vector<zmath_vect>& points, const std::vector<double>& weights, double theta)
{
    long double W = 0, mx = 0, my = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        W += weights[i];
        mx += weights[i] * static_cast<long double>(points[i].x);
        my += weights[i] * static_cast<long double>(points[i].y);
    }
    mx /= W;
    my /= W;
    const long double c = std::cos(static_cast<long double>(theta)), s = std::sin(static_cast<long double>(theta));
    const auto turned = [&](size_t i) {
        const long double x = points[i].x - mx, y = points[i].y - my;
        return std::array<long double, 2>{c * x + s * y, -s * x + c * y};
    };
    long double m[3][4] = {};  // normal equations | right-hand side
    for (size_t i = 0; i < points.size(); ++i) {
        const auto [u, v] = turned(i);
        const long double row[3] = {u * u, u, 1};
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) m[j][k] += weights[i] * row[j] * row[k];
            m[j][3] += weights[i] * row[j] * v;
        }
    }
    const auto det = [&](int replaced) {  // Cramer's rule: one column replaced by the right-hand side
        const auto e = [&](int r, int k) { return m[r][k == replaced ? 3 : k]; };
        return e(0, 0) * (e(1, 1) * e(2, 2) - e(1, 2) * e(2, 1)) - e(0, 1) * (e(1, 0) * e(2, 2) - e(1, 2) * e(2, 0)) +
               e(0, 2) * (e(1, 0) * e(2, 1) - e(1, 1) * e(2, 0));
    };
    const long double d = det(-1), A = det(0) / d, B = det(1) / d, C = det(2) / d;
    long double sum = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const auto [u, v] = turned(i);
        const long double r = v - (A * u * u + B * u + C);
        sum += weights[i] * r * r;
    }
    return {static_cast<double>(std::sqrt(sum / W)), static_cast<double>(std::fabs(A))};
}

// The angle of the least-squares line through the points centred on their
// weighted centroid, computed exactly as the fit computes its start.
double startAngle(const std::vector<zmath_vect>& points, const std::vector<double>& weights)
{
    zmath_vect sum{0, 0};
    double total = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        sum = {sum.x + weights[i] * points[i].x, sum.y + weights[i] * points[i].y};
        total += weights[i];
    }
    const double scale = 1.0 / total;
    const zmath_vect m{sum.x * scale, sum.y * scale};
    std::vector<zmath_vect> centred;
    for (const zmath_vect& p : points) centred.push_back({p.x - m.x, p.y - m.y});
    const Points v(centred);
    zmath_lineFitParams lp;
    zmath_lineFitParams_init(&lp);
    zt::LineResult line;
    EXPECT_EQ(zmath_lineFitVector(v.get(), &lp, line.get()), 0);
    return line->line.angle;
}

// ---- random parabolas -----------------------------------------------------

struct Truth {
    double angle;
    zmath_vect vertex;
    double a;
    double halfWidth;
    std::vector<zmath_vect> points;
};

// Points on y = a x^2 in a frame at `angle` with its origin on `vertex`: an
// arc of half-width L (sampled a little lopsided) whose height is 0.5 to 1.5
// times its half-width, plus optional noise across the curve. (Taller arcs
// can trap the local angle search in a side minimum.)
Truth randomParabola(zt::Rng& rng, int n, double noise = 0.0)
{
    Truth t{rng.uniform(-zt::pi, zt::pi), {rng.uniform(-100, 100), rng.uniform(-100, 100)}, rng.uniform(0.05, 2.0),
            0.0, {}};
    const double L = rng.uniform(0.5, 1.5) / t.a, left = -L * rng.uniform(0.5, 1.0);
    t.halfWidth = L;
    const double c = std::cos(t.angle), s = std::sin(t.angle);
    for (int i = 0; i < n; ++i) {
        const double x = rng.uniform(left, L), y = t.a * x * x + rng.normal(noise);
        t.points.push_back({t.vertex.x + c * x - s * y, t.vertex.y + s * x + c * y});
    }
    return t;
}

// ---- parameters, life cycle ----------------------------------------------

TEST(ParabolaParams, DefaultsAndValidation)
{
    zmath_parabolaFitParams p;
    ASSERT_EQ(zmath_parabolaFitParams_init(&p), 0);
    EXPECT_EQ(p.maxIterations, 1);
    EXPECT_EQ(zmath_parabolaFitParams_validate(&p), 0);
    for (int32_t bad : {0, -1, std::numeric_limits<int32_t>::min()}) {
        p.maxIterations = bad;
        EXPECT_EQ(zmath_parabolaFitParams_validate(&p), zmath_errFitMaxIterations) << bad;
    }
}

TEST(ParabolaParams, BothEntriesRefuseNoIterationsAndTouchOnlyValidity)
{
    const std::vector<zmath_vect> points{{-1, 1}, {0, 0}, {1, 1}, {2, 4}};
    for (int32_t bad : {0, -7}) {
        for (const bool weighted : {false, true}) {
            ParabolaResult r;
            scribble(*r);
            zmath_parabolaFitResult before = *r;
            const zfit_status status =
                weighted ? fitWeighted(points, {1, 1, 1, 1}, r, bad) : fit(points, r, bad);
            EXPECT_EQ(status, zmath_errFitMaxIterations) << "weighted " << weighted << " maxIterations " << bad;
            EXPECT_EQ(r->isValid, 0);
            EXPECT_TRUE(sameExceptValidity(*r, before));
        }
    }
}

TEST(ParabolaResultLifeCycle, ConstructResetAssignCopy)
{
    ParabolaResult r;
    EXPECT_EQ(r->isValid, 0);
    EXPECT_EQ(r->parabola.pose.angle, 0.0);
    EXPECT_EQ(r->parabola.pose.cosine, 1.0);
    EXPECT_EQ(r->parabola.pose.translation.x, 0.0);
    EXPECT_EQ(r->parabola.coefficient, 0.0);
    EXPECT_EQ(r->rmsError, 0.0);

    scribble(*r);
    const zmath_parabolaFitResult before = *r;
    EXPECT_EQ(zmath_parabolaFitResult_assign(r.get(), r.get()), 0);
    EXPECT_EQ(std::memcmp(r.get(), &before, sizeof before), 0) << "self-assignment changes nothing";

    zmath_parabolaFitResult copy;
    ASSERT_EQ(zmath_parabolaFitResult_constructCopy(&copy, r.get()), 0);
    EXPECT_EQ(copy.isValid, 1);
    EXPECT_TRUE(sameExceptValidity(copy, before));

    ParabolaResult target;
    ASSERT_EQ(zmath_parabolaFitResult_assign(target.get(), &copy), 0);
    EXPECT_EQ(target->isValid, 1);
    EXPECT_TRUE(sameExceptValidity(*target, before));

    ASSERT_EQ(zmath_parabolaFitResult_reset(&copy), 0);
    EXPECT_EQ(copy.isValid, 0);
    EXPECT_EQ(copy.parabola.pose.angle, 0.0);
    EXPECT_EQ(copy.parabola.coefficient, 0.0);
    EXPECT_EQ(copy.rmsError, 0.0);
    EXPECT_EQ(zmath_parabolaFitResult_destruct(&copy), 0);

    zsys_typeCheck_zmath_parabolaFitResult(&copy);
    const zmath_parabolaFitResult* pointer = &copy;
    zsys_typeCheckPtr_zmath_parabolaFitResult(&pointer);
    zsys_typeCheckFunc_zmath_parabolaFitResult(zmath_parabolaFitResult_destruct);
    zfit_status (*const destruct)(zmath_parabolaFitResult*) = zmath_parabolaFitResult_destruct;
    zsys_typeCheckFuncPtr_zmath_parabolaFitResult(&destruct);
}

TEST(ParabolaResultLifeCycleDeathTest, ConstructCopyFromNullIsABrokenPrecondition)
{
    zmath_parabolaFitResult r;
    EXPECT_DEATH(zmath_parabolaFitResult_constructCopy(&r, nullptr), "broken precondition");
}

// ---- exact cases ------------------------------------------------------------

TEST(ParabolaFit, ExactUprightAndUpsideDownParabolas)
{
    struct Row {
        const char* what;
        double A, C;  // the points lie on y = A x^2 + C
        int from, to;
        double angle;  // the frame's angle, modulo 2 pi
    } rows[] = {
        // The least-squares line runs up the axis: the second start finds it.
        {"y = 2 x^2 + 1, x = -3..3", 2.0, 1.0, -3, 3, 0.0},
        // A shallow arc: the line runs across the axis, so the first start.
        {"y = x^2 / 10 - 2, x = -6..6", 0.1, -2.0, -6, 6, 0.0},
        // Opening downwards: a >= 0 in a frame turned by a further half turn.
        {"y = 3 - x^2 / 2, x = -4..4", -0.5, 3.0, -4, 4, zt::pi},
    };
    for (const Row& row : rows) {
        std::vector<zmath_vect> points;
        for (int x = row.from; x <= row.to; ++x) points.push_back({double(x), row.A * x * x + row.C});
        for (int32_t iterations : {1, 50}) {
            SCOPED_TRACE(::testing::Message() << row.what << ", maxIterations " << iterations);
            ParabolaResult r;
            ASSERT_EQ(fit(points, r, iterations), 0);
            EXPECT_EQ(r->isValid, 1);
            EXPECT_NEAR(r->parabola.coefficient, std::fabs(row.A), 1e-9);
            EXPECT_NEAR(angleGap(r->parabola.pose.angle, row.angle), 0.0, 1e-9);
            EXPECT_NEAR(r->parabola.pose.translation.x, 0.0, 1e-9);
            EXPECT_NEAR(r->parabola.pose.translation.y, row.C, 1e-9);
            EXPECT_LT(r->rmsError, 1e-9);
            // The pose carries a point of the frame's curve onto the points' curve.
            const zmath_vect onCurve{1.5, 2.25 * r->parabola.coefficient};
            zmath_vect image;
            zmath_xformRigid_mapPoint(&r->parabola.pose, &onCurve, &image);
            EXPECT_NEAR(image.y, row.A * image.x * image.x + row.C, 1e-9);
        }
    }
}

TEST(ParabolaFit, ResidualIsVerticalInTheParabolasFrame)
{
    // y = x^2 at x = -3..3 with the point at 0 raised to 1. By symmetry the
    // fit is upright; the normal equations [196 28; 28 7] (a, c) = (196, 29)
    // give a = 20/21, c = 1/3, and the residuals 2, -3, -6, 14, -6, -3, 2
    // (in 21sts) give rms = sqrt(2/21).
    std::vector<zmath_vect> points;
    for (int x = -3; x <= 3; ++x) points.push_back({double(x), x == 0 ? 1.0 : double(x * x)});
    ParabolaResult r;
    ASSERT_EQ(fit(points, r), 0);
    EXPECT_NEAR(r->parabola.coefficient, 20.0 / 21.0, 1e-12);
    EXPECT_NEAR(r->parabola.pose.translation.x, 0.0, 1e-12);
    EXPECT_NEAR(r->parabola.pose.translation.y, 1.0 / 3.0, 1e-12);
    EXPECT_NEAR(angleGap(r->parabola.pose.angle, 0.0), 0.0, 1e-12);
    EXPECT_NEAR(r->rmsError, std::sqrt(2.0 / 21.0), 1e-12);
}

// ---- failures -------------------------------------------------------------

TEST(ParabolaFit, TooFewOrDegeneratePointsFailAndClearValidity)
{
    struct Row {
        const char* what;
        std::vector<zmath_vect> points;
        std::vector<zfit_status> expected;  // any of these
        bool checkedUpFront;                // refused before the fit writes anything
    } rows[] = {
        {"no points", {}, {zmath_errDegenerate}, false},
        {"one point", {{1, 2}}, {zmath_errDegenerate}, false},
        {"equal points", {{1, 2}, {1, 2}, {1, 2}}, {zmath_errDegenerate}, false},
        {"two points: the normal equations are singular",
         {{0, 0}, {1, 3}},
         {zmath_errMatrixSingular, zmath_errMatrixIllConditioned},
         false},
        {"collinear points: singular across the line",
         {{0, 0}, {1, 1}, {2, 2}, {3, 3}},
         {zmath_errMatrixSingular, zmath_errMatrixIllConditioned},
         false},
        {"NaN coordinate", {{-1, 1}, {0, nan}, {1, 1}, {2, 4}}, {zmath_errDegenerate}, true},
        {"infinite coordinate", {{-1, 1}, {0, 0}, {inf, 1}, {2, 4}}, {zmath_errDegenerate}, true},
        {"minus infinity", {{-1, 1}, {0, 0}, {1, -inf}, {2, 4}}, {zmath_errDegenerate}, true},
    };
    for (const Row& row : rows) {
        for (const bool weighted : {false, true}) {
            ParabolaResult r;
            scribble(*r);
            const zmath_parabolaFitResult before = *r;
            const zfit_status status = weighted ? fitWeighted(row.points, std::vector<double>(row.points.size(), 1.0), r)
                                                : fit(row.points, r);
            EXPECT_NE(std::find(row.expected.begin(), row.expected.end(), status), row.expected.end())
                << row.what << " (weighted " << weighted << "): " << zt::statusName(status);
            EXPECT_EQ(r->isValid, 0) << row.what << ": a failed fit is never valid";
            if (row.checkedUpFront) {
                EXPECT_TRUE(sameExceptValidity(*r, before)) << row.what;
            }
        }
    }
}

TEST(ParabolaFit, AllocationFailuresAreReturnedAndNothingLeaks)
{
    std::vector<zmath_vect> points;
    for (int x = -5; x <= 5; ++x) points.push_back({double(x), 0.3 * x * x - x});
    const Points v(points);
    const Doubles w(std::vector<double>(points.size(), 2.0));
    const zmath_parabolaFitParams p = withIterations(5);
    int successes = 0;
    for (int failAt = 1; failAt < 400 && successes == 0; ++failAt) {
        for (const bool weighted : {false, true}) {
            ParabolaResult r;
            zt::ScopedAllocator allocator(failAt);
            const zfit_status status = weighted ? zmath_parabolaFitWeightedVector(v.get(), w.get(), &p, r.get())
                                                : zmath_parabolaFitVector(v.get(), &p, r.get());
            EXPECT_EQ(allocator.outstanding(), 0u) << "failAt " << failAt;
            if (status == 0) {
                ++successes;
            } else {
                EXPECT_EQ(status, zstd_errOutOfMemory) << "failAt " << failAt << " " << zt::statusName(status);
                EXPECT_EQ(r->isValid, 0);
            }
        }
    }
    EXPECT_GT(successes, 0);
}

TEST(ParabolaFit, NeverPollsTheAttentionCheck)
{
    zt::ScopedAttention attention(1);
    ParabolaResult r;
    EXPECT_EQ(fit({{-1, 1}, {0, 0}, {1, 1}, {2, 4.1}}, r, 20), 0);
    EXPECT_EQ(attention.polls(), 0);
}

// ---- weights --------------------------------------------------------------

TEST(ParabolaWeighted, WeightsAreCheckedFirstInOrder)
{
    const std::vector<zmath_vect> points{{-1, 1}, {0, 0}, {1, 1}, {2, 4}};
    const double huge = std::numeric_limits<double>::max();
    struct Row {
        const char* what;
        std::vector<zmath_vect> points;
        std::vector<double> weights;
        zfit_status expected;
    } rows[] = {
        {"one weight short", points, {1, 1, 1}, zmath_errFitWeightCount},
        {"one weight too many", points, {1, 1, 1, 1, 1}, zmath_errFitWeightCount},
        {"count before sign", points, {-1, 1, 1}, zmath_errFitWeightCount},
        {"count before coordinates", {{nan, 0}, {1, 1}}, {1}, zmath_errFitWeightCount},
        {"negative weight", points, {1, 1, -0.5, 1}, zmath_errFitWeightNegative},
        {"sign before NaN", points, {nan, 1, -1, 1}, zmath_errFitWeightNegative},
        {"sign before coordinates", {{nan, 0}, {1, 1}, {2, 2}}, {1, -1, 1}, zmath_errFitWeightNegative},
        {"NaN weight", points, {1, nan, 1, 1}, zmath_errDegenerate},
        {"infinite weight", points, {1, 1, inf, 1}, zmath_errDegenerate},
        {"all weights zero", points, {0, 0, 0, 0}, zmath_errDegenerate},
        {"no points, no weights", {}, {}, zmath_errDegenerate},
        {"total weight overflows", points, {huge, huge, 1, 1}, zmath_errDegenerate},
        {"NaN coordinate", {{-1, 1}, {0, nan}, {1, 1}, {2, 4}}, {1, 1, 1, 1}, zmath_errDegenerate},
    };
    for (const Row& row : rows) {
        ParabolaResult r;
        scribble(*r);
        const zmath_parabolaFitResult before = *r;
        EXPECT_EQ(fitWeighted(row.points, row.weights, r), row.expected) << row.what;
        EXPECT_EQ(r->isValid, 0) << row.what;
        EXPECT_TRUE(sameExceptValidity(*r, before)) << row.what << ": the rest of the record is untouched";
    }
    // -0.0 is not below 0, and the iteration check comes before the weights.
    ParabolaResult r;
    EXPECT_EQ(fitWeighted(points, {1, -0.0, 1, 1}, r), 0);
    EXPECT_EQ(fitWeighted(points, {1, 1}, r, 0), zmath_errFitMaxIterations);
}

TEST(ParabolaWeighted, UnitWeightsGiveExactlyTheUnweightedFit)
{
    zt::Rng rng(17);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        const Truth t = randomParabola(rng, 25, 0.05);
        for (int32_t iterations : {1, 30}) {
            ParabolaResult plain, weighted;
            ASSERT_EQ(fit(t.points, plain, iterations), 0);
            ASSERT_EQ(fitWeighted(t.points, std::vector<double>(t.points.size(), 1.0), weighted, iterations), 0);
            EXPECT_EQ(std::memcmp(plain.get(), weighted.get(), sizeof(zmath_parabolaFitResult)), 0) << iterations;
        }
    }
}

TEST(ParabolaWeighted, ScalingAllWeightsChangesNothing)
{
    zt::Rng rng(23);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        const Truth t = randomParabola(rng, 30, 0.05);
        std::vector<double> w, twice, odd;
        const double factor = rng.uniform(0.01, 100.0);
        for (size_t i = 0; i < t.points.size(); ++i) {
            w.push_back(rng.uniform(0.1, 3.0));
            twice.push_back(w.back() * 1024.0);
            odd.push_back(w.back() * factor);
        }
        ParabolaResult base, scaled, scaledOdd;
        ASSERT_EQ(fitWeighted(t.points, w, base, 30), 0);
        ASSERT_EQ(fitWeighted(t.points, twice, scaled, 30), 0);
        EXPECT_EQ(std::memcmp(base.get(), scaled.get(), sizeof(zmath_parabolaFitResult)), 0)
            << "a power of two scales every sum exactly";
        ASSERT_EQ(fitWeighted(t.points, odd, scaledOdd, 1), 0);
        ParabolaResult base1;
        ASSERT_EQ(fitWeighted(t.points, w, base1, 1), 0);
        EXPECT_NEAR(scaledOdd->rmsError, base1->rmsError, 1e-9 * (1 + base1->rmsError)) << "factor " << factor;
        EXPECT_NEAR(scaledOdd->parabola.coefficient, base1->parabola.coefficient, 1e-9);
        EXPECT_NEAR(angleGap(scaledOdd->parabola.pose.angle, base1->parabola.pose.angle), 0.0, 1e-9);
    }
}

TEST(ParabolaWeighted, ZeroWeightLeavesOnlyTheStartingDirection)
{
    // An outlier of weight 0 moves the least-squares line (and so where the
    // search starts), but not the centroid, the coefficients or the error:
    // with one pass the result is the better of the reference fits, without
    // the outlier, at the two starting angles that include it.
    zt::Rng rng(31);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        Truth t = randomParabola(rng, 20, 0.02);
        std::vector<double> w(t.points.size(), 0.0);
        for (double& x : w) x = rng.uniform(0.5, 2.0);
        const double reach = 2.0 * t.halfWidth;
        t.points.push_back({t.vertex.x + rng.uniform(-reach, reach), t.vertex.y + rng.uniform(-reach, reach)});
        w.push_back(0.0);

        ParabolaResult r;
        ASSERT_EQ(fitWeighted(t.points, w, r, 1), 0);
        const double start = startAngle(t.points, w);
        const Reference along = referenceAtAngle(t.points, w, start);
        const Reference across = referenceAtAngle(t.points, w, start + zt::pi / 2);
        const bool first = along.rms <= across.rms;
        const Reference& best = first ? along : across;
        EXPECT_NEAR(r->rmsError, best.rms, 1e-9 * (1 + best.rms));
        EXPECT_NEAR(r->parabola.coefficient, best.a, 1e-9 * (1 + best.a));
        EXPECT_NEAR(std::sin(r->parabola.pose.angle - (first ? start : start + zt::pi / 2)), 0.0, 1e-12);

        // With a longer search the outlier makes no difference at all.
        std::vector<zmath_vect> kept(t.points.begin(), t.points.end() - 1);
        std::vector<double> keptWeights(w.begin(), w.end() - 1);
        ParabolaResult withOutlier, without;
        ASSERT_EQ(fitWeighted(t.points, w, withOutlier, 50), 0);
        ASSERT_EQ(fitWeighted(kept, keptWeights, without, 50), 0);
        EXPECT_NEAR(withOutlier->rmsError, without->rmsError, 1e-6);
        EXPECT_NEAR(withOutlier->parabola.coefficient, without->parabola.coefficient, 1e-5);
        EXPECT_NEAR(withOutlier->parabola.pose.translation.x, without->parabola.pose.translation.x, 1e-4);
        EXPECT_NEAR(withOutlier->parabola.pose.translation.y, without->parabola.pose.translation.y, 1e-4);
    }
}

// ---- properties -------------------------------------------------------------

TEST(ParabolaProperties, ExactParabolasAreRecoveredByALongerSearch)
{
    zt::Rng rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        const Truth t = randomParabola(rng, rng.integer(6, 200));
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " angle " << t.angle << " a " << t.a);
        ParabolaResult r;
        ASSERT_EQ(fit(t.points, r, 50), 0);
        EXPECT_EQ(r->isValid, 1);
        // The search stops once its step is below 1e-7 rad.
        const double L = t.halfWidth;
        EXPECT_LT(r->rmsError, 1e-6 * L);
        EXPECT_NEAR(r->parabola.coefficient, t.a, 5e-6 * t.a);
        EXPECT_NEAR(angleGap(r->parabola.pose.angle, t.angle), 0.0, 2e-6);
        EXPECT_NEAR(r->parabola.pose.translation.x, t.vertex.x, 2e-6 * L);
        EXPECT_NEAR(r->parabola.pose.translation.y, t.vertex.y, 2e-6 * L);
        EXPECT_GE(r->parabola.coefficient, 0.0);
    }
}

TEST(ParabolaProperties, OnePassGivesTheBetterOfTheTwoStartingAngles)
{
    zt::Rng rng(11);
    for (int trial = 0; trial < 200; ++trial) {
        const Truth t = randomParabola(rng, rng.integer(5, 60), 0.1);
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        const std::vector<double> ones(t.points.size(), 1.0);
        ParabolaResult r;
        ASSERT_EQ(fit(t.points, r, 1), 0);
        const double start = startAngle(t.points, ones);
        const Reference along = referenceAtAngle(t.points, ones, start);
        const Reference across = referenceAtAngle(t.points, ones, start + zt::pi / 2);
        const bool first = along.rms <= across.rms;
        const Reference& best = first ? along : across;
        EXPECT_NEAR(r->rmsError, best.rms, 1e-9 * (1 + best.rms));
        EXPECT_NEAR(r->parabola.coefficient, best.a, 1e-9 * (1 + best.a));
        // The frame's x axis is the starting direction, up to a half turn.
        EXPECT_NEAR(std::sin(r->parabola.pose.angle - (first ? start : start + zt::pi / 2)), 0.0, 1e-12);
        EXPECT_GE(r->parabola.coefficient, 0.0);
        // More passes can only improve on it.
        ParabolaResult longer;
        ASSERT_EQ(fit(t.points, longer, 25), 0);
        EXPECT_LE(longer->rmsError, r->rmsError * (1 + 1e-12));
    }
}

TEST(ParabolaProperties, TranslatingThePointsTranslatesThePose)
{
    zt::Rng rng(5);
    for (int trial = 0; trial < 100; ++trial) {
        const Truth t = randomParabola(rng, 40, 0.05);
        const zmath_vect shift{rng.uniform(-1000, 1000), rng.uniform(-1000, 1000)};
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " shift " << shift.x << ", " << shift.y);
        std::vector<zmath_vect> moved;
        for (const zmath_vect& p : t.points) moved.push_back({p.x + shift.x, p.y + shift.y});
        for (int32_t iterations : {1, 50}) {
            ParabolaResult a, b;
            ASSERT_EQ(fit(t.points, a, iterations), 0);
            ASSERT_EQ(fit(moved, b, iterations), 0);
            EXPECT_NEAR(b->parabola.pose.translation.x, a->parabola.pose.translation.x + shift.x, 1e-6) << iterations;
            EXPECT_NEAR(b->parabola.pose.translation.y, a->parabola.pose.translation.y + shift.y, 1e-6) << iterations;
            EXPECT_NEAR(angleGap(b->parabola.pose.angle, a->parabola.pose.angle), 0.0, 1e-7) << iterations;
            EXPECT_NEAR(b->parabola.coefficient, a->parabola.coefficient, 1e-7 * (1 + a->parabola.coefficient));
            EXPECT_NEAR(b->rmsError, a->rmsError, 1e-7 * (1 + a->rmsError)) << iterations;
        }
    }
}

TEST(ParabolaProperties, TheUnitOfTheCoordinatesDoesNotMatter)
{
    // Micrometres on a wafer or metres under a microscope: scaling the
    // points by a power of two scales the vertex and the error by it and the
    // coefficient by its inverse, and never makes the fit fail.
    zt::Rng rng(13);
    for (int trial = 0; trial < 60; ++trial) {
        const Truth t = randomParabola(rng, 30, 0.05);
        for (int exponent : {-40, -20, 20, 40}) {
            SCOPED_TRACE(::testing::Message() << "trial " << trial << " scale 2^" << exponent);
            const double k = std::ldexp(1.0, exponent);
            std::vector<zmath_vect> scaled;
            for (const zmath_vect& p : t.points) scaled.push_back({p.x * k, p.y * k});
            ParabolaResult a, b;
            ASSERT_EQ(fit(t.points, a, 20), 0);
            ASSERT_EQ(fit(scaled, b, 20), 0);
            EXPECT_DOUBLE_EQ(b->parabola.pose.angle, a->parabola.pose.angle);
            EXPECT_DOUBLE_EQ(b->parabola.pose.translation.x, a->parabola.pose.translation.x * k);
            EXPECT_DOUBLE_EQ(b->parabola.pose.translation.y, a->parabola.pose.translation.y * k);
            EXPECT_DOUBLE_EQ(b->parabola.coefficient, a->parabola.coefficient / k);
            EXPECT_DOUBLE_EQ(b->rmsError, a->rmsError * k);
        }
    }
}

// ---- the fit itself, below the entries --------------------------------------

TEST(ParabolaInternal, NoStartWithAFiniteErrorIsDegenerate)
{
    // Weights that the entry would refuse make every weighted error the root
    // of a negative number: neither start yields a usable candidate, so the
    // fit reports that instead of a pose it never found.
    const std::vector<zmath_vect> points{{-2, -1}, {2, 0}, {-5, 1}, {-3, 0}, {1, 4}, {2, -4}};
    const Points v(points);
    const Doubles w({1, 1, 1, 1, 1, -5.5});
    const zmath_parabolaFitParams p = withIterations(3);
    zmath_xformRigid pose;
    zmath_xformRigid_initIdentity(&pose);
    double coefficient = 7.0, rms = 0.0;
    EXPECT_EQ(zmath_parabolaFitWeighted_(v.get(), w.get(), &p, &pose, &coefficient, &rms), zmath_errDegenerate);
    EXPECT_EQ(coefficient, 7.0) << "no candidate was taken";
    EXPECT_EQ(pose.angle, 0.0);
    EXPECT_EQ(rms, HUGE_VAL);
}

}  // namespace
