// Line fits that discard points: the exhaustive search (numIgnore 1 to 3),
// the ranked-window search (4 and more) and the minimum-zone strip (mode 1).
// Hand-worked cases for tie-breaks and index order, refusals of input that
// leaves nothing to fit, cancellation and allocation failures, and
// properties over random lines with outliers.
#include <algorithm>
#include <bit>
#include <limits>

#include "support.hpp"

namespace {

using zt::LineResult;

zmath_lineFitParams params(int32_t numIgnore, int32_t mode = 0, double maxRmsError = HUGE_VAL)
{
    zmath_lineFitParams p;
    zmath_lineFitParams_init(&p);
    p.numIgnore = numIgnore;
    p.mode = mode;
    p.maxRmsError = maxRmsError;
    return p;
}

zfit_status fit(const std::vector<zmath_vect>& points, LineResult& r, const zmath_lineFitParams& p)
{
    return zmath_lineFit(points.data(), static_cast<int32_t>(points.size()), &p, r.get());
}

// Signed distance of a point from a line in the library's normal form.
double offset(const zmath_shapeFLine& l, const zmath_vect& p) { return -p.x * l.sine + p.y * l.cosine - l.d; }

bool sameBits(const zmath_shapeFLine& a, const zmath_shapeFLine& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A result as an earlier fit might have left it.
void preset(LineResult& r)
{
    const double angle = 0.25;
    zmath_shapeFLine_initAngleDistance(&r->line, &angle, 7.0);
    r->isValid = 1;
    r->rmsError = 42.0;
    const int32_t sentinel = 99;
    zstd_vector32_resize(&r->ignoredIndices, 0);
    zstd_vector32_pushBack(&r->ignoredIndices, &sentinel);
}

// ---- refusals ------------------------------------------------------------

TEST(LineRobustRefusals, NothingLeftToFitIsDegenerateWithTheResultUntouched)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = HUGE_VAL;
    const std::vector<zmath_vect> line6{{0, 0}, {1, 1}, {2, 2.1}, {3, 3}, {4, 4.2}, {5, 5}};
    struct Row {
        const char* what;
        std::vector<zmath_vect> points;
        int32_t numIgnore, mode;
    } rows[] = {
        {"exhaustive, fewer points than discarded", {{0, 0}, {1, 1}}, 3, 0},
        {"exhaustive, no points", {}, 1, 0},
        {"exhaustive, NaN", {{0, 0}, {1, nan}, {2, 2}, {3, 3}}, 1, 0},
        {"exhaustive, infinity", {{0, 0}, {1, 1}, {inf, 2}, {3, 3}, {4, 4}}, 2, 0},
        {"ranked, as many points as discarded", {{0, 0}, {1, 1}, {2, 3}, {5, 1}}, 4, 0},
        {"ranked, fewer points than discarded", {{0, 0}, {1, 1}}, 6, 0},
        {"ranked, no points", {}, 4, 0},
        {"ranked, NaN", {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {nan, nan}, {5, 5}, {6, 6}}, 4, 0},
        {"ranked, -infinity", {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, -inf}, {5, 5}, {6, 6}}, 4, 0},
        {"minimum zone, as many points as discarded", {{0, 0}, {1, 1}}, 2, 1},
        {"minimum zone, no points", {}, 0, 1},
        {"minimum zone, infinity", {{0, 0}, {1, 1}, {2, inf}}, 0, 1},
        {"minimum zone, NaN", {{0, 0}, {nan, 1}, {2, 2}, {3, 3}}, 1, 1},
    };
    for (const Row& row : rows) {
        LineResult r;
        preset(r);
        const zmath_shapeFLine before = r->line;
        zt::ScopedAttention attention;
        zt::ScopedAllocator allocator;
        EXPECT_EQ(fit(row.points, r, params(row.numIgnore, row.mode)), zmath_errDegenerate) << row.what;
        EXPECT_EQ(r->rmsError, HUGE_VAL) << row.what;
        EXPECT_EQ(r->isValid, 1) << row.what << ": isValid keeps its value";
        EXPECT_TRUE(sameBits(r->line, before)) << row.what << ": line untouched";
        EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{99}) << row.what << ": indices untouched";
        EXPECT_EQ(attention.polls(), 0) << row.what << ": refused before the search";
        // The C-array entry's copy of the points is the only storage made.
        EXPECT_LE(allocator.allocations(), 1) << row.what << ": refused before any work storage";
        EXPECT_EQ(allocator.outstanding(), 0u) << row.what;
    }
}

