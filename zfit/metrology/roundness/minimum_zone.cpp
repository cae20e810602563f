// The minimum-zone centre: the centre about which the largest and the
// smallest distance of the points differ least.
//
// Method: the exchange (Remez, Stiefel) algorithm of discrete Chebyshev
// approximation, applied to the limacon linearisation of the distances
// (as in Chetwynd's linear-programming treatment of roundness), and
// relinearised about the exact centre of its result until that centre no
// longer improves.
//
// About a centre c the distance of point k from c + delta is, to first
// order, rho_k - u_k . delta (rho_k its distance from c, u_k its unit
// direction). Minimising the spread of these values over delta is a
// Chebyshev approximation of the data rho_k by the functions 1, cos, sin of
// the direction angle: a Haar system, so the optimum is fixed by a
// reference of four points whose deviations alternate in sign around the
// circle (outer, inner, outer, inner) and levelled, and the exchange moves
// from reference to reference with a strictly growing levelled width.
//
// Steps, as in the code below:
//   1. Linearise about the least-squares centre (profile.cpp).
//   2. initialReference: four points with spread-out directions, roles
//      alternating by angle (swapped when the levelled width is negative);
//      where the centre sees fewer than four directions, about a point
//      nudged off it (referenceNear).
//   3. exchange: level the reference (two equations for delta: both outer
//      points at one level, both inner points at another); find the point
//      that lies farthest outside the two levels; it replaces one reference
//      point of its own role, the one whose replacement widens the levelled
//      width (in general position the one on its side of the other role's
//      chord, which keeps the roles alternating). Repeat while the levelled
//      width grows (ties may keep it for up to kStalls exchanges in a row).
//   4. zoneCentre: the exact centre of the final reference, where the two
//      outer points are equidistant and so are the two inner points (the
//      crossing of two perpendicular bisectors). Relinearise about it. When
//      the bisectors are parallel (two parallel chords, as pixel grids
//      give), the linear model's centre is taken instead.
//   5. Keep the centre when its true zone width (over all points) is
//      strictly below the best so far, and repeat from 3.
//   6. Otherwise step towards the linear model's own centre, c + delta,
//      which narrows the zone to first order, halving the step (up to
//      kHalvings times) until the zone narrows, and repeat from 3 about that
//      point; stop when no such step narrows it. Roundness profiles never
//      need this: the linear model is poor only where a point lies close to
//      the centre, as in scattered point clouds, or where ties of a pixel
//      grid make the model's reference a poor one about its exact centre.
//   7. probe: where the centre reached is not certified by its own contacts
//      (their alternation rests on an outer and an inner contact sharing a
//      ray, flat to first order, as a handful of grid points can give),
//      look for a narrower zone at eight points around it, at distances
//      halving from kProbeFirst to kProbeLast, and descend again from the
//      first one found; at most kProbes times.
//
// Termination: in step 3 the levelled width grows (by more than rounding,
// or stalls at most kStalls times in a row) and it is bounded; in step 5
// the true width falls strictly, a fixed function of the reference
// (zoneCentre takes its points in a fixed order), and there are finitely
// many references; step 6, and the linear model's centre in step 4, are
// taken at most kShortenedSteps times in all, step 7 at most kProbes
// times. At a fixed point the
// reference is levelled with no point outside it and alternates about its
// own centre: the optimality condition, which the certificate then checks
// over every point.
#include <algorithm>
#include <cmath>

#include "roundness_internal.hpp"

