// Line demo: edge points along a slanted edge, with a little noise.
#include <cmath>
#include <numbers>

#include "demo.hpp"

int demo::line()
{
    // Points on y = 0.5 x + 2 sampled at x = 0..11, perturbed by up to 0.02.
    const zmath_vect points[] = {
        {0.0, 2.013},  {1.0, 2.488},  {2.0, 3.006},  {3.0, 3.491},  {4.0, 4.017}, {5.0, 4.502},
        {6.0, 4.985},  {7.0, 5.509},  {8.0, 5.993},  {9.0, 6.511},  {10.0, 6.996}, {11.0, 7.504},
    };
    const int32_t count = sizeof points / sizeof points[0];

    zmath_lineFitParams params;
    zmath_lineFitParams_init(&params);
    zmath_lineFitResult result;
    if (report("line result", zmath_lineFitResult_construct(&result))) return 1;
    const zfit_status status = zmath_lineFit(points, count, &params, &result);
    int failed = report("line fit", status);
    if (!failed) {
        const zmath_shapeFLine& line = result.line;
        std::printf("line (least squares, %d points)\n", static_cast<int>(count));
        std::printf("  normal form  -x*sin(t) + y*cos(t) = d,  t = %.6f rad (%.3f deg), d = %.6f\n", line.angle,
                    line.angle * 180.0 / std::numbers::pi, line.d);
        std::printf("  direction    (%.6f, %.6f)\n", std::cos(line.angle), std::sin(line.angle));
        std::printf("  rmsError     %.6f   valid %d\n", result.rmsError, static_cast<int>(result.isValid));
        failed = demo::picture("line", zcli::lineFigure({points, points + count}, result, params.mode));
        std::printf("\n");
    }
    zmath_lineFitResult_destruct(&result);
    return failed;
}
