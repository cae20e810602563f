// Point-to-line family: parameters and records, the exported pair record
// (layout, merging, solve, residual), the fits' failures on unsolvable,
// negative-weight and non-finite input, and properties over random affine
// transforms (recovery, noise, the record route against the measured one).
#include <limits>

#include "support.hpp"

namespace {

using Result = zt::Owned<zmath_pointToLineFitResult, zmath_pointToLineFitResult_construct,
                         zmath_pointToLineFitResult_destruct>;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = HUGE_VAL;

zmath_pointToLineFitParams defaults()
{
    zmath_pointToLineFitParams p;
    zmath_pointToLineFitParams_init(&p);
    return p;
}

zmath_shapeFLine lineAt(double angle, double d)
{
    zmath_shapeFLine l;
    zmath_shapeFLine_initAngleDistance(&l, &angle, d);
    return l;
}

// The line of direction `angle` through q.
zmath_shapeFLine lineThrough(const zmath_vect& q, double angle)
{
    return lineAt(angle, -q.x * std::sin(angle) + q.y * std::cos(angle));
}

zmath_vect map(const zmath_xformLinear& t, const zmath_vect& p)
{
    zmath_vect out;
    zmath_xformLinear_mapPoint(&t, &p, &out);
    return out;
}

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
    int32_t count() const { return static_cast<int32_t>(points.size()); }
};

zfit_status fit(const Pairs& s, Result& r, zmath_pointToLineFitParams p = defaults())
{
    return zmath_pointToLineFit(&p, s.points.data(), s.lines.data(), s.count(), r.get());
}

zfit_status fitWeighted(const Pairs& s, Result& r, zmath_pointToLineFitParams p = defaults())
{
    return zmath_pointToLineFitWeighted(&p, s.points.data(), s.lines.data(), s.weights.data(), s.count(), r.get());
}

// Folds pairs [from, to) into a record through the exported building block.
void addTo(zfit_pointLineVals& vals, const Pairs& s, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        const zmath_shapeFLine& l = s.lines[i];
        double d0 = 0.0;
        const zmath_vect origin{0, 0};
        zmath_shapeFLine_distanceFrom(&l, &origin, &d0);
        zmath_pointToLineFitUpdateValsWeighted_(-l.sine, l.cosine, -d0, s.points[i].x, s.points[i].y, s.weights[i],
                                                &vals);
    }
}

zfit_pointLineVals recordOf(const Pairs& s)
{
    zfit_pointLineVals vals;
    zfit_pointLineVals_init_(&vals);
    addTo(vals, s, 0, s.points.size());
    return vals;
}

// Three points not on one line, each with a horizontal and a vertical line
// through a shifted copy of itself: six pairs that fix all six parameters.
Pairs grid(zmath_vect shift = {0, 0})
{
    Pairs s;
    for (const zmath_vect p : {zmath_vect{0, 0}, zmath_vect{4, 1}, zmath_vect{1, 3}}) {
        const zmath_vect q{p.x + shift.x, p.y + shift.y};
        s.add(p, lineThrough(q, 0.0));
        s.add(p, lineThrough(q, zt::pi / 2));
    }
    return s;
}

// A result as left by an earlier fit, to see that failures leave it alone.
zmath_pointToLineFitResult sentinel()
{
    return {1, {{7, 8}, {1, 2, 3, 4}}, 0.25};
}

// Field by field (the record has padding after isValid); bit for bit.
bool same(const zmath_pointToLineFitResult& a, const zmath_pointToLineFitResult& b)
{
    return a.isValid == b.isValid && std::memcmp(&a.xform, &b.xform, sizeof a.xform) == 0 &&
           std::memcmp(&a.rmsError, &b.rmsError, sizeof a.rmsError) == 0;
}

// The RMS distance computed here, from the pairs, for a given transform.
double measured(const Pairs& s, const zmath_xformLinear& t, bool weighted)
{
    double sum = 0.0, total = 0.0;
    for (size_t i = 0; i < s.points.size(); ++i) {
        const zmath_vect q = map(t, s.points[i]);
        const zmath_shapeFLine& l = s.lines[i];
        const double d = l.d + q.x * l.sine - q.y * l.cosine;
        const double w = weighted ? s.weights[i] : 1.0;
        sum += w * d * d;
        total += w;
    }
    return std::sqrt(sum / total);
}

