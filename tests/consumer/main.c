/* A program outside the project that fits a line through the installed library. */
#include <math.h>
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
    return ok ? 0 : 1;
}
