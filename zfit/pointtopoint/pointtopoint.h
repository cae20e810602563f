/* Point-to-point fit.
 *
 * Model: the transform T that best maps a list of source points onto a list
 * of target points of the same length, pair i onto pair i, in the
 * least-squares sense: it minimises sum w_i * |target_i - T(source_i)|^2
 * (w_i = 1 in the unweighted fit). T is a zmath_xformLinear,
 * T(p) = M*p + t:  x' = m00*x + m01*y + tx,  y' = m10*x + m11*y + ty.
 * Coordinates are in any consistent unit; rmsError is in that unit.
 *
 * Degrees of freedom (params.dof):
 *   3  rotation plus translation, or a rotation combined with a reflection
 *      plus translation, whichever of the two has the smaller RMS error (a
 *      tie keeps the rotation): M = (c, -s; s, c) or (c, s; s, -c) with
 *      c = cos(theta), s = sin(theta). Needs 3 pairs.
 *   4  rotation, uniform scale and translation: M = (a, -b; b, a). Never a
 *      reflection. Needs 2 pairs.
 *   5  a matrix with orthogonal columns (m00*m01 + m10*m11 = 0): a rotation
 *      or reflection times independent scales along the source x and y
 *      axes, plus translation. Needs 3 pairs.
 *   6  a general 2x2 matrix plus translation (affine). Needs 3 pairs.
 * The pair counts count pairs, not weight: a pair of weight 0 still counts.
 * In every case the weighted centroid of the sources maps onto the weighted
 * centroid of the targets.
 *
 * Every pair takes part; nothing is discarded, so the records have no
 * numIgnore and no ignoredIndices. */
#ifndef ZFIT_POINTTOPOINT_POINTTOPOINT_H
#define ZFIT_POINTTOPOINT_POINTTOPOINT_H

#include <zfit/frame/records.h>
#include <zfit/services/containers.h>
#include <zfit/services/math.h>

ZFIT_EXTERN_C_BEGIN

typedef struct zmath_pointToPointFitParams {
    /* isValid is 1 only when rmsError < maxRmsError (>= 0). Default +inf. */
    double maxRmsError;
    /* Degrees of freedom of the transform: 3, 4, 5 or 6. Default 6. */
    int32_t dof;
} zmath_pointToPointFitParams;

typedef struct zmath_pointToPointFitResult {
    /* 1 when the last fit succeeded and rmsError < maxRmsError, else 0.
     * Written last and only on success: a failed fit leaves it as it was. */
    int32_t isValid;
    /* The fitted transform: translation, then matrix. */
    zmath_xformLinear xform;
    /* RMS distance between T(source i) and target i over all pairs,
     * measured from the points (weighted: sqrt(sum w d^2 / sum w)). */
    double rmsError;
} zmath_pointToPointFitResult;

/* Defaults: maxRmsError HUGE_VAL, dof 6. Returns 0. */
ZFIT_API zfit_status zmath_pointToPointFitParams_init(zmath_pointToPointFitParams* params);
/* Checks in this order: maxRmsError < 0 -> zmath_errFitMaxRmsErrorNegative
 * (NaN and -0.0 pass; 0 is accepted, and then no fit is flagged valid);
 * dof not 3, 4, 5 or 6 -> zmath_errFitBadMode. Else 0. */
ZFIT_API zfit_status zmath_pointToPointFitParams_validate(const zmath_pointToPointFitParams* params);

/* The record's life cycle (zfit/frame/records.h). The record owns no
 * storage: construct sets isValid 0, xform the identity, rmsError 0.0;
 * assign copies isValid, xform and rmsError and returns 0; destruct
 * releases nothing and returns 0. */
ZFIT_DECLARE_RESULT_LIFE_CYCLE(zmath_pointToPointFitResult)

/* Fits the transform that maps source[i] onto target[i], i = 0..count-1.
 *
 * Returns 0, or the first failure:
 *   zmath_errFitMaxRmsErrorNegative, zmath_errFitBadMode
 *                         the parameters;
 *   zmath_errFitSolveFailed
 *                         no transform can be formed: fewer pairs than the
 *                         dof needs (a negative count counts as 0), a
 *                         coordinate that is NaN or infinite (or so large
 *                         that its square overflows), or a degenerate
 *                         configuration: for 6 dof sources on one line, for
 *                         5 dof sources on one line, for 4 dof sources all at
 *                         one place, for 3 dof targets or sources all at one
 *                         place. The moments are taken about a pair of
 *                         the data and the tests are relative to its
 *                         spread, so neither its unit nor where it lies
 *                         decides whether a fit succeeds.
 * On success xform, rmsError and isValid hold the fit. On any failure the
 * record is as it was before the call.
 *
 * A NULL array with count > 0 is a broken precondition (assertion
 * service). */
ZFIT_API zfit_status zmath_pointToPointFit(const zmath_pointToPointFitParams* params, const zmath_vect* target,
                                           const zmath_vect* source, int32_t count,
                                           zmath_pointToPointFitResult* result);

/* The same with a weight per pair. Additionally returns
 * zmath_errFitWeightNegative when a weight is below 0 and
 * zmath_errFitSolveFailed when a weight is NaN or infinite or the weights
 * sum to 0; the record is then as it was. Weights scale freely: multiplying
 * all of them by one positive constant changes nothing, and a pair of weight
 * 0 has the same effect as leaving it out (it still counts towards the
 * fewest pairs the dof needs). */
ZFIT_API zfit_status zmath_pointToPointFitWeighted(const zmath_pointToPointFitParams* params, const zmath_vect* target,
                                                   const zmath_vect* source, const double* weights, int32_t count,
                                                   zmath_pointToPointFitResult* result);

/* zmath_pointToPointFit on two point vectors (read only). Additionally
 * returns zmath_errFitSizeMismatch, before anything else is checked, when
 * the vectors differ in size; the record is then as it was. */
ZFIT_API zfit_status zmath_pointToPointFitVector(const zmath_pointToPointFitParams* params,
                                                 const zstd_vector_zmath_vect* target,
                                                 const zstd_vector_zmath_vect* source,
                                                 zmath_pointToPointFitResult* result);

/* zmath_pointToPointFitWeighted on vectors. zmath_errFitSizeMismatch when
 * the source or the weight vector differs in size from the target vector. */
ZFIT_API zfit_status zmath_pointToPointFitWeightedVector(const zmath_pointToPointFitParams* params,
                                                         const zstd_vector_zmath_vect* target,
                                                         const zstd_vector_zmath_vect* source,
                                                         const zstd_vectord* weights,
                                                         zmath_pointToPointFitResult* result);

ZFIT_EXTERN_C_END

#endif