void expectNear(const zmath_xformLinear& t, const zmath_xformLinear& truth, double tolerance, double scale)
{
    EXPECT_NEAR(t.matrix.m00, truth.matrix.m00, tolerance);
    EXPECT_NEAR(t.matrix.m01, truth.matrix.m01, tolerance);
    EXPECT_NEAR(t.matrix.m10, truth.matrix.m10, tolerance);
    EXPECT_NEAR(t.matrix.m11, truth.matrix.m11, tolerance);
    EXPECT_NEAR(t.translation.x, truth.translation.x, tolerance * scale);
    EXPECT_NEAR(t.translation.y, truth.translation.y, tolerance * scale);
}

// A line vector owned by the test.
struct Lines {
    explicit Lines(std::vector<zmath_shapeFLine> lines)
    {
        zstd_vector_zmath_shapeFLine_construct(&v, 0);
        for (const zmath_shapeFLine& l : lines) zstd_vector_zmath_shapeFLine_pushBack(&v, &l);
    }
    ~Lines() { zstd_vector_zmath_shapeFLine_destruct(&v); }
    zstd_vector_zmath_shapeFLine v{};
};

TEST(PointToLineParams, ValidationOrderAndEveryEntryRefusesBeforeTouchingTheResult)
{
    struct Row {
        double maxRmsError;
        int32_t dof;
        zfit_status expected;
    } rows[] = {
        {HUGE_VAL, 6, 0},
        {-1.0, 6, zmath_errFitMaxRmsErrorNegative},
        {-1.0, 5, zmath_errFitMaxRmsErrorNegative},  // maxRmsError is checked first
        {1.0, 5, zmath_errFitBadMode},
        {1.0, 3, zmath_errFitBadMode},
        {-0.0, 6, 0},
        {nan, 6, 0},
    };
    const zmath_pointToLineFitParams init = defaults();
    EXPECT_EQ(init.maxRmsError, HUGE_VAL);
    EXPECT_EQ(init.dof, 6);
    Pairs s = grid();
    s.weights[0] = -1.0;  // the parameters are refused before the weights are looked at
    zt::Points points(s.points);
    Lines lines(s.lines);
    zt::Doubles weights(s.weights);
    for (const Row& row : rows) {
        const zmath_pointToLineFitParams p{row.maxRmsError, row.dof};
        EXPECT_EQ(zmath_pointToLineFitParams_validate(&p), row.expected);
        if (row.expected == 0) continue;
        Result r;
        *r = sentinel();
        EXPECT_EQ(fit(s, r, p), row.expected);
        EXPECT_EQ(fitWeighted(s, r, p), row.expected);
        EXPECT_EQ(zmath_pointToLineFitVector(&p, points.get(), &lines.v, r.get()), row.expected);
        EXPECT_EQ(zmath_pointToLineFitWeightedVector(&p, points.get(), &lines.v, weights.get(), r.get()),
                  row.expected);
        EXPECT_TRUE(same(*r, sentinel())) << "dof " << row.dof;
    }
}

TEST(PointToLineResult, LifeCycle)
{
    zmath_pointToLineFitResult r = sentinel();
    ASSERT_EQ(zmath_pointToLineFitResult_construct(&r), 0);
    const zmath_pointToLineFitResult fresh{0, {{0, 0}, {1, 0, 0, 1}}, 0.0};
    EXPECT_TRUE(same(r, fresh));

    const zmath_pointToLineFitResult source = sentinel();
    ASSERT_EQ(zmath_pointToLineFitResult_assign(&r, &source), 0);
    EXPECT_TRUE(same(r, source));
    ASSERT_EQ(zmath_pointToLineFitResult_assign(&r, &r), 0);
    EXPECT_TRUE(same(r, source));

    zmath_pointToLineFitResult copy;
    ASSERT_EQ(zmath_pointToLineFitResult_constructCopy(&copy, &source), 0);
    EXPECT_TRUE(same(copy, source));
    EXPECT_EQ(zmath_pointToLineFitResult_destruct(&copy), 0);
}

