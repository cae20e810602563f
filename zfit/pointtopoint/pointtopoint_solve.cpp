// The numerical heart of the point-to-point fit: one pass that sums the
// pairs' moments, four closed-form least-squares solvers (one per number of
// degrees of freedom) and the residual measured from the points.
#include <cmath>
#include <initializer_list>

#include <zfit/frame/frame.hpp>
#include <zfit/pointtopoint/pointtopoint_internal.hpp>

namespace {

using zfit::p2p::PairWeights;
using zfit::p2p::relativeDeterminantFloor;
using zfit::p2p::UnitWeights;

// ---- moments ---------------------------------------------------------------

template <class W>
zfit_status updateVals(const zmath_vect* target, const zmath_vect* source, W weights, int32_t count,
                       zfit_pointPointVals* vals)
{
    ZFIT_TRY(zsys_memory_fill(0, sizeof *vals, vals));
    // Running sums in locals, so that the pass keeps them in registers.
    double n = 0.0, sx = 0.0, sy = 0.0, su = 0.0, sv = 0.0, suu = 0.0, svv = 0.0, suv = 0.0;
    double sxu = 0.0, sxv = 0.0, syu = 0.0, syv = 0.0, sxxyy = 0.0;
    bool negative = false;
    for (int32_t i = 0; i < count; ++i) {
        const double x = target[i].x, y = target[i].y, u = source[i].x, v = source[i].y;
        if constexpr (W::weighted) {
            const double w = weights[i];
            negative |= w < 0.0;
            const double wx = w * x, wy = w * y, wu = w * u, wv = w * v;
            n += w;
            sx += wx;
            sy += wy;
            su += wu;
            sv += wv;
            suu += wu * u;
            svv += wv * v;
            suv += wu * v;
            sxu += wx * u;
            sxv += wx * v;
            syu += wy * u;
            syv += wy * v;
            sxxyy += wx * x + wy * y;
        } else {
            sx += x;
            sy += y;
            su += u;
            sv += v;
            suu += u * u;
            svv += v * v;
            suv += u * v;
            sxu += x * u;
            sxv += x * v;
            syu += y * u;
            syv += y * v;
            sxxyy += x * x + y * y;
        }
    }
    if (negative) return zmath_errFitWeightNegative;
    if constexpr (!W::weighted) n = static_cast<double>(count);
    *vals = zfit_pointPointVals{count, n, sx, sy, su, sv, suu, svv, suv, sxu, sxv, syu, syv, sxxyy};
    return zfit_ok;
}

// ---- residual ----------------------------------------------------------------

template <class W>
zfit_status rmsError(const zmath_vect* target, const zmath_vect* source, W weights, int32_t count,
                     const zmath_xformLinear& xform, double* error)
{
    if (count <= 0) return zmath_errFitSolveFailed;
    double sum = 0.0, weightSum = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const zmath_vect d = zsvc::subtract(target[i], zsvc::mapPoint(xform, source[i]));
        const double squared = d.x * d.x + d.y * d.y;
        if constexpr (W::weighted) {
            sum += weights[i] * squared;
            weightSum += weights[i];
        } else {
            sum += squared;
        }
    }
    if constexpr (W::weighted) {
        if (!(weightSum > 0.0)) return zmath_errFitSolveFailed;
        *error = std::sqrt(sum / weightSum);
    } else {
        *error = std::sqrt(sum / static_cast<double>(count));
    }
    return zfit_ok;
}

// ---- solvers -------------------------------------------------------------------

// Enough pairs for the solver, and some weight on them.
bool enoughPairs(const zfit_pointPointVals& s, int32_t fewest) { return s.count >= fewest && s.weightSum > 0.0; }

