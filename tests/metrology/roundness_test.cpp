// Roundness: the three reference circles against an exhaustive search on
// small lobed profiles, their certificates checked independently on pixel
// grids, and every refusal, cancellation and failed allocation.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include <zfit/metrology/metrology.h>

#include "predicates.hpp"
#include "roundness_internal.hpp"
#include "scatter.hpp"

namespace {

using Points = std::vector<zmath_vect>;
constexpr int32_t kMethods[] = {zmet_roundnessMinimumZone, zmet_roundnessCircumscribed, zmet_roundnessInscribed};
const char* const kNames[] = {"minimum zone", "circumscribed", "inscribed"};

// A closed profile of n points about `centre`: radius r0 plus lobes of the
// given amplitude, a little noise, and angles jittered by up to a quarter
// of their spacing.
Points lobedProfile(zt::Rng& rng, int n, zmath_vect centre, double r0, double amplitude, int lobes)
{
    const double phase = rng.uniform(0, 2 * zt::pi), spacing = 2 * zt::pi / n;
    Points p;
    for (int k = 0; k < n; ++k) {
        const double t = k * spacing + rng.uniform(-0.25, 0.25) * spacing;
        const double r = r0 + amplitude * std::cos(lobes * t + phase) + rng.normal(0.05 * amplitude);
        p.push_back({centre.x + r * std::cos(t), centre.y + r * std::sin(t)});
    }
    return p;
}

// A random lobed profile of n points at a random place and scale.
Points randomProfile(zt::Rng& rng, int n, double relativeAmplitude)
{
    const double r0 = std::pow(10.0, rng.uniform(-2, 3));
    const zmath_vect centre{rng.uniform(-50, 50) * r0, rng.uniform(-50, 50) * r0};
    return lobedProfile(rng, n, centre, r0, relativeAmplitude * r0 * rng.uniform(0.05, 1), rng.integer(2, 6));
}

zfit_status roundness(const Points& p, int32_t method, zmet_roundnessResult* r, double maxRoundness = HUGE_VAL)
{
    zmet_roundnessParams params;
    zmet_roundnessParams_init(&params);
    params.method = method;
    params.maxRoundness = maxRoundness;
    return zmet_roundness(p.data(), static_cast<int32_t>(p.size()), &params, r);
}

double distance(const zmath_vect& a, const zmath_vect& b) { return std::hypot(a.x - b.x, a.y - b.y); }

struct Spread {
    double nearest = HUGE_VAL, farthest = 0;
};

Spread spreadAbout(const Points& p, const zmath_vect& c)
{
    Spread s;
    for (const zmath_vect& q : p) {
        s.nearest = std::min(s.nearest, distance(q, c));
        s.farthest = std::max(s.farthest, distance(q, c));
    }
    return s;
}

// The boundary pixels of a lobed shape about the origin, on a grid of the
// given step, each once.
Points pixelOutline(double r0, double amplitude, int lobes, double phase, int steps, double grid)
{
    Points p;
    for (int k = 0; k < steps; ++k) {
        const double t = 2 * zt::pi * k / steps, r = r0 + amplitude * std::cos(lobes * t + phase);
        const zmath_vect q{std::round(r * std::cos(t)) * grid, std::round(r * std::sin(t)) * grid};
        if (std::none_of(p.begin(), p.end(), [&](const zmath_vect& s) { return s.x == q.x && s.y == q.y; }))
            p.push_back(q);
    }
    return p;
}

// ---- the exhaustive references ------------------------------------------------

bool circumcentre(const zmath_vect& a, const zmath_vect& b, const zmath_vect& c, zmath_vect* o)
{
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y, d = 2 * (bx * cy - by * cx);
    if (d == 0) return false;
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    *o = {a.x + (cy * b2 - by * c2) / d, a.y + (bx * c2 - cx * b2) / d};
    return true;
}

// The point equidistant from a and b and from c and d.
bool bisectorsCross(const zmath_vect& a, const zmath_vect& b, const zmath_vect& c, const zmath_vect& d, zmath_vect* o)
{
    const double ax = b.x - a.x, ay = b.y - a.y, bx = d.x - c.x, by = d.y - c.y, det = ax * by - ay * bx;
    if (det == 0) return false;
    const double ra = (b.x * b.x + b.y * b.y - a.x * a.x - a.y * a.y) / 2;
    const double rb = (d.x * d.x + d.y * d.y - c.x * c.x - c.y * c.y) / 2;
    *o = {(ra * by - ay * rb) / det, (ax * rb - ra * bx) / det};
    return true;
}

// Every candidate centre: the midpoints of all pairs, the circumcentres of
// all triples and the crossings of the bisectors of all pairs of pairs.
void forEachCandidate(const Points& p, const std::function<void(const zmath_vect&)>& visit)
{
    const int n = static_cast<int>(p.size());
    zmath_vect o;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            visit({(p[i].x + p[j].x) / 2, (p[i].y + p[j].y) / 2});
            for (int k = j + 1; k < n; ++k)
                if (circumcentre(p[i], p[j], p[k], &o)) visit(o);
            for (int k = 0; k < n; ++k)
                for (int l = k + 1; l < n; ++l)
                    if (bisectorsCross(p[i], p[j], p[k], p[l], &o)) visit(o);
        }
}

