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
 *   mode 0, numIgnore 1-3  exhaustive: every choice of numIgnore points is
 *                          discarded in turn (lexicographic order of the
 *                          index sets) and the least-squares line of the rest
 *                          with the smallest RMS wins; on equal RMS the
 *                          earlier choice stays. ignoredIndices ascending.
 *                          n * (n-1) * (n-2) / 6 candidates for numIgnore 3.
 *   mode 0, numIgnore >= 4 ranked window: every pair of distinct points
 *                          i < j proposes the direction p[j] - p[i]; the
 *                          points are ranked by their offset along its
 *                          normal (-(yj - yi), xj - xi), equal offsets in
 *                          input order, and every window of n - numIgnore
 *                          consecutive ranks (s points dropped above it,
 *                          numIgnore - s below) is scored by the RMS of its
 *                          least-squares line. Windows without a preferred
 *                          direction are skipped. ignoredIndices in rank
 *                          order: the s points above the window, largest
 *                          offset first, then those below it, again largest
 *                          offset first (not sorted by index).
 *   mode 1                 minimum zone (any numIgnore): the same search over
 *                          pair directions, ranked on the unit normal, each
 *                          window scored by half the spread of its offsets.
 *                          The line is the centre line of the narrowest strip
 *                          holding all but numIgnore points; it runs along
 *                          the winning pair's direction (angle as atan2 of
 *                          point j - point i) and its d may be negative.
 *                          rmsError is the strip's half-width (the largest
 *                          distance of a kept point), not an RMS, so isValid
 *                          checks straightness against maxRmsError.
 *                          ignoredIndices as for the ranked window.
 * In mode 0 rmsError is measured from the kept points; candidates are
 * compared on the RMS read back from their moment sums. In the pair-direction
 * searches a later candidate wins only with a strictly smaller score; among
 * equal scores the first in the order of i, then j, then s stays. The
 * least-squares fits need at least two distinct kept points; the minimum
 * zone needs two distinct points and keeps at least one.
 *
 * Cost:
 *   exhaustive      n (n-1) (n-2) / 6 candidates for numIgnore 3, each in
 *                   constant time (a candidate clearly behind the best so far
 *                   is not even solved): about 10 ms at n = 200.
 *   ranked window   n (n-1) / 2 candidate directions, each ranking the points
 *   minimum zone    in time linear in n or less: the directions are visited
 *                   in order of angle, the extremes of the ranking are
 *                   repaired from the direction before, and while the normal
 *                   has turned too little to reorder them they are not
 *                   looked at again. About 20 to 40 ms at n = 400.
 *   minimum zone,   no search: the narrowest strip lies along an edge of the
 *   numIgnore 0     points' convex hull (rotating calipers), and among the
 *                   pairs parallel to such an edge the first in pair order
 *                   gives the line. O(n log n): 10^5 points in milliseconds.
 * The searches (numIgnore > 0) poll zsys_attention_check once per first
 * index i: n - numIgnore + 1 times for the exhaustive search, n times for
 * the pair-direction searches, their polls spread evenly over the
 * candidates (which are visited in order of angle, all pairs at once, or
 * blocks of first indices for very many points); the work between two
 * polls is about n candidates, well under a second below 10^4 points. The
 * minimum zone without discarding polls once. The plain least-squares path,
 * and a search with too few points to keep, never poll. Work storage is
 * made once per call and released before it returns.
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

/* The algorithms (values of zmath_lineFitParams.mode). */
enum { zmath_lineFitModeLeastSquares = 0, zmath_lineFitModeMinimumZone = 1 };

typedef struct zmath_lineFitParams {
    /* How many points the fit discards as outliers (>= 0). Default 0. */
    int32_t numIgnore;
    /* isValid is 1 only when rmsError < maxRmsError (>= 0). Default +inf. */
    double maxRmsError;
    /* zmath_lineFitModeLeastSquares (0, default) or
     * zmath_lineFitModeMinimumZone (1). */
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
     * before any candidate was scored. */
    double rmsError;
    /* 0-based positions of the discarded points in the caller's list (owned
     * by the record), numIgnore of them; empty when nothing was discarded.
     * Ascending for the exhaustive fit, in rank order for the ranked window
     * and the minimum zone (see the algorithms above). */
    zstd_vector32 ignoredIndices;
} zmath_lineFitResult;

/* Defaults: numIgnore 0, maxRmsError HUGE_VAL, mode 0. Returns 0. */
ZFIT_API zfit_status zmath_lineFitParams_init(zmath_lineFitParams* params);
/* Checks in this order: maxRmsError < 0 -> zmath_errFitMaxRmsErrorNegative
 * (NaN and -0.0 pass); numIgnore < 0 -> zmath_errFitNumIgnoreNegative; mode
 * not 0 or 1 -> zmath_errFitBadMode. Else 0. */
ZFIT_API zfit_status zmath_lineFitParams_validate(const zmath_lineFitParams* params);

/* The record's life cycle (zfit/frame/records.h). construct leaves
 * ignoredIndices empty, then resets; a container failure is returned
 * (zstd_errOutOfMemory). assign copies isValid, line, rmsError, then the
 * indices; if copying the indices fails the other fields are already
 * copied. destruct resets, then releases the indices. */
ZFIT_DECLARE_RESULT_LIFE_CYCLE(zmath_lineFitResult)
/* isValid 0, line angle 0 and d 0, rmsError 0.0, no indices (the index storage is kept). */
ZFIT_API zfit_status zmath_lineFitResult_reset(zmath_lineFitResult* result);

/* Fits a line to the points of a vector (read only).
 *
 * Returns 0, or the first failure:
 *   zmath_errFitMaxRmsErrorNegative, zmath_errFitNumIgnoreNegative,
 *   zmath_errFitBadMode   the parameters (result untouched);
 *   zmath_errDegenerate   a coordinate that is NaN or infinite (refused
 *                         before any search); fewer than two points, or no
 *                         preferred direction (all points equal, or spread
 *                         equal in every direction: a square's corners);
 *                         too few points to keep for any window, answered
 *                         at once, before any poll or work storage, with
 *                         rmsError HUGE_VAL and the line and ignoredIndices
 *                         as before the call, as the search would end: with
 *                         numIgnore >= 1, n <= numIgnore + 1 in mode 0 (a
 *                         line needs two kept points) and n <= numIgnore in
 *                         mode 1 (the minimum zone keeps one);
 *                         exhaustive: a candidate whose kept points have no
 *                         preferred direction (the search ends there);
 *                         ranked window and minimum zone: no window could
 *                         be scored (all points equal);
 *   zmath_errZeroLength   minimum zone: the difference of two points
 *                         overflows (coordinates of opposite sign near the
 *                         top of the range), so their direction has no
 *                         unit normal;
 *   zsys_errCancelled (or the host's status)  a search was stopped by the
 *                         attention check;
 *   zstd_errOutOfMemory   work storage could not be had.
 * On success line, rmsError and ignoredIndices hold the fit, isValid is set
 * (see the record) and the algorithm's status is returned (0). On a failure
 * after validation isValid keeps its value and rmsError holds HUGE_VAL or
 * the best score reached. What else
 * holds the running best depends on the algorithm:
 *   exhaustive    line is the best candidate so far (or as before the call);
 *                 ignoredIndices as before the call (written at the end);
 *   ranked window, minimum zone  line as before the call (written at the
 *                 end); ignoredIndices the best window's so far (or as
 *                 before the call). */
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
