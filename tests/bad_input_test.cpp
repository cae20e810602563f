// Bad input, family by family: every row names the input, the expected
// status and what the result record must hold afterwards. A NULL array with
// points is a broken precondition and stops the process (death tests).
#include <functional>
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

// Exactly collinear points.
std::vector<zmath_vect> collinear(int n)
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) p.push_back({1.0 * i, 2.0 * i - 1.0});
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

// ---- circle -------------------------------------------------------------

using CircleResult = zt::Owned<zmath_circleFitResult, zmath_circleFitResult_construct, zmath_circleFitResult_destruct>;

std::vector<zmath_vect> circlePoints(int n, double scale = 1.0)
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) {
        const double t = 2 * zt::pi * i / n;
        p.push_back({scale * (3 + 2 * std::cos(t) + 0.001 * (i % 2)), scale * (-1 + 2 * std::sin(t))});
    }
    return p;
}

zmath_circleFitParams circleParams(int32_t numIgnore = 0, int32_t mode = 0, double maxRms = inf, double radius = 2.0)
{
    zmath_circleFitParams p;
    zmath_circleFitParams_init(&p);
    p.numIgnore = numIgnore;
    p.mode = mode;
    p.maxRmsError = maxRms;
    p.fixedRadius = radius;
    return p;
}

enum class CircleAfter {
    Untouched,      // parameters or sizes refused: nothing changed, indices kept
    EmptiedOnly,    // weighted refusal: indices emptied, nothing else changed
    FailedSearch,   // search refused: indices emptied, rmsError HUGE_VAL, circle untouched
    Success,
};

struct CircleRow {
    const char* what;
    std::function<zfit_status(zmath_circleFitResult*)> call;
    zfit_status expected;
    CircleAfter after;
    double maxRmsError = inf;
    int32_t numIgnore = 0;
};

zfit_status circleArray(const std::vector<zmath_vect>& p, zmath_circleFitParams params, zmath_circleFitResult* r,
                        int32_t count = -1)
{
    return zmath_circleFit(p.data(), count == -1 ? int32_t(p.size()) : count, &params, r);
}

zfit_status circleWeighted(const std::vector<zmath_vect>& p, const std::vector<double>& w,
                           zmath_circleFitParams params, zmath_circleFitResult* r, int32_t count = -1)
{
    return zmath_circleFitWeighted(p.data(), count == -1 ? int32_t(p.size()) : count, w.data(), &params, r);
}

