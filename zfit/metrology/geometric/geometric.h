/* Geometric (orthogonal-distance) fits of circles and ellipses, with the
 * uncertainty of every fitted parameter.
 *
 * Model. A geometric fit finds the shape that minimises
 *
 *     sum w_i * d_i^2
 *
 * where d_i is the orthogonal distance of point i from the curve: its signed
 * distance to the nearest point of the curve, positive outside. w_i = 1 in
 * the unweighted entries; weights act as relative inverse variances. Unlike
 * the algebraic fits of libzfit.so, whose residual is an algebraic
 * expression, the geometric fit is unbiased to first order on partial arcs
 * (a fillet, a bore seen through a window), where the algebraic circle and
 * ellipse come out markedly too small.
 *
 * Method. Levenberg-Marquardt on the orthogonal distances, started from an
 * algebraic fit: the Hyper circle of Al-Sharadqah and Chernov for circles,
 * the direct ellipse fit of libzfit.so (falling back to the Hyper circle)
 * for ellipses. An iteration only ever accepts a step that lowers the sum of
 * squares, so a fit never ends with a larger RMS distance than its start.
 * For the ellipse, the nearest point on the curve (the orthogonal contact
 * point) of every point is solved anew in every iteration, as in Ahn, Rauh
 * and Warnecke (2001). The fit works on points moved to their weighted
 * centroid and scaled to unit spread, so its accuracy does not depend on the
 * coordinates' unit or offset. Deterministic: the same input gives the same
 * result, bit for bit.
 *
 * Convergence. An iteration costs one pass over the points (for the ellipse,
 * with a few Newton steps per point for its contact point). The fit
 * iterates until its next step would move no parameter by more than the
 * rounding of that parameter (32 units in its last place, in coordinates
 * scaled to unit spread), or the sum of squares stops decreasing in its last
 * bits: its parameters then keep every digit the data determine, not just
 * the few that statistics would ask for. It also ends when the RMS distance
 * falls below 1e-14 of the points' spread (exact data), or when no step,
 * however short, lowers the sum of squares. It is stopped after
 * maxIterations trial steps.
 *
 * Uncertainty: see uncertainty.h. Every successful fit fills `uncertainty`
 * with the covariance sigma^2 (J^T W J)^-1 at the solution, sigma^2 =
 * RSS / (n - p), n the number of points of positive weight. */
#ifndef ZFIT_METROLOGY_GEOMETRIC_GEOMETRIC_H
#define ZFIT_METROLOGY_GEOMETRIC_GEOMETRIC_H

#include <zfit/zfit.h>

#include <zfit/metrology/geometric/uncertainty.h>

ZFIT_EXTERN_C_BEGIN

/* ---- circle ------------------------------------------------------------- */

/* Parameters of the geometric circle, fields in this order. */
typedef struct zmet_geometricCircleParams {
    /* isValid is 1 only when rmsError < maxRmsError (>= 0). Default +inf. */
    double maxRmsError;
    /* 0: free radius, centre and radius fitted (default); 1: fixed radius,
     * only the centre fitted, the radius is fixedRadius. */
    int32_t mode;
    /* The radius mode 1 imposes (>= 0, checked whatever the mode). Default
     * 1.0. */
    double fixedRadius;
    /* The most Levenberg-Marquardt trial steps (>= 1). Default 100. */
    int32_t maxIterations;
    /* How many points zmet_geometricCircleFitIgnoring discards before the
     * geometric fit (>= 0). Default 0. The plain entries discard nothing and
     * accept only 0. */
    int32_t numIgnore;
    /* 0 (default): Levenberg-Marquardt starts from the Hyper circle of the
     * points; 1: from startCentre and startRadius (in mode 1 from
     * startCentre alone), which must then be finite, the radius above 0.
     * A start near the answer, such as the last fit of a loop that
     * reweights the same points, saves the algebraic start's pass and most
     * iterations; from a start far off the fit may end in another local
     * minimum than from the Hyper circle. */
    int32_t useStart;
    zmath_vect startCentre;
    double startRadius;
} zmet_geometricCircleParams;

/* The result of a geometric circle fit, fields in this order. Plain data:
 * nothing to construct or release. */
typedef struct zmet_geometricCircleResult {
    /* 1 when the fit succeeded and rmsError < maxRmsError, else 0. */
    int32_t isValid;
    /* The fitted circle: centre, then radius (fixedRadius in mode 1). */
    zmath_vect centre;
    double radius;
    /* RMS orthogonal distance of the points, | |p - centre| - radius |,
     * weighted in the weighted fit: sqrt(sum w d^2 / sum w). */
    double rmsError;
    /* Levenberg-Marquardt trial steps taken (0 when the start was exact). */
    int32_t iterations;
    /* Mode 0: p = 3, centre x, centre y, radius. Mode 1: p = 2, centre x,
     * centre y. */
    zmet_uncertainty uncertainty;
} zmet_geometricCircleResult;

