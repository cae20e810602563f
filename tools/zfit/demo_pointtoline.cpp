// Point-to-line demo: edge points measured in an image are snapped onto the
// four edges of a 40 x 20 rectangle model by the affine transform that moves
// each point onto its edge.
#include <cmath>
#include <numbers>

#include "demo.hpp"

int demo::pointToLine()
{
    // The model's edges: x = 0, x = 40 (direction pi/2, d = -x) and y = 0,
    // y = 20 (direction 0, d = y).
    const double up = std::numbers::pi / 2, along = 0.0;
    zmath_shapeFLine left, right, bottom, top;
    zmath_shapeFLine_initAngleDistance(&left, &up, 0.0);
    zmath_shapeFLine_initAngleDistance(&right, &up, -40.0);
    zmath_shapeFLine_initAngleDistance(&bottom, &along, 0.0);
    zmath_shapeFLine_initAngleDistance(&top, &along, 20.0);

    // Image points along each edge of the part, seen shifted, turned by about
    // 3 degrees and scaled by 1.01, with up to 0.02 of measurement noise.
    const zmath_vect points[] = {
        {11.797, 7.026},  {11.519, 12.083}, {11.270, 17.110}, {10.988, 22.171},  // left edge
        {52.243, 7.127},  {51.963, 12.187}, {51.717, 17.211}, {51.449, 22.258},  // right edge
        {18.043, 3.326},  {28.150, 3.833},  {38.221, 4.378},  {48.317, 4.896},   // bottom edge
        {14.971, 23.390}, {25.073, 23.903}, {35.138, 24.452}, {45.241, 24.965},  // top edge
    };
    const zmath_shapeFLine lines[] = {left,   left,   left,   left,   right, right, right, right,
                                      bottom, bottom, bottom, bottom, top,   top,   top,   top};
    const int32_t count = sizeof points / sizeof points[0];

    zmath_pointToLineFitParams params;
    zmath_pointToLineFitParams_init(&params);
    params.maxRmsError = 0.05;
    zfit::Result<zmath_pointToLineFitResult> owner;
    if (report("point-to-line result", owner.status())) return 1;
    zmath_pointToLineFitResult& result = *owner;
    const zfit_status status = zmath_pointToLineFit(&params, points, lines, count, &result);
    int failed = report("point-to-line fit", status);
    if (!failed) {
        const zmath_xformLinear& t = result.xform;
        std::printf("point-to-line (%d edge points onto the edges of a 40 x 20 rectangle)\n", static_cast<int>(count));
        const auto sign = [](double v) { return v < 0.0 ? '-' : '+'; };
        std::printf("  transform    x' = %9.6f x %c %8.6f y %c %.6f\n", t.matrix.m00, sign(t.matrix.m01),
                    std::fabs(t.matrix.m01), sign(t.translation.x), std::fabs(t.translation.x));
        std::printf("               y' = %9.6f x %c %8.6f y %c %.6f\n", t.matrix.m10, sign(t.matrix.m11),
                    std::fabs(t.matrix.m11), sign(t.translation.y), std::fabs(t.translation.y));
        std::printf("  rmsError     %.6f   valid %d (limit %.2f)\n", result.rmsError, static_cast<int>(result.isValid),
                    params.maxRmsError);
        const char* edge[] = {"left", "right", "bottom", "top"};
        for (int32_t i = 0; i < count; i += 3) {
            zmath_vect snapped;
            double distance = 0.0;
            zmath_xformLinear_mapPoint(&t, &points[i], &snapped);
            zmath_shapeFLine_distanceFrom(&lines[i], &snapped, &distance);
            std::printf("  (%7.3f, %7.3f) -> (%7.3f, %7.3f)  %-6s edge, off by %+.4f\n", points[i].x, points[i].y,
                        snapped.x, snapped.y, edge[i / 4], distance);
        }
        failed =
            picture("pointtoline", zcli::pointToLineFigure({points, points + count}, {lines, lines + count}, result));
        std::printf("\n");
    }
    return failed;
}
