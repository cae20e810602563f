// The point-to-line family's records and entries: validation, the common fit
// routine shared by the weighted and unweighted entries, and the vector
// entries' size checks.
#include <cmath>

#include <zfit/family/frame.hpp>
#include <zfit/pointtoline/pointtoline_internal.hpp>

ZFIT_DEFINE_RESULT_SHAPE(zmath_pointToLineFitResult, xform, zmath_xformLinear_initIdentity)

ZFIT_DEFINE_TYPE_CHECK_HOOKS(zmath_pointToLineFitResult)
ZFIT_DEFINE_RESULT_LIFE_CYCLE(zmath_pointToLineFitResult)

namespace {

using zfit::p2l::GivenWeights;
using zfit::p2l::UnitWeights;

constexpr int32_t kDof = 6;

bool allFinite(const zfit_pointLineVals& vals)
{
    for (double value : vals.values)
        if (!std::isfinite(value)) return false;
    return true;
}

// The common fit: fold every pair into a record with the points measured
// from one of their own, solve it, take the transform back to the caller's
// coordinates and measure the residual from the pairs. The result is
// written only once everything has succeeded, so a failure leaves it
// untouched.
template <class Weights>
zfit_status fitPairs(const zmath_pointToLineFitParams* params, const zmath_vect* points, const zmath_shapeFLine* lines,
                     Weights weights, int32_t count, zmath_pointToLineFitResult* result)
{
    ZFIT_TRY(zmath_pointToLineFitParams_validate(params));
    ZFIT_REQUIRE(params->dof == kDof);
    ZFIT_TRY(zsvc::refuseNegative(weights, count));

    zfit_pointLineVals vals;
    ZFIT_TRY(zfit_pointLineVals_init_(&vals));
    const zmath_vect reference = zfit::p2l::referencePoint(points, weights, count);
    zfit::p2l::accumulate(points, lines, weights, count, reference, &vals);
    // Every coordinate, weight and line value reaches a square in the record
    // (a NaN or infinity there, or one that overflows, leaves a non-finite
    // entry): such pairs determine no transform.
    ZFIT_FAIL_IF(!allFinite(vals), zmath_errFitSolveFailed);

    zmath_xformLinear fitted = result->xform;
    ZFIT_TRY(zmath_pointToLineFit6Dof_(&vals, &fitted));
    const zmath_xformLinear xform = zfit::p2l::fromReference(fitted, reference);
    double rmsError = 0.0;
    ZFIT_TRY(zfit::p2l::measuredRmsError(points, lines, weights, count, xform, &rmsError));
    // A transform so large that mapping the points overflows answers nothing.
    ZFIT_FAIL_IF(!std::isfinite(rmsError), zmath_errFitSolveFailed);

    result->xform = xform;
    result->rmsError = rmsError;
    result->isValid = zfit::validity(params->maxRmsError, rmsError);
    return zfit_ok;
}

}  // namespace

ZFIT_DEFINE_PARAMS_INIT(zmath_pointToLineFitParams, HUGE_VAL, kDof)

extern "C" {

zfit_status zmath_pointToLineFitParams_validate(const zmath_pointToLineFitParams* params)
{
    ZFIT_FAIL_IF(0.0 > params->maxRmsError, zmath_errFitMaxRmsErrorNegative);
    ZFIT_FAIL_IF(params->dof != kDof, zmath_errFitBadMode);
    return zfit_ok;
}

zfit_status zmath_pointToLineFit(const zmath_pointToLineFitParams* params, const zmath_vect* points,
                                 const zmath_shapeFLine* lines, int32_t count, zmath_pointToLineFitResult* result)
{
    if (count < 0) count = 0;
    ZFIT_REQUIRE(count == 0 || (points != nullptr && lines != nullptr));
    return fitPairs(params, points, lines, UnitWeights{}, count, result);
}

zfit_status zmath_pointToLineFitWeighted(const zmath_pointToLineFitParams* params, const zmath_vect* points,
                                         const zmath_shapeFLine* lines, const double* weights, int32_t count,
                                         zmath_pointToLineFitResult* result)
{
    if (count < 0) count = 0;
    ZFIT_REQUIRE(count == 0 || (points != nullptr && lines != nullptr && weights != nullptr));
    return fitPairs(params, points, lines, GivenWeights{weights}, count, result);
}

zfit_status zmath_pointToLineFitVector(const zmath_pointToLineFitParams* params, const zstd_vector_zmath_vect* points,
                                       const zstd_vector_zmath_shapeFLine* lines, zmath_pointToLineFitResult* result)
{
    const auto pointData = zsvc::view(points);
    const auto lineData = zsvc::view(lines);
    ZFIT_FAIL_IF(lineData.size() != pointData.size(), zmath_errFitSizeMismatch);
    return zmath_pointToLineFit(params, pointData.data(), lineData.data(), zsvc::size32(pointData), result);
}

zfit_status zmath_pointToLineFitWeightedVector(const zmath_pointToLineFitParams* params,
                                               const zstd_vector_zmath_vect* points,
                                               const zstd_vector_zmath_shapeFLine* lines, const zstd_vectord* weights,
                                               zmath_pointToLineFitResult* result)
{
    const auto pointData = zsvc::view(points);
    const auto lineData = zsvc::view(lines);
    const auto weightData = zsvc::view(weights);
    ZFIT_FAIL_IF(lineData.size() != pointData.size(), zmath_errFitSizeMismatch);
    ZFIT_FAIL_IF(weightData.size() != pointData.size(), zmath_errFitSizeMismatch);
    return zmath_pointToLineFitWeighted(params, pointData.data(), lineData.data(), weightData.data(),
                                        zsvc::size32(pointData), result);
}

}  // extern "C"