/* Defaults: maxRmsError HUGE_VAL, mode 0, fixedRadius 1.0, maxIterations
 * 100, numIgnore 0, useStart 0 (startCentre (0, 0), startRadius 1.0).
 * Returns 0. */
ZFIT_API zfit_status zmet_geometricCircleParams_init(zmet_geometricCircleParams* params);

/* The geometric circle of count points: free radius (mode 0) or fixed radius
 * (mode 1). Needs p + 1 points (4 in mode 0, 3 in mode 1) so that the noise
 * can be estimated. Cost: O(n) per iteration, at most maxIterations + 4
 * passes over the points; no allocation.
 *
 * Returns 0, or the first failure:
 *   zmath_errFitMaxRmsErrorNegative  maxRmsError < 0 (NaN and -0.0 pass);
 *   zmath_errFitBadMode   mode neither 0 nor 1;
 *   zmath_errFitFixedRadiusNegative  fixedRadius < 0;
 *   zmath_errFitMaxIterations  maxIterations < 1;
 *   zmath_errFitNumIgnoreNegative  numIgnore < 0;
 *   zmath_errFitBadMode   useStart neither 0 nor 1;
 *   zmet_errOutOfRange    with useStart 1 a start that is not finite or
 *                         (mode 0) a startRadius not above 0; then
 *                         numIgnore > 0: this entry discards nothing (see
 *                         zmet_geometricCircleFitIgnoring);
 *   zmath_errDegenerate   a coordinate (or in mode 1 fixedRadius) that is NaN
 *                         or infinite; all points at one place; points that
 *                         lie on a line (no algebraic start) or that
 *                         determine no circle at the solution (singular
 *                         normal equations);
 *   zmet_errTooFewPoints  fewer than p + 1 points (a negative count counts
 *                         as 0);
 *   zmet_errNotConverged  no convergence within maxIterations steps.
 * On success every field of *result is written. After zmet_errNotConverged
 * centre, radius, rmsError and iterations hold the last accepted iterate (its
 * rmsError never above the start's), isValid is 0 and uncertainty has
 * parameterCount 0 (the iterate is no least-squares solution, so no
 * covariance applies). After any other failure *result is untouched. NULL
 * arguments (points with count > 0) are a broken precondition. */
ZFIT_API zfit_status zmet_geometricCircleFit(const zmath_vect* points, int32_t count,
                                             const zmet_geometricCircleParams* params,
                                             zmet_geometricCircleResult* result);

/* The same with weights[i] >= 0 belonging to points[i]: minimises
 * sum w_i d_i^2. A point of weight 0 takes no part (it neither counts
 * towards the p + 1 points nor moves the fit), and scaling all weights by
 * one factor changes nothing. Additionally returns
 * zmath_errFitWeightNegative when a weight is below 0 (checked after the
 * parameters, before the points) and zmath_errDegenerate when a weight is NaN
 * or infinite. */
ZFIT_API zfit_status zmet_geometricCircleFitWeighted(const zmath_vect* points, int32_t count, const double* weights,
                                                     const zmet_geometricCircleParams* params,
                                                     zmet_geometricCircleResult* result);

/* ---- ellipse ------------------------------------------------------------ */

/* Parameters of the geometric ellipse, fields in this order. */
typedef struct zmet_geometricEllipseParams {
    /* isValid is 1 only when rmsError < maxRmsError (>= 0). Default +inf. */
    double maxRmsError;
    /* The most Levenberg-Marquardt trial steps (>= 1). Default 100. */
    int32_t maxIterations;
    /* How many points zmet_geometricEllipseFitIgnoring discards before the
     * geometric fit (>= 0). Default 0. The plain entries discard nothing and
     * accept only 0. */
    int32_t numIgnore;
    /* 0 (default): Levenberg-Marquardt starts from libzfit.so's algebraic
     * ellipse of the points; 1: from `start` (finite, both radii above 0;
     * either may be the larger), as for the circle. */
    int32_t useStart;
    zmath_shapeEllipse start;
} zmet_geometricEllipseParams;

/* The result of a geometric ellipse fit, fields in this order. Plain data:
 * nothing to construct or release. */
