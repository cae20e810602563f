// Roundness demo: a bore turned with three lobes, measured at 72 angles.
#include <cmath>
#include <vector>

#include <zfit/metrology/metrology.h>

#include "demo.hpp"

int demo::roundness()
{
    // Radius 12.5 mm about (40.2, 31.7), three lobes of 4 um, an oval of
    // 1.5 um and a fixed ripple of 0.5 um standing in for the probe's noise.
    std::vector<zmath_vect> points;
    for (int k = 0; k < 72; ++k) {
        const double t = 6.283185307179586 * k / 72;
        const double r =
            12.5 + 0.004 * std::cos(3 * t + 0.7) + 0.0015 * std::cos(2 * t + 1.9) + 0.0005 * std::sin(37.0 * k);
        points.push_back({40.2 + r * std::cos(t), 31.7 + r * std::sin(t)});
    }
    zmet_roundnessParams params;
    zmet_roundnessParams_init(&params);
    params.maxRoundness = 0.015;
    zmet_roundnessResult result;
    const zfit_status status = zmet_roundness(points.data(), static_cast<int32_t>(points.size()), &params, &result);
    if (report("roundness", status)) return 1;
    std::printf("roundness (minimum zone, %d points)\n", static_cast<int>(points.size()));
    std::printf("  centre       (%.6f, %.6f)\n", result.centre.x, result.centre.y);
    std::printf("  radii        %.6f to %.6f\n", result.innerRadius, result.outerRadius);
    std::printf("  roundness    %.6f   valid %d\n", result.roundness, static_cast<int>(result.isValid));
    std::printf("  contacts     ");
    for (int32_t k = 0; k < result.contactCount; ++k)
        std::printf("%s%d (%s)", k ? ", " : "", static_cast<int>(result.contacts[k]),
                    result.contactOnOuter[k] ? "outer" : "inner");
    std::printf("\n");
    const int failed = picture("roundness", zcli::roundnessFigure(points, result, "minimum zone"));
    std::printf("\n");
    return failed;
}
