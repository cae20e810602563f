// The point-to-line building blocks: clear a record, fold a weighted pair
// into it, solve it for the six parameters, and score a transform from it.
//
// Method: linear least squares. The signed distance of the mapped point
// T(p) = M p + t from the line -x sin + y cos = d is linear in the six
// parameters p = (m00, m01, m10, m11, tx, ty), so the sum of squared
// distances is a quadratic form p^T H p - 2 q^T p + const; the record holds
// its distinct coefficients (29 of them) and the solve takes H p = q, the
// normal equations, with the rows and columns balanced and the condition
// number checked.
#include <algorithm>
#include <cmath>

#include <zfit/pointtoline/pointtoline_internal.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/nmmatrix.h>
#include <zfit/services/system.h>

namespace {

using zfit::p2l::kConditionLimit;
using zfit::p2l::kParams;
using zfit::p2l::linearIndex;
using zfit::p2l::productIndex;

constexpr int32_t kOneNormConditionCheck = 1;

// p = (m00, m01, m10, m11, tx, ty) of a transform.
void parameters(const zmath_xformLinear& xf, double p[kParams])
{
    p[0] = xf.matrix.m00;
    p[1] = xf.matrix.m01;
    p[2] = xf.matrix.m10;
    p[3] = xf.matrix.m11;
    p[4] = xf.translation.x;
    p[5] = xf.translation.y;
}

// The power of two d with d^2 h near 1, for a diagonal element h of the
// normal equations; 1 when h is not positive and finite.
double balancingFactor(double h)
{
    if (!(h > 0.0) || !std::isfinite(h)) return 1.0;
    int exponent = 0;
    std::frexp(h, &exponent);
    return std::ldexp(1.0, -std::clamp(exponent, -1000, 1000) / 2);
}

}  // namespace

extern "C" {

zfit_status zfit_pointLineVals_init_(zfit_pointLineVals* vals) { return zsys_memory_fill(0, sizeof *vals, vals); }

zfit_status zmath_pointToLineFitUpdateValsWeighted_(double a, double b, double e, double x, double y, double w,
                                                    zfit_pointLineVals* vals)
{
    zfit::p2l::addPair(a, b, e, x, y, w, vals->values);
    return zfit_ok;
}

zfit_status zmath_pointToLineFit6Dof_(const zfit_pointLineVals* vals, zmath_xformLinear* xform)
{
    // The minimum of sum w r^2 has zero gradient: H p = q with H[i][i] twice
    // the coefficient of p_i^2, H[i][j] = H[j][i] that of p_i p_j, and q[i]
    // minus that of p_i. The constant and the total weight play no part.
    //
    // The system is balanced first: with D the diagonal of powers of two
    // that bring H's diagonal near 1, (D H D) y = D q and p = D y is the same
    // system to the last bit (scaling by powers of two rounds nothing), but
    // the condition number the solve judges no longer counts the units of
    // the parameters: points measured in a unit a million times smaller or
    // larger than the lines' (their matrix parameters a million times larger
    // or smaller than the translation) fit as well as in the lines' unit.
    zsvc::Owned<zmath_nmmatrix> h, q, solution;
    ZFIT_TRY(h.construct(zmath_nmmatrix_constructRowsCols, kParams, kParams));
    ZFIT_TRY(q.construct(zmath_nmmatrix_constructRowsCols, kParams, 1));
    ZFIT_TRY(solution.construct(zmath_nmmatrix_construct));
    const double* v = vals->values;
    double balance[kParams];
    for (int i = 0; i < kParams; ++i) balance[i] = balancingFactor(2.0 * v[productIndex(i, i)]);
    for (int i = 0; i < kParams; ++i) {
        h->rows[i][i] = balance[i] * (2.0 * v[productIndex(i, i)]) * balance[i];
        for (int j = i + 1; j < kParams; ++j)
            h->rows[i][j] = h->rows[j][i] = balance[i] * v[productIndex(i, j)] * balance[j];
        q->rows[i][0] = balance[i] * -v[linearIndex(i)];
    }
    double condition = 0.0;
    ZFIT_TRY(
        zmath_nmmatrix_solve(h.get(), q.get(), solution.get(), kOneNormConditionCheck, &condition, kConditionLimit));
    // A non-finite right-hand side solves "successfully" into NaN; such a
    // record determines no transform.
    double p[kParams];
    for (int i = 0; i < kParams; ++i) {
        p[i] = balance[i] * solution->rows[i][0];
        ZFIT_FAIL_IF(!std::isfinite(p[i]), zmath_errFitSolveFailed);
    }
    xform->matrix.m00 = p[0];
    xform->matrix.m01 = p[1];
    xform->matrix.m10 = p[2];
    xform->matrix.m11 = p[3];
    xform->translation.x = p[4];
    xform->translation.y = p[5];
    return zfit_ok;
}

zfit_status zmath_pointToLineFitRmsError_(const zfit_pointLineVals* vals, const zmath_xformLinear* xform, double* error)
{
    const double* v = vals->values;
    const double total = v[zfit_pointLineVal_weight];
    ZFIT_FAIL_IF(!(total > 0.0), zmath_errFitSolveFailed);
    double p[kParams];
    parameters(*xform, p);
    double f = v[zfit_pointLineVal_constant];
    for (int i = 0; i < kParams; ++i) {
        double row = v[linearIndex(i)];
        for (int j = i; j < kParams; ++j) row += v[productIndex(i, j)] * p[j];
        f += row * p[i];
    }
    // At an exact fit F is 0 up to rounding, which may fall either side.
    if (f < 0.0) f = 0.0;
    *error = std::sqrt(f / total);
    return zfit_ok;
}

}  // extern "C"
