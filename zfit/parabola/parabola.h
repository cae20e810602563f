/* Parabola fit.
 *
 * Model: a parabola in any orientation (zmath_shapeParabola). `pose` is a
 * rigid transform that places the parabola's own frame in the plane of the
 * points; in that frame the vertex is the origin and the curve is
 *
 *     y = coefficient * x^2,   coefficient >= 0,
 *
 * so the parabola opens towards the frame's +y axis, pose.angle (radians,
 * counterclockwise, in (-pi, pi]) is the direction of the frame's x axis
 * (at right angles to the axis of symmetry), and pose.translation is the
 * vertex.
 *
 * The fit searches over the axis angle. For a fixed angle it turns the
 * centred points into that frame and fits y = a*x^2 + b*x + c by linear
 * least squares; the vertex and the coefficient follow. The residual of a
 * point is vertical in the parabola's frame (y - a*x^2 there), not its
 * perpendicular distance from the curve; rmsError is the root mean square of
 * those residuals (weighted: sqrt(sum w*r^2 / sum w)).
 *
 * The angle search starts twice: along the least-squares line through the
 * points and at right angles to it, and keeps the better result (the first
 * start on a tie). Points whose spread is the same in every direction have
 * no such line; the search then starts along the x axis and along the y
 * axis. Each start gets at most maxIterations passes of a
 * bracketing line search with parabolic refinement (initial step 0.1 rad,
 * stopping when the step falls below 1e-7). With maxIterations 1 the result
 * is the better of the fits at the two starting angles themselves.
 *
 * The family discards no points. */
#ifndef ZFIT_PARABOLA_PARABOLA_H
#define ZFIT_PARABOLA_PARABOLA_H

#include <zfit/frame/records.h>
#include <zfit/services/containers.h>
#include <zfit/services/shapes.h>

ZFIT_EXTERN_C_BEGIN

typedef struct zmath_parabolaFitParams {
    /* The most passes of the angle search that each of the two starting
     * directions gets (>= 1). Default 1: the fits at the starting angles. */
    int32_t maxIterations;
} zmath_parabolaFitParams;

typedef struct zmath_parabolaFitResult {
    /* 0 during a fit and after a failed one; 1 after a successful fit,
     * whatever its rmsError. */
    int32_t isValid;
    /* The fitted parabola: pose (vertex frame) and coefficient (>= 0). */
    zmath_shapeParabola parabola;
    /* RMS of the vertical residuals in the parabola's frame. */
    double rmsError;
} zmath_parabolaFitResult;

/* Default: maxIterations 1. Returns 0. */
ZFIT_API zfit_status zmath_parabolaFitParams_init(zmath_parabolaFitParams* params);
/* maxIterations <= 0 -> zmath_errFitMaxIterations; else 0. */
ZFIT_API zfit_status zmath_parabolaFitParams_validate(const zmath_parabolaFitParams* params);

/* The record's life cycle (zfit/frame/records.h). The record owns no
 * storage: construct resets it and returns 0, assign copies isValid,
 * parabola and rmsError, destruct releases nothing and returns 0. */
ZFIT_DECLARE_RESULT_LIFE_CYCLE(zmath_parabolaFitResult)
/* isValid 0, identity pose, coefficient 0, rmsError 0.0. */
ZFIT_API zfit_status zmath_parabolaFitResult_reset(zmath_parabolaFitResult* result);

/* Fits a parabola to the points of a vector (read only).
 *
 * isValid is set to 0 first. Returns 0, or the first failure:
 *   zmath_errFitMaxIterations  maxIterations <= 0;
 *   zmath_errDegenerate        a coordinate is NaN or infinite; fewer than
 *                              two points, or all points equal, so no
 *                              starting direction; or neither start
 *                              produced a finite error;
 *   zmath_errMatrixSingular, zmath_errMatrixIllConditioned
 *                              the 3x3 normal equations at some searched
 *                              angle are singular or have a condition number
 *                              above 1e16; the whole fit then fails, even if
 *                              the other start would have succeeded. x is
 *                              measured in a power-of-two unit near the
 *                              points' spread, so this depends on the shape
 *                              of the point set, not on its scale: for
 *                              instance exactly two points, or all points on
 *                              one straight line (across it they have no
 *                              spread);
 *   zstd_errOutOfMemory        work storage could not be had.
 * On success parabola and rmsError hold the fit and isValid is 1. On a
 * failure isValid is 0; after the input checks (the first two codes) nothing
 * else has been written, later failures may have set rmsError to HUGE_VAL
 * and, if a start had finished, parabola to its fit in centred coordinates. */
ZFIT_API zfit_status zmath_parabolaFitVector(const zstd_vector_zmath_vect* points,
                                             const zmath_parabolaFitParams* params, zmath_parabolaFitResult* result);

/* The same with a weight per point (read only): the fit minimises
 * sum w*r^2 and rmsError is sqrt(sum w*r^2 / sum w); the centroid that the
 * search turns about is weighted too. The starting direction comes from the
 * unweighted least-squares line through the weight-centred points, so a
 * point of weight 0 still steers where the search starts but has no other
 * influence. Scaling all weights by one factor changes nothing beyond
 * rounding (a power of two changes no bit).
 *
 * The weights are checked before any use, in this order (isValid 0, the
 * rest of the record untouched):
 *   zmath_errFitMaxIterations  maxIterations <= 0;
 *   zmath_errFitWeightCount    the weight count differs from the point count;
 *   zmath_errFitWeightNegative a weight is below 0.0;
 *   zmath_errDegenerate        a weight or coordinate is NaN or infinite, or
 *                              the total weight is not above 0 (or not
 *                              finite).
 * Otherwise as zmath_parabolaFitVector. */
ZFIT_API zfit_status zmath_parabolaFitWeightedVector(const zstd_vector_zmath_vect* points, const zstd_vectord* weights,
                                                     const zmath_parabolaFitParams* params,
                                                     zmath_parabolaFitResult* result);

ZFIT_EXTERN_C_END

#endif