TEST(BadInput, Circle)
{
    const auto pts = circlePoints(10);
    const std::vector<double> ones(10, 1.0);
    const auto withWeight = [&](size_t i, double w) {
        auto v = ones;
        v[i] = w;
        return v;
    };
    const CircleRow rows[] = {
        {"NaN x, free radius", [&](auto* r) { return circleArray(with(pts, 2, {nan, 0}), circleParams(1), r); },
         zmath_errDegenerate, CircleAfter::FailedSearch},
        {"infinite y, fixed radius",
         [&](auto* r) { return circleArray(with(pts, 9, {0, -inf}), circleParams(0, 1), r); }, zmath_errDegenerate,
         CircleAfter::FailedSearch},
        {"NaN coordinate, weighted", [&](auto* r) { return circleWeighted(with(pts, 0, {nan, 1}), ones, circleParams(), r); },
         zmath_errDegenerate, CircleAfter::EmptiedOnly},
        {"NaN weight", [&](auto* r) { return circleWeighted(pts, withWeight(4, nan), circleParams(), r); },
         zmath_errDegenerate, CircleAfter::EmptiedOnly},
        {"infinite weight", [&](auto* r) { return circleWeighted(pts, withWeight(4, inf), circleParams(), r); },
         zmath_errDegenerate, CircleAfter::EmptiedOnly},
        {"negative weight", [&](auto* r) { return circleWeighted(pts, withWeight(7, -1.0), circleParams(), r); },
         zmath_errFitWeightNegative, CircleAfter::EmptiedOnly},
        {"all weights 0", [&](auto* r) { return circleWeighted(pts, std::vector<double>(10, 0.0), circleParams(), r); },
         zmath_errDegenerate, CircleAfter::EmptiedOnly},
        {"weight count differs",
         [&](auto* r) {
             zt::Points v(pts);
             zt::Doubles w(std::vector<double>(9, 1.0));
             const auto params = circleParams();
             return zmath_circleFitWeightedVector(v.get(), w.get(), &params, r);
         },
         zmath_errFitWeightCount, CircleAfter::Untouched},
        {"count 0", [&](auto* r) { return circleArray(pts, circleParams(), r, 0); }, zmath_errDegenerate,
         CircleAfter::FailedSearch},
        {"negative count", [&](auto* r) { return circleArray(pts, circleParams(), r, -2); }, zmath_errDegenerate,
         CircleAfter::FailedSearch},
        {"NULL array with count 0", [&](auto* r) { return circleArray({}, circleParams(), r, 0); }, zmath_errDegenerate,
         CircleAfter::FailedSearch},
        {"negative count, weighted", [&](auto* r) { return circleWeighted(pts, ones, circleParams(), r, -1000); },
         zmath_errDegenerate, CircleAfter::EmptiedOnly},
        {"numIgnore negative", [&](auto* r) { return circleArray(pts, circleParams(-1), r); },
         zmath_errFitNumIgnoreNegative, CircleAfter::Untouched},
        {"numIgnore negative, weighted", [&](auto* r) { return circleWeighted(pts, ones, circleParams(-1), r); },
         zmath_errFitWeightedIgnore, CircleAfter::EmptiedOnly},
        {"numIgnore = n", [&](auto* r) { return circleArray(pts, circleParams(10), r); }, zmath_errDegenerate,
         CircleAfter::FailedSearch},
        {"numIgnore > n, fixed radius", [&](auto* r) { return circleArray(pts, circleParams(11, 1), r); },
         zmath_errDegenerate, CircleAfter::FailedSearch},
        {"numIgnore INT32_MAX", [&](auto* r) { return circleArray(pts, circleParams(int32Max), r); },
         zmath_errDegenerate, CircleAfter::FailedSearch},
        {"bad mode", [&](auto* r) { return circleArray(pts, circleParams(0, 3), r); }, zmath_errFitBadMode,
         CircleAfter::Untouched},
        {"fixedRadius negative", [&](auto* r) { return circleArray(pts, circleParams(0, 0, inf, -1.0), r); },
         zmath_errFitFixedRadiusNegative, CircleAfter::Untouched},
        {"maxRmsError negative", [&](auto* r) { return circleArray(pts, circleParams(0, 0, -1.0), r); },
         zmath_errFitMaxRmsErrorNegative, CircleAfter::Untouched},
        {"maxRmsError -0.0", [&](auto* r) { return circleArray(pts, circleParams(0, 0, -0.0), r); }, 0,
         CircleAfter::Success, -0.0},
        {"maxRmsError NaN, weighted", [&](auto* r) { return circleWeighted(pts, ones, circleParams(0, 0, nan), r); }, 0,
         CircleAfter::Success, nan},
        {"all points equal", [&](auto* r) { return circleArray(std::vector<zmath_vect>(8, {1, 1}), circleParams(1), r); },
         zmath_errDegenerate, CircleAfter::FailedSearch},
        {"collinear", [&](auto* r) { return circleArray(linePoints(8), circleParams(0, 1), r); }, zmath_errDegenerate,
         CircleAfter::FailedSearch},
        {"collinear, weighted",
         [&](auto* r) { return circleWeighted({{0, 0}, {1, 1}, {2, 2}, {3, 3}}, {1, 1, 1, 1}, circleParams(), r); },
         zmath_errDegenerate, CircleAfter::EmptiedOnly},
        {"duplicated points",
         [&](auto* r) {
             auto p = pts;
             p.insert(p.end(), pts.begin(), pts.begin() + 4);
             return circleArray(p, circleParams(2), r);
         },
         0, CircleAfter::Success, inf, 2},
        // Cubic moments overflow (1e450) or underflow: refused, not garbage.
        {"coordinates near 1e150, weighted", [&](auto* r) { return circleWeighted(circlePoints(10, 1e150), ones, circleParams(), r); },
         zmath_errDegenerate, CircleAfter::EmptiedOnly},
        {"coordinates near 1e150", [&](auto* r) { return circleArray(circlePoints(10, 1e150), circleParams(1), r); },
         zmath_errDegenerate, CircleAfter::FailedSearch},
        // Below the collinearity tolerance every triple counts as collinear.
        {"coordinates near 1e-150", [&](auto* r) { return circleArray(circlePoints(10, 1e-150), circleParams(1), r); },
         zmath_errDegenerate, CircleAfter::FailedSearch},
        {"coordinates near 1e-6", [&](auto* r) { return circleArray(circlePoints(10, 1e-6), circleParams(1), r); },
         0, CircleAfter::Success, inf, 1},
    };
    for (const CircleRow& row : rows) {
        SCOPED_TRACE(row.what);
        CircleResult r;
        r->isValid = 1;
        r->centre = {5, 6};
        r->radius = 7;
        r->rmsError = 8;
        const int32_t marker = 99;
        zstd_vector32_pushBack(&r->ignoredIndices, &marker);
        const zfit_status status = row.call(r.get());
        EXPECT_EQ(status, row.expected) << zt::statusName(status);
        const bool circleKept = r->centre.x == 5 && r->centre.y == 6 && r->radius == 7;
        switch (row.after) {
        case CircleAfter::Untouched:
            EXPECT_TRUE(circleKept);
            EXPECT_EQ(r->rmsError, 8);
            EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{99});
            EXPECT_EQ(r->isValid, 1);
            break;
        case CircleAfter::EmptiedOnly:
            EXPECT_TRUE(circleKept);
            EXPECT_EQ(r->rmsError, 8);
            EXPECT_EQ(r->ignoredIndices.size, 0);
            EXPECT_EQ(r->isValid, 1);
            break;
        case CircleAfter::FailedSearch:
            EXPECT_TRUE(circleKept);
            EXPECT_EQ(r->rmsError, HUGE_VAL);
            EXPECT_EQ(r->ignoredIndices.size, 0);
            EXPECT_EQ(r->isValid, 1);
            break;
        case CircleAfter::Success:
            EXPECT_TRUE(std::isfinite(r->rmsError));
            EXPECT_TRUE(std::isfinite(r->centre.x) && std::isfinite(r->centre.y) && std::isfinite(r->radius));
            EXPECT_EQ(r->isValid, row.maxRmsError > r->rmsError ? 1 : 0);
            EXPECT_EQ(r->ignoredIndices.size, row.numIgnore);
            break;
        }
    }
}

