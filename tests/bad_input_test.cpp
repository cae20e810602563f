// Bad input, family by family: every row names the input, the expected
// status and what the result record must hold afterwards. A NULL array with
// points is a broken precondition and stops the process (death tests).
#include <functional>
#include <limits>
#include <optional>

#include "support.hpp"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN(), inf = HUGE_VAL;
constexpr int32_t int32Max = std::numeric_limits<int32_t>::max();
constexpr zfit_status degenerate = zmath_errDegenerate;
using Pts = std::vector<zmath_vect>;
using Ws = std::vector<double>;

// The count a call passes: the one given, or else the number of points.
using Count = std::optional<int32_t>;
int32_t countOf(size_t n, Count count) { return count.value_or(static_cast<int32_t>(n)); }

// v with element i replaced by x; a followed by b.
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

// n points f(i, 2 pi i / n), scaled.
template <class F>
Pts sample(int n, double s, F f)
{
    Pts p;
    for (int i = 0; i < n; ++i) p.push_back({s * f(i, 2 * zt::pi * i / n).x, s * f(i, 2 * zt::pi * i / n).y});
    return p;
}

// Points on y = 2x - 1, with a little scatter so the fits are well posed.
Pts linePoints(int n, double s = 1)
{
    return sample(n, s, [](int i, double) { return zmath_vect{1.0 * i, 2.0 * i - 1 + ((i % 3) - 1) * 0.01}; });
}
Pts collinear(int n)
{
    return sample(n, 1, [](int i, double) { return zmath_vect{1.0 * i, 2.0 * i - 1}; });
}

// What the record holds after a row. A failing row leaves isValid, rmsError
// (when promised), ignoredIndices (kept, emptied or not promised) and the
// shape (kept or not promised) as listed, starting from zt::dirty(). A
// succeeding row holds a finite fit, isValid agreeing with its limit and
// numIgnore indices.
enum class Outcome { Fails, Succeeds };
enum class Indices { Kept, Emptied, NotPromised };
enum class Shape { Kept, NotPromised };
struct After {
    Outcome outcome;
    int32_t isValid = 1;
    std::optional<double> rmsError = zt::kDirtyError;
    Indices indices = Indices::Kept;
    Shape shape = Shape::Kept;
};
constexpr After untouched{Outcome::Fails}, emptied{Outcome::Fails, 1, zt::kDirtyError, Indices::Emptied},
    failed{Outcome::Fails, 1, inf}, failedEmptied{Outcome::Fails, 1, inf, Indices::Emptied},
    refused{Outcome::Fails, 0, zt::kDirtyError, Indices::NotPromised},
    reset{Outcome::Fails, 0, std::nullopt, Indices::NotPromised, Shape::NotPromised}, success{Outcome::Succeeds};

// A call on the record, and the limits a success is judged against.
template <class R>
struct Call {
    std::function<zfit_status(R*)> run;
    double maxRms = inf;
    int32_t numIgnore = 0;
};
template <class R>
struct Row {
    const char* what;
    Call<R> call;
    zfit_status expected;
    After after;
};

// Runs each row on a dirty record (zt::dirty), then checks the status and
// the record's state.
template <class R>
void runRows(std::initializer_list<Row<R>> rows, std::type_identity_t<std::function<void(const R&)>> onSuccess = {})
{
    for (const Row<R>& row : rows) {
        SCOPED_TRACE(row.what);
        zfit::Result<R> r;
        zt::dirty(*r);
        const zfit_status status = row.call.run(r.get());
        EXPECT_EQ(status, row.expected) << zfit::statusName(status);
        const After& after = row.after;
        const std::vector<double> shape = zt::shapeValues(*r);
        if (after.outcome == Outcome::Succeeds) {
            EXPECT_TRUE(std::isfinite(r->rmsError)) << "a finite error: " << r->rmsError;
            for (size_t k = 0; k < shape.size(); ++k) EXPECT_TRUE(std::isfinite(shape[k])) << "shape value " << k;
            EXPECT_EQ(r->isValid, row.call.maxRms > r->rmsError ? 1 : 0) << "isValid agrees with the limit";
            if constexpr (zt::hasIndices<R>) {
                EXPECT_EQ(r->ignoredIndices.size, row.call.numIgnore) << "numIgnore indices";
            }
            if (onSuccess) onSuccess(*r);
            continue;
        }
        EXPECT_EQ(r->isValid, after.isValid) << "isValid after the failure";
        if (after.rmsError) {
            EXPECT_EQ(r->rmsError, *after.rmsError) << "rmsError after the failure";
        }
        if (after.shape == Shape::Kept) {
            EXPECT_EQ(shape, std::vector<double>(shape.size(), zt::kDirtyShape)) << "the shape kept";
        }
        if constexpr (zt::hasIndices<R>) {
            if (after.indices == Indices::Kept) {
                EXPECT_EQ(zt::indices(r->ignoredIndices), std::vector<int32_t>{zt::kDirtyIndex}) << "indices kept";
            }
            if (after.indices == Indices::Emptied) {
                EXPECT_EQ(r->ignoredIndices.size, 0) << "indices emptied";
            }
        }
    }
}

