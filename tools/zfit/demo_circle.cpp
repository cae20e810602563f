// Circle demo: edge points around a round hole, two of them spurious.
#include <cmath>

#include "demo.hpp"

int demo::circle()
{
    // Ten points on the circle about (12, 7) of radius 5, measured to about
    // 0.01, with two stray edge points (indices 3 and 8) to be discarded.
    const zmath_vect points[] = {
        {17.004, 7.000}, {16.045, 9.941}, {13.547, 11.757}, {9.2, 3.1},      {10.451, 11.761}, {7.960, 9.937},
        {6.997, 7.006},  {7.952, 4.066},  {15.9, 14.8},     {10.455, 2.247}, {13.541, 2.241},  {16.048, 4.062},
    };
    const int32_t count = sizeof points / sizeof points[0];

    zmath_circleFitParams params;
    zmath_circleFitParams_init(&params);
    params.numIgnore = 2;
    params.maxRmsError = 0.05;
    zfit::Result<zmath_circleFitResult> owner;
    if (report("circle result", owner.status())) return 1;
    zmath_circleFitResult& result = *owner;
    const zfit_status status = zmath_circleFit(points, count, &params, &result);
    int failed = report("circle fit", status);
    if (!failed) {
        std::printf("circle (free radius, %d points, %d discarded)\n", static_cast<int>(count),
                    static_cast<int>(params.numIgnore));
        std::printf("  centre       (%.6f, %.6f)\n", result.centre.x, result.centre.y);
        std::printf("  radius       %.6f\n", result.radius);
        std::printf("  rmsError     %.6f   valid %d\n", result.rmsError, static_cast<int>(result.isValid));
        std::printf("  discarded    ");
        const char* separator = "";
        for (const int32_t i : zfit::ignored(result)) {
            std::printf("%s%d", separator, static_cast<int>(i));
            separator = ", ";
        }
        std::printf("\n");
        failed = picture("circle", zcli::circleFigure({points, points + count}, result, "free radius"));
        std::printf("\n");
    }
    return failed;
}