// ---- ellipse ------------------------------------------------------------

using EllipseResult =
    zt::Owned<zmath_ellipseFitResult, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_destruct>;

std::vector<zmath_vect> ellipsePoints(int n, double scale = 1.0)
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) {
        const double t = 2 * zt::pi * i / n + 0.1;
        p.push_back({scale * (1 + 3 * std::cos(t)), scale * (2 + 1.5 * std::sin(t))});
    }
    return p;
}

enum class EllipseAfter { Untouched, Reset, Success };

struct EllipseRow {
    const char* what;
    std::vector<zmath_vect> points;
    int32_t count;
    int32_t numIgnore;
    double maxRmsError;
    zfit_status expected;
    EllipseAfter after;
};

TEST(BadInput, Ellipse)
{
    const auto pts = ellipsePoints(9);
    const EllipseRow rows[] = {
        {"NaN x", with(pts, 1, {nan, 0}), -1, 0, inf, zmath_errDegenerate, EllipseAfter::Reset},
        {"infinite y in the subset search", with(pts, 8, {0, inf}), -1, 1, inf, zmath_errDegenerate, EllipseAfter::Reset},
        {"count 0", pts, 0, 0, inf, zmath_errDegenerate, EllipseAfter::Untouched},
        {"negative count", pts, -7, 0, inf, zmath_errDegenerate, EllipseAfter::Untouched},
        {"NULL array, count 0", {}, 0, 0, inf, zmath_errDegenerate, EllipseAfter::Untouched},
        {"four points", ellipsePoints(4), -1, 0, inf, zmath_errDegenerate, EllipseAfter::Untouched},
        {"numIgnore negative", pts, -1, -1, inf, zmath_errFitNumIgnoreNegative, EllipseAfter::Untouched},
        {"numIgnore = n", pts, -1, 9, inf, zmath_errDegenerate, EllipseAfter::Untouched},
        {"numIgnore > n", pts, -1, 10, inf, zmath_errDegenerate, EllipseAfter::Untouched},
        {"numIgnore INT32_MAX", pts, -1, int32Max, inf, zmath_errDegenerate, EllipseAfter::Untouched},
        {"maxRmsError negative", pts, -1, 0, -2.0, zmath_errFitMaxRmsErrorNegative, EllipseAfter::Untouched},
        {"maxRmsError -0.0", pts, -1, 0, -0.0, 0, EllipseAfter::Success},
        {"maxRmsError NaN", pts, -1, 1, nan, 0, EllipseAfter::Success},
        {"all points equal", std::vector<zmath_vect>(7, {2, 2}), -1, 0, inf, zmath_errDegenerate, EllipseAfter::Reset},
        {"collinear", collinear(8), -1, 0, inf, zmath_errDegenerate, EllipseAfter::Reset},
        {"collinear, every subset", collinear(8), -1, 2, inf, zmath_errDegenerate, EllipseAfter::Reset},
        {"duplicated points", [&] { auto p = pts; p.push_back(pts[0]); p.push_back(pts[3]); return p; }(), -1, 1, inf, 0,
         EllipseAfter::Success},
        {"coordinates near 1e150", ellipsePoints(9, 1e150), -1, 0, inf, zmath_errDegenerate, EllipseAfter::Reset},
        {"coordinates near 1e-150", ellipsePoints(9, 1e-150), -1, 0, inf, zmath_errDegenerate, EllipseAfter::Reset},
    };
    for (const EllipseRow& row : rows) {
        SCOPED_TRACE(row.what);
        EllipseResult r;
        r->isValid = 1;
        r->rmsError = 8;
        const zmath_vect centre{4, 5};
        zmath_shapeEllipse_init(&r->ellipse, &centre, 3, 2, 1);
        const zmath_shapeEllipse before = r->ellipse;
        zmath_ellipseFitParams params;
        zmath_ellipseFitParams_init(&params);
        params.numIgnore = row.numIgnore;
        params.maxRmsError = row.maxRmsError;
        const int32_t count = row.count == -1 ? int32_t(row.points.size()) : row.count;
        const zfit_status status = zmath_ellipseFit(row.points.data(), count, &params, r.get());
        EXPECT_EQ(status, row.expected) << zt::statusName(status);
        switch (row.after) {
        case EllipseAfter::Untouched:
            EXPECT_EQ(r->isValid, 1);
            EXPECT_EQ(r->rmsError, 8);
            EXPECT_EQ(std::memcmp(&r->ellipse, &before, sizeof before), 0);
            break;
        case EllipseAfter::Reset:
            EXPECT_EQ(r->isValid, 0);
            break;
        case EllipseAfter::Success:
            EXPECT_TRUE(std::isfinite(r->rmsError));
            EXPECT_EQ(r->isValid, row.maxRmsError > r->rmsError ? 1 : 0);
            EXPECT_EQ(r->ignoredIndices.size, row.numIgnore);
            break;
        }
    }
}

