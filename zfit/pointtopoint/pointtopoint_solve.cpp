// The numerical heart of the point-to-point fit: one pass that sums the
// pairs' moments, four closed-form least-squares solvers (one per number of
// degrees of freedom) and the residual measured from the points.
//
// Every solver works on the centred moments (sources u, v and targets x, y
// about their weighted centroids; the translation then maps centroid onto
// centroid) and is the closed form of its least-squares problem:
//   3 dof  the rotation angle of the 2-D orthogonal Procrustes problem, the
//          plane case of the SVD solutions of Arun, Huang and Blostein
//          ("Least-squares fitting of two 3-D point sets", IEEE TPAMI 9,
//          1987) and of Horn ("Closed-form solution of absolute
//          orientation using unit quaternions", JOSA A 4, 1987):
//          theta = atan2(S(yu - xv), S(xu + yv)). The reflection is fitted the same way on (u, -v)
//          and kept only when its error is smaller, where the SVD methods
//          decide by the sign of a determinant (Umeyama's correction);
//   4 dof  the similarity of Umeyama ("Least-squares estimation of
//          transformation parameters between two point patterns", IEEE
//          TPAMI 13, 1991) in the plane, where rotation and scale are one
//          complex factor a + ib: a = S(xu + yv) / S(u^2 + v^2),
//          b = S(yu - xv) / S(u^2 + v^2);
//   5 dof  a matrix with orthogonal columns: the normal equations of the
//          general matrix with a Lagrange multiplier for the orthogonality
//          constraint, the multiplier the smaller root of a quadratic
//          (written out at the solver);
//   6 dof  the affine map, M = X U^T (U U^T)^-1 from the 2x2 normal
//          equations.
#include <array>
#include <cmath>
#include <cstring>

#include <zfit/family/frame.hpp>
#include <zfit/pointtopoint/pointtopoint_internal.hpp>
#include <zfit/services/math.hpp>