// ---- line ---------------------------------------------------------------

TEST(BadInput, Line)
{
    using R = zmath_lineFitResult;
    const auto fit = [](Pts p, int32_t ignore = 0, int32_t mode = 0, double maxRms = inf) {
        const zmath_lineFitParams params{ignore, maxRms, mode};
        return Call<R>{[=](R* r) { return zmath_lineFit(p.data(), int32_t(p.size()), &params, r); }, maxRms, ignore};
    };
    const auto pts = linePoints(12);
    const Pts dup{{0, 0}, {0, 0}, {1, 2}, {1, 2}, {2, 4.1}};
    runRows<zmath_lineFitResult>({
        {"NaN x", fit(with(pts, 3, {nan, 1})), degenerate, failed},
        {"numIgnore INT32_MAX, ranked", fit(pts, int32Max), degenerate, failed},
        {"maxRmsError -0.0", fit(pts, 0, 0, -0.0), 0, success},
        // The difference of the first two points overflows: their direction has no unit normal.
        {"min zone, points near opposite ends of the range", fit({{-1.5e308, 0}, {1.5e308, 1}, {0, 2}}, 0, 1),
         zmath_errZeroLength, failed},
        {"duplicated points, exhaustive", fit(dup, 1), 0, success},
        {"coordinates near 1e150", fit(linePoints(12, 1e150)), 0, success},
        {"coordinates near 1e-150", fit(linePoints(12, 1e-150)), 0, success},
    });
}

// ---- circle -------------------------------------------------------------

Pts circlePoints(int n, double s = 1)
{
    auto on = [](int i, double t) { return zmath_vect{3 + 2 * std::cos(t) + 0.001 * (i % 2), -1 + 2 * std::sin(t)}; };
    return sample(n, s, on);
}

TEST(BadInput, Circle)
{
    using R = zmath_circleFitResult;
    const auto fit = [](Pts p, int32_t ignore = 0, int32_t mode = 0, double maxRms = inf, double radius = 2) {
        const zmath_circleFitParams params{ignore, maxRms, mode, radius};
        return Call<R>{[=](R* r) { return zmath_circleFit(p.data(), int32_t(p.size()), &params, r); }, maxRms, ignore};
    };
    const auto weighted = [](Pts p, Ws w, int32_t ignore = 0, double maxRms = inf, Count count = std::nullopt) {
        const zmath_circleFitParams params{ignore, maxRms, 0, 2};
        const int32_t n = countOf(p.size(), count);
        return Call<R>{[=](R* r) { return zmath_circleFitWeighted(p.data(), n, w.data(), &params, r); }, maxRms};
    };
    const auto pts = circlePoints(10);
    const Ws ones(10, 1.0);
    const Call<R> shortWeights{[&](R* r) {
        const zmath_circleFitParams params{0, inf, 0, 2};
        return zmath_circleFitWeightedVector(zfit::Points(pts).get(), zfit::Doubles(Ws(9, 1.0)).get(), &params, r);
    }};
    runRows<zmath_circleFitResult>({
        {"NaN coordinate, fixed radius", fit(with(pts, 3, {1, nan}), 1, 1), degenerate, failedEmptied},
        {"NaN coordinate, weighted", weighted(with(pts, 0, {nan, 1}), ones), degenerate, emptied},
        {"NaN weight", weighted(pts, with(ones, 4, nan)), degenerate, emptied},
        {"negative weight", weighted(pts, with(ones, 7, -1.0)), zmath_errFitWeightNegative, emptied},
        {"all weights 0", weighted(pts, Ws(10, 0.0)), degenerate, emptied},
        {"weight count differs", shortWeights, zmath_errFitWeightCount, untouched},
        {"negative count, weighted", weighted(pts, ones, 0, inf, -1000), degenerate, emptied},
        {"numIgnore negative", fit(pts, -1), zmath_errFitNumIgnoreNegative, untouched},
        {"numIgnore negative, weighted", weighted(pts, ones, -1), zmath_errFitWeightedIgnore, emptied},
        {"numIgnore INT32_MAX", fit(pts, int32Max), degenerate, failedEmptied},
        {"bad mode", fit(pts, 0, 3), zmath_errFitBadMode, untouched},
        {"fixedRadius negative", fit(pts, 0, 0, inf, -1), zmath_errFitFixedRadiusNegative, untouched},
        {"fixedRadius NaN", fit(pts, 0, 1, inf, nan), degenerate, failedEmptied},
        {"maxRmsError negative", fit(pts, 0, 0, -1.0), zmath_errFitMaxRmsErrorNegative, untouched},
        {"maxRmsError NaN, weighted", weighted(pts, ones, 0, nan), 0, success},
        {"all points equal", fit(Pts(8, {1, 1}), 1), degenerate, failedEmptied},
        {"collinear", fit(linePoints(8), 0, 1), degenerate, failedEmptied},
        {"collinear, weighted", weighted({{0, 0}, {1, 1}, {2, 2}, {3, 3}}, {1, 1, 1, 1}), degenerate, emptied},
        // Cubic moments overflow (1e450) or underflow: refused, not garbage.
        {"coordinates near 1e150, weighted", weighted(circlePoints(10, 1e150), ones), degenerate, emptied},
        // Below the collinearity tolerance every triple counts as collinear.
        {"coordinates near 1e-150", fit(circlePoints(10, 1e-150), 1), degenerate, failedEmptied},
        {"coordinates near 1e-6", fit(circlePoints(10, 1e-6), 1), 0, success},
    });
}

