// Point-to-point internals: the moment record, the moment pass, the four
// closed-form solvers and the measured residual. Not exported.
//
// The weighted and the unweighted fit share one implementation: every
// algorithm is a template over a weight source, either UnitWeights (every
// pair weighs exactly 1, and the multiplications by it are left out) or
// PairWeights (one double per pair). With all weights 1 the two give the
// same sums bit for bit.
#pragma once

#include <cstdint>

#include <zfit/frame/status.hpp>
#include <zfit/pointtopoint/pointtopoint.h>
#include <zfit/services/math.hpp>
#include <zfit/services/weights.hpp>

// The moment sums of the pairs: target point (x, y), source point (u, v),
// weight w (1 unweighted), each point measured from the origin of its side
// (the first pair of positive weight, recorded at the end). Cleared before
// every pass.
struct zfit_pointPointVals {
    int32_t count;     // pairs summed, pairs of weight 0 included
    double weightSum;  // N = S w; unweighted, the pair count
    double sumX, sumY;
    double sumU, sumV;
    double sumUU, sumVV, sumUV;
    double sumXU, sumXV, sumYU, sumYV;
    double sumXXYY;  // S w (x^2 + y^2), on request: the targets' scale, for the rotation fit's degeneracy test
    zmath_vect targetOrigin, sourceOrigin;  // where (x, y) and (u, v) are measured from
};

namespace zfit::p2p {

// The weight sources (zfit/services/weights.hpp): one weight per pair.
using UnitWeights = zsvc::UnitWeights;
using PairWeights = zsvc::GivenWeights;

// Relative degeneracy threshold: a determinant (or the pair of terms that
// fixes the rotation angle) counts as zero unless it exceeds this fraction
// of the sums it is formed from, so that the tests see through rounding
// noise and do not depend on the unit of the coordinates.
constexpr double kRelativeDeterminantFloor = 1e-12;
// A quotient is formed only when the denominator exceeds this fraction of
// the numerator: a smaller one is the rounding of a zero.
constexpr double kDivisionFloor = 1e-15;
// A quadratic is taken as linear when 4ac is below this fraction of b^2:
// the quadratic term then moves the small root by less than its rounding.
constexpr double kLinearQuadratic = 1e-15;
// A discriminant down to this fraction of -b^2 is the rounding of a double
// root and counts as 0.
constexpr double kDiscriminantRounding = 1e-12;

}  // namespace zfit::p2p

// Clears the record and sums the pairs into it, measured from the first
// pair of positive weight (from the origin when there is none); sumXXYY only
// when targetScale is set (it stays 0 otherwise). The weighted pass returns
// zmath_errFitWeightNegative when a weight is below 0 (the sums are then of
// no use); it does not judge NaN or infinite values, which leave non-finite
// sums (see zfit_pointPointVals_finite_).
zfit_status zmath_pointToPointFitUpdateVals_(const zmath_vect* target, const zmath_vect* source, int32_t count,
                                             bool targetScale, zfit_pointPointVals* vals);
zfit_status zmath_pointToPointFitUpdateValsWeighted_(const zmath_vect* target, const zmath_vect* source,
                                                     const double* weights, int32_t count, bool targetScale,
                                                     zfit_pointPointVals* vals);

// True when every sum is finite, that is no coordinate or weight was NaN or
// infinite and no square overflowed.
bool zfit_pointPointVals_finite_(const zfit_pointPointVals* vals);

// *quotient = numerator / denominator when |denominator| > kDivisionFloor |numerator|;
// otherwise zmath_errFitSolveFailed and *quotient untouched.
zfit_status zfit_guardedDivide_(double numerator, double denominator, double* quotient);

// The real roots of a x^2 + b x + c = 0, formed without cancellation: the
// first is (-b + r) / 2a, the second (-b - r) / 2a. When 4ac is negligible
// beside b^2 the equation is taken as linear and both roots are -c/b; a
// discriminant within rounding of 0 counts as 0; below that *count = 0.
// Always returns 0.
zfit_status zfit_solveQuadratic_(double a, double b, double c, double* first, double* second, int32_t* count);

// The solvers: each writes *xform and returns 0, or returns
// zmath_errFitSolveFailed (too few pairs, no positive weight, a degenerate
// configuration) with *xform untouched. The rotation solver needs the
// targets' scale in the record (summed with targetScale set); it measures
// its two candidates on the pairs (weights may be NULL: unweighted) in one
// pass and, when bestError is not NULL, reports the winner's RMS error
// there, which is the error the winner would be measured with again.
zfit_status zmath_pointToPointFit3Dof_(const zfit_pointPointVals* vals, zmath_xformLinear* xform,
                                       const zmath_vect* target, const zmath_vect* source, const double* weights,
                                       int32_t count, double* bestError);
zfit_status zmath_pointToPointFit4Dof_(const zfit_pointPointVals* vals, zmath_xformLinear* xform);
zfit_status zmath_pointToPointFit5Dof_(const zfit_pointPointVals* vals, zmath_xformLinear* xform);
zfit_status zmath_pointToPointFit6Dof_(const zfit_pointPointVals* vals, zmath_xformLinear* xform);

// *error = RMS distance between target i and xform(source i), measured from
// the points; weighted: sqrt(S w d^2 / S w). zmath_errFitSolveFailed with
// *error untouched when count is 0 or the weights sum to 0. Weights must
// not be negative (the entries have checked them).
zfit_status zmath_pointToPointFitRmsError_(const zmath_vect* target, const zmath_vect* source, int32_t count,
                                           const zmath_xformLinear* xform, double* error);
zfit_status zmath_pointToPointFitRmsErrorWeighted_(const zmath_vect* target, const zmath_vect* source,
                                                   const double* weights, int32_t count, const zmath_xformLinear* xform,
                                                   double* error);
