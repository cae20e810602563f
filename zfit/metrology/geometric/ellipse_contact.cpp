// The orthogonal contact point on an ellipse (see ellipse_contact.hpp).
#include "ellipse_contact.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zmet {

namespace {

// u, v >= 0 and a >= b > 0.
EllipseContact firstQuadrant(double a, double b, double u, double v)
{
    const double a2 = a * a, b2 = b * b;
    if (v > 0.0 && u > 0.0) {
        // Newton's method on s = t + shift. Next to the major axis, inside
        // the evolute, t nears -b^2, and y = b^2 v / (t + b^2) would divide
        // by little more than the rounding of t + b^2: there the iteration
        // runs on s = t + b^2 itself (shift = b^2), elsewhere on t.
        const double shift = std::max(a * u - (a2 - b2), b * v) < 0.5 * b2 ? b2 : 0.0;
        const double toA = a2 - shift, toB = b2 - shift;  // s + toA = t + a^2, s + toB = t + b^2
        double s = std::max(a * u - toA, b * v - toB);
        for (int i = 0; i < 100; ++i) {
            const double p = a * u / (s + toA), q = b * v / (s + toB);
            const double g = p * p + q * q - 1.0;
            if (!(g > 0.0)) break;
            const double slope = -2.0 * (p * p / (s + toA) + q * q / (s + toB));
            const double next = s - g / slope;
            if (!(next > s)) break;
            s = next;
        }
        return {a2 * u / (s + toA), b2 * v / (s + toB), s - shift};
    }
    if (u == 0.0) return {0.0, b, b * (v - b)};
    if (a * u < a2 - b2) {
        const double x = a2 * u / (a2 - b2), ratio = x / a;
        return {x, b * std::sqrt(std::max(1.0 - ratio * ratio, 0.0)), -b2};
    }
    return {a, 0.0, a * (u - a)};
}

}  // namespace

EllipseContact ellipseContact(double a, double b, double u, double v)
{
    EllipseContact c;
    if (a >= b) {
        c = firstQuadrant(a, b, std::fabs(u), std::fabs(v));
    } else {
        c = firstQuadrant(b, a, std::fabs(v), std::fabs(u));
        std::swap(c.x, c.y);
    }
    c.x = std::copysign(c.x, u);
    c.y = std::copysign(c.y, v);
    return c;
}

}  // namespace zmet