TEST(PointToLineFit, ShiftedGridGivesThePureTranslation)
{
    for (const zmath_vect shift : {zmath_vect{0, 0}, zmath_vect{2.5, -1.25}, zmath_vect{-300, 40}}) {
        Result r;
        ASSERT_EQ(fit(grid(shift), r), 0);
        expectNear(r->xform, {shift, {1, 0, 0, 1}}, 1e-12, 100.0);
        EXPECT_NEAR(r->rmsError, 0.0, 1e-10);
        EXPECT_EQ(r->isValid, 1);
    }
}

TEST(PointToLineFit, VectorEntriesCheckSizesAndAgreeWithTheArrays)
{
    const Pairs s = grid({1, 2});
    zt::Points points(s.points);
    Lines lines(s.lines), shortLines({s.lines.begin(), s.lines.end() - 1});
    zt::Doubles weights(s.weights), shortWeights({s.weights.begin(), s.weights.end() - 1});
    const zmath_pointToLineFitParams p = defaults();
    Result r;
    *r = sentinel();
    EXPECT_EQ(zmath_pointToLineFitVector(&p, points.get(), &shortLines.v, r.get()), zmath_errFitSizeMismatch);
    EXPECT_EQ(zmath_pointToLineFitWeightedVector(&p, points.get(), &shortLines.v, weights.get(), r.get()),
              zmath_errFitSizeMismatch);
    EXPECT_EQ(zmath_pointToLineFitWeightedVector(&p, points.get(), &lines.v, shortWeights.get(), r.get()),
              zmath_errFitSizeMismatch);
    EXPECT_TRUE(same(*r, sentinel()));

    Result a, b, c, d;
    ASSERT_EQ(fit(s, a), 0);
    ASSERT_EQ(fitWeighted(s, b), 0);
    ASSERT_EQ(zmath_pointToLineFitVector(&p, points.get(), &lines.v, c.get()), 0);
    ASSERT_EQ(zmath_pointToLineFitWeightedVector(&p, points.get(), &lines.v, weights.get(), d.get()), 0);
    EXPECT_TRUE(same(*a, *b)) << "unit weights give bit for bit the unweighted fit";
    EXPECT_TRUE(same(*a, *c));
    EXPECT_TRUE(same(*a, *d));
}

TEST(PointToLineRecord, LayoutOfOnePair)
{
    // a = 0.6, b = 0.8, e = 5 at (2, 3): g = (1.2, 1.8, 1.6, 2.4, 0.6, 0.8).
    const double expected[29] = {
        1.44, 4.32, 3.84, 5.76, 1.44, 1.92, 12,  // m00: g0^2, 2 g0 g1..g5, 2 e g0
        3.24, 5.76, 8.64, 2.16, 2.88, 18,        // m01
        2.56, 7.68, 1.92, 2.56, 16,              // m10
        5.76, 2.88, 3.84, 24,                    // m11
        0.36, 0.96, 6,                           // tx
        0.64, 8,                                 // ty
        25, 1};                                  // e^2, weight
    zfit_pointLineVals vals;
    std::memset(&vals, 0x7f, sizeof vals);
    ASSERT_EQ(zfit_pointLineVals_init_(&vals), 0);
    for (double v : vals.values) EXPECT_EQ(v, 0.0);
    ASSERT_EQ(zmath_pointToLineFitUpdateValsWeighted_(0.6, 0.8, 5.0, 2.0, 3.0, 1.0, &vals), 0);
    for (int k = 0; k < 29; ++k) EXPECT_NEAR(vals.values[k], expected[k], 1e-12) << "entry " << k;
    EXPECT_EQ(zfit_pointLineVal_m01m10, 8);
    EXPECT_EQ(zfit_pointLineVal_weight, 28);
}

