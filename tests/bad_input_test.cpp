// Bad input, family by family: every row names the input, the expected
// status and what the result record must hold afterwards. A NULL array with
// points is a broken precondition and stops the process (death tests).
#include <limits>

#include "support.hpp"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = HUGE_VAL;
constexpr int32_t int32Max = std::numeric_limits<int32_t>::max();

// Points on y = 2x - 1, with a little scatter so the fits are well posed.
std::vector<zmath_vect> linePoints(int n, double scale = 1.0)
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) p.push_back({scale * i, scale * (2.0 * i - 1.0 + ((i % 3) - 1) * 0.01)});
    return p;
}

std::vector<zmath_vect> with(std::vector<zmath_vect> p, size_t i, zmath_vect v)
{
    p[i] = v;
    return p;
}

// What the record must hold after a row.
enum class After {
    Untouched,  // parameter failure: not a field changed
    FailedFit,  // failure after validation: isValid kept, rmsError HUGE_VAL, shape untouched
    Success,    // status 0, finite rmsError, isValid agrees with the limit
};

// ---- line ---------------------------------------------------------------

struct LineRow {
    const char* what;
    std::vector<zmath_vect> points;
    int32_t count;  // -1: the number of points
    int32_t numIgnore;
    int32_t mode;
    double maxRmsError;
    zfit_status expected;
    After after;
};

TEST(BadInput, Line)
{
    const auto pts = linePoints(12);
    const LineRow rows[] = {
        {"NaN x", with(pts, 3, {nan, 1}), -1, 0, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"NaN y in a search", with(pts, 0, {0, nan}), -1, 2, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"infinite x", with(pts, 11, {inf, 1}), -1, 0, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"infinite in min zone", with(pts, 5, {-inf, 0}), -1, 1, 1, inf, zmath_errDegenerate, After::FailedFit},
        {"count 0", pts, 0, 0, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"negative count", pts, -3, 0, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"numIgnore negative", pts, -1, -1, 0, inf, zmath_errFitNumIgnoreNegative, After::Untouched},
        {"numIgnore = n, exhaustive", linePoints(3), -1, 3, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"numIgnore = n, ranked", pts, -1, 12, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"numIgnore > n, exhaustive", linePoints(2), -1, 3, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"numIgnore > n, min zone", pts, -1, 13, 1, inf, zmath_errDegenerate, After::FailedFit},
        {"numIgnore INT32_MAX, ranked", pts, -1, int32Max, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"numIgnore INT32_MAX, min zone", pts, -1, int32Max, 1, inf, zmath_errDegenerate, After::FailedFit},
        {"bad mode", pts, -1, 0, 2, inf, zmath_errFitBadMode, After::Untouched},
        {"maxRmsError negative", pts, -1, 0, 0, -1.0, zmath_errFitMaxRmsErrorNegative, After::Untouched},
        {"maxRmsError -0.0", pts, -1, 0, 0, -0.0, 0, After::Success},
        {"maxRmsError NaN", pts, -1, 0, 0, nan, 0, After::Success},
        {"all points equal", std::vector<zmath_vect>(6, {1.5, -2}), -1, 0, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"all points equal, ranked", std::vector<zmath_vect>(9, {1.5, -2}), -1, 4, 0, inf, zmath_errDegenerate, After::FailedFit},
        {"collinear", {{0, 0}, {1, 1}, {2, 2}, {3, 3}}, -1, 0, 0, inf, 0, After::Success},
        {"duplicated points", {{0, 0}, {0, 0}, {1, 2}, {1, 2}, {2, 4.1}}, -1, 0, 0, inf, 0, After::Success},
        {"duplicated points, exhaustive", {{0, 0}, {0, 0}, {1, 2}, {1, 2}, {2, 4.1}}, -1, 1, 0, inf, 0, After::Success},
        {"coordinates near 1e150", linePoints(12, 1e150), -1, 0, 0, inf, 0, After::Success},
        {"coordinates near 1e-150", linePoints(12, 1e-150), -1, 0, 0, inf, 0, After::Success},
    };
    for (const LineRow& row : rows) {
        SCOPED_TRACE(row.what);
        zt::LineResult r;
        r->isValid = 1;
        r->rmsError = 7.0;
        const zmath_shapeFLine lineBefore = r->line;
        const zmath_lineFitParams params{row.numIgnore, row.maxRmsError, row.mode};
        const int32_t count = row.count == -1 ? static_cast<int32_t>(row.points.size()) : row.count;
        const zfit_status status = zmath_lineFit(row.points.data(), count, &params, r.get());
        EXPECT_EQ(status, row.expected) << zt::statusName(status);
        switch (row.after) {
        case After::Untouched:
            EXPECT_EQ(r->isValid, 1);
            EXPECT_EQ(r->rmsError, 7.0);
            EXPECT_EQ(std::memcmp(&r->line, &lineBefore, sizeof lineBefore), 0);
            break;
        case After::FailedFit:
            EXPECT_EQ(r->isValid, 1);
            EXPECT_EQ(r->rmsError, HUGE_VAL);
            EXPECT_EQ(std::memcmp(&r->line, &lineBefore, sizeof lineBefore), 0);
            EXPECT_EQ(r->ignoredIndices.size, 0);
            break;
        case After::Success:
            EXPECT_TRUE(std::isfinite(r->rmsError));
            EXPECT_EQ(r->isValid, row.maxRmsError > r->rmsError ? 1 : 0);
            EXPECT_EQ(r->ignoredIndices.size, row.numIgnore);
            break;
        }
    }
}

TEST(BadInputDeathTest, LineNullArrayWithPoints)
{
    zt::LineResult r;
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    EXPECT_DEATH(zmath_lineFit(nullptr, 4, &params, r.get()), "broken precondition");
}

}  // namespace