// ---- parabola -----------------------------------------------------------

using ParabolaResult =
    zt::Owned<zmath_parabolaFitResult, zmath_parabolaFitResult_construct, zmath_parabolaFitResult_destruct>;

std::vector<zmath_vect> parabolaPoints(int n, double scale = 1.0)
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) {
        const double x = i - n / 2.0;
        p.push_back({scale * x, scale * (0.3 * x * x - 1)});
    }
    return p;
}

struct ParabolaRow {
    const char* what;
    std::vector<zmath_vect> points;
    std::vector<double> weights;  // empty: the unweighted entry
    int32_t maxIterations;
    zfit_status expected;
    bool untouched;  // the record beyond isValid is as before
};

TEST(BadInput, Parabola)
{
    const auto pts = parabolaPoints(9);
    const std::vector<double> ones(9, 1.0);
    const auto withWeight = [&](size_t i, double w) {
        auto v = ones;
        v[i] = w;
        return v;
    };
    const ParabolaRow rows[] = {
        {"NaN x", with(pts, 2, {nan, 0}), {}, 5, zmath_errDegenerate, true},
        {"infinite y, weighted", with(pts, 2, {0, inf}), ones, 5, zmath_errDegenerate, true},
        {"NaN weight", pts, withWeight(3, nan), 5, zmath_errDegenerate, true},
        {"infinite weight", pts, withWeight(3, inf), 5, zmath_errDegenerate, true},
        {"negative weight", pts, withWeight(3, -0.5), 5, zmath_errFitWeightNegative, true},
        {"all weights 0", pts, std::vector<double>(9, 0.0), 5, zmath_errDegenerate, true},
        {"weight count differs", pts, std::vector<double>(8, 1.0), 5, zmath_errFitWeightCount, true},
        {"no points", {}, {}, 5, zmath_errDegenerate, false},
        {"maxIterations 0", pts, {}, 0, zmath_errFitMaxIterations, true},
        {"maxIterations negative, weighted", pts, ones, -3, zmath_errFitMaxIterations, true},
        {"all points equal", std::vector<zmath_vect>(5, {1, 2}), {}, 5, zmath_errDegenerate, false},
        {"collinear", collinear(6), {}, 5, zmath_errMatrixIllConditioned, false},
        {"duplicated points", [&] { auto p = pts; p.push_back(pts[1]); return p; }(), {}, 5, 0, false},
        // The normal equations cannot be formed at these magnitudes: refused, not garbage.
        {"coordinates near 1e150", parabolaPoints(9, 1e150), {}, 5, zmath_errMatrixIllConditioned, false},
        {"coordinates near 1e-150", parabolaPoints(9, 1e-150), {}, 5, zmath_errMatrixIllConditioned, false},
        {"coordinates near 1e-100", parabolaPoints(9, 1e-100), {}, 5, 0, false},
    };
    for (const ParabolaRow& row : rows) {
        SCOPED_TRACE(row.what);
        ParabolaResult r;
        r->isValid = 1;
        r->rmsError = 8;
        r->parabola.coefficient = 9;
        const zmath_parabolaFitResult before = *r;
        const zmath_parabolaFitParams params{row.maxIterations};
        zt::Points points(row.points);
        zt::Doubles weights(row.weights);
        const zfit_status status = row.weights.empty()
                                       ? zmath_parabolaFitVector(points.get(), &params, r.get())
                                       : zmath_parabolaFitWeightedVector(points.get(), weights.get(), &params, r.get());
        EXPECT_EQ(status, row.expected) << zt::statusName(status);
        EXPECT_EQ(r->isValid, status == 0 ? 1 : 0);
        if (row.untouched) {
            EXPECT_EQ(r->rmsError, before.rmsError);
            EXPECT_EQ(std::memcmp(&r->parabola, &before.parabola, sizeof before.parabola), 0);
        }
        if (status == 0) {
            EXPECT_TRUE(std::isfinite(r->rmsError));
            EXPECT_GE(r->parabola.coefficient, 0.0);
        }
    }
}