TEST(PointToLineRecord, WeightsScaleEntriesExactlyAndANegativeWeightTakesAPairOut)
{
    zt::Rng rng(5);
    for (int trial = 0; trial < 50; ++trial) {
        SCOPED_TRACE(trial);
        const double angle = rng.uniform(-zt::pi, zt::pi), e = rng.uniform(-50, 50);
        const double x = rng.uniform(-50, 50), y = rng.uniform(-50, 50);
        zfit_pointLineVals twice, doubled;
        zfit_pointLineVals_init_(&twice);
        zfit_pointLineVals_init_(&doubled);
        zmath_pointToLineFitUpdateValsWeighted_(-std::sin(angle), std::cos(angle), e, x, y, 1.0, &twice);
        zmath_pointToLineFitUpdateValsWeighted_(-std::sin(angle), std::cos(angle), e, x, y, 1.0, &twice);
        zmath_pointToLineFitUpdateValsWeighted_(-std::sin(angle), std::cos(angle), e, x, y, 2.0, &doubled);
        zfit_pointLineVals once;
        zfit_pointLineVals_init_(&once);
        zmath_pointToLineFitUpdateValsWeighted_(-std::sin(angle), std::cos(angle), e, x, y, 1.0, &once);
        zfit_pointLineVals out = once;
        zmath_pointToLineFitUpdateValsWeighted_(-std::sin(angle), std::cos(angle), e, x, y, -1.0, &out);
        for (int k = 0; k < 29; ++k) {
            EXPECT_EQ(twice.values[k], doubled.values[k]) << "entry " << k;
            EXPECT_EQ(out.values[k], 0.0) << "entry " << k;
        }
    }
}

TEST(PointToLineRecord, RmsErrorReferenceValues)
{
    // The origin at distance 3 from y = 3 and 4 from x = -4, under the identity.
    Pairs s;
    s.add({0, 0}, lineAt(0.0, 3.0), 1.0);
    s.add({0, 0}, lineAt(zt::pi / 2, 4.0), 3.0);
    zmath_xformLinear identity;
    zmath_xformLinear_initIdentity(&identity);
    zfit_pointLineVals vals = recordOf(s);
    double error = -1.0;
    ASSERT_EQ(zmath_pointToLineFitRmsError_(&vals, &identity, &error), 0);
    EXPECT_NEAR(error, std::sqrt((9 + 3 * 16) / 4.0), 1e-12);
    s.weights = {1.0, 1.0};
    vals = recordOf(s);
    ASSERT_EQ(zmath_pointToLineFitRmsError_(&vals, &identity, &error), 0);
    EXPECT_NEAR(error, std::sqrt(12.5), 1e-12);
}

TEST(PointToLineRecord, RmsErrorIsNeverNaNAndNeedsAPositiveTotalWeight)
{
    zmath_xformLinear identity;
    zmath_xformLinear_initIdentity(&identity);
    // F = m00^2 - 2 m00 + (1 - 2^-53) is exactly -2^-53 at the identity.
    zfit_pointLineVals vals;
    zfit_pointLineVals_init_(&vals);
    vals.values[zfit_pointLineVal_m00m00] = 1.0;
    vals.values[zfit_pointLineVal_m00] = -2.0;
    vals.values[zfit_pointLineVal_constant] = std::nextafter(1.0, 0.0);
    vals.values[zfit_pointLineVal_weight] = 1.0;
    double error = -1.0;
    ASSERT_EQ(zmath_pointToLineFitRmsError_(&vals, &identity, &error), 0);
    EXPECT_EQ(error, 0.0);

    for (double total : {0.0, -0.0, -2.0, nan}) {
        vals.values[zfit_pointLineVal_weight] = total;
        error = -1.0;
        EXPECT_EQ(zmath_pointToLineFitRmsError_(&vals, &identity, &error), zmath_errFitSolveFailed) << total;
        EXPECT_EQ(error, -1.0) << "error untouched";
    }

    // Exact fits far from the origin: the record's F cancels to rounding noise.
    zt::Rng rng(77);
    for (int trial = 0; trial < 200; ++trial) {
        Pairs s;
        const zmath_vect centre{rng.uniform(-1e4, 1e4), rng.uniform(-1e4, 1e4)};
        for (int i = 0; i < 8; ++i) {
            const zmath_vect p{centre.x + rng.uniform(-10, 10), centre.y + rng.uniform(-10, 10)};
            s.add(p, lineThrough(p, rng.uniform(0, zt::pi)));
        }
        vals = recordOf(s);
        ASSERT_EQ(zmath_pointToLineFitRmsError_(&vals, &identity, &error), 0);
        EXPECT_TRUE(error >= 0.0 && error < 1e-3) << "trial " << trial << " error " << error;
    }
}

