// Outlier search, then the geometric fit of the kept points: libzfit.so's
// exact search (the circle's ranked windows, the ellipse's subsets) chooses
// which numIgnore points to discard, and the geometric fit of geometric.h
// measures the others. One driver serves both shapes; each brings its
// search and its fit.
#include <algorithm>
#include <cmath>

#include <zfit/metrology/geometric/geometric.h>
#include <zfit/services/containers.hpp>
#include <zfit/services/require.hpp>
#include <zfit/zfit.hpp>

#include "geometric_entry.hpp"
#include <zfit/metrology/life_cycle.hpp>

namespace zmet {

namespace {

struct CircleShape {
    using Params = zmet_geometricCircleParams;
    using Fit = zmet_geometricCircleResult;
    using Result = zmet_geometricCircleIgnoringResult;
    using Search = zmath_circleFitResult;

    // p + 1: the geometric fit estimates the noise from what is left over.
    static int32_t minimumKept(const Params& p) { return p.mode == 0 ? 4 : 3; }
    static bool finiteParams(const Params& p) { return p.mode == 0 || std::isfinite(p.fixedRadius); }
    static zfit_status search(const zmath_vect* points, int32_t count, const Params& p, Search* found)
    {
        zmath_circleFitParams params;
        ZFIT_TRY(zmath_circleFitParams_init(&params));
        params.numIgnore = p.numIgnore;
        params.mode = p.mode;
        params.fixedRadius = p.fixedRadius;
        return zmath_circleFit(points, count, &params, found);
    }
    static zfit_status fit(const zmath_vect* points, int32_t count, const double* weights, const Params& p, Fit* r)
    {
        if (weights) return zmet_geometricCircleFitWeighted(points, count, weights, &p, r);
        return zmet_geometricCircleFit(points, count, &p, r);
    }
};

struct EllipseShape {
    using Params = zmet_geometricEllipseParams;
    using Fit = zmet_geometricEllipseResult;
    using Result = zmet_geometricEllipseIgnoringResult;
    using Search = zmath_ellipseFitResult;

    static int32_t minimumKept(const Params&) { return 6; }
    static bool finiteParams(const Params&) { return true; }
    static zfit_status search(const zmath_vect* points, int32_t count, const Params& p, Search* found)
    {
        zmath_ellipseFitParams params;
        ZFIT_TRY(zmath_ellipseFitParams_init(&params));
        params.numIgnore = p.numIgnore;
        return zmath_ellipseFit(points, count, &params, found);
    }
    static zfit_status fit(const zmath_vect* points, int32_t count, const double* weights, const Params& p, Fit* r)
    {
        if (weights) return zmet_geometricEllipseFitWeighted(points, count, weights, &p, r);
        return zmet_geometricEllipseFit(points, count, &p, r);
    }
};

bool allFinite(const zmath_vect* points, int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y)) return false;
    return true;
}

