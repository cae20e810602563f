// The proof that a minimum zone is the global one: a branch and bound over
// boxes of centres, from the exchange's local optimum.
//
// The zone about a centre c is w(c) = max_k |p_k - c| - min_k |p_k - c|.
// Every centre that could beat the best width U found so far lies in a
// bounded region, most of it is shut out at once around the best centre,
// and the rest is cut into boxes until each is either proved to hold no
// narrower zone or yields a narrower one, from which the exchange descends
// again (minimum_zone.cpp). In the code's symbols:
//   1. region: seen from far off in direction u, the zone tends to the
//      width W_u of the points across u; precisely, for c at distance L
//      from the centroid g and rho the farthest point's distance from g,
//      w(c) >= W_min - rho^2 / (2 (L - rho)) (each distance lies between
//      L - x and L - x + y^2 / (2 (L - x)), x and y the point's offsets
//      along and across u). With W_min, the minimum width of the points, or
//      any lower bound on it (one from how the points surround the best
//      centre, else rotating calipers on the convex hull), every centre
//      narrower than U lies within L = rho + rho^2 / (2 (W_min - U)) of g.
//      When U is not below W_min, centres far off the narrowest strip, on
//      the side of its two contacts, bend it into narrower zones
//      (stripSeeds), and the exchange descends from the best of them.
//   2. shut-out disc: at a centre c0 whose zone rests on outer points a1,
//      a2 and inner points b1, b2 alternating around it (outer radius R,
//      inner r, unit directions u), every distance is convex, so
//      |a - c| >= |a - c0| - u_a . D, and curves by at most 1 / (r - s) at
//      the inner points, so |b - c| <= |b - c0| - u_b . D + s^2 / (2 (r - s))
//      for D = c - c0, s = |D|. Hence
//        w(c) >= U + h(D) - s^2 / (2 (r - s)),
//      h(D) = max over a, b of (u_b - u_a) . D >= kappa s, and kappa > 0
//      exactly because the roles alternate. No centre within
//      s = 2 kappa r / (1 + 2 kappa) of c0 beats U.
//   3. boxes, in squares about g growing fourfold from 2 rho until one
//      holds the region (so that narrow zones near the points, which shrink
//      the region, are met before the far part of it is searched): about a
//      box of centre m and half-diagonal delta every distance moves by at
//      most delta, so w >= w(m) - 2 delta on the box; a sharper bound comes
//      from the two farthest and two nearest points (lowerBound). A box
//      whose bound reaches U, that lies in the disc or beyond the region,
//      is done; one whose centre is narrower than U starts a new descent;
//      the others are cut in four, depth first, the part of the narrowest
//      zone at its centre next, so that the search runs down the valleys of
//      the zone to the narrow ones. A box smaller than the tolerance is
//      always done, so the search ends.
// The result is the global minimum zone up to kTolerance of the profile's
// extent (normalised to about 1), or up to the rounding of the zone about
// centres so far off that it exceeds that. Each box is one pass over the
// points; at most 2^28 distances are evaluated in all, else
// zmet_errSearchBudget. A local optimum farther than kFarthestCentre from
// the points is not taken (the zone about it is mostly rounding); points
// whose zones only narrow as the centre recedes are zmath_errDegenerate.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "roundness_internal.hpp"