// ---- ellipse ------------------------------------------------------------

Pts ellipsePoints(int n, double s = 1)
{
    return sample(n, s, [](int, double t) { return zmath_vect{1 + 3 * std::cos(t + .1), 2 + 1.5 * std::sin(t + .1)}; });
}

// Three columns 0.7 apart and three rows 0.7 rowStep apart about (0.1, 0.3).
Pts grid(double rowStep)
{
    return sample(9, 0.7, [=](int i, double) { return zmath_vect{0.1 + i % 3 - 1, 0.3 + rowStep * (i / 3 - 1)}; });
}

TEST(BadInput, Ellipse)
{
    using R = zmath_ellipseFitResult;
    const auto fit = [](Pts p, int32_t ignore = 0, double maxRms = inf) {
        const zmath_ellipseFitParams params{ignore, maxRms};
        return Call<R>{[=](R* r) { return zmath_ellipseFit(p.data(), int32_t(p.size()), &params, r); }, maxRms, ignore};
    };
    const auto pts = ellipsePoints(9);
    runRows<zmath_ellipseFitResult>({
        {"NaN x", fit(with(pts, 1, {nan, 0})), degenerate, reset},
        {"numIgnore negative", fit(pts, -1), zmath_errFitNumIgnoreNegative, untouched},
        // n < numIgnore + 5 would overflow here and let the search run.
        {"numIgnore INT32_MAX - 4", fit(pts, int32Max - 4), degenerate, untouched},
        {"maxRmsError negative", fit(pts, 0, -2.0), zmath_errFitMaxRmsErrorNegative, untouched},
        {"maxRmsError NaN", fit(pts, 1, nan), 0, success},
        {"all points equal", fit(Pts(7, {2, 2})), degenerate, reset},
        {"collinear, every subset", fit(collinear(8), 2), degenerate, reset},
        // x^2, xy and y^2 uncoupled: no conic singled out, though centring rounds.
        {"a 3 x 3 grid about (0.1, 0.3)", fit(grid(1)), degenerate, reset},
        {"a 3 x 3 grid, its rows 3 apart", fit(grid(3)), degenerate, reset},
        {"duplicated points", fit(joined(pts, {pts[0], pts[3]}), 1), 0, success},
        {"coordinates near 1e150", fit(ellipsePoints(9, 1e150)), degenerate, reset},
        {"coordinates near 1e-150", fit(ellipsePoints(9, 1e-150)), degenerate, reset},
        // Its scatter matrix is of the order 1e-33: judged against its own size, not against 1e-32.
        {"semi-axes 4e-9 and 1.5e-9 (metres)",
         fit(sample(8, 1e-9,
                    [](int, double t) {
                        return zmath_vect{4 * std::cos(t), 1.5 * std::sin(t)};
                    })),
         0, success},
    });
}

