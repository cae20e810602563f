// Line family internals: the moment-sum record and the algorithms behind
// zmath_lineFitVector. Shared by the least-squares path and the robust
// searches; not exported.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>

#include <zfit/line/line.h>
#include <zfit/services/math.hpp>

// ---- tolerances -----------------------------------------------------------

// A point set has a direction only when the scatter's anisotropy (the gap
// between its eigenvalues) exceeds this fraction of the spread: below it the
// gap is the rounding of the moment sums, and the "direction" noise.
constexpr double kLineDirectionFloor = 1e-13;
// Whether a scatter with centred moments a, c and sxy has a direction:
// whether hypot(2 sxy, a - c), the gap between its eigenvalues, exceeds
// kLineDirectionFloor of `spread`. Where neither the squares nor the floor's
// square can overflow or underflow the squares are compared instead, which
// spares hypot's careful scaling (and differs from it only within a
// rounding of the floor itself); anything else, NaN included, is left to
// hypot.
inline bool zfit_lineHasDirection_(double a, double c, double sxy, double spread)
{
    const double u = 2.0 * sxy, v = a - c, floor = kLineDirectionFloor * spread;
    const double squares = u * u + v * v;
    constexpr double kSafeSquare = 1e300, kSafeFloor = 1e150, kTiny = 1e-150;
    if (squares < kSafeSquare && squares > kTiny * kTiny && floor < kSafeFloor && floor > kTiny)
        return squares > floor * floor;
    return std::hypot(u, v) > floor;
}

// Centred second moments below this fraction of the raw ones have lost six
// of the raw sums' digits to the points' distance from the origin: the
// exhaustive search then sums about a point of the set instead.
constexpr double kLineCentredFloor = 1e-6;
// A subset is clearly behind the best only when its smallest scatter
// eigenvalue exceeds the best's sum of squares by this fraction of the
// spread, the rounding the two computations may differ by.
constexpr double kLineBehindMargin = 1e-12;
// Hull edges as narrow as the narrowest but for this fraction of it (and
// the coordinates' rounding) tie for the minimum zone; so do directions
// whose cross product is below this fraction of their lengths' product.
constexpr double kLineZoneTie = 1e-12;

// The moment sums of a set of points, taken about the first point added
// (`origin`): about a point of their own the sums keep the digits of the
// points' spread, wherever the points lie (a pixel row at y = 240, a part
// 1e6 from the origin), and the solve centres them without cancelling more
// than the points' distance from that first point costs. Removing a point
// subtracts exactly the terms adding it added, so a record can be taken down
// to a subset and built up again without another pass over the points.
struct zfit_lineVals {
    int32_t count;
    double sumX, sumY;  // S dx, S dy with (dx, dy) = p - origin
    double sumXX, sumYY;
    double sumXY;
    zmath_vect origin;  // set by the first point added after init
    bool anchored;      // origin set
};

inline zfit_status zfit_lineVals_init_(zfit_lineVals* sums)
{
    *sums = zfit_lineVals{0, 0.0, 0.0, 0.0, 0.0, 0.0, {0.0, 0.0}, false};
    return zfit_ok;
}

inline zfit_status zfit_lineVals_add_(zfit_lineVals* sums, const zmath_vect& p)
{
    if (!sums->anchored) {
        sums->origin = p;
        sums->anchored = true;
    }
    const double dx = p.x - sums->origin.x, dy = p.y - sums->origin.y;
    sums->sumX += dx;
    sums->sumY += dy;
    sums->sumXX += dx * dx;
    sums->sumYY += dy * dy;
    sums->sumXY += dx * dy;
    sums->count += 1;
    return zfit_ok;
}

inline zfit_status zfit_lineVals_remove_(zfit_lineVals* sums, const zmath_vect& p)
{
    const double dx = p.x - sums->origin.x, dy = p.y - sums->origin.y;
    sums->sumX -= dx;
    sums->sumY -= dy;
    sums->sumXX -= dx * dx;
    sums->sumYY -= dy * dy;
    sums->sumXY -= dx * dy;
    sums->count -= 1;
    return zfit_ok;
}

// The orthogonal least-squares line of the summed points, in the
// coordinates of the points added, stored with d >= 0 (theta in [0, pi),
// turned by pi where the centroid's offset along the normal is negative).
// zmath_errDegenerate for fewer than two points, for a scatter without a
// preferred direction (its anisotropy within the rounding floor of the sums)
// and for non-finite sums.
zfit_status zfit_lineVals_solve_(const zfit_lineVals* sums, zmath_shapeFLine* line);

// The orthogonal least-squares line of the points, stored with d >= 0 as
// zfit_lineVals_solve_ stores it, but formed from moments about the points'
// centroid, so that coordinates far from the origin keep their digits.
// zmath_errDegenerate for fewer than two points and for a scatter without a
// preferred direction. The points whose indices `left` lists (ascending)
// are left out.
zfit_status zfit_lineFitCentred_(std::span<const zmath_vect> points, zmath_shapeFLine* line,
                                 std::span<const int32_t> left = {});

// *out = sum of squared distances of the summed points from the line (in
// the coordinates of the points added), read back from the moments about
// the record's origin.
zfit_status zfit_lineVals_sumSquares_(const zfit_lineVals* sums, const zmath_shapeFLine* line, double* out);

// The RMS distance of the points from the line, measured from the points
// themselves (in four interleaved partial sums).
double zfit_lineRms_(const zmath_shapeFLine& line, std::span<const zmath_vect> points);

// *out = RMS distance of all points of the vector from the line, measured
// from the points themselves.
zfit_status zmath_lineFitRmsError_(const zmath_shapeFLine* line, const zstd_vector_zmath_vect* points, double* out);

// The three algorithms of zmath_lineFitVector. Each writes straight into the
// caller's line, rmsError and ignoredIndices, and sets rmsError to HUGE_VAL
// on entry.
zfit_status zmath_lineFitExhaustive_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zmath_shapeFLine* line,
                                     double* rmsError, zstd_vector32* ignoredIndices);
zfit_status zmath_lineFitRanked_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zmath_shapeFLine* line,
                                 double* rmsError, zstd_vector32* ignoredIndices);
zfit_status zmath_lineFitMinZone_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zmath_shapeFLine* line,
                                  double* rmsError, zstd_vector32* ignoredIndices);