// ---- point-to-line ------------------------------------------------------

using PointToLineResult =
    zt::Owned<zmath_pointToLineFitResult, zmath_pointToLineFitResult_construct, zmath_pointToLineFitResult_destruct>;

struct Pairs {
    std::vector<zmath_vect> points;
    std::vector<zmath_shapeFLine> lines;
};

// Three points, each on a horizontal and a vertical line through it.
Pairs pointLinePairs(double scale = 1.0)
{
    Pairs p;
    for (const zmath_vect q : {zmath_vect{0, 0}, zmath_vect{4, 1}, zmath_vect{1, 3}, zmath_vect{5, 5}}) {
        const zmath_vect s{q.x * scale, q.y * scale};
        zmath_shapeFLine h, v;
        const double zero = 0, quarter = zt::pi / 2;
        zmath_shapeFLine_initAngleDistance(&h, &zero, s.y);       // y = s.y
        zmath_shapeFLine_initAngleDistance(&v, &quarter, -s.x);   // x = s.x
        p.points.insert(p.points.end(), {s, s});
        p.lines.insert(p.lines.end(), {h, v});
    }
    return p;
}

struct PointToLineRow {
    const char* what;
    Pairs pairs;
    std::vector<double> weights;  // empty: unweighted
    int32_t count;                // -1: all pairs
    int32_t dof;
    double maxRmsError;
    zfit_status expected;
};

