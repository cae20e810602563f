/* The umbrella header compiles as C11 (this file is built with -std=c11
 * -Wpedantic -Werror), and a C program runs a fit through a vector. */
#include <math.h>
#include <stdio.h>
#include <zfit/frame/status_names.h>
#include <zfit/zfit.h>

static int check(int condition, const char* what)
{
    if (!condition) fprintf(stderr, "failed: %s\n", what);
    return condition ? 0 : 1;
}

int main(void)
{
    zstd_vector_zmath_vect points;
    zmath_lineFitParams params;
    zmath_lineFitResult result;
    zmath_vect p;
    int failures = 0;
    int i;

    failures += check(zstd_vector_zmath_vect_construct(&points, 0) == 0, "construct points");
    for (i = 0; i < 5; ++i) {
        zmath_vect_init(&p, (double)i, -2.0);
        failures += check(zstd_vector_zmath_vect_pushBack(&points, &p) == 0, "push point");
    }
    zmath_lineFitParams_init(&params);
    failures += check(zmath_lineFitResult_construct(&result) == 0, "construct result");
    failures += check(zmath_lineFitVector(&points, &params, &result) == 0, "fit");
    /* Points on y = -2: direction (1, 0) with d = -2 is turned to angle pi, d = 2. */
    failures += check(fabs(result.line.angle - 3.14159265358979323846) < 1e-12, "angle pi");
    failures += check(fabs(result.line.d - 2.0) < 1e-12, "d = 2");
    failures += check(result.isValid == 1, "valid");

    params.mode = 5;
    failures += check(zmath_lineFitVector(&points, &params, &result) == zmath_errFitBadMode, "bad mode");
    failures += check(ZFIT_FAILED(zmath_errFitBadMode), "failure has the top bit");
    failures += check(zfit_statusName(zmath_errDegenerate) != NULL, "status name");

    zmath_lineFitResult_destruct(&result);
    zstd_vector_zmath_vect_destruct(&points);
    return failures == 0 ? 0 : 1;
}
