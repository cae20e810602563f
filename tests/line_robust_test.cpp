// Line fits that discard points: the exhaustive search (numIgnore 1 to 3),
// the ranked-window search (4 and more) and the minimum-zone strip (mode 1).
// Hand-worked cases (windows that cannot be solved, a distance that stays
// negative, a window of one point, the validity limit) and refusals of input
// that leaves nothing to fit (before any poll and any work storage). The
// ranked and minimum-zone searches' answers on random and tied data are
// checked against plain loops in the search reference test, the exhaustive
// search's against the kept points' own line in the line test, their motion
// and scaling there too, their polls and allocations one by one in the
// cancellation and fault-injection tests.
#include <algorithm>
#include <limits>

#include "support.hpp"

namespace {

using zfit::LineResult;
using Indices = std::vector<int32_t>;
using Pts = std::vector<zmath_vect>;

zmath_lineFitParams params(int32_t ignore, int32_t mode = 0, double maxRms = HUGE_VAL)
{
    return {ignore, maxRms, mode};
}
zfit_status fit(const Pts& p, LineResult& r, zmath_lineFitParams q)
{
    return zmath_lineFit(p.data(), static_cast<int32_t>(p.size()), &q, r.get());
}

using zt::offset;

Indices sorted(const zstd_vector32& v)
{
    Indices i = zt::indices(v);
    std::sort(i.begin(), i.end());
    return i;
}

// ---- refusals ------------------------------------------------------------

TEST(LineRobustRefusals, NothingToFitIsDegenerateWithTheResultUntouched)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = HUGE_VAL;
    Pts overflow;  // finite points whose second moments overflow
    for (int k = 0; k < 5; ++k) overflow.push_back({k * 1e154, k == 2 ? 5.8e154 : 5.9e154});
    // (Counts that keep too few points for any window are rows of the search
    // plan test.) stage 0: refused before any poll and any work storage; 1: in the search;
    // 2: the search stops on the first candidate without a direction, though
    // earlier ones were solved, and keeps the best error so far.
    struct Row {
        const char* what;
        Pts points;
        int32_t numIgnore, mode, stage;
    } rows[] = {
        {"exhaustive, NaN", {{0, 0}, {1, nan}, {2, 2}, {3, 3}}, 1, 0, 0},
        {"ranked, -infinity", {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, -inf}, {5, 5}, {6, 6}}, 4, 0, 0},
        {"minimum zone, NaN", {{0, 0}, {nan, 1}, {2, 2}, {3, 3}}, 1, 1, 0},
        {"exhaustive, the moments overflow", overflow, 1, 0, 1},
        {"minimum zone, all points equal", Pts(5, zmath_vect{3, 3}), 1, 1, 1},
        {"minimum zone, one point", {{3, 4}}, 0, 1, 1},
        {"exhaustive, discarding (5, 5) leaves a square", {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {5, 5}}, 1, 0, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LineResult r;
        zt::dirty(*r);
        zt::ScopedAttention attention;
        zt::ScopedAllocator allocator;
        EXPECT_EQ(fit(row.points, r, params(row.numIgnore, row.mode)), zmath_errDegenerate);
        EXPECT_EQ(r->isValid, 1) << "isValid kept";
        EXPECT_EQ(allocator.outstanding(), 0u) << "nothing leaked";
        if (row.stage == 2) {
            EXPECT_LT(r->rmsError, HUGE_VAL) << "the best error so far";
        } else {
            EXPECT_EQ(r->rmsError, HUGE_VAL) << "no error";
            EXPECT_EQ(zt::shapeValues(*r), std::vector<double>(4, zt::kDirtyShape)) << "the line kept";
        }
        EXPECT_EQ(zt::indices(r->ignoredIndices), Indices{zt::kDirtyIndex}) << "indices are written only at the end";
        if (row.stage == 0) {
            EXPECT_EQ(attention.polls(), 0) << "refused before the search";
            // Before the search at most the C-array entry's copy of the points is made.
            EXPECT_LE(allocator.allocations(), 1) << "refused before the search";
        }
    }
}