TEST(BadInput, PointToLine)
{
    const Pairs good = pointLinePairs();
    const std::vector<double> ones(good.points.size(), 1.0);
    const auto withPoint = [&](size_t i, zmath_vect v) {
        Pairs p = good;
        p.points[i] = v;
        return p;
    };
    const auto withLineD = [&](size_t i, double d) {
        Pairs p = good;
        p.lines[i].d = d;
        return p;
    };
    const auto withWeight = [&](size_t i, double w) {
        auto v = ones;
        v[i] = w;
        return v;
    };
    const PointToLineRow rows[] = {
        {"NaN coordinate", withPoint(1, {nan, 0}), {}, -1, 6, inf, zmath_errFitSolveFailed},
        {"infinite coordinate, weighted", withPoint(1, {0, -inf}), ones, -1, 6, inf, zmath_errFitSolveFailed},
        {"NaN line distance", withLineD(2, nan), {}, -1, 6, inf, zmath_errFitSolveFailed},
        {"infinite line distance", withLineD(2, inf), {}, -1, 6, inf, zmath_errFitSolveFailed},
        {"NaN weight", good, withWeight(0, nan), -1, 6, inf, zmath_errFitSolveFailed},
        {"negative weight", good, withWeight(0, -1), -1, 6, inf, zmath_errFitWeightNegative},
        {"all weights 0", good, std::vector<double>(ones.size(), 0.0), -1, 6, inf, zmath_errMatrixSingular},
        {"count 0", good, {}, 0, 6, inf, zmath_errMatrixSingular},
        {"negative count", good, {}, -4, 6, inf, zmath_errMatrixSingular},
        {"bad dof", good, {}, -1, 5, inf, zmath_errFitBadMode},
        {"maxRmsError negative", good, {}, -1, 6, -1.0, zmath_errFitMaxRmsErrorNegative},
        {"maxRmsError -0.0", good, {}, -1, 6, -0.0, 0},
        {"maxRmsError NaN", good, ones, -1, 6, nan, 0},
        {"too few pairs", good, {}, 5, 6, inf, zmath_errMatrixSingular},
        {"coordinates near 1e150", pointLinePairs(1e150), {}, -1, 6, inf, zmath_errMatrixIllConditioned},
        {"coordinates near 1e200 (squares overflow)", pointLinePairs(1e200), {}, -1, 6, inf, zmath_errFitSolveFailed},
        {"coordinates near 1e-150", pointLinePairs(1e-150), {}, -1, 6, inf, zmath_errMatrixIllConditioned},
    };
    for (const PointToLineRow& row : rows) {
        SCOPED_TRACE(row.what);
        PointToLineResult r;
        r->isValid = 1;
        r->rmsError = 8;
        const zmath_pointToLineFitResult before = *r;
        const zmath_pointToLineFitParams params{row.maxRmsError, row.dof};
        const int32_t count = row.count == -1 ? int32_t(row.pairs.points.size()) : row.count;
        const zfit_status status =
            row.weights.empty()
                ? zmath_pointToLineFit(&params, row.pairs.points.data(), row.pairs.lines.data(), count, r.get())
                : zmath_pointToLineFitWeighted(&params, row.pairs.points.data(), row.pairs.lines.data(),
                                               row.weights.data(), count, r.get());
        EXPECT_EQ(status, row.expected) << zt::statusName(status);
        if (status != 0) {
            EXPECT_EQ(std::memcmp(r.get(), &before, sizeof before), 0) << "untouched";
        } else {
            EXPECT_TRUE(std::isfinite(r->rmsError));
            EXPECT_EQ(r->isValid, row.maxRmsError > r->rmsError ? 1 : 0);
        }
    }
    // Vectors of different sizes.
    zt::Points points(good.points);
    zstd_vector_zmath_shapeFLine lines;
    zstd_vector_zmath_shapeFLine_construct(&lines, int64_t(good.lines.size()) - 1);
    PointToLineResult r;
    zmath_pointToLineFitParams params;
    zmath_pointToLineFitParams_init(&params);
    EXPECT_EQ(zmath_pointToLineFitVector(&params, points.get(), &lines, r.get()), zmath_errFitSizeMismatch);
    zstd_vector_zmath_shapeFLine_destruct(&lines);
}

