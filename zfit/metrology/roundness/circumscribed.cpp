// The circumscribed centre: the centre of the smallest circle that holds
// every point.
//
// Method: Welzl's randomised incremental algorithm (1991), in the iterative
// form of three nested passes (de Berg et al., "MiniDisc"); expected linear
// time on points taken in random order.
//
// Steps, as in the code below:
//   1. Shuffle the point order (Fisher-Yates with a generator seeded by the
//      count, so that a call is repeatable and keeps no state).
//   2. Start with the circle on the first two points as diameter. For each
//      further point i outside the circle, the smallest circle of points
//      0..i has i on its boundary: rebuild it from i and point 0, and for
//      each point j < i outside it, rebuild it with i and j on its boundary:
//      from i and j as diameter, and for each point k < j outside that, the
//      circle through i, j and k.
//   3. The points that define the final circle (two or three) are its
//      contacts.
//
// The smallest enclosing circle is unique, and the distance to the
// farthest point is a convex function of the centre, so contacts that
// surround the centre (which the certificate checks) prove the optimum.
// "Outside" allows a relative slack of 1e-14 on the squared radius, so
// that rounding cannot make a point on the circle rebuild it.
#include <algorithm>
#include <cmath>

#include "roundness_internal.hpp"

namespace zmet::roundness {

namespace {

constexpr double kSlack = 1e-14;
constexpr double kCollinear = 1e-12;

struct Disc {
    double x = 0.0, y = 0.0, radius2 = -1.0;
    int32_t count = 0;
    int32_t support[3] = {0, 0, 0};
};

struct Points {
    std::span<const zmath_vect> p;
    const zmath_vect& operator[](int32_t k) const { return p[static_cast<std::size_t>(k)]; }
};

bool outside(const Disc& d, const zmath_vect& q)
{
    const double dx = q.x - d.x, dy = q.y - d.y;
    return dx * dx + dy * dy > d.radius2 * (1.0 + kSlack);
}

Disc diametral(const Points& pts, int32_t a, int32_t b)
{
    const zmath_vect& p = pts[a];
    const zmath_vect& q = pts[b];
    const double dx = q.x - p.x, dy = q.y - p.y;
    Disc d;
    d.x = p.x + 0.5 * dx;
    d.y = p.y + 0.5 * dy;
    d.radius2 = 0.25 * (dx * dx + dy * dy);
    d.count = 2;
    d.support[0] = a;
    d.support[1] = b;
    return d;
}

// The circle through three points; for (nearly) collinear ones, the circle
// on the farthest pair.
Disc through(const Points& pts, int32_t a, int32_t b, int32_t c)
{
    const zmath_vect& p = pts[a];
    const double bx = pts[b].x - p.x, by = pts[b].y - p.y, cx = pts[c].x - p.x, cy = pts[c].y - p.y;
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    const double det = 2.0 * (bx * cy - by * cx);
    if (!(std::fabs(det) > kCollinear * std::sqrt(b2 * c2))) {
        const double bc2 = (cx - bx) * (cx - bx) + (cy - by) * (cy - by);
        if (bc2 >= b2 && bc2 >= c2) return diametral(pts, b, c);
        return b2 >= c2 ? diametral(pts, a, b) : diametral(pts, a, c);
    }
    const double ux = (cy * b2 - by * c2) / det, uy = (bx * c2 - cx * b2) / det;
    Disc d;
    d.x = p.x + ux;
    d.y = p.y + uy;
    d.radius2 = ux * ux + uy * uy;
    d.count = 3;
    d.support[0] = a;
    d.support[1] = b;
    d.support[2] = c;
    return d;
}

// splitmix64: a small generator that lives on the caller's stack.
uint64_t nextRandom(uint64_t& state)
{
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

void shuffle(std::span<int32_t> order)
{
    uint64_t state = order.size();
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int32_t>(k);
    for (std::size_t k = order.size(); k > 1; --k) std::swap(order[k - 1], order[nextRandom(state) % k]);
}

// The smallest circle of the points order[0..j] with i and order[j] on its
// boundary.
zfit_status withTwo(const Points& pts, std::span<const int32_t> order, int32_t i, std::size_t j, Disc* disc)
{
    ZFIT_TRY(zsys_attention_check());
    Disc d = diametral(pts, i, order[j]);
    for (std::size_t k = 0; k < j; ++k)
        if (outside(d, pts[order[k]])) d = through(pts, i, order[j], order[k]);
    *disc = d;
    return zfit_ok;
}

// The smallest circle of the points order[0..i] with order[i] on its
// boundary.
zfit_status withOne(const Points& pts, std::span<const int32_t> order, std::size_t i, Disc* disc)
{
    ZFIT_TRY(zsys_attention_check());
    Disc d = diametral(pts, order[i], order[0]);
    for (std::size_t j = 1; j < i; ++j)
        if (outside(d, pts[order[j]])) ZFIT_TRY(withTwo(pts, order, order[i], j, &d));
    *disc = d;
    return zfit_ok;
}

}  // namespace

zfit_status searchCircumscribed(const Profile& profile, std::span<int32_t> order, Candidate* candidate)
{
    const Points pts{profile.points};
    shuffle(order);
    Disc d = diametral(pts, order[0], order[1]);
    for (std::size_t i = 2; i < order.size(); ++i)
        if (outside(d, pts[order[i]])) ZFIT_TRY(withOne(pts, order, i, &d));
    candidate->centre = {d.x, d.y};
    candidate->count = d.count;
    for (int32_t k = 0; k < d.count; ++k) {
        candidate->index[k] = d.support[k];
        candidate->outer[k] = 1;
    }
    return zfit_ok;
}

}  // namespace zmet::roundness
