// Circle family internals: the circle unit the algorithms write, the two
// moment-sum records (free and fixed radius), the ranking record of the
// outlier searches and the algorithms behind the entries. Not exported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>

#include <zfit/circle/circle.h>
#include <zfit/frame/status.hpp>
#include <zfit/services/math.hpp>

// ---- tolerances -----------------------------------------------------------

// The algebraic solve has a centre only when the determinant of its normal
// equations exceeds this fraction of the fourth power of the spread
// (Sxx + Syy)^2: below it the determinant is the rounding of the sums.
constexpr double kCircleDeterminantFloor = 1e-12;
// The search's lower bound on a window's error subtracts this fraction of
// the magnitude of the terms it sums, more than their rounding can be.
constexpr double kCircleBoundRounding = 1e-10;
// Distances that bound a window are widened, and the bound it yields
// narrowed, by this relative margin, so that rounding never lets a bound cut
// off a window that would have won.
constexpr double kCircleReachMargin = 1e-12;

// A circle as the algorithms write it: centre x, centre y, radius. The
// result record holds the same three doubles as `centre` and `radius`.
struct zfit_circle {
    zmath_vect centre;
    double radius;
};
static_assert(offsetof(zmath_circleFitResult, radius) == offsetof(zmath_circleFitResult, centre) + 2 * sizeof(double),
              "the result's circle is three consecutive doubles");

// ---- the algebraic circle -------------------------------------------------

// Weighted moment sums of offsets from `origin`. The origin is set before
// the first point is added and stays while points are in the sums; one near
// the data keeps the sums small and the solve well conditioned.
struct zfit_circleVals {
    zmath_vect origin;
    double weightSum;
    double sumX, sumY;
    double sumXX, sumYY, sumXY;
    double sumXR, sumYR;  // S w*dx*(dx^2+dy^2), S w*dy*(dx^2+dy^2)
};

zfit_status zfit_circleVals_init_(zfit_circleVals* sums);

inline zfit_status zfit_circleVals_addWeighted_(zfit_circleVals* sums, const zmath_vect& p, double w)
{
    const double dx = p.x - sums->origin.x, dy = p.y - sums->origin.y;
    const double r2 = dx * dx + dy * dy;
    sums->sumX += w * dx;
    sums->sumY += w * dy;
    sums->sumXX += w * dx * dx;
    sums->sumYY += w * dy * dy;
    sums->sumXY += w * dx * dy;
    sums->sumXR += w * dx * r2;
    sums->sumYR += w * dy * r2;
    sums->weightSum += w;
    return zfit_ok;
}

inline zfit_status zfit_circleVals_add_(zfit_circleVals* sums, const zmath_vect& p)
{
    const double dx = p.x - sums->origin.x, dy = p.y - sums->origin.y;
    const double r2 = dx * dx + dy * dy;
    sums->sumX += dx;
    sums->sumY += dy;
    sums->sumXX += dx * dx;
    sums->sumYY += dy * dy;
    sums->sumXY += dx * dy;
    sums->sumXR += dx * r2;
    sums->sumYR += dy * r2;
    sums->weightSum += 1.0;
    return zfit_ok;
}

// Subtracts exactly the terms zfit_circleVals_add_ adds for the point.
inline zfit_status zfit_circleVals_remove_(zfit_circleVals* sums, const zmath_vect& p)
{
    const double dx = p.x - sums->origin.x, dy = p.y - sums->origin.y;
    const double r2 = dx * dx + dy * dy;
    sums->sumX -= dx;
    sums->sumY -= dy;
    sums->sumXX -= dx * dx;
    sums->sumYY -= dy * dy;
    sums->sumXY -= dx * dy;
    sums->sumXR -= dx * r2;
    sums->sumYR -= dy * r2;
    sums->weightSum -= 1.0;
    return zfit_ok;
}

// The algebraic circle of the summed points by Cramer's rule, or
// zmath_errDegenerate (circle untouched) when the weight sum is 0, the
// determinant lies within kCircleDeterminantFloor * (Sxx + Syy)^2 of 0 or is NaN, or the
// circle is not finite.
zfit_status zfit_circleVals_solve_(const zfit_circleVals* sums, zfit_circle* circle);

// The same solve, judging the determinant against a spread given by the
// caller instead of the sums' own Sxx + Syy (the outlier searches judge a
// window by its spread about the candidate centre, whatever origin its sums
// are taken about).
zfit_status zfit_circleVals_solveWithin_(const zfit_circleVals* sums, double spread, zfit_circle* circle);

