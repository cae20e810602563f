// Allocation failures: every exported fit entry and life-cycle function is
// run with its k-th allocation failing, for k = 1, 2, ... until the call
// succeeds. Each time the call must return exactly the container's
// exhaustion status, leave nothing allocated once its records are
// destructed, and leave records that can still be reset and destructed.
#include <functional>
#include <memory>
#include <string>

#include "support.hpp"

namespace {

struct Case {
    std::string name;
    // Runs the call under test with whatever records it needs, releases them
    // and returns the call's status.
    std::function<zfit_status()> call;
};

int injectedFaults = 0;

void runUntilSuccess(const Case& c)
{
    SCOPED_TRACE(c.name);
    for (int k = 1; k <= 10000; ++k) {
        zt::ScopedAllocator allocator(k);
        const zfit_status status = c.call();
        EXPECT_EQ(allocator.outstanding(), 0u) << "leak with allocation " << k << " failing";
        if (status == 0) {
            EXPECT_GE(allocator.allocations(), k - 1);
            return;
        }
        ++injectedFaults;
        ASSERT_EQ(status, zstd_errOutOfMemory) << "allocation " << k << " failing gave " << zt::statusName(status);
    }
    ADD_FAILURE() << "never succeeded";
}

// Constructs a record, runs `fit` on it, then checks that reset (where the
// family has one) and destruct still work; returns the fit's status.
template <class R>
zfit_status onFreshRecord(zfit_status (*construct)(R*), zfit_status (*reset)(R*), zfit_status (*destruct)(R*),
                          const std::function<zfit_status(R*)>& fit)
{
    R record{};
    if (const zfit_status s = construct(&record); ZFIT_FAILED(s)) return s;
    const zfit_status status = fit(&record);
    if (reset) {
        EXPECT_EQ(reset(&record), 0);
    }
    EXPECT_EQ(destruct(&record), 0);
    return status;
}

}  // namespace

namespace {

std::vector<zmath_vect> noisyLineWithOutliers()
{
    zt::Rng rng(8);
    std::vector<zmath_vect> p;
    for (int i = 0; i < 16; ++i) p.push_back({double(i), 0.5 * i + rng.normal(0.01)});
    p[3] = {3, 20};
    p[12] = {12, -20};
    return p;
}

std::vector<Case> lineCases()
{
    std::vector<Case> cases;
    const auto points = noisyLineWithOutliers();
    const auto vector = std::make_shared<zt::Points>(points);  // made before any allocation fails
    for (int32_t mode : {0, 1})
        for (int32_t ignore : {0, 2, 5}) {
            const std::string tag = "mode " + std::to_string(mode) + " numIgnore " + std::to_string(ignore);
            const zmath_lineFitParams params{ignore, HUGE_VAL, mode};
            cases.push_back({"zmath_lineFit " + tag, [=] {
                                 return onFreshRecord<zmath_lineFitResult>(
                                     zmath_lineFitResult_construct, zmath_lineFitResult_reset,
                                     zmath_lineFitResult_destruct, [&](zmath_lineFitResult* r) {
                                         return zmath_lineFit(points.data(), int32_t(points.size()), &params, r);
                                     });
                             }});
            cases.push_back({"zmath_lineFitVector " + tag, [=] {
                                 return onFreshRecord<zmath_lineFitResult>(
                                     zmath_lineFitResult_construct, zmath_lineFitResult_reset,
                                     zmath_lineFitResult_destruct, [&](zmath_lineFitResult* r) {
                                         return zmath_lineFitVector(vector->get(), &params, r);
                                     });
                             }});
        }
    // Life cycle: a source holding indices, made before any allocation fails.
    const auto source = std::make_shared<zt::LineResult>();
    for (int32_t i : {4, 1, 9}) zstd_vector32_pushBack(&(*source)->ignoredIndices, &i);
    cases.push_back({"zmath_lineFitResult_constructCopy", [=] {
                         zmath_lineFitResult copy;
                         const zfit_status s = zmath_lineFitResult_constructCopy(&copy, source->get());
                         if (!ZFIT_FAILED(s)) {
                             EXPECT_EQ(zmath_lineFitResult_reset(&copy), 0);
                             EXPECT_EQ(zmath_lineFitResult_destruct(&copy), 0);
                         }
                         return s;
                     }});
    cases.push_back({"zmath_lineFitResult_assign", [=] {
                         return onFreshRecord<zmath_lineFitResult>(
                             zmath_lineFitResult_construct, zmath_lineFitResult_reset, zmath_lineFitResult_destruct,
                             [&](zmath_lineFitResult* r) { return zmath_lineFitResult_assign(r, source->get()); });
                     }});
    return cases;
}

TEST(FaultInjection, Line)
{
    for (const Case& c : lineCases()) runUntilSuccess(c);
}

}  // namespace
