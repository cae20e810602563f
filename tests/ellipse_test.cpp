// Ellipse family: exact recovery of random ellipses, covariance under motion and scale, the subset
// search against a brute-force oracle (the search's polls are checked in
// the cancellation test; the array entry runs the vector entry).
//
// Ellipses are compared geometrically: the centre and M*M^T of the
// transform that maps the unit circle onto them, so the angle's wrap and
// a swap of the axes do not matter.
#include <algorithm>
#include <array>
#include <bit>

#include "support.hpp"

namespace {

using zfit::EllipseResult;
using Points = std::vector<zmath_vect>;

zmath_ellipseFitParams params(int32_t numIgnore = 0) { return {numIgnore, HUGE_VAL}; }

zfit_status fit(const Points& points, EllipseResult& r, zmath_ellipseFitParams p = params())
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
        return zt::onEllipse(center, r1 * (1 + out), r2 * (1 + out), angle, t);
    }
    double size() const { return std::max(r1, r2); }
};

Truth randomTruth(zt::Rng& rng)
{
    return {
        {rng.uniform(-50, 50), rng.uniform(-50, 50)}, rng.uniform(2, 20), rng.uniform(2, 20), rng.uniform(0, zt::pi)};
}

// n points spread around the ellipse, each parameter jittered by up to a
// fifth of a step; point i is pushed out by out(i).
template <class Out = double (*)(int)>
Points spread(
    zt::Rng& rng, const Truth& t, int n, Out out = [](int) { return 0.0; })
{
    Points p;
    const double step = 2 * zt::pi / n, start = rng.uniform(0, 2 * zt::pi);
    for (int i = 0; i < n; ++i) p.push_back(t.at(start + i * step + rng.uniform(-0.2, 0.2) * step, out(i)));
    return p;
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
    const double size = std::max(want.radius1, want.radius2);
    EXPECT_NEAR(xg.translation.x, xw.translation.x, tol * size);
    EXPECT_NEAR(xg.translation.y, xw.translation.y, tol * size);
    const auto gg = gram(xg.matrix), gw = gram(xw.matrix);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(gg[i], gw[i], tol * size * size) << "M*M^T element " << i;
}

// ---- the algebraic fit -----------------------------------------------------

TEST(EllipseAlgebraic, PointsOnARandomEllipseOrCircleAreFittedExactlyAtAnyScale)
{
    // The reduced scatter matrix scales with the fourth power of the spread:
    // small ellipses must not be taken for degenerate ones, nor large ones
    // lose their shape. Odd trials fit exactly five points, every fourth
    // trial a circle.
    zt::Rng rng(4041);
    for (double scale : {1.0, 1e-4, 1e-3, 1e3, 1e5})
        for (int trial = 0; trial < 80; ++trial) {
            SCOPED_TRACE(::testing::Message() << "seed 4041 scale " << scale << " trial " << trial);
            Truth t = randomTruth(rng);
            t = {{t.center.x * scale, t.center.y * scale},
                 t.r1 * scale,
                 (trial % 4 == 0 ? t.r1 : t.r2) * scale,
                 t.angle};
            EllipseResult r;
            ASSERT_EQ(fit(spread(rng, t, trial % 2 ? 5 : rng.integer(6, 40)), r), 0);
            expectSameEllipse(r->ellipse, t.shape(), 1e-7);
            EXPECT_LT(r->rmsError, 1e-8 * t.size());
            EXPECT_GE(r->ellipse.radius1, r->ellipse.radius2) << "the major axis comes first";
        }
}

// Points at the ends of the axes of an axis-aligned ellipse map onto the
// axes of the unit circle (exactly, where the fitted centre and angle come
// out exact): their error is as small as the others'.
TEST(EllipseAlgebraic, PointsAtTheEndsOfTheAxesCountLikeAnyOther)
{
    const struct {
        double a, b, cx, cy;
    } ellipses[] = {{3, 2, 5, -7}, {3, 2, 5, 7}, {4, 2, 3, 5}, {2, 1, 1, 1}};
    for (const auto& [a, b, cx, cy] : ellipses) {
        std::vector<zmath_vect> points;
        for (int k = 0; k < 8; ++k) {
            const double t = k * zt::pi / 4;
            points.push_back({k % 4 == 2 ? cx : cx + a * std::cos(t), k % 4 == 0 ? cy : cy + b * std::sin(t)});
        }
        EllipseResult r;
        ASSERT_EQ(fit(points, r), 0);
        EXPECT_LT(r->rmsError, 1e-12) << "every point on the fitted ellipse, centre " << cx << ", " << cy;
    }
}

