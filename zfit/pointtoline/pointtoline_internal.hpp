// Point-to-line internals: folding pairs into a zfit_pointLineVals record and
// measuring the residual from the pairs. Weighted and unweighted fits run
// the same templates; the unweighted ones see a weight of exactly 1.0, which
// the compiler folds away, so both give bit-for-bit the results of the
// weighted path with unit weights. Not exported.
#pragma once

#include <cmath>
#include <cstdint>

#include <zfit/frame/status.hpp>
#include <zfit/pointtoline/pointtoline.h>
#include <zfit/services/math.hpp>
#include <zfit/services/weights.hpp>

namespace zfit::p2l {

// The solve refuses normal equations whose 1-norm condition number exceeds
// this: beyond it the six parameters would keep fewer than four digits.
constexpr double kConditionLimit = 1e12;

constexpr int kParams = 6;
constexpr int kValues = zfit_pointLineVal_count;
static_assert(kValues == 29);
static_assert(sizeof(zfit_pointLineVals) == kValues * sizeof(double));

// Where parameter i's row of the record starts: the coefficients of
// p_i*p_i .. p_i*p_5, then that of p_i alone. Row i holds 7 - i values.
constexpr int rowStart(int i) { return i == 0 ? 0 : rowStart(i - 1) + 7 - (i - 1); }
// The coefficient of p_i*p_j (i <= j), and of p_i alone.
constexpr int productIndex(int i, int j) { return rowStart(i) + (j - i); }
constexpr int linearIndex(int i) { return rowStart(i) + kParams - i; }
static_assert(productIndex(0, 0) == zfit_pointLineVal_m00m00 && linearIndex(0) == zfit_pointLineVal_m00);
static_assert(productIndex(1, 2) == zfit_pointLineVal_m01m10 && linearIndex(3) == zfit_pointLineVal_m11);
static_assert(productIndex(4, 4) == zfit_pointLineVal_txtx && linearIndex(5) == zfit_pointLineVal_ty);
static_assert(linearIndex(5) + 1 == zfit_pointLineVal_constant);

// Adds one pair with the line's normal form (a, b, e), the point (x, y) and
// weight w: with g = (a x, a y, b x, b y, a, b) the pair adds w g_i g_j
// (doubled off the diagonal), 2 w e g_i, w e^2 and w. Written out term by
// term: the compiler keeps it in registers and pairs up the products, well
// ahead of a loop over the triangle.
inline void addPair(double a, double b, double e, double x, double y, double w, double* v)
{
    const double g0 = a * x, g1 = a * y, g2 = b * x, g3 = b * y, g4 = a, g5 = b;
    const double w0 = w * g0, w1 = w * g1, w2 = w * g2, w3 = w * g3, w4 = w * g4, w5 = w * g5;
    const double t0 = 2.0 * w0, t1 = 2.0 * w1, t2 = 2.0 * w2, t3 = 2.0 * w3, t4 = 2.0 * w4, t5 = 2.0 * w5;
    // m00 row: m00^2, m00 m01, m00 m10, m00 m11, m00 tx, m00 ty, m00.
    v[0] += w0 * g0, v[1] += t0 * g1, v[2] += t0 * g2, v[3] += t0 * g3, v[4] += t0 * g4, v[5] += t0 * g5;
    v[6] += t0 * e;
    // m01 row, m10 row, m11 row, tx row, ty row: each from its own square on.
    v[7] += w1 * g1, v[8] += t1 * g2, v[9] += t1 * g3, v[10] += t1 * g4, v[11] += t1 * g5, v[12] += t1 * e;
    v[13] += w2 * g2, v[14] += t2 * g3, v[15] += t2 * g4, v[16] += t2 * g5, v[17] += t2 * e;
    v[18] += w3 * g3, v[19] += t3 * g4, v[20] += t3 * g5, v[21] += t3 * e;
    v[22] += w4 * g4, v[23] += t4 * g5, v[24] += t4 * e;
    v[25] += w5 * g5, v[26] += t5 * e;
    // The constant and the total weight.
    v[27] += w * e * e;
    v[28] += w;
}

// Weight sources of the shared templates (zfit/services/weights.hpp). The
// weights are checked before anything is summed: a negative weight would
// make the sum indefinite and its RMS a NaN.
using zsvc::GivenWeights;
using zsvc::UnitWeights;

// The point the fit measures the points from while it folds them into a
// record: the first point of positive weight (the origin when there is
// none). Raw coordinates far from the origin compared with their spread make
// the 6x6 system ill-conditioned by about the square of that ratio, which
// costs digits and, far enough out, the solve's condition limit; measured
// from a point of their own it depends on the shape of the point set alone.
// For points on a grid (whole pixels) the shift rounds nothing, so a system
// that is exactly singular stays so; the solve's balancing takes care of the
// points' unit.
template <class Weights>
zmath_vect referencePoint(const zmath_vect* points, Weights weights, int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        if (weights[i] > 0.0) return points[i];
    return {0.0, 0.0};
}

// The transform in the caller's coordinates from the one fitted to points
// measured from c: T'(p - c) = M p + (t' - M c).
inline zmath_xformLinear fromReference(const zmath_xformLinear& fitted, const zmath_vect& c)
{
    return {zsvc::subtract(fitted.translation, zsvc::mapPoint(fitted.matrix, c)), fitted.matrix};
}

// Folds pairs 0 .. count-1 into the record, in index order, each point
// measured from `reference`. A line enters as a = -sine, b = cosine and e =
// minus its signed distance from the origin.
template <class Weights>
void accumulate(const zmath_vect* points, const zmath_shapeFLine* lines, Weights weights, int32_t count,
                const zmath_vect& reference, zfit_pointLineVals* vals)
{
    constexpr zmath_vect origin{0.0, 0.0};
    // A local copy, so that the sums need not be re-read after every store
    // (the record could otherwise alias the points).
    zfit_pointLineVals sums = *vals;
    for (int32_t i = 0; i < count; ++i) {
        const zmath_shapeFLine& line = lines[i];
        const zmath_vect p = zsvc::subtract(points[i], reference);
        addPair(-line.sine, line.cosine, -zsvc::distanceFrom(line, origin), p.x, p.y, weights[i], sums.values);
    }
    *vals = sums;
}

// The RMS distance of the mapped points from their lines, measured pair by
// pair: sqrt(sum w d^2 / sum w). zmath_errFitSolveFailed (error untouched)
// when the total weight is not above 0, no pairs among them.
template <class Weights>
zfit_status measuredRmsError(const zmath_vect* points, const zmath_shapeFLine* lines, Weights weights, int32_t count,
                             const zmath_xformLinear& xform, double* error)
{
    double sum = 0.0, total = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const double d = zsvc::distanceFrom(lines[i], zsvc::mapPoint(xform, points[i]));
        const double w = weights[i];
        sum += w * d * d;
        total += w;
    }
    ZFIT_FAIL_IF(!(total > 0.0), zmath_errFitSolveFailed);
    *error = std::sqrt(sum / total);
    return zfit_ok;
}

}  // namespace zfit::p2l