TEST(LineRobustRefusals, SearchesThatSolveNoWindowAreDegenerate)
{
    struct Row {
        const char* what;
        std::vector<zmath_vect> points;
        int32_t numIgnore, mode;
    } rows[] = {
        {"exhaustive, one point would be kept", {{0, 0}, {1, 1}}, 1, 0},
        {"exhaustive, nothing kept", {{0, 0}, {1, 1}, {2, 3}}, 3, 0},
        {"ranked, all points equal", std::vector<zmath_vect>(8, zmath_vect{1.5, -2}), 4, 0},
        {"ranked, windows of one point", {{0, 0}, {1, 1}, {2, 3}, {5, 1}, {7, 7}}, 4, 0},
        {"minimum zone, all points equal", std::vector<zmath_vect>(5, zmath_vect{3, 3}), 1, 1},
        {"minimum zone, one point", {{3, 4}}, 0, 1},
    };
    for (const Row& row : rows) {
        LineResult r;
        preset(r);
        const zmath_shapeFLine before = r->line;
        zt::ScopedAllocator allocator;
        EXPECT_EQ(fit(row.points, r, params(row.numIgnore, row.mode)), zmath_errDegenerate) << row.what;
        EXPECT_EQ(r->rmsError, HUGE_VAL) << row.what;
        EXPECT_TRUE(sameBits(r->line, before)) << row.what;
        EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{99}) << row.what;
        EXPECT_EQ(allocator.outstanding(), 0u) << row.what << ": work storage released";
    }
}

TEST(LineRobustRefusals, ExhaustiveEndsOnTheFirstCandidateWithoutADirection)
{
    // Discarding (5, 5) leaves a square's corners: the search stops there,
    // though earlier candidates were solved.
    LineResult r;
    preset(r);
    EXPECT_EQ(fit({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {5, 5}}, r, params(1)), zmath_errDegenerate);
    EXPECT_LT(r->rmsError, HUGE_VAL) << "the best candidate before the stop";
    EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{99}) << "indices are written only at the end";
    EXPECT_EQ(r->isValid, 1);
}

TEST(LineRobustRefusals, ExhaustiveWithEveryCandidateErrorOverflowingIsDegenerate)
{
    // Finite points whose candidate lines solve but whose moment read-back
    // overflows to infinity: no candidate can win, so there is no line to
    // report (rather than a success with the previous line).
    std::vector<zmath_vect> points;
    for (int k = 0; k < 5; ++k) points.push_back({k * 1e153, 5.9e153});
    points[2].y = 5.8e153;
    for (int32_t m : {1, 2}) {
        LineResult r;
        preset(r);
        const zmath_shapeFLine before = r->line;
        EXPECT_EQ(fit(points, r, params(m)), zmath_errDegenerate) << "m " << m;
        EXPECT_EQ(r->rmsError, HUGE_VAL) << "m " << m;
        EXPECT_TRUE(sameBits(r->line, before)) << "m " << m;
        EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{99}) << "m " << m;
    }
}

