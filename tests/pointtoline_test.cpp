// Point-to-line family: the exported pair record (layout, solve, residual)
// and properties over random affine transforms (recovery, noise, the record
// route against the measured one, motion, pairs that do not fix the
// transform). Refusals, allocation failures and missing arrays are covered
// for every family by the reliability tests.
#include <limits>

#include "support.hpp"

namespace {

using Result = zfit::PointToLineResult;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = HUGE_VAL;
const zmath_xformLinear identity{{0, 0}, {1, 0, 0, 1}};

using zt::lineAt;
using zt::lineThrough;

struct Pairs {
    std::vector<zmath_vect> points;
    std::vector<zmath_shapeFLine> lines;
    std::vector<double> weights;
    void add(zmath_vect p, zmath_shapeFLine l, double w = 1.0)
    {
        points.push_back(p);
        lines.push_back(l);
        weights.push_back(w);
    }
};

zfit_status fit(const Pairs& s, Result& r, bool weighted)
{
    zmath_pointToLineFitParams p;
    zmath_pointToLineFitParams_init(&p);
    const auto n = static_cast<int32_t>(s.points.size());
    return weighted ? zmath_pointToLineFitWeighted(&p, s.points.data(), s.lines.data(), s.weights.data(), n, r.get())
                    : zmath_pointToLineFit(&p, s.points.data(), s.lines.data(), n, r.get());
}

// Folds the pairs into a fresh record through the exported building block:
// a = -sine, b = cosine, e = -(distance of the origin).
zfit_pointLineVals recordOf(const Pairs& s)
{
    zfit_pointLineVals vals{};
    for (size_t i = 0; i < s.points.size(); ++i) {
        const zmath_shapeFLine& l = s.lines[i];
        zmath_pointToLineFitUpdateValsWeighted_(-l.sine, l.cosine, -l.d, s.points[i].x, s.points[i].y, s.weights[i],
                                                &vals);
    }
    return vals;
}

// Three points not on one line, each with a horizontal and a vertical line
// through itself: six pairs that fix all six parameters.
Pairs grid()
{
    Pairs s;
    for (const zmath_vect p : {zmath_vect{0, 0}, zmath_vect{4, 1}, zmath_vect{1, 3}}) {
        s.add(p, lineThrough(p, 0.0));
        s.add(p, lineThrough(p, zt::pi / 2));
    }
    return s;
}

// A transform as left by an earlier solve, to see that failures leave it alone.
const zmath_xformLinear earlier{{7, 8}, {1, 2, 3, 4}};

// The summed parameter differences (NaN if any is), translations in units of `scale`.
double gap(const zmath_xformLinear& a, const zmath_xformLinear& b, double scale)
{
    return std::fabs(a.matrix.m00 - b.matrix.m00) + std::fabs(a.matrix.m01 - b.matrix.m01) +
           std::fabs(a.matrix.m10 - b.matrix.m10) + std::fabs(a.matrix.m11 - b.matrix.m11) +
           (std::fabs(a.translation.x - b.translation.x) + std::fabs(a.translation.y - b.translation.y)) / scale;
}

TEST(PointToLineRecord, RmsErrorAndSolveRefuseWithoutWriting)
{
    // F = m00^2 - 2 m00 + (1 - 2^-53) is exactly -2^-53 at the identity: it counts as 0.
    double error = -1.0;
    zfit_pointLineVals vals{};
    vals.values[zfit_pointLineVal_m00m00] = 1.0;
    vals.values[zfit_pointLineVal_m00] = -2.0;
    vals.values[zfit_pointLineVal_constant] = std::nextafter(1.0, 0.0);
    vals.values[zfit_pointLineVal_weight] = 1.0;
    ASSERT_EQ(zmath_pointToLineFitRmsError_(&vals, &identity, &error), 0);
    EXPECT_EQ(error, 0.0);
    for (double total : {0.0, -0.0, -2.0, nan}) {
        vals.values[zfit_pointLineVal_weight] = total;
        error = -1.0;
        EXPECT_EQ(zmath_pointToLineFitRmsError_(&vals, &identity, &error), zmath_errFitSolveFailed) << total;
        EXPECT_EQ(error, -1.0) << "error untouched";
    }

    zmath_xformLinear t = earlier;
    vals = recordOf(grid());
    vals.values[zfit_pointLineVal_m01] = nan;  // a right-hand side that solves into NaN
    EXPECT_EQ(zmath_pointToLineFit6Dof_(&vals, &t), zmath_errFitSolveFailed);
    vals.values[zfit_pointLineVal_m01] = 0.0;
    vals.values[zfit_pointLineVal_m10m11] = inf;
    EXPECT_EQ(zmath_pointToLineFit6Dof_(&vals, &t), zmath_errMatrixSingular);
    EXPECT_EQ(zt::shapeValues(t), zt::shapeValues(earlier)) << "the transform is left as it was";
}

// A random affine transform, points around a random centre, and for each
// point two lines of different directions through its image (off by noise).
TEST(PointToLineProperties, RandomTransformsAreRecoveredAndReportTheirMeasuredErrorByBothRoutes)
{
    zt::Rng rng(2027);
    for (double scale : {1e-2, 1.0, 1e3}) {
        for (int trial = 0; trial < 120; ++trial) {
            SCOPED_TRACE(::testing::Message() << "scale " << scale << " trial " << trial);
            const double sigma = trial % 2 ? 0.01 : 0.0;
            zmath_xformLinear truth;
            zmath_matrix& m = truth.matrix;
            do {
                m = {rng.uniform(-2, 2), rng.uniform(-2, 2), rng.uniform(-2, 2), rng.uniform(-2, 2)};
            } while (std::fabs(m.m00 * m.m11 - m.m01 * m.m10) < 0.3);
            truth.translation = {rng.uniform(-scale, scale), rng.uniform(-scale, scale)};
            const zmath_vect centre{rng.uniform(-scale, scale), rng.uniform(-scale, scale)};
            Pairs s;
            for (int i = 0, n = sigma ? 30 : 4 + trial % 9; i < n; ++i) {
                const zmath_vect p{centre.x + rng.uniform(-scale, scale), centre.y + rng.uniform(-scale, scale)};
                zmath_vect q;
                zmath_xformLinear_mapPoint(&truth, &p, &q);
                const double first = rng.uniform(0, zt::pi);
                for (double angle : {first, first + rng.uniform(0.3, zt::pi - 0.3)}) {
                    zmath_shapeFLine l = lineThrough(q, angle);
                    l.d += rng.normal(sigma * scale);
                    s.add(p, l, rng.uniform(0.1, 3.0));
                }
            }
            for (bool weighted : {false, true}) {
                Result r;
                ASSERT_EQ(fit(s, r, weighted), 0) << "weighted " << weighted;
                double sum = 0.0, total = 0.0;  // the RMS distance measured here
                for (size_t i = 0; i < s.points.size(); ++i) {
                    zmath_vect q;
                    zmath_xformLinear_mapPoint(&r->xform, &s.points[i], &q);
                    const double d = s.lines[i].d + q.x * s.lines[i].sine - q.y * s.lines[i].cosine;
                    sum += (weighted ? s.weights[i] : 1.0) * d * d;
                    total += weighted ? s.weights[i] : 1.0;
                }
                const double direct = std::sqrt(sum / total);
                Pairs unit = s;
                if (!weighted) unit.weights.assign(unit.weights.size(), 1.0);
                const zfit_pointLineVals vals = recordOf(unit);
                zmath_xformLinear t;
                ASSERT_EQ(zmath_pointToLineFit6Dof_(&vals, &t), 0);
                EXPECT_LT(gap(t, r->xform, scale), 1e-9) << "the raw record solves into the fit, up to rounding";
                double error = -1.0;
                ASSERT_EQ(zmath_pointToLineFitRmsError_(&vals, &r->xform, &error), 0);
                if (sigma == 0.0) {
                    EXPECT_LT(gap(r->xform, truth, scale), 1e-8);
                    EXPECT_LT(r->rmsError, 1e-8 * scale);
                    EXPECT_GE(error, 0.0) << "rounding noise, never negative nor NaN";
                    EXPECT_LT(error, 1e-5 * scale) << "rounding noise";
                } else {
                    EXPECT_NEAR(r->rmsError, direct, 1e-12 * direct);
                    EXPECT_NEAR(error, direct, 1e-7 * direct);
                }
            }
        }
    }
}

// Line l moved with the plane: p -> scale * p + shift.
zmath_shapeFLine placed(const zt::Placement& at, const zmath_shapeFLine& l)
{
    return lineAt(l.angle, at.scale * l.d - at.shift.x * l.sine + at.shift.y * l.cosine);
}

// Measuring the points and the lines in another unit (1e-9 to 1e9) and
// moving each far from the origin (up to 1e5 times the points' spread, the
// lines in another direction) gives, weighted or not, the fit of P(point)
// onto Q(line) as Q T P^-1: the same matrix (within 1e-7), mapping the moved
// points where Q puts their images under T (within 1e-7 of the scaled
// spread), and an error scaled with the data. Pairs whose points all lie on
// one line are refused everywhere: as singular where the arithmetic stays
// exact, as ill-conditioned where moving the points rounded them.
TEST(PointToLineProperties, ScalingAndMovingPointsAndLinesMovesTheTransform)
{
    zt::Rng rng(4000);
    const double spread = 25.0;  // half the width of the patch the points come from
    for (int trial = 0; trial < 8; ++trial) {
        const bool weighted = trial % 2 == 1;
        const zmath_matrix m{rng.uniform(0.5, 2), rng.uniform(-0.5, 0.5), rng.uniform(-0.5, 0.5), rng.uniform(0.5, 2)};
        const zmath_xformLinear truth{{rng.uniform(-50, 50), rng.uniform(-50, 50)}, m};
        Pairs s;
        for (int i = 0; i < 40; ++i) {
            const zmath_vect p{rng.uniform(-spread, spread), rng.uniform(-spread, spread)};
            zmath_vect q;
            zmath_xformLinear_mapPoint(&truth, &p, &q);
            zmath_shapeFLine l = lineThrough(q, rng.uniform(0, zt::pi));
            l.d += rng.normal(0.05);
            s.add(p, l, rng.uniform(0.1, 3.0));
        }
        Result a;
        ASSERT_EQ(fit(s, a, weighted), 0);
        for (const zt::Placement& pointsAt : zt::placements(rng, spread)) {
            const zt::Placement linesAt{pointsAt.scale, {pointsAt.shift.y, -pointsAt.shift.x}};
            SCOPED_TRACE(::testing::Message()
                         << "seed 4000 trial " << trial << " points " << pointsAt << ", lines " << linesAt);
            Pairs moved;
            for (size_t i = 0; i < s.points.size(); ++i)
                moved.add(pointsAt(s.points[i]), placed(linesAt, s.lines[i]), s.weights[i]);
            Result b;
            ASSERT_EQ(fit(moved, b, weighted), 0);
            const zmath_matrix &ma = a->xform.matrix, &mb = b->xform.matrix;
            EXPECT_NEAR(mb.m00, ma.m00, 1e-7);
            EXPECT_NEAR(mb.m01, ma.m01, 1e-7);
            EXPECT_NEAR(mb.m10, ma.m10, 1e-7);
            EXPECT_NEAR(mb.m11, ma.m11, 1e-7);
            double farthest = 0.0;
            for (size_t i = 0; i < s.points.size(); ++i) {
                zmath_vect image, mapped;
                zmath_xformLinear_mapPoint(&a->xform, &s.points[i], &image);
                zmath_xformLinear_mapPoint(&b->xform, &moved.points[i], &mapped);
                const zmath_vect want = linesAt(image);
                farthest = std::max(farthest, std::hypot(mapped.x - want.x, mapped.y - want.y));
            }
            EXPECT_LE(farthest, 1e-7 * pointsAt.scale * spread);
            EXPECT_NEAR(b->rmsError, pointsAt.scale * a->rmsError, 1e-7 * pointsAt.scale * a->rmsError);
        }
    }
    Pairs onOneLine;
    for (int i = 0; i < 8; ++i) {
        const zmath_vect p{0.5 * i, 3.0 - 0.25 * i};
        onOneLine.add(p, lineThrough(p, i % 2 ? 0.0 : zt::pi / 2));
    }
    const auto refused = [](zfit_status s) {
        return s == zmath_errMatrixSingular || s == zmath_errMatrixIllConditioned;
    };
    Result base;
    const zfit_status atOrigin = fit(onOneLine, base, false);
    EXPECT_TRUE(refused(atOrigin)) << zfit::statusName(atOrigin);
    for (const zt::Placement& at : zt::placements(rng, 2.0)) {
        Pairs moved;
        for (size_t i = 0; i < onOneLine.points.size(); ++i)
            moved.add(at(onOneLine.points[i]), placed(at, onOneLine.lines[i]));
        Result r;
        const zfit_status status = fit(moved, r, false);
        EXPECT_TRUE(refused(status)) << at << ": " << zfit::statusName(status);
    }
}

}  // namespace
