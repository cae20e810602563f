// The point-to-point family's records and entries: validation, the input
// checks, the moment pass, dispatch on dof, the measured residual and the
// validity flag.
#include <cmath>

#include <zfit/family/frame.hpp>
#include <zfit/pointtopoint/pointtopoint_internal.hpp>

ZFIT_DEFINE_RESULT_SHAPE(zmath_pointToPointFitResult, xform, zmath_xformLinear_initIdentity)

ZFIT_DEFINE_TYPE_CHECK_HOOKS(zmath_pointToPointFitResult)
ZFIT_DEFINE_RESULT_LIFE_CYCLE(zmath_pointToPointFitResult)
ZFIT_DEFINE_PARAMS_INIT(zmath_pointToPointFitParams, HUGE_VAL, 6)

namespace {

using zfit::p2p::PairWeights;
using zfit::p2p::UnitWeights;

zfit_status sumPairs(const zmath_vect* target, const zmath_vect* source, UnitWeights, int32_t count, bool targetScale,
                     zfit_pointPointVals* vals)
{
    return zmath_pointToPointFitUpdateVals_(target, source, count, targetScale, vals);
}

zfit_status sumPairs(const zmath_vect* target, const zmath_vect* source, PairWeights weights, int32_t count,
                     bool targetScale, zfit_pointPointVals* vals)
{
    return zmath_pointToPointFitUpdateValsWeighted_(target, source, weights.values, count, targetScale, vals);
}

zfit_status measure(const zmath_vect* target, const zmath_vect* source, UnitWeights, int32_t count,
                    const zmath_xformLinear& xform, double* error)
{
    return zmath_pointToPointFitRmsError_(target, source, count, &xform, error);
}

zfit_status measure(const zmath_vect* target, const zmath_vect* source, PairWeights weights, int32_t count,
                    const zmath_xformLinear& xform, double* error)
{
    return zmath_pointToPointFitRmsErrorWeighted_(target, source, weights.values, count, &xform, error);
}

const double* weightArray(UnitWeights) { return nullptr; }
const double* weightArray(PairWeights weights) { return weights.values; }
bool present(UnitWeights) { return true; }
bool present(PairWeights weights) { return weights.values != nullptr; }

// The common fit routine of all four entries. The transform and its error
// are formed in locals and stored only when both succeeded, so a failed fit
// leaves the caller's record exactly as it was.
template <class W>
zfit_status fitPairs(const zmath_pointToPointFitParams* params, const zmath_vect* target, const zmath_vect* source,
                     W weights, int32_t count, zmath_pointToPointFitResult* result)
{
    ZFIT_TRY(zmath_pointToPointFitParams_validate(params));
    if (count < 0) count = 0;  // no pairs: the solvers fail on it
    ZFIT_REQUIRE(count == 0 || (target != nullptr && source != nullptr && present(weights)));

    zfit_pointPointVals vals;
    // The rotation fit alone needs the targets' scale.
    ZFIT_TRY(sumPairs(target, source, weights, count, params->dof == 3, &vals));
    ZFIT_FAIL_IF(!zfit_pointPointVals_finite_(&vals), zmath_errFitSolveFailed);

    zmath_xformLinear xform = result->xform;
    double error = 0.0;
    bool measured = false;
    switch (params->dof) {
    case 3:
        ZFIT_TRY(zmath_pointToPointFit3Dof_(&vals, &xform, target, source, weightArray(weights), count, &error));
        measured = true;  // the winning candidate's error, measured on the same pairs
        break;
    case 4: ZFIT_TRY(zmath_pointToPointFit4Dof_(&vals, &xform)); break;
    case 5: ZFIT_TRY(zmath_pointToPointFit5Dof_(&vals, &xform)); break;
    case 6: ZFIT_TRY(zmath_pointToPointFit6Dof_(&vals, &xform)); break;
    default: ZFIT_REQUIRE(false);  // validation admits no other dof
    }
    if (!measured) ZFIT_TRY(measure(target, source, weights, count, xform, &error));
    // Mapping a far point (even one of weight 0) can overflow the residual:
    // such a fit cannot be judged, so it is refused rather than reported.
    ZFIT_FAIL_IF(!std::isfinite(error), zmath_errFitSolveFailed);

    result->xform = xform;
    result->rmsError = error;
    result->isValid = zfit::validity(params->maxRmsError, error);
    return zfit_ok;
}

}  // namespace

extern "C" {

zfit_status zmath_pointToPointFitParams_validate(const zmath_pointToPointFitParams* params)
{
    ZFIT_FAIL_IF(0.0 > params->maxRmsError, zmath_errFitMaxRmsErrorNegative);
    ZFIT_FAIL_IF(params->dof < 3 || params->dof > 6, zmath_errFitBadMode);
    return zfit_ok;
}

zfit_status zmath_pointToPointFit(const zmath_pointToPointFitParams* params, const zmath_vect* target,
                                  const zmath_vect* source, int32_t count, zmath_pointToPointFitResult* result)
{
    return fitPairs(params, target, source, UnitWeights{}, count, result);
}

zfit_status zmath_pointToPointFitWeighted(const zmath_pointToPointFitParams* params, const zmath_vect* target,
                                          const zmath_vect* source, const double* weights, int32_t count,
                                          zmath_pointToPointFitResult* result)
{
    return fitPairs(params, target, source, PairWeights{weights}, count, result);
}

zfit_status zmath_pointToPointFitVector(const zmath_pointToPointFitParams* params, const zstd_vector_zmath_vect* target,
                                        const zstd_vector_zmath_vect* source, zmath_pointToPointFitResult* result)
{
    const auto targetPoints = zsvc::view(target);
    const auto sourcePoints = zsvc::view(source);
    ZFIT_FAIL_IF(sourcePoints.size() != targetPoints.size(), zmath_errFitSizeMismatch);
    return zmath_pointToPointFit(params, targetPoints.data(), sourcePoints.data(), zsvc::size32(targetPoints), result);
}

zfit_status zmath_pointToPointFitWeightedVector(const zmath_pointToPointFitParams* params,
                                                const zstd_vector_zmath_vect* target,
                                                const zstd_vector_zmath_vect* source, const zstd_vectord* weights,
                                                zmath_pointToPointFitResult* result)
{
    const auto targetPoints = zsvc::view(target);
    const auto sourcePoints = zsvc::view(source);
    const auto weightValues = zsvc::view(weights);
    ZFIT_FAIL_IF(sourcePoints.size() != targetPoints.size() || weightValues.size() != targetPoints.size(),
                 zmath_errFitSizeMismatch);
    return zmath_pointToPointFitWeighted(params, targetPoints.data(), sourcePoints.data(), weightValues.data(),
                                         zsvc::size32(targetPoints), result);
}

}  // extern "C"
