// Parabola demo: points along a parabola tilted by 30 degrees, with a little
// noise.
#include <cmath>
#include <numbers>

#include "demo.hpp"

int demo::parabola()
{
    // y = 0.25 x^2 at x = -6..6 (perturbed by up to 0.015 across), in a frame
    // turned by 30 degrees with its vertex at (5, 3).
    const zmath_vect samples[] = {
        {-4.702, 7.805}, {-2.451, 5.906}, {-0.472, 4.477}, {1.282, 3.439}, {2.766, 2.869},
        {4.016, 2.704},  {4.995, 3.008},  {5.738, 3.722},  {6.239, 4.855}, {6.468, 6.457},
        {6.467, 8.460},  {6.199, 10.924}, {5.701, 13.786},
    };
    const int32_t count = sizeof samples / sizeof samples[0];

    const zfit::Points points{std::span<const zmath_vect>(samples, static_cast<std::size_t>(count))};
    if (report("parabola points", points.status())) return 1;

    zmath_parabolaFitParams params;
    zmath_parabolaFitParams_init(&params);
    params.maxIterations = 50;
    zfit::ParabolaResult owner;
    if (report("parabola result", owner.status())) return 1;
    zmath_parabolaFitResult& result = *owner;
    int failed = report("parabola fit", zmath_parabolaFitVector(points.get(), &params, &result));
    if (!failed) {
        const zmath_xformRigid& pose = result.parabola.pose;
        std::printf("parabola (maxIterations %d, %d points)\n", static_cast<int>(params.maxIterations),
                    static_cast<int>(count));
        std::printf("  own frame    y = a*x^2, a = %.6f\n", result.parabola.coefficient);
        std::printf("  frame angle  %.6f rad (%.3f deg)\n", pose.angle, pose.angle * 180.0 / std::numbers::pi);
        std::printf("  vertex       (%.6f, %.6f)\n", pose.translation.x, pose.translation.y);
        std::printf("  rmsError     %.6f   valid %d\n", result.rmsError, static_cast<int>(result.isValid));
        failed = picture("parabola", zcli::parabolaFigure({samples, samples + count}, result, false));
        std::printf("\n");
    }
    return failed;
}