// Measuring the points in another unit (1e-9 to 1e9) and moving them far
// from the origin (up to 1e5 times the ellipse's size) scales and moves the
// ellipse within 1e-7 of its scaled size, with or without leaving out a
// planted stray point, and scales the error alike. Collinear points fail
// alike everywhere.
TEST(EllipseAlgebraic, ScalingAndMovingThePointsScalesAndMovesTheEllipse)
{
    zt::Rng rng(515);
    for (int trial = 0; trial < 12; ++trial) {
        const Truth t = randomTruth(rng);
        const Points points = spread(rng, t, 14, [&](int i) { return i == 6 ? 0.4 : rng.normal(0.01); });
        const std::vector<zt::Placement> placements = zt::placements(rng, t.size());
        for (int32_t numIgnore : {0, 1}) {
            EllipseResult a;
            ASSERT_EQ(fit(points, a, params(numIgnore)), 0);
            const std::vector<int32_t> left = zt::indices(a->ignoredIndices);
            for (const zt::Placement& at : placements) {
                SCOPED_TRACE(::testing::Message()
                             << "seed 515 trial " << trial << " numIgnore " << numIgnore << " " << at);
                EllipseResult b;
                ASSERT_EQ(fit(at(points), b, params(numIgnore)), 0);
                const zmath_vect centre = at(a->ellipse.center);
                zmath_shapeEllipse expected;
                ASSERT_EQ(zmath_shapeEllipse_init(&expected, &centre, at.scale * a->ellipse.radius1,
                                                  at.scale * a->ellipse.radius2, a->ellipse.angle),
                          0);
                expectSameEllipse(b->ellipse, expected, 1e-7);
                EXPECT_NEAR(b->rmsError, at.scale * a->rmsError, 1e-7 * at.scale * a->rmsError);
                EXPECT_EQ(zt::indices(b->ignoredIndices), left);
            }
        }
    }
    Points line;
    for (int i = 0; i < 8; ++i) line.push_back({0.5 * i, 3.0 - 0.25 * i});
    for (const zt::Placement& at : zt::placements(rng, 2.0)) {
        EllipseResult r;
        EXPECT_EQ(fit(at(line), r), zmath_errDegenerate) << at;
    }
}

// The subset search against a brute-force oracle: every choice of numIgnore
// points to leave out, the kept points fitted by the plain fit. The search
// must find the oracle's best subset, with the planted outliers at the first
// and at the last index, where an enumeration that starts or stops one
// place off would miss them.
TEST(EllipseSubsets, FindTheBestOfEverySubsetWithOutliersAtEitherEnd)
{
    zt::Rng rng(2611);
    for (int trial = 0; trial < 12; ++trial) {
        const Truth t = randomTruth(rng);
        const int n = rng.integer(8, 10), last = n - 1;
        const int32_t numIgnore = trial % 3 == 2 ? 2 : 1;
        const auto stray = [&](int i) {
            return (i == 0 && trial % 3 != 1) || (i == last && trial % 3 != 0) ? 0.3 : rng.normal(0.002);
        };
        const Points points = spread(rng, t, n, stray);
        SCOPED_TRACE(::testing::Message()
                     << "seed 2611 trial " << trial << ", " << n << " points, numIgnore " << numIgnore);
        // The oracle: left-out sets as bit masks, the best and the runner-up error.
        double best = HUGE_VAL, runnerUp = HUGE_VAL;
        std::vector<int32_t> bestLeftOut;
        for (unsigned mask = 0; mask < (1u << n); ++mask) {
            if (std::popcount(mask) != numIgnore) continue;
            Points kept;
            std::vector<int32_t> leftOut;
            for (int i = 0; i < n; ++i) {
                if (mask & (1u << i)) {
                    leftOut.insert(leftOut.begin(), i);  // decreasing
                    continue;
                }
                kept.push_back(points[static_cast<size_t>(i)]);
            }
            EllipseResult plain;
            if (fit(kept, plain) != 0) continue;
            if (plain->rmsError < best) {
                runnerUp = best;
                best = plain->rmsError;
                bestLeftOut = leftOut;
            } else {
                runnerUp = std::min(runnerUp, plain->rmsError);
            }
        }
        ASSERT_GT(runnerUp, 2 * best) << "the oracle's best subset stands out";
        EllipseResult r;
        ASSERT_EQ(fit(points, r, params(numIgnore)), 0);
        EXPECT_EQ(zt::indices(r->ignoredIndices), bestLeftOut) << "the oracle's left-out points, decreasing";
        EXPECT_NEAR(r->rmsError, best, 1e-9 * t.size()) << "the oracle's error";
    }
    // Five points of an ellipse and a copy of the first: leaving out either
    // copy keeps the same points in the same order, an exact tie for the
    // best subset (any other keeps four distinct points, which fit far
    // worse), which the first subset wins.
    for (int trial = 0; trial < 4; ++trial) {
        Points copies = spread(rng, randomTruth(rng), 5);
        copies.push_back(copies.front());
        EllipseResult tie;
        ASSERT_EQ(fit(copies, tie, params(1)), 0);
        EXPECT_EQ(zt::indices(tie->ignoredIndices), std::vector<int32_t>{0}) << "the first of two equal subsets";
    }
}

}  // namespace
