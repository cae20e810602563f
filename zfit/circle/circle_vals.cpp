// The closed-form circle solves (free and fixed radius), the weighted fit
// built on the first, and the RMS radial residuals.
//
// Method: the algebraic circle of Kåsa (IEEE Transactions on Instrumentation
// and Measurement 25, 1976, pp. 8-14). With the circle written as
// x^2 + y^2 + D x + E y + F = 0 and r = x^2 + y^2, the fit minimises the
// sum of squared algebraic residuals S w (r + D x + E y + F)^2, which is
// linear in (D, E, F); its three derivatives vanish where
//     [Sxx Sxy Sx] [D]     [Sxr]
//     [Sxy Syy Sy] [E] = - [Syr]
//     [Sx  Sy  W ] [F]     [Sr ]
// (S the weighted sums over the points, W the total weight, Sr = Sxx + Syy
// about the sums' origin). Solved by the adjugate (Cramer's rule), it gives
// the centre (-D/2, -E/2) and the radius sqrt(D^2/4 + E^2/4 - F). The
// fixed-radius solve writes the residual as |p - c|^2 - R^2 =
// -2 c.p + |c|^2 - q with q = R^2 - |p|^2 and takes |c|^2 as a free third
// unknown: the same linear least squares in three unknowns (its determinant
// G is written out below), of which the centre is kept, the radius being R.
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <zfit/circle/circle_internal.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/math.hpp>
#include <zfit/services/weights.hpp>

namespace {

bool finite(const zfit_circle& c)
{
    return std::isfinite(c.centre.x) && std::isfinite(c.centre.y) && std::isfinite(c.radius);
}

// Where the weighted fit sums from: the weighted centroid, about which the
// normal equations come apart (Sx = Sy = 0 but for rounding) and no sum is
// inflated by the points' distance from their origin (on a short arc the
// first point lies half the arc's chord from the rest). The first point
// when the weights sum to zero, which the solve then refuses.
zmath_vect weightedCentroid(const zmath_vect* points, int32_t count, const double* weights)
{
    double total = 0.0, sx = 0.0, sy = 0.0;
    for (int32_t i = 0; i < count; ++i) total += weights[i];
    if (!(total > 0.0)) return points[0];
    // About the first point, so that the sums of far-off points (1e6 from the
    // origin) keep the digits of their spread.
    for (int32_t i = 0; i < count; ++i) {
        sx += weights[i] * (points[i].x - points[0].x);
        sy += weights[i] * (points[i].y - points[0].y);
    }
    return {points[0].x + sx / total, points[0].y + sy / total};
}

#if defined(__SSE2__)
// |p - centre| - r of two points at once, from their x and their y
// coordinates: one square root instruction for both.
__m128d radialResiduals(__m128d x, __m128d y, __m128d cx, __m128d cy, __m128d r)
{
    const __m128d dx = _mm_sub_pd(x, cx), dy = _mm_sub_pd(y, cy);
    return _mm_sub_pd(_mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy))), r);
}
#endif

}  // namespace

zfit_status zfit_circleVals_init_(zfit_circleVals* sums)
{
    ZFIT_TRY(zmath_vect_init(&sums->origin, 0.0, 0.0));
    sums->weightSum = 0.0;
    sums->sumX = sums->sumY = 0.0;
    sums->sumXX = sums->sumYY = sums->sumXY = 0.0;
    sums->sumXR = sums->sumYR = 0.0;
    return zfit_ok;
}

