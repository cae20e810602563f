/* Robust fits: lines, circles, ellipses and point-to-point transforms that
 * find their outliers themselves, by a tolerance instead of a count.
 *
 * Model. Each fit minimises sum rho(r_i / s) over the shape's parameters,
 * r_i the orthogonal residual of point i (the line: its signed distance
 * -x*sin(theta) + y*cos(theta) - d; the circle: |p - centre| - radius; the
 * ellipse: its signed distance to the nearest point of the curve, positive
 * outside; a transform: the distance |target_i - T(source_i)|), s the
 * robust scale (the noise level in data units) and rho one of three
 * estimators, with u = r / (c * s) and c the clipping factor:
 *
 *   zmet_robustHuber   weight 1 for |u| < 1, 1 / |u| beyond (convex: one
 *                      minimum, but far outliers still pull a little);
 *   zmet_robustTukey   Tukey's biweight (1 - u^2)^2 for |u| < 1, 0 beyond
 *                      (far outliers take no part);
 *   zmet_robustClip    weight 1 for |u| < 1, 0 beyond.
 *
 * A point is an outlier when |u| >= 1: beyond c scales from the shape. For
 * Tukey and Clip these are exactly the points of weight 0; for Huber, whose
 * weights never reach 0, they are the points beyond the threshold.
 *
 * Method.
 *   1. The start: least median of squares over a fixed, deterministic set
 *      of minimal samples (2 points for the line, 3 for the circle, 2 for
 *      the circle of fixed radius, 5 for the ellipse, 3 pairs for the
 *      transforms, of which dof 4 uses the first 2). The samples
 *      are drawn from up to 256 points spread evenly over the input order
 *      (the scoring set), one member from each of the sample's equal
 *      slices of that set: half the samples slice it in input order, half
 *      in order along the points' extent (the line's direction of largest
 *      spread, the angle about the centroid for the closed shapes, the
 *      sources' angle about their centroid for the transforms). The
 *      position inside each slice follows an additive sequence of
 *      irrational steps, so no random numbers are used anywhere: the same
 *      input gives the same result, bit for bit, on every call and thread.
 *      Each candidate shape is scored by the median of its squared
 *      residuals over the scoring set; the least median wins (the first
 *      one among equals).
 *   2. Iterated reweighting from that start: the residuals of all points,
 *      the scale, the weights, the weighted fit, until the largest change
 *      of any residual between two iterations is at most tolerance * s.
 *      The weighted fit is the orthogonal least-squares line; for the
 *      circle and the ellipse the algebraic fit (the weighted circle of
 *      libzfit.so, a weighted direct ellipse fit), and with the geometric
 *      `flavour` then, once no residual moves by more than a hundredth
 *      of s, the geometric one (the weighted Levenberg-Marquardt fits of
 *      geometric.h, each started from the last shape) until they settle;
 *      for transforms the weighted least-squares similarity (dof 4) and
 *      affine map (dof 6) in closed form, the same problem libzfit.so's
 *      weighted point-to-point fit solves (which takes dof 3 and 5, and
 *      the sources that lie nearly on a point or a line). Every weight is
 *      multiplied by the caller's weight.
 *   3. The scale, unless the caller gives it, re-estimated each
 *      iteration from up to 8192 points spread over the input order:
 *      1.4826 times the median |r_i| of the points still in play, those
 *      with |r_i| < max(c, 3) times the scale itself. Of the scales that
 *      satisfy this, the largest one not above 1.4826 times the median
 *      over every point is taken (fixed-point steps down from there): the
 *      inliers' noise, not the smaller scale a few closely fitted points
 *      would also satisfy, and not the median over every point, which the
 *      clutter inflates (0.885 instead of 0.5 with 35% clutter) so that it
 *      lets clutter in. For transforms, whose residuals are 2-D distances,
 *      median / 1.1774 instead (the per-coordinate sigma of normal noise).
 *      The scale never falls below 1e-12 times the points' RMS spread, so
 *      exact data do not divide by zero.
 *
 * Breakdown. The least median of squares has a breakdown point of 50%.
 * The start is found as long as one sample holds inliers only; with
 * inliers making up 60% of the points (40% gross outliers), in whatever
 * order and place, a sample pattern blind to the outliers misses every
 * clean sample with probability below (1 - 0.6^k)^K: K = 64 pairs for
 * the line and the circle of fixed radius (4e-13), K = 128 triples for the
 * circle and the transforms (3e-14; for dof 4, whose candidates are made
 * of two pairs, k = 2 and 1e-25), K = 256 five-point sets for the
 * ellipse (9e-10). The start stops earlier, after 16 samples at least,
 * once its best candidate's support (its share w of the points within 2.5
 * of its scales) makes (1 - w^k)^j fall below 1e-6 after j samples: a
 * structure holding more of the points than the best candidate would then
 * have been missed with probability below 1e-6. Outliers clustered in
 * the input order (a spur, a neighbouring edge) or in the extent are met by
 * the sliced samples, which take each member from another slice. The
 * guarantee is for 40% gross outliers; beyond 50% the median itself may
 * follow the clutter.
 *
 * Cost, for n points: the start costs at most K * 256 residuals, whatever
 * n (a candidate is dropped as soon as its median cannot win);
 * each iteration costs three passes over the n points (residuals, weights,
 * the weighted fit; the ellipse's orthogonal distance solves for its
 * contact point by Newton's method, 3 to 6 steps per point; a geometric
 * iteration runs a whole Levenberg-Marquardt fit) and a sort of up to 8192
 * residuals for the scale. Typically 5 to 15 iterations. Work storage:
 * four doubles per point, allocated once per call.
 *
 * Uncertainty: covariance and standard errors of the final weighted
 * least-squares problem, the robust weights held fixed:
 * C = sigma^2 (J^T W J)^-1, sigma^2 = sum w_i r_i^2 / (n+ - p), n+ the
 * points of positive final weight, J the Jacobian of the orthogonal
 * residuals at the final shape (see uncertainty.h for the parameter order).
 * Offered for the line, the circle (both flavours), the geometric ellipse
 * and the 4- and 6-degree-of-freedom transforms; the algebraic ellipse and
 * the 3- and 5-degree-of-freedom transforms report parameterCount 0.
 *
 * Compiles as C11 and as C++. */