// The narrowest zone and the smallest enclosing radius over every candidate.
struct Reference {
    double zone = HUGE_VAL, circumscribed = HUGE_VAL;
};

Reference exhaustive(const Points& p)
{
    Reference ref;
    forEachCandidate(p, [&](const zmath_vect& o) {
        const Spread s = spreadAbout(p, o);
        ref.zone = std::min(ref.zone, s.farthest - s.nearest);
        ref.circumscribed = std::min(ref.circumscribed, s.farthest);
    });
    return ref;
}

// The largest empty circle held by the points on it: over the circumcentre
// of every triple, with every point touching the circle as a contact, held
// when no gap between the contacts' directions reaches a half turn (a right
// triangle holds its circle only with a fourth point across the hypotenuse).
double largestHeldEmptyCircle(const Points& p)
{
    double largest = -1;
    const size_t n = p.size();
    zmath_vect o;
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j)
            for (size_t k = j + 1; k < n; ++k) {
                if (!circumcentre(p[i], p[j], p[k], &o)) continue;
                const double r = distance(p[i], o);
                if (!(r > largest) || spreadAbout(p, o).nearest < r * (1 - 1e-12)) continue;
                std::vector<double> angles;
                for (const zmath_vect& q : p)
                    if (std::fabs(distance(q, o) - r) <= 1e-9 * r) angles.push_back(std::atan2(q.y - o.y, q.x - o.x));
                std::sort(angles.begin(), angles.end());
                double gap = angles.front() + 2 * zt::pi - angles.back();
                for (size_t m = 1; m < angles.size(); ++m) gap = std::max(gap, angles[m] - angles[m - 1]);
                if (gap < zt::pi - 1e-9) largest = r;
            }
    return largest;
}

// ---- independent certificate checks ----------------------------------------------

struct Seen {
    double angle;
    int32_t outer;
};

// The result's contacts as seen from its centre, counterclockwise.
std::vector<Seen> contactsSeen(const Points& p, const zmet_roundnessResult& r)
{
    std::vector<Seen> seen;
    for (int k = 0; k < r.contactCount; ++k) {
        const zmath_vect& q = p[static_cast<size_t>(r.contacts[k])];
        seen.push_back({std::atan2(q.y - r.centre.y, q.x - r.centre.x), r.contactOnOuter[k]});
    }
    std::sort(seen.begin(), seen.end(), [](const Seen& a, const Seen& b) { return a.angle < b.angle; });
    return seen;
}

double widestGap(const std::vector<Seen>& seen)
{
    double widest = seen.front().angle + 2 * zt::pi - seen.back().angle;
    for (size_t k = 1; k < seen.size(); ++k) widest = std::max(widest, seen[k].angle - seen[k - 1].angle);
    return widest;
}