namespace {

// The loop of zfit_circleVals_addAll_ and zfit_circleVals_addAllWeighted_
// (unit weights' products by 1.0 fold away) with the sums held in
// registers: (Sx, Sy), (Sxx, Syy) and (Sxr, Syr) as pairs of lanes, each
// lane computing exactly what the scalar sum would.
template <class Weights>
void addAll(zfit_circleVals& sums, const zmath_vect* points, int32_t count, Weights weights)
{
    const zsvc::Lanes origin = {sums.origin.x, sums.origin.y};
    zsvc::Lanes first = {sums.sumX, sums.sumY}, second = {sums.sumXX, sums.sumYY}, third = {sums.sumXR, sums.sumYR};
    double cross = sums.sumXY, total = sums.weightSum;
    for (int32_t i = 0; i < count; ++i) {
        const double w = weights[i];
        const zsvc::Lanes d = zsvc::Lanes{points[i].x, points[i].y} - origin;
        const zsvc::Lanes squares = d * d;
        const double r2 = squares[0] + squares[1];
        const zsvc::Lanes wd = zsvc::Lanes{w, w} * d;
        first += wd;
        second += wd * d;
        cross += wd[0] * d[1];
        third += wd * zsvc::Lanes{r2, r2};
        total += w;
    }
    sums.sumX = first[0];
    sums.sumY = first[1];
    sums.sumXX = second[0];
    sums.sumYY = second[1];
    sums.sumXY = cross;
    sums.sumXR = third[0];
    sums.sumYR = third[1];
    sums.weightSum = total;
}

}  // namespace

void zfit_circleVals_addAll_(zfit_circleVals* sums, std::span<const zmath_vect> points)
{
    addAll(*sums, points.data(), zsvc::size32(points), zsvc::UnitWeights{});
}

void zfit_circleVals_addAllWeighted_(zfit_circleVals* sums, const zmath_vect* points, const double* weights,
                                     int32_t count)
{
    addAll(*sums, points, count, zsvc::GivenWeights{weights});
}

zfit_status zfit_circleVals_solve_(const zfit_circleVals* sums, zfit_circle* circle)
{
    return zfit_circleVals_solveWithin_(sums, sums->sumXX + sums->sumYY, circle);
}

zfit_status zfit_circleVals_solveWithin_(const zfit_circleVals* sums, double spread, zfit_circle* circle)
{
    const double W = sums->weightSum, Sx = sums->sumX, Sy = sums->sumY;
    const double Sxx = sums->sumXX, Syy = sums->sumYY, Sxy = sums->sumXY;
    const double Sxr = sums->sumXR, Syr = sums->sumYR;
    if (!(W > 0.0) && !(W < 0.0)) return zmath_errDegenerate;

    // Normal equations M (D, E, F) = -(Sxr, Syr, Sxx + Syy) with
    // M = [[Sxx, Sxy, Sx], [Sxy, Syy, Sy], [Sx, Sy, W]], solved by the adjugate.
    const double C13 = Sxy * Sy - Syy * Sx;
    const double C23 = Sxy * Sx - Sxx * Sy;
    const double C33 = Sxx * Syy - Sxy * Sxy;
    const double det = Sx * C13 + Sy * C23 + W * C33;
    // Relative to the fourth power of the spread. Ordered, so that a NaN
    // determinant (sums overflowed) counts as singular too.
    if (!(std::fabs(det) > kCircleDeterminantFloor * (spread * spread))) return zmath_errDegenerate;

    const double k = -1.0 / det;
    const double a = Sxr * k, b = Syr * k, c = (Sxx + Syy) * k;
    const double C11 = Syy * W - Sy * Sy;
    const double C12 = Sx * Sy - Sxy * W;
    const double C22 = Sxx * W - Sx * Sx;
    const double D = a * C11 + b * C12 + c * C13;
    const double E = a * C12 + b * C22 + c * C23;
    const double F = a * C13 + b * C23 + c * C33;
    const double cx = -0.5 * D, cy = -0.5 * E;
    // cx^2 + cy^2 - F is the weighted mean squared distance from the centre:
    // never negative but for rounding.
    const zfit_circle solved{{cx + sums->origin.x, cy + sums->origin.y}, std::sqrt(std::fabs(cx * cx + cy * cy - F))};
    // A circle that overflowed is no circle.
    if (!finite(solved)) return zmath_errDegenerate;
    *circle = solved;
    return zfit_ok;
}