#ifndef ZFIT_METROLOGY_ROBUST_ROBUST_H
#define ZFIT_METROLOGY_ROBUST_ROBUST_H

#include <zfit/zfit.h>

#include <zfit/metrology/geometric/uncertainty.h>

ZFIT_EXTERN_C_BEGIN

/* The estimators (zmet_robustParams.estimator). */
enum { zmet_robustHuber = 0, zmet_robustTukey = 1, zmet_robustClip = 2 };
/* Where the scale comes from (zmet_robustParams.scaleMode). */
enum { zmet_robustScaleEstimated = 0, zmet_robustScaleGiven = 1 };
/* The fit inside the loop of a circle or ellipse (the flavour argument). */
enum { zmet_robustAlgebraic = 0, zmet_robustGeometric = 1 };

/* The parameters every robust fit shares, fields in this order. */
typedef struct zmet_robustParams {
    /* zmet_robustHuber, zmet_robustTukey or zmet_robustClip. */
    int32_t estimator;
    /* c, the clipping factor in units of the scale (> 0, finite). Defaults
     * (zmet_robustParams_init): 1.345 for Huber and 4.685 for Tukey (95%
     * efficiency at normal noise), 3.0 for Clip (the three-sigma rule). */
    double clip;
    /* zmet_robustScaleEstimated (default): estimated from the residuals;
     * zmet_robustScaleGiven: `scale` is the noise level. */
    int32_t scaleMode;
    /* The given scale, in the units of the points (> 0, finite); read only
     * with zmet_robustScaleGiven. Default 1.0. */
    double scale;
    /* The most reweighting iterations (>= 1). Default 50. */
    int32_t maxIterations;
    /* Converged when no residual moved by more than tolerance * scale in
     * the last iteration (> 0, finite). Default 1e-4: the shape then moves
     * by less than a ten-thousandth of the noise, ten times below its own
     * standard error even for a million points (sigma / sqrt(n)). */
    double tolerance;
    /* isValid is 1 only when rmsError < maxRmsError (>= 0; NaN and -0.0
     * pass). Default HUGE_VAL. */
    double maxRmsError;
} zmet_robustParams;

/* What every robust fit reports beside its shape, fields in this order.
 * It owns three vectors: construct the result record that holds it before
 * the first fit and destruct it after the last. */