namespace zmet::roundness {

namespace {

// A violation smaller than this (in the normalised units, where the
// profile spans about 1) is rounding.
constexpr double kViolation = 1e-13;
// Two directions whose sine is below this count as one.
constexpr double kSameDirection = 1e-12;
// A step to a centre that widens the zone is halved up to kHalvings times
// until the zone narrows; at most kShortenedSteps steps are shortened.
constexpr int32_t kHalvings = 30;
constexpr int32_t kShortenedSteps = 64;
// How far a start that sees fewer than four directions is moved (in the
// normalised units, where the profile spans about 1).
constexpr double kNudge = 0x1p-10;
// Exchanges in a row that may keep the levelled width without widening it.
constexpr int32_t kStalls = 16;
// Probes around an uncertified centre: distances (normalised units) and
// how many rounds of probing and descending at most.
constexpr double kProbeFirst = 0x1p-4;
constexpr double kProbeLast = 0x1p-24;
constexpr int32_t kProbes = 4;

// Two outer and two inner points, alternating around the centre.
struct ZoneReference {
    int32_t outer[2];
    int32_t inner[2];
};

// The linear model's solution for a reference: the centre's offset and the
// outer (top) and inner (bottom) levels.
struct Levelled {
    double dx = 0.0, dy = 0.0, top = 0.0, bottom = 0.0;
    double width() const { return top - bottom; }
};

// Solves (u[o1] - u[o2]) . delta = rho[o1] - rho[o2] and the same for the
// inner pair; false when the two rows are (nearly) parallel.
bool level(const Linearisation& lin, const ZoneReference& ref, Levelled* out)
{
    const int32_t o1 = ref.outer[0], o2 = ref.outer[1], i1 = ref.inner[0], i2 = ref.inner[1];
    const double ax = lin.ux[o1] - lin.ux[o2], ay = lin.uy[o1] - lin.uy[o2], ra = lin.rho[o1] - lin.rho[o2];
    const double bx = lin.ux[i1] - lin.ux[i2], by = lin.uy[i1] - lin.uy[i2], rb = lin.rho[i1] - lin.rho[i2];
    const double det = ax * by - ay * bx;
    if (!(std::fabs(det) > kSameDirection * std::hypot(ax, ay) * std::hypot(bx, by))) return false;
    out->dx = (ra * by - ay * rb) / det;
    out->dy = (ax * rb - ra * bx) / det;
    out->top = lin.rho[o1] - (lin.ux[o1] * out->dx + lin.uy[o1] * out->dy);
    out->bottom = lin.rho[i1] - (lin.ux[i1] * out->dx + lin.uy[i1] * out->dy);
    return true;
}

// Which side of the chord from direction a to direction b direction k
// lies on (the sign of a cross product).
double side(const Linearisation& lin, int32_t a, int32_t b, int32_t k)
{
    return (lin.ux[b] - lin.ux[a]) * (lin.uy[k] - lin.uy[a]) - (lin.uy[b] - lin.uy[a]) * (lin.ux[k] - lin.ux[a]);
}

// The two chords cross: the roles alternate around the centre. Weakly:
// an end of one chord may lie on the other (directions that coincide).
bool alternates(const Linearisation& lin, const ZoneReference& ref, bool weakly = false)
{
    const double outerSides =
        side(lin, ref.inner[0], ref.inner[1], ref.outer[0]) * side(lin, ref.inner[0], ref.inner[1], ref.outer[1]);
    const double innerSides =
        side(lin, ref.outer[0], ref.outer[1], ref.inner[0]) * side(lin, ref.outer[0], ref.outer[1], ref.inner[1]);
    if (weakly) return outerSides <= 0.0 && innerSides <= 0.0;
    return outerSides < 0.0 && innerSides < 0.0;
}

bool sameDirection(const Linearisation& lin, int32_t a, int32_t b)
{
    const double cross = lin.ux[a] * lin.uy[b] - lin.uy[a] * lin.ux[b];
    const double dot = lin.ux[a] * lin.ux[b] + lin.uy[a] * lin.uy[b];
    return std::fabs(cross) <= kSameDirection && dot > 0.0;
}

// Adds point k to picks unless its direction is already there.
void addDistinct(const Linearisation& lin, int32_t k, int32_t* picks, int32_t* count)
{
    if (lin.rho[static_cast<std::size_t>(k)] <= 0.0) return;
    for (int32_t j = 0; j < *count; ++j)
        if (sameDirection(lin, picks[j], k)) return;
    picks[(*count)++] = k;
}

// Four points with directions spread around the centre: the extreme points
// in eight compass directions, topped up from the whole profile when an
// arc leaves fewer than four distinct ones; roles alternate by angle.
bool initialReference(const Linearisation& lin, ZoneReference* ref)
{
    constexpr double h = 0.70710678118654752;
    constexpr double compass[8][2] = {{1, 0}, {h, h}, {0, 1}, {-h, h}, {-1, 0}, {-h, -h}, {0, -1}, {h, -h}};
    int32_t extreme[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    double reach[8];
    std::fill(reach, reach + 8, -HUGE_VAL);
    const auto n = static_cast<int32_t>(lin.rho.size());
    for (int32_t k = 0; k < n; ++k)
        for (int d = 0; d < 8; ++d) {
            const double along = lin.ux[k] * compass[d][0] + lin.uy[k] * compass[d][1];
            if (along > reach[d]) {
                reach[d] = along;
                extreme[d] = k;
            }
        }
    int32_t picks[8];
    int32_t count = 0;
    for (int32_t k : extreme) addDistinct(lin, k, picks, &count);
    for (int32_t k = 0; k < n && count < 4; ++k) addDistinct(lin, k, picks, &count);
    if (count < 4) return false;

    // At most eight: an insertion sort by angle.
    double angle[8];
    for (int32_t j = 0; j < count; ++j) {
        const int32_t k = picks[j];
        const double a = std::atan2(lin.uy[k], lin.ux[k]);
        int32_t at = j;
        for (; at > 0 && angle[at - 1] > a; --at) {
            angle[at] = angle[at - 1];
            picks[at] = picks[at - 1];
        }
        angle[at] = a;
        picks[at] = k;
    }
    int32_t chosen[4];
    for (int32_t j = 0; j < 4; ++j) chosen[j] = picks[j * count / 4];
    *ref = {{chosen[0], chosen[2]}, {chosen[1], chosen[3]}};
    Levelled levelled;
    if (!level(lin, *ref, &levelled)) return false;
    if (levelled.width() < 0.0) *ref = {{chosen[1], chosen[3]}, {chosen[0], chosen[2]}};
    return true;
}

struct Violator {
    int32_t index = -1;
    bool outer = false;
    double amount = 0.0;
};

// The point that lies farthest above the top level or below the bottom one.
Violator worstViolator(const Linearisation& lin, const Levelled& levelled)
{
    Violator worst;
    const std::size_t n = lin.rho.size();
    for (std::size_t k = 0; k < n; ++k) {
        const double value = lin.rho[k] - (lin.ux[k] * levelled.dx + lin.uy[k] * levelled.dy);
        const double above = value - levelled.top, below = levelled.bottom - value;
        if (above > worst.amount) worst = {static_cast<int32_t>(k), true, above};
        if (below > worst.amount) worst = {static_cast<int32_t>(k), false, below};
    }
    return worst;
}

// The violator takes the place of one reference point of its own role: the
// one on its side of the other role's chord, which keeps the roles
// alternating. Where directions coincide (a pixel grid seen along a row)
// that side is undefined and both choices may alternate weakly; so each
// choice that alternates is levelled, and the one with the wider levelled
// width is kept. False when no choice keeps the width from shrinking
// (beyond rounding).
bool exchanged(const Linearisation& lin, const ZoneReference& ref, const Levelled& current, const Violator& v,
               ZoneReference* next, Levelled* nextLevelled)
{
    bool found = false;
    for (int32_t replaced = 0; replaced < 2; ++replaced) {
        ZoneReference trial = ref;
        (v.outer ? trial.outer : trial.inner)[replaced] = v.index;
        Levelled levelled;
        if (!alternates(lin, trial, true) || !level(lin, trial, &levelled) ||
            !(levelled.width() >= current.width() - kViolation))
            continue;
        if (!found || levelled.width() > nextLevelled->width()) {
            *next = trial;
            *nextLevelled = levelled;
            found = true;
        }
    }
    return found;
}

// Step 3: exchanges until no point lies outside the levels, no exchange
// keeps the levelled width, or kStalls exchanges in a row fail to widen it
// (ties can make an exchange keep the width; a run of them could cycle).
// The reference must level.
zfit_status exchange(const Linearisation& lin, ZoneReference* ref, Levelled* levelled)
{
    for (int32_t stalls = 0; stalls < kStalls;) {
        ZFIT_TRY(zsys_attention_check());
        const Violator worst = worstViolator(lin, *levelled);
        if (worst.amount <= kViolation) return zfit_ok;
        ZoneReference next;
        Levelled nextLevelled;
        if (!exchanged(lin, *ref, *levelled, worst, &next, &nextLevelled)) return zfit_ok;
        stalls = nextLevelled.width() > levelled->width() + kViolation ? 0 : stalls + 1;
        *ref = next;
        *levelled = nextLevelled;
    }
    return zfit_ok;
}

// Step 4: the point equidistant from both outer points and from both inner
// points, computed from the points alone (in index order) relative to the
// first outer point.
bool zoneCentre(const Profile& profile, const ZoneReference& ref, zmath_vect* centre)
{
    const zmath_vect& o1 = profile.points[static_cast<std::size_t>(std::min(ref.outer[0], ref.outer[1]))];
    const zmath_vect& o2 = profile.points[static_cast<std::size_t>(std::max(ref.outer[0], ref.outer[1]))];
    const zmath_vect& i1 = profile.points[static_cast<std::size_t>(std::min(ref.inner[0], ref.inner[1]))];
    const zmath_vect& i2 = profile.points[static_cast<std::size_t>(std::max(ref.inner[0], ref.inner[1]))];
    const double ax = o2.x - o1.x, ay = o2.y - o1.y, ra = 0.5 * (ax * ax + ay * ay);
    const double bx = i2.x - i1.x, by = i2.y - i1.y;
    const double e1x = i1.x - o1.x, e1y = i1.y - o1.y, e2x = i2.x - o1.x, e2y = i2.y - o1.y;
    const double rb = 0.5 * ((e2x * e2x + e2y * e2y) - (e1x * e1x + e1y * e1y));
    const double det = ax * by - ay * bx;
    if (!(std::fabs(det) > kSameDirection * std::hypot(ax, ay) * std::hypot(bx, by))) return false;
    *centre = {o1.x + (ra * by - ay * rb) / det, o1.y + (ax * rb - ra * bx) / det};
    return true;
}

// A reference about `centre`, or about a point nudged off it: four distinct
// directions are needed, and a centre on a point, or on the line through two
// points on one side of it (as pixel grids give), may not see them. The
// linearisation is left about the point used, `about`.
bool referenceNear(const Profile& profile, const zmath_vect& centre, Linearisation& lin, ZoneReference* ref,
                   Levelled* levelled, zmath_vect* about)
{
    const zmath_vect nudges[3] = {{0.0, 0.0}, {kNudge, 0.0}, {0.0, kNudge}};
    for (const zmath_vect& nudge : nudges) {
        *about = {centre.x + nudge.x, centre.y + nudge.y};
        linearise(profile, *about, lin);
        if (initialReference(lin, ref) && level(lin, *ref, levelled)) return true;
    }
    return false;
}

Candidate candidateOf(const zmath_vect& centre, const ZoneReference& ref)
{
    Candidate c;
    c.centre = centre;
    c.count = 4;
    const int32_t index[4] = {ref.outer[0], ref.outer[1], ref.inner[0], ref.inner[1]};
    const int32_t outer[4] = {1, 1, 0, 0};
    std::copy(index, index + 4, c.index);
    std::copy(outer, outer + 4, c.outer);
    return c;
}

// Steps 2 to 6 from `best` (its centre and zone width), which they improve.
zfit_status descend(const Profile& profile, Linearisation& lin, Candidate* best, double* bestWidth)
{
    ZoneReference ref{};
    Levelled levelled;
    zmath_vect about = best->centre;  // the centre the linear model is taken about
    bool haveReference = referenceNear(profile, best->centre, lin, &ref, &levelled, &about);
    int32_t shortened = 0;
    while (haveReference) {
        ZFIT_TRY(zsys_attention_check());
        ZFIT_TRY(exchange(lin, &ref, &levelled));
        zmath_vect next;
        const bool exact = zoneCentre(profile, ref, &next);
        if (!exact) next = {about.x + levelled.dx, about.y + levelled.dy};
        linearise(profile, next, lin);
        const double width = lin.farthest - lin.nearest;
        if (width < *bestWidth && (exact || shortened++ < kShortenedSteps)) {
            *bestWidth = width;
            *best = candidateOf(next, ref);
            about = next;
        } else {
            // Shorten only where the linear model promises a narrower zone:
            // at a fixed point it does not, and the descent is over.
            if (!(levelled.width() < *bestWidth - kViolation) || shortened++ >= kShortenedSteps) break;
            bool narrowed = false;
            for (int32_t h = 0; h <= kHalvings && !narrowed; ++h) {
                ZFIT_TRY(zsys_attention_check());
                const double part = std::ldexp(1.0, -h);
                const zmath_vect trial{about.x + part * levelled.dx, about.y + part * levelled.dy};
                linearise(profile, trial, lin);
                narrowed = lin.farthest - lin.nearest < *bestWidth;
                if (narrowed) {
                    *bestWidth = lin.farthest - lin.nearest;
                    *best = Candidate{};
                    best->centre = trial;
                    about = trial;
                }
            }
            if (!narrowed) break;
        }
        // The same reference while it still alternates about the new centre.
        haveReference = (alternates(lin, ref) && level(lin, ref, &levelled)) ||
                        referenceNear(profile, about, lin, &ref, &levelled, &about);
    }
    return zfit_ok;
}

// Step 7: a narrower zone about a centre in one of eight directions, at
// distances halving from kProbeFirst to kProbeLast; false when there is
// none.
zfit_status probe(const Profile& profile, Linearisation& lin, Candidate* best, double* bestWidth, bool* narrowed)
{
    constexpr double h = 0.70710678118654752;
    constexpr double compass[8][2] = {{1, 0}, {h, h}, {0, 1}, {-h, h}, {-1, 0}, {-h, -h}, {0, -1}, {h, -h}};
    *narrowed = false;
    const zmath_vect from = best->centre;
    for (double step = kProbeFirst; step >= kProbeLast && !*narrowed; step *= 0.5) {
        ZFIT_TRY(zsys_attention_check());
        for (const auto& d : compass) {
            const zmath_vect trial{from.x + step * d[0], from.y + step * d[1]};
            linearise(profile, trial, lin);
            if (lin.farthest - lin.nearest < *bestWidth) {
                *bestWidth = lin.farthest - lin.nearest;
                *best = Candidate{};
                best->centre = trial;
                *narrowed = true;
            }
        }
    }
    return zfit_ok;
}

}  // namespace

zfit_status searchMinimumZone(const Profile& profile, const zmath_vect& start, Linearisation& lin, Candidate* candidate)
{
    Candidate best;
    best.centre = start;
    linearise(profile, start, lin);
    double bestWidth = lin.farthest - lin.nearest;
    for (int32_t round = 0; round <= kProbes; ++round) {
        ZFIT_TRY(descend(profile, lin, &best, &bestWidth));
        if (certifiedByOwnPoints(zmet_roundnessMinimumZone, profile, best)) break;
        bool narrowed = false;
        ZFIT_TRY(probe(profile, lin, &best, &bestWidth, &narrowed));
        if (!narrowed) break;
    }
    *candidate = best;
    return zfit_ok;
}

}  // namespace zmet::roundness
