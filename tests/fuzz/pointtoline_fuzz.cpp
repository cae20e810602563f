// Point-to-line fits on arbitrary pairs, weights and lines.
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    zmath_pointToLineFitParams params;
    zmath_pointToLineFitParams_init(&params);
    const bool weighted = in.byte() & 1;
    params.dof = in.smallInt(5, 7);
    if (in.byte() > 200) params.maxRmsError = in.value();
    const std::vector<zmath_vect> points = in.points(16);
    std::vector<zmath_shapeFLine> lines(points.size());
    std::vector<double> weights(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const double angle = in.value();
        FUZZ_CHECK(zmath_shapeFLine_initAngleDistance(&lines[i], &angle, in.value()) == 0);
        weights[i] = in.weight();
    }
    const auto n = static_cast<int32_t>(points.size());

    zmath_pointToLineFitResult result;
    FUZZ_CHECK(zmath_pointToLineFitResult_construct(&result) == 0);
    const zmath_pointToLineFitResult before = result;
    const zfit_status status =
        weighted ? zmath_pointToLineFitWeighted(&params, points.data(), lines.data(), weights.data(), n, &result)
                 : zmath_pointToLineFit(&params, points.data(), lines.data(), n, &result);
    FUZZ_CHECK(fuzz::documented(status));
    if (status == 0) {
        FUZZ_CHECK(fuzz::validityAgrees(result.isValid, params.maxRmsError, result.rmsError));
        FUZZ_CHECK(std::isfinite(result.rmsError) && result.rmsError >= 0.0);
        const double* six = &result.xform.translation.x;
        for (int i = 0; i < 6; ++i) FUZZ_CHECK(std::isfinite(six[i]));
    } else {
        FUZZ_CHECK(std::memcmp(&result, &before, sizeof before) == 0);
    }
    FUZZ_CHECK(zmath_pointToLineFitResult_destruct(&result) == 0);
    return 0;
}