TEST(LineRobustRefusals, OverflowingPairDirectionsDoNotUpsetTheRanking)
{
    // Finite coordinates near the top of the range: the difference of two
    // points overflows, and 0 * infinity makes offsets NaN. The ranking must
    // stay a proper order (no crash, no read outside the points) and the fit
    // must end with a status.
    zt::Rng rng(77);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<zmath_vect> points;
        for (int i = 0; i < 60; ++i) {
            const double pick[] = {-1.5e308, 1.5e308, 0.0, 1.0, -1e307};
            points.push_back({pick[rng.integer(0, 4)], pick[rng.integer(0, 4)]});
        }
        LineResult r;
        zt::ScopedAllocator allocator;
        const zfit_status status = fit(points, r, params(4));
        EXPECT_TRUE(status == 0 || status == zmath_errDegenerate) << "trial " << trial << ": " << zt::statusName(status);
        for (int32_t index : zt::indices(r->ignoredIndices)) {
            EXPECT_GE(index, 0) << "trial " << trial;
            EXPECT_LT(index, 60) << "trial " << trial;
        }
        EXPECT_EQ(allocator.outstanding(), 0u);
    }
}

TEST(LineRobustRefusals, RankedSkipsWindowsWithoutADirection)
{
    // Four copies of one point and four collinear points: windows made of the
    // copies cannot be solved and are passed over.
    const std::vector<zmath_vect> points{{0, 5}, {0, 5}, {0, 0}, {0, 5}, {1, 0}, {2, 0}, {0, 5}, {3, 0}};
    LineResult r;
    ASSERT_EQ(fit(points, r, params(4)), 0);
    EXPECT_NEAR(r->rmsError, 0.0, 1e-12);
    std::vector<int32_t> ignored = zt::indices(r->ignoredIndices);
    std::sort(ignored.begin(), ignored.end());
    EXPECT_EQ(ignored, (std::vector<int32_t>{0, 1, 3, 6}));
    EXPECT_NEAR(std::fabs(r->line.sine), 0.0, 1e-12);
    EXPECT_NEAR(r->line.d, 0.0, 1e-12);
}

// ---- hand-worked results ----------------------------------------------------

TEST(LineExhaustive, OneOutlierAnywhereIsFound)
{
    for (int position = 0; position < 8; ++position) {
        std::vector<zmath_vect> points;
        for (int i = 0; i < 7; ++i) points.push_back({static_cast<double>(i), 0.5 * i + 1.0});
        points.insert(points.begin() + position, zmath_vect{3.0, 40.0});
        LineResult r;
        ASSERT_EQ(fit(points, r, params(1)), 0) << "position " << position;
        EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{position});
        EXPECT_NEAR(r->rmsError, 0.0, 1e-12) << "position " << position;
        EXPECT_EQ(r->isValid, 1);
    }
}

TEST(LineExhaustive, TwoOutliersAtBothEnds)
{
    std::vector<zmath_vect> points{{0, 30}};
    for (int i = 0; i < 6; ++i) points.push_back({static_cast<double>(i), -2.0 * i});
    points.push_back({2, -50});
    LineResult r;
    ASSERT_EQ(fit(points, r, params(2)), 0);
    EXPECT_EQ(zt::indices(r->ignoredIndices), (std::vector<int32_t>{0, 7}));
}

TEST(LineExhaustive, EqualErrorsKeepTheFirstChoiceInLexicographicOrder)
{
    // Dropping (5, 5) and any one of the four points on y = 0 leaves three
    // collinear points with an error of exactly 0: {0, 3} comes first.
    LineResult r;
    ASSERT_EQ(fit({{0, 0}, {1, 0}, {2, 0}, {5, 5}, {3, 0}}, r, params(2)), 0);
    EXPECT_EQ(zt::indices(r->ignoredIndices), (std::vector<int32_t>{0, 3}));
    EXPECT_EQ(r->line.angle, 0.0);
    EXPECT_EQ(r->line.d, 0.0);
    EXPECT_EQ(r->rmsError, 0.0);

    // Three and three on two horizontal lines, both fitted exactly: {0, 3, 5}
    // leaves y = 0 and comes before {1, 2, 4}, which leaves y = 4.
    ASSERT_EQ(fit({{0, 4}, {0, 0}, {1, 0}, {1, 4}, {2, 0}, {2, 4}}, r, params(3)), 0);
    EXPECT_EQ(zt::indices(r->ignoredIndices), (std::vector<int32_t>{0, 3, 5}));
    EXPECT_EQ(r->line.angle, 0.0);
    EXPECT_EQ(r->line.d, 0.0);
    EXPECT_EQ(r->rmsError, 0.0);
}

