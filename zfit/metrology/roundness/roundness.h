/* Roundness: the reference circles of form measurement. */
#ifndef ZFIT_METROLOGY_ROUNDNESS_ROUNDNESS_H
#define ZFIT_METROLOGY_ROUNDNESS_ROUNDNESS_H

#include <zfit/zfit.h>

ZFIT_EXTERN_C_BEGIN

ZFIT_EXTERN_C_END

#endif
