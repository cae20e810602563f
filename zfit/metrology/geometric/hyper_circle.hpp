// The Hyper circle of Al-Sharadqah and Chernov ("Error analysis for circle
// fitting algorithms", Electronic Journal of Statistics 3, 2009): the
// algebraic circle without the essential bias of the other algebraic fits,
// the start of the geometric circle.
//
// A circle is A z + B x + C y + D = 0 with z = x^2 + y^2. With the (weighted)
// moments of points centred on their centroid, M = mean of
// (z, x, y, 1)^T (z, x, y, 1), the Hyper fit minimises A^T M A subject to
// A^T N A = 1 with N = [[8 Mz, 0, 0, 2], [0, 1, 0, 0], [0, 0, 1, 0],
// [2, 0, 0, 0]] (twice Taubin's constraint less Pratt's), so A is the
// generalised eigenvector of M A = eta N A for the smallest eta >= 0. In the
// code's symbols (Mz = Mxx + Myy, Cov = Mxx Myy - Mxy^2,
// Var = Mzz - Mz^2):
//   1. eta is the smallest root of the characteristic polynomial
//        P(eta) = det(M - eta N)
//               = (Cov - Mz eta + eta^2)(Var - 4 Mz eta - 4 eta^2)
//                 - Mxz^2 (Myy - eta) - Myz^2 (Mxx - eta) + 2 Mxz Myz Mxy,
//      found by Newton's method from eta = 0 (which is the Kasa circle);
//   2. rows 2 and 3 of (M - eta N) A = 0 with A = 1 give the centre
//        (a, b) = (Mxz (Myy - eta) - Myz Mxy, Myz (Mxx - eta) - Mxz Mxy)
//                 / (2 ((Mxx - eta)(Myy - eta) - Mxy^2));
//   3. row 4 gives D = 2 eta - Mz, so r^2 = a^2 + b^2 + Mz - 2 eta.
#pragma once

#include <cstdint>

#include <zfit/zfit.h>

#include "point_frame.hpp"

namespace zmet {

struct CircleParameters {
    double x = 0.0, y = 0.0, radius = 0.0;
};

// The weighted moments about the frame's origin (the weighted centroid) of
// the points in frame coordinates.
struct CircleMoments {
    double xx = 0.0, yy = 0.0, xy = 0.0, xz = 0.0, yz = 0.0, zz = 0.0;
};

template <class Weights>
CircleMoments circleMoments(const zmath_vect* points, int32_t count, Weights weights, const Frame& frame)
{
    CircleMoments m;
    for (int32_t i = 0; i < count; ++i) {
        const double w = weights[i];
        if (w == 0.0) continue;
        const zmath_vect q = frame.toFrame(points[i]);
        const double z = q.x * q.x + q.y * q.y;
        m.xx += w * q.x * q.x;
        m.yy += w * q.y * q.y;
        m.xy += w * q.x * q.y;
        m.xz += w * q.x * z;
        m.yz += w * q.y * z;
        m.zz += w * z * z;
    }
    const double inverse = 1.0 / frame.weightSum;
    m.xx *= inverse;
    m.yy *= inverse;
    m.xy *= inverse;
    m.xz *= inverse;
    m.yz *= inverse;
    m.zz *= inverse;
    return m;
}

// The Hyper circle in frame coordinates; false when the points lie on a line
// (the circle is at infinity).
bool hyperCircle(const CircleMoments& m, CircleParameters& circle);

}  // namespace zmet
