// The ranked-window and minimum-zone line searches: not available in this
// build yet; the entry reports the mode as unsupported.
#include <cmath>

#include <zfit/line/line_internal.hpp>

zfit_status zmath_lineFitRanked_(const zstd_vector_zmath_vect*, int32_t, zmath_shapeFLine*, double* rmsError,
                                 zstd_vector32*)
{
    *rmsError = HUGE_VAL;
    return zmath_errFitBadMode;
}

zfit_status zmath_lineFitMinZone_(const zstd_vector_zmath_vect*, int32_t, zmath_shapeFLine*, double* rmsError,
                                  zstd_vector32*)
{
    *rmsError = HUGE_VAL;
    return zmath_errFitBadMode;
}
