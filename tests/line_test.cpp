// Line family, least-squares path: validation order, scatter without a
// preferred direction, the convention kept where the sums are taken again,
// and covariance under motion, which holds the error to the points also far
// from the origin. The plain line's values are checked digit by digit in
// the certified test.
#include <algorithm>
#include <utility>

#include "support.hpp"

namespace {

using zfit::LineResult;

zfit_status fit(const std::vector<zmath_vect>& points, LineResult& r, zmath_lineFitParams p = {0, HUGE_VAL, 0})
{
    return zmath_lineFit(points.data(), static_cast<int32_t>(points.size()), &p, r.get());
}

using zt::offset;

TEST(LineParams, ValidationInTheDocumentedOrder)
{
    const zmath_lineFitParams bothBad{-1, -1.0, 0}, ignoreAndModeBad{-1, 1.0, 7};
    EXPECT_EQ(zmath_lineFitParams_validate(&bothBad), zmath_errFitMaxRmsErrorNegative);
    EXPECT_EQ(zmath_lineFitParams_validate(&ignoreAndModeBad), zmath_errFitNumIgnoreNegative);
    // A negative count is no points, but only after the parameters pass; NULL is fine with count 0.
    const zmath_vect p[2] = {{0, 0}, {1, 1}};
    const zmath_lineFitParams badMode{0, HUGE_VAL, 9};
    LineResult r;
    EXPECT_EQ(zmath_lineFit(p, -5, &badMode, r.get()), zmath_errFitBadMode);
    EXPECT_EQ(zmath_lineFit(nullptr, 0, &badMode, r.get()), zmath_errFitBadMode);
}

TEST(LineLeastSquares, NoPreferredDirectionIsDegenerate)
{
    struct Row {
        const char* what;
        std::vector<zmath_vect> points;
    } rows[] = {
        {"square corners", {{0, 0}, {1, 0}, {1, 1}, {0, 1}}},
        {"shifted square (rounding noise is no direction)", {{0.1, 0.3}, {1.1, 0.3}, {1.1, 1.3}, {0.1, 1.3}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LineResult r;
        r->isValid = 1;  // as left by an earlier fit
        const zmath_shapeFLine before = r->line;
        EXPECT_EQ(fit(row.points, r), zmath_errDegenerate);
        EXPECT_EQ(r->rmsError, HUGE_VAL);
        EXPECT_EQ(r->isValid, 1);
        EXPECT_EQ(std::memcmp(&r->line, &before, sizeof before), 0);
    }
    LineResult r;
    EXPECT_EQ(fit({{0, 0}, {1, 0}, {1, 1}, {0, 1.01}}, r), 0) << "a nearly square scatter still fits";
}

// Over a million points, one of them far off the rest: the sums about the
// first point no longer hold the spread's digits, so the fit sums again
// about that point and moves the line back, and two half turns meet there.
// The line keeps the convention all the same: d >= 0, the angle in [0, 2 pi].
TEST(LineLeastSquares, SumsTakenAboutTheFirstPointKeepTheConvention)
{
    std::vector<zmath_vect> points(2000000);
    points[0] = {0, 1e4 + 20};
    for (size_t i = 1; i < points.size(); ++i) {
        const double t = static_cast<double>(i % 1000) * 1e-3 - 0.5;
        points[i] = {t, 20 + 0.3 * t + 1e-4 * static_cast<double>(static_cast<int>(i % 7) - 3)};
    }
    LineResult r;
    ASSERT_EQ(fit(points, r), 0);
    EXPECT_GE(r->line.d, 0.0) << "d >= 0";
    EXPECT_GE(r->line.angle, 0.0) << "the angle in [0, 2 pi]";
    EXPECT_LE(r->line.angle, 2 * zt::pi) << "the angle in [0, 2 pi]";
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

// Discarding one to three points far off (1e3 to 1e5 times the spread of
// the rest) leaves the least-squares line of the points kept, to rounding:
// the search's running sums lose the digits a far point took out of them.
TEST(LineSearch, ThePointsKeptAfterFarOutliersGiveTheirOwnLine)
{
    zt::Rng rng(77);
    for (int trial = 0; trial < 60; ++trial) {
        const int32_t m = 1 + trial % 3;
        NoisyLine l = randomLine(rng, 16, 0.05);
        const double far = std::pow(10.0, 3 + trial % 3) * 100;
        for (int32_t k = 0; k < m; ++k) {
            const double angle = rng.uniform(0, 2 * zt::pi);
            l.points.insert(l.points.begin() + rng.integer(0, static_cast<int>(l.points.size())),
                            {far * std::cos(angle), far * std::sin(angle)});
        }
        SCOPED_TRACE(::testing::Message() << "trial " << trial << ", " << m << " discarded " << far << " away");
        LineResult searched;
        ASSERT_EQ(fit(l.points, searched, {m, HUGE_VAL, 0}), 0);
        std::vector<zmath_vect> kept;
        const std::vector<int32_t> ignored = zt::indices(searched->ignoredIndices);
        for (int32_t i = 0; i < static_cast<int32_t>(l.points.size()); ++i)
            if (std::find(ignored.begin(), ignored.end(), i) == ignored.end()) kept.push_back(l.points[size_t(i)]);
        ASSERT_EQ(kept.size(), size_t{16}) << "the far points discarded";
        LineResult plain;
        ASSERT_EQ(fit(kept, plain), 0);
        EXPECT_NEAR(searched->line.angle, plain->line.angle, 1e-12) << "the kept points' angle";
        EXPECT_NEAR(searched->line.d, plain->line.d, 1e-10) << "the kept points' d";
        EXPECT_NEAR(searched->rmsError, plain->rmsError, 1e-12) << "the kept points' error";
    }
}

// Of candidates that score alike the search keeps the first it meets, in
// the lexicographic order of the discarded indices: a point on a line of
// six is repeated at indices 6 and 7, and discarding either
// copy leaves the same points in the same order.
TEST(LineSearch, OfEqualCandidatesTheFirstIsKept)
{
    const std::vector<zmath_vect> points = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {2, 3}, {2, 3}};
    LineResult one;
    ASSERT_EQ(fit(points, one, {1, HUGE_VAL, 0}), 0);
    EXPECT_EQ(zt::indices(one->ignoredIndices), (std::vector<int32_t>{6})) << "the first copy";
}

// Turning the points, measuring them in another unit (1e-9 to 1e9) and
// moving them far from the origin (up to 1e5 times their spread) turns,
// scales and moves the least-squares, exhaustive and minimum-zone lines:
// points of the first line, moved alike, lie on the second within 1e-7 of
// the points' scaled spread, the error scales with the points and the same
// outliers (two, planted far off) are discarded. The least-squares lines
// keep their convention wherever the points lie: d >= 0, the angle >= 0.
TEST(LineProperties, MovingAndScalingThePointsMovesAndScalesTheLine)
{
    const struct {
        const char* name;
        zmath_lineFitParams params;
    } algorithms[] = {
        {"least squares", {0, HUGE_VAL, 0}}, {"exhaustive", {2, HUGE_VAL, 0}},   {"ranked", {4, HUGE_VAL, 0}},
        {"minimum zone", {2, HUGE_VAL, 1}},  {"straightness", {0, HUGE_VAL, 1}},
    };
    zt::Rng rng(99);
    for (int trial = 0; trial < 8; ++trial) {
        NoisyLine base = randomLine(rng, 30, 0.1);
        for (int k : {3, 17}) base.points[k].y += rng.uniform(20, 60);
        const double turn = rng.uniform(-zt::pi, zt::pi), spread = 100.0;
        const std::vector<zt::Placement> placements = zt::placements(rng, spread);
        for (const auto& [name, params] : algorithms) {
            LineResult a;
            ASSERT_EQ(fit(base.points, a, params), 0) << name;
            const zmath_vect foot{-a->line.sine * a->line.d, a->line.cosine * a->line.d};  // a point of line a
            const zmath_vect along{foot.x + 50 * a->line.cosine, foot.y + 50 * a->line.sine};
            std::vector<int32_t> discarded = zt::indices(a->ignoredIndices);
            std::sort(discarded.begin(), discarded.end());
            for (const zt::Placement& at : placements) {
                SCOPED_TRACE(::testing::Message() << "seed 99 trial " << trial << " " << name << " " << at);
                const double c = std::cos(turn), s = std::sin(turn);
                const auto move = [&](const zmath_vect& p) { return at({c * p.x - s * p.y, s * p.x + c * p.y}); };
                std::vector<zmath_vect> moved;
                for (const zmath_vect& p : base.points) moved.push_back(move(p));
                LineResult b;
                ASSERT_EQ(fit(moved, b, params), 0);
                EXPECT_NEAR(b->rmsError, at.scale * a->rmsError, 1e-7 * at.scale * a->rmsError);
                EXPECT_NEAR(offset(b->line, move(foot)), 0.0, 1e-7 * at.scale * spread);
                EXPECT_NEAR(offset(b->line, move(along)), 0.0, 1e-7 * at.scale * spread);
                if (params.mode == 0) {  // the minimum zone runs along its pair, d of either sign
                    EXPECT_GE(b->line.d, 0.0) << "d >= 0";
                    EXPECT_GE(b->line.angle, 0.0) << "the angle in [0, 2 pi]";
                }
                std::vector<int32_t> same = zt::indices(b->ignoredIndices);
                std::sort(same.begin(), same.end());
                EXPECT_EQ(same, discarded);
            }
        }
    }
}

}  // namespace
