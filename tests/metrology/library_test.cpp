// The companion library loads beside the fitting library, reports the
// project's version and reports exhausted memory from every fit.
#include <functional>
#include <utility>

#include <gtest/gtest.h>

#include <zfit/metrology/metrology.hpp>

#include "../support.hpp"

namespace {

// A call of `fit` on a record it constructs and destructs.
template <class R, class Fit>
std::function<zfit_status()> onRecord(Fit fit)
{
    return [fit] {
        zfit::Result<R> record;
        return record.status() ? record.status() : fit(record.get());
    };
}

}  // namespace

// Every companion fit reports each failed allocation as exhaustion and
// leaves nothing allocated (zt::failEachAllocation).
TEST(MetrologyLibrary, EveryFitReportsExhaustedMemoryAndLeaksNothing)
{
    std::vector<zmath_vect> points, images;
    for (int i = 0; i < 14; ++i) {
        points.push_back(zt::onEllipse({1, 2}, 5, 3, 0.3, 2 * zt::pi * i / 14 + 0.01 * (i % 3)));
        images.push_back(
            {1.1 * points.back().x - 0.2 * points.back().y + 3, 0.2 * points.back().x + 0.9 * points.back().y});
    }
    points[2] = {10, 10};
    images[5] = {-20, 7};
    const zmath_vect *p = points.data(), *q = images.data();
    zmet_robustParams robust;
    zmet_robustParams_init(&robust, zmet_robustTukey);
    zmet_geometricCircleParams circle;
    zmet_geometricCircleParams_init(&circle);
    circle.numIgnore = 1;
    zmet_geometricEllipseParams ellipse;
    zmet_geometricEllipseParams_init(&ellipse);
    ellipse.numIgnore = 1;
    zmet_parabolaParams parabola;
    zmet_parabolaParams_init(&parabola);
    const auto roundness = [p](int32_t method) {
        return [p, method] {
            zmet_roundnessParams params;
            zmet_roundnessParams_init(&params);
            params.method = method;
            zmet_roundnessResult r;
            return zmet_roundness(p, 14, &params, &r);
        };
    };
    const std::pair<const char*, std::function<zfit_status()>> fits[] = {
        {"robust line",
         onRecord<zmet_robustLineResult>([&](auto* r) { return zmet_robustLineFit(p, 14, nullptr, &robust, r); })},
        {"robust circle", onRecord<zmet_robustCircleResult>([&](auto* r) {
             return zmet_robustCircleFit(p, 14, nullptr, &robust, zmet_robustGeometric, r);
         })},
        {"robust fixed radius", onRecord<zmet_robustCircleResult>([&](auto* r) {
             return zmet_robustCircleFitFixedRadius(p, 14, nullptr, &robust, zmet_robustAlgebraic, 4.0, r);
         })},
        {"robust ellipse", onRecord<zmet_robustEllipseResult>([&](auto* r) {
             return zmet_robustEllipseFit(p, 14, nullptr, &robust, zmet_robustGeometric, r);
         })},
        {"robust transform", onRecord<zmet_robustTransformResult>([&](auto* r) {
             return zmet_robustPointToPointFit(q, p, 14, nullptr, 6, &robust, r);
         })},
        {"circle ignoring", onRecord<zmet_geometricCircleIgnoringResult>(
                                [&](auto* r) { return zmet_geometricCircleFitIgnoring(p, 14, nullptr, &circle, r); })},
        {"ellipse ignoring", onRecord<zmet_geometricEllipseIgnoringResult>([&](auto* r) {
             return zmet_geometricEllipseFitIgnoring(p, 14, nullptr, &ellipse, r);
         })},
        {"parabola",
         [&] {
             zmet_parabolaResult r{};
             return zmet_parabolaFit(p, 14, &parabola, &r);
         }},
        {"minimum zone", roundness(zmet_roundnessMinimumZone)},
        {"circumscribed circle", roundness(zmet_roundnessCircumscribed)},
        {"inscribed circle", roundness(zmet_roundnessInscribed)},
    };
    for (const auto& [name, fit] : fits) {
        SCOPED_TRACE(name);
        EXPECT_GT(zt::failEachAllocation(fit), 0) << "the fit allocates";
    }
}
