// The parabola family's records and entries: parameter checks, the input
// checks that guard the fit, and the validity flag.
#include <cmath>

#include <zfit/family/frame.hpp>
#include <zfit/parabola/parabola_internal.hpp>
#include <zfit/services/math.hpp>

ZFIT_DEFINE_RESULT_SHAPE(zmath_parabolaFitResult, parabola, zmath_shapeParabola_init)

ZFIT_DEFINE_TYPE_CHECK_HOOKS(zmath_parabolaFitResult)
ZFIT_DEFINE_RESULT_LIFE_CYCLE(zmath_parabolaFitResult)
ZFIT_DEFINE_RESULT_RESET(zmath_parabolaFitResult)
ZFIT_DEFINE_PARAMS_INIT(zmath_parabolaFitParams, 1)

namespace {

// A NaN or infinite coordinate would only come out of the fit as a NaN pose
// or an overflowed error; refuse it up front.
zfit_status checkPoints(const zstd_vector_zmath_vect* points)
{
    ZFIT_FAIL_IF(!zsvc::allFinite(zsvc::view(points)), zmath_errDegenerate);
    return zfit_ok;
}

// The weights before any use: one per point, none negative, all finite, and
// a positive finite total (the centroid and the error divide by it).
zfit_status checkWeights(const zstd_vector_zmath_vect* points, const zstd_vectord* weights)
{
    const std::span<const double> weightValues = zsvc::view(weights);
    const double* w = weightValues.data();
    const int32_t count = zsvc::size32(weightValues);
    ZFIT_FAIL_IF(weightValues.size() != zsvc::view(points).size(), zmath_errFitWeightCount);
    for (int32_t i = 0; i < count; ++i) ZFIT_FAIL_IF(w[i] < 0.0, zmath_errFitWeightNegative);
    double total = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        ZFIT_FAIL_IF(!std::isfinite(w[i]), zmath_errDegenerate);
        total += w[i];
    }
    ZFIT_FAIL_IF(!(total > 0.0) || !std::isfinite(total), zmath_errDegenerate);
    return zfit_ok;
}

}  // namespace

extern "C" {

zfit_status zmath_parabolaFitParams_validate(const zmath_parabolaFitParams* params)
{
    ZFIT_FAIL_IF(params->maxIterations <= 0, zmath_errFitMaxIterations);
    return zfit_ok;
}

zfit_status zmath_parabolaFitVector(const zstd_vector_zmath_vect* points, const zmath_parabolaFitParams* params,
                                    zmath_parabolaFitResult* result)
{
    result->isValid = 0;
    ZFIT_TRY(zmath_parabolaFitParams_validate(params));
    ZFIT_TRY(checkPoints(points));
    const zfit_status status =
        zmath_parabolaFit_(points, params, &result->parabola.pose, &result->parabola.coefficient, &result->rmsError);
    if (!zfit::failed(status)) result->isValid = 1;
    return status;
}

zfit_status zmath_parabolaFitWeightedVector(const zstd_vector_zmath_vect* points, const zstd_vectord* weights,
                                            const zmath_parabolaFitParams* params, zmath_parabolaFitResult* result)
{
    result->isValid = 0;
    ZFIT_TRY(zmath_parabolaFitParams_validate(params));
    ZFIT_TRY(checkWeights(points, weights));
    ZFIT_TRY(checkPoints(points));
    const zfit_status status = zmath_parabolaFitWeighted_(points, weights, params, &result->parabola.pose,
                                                          &result->parabola.coefficient, &result->rmsError);
    if (!zfit::failed(status)) result->isValid = 1;
    return status;
}

}  // extern "C"
