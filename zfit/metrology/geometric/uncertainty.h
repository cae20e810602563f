/* The uncertainty of fitted parameters: covariance, standard errors and 95%
 * confidence intervals, for the geometric circle and ellipse (see
 * geometric.h), the least-squares line and the 4- and 6-degree-of-freedom
 * point-to-point transforms of libzfit.so.
 *
 * Model. Every fit here is a least-squares problem: it minimises
 * RSS = sum w_i * r_i^2 over its p parameters, with n observations r_i of
 * positive weight (a point's orthogonal distance, or one coordinate of a
 * transform's residual). Near the solution the residuals are linear in the
 * parameters with Jacobian J, and the covariance of the parameters is
 *
 *     C = sigma^2 * (J^T W J)^-1,   sigma^2 = RSS / (n - p),
 *
 * the noise level estimated from the residuals themselves. Weights act as
 * relative inverse variances: scaling all of them by one factor changes
 * neither C nor the intervals. The standard error of parameter k is
 * sqrt(C_kk); its 95% confidence interval is value +- t * sqrt(C_kk), with t
 * the 0.975 quantile of Student's t distribution with n - p degrees of
 * freedom. The figures assume independent noise of equal variance (up to the
 * weights) and hold to first order in the noise; they describe the scatter of
 * the fit, not systematic errors of the measurement. */
#ifndef ZFIT_METROLOGY_GEOMETRIC_UNCERTAINTY_H
#define ZFIT_METROLOGY_GEOMETRIC_UNCERTAINTY_H

#include <zfit/zfit.h>

ZFIT_EXTERN_C_BEGIN

/* The largest parameter count of a fit that reports its uncertainty (the
 * 6-degree-of-freedom transform). */
#define ZMET_MAX_PARAMETERS 6

/* The uncertainty of a fit's p parameters. The parameter order is the
 * fit's own and is stated with each fit:
 *   geometric circle, free radius    p = 3: centre x, centre y, radius
 *   geometric circle, fixed radius   p = 2: centre x, centre y
 *   geometric ellipse                p = 5: centre x, centre y, radius1,
 *                                    radius2, angle (radians)
 *   least-squares line               p = 2: angle theta (radians), distance d
 *   point to point, 4 dof            p = 4: tx, ty, a, b of M = (a, -b; b, a)
 *   point to point, 6 dof            p = 6: tx, ty, m00, m01, m10, m11
 * Lengths are in the units of the points, angles in radians. Fields in this
 * order: */
typedef struct zmet_uncertainty {
    /* p, the number of parameters; 0 when no uncertainty was formed. */
    int32_t parameterCount;
    /* n - p: observations of positive weight less parameters (>= 1;
     * INT32_MAX when larger). */
    int32_t degreesOfFreedom;
    /* sigma = sqrt(RSS / (n - p)): the residuals' estimated standard
     * deviation (of unit weight when weighted), in the units of the points. */
    double sigma;
    /* The 0.975 quantile of Student's t with degreesOfFreedom: the factor
     * from a standard error to the half-width of a 95% interval. */
    double t95;
    /* The p x p covariance matrix, row-major and packed with row length p:
     * the covariance of parameters i and j is covariance[i * p + j]. The
     * entries past p * p are 0. */
    double covariance[ZMET_MAX_PARAMETERS * ZMET_MAX_PARAMETERS];
    /* standardErrors[k] = sqrt(covariance[k * p + k]); entries past p are 0. */
    double standardErrors[ZMET_MAX_PARAMETERS];
    /* halfWidth95[k] = t95 * standardErrors[k]: the 95% confidence interval
     * of parameter k is its value +- halfWidth95[k]; entries past p are 0. */
    double halfWidth95[ZMET_MAX_PARAMETERS];
} zmet_uncertainty;