// ---- point-to-point -----------------------------------------------------

using PointToPointResult = zt::Owned<zmath_pointToPointFitResult, zmath_pointToPointFitResult_construct,
                                     zmath_pointToPointFitResult_destruct>;

struct PointPairs {
    std::vector<zmath_vect> target, source;
};

// Targets made from the sources by a similarity, with a little noise.
PointPairs pointPairs(double scale = 1.0, int n = 6)
{
    PointPairs p;
    for (int i = 0; i < n; ++i) {
        const zmath_vect s{scale * (i % 3), scale * (i / 3 + 0.5 * (i % 2))};
        p.source.push_back(s);
        p.target.push_back({0.8 * s.x - 0.6 * s.y + 3 * scale + 0.001 * scale * (i % 2),
                            0.6 * s.x + 0.8 * s.y - scale});
    }
    return p;
}

struct PointToPointRow {
    const char* what;
    PointPairs pairs;
    std::vector<double> weights;  // empty: unweighted
    int32_t count;                // -1: all pairs
    int32_t dof;
    double maxRmsError;
    zfit_status expected;
};

TEST(BadInput, PointToPoint)
{
    const PointPairs good = pointPairs();
    const std::vector<double> ones(good.source.size(), 1.0);
    const auto withSource = [&](size_t i, zmath_vect v) {
        PointPairs p = good;
        p.source[i] = v;
        return p;
    };
    const auto withTarget = [&](size_t i, zmath_vect v) {
        PointPairs p = good;
        p.target[i] = v;
        return p;
    };
    const auto withWeight = [&](size_t i, double w) {
        auto v = ones;
        v[i] = w;
        return v;
    };
    PointPairs sameSource = good;
    for (zmath_vect& v : sameSource.source) v = {2, 2};
    PointPairs lineSource = good;
    for (size_t i = 0; i < lineSource.source.size(); ++i) lineSource.source[i] = {double(i), 2.0 * i};
    const PointToPointRow rows[] = {
        {"NaN source", withSource(2, {nan, 0}), {}, -1, 6, inf, zmath_errFitSolveFailed},
        {"infinite target, 3 dof", withTarget(0, {inf, 0}), {}, -1, 3, inf, zmath_errFitSolveFailed},
        {"NaN weight, 4 dof", good, withWeight(1, nan), -1, 4, inf, zmath_errFitSolveFailed},
        {"infinite weight, 5 dof", good, withWeight(1, inf), -1, 5, inf, zmath_errFitSolveFailed},
        {"negative weight", good, withWeight(3, -2), -1, 6, inf, zmath_errFitWeightNegative},
        {"all weights 0", good, std::vector<double>(ones.size(), 0.0), -1, 4, inf, zmath_errFitSolveFailed},
        // Mapping it overflows the residual even though its weight is 0.
        {"far pair of weight 0", withSource(5, {-1.2e294, 0}), withWeight(5, 0), -1, 4, inf, zmath_errFitSolveFailed},
        {"count 0", good, {}, 0, 6, inf, zmath_errFitSolveFailed},
        {"negative count", good, {}, -9, 4, inf, zmath_errFitSolveFailed},
        {"two pairs, 6 dof", good, {}, 2, 6, inf, zmath_errFitSolveFailed},
        {"two pairs, 4 dof", good, {}, 2, 4, inf, 0},
        {"bad dof 2", good, {}, -1, 2, inf, zmath_errFitBadMode},
        {"bad dof 7", good, {}, -1, 7, inf, zmath_errFitBadMode},
        {"maxRmsError negative", good, {}, -1, 6, -1.0, zmath_errFitMaxRmsErrorNegative},
        {"maxRmsError -0.0", good, {}, -1, 5, -0.0, 0},
        {"maxRmsError NaN", good, ones, -1, 3, nan, 0},
        {"all sources equal, 4 dof", sameSource, {}, -1, 4, inf, zmath_errFitSolveFailed},
        {"all sources equal, 3 dof", sameSource, {}, -1, 3, inf, zmath_errFitSolveFailed},
        {"collinear sources, 6 dof", lineSource, {}, -1, 6, inf, zmath_errFitSolveFailed},
        {"collinear sources, 5 dof", lineSource, {}, -1, 5, inf, zmath_errFitSolveFailed},
        {"collinear sources, 4 dof", lineSource, {}, -1, 4, inf, 0},
        {"coordinates near 1e150", pointPairs(1e150), {}, -1, 6, inf, zmath_errFitSolveFailed},
        {"coordinates near 1e-150", pointPairs(1e-150), {}, -1, 4, inf, 0},
    };
    for (const PointToPointRow& row : rows) {
        SCOPED_TRACE(row.what);
        PointToPointResult r;
        r->isValid = 1;
        r->rmsError = 8;
        const zmath_pointToPointFitResult before = *r;
        const zmath_pointToPointFitParams params{row.maxRmsError, row.dof};
        const int32_t count = row.count == -1 ? int32_t(row.pairs.source.size()) : row.count;
        const zfit_status status =
            row.weights.empty()
                ? zmath_pointToPointFit(&params, row.pairs.target.data(), row.pairs.source.data(), count, r.get())
                : zmath_pointToPointFitWeighted(&params, row.pairs.target.data(), row.pairs.source.data(),
                                                row.weights.data(), count, r.get());
        EXPECT_EQ(status, row.expected) << zt::statusName(status);
        if (status != 0) {
            EXPECT_EQ(std::memcmp(r.get(), &before, sizeof before), 0) << "untouched";
        } else {
            EXPECT_TRUE(std::isfinite(r->rmsError));
            EXPECT_EQ(r->isValid, row.maxRmsError > r->rmsError ? 1 : 0);
        }
    }
    zt::Points target(good.target), source(std::vector<zmath_vect>(good.source.begin(), good.source.end() - 1));
    zt::Doubles weights(ones);
    PointToPointResult r;
    zmath_pointToPointFitParams params;
    zmath_pointToPointFitParams_init(&params);
    EXPECT_EQ(zmath_pointToPointFitVector(&params, target.get(), source.get(), r.get()), zmath_errFitSizeMismatch);
    EXPECT_EQ(zmath_pointToPointFitWeightedVector(&params, target.get(), source.get(), weights.get(), r.get()),
              zmath_errFitSizeMismatch);
}

