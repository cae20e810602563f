// Line family: validation, the least-squares path and its documented
// conventions, degenerate and non-finite input, and properties over random
// lines (recovery, covariance under motion, d >= 0).
#include <limits>

#include "support.hpp"

namespace {

using zt::LineResult;
using zt::Points;

zmath_lineFitParams defaults()
{
    zmath_lineFitParams p;
    zmath_lineFitParams_init(&p);
    return p;
}

zfit_status fit(const std::vector<zmath_vect>& points, LineResult& r, zmath_lineFitParams p = defaults())
{
    return zmath_lineFit(points.data(), static_cast<int32_t>(points.size()), &p, r.get());
}

// Signed distance of a point from a line in the library's normal form.
double offset(const zmath_shapeFLine& l, const zmath_vect& p) { return -p.x * l.sine + p.y * l.cosine - l.d; }

TEST(LineParams, ValidationOrder)
{
    struct Row {
        int32_t numIgnore;
        double maxRmsError;
        int32_t mode;
        zfit_status expected;
    } rows[] = {
        {0, HUGE_VAL, 0, 0},
        {-1, -1.0, 0, zmath_errFitMaxRmsErrorNegative},  // maxRmsError is checked first
        {-1, 1.0, 7, zmath_errFitNumIgnoreNegative},
        {0, 1.0, 2, zmath_errFitBadMode},
        {0, -0.0, 1, 0},
        {0, NAN, 0, 0},
    };
    const std::vector<zmath_vect> points{{0, 0}, {1, 1}, {2, 2}};
    for (const Row& row : rows) {
        const zmath_lineFitParams p{row.numIgnore, row.maxRmsError, row.mode};
        EXPECT_EQ(zmath_lineFitParams_validate(&p), row.expected);
        if (row.expected == 0) continue;
        LineResult r;
        r->isValid = 1;
        r->rmsError = 42.0;
        EXPECT_EQ(fit(points, r, p), row.expected);
        EXPECT_EQ(r->isValid, 1) << "result untouched";
        EXPECT_EQ(r->rmsError, 42.0);
    }
}

TEST(LineLeastSquares, DocumentedConventions)
{
    struct Row {
        const char* what;
        std::vector<zmath_vect> points;
        double angle, d;
    } rows[] = {
        {"y = x + 1", {{0, 1}, {1, 2}, {2, 3}}, zt::pi / 4, std::sqrt(0.5)},
        {"y = -2: turned to keep d >= 0", {{-1, -2}, {0, -2}, {3, -2}}, zt::pi, 2.0},
        {"through the origin", {{-1, -1}, {0, 0}, {2, 2}}, zt::pi / 4, 0.0},
        {"vertical x = 3", {{3, 0}, {3, 1}, {3, 5}}, zt::pi / 2 + zt::pi, 3.0},
    };
    for (const Row& row : rows) {
        LineResult r;
        ASSERT_EQ(fit(row.points, r), 0) << row.what;
        EXPECT_NEAR(r->line.angle, row.angle, 1e-12) << row.what;
        EXPECT_NEAR(r->line.d, row.d, 1e-12) << row.what;
        EXPECT_NEAR(r->rmsError, 0.0, 1e-12) << row.what;
        EXPECT_EQ(r->isValid, 1) << row.what;
        EXPECT_EQ(r->ignoredIndices.size, 0) << row.what;
    }
}

TEST(LineLeastSquares, ExactResidualOfThreePoints)
{
    // (0,0), (1,1), (2,0): the line is y = 1/3; distances 1/3, 2/3, 1/3.
    LineResult r;
    ASSERT_EQ(fit({{0, 0}, {1, 1}, {2, 0}}, r), 0);
    EXPECT_NEAR(r->line.d, 1.0 / 3.0, 1e-12);
    EXPECT_NEAR(r->rmsError, std::sqrt((1.0 / 9 + 4.0 / 9 + 1.0 / 9) / 3), 1e-12);
}

TEST(LineLeastSquares, NoPreferredDirectionIsDegenerate)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = HUGE_VAL;
    struct Row {
        const char* what;
        std::vector<zmath_vect> points;
    } rows[] = {
        {"no points", {}},
        {"one point", {{1, 2}}},
        {"equal points", {{0.1, 0.7}, {0.1, 0.7}, {0.1, 0.7}}},
        {"square corners", {{0, 0}, {1, 0}, {1, 1}, {0, 1}}},
        {"shifted square (rounding noise is no direction)", {{0.1, 0.3}, {1.1, 0.3}, {1.1, 1.3}, {0.1, 1.3}}},
        {"NaN coordinate", {{0, 0}, {1, nan}, {2, 2}}},
        {"infinite coordinate", {{0, 0}, {inf, 1}, {2, 2}}},
        {"both infinities", {{-inf, 0}, {inf, 1}, {2, 2}}},
    };
    for (const Row& row : rows) {
        LineResult r;
        r->isValid = 1;  // as left by an earlier fit
        const zmath_shapeFLine before = r->line;
        EXPECT_EQ(fit(row.points, r), zmath_errDegenerate) << row.what;
        EXPECT_EQ(r->rmsError, HUGE_VAL) << row.what;
        EXPECT_EQ(r->isValid, 1) << row.what << ": isValid keeps its value";
        EXPECT_EQ(std::memcmp(&r->line, &before, sizeof before), 0) << row.what << ": line untouched";
    }
}

TEST(LineLeastSquares, NearlySquareStillFits)
{
    LineResult r;
    EXPECT_EQ(fit({{0, 0}, {1, 0}, {1, 1}, {0, 1.01}}, r), 0);
}