// *out = sqrt(S w (|p - centre| - r)^2 / S w) over count points.
zfit_status zmath_circleFitRmsErrorWeighted_(const zfit_circle* circle, const zmath_vect* points, int32_t count,
                                             const double* weights, double* out);

// *out = RMS of |p - centre| - r over the points, summed in their order.
zfit_status zmath_circleFitRmsError_(const zfit_circle* circle, const zstd_vector_zmath_vect* points, double* out);
double zfit_circleRms_(const zfit_circle& circle, std::span<const zmath_vect> points);

// S (|p - centre| - r)^2 over the points k whose excluded[k] is 0, from
// coordinate arrays (excluded: all bits set to leave a point out).
double zfit_circleRadialSquares_(const double* x, const double* y, const uint64_t* excluded, size_t n,
                                 const zfit_circle& circle);

// The weighted fit after the entry's checks: circle and rms are written only
// on success.
zfit_status zmath_circleFitWeightedCore_(const zmath_vect* points, int32_t count, const double* weights,
                                         zfit_circle* circle, double* rms);

// ---- the fixed-radius centre ----------------------------------------------

// Unit-weight moment sums with q = R^2 - dx^2 - dy^2. `origin` and `radius`
// are set before the first point is added. sumQ is written by the solve.
struct zfit_circleFixedRadiusVals {
    int32_t count;
    double sumX, sumY;
    double sumXX, sumYY, sumXY;
    double sumXQ, sumQ, sumYQ;
    zmath_vect origin;
    double radius;
};

zfit_status zfit_circleFixedRadiusVals_init_(zfit_circleFixedRadiusVals* sums);

// Adds a point: its offsets dx, dy and q = R^2 - dx^2 - dy^2 enter the sums
// Sx, Sy, Sxx, Syy, Sxy, Sxq and Syq.
inline zfit_status zfit_circleFixedRadiusVals_add_(zfit_circleFixedRadiusVals* sums, const zmath_vect& p)
{
    const double dx = p.x - sums->origin.x, dy = p.y - sums->origin.y;
    const double q = sums->radius * sums->radius - dx * dx - dy * dy;
    const double terms[] = {dx, dy, dx * dx, dy * dy, dx * dy, dx * q, dy * q};
    double* const into[] = {&sums->sumX,  &sums->sumY,  &sums->sumXX, &sums->sumYY,
                            &sums->sumXY, &sums->sumXQ, &sums->sumYQ};
    for (size_t t = 0; t < std::size(terms); ++t) *into[t] += terms[t];
    sums->count += 1;
    return zfit_ok;
}

// The algebraic centre of the summed points with radius R, or
// zmath_errDegenerate (circle untouched) under the same relative test as the
// free-radius solve (here |G| with G = -4 det), or when the centre is not
// finite.
zfit_status zfit_circleFixedRadiusVals_solve_(zfit_circleFixedRadiusVals* sums, zfit_circle* circle);
zfit_status zfit_circleFixedRadiusVals_solveWithin_(zfit_circleFixedRadiusVals* sums, double spread,
                                                    zfit_circle* circle);

// ---- the outlier searches ---------------------------------------------------

// One input point ranked by its distance from the current candidate centre.
struct zfit_circleRank {
    zmath_vect point;
    double distSq;
    int32_t index;
};

// Three-way comparison by distSq: 1, 0 (equal, or a NaN difference), -1.
inline int zfit_circleRank_compare_(const zfit_circleRank& a, const zfit_circleRank& b)
{
    const double difference = a.distSq - b.distSq;
    if (difference > 0) return 1;
    if (difference == 0) return 0;
    return difference < 0 ? -1 : 0;
}

// Mode 0 and mode 1. Each sets *rmsError to HUGE_VAL first, tracks the best
// window in *rmsError and *ignoredIndices while it searches, and writes the
// circle only on success.
zfit_status zmath_circleFitFreeRadius_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zfit_circle* circle,
                                       double* rmsError, zstd_vector32* ignoredIndices);
zfit_status zmath_circleFitFixedRadius_(const zstd_vector_zmath_vect* points, double fixedRadius, int32_t numIgnore,
                                        zfit_circle* circle, double* rmsError, zstd_vector32* ignoredIndices);
