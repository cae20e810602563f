// Bad input, family by family: every row names the input, the expected
// status and what the result record must hold afterwards. A NULL array with
// points is a broken precondition and stops the process (death tests).
#include <cstddef>
#include <functional>
#include <limits>

#include "support.hpp"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = HUGE_VAL;
constexpr int32_t int32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t all = std::numeric_limits<int32_t>::min();  // count: the number of points given

using Pts = std::vector<zmath_vect>;
using Ws = std::vector<double>;

int32_t countOf(size_t n, int32_t count) { return count == all ? int32_t(n) : count; }

template <class T>
std::vector<T> with(std::vector<T> v, size_t i, T x)
{
    v[i] = x;
    return v;
}

Pts joined(Pts a, const Pts& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

template <class F>
Pts sample(int n, double scale, F f)
{
    Pts p;
    for (int i = 0; i < n; ++i) p.push_back({scale * f(i).x, scale * f(i).y});
    return p;
}

// Points on y = 2x - 1, with a little scatter so the fits are well posed.
Pts linePoints(int n, double s = 1)
{
    return sample(n, s, [](int i) { return zmath_vect{1.0 * i, 2.0 * i - 1 + ((i % 3) - 1) * 0.01}; });
}
Pts collinear(int n) { return sample(n, 1, [](int i) { return zmath_vect{1.0 * i, 2.0 * i - 1}; }); }

// Every record is isValid, the fitted shape (doubles), rmsError and, for the
// searching families, ignoredIndices.
template <class R>
constexpr bool hasIndices = requires(R r) { r.ignoredIndices; };
template <class R>
double* shapeOf(R& r) { return reinterpret_cast<double*>(reinterpret_cast<char*>(&r) + sizeof(double)); }
template <class R>
constexpr size_t shapeSize = (offsetof(R, rmsError) - sizeof(double)) / sizeof(double);

enum class After {
    Untouched,  // refused before anything changed
    Emptied,    // only ignoredIndices emptied
    Failed,     // rmsError HUGE_VAL; isValid, shape and ignoredIndices kept
    FailedEmptied,  // as Failed, with ignoredIndices emptied
    Refused,    // isValid 0, shape and rmsError kept
    Reset,      // isValid 0
    Success,    // finite fit, isValid agrees with the limit, numIgnore indices
};

template <class R>
struct Call {
    std::function<zfit_status(R*)> run;
    double maxRms = inf;  // success is judged against these
    int32_t numIgnore = 0;
};

template <class R>
struct Row {
    const char* what;
    Call<R> call;
    zfit_status expected;
    After after;
};

// Runs each row on a record primed with isValid 1, a shape of 7s, rmsError 8
// and the index 99, then checks the status and the record's state.
template <class Owned, class R = std::remove_pointer_t<decltype(std::declval<Owned&>().get())>>
void runRows(std::initializer_list<Row<R>> rows, std::type_identity_t<std::function<void(const R&)>> onSuccess = {})
{
    for (const Row<R>& row : rows) {
        SCOPED_TRACE(row.what);
        Owned r;
        r->isValid = 1;
        r->rmsError = 8;
        std::fill_n(shapeOf(*r), shapeSize<R>, 7.0);
        const int32_t marker = 99;
        if constexpr (hasIndices<R>) zstd_vector32_pushBack(&r->ignoredIndices, &marker);
        const zfit_status status = row.call.run(r.get());
        EXPECT_EQ(status, row.expected) << zt::statusName(status);
        const bool shapeKept = std::all_of(shapeOf(*r), shapeOf(*r) + shapeSize<R>, [](double v) { return v == 7; });
        const auto indicesAre = [&](std::vector<int32_t> want) {
            if constexpr (hasIndices<R>) {
                EXPECT_EQ(zt::indices(r->ignoredIndices), want);
            }
        };
        switch (row.after) {
        case After::Untouched:
        case After::Emptied:
            EXPECT_TRUE(shapeKept && r->isValid == 1 && r->rmsError == 8);
            indicesAre(row.after == After::Untouched ? std::vector<int32_t>{99} : std::vector<int32_t>{});
            break;
        case After::Failed:
        case After::FailedEmptied:
            EXPECT_TRUE(shapeKept && r->isValid == 1 && r->rmsError == HUGE_VAL);
            indicesAre(row.after == After::Failed ? std::vector<int32_t>{99} : std::vector<int32_t>{});
            break;
        case After::Refused:
            EXPECT_TRUE(shapeKept && r->isValid == 0 && r->rmsError == 8);
            break;
        case After::Reset:
            EXPECT_EQ(r->isValid, 0);
            break;
        case After::Success:
            EXPECT_TRUE(std::isfinite(r->rmsError));
            EXPECT_TRUE(std::all_of(shapeOf(*r), shapeOf(*r) + shapeSize<R>, [](double v) { return std::isfinite(v); }));
            EXPECT_EQ(r->isValid, row.call.maxRms > r->rmsError ? 1 : 0);
            if constexpr (hasIndices<R>) {
                EXPECT_EQ(r->ignoredIndices.size, row.call.numIgnore);
            }
            if (onSuccess) onSuccess(*r);
            break;
        }
    }
}

constexpr zfit_status degenerate = zmath_errDegenerate;

// ---- line ---------------------------------------------------------------

TEST(BadInput, Line)
{
    using R = zmath_lineFitResult;
    const auto fit = [](Pts p, int32_t ignore = 0, int32_t mode = 0, double maxRms = inf, int32_t count = all) {
        return Call<R>{[=](R* r) {
                           const zmath_lineFitParams params{ignore, maxRms, mode};
                           return zmath_lineFit(p.data(), countOf(p.size(), count), &params, r);
                       },
                       maxRms, ignore};
    };
    const auto pts = linePoints(12);
    const Pts dup{{0, 0}, {0, 0}, {1, 2}, {1, 2}, {2, 4.1}};
    runRows<zt::LineResult>({
        {"NaN x", fit(with(pts, 3, {nan, 1})), degenerate, After::Failed},
        {"NaN y in a search", fit(with(pts, 0, {0, nan}), 2), degenerate, After::Failed},
        {"infinite x", fit(with(pts, 11, {inf, 1})), degenerate, After::Failed},
        {"infinite in min zone", fit(with(pts, 5, {-inf, 0}), 1, 1), degenerate, After::Failed},
        {"count 0", fit(pts, 0, 0, inf, 0), degenerate, After::Failed},
        {"NULL array, count 0", fit({}, 0, 0, inf, 0), degenerate, After::Failed},
        {"negative count", fit(pts, 0, 0, inf, -3), degenerate, After::Failed},
        {"numIgnore negative", fit(pts, -1), zmath_errFitNumIgnoreNegative, After::Untouched},
        {"numIgnore = n, exhaustive", fit(linePoints(3), 3), degenerate, After::Failed},
        {"numIgnore = n, ranked", fit(pts, 12), degenerate, After::Failed},
        {"numIgnore > n, exhaustive", fit(linePoints(2), 3), degenerate, After::Failed},
        {"numIgnore > n, min zone", fit(pts, 13, 1), degenerate, After::Failed},
        {"numIgnore INT32_MAX, ranked", fit(pts, int32Max), degenerate, After::Failed},
        {"numIgnore INT32_MAX, min zone", fit(pts, int32Max, 1), degenerate, After::Failed},
        {"bad mode", fit(pts, 0, 2), zmath_errFitBadMode, After::Untouched},
        {"maxRmsError negative", fit(pts, 0, 0, -1.0), zmath_errFitMaxRmsErrorNegative, After::Untouched},
        {"maxRmsError -0.0", fit(pts, 0, 0, -0.0), 0, After::Success},
        {"maxRmsError NaN", fit(pts, 0, 0, nan), 0, After::Success},
        {"all points equal", fit(Pts(6, {1.5, -2})), degenerate, After::Failed},
        {"all points equal, ranked", fit(Pts(9, {1.5, -2}), 4), degenerate, After::Failed},
        {"collinear", fit({{0, 0}, {1, 1}, {2, 2}, {3, 3}}), 0, After::Success},
        {"duplicated points", fit(dup), 0, After::Success},
        {"duplicated points, exhaustive", fit(dup, 1), 0, After::Success},
        {"coordinates near 1e150", fit(linePoints(12, 1e150)), 0, After::Success},
        {"coordinates near 1e-150", fit(linePoints(12, 1e-150)), 0, After::Success},
    });
}

// ---- circle -------------------------------------------------------------

using CircleResult = zt::Owned<zmath_circleFitResult, zmath_circleFitResult_construct, zmath_circleFitResult_destruct>;

Pts circlePoints(int n, double s = 1)
{
    return sample(n, s, [n](int i) {
        const double t = 2 * zt::pi * i / n;
        return zmath_vect{3 + 2 * std::cos(t) + 0.001 * (i % 2), -1 + 2 * std::sin(t)};
    });
}

zmath_circleFitParams circleParams(int32_t numIgnore = 0, int32_t mode = 0, double maxRms = inf, double radius = 2)
{
    zmath_circleFitParams p;
    zmath_circleFitParams_init(&p);
    p.numIgnore = numIgnore;
    p.mode = mode;
    p.maxRmsError = maxRms;
    p.fixedRadius = radius;
    return p;
}

TEST(BadInput, Circle)
{
    using R = zmath_circleFitResult;
    const auto fit = [](Pts p, int32_t ignore = 0, int32_t mode = 0, double maxRms = inf, int32_t count = all,
                        double radius = 2) {
        return Call<R>{[=](R* r) {
                           const auto params = circleParams(ignore, mode, maxRms, radius);
                           return zmath_circleFit(p.data(), countOf(p.size(), count), &params, r);
                       },
                       maxRms, ignore};
    };
    const auto weighted = [](Pts p, Ws w, int32_t ignore = 0, double maxRms = inf, int32_t count = all) {
        return Call<R>{[=](R* r) {
                           const auto params = circleParams(ignore, 0, maxRms);
                           return zmath_circleFitWeighted(p.data(), countOf(p.size(), count), w.data(), &params, r);
                       },
                       maxRms};
    };
    const auto pts = circlePoints(10);
    const Ws ones(10, 1.0);
    const Call<R> shortWeights{[&](R* r) {
        zt::Points v(pts);
        zt::Doubles w(Ws(9, 1.0));
        const auto params = circleParams();
        return zmath_circleFitWeightedVector(v.get(), w.get(), &params, r);
    }};
    runRows<CircleResult>({
        {"NaN x, free radius", fit(with(pts, 2, {nan, 0}), 1), degenerate, After::FailedEmptied},
        {"infinite y, fixed radius", fit(with(pts, 9, {0, -inf}), 0, 1), degenerate, After::FailedEmptied},
        {"NaN coordinate, weighted", weighted(with(pts, 0, {nan, 1}), ones), degenerate, After::Emptied},
        {"NaN weight", weighted(pts, with(ones, 4, nan)), degenerate, After::Emptied},
        {"infinite weight", weighted(pts, with(ones, 4, inf)), degenerate, After::Emptied},
        {"negative weight", weighted(pts, with(ones, 7, -1.0)), zmath_errFitWeightNegative, After::Emptied},
        {"all weights 0", weighted(pts, Ws(10, 0.0)), degenerate, After::Emptied},
        {"weight count differs", shortWeights, zmath_errFitWeightCount, After::Untouched},
        {"count 0", fit(pts, 0, 0, inf, 0), degenerate, After::FailedEmptied},
        {"negative count", fit(pts, 0, 0, inf, -2), degenerate, After::FailedEmptied},
        {"NULL array with count 0", fit({}, 0, 0, inf, 0), degenerate, After::FailedEmptied},
        {"negative count, weighted", weighted(pts, ones, 0, inf, -1000), degenerate, After::Emptied},
        {"numIgnore negative", fit(pts, -1), zmath_errFitNumIgnoreNegative, After::Untouched},
        {"numIgnore negative, weighted", weighted(pts, ones, -1), zmath_errFitWeightedIgnore, After::Emptied},
        {"numIgnore = n", fit(pts, 10), degenerate, After::FailedEmptied},
        {"numIgnore > n, fixed radius", fit(pts, 11, 1), degenerate, After::FailedEmptied},
        {"numIgnore INT32_MAX", fit(pts, int32Max), degenerate, After::FailedEmptied},
        {"bad mode", fit(pts, 0, 3), zmath_errFitBadMode, After::Untouched},
        {"fixedRadius negative", fit(pts, 0, 0, inf, all, -1), zmath_errFitFixedRadiusNegative, After::Untouched},
        {"maxRmsError negative", fit(pts, 0, 0, -1.0), zmath_errFitMaxRmsErrorNegative, After::Untouched},
        {"maxRmsError -0.0", fit(pts, 0, 0, -0.0), 0, After::Success},
        {"maxRmsError NaN, weighted", weighted(pts, ones, 0, nan), 0, After::Success},
        {"all points equal", fit(Pts(8, {1, 1}), 1), degenerate, After::FailedEmptied},
        {"collinear", fit(linePoints(8), 0, 1), degenerate, After::FailedEmptied},
        {"collinear, weighted", weighted({{0, 0}, {1, 1}, {2, 2}, {3, 3}}, {1, 1, 1, 1}), degenerate, After::Emptied},
        {"duplicated points", fit(joined(pts, Pts(pts.begin(), pts.begin() + 4)), 2), 0, After::Success},
        // Cubic moments overflow (1e450) or underflow: refused, not garbage.
        {"coordinates near 1e150, weighted", weighted(circlePoints(10, 1e150), ones), degenerate, After::Emptied},
        {"coordinates near 1e150", fit(circlePoints(10, 1e150), 1), degenerate, After::FailedEmptied},
        // Below the collinearity tolerance every triple counts as collinear.
        {"coordinates near 1e-150", fit(circlePoints(10, 1e-150), 1), degenerate, After::FailedEmptied},
        {"coordinates near 1e-6", fit(circlePoints(10, 1e-6), 1), 0, After::Success},
    });
}

// ---- ellipse ------------------------------------------------------------

using EllipseResult =
    zt::Owned<zmath_ellipseFitResult, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_destruct>;

Pts ellipsePoints(int n, double s = 1)
{
    return sample(n, s, [n](int i) {
        const double t = 2 * zt::pi * i / n + 0.1;
        return zmath_vect{1 + 3 * std::cos(t), 2 + 1.5 * std::sin(t)};
    });
}

TEST(BadInput, Ellipse)
{
    using R = zmath_ellipseFitResult;
    const auto fit = [](Pts p, int32_t ignore = 0, double maxRms = inf, int32_t count = all) {
        return Call<R>{[=](R* r) {
                           zmath_ellipseFitParams params;
                           zmath_ellipseFitParams_init(&params);
                           params.numIgnore = ignore;
                           params.maxRmsError = maxRms;
                           return zmath_ellipseFit(p.data(), countOf(p.size(), count), &params, r);
                       },
                       maxRms, ignore};
    };
    const auto pts = ellipsePoints(9);
    runRows<EllipseResult>({
        {"NaN x", fit(with(pts, 1, {nan, 0})), degenerate, After::Reset},
        {"infinite y in the subset search", fit(with(pts, 8, {0, inf}), 1), degenerate, After::Reset},
        {"count 0", fit(pts, 0, inf, 0), degenerate, After::Untouched},
        {"negative count", fit(pts, 0, inf, -7), degenerate, After::Untouched},
        {"NULL array, count 0", fit({}, 0, inf, 0), degenerate, After::Untouched},
        {"four points", fit(ellipsePoints(4)), degenerate, After::Untouched},
        {"numIgnore negative", fit(pts, -1), zmath_errFitNumIgnoreNegative, After::Untouched},
        {"numIgnore = n", fit(pts, 9), degenerate, After::Untouched},
        {"numIgnore > n", fit(pts, 10), degenerate, After::Untouched},
        {"numIgnore INT32_MAX", fit(pts, int32Max), degenerate, After::Untouched},
        {"maxRmsError negative", fit(pts, 0, -2.0), zmath_errFitMaxRmsErrorNegative, After::Untouched},
        {"maxRmsError -0.0", fit(pts, 0, -0.0), 0, After::Success},
        {"maxRmsError NaN", fit(pts, 1, nan), 0, After::Success},
        {"all points equal", fit(Pts(7, {2, 2})), degenerate, After::Reset},
        {"collinear", fit(collinear(8)), degenerate, After::Reset},
        {"collinear, every subset", fit(collinear(8), 2), degenerate, After::Reset},
        {"duplicated points", fit(joined(pts, {pts[0], pts[3]}), 1), 0, After::Success},
        {"coordinates near 1e150", fit(ellipsePoints(9, 1e150)), degenerate, After::Reset},
        {"coordinates near 1e-150", fit(ellipsePoints(9, 1e-150)), degenerate, After::Reset},
    });
}

// ---- parabola -----------------------------------------------------------

using ParabolaResult =
    zt::Owned<zmath_parabolaFitResult, zmath_parabolaFitResult_construct, zmath_parabolaFitResult_destruct>;

Pts parabolaPoints(int n, double s = 1)
{
    return sample(n, s, [n](int i) {
        const double x = i - n / 2.0;
        return zmath_vect{x, 0.3 * x * x - 1};
    });
}

TEST(BadInput, Parabola)
{
    using R = zmath_parabolaFitResult;
    // An empty weight list calls the unweighted entry.
    const auto fit = [](Pts p, Ws w = {}, int32_t maxIterations = 5) {
        return Call<R>{[=](R* r) {
            const zmath_parabolaFitParams params{maxIterations};
            zt::Points points(p);
            zt::Doubles weights(w);
            return w.empty() ? zmath_parabolaFitVector(points.get(), &params, r)
                             : zmath_parabolaFitWeightedVector(points.get(), weights.get(), &params, r);
        }};
    };
    const auto pts = parabolaPoints(9);
    const Ws ones(9, 1.0);
    runRows<ParabolaResult>(
        {
            {"NaN x", fit(with(pts, 2, {nan, 0})), degenerate, After::Refused},
            {"infinite y, weighted", fit(with(pts, 2, {0, inf}), ones), degenerate, After::Refused},
            {"NaN weight", fit(pts, with(ones, 3, nan)), degenerate, After::Refused},
            {"infinite weight", fit(pts, with(ones, 3, inf)), degenerate, After::Refused},
            {"negative weight", fit(pts, with(ones, 3, -0.5)), zmath_errFitWeightNegative, After::Refused},
            {"all weights 0", fit(pts, Ws(9, 0.0)), degenerate, After::Refused},
            {"weight count differs", fit(pts, Ws(8, 1.0)), zmath_errFitWeightCount, After::Refused},
            {"no points", fit({}), degenerate, After::Reset},
            {"maxIterations 0", fit(pts, {}, 0), zmath_errFitMaxIterations, After::Refused},
            {"maxIterations negative, weighted", fit(pts, ones, -3), zmath_errFitMaxIterations, After::Refused},
            {"all points equal", fit(Pts(5, {1, 2})), degenerate, After::Reset},
            {"collinear", fit(collinear(6)), zmath_errMatrixIllConditioned, After::Reset},
            {"duplicated points", fit(joined(pts, {pts[1]})), 0, After::Success},
            // The normal equations cannot be formed at these magnitudes: refused, not garbage.
            {"coordinates near 1e150", fit(parabolaPoints(9, 1e150)), zmath_errMatrixIllConditioned, After::Reset},
            {"coordinates near 1e-150", fit(parabolaPoints(9, 1e-150)), zmath_errMatrixIllConditioned, After::Reset},
            {"coordinates near 1e-100", fit(parabolaPoints(9, 1e-100)), 0, After::Success},
        },
        [](const R& r) { EXPECT_GE(r.parabola.coefficient, 0.0); });
}

// ---- point-to-line and point-to-point -----------------------------------

// Pairs of points and lines (point-to-line) or of targets and sources
// (point-to-point).
template <class B>
struct Pairs {
    Pts a;
    std::vector<B> b;
};

// Four points, each on a horizontal and a vertical line through it.
Pairs<zmath_shapeFLine> pointLinePairs(double scale = 1)
{
    Pairs<zmath_shapeFLine> p;
    for (const zmath_vect q : {zmath_vect{0, 0}, zmath_vect{4, 1}, zmath_vect{1, 3}, zmath_vect{5, 5}}) {
        const zmath_vect s{q.x * scale, q.y * scale};
        zmath_shapeFLine h, v;
        const double zero = 0, quarter = zt::pi / 2;
        zmath_shapeFLine_initAngleDistance(&h, &zero, s.y);      // y = s.y
        zmath_shapeFLine_initAngleDistance(&v, &quarter, -s.x);  // x = s.x
        p.a.insert(p.a.end(), {s, s});
        p.b.insert(p.b.end(), {h, v});
    }
    return p;
}

// Targets made from the sources by a similarity, with a little noise.
Pairs<zmath_vect> pointPairs(double scale = 1)
{
    Pairs<zmath_vect> p;
    for (int i = 0; i < 6; ++i) {
        const zmath_vect s{scale * (i % 3), scale * (i / 3 + 0.5 * (i % 2))};
        p.b.push_back(s);
        p.a.push_back({0.8 * s.x - 0.6 * s.y + 3 * scale + 0.001 * scale * (i % 2), 0.6 * s.x + 0.8 * s.y - scale});
    }
    return p;
}

// The array entries of a pair family; an empty weight list calls the unweighted one.
template <class P, class B, class R>
auto pairFit(zfit_status (*plain)(const P*, const zmath_vect*, const B*, int32_t, R*),
             zfit_status (*weighted)(const P*, const zmath_vect*, const B*, const double*, int32_t, R*))
{
    return [=](Pairs<B> p, Ws w = {}, int32_t dof = 6, double maxRms = inf, int32_t count = all) {
        return Call<R>{[=](R* r) {
                           const P params{maxRms, dof};
                           const int32_t n = countOf(p.a.size(), count);
                           return w.empty() ? plain(&params, p.a.data(), p.b.data(), n, r)
                                            : weighted(&params, p.a.data(), p.b.data(), w.data(), n, r);
                       },
                       maxRms};
    };
}

TEST(BadInput, PointToLine)
{
    using R = zmath_pointToLineFitResult;
    using Result = zt::Owned<R, zmath_pointToLineFitResult_construct, zmath_pointToLineFitResult_destruct>;
    const auto fit = pairFit(zmath_pointToLineFit, zmath_pointToLineFitWeighted);
    const auto good = pointLinePairs();
    const Ws ones(good.a.size(), 1.0);
    const auto withPoint = [&](zmath_vect v) { return Pairs<zmath_shapeFLine>{with(good.a, 1, v), good.b}; };
    const auto withLineD = [&](double d) { auto p = good; p.b[2].d = d; return p; };
    const Call<R> shortLines{[&](R* r) {
        zt::Points points(good.a);
        zstd_vector_zmath_shapeFLine lines;
        zstd_vector_zmath_shapeFLine_construct(&lines, int64_t(good.b.size()) - 1);
        zmath_pointToLineFitParams params;
        zmath_pointToLineFitParams_init(&params);
        const zfit_status s = zmath_pointToLineFitVector(&params, points.get(), &lines, r);
        zstd_vector_zmath_shapeFLine_destruct(&lines);
        return s;
    }};
    const auto failed = zmath_errFitSolveFailed, singular = zmath_errMatrixSingular;
    runRows<Result>({
        {"NaN coordinate", fit(withPoint({nan, 0})), failed, After::Untouched},
        {"infinite coordinate, weighted", fit(withPoint({0, -inf}), ones), failed, After::Untouched},
        {"NaN line distance", fit(withLineD(nan)), failed, After::Untouched},
        {"infinite line distance", fit(withLineD(inf)), failed, After::Untouched},
        {"NaN weight", fit(good, with(ones, 0, nan)), failed, After::Untouched},
        {"negative weight", fit(good, with(ones, 0, -1.0)), zmath_errFitWeightNegative, After::Untouched},
        {"all weights 0", fit(good, Ws(ones.size(), 0.0)), singular, After::Untouched},
        {"count 0", fit(good, {}, 6, inf, 0), singular, After::Untouched},
        {"NULL arrays, count 0", fit({}, {}, 6, inf, 0), singular, After::Untouched},
        {"negative count", fit(good, {}, 6, inf, -4), singular, After::Untouched},
        {"too few pairs", fit(good, {}, 6, inf, 5), singular, After::Untouched},
        {"bad dof", fit(good, {}, 5), zmath_errFitBadMode, After::Untouched},
        {"maxRmsError negative", fit(good, {}, 6, -1.0), zmath_errFitMaxRmsErrorNegative, After::Untouched},
        {"maxRmsError -0.0", fit(good, {}, 6, -0.0), 0, After::Success},
        {"maxRmsError NaN", fit(good, ones, 6, nan), 0, After::Success},
        {"vectors of different sizes", shortLines, zmath_errFitSizeMismatch, After::Untouched},
        {"coordinates near 1e150", fit(pointLinePairs(1e150)), zmath_errMatrixIllConditioned, After::Untouched},
        {"coordinates near 1e200 (squares overflow)", fit(pointLinePairs(1e200)), failed, After::Untouched},
        {"coordinates near 1e-150", fit(pointLinePairs(1e-150)), zmath_errMatrixIllConditioned, After::Untouched},
    });
}

TEST(BadInput, PointToPoint)
{
    using R = zmath_pointToPointFitResult;
    using Result = zt::Owned<R, zmath_pointToPointFitResult_construct, zmath_pointToPointFitResult_destruct>;
    const auto fit = pairFit(zmath_pointToPointFit, zmath_pointToPointFitWeighted);
    const auto good = pointPairs();
    const Ws ones(good.a.size(), 1.0);
    const auto withSource = [&](size_t i, zmath_vect v) { return Pairs<zmath_vect>{good.a, with(good.b, i, v)}; };
    const Pairs<zmath_vect> sameSource{good.a, Pts(6, {2, 2})}, lineSource{good.a, collinear(6)};
    // One source fewer than targets, through both vector entries.
    const auto mismatched = [&](bool weightedEntry) {
        return Call<R>{[&, weightedEntry](R* r) {
            zt::Points target(good.a), source(Pts(good.b.begin(), good.b.end() - 1));
            zt::Doubles weights(ones);
            zmath_pointToPointFitParams params;
            zmath_pointToPointFitParams_init(&params);
            return weightedEntry ? zmath_pointToPointFitWeightedVector(&params, target.get(), source.get(),
                                                                       weights.get(), r)
                                 : zmath_pointToPointFitVector(&params, target.get(), source.get(), r);
        }};
    };
    const auto failed = zmath_errFitSolveFailed;
    runRows<Result>({
        {"NaN source", fit(withSource(2, {nan, 0})), failed, After::Untouched},
        {"infinite target, 3 dof", fit({with(good.a, 0, {inf, 0}), good.b}, {}, 3), failed, After::Untouched},
        {"NaN weight, 4 dof", fit(good, with(ones, 1, nan), 4), failed, After::Untouched},
        {"infinite weight, 5 dof", fit(good, with(ones, 1, inf), 5), failed, After::Untouched},
        {"negative weight", fit(good, with(ones, 3, -2.0)), zmath_errFitWeightNegative, After::Untouched},
        {"all weights 0", fit(good, Ws(6, 0.0), 4), failed, After::Untouched},
        // Mapping it overflows the residual even though its weight is 0.
        {"far pair of weight 0", fit(withSource(5, {-1.2e294, 0}), with(ones, 5, 0.0), 4), failed, After::Untouched},
        {"count 0", fit(good, {}, 6, inf, 0), failed, After::Untouched},
        {"NULL arrays, count 0", fit({}, {}, 6, inf, 0), failed, After::Untouched},
        {"negative count", fit(good, {}, 4, inf, -9), failed, After::Untouched},
        {"two pairs, 6 dof", fit(good, {}, 6, inf, 2), failed, After::Untouched},
        {"two pairs, 4 dof", fit(good, {}, 4, inf, 2), 0, After::Success},
        {"bad dof 2", fit(good, {}, 2), zmath_errFitBadMode, After::Untouched},
        {"bad dof 7", fit(good, {}, 7), zmath_errFitBadMode, After::Untouched},
        {"maxRmsError negative", fit(good, {}, 6, -1.0), zmath_errFitMaxRmsErrorNegative, After::Untouched},
        {"maxRmsError -0.0", fit(good, {}, 5, -0.0), 0, After::Success},
        {"maxRmsError NaN", fit(good, ones, 3, nan), 0, After::Success},
        {"all sources equal, 4 dof", fit(sameSource, {}, 4), failed, After::Untouched},
        {"all sources equal, 3 dof", fit(sameSource, {}, 3), failed, After::Untouched},
        {"collinear sources, 6 dof", fit(lineSource, {}, 6), failed, After::Untouched},
        {"collinear sources, 5 dof", fit(lineSource, {}, 5), failed, After::Untouched},
        {"collinear sources, 4 dof", fit(lineSource, {}, 4), 0, After::Success},
        {"vectors of different sizes", mismatched(false), zmath_errFitSizeMismatch, After::Untouched},
        {"vectors of different sizes, weighted", mismatched(true), zmath_errFitSizeMismatch, After::Untouched},
        {"coordinates near 1e150", fit(pointPairs(1e150)), failed, After::Untouched},
        {"coordinates near 1e-150", fit(pointPairs(1e-150), {}, 4), 0, After::Success},
    });
}

TEST(BadInputDeathTest, NullArraysWithPointsStopTheProcess)
{
    zt::LineResult line;
    CircleResult circle;
    EllipseResult ellipse;
    zt::Owned<zmath_pointToLineFitResult, zmath_pointToLineFitResult_construct, zmath_pointToLineFitResult_destruct> p2l;
    zt::Owned<zmath_pointToPointFitResult, zmath_pointToPointFitResult_construct, zmath_pointToPointFitResult_destruct>
        p2p;
    zmath_lineFitParams lp;
    zmath_lineFitParams_init(&lp);
    const auto cp = circleParams();
    zmath_ellipseFitParams ep;
    zmath_ellipseFitParams_init(&ep);
    const zmath_pointToLineFitParams tp{inf, 6};
    const zmath_pointToPointFitParams pp{inf, 6};
    const zmath_vect pts[3] = {{0, 0}, {1, 0}, {0, 1}};
    const double w[3] = {1, 1, 1};
    EXPECT_DEATH(zmath_lineFit(nullptr, 4, &lp, line.get()), "broken precondition");
    EXPECT_DEATH(zmath_circleFit(nullptr, 3, &cp, circle.get()), "broken precondition");
    EXPECT_DEATH(zmath_circleFitWeighted(pts, 3, nullptr, &cp, circle.get()), "broken precondition");
    EXPECT_DEATH(zmath_ellipseFit(nullptr, 6, &ep, ellipse.get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToLineFit(&tp, pts, nullptr, 3, p2l.get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToLineFitWeighted(&tp, pts, nullptr, w, 3, p2l.get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToPointFit(&pp, pts, nullptr, 3, p2p.get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToPointFitWeighted(&pp, pts, pts, nullptr, 3, p2p.get()), "broken precondition");
}

}  // namespace