zfit_status zmath_circleFitRmsErrorWeighted_(const zfit_circle* circle, const zmath_vect* points, int32_t count,
                                             const double* weights, double* out)
{
    *out = 0.0;
    double total = 0.0;
    const double cx = circle->centre.x, cy = circle->centre.y, r = circle->radius;
    for (int32_t i = 0; i < count; ++i) {
        const double dx = points[i].x - cx, dy = points[i].y - cy;
        const double d = std::sqrt(dx * dx + dy * dy) - r;
        *out += d * d * weights[i];
        total += weights[i];
    }
    *out = std::sqrt(*out / total);
    return zfit_ok;
}

double zfit_circleRms_(const zfit_circle& circle, std::span<const zmath_vect> points)
{
    const double cx = circle.centre.x, cy = circle.centre.y, r = circle.radius;
    const double count = static_cast<double>(static_cast<int32_t>(points.size()));
    double sum = 0.0;
    size_t k = 0;
#if defined(__SSE2__)
    // Two points' residuals at a time; their squares still enter the sum
    // one by one, in order.
    const __m128d cxV = _mm_set1_pd(cx), cyV = _mm_set1_pd(cy), rV = _mm_set1_pd(r);
    for (; k + 2 <= points.size(); k += 2) {
        const zmath_vect &p = points[k], &q = points[k + 1];
        const __m128d d = radialResiduals(_mm_set_pd(q.x, p.x), _mm_set_pd(q.y, p.y), cxV, cyV, rV);
        alignas(16) double squares[2];
        _mm_store_pd(squares, _mm_mul_pd(d, d));
        sum += squares[0];
        sum += squares[1];
    }
#endif
    for (; k < points.size(); ++k) {
        const double dx = points[k].x - cx, dy = points[k].y - cy;
        const double d = std::sqrt(dx * dx + dy * dy) - r;
        sum += d * d;
    }
    if (std::isfinite(sum)) return std::sqrt(sum / count);
    // Squares beyond the double range (an imposed radius near 1e154 or
    // more): the same sum scaled by the largest residual.
    double largest = 0.0;
    for (const zmath_vect& p : points) largest = std::fmax(largest, std::fabs(std::hypot(p.x - cx, p.y - cy) - r));
    double scaled = 0.0;
    for (const zmath_vect& p : points) {
        const double d = (std::hypot(p.x - cx, p.y - cy) - r) / largest;
        scaled += d * d;
    }
    return largest * std::sqrt(scaled / count);
}

zfit_status zmath_circleFitRmsError_(const zfit_circle* circle, const zstd_vector_zmath_vect* points, double* out)
{
    *out = 0.0;
    *out = zfit_circleRms_(*circle, zsvc::view(points));
    return zfit_ok;
}

zfit_status zmath_circleFitWeightedCore_(const zmath_vect* points, int32_t count, const double* weights,
                                         zfit_circle* circle, double* rms)
{
    zfit_circleVals sums;
    ZFIT_TRY(zfit_circleVals_init_(&sums));
    ZFIT_FAIL_IF(count <= 0, zmath_errDegenerate);
    // A NaN or infinite coordinate or weight has no place in a fit.
    for (int32_t i = 0; i < count; ++i)
        ZFIT_FAIL_IF(!std::isfinite(points[i].x) || !std::isfinite(points[i].y) || !std::isfinite(weights[i]),
                     zmath_errDegenerate);
    sums.origin = weightedCentroid(points, count, weights);
    zfit_circleVals_addAllWeighted_(&sums, points, weights, count);
    zfit_circle solved;
    ZFIT_TRY(zfit_circleVals_solve_(&sums, &solved));
    ZFIT_TRY(zmath_circleFitRmsErrorWeighted_(&solved, points, count, weights, rms));
    *circle = solved;
    return zfit_ok;
}

