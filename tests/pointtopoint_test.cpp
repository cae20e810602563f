// Point-to-point family: validation and records, the entries' input checks,
// hand-worked reference fits, degenerate and non-finite input, and
// properties over random transforms (recovery for every dof, noise, weight
// scaling, zero weights, unit independence).
#include <algorithm>
#include <cfloat>
#include <limits>

#include "support.hpp"

namespace {

using Result = zt::Owned<zmath_pointToPointFitResult, zmath_pointToPointFitResult_construct,
                         zmath_pointToPointFitResult_destruct>;
using Pts = std::vector<zmath_vect>;

constexpr double eps = DBL_EPSILON;
constexpr zfit_status solveFailed = zmath_errFitSolveFailed;

zmath_pointToPointFitParams params(int32_t dof, double maxRmsError = HUGE_VAL)
{
    zmath_pointToPointFitParams p;
    zmath_pointToPointFitParams_init(&p);
    p.dof = dof;
    p.maxRmsError = maxRmsError;
    return p;
}

zfit_status fit(int32_t dof, const Pts& target, const Pts& source, Result& r)
{
    const zmath_pointToPointFitParams p = params(dof);
    return zmath_pointToPointFit(&p, target.data(), source.data(), static_cast<int32_t>(target.size()), r.get());
}

zfit_status fitWeighted(int32_t dof, const Pts& target, const Pts& source, const std::vector<double>& w, Result& r)
{
    const zmath_pointToPointFitParams p = params(dof);
    return zmath_pointToPointFitWeighted(&p, target.data(), source.data(), w.data(),
                                         static_cast<int32_t>(target.size()), r.get());
}

zmath_vect map(const zmath_xformLinear& t, const zmath_vect& p)
{
    zmath_vect out;
    zmath_xformLinear_mapPoint(&t, &p, &out);
    return out;
}

Pts mapAll(const zmath_xformLinear& t, const Pts& points)
{
    Pts out;
    for (const zmath_vect& p : points) out.push_back(map(t, p));
    return out;
}

// RMS distance between the targets and the sources mapped by the transform
// service, weighted when weights are given.
double serviceRms(const zmath_xformLinear& t, const Pts& target, const Pts& source, const std::vector<double>& w)
{
    double sum = 0.0, total = 0.0;
    for (size_t i = 0; i < source.size(); ++i) {
        const zmath_vect m = map(t, source[i]), d{target[i].x - m.x, target[i].y - m.y};
        const double weight = w.empty() ? 1.0 : w[i];
        sum += weight * (d.x * d.x + d.y * d.y);
        total += weight;
    }
    return std::sqrt(sum / total);
}

double det(const zmath_matrix& m) { return m.m00 * m.m11 - m.m01 * m.m10; }

// Largest difference of the matrices, and of the translations.
double matrixGap(const zmath_xformLinear& a, const zmath_xformLinear& b)
{
    return std::max({std::fabs(a.matrix.m00 - b.matrix.m00), std::fabs(a.matrix.m01 - b.matrix.m01),
                     std::fabs(a.matrix.m10 - b.matrix.m10), std::fabs(a.matrix.m11 - b.matrix.m11)});
}
double translationGap(const zmath_xformLinear& a, const zmath_xformLinear& b)
{
    return std::max(std::fabs(a.translation.x - b.translation.x), std::fabs(a.translation.y - b.translation.y));
}

// Field by field and bit for bit (the record has padding after isValid).
bool same(const zmath_pointToPointFitResult& a, const zmath_pointToPointFitResult& b)
{
    return a.isValid == b.isValid && std::memcmp(&a.xform, &b.xform, sizeof a.xform) == 0 &&
           std::memcmp(&a.rmsError, &b.rmsError, sizeof a.rmsError) == 0;
}

// A record as an earlier fit may have left it, to show that failures leave
// every byte alone.
void dirty(Result& r)
{
    r->isValid = 1;
    r->xform = zmath_xformLinear{{7, 8}, {1, 2, 3, 4}};
    r->rmsError = 42.0;
}
bool untouched(Result& r)
{
    Result reference;
    dirty(reference);
    return same(*r, *reference);
}

// ---- records -------------------------------------------------------------------

TEST(PointToPointParams, DefaultsAndValidationOrder)
{
    zmath_pointToPointFitParams p;
    ASSERT_EQ(zmath_pointToPointFitParams_init(&p), 0);
    EXPECT_EQ(p.maxRmsError, HUGE_VAL);
    EXPECT_EQ(p.dof, 6);
    EXPECT_EQ(zmath_pointToPointFitParams_validate(&p), 0);

    struct Row {
        double maxRmsError;
        int32_t dof;
        zfit_status expected;
    } rows[] = {
        {HUGE_VAL, 3, 0}, {HUGE_VAL, 4, 0}, {HUGE_VAL, 5, 0}, {HUGE_VAL, 6, 0},
        {HUGE_VAL, 2, zmath_errFitBadMode}, {HUGE_VAL, 7, zmath_errFitBadMode},
        {1.0, -3, zmath_errFitBadMode},
        {-1.0, 9, zmath_errFitMaxRmsErrorNegative},  // maxRmsError is checked first
        {0.0, 4, 0}, {-0.0, 4, 0}, {NAN, 4, 0},
    };
    const Pts pts{{0, 0}, {1, 0}, {0, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "maxRmsError " << row.maxRmsError << " dof " << row.dof);
        const zmath_pointToPointFitParams q{row.maxRmsError, row.dof};
        EXPECT_EQ(zmath_pointToPointFitParams_validate(&q), row.expected);
        if (row.expected == 0) continue;
        Result r;
        dirty(r);
        EXPECT_EQ(zmath_pointToPointFit(&q, pts.data(), pts.data(), 3, r.get()), row.expected);
        const std::vector<double> w{1, 1, 1};
        EXPECT_EQ(zmath_pointToPointFitWeighted(&q, pts.data(), pts.data(), w.data(), 3, r.get()), row.expected);
        EXPECT_TRUE(untouched(r));
    }
}

TEST(PointToPointResult, LifeCycle)
{
    zmath_pointToPointFitResult r;
    std::memset(&r, 0x5a, sizeof r);
    ASSERT_EQ(zmath_pointToPointFitResult_construct(&r), 0);
    EXPECT_EQ(r.isValid, 0);
    EXPECT_EQ(r.rmsError, 0.0);
    const zmath_xformLinear identity{{0, 0}, {1, 0, 0, 1}};
    EXPECT_EQ(std::memcmp(&r.xform, &identity, sizeof identity), 0);

    Result source;
    dirty(source);
    ASSERT_EQ(zmath_pointToPointFitResult_assign(&r, source.get()), 0);
    EXPECT_TRUE(same(r, *source));
    ASSERT_EQ(zmath_pointToPointFitResult_assign(&r, &r), 0);
    EXPECT_TRUE(same(r, *source)) << "self-assignment changes nothing";

    zmath_pointToPointFitResult copy;
    ASSERT_EQ(zmath_pointToPointFitResult_constructCopy(&copy, source.get()), 0);
    EXPECT_TRUE(same(copy, *source));
    EXPECT_EQ(zmath_pointToPointFitResult_destruct(&copy), 0);
    EXPECT_EQ(zmath_pointToPointFitResult_destruct(&r), 0);

    const zmath_pointToPointFitResult* p = source.get();
    zsys_typeCheck_zmath_pointToPointFitResult(p);
    zsys_typeCheckPtr_zmath_pointToPointFitResult(&p);
    zfit_status (*destruct)(zmath_pointToPointFitResult*) = zmath_pointToPointFitResult_destruct;
    zsys_typeCheckFunc_zmath_pointToPointFitResult(destruct);
    zsys_typeCheckFuncPtr_zmath_pointToPointFitResult(&destruct);
    EXPECT_TRUE(untouched(source));
}

// ---- entries and input checks ----------------------------------------------------

TEST(PointToPointEntries, VectorEntriesCheckSizesFirstAndMatchTheArrayEntries)
{
    const Pts target{{1, 2}, {3, 5}, {-2, 7}, {4, 4}, {0, 1}}, source{{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 3}};
    const std::vector<double> w{1, 2, 0.5, 3, 1};
    zt::Points t(target), s(source), shortSource(Pts(source.begin(), source.end() - 1));
    zt::Doubles weights(w), shortWeights({1, 2, 3, 4});
    for (int32_t dof = 3; dof <= 6; ++dof) {
        SCOPED_TRACE(::testing::Message() << "dof " << dof);
        zmath_pointToPointFitParams p = params(dof);
        Result r;
        dirty(r);
        EXPECT_EQ(zmath_pointToPointFitVector(&p, t.get(), shortSource.get(), r.get()), zmath_errFitSizeMismatch);
        EXPECT_EQ(zmath_pointToPointFitWeightedVector(&p, t.get(), shortSource.get(), weights.get(), r.get()),
                  zmath_errFitSizeMismatch);
        EXPECT_EQ(zmath_pointToPointFitWeightedVector(&p, t.get(), s.get(), shortWeights.get(), r.get()),
                  zmath_errFitSizeMismatch);
        p.dof = 9;
        EXPECT_EQ(zmath_pointToPointFitVector(&p, t.get(), shortSource.get(), r.get()), zmath_errFitSizeMismatch)
            << "sizes are compared before the parameters are validated";
        EXPECT_TRUE(untouched(r));
        p.dof = dof;

        Result byArray, byVector, byArrayW, byVectorW;
        ASSERT_EQ(fit(dof, target, source, byArray), 0);
        ASSERT_EQ(zmath_pointToPointFitVector(&p, t.get(), s.get(), byVector.get()), 0);
        ASSERT_EQ(fitWeighted(dof, target, source, w, byArrayW), 0);
        ASSERT_EQ(zmath_pointToPointFitWeightedVector(&p, t.get(), s.get(), weights.get(), byVectorW.get()), 0);
        EXPECT_TRUE(same(*byArray, *byVector));
        EXPECT_TRUE(same(*byArrayW, *byVectorW));
    }
}

TEST(PointToPointEntries, TooFewPairsAndNoWeight)
{
    // Two pairs fix a similarity and nothing more.
    const Pts source{{0, 0}, {1, 0}}, target{{1, 1}, {1, 3}};
    for (int32_t dof = 3; dof <= 6; ++dof) {
        Result r;
        dirty(r);
        if (dof == 4) {
            ASSERT_EQ(fit(dof, target, source, r), 0);
            // (1, 0) -> (0, 2): a quarter turn with scale 2, then (1, 1).
            EXPECT_NEAR(r->xform.matrix.m00, 0.0, 1e-15);
            EXPECT_NEAR(r->xform.matrix.m10, 2.0, 1e-15);
            EXPECT_NEAR(r->xform.translation.x, 1.0, 1e-15);
            EXPECT_NEAR(r->xform.translation.y, 1.0, 1e-15);
            EXPECT_NEAR(r->rmsError, 0.0, 1e-15);
            continue;
        }
        EXPECT_EQ(fit(dof, target, source, r), solveFailed) << "dof " << dof;
        EXPECT_TRUE(untouched(r)) << "dof " << dof;
    }
    const Pts three{{0, 0}, {1, 0}, {0, 1}};
    for (int32_t dof = 3; dof <= 6; ++dof) {
        Result r;
        dirty(r);
        EXPECT_EQ(fit(dof, {{1, 1}}, {{0, 0}}, r), solveFailed) << "one pair, dof " << dof;
        EXPECT_EQ(fit(dof, {}, {}, r), solveFailed) << "no pairs, dof " << dof;
        EXPECT_EQ(fitWeighted(dof, three, three, {0, 0, 0}, r), solveFailed) << "all weights 0, dof " << dof;
        EXPECT_TRUE(untouched(r));
    }
}

TEST(PointToPointEntries, NegativeCountActsAsNoPairs)
{
    const Pts pts{{0, 0}, {1, 0}, {0, 1}};
    const std::vector<double> w{1, 1, 1};
    Result r;
    dirty(r);
    zmath_pointToPointFitParams p = params(4);
    EXPECT_EQ(zmath_pointToPointFit(&p, pts.data(), pts.data(), -2, r.get()), solveFailed);
    EXPECT_EQ(zmath_pointToPointFitWeighted(&p, pts.data(), pts.data(), w.data(), -2, r.get()), solveFailed);
    EXPECT_EQ(zmath_pointToPointFit(&p, nullptr, nullptr, INT32_MIN, r.get()), solveFailed);
    EXPECT_EQ(zmath_pointToPointFitWeighted(&p, nullptr, nullptr, nullptr, 0, r.get()), solveFailed)
        << "NULL arrays are fine with no pairs";
    EXPECT_TRUE(untouched(r));
}

TEST(PointToPointEntriesDeathTest, NullArrayWithPairsIsABrokenPrecondition)
{
    const Pts pts{{0, 0}, {1, 0}, {0, 1}};
    const std::vector<double> w{1, 1, 1};
    Result r;
    zmath_pointToPointFitParams p = params(6);
    EXPECT_DEATH(zmath_pointToPointFit(&p, nullptr, pts.data(), 3, r.get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToPointFit(&p, pts.data(), nullptr, 3, r.get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToPointFitWeighted(&p, pts.data(), pts.data(), nullptr, 3, r.get()),
                 "broken precondition");
}

TEST(PointToPointEntries, NegativeWeightIsAStatusNotAnAssertion)
{
    const Pts pts{{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    zt::ScopedAssertCounter asserts;
    for (int32_t dof = 3; dof <= 6; ++dof) {
        Result r;
        dirty(r);
        EXPECT_EQ(fitWeighted(dof, pts, pts, {1, 1, -1e-300, 1}, r), zmath_errFitWeightNegative) << "dof " << dof;
        EXPECT_EQ(fitWeighted(dof, pts, pts, {1, NAN, -1, 1}, r), zmath_errFitWeightNegative)
            << "a negative weight is reported whatever else is wrong";
        EXPECT_TRUE(untouched(r));
        ASSERT_EQ(fitWeighted(dof, pts, pts, {1, 1, -0.0, 1}, r), 0) << "-0.0 is not below 0";
    }
    EXPECT_EQ(asserts.count(), 0);
    Result r;
    const zmath_pointToPointFitParams bad = params(8);
    const std::vector<double> w{1, -1, 1, 1};
    EXPECT_EQ(zmath_pointToPointFitWeighted(&bad, pts.data(), pts.data(), w.data(), 4, r.get()),
              zmath_errFitBadMode)
        << "the parameters are validated first";
}

TEST(PointToPointEntries, NonFiniteInputFailsAndLeavesTheRecord)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = HUGE_VAL;
    const Pts good{{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    struct Row {
        const char* what;
        Pts target, source;
        std::vector<double> w;
    } rows[] = {
        {"NaN target", {{0, 0}, {1, nan}, {0, 1}, {1, 1}}, good, {1, 1, 1, 1}},
        {"infinite source", good, {{0, 0}, {1, 0}, {-inf, 1}, {1, 1}}, {1, 1, 1, 1}},
        {"opposite infinities", {{inf, 0}, {-inf, 0}, {0, 1}, {1, 1}}, good, {1, 1, 1, 1}},
        {"NaN on a pair of weight 0", good, {{0, 0}, {1, 0}, {0, nan}, {1, 1}}, {1, 1, 0, 1}},
        {"overflowing square", {{0, 0}, {1e200, 0}, {0, 1}, {1, 1}}, good, {1, 1, 1, 1}},
        {"NaN weight", good, good, {1, nan, 1, 1}},
        {"infinite weight", good, good, {1, inf, 1, 1}},
    };
    for (const Row& row : rows)
        for (int32_t dof = 3; dof <= 6; ++dof) {
            SCOPED_TRACE(::testing::Message() << row.what << ", dof " << dof);
            Result r;
            dirty(r);
            const bool unitWeights = std::all_of(row.w.begin(), row.w.end(), [](double w) { return w == 1.0; });
            if (unitWeights) {
                EXPECT_EQ(fit(dof, row.target, row.source, r), solveFailed);
            }
            EXPECT_EQ(fitWeighted(dof, row.target, row.source, row.w, r), solveFailed);
            EXPECT_TRUE(untouched(r));
        }
}

TEST(PointToPointEntries, FailureKeepsThePreviousFit)
{
    const Pts source{{0, 0}, {1, 0}, {0, 1}}, target{{2, 0}, {3, 0}, {2, 1}};
    Result r;
    ASSERT_EQ(fit(6, target, source, r), 0);
    ASSERT_EQ(r->isValid, 1);
    const zmath_pointToPointFitResult before = *r;
    EXPECT_EQ(fit(6, {{0, 0}, {1, 1}, {2, 2}}, {{0, 0}, {1, 1}, {2, 2}}, r), solveFailed);
    EXPECT_TRUE(same(*r, before));
}

TEST(PointToPointEntries, ValidityIsAStrictOrderedComparison)
{
    const Pts source{{0, 0}, {1, 0}, {0, 1}, {1, 1}}, target{{0, 0}, {1, 0}, {0, 1}, {1, 2}};
    Result r;
    ASSERT_EQ(fit(6, target, source, r), 0);
    ASSERT_EQ(r->rmsError, 0.25);
    const double limits[] = {0.25, std::nextafter(0.25, 1.0), NAN, 0.0, HUGE_VAL};
    const int32_t expected[] = {0, 1, 0, 0, 1};
    for (int k = 0; k < 5; ++k) {
        const zmath_pointToPointFitParams p = params(6, limits[k]);
        ASSERT_EQ(zmath_pointToPointFit(&p, target.data(), source.data(), 4, r.get()), 0);
        EXPECT_EQ(r->isValid, expected[k]) << "maxRmsError " << limits[k];
    }
}

// ---- reference fits worked out by hand ---------------------------------------

// Unit-square corners onto themselves with the last corner raised by 1: the
// residual lies along (1, -1, -1, 1) (the only direction an affine fit of a
// square cannot follow), so each y is off by 1/4 and the fit is
// y' = u/2 + 3v/2 - 1/4. With weights (1, 1, 1, 3) the residual is
// 0.3 (1, -1, -1, 1/3), giving y' = 0.6u + 1.6v - 0.3 and an error
// sqrt(S w r^2 / S w) = sqrt(0.3 / 6).
TEST(PointToPointReference, AffineFitOfARaisedSquareCorner)
{
    const Pts source{{0, 0}, {1, 0}, {0, 1}, {1, 1}}, target{{0, 0}, {1, 0}, {0, 1}, {1, 2}};
    Result r;
    ASSERT_EQ(fit(6, target, source, r), 0);
    const zmath_xformLinear expected{{0, -0.25}, {1, 0, 0.5, 1.5}};
    EXPECT_LE(matrixGap(r->xform, expected), 4 * eps);
    EXPECT_LE(translationGap(r->xform, expected), 4 * eps);
    EXPECT_NEAR(r->rmsError, 0.25, 4 * eps);

    ASSERT_EQ(fitWeighted(6, target, source, {1, 1, 1, 3}, r), 0);
    const zmath_xformLinear weighted{{0, -0.3}, {1, 0, 0.6, 1.6}};
    EXPECT_LE(matrixGap(r->xform, weighted), 8 * eps);
    EXPECT_LE(translationGap(r->xform, weighted), 8 * eps);
    EXPECT_NEAR(r->rmsError, std::sqrt(0.05), 8 * eps);
}

TEST(PointToPointReference, ZeroWeightMakesThreePairsSingular)
{
    Result r;
    dirty(r);
    const Pts source{{0, 0}, {1, 0}, {0, 1}};
    EXPECT_EQ(fitWeighted(6, {{5, 5}, {6, 5}, {5, 9}}, source, {1, 1, 0}, r), solveFailed);
    EXPECT_TRUE(untouched(r));
}

TEST(PointToPointReference, EqualPointsGiveTheIdentity)
{
    const Pts pts{{3, -1}, {4, 2}, {-5, 0.5}, {1, 7}};
    for (int32_t dof = 3; dof <= 6; ++dof) {
        Result r;
        ASSERT_EQ(fit(dof, pts, pts, r), 0);
        const zmath_xformLinear identity{{0, 0}, {1, 0, 0, 1}};
        EXPECT_LE(matrixGap(r->xform, identity), 16 * eps) << "dof " << dof;
        EXPECT_LE(translationGap(r->xform, identity), 64 * eps) << "dof " << dof;
        EXPECT_LE(r->rmsError, 64 * eps) << "dof " << dof;
        EXPECT_EQ(r->isValid, 1);
    }
}

TEST(PointToPointReference, MirroredTargetsTakeTheReflectionOnlyWithThreeDof)
{
    // Mirror in the line y = x (swap coordinates), then move by (10, -4).
    const Pts source{{0, 0}, {2, 0}, {0, 1}, {3, 2}, {-1, 4}};
    Pts target;
    for (const zmath_vect& p : source) target.push_back({p.y + 10, p.x - 4});
    Result r3, r4;
    ASSERT_EQ(fit(3, target, source, r3), 0);
    EXPECT_NEAR(det(r3->xform.matrix), -1.0, 8 * eps);
    const zmath_xformLinear swap{{10, -4}, {0, 1, 1, 0}};
    EXPECT_LE(matrixGap(r3->xform, swap), 8 * eps);
    EXPECT_LE(translationGap(r3->xform, swap), 64 * eps);
    EXPECT_LE(r3->rmsError, 64 * eps);
    ASSERT_EQ(fit(4, target, source, r4), 0);
    EXPECT_GE(det(r4->xform.matrix), 0.0);
    EXPECT_GT(r4->rmsError, 0.5);
}

TEST(PointToPointReference, ThreeDofTieKeepsTheRotation)
{
    // Sources on their own x axis look the same mirrored: both candidates
    // map every point identically, and the proper rotation must win.
    const Pts source{{0, 0}, {1, 0}, {3, 0}, {4, 0}};
    const double c = std::cos(0.5), s = std::sin(0.5);
    const zmath_xformLinear truth{{2, 3}, {c, -s, s, c}};
    Result r;
    ASSERT_EQ(fit(3, mapAll(truth, source), source, r), 0);
    EXPECT_GT(det(r->xform.matrix), 0.0);
    EXPECT_LE(matrixGap(r->xform, truth), 8 * eps);
}

TEST(PointToPointReference, QuarterTurnWithAxisScalesNeedsFiveDof)
{
    // Scale 2 along the source x axis, 3 along y, then a quarter turn.
    const zmath_xformLinear truth{{1, -2}, {0, -3, 2, 0}};
    const Pts source{{0, 0}, {1, 0}, {0, 1}, {2, 3}, {-1, 2}, {4, -1}};
    const Pts target = mapAll(truth, source);
    Result r5, r4;
    ASSERT_EQ(fit(5, target, source, r5), 0);
    EXPECT_LE(matrixGap(r5->xform, truth), 16 * eps);
    EXPECT_LE(translationGap(r5->xform, truth), 64 * eps);
    EXPECT_LE(r5->rmsError, 64 * eps);
    ASSERT_EQ(fit(4, target, source, r4), 0);
    EXPECT_GT(r4->rmsError, 0.1);
}

// ---- degenerate configurations ---------------------------------------------------

TEST(PointToPointDegenerate, RoundingNoiseIsNoSolution)
{
    // Collinear or coincident points at awkward coordinates, where the
    // determinants come out as rounding noise rather than 0.
    zt::Rng rng(99);
    for (int trial = 0; trial < 300; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        const double scale = std::pow(10.0, rng.integer(-6, 6));
        const zmath_vect origin{rng.uniform(-1, 1) * scale, rng.uniform(-1, 1) * scale};
        const double angle = rng.uniform(0, 2 * zt::pi);
        const int n = rng.integer(3, 30);
        Pts line, same, target;
        for (int i = 0; i < n; ++i) {
            const double t = rng.uniform(-1, 1) * scale;
            line.push_back({origin.x + t * std::cos(angle), origin.y + t * std::sin(angle)});
            same.push_back(origin);
            target.push_back({rng.uniform(-1, 1) * scale, rng.uniform(-1, 1) * scale});
        }
        Result r;
        dirty(r);
        EXPECT_EQ(fit(6, target, line, r), solveFailed) << "6 dof, sources on a line";
        EXPECT_EQ(fit(5, target, line, r), solveFailed) << "5 dof, sources on a line";
        EXPECT_EQ(fit(4, target, same, r), solveFailed) << "4 dof, sources at one place";
        EXPECT_EQ(fit(3, target, same, r), solveFailed) << "3 dof, sources at one place";
        EXPECT_EQ(fit(3, same, target, r), solveFailed) << "3 dof, targets at one place";
        EXPECT_TRUE(untouched(r));
        EXPECT_EQ(fit(4, target, line, r), 0) << "a similarity is fixed by a line of sources";
        EXPECT_EQ(fit(3, target, line, r), 0) << "and so is a rotation";
    }
}

// ---- properties over random transforms -------------------------------------------

struct Truth {
    zmath_xformLinear xform;
    bool mirrored;
};

// A random transform of the given dof: angle, scales in [0.5, 2],
// translation up to 1e3, a reflection half of the time for 3 and 5 dof.
Truth randomTransform(zt::Rng& rng, int32_t dof)
{
    const double angle = rng.uniform(-zt::pi, zt::pi), c = std::cos(angle), s = std::sin(angle);
    const zmath_vect t{rng.uniform(-1e3, 1e3), rng.uniform(-1e3, 1e3)};
    const bool mirror = (dof == 3 || dof == 5) && rng.integer(0, 1) == 1;
    const double f = mirror ? -1.0 : 1.0;
    switch (dof) {
    case 3: return {{t, {c, -f * s, s, f * c}}, mirror};
    case 4: {
        const double k = rng.uniform(0.5, 2);
        return {{t, {k * c, -k * s, k * s, k * c}}, false};
    }
    case 5: {
        const double k1 = rng.uniform(0.5, 2), k2 = f * rng.uniform(0.5, 2);
        return {{t, {k1 * c, -k2 * s, k1 * s, k2 * c}}, mirror};
    }
    default:
        return {{t, {rng.uniform(-2, 2), rng.uniform(-2, 2), rng.uniform(-2, 2), rng.uniform(-2, 2)}}, false};
    }
}

// Sources spread over a box of half-width 100 around a centre up to 100
// away from the origin.
Pts randomSources(zt::Rng& rng, int n)
{
    const zmath_vect centre{rng.uniform(-100, 100), rng.uniform(-100, 100)};
    Pts out;
    for (int i = 0; i < n; ++i) out.push_back({centre.x + rng.uniform(-100, 100), centre.y + rng.uniform(-100, 100)});
    return out;
}

TEST(PointToPointProperties, ExactTransformsAreRecoveredForEveryDof)
{
    zt::Rng rng(5150);
    const double dataScale = 1e3;  // the largest coordinates and translations
    const double tol = 1e4 * eps;  // of the matrix, for a random spread of at least six sources
    for (int32_t dof = 3; dof <= 6; ++dof)
        for (int trial = 0; trial < 200; ++trial) {
            SCOPED_TRACE(::testing::Message() << "dof " << dof << " trial " << trial);
            const Truth truth = randomTransform(rng, dof);
            const Pts source = randomSources(rng, rng.integer(6, 40));
            const Pts target = mapAll(truth.xform, source);
            Result r, six, w;
            ASSERT_EQ(fit(dof, target, source, r), 0);
            EXPECT_LE(matrixGap(r->xform, truth.xform), tol);
            EXPECT_LE(translationGap(r->xform, truth.xform), tol * dataScale);
            EXPECT_LE(r->rmsError, tol * dataScale);
            EXPECT_EQ(r->isValid, 1);
            if (dof == 3 || dof == 5) {
                EXPECT_EQ(det(r->xform.matrix) < 0, truth.mirrored);
            }
            if (dof == 5) {
                const zmath_matrix& m = r->xform.matrix;
                EXPECT_LE(std::fabs(m.m00 * m.m01 + m.m10 * m.m11), tol) << "orthogonal columns";
            }
            // The general fit finds the lower-dof transform just as well.
            ASSERT_EQ(fit(6, target, source, six), 0);
            EXPECT_LE(matrixGap(six->xform, truth.xform), tol);
            EXPECT_LE(translationGap(six->xform, truth.xform), tol * dataScale);
            // Any positive weights leave an exact fit exact.
            std::vector<double> weights;
            for (size_t i = 0; i < source.size(); ++i) weights.push_back(rng.uniform(0.1, 10));
            ASSERT_EQ(fitWeighted(dof, target, source, weights, w), 0);
            EXPECT_LE(matrixGap(w->xform, truth.xform), tol);
            EXPECT_LE(translationGap(w->xform, truth.xform), tol * dataScale);
        }
}

TEST(PointToPointProperties, ErrorMatchesTheNoise)
{
    zt::Rng rng(77);
    const double sigma = 0.5;
    for (int32_t dof = 3; dof <= 6; ++dof)
        for (int trial = 0; trial < 20; ++trial) {
            SCOPED_TRACE(::testing::Message() << "dof " << dof << " trial " << trial);
            const Truth truth = randomTransform(rng, dof);
            const Pts source = randomSources(rng, 2000);
            Pts target = mapAll(truth.xform, source);
            double noise = 0.0;
            for (zmath_vect& p : target) {
                const zmath_vect e{rng.normal(sigma), rng.normal(sigma)};
                noise += e.x * e.x + e.y * e.y;
                p = {p.x + e.x, p.y + e.y};
            }
            noise = std::sqrt(noise / static_cast<double>(target.size()));
            Result r, w;
            ASSERT_EQ(fit(dof, target, source, r), 0);
            // The least-squares error cannot exceed the error of the true
            // transform, which is the noise added; a handful of fitted
            // parameters take only a little of it away.
            EXPECT_LE(r->rmsError, noise * (1 + 1e-12));
            EXPECT_GE(r->rmsError, 0.995 * noise);
            EXPECT_NEAR(noise, sigma * std::sqrt(2.0), 0.1 * sigma);
            // The error is the one measured through the transform service.
            std::vector<double> weights;
            for (size_t i = 0; i < source.size(); ++i) weights.push_back(rng.uniform(0.5, 2.0));
            ASSERT_EQ(fitWeighted(dof, target, source, weights, w), 0);
            EXPECT_NEAR(r->rmsError, serviceRms(r->xform, target, source, {}), 1e-12 * r->rmsError);
            EXPECT_NEAR(w->rmsError, serviceRms(w->xform, target, source, weights), 1e-12 * w->rmsError);
            EXPECT_LE(matrixGap(r->xform, truth.xform), 0.01);
            if (dof == 3 || dof == 5) {
                EXPECT_EQ(det(r->xform.matrix) < 0, truth.mirrored);
            }
        }
}

TEST(PointToPointProperties, WeightsActOnlyByTheirRatios)
{
    zt::Rng rng(31337);
    for (int32_t dof = 3; dof <= 6; ++dof)
        for (int trial = 0; trial < 50; ++trial) {
            SCOPED_TRACE(::testing::Message() << "dof " << dof << " trial " << trial);
            const Truth truth = randomTransform(rng, dof);
            const int n = rng.integer(8, 40);
            const Pts source = randomSources(rng, n);
            Pts target = mapAll(truth.xform, source);
            for (zmath_vect& p : target) p = {p.x + rng.normal(2.0), p.y + rng.normal(2.0)};
            std::vector<double> w, scaled, twos(static_cast<size_t>(n), 2.0);
            const double factor = rng.uniform(1e-3, 1e3);
            for (int i = 0; i < n; ++i) w.push_back(i < 4 || rng.integer(0, 3) != 0 ? rng.uniform(0.1, 5) : 0.0);
            for (const double weight : w) scaled.push_back(weight * factor);

            Result a, b, plain, doubled;
            ASSERT_EQ(fitWeighted(dof, target, source, w, a), 0);
            ASSERT_EQ(fitWeighted(dof, target, source, scaled, b), 0);
            EXPECT_LE(matrixGap(a->xform, b->xform), 1e-12);
            EXPECT_LE(translationGap(a->xform, b->xform), 1e-12 * 1e3);
            EXPECT_NEAR(a->rmsError, b->rmsError, 1e-12 * a->rmsError);

            // Weight 2 everywhere is the unweighted fit.
            ASSERT_EQ(fit(dof, target, source, plain), 0);
            ASSERT_EQ(fitWeighted(dof, target, source, twos, doubled), 0);
            EXPECT_LE(matrixGap(plain->xform, doubled->xform), 1e-13);
            EXPECT_LE(translationGap(plain->xform, doubled->xform), 1e-13 * 1e3);
            EXPECT_NEAR(plain->rmsError, doubled->rmsError, 1e-13 * plain->rmsError);

            // A pair of weight 0 is a pair left out.
            Pts keptSource, keptTarget;
            std::vector<double> keptWeights;
            for (size_t i = 0; i < w.size(); ++i)
                if (w[i] != 0.0) {
                    keptSource.push_back(source[i]);
                    keptTarget.push_back(target[i]);
                    keptWeights.push_back(w[i]);
                }
            Result kept;
            ASSERT_EQ(fitWeighted(dof, keptTarget, keptSource, keptWeights, kept), 0);
            EXPECT_LE(matrixGap(a->xform, kept->xform), 1e-10);
            EXPECT_LE(translationGap(a->xform, kept->xform), 1e-10 * 1e3);
            EXPECT_NEAR(a->rmsError, kept->rmsError, 1e-10 * a->rmsError);
        }
}

// The fit must not depend on the unit of the coordinates: the same noisy
// data in metres and in kilometres (or at any other scale) gives the same
// matrix, a scaled translation and a scaled error.
TEST(PointToPointProperties, TheUnitOfTheCoordinatesDoesNotMatter)
{
    zt::Rng rng(4242);
    for (int32_t dof = 3; dof <= 6; ++dof)
        for (int trial = 0; trial < 50; ++trial) {
            SCOPED_TRACE(::testing::Message() << "dof " << dof << " trial " << trial);
            const Truth truth = randomTransform(rng, dof);
            const int n = rng.integer(6, 30);
            Pts source, target;
            for (int i = 0; i < n; ++i) source.push_back({rng.uniform(-10, 10), rng.uniform(-10, 10)});
            zmath_xformLinear small = truth.xform;
            small.translation = {small.translation.x * 1e-2, small.translation.y * 1e-2};
            target = mapAll(small, source);
            for (zmath_vect& p : target) p = {p.x + rng.normal(0.3), p.y + rng.normal(0.3)};
            Result ref;
            ASSERT_EQ(fit(dof, target, source, ref), 0);
            for (const double unit : {1e-3, 1e-12, 1e6}) {
                SCOPED_TRACE(::testing::Message() << "unit " << unit);
                Pts s2, t2;
                for (int i = 0; i < n; ++i) {
                    s2.push_back({source[static_cast<size_t>(i)].x * unit, source[static_cast<size_t>(i)].y * unit});
                    t2.push_back({target[static_cast<size_t>(i)].x * unit, target[static_cast<size_t>(i)].y * unit});
                }
                Result r;
                ASSERT_EQ(fit(dof, t2, s2, r), 0);
                EXPECT_LE(matrixGap(r->xform, ref->xform), 1e-9);
                const zmath_vect t{r->xform.translation.x / unit, r->xform.translation.y / unit};
                EXPECT_NEAR(t.x, ref->xform.translation.x, 1e-9 * 10);
                EXPECT_NEAR(t.y, ref->xform.translation.y, 1e-9 * 10);
                EXPECT_NEAR(r->rmsError / unit, ref->rmsError, 1e-9 * ref->rmsError);
                if (dof == 5) {
                    const zmath_matrix& m = r->xform.matrix;
                    EXPECT_LE(std::fabs(m.m00 * m.m01 + m.m10 * m.m11), 1e-12 * (std::fabs(det(m)) + 1))
                        << "orthogonal columns";
                }
            }
        }
}

}  // namespace
