// Line fits on arbitrary points and parameters.
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    params.mode = in.smallInt(-1, 2);
    params.numIgnore = in.smallInt(-1, 6);
    if (in.byte() > 200) params.maxRmsError = in.value();
    const std::vector<zmath_vect> points = in.points(24);
    const auto n = static_cast<int32_t>(points.size());

    zmath_lineFitResult result;
    FUZZ_CHECK(zmath_lineFitResult_construct(&result) == 0);
    const zfit_status status = zmath_lineFit(points.data(), n, &params, &result);
    FUZZ_CHECK(fuzz::documented(status));
    if (status == 0) {
        FUZZ_CHECK(fuzz::validityAgrees(result.isValid, params.maxRmsError, result.rmsError));
        FUZZ_CHECK(std::isfinite(result.rmsError) && result.rmsError >= 0.0);
        FUZZ_CHECK(result.line.d >= 0.0 || params.mode == 1);
        FUZZ_CHECK(fuzz::indicesSound(result.ignoredIndices, n, params.numIgnore));
    }
    FUZZ_CHECK(zmath_lineFitResult_destruct(&result) == 0);
    return 0;
}
