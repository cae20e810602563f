// Point-to-point demo: camera calibration from a plate of marks. The marks
// sit on a 4 x 4 grid at 10 mm pitch; the camera sees them at 12.5 px/mm,
// turned by 3 degrees and shifted to (320, 240) px, and finds their centres
// with about 0.15 px of noise. The similarity fit (4 dof) recovers the
// pixel-to-millimetre mapping from the detected centres.
#include <cmath>
#include <numbers>

#include "demo.hpp"

int demo::pointToPoint()
{
    constexpr int side = 4, count = side * side;
    constexpr double pitch = 10.0, scale = 12.5, degrees = 3.0;
    // Detection noise of each mark in pixels.
    const zmath_vect noise[count] = {
        {0.014, 0.188},  {-0.140, 0.149},  {-0.039, -0.039}, {0.285, 0.024},   {-0.006, 0.109},  {0.169, -0.005},
        {0.088, -0.146}, {-0.055, -0.066}, {-0.200, -0.226}, {-0.244, -0.036}, {-0.026, -0.048}, {0.010, -0.200},
        {-0.012, 0.036}, {0.113, -0.127},  {-0.060, -0.302}, {-0.076, -0.330},
    };
    const double angle = degrees * std::numbers::pi / 180.0, c = std::cos(angle), s = std::sin(angle);
    zmath_vect pixels[count], plate[count];
    for (int i = 0; i < count; ++i) {
        const zmath_vect mm{pitch * (i % side), pitch * (i / side)};
        plate[i] = mm;
        pixels[i] = {scale * (c * mm.x - s * mm.y) + 320.0 + noise[i].x,
                     scale * (s * mm.x + c * mm.y) + 240.0 + noise[i].y};
    }

    // Fit millimetres (target) from pixels (source): the transform a
    // measuring program applies to every detected feature.
    zmath_pointToPointFitParams params;
    zmath_pointToPointFitParams_init(&params);
    params.dof = 4;
    params.maxRmsError = 0.05;  // mm
    zfit::Result<zmath_pointToPointFitResult> owner;
    if (report("point-to-point result", owner.status())) return 1;
    zmath_pointToPointFitResult& result = *owner;
    const zfit_status status = zmath_pointToPointFit(&params, plate, pixels, count, &result);
    int failed = report("point-to-point fit", status);
    if (!failed) {
        const zmath_matrix& m = result.xform.matrix;
        const double mmPerPixel = std::hypot(m.m00, m.m10);
        std::printf("point-to-point (similarity, %d calibration marks, pixels -> mm)\n", count);
        std::printf("  matrix       (%.6f, %.6f; %.6f, %.6f)\n", m.m00, m.m01, m.m10, m.m11);
        std::printf("  translation  (%.4f, %.4f) mm\n", result.xform.translation.x, result.xform.translation.y);
        std::printf("  scale        %.6f mm/px (true %.6f)\n", mmPerPixel, 1.0 / scale);
        std::printf("  rotation     %.4f deg (true %.4f)\n", std::atan2(m.m10, m.m00) * 180.0 / std::numbers::pi,
                    -degrees);
        std::printf("  rmsError     %.5f mm   valid %d (limit %.2f mm)\n", result.rmsError,
                    static_cast<int>(result.isValid), params.maxRmsError);
        failed = picture("pointtopoint", zcli::pointToPointFigure({plate, plate + count}, {pixels, pixels + count},
                                                                  result, params.dof));
        std::printf("\n");
    }
    return failed;
}
