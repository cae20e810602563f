/* A program outside the project that fits a line through the installed
 * library, and a geometric circle through its companion. */
#include <math.h>
#include <zfit/metrology/metrology.h>
#include <zfit/zfit.h>

int main(void)
{
    const zmath_vect points[3] = {{0.0, 1.0}, {1.0, 2.0}, {2.0, 3.0}};
    zmath_lineFitParams params;
    zmath_lineFitResult result;
    zfit_status status;
    int ok;

    zmath_lineFitParams_init(&params);
    if (ZFIT_FAILED(zmath_lineFitResult_construct(&result))) return 1;
    status = zmath_lineFit(points, 3, &params, &result);
    ok = !ZFIT_FAILED(status) && result.isValid == 1 && fabs(result.line.d - sqrt(0.5)) < 1e-12;
    zmath_lineFitResult_destruct(&result);
    {
        const zmath_vect arc[4] = {{5.0, 0.0}, {3.0, 4.0}, {0.0, 5.0}, {-4.0, 3.0}};
        zmet_geometricCircleParams circleParams;
        zmet_geometricCircleResult circle;
        zmet_geometricCircleParams_init(&circleParams);
        ok = ok && !ZFIT_FAILED(zmet_geometricCircleFit(arc, 4, &circleParams, &circle)) &&
             fabs(circle.radius - 5.0) < 1e-9 && circle.uncertainty.parameterCount == 3;
    }
    return ok ? 0 : 1;
}