typedef struct zmet_geometricEllipseResult {
    /* 1 when the fit succeeded and rmsError < maxRmsError, else 0. */
    int32_t isValid;
    /* The fitted ellipse: radius1 is the semi-major axis (radius1 >=
     * radius2), angle its direction in [0, pi). */
    zmath_shapeEllipse ellipse;
    /* RMS orthogonal distance of the points from the ellipse (weighted in
     * the weighted fit). */
    double rmsError;
    /* Levenberg-Marquardt trial steps taken. */
    int32_t iterations;
    /* p = 5: centre x, centre y, radius1, radius2, angle. When the two
     * radii are equal the angle is undetermined: its variance and standard
     * error are then HUGE_VAL and its covariances with the others 0. */
    zmet_uncertainty uncertainty;
} zmet_geometricEllipseResult;

/* Defaults: maxRmsError HUGE_VAL, maxIterations 100, numIgnore 0,
 * useStart 0 (start the unit circle about the origin). Returns 0. */
ZFIT_API zfit_status zmet_geometricEllipseParams_init(zmet_geometricEllipseParams* params);

/* The geometric ellipse of count points. Every iteration solves the contact
 * point of every point on the current ellipse (Newton's method on the
 * Lagrange multiplier of the nearest-point problem, at most 100 steps per
 * point, usually 3 to 6). Needs 6 points. Cost: O(n) per iteration, at most
 * maxIterations + 3 passes; the start (libzfit.so's algebraic ellipse)
 * allocates once, a given start (useStart) does not.
 *
 * Returns 0, or the first failure:
 *   zmath_errFitMaxRmsErrorNegative  maxRmsError < 0 (NaN and -0.0 pass);
 *   zmath_errFitMaxIterations  maxIterations < 1;
 *   zmath_errFitNumIgnoreNegative  numIgnore < 0;
 *   zmath_errFitBadMode   useStart neither 0 nor 1;
 *   zmet_errOutOfRange    with useStart 1 a start that is not finite or a
 *                         radius not above 0; then numIgnore > 0: this
 *                         entry discards nothing (see
 *                         zmet_geometricEllipseFitIgnoring);
 *   zmath_errDegenerate   a coordinate that is NaN or infinite; all points at
 *                         one place or on a line; no ellipse at the solution
 *                         (singular normal equations other than the angle of
 *                         a circle);
 *   zmet_errTooFewPoints  fewer than 6 points (a negative count counts as 0);
 *   zmet_errNotConverged  no convergence within maxIterations steps;
 *   zstd_errOutOfMemory   the algebraic start's storage could not be had.
 * On success every field of *result is written. After zmet_errNotConverged
 * ellipse, rmsError and iterations hold the last accepted iterate, isValid
 * is 0 and uncertainty has parameterCount 0. After any other failure *result
 * is untouched. NULL arguments (points with count > 0) are a broken
 * precondition. */
ZFIT_API zfit_status zmet_geometricEllipseFit(const zmath_vect* points, int32_t count,
                                              const zmet_geometricEllipseParams* params,
                                              zmet_geometricEllipseResult* result);

/* The same with weights[i] >= 0 belonging to points[i], as for the circle
 * (zmath_errFitWeightNegative, zmath_errDegenerate for a NaN or infinite
 * weight). The algebraic start is the unweighted one of the points of
 * positive weight. */
ZFIT_API zfit_status zmet_geometricEllipseFitWeighted(const zmath_vect* points, int32_t count, const double* weights,
                                                      const zmet_geometricEllipseParams* params,
                                                      zmet_geometricEllipseResult* result);

/* ---- outlier search, then the geometric fit of the kept points -------- */

/* The result of a fit that discards points first, fields in this order. It
 * owns `ignoredIndices`: construct it before the first fit and destruct it
 * after the last (life cycle below). */
typedef struct zmet_geometricCircleIgnoringResult {
    /* The geometric fit of the kept points (every point when numIgnore is
     * 0): rmsError and uncertainty are those of the kept points, with
     * n = count - numIgnore. The covariance treats the kept set as chosen
     * before the fit; the search picked it to fit well, so the true spread
     * is somewhat larger than it says. */
    zmet_geometricCircleResult fit;
    /* The discarded points' 0-based indices, ascending: exactly numIgnore
     * of them after a fit that reached the geometric stage. */
    zstd_vector32 ignoredIndices;
} zmet_geometricCircleIgnoringResult;

typedef struct zmet_geometricEllipseIgnoringResult {
    /* As for the circle: the geometric ellipse of the kept points. */
    zmet_geometricEllipseResult fit;
    /* The discarded points' 0-based indices, ascending. */
    zstd_vector32 ignoredIndices;
} zmet_geometricEllipseIgnoringResult;

