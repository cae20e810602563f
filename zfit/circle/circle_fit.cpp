// The circle family's records and entries: validation, dispatch on mode,
// the weighted entries' checks, and the validity flag.
#include <cmath>

#include <zfit/circle/circle_internal.hpp>
#include <zfit/family/frame.hpp>
#include <zfit/family/search_plan.hpp>

template <>
struct zfit::ResultShape<zmath_circleFitResult> {
    static zfit_status reset(zmath_circleFitResult& r)
    {
        r.centre = zmath_vect{0.0, 0.0};
        r.radius = 0.0;
        return zfit_ok;
    }
    static void copyShape(zmath_circleFitResult& to, const zmath_circleFitResult& from)
    {
        to.centre = from.centre;
        to.radius = from.radius;
    }
};

ZFIT_DEFINE_TYPE_CHECK_HOOKS(zmath_circleFitResult)
ZFIT_DEFINE_RESULT_LIFE_CYCLE(zmath_circleFitResult)
ZFIT_DEFINE_RESULT_RESET(zmath_circleFitResult)
ZFIT_DEFINE_PARAMS_INIT(zmath_circleFitParams, 0, HUGE_VAL, zmath_circleFitModeFreeRadius, 1.0)
ZFIT_DEFINE_ARRAY_ENTRY(zmath_circleFit, zmath_circleFitParams, zmath_circleFitResult)

namespace {

// Runs an algorithm on the circle of the result record: the algorithms
// write the circle only when they succeed.
template <class Algorithm>
zfit_status intoCircle(zmath_circleFitResult* result, Algorithm&& algorithm)
{
    zfit_circle circle{result->centre, result->radius};
    const zfit_status status = algorithm(&circle);
    ZFIT_TRY(status);
    result->centre = circle.centre;
    result->radius = circle.radius;
    return status;
}

zfit_status runAlgorithm(const zstd_vector_zmath_vect* points, const zmath_circleFitParams& params,
                         zmath_circleFitResult* result)
{
    const int32_t m = params.numIgnore;
    // Too few points to keep for a circle: the search's own answer (no
    // window solved, nothing discarded, the circle as before), without the
    // search.
    const bool keepsTooFew = zfit::plan::circleKeepsTooFew(zsvc::size32(zsvc::view(points)), m);
    if (keepsTooFew) result->rmsError = HUGE_VAL;
    ZFIT_FAIL_IF(keepsTooFew, zmath_errDegenerate);
    switch (params.mode) {
    case zmath_circleFitModeFreeRadius:
        return intoCircle(result, [&](zfit_circle* circle) {
            return zmath_circleFitFreeRadius_(points, m, circle, &result->rmsError, &result->ignoredIndices);
        });
    case zmath_circleFitModeFixedRadius:
        return intoCircle(result, [&](zfit_circle* circle) {
            return zmath_circleFitFixedRadius_(points, params.fixedRadius, m, circle, &result->rmsError,
                                               &result->ignoredIndices);
        });
    default: return zmath_errFitBadMode;
    }
}

}  // namespace

extern "C" {

zfit_status zmath_circleFitParams_validate(const zmath_circleFitParams* params)
{
    ZFIT_FAIL_IF(params->numIgnore < 0, zmath_errFitNumIgnoreNegative);
    ZFIT_FAIL_IF(0.0 > params->maxRmsError, zmath_errFitMaxRmsErrorNegative);
    ZFIT_FAIL_IF(0.0 > params->fixedRadius, zmath_errFitFixedRadiusNegative);
    ZFIT_FAIL_IF(params->mode != zmath_circleFitModeFreeRadius && params->mode != zmath_circleFitModeFixedRadius,
                 zmath_errFitBadMode);
    return zfit_ok;
}

zfit_status zmath_circleFitVector(const zstd_vector_zmath_vect* points, const zmath_circleFitParams* params,
                                  zmath_circleFitResult* result)
{
    ZFIT_TRY(zmath_circleFitParams_validate(params));
    ZFIT_TRY(zstd_vector32_resize(&result->ignoredIndices, 0));
    return zfit::judged(params->maxRmsError, result, [&] { return runAlgorithm(points, *params, result); });
}

zfit_status zmath_circleFitWeighted(const zmath_vect* points, int32_t count, const double* weights,
                                    const zmath_circleFitParams* params, zmath_circleFitResult* result)
{
    if (count < 0) count = 0;
    ZFIT_REQUIRE(count == 0 || (points != nullptr && weights != nullptr));
    ZFIT_TRY(zstd_vector32_resize(&result->ignoredIndices, 0));
    ZFIT_FAIL_IF(params->numIgnore != 0, zmath_errFitWeightedIgnore);
    for (int32_t i = 0; i < count; ++i) ZFIT_FAIL_IF(0.0 > weights[i], zmath_errFitWeightNegative);
    return zfit::judged(params->maxRmsError, result, [&] {
        return intoCircle(result, [&](zfit_circle* circle) {
            return zmath_circleFitWeightedCore_(points, count, weights, circle, &result->rmsError);
        });
    });
}

zfit_status zmath_circleFitWeightedVector(const zstd_vector_zmath_vect* points, const zstd_vectord* weights,
                                          const zmath_circleFitParams* params, zmath_circleFitResult* result)
{
    ZFIT_TRY(zmath_circleFitParams_validate(params));
    const auto p = zsvc::view(points);
    const auto w = zsvc::view(weights);
    ZFIT_FAIL_IF(p.size() != w.size(), zmath_errFitWeightCount);
    return zmath_circleFitWeighted(p.data(), zsvc::size32(p), w.data(), params, result);
}

}  // extern "C"
