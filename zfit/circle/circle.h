/* Circle fit.
 *
 * Model: a circle given by its centre (x, y) and radius, in the units of the
 * points. The residual of a point is its radial distance from the circle,
 * |p - centre| - radius; rmsError is the root-mean-square of these over the
 * points the fit used (weighted by the point weights in the weighted fit).
 *
 * Algorithms:
 *   zmath_circleFitWeighted   the algebraic least-squares circle: the circle
 *                             x^2 + y^2 + D*x + E*y + F = 0 whose algebraic
 *                             residuals, squared and weighted, have the
 *                             smallest sum. One closed-form solve, no
 *                             iteration; nothing is discarded.
 *   zmath_circleFit, mode 0   free radius: exactly numIgnore points are
 *                             discarded. Every triple of points proposes a
 *                             centre (its circumcentre); all points are
 *                             ranked by their distance from it and every
 *                             window of n - numIgnore consecutive ranks is
 *                             fitted with the algebraic circle (unit
 *                             weights). The window with the smallest
 *                             rmsError wins; among equal errors the first in
 *                             the order of the triples (i < j < k, then the
 *                             window) stays. Points at equal distances rank
 *                             in input order.
 *                             With numIgnore 0 every candidate has the one
 *                             window of all points, so there is no search:
 *                             that window's algebraic circle (the weighted
 *                             fit with unit weights) is the answer, in time
 *                             linear in the number of points.
 *   zmath_circleFit, mode 1   fixed radius: the same search, but a window's
 *                             centre is its algebraic centre and its radius
 *                             is fixedRadius, so the winning points are those
 *                             lying closest to a circle of that radius.
 *
 * Cost of the searches (numIgnore > 0): n (n-1) (n-2) / 6 candidate centres,
 * sorted into cells of a grid (so that one follows another close by). A
 * cell is first judged by a lower bound on the error of every circle over
 * the points all its windows keep: a cell none of whose windows can tie or
 * beat the best error so far is passed over, one whose every window that
 * can is the same set at all its candidates offers only the first of them
 * in loop order, and the others are ranked candidate by candidate among the
 * few points that can be among their numIgnore + 1 nearest or farthest; a
 * window is solved once per set of discarded points and measured only when
 * a bound from its moments leaves it a chance to win. Points about a circle
 * with outliers leave few cells to rank: on a current desktop core about
 * 30 ms at n = 100, numIgnore = 10, and under a minute at n = 1,000,
 * numIgnore = 50. Points about which every window errs alike (a pixel
 * contour) leave most cells to rank, at about 0.2 microseconds per
 * candidate (0.4 s at n = 226, numIgnore = 5). Work storage: one allocation
 * of up to about 17 MB. The searches poll the attention check
 * (zfit/services/system.h) 4 (n - 2) times, spread evenly over the
 * triples: one poll per n (n-1) / 24 candidates; the polls due within
 * cells passed over are made at the next candidate ranked, or at the end of
 * the block of candidates sorted together (at most 2^18). At n = 1,000 no
 * two polls lie more than about a fifth of a second apart. Without
 * anything to discard a fit polls once; with fewer than three points to
 * keep it does not search and never polls.
 *
 * ignoredIndices after a search: the points the winning window leaves out,
 * by increasing distance from the fitted centre (equal distances in input
 * order): those nearer than the kept points, then those farther.
 *
 * At least three points that are neither collinear nor coincident (three
 * with non-zero weight in the weighted fit) are needed; a window or a
 * weighted point set whose normal equations are singular relative to the
 * spread of its points has no circle. */
#ifndef ZFIT_CIRCLE_CIRCLE_H
#define ZFIT_CIRCLE_CIRCLE_H

#include <zfit/frame/records.h>
#include <zfit/services/containers.h>

ZFIT_EXTERN_C_BEGIN

/* The searches of zmath_circleFit (values of zmath_circleFitParams.mode). */
enum { zmath_circleFitModeFreeRadius = 0, zmath_circleFitModeFixedRadius = 1 };

typedef struct zmath_circleFitParams {
    /* How many points modes 0 and 1 discard as outliers (>= 0). The weighted
     * fit accepts only 0. Default 0. */
    int32_t numIgnore;
    /* isValid is 1 only when rmsError < maxRmsError (>= 0). Default +inf. */
    double maxRmsError;
    /* zmath_circleFitModeFreeRadius (0, default) or
     * zmath_circleFitModeFixedRadius (1). Not read by the weighted fit. */
    int32_t mode;
    /* The radius mode 1 imposes (>= 0, checked whatever the mode). Default
     * 1.0. */
    double fixedRadius;
} zmath_circleFitParams;

typedef struct zmath_circleFitResult {
    /* 1 when the last fit succeeded and rmsError < maxRmsError, else 0. A
     * failed fit leaves it as it was. */
    int32_t isValid;
    /* The fitted circle: centre, then radius (three consecutive doubles). */
    zmath_vect centre;
    double radius;
    /* RMS radial residual of the points used (weighted in the weighted fit).
     * HUGE_VAL after a failed search that solved no window. */
    double rmsError;
    /* 0-based positions of the discarded points in the caller's list (owned
     * by the record): exactly numIgnore after a successful mode 0 or 1 fit,
     * none after a weighted fit. Order: see above. */
    zstd_vector32 ignoredIndices;
} zmath_circleFitResult;

/* Defaults: numIgnore 0, maxRmsError HUGE_VAL, mode 0, fixedRadius 1.0.
 * Returns 0. */
