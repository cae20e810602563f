/* Line fit.
 *
 * Model: a straight line in normal form (zmath_shapeFLine): its points
 * satisfy -x*sin(theta) + y*cos(theta) = d, theta in radians, so
 * (cos, sin) is the direction and (-sin, cos) the unit normal.
 *
 * Algorithms, chosen by the parameters:
 *   mode 0, numIgnore 0    the orthogonal least-squares line: it minimises
 *                          the sum of squared perpendicular distances and
 *                          passes through the centroid along the axis of
 *                          largest spread. rmsError is the RMS perpendicular
 *                          distance of the points from it.
 *   mode 0, numIgnore 1-3  every choice of numIgnore points is discarded in
 *                          turn; the least-squares line of the rest with the
 *                          smallest RMS wins.
 *   mode 0, numIgnore >= 4 ranked-window search over point-pair directions.
 *   mode 1                 minimum zone: the centre line of the narrowest
 *                          strip holding all but numIgnore points; rmsError
 *                          is then the strip's half-width (the largest
 *                          distance of a kept point), not an RMS.
 * At least two distinct points are needed.
 *
 * The least-squares line is stored with d >= 0: theta lies in [0, pi] when
 * the centroid's offset along the normal is positive and in [pi, 2*pi]
 * otherwise. */
#ifndef ZFIT_LINE_LINE_H
#define ZFIT_LINE_LINE_H

#include <zfit/frame/records.h>
#include <zfit/services/containers.h>
#include <zfit/services/shapes.h>

ZFIT_EXTERN_C_BEGIN

typedef struct zmath_lineFitParams {
    /* How many points the fit discards as outliers (>= 0). Default 0. */
    int32_t numIgnore;
    /* isValid is 1 only when rmsError < maxRmsError (>= 0). Default +inf. */
    double maxRmsError;
    /* 0: least squares (default); 1: minimum zone. */
    int32_t mode;
} zmath_lineFitParams;

typedef struct zmath_lineFitResult {
    /* 1 when the last fit succeeded and rmsError < maxRmsError, else 0.
     * A failed fit leaves it as it was. */
    int32_t isValid;
    /* The fitted line. */
    zmath_shapeFLine line;
    /* Mode 0: RMS perpendicular distance of the kept points, measured from
     * the points. Mode 1: the strip's half-width. HUGE_VAL after a failure
     * before any candidate was solved. */
    double rmsError;
    /* 0-based positions of the discarded points in the caller's list (owned
     * by the record); empty when nothing was discarded. */
    zstd_vector32 ignoredIndices;
} zmath_lineFitResult;

/* Defaults: numIgnore 0, maxRmsError HUGE_VAL, mode 0. Returns 0. */
ZFIT_API zfit_status zmath_lineFitParams_init(zmath_lineFitParams* params);
/* Checks in this order: maxRmsError < 0 -> zmath_errFitMaxRmsErrorNegative
 * (NaN and -0.0 pass); numIgnore < 0 -> zmath_errFitNumIgnoreNegative; mode
 * not 0 or 1 -> zmath_errFitBadMode. Else 0. */
ZFIT_API zfit_status zmath_lineFitParams_validate(const zmath_lineFitParams* params);

/* Constructs the record: ignoredIndices empty, then reset. A container
 * failure is returned (zstd_errOutOfMemory). */
ZFIT_API zfit_status zmath_lineFitResult_construct(zmath_lineFitResult* result);
/* Constructs result as an independent copy of source; on failure result is
 * left unconstructed. A NULL argument is a broken precondition. */
ZFIT_API zfit_status zmath_lineFitResult_constructCopy(zmath_lineFitResult* result, const zmath_lineFitResult* source);
/* Copies isValid, line, rmsError, then the indices. Self-assignment does
 * nothing. If copying the indices fails the other fields are already copied. */
ZFIT_API zfit_status zmath_lineFitResult_assign(zmath_lineFitResult* result, const zmath_lineFitResult* source);
/* isValid 0, line angle 0 and d 0, rmsError 0.0, no indices (the index
 * storage is kept). */
ZFIT_API zfit_status zmath_lineFitResult_reset(zmath_lineFitResult* result);
/* Resets, then releases the indices; the record may then only be
 * constructed again. */
ZFIT_API zfit_status zmath_lineFitResult_destruct(zmath_lineFitResult* result);
ZFIT_DECLARE_TYPE_CHECK_HOOKS(zmath_lineFitResult)

/* Fits a line to the points of a vector (read only).
 *
 * Returns 0, or the first failure:
 *   zmath_errFitMaxRmsErrorNegative, zmath_errFitNumIgnoreNegative,
 *   zmath_errFitBadMode   the parameters (result untouched);
 *   zmath_errDegenerate   fewer than two points, no preferred direction
 *                         (all points equal, or spread equal in every
 *                         direction: a square's corners), a coordinate that
 *                         is NaN or infinite, or an outlier search that
 *                         solved no candidate;
 *   zsys_errCancelled (or the host's status)  a search was stopped by the
 *                         attention check;
 *   zstd_errOutOfMemory   work storage could not be had.
 * On success line, rmsError and ignoredIndices hold the fit and isValid is
 * set (see the record). On a failure after validation isValid keeps its
 * value, rmsError holds HUGE_VAL or the best value reached, and line is as
 * before the call. */
ZFIT_API zfit_status zmath_lineFitVector(const zstd_vector_zmath_vect* points, const zmath_lineFitParams* params,
                                         zmath_lineFitResult* result);

/* The same for an array of count points. A negative count counts as 0; a
 * NULL array with count > 0 is a broken precondition (assertion service).
 * ignoredIndices refer to positions in the array. Also returns the
 * container's status when the temporary copy cannot be made. */
ZFIT_API zfit_status zmath_lineFit(const zmath_vect* points, int32_t count, const zmath_lineFitParams* params,
                                   zmath_lineFitResult* result);

ZFIT_EXTERN_C_END

#endif
