/* The roundness header compiles as C11 and a C program gets the circles:
 * the corners of a square, each method on the circle through them. */
#include <math.h>
#include <stdio.h>

#include <zfit/metrology/metrology.h>

int main(void)
{
    const zmath_vect square[] = {{3, 1}, {1, 3}, {-1, 1}, {1, -1}};
    const int32_t methods[] = {zmet_roundnessMinimumZone, zmet_roundnessCircumscribed, zmet_roundnessInscribed};
    int failures = 0;
    for (int m = 0; m < 3; ++m) {
        zmet_roundnessParams params;
        zmet_roundnessResult result;
        zmet_roundnessParams_init(&params);
        params.method = methods[m];
        const zfit_status status = zmet_roundness(square, 4, &params, &result);
        const int wrong = status != 0 || fabs(result.centre.x - 1) > 1e-12 || fabs(result.centre.y - 1) > 1e-12 ||
                          fabs(result.outerRadius - 2) > 1e-12 || result.roundness > 1e-12;
        if (wrong)
            fprintf(stderr, "method %d: status %d, centre (%g, %g), radius %g\n", (int)methods[m], (int)status,
                    result.centre.x, result.centre.y, result.outerRadius);
        failures += wrong;
    }
    return failures;
}