// The radii are the extreme distances, every contact lies on its circle,
// and the contacts meet the method's optimality condition.
void expectCertified(const Points& p, int32_t method, const zmet_roundnessResult& r)
{
    const Spread s = spreadAbout(p, r.centre);
    EXPECT_NEAR(r.innerRadius, s.nearest, 1e-12 * s.farthest) << "inner radius is the nearest distance";
    EXPECT_NEAR(r.outerRadius, s.farthest, 1e-12 * s.farthest) << "outer radius is the farthest distance";
    ASSERT_GE(r.contactCount, method == zmet_roundnessCircumscribed ? 2 : 3) << "contacts";
    for (int k = 0; k < r.contactCount; ++k) {
        const double d = distance(p[static_cast<size_t>(r.contacts[k])], r.centre);
        EXPECT_NEAR(d, r.contactOnOuter[k] ? r.outerRadius : r.innerRadius, 1e-9 * r.outerRadius) << "contact " << k;
    }
    const std::vector<Seen> seen = contactsSeen(p, r);
    if (method == zmet_roundnessCircumscribed) {
        EXPECT_LE(widestGap(seen), zt::pi + 1e-9) << "contacts surround";
    }
    if (method == zmet_roundnessInscribed) {
        EXPECT_LT(widestGap(seen), zt::pi) << "contacts hold the circle";
    }
    if (method == zmet_roundnessMinimumZone && r.roundness > 1e-9 * r.outerRadius) {
        ASSERT_EQ(r.contactCount, 4) << "four contacts fix a zone";
        for (size_t k = 0; k < 4; ++k)
            EXPECT_NE(seen[k].outer, seen[(k + 1) % 4].outer) << "roles alternate at contact " << k;
    }
}

// Every method succeeds and carries its certificate.
void expectEveryMethodCertified(const Points& p, uint64_t seed)
{
    for (int m = 0; m < 3; ++m) {
        SCOPED_TRACE(::testing::Message() << kNames[m] << ", seed " << seed << ", " << p.size() << " points");
        zmet_roundnessResult r;
        ASSERT_EQ(roundness(p, kMethods[m], &r), zfit_ok) << "status";
        expectCertified(p, kMethods[m], r);
    }
}

// ---- tests --------------------------------------------------------------------------

// The exchange alone, before the proof over all centres, reaches the
// narrowest zone of a profile that surrounds its centre with a small form
// error: about such a centre the zone is all but convex in it, with one
// minimum, so the local optimum the exchange certifies is the global one.
TEST(RoundnessExchange, ReachesTheNarrowestZoneOfRoundProfiles)
{
    namespace rd = zmet::roundness;
    for (uint64_t seed = 1; seed <= 150; ++seed) {
        zt::Rng rng(seed);
        const Points p = randomProfile(rng, rng.integer(5, 15), 0.05);
        const auto n = static_cast<int32_t>(p.size());
        rd::Owned<zstd_vector_zmath_vect> moved;
        rd::Profile profile;
        ASSERT_EQ(rd::normaliseProfile(p.data(), n, moved, &profile), zfit_ok) << "seed " << seed;
        rd::Owned<zstd_vectord> storage;
        std::span<double> scratch;
        ASSERT_EQ(rd::makeScratch(storage, 3 * n, &scratch), zfit_ok) << "seed " << seed;
        zmath_vect start;
        ASSERT_EQ(rd::leastSquaresCentre(profile, scratch.first(static_cast<size_t>(n)), &start), zfit_ok);
        rd::Linearisation lin = rd::linearisationIn(scratch, n);
        rd::Candidate found;
        ASSERT_EQ(rd::searchMinimumZone(profile, start, lin, &found), zfit_ok) << "seed " << seed;
        EXPECT_TRUE(rd::certifiedByOwnPoints(zmet_roundnessMinimumZone, profile, found))
            << "its own four points alternate, seed " << seed;
        const double width = rd::radiiAbout(profile, found.centre).width() * profile.scale;
        EXPECT_NEAR(width, exhaustive(p).zone, 1e-9 * spreadAbout(p, p[0]).farthest) << "seed " << seed;
        // The proof over all centres then leaves out the disc that these
        // four contacts shut out: cutting boxes down to the tolerance around
        // the optimum would poll some four times as often.
        rd::Owned<zstd_vector32> proofStorage;
        std::span<int32_t> proofScratch;
        ASSERT_EQ(rd::makeIndices(proofStorage, rd::zoneStorage(n), &proofScratch), zfit_ok);
        zt::ScopedAttention counting;
        ASSERT_EQ(rd::proveMinimumZone(profile, lin, proofScratch, &found), zfit_ok) << "seed " << seed;
        EXPECT_LE(counting.polls(), 80) << "boxes examined, seed " << seed;
    }
}

