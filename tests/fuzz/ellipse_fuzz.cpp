// Ellipse fits, with and without the subset search, on arbitrary input.
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    zmath_ellipseFitParams params;
    zmath_ellipseFitParams_init(&params);
    params.numIgnore = in.smallInt(-1, 2);
    if (in.byte() > 200) params.maxRmsError = in.value();
    const std::vector<zmath_vect> points = in.points(12);
    const auto n = static_cast<int32_t>(points.size());

    zmath_ellipseFitResult result;
    FUZZ_CHECK(zmath_ellipseFitResult_construct(&result) == 0);
    const zfit_status status = zmath_ellipseFit(points.data(), n, &params, &result);
    FUZZ_CHECK(fuzz::documented(status));
    if (status == 0) {
        FUZZ_CHECK(fuzz::validityAgrees(result.isValid, params.maxRmsError, result.rmsError));
        FUZZ_CHECK(std::isfinite(result.rmsError) && result.rmsError >= 0.0);
        const zmath_shapeEllipse& e = result.ellipse;
        FUZZ_CHECK(std::isfinite(e.center.x) && std::isfinite(e.center.y) && e.radius1 > 0 && e.radius2 > 0);
        FUZZ_CHECK(fuzz::indicesSound(result.ignoredIndices, n, params.numIgnore));
        for (int32_t i = 1; i < result.ignoredIndices.size; ++i)
            FUZZ_CHECK(result.ignoredIndices.begin[i - 1] > result.ignoredIndices.begin[i]);
    } else if (status != zmath_errFitNumIgnoreNegative && status != zmath_errFitMaxRmsErrorNegative &&
               n - 5 >= params.numIgnore) {
        FUZZ_CHECK(result.isValid == 0);  // the record is reset before the algorithm runs
    }
    FUZZ_CHECK(zmath_ellipseFitResult_destruct(&result) == 0);
    return 0;
}
