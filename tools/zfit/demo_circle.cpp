// Circle demo: edge points around a round hole, two of them spurious.
#include <cmath>

#include "demo.hpp"

int demo::circle()
{
    // Ten points on the circle about (12, 7) of radius 5, measured to about
    // 0.01, with two stray edge points (indices 3 and 8) to be discarded.
    const zmath_vect points[] = {
        {17.004, 7.000},  {16.045, 9.941}, {13.547, 11.757}, {9.2, 3.1},     {10.451, 11.761}, {7.960, 9.937},
        {6.997, 7.006},   {7.952, 4.066},  {15.9, 14.8},     {10.455, 2.247}, {13.541, 2.241},  {16.048, 4.062},
    };
    const int32_t count = sizeof points / sizeof points[0];

    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.numIgnore = 2;
    params.maxRmsError = 0.05;
    zmath_circleFitResult result;
    if (report("circle result", zmath_circleFitResult_construct(&result))) return 1;
    const zfit_status status = zmath_circleFit(points, count, &params, &result);
    int failed = report("circle fit", status);
    if (!failed) {
        std::printf("circle (free radius, %d points, %d discarded)\n", static_cast<int>(count),
                    static_cast<int>(params.numIgnore));
        std::printf("  centre       (%.6f, %.6f)\n", result.centre.x, result.centre.y);
        std::printf("  radius       %.6f\n", result.radius);
        std::printf("  rmsError     %.6f   valid %d\n", result.rmsError, static_cast<int>(result.isValid));
        std::printf("  discarded    ");
        for (int32_t i = 0; i < result.ignoredIndices.size; ++i)
            std::printf("%s%d", i ? ", " : "", static_cast<int>(result.ignoredIndices.begin[i]));
        std::printf("\n\n");
    }
    zmath_circleFitResult_destruct(&result);
    return failed;
}