TEST(PointToLineRecord, SolveFailuresLeaveTheTransformUntouched)
{
    const zmath_xformLinear before = sentinel().xform;
    zfit_pointLineVals empty;
    zfit_pointLineVals_init_(&empty);
    zmath_xformLinear t = before;
    EXPECT_EQ(zmath_pointToLineFit6Dof_(&empty, &t), zmath_errMatrixSingular);
    EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);

    zfit_pointLineVals vals = recordOf(grid());
    ASSERT_EQ(zmath_pointToLineFit6Dof_(&vals, &t), 0);
    t = before;
    vals.values[zfit_pointLineVal_m01] = nan;  // a right-hand side that solves into NaN
    EXPECT_EQ(zmath_pointToLineFit6Dof_(&vals, &t), zmath_errFitSolveFailed);
    vals.values[zfit_pointLineVal_m01] = 0.0;
    vals.values[zfit_pointLineVal_m10m11] = inf;
    EXPECT_EQ(zmath_pointToLineFit6Dof_(&vals, &t), zmath_errMatrixSingular);
    EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);
}

TEST(PointToLineRecord, AccumulatingAcrossCallsMatchesTheFitBitForBit)
{
    zt::Rng rng(31);
    for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE(trial);
        Pairs s;
        for (int i = 0; i < 40; ++i) {
            const zmath_vect p{rng.uniform(-20, 20), rng.uniform(-20, 20)};
            s.add(p, lineAt(rng.uniform(0, 2 * zt::pi), rng.uniform(-20, 20)), rng.uniform(0.5, 2));
        }
        zfit_pointLineVals halves;
        zfit_pointLineVals_init_(&halves);
        addTo(halves, s, 0, 17);
        addTo(halves, s, 17, 40);
        const zfit_pointLineVals whole = recordOf(s);
        EXPECT_EQ(std::memcmp(&halves, &whole, sizeof whole), 0);

        Result r;
        ASSERT_EQ(fitWeighted(s, r), 0);
        zmath_xformLinear t;
        ASSERT_EQ(zmath_pointToLineFit6Dof_(&halves, &t), 0);
        EXPECT_EQ(std::memcmp(&t, &r->xform, sizeof t), 0) << "the fit solves the same record";
    }
}

// Random affine transform, points around a random centre, and for each point
// two lines of different directions through its image.
struct Scene {
    zmath_xformLinear truth;
    Pairs pairs;
};

Scene randomScene(zt::Rng& rng, double scale, int points, double sigma)
{
    Scene s{};
    double det = 0.0;
    do {
        s.truth.matrix = {rng.uniform(-2, 2), rng.uniform(-2, 2), rng.uniform(-2, 2), rng.uniform(-2, 2)};
        det = s.truth.matrix.m00 * s.truth.matrix.m11 - s.truth.matrix.m01 * s.truth.matrix.m10;
    } while (std::fabs(det) < 0.3);
    s.truth.translation = {rng.uniform(-scale, scale), rng.uniform(-scale, scale)};
    const zmath_vect centre{rng.uniform(-scale, scale), rng.uniform(-scale, scale)};
    for (int i = 0; i < points; ++i) {
        const zmath_vect p{centre.x + rng.uniform(-scale, scale), centre.y + rng.uniform(-scale, scale)};
        const zmath_vect q = map(s.truth, p);
        const double first = rng.uniform(0, zt::pi);
        for (double angle : {first, first + rng.uniform(0.3, zt::pi - 0.3)}) {
            zmath_shapeFLine l = lineThrough(q, angle);
            l.d += rng.normal(sigma * scale);
            s.pairs.add(p, l, rng.uniform(0.1, 3.0));
        }
    }
    return s;
}

