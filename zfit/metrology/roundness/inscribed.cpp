// The inscribed centre: the centre of the largest circle that has no point
// of the profile inside it and is held by points around it.
//
// Method: the largest empty circle from the Voronoi diagram (Shamos and
// Hoey; Toussaint, "Computing largest empty circles with location
// constraints", 1983). The distance to the nearest point has its local
// maxima at Voronoi vertices only, namely at those that lie inside the
// triangle of their three nearest points; in the dual Delaunay
// triangulation these are the triangles that hold their own circumcentre
// (no obtuse angle), and the circle is their circumcircle.
//
// Steps, as in the code below:
//   1. surroundsStart: the profile must surround the least-squares centre
//      c0 (no half-plane through it holds every point): else it is an open
//      arc and no inscribed circle is defined.
//   2. boundFreeRegion: with r0 and R0 the nearest and farthest distance
//      from c0 and G a bound on the widest angular gap between the points
//      seen from c0, every centre of the hull farther than
//        delta = R0 cos(G/2) - sqrt(r0^2 - R0^2 sin^2(G/2))
//      from c0 has a point nearer than r0 (the point within G/2 of its
//      direction), so a held circle of radius at least r0, which the
//      ascent from c0 guarantees, has its centre within delta of c0.
//   3. keepUndominated: a point q farther from c0 than a point s of its
//      angular bucket by more than 2 delta |q - s| / (|q - c0| - delta) is
//      farther than s from every centre within delta of c0 (the gradient of
//      |q - c| - |s - c| is at most 2 |q - s| / |q - c|), so it cannot touch
//      such a circle and is left out.
//   4. Delaunay triangulation of the points kept (delaunay.cpp), and
//      largestHeldCircle over its triangles that hold their circumcentre
//      (no obtuse angle; a right angle, as pixel grids give, only with a
//      fourth point on the circle across the hypotenuse) whose centre lies
//      within delta of c0. A point left out inside such a circle would have its bucket's
//      nearest point inside too, which the triangulation rules out; so the
//      largest of them, when its radius reaches r0, is the answer.
//   5. Otherwise (no bound in step 2, or no such circle), the same over the
//      triangulation of every point.
//   6. The certificate checks the circle over every point: none inside, and
//      its contacts surround its centre.
// The result is the global optimum among the circles that cannot grow by
// moving their centre, in O(n log n): the sort of the triangulation and its
// flips, on a fraction of the points for a dense profile.
#include <algorithm>
#include <cmath>

#include "delaunay.hpp"
#include "roundness_internal.hpp"