TEST(LineRobust, ErrorIsMeasuredFromTheKeptPoints)
{
    // Exactly collinear points far from the origin and four far below: the
    // moments would leave an error of about 1e-4, the kept points give ~0.
    std::vector<zmath_vect> points;
    for (int i = 0; i < 16; ++i) points.push_back({1e4 + i, 1e4 + 2.0 * i});
    for (int i = 0; i < 4; ++i) points.push_back({1e4 + 3 * i, 1e4 - 500.0 * (i + 1)});
    for (int32_t m = 1; m <= 4; ++m) {  // exhaustive, then the ranked window
        std::vector<zmath_vect> some(points.begin(), points.end() - (4 - m));
        LineResult r;
        ASSERT_EQ(fit(some, r, params(m)), 0) << "m " << m;
        EXPECT_LT(r->rmsError, 1e-6) << "m " << m;
        std::vector<int32_t> ignored = zt::indices(r->ignoredIndices);
        std::sort(ignored.begin(), ignored.end());
        EXPECT_EQ(ignored.front(), 16) << "m " << m;
    }
}

TEST(LineExhaustive, NumIgnoreZeroIsThePlainLineAndNeverPolls)
{
    const std::vector<zmath_vect> points{{0, 0}, {1, 1}, {2, 0}};
    LineResult r;
    zt::ScopedAttention attention(1);  // would cancel at the first poll
    ASSERT_EQ(fit(points, r, params(0)), 0);
    EXPECT_EQ(attention.polls(), 0);
    EXPECT_NEAR(r->line.d, 1.0 / 3.0, 1e-12);
    EXPECT_TRUE(zt::indices(r->ignoredIndices).empty());
}

TEST(LineRanked, FarPointsAreListedInRankOrderAboveThenBelow)
{
    // Points 0..5 on y = 0 (x increasing, so the first pair's normal points
    // up); two far points above and three below, scattered in the list.
    std::vector<zmath_vect> points;
    for (int i = 0; i < 6; ++i) points.push_back({static_cast<double>(i), 0});
    points.push_back({1, -1000});  // 6
    points.push_back({3, 500});    // 7
    points.push_back({2, -10});    // 8
    points.push_back({4, 900});    // 9
    points.push_back({0, -300});   // 10
    const std::vector<int32_t> expected{9, 7, 8, 10, 6};
    LineResult r;
    ASSERT_EQ(fit(points, r, params(5)), 0);
    EXPECT_EQ(zt::indices(r->ignoredIndices), expected);
    EXPECT_EQ(r->rmsError, 0.0);
    EXPECT_EQ(r->line.d, 0.0);
    EXPECT_NEAR(r->line.sine, 0.0, 1e-15);

    LineResult z;
    ASSERT_EQ(fit(points, z, params(5, 1)), 0);
    EXPECT_EQ(zt::indices(z->ignoredIndices), expected);
    EXPECT_EQ(z->rmsError, 0.0);
    EXPECT_EQ(z->line.angle, 0.0) << "along the first pair's direction";
    EXPECT_EQ(z->line.d, 0.0);
}