/* The quantile of Student's t distribution: *quantile = t such that
 * P(T <= t) = probability for T with degreesOfFreedom (any real value above
 * 0; the distribution of a mean over degreesOfFreedom + 1 samples). Exact
 * closed forms for 1 and 2 degrees of freedom; otherwise Newton's method on
 * the distribution function, written through the regularised incomplete beta
 * function, to a relative accuracy of about 1e-11 (less near the median,
 * where t is tiny, and far out in the tails, where t itself is sensitive to
 * the last bit of probability). Cost: a few Newton steps of some ten to a few
 * hundred operations each; a table look-up for probability 0.975 (the 95%
 * intervals) at 1 to 256 whole degrees of freedom, which gives the same
 * bits as the computation.
 *
 * Returns 0, or zmet_errOutOfRange when probability is not strictly between
 * 0 and 1 or degreesOfFreedom is not a finite value above 0 (NaN included);
 * *quantile is then untouched. A NULL quantile is a broken precondition. */
ZFIT_API zfit_status zmet_studentTQuantile(double probability, double degreesOfFreedom, double* quantile);

/* The uncertainty of a least-squares line (zmath_lineFit, mode 0) through
 * count points: the line's angle theta and distance d as stored in *line
 * (normal form -x*sin(theta) + y*cos(theta) = d), with residuals
 * r_i = -x_i*sin(theta) + y_i*cos(theta) - d, the signed perpendicular
 * distances. Pass the points the line was fitted to (leave out the ones the
 * fit discarded). p = 2: theta, then d.
 *
 * Returns 0, or the first failure:
 *   zmet_errTooFewPoints  fewer than 3 points (a negative count counts as 0);
 *   zmath_errDegenerate   a coordinate or the line is NaN or infinite, the
 *                         points lie so far out that their sums overflow, or
 *                         they do not spread along the line (all project
 *                         onto one place);
 * on success *uncertainty holds the result, on failure it is untouched. Two
 * passes over the points, no allocation. A NULL argument (points with
 * count > 0) is a broken precondition. */
ZFIT_API zfit_status zmet_lineFitUncertainty(const zmath_vect* points, int32_t count, const zmath_shapeFLine* line,
                                             zmet_uncertainty* uncertainty);

/* The uncertainty of a point-to-point transform T(p) = M*p + t fitted to
 * source[i] -> target[i] (zmath_pointToPointFit with the same parameters):
 * each pair gives two observations, the x and y components of
 * target[i] - T(source[i]). Offered for params->dof 4 (p = 4: tx, ty, a, b
 * with M = (a, -b; b, a)) and 6 (p = 6: tx, ty, m00, m01, m10, m11, the
 * transform's own layout). The model is linear, so the covariance depends
 * on the source points alone and *xform only sets sigma; pass the fitted
 * transform.
 *
 * Returns 0, or the first failure:
 *   zmath_errFitMaxRmsErrorNegative, zmath_errFitBadMode
 *                         the parameters (zmath_pointToPointFitParams_validate);
 *   zmath_errFitBadMode   dof 3 or 5;
 *   zmet_errTooFewPoints  fewer pairs than p / 2 + 1 (3 for 4 dof, 4 for
 *                         6 dof; a negative count counts as 0);
 *   zmath_errFitSolveFailed  a coordinate or the transform is NaN or
 *                         infinite, or the sources do not determine the
 *                         transform (6 dof: all on one line; 4 dof: all at
 *                         one place);
 * on success *uncertainty holds the result, on failure it is untouched. Two
 * passes over the pairs, no allocation. NULL arguments (arrays with
 * count > 0) are a broken precondition. */
ZFIT_API zfit_status zmet_pointToPointFitUncertainty(const zmath_pointToPointFitParams* params,
                                                     const zmath_vect* target, const zmath_vect* source, int32_t count,
                                                     const zmath_xformLinear* xform, zmet_uncertainty* uncertainty);

/* The same for the weighted fit (zmath_pointToPointFitWeighted): pair i
 * carries weights[i] >= 0, and n counts the pairs of positive weight.
 * Additionally returns zmath_errFitWeightNegative when a weight is below 0
 * (checked after the parameters) and zmath_errFitSolveFailed when a weight is
 * NaN or infinite. */
ZFIT_API zfit_status zmet_pointToPointFitUncertaintyWeighted(const zmath_pointToPointFitParams* params,
                                                             const zmath_vect* target, const zmath_vect* source,
                                                             const double* weights, int32_t count,
                                                             const zmath_xformLinear* xform,
                                                             zmet_uncertainty* uncertainty);

ZFIT_EXTERN_C_END

#endif
