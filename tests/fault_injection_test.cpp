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

namespace {

// Results of a family, made and released around one call.
template <class R, zfit_status (*Construct)(R*), zfit_status (*Reset)(R*), zfit_status (*Destruct)(R*)>
Case fitCase(std::string name, std::function<zfit_status(R*)> fit)
{
    return {std::move(name), [fit] { return onFreshRecord<R>(Construct, Reset, Destruct, fit); }};
}

std::vector<zmath_vect> circleWithOutliers()
{
    zt::Rng rng(12);
    std::vector<zmath_vect> p;
    for (int i = 0; i < 12; ++i) {
        const double t = 2 * zt::pi * i / 12;
        p.push_back({1 + 3 * std::cos(t) + rng.normal(0.01), 2 + 3 * std::sin(t) + rng.normal(0.01)});
    }
    p[2] = {10, 10};
    p[9] = {-8, 4};
    return p;
}

TEST(FaultInjection, Circle)
{
    using R = zmath_circleFitResult;
    const auto points = circleWithOutliers();
    const auto vector = std::make_shared<zt::Points>(points);
    const std::vector<double> weights(points.size(), 1.0);
    const auto weightVector = std::make_shared<zt::Doubles>(weights);
    const auto count = int32_t(points.size());
    std::vector<Case> cases;
    for (int32_t mode : {0, 1})
        for (int32_t ignore : {0, 2}) {
            zmath_circleFitParams params;
            zmath_circleFitParams_init(&params);
            params.mode = mode;
            params.numIgnore = ignore;
            params.fixedRadius = 3;
            const std::string tag = " mode " + std::to_string(mode) + " numIgnore " + std::to_string(ignore);
            cases.push_back(fitCase<R, zmath_circleFitResult_construct, zmath_circleFitResult_reset,
                                    zmath_circleFitResult_destruct>(
                "zmath_circleFit" + tag, [=](R* r) { return zmath_circleFit(points.data(), count, &params, r); }));
            cases.push_back(fitCase<R, zmath_circleFitResult_construct, zmath_circleFitResult_reset,
                                    zmath_circleFitResult_destruct>(
                "zmath_circleFitVector" + tag, [=](R* r) { return zmath_circleFitVector(vector->get(), &params, r); }));
        }
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    cases.push_back(fitCase<R, zmath_circleFitResult_construct, zmath_circleFitResult_reset,
                            zmath_circleFitResult_destruct>("zmath_circleFitWeighted", [=](R* r) {
        return zmath_circleFitWeighted(points.data(), count, weights.data(), &params, r);
    }));
    cases.push_back(fitCase<R, zmath_circleFitResult_construct, zmath_circleFitResult_reset,
                            zmath_circleFitResult_destruct>("zmath_circleFitWeightedVector", [=](R* r) {
        return zmath_circleFitWeightedVector(vector->get(), weightVector->get(), &params, r);
    }));
    using Owned = zt::Owned<R, zmath_circleFitResult_construct, zmath_circleFitResult_destruct>;
    const auto source = std::make_shared<Owned>();
    for (int32_t i : {4, 1, 9}) zstd_vector32_pushBack(&(*source)->ignoredIndices, &i);
    cases.push_back({"zmath_circleFitResult_constructCopy", [=] {
                         R copy;
                         const zfit_status s = zmath_circleFitResult_constructCopy(&copy, source->get());
                         if (!ZFIT_FAILED(s)) {
                             EXPECT_EQ(zmath_circleFitResult_destruct(&copy), 0);
                         }
                         return s;
                     }});
    cases.push_back(fitCase<R, zmath_circleFitResult_construct, zmath_circleFitResult_reset,
                            zmath_circleFitResult_destruct>(
        "zmath_circleFitResult_assign", [=](R* r) { return zmath_circleFitResult_assign(r, source->get()); }));
    for (const Case& c : cases) runUntilSuccess(c);
}

TEST(FaultInjection, Ellipse)
{
    using R = zmath_ellipseFitResult;
    std::vector<zmath_vect> points;
    for (int i = 0; i < 8; ++i) {
        const double t = 2 * zt::pi * i / 8 + 0.2;
        points.push_back({2 + 4 * std::cos(t), -1 + 2 * std::sin(t)});
    }
    points[5] = {12, 9};
    const auto vector = std::make_shared<zt::Points>(points);
    std::vector<Case> cases;
    for (int32_t ignore : {0, 1, 2}) {
        zmath_ellipseFitParams params;
        zmath_ellipseFitParams_init(&params);
        params.numIgnore = ignore;
        const std::string tag = " numIgnore " + std::to_string(ignore);
        cases.push_back(fitCase<R, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_reset,
                                zmath_ellipseFitResult_destruct>("zmath_ellipseFit" + tag, [=](R* r) {
            return zmath_ellipseFit(points.data(), int32_t(points.size()), &params, r);
        }));
        cases.push_back(fitCase<R, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_reset,
                                zmath_ellipseFitResult_destruct>(
            "zmath_ellipseFitVector" + tag, [=](R* r) { return zmath_ellipseFitVector(vector->get(), &params, r); }));
    }
    using Owned = zt::Owned<R, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_destruct>;
    const auto source = std::make_shared<Owned>();
    for (int32_t i : {7, 2}) zstd_vector32_pushBack(&(*source)->ignoredIndices, &i);
    cases.push_back({"zmath_ellipseFitResult_constructCopy", [=] {
                         R copy;
                         const zfit_status s = zmath_ellipseFitResult_constructCopy(&copy, source->get());
                         if (!ZFIT_FAILED(s)) {
                             EXPECT_EQ(zmath_ellipseFitResult_destruct(&copy), 0);
                         }
                         return s;
                     }});
    cases.push_back(fitCase<R, zmath_ellipseFitResult_construct, zmath_ellipseFitResult_reset,
                            zmath_ellipseFitResult_destruct>(
        "zmath_ellipseFitResult_assign", [=](R* r) { return zmath_ellipseFitResult_assign(r, source->get()); }));
    for (const Case& c : cases) runUntilSuccess(c);
}

TEST(FaultInjection, Parabola)
{
    using R = zmath_parabolaFitResult;
    std::vector<zmath_vect> points;
    std::vector<double> weights;
    for (int i = 0; i < 11; ++i) {
        const double x = i - 5.0;
        points.push_back({x + 0.3 * (0.5 * x * x), 0.5 * x * x - 0.3 * x});
        weights.push_back(1.0 + 0.1 * i);
    }
    const auto vector = std::make_shared<zt::Points>(points);
    const auto weightVector = std::make_shared<zt::Doubles>(weights);
    const zmath_parabolaFitParams params{20};
    const std::vector<Case> cases{
        fitCase<R, zmath_parabolaFitResult_construct, zmath_parabolaFitResult_reset, zmath_parabolaFitResult_destruct>(
            "zmath_parabolaFitVector", [=](R* r) { return zmath_parabolaFitVector(vector->get(), &params, r); }),
        fitCase<R, zmath_parabolaFitResult_construct, zmath_parabolaFitResult_reset, zmath_parabolaFitResult_destruct>(
            "zmath_parabolaFitWeightedVector",
            [=](R* r) { return zmath_parabolaFitWeightedVector(vector->get(), weightVector->get(), &params, r); }),
    };
    for (const Case& c : cases) runUntilSuccess(c);
}

TEST(FaultInjection, PointToLine)
{
    using R = zmath_pointToLineFitResult;
    std::vector<zmath_vect> points;
    std::vector<zmath_shapeFLine> lines;
    std::vector<double> weights;
    for (int i = 0; i < 12; ++i) {
        const zmath_vect p{double(i % 4), double(i / 4) + 0.1 * i};
        const double angle = 0.4 * i, d = -p.x * std::sin(angle) + p.y * std::cos(angle) + 0.01;
        zmath_shapeFLine line;
        zmath_shapeFLine_initAngleDistance(&line, &angle, d);
        points.push_back(p);
        lines.push_back(line);
        weights.push_back(1.0);
    }
    const auto pointVector = std::make_shared<zt::Points>(points);
    auto lineVector = std::shared_ptr<zstd_vector_zmath_shapeFLine>(new zstd_vector_zmath_shapeFLine{},
                                                                    [](zstd_vector_zmath_shapeFLine* v) {
                                                                        zstd_vector_zmath_shapeFLine_destruct(v);
                                                                        delete v;
                                                                    });
    zstd_vector_zmath_shapeFLine_construct(lineVector.get(), 0);
    for (const zmath_shapeFLine& l : lines) zstd_vector_zmath_shapeFLine_pushBack(lineVector.get(), &l);
    const auto weightVector = std::make_shared<zt::Doubles>(weights);
    zmath_pointToLineFitParams params;
    zmath_pointToLineFitParams_init(&params);
    const auto n = int32_t(points.size());
    const std::vector<Case> cases{
        fitCase<R, zmath_pointToLineFitResult_construct, nullptr, zmath_pointToLineFitResult_destruct>(
            "zmath_pointToLineFit", [=](R* r) { return zmath_pointToLineFit(&params, points.data(), lines.data(), n, r); }),
        fitCase<R, zmath_pointToLineFitResult_construct, nullptr, zmath_pointToLineFitResult_destruct>(
            "zmath_pointToLineFitWeighted",
            [=](R* r) {
                return zmath_pointToLineFitWeighted(&params, points.data(), lines.data(), weights.data(), n, r);
            }),
        fitCase<R, zmath_pointToLineFitResult_construct, nullptr, zmath_pointToLineFitResult_destruct>(
            "zmath_pointToLineFitVector",
            [=](R* r) { return zmath_pointToLineFitVector(&params, pointVector->get(), lineVector.get(), r); }),
        fitCase<R, zmath_pointToLineFitResult_construct, nullptr, zmath_pointToLineFitResult_destruct>(
            "zmath_pointToLineFitWeightedVector",
            [=](R* r) {
                return zmath_pointToLineFitWeightedVector(&params, pointVector->get(), lineVector.get(),
                                                          weightVector->get(), r);
            }),
        {"zmath_pointToLineFit6Dof_",
         [=] {
             zfit_pointLineVals vals;
             zfit_pointLineVals_init_(&vals);
             for (int i = 0; i < n; ++i)
                 zmath_pointToLineFitUpdateValsWeighted_(-lines[i].sine, lines[i].cosine, -lines[i].d, points[i].x,
                                                         points[i].y, 1.0, &vals);
             zmath_xformLinear xf;
             return zmath_pointToLineFit6Dof_(&vals, &xf);
         }},
    };
    for (const Case& c : cases) runUntilSuccess(c);
}

TEST(FaultInjection, PointToPoint)
{
    // The transform fits keep their moments on the stack: every entry must
    // succeed at once, whichever allocation would have failed.
    using R = zmath_pointToPointFitResult;
    std::vector<zmath_vect> target, source;
    std::vector<double> weights;
    for (int i = 0; i < 8; ++i) {
        source.push_back({double(i % 3), double(i / 3)});
        target.push_back({2 * source.back().x + 1, 3 * source.back().y - 2 + 0.01 * (i % 2)});
        weights.push_back(1.0 + i);
    }
    const auto targetVector = std::make_shared<zt::Points>(target);
    const auto sourceVector = std::make_shared<zt::Points>(source);
    const auto weightVector = std::make_shared<zt::Doubles>(weights);
    std::vector<Case> cases;
    for (int32_t dof : {3, 4, 5, 6}) {
        const zmath_pointToPointFitParams params{HUGE_VAL, dof};
        const std::string tag = " dof " + std::to_string(dof);
        const auto n = int32_t(target.size());
        cases.push_back(fitCase<R, zmath_pointToPointFitResult_construct, nullptr, zmath_pointToPointFitResult_destruct>(
            "zmath_pointToPointFit" + tag,
            [=](R* r) { return zmath_pointToPointFit(&params, target.data(), source.data(), n, r); }));
        cases.push_back(fitCase<R, zmath_pointToPointFitResult_construct, nullptr, zmath_pointToPointFitResult_destruct>(
            "zmath_pointToPointFitWeightedVector" + tag, [=](R* r) {
                return zmath_pointToPointFitWeightedVector(&params, targetVector->get(), sourceVector->get(),
                                                           weightVector->get(), r);
            }));
    }
    for (const Case& c : cases) runUntilSuccess(c);
}

TEST(FaultInjection, Summary)
{
    std::printf("allocation faults injected so far: %d\n", injectedFaults);
}

}  // namespace
