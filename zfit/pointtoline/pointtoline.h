/* Point-to-line fit.
 *
 * Model: the affine transform T(p) = M*p + t (a zmath_xformLinear: a general
 * 2x2 matrix and a translation, six parameters) that moves point i onto
 * line i. It minimises
 *
 *     sum_i w_i * dist(T(point_i), line_i)^2
 *
 * (w_i = 1 in the unweighted fits), where dist is the perpendicular distance
 * from the line (lines in normal form -x*sin(theta) + y*cos(theta) = d, see
 * zfit/services/shapes.h). rmsError is sqrt(sum w_i * dist_i^2 / sum w_i),
 * measured from the pairs with the fitted transform. No pair is discarded.
 *
 * Six parameters need at least six pairs whose lines constrain every one of
 * them: the points must not all lie on one line, and the lines must run in
 * at least two directions. Whether a set of pairs suffices is decided by the
 * 6x6 linear solve (LU with a 1-norm condition check against 1e12, see
 * zmath_pointToLineFit6Dof_); an unsolvable set fails with the solver's
 * status. The fit entries measure the points from the first point of
 * positive weight before they sum, the solve balances the system by powers
 * of two, and the transform is reported in the caller's coordinates: where
 * the points lie (pixel (4000, 4000) of a large image) and their unit
 * (metres or micrometres) do not decide whether a fit succeeds.
 *
 * Building blocks. The sum above is a quadratic function of the six
 * parameters; a zfit_pointLineVals record holds its 28 coefficients and the
 * total weight. Callers can fold pairs into a record across calls
 * (zmath_pointToLineFitUpdateValsWeighted_), solve it
 * (zmath_pointToLineFit6Dof_) and score any transform against it
 * (zmath_pointToLineFitRmsError_) without keeping the points. */
#ifndef ZFIT_POINTTOLINE_POINTTOLINE_H
#define ZFIT_POINTTOLINE_POINTTOLINE_H

#include <zfit/frame/records.h>
#include <zfit/services/containers.h>
#include <zfit/services/math.h>
#include <zfit/services/shapes.h>

ZFIT_EXTERN_C_BEGIN

typedef struct zmath_pointToLineFitParams {
    /* isValid is 1 only when rmsError < maxRmsError (>= 0). Default +inf. */
    double maxRmsError;
    /* Degrees of freedom of the transform; 6 is the only value. Default 6. */
    int32_t dof;
} zmath_pointToLineFitParams;

typedef struct zmath_pointToLineFitResult {
    /* 1 when the last fit succeeded and rmsError < maxRmsError, else 0.
     * Written last and only on success: a failed fit leaves it as it was. */
    int32_t isValid;
    /* The fitted transform: translation (tx, ty), then the matrix
     * (m00, m01, m10, m11); T(p) = (m00*px + m01*py + tx, m10*px + m11*py + ty). */
    zmath_xformLinear xform;
    /* RMS distance of the mapped points from their lines (weighted when
     * weights are given), in the lines' units. */
    double rmsError;
} zmath_pointToLineFitResult;

/* Defaults: maxRmsError HUGE_VAL, dof 6. Returns 0. */
ZFIT_API zfit_status zmath_pointToLineFitParams_init(zmath_pointToLineFitParams* params);
/* Checks in this order: maxRmsError < 0 -> zmath_errFitMaxRmsErrorNegative
 * (NaN and -0.0 pass); dof not 6 -> zmath_errFitBadMode. Else 0. */
ZFIT_API zfit_status zmath_pointToLineFitParams_validate(const zmath_pointToLineFitParams* params);

/* The record's life cycle (zfit/frame/records.h). The record owns no
 * storage: construct sets isValid 0, xform the identity, rmsError 0.0 and
 * returns 0; assign copies isValid, xform and rmsError and returns 0;
 * destruct releases nothing and returns 0. There is no reset: construct the
 * record again or assign to it. */
ZFIT_DECLARE_RESULT_LIFE_CYCLE(zmath_pointToLineFitResult)

/* Fits the transform that moves points[i] onto lines[i], i = 0 .. count-1.
 * A negative count counts as 0; a NULL array with count > 0 is a broken
 * precondition (assertion service). The result must be constructed.
 *
 * Returns 0, or the first failure:
 *   zmath_errFitMaxRmsErrorNegative, zmath_errFitBadMode   the parameters;
 *   zmath_errFitSolveFailed   a coordinate or a line value (d, sine, cosine)
 *                             that is NaN or infinite, or values so large
 *                             that their sums or squares overflow (line
 *                             distances beyond about 1e154);
 *   zmath_errMatrixSingular, zmath_errMatrixIllConditioned   the pairs do
 *                             not determine the six parameters (no pairs,
 *                             fewer than six, all lines parallel, all points
 *                             on one line, ...);
 *   zstd_errOutOfMemory       work storage for the 6x6 solve.
 * On success xform, rmsError and isValid hold the fit. On any failure the
 * result is untouched. */