// The named internal operations of the family.

// One pair with weight 1 (the total weight grows by 1.0).
inline zfit_status zmath_pointToLineFitUpdateVals_(double a, double b, double e, double x, double y,
                                                   zfit_pointLineVals* vals)
{
    zfit::p2l::addPair(a, b, e, x, y, 1.0, vals->values);
    return zfit_ok;
}

// Measured RMS error, unweighted: zmath_errFitSolveFailed for no pairs.
inline zfit_status zmath_pointToLineFitMeasuredRmsError_(const zmath_vect* points, const zmath_shapeFLine* lines,
                                                         int32_t count, const zmath_xformLinear* xform, double* error)
{
    return zfit::p2l::measuredRmsError(points, lines, zfit::p2l::UnitWeights{}, count, *xform, error);
}

// Measured RMS error, weighted: zmath_errFitSolveFailed for no pairs or a
// total weight not above 0.
inline zfit_status zmath_pointToLineFitMeasuredRmsErrorWeighted_(const zmath_vect* points,
                                                                 const zmath_shapeFLine* lines, const double* weights,
                                                                 int32_t count, const zmath_xformLinear* xform,
                                                                 double* error)
{
    return zfit::p2l::measuredRmsError(points, lines, zfit::p2l::GivenWeights{weights}, count, *xform, error);
}