TEST(LineMinZone, DocumentedCases)
{
    struct Row {
        const char* what;
        std::vector<zmath_vect> points;
        int32_t numIgnore;
        double angle, d, halfWidth;
        std::vector<int32_t> ignored;
    } rows[] = {
        // The first pair (0,0)-(4,0) gives the narrowest strip; its centre
        // line runs along the pair at the middle offset.
        {"4 x 1 rectangle", {{0, 0}, {4, 0}, {4, 1}, {0, 1}}, 0, 0.0, 0.5, 0.5, {}},
        // Collinear points below the origin: the distance stays negative.
        {"collinear, negative distance", {{0, -3}, {2, -3}, {5, -3}}, 0, 0.0, -3.0, 0.0, {}},
        // A window of one point: along the first pair of distinct points
        // (0 and 2), through the point of largest offset across it (3).
        {"one point kept", {{1, 1}, {1, 1}, {3, 1}, {2, 4}}, 3, 0.0, 4.0, 0.0, {}},
        // The first pair along y = 0 keeps four points exactly; the point
        // above is listed before the one below.
        {"discard two", {{0, 0}, {1, 5}, {1, 0}, {2, -7}, {2, 0}, {3, 0}}, 2, 0.0, 0.0, 0.0, {1, 3}},
    };
    for (const Row& row : rows) {
        LineResult r;
        ASSERT_EQ(fit(row.points, r, params(row.numIgnore, 1)), 0) << row.what;
        EXPECT_EQ(r->line.angle, row.angle) << row.what;
        EXPECT_EQ(r->line.d, row.d) << row.what;
        EXPECT_EQ(r->rmsError, row.halfWidth) << row.what;
        if (row.numIgnore != 3) {  // equal offsets below the window: their order is free
            EXPECT_EQ(zt::indices(r->ignoredIndices), row.ignored) << row.what;
        }
    }
}

TEST(LineMinZone, ModeOneIgnoresTheExhaustiveRangeAndJudgesTheHalfWidth)
{
    // A 4 x 1 rectangle with its centre, and two far points.
    const std::vector<zmath_vect> points{{0, 0}, {4, 0}, {4, 1}, {0, 1}, {2, 0.5}, {8, 4}, {-6, 9}};
    LineResult r;
    ASSERT_EQ(fit(points, r, params(2, 1, 0.6)), 0);
    EXPECT_DOUBLE_EQ(r->rmsError, 0.5);
    EXPECT_EQ(r->isValid, 1);
    std::vector<int32_t> ignored = zt::indices(r->ignoredIndices);
    std::sort(ignored.begin(), ignored.end());
    EXPECT_EQ(ignored, (std::vector<int32_t>{5, 6}));
    ASSERT_EQ(fit(points, r, params(2, 1, 0.4)), 0);
    EXPECT_EQ(r->isValid, 0);
    ASSERT_EQ(fit(points, r, params(2, 1, 0.5)), 0);
    EXPECT_EQ(r->isValid, 0) << "equal to the limit is not below it";
}

// ---- cancellation and storage -----------------------------------------------

struct SearchCase {
    const char* name;
    int32_t numIgnore, mode;
    int expectedPolls;  // for the 12 points below
    int workStorage;    // containers made per call
};

const SearchCase searchCases[] = {
    {"exhaustive", 1, 0, 12, 0},
    {"exhaustive", 3, 0, 10, 0},
    {"ranked window", 4, 0, 12, 4},
    {"minimum zone", 2, 1, 12, 2},
};

std::vector<zmath_vect> twelvePoints()
{
    zt::Rng rng(5);
    std::vector<zmath_vect> points;
    for (int i = 0; i < 12; ++i) points.push_back({rng.uniform(-5, 5), rng.uniform(-5, 5)});
    return points;
}

