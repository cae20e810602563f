/* The parabola of libzfit.so with its axis converged to the last digits the
 * data determine.
 *
 * Model, as zmath_parabolaFitVector: in its own frame the parabola is
 * y = a x^2 with the vertex at the origin, and `pose` places that frame in
 * the plane; the residual of a point is its vertical distance from the curve
 * in that frame, and the fit minimises sum w_i r_i^2 (w_i = 1 unweighted).
 *
 * libzfit's search over the axis angle stops when its step falls below
 * 1e-7 rad, or after maxIterations passes from each of its two starting
 * directions (one pass by default), which leaves the axis, and with it the
 * vertex and the coefficient, with about seven correct digits. From its
 * result this fit refines the angle by Gauss-Newton steps on the sum of
 * squares as a function of the angle alone (the polynomial's coefficients
 * eliminated: variable projection, with an orthogonal polynomial basis so
 * that no normal equations are formed), until a step is at the rounding
 * level of the angle or the sum of squares stops decreasing in its last
 * bits. Each step costs four passes over the points; no allocation beyond
 * libzfit's own. Deterministic.
 *
 * Compiles as C11 and as C++. */
#ifndef ZFIT_METROLOGY_GEOMETRIC_PARABOLA_H
#define ZFIT_METROLOGY_GEOMETRIC_PARABOLA_H

#include <zfit/zfit.h>

ZFIT_EXTERN_C_BEGIN

/* Fields in this order. */
typedef struct zmet_parabolaParams {
    /* Passes of libzfit's axis search from each starting direction (>= 1),
     * as zmath_parabolaFitParams.maxIterations. Default 100. */
    int32_t maxIterations;
    /* Gauss-Newton steps on the axis angle afterwards (>= 0). Default 50
     * (a few are used). 0 returns libzfit's result as it is, and only tells
     * whether it is converged. */
    int32_t maxRefinements;
} zmet_parabolaParams;

/* A plain record, fields in this order; all written together by a
 * successful call and none by a failed one. */
typedef struct zmet_parabolaResult {
    /* 1 after a successful fit. */
    int32_t isValid;
    /* The fitted parabola: pose (angle in (-pi, pi]) and coefficient a >= 0. */
    zmath_shapeParabola parabola;
    /* sqrt(sum w r^2 / sum w), the RMS vertical residual in the parabola's
     * frame. */
    double rmsError;
    /* 1 when the axis angle is converged: the refinement ended where its
     * next step would move the angle by no more than its rounding (32 units
     * in its last place, of 1 for angles below 1 rad), or where the sum of
     * squares could no longer judge a step and the steps stopped shrinking
     * (the rounding noise of its gradient). With maxRefinements 0, 1 only
     * when the next step would be at the angle's rounding. 0 when
     * maxRefinements ran out, or the sum of squares has no minimum in the
     * angle there (a flat or ill-posed fit). */
    int32_t converged;
    /* Gauss-Newton steps taken. */
    int32_t refinements;
} zmet_parabolaResult;

/* Defaults: maxIterations 100, maxRefinements 50. Returns 0 (NULL is a
 * broken precondition). */
ZFIT_API zfit_status zmet_parabolaParams_init(zmet_parabolaParams* params);

/* The parabola of count points (see above).
 *
 * Returns 0, or the first failure:
 *   zmath_errFitMaxIterations  maxIterations < 1;
 *   zmet_errOutOfRange    maxRefinements < 0;
 *   any status of zmath_parabolaFitVector (zmath_errDegenerate for fewer
 *                         than two points, a failed solve for points that
 *                         determine no parabola, ...), or of the
 *                         containers that carry the points to it;
 *   zmath_errDegenerate   a coordinate that is NaN or infinite.
 * A negative count counts as 0. On failure *result is untouched. NULL
 * arguments (points with count > 0) are a broken precondition. */
ZFIT_API zfit_status zmet_parabolaFit(const zmath_vect* points, int32_t count, const zmet_parabolaParams* params,
                                      zmet_parabolaResult* result);

/* The same with weights[i] >= 0 belonging to points[i], through
 * zmath_parabolaFitWeightedVector: minimises sum w_i r_i^2; its statuses
 * for the weights (zmath_errFitWeightNegative, ...) are passed on. */
ZFIT_API zfit_status zmet_parabolaFitWeighted(const zmath_vect* points, int32_t count, const double* weights,
                                              const zmet_parabolaParams* params, zmet_parabolaResult* result);

ZFIT_EXTERN_C_END

#endif