namespace zmet::roundness {

namespace {

// Angles within this much (as a cosine) of a right angle count as right.
constexpr double kRightAngle = 1e-10;
// The free region's radius is widened by this share of itself, plus an
// absolute floor, so that rounding in its bound never shuts out a centre.
constexpr double kRegionSlack = 1e-9;
constexpr double kRegionFloor = 1e-15;

struct Direction {
    double x, y;
};

Direction directionOf(const zmath_vect& from, const zmath_vect& to)
{
    const double dx = to.x - from.x, dy = to.y - from.y, length = std::sqrt(dx * dx + dy * dy);
    return length > 0.0 ? Direction{dx / length, dy / length} : Direction{0.0, 0.0};
}

double cross(const Direction& a, const Direction& b) { return a.x * b.y - a.y * b.x; }
double dot(const Direction& a, const Direction& b) { return a.x * b.x + a.y * b.y; }

// Seen from the centre, the directions of the points relative to one of
// them: the one that turns farthest back on each side, and whether one
// points straight back.
struct Spread {
    Direction left{}, right{};
    bool hasLeft = false, hasRight = false, straightBack = false;
};

Spread spreadAbout(const Profile& profile, const zmath_vect& centre, const Direction& reference)
{
    Spread s;
    double leftBack = HUGE_VAL, rightBack = HUGE_VAL;
    for (const zmath_vect& p : profile.points) {
        const Direction u = directionOf(centre, p);
        const double turn = cross(reference, u), back = dot(reference, u);
        if (turn == 0.0) {
            s.straightBack = s.straightBack || back < 0.0;
        } else if (turn > 0.0 && back < leftBack) {
            leftBack = back;
            s.left = u;
            s.hasLeft = true;
        } else if (turn < 0.0 && back < rightBack) {
            rightBack = back;
            s.right = u;
            s.hasRight = true;
        }
    }
    return s;
}

// Step 1: the points surround the centre (it lies inside their convex
// hull, not on its edge) exactly when there are points on both sides of
// the line through any one of them, and those turning farthest back on
// either side leave less than a half turn between them, or one point lies
// straight back.
bool surroundsStart(const Profile& profile, const zmath_vect& centre)
{
    Direction reference{0.0, 0.0};
    for (const zmath_vect& p : profile.points) {
        reference = directionOf(centre, p);
        if (reference.x != 0.0 || reference.y != 0.0) break;
    }
    const Spread s = spreadAbout(profile, centre, reference);
    return s.hasLeft && s.hasRight && (s.straightBack || cross(s.left, s.right) > 0.0);
}

double distance(const zmath_vect& a, const zmath_vect& b)
{
    const double dx = a.x - b.x, dy = a.y - b.y;
    return std::sqrt(dx * dx + dy * dy);
}

// The disc about c0 that holds every centre of a held circle of radius at
// least r0.
struct FreeRegion {
    zmath_vect centre{};
    double nearest = 0.0, delta = 0.0;
};

// Step 2; false when the profile is too far from round for the bound.
// `marks` is scratch of one entry per point.
bool boundFreeRegion(const Profile& profile, const zmath_vect& c0, std::span<int32_t> marks, FreeRegion* region)
{
    const Surround seen = surroundAbout(profile, c0, marks);
    const double r0 = seen.nearest, R0 = seen.farthest, halfGap = 0.5 * seen.widestGap;
    if (!(halfGap < 0.5)) return false;
    const double cosine = std::cos(halfGap), sine = std::sin(halfGap);
    const double reach2 = r0 * r0 - R0 * R0 * sine * sine;
    if (!(reach2 > 0.0) || !(R0 < 2.0 * r0 * cosine)) return false;
    const double t1 = R0 * cosine - std::sqrt(reach2), t2 = R0 * cosine + std::sqrt(reach2);
    if (!(R0 < t2)) return false;
    region->centre = c0;
    region->nearest = r0;
    region->delta = t1 * (1.0 + kRegionSlack) + kRegionFloor;
    return region->delta < r0;
}

// Step 3: writes the positions of the points kept into `kept` and returns
// their count. `nearest` is scratch of one entry per bucket.
int32_t keepUndominated(const Profile& profile, const FreeRegion& region, std::span<int32_t> nearest,
                        std::span<int32_t> kept)
{
    constexpr double kRounding = 1e-15;
    const auto buckets = static_cast<int32_t>(nearest.size());
    const auto n = static_cast<int32_t>(profile.points.size());
    std::fill(nearest.begin(), nearest.end(), -1);
    const auto at = [&](int32_t k) -> const zmath_vect& { return profile.points[static_cast<std::size_t>(k)]; };
    for (int32_t k = 0; k < n; ++k) {
        int32_t& s = nearest[static_cast<std::size_t>(bucketOf(at(k), region.centre, buckets))];
        if (s < 0 || distance(at(k), region.centre) < distance(at(s), region.centre)) s = k;
    }
    int32_t count = 0;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t s = nearest[static_cast<std::size_t>(bucketOf(at(k), region.centre, buckets))];
        const double rho = distance(at(k), region.centre);
        const double margin = rho - distance(at(s), region.centre);
        const double reach = 2.0 * region.delta * distance(at(k), at(s)) / (rho - region.delta);
        if (!(margin > reach + kRounding)) kept[static_cast<std::size_t>(count++)] = k;
    }
    return count;
}

enum class Corner { acute, right, obtuse };

// The angle at corner a of the triangle a, b, c.
Corner cornerAt(const zmath_vect& a, const zmath_vect& b, const zmath_vect& c)
{
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
    const double dot = bx * cx + by * cy;
    const double tolerance2 = kRightAngle * kRightAngle * (bx * bx + by * by) * (cx * cx + cy * cy);
    if (dot * dot <= tolerance2) return Corner::right;
    return dot > 0.0 ? Corner::acute : Corner::obtuse;
}

// Triangle t holds its circumcircle's centre strictly: no obtuse angle, and
// at a right angle (the centre on the hypotenuse, as pixel grids give) the
// triangle across the hypotenuse has its far corner on the same circle, so
// that the four points surround the centre. A lone right triangle does not
// hold its circle: it grows by moving away from the right angle.
bool holdsCentre(const Profile& profile, const Triangulation& tri, int32_t t, const zmath_vect& centre, double radius)
{
    const auto point = [&](int32_t k) -> const zmath_vect& { return profile.points[static_cast<std::size_t>(k)]; };
    const int32_t* k = &tri.corner[static_cast<std::size_t>(3 * t)];
    int32_t right = -1;
    for (int32_t m = 0; m < 3; ++m) {
        const Corner angle = cornerAt(point(k[m]), point(k[(m + 1) % 3]), point(k[(m + 2) % 3]));
        if (angle == Corner::obtuse) return false;
        if (angle == Corner::right) right = m;
    }
    if (right < 0) return true;
    const int32_t across = tri.twin[static_cast<std::size_t>(3 * t + (right + 1) % 3)];
    if (across < 0) return false;
    const int32_t far = tri.corner[static_cast<std::size_t>(across % 3 == 0 ? across + 2 : across - 1)];
    return std::fabs(distance(point(far), centre) - radius) <= kContactTolerance * radius;
}

// Step 4: the largest circumcircle of a triangle that holds its centre,
// with that centre in `region` when one is given; false when there is none.
bool largestHeldCircle(const Profile& profile, const Triangulation& triangulation, const FreeRegion* region,
                       Candidate* candidate)
{
    double largest = -1.0;
    for (int32_t t = 0; t < triangulation.triangles; ++t) {
        const int32_t* k = &triangulation.corner[static_cast<std::size_t>(3 * t)];
        const zmath_vect& a = profile.points[static_cast<std::size_t>(k[0])];
        const zmath_vect& b = profile.points[static_cast<std::size_t>(k[1])];
        const zmath_vect& c = profile.points[static_cast<std::size_t>(k[2])];
        const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
        const double det = 2.0 * (bx * cy - by * cx);
        if (!(det != 0.0)) continue;
        const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
        const double ux = (cy * b2 - by * c2) / det, uy = (bx * c2 - cx * b2) / det;
        const double radius2 = ux * ux + uy * uy;
        if (!(radius2 > largest)) continue;
        const zmath_vect centre{a.x + ux, a.y + uy};
        if (region != nullptr && !(distance(centre, region->centre) <= region->delta)) continue;
        if (!holdsCentre(profile, triangulation, t, centre, std::sqrt(radius2))) continue;
        largest = radius2;
        candidate->centre = centre;
        candidate->count = 3;
        for (int32_t j = 0; j < 3; ++j) {
            candidate->index[j] = k[j];
            candidate->outer[j] = 0;
        }
    }
    if (region != nullptr && !(largest >= region->nearest * region->nearest)) return false;
    return largest >= 0.0;
}

// Steps 2 to 4; false when they do not settle the answer.
zfit_status searchNearStart(const Profile& profile, const zmath_vect& start, std::span<SweepPoint> sorted,
                            std::span<int32_t> kept, std::span<int32_t> work, Candidate* candidate, bool* found)
{
    *found = false;
    ZFIT_TRY(zsys_attention_check());
    const auto n = static_cast<int32_t>(profile.points.size());
    FreeRegion region;
    if (!boundFreeRegion(profile, start, work.first(static_cast<std::size_t>(n)), &region)) return zfit_ok;
    const int32_t buckets = n / 8 > 0 ? n / 8 : 1;
    const int32_t count = keepUndominated(profile, region, work.first(static_cast<std::size_t>(buckets)), kept);
    if (count < 3) return zfit_ok;
    Triangulation triangulation;
    const zfit_status status =
        triangulate(profile, kept.first(static_cast<std::size_t>(count)), sorted, work, &triangulation);
    if (status == zmath_errDegenerate) return zfit_ok;
    ZFIT_TRY(status);
    *found = largestHeldCircle(profile, triangulation, &region, candidate);
    return zfit_ok;
}

}  // namespace

int64_t inscribedStorage(int32_t n) { return triangulationStorage(n) + n; }

zfit_status searchInscribed(const Profile& profile, const zmath_vect& start, std::span<SweepPoint> sorted,
                            std::span<int32_t> work, Candidate* candidate)
{
    ZFIT_FAIL_IF(!surroundsStart(profile, start), zmet_errProfileOpen);
    const std::size_t n = profile.points.size();
    const std::span<int32_t> kept = work.first(n), rest = work.subspan(n);
    bool found = false;
    ZFIT_TRY(searchNearStart(profile, start, sorted, kept, rest, candidate, &found));
    if (found) return zfit_ok;
    ZFIT_TRY(zsys_attention_check());
    Triangulation triangulation;
    ZFIT_TRY(triangulate(profile, {}, sorted, rest, &triangulation));
    ZFIT_FAIL_IF(!largestHeldCircle(profile, triangulation, nullptr, candidate), zmet_errProfileOpen);
    return zfit_ok;
}

}  // namespace zmet::roundness