TEST(LineRobustSearch, CancellationStopsWithTheHostsStatus)
{
    const zfit_status hostStatus = static_cast<zfit_status>(0x80004242u);
    for (const SearchCase& c : searchCases) {
        {
            LineResult full;
            zt::ScopedAttention counting;
            ASSERT_EQ(fit(twelvePoints(), full, params(c.numIgnore, c.mode)), 0) << c.name;
            EXPECT_EQ(counting.polls(), c.expectedPolls) << c.name << ": one poll per first index";
        }
        for (int failAt : {1, 2, c.expectedPolls}) {
            SCOPED_TRACE(::testing::Message() << c.name << " m " << c.numIgnore << " cancelled at poll " << failAt);
            LineResult r;
            preset(r);
            const zmath_shapeFLine before = r->line;
            zt::ScopedAttention attention(failAt, hostStatus);
            zt::ScopedAllocator allocator;
            EXPECT_EQ(fit(twelvePoints(), r, params(c.numIgnore, c.mode)), hostStatus);
            EXPECT_EQ(attention.polls(), failAt);
            EXPECT_EQ(r->isValid, 1);
            EXPECT_EQ(allocator.outstanding(), 0u);
            if (failAt == 1) {
                EXPECT_EQ(r->rmsError, HUGE_VAL);
                EXPECT_TRUE(sameBits(r->line, before));
                EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{99});
                continue;
            }
            EXPECT_LT(r->rmsError, HUGE_VAL) << "the best so far";
            if (c.workStorage == 0) {  // exhaustive
                // The running best line is the caller's; indices come at the end.
                EXPECT_FALSE(sameBits(r->line, before));
                EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{99});
            } else {
                // The line is written at the end; the indices are the running best.
                EXPECT_TRUE(sameBits(r->line, before));
                EXPECT_EQ(r->ignoredIndices.size, c.numIgnore);
            }
        }
    }
}

TEST(LineRobustSearch, EveryFailedAllocationIsReturnedAndNothingLeaks)
{
    for (const SearchCase& c : searchCases) {
        // The C-array entry's copy is allocation 1; the work storage follows.
        int succeededAt = 0;
        for (int failAt = 1; failAt < 20 && succeededAt == 0; ++failAt) {
            LineResult r;
            zstd_vector32_resize(&r->ignoredIndices, 8);  // room enough: the result never grows
            zstd_vector32_resize(&r->ignoredIndices, 0);
            zt::ScopedAllocator allocator(failAt);
            const zfit_status status = fit(twelvePoints(), r, params(c.numIgnore, c.mode));
            EXPECT_EQ(allocator.outstanding(), 0u) << c.name << " failAt " << failAt;
            if (status == 0)
                succeededAt = failAt;
            else
                EXPECT_EQ(status, zstd_errOutOfMemory) << c.name << " failAt " << failAt;
        }
        EXPECT_EQ(succeededAt, 2 + c.workStorage) << c.name << ": storage made once per call";
    }
}

// ---- properties ---------------------------------------------------------------

struct Outliers {
    std::vector<zmath_vect> points;
    std::vector<int32_t> outliers;  // ascending
    double sigma;
};

// n points near a random line, k of them moved 20 to 60 units off it at
// random positions; every third trial the first and the last position are
// among them, every third the last.
Outliers randomLineWithOutliers(zt::Rng& rng, int n, int k, double sigma, int trial)
{
    const double angle = rng.uniform(0, 2 * zt::pi), d = rng.uniform(-50, 50);
    const zmath_vect dir{std::cos(angle), std::sin(angle)}, normal{-dir.y, dir.x};
    Outliers o{{}, {}, sigma};
    std::vector<int32_t> order;
    if (trial % 3 == 0) order = {0, n - 1};
    if (trial % 3 == 1) order = {n - 1};
    std::vector<int32_t> rest;
    for (int32_t i = 0; i < n; ++i)
        if (std::find(order.begin(), order.end(), i) == order.end()) rest.push_back(i);
    std::shuffle(rest.begin(), rest.end(), rng.engine);
    order.insert(order.end(), rest.begin(), rest.end());
    o.outliers.assign(order.begin(), order.begin() + k);
    std::sort(o.outliers.begin(), o.outliers.end());
    for (int i = 0; i < n; ++i) {
        const double t = rng.uniform(-30, 30);
        double e = rng.normal(sigma);
        if (std::binary_search(o.outliers.begin(), o.outliers.end(), i))
            e = (rng.integer(0, 1) ? 1 : -1) * rng.uniform(20, 60);
        o.points.push_back({normal.x * d + dir.x * t + normal.x * e, normal.y * d + dir.y * t + normal.y * e});
    }
    return o;
}

