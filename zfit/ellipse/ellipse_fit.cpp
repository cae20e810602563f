// The ellipse family's records and entries: validation, the point-count
// check, the reset that every fit starts from, and the validity flag.
#include <cmath>

#include <zfit/ellipse/ellipse_internal.hpp>
#include <zfit/family/frame.hpp>
#include <zfit/family/search_plan.hpp>
#include <zfit/services/math.hpp>

template <>
struct zfit::ResultShape<zmath_ellipseFitResult> {
    // The unit circle about the origin: the image of the identity transform.
    static zfit_status reset(zmath_ellipseFitResult& r)
    {
        zmath_xformLinear identity;
        ZFIT_TRY(zmath_xformLinear_initIdentity(&identity));
        return zmath_shapeEllipse_initFromXform(&r.ellipse, &identity);
    }
    static void copyShape(zmath_ellipseFitResult& to, const zmath_ellipseFitResult& from) { to.ellipse = from.ellipse; }
};

ZFIT_DEFINE_TYPE_CHECK_HOOKS(zmath_ellipseFitResult)
ZFIT_DEFINE_RESULT_LIFE_CYCLE(zmath_ellipseFitResult)
ZFIT_DEFINE_RESULT_RESET(zmath_ellipseFitResult)
ZFIT_DEFINE_PARAMS_INIT(zmath_ellipseFitParams, 0, HUGE_VAL)
ZFIT_DEFINE_ARRAY_ENTRY(zmath_ellipseFit, zmath_ellipseFitParams, zmath_ellipseFitResult)

namespace {

// Every point at once: the fit, its error, no indices.
zfit_status fitAll(std::span<const zmath_vect> points, zmath_ellipseFitResult* result)
{
    zfit::ellipse::Work work;
    ZFIT_TRY(work.construct());
    ZFIT_TRY(zmath_ellipseFitPoints_(points, work, &result->ellipse));
    ZFIT_TRY(zmath_ellipseFitRmsError_(&result->ellipse, points, &result->rmsError));
    return zstd_vector32_resize(&result->ignoredIndices, 0);
}

}  // namespace

extern "C" {

zfit_status zmath_ellipseFitParams_validate(const zmath_ellipseFitParams* params)
{
    ZFIT_FAIL_IF(params->numIgnore < 0, zmath_errFitNumIgnoreNegative);
    ZFIT_FAIL_IF(0.0 > params->maxRmsError, zmath_errFitMaxRmsErrorNegative);
    return zfit_ok;
}

zfit_status zmath_ellipseFitVector(const zstd_vector_zmath_vect* points, const zmath_ellipseFitParams* params,
                                   zmath_ellipseFitResult* result)
{
    ZFIT_TRY(zmath_ellipseFitParams_validate(params));
    const std::span<const zmath_vect> list = zsvc::view(points);
    const int32_t n = zsvc::size32(list);
    // Five points more than are left out, or no subset has an ellipse:
    // refused before the search, the record untouched.
    const int32_t numIgnore = params->numIgnore;
    ZFIT_FAIL_IF(zfit::plan::ellipseKeepsTooFew(n, numIgnore), zmath_errDegenerate);

    // From here on every fit starts from a reset record.
    ZFIT_TRY(zmath_ellipseFitResult_reset(result));
    ZFIT_FAIL_IF(!zsvc::allFinite(list), zmath_errDegenerate);
    if (numIgnore == 0) {
        ZFIT_TRY(fitAll(list, result));
    } else {
        ZFIT_TRY(
            zmath_ellipseFitIgnore_(points, numIgnore, &result->rmsError, &result->ellipse, &result->ignoredIndices));
    }
    result->isValid = zfit::validity(params->maxRmsError, result->rmsError);
    return zfit_ok;
}

}  // extern "C"
