// Point-to-point fits of every dof on arbitrary pairs and weights.
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    zmath_pointToPointFitParams params;
    zmath_pointToPointFitParams_init(&params);
    const bool weighted = in.byte() & 1;
    params.dof = in.smallInt(2, 7);
    if (in.byte() > 200) params.maxRmsError = in.value();
    const std::vector<zmath_vect> source = in.points(16);
    std::vector<zmath_vect> target(source.size());
    std::vector<double> weights(source.size());
    for (size_t i = 0; i < source.size(); ++i) {
        target[i] = {in.value(), in.value()};
        weights[i] = in.weight();
    }
    const auto n = static_cast<int32_t>(source.size());

    zmath_pointToPointFitResult result;
    FUZZ_CHECK(zmath_pointToPointFitResult_construct(&result) == 0);
    const zmath_pointToPointFitResult before = result;
    const zfit_status status =
        weighted ? zmath_pointToPointFitWeighted(&params, target.data(), source.data(), weights.data(), n, &result)
                 : zmath_pointToPointFit(&params, target.data(), source.data(), n, &result);
    FUZZ_CHECK(fuzz::documented(status));
    if (status == 0) {
        FUZZ_CHECK(fuzz::validityAgrees(result.isValid, params.maxRmsError, result.rmsError));
        FUZZ_CHECK(std::isfinite(result.rmsError) && result.rmsError >= 0.0);
        const zmath_matrix& m = result.xform.matrix;
        FUZZ_CHECK(std::isfinite(m.m00) && std::isfinite(m.m01) && std::isfinite(m.m10) && std::isfinite(m.m11));
        FUZZ_CHECK(std::isfinite(result.xform.translation.x) && std::isfinite(result.xform.translation.y));
        if (params.dof == 3) {
            // A rotation or a reflection: unit columns.
            const double c0 = m.m00 * m.m00 + m.m10 * m.m10, c1 = m.m01 * m.m01 + m.m11 * m.m11;
            FUZZ_CHECK(std::fabs(c0 - 1) < 1e-9 && std::fabs(c1 - 1) < 1e-9);
        }
    } else {
        FUZZ_CHECK(std::memcmp(&result, &before, sizeof before) == 0);
    }
    FUZZ_CHECK(zmath_pointToPointFitResult_destruct(&result) == 0);
    return 0;
}
