// The line family's records and entries: validation, dispatch on mode and
// numIgnore, and the validity flag.
#include <cmath>

#include <zfit/family/frame.hpp>
#include <zfit/family/search_plan.hpp>
#include <zfit/line/line_internal.hpp>

ZFIT_DEFINE_RESULT_SHAPE(zmath_lineFitResult, line, zmath_shapeFLine_init)

ZFIT_DEFINE_TYPE_CHECK_HOOKS(zmath_lineFitResult)
ZFIT_DEFINE_RESULT_LIFE_CYCLE(zmath_lineFitResult)
ZFIT_DEFINE_RESULT_RESET(zmath_lineFitResult)
ZFIT_DEFINE_PARAMS_INIT(zmath_lineFitParams, 0, HUGE_VAL, zmath_lineFitModeLeastSquares)
ZFIT_DEFINE_ARRAY_ENTRY(zmath_lineFit, zmath_lineFitParams, zmath_lineFitResult)

namespace {

zfit_status runAlgorithm(const zstd_vector_zmath_vect* points, const zmath_lineFitParams& params,
                         zmath_lineFitResult* result)
{
    const int32_t m = params.numIgnore;
    // Too few points to keep for any window: the search's own answer
    // (nothing scored, the line and the indices as before), without the
    // search.
    const bool keepsTooFew = zfit::plan::lineKeepsTooFew(zsvc::size32(zsvc::view(points)), m, params.mode);
    if (keepsTooFew) result->rmsError = HUGE_VAL;
    ZFIT_FAIL_IF(keepsTooFew, zmath_errDegenerate);
    switch (params.mode) {
    case zmath_lineFitModeLeastSquares:
        if (m >= 4) return zmath_lineFitRanked_(points, m, &result->line, &result->rmsError, &result->ignoredIndices);
        return zmath_lineFitExhaustive_(points, m, &result->line, &result->rmsError, &result->ignoredIndices);
    case zmath_lineFitModeMinimumZone:
        return zmath_lineFitMinZone_(points, m, &result->line, &result->rmsError, &result->ignoredIndices);
    default: return zmath_errFitBadMode;
    }
}

}  // namespace

extern "C" {

zfit_status zmath_lineFitParams_validate(const zmath_lineFitParams* params)
{
    ZFIT_FAIL_IF(0.0 > params->maxRmsError, zmath_errFitMaxRmsErrorNegative);
    ZFIT_FAIL_IF(params->numIgnore < 0, zmath_errFitNumIgnoreNegative);
    ZFIT_FAIL_IF(params->mode != zmath_lineFitModeLeastSquares && params->mode != zmath_lineFitModeMinimumZone,
                 zmath_errFitBadMode);
    return zfit_ok;
}

zfit_status zmath_lineFitVector(const zstd_vector_zmath_vect* points, const zmath_lineFitParams* params,
                                zmath_lineFitResult* result)
{
    ZFIT_TRY(zmath_lineFitParams_validate(params));
    return zfit::judged(params->maxRmsError, result, [&] { return runAlgorithm(points, *params, result); });
}

}  // extern "C"
