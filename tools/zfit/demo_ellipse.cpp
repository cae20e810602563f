// Ellipse demo: twelve edge points around a tilted elliptical hole, one of
// them a stray from a neighbouring edge; the fit leaves one point out.
#include <numbers>

#include "demo.hpp"

int demo::ellipse()
{
    // Centre (120, 80), semi-axes 45 and 20, tilted by 0.5 rad, noise up to
    // 0.012; point 7 lies a quarter further out than the rim.
    const zmath_vect points[] = {
        {158.349, 103.223}, {146.451, 107.756}, {127.497, 104.868}, {106.506, 95.316},
        {89.164, 81.640},   {80.054, 67.556},   {81.670, 56.778},   {86.926, 45.284},
        {112.502, 55.140},  {133.493, 64.685},  {150.836, 78.361},  {159.945, 92.444},
    };
    const int32_t count = sizeof points / sizeof points[0];

    zmath_ellipseFitParams params;
    zmath_ellipseFitParams_init(&params);
    params.numIgnore = 1;
    params.maxRmsError = 0.05;
    zfit::Result<zmath_ellipseFitResult> owner;
    if (report("ellipse result", owner.status())) return 1;
    zmath_ellipseFitResult& result = *owner;
    const zfit_status status = zmath_ellipseFit(points, count, &params, &result);
    int failed = report("ellipse fit", status);
    if (!failed) {
        zmath_vect center;
        double radii[2], angle = 0.0;
        zmath_shapeEllipse_getCenter(&result.ellipse, &center);
        zmath_shapeEllipse_getRadii(&result.ellipse, radii);
        zmath_shapeEllipse_getAngle(&result.ellipse, &angle);
        std::printf("ellipse (algebraic, %d points, leaving out %d)\n", static_cast<int>(count),
                    static_cast<int>(params.numIgnore));
        std::printf("  centre       (%.4f, %.4f)\n", center.x, center.y);
        std::printf("  radii        %.4f, %.4f   major axis at %.6f rad (%.3f deg)\n", radii[0], radii[1], angle,
                    angle * 180.0 / std::numbers::pi);
        std::printf("  left out     point");
        for (const int32_t i : zfit::ignored(result)) std::printf(" %d", static_cast<int>(i));
        std::printf("\n  rmsError     %.6f   valid %d (limit %.3f)\n", result.rmsError,
                    static_cast<int>(result.isValid), params.maxRmsError);
        failed = picture("ellipse", zcli::ellipseFigure({points, points + count}, result));
        std::printf("\n");
    }
    return failed;
}
