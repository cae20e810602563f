/* Ellipse fit.
 *
 * Model: the general conic a*x^2 + b*xy + c*y^2 + d*x + e*y + f = 0 fitted
 * by direct constrained least squares (the algebraic residual of every
 * point, with the conic scaled so that 4ac - b^2 > 0 and
 * a^2 + b^2/2 + c^2 = 4), computed on the points moved to their centroid so
 * that the result moves with the points. The result is a zmath_shapeEllipse
 * (centre, radius1 = semi-major axis, radius2, angle of the major axis in
 * [0, pi)); read it through the shape services.
 *
 * rmsError is the RMS of radial residuals: a point's residual is its
 * distance, along the ray from the ellipse's centre through the point, from
 * the point where that ray meets the ellipse. A point exactly at the centre
 * counts as far off as the ends of the minor axis (residual radius2).
 *
 * Algorithms, chosen by numIgnore = k:
 *   k = 0   all points are fitted at once.
 *   k > 0   every way of leaving out exactly k points is tried (C(n, k)
 *           fits, each over the n - k kept points); the fit with the
 *           smallest rmsError over its own points wins, and among equal
 *           errors the subset that comes first (left-out sets in
 *           lexicographic order of their increasing index lists). Subsets
 *           whose points give no ellipse are skipped. The attention check is
 *           polled once per subset, C(n, k) times; never with k = 0.
 * At least k + 5 points are needed. */
#ifndef ZFIT_ELLIPSE_ELLIPSE_H
#define ZFIT_ELLIPSE_ELLIPSE_H

#include <zfit/frame/records.h>
#include <zfit/services/containers.h>
#include <zfit/services/shapes.h>

ZFIT_EXTERN_C_BEGIN

typedef struct zmath_ellipseFitParams {
    /* Exactly how many points the fit leaves out (>= 0). Default 0. */
    int32_t numIgnore;
    /* isValid is 1 only when rmsError < maxRmsError (>= 0). Default +inf. */
    double maxRmsError;
} zmath_ellipseFitParams;

typedef struct zmath_ellipseFitResult {
    /* 1 when the last fit succeeded and rmsError < maxRmsError, else 0.
     * Every fit that gets past the parameter and point-count checks sets it
     * to 0 first, so a failed fit leaves 0. */
    int32_t isValid;
    /* The fitted ellipse; the unit circle about the origin after reset. */
    zmath_shapeEllipse ellipse;
    /* RMS radial residual over the points the fit used. */
    double rmsError;
    /* With numIgnore = k > 0: the k 0-based positions of the left-out points
     * in the caller's list, in decreasing order. Empty with numIgnore 0.
     * Owned by the record. */
    zstd_vector32 ignoredIndices;
} zmath_ellipseFitResult;

/* Defaults: numIgnore 0, maxRmsError HUGE_VAL. Returns 0. */
ZFIT_API zfit_status zmath_ellipseFitParams_init(zmath_ellipseFitParams* params);
/* Checks in this order: numIgnore < 0 -> zmath_errFitNumIgnoreNegative;
 * maxRmsError < 0 -> zmath_errFitMaxRmsErrorNegative (NaN and -0.0 pass).
 * Else 0. numIgnore has no upper limit here; the fit checks the point count. */
ZFIT_API zfit_status zmath_ellipseFitParams_validate(const zmath_ellipseFitParams* params);

/* The record's life cycle (zfit/frame/records.h). construct leaves
 * ignoredIndices empty, then resets; a container failure is returned
 * (zstd_errOutOfMemory). assign copies isValid, ellipse, rmsError, then the
 * indices; if copying the indices fails the other fields are already
 * copied. destruct resets, then releases the indices. */
ZFIT_DECLARE_RESULT_LIFE_CYCLE(zmath_ellipseFitResult)
/* isValid 0, ellipse the unit circle about the origin (the image of the
 * identity transform), rmsError 0.0, no indices (the index storage is kept). */
ZFIT_API zfit_status zmath_ellipseFitResult_reset(zmath_ellipseFitResult* result);

/* Fits an ellipse to the points of a vector (read only).
 *
 * Returns 0, or the first failure:
 *   zmath_errFitNumIgnoreNegative, zmath_errFitMaxRmsErrorNegative
 *                         the parameters (result untouched);
 *   zmath_errDegenerate   fewer than numIgnore + 5 points: no subset
 *                         keeps the five points an ellipse needs, so the
 *                         fit is refused before any search, poll or work
 *                         storage, the result untouched (rmsError and
 *                         ignoredIndices included); or, after the result
 *                         was reset: a
 *                         coordinate that is NaN or infinite, points that
 *                         determine no ellipse (collinear, on a parabola,
 *                         hyperbola or line pair, values beyond the range of
 *                         doubles), or with numIgnore > 0 no subset that
 *                         gives an ellipse;
 *   zmath_errServiceDegenerateA, zmath_errServiceDegenerateB
 *                         with numIgnore 0 only: the best conic is no real
 *                         ellipse (with numIgnore > 0 such a subset is
 *                         skipped);
 *   zsys_errCancelled (or the host's status)  the subset search was stopped
 *                         by the attention check;
 *   zmath_errNoConvergence, zstd_errOutOfMemory  from the matrix and
 *                         container services.
 * On success ellipse, rmsError and ignoredIndices hold the fit and isValid
 * is set. A failure after the point-count check leaves the record reset
 * (isValid 0, ellipse the unit circle) except that rmsError and
 * ignoredIndices may hold values of a trial the search had reached. */
ZFIT_API zfit_status zmath_ellipseFitVector(const zstd_vector_zmath_vect* points, const zmath_ellipseFitParams* params,
                                            zmath_ellipseFitResult* result);

/* The same for an array of count points. A negative count counts as 0 (and
 * so fails the point-count check after validation); a NULL array with
 * count > 0 is a broken precondition (assertion service). ignoredIndices
 * refer to positions in the array. Also returns the container's status when
 * the temporary copy cannot be made. */
ZFIT_API zfit_status zmath_ellipseFit(const zmath_vect* points, int32_t count, const zmath_ellipseFitParams* params,
                                      zmath_ellipseFitResult* result);

ZFIT_EXTERN_C_END

#endif