/* The life cycle of each result type R above:
 *   R_construct(result)              an empty index list, the fit zeroed;
 *   R_constructCopy(result, source)  an independent copy; on failure the
 *                                    result is left unconstructed;
 *   R_assign(result, source)         copies every field (self-assignment
 *                                    does nothing);
 *   R_destruct(result)               releases the index list.
 * They return 0, or zstd_errOutOfMemory when the list could not be had.
 * NULL is a broken precondition. */
#define ZMET_DECLARE_IGNORING_LIFE_CYCLE_(R)                            \
    ZFIT_API zfit_status R##_construct(R* result);                      \
    ZFIT_API zfit_status R##_constructCopy(R* result, const R* source); \
    ZFIT_API zfit_status R##_assign(R* result, const R* source);        \
    ZFIT_API zfit_status R##_destruct(R* result);
ZMET_DECLARE_IGNORING_LIFE_CYCLE_(zmet_geometricCircleIgnoringResult)
ZMET_DECLARE_IGNORING_LIFE_CYCLE_(zmet_geometricEllipseIgnoringResult)
#undef ZMET_DECLARE_IGNORING_LIFE_CYCLE_

/* The geometric circle of the points that libzfit.so's outlier search
 * keeps: zmath_circleFit with params->numIgnore, mode and fixedRadius
 * discards the numIgnore points that fit worst, then
 * zmet_geometricCircleFit fits the others. With numIgnore 0 no search
 * runs: the plain geometric fit of every point, weighted when `weights` is
 * not NULL.
 *
 * Weights. `weights` is NULL (unit weights) or count weights >= 0, one per
 * point. The search has no weighted form, so weights together with a
 * numIgnore above 0 are refused (zmath_errFitWeightedIgnore), as by
 * libzfit.so's weighted circle; a weight of 0 is the way to leave a known
 * point out of a weighted fit.
 *
 * Cost: the search's with numIgnore > 0 (n (n-1) (n-2) / 6 candidate
 * centres; circle.h gives its cost and its poll schedule: it polls
 * zsys_attention_check 4 (n - 2) times and stops with the poll's failure),
 * then the geometric fit's, which does not poll; one allocation of the kept
 * points.
 *
 * Returns 0, or the first failure. These checks leave *result untouched:
 *   the parameter statuses of zmet_geometricCircleFit (all but its
 *   numIgnore > 0 refusal);
 *   zmath_errFitWeightedIgnore  weights given and numIgnore > 0;
 *   and with numIgnore > 0, before any search:
 *   zmet_errTooFewPoints  fewer than p + 1 points to keep (4 in mode 0, 3
 *                         in mode 1; also numIgnore > count);
 *   zmath_errDegenerate   a coordinate that is NaN or infinite.
 * Past them ignoredIndices is emptied, then
 *   numIgnore 0: the plain fit (zmet_geometricCircleFitWeighted when
 *   weights are given) writes fit, with its statuses and its state of fit
 *   after each;
 *   numIgnore > 0: a failure of the search (zmath_errDegenerate when no
 *   window of the kept size determines a circle, the attention poll's
 *   failure, zstd_errOutOfMemory) leaves fit untouched; after its success
 *   ignoredIndices holds its discards and the geometric fit of the kept
 *   points writes fit, with the statuses and the state of fit that
 *   zmet_geometricCircleFit gives (the last iterate after
 *   zmet_errNotConverged).
 * NULL params or result, or NULL points with count > 0, are broken
 * preconditions. */
ZFIT_API zfit_status zmet_geometricCircleFitIgnoring(const zmath_vect* points, int32_t count, const double* weights,
                                                     const zmet_geometricCircleParams* params,
                                                     zmet_geometricCircleIgnoringResult* result);

/* The geometric ellipse of the points that libzfit.so's subset search
 * keeps: zmath_ellipseFit with params->numIgnore tries every choice of
 * numIgnore points to leave out (C(n, numIgnore) algebraic fits; see
 * ellipse.h), then zmet_geometricEllipseFit fits the others. Weights, the
 * statuses and the result after each are as for
 * zmet_geometricCircleFitIgnoring, with 6 points to keep; the subset
 * search polls zsys_attention_check once per subset. */
ZFIT_API zfit_status zmet_geometricEllipseFitIgnoring(const zmath_vect* points, int32_t count, const double* weights,
                                                      const zmet_geometricEllipseParams* params,
                                                      zmet_geometricEllipseIgnoringResult* result);

ZFIT_EXTERN_C_END

#endif