ZFIT_API zfit_status zmath_circleFitParams_init(zmath_circleFitParams* params);
/* Checks in this order: numIgnore < 0 -> zmath_errFitNumIgnoreNegative;
 * maxRmsError < 0 -> zmath_errFitMaxRmsErrorNegative; fixedRadius < 0 ->
 * zmath_errFitFixedRadiusNegative (whatever the mode); mode not 0 or 1 ->
 * zmath_errFitBadMode. NaN and -0.0 pass both double checks. Else 0. */
ZFIT_API zfit_status zmath_circleFitParams_validate(const zmath_circleFitParams* params);

/* The record's life cycle (zfit/frame/records.h). construct leaves
 * ignoredIndices empty, then resets; a container failure is returned
 * (zstd_errOutOfMemory). assign copies isValid, the circle, rmsError, then the
 * indices; if copying the indices fails the other fields are already
 * copied. destruct resets, then releases the indices. */
ZFIT_DECLARE_RESULT_LIFE_CYCLE(zmath_circleFitResult)
/* isValid 0, centre (0, 0), radius 0.0, rmsError 0.0, no indices (the index storage is kept). */
ZFIT_API zfit_status zmath_circleFitResult_reset(zmath_circleFitResult* result);

/* Fits a circle to the points of a vector (read only), discarding exactly
 * numIgnore of them: mode 0 with a free radius, mode 1 with fixedRadius.
 *
 * Returns 0, or the first failure:
 *   zmath_errFitNumIgnoreNegative, zmath_errFitMaxRmsErrorNegative,
 *   zmath_errFitFixedRadiusNegative, zmath_errFitBadMode
 *                         the parameters (result untouched);
 *   zmath_errDegenerate   no circle: fewer than three points left to fit
 *                         (numIgnore >= 1 and n - numIgnore < 3: answered
 *                         at once, before any poll or work storage, with
 *                         rmsError HUGE_VAL, no index and the circle as
 *                         before the call, as the search would end: a
 *                         window of one or two points has no circle), fewer
 *                         than three points at all, all points collinear or
 *                         coincident, a coordinate (or in mode 1
 *                         fixedRadius) that is NaN or infinite, or no
 *                         window of any candidate could be solved (in
 *                         mode 1 with numIgnore >= 1 also a fixedRadius
 *                         beyond about 1e154, whose windows' squared
 *                         errors overflow);
 *   zsys_errCancelled (or the host's status)  the attention check stopped
 *                         the search;
 *   zstd_errOutOfMemory   work storage could not be had;
 *   zmath_errZeroLength   two points so far apart that their distance is not
 *                         a finite double.
 * ignoredIndices is emptied once the parameters have passed. On success the
 * circle, rmsError and ignoredIndices hold the fit (in mode 1 the radius is
 * fixedRadius) and isValid is set. On a later failure isValid keeps its
 * value and the circle is as before the call; rmsError is HUGE_VAL and
 * ignoredIndices empty when no window had been solved, else both describe
 * the best window found before the search stopped. */
ZFIT_API zfit_status zmath_circleFitVector(const zstd_vector_zmath_vect* points, const zmath_circleFitParams* params,
                                           zmath_circleFitResult* result);

/* The same for an array of count points. A negative count counts as 0; a
 * NULL array with count > 0 is a broken precondition (assertion service).
 * ignoredIndices refer to positions in the array. Also returns the
 * container's status when the temporary copy cannot be made. */
ZFIT_API zfit_status zmath_circleFit(const zmath_vect* points, int32_t count, const zmath_circleFitParams* params,
                                     zmath_circleFitResult* result);

/* The weighted algebraic circle of count points, weights[i] >= 0 belonging
 * to points[i]. Does not validate the parameters and reads only numIgnore
 * and maxRmsError; mode and fixedRadius are ignored. Weights act relative to
 * each other: scaling them all changes nothing, and a point of weight 0
 * takes no part.
 *
 * Steps and failures, in order:
 *   ignoredIndices is emptied (a container failure is returned);
 *   zmath_errFitWeightedIgnore  numIgnore is not 0 (also when negative);
 *   zmath_errFitWeightNegative  a weight is below 0.0 (NaN and -0.0 pass
 *                               this check);
 *   zmath_errDegenerate         no points (a negative count counts as 0), a
 *                               coordinate or weight that is NaN or infinite,
 *                               all weights 0, fewer than three points of
 *                               non-zero weight, or such points collinear or
 *                               coincident.
 * On success the circle and rmsError (weighted RMS radial residual) are
 * written and isValid is set; on failure the circle, rmsError and isValid
 * are as before the call. NULL arrays with count > 0 are a broken
 * precondition. */
ZFIT_API zfit_status zmath_circleFitWeighted(const zmath_vect* points, int32_t count, const double* weights,
                                             const zmath_circleFitParams* params, zmath_circleFitResult* result);

/* The same for vectors: validates the parameters first (all four checks;
 * the result untouched on failure), then returns zmath_errFitWeightCount,
 * result untouched, when the two vectors differ in size, then runs
 * zmath_circleFitWeighted on their elements. */
ZFIT_API zfit_status zmath_circleFitWeightedVector(const zstd_vector_zmath_vect* points, const zstd_vectord* weights,
                                                   const zmath_circleFitParams* params, zmath_circleFitResult* result);

ZFIT_EXTERN_C_END

#endif
