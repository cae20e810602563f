// Circle family internals: the circle unit the algorithms write, the two
// moment-sum records (free and fixed radius), the ranking record of the
// outlier searches and the algorithms behind the entries. Not exported.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
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
// A bound that passes over windows must exceed the best error so far by this
// relative margin (and the best error is widened by it): far more than the
// rounding of either.
constexpr double kCircleBoundMargin = 1e-6;

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

// Adds every point at unit weight to the sums, in order: with dx, dy the
// point's offset from the origin and r2 = dx*dx + dy*dy, each sum gains its
// term (dx, dy, dx*dx, dy*dy, dx*dy, dx*r2, dy*r2, 1). The x and y terms of
// each pair of sums share one vector register, each lane computing what the
// scalar sum would.
void zfit_circleVals_addAll_(zfit_circleVals* sums, std::span<const zmath_vect> points);
// The same with weight w per point: each term is w times the unit one,
// multiplied in as (w*dx)*dx, (w*dx)*r2 and so on.
void zfit_circleVals_addAllWeighted_(zfit_circleVals* sums, const zmath_vect* points, const double* weights,
                                     int32_t count);

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

// Unit-weight moment sums with q = -dx^2 - dy^2. The centre does not depend
// on the radius R, so R stays out of the sums: with R^2 in every q a large
// radius would cancel every digit of the centre. `origin` is set before the
// first point is added; `radius` is the radius the solve writes. sumQ is
// written by the solve.
struct zfit_circleFixedRadiusVals {
    int32_t count;
    double sumX, sumY;
    double sumXX, sumYY, sumXY;
    double sumXQ, sumQ, sumYQ;
    zmath_vect origin;
    double radius;
};

zfit_status zfit_circleFixedRadiusVals_init_(zfit_circleFixedRadiusVals* sums);

