// Point-to-point family: properties over random transforms (recovery for every dof, the fewest pairs and the tie
// rule, noise, weight ratios, zero weights, units). The entries' own
// failures are rows of the bad input test.
#include <cfloat>

#include "support.hpp"

namespace {

using Result = zfit::PointToPointResult;
using Pts = std::vector<zmath_vect>;
using W = std::vector<double>;

constexpr double eps = DBL_EPSILON;
constexpr zfit_status solveFailed = zmath_errFitSolveFailed;

// The array entries: weighted when weights are given.
zfit_status fit(int32_t dof, const Pts& target, const Pts& source, Result& r, const W& w = {},
                double maxRmsError = HUGE_VAL)
{
    const zmath_pointToPointFitParams p{maxRmsError, dof};
    const auto n = static_cast<int32_t>(target.size());
    return w.empty() ? zmath_pointToPointFit(&p, target.data(), source.data(), n, r.get())
                     : zmath_pointToPointFitWeighted(&p, target.data(), source.data(), w.data(), n, r.get());
}

Pts mapAll(const zmath_xformLinear& t, const Pts& points)
{
    Pts out(points.size());
    for (size_t i = 0; i < points.size(); ++i) zmath_xformLinear_mapPoint(&t, &points[i], &out[i]);
    return out;
}

// RMS distance between the targets and the sources mapped by the transform
// service, weighted when weights are given.
double serviceRms(const zmath_xformLinear& t, const Pts& target, const Pts& source, const W& w)
{
    const Pts mapped = mapAll(t, source);
    double sum = 0.0, total = 0.0;
    for (size_t i = 0; i < source.size(); ++i) {
        const double weight = w.empty() ? 1.0 : w[i], dx = target[i].x - mapped[i].x, dy = target[i].y - mapped[i].y;
        sum += weight * (dx * dx + dy * dy), total += weight;
    }
    return std::sqrt(sum / total);
}

double det(const zmath_matrix& m) { return m.m00 * m.m11 - m.m01 * m.m10; }
double columnDot(const zmath_matrix& m) { return m.m00 * m.m01 + m.m10 * m.m11; }

void expectClose(const zmath_xformLinear& a, const zmath_xformLinear& b, double matrixTol, double translationTol)
{
    const zmath_matrix &m = a.matrix, &n = b.matrix;
    EXPECT_LE(std::max({std::fabs(m.m00 - n.m00), std::fabs(m.m01 - n.m01), std::fabs(m.m10 - n.m10),
                        std::fabs(m.m11 - n.m11)}),
              matrixTol);
    EXPECT_LE(std::max(std::fabs(a.translation.x - b.translation.x), std::fabs(a.translation.y - b.translation.y)),
              translationTol);
}

// Transforms within the tolerances and errors within errorTol relative.
void expectClose(Result& a, Result& b, double matrixTol, double translationTol, double errorTol)
{
    expectClose(a->xform, b->xform, matrixTol, translationTol);
    EXPECT_NEAR(a->rmsError, b->rmsError, errorTol * b->rmsError);
}

// ---- properties over random transforms -------------------------------------------

// A random transform of the given dof: angle, scales in [0.5, 2],
// translation up to 1e3, a reflection half of the time for 3 and 5 dof.
zmath_xformLinear randomTransform(zt::Rng& rng, int32_t dof)
{
    const zmath_vect t{rng.uniform(-1e3, 1e3), rng.uniform(-1e3, 1e3)};
    if (dof == 6) return {t, {rng.uniform(-2, 2), rng.uniform(-2, 2), rng.uniform(-2, 2), rng.uniform(-2, 2)}};
    const double angle = rng.uniform(-zt::pi, zt::pi), c = std::cos(angle), s = std::sin(angle);
    const double k1 = dof == 3 ? 1.0 : rng.uniform(0.5, 2), k = dof == 5 ? rng.uniform(0.5, 2) : k1;
    const double k2 = dof % 2 == 1 && rng.integer(0, 1) == 1 ? -k : k;  // the reflection
    return {t, {k1 * c, -k2 * s, k1 * s, k2 * c}};
}

// Sources in a box of half-width 100 around a centre up to 100 away from the
// origin.
Pts randomSources(zt::Rng& rng, int n)
{
    const zmath_vect centre{rng.uniform(-100, 100), rng.uniform(-100, 100)};
    Pts out(static_cast<size_t>(n));
    for (zmath_vect& p : out) p = {centre.x + rng.uniform(-100, 100), centre.y + rng.uniform(-100, 100)};
    return out;
}

TEST(PointToPointProperties, ExactTransformsAreRecoveredForEveryDof)
{
    zt::Rng rng(5150);
    const double tol = 1e4 * eps, dataScale = 1e3;  // matrix tolerance; largest coordinates and translations
    for (int32_t dof = 3; dof <= 6; ++dof)
        for (int trial = 0; trial < 200; ++trial) {
            SCOPED_TRACE(::testing::Message() << "dof " << dof << " trial " << trial);
            const zmath_xformLinear truth = randomTransform(rng, dof);
            const Pts source = randomSources(rng, rng.integer(6, 40)), target = mapAll(truth, source);
            Result r, w;
            ASSERT_EQ(fit(dof, target, source, r), 0);
            EXPECT_LE(r->rmsError, tol * dataScale) << "an exact fit";
            EXPECT_LE(dof == 5 ? std::fabs(columnDot(r->xform.matrix)) : 0.0, tol) << "orthogonal columns";
            // Any positive weights leave an exact fit exact.
            W weights(source.size());
            for (double& x : weights) x = rng.uniform(0.1, 10);
            ASSERT_EQ(fit(dof, target, source, w, weights), 0) << "weighted";
            for (Result* x : {&r, &w}) expectClose((*x)->xform, truth, tol, tol * dataScale);
        }
}

// The boundaries the header draws. Two pairs fix a similarity (4 dof) and
// are too few for every other dof. Sources on the x axis fit a rotation and
// its reflection in that axis equally well, to the last bit: the tie keeps
// the rotation.
TEST(PointToPointProperties, TwoPairsFixASimilarityAndATieKeepsTheRotation)
{
    zt::Rng rng(2626);
    for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE(::testing::Message() << "seed 2626 trial " << trial);
        const zmath_xformLinear similarity = randomTransform(rng, 4);
        const Pts two = randomSources(rng, 2);
        Result r;
        ASSERT_EQ(fit(4, mapAll(similarity, two), two, r), 0) << "two pairs for 4 dof";
        expectClose(r->xform, similarity, 1e4 * eps, 1e7 * eps);
        for (int32_t dof : {3, 5, 6})
            EXPECT_EQ(fit(dof, mapAll(similarity, two), two, r), solveFailed) << "dof " << dof;

        Pts onAxis = randomSources(rng, rng.integer(3, 12));
        for (zmath_vect& p : onAxis) p.y = 0.0;
        Pts target = mapAll(randomTransform(rng, 4), onAxis);
        for (zmath_vect& p : target) p = {p.x + rng.normal(0.5), p.y + rng.normal(0.5)};
        W weights(onAxis.size());
        for (double& w : weights) w = rng.uniform(0.1, 10);
        Result unweighted, weighted;
        ASSERT_EQ(fit(3, target, onAxis, unweighted), 0);
        ASSERT_EQ(fit(3, target, onAxis, weighted, weights), 0);
        EXPECT_GT(det(unweighted->xform.matrix), 0.0) << "the rotation";
        EXPECT_GT(det(weighted->xform.matrix), 0.0) << "the rotation, weighted";
    }
}