namespace {

using zfit::p2p::kDiscriminantRounding;
using zfit::p2p::kDivisionFloor;
using zfit::p2p::kLinearQuadratic;
using zfit::p2p::kRelativeDeterminantFloor;
using zfit::p2p::PairWeights;
using zfit::p2p::UnitWeights;

// ---- moments ---------------------------------------------------------------

// Every sum below is kept in lanes (zsvc::Lanes), so it takes its terms one
// by one in index order, as a scalar loop would.
using zsvc::Lanes;
static_assert(sizeof(zmath_vect) == sizeof(Lanes));

Lanes lanes(const zmath_vect& p)
{
    Lanes out;
    std::memcpy(&out, &p, sizeof out);
    return out;
}

Lanes swapped(Lanes v) { return Lanes{v[1], v[0]}; }

// The pair the moments are measured from: the first of positive weight (the
// origin when there is none). About the origin, the moments of points far
// from it (unit spread at offset 1e6) keep little more than the rounding of
// their squares, and whether a fit succeeded would depend on where the data
// lie; about a pair of their own they keep the digits of the data's spread,
// and a shift of all points changes nothing.
template <class W>
void referencePair(const zmath_vect* target, const zmath_vect* source, W weights, int32_t count, Lanes* targetOrigin,
                   Lanes* sourceOrigin)
{
    *targetOrigin = Lanes{};
    *sourceOrigin = Lanes{};
    for (int32_t i = 0; i < count; ++i) {
        if (!(weights[i] > 0.0)) continue;
        *targetOrigin = lanes(target[i]);
        *sourceOrigin = lanes(source[i]);
        return;
    }
}

template <class W, bool TargetScale>
zfit_status sumPairs(const zmath_vect* target, const zmath_vect* source, W weights, int32_t count,
                     zfit_pointPointVals* vals)
{
    ZFIT_TRY(zsys_memory_fill(0, sizeof *vals, vals));
    Lanes targetOrigin, sourceOrigin;
    referencePair(target, source, weights, count, &targetOrigin, &sourceOrigin);
    // With p = (x, y), q = (u, v) (each measured from its origin) and their
    // weighted forms a = w p, b = w q: (x, y) += a, (u, v) += b,
    // (xu, yv) += a q, (xv, yu) += a q~, (uu, vv) += b q, (uv, vu) += b q~,
    // (xx, yy) += a p, where q~ = (v, u).
    Lanes t{}, s{}, straight{}, crossed{}, ss{}, sCrossed{}, tt{};
    double n = 0.0;
    bool negative = false;
    for (int32_t i = 0; i < count; ++i) {
        const Lanes p = lanes(target[i]) - targetOrigin, q = lanes(source[i]) - sourceOrigin, qSwapped = swapped(q);
        Lanes a = p, b = q;
        if constexpr (W::weighted) {
            const double w = weights[i];
            negative |= w < 0.0;
            n += w;
            a = p * w;
            b = q * w;
        }
        t += a;
        s += b;
        straight += a * q;
        crossed += a * qSwapped;
        ss += b * q;
        sCrossed += b * qSwapped;
        if constexpr (TargetScale) tt += a * p;
    }
    ZFIT_FAIL_IF(negative, zmath_errFitWeightNegative);
    if constexpr (!W::weighted) n = static_cast<double>(count);
    *vals = zfit_pointPointVals{count,
                                n,
                                t[0],
                                t[1],
                                s[0],
                                s[1],
                                ss[0],
                                ss[1],
                                sCrossed[0],
                                straight[0],
                                crossed[0],
                                crossed[1],
                                straight[1],
                                tt[0] + tt[1],
                                {targetOrigin[0], targetOrigin[1]},
                                {sourceOrigin[0], sourceOrigin[1]}};
    return zfit_ok;
}

// The targets' scale (x^2 + y^2) is summed only when asked for: the
// rotation fit alone needs it, and it would cost every other fit a sum.
template <class W>
zfit_status updateVals(const zmath_vect* target, const zmath_vect* source, W weights, int32_t count, bool targetScale,
                       zfit_pointPointVals* vals)
{
    if (targetScale) return sumPairs<W, true>(target, source, weights, count, vals);
    return sumPairs<W, false>(target, source, weights, count, vals);
}

// ---- residual ----------------------------------------------------------------

// A transform laid out for lane-wise mapping. Mapping q = (u, v) gives
// (m00 u + m01 v + tx, m11 v + m10 u + ty): lane by lane the arithmetic of
// zsvc::mapPoint, since the two products of each lane are added in one
// step, so the image is the same to the last bit.
struct LaneXform {
    Lanes diagonal, antidiagonal, translation;
};

LaneXform laneXform(const zmath_xformLinear& x)
{
    const zmath_matrix& m = x.matrix;
    return {Lanes{m.m00, m.m11}, Lanes{m.m01, m.m10}, Lanes{x.translation.x, x.translation.y}};
}

// The squared offsets of pair i, lane-wise: (dx^2, dy^2), d = target - mapped.
Lanes squaredOffset(const zmath_vect* target, const zmath_vect* source, int32_t i, const LaneXform& xform)
{
    const Lanes q = lanes(source[i]);
    const Lanes mapped = (xform.diagonal * q + xform.antidiagonal * swapped(q)) + xform.translation;
    const Lanes d = lanes(target[i]) - mapped;
    return d * d;
}

// The RMS errors of K transforms, measured in one pass over the pairs. Each
// keeps two partial sums, over the even and the odd pairs, so that the pass
// does not wait on one long chain of additions.
template <class W, std::size_t K>
zfit_status rmsErrors(const zmath_vect* target, const zmath_vect* source, W weights, int32_t count,
                      const std::array<zmath_xformLinear, K>& xforms, std::array<double, K>& errors)
{
    ZFIT_FAIL_IF(count <= 0, zmath_errFitSolveFailed);
    std::array<LaneXform, K> laid;
    for (std::size_t k = 0; k < K; ++k) laid[k] = laneXform(xforms[k]);
    std::array<Lanes, K> even{}, odd{};
    Lanes weightSum{};
    int32_t i = 0;
    for (; i + 2 <= count; i += 2) {
        for (std::size_t k = 0; k < K; ++k) {
            const Lanes e = squaredOffset(target, source, i, laid[k]);
            const Lanes o = squaredOffset(target, source, i + 1, laid[k]);
            if constexpr (W::weighted) {
                even[k] += weights[i] * e;
                odd[k] += weights[i + 1] * o;
            } else {
                even[k] += e;
                odd[k] += o;
            }
        }
        if constexpr (W::weighted) weightSum += Lanes{weights[i], weights[i + 1]};
    }
    if (i < count) {
        for (std::size_t k = 0; k < K; ++k) {
            const Lanes e = squaredOffset(target, source, i, laid[k]);
            if constexpr (W::weighted) {
                even[k] += weights[i] * e;
            } else {
                even[k] += e;
            }
        }
        if constexpr (W::weighted) weightSum[0] += weights[i];
    }
    double total = static_cast<double>(count);
    if constexpr (W::weighted) {
        total = weightSum[0] + weightSum[1];
        ZFIT_FAIL_IF(!(total > 0.0), zmath_errFitSolveFailed);
    }
    for (std::size_t k = 0; k < K; ++k)
        errors[k] = std::sqrt(((even[k][0] + even[k][1]) + (odd[k][0] + odd[k][1])) / total);
    return zfit_ok;
}

template <class W>
zfit_status rmsError(const zmath_vect* target, const zmath_vect* source, W weights, int32_t count,
                     const zmath_xformLinear& xform, double* error)
{
    const std::array<zmath_xformLinear, 1> one{xform};
    std::array<double, 1> measured{};
    ZFIT_TRY(rmsErrors(target, source, weights, count, one, measured));
    *error = measured[0];
    return zfit_ok;
}

// ---- solvers -------------------------------------------------------------------

// Enough pairs for the solver, and some weight on them.
bool enoughPairs(const zfit_pointPointVals& s, int32_t fewest) { return s.count >= fewest && s.weightSum > 0.0; }

// The translation that goes with matrix m: it maps the weighted centroid of
// the sources onto that of the targets. Found about the recorded origins,
// then moved to the caller's: t = t' + targetOrigin - m sourceOrigin.
zmath_vect translationFor(const zfit_pointPointVals& s, const zmath_matrix& m)
{
    const double n = s.weightSum;
    const zmath_vect local{(s.sumX - m.m00 * s.sumU - m.m01 * s.sumV) / n,
                           (s.sumY - m.m10 * s.sumU - m.m11 * s.sumV) / n};
    const zmath_vect origins = zsvc::subtract(s.targetOrigin, zsvc::mapPoint(m, s.sourceOrigin));
    return zsvc::add(origins, local);
}

// Matrix first, then its translation.
zfit_status setXform(const zfit_pointPointVals& s, double m00, double m01, double m10, double m11,
                     zmath_xformLinear* xform)
{
    ZFIT_TRY(zmath_matrix_init(&xform->matrix, m00, m01, m10, m11));
    const zmath_vect t = translationFor(s, xform->matrix);
    return zmath_vect_init(&xform->translation, t.x, t.y);
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
// is set by the sums the centred ones are taken from (about the reference
// pair, so within the data's own spread), hence the first floor; the second
// keeps the test relative to each axis, so that sources on a line close to
// an axis, whose determinant is rounding noise of a product with one small
// factor, count as a line.
bool sourcesSpanThePlane(const zfit_pointPointVals& s, const Centred& k)
{
    const double d = k.uu * k.vv - k.uv * k.uv;
    return d > kRelativeDeterminantFloor * (k.uu + k.vv) * (s.sumUU + s.sumVV) &&
           d > kRelativeDeterminantFloor * k.uu * k.vv;
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
    // The mirrored matrix is the proper one applied to (u, -v).
    const zmath_matrix m = mirror ? zmath_matrix{co, si, si, -co} : zmath_matrix{co, -si, si, co};
    return {true, {translationFor(s, m), m}};
}

template <class W>
zfit_status fit3Dof(const zfit_pointPointVals& s, zmath_xformLinear* xform, const zmath_vect* target,
                    const zmath_vect* source, W weights, int32_t count, double* bestError)
{
    ZFIT_FAIL_IF(!enoughPairs(s, 3), zmath_errFitSolveFailed);
    // The angle's terms are differences of products of target and source
    // moments; below this floor they are rounding noise, whatever the unit
    // (and, the moments being taken about a pair of the data, wherever it lies).
    const double degenerate = kRelativeDeterminantFloor * s.weightSum * std::sqrt(s.sumXXYY * (s.sumUU + s.sumVV));
    const RotationCandidate proper = rotationCandidate(s, false, degenerate);
    const RotationCandidate mirrored = rotationCandidate(s, true, degenerate);
    // Both candidates are measured in the same pass over the pairs.
    std::array<double, 2> error{HUGE_VAL, HUGE_VAL};
    if (proper.found && mirrored.found) {
        const std::array<zmath_xformLinear, 2> both{proper.xform, mirrored.xform};
        ZFIT_TRY(rmsErrors(target, source, weights, count, both, error));
    } else if (proper.found) {
        ZFIT_TRY(rmsError(target, source, weights, count, proper.xform, &error[0]));
    } else if (mirrored.found) {
        ZFIT_TRY(rmsError(target, source, weights, count, mirrored.xform, &error[1]));
    }
    // The proper rotation first; the reflection must be strictly better.
    double best = HUGE_VAL;
    if (proper.found && error[0] < best) {
        best = error[0];
        *xform = proper.xform;
    }
    if (mirrored.found && error[1] < best) {
        best = error[1];
        *xform = mirrored.xform;
    }
    ZFIT_FAIL_IF(best == HUGE_VAL, zmath_errFitSolveFailed);
    if (bestError != nullptr) *bestError = best;
    return zfit_ok;
}

}  // namespace

// ---- the named steps -------------------------------------------------------------

zfit_status zmath_pointToPointFitUpdateVals_(const zmath_vect* target, const zmath_vect* source, int32_t count,
                                             bool targetScale, zfit_pointPointVals* vals)
{
    return updateVals(target, source, UnitWeights{}, count, targetScale, vals);
}

zfit_status zmath_pointToPointFitUpdateValsWeighted_(const zmath_vect* target, const zmath_vect* source,
                                                     const double* weights, int32_t count, bool targetScale,
                                                     zfit_pointPointVals* vals)
{
    return updateVals(target, source, PairWeights{weights}, count, targetScale, vals);
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
    ZFIT_FAIL_IF(!(std::fabs(denominator) > kDivisionFloor * std::fabs(numerator)), zmath_errFitSolveFailed);
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
    if (std::fabs(4.0 * a * c) <= kLinearQuadratic * bb) {
        *first = *second = -c / b;
        *count = 1;
        return zfit_ok;
    }
    double r = 0.0;
    if (disc >= 0.0) {
        r = std::sqrt(disc);
    } else if (!(disc >= -kDiscriminantRounding * bb)) {  // a negative discriminant beyond rounding: no real root
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
    ZFIT_FAIL_IF(!enoughPairs(s, 3), zmath_errFitSolveFailed);
    const Centred k = centred(s);
    // Sources on one line leave d at rounding noise.
    ZFIT_FAIL_IF(!sourcesSpanThePlane(s, k), zmath_errFitSolveFailed);
    const double d = k.uu * k.vv - k.uv * k.uv;
    double m[4];
    ZFIT_TRY(divideAll(
        {k.vv * k.xu - k.uv * k.xv, k.uu * k.xv - k.uv * k.xu, k.vv * k.yu - k.uv * k.yv, k.uu * k.yv - k.uv * k.yu}, d,
        m));
    return setXform(s, m[0], m[1], m[2], m[3], xform);
}

zfit_status zmath_pointToPointFit5Dof_(const zfit_pointPointVals* vals, zmath_xformLinear* xform)
{
    const zfit_pointPointVals& s = *vals;
    ZFIT_FAIL_IF(!enoughPairs(s, 3), zmath_errFitSolveFailed);
    const Centred k = centred(s);
    // Sources on one line leave a whole family of such matrices equally good.
    // The quadratic below then has a double root, which rounding splits by
    // about the square root of the machine epsilon: too far for the test on
    // its d, so the sources' spread is tested first, as for 6 dof.
    ZFIT_FAIL_IF(!sourcesSpanThePlane(s, k), zmath_errFitSolveFailed);
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
    ZFIT_FAIL_IF(roots == 0, zmath_errFitSolveFailed);
    const double d = k.uu * k.vv - root * root;
    // Sources on one line (or a double root) leave d at rounding noise.
    ZFIT_FAIL_IF(!(d > kRelativeDeterminantFloor * k.uu * k.vv), zmath_errFitSolveFailed);
    double m[4];
    ZFIT_TRY(divideAll(
        {k.vv * k.xu + root * k.xv, k.uu * k.xv + root * k.xu, k.vv * k.yu + root * k.yv, k.uu * k.yv + root * k.yu}, d,
        m));
    return setXform(s, m[0], m[1], m[2], m[3], xform);
}

zfit_status zmath_pointToPointFit4Dof_(const zfit_pointPointVals* vals, zmath_xformLinear* xform)
{
    const zfit_pointPointVals& s = *vals;
    ZFIT_FAIL_IF(!enoughPairs(s, 2), zmath_errFitSolveFailed);
    const double n = s.weightSum;
    const double spread = n * (s.sumUU + s.sumVV);
    const double d = spread - s.sumU * s.sumU - s.sumV * s.sumV;
    // Sources all at one place leave d at rounding noise of the spread.
    ZFIT_FAIL_IF(!(d > kRelativeDeterminantFloor * spread), zmath_errFitSolveFailed);
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
                                                   const double* weights, int32_t count, const zmath_xformLinear* xform,
                                                   double* error)
{
    return rmsError(target, source, PairWeights{weights}, count, *xform, error);
}
