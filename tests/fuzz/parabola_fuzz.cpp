// Parabola fits, unweighted and weighted, on arbitrary input.
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const bool weighted = in.byte() & 1;
    const zmath_parabolaFitParams params{in.smallInt(-1, 6)};
    const std::vector<zmath_vect> points = in.points(12);
    std::vector<double> weights(points.size());
    for (double& w : weights) w = in.weight();
    if (weighted && in.byte() > 240 && !weights.empty()) weights.pop_back();

    zstd_vector_zmath_vect pv;
    zstd_vectord wv;
    FUZZ_CHECK(zstd_vector_zmath_vect_construct(&pv, static_cast<int64_t>(points.size())) == 0);
    FUZZ_CHECK(zstd_vectord_construct(&wv, static_cast<int64_t>(weights.size())) == 0);
    for (size_t i = 0; i < points.size(); ++i) pv.begin[i] = points[i];
    for (size_t i = 0; i < weights.size(); ++i) wv.begin[i] = weights[i];

    zmath_parabolaFitResult result;
    FUZZ_CHECK(zmath_parabolaFitResult_construct(&result) == 0);
    const zfit_status status = weighted ? zmath_parabolaFitWeightedVector(&pv, &wv, &params, &result)
                                        : zmath_parabolaFitVector(&pv, &params, &result);
    FUZZ_CHECK(fuzz::documented(status));
    FUZZ_CHECK(result.isValid == (status == 0 ? 1 : 0));
    if (status == 0) {
        FUZZ_CHECK(std::isfinite(result.rmsError) && result.rmsError >= 0.0);
        FUZZ_CHECK(result.parabola.coefficient >= 0.0 && std::isfinite(result.parabola.coefficient));
        FUZZ_CHECK(std::isfinite(result.parabola.pose.translation.x) &&
                   std::isfinite(result.parabola.pose.translation.y));
    }
    FUZZ_CHECK(zmath_parabolaFitResult_destruct(&result) == 0);
    zstd_vector_zmath_vect_destruct(&pv);
    zstd_vectord_destruct(&wv);
    return 0;
}