ZFIT_API zfit_status zmath_pointToLineFit(const zmath_pointToLineFitParams* params, const zmath_vect* points,
                                          const zmath_shapeFLine* lines, int32_t count,
                                          zmath_pointToLineFitResult* result);

/* The same with a weight per pair (weights[i] for pair i; a NULL array with
 * count > 0 is a broken precondition). rmsError is weighted.
 * Weights must be >= 0 (pairs of weight 0 take no part); in addition:
 *   zmath_errFitWeightNegative   a weight below 0, checked after the
 *                                parameters and before anything else;
 *   zmath_errFitSolveFailed      also for a NaN or infinite weight;
 *   zmath_errMatrixSingular      also when every weight is 0.
 * The result is untouched on every failure. */
ZFIT_API zfit_status zmath_pointToLineFitWeighted(const zmath_pointToLineFitParams* params, const zmath_vect* points,
                                                  const zmath_shapeFLine* lines, const double* weights, int32_t count,
                                                  zmath_pointToLineFitResult* result);

/* zmath_pointToLineFit over vectors (read only). zmath_errFitSizeMismatch
 * (result untouched) when the line count differs from the point count;
 * otherwise as the array entry, and a container's status when a vector
 * cannot be read. */
ZFIT_API zfit_status zmath_pointToLineFitVector(const zmath_pointToLineFitParams* params,
                                                const zstd_vector_zmath_vect* points,
                                                const zstd_vector_zmath_shapeFLine* lines,
                                                zmath_pointToLineFitResult* result);

/* zmath_pointToLineFitWeighted over vectors. zmath_errFitSizeMismatch when
 * the line count, then the weight count, differs from the point count. */
ZFIT_API zfit_status zmath_pointToLineFitWeightedVector(const zmath_pointToLineFitParams* params,
                                                        const zstd_vector_zmath_vect* points,
                                                        const zstd_vector_zmath_shapeFLine* lines,
                                                        const zstd_vectord* weights,
                                                        zmath_pointToLineFitResult* result);

/* ---- building blocks -----------------------------------------------------
 *
 * A pair (point (x, y), line, weight w) enters as its line's normal form
 * (a, b, e) = (-sin(theta), cos(theta), -d), so that the signed residual of
 * the pair under the parameters p = (m00, m01, m10, m11, tx, ty) is
 *
 *     r = a*(m00*x + m01*y + tx) + b*(m10*x + m11*y + ty) + e = g.p + e,
 *     g = (a*x, a*y, b*x, b*y, a, b),
 *
 * minus the line's signed distance (zmath_shapeFLine_distanceFrom) of T(x, y).
 *
 * zfit_pointLineVals holds sum w*r^2 as a polynomial in p: for each p_i in
 * order, the coefficients of p_i*p_j for j = i .. 5 (w*g_i^2 on the
 * diagonal, 2*w*g_i*g_j off it), then that of p_i alone (2*w*e*g_i); then
 * the constant; then the total weight. values[k] per pair, with the index
 * names below:
 *
 *   k  name                       term      adds
 *   0  zfit_pointLineVal_m00m00   m00^2     w*a^2*x^2
 *   1  zfit_pointLineVal_m00m01   m00*m01   2*w*a^2*x*y
 *   2  zfit_pointLineVal_m00m10   m00*m10   2*w*a*b*x^2
 *   3  zfit_pointLineVal_m00m11   m00*m11   2*w*a*b*x*y
 *   4  zfit_pointLineVal_m00tx    m00*tx    2*w*a^2*x
 *   5  zfit_pointLineVal_m00ty    m00*ty    2*w*a*b*x
 *   6  zfit_pointLineVal_m00      m00       2*w*a*e*x
 *   7  zfit_pointLineVal_m01m01   m01^2     w*a^2*y^2
 *   8  zfit_pointLineVal_m01m10   m01*m10   2*w*a*b*x*y
 *   9  zfit_pointLineVal_m01m11   m01*m11   2*w*a*b*y^2
 *  10  zfit_pointLineVal_m01tx    m01*tx    2*w*a^2*y
 *  11  zfit_pointLineVal_m01ty    m01*ty    2*w*a*b*y
 *  12  zfit_pointLineVal_m01      m01       2*w*a*e*y
 *  13  zfit_pointLineVal_m10m10   m10^2     w*b^2*x^2
 *  14  zfit_pointLineVal_m10m11   m10*m11   2*w*b^2*x*y
 *  15  zfit_pointLineVal_m10tx    m10*tx    2*w*a*b*x
 *  16  zfit_pointLineVal_m10ty    m10*ty    2*w*b^2*x
 *  17  zfit_pointLineVal_m10      m10       2*w*b*e*x
 *  18  zfit_pointLineVal_m11m11   m11^2     w*b^2*y^2
 *  19  zfit_pointLineVal_m11tx    m11*tx    2*w*a*b*y
 *  20  zfit_pointLineVal_m11ty    m11*ty    2*w*b^2*y
 *  21  zfit_pointLineVal_m11      m11       2*w*b*e*y
 *  22  zfit_pointLineVal_txtx     tx^2      w*a^2
 *  23  zfit_pointLineVal_txty     tx*ty     2*w*a*b
 *  24  zfit_pointLineVal_tx       tx        2*w*a*e
 *  25  zfit_pointLineVal_tyty     ty^2      w*b^2
 *  26  zfit_pointLineVal_ty       ty        2*w*b*e
 *  27  zfit_pointLineVal_constant 1         w*e^2
 *  28  zfit_pointLineVal_weight   (total)   w
 *
 * The record is a plain block of exactly 29 doubles in this order, owns
 * nothing, may be copied byte-wise, and two records may be added entry by
 * entry to merge their pairs.
 *
 * Conditioning. The record holds the coordinates as they are given. Points
 * far from the origin compared with their spread (a small patch of a large
 * image) make the system badly conditioned, by about the square of that
 * ratio: it costs digits, and beyond about 1e6 zmath_pointToLineFit6Dof_
 * refuses a system that the pairs determine. Callers who
 * accumulate such points should fold in q = p - c instead, with c one of
 * the points or a point near their middle (the fit entries take the first
 * point of positive weight), solve, and take the solution (M, t') back:
 * the transform is M with translation t = t' - M * c. */
