// Circle fits (both searches and the weighted fit) on arbitrary input.
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    const int32_t entry = in.smallInt(0, 1);  // 0: search entry, 1: weighted entry
    params.mode = in.smallInt(-1, 2);
    params.numIgnore = in.smallInt(-1, 4);
    if (in.byte() > 200) params.maxRmsError = in.value();
    if (in.byte() > 128) params.fixedRadius = in.value();
    const std::vector<zmath_vect> points = in.points(14);
    const auto n = static_cast<int32_t>(points.size());
    std::vector<double> weights(points.size());
    for (double& w : weights) w = in.weight();

    zmath_circleFitResult result;
    FUZZ_CHECK(zmath_circleFitResult_construct(&result) == 0);
    const zfit_status status = entry == 0 ? zmath_circleFit(points.data(), n, &params, &result)
                                          : zmath_circleFitWeighted(points.data(), n, weights.data(), &params, &result);
    FUZZ_CHECK(fuzz::documented(status));
    if (status == 0) {
        FUZZ_CHECK(fuzz::validityAgrees(result.isValid, params.maxRmsError, result.rmsError));
        FUZZ_CHECK(std::isfinite(result.rmsError) && result.rmsError >= 0.0);
        FUZZ_CHECK(std::isfinite(result.centre.x) && std::isfinite(result.centre.y) && std::isfinite(result.radius));
        FUZZ_CHECK(fuzz::indicesSound(result.ignoredIndices, n, entry == 0 ? params.numIgnore : 0));
        if (entry == 0 && params.mode == 1) FUZZ_CHECK(result.radius == params.fixedRadius);
    }
    FUZZ_CHECK(zmath_circleFitResult_destruct(&result) == 0);
    return 0;
}
