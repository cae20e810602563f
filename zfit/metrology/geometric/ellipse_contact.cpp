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
        double t = std::max(a * u - a2, b * v - b2);
        for (int i = 0; i < 100; ++i) {
            const double p = a * u / (t + a2), q = b * v / (t + b2);
            const double g = p * p + q * q - 1.0;
            if (!(g > 0.0)) break;
            const double slope = -2.0 * (p * p / (t + a2) + q * q / (t + b2));
            const double next = t - g / slope;
            if (!(next > t)) break;
            t = next;
        }
        return {a2 * u / (t + a2), b2 * v / (t + b2), t};
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
