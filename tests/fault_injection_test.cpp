// Allocation failures: every fitting algorithm and the record's copies are
// run with their k-th allocation failing (alone, and with every later one),
// for k = 1, 2, ... until the call succeeds. Each time the call must return exactly the container's
// exhaustion status, leave nothing allocated once its records are
// destructed, and leave records that can still be destructed. An array
// entry copies its points and runs the vector entry, so the array entries
// cover both; the transforms' fits allocate nothing and succeed at once.
#include <functional>
#include <memory>
#include <string>

#include "support.hpp"

namespace {

struct Case {
    std::string name;
    std::function<zfit_status()> call;  // makes and releases its own records
};

void runUntilSuccess(const Case& c)
{
    SCOPED_TRACE(c.name);
    zt::failEachAllocation(c.call);
}

// A fit on a record constructed under the failing allocator.
template <class R>
Case fitCase(std::string name, std::function<zfit_status(R*)> fit)
{
    return {std::move(name), [fit] {
                zfit::Result<R> record;
                return ZFIT_FAILED(record.status()) ? record.status() : fit(record.get());
            }};
}

// The record's copies share one template over every family: shown on the
// line record, from a source holding indices (made before any allocation
// fails). A failed constructCopy leaves nothing constructed.
TEST(FaultInjection, RecordCopies)
{
    const auto source = std::make_shared<zfit::LineResult>();
    for (int32_t i : {4, 1, 9}) zstd_vector32_pushBack(&(*source)->ignoredIndices, &i);
    runUntilSuccess({"constructCopy", [=] {
                         zmath_lineFitResult copy;
                         const zfit_status s = zmath_lineFitResult_constructCopy(&copy, source->get());
                         if (!ZFIT_FAILED(s)) {
                             EXPECT_EQ(zmath_lineFitResult_destruct(&copy), 0);
                         }
                         return s;
                     }});
    runUntilSuccess(fitCase<zmath_lineFitResult>(
        "assign", [=](zmath_lineFitResult* r) { return zmath_lineFitResult_assign(r, source->get()); }));
}

// Inputs are made once, before any allocator is installed: 14 points near
// an ellipse with two far points, which every shape fits, and as many pairs
// of them with their images under an affine map (and lines through those).
TEST(FaultInjection, EveryFit)
{
    std::vector<zmath_vect> points, images;
    std::vector<zmath_shapeFLine> lines;
    for (int i = 0; i < 14; ++i) {
        points.push_back(zt::onEllipse({1, 2}, 5, 3, 0.3, 2 * zt::pi * i / 14 + 0.01 * (i % 3)));
        images.push_back({1.1 * points[i].x - 0.2 * points[i].y + 3, 0.2 * points[i].x + 0.9 * points[i].y});
        lines.push_back(zt::lineThrough(images[i], 0.4 * i));
    }
    points[2] = {10, 10};
    points[9] = {-8, 4};
    const std::vector<double> weights(points.size(), 1.5);
    const auto n = int32_t(points.size());
    const auto vector = std::make_shared<zfit::Points>(points);
    const auto weightVector = std::make_shared<zfit::Doubles>(weights);
    std::vector<Case> cases;
    // The ellipse has one search (over subsets, slow beyond a few left out) and no mode.
    for (int32_t mode : {0, 1})
        for (int32_t ignore : {0, 1, 2, 5}) {
            const std::string tag = " mode " + std::to_string(mode) + " numIgnore " + std::to_string(ignore);
            const zmath_lineFitParams line{ignore, HUGE_VAL, mode};
            cases.push_back(fitCase<zmath_lineFitResult>(
                "zmath_lineFit" + tag, [=](auto* r) { return zmath_lineFit(points.data(), n, &line, r); }));
            const zmath_circleFitParams circle{ignore, HUGE_VAL, mode, 4};
            cases.push_back(fitCase<zmath_circleFitResult>(
                "zmath_circleFit" + tag, [=](auto* r) { return zmath_circleFit(points.data(), n, &circle, r); }));
            const zmath_ellipseFitParams ellipse{ignore, HUGE_VAL};
            if (mode == 0 && ignore < 5)
                cases.push_back(fitCase<zmath_ellipseFitResult>("zmath_ellipseFit" + tag, [=](auto* r) {
                    return zmath_ellipseFit(points.data(), n, &ellipse, r);
                }));
        }
    const zmath_circleFitParams circle{0, HUGE_VAL, 0, 4};
    const zmath_parabolaFitParams parabola{20};
    const zmath_pointToPointFitParams toPoint{HUGE_VAL, 3};
    const zmath_pointToLineFitParams toLine{HUGE_VAL, 6};
    cases.push_back(fitCase<zmath_circleFitResult>("zmath_circleFitWeighted", [=](auto* r) {
        return zmath_circleFitWeighted(points.data(), n, weights.data(), &circle, r);
    }));
    cases.push_back(fitCase<zmath_parabolaFitResult>(
        "zmath_parabolaFitVector", [=](auto* r) { return zmath_parabolaFitVector(vector->get(), &parabola, r); }));
    cases.push_back(fitCase<zmath_parabolaFitResult>("zmath_parabolaFitWeightedVector", [=](auto* r) {
        return zmath_parabolaFitWeightedVector(vector->get(), weightVector->get(), &parabola, r);
    }));
    cases.push_back(fitCase<zmath_pointToPointFitResult>("zmath_pointToPointFitWeighted", [=](auto* r) {
        return zmath_pointToPointFitWeighted(&toPoint, images.data(), points.data(), weights.data(), n, r);
    }));
    cases.push_back(fitCase<zmath_pointToLineFitResult>("zmath_pointToLineFit", [=](auto* r) {
        return zmath_pointToLineFit(&toLine, points.data(), lines.data(), n, r);
    }));
    for (const Case& c : cases) runUntilSuccess(c);
}

}  // namespace
