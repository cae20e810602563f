/* zfit metrology: measurements beyond the fitting families.
 *
 * The companion library libzfit_metrology.so (CMake target zfit::metrology,
 * pkg-config zfit-metrology) builds on libzfit.so and uses its conventions:
 * every function returns a zfit_status from the same table (0 success, a
 * negative value failure), angles are in radians counterclockwise, and
 * lines are in normal form -x*sin(theta) + y*cos(theta) = d. Its names
 * start with zmet_, so they never collide with the fitting library's.
 * Compiles as C11 and as C++. */
#ifndef ZFIT_METROLOGY_METROLOGY_H
#define ZFIT_METROLOGY_METROLOGY_H

#include <zfit/zfit.h>

#include <zfit/metrology/geometric/geometric.h>
#include <zfit/metrology/geometric/parabola.h>
#include <zfit/metrology/robust/robust.h>
#include <zfit/metrology/roundness/roundness.h>

ZFIT_EXTERN_C_BEGIN

/* The version of the companion library that was loaded: major, minor and
 * patch, each written when its pointer is not NULL. Returns 0. */
ZFIT_API zfit_status zmet_version(int32_t* major, int32_t* minor, int32_t* patch);

ZFIT_EXTERN_C_END

#endif
