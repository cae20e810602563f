/* Status codes: the whole vocabulary of success and failure.
 *
 * Every function of the library and of its services returns a zfit_status.
 * 0 is success. A status is a failure exactly when its top bit is set, that
 * is when it is negative: test it with ZFIT_FAILED(status), never with
 * status != 0. The codes below are pinned and never renumbered.
 *
 * The table is an X-macro so that tools can derive names and texts from it
 * (see zfit/frame/status_names.h); the libraries themselves return codes
 * only and hold no message texts. */
#ifndef ZFIT_FRAME_STATUS_H
#define ZFIT_FRAME_STATUS_H

#include <stdint.h>

typedef int32_t zfit_status;

/* One code per line, each with its text: the table is kept out of the
 * formatter's reach. */
/* clang-format off */
/* Turns a 32-bit pattern such as 0x80000582 into the (negative) int32 value
 * it stands for, as a constant expression valid in C11 and C++. */
#define ZFIT_STATUS_BITS(u32) ((int32_t)((long long)(u32) - 0x100000000LL))

/* X(name, bits, text): every failure code, the fitting library first, then
 * the services and the companion library, each with the one sentence a
 * tool shows for it. The texts are compiled only into the programs that
 * print them (zfit/frame/status_names.h), never into the libraries. */
#define ZFIT_STATUS_TABLE(X) \
    X(zmath_errDegenerate, 0x80000582u, "the points do not determine the shape: too few, all on a line or a point, or no candidate of an outlier search could be solved") \
    X(zmath_errServiceDegenerateA, 0x80000922u, "the fitted conic is not an ellipse (b^2 - 4ac >= 0)") \
    X(zmath_errServiceDegenerateB, 0x80000924u, "the fitted conic is an imaginary or a point ellipse") \
    X(zmath_errFitMaxRmsErrorNegative, 0x80000b21u, "the error limit maxRmsError is below 0") \
    X(zmath_errFitNumIgnoreNegative, 0x80000b22u, "the number of points to discard, numIgnore, is below 0") \
    X(zmath_errFitWeightedIgnore, 0x80000b23u, "a weighted fit discards no points: numIgnore must be 0") \
    X(zmath_errFitWeightCount, 0x80000b24u, "the number of weights differs from the number of points") \
    X(zmath_errFitWeightNegative, 0x80000b25u, "a weight is below 0") \
    X(zmath_errFitBadMode, 0x80000b26u, "the fit does not offer this mode or number of degrees of freedom") \
    X(zmath_errFitFixedRadiusNegative, 0x80000b27u, "the fixed radius is below 0") \
    X(zmath_errFitSolveFailed, 0x80000b28u, "the transform or its residual cannot be formed from the given pairs") \
    X(zmath_errFitSizeMismatch, 0x80000b29u, "the input lists of a transform fit differ in size") \
    X(zmath_errFitMaxIterations, 0x80000b2au, "the iteration limit maxIterations is below 1") \
    X(zstd_errBadCount, 0x80001001u, "a container was asked for a negative or too large count") \
    X(zstd_errOutOfMemory, 0x80001002u, "out of memory") \
    X(zstd_errBrokenPrecondition, 0x80001003u, "an argument broke a precondition (reported to an assertion handler that returned)") \
    X(zmath_errMatrixSingular, 0x80001101u, "the equations of the fit are singular") \
    X(zmath_errMatrixIllConditioned, 0x80001102u, "the equations of the fit are too ill-conditioned") \
    X(zmath_errMatrixShape, 0x80001103u, "the matrix dimensions do not fit the operation") \
    X(zmath_errNoConvergence, 0x80001104u, "an iterative matrix algorithm did not converge") \
    X(zmath_errZeroLength, 0x80001105u, "a direction of zero length was needed (two points equal, or their difference overflows)") \
    X(zsys_errCancelled, 0x80001201u, "the search was stopped by the host's attention check (a timeout or a request to stop)") \
    X(zmet_errTooFewPoints, 0x80002021u, "too few points of positive weight to fit the shape and estimate its uncertainty") \
    X(zmet_errNotConverged, 0x80002022u, "the iterative fit did not converge within its iteration limit") \
    X(zmet_errOutOfRange, 0x80002023u, "an argument lies outside its range") \
    X(zmet_errNotFinite, 0x80002141u, "a coordinate is NaN or infinite, or the points spread beyond the doubles") \
    X(zmet_errMaxRoundnessNegative, 0x80002142u, "the roundness limit maxRoundness is below 0") \
    X(zmet_errProfileOpen, 0x80002143u, "the points do not surround an inscribed circle (an open arc, or a gap wider than the part)") \
    X(zmet_errNotCertified, 0x80002144u, "the search ended where the optimality condition of the reference circle does not hold") \
    X(zmet_errSearchBudget, 0x80002145u, "proving the minimum zone global would examine more centres than its budget allows") \
    X(zmet_errRobustEstimator, 0x80002261u, "the robust estimator is not one of huber, tukey and clip") \
    X(zmet_errRobustClip, 0x80002262u, "the clipping factor of a robust fit is not a finite value above 0") \
    X(zmet_errRobustScale, 0x80002263u, "the given scale of a robust fit is not a finite value above 0") \
    X(zmet_errRobustTolerance, 0x80002264u, "the convergence tolerance of a robust fit is not a finite value above 0") \
    X(zmet_errWeightNotFinite, 0x80002265u, "a weight is NaN or infinite") \
    X(zmet_errNoInliers, 0x80002266u, "the robust fit left too few inliers to fit the shape (is the given scale far below the noise?)")
/* clang-format on */

#define ZFIT_STATUS_ENUMERATOR_(name, bits, text) name = ZFIT_STATUS_BITS(bits),
enum { zfit_ok = 0, ZFIT_STATUS_TABLE(ZFIT_STATUS_ENUMERATOR_) };
#undef ZFIT_STATUS_ENUMERATOR_

/* Non-zero when the status reports a failure (its top bit is set). */
#define ZFIT_FAILED(status) ((int32_t)(status) < 0)

#ifdef __cplusplus
namespace zfit {
/* A status is a failure exactly when its top bit is set. */
constexpr bool failed(zfit_status status) { return status < 0; }
}  // namespace zfit
#endif

#endif