// Matrix first, then the translation that maps the weighted centroid of the
// sources onto that of the targets.
zfit_status setXform(const zfit_pointPointVals& s, double m00, double m01, double m10, double m11,
                     zmath_xformLinear* xform)
{
    const double n = s.weightSum;
    ZFIT_TRY(zmath_matrix_init(&xform->matrix, m00, m01, m10, m11));
    return zmath_vect_init(&xform->translation, (s.sumX - m00 * s.sumU - m01 * s.sumV) / n,
                           (s.sumY - m10 * s.sumU - m11 * s.sumV) / n);
}

// The centred sums of the 5- and 6-parameter solvers.
struct Centred {
    double uu, vv, uv, xu, xv, yu, yv;
};

Centred centred(const zfit_pointPointVals& s)
{
    const double n = s.weightSum;
    return {s.sumUU - s.sumU * s.sumU / n, s.sumVV - s.sumV * s.sumV / n, s.sumUV - s.sumU * s.sumV / n,
            s.sumXU - s.sumX * s.sumU / n, s.sumXV - s.sumX * s.sumV / n, s.sumYU - s.sumY * s.sumU / n,
            s.sumYV - s.sumY * s.sumV / n};
}

// True when the sources span the plane: the determinant of their centred
// second moments clears the rounding noise those moments carry. That noise
// is set by the uncentred sums the centred ones are taken from, so the
// floor is measured against them; a floor against the centred sums alone
// lets through lines of sources close to an axis, whose small centred sum
// is itself nothing but noise.
bool sourcesSpanThePlane(const zfit_pointPointVals& s, const Centred& k)
{
    const double d = k.uu * k.vv - k.uv * k.uv;
    return d > relativeDeterminantFloor * (k.uu + k.vv) * (s.sumUU + s.sumVV) &&
           d > relativeDeterminantFloor * k.uu * k.vv;
}

// Four guarded quotients over one denominator, in the order m00, m01, m10,
// m11; the first that fails ends the solver.
zfit_status divideAll(const double (&numerators)[4], double denominator, double (&m)[4])
{
    for (int k = 0; k < 4; ++k) ZFIT_TRY(zfit_guardedDivide_(numerators[k], denominator, &m[k]));
    return zfit_ok;
}

// A proper rotation (mirror false) or a rotation combined with a reflection
// in the source x axis, fitted by its angle, measured on the pairs.
struct RotationCandidate {
    bool found;
    zmath_xformLinear xform;
};

RotationCandidate rotationCandidate(const zfit_pointPointVals& s, bool mirror, double degenerate)
{
    const double n = s.weightSum;
    // Mirroring the sources in their x axis turns v into -v.
    const double sV = mirror ? -s.sumV : s.sumV, sXV = mirror ? -s.sumXV : s.sumXV, sYV = mirror ? -s.sumYV : s.sumYV;
    const double c = n * (s.sumXU + sYV) - s.sumX * s.sumU - s.sumY * sV;
    const double sn = n * (s.sumYU - sXV) + s.sumX * sV - s.sumY * s.sumU;
    // No preferred angle: every rotation fits equally well.
    if (!(std::hypot(c, sn) > degenerate)) return {false, {}};
    const double theta = std::atan2(sn, c);
    const double co = std::cos(theta), si = std::sin(theta);
    const double tx = (s.sumX - co * s.sumU + si * sV) / n, ty = (s.sumY - si * s.sumU - co * sV) / n;
    zmath_xformLinear xform{{tx, ty}, {co, -si, si, co}};
    if (mirror) xform.matrix = {co, si, si, -co};  // the proper formula applied to (u, -v)
    return {true, xform};
}