TEST(PointToPointProperties, NoisyFits)
{
    zt::Rng rng(77);
    for (int32_t dof = 3; dof <= 6; ++dof)
        for (int trial = 0; trial < 20; ++trial) {
            SCOPED_TRACE(::testing::Message() << "dof " << dof << " trial " << trial);
            const zmath_xformLinear truth = randomTransform(rng, dof);
            const Pts source = randomSources(rng, 2000);
            Pts target = mapAll(truth, source), keptSource, keptTarget;
            for (zmath_vect& p : target) p = {p.x + rng.normal(0.5), p.y + rng.normal(0.5)};
            const double noise = serviceRms(truth, target, source, {}), factor = rng.uniform(1e-3, 1e3);
            W w, scaledW, keptW;
            for (size_t i = 0; i < source.size(); ++i) {
                w.push_back(i < 4 || rng.integer(0, 3) != 0 ? rng.uniform(0.1, 5) : 0.0);
                scaledW.push_back(w.back() * factor);
                if (w.back() == 0.0) continue;
                keptW.push_back(w.back());
                keptSource.push_back(source[i]);
                keptTarget.push_back(target[i]);
            }
            Result r, a, b, kept;
            ASSERT_EQ(fit(dof, target, source, r), 0);
            // The least-squares error cannot exceed the error of the true
            // transform, the noise; a handful of parameters take little away.
            EXPECT_LE(r->rmsError, noise * (1 + 1e-12)) << "never above the true transform's error";
            EXPECT_GE(r->rmsError, 0.995 * noise) << "a few parameters take little of the noise away";
            expectClose(r->xform, truth, 0.01, HUGE_VAL);
            // The error is the one measured through the transform service.
            ASSERT_EQ(fit(dof, target, source, a, w), 0);
            EXPECT_NEAR(r->rmsError, serviceRms(r->xform, target, source, {}), 1e-12 * r->rmsError);
            EXPECT_NEAR(a->rmsError, serviceRms(a->xform, target, source, w), 1e-12 * a->rmsError);
            // Weights act only by their ratios and a pair of weight 0 is a
            // pair left out.
            ASSERT_EQ(fit(dof, target, source, b, scaledW), 0) << "scaled weights";
            ASSERT_EQ(fit(dof, keptTarget, keptSource, kept, keptW), 0) << "the pairs of weight 0 left out";
            expectClose(b, a, 1e-12, 1e-9, 1e-12);
            expectClose(kept, a, 1e-10, 1e-7, 1e-10);
        }
}