template <class Shape>
zfit_status fitIgnoring(const zmath_vect* points, int32_t count, const double* weights,
                        const typename Shape::Params* params, typename Shape::Result* result)
{
    if (count < 0) count = 0;
    ZFIT_REQUIRE(params != nullptr && result != nullptr);
    ZFIT_REQUIRE(count == 0 || points != nullptr);
    ZFIT_TRY(checkParams(*params));
    const int32_t numIgnore = params->numIgnore;
    // The searches have no weighted form.
    ZFIT_FAIL_IF(weights != nullptr && numIgnore > 0, zmath_errFitWeightedIgnore);
    if (numIgnore > 0) {
        // Known before the search, which would otherwise run in vain.
        ZFIT_FAIL_IF(numIgnore > count - Shape::minimumKept(*params), zmet_errTooFewPoints);
        ZFIT_FAIL_IF(!allFinite(points, count) || !Shape::finiteParams(*params), zmath_errDegenerate);
    }
    ZFIT_TRY(zstd_vector32_resize(&result->ignoredIndices, 0));
    typename Shape::Params plain = *params;
    plain.numIgnore = 0;
    if (numIgnore == 0) return Shape::fit(points, count, weights, plain, &result->fit);

    zfit::Result<typename Shape::Search> search;
    ZFIT_TRY(search.status());
    ZFIT_TRY(Shape::search(points, count, *params, search.get()));
    const std::span<const int32_t> discarded = zfit::ignored(*search);
    ZFIT_REQUIRE(discarded.size() == static_cast<std::size_t>(numIgnore));

    const int32_t keptCount = count - numIgnore;
    zsvc::Scratch<zmath_vect> kept;
    ZFIT_TRY(kept.allocate(keptCount));
    ZFIT_TRY(zstd_vector32_resize(&result->ignoredIndices, numIgnore));
    int32_t* ascending = nullptr;
    ZFIT_TRY(zstd_vector32_getBegin(&result->ignoredIndices, &ascending));
    std::copy(discarded.begin(), discarded.end(), ascending);
    std::sort(ascending, ascending + numIgnore);
    int32_t next = 0, at = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (next < numIgnore && ascending[next] == i)
            ++next;
        else
            kept[static_cast<std::size_t>(at++)] = points[i];
    }
    return Shape::fit(kept.data(), keptCount, nullptr, plain, &result->fit);
}

// The life cycle of the results: the fit is plain data, the list is owned.
template <class R>
zfit_status construct(R* result)
{
    ZFIT_REQUIRE(result != nullptr);
    R fresh{};
    ZFIT_TRY(zstd_vector32_construct(&fresh.ignoredIndices, 0));
    *result = fresh;
    return zfit_ok;
}

template <class R>
zfit_status assign(R* result, const R* source)
{
    ZFIT_REQUIRE(result != nullptr && source != nullptr);
    if (result == source) return zfit_ok;
    ZFIT_TRY(zstd_vector32_assign(&result->ignoredIndices, &source->ignoredIndices));
    result->fit = source->fit;
    return zfit_ok;
}

template <class R>
zfit_status constructCopy(R* result, const R* source)
{
    return constructCopyOf(result, source, construct<R>, assign<R>,
                           [](R* r) { zstd_vector32_destruct(&r->ignoredIndices); });
}

template <class R>
zfit_status destruct(R* result)
{
    ZFIT_REQUIRE(result != nullptr);
    return zstd_vector32_destruct(&result->ignoredIndices);
}

}  // namespace

}  // namespace zmet

extern "C" {

zfit_status zmet_geometricCircleFitIgnoring(const zmath_vect* points, int32_t count, const double* weights,
                                            const zmet_geometricCircleParams* params,
                                            zmet_geometricCircleIgnoringResult* result)
{
    return zmet::fitIgnoring<zmet::CircleShape>(points, count, weights, params, result);
}

zfit_status zmet_geometricEllipseFitIgnoring(const zmath_vect* points, int32_t count, const double* weights,
                                             const zmet_geometricEllipseParams* params,
                                             zmet_geometricEllipseIgnoringResult* result)
{
    return zmet::fitIgnoring<zmet::EllipseShape>(points, count, weights, params, result);
}

#define ZMET_DEFINE_IGNORING_LIFE_CYCLE_(R)                                                                   \
    zfit_status R##_construct(R* result) { return zmet::construct(result); }                                  \
    zfit_status R##_constructCopy(R* result, const R* source) { return zmet::constructCopy(result, source); } \
    zfit_status R##_assign(R* result, const R* source) { return zmet::assign(result, source); }               \
    zfit_status R##_destruct(R* result) { return zmet::destruct(result); }
ZMET_DEFINE_IGNORING_LIFE_CYCLE_(zmet_geometricCircleIgnoringResult)
ZMET_DEFINE_IGNORING_LIFE_CYCLE_(zmet_geometricEllipseIgnoringResult)
#undef ZMET_DEFINE_IGNORING_LIFE_CYCLE_

}  // extern "C"