TEST(PointToLineProperties, RandomAffineTransformsAreRecovered)
{
    zt::Rng rng(2027);
    for (double scale : {1e-2, 1.0, 1e3}) {
        for (int trial = 0; trial < 100; ++trial) {
            SCOPED_TRACE(::testing::Message() << "scale " << scale << " trial " << trial);
            const Scene s = randomScene(rng, scale, 3 + trial % 10, 0.0);
            for (bool weighted : {false, true}) {
                Result r;
                ASSERT_EQ(weighted ? fitWeighted(s.pairs, r) : fit(s.pairs, r), 0) << "weighted " << weighted;
                expectNear(r->xform, s.truth, 1e-8, scale);
                EXPECT_LT(r->rmsError, 1e-8 * scale);
            }
        }
    }
}

TEST(PointToLineProperties, NoisyFitsReportTheirMeasuredErrorByBothRoutes)
{
    zt::Rng rng(404);
    for (int trial = 0; trial < 100; ++trial) {
        SCOPED_TRACE(trial);
        const double scale = trial % 2 ? 1.0 : 100.0;
        Scene s = randomScene(rng, scale, 30, 0.01);
        for (bool weighted : {false, true}) {
            Result r;
            ASSERT_EQ(weighted ? fitWeighted(s.pairs, r) : fit(s.pairs, r), 0);
            const double direct = measured(s.pairs, r->xform, weighted);
            EXPECT_NEAR(r->rmsError, direct, 1e-12 * direct);
            EXPECT_GT(r->rmsError, 1e-3 * scale) << "the noise leaves a residual";
            Pairs unit = s.pairs;
            if (!weighted) unit.weights.assign(unit.weights.size(), 1.0);
            const zfit_pointLineVals vals = recordOf(unit);
            double error = 0.0;
            ASSERT_EQ(zmath_pointToLineFitRmsError_(&vals, &r->xform, &error), 0);
            EXPECT_NEAR(error, direct, 1e-7 * direct);
        }
        // Scaling every weight changes nothing.
        Result a, b;
        ASSERT_EQ(fitWeighted(s.pairs, a), 0);
        for (double& w : s.pairs.weights) w *= 37.5;
        ASSERT_EQ(fitWeighted(s.pairs, b), 0);
        EXPECT_NEAR(a->xform.matrix.m01, b->xform.matrix.m01, 1e-10);
        EXPECT_NEAR(a->xform.translation.y, b->xform.translation.y, 1e-10 * scale);
        EXPECT_NEAR(a->rmsError, b->rmsError, 1e-10 * a->rmsError);
    }
}

TEST(PointToLineFit, PairsThatDoNotFixTheTransformFailWithTheSolversStatus)
{
    zt::Rng rng(8);
    struct Row {
        const char* what;
        Pairs pairs;
        int32_t count;
    };
    std::vector<Row> rows;
    rows.push_back({"no pairs", {}, 0});
    rows.push_back({"negative count", grid(), -4});
    rows.push_back({"five pairs", grid(), 5});
    Pairs horizontal, parallel, collinear, weightless = grid();
    for (int i = 0; i < 12; ++i) {
        const zmath_vect p{rng.uniform(-5, 5), rng.uniform(-5, 5)};
        horizontal.add(p, lineAt(0.0, rng.uniform(-5, 5)));
        parallel.add(p, lineAt(0.3, rng.uniform(-5, 5)));
        collinear.add({p.x, 2 * p.x + 1}, lineAt(rng.uniform(0, zt::pi), rng.uniform(-5, 5)));
    }
    weightless.weights.assign(weightless.weights.size(), 0.0);
    rows.push_back({"all lines horizontal", horizontal, horizontal.count()});
    rows.push_back({"all lines parallel", parallel, parallel.count()});
    rows.push_back({"all points on one line", collinear, collinear.count()});
    rows.push_back({"all weights 0", weightless, weightless.count()});
    const zmath_pointToLineFitParams p = defaults();
    for (const Row& row : rows) {
        Result r;
        *r = sentinel();  // isValid 1 from an earlier fit: a failure keeps it
        const zfit_status weighted = zmath_pointToLineFitWeighted(
            &p, row.pairs.points.data(), row.pairs.lines.data(), row.pairs.weights.data(), row.count, r.get());
        // The unweighted fit sees unit weights, which solve the weightless grid.
        const zfit_status unweighted =
            row.pairs.weights.empty() || row.pairs.weights[0] != 0.0
                ? zmath_pointToLineFit(&p, row.pairs.points.data(), row.pairs.lines.data(), row.count, r.get())
                : weighted;
        for (zfit_status status : {unweighted, weighted}) {
            EXPECT_TRUE(status == zmath_errMatrixSingular || status == zmath_errMatrixIllConditioned)
                << row.what << ": " << zt::statusName(status);
        }
        EXPECT_TRUE(same(*r, sentinel())) << row.what;
    }
}