// Adds a point: its offsets dx, dy and q = -dx^2 - dy^2 enter the sums
// Sx, Sy, Sxx, Syy, Sxy, Sxq and Syq.
inline zfit_status zfit_circleFixedRadiusVals_add_(zfit_circleFixedRadiusVals* sums, const zmath_vect& p)
{
    const double dx = p.x - sums->origin.x, dy = p.y - sums->origin.y;
    const double q = -dx * dx - dy * dy;
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

// ---- a lower bound on the error of every circle ----------------------------

// The moments of a set of points kept by every window of a cell of centres,
// with offsets X, Y from the search's origin and Z = X^2 + Y^2: the sums of
// z_a z_b for z = (Z, X, Y, 1), the sums of their magnitudes (for their
// rounding), and the set's bounding box.
//
// They bound the error of every circle from below. A circle of centre c and
// radius r is the vector A = (a, D, E, F) = (1, -2 c, |c|^2 - r^2) / (2 r)
// in offsets from the origin, with A^T N A = D^2 + E^2 - 4 a F = 1; its value
// at a point, A.z = (d^2 - r^2) / (2 r) = (d - r) (d + r) / (2 r), d the
// point's distance from c, is its radial error scaled by (d + r) / (2 r).
// Where M - eta N is positive definite (M the sum of z z^T), every such A
// has A^T M A > eta A^T N A = eta: the scaled squared errors of every circle
// add up to more than eta.
class zfit_circleKeptMoments {
public:
    void add(double X, double Y)
    {
        const std::array<double, 4> z = terms(X, Y);
        for (size_t q = 0; q < kEntries; ++q) {
            const double v = z[kRow[q]] * z[kColumn[q]];
            sums_[q] += v;
            magnitudes_[q] += std::fabs(v);
        }
        ++count_;
        low_ = {std::min(low_.x, X), std::min(low_.y, Y)};
        high_ = {std::max(high_.x, X), std::max(high_.y, Y)};
    }

    double count() const { return count_; }

    // The sum of scaled squared errors beyond which no window of
    // `windowSize` points that keeps this set can have an RMS error of
    // `error` or less against any circle; 0 when the set is too small for
    // a bound. Such a window has every point within sqrt(windowSize) error
    // of its circle, so the circle's radius is at least half the set's
    // diameter less that, and (d + r) / (2 r) at most 1 / f at every point.
    double threshold(double windowSize, double error) const
    {
        const double spread = std::sqrt(windowSize) * error;
        const double rLow = 0.5 * diameterBelow() * (1.0 - kCircleBoundMargin) - spread;
        if (!(rLow > 0.0) || !std::isfinite(spread)) return 0.0;
        const double f = 1.0 / (1.0 + spread / (2.0 * rLow));
        return windowSize * error * error / (f * f) * (1.0 + kCircleBoundMargin);
    }

    // A lower bound on the set's diameter: the longer side of its box.
    double diameterBelow() const { return count_ > 0 ? std::max(high_.x - low_.x, high_.y - low_.y) : 0.0; }

    // Whether every circle's scaled squared errors over the set (and the
    // point (X, Y) as well, when `withPoint`) add up to more than eta. The
    // test allows for the rounding of the sums and of its own steps: it
    // answers true only where the exact sums would.
    bool allAbove(double eta, bool withPoint, double X, double Y) const
    {
        std::array<double, kEntries> sums = sums_, errors;
        const double rounding = 4.0 * (count_ + 16.0) * std::numeric_limits<double>::epsilon();
        const std::array<double, 4> z = terms(X, Y);
        for (size_t q = 0; q < kEntries; ++q) {
            const double v = withPoint ? z[kRow[q]] * z[kColumn[q]] : 0.0;
            sums[q] += v;
            errors[q] = rounding * (magnitudes_[q] + std::fabs(v));
        }
        // M - eta N: N has 1 at (X, X) and (Y, Y), -2 at (Z, 1) and (1, Z).
        sums[kXX] -= eta;
        sums[kYY] -= eta;
        sums[kZ1] += 2.0 * eta;
        errors[kXX] += rounding * eta;
        errors[kYY] += rounding * eta;
        errors[kZ1] += rounding * eta;
        // Scaled to a unit diagonal (a congruence: definiteness is kept),
        // the errors of the entries (Gershgorin) and those of a Cholesky
        // factorisation of a 4 x 4 matrix with unit diagonal (far below
        // kShift) are taken off the diagonal first.
        std::array<double, 4> scale;
        for (size_t a = 0; a < 4; ++a) {
            const double diagonal = sums[kDiagonal[a]];
            if (!(diagonal > 0.0) || !std::isfinite(diagonal)) return false;
            scale[a] = 1.0 / std::sqrt(diagonal);
        }
        double k[4][4];
        std::array<double, 4> slack{};
        for (size_t q = 0; q < kEntries; ++q) {
            const size_t a = kRow[q], b = kColumn[q];
            const double value = sums[q] * scale[a] * scale[b];
            const double error = errors[q] * scale[a] * scale[b] + rounding * std::fabs(value);
            k[a][b] = k[b][a] = value;
            slack[a] += error;
            if (a != b) slack[b] += error;
        }
        for (size_t a = 0; a < 4; ++a) k[a][a] -= slack[a] + kShift;
        for (size_t a = 0; a < 4; ++a) {
            for (size_t b = 0; b < a; ++b) {
                double v = k[a][b];
                for (size_t c = 0; c < b; ++c) v -= k[a][c] * k[b][c];
                k[a][b] = v / k[b][b];
            }
            double pivot = k[a][a];
            for (size_t c = 0; c < a; ++c) pivot -= k[a][c] * k[a][c];
            if (!(pivot > 0.0)) return false;
            k[a][a] = std::sqrt(pivot);
        }
        return true;
    }

private:
    static constexpr size_t kEntries = 10;
    // The entries (row, column) of the symmetric 4 x 4 sum, in z order Z, X, Y, 1.
    static constexpr size_t kRow[kEntries] = {0, 0, 0, 0, 1, 1, 1, 2, 2, 3};
    static constexpr size_t kColumn[kEntries] = {0, 1, 2, 3, 1, 2, 3, 2, 3, 3};
    static constexpr size_t kDiagonal[4] = {0, 4, 7, 9};
    static constexpr size_t kXX = 4, kYY = 7, kZ1 = 3;
    // Taken off the unit diagonal: far more than the rounding of the
    // factorisation.
    static constexpr double kShift = 1e-11;

    static std::array<double, 4> terms(double X, double Y) { return {X * X + Y * Y, X, Y, 1.0}; }

    std::array<double, kEntries> sums_{}, magnitudes_{};
    double count_ = 0.0;
    zmath_vect low_{HUGE_VAL, HUGE_VAL}, high_{-HUGE_VAL, -HUGE_VAL};
};

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