typedef struct zfit_pointLineVals {
    double values[29];
} zfit_pointLineVals;

/* Index names of zfit_pointLineVals.values (see the table above). */
enum {
    zfit_pointLineVal_m00m00 = 0,
    zfit_pointLineVal_m00m01,
    zfit_pointLineVal_m00m10,
    zfit_pointLineVal_m00m11,
    zfit_pointLineVal_m00tx,
    zfit_pointLineVal_m00ty,
    zfit_pointLineVal_m00,
    zfit_pointLineVal_m01m01,
    zfit_pointLineVal_m01m10,
    zfit_pointLineVal_m01m11,
    zfit_pointLineVal_m01tx,
    zfit_pointLineVal_m01ty,
    zfit_pointLineVal_m01,
    zfit_pointLineVal_m10m10,
    zfit_pointLineVal_m10m11,
    zfit_pointLineVal_m10tx,
    zfit_pointLineVal_m10ty,
    zfit_pointLineVal_m10,
    zfit_pointLineVal_m11m11,
    zfit_pointLineVal_m11tx,
    zfit_pointLineVal_m11ty,
    zfit_pointLineVal_m11,
    zfit_pointLineVal_txtx,
    zfit_pointLineVal_txty,
    zfit_pointLineVal_tx,
    zfit_pointLineVal_tyty,
    zfit_pointLineVal_ty,
    zfit_pointLineVal_constant,
    zfit_pointLineVal_weight,
    zfit_pointLineVal_count /* 29 */
};

/* Sets all 29 values to 0 (no pairs). Returns 0. */
ZFIT_API zfit_status zfit_pointLineVals_init_(zfit_pointLineVals* vals);

/* Adds one pair: line normal form (a, b, e), untransformed point (x, y),
 * weight w (see above). Returns 0. Nothing is normalised or checked here:
 * (a, b) should be a unit vector, and a negative w is accepted on purpose
 * so that a pair added with weight w can be taken out again with -w. */
ZFIT_API zfit_status zmath_pointToLineFitUpdateValsWeighted_(double a, double b, double e, double x, double y, double w,
                                                             zfit_pointLineVals* vals);

/* Solves for the parameters that minimise the record's sum: sets the
 * gradient to zero, balances the 6x6 system by powers of two (rows and
 * columns scaled alike so that its diagonal is near 1; exact, and the same
 * system) and solves it with an LU decomposition, refusing a system whose
 * balanced 1-norm condition number exceeds 1e12. The balancing makes the
 * verdict independent of the unit of the points; it cannot undo points far
 * from the origin (see Conditioning above). On success
 * writes all six values of *xform and returns 0. On failure *xform is
 * untouched and the status is
 *   zmath_errMatrixSingular, zmath_errMatrixIllConditioned   the pairs do
 *                             not determine the parameters (an empty record
 *                             among them) or the record holds a non-finite
 *                             coefficient of a product;
 *   zmath_errFitSolveFailed   the solution is not finite (a non-finite
 *                             linear coefficient);
 *   zstd_errOutOfMemory       work storage. */
ZFIT_API zfit_status zmath_pointToLineFit6Dof_(const zfit_pointLineVals* vals, zmath_xformLinear* xform);

/* *error = the RMS distance, sqrt(F / W), of the record's pairs under
 * *xform, read from the record alone in a fixed 28 terms: F is the record's
 * polynomial at the transform's parameters and W its total weight. It agrees
 * with the error measured from the points up to rounding; a value of F a
 * rounding error below 0 (an exact fit) counts as 0, so the error is never
 * NaN for a finite record and transform. Returns 0, or
 * zmath_errFitSolveFailed (*error untouched) when the total weight is not
 * above 0. */
ZFIT_API zfit_status zmath_pointToLineFitRmsError_(const zfit_pointLineVals* vals, const zmath_xformLinear* xform,
                                                   double* error);

ZFIT_EXTERN_C_END

#endif
