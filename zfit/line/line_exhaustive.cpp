// zmath_lineFitExhaustive_: the least-squares line, discarding every choice
// of numIgnore (0 to 3) points in turn.
#include <cmath>

#include <zfit/frame/status.hpp>
#include <zfit/line/line_internal.hpp>

namespace {

// The plain least-squares line through all points.
zfit_status fitAll(const zstd_vector_zmath_vect* points, zmath_shapeFLine* line, double* rmsError,
                   zstd_vector32* ignoredIndices)
{
    int32_t n = 0;
    const zmath_vect* p = nullptr;
    ZFIT_TRY(zstd_vector_zmath_vect_getSize(points, &n));
    ZFIT_TRY(zstd_vector_zmath_vect_getBeginConst(points, &p));
    zfit_lineVals sums;
    zfit_lineVals_init_(&sums);
    for (int32_t i = 0; i < n; ++i) zfit_lineVals_add_(&sums, p[i]);
    ZFIT_TRY(zfit_lineVals_solve_(&sums, line));
    // Measured from the points: the moment read-back loses the digits that
    // matter when the points lie far from the origin.
    ZFIT_TRY(zmath_lineFitRmsError_(line, points, rmsError));
    return zstd_vector32_resize(ignoredIndices, 0);
}

}  // namespace

zfit_status zmath_lineFitExhaustive_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zmath_shapeFLine* line,
                                     double* rmsError, zstd_vector32* ignoredIndices)
{
    *rmsError = HUGE_VAL;
    if (numIgnore == 0) return fitAll(points, line, rmsError, ignoredIndices);
    return zmath_errFitBadMode;  // discarding points: not available in this build yet
}
