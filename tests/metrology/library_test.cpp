// The companion library loads beside the fitting library, reports the
// project's version and reports exhausted memory from every fit.
#include <functional>
#include <utility>

#include <gtest/gtest.h>

#include <zfit/metrology/metrology.hpp>

#include "../support.hpp"

TEST(MetrologyLibrary, ReportsTheProjectVersion)
{
    int32_t major = -1, minor = -1, patch = -1;
    ASSERT_EQ(zmet_version(&major, &minor, &patch), zfit_ok);
    EXPECT_EQ(major, ZFIT_TEST_VERSION_MAJOR) << "major version";
    EXPECT_EQ(minor, ZFIT_TEST_VERSION_MINOR) << "minor version";
    EXPECT_EQ(patch, ZFIT_TEST_VERSION_PATCH) << "patch version";
    EXPECT_EQ(zmet_version(nullptr, nullptr, nullptr), zfit_ok) << "every output is optional";
}

// Every companion fit, with its k-th allocation failing alone and then with
// every allocation from the k-th on, for k = 1, 2, ... until it succeeds:
// each failure is reported as exhaustion (a dropped status would otherwise
// be hidden by the next allocation failing) and nothing stays allocated.
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
    const std::pair<const char*, std::function<zfit_status()>> fits[] = {
        {"robust line",
         [&] {
             zfit::RobustLineResult r;
             return r.status() ? r.status() : zmet_robustLineFit(p, 14, nullptr, &robust, r.get());
         }},
        {"robust circle",
         [&] {
             zfit::RobustCircleResult r;
             return r.status() ? r.status()
                               : zmet_robustCircleFit(p, 14, nullptr, &robust, zmet_robustGeometric, r.get());
         }},
        {"robust fixed radius",
         [&] {
             zfit::RobustCircleResult r;
             return r.status()
                        ? r.status()
                        : zmet_robustCircleFitFixedRadius(p, 14, nullptr, &robust, zmet_robustAlgebraic, 4.0, r.get());
         }},
        {"robust ellipse",
         [&] {
             zfit::RobustEllipseResult r;
             return r.status() ? r.status()
                               : zmet_robustEllipseFit(p, 14, nullptr, &robust, zmet_robustGeometric, r.get());
         }},
        {"robust transform",
         [&] {
             zfit::RobustTransformResult r;
             return r.status() ? r.status() : zmet_robustPointToPointFit(q, p, 14, nullptr, 6, &robust, r.get());
         }},
        {"circle ignoring",
         [&] {
             zfit::GeometricCircleIgnoringResult r;
             return r.status() ? r.status() : zmet_geometricCircleFitIgnoring(p, 14, nullptr, &circle, r.get());
         }},
        {"ellipse ignoring",
         [&] {
             zfit::GeometricEllipseIgnoringResult r;
             return r.status() ? r.status() : zmet_geometricEllipseFitIgnoring(p, 14, nullptr, &ellipse, r.get());
         }},
        {"parabola",
         [&] {
             zmet_parabolaResult r{};
             return zmet_parabolaFit(p, 14, &parabola, &r);
         }},
    };
    for (const auto& [name, fit] : fits) {
        SCOPED_TRACE(name);
        bool succeeded = false;
        int failures = 0;
        for (int k = 1; k <= 1000 && !succeeded; ++k) {
            {
                zt::ScopedAllocator alone(k, true);
                const zfit_status status = fit();
                EXPECT_EQ(alone.outstanding(), 0u) << "leak with allocation " << k << " failing alone";
                if (alone.allocations() >= k) {
                    EXPECT_EQ(status, zstd_errOutOfMemory) << "allocation " << k << " failing alone";
                }
            }
            zt::ScopedAllocator allocator(k);
            const zfit_status status = fit();
            EXPECT_EQ(allocator.outstanding(), 0u) << "leak with allocation " << k << " failing";
            succeeded = status == zfit_ok;
            failures += !succeeded;
            if (!succeeded) {
                ASSERT_EQ(status, zstd_errOutOfMemory) << "allocation " << k << " failing";
            }
        }
        EXPECT_TRUE(succeeded) << "succeeds once allocations do";
        EXPECT_GT(failures, 0) << "the fit allocates";
    }
}