// The branch and bound settles a box whose lower bound reaches the best
// zone, so the least of the planes' envelope over the square must never
// exceed its true least: shapes whose least lies at a corner, on an edge or inside.
TEST(RoundnessBound, TheLeastOverTheSquareIsTheEnvelopesMinimum)
{
    namespace rd = zmet::roundness;
    // Two planes -y +- x meet on x = 0, least at the middle of the top edge;
    // the same turned a quarter, least at the middle of the right edge.
    const double flat[4] = {0, 0, 0, 0};
    const zmath_vect crease[4] = {{-1, 1}, {1, 1}, {-1, 1}, {1, 1}}, turned[4] = {{1, -1}, {1, 1}, {1, -1}, {1, 1}};
    EXPECT_EQ(rd::leastOverSquare(flat, crease, 0.5), -0.5) << "a crease meeting the top edge";
    EXPECT_EQ(rd::leastOverSquare(flat, turned, 0.5), -0.5) << "a crease meeting the right edge";
    const zmath_vect tilted[4] = {{1, 1}, {1, 1}, {1, 1}, {1, 1}};
    EXPECT_EQ(rd::leastOverSquare(flat, tilted, 0.5), -1.0) << "one tilted plane, least at a corner";
    // Three planes of a cone with its apex at (0.2, 0.1), where the creases
    // between them cross inside the square; the fourth plane lies below.
    const double apex[4] = {0.23, -0.07, -0.09, -0.488};
    const zmath_vect cone[4] = {{1, 0.3}, {-0.8, 0.9}, {0.1, -1.1}, {0.05, 0.02}};
    EXPECT_NEAR(rd::leastOverSquare(apex, cone, 0.5), 0.0, 1e-12) << "creases crossing inside the square";
}

// The width of the narrowest straight strip that holds the points: its
// direction is that of two of them (an edge of their hull).
double narrowestStrip(const Points& p)
{
    double narrowest = HUGE_VAL;
    for (size_t i = 0; i < p.size(); ++i)
        for (size_t j = i + 1; j < p.size(); ++j) {
            const double length = distance(p[i], p[j]);
            if (length == 0) continue;
            const double nx = -(p[j].y - p[i].y) / length, ny = (p[j].x - p[i].x) / length;
            double low = HUGE_VAL, high = -HUGE_VAL;
            for (const zmath_vect& q : p) {
                low = std::min(low, nx * (q.x - p[i].x) + ny * (q.y - p[i].y));
                high = std::max(high, nx * (q.x - p[i].x) + ny * (q.y - p[i].y));
            }
            narrowest = std::min(narrowest, high - low);
        }
    return narrowest;
}

// Small profiles of every kind a minimum zone may be asked for: arcs of 10
// to 360 degrees with form errors up to the radius, random clouds, and
// clouds of grid points (full of ties). The zone must be the global one:
// the narrowest over every centre that two outer and two inner contacts, or
// three contacts on one circle, define. Points that no circle holds more
// narrowly than a straight strip have none. The smallest enclosing circle
// is the least over the same centres.
TEST(RoundnessReference, TheMinimumZoneIsTheGlobalOne)
{
    for (uint64_t seed = 1; seed <= 600; ++seed) {
        zt::Rng rng(seed);
        const int n = rng.integer(5, 13);
        Points p;
        if (seed % 6 == 0) {
            for (int k = 0; k < n; ++k) p.push_back({rng.uniform(-1, 1), rng.uniform(-1, 1)});
        } else if (seed % 6 == 1) {
            for (int k = 0; k < n; ++k) p.push_back({1.0 * rng.integer(0, 6), 1.0 * rng.integer(0, 6)});
        } else {
            const double r0 = std::pow(10.0, rng.uniform(-2, 2)), arc = rng.uniform(10, 360) * zt::pi / 180;
            const double error = r0 * std::pow(10.0, rng.uniform(-4, 0)), start = rng.uniform(0, 2 * zt::pi);
            const zmath_vect centre{rng.uniform(-10, 10) * r0, rng.uniform(-10, 10) * r0};
            for (int k = 0; k < n; ++k) {
                const double t = start + arc * rng.uniform(0, 1), r = r0 + error * rng.uniform(-0.5, 0.5);
                p.push_back({centre.x + r * std::cos(t), centre.y + r * std::sin(t)});
            }
        }
        SCOPED_TRACE(::testing::Message() << "seed " << seed << ", " << n << " points");
        const Reference ref = exhaustive(p);
        const double scale = spreadAbout(p, p[0]).farthest;
        zmet_roundnessResult r;
        zt::ScopedAttention counting;
        const zfit_status status = roundness(p, zmet_roundnessMinimumZone, &r);
        // What it costs, in polls (about one per box or exchange step): the
        // dearest of these takes some 300 000, a start from wrongly merged
        // directions up to 70 million; the first one too dear ends the test.
        ASSERT_LT(counting.polls(), 1000000) << "polls, seed " << seed;
        if (status == zmath_errDegenerate) {
            EXPECT_GE(ref.zone, narrowestStrip(p) * (1 - 1e-9)) << "no circle narrower than the strip";
            continue;
        }
        ASSERT_EQ(status, zfit_ok);
        EXPECT_NEAR(r.roundness, ref.zone, 1e-9 * scale) << "the narrowest zone";
        ASSERT_EQ(roundness(p, zmet_roundnessCircumscribed, &r), zfit_ok) << "circumscribed";
        EXPECT_NEAR(r.outerRadius, ref.circumscribed, 1e-9 * scale) << "the smallest enclosing circle";
    }
}