TEST(LineLeastSquares, NegativeCountActsAsNoPoints)
{
    const zmath_vect p[2] = {{0, 0}, {1, 1}};
    LineResult r;
    zmath_lineFitParams params = defaults();
    EXPECT_EQ(zmath_lineFit(p, -5, &params, r.get()), zmath_errDegenerate);
    params.mode = 9;
    EXPECT_EQ(zmath_lineFit(p, -5, &params, r.get()), zmath_errFitBadMode) << "validation comes first";
    EXPECT_EQ(zmath_lineFit(nullptr, 0, &params, r.get()), zmath_errFitBadMode) << "NULL is fine with count 0";
}

TEST(LineLeastSquaresDeathTest, NullArrayWithPointsIsABrokenPrecondition)
{
    LineResult r;
    zmath_lineFitParams params = defaults();
    EXPECT_DEATH(zmath_lineFit(nullptr, 3, &params, r.get()), "broken precondition");
}

TEST(LineLeastSquares, ErrorIsMeasuredFromThePointsFarFromTheOrigin)
{
    // Exactly collinear points at offset 1e4: the moments would leave ~1e-4.
    std::vector<zmath_vect> points;
    for (int i = 0; i < 20; ++i) points.push_back({1e4 + i, 1e4 + 2.0 * i});
    LineResult r;
    ASSERT_EQ(fit(points, r), 0);
    EXPECT_LT(r->rmsError, 1e-6);
}

TEST(LineLeastSquares, ValidityIsAStrictOrderedComparison)
{
    const std::vector<zmath_vect> points{{0, 0}, {1, 1}, {2, 0}};
    LineResult r;
    zmath_lineFitParams p = defaults();
    ASSERT_EQ(fit(points, r, p), 0);
    const double rms = r->rmsError;
    p.maxRmsError = rms;
    ASSERT_EQ(fit(points, r, p), 0);
    EXPECT_EQ(r->isValid, 0) << "equality is not below the limit";
    p.maxRmsError = std::nextafter(rms, HUGE_VAL);
    ASSERT_EQ(fit(points, r, p), 0);
    EXPECT_EQ(r->isValid, 1);
    p.maxRmsError = NAN;
    ASSERT_EQ(fit(points, r, p), 0);
    EXPECT_EQ(r->isValid, 0);
    p.maxRmsError = 0.0;
    ASSERT_EQ(fit({{0, 0}, {1, 1}}, r, p), 0);
    EXPECT_EQ(r->isValid, 0) << "no error is below 0";
}

struct NoisyLine {
    std::vector<zmath_vect> points;
    double angle, d, sigma;
};

NoisyLine randomLine(zt::Rng& rng, int n, double sigma)
{
    NoisyLine l{{}, rng.uniform(0, 2 * zt::pi), rng.uniform(-100, 100), sigma};
    const zmath_vect dir{std::cos(l.angle), std::sin(l.angle)}, normal{-dir.y, dir.x};
    for (int i = 0; i < n; ++i) {
        const double t = rng.uniform(-50, 50), e = rng.normal(sigma);
        l.points.push_back({normal.x * l.d + dir.x * t + normal.x * e, normal.y * l.d + dir.y * t + normal.y * e});
    }
    return l;
}

TEST(LineProperties, NoisyLinesAreRecoveredAndTheErrorMatchesTheNoise)
{
    zt::Rng rng(2024);
    for (int trial = 0; trial < 200; ++trial) {
        const NoisyLine truth = randomLine(rng, 400, 0.05);
        LineResult r;
        ASSERT_EQ(fit(truth.points, r), 0);
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " angle " << truth.angle << " d " << truth.d);
        EXPECT_GE(r->line.d, 0.0);
        // Same line: the direction agrees up to sign and d follows the normal's sign.
        const double cross = std::sin(r->line.angle - truth.angle);
        EXPECT_NEAR(cross, 0.0, 1e-3);
        const double sameSense = std::cos(r->line.angle - truth.angle);
        EXPECT_NEAR(r->line.d, sameSense > 0 ? truth.d : -truth.d, 0.05);
        EXPECT_NEAR(r->rmsError, truth.sigma, 0.01);
    }
}

TEST(LineProperties, MovingThePointsMovesTheLine)
{
    zt::Rng rng(99);
    for (int trial = 0; trial < 100; ++trial) {
        const NoisyLine base = randomLine(rng, 50, 0.1);
        const double turn = rng.uniform(-zt::pi, zt::pi);
        const zmath_vect shift{rng.uniform(-1e3, 1e3), rng.uniform(-1e3, 1e3)};
        std::vector<zmath_vect> moved;
        for (const zmath_vect& p : base.points)
            moved.push_back({std::cos(turn) * p.x - std::sin(turn) * p.y + shift.x,
                             std::sin(turn) * p.x + std::cos(turn) * p.y + shift.y});
        LineResult a, b;
        ASSERT_EQ(fit(base.points, a), 0);
        ASSERT_EQ(fit(moved, b), 0);
        SCOPED_TRACE(trial);
        EXPECT_NEAR(a->rmsError, b->rmsError, 1e-9);
        // The moved line is the image of the first: moved points of the first line lie on the second.
        const zmath_vect foot{-a->line.sine * a->line.d, a->line.cosine * a->line.d};  // a point of line a
        const zmath_vect along{foot.x + 10 * a->line.cosine, foot.y + 10 * a->line.sine};
        for (const zmath_vect& p : {foot, along}) {
            const zmath_vect image{std::cos(turn) * p.x - std::sin(turn) * p.y + shift.x,
                                   std::sin(turn) * p.x + std::cos(turn) * p.y + shift.y};
            EXPECT_NEAR(offset(b->line, image), 0.0, 1e-7);
        }
    }
}

}  // namespace