TEST(LineRobustProperties, FarOutliersAreDiscardedAndTheErrorIsTheNoise)
{
    zt::Rng rng(808);
    for (int k = 1; k <= 6; ++k) {
        for (int trial = 0; trial < 15; ++trial) {
            const double sigma = 0.01;
            const Outliers o = randomLineWithOutliers(rng, 24, k, sigma, trial);
            for (int32_t mode : {0, 1}) {
                SCOPED_TRACE(::testing::Message() << "k " << k << " trial " << trial << " mode " << mode);
                LineResult r;
                ASSERT_EQ(fit(o.points, r, params(k, mode)), 0);
                std::vector<int32_t> ignored = zt::indices(r->ignoredIndices);
                std::sort(ignored.begin(), ignored.end());
                EXPECT_EQ(ignored, o.outliers);
                EXPECT_LT(r->rmsError, mode == 0 ? 2.0 * sigma : 5.0 * sigma);
                EXPECT_GT(r->rmsError, 0.3 * sigma);
                for (size_t i = 0; i < o.points.size(); ++i) {
                    if (std::binary_search(o.outliers.begin(), o.outliers.end(), static_cast<int32_t>(i))) continue;
                    EXPECT_LT(std::fabs(offset(r->line, o.points[i])), 6.0 * sigma) << "point " << i;
                }
            }
        }
    }
}

// The least-squares line and its RMS computed directly from a subset.
struct Reference {
    double angle;  // direction, in [0, pi)
    double centreX, centreY, rms;
};

Reference referenceFit(const std::vector<zmath_vect>& points, const std::vector<bool>& dropped)
{
    double sx = 0, sy = 0, count = 0;
    for (size_t i = 0; i < points.size(); ++i)
        if (!dropped[i]) sx += points[i].x, sy += points[i].y, count += 1;
    const double mx = sx / count, my = sy / count;
    double xx = 0, yy = 0, xy = 0;
    for (size_t i = 0; i < points.size(); ++i)
        if (!dropped[i]) {
            const double dx = points[i].x - mx, dy = points[i].y - my;
            xx += dx * dx, yy += dy * dy, xy += dx * dy;
        }
    double angle = 0.5 * std::atan2(2 * xy, xx - yy);
    if (angle < 0) angle += zt::pi;
    const double s = std::sin(angle), c = std::cos(angle);
    double sum = 0;
    for (size_t i = 0; i < points.size(); ++i)
        if (!dropped[i]) {
            const double e = -(points[i].x - mx) * s + (points[i].y - my) * c;
            sum += e * e;
        }
    return {angle, mx, my, std::sqrt(sum / count)};
}

TEST(LineExhaustiveProperties, AgreesWithABruteForceReferenceOverAllSubsets)
{
    zt::Rng rng(31337);
    int compared = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const int n = rng.integer(5, 10);
        const int32_t m = rng.integer(1, 3);
        std::vector<zmath_vect> points;
        for (int i = 0; i < n; ++i) points.push_back({rng.uniform(-10, 10), rng.uniform(-3, 3)});
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " n " << n << " m " << m);

        // Every subset of m dropped points, via a bit mask.
        double best = HUGE_VAL, second = HUGE_VAL;
        std::vector<int32_t> bestSet;
        Reference bestFit{};
        for (uint32_t mask = 0; mask < (1u << n); ++mask) {
            if (std::popcount(mask) != m) continue;
            std::vector<bool> dropped(static_cast<size_t>(n));
            std::vector<int32_t> set;
            for (int i = 0; i < n; ++i)
                if (mask >> i & 1u) dropped[static_cast<size_t>(i)] = true, set.push_back(i);
            const Reference ref = referenceFit(points, dropped);
            if (ref.rms < best) {
                second = best;
                best = ref.rms, bestSet = set, bestFit = ref;
            } else if (ref.rms < second) {
                second = ref.rms;
            }
        }
        LineResult r;
        ASSERT_EQ(fit(points, r, params(m)), 0);
        EXPECT_NEAR(r->rmsError, best, 1e-9);
        if (second - best < 1e-9 * (1 + best)) continue;  // a near tie: either subset may win
        ++compared;
        EXPECT_EQ(zt::indices(r->ignoredIndices), bestSet);
        EXPECT_NEAR(std::sin(r->line.angle - bestFit.angle), 0.0, 1e-9);
        EXPECT_NEAR(offset(r->line, {bestFit.centreX, bestFit.centreY}), 0.0, 1e-9);
        EXPECT_GE(r->line.d, 0.0);
    }
    EXPECT_GT(compared, 250);
}