// Digitised outlines (boundary pixels of lobed shapes, on whole and on
// quarter pixels) are full of exact ties: every method still certifies.
TEST(RoundnessCertificate, PixelGridProfilesWithTiesAreCertified)
{
    for (uint64_t seed = 1; seed <= 150; ++seed) {
        zt::Rng rng(seed);
        const double r0 = rng.uniform(2, 60), amplitude = r0 * rng.uniform(0, 0.1), phase = rng.uniform(0, 6.3);
        const int lobes = rng.integer(2, 6), steps = 60 * static_cast<int>(r0) + 16;
        expectEveryMethodCertified(pixelOutline(r0, amplitude, lobes, phase, steps, seed % 3 == 0 ? 0.25 : 1.0), seed);
    }
}

// Small digitised outlines, where right angles and cocircular points are
// the rule: the inscribed circle is the largest one they hold, in whatever
// order the points come.
TEST(RoundnessReference, PixelGridInscribedCirclesAreTheLargestHeld)
{
    for (uint64_t seed = 1; seed <= 30; ++seed) {
        zt::Rng rng(seed);
        const double r0 = rng.uniform(2, 5), amplitude = r0 * rng.uniform(0, 0.15), phase = rng.uniform(0, 6.3);
        const int lobes = rng.integer(2, 5);
        Points p = pixelOutline(r0, amplitude, lobes, phase, 40 * static_cast<int>(r0), 1.0);
        // In every order of the points: the triangulation, and with it which
        // corner of a triangle holds a right angle, follows the order.
        const double largest = largestHeldEmptyCircle(p);
        for (int order = 0; order < 8; ++order) {
            std::shuffle(p.begin(), p.end(), rng.engine);
            zmet_roundnessResult r;
            ASSERT_EQ(roundness(p, zmet_roundnessInscribed, &r), zfit_ok) << "seed " << seed << ", order " << order;
            EXPECT_NEAR(r.innerRadius, largest, 1e-9 * r0) << "seed " << seed << ", order " << order;
        }
    }
}

// ---- refusals --------------------------------------------------------------------

using mt::unchanged;
zmet_roundnessResult marked() { return mt::marked<zmet_roundnessResult>(); }

// Points a few units in the last place off the line y = x, seen from two
// points on it: too close for the floating-point filter, so the exact
// arithmetic decides. The determinant is 12 (a.y - a.x) exactly.
TEST(RoundnessPredicates, OrientationIsExactNextToALine)
{
    const zmath_vect b{12, 12}, c{24, 24};
    for (int i = -6; i <= 6; ++i)
        for (int j = -6; j <= 6; ++j) {
            const zmath_vect a{0.5 + std::ldexp(i, -53), 0.5 + std::ldexp(j, -53)};
            const int expected = (j > i) - (j < i);
            const std::string what = "a = 0.5 + (" + std::to_string(i) + ", " + std::to_string(j) + ") ulp";
            EXPECT_EQ(zmet::roundness::orientation(a, b, c), expected) << what;
            EXPECT_EQ(zmet::roundness::orientation(b, c, a), expected) << what << ", turned";
            EXPECT_EQ(zmet::roundness::orientation(b, a, c), -expected) << what << ", mirrored";
        }
}

