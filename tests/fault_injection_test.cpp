// Allocation failures: every exported fit entry and life-cycle function is
// run with its k-th allocation failing, for k = 1, 2, ... until the call
// succeeds. Each time the call must return exactly the container's
// exhaustion status, leave nothing allocated once its records are
// destructed, and leave records that can still be reset and destructed.
// An array entry copies its points and runs the vector entry, so the array
// entries cover both.
#include <functional>
#include <memory>
#include <string>

#include "support.hpp"

namespace {

// The life cycle of each result type (the transform records have no reset:
// theirs does nothing).
template <class R>
zfit_status noReset(R*)
{
    return zfit_ok;
}

template <class R>
struct Life;
#define ZT_LIFE(R, resetFn)                                                              \
    template <>                                                                          \
    struct Life<R> {                                                                     \
        static constexpr zfit_status (*construct)(R*) = R##_construct;                   \
        static constexpr zfit_status (*reset)(R*) = resetFn;                             \
        static constexpr zfit_status (*destruct)(R*) = R##_destruct;                     \
        static constexpr zfit_status (*constructCopy)(R*, const R*) = R##_constructCopy; \
        static constexpr zfit_status (*assign)(R*, const R*) = R##_assign;               \
    };
ZT_LIFE(zmath_lineFitResult, zmath_lineFitResult_reset)
ZT_LIFE(zmath_circleFitResult, zmath_circleFitResult_reset)
ZT_LIFE(zmath_ellipseFitResult, zmath_ellipseFitResult_reset)
ZT_LIFE(zmath_parabolaFitResult, zmath_parabolaFitResult_reset)
ZT_LIFE(zmath_pointToPointFitResult, noReset<zmath_pointToPointFitResult>)
ZT_LIFE(zmath_pointToLineFitResult, noReset<zmath_pointToLineFitResult>)
#undef ZT_LIFE

struct Case {
    std::string name;
    std::function<zfit_status()> call;  // makes and releases its own records
};

void runUntilSuccess(const Case& c)
{
    SCOPED_TRACE(c.name);
    for (int k = 1; k <= 10000; ++k) {
        zt::ScopedAllocator allocator(k);
        const zfit_status status = c.call();
        EXPECT_EQ(allocator.outstanding(), 0u) << "leak with allocation " << k << " failing";
        if (status == 0) return;
        ASSERT_EQ(status, zstd_errOutOfMemory) << "allocation " << k << " failing gave " << zfit::statusName(status);
    }
    ADD_FAILURE() << "never succeeded";
}

// A fit on a freshly constructed record, which must still reset and
// destruct afterwards, whatever the fit returned.
template <class R>
Case fitCase(std::string name, std::function<zfit_status(R*)> fit)
{
    return {std::move(name), [fit] {
                R record{};
                if (const zfit_status s = Life<R>::construct(&record); ZFIT_FAILED(s)) return s;
                const zfit_status status = fit(&record);
                EXPECT_EQ(Life<R>::reset(&record), 0);
                EXPECT_EQ(Life<R>::destruct(&record), 0);
                return status;
            }};
}

// constructCopy and assign from a source holding indices (made before any
// allocation fails): a failed constructCopy leaves nothing constructed.
template <class R>
std::vector<Case> lifeCycleCases(const std::string& family)
{
    const auto source = std::make_shared<zfit::Result<R>>();
    for (int32_t i : {4, 1, 9}) zstd_vector32_pushBack(&(*source)->ignoredIndices, &i);
    return {{family + "FitResult_constructCopy",
             [=] {
                 R copy;
                 const zfit_status s = Life<R>::constructCopy(&copy, source->get());
                 if (!ZFIT_FAILED(s)) {
                     EXPECT_EQ(Life<R>::destruct(&copy), 0);
                 }
                 return s;
             }},
            fitCase<R>(family + "FitResult_assign", [=](R* r) { return Life<R>::assign(r, source->get()); })};
}

void runAll(const std::vector<Case>& cases)
{
    for (const Case& c : cases) runUntilSuccess(c);
}

// Inputs are made once, before any allocator is installed.
template <class T>
std::shared_ptr<T> made(const T& value)
{
    return std::make_shared<T>(value);
}

std::vector<zmath_vect> onCircle(int n, double cx, double cy, double r)
{
    std::vector<zmath_vect> p;
    for (int i = 0; i < n; ++i) {
        const double t = 2 * zt::pi * i / n + 0.2;
        p.push_back({cx + r * std::cos(t) + 0.01 * (i % 3), cy + r * std::sin(t)});
    }
    return p;
}

TEST(FaultInjection, Line)
{
    std::vector<zmath_vect> points;
    for (int i = 0; i < 16; ++i) points.push_back({double(i), 0.5 * i + 0.01 * (i % 3)});
    points[3] = {3, 20};
    points[12] = {12, -20};
    std::vector<Case> cases = lifeCycleCases<zmath_lineFitResult>("zmath_line");
    for (int32_t mode : {0, 1})
        for (int32_t ignore : {0, 2, 5}) {
            const zmath_lineFitParams params{ignore, HUGE_VAL, mode};
            const std::string tag = " mode " + std::to_string(mode) + " numIgnore " + std::to_string(ignore);
            cases.push_back(fitCase<zmath_lineFitResult>("zmath_lineFit" + tag, [=](auto* r) {
                return zmath_lineFit(points.data(), int32_t(points.size()), &params, r);
            }));
        }
    runAll(cases);
}

TEST(FaultInjection, Circle)
{
    auto points = onCircle(12, 1, 2, 3);
    points[2] = {10, 10};
    points[9] = {-8, 4};
    const auto vector = std::make_shared<zfit::Points>(points);
    const std::vector<double> weights(points.size(), 1.0);
    const auto weightVector = std::make_shared<zfit::Doubles>(weights);
    const auto n = int32_t(points.size());
    std::vector<Case> cases = lifeCycleCases<zmath_circleFitResult>("zmath_circle");
    for (int32_t mode : {0, 1})
        for (int32_t ignore : {0, 2}) {
            zmath_circleFitParams params;
            zmath_circleFitParams_init(&params);
            params.mode = mode;
            params.numIgnore = ignore;
            params.fixedRadius = 3;
            const std::string tag = " mode " + std::to_string(mode) + " numIgnore " + std::to_string(ignore);
            cases.push_back(fitCase<zmath_circleFitResult>(
                "zmath_circleFit" + tag, [=](auto* r) { return zmath_circleFit(points.data(), n, &params, r); }));
        }
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    cases.push_back(fitCase<zmath_circleFitResult>("zmath_circleFitWeighted", [=](auto* r) {
        return zmath_circleFitWeighted(points.data(), n, weights.data(), &params, r);
    }));
    cases.push_back(fitCase<zmath_circleFitResult>("zmath_circleFitWeightedVector", [=](auto* r) {
        return zmath_circleFitWeightedVector(vector->get(), weightVector->get(), &params, r);
    }));
    runAll(cases);
}

TEST(FaultInjection, Ellipse)
{
    auto points = onCircle(8, 2, -1, 3);
    for (zmath_vect& p : points) p.x = 2 + 1.5 * (p.x - 2);  // stretched into an ellipse
    points[5] = {12, 9};
    std::vector<Case> cases = lifeCycleCases<zmath_ellipseFitResult>("zmath_ellipse");
    for (int32_t ignore : {0, 1, 2}) {
        zmath_ellipseFitParams params;
        zmath_ellipseFitParams_init(&params);
        params.numIgnore = ignore;
        const std::string tag = " numIgnore " + std::to_string(ignore);
        cases.push_back(fitCase<zmath_ellipseFitResult>("zmath_ellipseFit" + tag, [=](auto* r) {
            return zmath_ellipseFit(points.data(), int32_t(points.size()), &params, r);
        }));
    }
    runAll(cases);
}

TEST(FaultInjection, Parabola)
{
    std::vector<zmath_vect> points;
    std::vector<double> weights;
    for (int i = 0; i < 11; ++i) {
        const double x = i - 5.0;
        points.push_back({x + 0.15 * x * x, 0.5 * x * x - 0.3 * x});
        weights.push_back(1.0 + 0.1 * i);
    }
    const auto vector = std::make_shared<zfit::Points>(points);
    const auto weightVector = std::make_shared<zfit::Doubles>(weights);
    const zmath_parabolaFitParams params{20};
    runAll({fitCase<zmath_parabolaFitResult>(
                "zmath_parabolaFitVector", [=](auto* r) { return zmath_parabolaFitVector(vector->get(), &params, r); }),
            fitCase<zmath_parabolaFitResult>("zmath_parabolaFitWeightedVector", [=](auto* r) {
                return zmath_parabolaFitWeightedVector(vector->get(), weightVector->get(), &params, r);
            })});
}

TEST(FaultInjection, PointToPoint)
{
    // The moments live on the stack: every entry succeeds at once.
    std::vector<zmath_vect> target, source;
    std::vector<double> weights;
    for (int i = 0; i < 8; ++i) {
        source.push_back({double(i % 3), double(i / 3)});
        target.push_back({2 * source.back().x + 1, 3 * source.back().y - 2 + 0.01 * (i % 2)});
        weights.push_back(1.0 + i);
    }
    const auto targetVector = std::make_shared<zfit::Points>(target);
    const auto sourceVector = std::make_shared<zfit::Points>(source);
    const auto weightVector = std::make_shared<zfit::Doubles>(weights);
    std::vector<Case> cases;
    for (int32_t dof : {3, 4, 5, 6}) {
        const zmath_pointToPointFitParams params{HUGE_VAL, dof};
        const std::string tag = " dof " + std::to_string(dof);
        cases.push_back(fitCase<zmath_pointToPointFitResult>("zmath_pointToPointFit" + tag, [=](auto* r) {
            return zmath_pointToPointFit(&params, target.data(), source.data(), int32_t(target.size()), r);
        }));
        cases.push_back(fitCase<zmath_pointToPointFitResult>("zmath_pointToPointFitWeightedVector" + tag, [=](auto* r) {
            return zmath_pointToPointFitWeightedVector(&params, targetVector->get(), sourceVector->get(),
                                                       weightVector->get(), r);
        }));
    }
    runAll(cases);
}

TEST(FaultInjection, PointToLine)
{
    std::vector<zmath_vect> points;
    std::vector<zmath_shapeFLine> lines;
    const std::vector<double> weights(12, 1.0);
    for (int i = 0; i < 12; ++i) {
        const zmath_vect p{double(i % 4), double(i / 4) + 0.1 * i};
        const double angle = 0.4 * i;
        points.push_back(p);
        lines.push_back(zt::lineAt(angle, -p.x * std::sin(angle) + p.y * std::cos(angle) + 0.01));
    }
    const auto pointVector = std::make_shared<zfit::Points>(points);
    const auto lineVector = std::make_shared<zfit::Lines>(lines);
    const auto weightVector = std::make_shared<zfit::Doubles>(weights);
    zmath_pointToLineFitParams params;
    zmath_pointToLineFitParams_init(&params);
    const auto n = int32_t(points.size());
    runAll({
        fitCase<zmath_pointToLineFitResult>(
            "zmath_pointToLineFit",
            [=](auto* r) { return zmath_pointToLineFit(&params, points.data(), lines.data(), n, r); }),
        fitCase<zmath_pointToLineFitResult>("zmath_pointToLineFitWeightedVector",
                                            [=](auto* r) {
                                                return zmath_pointToLineFitWeightedVector(&params, pointVector->get(),
                                                                                          lineVector->get(),
                                                                                          weightVector->get(), r);
                                            }),
    });
}

}  // namespace