TEST(LineMinZoneProperties, RotatedRectangleHasHalfItsShorterSide)
{
    zt::Rng rng(4711);
    for (int trial = 0; trial < 200; ++trial) {
        const double w = rng.uniform(0.5, 20), h = rng.uniform(0.5, 20), turn = rng.uniform(-zt::pi, zt::pi);
        const zmath_vect shift{rng.uniform(-100, 100), rng.uniform(-100, 100)};
        std::vector<zmath_vect> local{{0, 0}, {w, 0}, {w, h}, {0, h}};
        for (int i = 0; i < 12; ++i) local.push_back({rng.uniform(0, w), rng.uniform(0, h)});
        std::shuffle(local.begin(), local.end(), rng.engine);
        std::vector<zmath_vect> points;
        for (const zmath_vect& p : local)
            points.push_back({std::cos(turn) * p.x - std::sin(turn) * p.y + shift.x,
                              std::sin(turn) * p.x + std::cos(turn) * p.y + shift.y});
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " w " << w << " h " << h << " turn " << turn);
        LineResult r;
        ASSERT_EQ(fit(points, r, params(0, 1)), 0);
        EXPECT_NEAR(r->rmsError, 0.5 * std::min(w, h), 1e-9);
        EXPECT_TRUE(zt::indices(r->ignoredIndices).empty());
        // The strip holds every point, and its centre line runs along the longer side.
        for (const zmath_vect& p : points) EXPECT_LE(std::fabs(offset(r->line, p)), r->rmsError + 1e-9);
        const double longSide = w >= h ? turn : turn + zt::pi / 2;
        if (std::fabs(w - h) > 1e-6) {
            EXPECT_NEAR(std::sin(r->line.angle - longSide), 0.0, 1e-9);
        }
    }
}

TEST(LineMinZoneProperties, NeverWiderThanTheLeastSquaresLineOfTheKeptPoints)
{
    zt::Rng rng(2718);
    for (int trial = 0; trial < 150; ++trial) {
        const int32_t m = rng.integer(0, 5);
        const Outliers o = randomLineWithOutliers(rng, rng.integer(m + 3, 20), 0, rng.uniform(0.01, 2), trial);
        std::vector<zmath_vect> points = o.points;
        for (int i = 0; i < 3; ++i) points.push_back({rng.uniform(-40, 40), rng.uniform(-40, 40)});
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " m " << m);
        LineResult zone;
        ASSERT_EQ(fit(points, zone, params(m, 1)), 0);
        ASSERT_EQ(zone->ignoredIndices.size, m);
        std::vector<zmath_vect> kept;
        const std::vector<int32_t> ignored = zt::indices(zone->ignoredIndices);
        for (size_t i = 0; i < points.size(); ++i)
            if (std::find(ignored.begin(), ignored.end(), static_cast<int32_t>(i)) == ignored.end())
                kept.push_back(points[i]);
        LineResult ls;
        ASSERT_EQ(fit(kept, ls, params(0)), 0);
        double widest = 0, zoneWidest = 0;
        for (const zmath_vect& p : kept) {
            widest = std::max(widest, std::fabs(offset(ls->line, p)));
            zoneWidest = std::max(zoneWidest, std::fabs(offset(zone->line, p)));
        }
        EXPECT_LE(zone->rmsError, widest + 1e-9);
        EXPECT_NEAR(zoneWidest, zone->rmsError, 1e-9) << "the half-width is the largest kept distance";
    }
}

}  // namespace