TEST(LineRobustRefusals, OverflowingPairDirectionsDoNotUpsetTheRanking)
{
    // Differences of points near the top of the range overflow and 0 * inf
    // makes offsets NaN: the ranking must stay an order and the fit end with a status.
    zt::Rng rng(77);
    const double pick[] = {-1.5e308, 1.5e308, 0.0, 1.0, -1e307};
    for (int trial = 0; trial < 20; ++trial) {
        Pts points;
        for (int i = 0; i < 60; ++i) points.push_back({pick[rng.integer(0, 4)], pick[rng.integer(0, 4)]});
        LineResult r;
        const zfit_status status = fit(points, r, params(4));
        if (status != 0) {
            EXPECT_EQ(status, zmath_errDegenerate) << "trial " << trial << ": " << zfit::statusName(status);
        }
        for (int32_t index : zt::indices(r->ignoredIndices)) {
            EXPECT_GE(index, 0) << "trial " << trial;
            EXPECT_LT(index, 60) << "trial " << trial;
        }
    }
}

// ---- hand-worked results ----------------------------------------------------

TEST(LineRobust, HandWorkedResults)
{
    enum Order { Listed, Ascending };  // how the ignored indices are compared
    struct Row {
        const char* what;
        Pts points;
        int32_t numIgnore, mode;
        double angle, d, rmsError;
        Indices ignored;
        Order order;
    } rows[] = {
        // Windows made of the four copies of (0, 5) cannot be solved and are passed over. The
        // first exact window is met at the first pair, (0, 5)-(0, 0): three copies and (0, 0)
        // on the y axis. Its error, measured from the points, is the rounding of cos(pi / 2).
        {"ranked, copies",
         {{0, 5}, {0, 5}, {0, 0}, {0, 5}, {1, 0}, {2, 0}, {0, 5}, {3, 0}},
         4,
         0,
         zt::pi / 2,
         0,
         std::sqrt(3 * (5 * std::cos(zt::pi / 2)) * (5 * std::cos(zt::pi / 2)) / 4),
         {4, 5, 6, 7},
         Ascending},
        {"minimum zone, the distance stays negative", {{0, -3}, {2, -3}, {5, -3}}, 0, 1, 0, -3, 0, {}, Listed},
        // A square: its strips across and along tie, and the first pair in index order, (0, 1),
        // sets the direction whichever side of the hull is met first.
        {"minimum zone, a tie of two sides", {{0, 0}, {0, 1}, {1, 1}, {1, 0}}, 0, 1, zt::pi / 2, -0.5, 0.5, {}, Listed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LineResult r;
        ASSERT_EQ(fit(row.points, r, params(row.numIgnore, row.mode, row.rmsError)), 0);
        EXPECT_EQ(r->isValid, 0) << "an error equal to the limit is not below it";
        ASSERT_EQ(fit(row.points, r, params(row.numIgnore, row.mode, std::nextafter(row.rmsError, HUGE_VAL))), 0);
        EXPECT_EQ(r->isValid, 1) << "the next double up is above the error";
        EXPECT_EQ(r->line.angle, row.angle) << "angle";
        EXPECT_EQ(r->line.d, row.d) << "distance";
        EXPECT_EQ(r->rmsError, row.rmsError) << "error";
        const Indices ignored = row.order == Listed ? zt::indices(r->ignoredIndices) : sorted(r->ignoredIndices);
        EXPECT_EQ(ignored, row.ignored);
    }
}

// More points than the pair directions the search holds at once (about
// 2^21 pairs, some 2050 points): the ranked search takes the first indices
// in blocks, and still leaves out the planted outliers.
TEST(LineRobust, BlocksOfFirstIndicesFindWhatOnePassFinds)
{
    zt::Rng rng(2100);
    Pts points;
    for (int i = 0; i < 2100; ++i) points.push_back({0.01 * i, 0.5 * 0.01 * i + 1 + rng.uniform(-1e-3, 1e-3)});
    const Indices outliers{7, 700, 1400, 2099};
    for (const int32_t k : outliers) points[static_cast<size_t>(k)].y += 5;
    LineResult r;
    ASSERT_EQ(fit(points, r, params(4)), 0);
    EXPECT_EQ(sorted(r->ignoredIndices), outliers) << "the outliers left out";
    EXPECT_NEAR(std::tan(r->line.angle), 0.5, 1e-4) << "the slope";
}

}  // namespace