// ---- parabola -----------------------------------------------------------

Pts parabolaPoints(int n, double s = 1)
{
    const auto x = [n](int i) { return i - n / 2.0; };
    return sample(n, s, [&](int i, double) { return zmath_vect{x(i), 0.3 * x(i) * x(i) - 1}; });
}

// y = sqrt(5/7) x^2 at x = -2..2: the centred second moments are 10 across
// and 10 along, with no cross term.
Pts isotropicParabola(double s)
{
    return sample(5, s, [](int i, double) { return zmath_vect{i - 2.0, std::sqrt(10.0 / 14.0) * (i - 2) * (i - 2)}; });
}

TEST(BadInput, Parabola)
{
    using R = zmath_parabolaFitResult;
    // An empty weight list calls the unweighted entry.
    const auto fit = [](Pts p, Ws w = {}, int32_t maxIterations = 5) {
        const zmath_parabolaFitParams params{maxIterations};
        return Call<R>{[=](R* r) {
            zfit::Points points(p);
            return w.empty() ? zmath_parabolaFitVector(points.get(), &params, r)
                             : zmath_parabolaFitWeightedVector(points.get(), zfit::Doubles(w).get(), &params, r);
        }};
    };
    const auto pts = parabolaPoints(9);
    const Ws ones(9, 1.0);
    const Pts few{{-1, 1}, {0, 0}, {1, 1}, {2, 4}};
    const double huge = std::numeric_limits<double>::max();
    // Finite weights so large that every weighted squared residual
    // overflows, while the normal equations stay finite: neither start
    // yields a finite error, so there is no pose to report.
    Pts overflowing{{-2, -1}, {2, 0}, {-5, 1}, {-3, 0}, {1, 4}, {2, -4}};
    for (zmath_vect& p : overflowing) p = {p.x * 1e60, p.y * 1e60};
    const After refusedWithoutError{Outcome::Fails, 0, inf, Indices::NotPromised};
    runRows<zmath_parabolaFitResult>(
        {
            // Refusals come in order and never move the pose.
            {"one point", fit({{1, 2}}, {}, 1), degenerate, refused},
            {"two points: the normal equations are singular", fit({{0, 0}, {1, 3}}, {}, 1), zmath_errMatrixSingular,
             refusedWithoutError},
            {"iterations before weights", fit(few, {1, 1}, 0), zmath_errFitMaxIterations, refused},
            {"count before sign", fit(few, {-1, 1, 1}, 1), zmath_errFitWeightCount, refused},
            {"count before coordinates", fit({{nan, 0}, {1, 1}}, {1}, 1), zmath_errFitWeightCount, refused},
            {"sign before NaN", fit(few, {nan, 1, -1, 1}, 1), zmath_errFitWeightNegative, refused},
            {"sign before coordinates", fit({{nan, 0}, {1, 1}, {2, 2}}, {1, -1, 1}, 1), zmath_errFitWeightNegative,
             refused},
            {"total weight overflows", fit(few, {huge, huge, 1, 1}, 1), degenerate, refused},
            {"no start with a finite error", fit(overflowing, Ws(6, 1e200), 3), degenerate, refusedWithoutError},
            {"-0.0 is not below 0", fit(few, {1, -0.0, 1, 1}, 1), 0, success},
            {"NaN x", fit(with(pts, 2, {nan, 0})), degenerate, refused},
            {"infinite y, weighted", fit(with(pts, 2, {0, inf}), ones), degenerate, refused},
            {"NaN weight", fit(pts, with(ones, 3, nan)), degenerate, refused},
            {"all weights 0", fit(pts, Ws(9, 0.0)), degenerate, refused},
            {"no points", fit({}), degenerate, reset},
            {"all points equal", fit(Pts(5, {1, 2})), degenerate, reset},
            {"collinear", fit(collinear(6)), zmath_errMatrixIllConditioned, reset},
            {"duplicated points", fit(joined(pts, {pts[1]})), 0, success},
            // The normal equations cannot be formed at these magnitudes: refused, not garbage.
            {"coordinates near 1e150", fit(parabolaPoints(9, 1e150)), zmath_errMatrixIllConditioned, reset},
            {"coordinates near 1e-100", fit(parabolaPoints(9, 1e-100)), 0, success},
            // Second moments equal in every direction: no least-squares line to start from.
            {"spread alike in every direction", fit(isotropicParabola(1.0)), 0, success},
            {"spread alike in every direction, scaled by 1 + 1e-14", fit(isotropicParabola(1 + 1e-14)), 0, success},
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
        p.a.insert(p.a.end(), {s, s});
        p.b.insert(p.b.end(), {zt::lineAt(0.0, s.y), zt::lineAt(zt::pi / 2, -s.x)});  // y = s.y, x = s.x
    }
    return p;
}

// n points spread over a square patch (a golden-angle spiral), each paired
// with a line through its image under a slight affine distortion, the lines'
// directions turning from pair to pair.
Pairs<zmath_shapeFLine> patchPairs(zmath_vect centre, double halfWidth, int n)
{
    Pairs<zmath_shapeFLine> p;
    for (int i = 0; i < n; ++i) {
        const double r = halfWidth * std::sqrt((i + 0.5) / n), a = 2.39996 * i, angle = 0.7 * i;
        const zmath_vect q{centre.x + r * std::cos(a), centre.y + r * std::sin(a)};
        const zmath_vect image{1.01 * q.x + 0.02 * q.y - 3, -0.01 * q.x + 0.99 * q.y + 5};
        p.a.push_back(q);
        p.b.push_back(zt::lineThrough(image, angle));
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
    return [=](Pairs<B> p, Ws w = {}, int32_t dof = 6, double maxRms = inf, Count count = std::nullopt) {
        const P params{maxRms, dof};
        const int32_t n = countOf(p.a.size(), count);
        return Call<R>{[=](R* r) {
                           return w.empty() ? plain(&params, p.a.data(), p.b.data(), n, r)
                                            : weighted(&params, p.a.data(), p.b.data(), w.data(), n, r);
                       },
                       maxRms};
    };
}

TEST(BadInput, PointToLine)
{
    using R = zmath_pointToLineFitResult;
    const auto fit = pairFit(zmath_pointToLineFit, zmath_pointToLineFitWeighted);
    const auto good = pointLinePairs();
    const Ws ones(good.a.size(), 1.0);
    const auto withPoint = [&](zmath_vect v) { return Pairs<zmath_shapeFLine>{with(good.a, 1, v), good.b}; };
    const Call<R> shortLines{[&](R* r) {
        const zfit::Lines lines(std::span(good.b).first(good.b.size() - 1));
        const zmath_pointToLineFitParams params{inf, 6};
        return zmath_pointToLineFitVector(&params, zfit::Points(good.a).get(), lines.get(), r);
    }};
    const auto solveFailed = zmath_errFitSolveFailed, singular = zmath_errMatrixSingular;
    runRows<zmath_pointToLineFitResult>({
        {"NaN coordinate", fit(withPoint({nan, 0})), solveFailed, untouched},
        {"NaN weight", fit(good, with(ones, 0, nan)), solveFailed, untouched},
        {"negative weight", fit(good, with(ones, 0, -1.0)), zmath_errFitWeightNegative, untouched},
        {"all weights 0", fit(good, Ws(ones.size(), 0.0)), singular, untouched},
        {"bad dof", fit(good, {}, 5), zmath_errFitBadMode, untouched},
        {"maxRmsError negative", fit(good, {}, 6, -1.0), zmath_errFitMaxRmsErrorNegative, untouched},
        {"maxRmsError NaN", fit(good, ones, 6, nan), 0, success},
        {"vectors of different sizes", shortLines, zmath_errFitSizeMismatch, untouched},
        {"coordinates near 1e150", fit(pointLinePairs(1e150)), 0, success},
        {"coordinates near 1e200 (the lines' squares overflow)", fit(pointLinePairs(1e200)), solveFailed, untouched},
        {"coordinates near 1e-150", fit(pointLinePairs(1e-150)), 0, success},
        {"40 pairs in a 50-pixel patch at (4000, 4000)", fit(patchPairs({4000, 4000}, 25, 40)), 0, success},
        {"40 pairs in a 20-pixel patch at (2000, 2000), weighted", fit(patchPairs({2000, 2000}, 10, 40), Ws(40, 0.5)),
         0, success},
    });
}

TEST(BadInput, PointToPoint)
{
    using R = zmath_pointToPointFitResult;
    const auto fit = pairFit(zmath_pointToPointFit, zmath_pointToPointFitWeighted);
    const auto good = pointPairs();
    const Ws ones(good.a.size(), 1.0);
    const auto withSource = [&](size_t i, zmath_vect v) { return Pairs<zmath_vect>{good.a, with(good.b, i, v)}; };
    // Points at 0.1 and 0.7 leave rounding noise, not 0, when centred.
    const Pairs<zmath_vect> sameSource{good.a, Pts(6, {0.1, 0.7})}, lineSource{good.a, collinear(6)};
    // One source fewer than targets, through the weighted vector entry, with
    // parameters that are bad too: the sizes are compared first.
    const Call<R> mismatched{[&](R* r) {
        zfit::Points target(good.a), source(Pts(good.b.begin(), good.b.end() - 1));
        const zmath_pointToPointFitParams params{-1.0, 9};
        return zmath_pointToPointFitWeightedVector(&params, target.get(), source.get(), zfit::Doubles(ones).get(), r);
    }};
    const auto solveFailed = zmath_errFitSolveFailed;
    const zt::Placement far{1, {1e6, 1e6}};  // both sets moved along the diagonal
    const Pairs<zmath_vect> shifted{far(good.a), far(good.b)};
    runRows<zmath_pointToPointFitResult>({
        {"NaN source", fit(withSource(2, {nan, 0})), solveFailed, untouched},
        {"infinite target, 3 dof", fit({with(good.a, 0, {inf, 0}), good.b}, {}, 3), solveFailed, untouched},
        {"NaN weight, 4 dof", fit(good, with(ones, 1, nan), 4), solveFailed, untouched},
        {"negative weight", fit(good, with(ones, 3, -2.0)), zmath_errFitWeightNegative, untouched},
        {"all weights 0", fit(good, Ws(6, 0.0), 4), solveFailed, untouched},
        // Mapping it overflows the residual even though its weight is 0.
        {"far pair of weight 0", fit(withSource(5, {-1.2e294, 0}), with(ones, 5, 0.0), 4), solveFailed, untouched},
        {"count 0", fit(good, {}, 6, inf, 0), solveFailed, untouched},
        {"bad dof 7", fit(good, {}, 7), zmath_errFitBadMode, untouched},
        {"maxRmsError negative", fit(good, {}, 6, -1.0), zmath_errFitMaxRmsErrorNegative, untouched},
        {"maxRmsError NaN", fit(good, ones, 3, nan), 0, success},
        {"all sources equal, 4 dof", fit(sameSource, {}, 4), solveFailed, untouched},
        {"all targets equal, 3 dof", fit({sameSource.b, good.b}, {}, 3), solveFailed, untouched},
        {"collinear sources, 6 dof", fit(lineSource, {}, 6), solveFailed, untouched},
        {"collinear sources, 4 dof", fit(lineSource, {}, 4), 0, success},
        {"vectors of different sizes, weighted", mismatched, zmath_errFitSizeMismatch, untouched},
        {"coordinates near 1e150", fit(pointPairs(1e150)), solveFailed, untouched},
        {"coordinates near 1e-150", fit(pointPairs(1e-150), {}, 4), 0, success},
        {"unit spread at offset 1e6, 3 dof", fit(shifted, {}, 3), 0, success},
        {"unit spread at offset 1e6, 6 dof, weighted", fit(shifted, ones, 6), 0, success},
    });
}

// The records are temporaries: a death test never returns to destruct them.
// Every C-array entry of one point list shares the line's check.
TEST(BadInputDeathTest, NullArraysWithPointsStopTheProcess)
{
    const zmath_lineFitParams lp{0, inf, 0};
    const zmath_circleFitParams cp{0, inf, 0, 2};
    const zmath_pointToLineFitParams tp{inf, 6};
    const zmath_pointToPointFitParams pp{inf, 6};
    const zmath_vect pts[3] = {{0, 0}, {1, 0}, {0, 1}};
    const double w[3] = {1, 1, 1};
    EXPECT_DEATH(zmath_lineFit(nullptr, 4, &lp, zfit::LineResult().get()), "broken precondition");
    EXPECT_DEATH(zmath_circleFitWeighted(pts, 3, nullptr, &cp, zfit::CircleResult().get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToLineFit(&tp, pts, nullptr, 3, zfit::PointToLineResult().get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToLineFitWeighted(&tp, pts, nullptr, w, 3, zfit::PointToLineResult().get()),
                 "broken precondition");
    EXPECT_DEATH(zmath_pointToPointFit(&pp, pts, nullptr, 3, zfit::PointToPointResult().get()), "broken precondition");
    EXPECT_DEATH(zmath_pointToPointFitWeighted(&pp, pts, pts, nullptr, 3, zfit::PointToPointResult().get()),
                 "broken precondition");
}

}  // namespace