namespace zmet::roundness {

namespace {

// No centre gives a zone narrower than the result's by more than this (in
// the normalised units, where the profile spans 1 to 2).
constexpr double kTolerance = 0x1p-40;
// The rounding of a zone width: a few units in the last place of the
// distances it is computed from.
constexpr double kWidthRounding = 16.0 * 0x1p-52;
// Distances the search over boxes may evaluate at most (each box takes one
// per point): about a second's work.
constexpr int64_t kMaxWork = int64_t{1} << 28;
// The far centres that bend the narrowest strip: at rho * 2^k, k below
// this (beyond, the zone's rounding grows past the bending's gain).
constexpr int kStripSeeds = 10;
// A zone no narrower than the narrowest strip by this much is the strip's
// (its centre recedes for ever, or bending it gains less than rounding).
constexpr double kStripMargin = 0x1p-30;
// Centres farther than this from the points (in the normalised units) are
// not taken: the zone about them is computed from distances whose rounding
// approaches the margin above.
constexpr double kFarthestCentre = 0x1p16;

double distance(const zmath_vect& a, const zmath_vect& b) { return std::hypot(a.x - b.x, a.y - b.y); }

double cross(const zmath_vect& o, const zmath_vect& a, const zmath_vect& b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// The narrowest strip that holds the points: its width, and the hull edge
// (p, q) and opposite vertex s that fix it.
struct Strip {
    double width = HUGE_VAL;
    zmath_vect p{}, q{}, s{};
};

// Andrew's monotone chain into `hull` (counterclockwise, no collinear
// vertices), then rotating calipers. `order` and `hull` are scratch of n
// and 2n indices.
Strip narrowestStrip(const Profile& profile, std::span<int32_t> order, std::span<int32_t> hull)
{
    const auto& pts = profile.points;
    const auto n = static_cast<int32_t>(pts.size());
    const auto at = [&](int32_t k) -> const zmath_vect& { return pts[static_cast<std::size_t>(k)]; };
    for (int32_t k = 0; k < n; ++k) order[static_cast<std::size_t>(k)] = k;
    std::sort(order.begin(), order.begin() + n,
              [&](int32_t a, int32_t b) { return at(a).x < at(b).x || (at(a).x == at(b).x && at(a).y < at(b).y); });
    int32_t h = 0;
    const auto push = [&](int32_t k, int32_t floor) {
        while (h > floor && cross(at(hull[static_cast<std::size_t>(h - 2)]), at(hull[static_cast<std::size_t>(h - 1)]),
                                  at(k)) <= 0.0)
            --h;
        hull[static_cast<std::size_t>(h++)] = k;
    };
    for (int32_t k = 0; k < n; ++k) push(order[static_cast<std::size_t>(k)], 1);
    for (int32_t k = n - 2, lower = h; k >= 0; --k) push(order[static_cast<std::size_t>(k)], lower);
    --h;  // the first vertex closed the chain
    Strip best;
    if (h < 3) return best;
    const auto vertex = [&](int32_t k) -> const zmath_vect& { return at(hull[static_cast<std::size_t>(k % h)]); };
    int32_t far = 1;
    for (int32_t e = 0; e < h; ++e) {
        const zmath_vect &a = vertex(e), &b = vertex(e + 1);
        while (cross(a, b, vertex(far + 1)) > cross(a, b, vertex(far))) ++far;
        const double width = cross(a, b, vertex(far)) / distance(a, b);
        if (width < best.width) best = {width, a, b, vertex(far)};
    }
    return best;
}

// Step 2: the radius about the candidate's centre within which no centre
// beats its zone, from its own four alternating contacts; 0 when they do
// not certify it, or touch their circles too loosely for the tolerance.
double shutOutRadius(const Profile& profile, const Candidate& best, const Radii& radii)
{
    if (best.count != 4 || !certifiedByOwnPoints(zmet_roundnessMinimumZone, profile, best)) return 0.0;
    zmath_vect u[4];
    double slack = 0.0;  // how far a contact lies off its circle
    for (int k = 0; k < 4; ++k) {
        const zmath_vect& p = profile.points[static_cast<std::size_t>(best.index[k])];
        const double d = distance(p, best.centre);
        u[k] = {(p.x - best.centre.x) / d, (p.y - best.centre.y) / d};
        slack = std::fmax(slack, best.outer[k] ? radii.farthest - d : d - radii.nearest);
    }
    if (!(2.0 * slack < 0.5 * kTolerance)) return 0.0;
    // h(v) = max over outer a, inner b of (u_b - u_a) . v; its least value
    // on the unit circle is where two of its pieces meet or where one piece
    // is least.
    zmath_vect w[4];
    int m = 0;
    for (int a = 0; a < 4; ++a)
        for (int b = 0; b < 4; ++b)
            if (best.outer[a] && !best.outer[b]) w[m++] = {u[b].x - u[a].x, u[b].y - u[a].y};
    if (m != 4) return 0.0;
    const auto h = [&](const zmath_vect& v) {
        double most = -HUGE_VAL;
        for (const zmath_vect& wk : w) most = std::fmax(most, wk.x * v.x + wk.y * v.y);
        return most;
    };
    double kappa = HUGE_VAL;
    const auto tryDirection = [&](double x, double y) {
        const double length = std::hypot(x, y);
        if (length > 0.0) kappa = std::fmin(kappa, h({x / length, y / length}));
    };
    for (int i = 0; i < 4; ++i) {
        tryDirection(-w[i].x, -w[i].y);
        for (int j = i + 1; j < 4; ++j) {
            tryDirection(-(w[i].y - w[j].y), w[i].x - w[j].x);
            tryDirection(w[i].y - w[j].y, -(w[i].x - w[j].x));
        }
    }
    if (!(kappa > 0.0)) return 0.0;
    // kappa was found to rounding: a share of it is kept back.
    kappa *= 1.0 - 1e-9;
    return 2.0 * kappa * radii.nearest / (1.0 + 2.0 * kappa);
}

// The two farthest and the two nearest points from a centre, and their
// distances (the same point twice when there is only one).
struct Extremes {
    int32_t outer[2] = {0, 0}, inner[2] = {0, 0};
    double farthest[2] = {-1.0, -1.0}, nearest[2] = {HUGE_VAL, HUGE_VAL};
    double width() const { return farthest[0] - nearest[0]; }
};

Extremes extremesAbout(const Profile& profile, const zmath_vect& c)
{
    Extremes e;
    const auto n = static_cast<int32_t>(profile.points.size());
    for (int32_t k = 0; k < n; ++k) {
        const zmath_vect& p = profile.points[static_cast<std::size_t>(k)];
        const double dx = p.x - c.x, dy = p.y - c.y, d2 = dx * dx + dy * dy;
        if (d2 > e.farthest[1]) {
            const bool first = d2 > e.farthest[0];
            e.farthest[1] = first ? e.farthest[0] : d2;
            e.outer[1] = first ? e.outer[0] : k;
            if (first) {
                e.farthest[0] = d2;
                e.outer[0] = k;
            }
        }
        if (d2 < e.nearest[1]) {
            const bool first = d2 < e.nearest[0];
            e.nearest[1] = first ? e.nearest[0] : d2;
            e.inner[1] = first ? e.inner[0] : k;
            if (first) {
                e.nearest[0] = d2;
                e.inner[0] = k;
            }
        }
    }
    for (int k = 0; k < 2; ++k) {
        if (e.farthest[1] < 0.0) e.farthest[1] = e.farthest[0], e.outer[1] = e.outer[0];
        if (e.nearest[1] == HUGE_VAL) e.nearest[1] = e.nearest[0], e.inner[1] = e.inner[0];
        e.farthest[k] = std::sqrt(e.farthest[k]);
        e.nearest[k] = std::sqrt(e.nearest[k]);
    }
    return e;
}

}  // namespace

// The least over the square |D.x|, |D.y| <= half of max_k (c_k - w_k . D),
// four planes: at a corner of the square, where two planes meet on its
// edge, or where the lines on which planes meet cross inside it.
double leastOverSquare(const double (&c)[4], const zmath_vect (&w)[4], double half)
{
    const auto value = [&](double x, double y) {
        double most = -HUGE_VAL;
        for (int k = 0; k < 4; ++k) most = std::fmax(most, c[k] - w[k].x * x - w[k].y * y);
        return most;
    };
    const auto inside = [&](double x, double y) { return std::fabs(x) <= half && std::fabs(y) <= half; };
    double least = HUGE_VAL;
    for (const double x : {-half, half})
        for (const double y : {-half, half}) least = std::fmin(least, value(x, y));
    // The line where planes k and l meet: a . D = b.
    struct Line {
        double ax, ay, b;
    };
    Line lines[6];
    int count = 0;
    for (int k = 0; k < 4; ++k)
        for (int l = k + 1; l < 4; ++l) lines[count++] = {w[l].x - w[k].x, w[l].y - w[k].y, c[l] - c[k]};
    for (int i = 0; i < count; ++i) {
        const Line& a = lines[i];
        for (const double edge : {-half, half}) {
            if (a.ay != 0.0) {
                const double y = (a.b - a.ax * edge) / a.ay;
                if (inside(edge, y)) least = std::fmin(least, value(edge, y));
            }
            if (a.ax != 0.0) {
                const double x = (a.b - a.ay * edge) / a.ax;
                if (inside(x, edge)) least = std::fmin(least, value(x, edge));
            }
        }
        for (int j = i + 1; j < count; ++j) {
            const Line& b = lines[j];
            const double det = a.ax * b.ay - a.ay * b.ax;
            if (det == 0.0) continue;
            const double x = (a.b * b.ay - a.ay * b.b) / det, y = (a.ax * b.b - a.b * b.ax) / det;
            if (inside(x, y)) least = std::fmin(least, value(x, y));
        }
    }
    return least;
}

namespace {

// A lower bound on the zone about every centre c + D in the square of
// half-side `half` about c. For outer points a and inner points b,
// w(c + D) >= max_a |a - c - D| - min_b |b - c - D|; by convexity
// |a - c - D| >= |a - c| - u_a . D, and as |b - c| curves by at most
// 1 / (|b - c| - delta), |b - c - D| <= |b - c| - u_b . D + delta^2 /
// (2 (|b - c| - delta)), delta the square's half-diagonal. With the two
// farthest and the two nearest points from c the planes (|a - c| - |b - c|)
// - (u_a - u_b) . D are least somewhere on the square (leastOverSquare):
// where their directions nearly agree (a short arc seen from afar) that is
// far sharper than w(c) - 2 delta, which also holds (every distance moves
// by at most delta). The larger of the two: the rounding of w(c) itself
// (a few units in the last place of the distances) is not taken off, so
// that far from the points, where it exceeds the tolerance, a box is
// still settled against what can be computed there.
double lowerBound(const Profile& profile, const Extremes& e, const zmath_vect& c, double half)
{
    const double delta = half * std::numbers::sqrt2;
    const double lipschitz = e.width() - 2.0 * delta * (1.0 + 0x1p-50);
    if (!(e.nearest[0] > delta) || !(e.farthest[1] > 0.0)) return lipschitz;
    const auto unit = [&](int32_t k, double d) {
        const zmath_vect& p = profile.points[static_cast<std::size_t>(k)];
        return zmath_vect{(p.x - c.x) / d, (p.y - c.y) / d};
    };
    double planes[4];
    zmath_vect slopes[4];
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b) {
            const zmath_vect ua = unit(e.outer[a], e.farthest[a]), ub = unit(e.inner[b], e.nearest[b]);
            planes[2 * a + b] = e.farthest[a] - e.nearest[b];
            slopes[2 * a + b] = {ua.x - ub.x, ua.y - ub.y};
        }
    const double curve = delta * delta / (2.0 * (e.nearest[0] - delta));
    // The planes' least is found to rounding of the slopes times delta.
    const double paired = leastOverSquare(planes, slopes, half) - curve * (1.0 + 0x1p-40) - 0x1p-48 * delta;
    return std::fmax(lipschitz, paired);
}

struct Box {
    zmath_vect centre;
    double half;  // half the side
};

// The best zone found so far, and the disc about its centre it shuts out.
struct Best {
    Candidate candidate;
    Radii radii;
    double shutOut = 0.0;
};

// A local descent from `start`; keeps it when narrower than the best.
zfit_status descendFrom(const Profile& profile, Linearisation& lin, const zmath_vect& start, Best* best)
{
    Candidate found;
    ZFIT_TRY(searchMinimumZone(profile, start, lin, &found));
    const Radii radii = radiiAbout(profile, found.centre);
    if (!(radii.width() < best->radii.width()) || !(radii.farthest <= kFarthestCentre)) return zfit_ok;
    best->candidate = found;
    best->radii = radii;
    best->shutOut = shutOutRadius(profile, found, radii);
    return zfit_ok;
}

// Step 1's seeds: centres far off the narrowest strip, on the side of its
// two contacts and across from the third.
zfit_status stripSeeds(const Profile& profile, Linearisation& lin, const Strip& strip, double reach, Best* best)
{
    const double dx = strip.q.x - strip.p.x, dy = strip.q.y - strip.p.y, length = std::hypot(dx, dy);
    const zmath_vect along{dx / length, dy / length};
    zmath_vect normal{-along.y, along.x};
    if ((strip.s.x - strip.p.x) * normal.x + (strip.s.y - strip.p.y) * normal.y > 0.0) normal = {-normal.x, -normal.y};
    const double t = (strip.s.x - strip.p.x) * along.x + (strip.s.y - strip.p.y) * along.y;
    const zmath_vect foot{strip.p.x + t * along.x, strip.p.y + t * along.y};
    zmath_vect seed = best->candidate.centre;
    double seedWidth = best->radii.width();
    for (int k = 0; k < kStripSeeds; ++k) {
        ZFIT_TRY(zsys_attention_check());
        const double away = std::ldexp(reach, k);
        const zmath_vect c{foot.x + away * normal.x, foot.y + away * normal.y};
        const double width = radiiAbout(profile, c).width();
        if (width < seedWidth) {
            seed = c;
            seedWidth = width;
        }
    }
    return descendFrom(profile, lin, seed, best);
}

// Where a narrower zone's centre can lie (step 1): within reach(U) of g.
struct Region {
    zmath_vect g{};
    double rho = 0.0, narrowest = 0.0;
    double reach(double width) const { return rho + rho * rho / (2.0 * (narrowest - width)); }
};

// Step 3 over the square `root`, less the square about g of half side
// `searched` (done before), depth first. A box is settled once its bound
// reaches the best width or it lies beyond the region that width leaves,
// both of which tighten as narrower zones are met; of the four parts of a
// box cut, the one of the narrowest zone at its centre comes next, so that
// the search runs down the valleys of the zone to the narrow ones.
zfit_status searchBoxes(const Profile& profile, Linearisation& lin, const Region& region, const Box& root,
                        double searched, Best* best, int64_t* work)
{
    const auto settled = [&](const Box& box, double bound) {
        const double delta = box.half * std::numbers::sqrt2, width = best->radii.width();
        const bool done = std::fabs(box.centre.x - region.g.x) + box.half <= searched &&
                          std::fabs(box.centre.y - region.g.y) + box.half <= searched;
        return done || bound >= width - kTolerance ||
               distance(box.centre, best->candidate.centre) + delta <= best->shutOut ||
               distance(box.centre, region.g) - delta > region.reach(width) * (1.0 + 0x1p-40);
    };
    struct Open {
        Box box;
        double width, bound;
    };
    // A narrower zone at the box's centre starts a descent (narrower by half
    // the tolerance, so that a box too small to cut is always settled:
    // either this, or its bound reaches within the tolerance).
    const auto examine = [&](const Box& box, Open* open) -> zfit_status {
        ZFIT_TRY(zsys_attention_check());
        *work += static_cast<int64_t>(profile.points.size());
        ZFIT_FAIL_IF(*work > kMaxWork, zmet_errSearchBudget);
        const Extremes extremes = extremesAbout(profile, box.centre);
        if (extremes.width() < best->radii.width() - 0.5 * kTolerance)
            ZFIT_TRY(descendFrom(profile, lin, box.centre, best));
        *open = {box, extremes.width(), lowerBound(profile, extremes, box.centre, box.half)};
        return zfit_ok;
    };
    // Each box cut leaves three parts on the stack: three per level, and the
    // levels from a square of the region's size to the tolerance fit.
    constexpr int kStack = 3 * 128 + 1;
    Open stack[kStack];
    int depth = 0;
    if (!settled(root, -HUGE_VAL)) ZFIT_TRY(examine(root, &stack[depth++]));
    while (depth > 0) {
        const Open open = stack[--depth];
        if (settled(open.box, open.bound)) continue;
        ZFIT_FAIL_IF(depth + 4 > kStack, zmet_errSearchBudget);
        Open parts[4];
        int count = 0;
        const double quarter = 0.5 * open.box.half;
        for (const double sx : {-1.0, 1.0})
            for (const double sy : {-1.0, 1.0}) {
                const Box part{{open.box.centre.x + sx * quarter, open.box.centre.y + sy * quarter}, quarter};
                if (!settled(part, -HUGE_VAL)) ZFIT_TRY(examine(part, &parts[count++]));
            }
        // Widest first onto the stack, so the narrowest is taken next.
        for (int k = 1; k < count; ++k)
            for (int j = k; j > 0 && parts[j].width > parts[j - 1].width; --j) std::swap(parts[j], parts[j - 1]);
        for (int k = 0; k < count; ++k) stack[depth++] = parts[k];
    }
    return zfit_ok;
}

}  // namespace

int64_t zoneStorage(int32_t n) { return 3 * static_cast<int64_t>(n); }

zfit_status proveMinimumZone(const Profile& profile, Linearisation& lin, std::span<int32_t> scratch,
                             Candidate* candidate)
{
    const std::size_t n = profile.points.size();
    Best best;
    best.candidate = *candidate;
    best.radii = radiiAbout(profile, candidate->centre);

    // Step 1: the region, about the centroid.
    zmath_vect g{0.0, 0.0};
    for (const zmath_vect& p : profile.points) g = {g.x + p.x, g.y + p.y};
    g = {g.x / static_cast<double>(n), g.y / static_cast<double>(n)};
    double rho2 = 0.0;
    for (const zmath_vect& p : profile.points)
        rho2 = std::fmax(rho2, (p.x - g.x) * (p.x - g.x) + (p.y - g.y) * (p.y - g.y));
    const double rho = std::sqrt(rho2) * (1.0 + 0x1p-48);
    // A local optimum that ran off far (points nearly on a line) starts
    // from the centroid instead.
    if (!(best.radii.farthest <= kFarthestCentre)) {
        best.candidate = Candidate{};
        best.candidate.centre = g;
        best.radii = radiiAbout(profile, g);
    }
    best.shutOut = shutOutRadius(profile, best.candidate, best.radii);
    // A lower bound on the minimum width in one pass: seen from the best
    // centre every direction has a point within half the widest gap G of
    // it, no nearer than the inner radius r, so the points reach at least
    // r cos(G / 2) on each side of it. Where that does not put the strip
    // wider than the zone (an open arc), the narrowest strip itself.
    const Surround seen = surroundAbout(profile, best.candidate.centre, scratch.first(std::max<std::size_t>(n / 4, 1)));
    double narrowest = seen.widestGap < std::numbers::pi ? 2.0 * seen.nearest * std::cos(0.5 * seen.widestGap) : 0.0;
    narrowest = narrowest * (1.0 - 0x1p-48) - kWidthRounding;
    if (!(best.radii.width() < narrowest - kStripMargin)) {
        const Strip strip = narrowestStrip(profile, scratch.first(n), scratch.subspan(n, 2 * n));
        // The width, rounded down: a wider one would shrink the region wrongly.
        narrowest = strip.width * (1.0 - 0x1p-48) - kWidthRounding;
        if (!(best.radii.width() < narrowest - kStripMargin) && std::isfinite(strip.width))
            ZFIT_TRY(stripSeeds(profile, lin, strip, rho, &best));
    }
    // Points whose narrowest zone is no narrower than their narrowest strip
    // have no minimum-zone circle: the zone only narrows as its centre
    // recedes.
    ZFIT_FAIL_IF(!(best.radii.width() < narrowest - kStripMargin), zmath_errDegenerate);
    // Squares about g growing fourfold from twice rho, each searched less
    // the one before, until one holds the region: narrow zones near the
    // points are met before the far region is searched, and shrink it.
    const Region region{g, rho, narrowest};
    int64_t work = 0;
    for (double searched = 0.0, half = 2.0 * rho; searched < region.reach(best.radii.width()); half *= 4.0) {
        half = std::fmin(half, region.reach(best.radii.width()) * (1.0 + 0x1p-40));
        ZFIT_TRY(searchBoxes(profile, lin, region, {g, half}, searched, &best, &work));
        searched = half;
    }
    *candidate = best.candidate;
    return zfit_ok;
}

}  // namespace zmet::roundness
