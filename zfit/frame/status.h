/* Status codes: the whole vocabulary of success and failure.
 *
 * Every function of the library and of its services returns a zfit_status.
 * 0 is success. A status is a failure exactly when its top bit is set, that
 * is when it is negative: test it with ZFIT_FAILED(status), never with
 * status != 0. The codes below are pinned and never renumbered.
 *
 * The table is an X-macro so that tools can derive names from it (see
 * zfit/frame/status_names.h); the libraries themselves return codes only and
 * hold no message texts. */
#ifndef ZFIT_FRAME_STATUS_H
#define ZFIT_FRAME_STATUS_H

#include <stdint.h>

typedef int32_t zfit_status;

/* Turns a 32-bit pattern such as 0x80000582 into the (negative) int32 value
 * it stands for, as a constant expression valid in C11 and C++. */
#define ZFIT_STATUS_BITS(u32) ((int32_t)((long long)(u32) - 0x100000000LL))

/* X(name, bits): every failure code, fitting library first, then services. */
#define ZFIT_STATUS_TABLE(X)                                                    \
    /* The points do not determine the shape: too few points, no unique     \
     * solution, or no candidate of an outlier search could be solved. */    \
    X(zmath_errDegenerate, 0x80000582u)                                       \
    /* The conic handed to the ellipse shape is not an ellipse: b^2-4ac >= 0.*/\
    X(zmath_errServiceDegenerateA, 0x80000922u)                               \
    /* The conic is an imaginary or degenerate (point) ellipse. */            \
    X(zmath_errServiceDegenerateB, 0x80000924u)                               \
    /* Parameter maxRmsError below 0.0 (NaN and -0.0 pass). */                \
    X(zmath_errFitMaxRmsErrorNegative, 0x80000b21u)                           \
    /* Parameter numIgnore below 0. */                                        \
    X(zmath_errFitNumIgnoreNegative, 0x80000b22u)                             \
    /* A weighted circle fit was asked to discard points. */                  \
    X(zmath_errFitWeightedIgnore, 0x80000b23u)                                \
    /* The weight vector and the point vector differ in size. */              \
    X(zmath_errFitWeightCount, 0x80000b24u)                                   \
    /* A weight is below 0.0. */                                              \
    X(zmath_errFitWeightNegative, 0x80000b25u)                                \
    /* mode (or dof) holds a value the family does not offer. */              \
    X(zmath_errFitBadMode, 0x80000b26u)                                       \
    /* The circle parameters' fixedRadius is below 0.0. */                    \
    X(zmath_errFitFixedRadiusNegative, 0x80000b27u)                           \
    /* A transform or its residual cannot be formed from the given pairs. */  \
    X(zmath_errFitSolveFailed, 0x80000b28u)                                   \
    /* The input vectors of a transform fit differ in size. */                \
    X(zmath_errFitSizeMismatch, 0x80000b29u)                                  \
    /* The parabola parameters' maxIterations is 0 or below. */               \
    X(zmath_errFitMaxIterations, 0x80000b2au)                                 \
    /* Services: a container was asked for a negative or too large count. */  \
    X(zstd_errBadCount, 0x80001001u)                                          \
    /* Services: an allocation failed. */                                     \
    X(zstd_errOutOfMemory, 0x80001002u)                                       \
    /* Services: a broken precondition was reported to an assertion handler  \
     * that returned instead of stopping the process. */                      \
    X(zstd_errBrokenPrecondition, 0x80001003u)                                \
    /* Services: the matrix is singular. */                                   \
    X(zmath_errMatrixSingular, 0x80001101u)                                   \
    /* Services: the matrix's condition number exceeds the caller's limit. */ \
    X(zmath_errMatrixIllConditioned, 0x80001102u)                             \
    /* Services: matrix dimensions do not fit the operation. */               \
    X(zmath_errMatrixShape, 0x80001103u)                                      \
    /* Services: an iterative matrix algorithm did not converge. */           \
    X(zmath_errNoConvergence, 0x80001104u)                                    \
    /* Services: a unit vector of the zero vector was asked for. */           \
    X(zmath_errZeroLength, 0x80001105u)                                       \
    /* Services: the host's attention check asked the operation to stop. */   \
    X(zsys_errCancelled, 0x80001201u)                                         \
    /* Companion library, geometric fits: fewer points (or pairs) of          \
     * positive weight than the model has parameters, plus one to leave       \
     * a degree of freedom for the estimate of the noise. */                  \
    X(zmet_errTooFewPoints, 0x80002021u)                                      \
    /* Companion library: an iterative fit did not converge within its        \
     * iteration limit. */                                                    \
    X(zmet_errNotConverged, 0x80002022u)                                      \
    /* Companion library: an argument lies outside its documented range       \
     * (a probability not strictly between 0 and 1, degrees of freedom        \
     * not above 0). */                                                       \
    X(zmet_errOutOfRange, 0x80002023u)                                        \
    /* Roundness: a coordinate is NaN or infinite, or the points spread so   \
     * far that their extent or reference circle is not finite. */           \
    X(zmet_errNotFinite, 0x80002141u)                                         \
    /* Roundness: parameter maxRoundness below 0.0 (NaN and -0.0 pass). */    \
    X(zmet_errMaxRoundnessNegative, 0x80002142u)                              \
    /* Roundness: the points do not surround an inscribed circle (an open    \
     * arc, or a gap wider than the part). */                                 \
    X(zmet_errProfileOpen, 0x80002143u)                                       \
    /* Roundness: the search ended where the optimality condition of the     \
     * reference circle does not hold within its tolerance. */                \
    X(zmet_errNotCertified, 0x80002144u)

#define ZFIT_STATUS_ENUMERATOR_(name, bits) name = ZFIT_STATUS_BITS(bits),
enum { zfit_ok = 0, ZFIT_STATUS_TABLE(ZFIT_STATUS_ENUMERATOR_) };
#undef ZFIT_STATUS_ENUMERATOR_

/* Non-zero when the status reports a failure (its top bit is set). */
#define ZFIT_FAILED(status) ((int32_t)(status) < 0)

#endif