template <class W>
zfit_status fit3Dof(const zfit_pointPointVals& s, zmath_xformLinear* xform, const zmath_vect* target,
                    const zmath_vect* source, W weights, int32_t count, double* bestError)
{
    if (!enoughPairs(s, 3)) return zmath_errFitSolveFailed;
    // The angle's terms are differences of products of target and source
    // moments; below this floor they are rounding noise, whatever the unit.
    const double degenerate =
        relativeDeterminantFloor * s.weightSum * std::sqrt(s.sumXXYY * (s.sumUU + s.sumVV));
    double best = HUGE_VAL;
    for (const bool mirror : {false, true}) {
        const RotationCandidate candidate = rotationCandidate(s, mirror, degenerate);
        if (!candidate.found) continue;
        double error = 0.0;
        ZFIT_TRY(rmsError(target, source, weights, count, candidate.xform, &error));
        if (error < best) {  // strict: a tie keeps the proper rotation
            best = error;
            *xform = candidate.xform;
        }
    }
    if (best == HUGE_VAL) return zmath_errFitSolveFailed;
    if (bestError != nullptr) *bestError = best;
    return zfit_ok;
}

}  // namespace

// ---- the named steps -------------------------------------------------------------

zfit_status zmath_pointToPointFitUpdateVals_(const zmath_vect* target, const zmath_vect* source, int32_t count,
                                             zfit_pointPointVals* vals)
{
    return updateVals(target, source, UnitWeights{}, count, vals);
}

zfit_status zmath_pointToPointFitUpdateValsWeighted_(const zmath_vect* target, const zmath_vect* source,
                                                     const double* weights, int32_t count, zfit_pointPointVals* vals)
{
    return updateVals(target, source, PairWeights{weights}, count, vals);
}

bool zfit_pointPointVals_finite_(const zfit_pointPointVals* s)
{
    const double all[] = {s->weightSum, s->sumX,  s->sumY,  s->sumU,  s->sumV,  s->sumUU,  s->sumVV,
                          s->sumUV,     s->sumXU, s->sumXV, s->sumYU, s->sumYV, s->sumXXYY};
    for (const double value : all)
        if (!std::isfinite(value)) return false;
    return true;
}

zfit_status zfit_guardedDivide_(double numerator, double denominator, double* quotient)
{
    if (!(std::fabs(denominator) > 1e-15 * std::fabs(numerator))) return zmath_errFitSolveFailed;
    *quotient = numerator / denominator;
    return zfit_ok;
}

zfit_status zfit_solveQuadratic_(double a, double b, double c, double* first, double* second, int32_t* count)
{
    const double bb = b * b;
    const double disc = bb - 4.0 * a * c;
    // Linear when the quadratic term cannot move the small root beyond
    // rounding: both roots are then -c/b (b = 0 gives a non-finite root,
    // which the caller's checks reject).
    if (std::fabs(4.0 * a * c) <= 1e-15 * bb) {
        *first = *second = -c / b;
        *count = 1;
        return zfit_ok;
    }
    double r = 0.0;
    if (disc >= 0.0) {
        r = std::sqrt(disc);
    } else if (!(disc >= -1e-12 * bb)) {  // a negative discriminant beyond rounding: no real root
        *count = 0;
        return zfit_ok;
    }
    if (b >= 0.0) {
        const double q = -0.5 * (b + r);
        *first = c / q;
        *second = q / a;
    } else {
        const double q = -0.5 * (b - r);
        *first = q / a;
        *second = c / q;
    }
    *count = 2;
    return zfit_ok;
}

zfit_status zmath_pointToPointFit6Dof_(const zfit_pointPointVals* vals, zmath_xformLinear* xform)
{
    const zfit_pointPointVals& s = *vals;
    if (!enoughPairs(s, 3)) return zmath_errFitSolveFailed;
    const Centred k = centred(s);
    // Sources on one line leave d at rounding noise.
    if (!sourcesSpanThePlane(s, k)) return zmath_errFitSolveFailed;
    const double d = k.uu * k.vv - k.uv * k.uv;
    double m[4];
    ZFIT_TRY(divideAll({k.vv * k.xu - k.uv * k.xv, k.uu * k.xv - k.uv * k.xu, k.vv * k.yu - k.uv * k.yv,
                        k.uu * k.yv - k.uv * k.yu},
                       d, m));
    return setXform(s, m[0], m[1], m[2], m[3], xform);
}