TEST(PointToLineFit, NegativeWeightsAreRefusedBeforeAnythingIsSummed)
{
    Result r;
    *r = sentinel();
    Pairs s = grid();
    s.weights[4] = -1e-300;
    s.points[1].x = nan;  // an earlier non-finite pair does not mask the weight
    EXPECT_EQ(fitWeighted(s, r), zmath_errFitWeightNegative);
    EXPECT_TRUE(same(*r, sentinel()));
    s = grid();
    s.add({9, 9}, lineAt(1.0, 2.0), -0.0);
    EXPECT_EQ(fitWeighted(s, r), 0) << "-0.0 is no negative weight";
}

TEST(PointToLineFit, NonFiniteInputIsRefusedWithTheResultUntouched)
{
    struct Field {
        const char* name;
        double& (*at)(Pairs&);
        bool weightedOnly;
    } fields[] = {
        {"x", [](Pairs& s) -> double& { return s.points[2].x; }, false},
        {"y", [](Pairs& s) -> double& { return s.points[5].y; }, false},
        {"d", [](Pairs& s) -> double& { return s.lines[0].d; }, false},
        {"sine", [](Pairs& s) -> double& { return s.lines[3].sine; }, false},
        {"cosine", [](Pairs& s) -> double& { return s.lines[1].cosine; }, false},
        {"weight", [](Pairs& s) -> double& { return s.weights[2]; }, true},
    };
    for (const Field& field : fields) {
        // 1e200 is finite, but its square overflows the sums.
        for (double bad : {nan, inf, -inf, 1e200}) {
            if (field.weightedOnly && bad == 1e200) continue;
            Pairs s = grid();
            field.at(s) = bad;
            Result r;
            *r = sentinel();
            if (!field.weightedOnly) {
                EXPECT_EQ(fit(s, r), zmath_errFitSolveFailed) << field.name << " " << bad;
            }
            const zfit_status expected =
                field.weightedOnly && bad < 0.0 ? zmath_errFitWeightNegative : zmath_errFitSolveFailed;
            EXPECT_EQ(fitWeighted(s, r), expected) << field.name << " " << bad;
            EXPECT_TRUE(same(*r, sentinel())) << field.name << " " << bad;
        }
    }
}

TEST(PointToLineFit, AllocationFailuresLeaveNothingBehind)
{
    const Pairs s = grid({3, 4});
    Result expected;
    ASSERT_EQ(fit(s, expected), 0);
    for (int failAt = 1;; ++failAt) {
        SCOPED_TRACE(failAt);
        ASSERT_LT(failAt, 20);
        Result r;
        *r = sentinel();
        zfit_status status;
        {
            zt::ScopedAllocator failing(failAt);
            status = fit(s, r);
            EXPECT_EQ(failing.outstanding(), 0u);
        }
        if (status == 0) {
            EXPECT_TRUE(same(*r, *expected));
            break;
        }
        EXPECT_EQ(status, zstd_errOutOfMemory);
        EXPECT_TRUE(same(*r, sentinel()));
    }
}

TEST(PointToLineFitDeathTest, MissingArraysAreABrokenPrecondition)
{
    const Pairs s = grid();
    Result r;
    const zmath_pointToLineFitParams p = defaults();
    EXPECT_DEATH(zmath_pointToLineFit(&p, nullptr, s.lines.data(), 6, r.get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToLineFitWeighted(&p, s.points.data(), s.lines.data(), nullptr, 6, r.get()),
                 "broken precondition");
    EXPECT_EQ(zmath_pointToLineFit(&p, nullptr, nullptr, 0, r.get()), zmath_errMatrixSingular)
        << "no arrays are needed for no pairs";
}

}  // namespace
