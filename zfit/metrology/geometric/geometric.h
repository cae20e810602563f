/* Geometric (orthogonal-distance) fits and the uncertainty of fitted
 * parameters. */
#ifndef ZFIT_METROLOGY_GEOMETRIC_GEOMETRIC_H
#define ZFIT_METROLOGY_GEOMETRIC_GEOMETRIC_H

#include <zfit/zfit.h>

ZFIT_EXTERN_C_BEGIN

ZFIT_EXTERN_C_END

#endif
