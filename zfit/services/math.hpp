// Inline C++ forms of the hot-path services.
//
// The exported C functions of the services are thin wrappers around these,
// so a fit that calls them inline in a search loop gets bit-for-bit the same
// results as a caller going through the C interface, without a cross-library
// call per point.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <span>

#include <zfit/services/math.h>
#include <zfit/services/shapes.h>

namespace zsvc {

// Two doubles side by side: a point's (x, y), or two sums that take the same
// step. Lane-wise arithmetic rounds exactly as the same operations on each
// lane alone, so a sum kept in a lane takes its terms one by one, in order,
// as a scalar loop would.
using Lanes = double __attribute__((vector_size(16)));

// zmath_double_equal: two doubles are equal when they differ by at most this
// fraction of the larger magnitude (or of 1, near zero), four orders above
// the rounding of a short chain of operations.
constexpr double kEqualRelative = 1e-12;

// zmath_double_equal.
inline bool doubleEqual(double a, double b)
{
    const double scale = std::max({1.0, std::fabs(a), std::fabs(b)});
    return std::fabs(a - b) <= kEqualRelative * scale;
}

inline zmath_vect add(const zmath_vect& a, const zmath_vect& b) { return {a.x + b.x, a.y + b.y}; }
inline zmath_vect subtract(const zmath_vect& a, const zmath_vect& b) { return {a.x - b.x, a.y - b.y}; }
inline double dot(const zmath_vect& a, const zmath_vect& b) { return a.x * b.x + a.y * b.y; }
inline double length(const zmath_vect& v) { return std::hypot(v.x, v.y); }

// True when every coordinate of the points is finite: the fits refuse NaN
// and infinity before they sum, rank or enumerate anything.
inline bool allFinite(std::span<const zmath_vect> points)
{
    // Compared as the bits of |coordinate|, which order non-negative doubles
    // as their values do and put infinity and NaN above the largest finite
    // one: no early exit and no floating-point comparison, so the loop
    // vectorises (nearly every point set passes).
    constexpr uint64_t kMagnitude = ~(uint64_t{1} << 63);
    constexpr uint64_t kLargest = std::bit_cast<uint64_t>(std::numeric_limits<double>::max());
    uint64_t outside = 0;
    for (const zmath_vect& p : points) {
        outside |= (kLargest - (std::bit_cast<uint64_t>(p.x) & kMagnitude)) >> 63;
        outside |= (kLargest - (std::bit_cast<uint64_t>(p.y) & kMagnitude)) >> 63;
    }
    return outside == 0;
}

// The angle brought into (-pi, pi].
inline double foldAngle(double angle)
{
    double folded = std::remainder(angle, 2.0 * std::numbers::pi);
    if (folded <= -std::numbers::pi) folded += 2.0 * std::numbers::pi;
    return folded;
}

inline zmath_vect mapPoint(const zmath_matrix& m, const zmath_vect& p)
{
    return {m.m00 * p.x + m.m01 * p.y, m.m10 * p.x + m.m11 * p.y};
}

inline zmath_vect mapPoint(const zmath_xformLinear& xf, const zmath_vect& p)
{
    const zmath_matrix& m = xf.matrix;
    return {m.m00 * p.x + m.m01 * p.y + xf.translation.x, m.m10 * p.x + m.m11 * p.y + xf.translation.y};
}

inline zmath_xformRigid rigid(double angle, double tx, double ty)
{
    return {angle, std::cos(angle), std::sin(angle), {tx, ty}};
}

inline zmath_vect mapPoint(const zmath_xformRigid& xf, const zmath_vect& p)
{
    return {xf.cosine * p.x - xf.sine * p.y + xf.translation.x, xf.sine * p.x + xf.cosine * p.y + xf.translation.y};
}

// first o second: apply second, then first.
inline zmath_xformRigid compose(const zmath_xformRigid& first, const zmath_xformRigid& second)
{
    const zmath_vect t = mapPoint(first, second.translation);
    return rigid(foldAngle(first.angle + second.angle), t.x, t.y);
}

inline zmath_xformRigid inverse(const zmath_xformRigid& xf)
{
    // R^-1 (p - t) = R(-angle) p - R(-angle) t
    const double c = xf.cosine, s = xf.sine;
    const zmath_vect& t = xf.translation;
    zmath_xformRigid out = rigid(foldAngle(-xf.angle), -(c * t.x + s * t.y), -(-s * t.x + c * t.y));
    return out;
}

inline zmath_shapeFLine line(double angle, double d) { return {d, angle, std::sin(angle), std::cos(angle)}; }

// d + x*sin - y*cos: zero on the line, d at the origin.
inline double distanceFrom(const zmath_shapeFLine& line, const zmath_vect& p)
{
    return line.d + p.x * line.sine - p.y * line.cosine;
}

}  // namespace zsvc