TEST(BadInputDeathTest, LineNullArrayWithPoints)
{
    zt::LineResult r;
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    EXPECT_DEATH(zmath_lineFit(nullptr, 4, &params, r.get()), "broken precondition");
}

}  // namespace

namespace {

TEST(BadInputDeathTest, NullArraysWithPointsStopTheProcess)
{
    CircleResult circle;
    EllipseResult ellipse;
    PointToLineResult p2l;
    const auto cp = circleParams();
    zmath_ellipseFitParams ep;
    zmath_ellipseFitParams_init(&ep);
    zmath_pointToLineFitParams lp;
    zmath_pointToLineFitParams_init(&lp);
    const zmath_vect pts[3] = {{0, 0}, {1, 0}, {0, 1}};
    const double w[3] = {1, 1, 1};
    EXPECT_DEATH(zmath_circleFit(nullptr, 3, &cp, circle.get()), "broken precondition");
    EXPECT_DEATH(zmath_circleFitWeighted(pts, 3, nullptr, &cp, circle.get()), "broken precondition");
    EXPECT_DEATH(zmath_ellipseFit(nullptr, 6, &ep, ellipse.get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToLineFit(&lp, pts, nullptr, 3, p2l.get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToLineFitWeighted(&lp, pts, nullptr, w, 3, p2l.get()), "broken precondition");
    PointToPointResult p2p;
    zmath_pointToPointFitParams pp;
    zmath_pointToPointFitParams_init(&pp);
    EXPECT_DEATH(zmath_pointToPointFit(&pp, pts, nullptr, 3, p2p.get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToPointFitWeighted(&pp, pts, pts, nullptr, 3, p2p.get()), "broken precondition");
}

}  // namespace