typedef struct zmet_robustOutcome {
    /* The final robust scale s, in the units of the points (the given one
     * with zmet_robustScaleGiven). */
    double scale;
    /* Points that are not outliers. */
    int32_t inlierCount;
    /* Weighted fits run after the start. */
    int32_t iterations;
    /* 1 when the residuals settled within maxIterations, else 0 (the last
     * iterate is then reported all the same). */
    int32_t converged;
    /* n final weights: the estimator's weight times the caller's. */
    zstd_vectord weights;
    /* n residuals from the final shape (see the top of this header). */
    zstd_vectord residuals;
    /* The outliers' 0-based indices, ascending. */
    zstd_vector32 outliers;
    /* See the top of this header; parameterCount 0 when none is offered. */
    zmet_uncertainty uncertainty;
} zmet_robustOutcome;

/* The robust line: normal form -x*sin(theta) + y*cos(theta) = d, d >= 0. */
typedef struct zmet_robustLineResult {
    int32_t isValid;
    zmath_shapeFLine line;
    /* RMS orthogonal residual of the inliers (weighted by the caller's
     * weights when given). The same for every result below. */
    double rmsError;
    zmet_robustOutcome robust;
} zmet_robustLineResult;

typedef struct zmet_robustCircleResult {
    int32_t isValid;
    zmath_vect centre;
    double radius;
    double rmsError;
    zmet_robustOutcome robust;
} zmet_robustCircleResult;

typedef struct zmet_robustEllipseResult {
    int32_t isValid;
    /* radius1 >= radius2, angle the direction of radius1 in [0, pi). */
    zmath_shapeEllipse ellipse;
    double rmsError;
    zmet_robustOutcome robust;
} zmet_robustEllipseResult;

/* T(p) = M p + t, mapping source points onto target points. */
typedef struct zmet_robustTransformResult {
    int32_t isValid;
    zmath_xformLinear xform;
    double rmsError;
    zmet_robustOutcome robust;
} zmet_robustTransformResult;

/* The life cycle of each result type R (the conventions of the fitting
 * library's result records):
 *   R_construct(result)              empty vectors, every number 0, the
 *                                    shape at its initial value;
 *   R_constructCopy(result, source)  an independent copy; on failure the
 *                                    result is left unconstructed;
 *   R_assign(result, source)         copies every field (self-assignment
 *                                    does nothing);
 *   R_destruct(result)               releases the vectors.
 * They return 0, or zstd_errOutOfMemory when the vectors could not be had.
 * NULL is a broken precondition. */
#define ZMET_DECLARE_ROBUST_LIFE_CYCLE_(R)                              \
    ZFIT_API zfit_status R##_construct(R* result);                      \
    ZFIT_API zfit_status R##_constructCopy(R* result, const R* source); \
    ZFIT_API zfit_status R##_assign(R* result, const R* source);        \
    ZFIT_API zfit_status R##_destruct(R* result);
ZMET_DECLARE_ROBUST_LIFE_CYCLE_(zmet_robustLineResult)
ZMET_DECLARE_ROBUST_LIFE_CYCLE_(zmet_robustCircleResult)
ZMET_DECLARE_ROBUST_LIFE_CYCLE_(zmet_robustEllipseResult)
ZMET_DECLARE_ROBUST_LIFE_CYCLE_(zmet_robustTransformResult)
#undef ZMET_DECLARE_ROBUST_LIFE_CYCLE_

/* The defaults of an estimator (see the fields); an estimator that is not
 * one of the three is stored as given with clip 1.0, and validate refuses
 * it. Returns 0. */
ZFIT_API zfit_status zmet_robustParams_init(zmet_robustParams* params, int32_t estimator);

/* Checks in this order: estimator -> zmet_errRobustEstimator; clip not
 * above 0 or not finite -> zmet_errRobustClip; scaleMode neither of the two
 * -> zmath_errFitBadMode; a given scale not above 0 or not finite ->
 * zmet_errRobustScale; maxIterations < 1 -> zmath_errFitMaxIterations;
 * tolerance not above 0 or not finite -> zmet_errRobustTolerance;
 * maxRmsError < 0 -> zmath_errFitMaxRmsErrorNegative. Else 0. */
ZFIT_API zfit_status zmet_robustParams_validate(const zmet_robustParams* params);