TEST(RoundnessRefusals, ParametersAreCheckedFirst)
{
    zmet_roundnessParams params;
    zmet_roundnessParams_init(&params);
    struct Row {
        int32_t method;
        double maxRoundness;
        zfit_status expected;
    };
    const Row rows[] = {
        {3, 1.0, zmath_errFitBadMode}, {3, -1.0, zmet_errMaxRoundnessNegative}, {0, NAN, zfit_ok}, {2, -0.0, zfit_ok}};
    const Points p{{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    for (const Row& row : rows) {
        params.method = row.method;
        params.maxRoundness = row.maxRoundness;
        EXPECT_EQ(zmet_roundnessParams_validate(&params), row.expected) << "method " << row.method;
        zmet_roundnessResult r = marked();
        const zfit_status status = zmet_roundness(p.data(), 4, &params, &r);
        EXPECT_EQ(status, row.expected) << "entry, method " << row.method;
        if (status != zfit_ok) {
            EXPECT_TRUE(unchanged(r)) << "result untouched, method " << row.method;
        }
    }
}

// Points that determine no circle for a method: every method, or the one
// named. Four points two by two on two parallel lines have no minimum zone:
// every circle's zone is wider than the strip between the lines, and
// narrows towards it as the centre recedes along their normal. (An open
// arc's refusal of the inscribed circle is the binding's test.)
TEST(RoundnessRefusals, PointsThatDetermineNoCircle)
{
    const double big = 1e308;
    const Points parallel{{6, 5}, {4, 4}, {4, 3}, {0, 0}};
    const std::vector<int32_t> every(std::begin(kMethods), std::end(kMethods));
    struct Row {
        const char* what;
        Points points;
        std::vector<int32_t> methods;
        zfit_status expected;
    };
    const Row rows[] = {
        {"no points", {}, every, zmath_errDegenerate},
        {"two distinct points", {{0, 0}, {1, 1}, {0, 0}, {1, 1}}, every, zmath_errDegenerate},
        {"collinear points", {{0, 0}, {1, 2}, {2, 4}, {-3, -6}}, every, zmath_errDegenerate},
        {"a NaN", {{0, 0}, {1, NAN}, {0, 1}}, every, zmet_errNotFinite},
        {"an extent beyond the doubles", {{-big, 0}, {big, 0}, {0, big}}, every, zmet_errNotFinite},
        {"two by two on parallel lines", parallel, {zmet_roundnessMinimumZone}, zmath_errDegenerate},
    };
    for (const Row& row : rows)
        for (const int32_t method : row.methods) {
            zmet_roundnessResult r = marked();
            EXPECT_EQ(roundness(row.points, method, &r), row.expected) << row.what << ", method " << method;
            EXPECT_TRUE(unchanged(r)) << "result untouched: " << row.what << ", method " << method;
        }
}

// Six grid points whose narrowest zone (about (1.5, 1.5)) rests on three
// rays, each holding an outer and an inner contact: no four directions
// alternate, yet the search over all centres proves it global, and the
// contacts are reported as they touch, both circles among them.
TEST(RoundnessCertificate, AZoneOnSharedRaysIsProvedByTheSearch)
{
    const Points grid{{0, 0}, {0, 3}, {1, 1}, {1, 2}, {2, 2}, {3, 3}};
    zmet_roundnessResult r;
    ASSERT_EQ(roundness(grid, zmet_roundnessMinimumZone, &r), zfit_ok) << "minimum zone";
    EXPECT_NEAR(r.roundness, exhaustive(grid).zone, 1e-12) << "the narrowest zone";
    int outer = 0;
    for (int k = 0; k < r.contactCount; ++k) {
        const double d = distance(grid[static_cast<size_t>(r.contacts[k])], r.centre);
        EXPECT_NEAR(d, r.contactOnOuter[k] ? r.outerRadius : r.innerRadius, 1e-12) << "contact " << k;
        outer += r.contactOnOuter[k];
    }
    EXPECT_GT(outer, 0) << "an outer contact";
    EXPECT_LT(outer, r.contactCount) << "an inner contact";
}

// An outer and an inner contact a hair apart on one ray (within the angular
// tolerance, so one direction), the outer one first: the other four still
// alternate in distinct directions, and those four certify the zone about a
// centre that comes without contacts of its own (as the search over all
// centres leaves it).
TEST(RoundnessCertificate, ContactsSharingARayStillLeaveFourAlternating)
{
    namespace rd = zmet::roundness;
    const auto at = [](double radius, double angle) {
        return zmath_vect{radius * std::cos(angle), radius * std::sin(angle)};
    };
    // The shared ray first by angle from -pi, the roles then alternating.
    const double ray = 0.1 - zt::pi;
    const Points p{at(2, ray), at(1, ray + 5e-10), at(2, ray + zt::pi / 2), at(1, ray + zt::pi),
                   at(2, ray + 1.5 * zt::pi)};
    rd::Owned<zstd_vector_zmath_vect> moved;
    rd::Profile profile;
    ASSERT_EQ(rd::normaliseProfile(p.data(), 5, moved, &profile), zfit_ok);
    rd::Candidate origin;
    origin.centre = {-profile.origin.x / profile.scale, -profile.origin.y / profile.scale};
    zmet_roundnessResult r;
    ASSERT_EQ(rd::certify(zmet_roundnessMinimumZone, profile, origin, &r), zfit_ok) << "certified";
    EXPECT_NEAR(r.roundness, 1.0, 1e-12) << "between radii 1 and 2 about the origin";
    ASSERT_EQ(r.contactCount, 4) << "four contacts";
    for (int k = 0; k < 4; ++k) {
        EXPECT_NE(r.contacts[k], 0) << "not the outer contact on the shared ray, contact " << k;
        EXPECT_NE(r.contactOnOuter[k], r.contactOnOuter[(k + 1) % 4]) << "roles alternate at contact " << k;
    }
}

// ---- cancellation (failed allocations: the companion library's test) ---------------------

constexpr zfit_status kHostStop = ZFIT_STATUS_BITS(0x80007777u);

// A lobed profile, and one of points on a single circle: about its centre
// no point hides another, so the inscribed search triangulates thousands of
// them, polling as it goes.
TEST(RoundnessRobustness, EveryPollCanStopTheSearch)
{
    zt::Rng rng(8);
    const Points lobed = lobedProfile(rng, 9000, {1, 2}, 5, 0.05, 3), round = lobedProfile(rng, 9000, {1, 2}, 5, 0, 3);
    for (int m = 0; m < 6; ++m) {
        SCOPED_TRACE(std::string(kNames[m % 3]) + (m < 3 ? ", lobed" : ", round"));
        const Points& p = m < 3 ? lobed : round;
        int polls = 0;
        {
            zt::ScopedAttention counting;
            zmet_roundnessResult r;
            ASSERT_EQ(roundness(p, kMethods[m % 3], &r), zfit_ok) << "counting polls";
            polls = counting.polls();
        }
        ASSERT_GT(polls, 0) << "the search polls";
        for (int k = 1; k <= polls; ++k) {
            zt::ScopedAllocator allocator;
            zt::ScopedAttention stop(k, kHostStop);
            zmet_roundnessResult r = marked();
            EXPECT_EQ(roundness(p, kMethods[m % 3], &r), kHostStop) << "stopped at poll " << k;
            EXPECT_EQ(stop.polls(), k) << "no poll after the failing one";
            EXPECT_TRUE(unchanged(r)) << "result untouched, poll " << k;
            EXPECT_EQ(allocator.outstanding(), 0u) << "storage released, poll " << k;
        }
    }
}

// The widest gap between the directions of the points seen from a centre,
// on which the bounds of the inscribed circle and of the zone rest, is
// never narrower than the true one: here arcs of 20 points over 60 degrees
// at every start, so that some straddle the direction of the x axis, where
// the stand-in for the angle wraps, and some the opposite one.
TEST(RoundnessSurround, WidestGapBoundsTheGapOfAnArc)
{
    namespace rd = zmet::roundness;
    std::vector<int32_t> marks(64);
    const double arc = zt::pi / 3, trueGap = 2 * zt::pi - arc;
    for (int start = 0; start < 36; ++start) {
        std::vector<zmath_vect> points;
        for (int k = 0; k < 20; ++k) {
            const double t = zt::pi / 18 * start + arc * k / 19;
            points.push_back({5 * std::cos(t), 5 * std::sin(t)});
        }
        const rd::Profile profile{points, {0, 0}, 1.0};
        const rd::Surround seen = rd::surroundAbout(profile, {0, 0}, marks);
        EXPECT_GE(seen.widestGap, trueGap) << "arc from " << 10 * start << " degrees";
    }
}

}  // namespace