// Measuring both point sets in another unit (1e-9 to 1e9) and moving each
// far from the origin (up to 1e5 times their spread, in different
// directions) gives, for every dof, weighted or not, the fit of P(source)
// onto Q(target) as Q T P^-1: the same matrix (within 1e-7), mapping the
// moved sources where Q puts their images under T (within 1e-7 of the
// scaled spread; the translation alone moves with the matrix's rounding
// times the distance from the origin), and the error scales with the data.
// Sources on one line fail alike everywhere.
TEST(PointToPointProperties, ScalingAndMovingThePointsMovesTheTransform)
{
    zt::Rng rng(1789);
    const double spread = 100.0;
    for (int32_t dof = 3; dof <= 6; ++dof)
        for (int trial = 0; trial < 4; ++trial) {
            const zmath_xformLinear truth = randomTransform(rng, dof);
            const Pts source = randomSources(rng, 30);
            Pts target = mapAll(truth, source);
            for (zmath_vect& p : target) p = {p.x + rng.normal(0.5), p.y + rng.normal(0.5)};
            W weights;
            for (size_t i = 0; i < source.size(); ++i) weights.push_back(trial % 2 ? rng.uniform(0.1, 5) : 1.0);
            Result a;
            ASSERT_EQ(fit(dof, target, source, a, weights), 0);
            for (const zt::Placement& targetAt : zt::placements(rng, spread)) {
                const zt::Placement sourceAt{targetAt.scale, {targetAt.shift.y, -targetAt.shift.x}};
                SCOPED_TRACE(::testing::Message() << "seed 1789 dof " << dof << " trial " << trial << " targets "
                                                  << targetAt << ", sources " << sourceAt);
                Result b;
                ASSERT_EQ(fit(dof, targetAt(target), sourceAt(source), b, weights), 0);
                expectClose(b->xform, a->xform, 1e-7, HUGE_VAL);
                const Pts images = mapAll(a->xform, source), moved = mapAll(b->xform, sourceAt(source));
                double farthest = 0.0;
                for (size_t i = 0; i < source.size(); ++i) {
                    const zmath_vect want = targetAt(images[i]);
                    farthest = std::max(farthest, std::hypot(moved[i].x - want.x, moved[i].y - want.y));
                }
                EXPECT_LE(farthest, 1e-7 * targetAt.scale * spread);
                EXPECT_NEAR(b->rmsError, targetAt.scale * a->rmsError, 1e-7 * targetAt.scale * a->rmsError);
                const zmath_matrix& mb = b->xform.matrix;
                EXPECT_LE(dof == 5 ? std::fabs(columnDot(mb)) : 0.0, 1e-12 * (std::fabs(det(mb)) + 1))
                    << "orthogonal columns";
            }
        }
    Pts onLine;
    for (int i = 0; i < 8; ++i) onLine.push_back({0.5 * i, 3.0 - 0.25 * i});
    const Pts target = randomSources(rng, 8);
    for (const zt::Placement& at : zt::placements(rng, 2.0)) {
        Result r;
        EXPECT_EQ(fit(6, at(target), at(onLine), r), solveFailed) << at;
    }
    // Sources on a line along an axis, half of them off it by a unit in the
    // last place: the determinant of their moments is rounding noise,
    // whichever axis they spread along.
    const double onAxis = 0x1.5de6a853bbe91p+5, offAxis = 0x1.5de6a853bbe92p+5;
    const zmath_vect spreadAlong[] = {{onAxis, 0x1.ab37fe2b81f4ap+3},  {offAxis, 0x1.ab309e073289dp+3},
                                      {offAxis, 0x1.ab292a954de2fp+3}, {onAxis, 0x1.ab33c0a690ff4p+3},
                                      {onAxis, 0x1.ab348f2ac8f24p+3},  {offAxis, 0x1.ab28e361511adp+3}};
    for (const bool vertical : {true, false}) {
        Pts nearAxis;
        for (const zmath_vect& p : spreadAlong) nearAxis.push_back(vertical ? p : zmath_vect{p.y, p.x});
        for (const int32_t dof : {5, 6}) {
            Result r;
            EXPECT_EQ(fit(dof, mapAll(randomTransform(rng, 3), nearAxis), nearAxis, r), solveFailed)
                << "dof " << dof << (vertical ? ", vertical" : ", horizontal");
        }
    }
}

}  // namespace
