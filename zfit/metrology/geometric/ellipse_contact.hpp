// The orthogonal contact point: the point of the ellipse x^2/a^2 + y^2/b^2 = 1
// nearest to a given point (u, v) of the ellipse's own frame.
//
// The contact point (x, y) satisfies (u, v) = (x, y) + t (x/a^2, y/b^2): the
// point lies on the normal through it, at the multiplier t, so
//     x = a^2 u / (t + a^2),   y = b^2 v / (t + b^2),
// and t is the root of
//     g(t) = (a u / (t + a^2))^2 + (b v / (t + b^2))^2 - 1.
// For a >= b and u, v > 0 (the other quadrants follow by symmetry), g falls
// strictly and is convex on t > -b^2, so Newton's method started at
// t0 = max(a u - a^2, b v - b^2), where g(t0) >= 0, climbs to the root
// monotonically and quadratically (next to the major axis inside the
// evolute, where t nears -b^2, it runs on t + b^2 instead, so that y keeps its
// digits). On the axes the contact point is known in
// closed form: on the minor axis it is the end of the minor axis; on the
// major axis it is the end of the major axis, unless the point lies inside
// the evolute (a u < a^2 - b^2), where x = a^2 u / (a^2 - b^2).
// The signed orthogonal distance, positive outside, is
//     d = t sqrt(x^2/a^4 + y^2/b^4),
// exact even for points very near the curve, where |(u, v) - (x, y)| would
// lose the sign and most digits of t.
#pragma once

namespace zmet {

struct EllipseContact {
    double x = 0.0, y = 0.0;  // the contact point, in the ellipse's frame
    double t = 0.0;           // the multiplier: (u, v) = (x, y) + t (x/a^2, y/b^2)
};

// The contact point of (u, v) on the ellipse with semi-axes a (along x) and
// b (along y), both > 0 and in either order. At most 100 Newton steps.
EllipseContact ellipseContact(double a, double b, double u, double v);

}  // namespace zmet