/* The statuses every robust fit returns, in the order they are checked:
 *   the parameters' (zmet_robustParams_validate), then the fit's own
 *                         arguments (flavour, radius, dof);
 *   zmet_errNotFinite     a coordinate is NaN or infinite;
 *   zmath_errFitWeightNegative  a caller's weight is below 0;
 *   zmet_errWeightNotFinite     a caller's weight is NaN or infinite;
 *   zmet_errTooFewPoints  fewer points of positive weight than the fit
 *                         needs: one more than a minimal sample's worth of
 *                         parameters, so that the noise can be judged (a
 *                         negative count counts as 0);
 *   zmath_errDegenerate   no sample gives a shape (all points on one line
 *                         for the circle, one place for the line, ...);
 *   zmet_errNoInliers     the reweighting left fewer points of positive
 *                         weight than the fit needs (a given scale far
 *                         below the noise), or no inlier of positive weight;
 *   a failure of the weighted fit inside the loop, passed on (for
 *   example zmath_errDegenerate when the inliers lie on a line, or
 *   zmet_errNotConverged from a geometric fit);
 *   zstd_errOutOfMemory   work storage or the result's vectors.
 * On success every field of the result is written. After a failure the
 * result is as before the call (after zstd_errOutOfMemory its vectors may
 * have been resized). `weights` is NULL for unit weights, else count
 * weights >= 0, one per point (relative inverse variances, 1 / sigma_i^2),
 * multiplied into the robust weights; a point of weight 0 takes no part but
 * still gets its residual. NULL params or result, or NULL points with
 * count > 0, are broken preconditions. */

/* The robust line (orthogonal distance). Needs 3 points. */
ZFIT_API zfit_status zmet_robustLineFit(const zmath_vect* points, int32_t count, const double* weights,
                                        const zmet_robustParams* params, zmet_robustLineResult* result);

/* The robust circle of free radius; flavour zmet_robustAlgebraic (the
 * weighted circle of libzfit.so in the loop) or zmet_robustGeometric
 * (zmet_geometricCircleFitWeighted), else zmath_errFitBadMode. Needs 4
 * points. Uncertainty p = 3: centre x,
 * centre y, radius. */
ZFIT_API zfit_status zmet_robustCircleFit(const zmath_vect* points, int32_t count, const double* weights,
                                          const zmet_robustParams* params, int32_t flavour,
                                          zmet_robustCircleResult* result);

/* The robust circle of the given radius: only the centre is fitted.
 * There is no algebraic circle of fixed radius, so both flavours run the
 * geometric fixed-radius fit in the loop (flavour is still checked). A
 * radius below 0 is refused with zmath_errFitFixedRadiusNegative, a NaN or
 * infinite one with zmet_errNotFinite; radius 0 passes, but no circle of
 * it passes through two distinct points (zmath_errDegenerate). Needs 3
 * points. Uncertainty p = 2:
 * centre x, centre y. */
ZFIT_API zfit_status zmet_robustCircleFitFixedRadius(const zmath_vect* points, int32_t count, const double* weights,
                                                     const zmet_robustParams* params, int32_t flavour, double radius,
                                                     zmet_robustCircleResult* result);

/* The robust ellipse; flavour zmet_robustAlgebraic (a weighted direct fit,
 * Halir and Flusser's partitioned form, in the loop) or zmet_robustGeometric
 * (zmet_geometricEllipseFitWeighted). Needs 6 points. Uncertainty (geometric only) p = 5: centre x, centre y,
 * radius1, radius2, angle. */
ZFIT_API zfit_status zmet_robustEllipseFit(const zmath_vect* points, int32_t count, const double* weights,
                                           const zmet_robustParams* params, int32_t flavour,
                                           zmet_robustEllipseResult* result);

/* The robust transform mapping source[i] onto target[i] with dof 3, 4, 5
 * or 6 degrees of freedom as zmath_pointToPointFit defines them (else
 * zmath_errFitBadMode); weights, when given, belong to the pairs. Needs 3
 * pairs (4 for dof 5 and 6). Uncertainty for dof 4 (tx, ty, a, b) and 6 (tx, ty,
 * m00, m01, m10, m11). */
ZFIT_API zfit_status zmet_robustPointToPointFit(const zmath_vect* target, const zmath_vect* source, int32_t count,
                                                const double* weights, int32_t dof, const zmet_robustParams* params,
                                                zmet_robustTransformResult* result);

ZFIT_EXTERN_C_END

#endif