zfit_status zmath_pointToPointFit5Dof_(const zfit_pointPointVals* vals, zmath_xformLinear* xform)
{
    const zfit_pointPointVals& s = *vals;
    if (!enoughPairs(s, 3)) return zmath_errFitSolveFailed;
    const Centred k = centred(s);
    // Sources on one line leave a whole family of such matrices equally good.
    // The quadratic below then has a double root, which rounding splits by
    // about the square root of the machine epsilon: too far for the test on
    // its d, so the sources' spread is tested first, as for 6 dof.
    if (!sourcesSpanThePlane(s, k)) return zmath_errFitSolveFailed;
    // The matrix is ((xu, xv); (yu, yv)) times the inverse of ((uu, -k); (-k, vv))
    // for the k that makes its columns orthogonal: a root of this quadratic.
    // Its first root is the one of smaller magnitude, which keeps that
    // matrix positive definite: the minimum.
    const double qa = k.xu * k.xv + k.yu * k.yv;
    const double qb = k.uu * (k.xv * k.xv + k.yv * k.yv) + k.vv * (k.xu * k.xu + k.yu * k.yu);
    const double qc = k.uu * k.vv * qa;
    double root = 0.0, other = 0.0;
    int32_t roots = 0;
    ZFIT_TRY(zfit_solveQuadratic_(qa, qb, qc, &root, &other, &roots));
    if (roots == 0) return zmath_errFitSolveFailed;
    const double d = k.uu * k.vv - root * root;
    // Sources on one line (or a double root) leave d at rounding noise.
    if (!(d > relativeDeterminantFloor * k.uu * k.vv)) return zmath_errFitSolveFailed;
    double m[4];
    ZFIT_TRY(divideAll({k.vv * k.xu + root * k.xv, k.uu * k.xv + root * k.xu, k.vv * k.yu + root * k.yv,
                        k.uu * k.yv + root * k.yu},
                       d, m));
    return setXform(s, m[0], m[1], m[2], m[3], xform);
}

zfit_status zmath_pointToPointFit4Dof_(const zfit_pointPointVals* vals, zmath_xformLinear* xform)
{
    const zfit_pointPointVals& s = *vals;
    if (!enoughPairs(s, 2)) return zmath_errFitSolveFailed;
    const double n = s.weightSum;
    const double spread = n * (s.sumUU + s.sumVV);
    const double d = spread - s.sumU * s.sumU - s.sumV * s.sumV;
    // Sources all at one place leave d at rounding noise of the spread.
    if (!(d > relativeDeterminantFloor * spread)) return zmath_errFitSolveFailed;
    double a = 0.0, b = 0.0;
    ZFIT_TRY(zfit_guardedDivide_(n * (s.sumXU + s.sumYV) - s.sumX * s.sumU - s.sumY * s.sumV, d, &a));
    ZFIT_TRY(zfit_guardedDivide_(n * (s.sumYU - s.sumXV) + s.sumX * s.sumV - s.sumY * s.sumU, d, &b));
    return setXform(s, a, -b, b, a, xform);
}

zfit_status zmath_pointToPointFit3Dof_(const zfit_pointPointVals* vals, zmath_xformLinear* xform,
                                       const zmath_vect* target, const zmath_vect* source, const double* weights,
                                       int32_t count, double* bestError)
{
    if (weights != nullptr) return fit3Dof(*vals, xform, target, source, PairWeights{weights}, count, bestError);
    return fit3Dof(*vals, xform, target, source, UnitWeights{}, count, bestError);
}

zfit_status zmath_pointToPointFitRmsError_(const zmath_vect* target, const zmath_vect* source, int32_t count,
                                           const zmath_xformLinear* xform, double* error)
{
    return rmsError(target, source, UnitWeights{}, count, *xform, error);
}

zfit_status zmath_pointToPointFitRmsErrorWeighted_(const zmath_vect* target, const zmath_vect* source,
                                                   const double* weights, int32_t count,
                                                   const zmath_xformLinear* xform, double* error)
{
    return rmsError(target, source, PairWeights{weights}, count, *xform, error);
}