zfit_status zfit_circleFixedRadiusVals_init_(zfit_circleFixedRadiusVals* sums)
{
    ZFIT_TRY(zmath_vect_init(&sums->origin, 0.0, 0.0));
    sums->radius = 0.0;
    sums->sumX = sums->sumY = 0.0;
    sums->sumXX = sums->sumYY = sums->sumXY = 0.0;
    sums->sumXQ = sums->sumQ = sums->sumYQ = 0.0;
    sums->count = 0;
    return zfit_ok;
}

zfit_status zfit_circleFixedRadiusVals_solve_(zfit_circleFixedRadiusVals* sums, zfit_circle* circle)
{
    return zfit_circleFixedRadiusVals_solveWithin_(sums, sums->sumXX + sums->sumYY, circle);
}

zfit_status zfit_circleFixedRadiusVals_solveWithin_(zfit_circleFixedRadiusVals* sums, double spread,
                                                    zfit_circle* circle)
{
    const double n = static_cast<double>(sums->count);
    const double Sx = sums->sumX, Sy = sums->sumY;
    const double Sxx = sums->sumXX, Syy = sums->sumYY, Sxy = sums->sumXY;
    const double Sxq = sums->sumXQ, Syq = sums->sumYQ, R = sums->radius;
    const double Sq = -Sxx - Syy;
    sums->sumQ = Sq;

    // G is -4 times the determinant of the free-radius normal matrix (W = n);
    // the same relative test decides whether the window has a centre.
    const double G = 4.0 * (Sx * Sx * Syy - 2.0 * Sx * Sy * Sxy - n * Sxx * Syy + n * Sxy * Sxy + Sy * Sy * Sxx);
    if (!(std::fabs(G) > 4.0 * kCircleDeterminantFloor * (spread * spread))) return zmath_errDegenerate;

    const double cx = ((Sy * Sy - n * Syy) * (-2.0) * Sxq + (Sx * Syy - Sxy * Sy) * (-2.0) * Sq +
                       (n * Sxy - Sx * Sy) * (-2.0) * Syq) /
                      G;
    const double cy =
        ((n * Sxy - Sx * Sy) * (-2.0) * Sxq + (Sx * Sxy - Sxx * Sy) * 2.0 * Sq + (Sx * Sx - n * Sxx) * (-2.0) * Syq) /
        G;
    const zfit_circle solved{{cx + sums->origin.x, cy + sums->origin.y}, R};
    if (!finite(solved)) return zmath_errDegenerate;
    *circle = solved;
    return zfit_ok;
}

double zfit_circleRadialSquares_(const double* x, const double* y, const uint64_t* excluded, size_t n,
                                 const zfit_circle& circle)
{
    const double cx = circle.centre.x, cy = circle.centre.y, r = circle.radius;
    size_t k = 0;
    double sum = 0.0;
#if defined(__SSE2__)
    const __m128d cxV = _mm_set1_pd(cx), cyV = _mm_set1_pd(cy), rV = _mm_set1_pd(r);
    __m128d sums = _mm_setzero_pd();
    for (; k + 2 <= n; k += 2) {
        const __m128d d = radialResiduals(_mm_loadu_pd(x + k), _mm_loadu_pd(y + k), cxV, cyV, rV);
        const __m128d skip = _mm_loadu_pd(reinterpret_cast<const double*>(excluded + k));
        sums = _mm_add_pd(sums, _mm_andnot_pd(skip, _mm_mul_pd(d, d)));
    }
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, sums);
    sum = lanes[0] + lanes[1];
#endif
    for (; k < n; ++k) {
        if (excluded[k] != 0) continue;
        const double dx = x[k] - cx, dy = y[k] - cy;
        const double d = std::sqrt(dx * dx + dy * dy) - r;
        sum += d * d;
    }
    return sum;
}
