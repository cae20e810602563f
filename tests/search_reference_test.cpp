// The window searches against the plain loops of plain_searches.hpp on
// random small cases of five kinds: pixel grids (many exact ties of keys
// and of scores), exact ties (repeated points), symmetric sets (every
// window has a twin), far outliers and scattered points. For each case the
// search must return the plain loops' status and winning window: the same
// discarded set in the same order, its score and its shape. A different
// window may win only where two scores agree to within rounding (the
// search forms its sums in another order), and then must be one the loops
// met with such a score.
#include <algorithm>
#include <optional>

#include "plain_searches.hpp"
#include "support.hpp"

namespace {

using plain::Indices;
using plain::Pts;

// ---- window solvers and scores -------------------------------------------------

// The centred scatter of the kept points: centroid, S dx^2, 2 S dx dy, S dy^2.
// Summed in index order, so that a set has one scatter wherever it is met.
struct Scatter {
    zmath_vect centroid;
    double a, b, c;
};

Scatter scatter(const Pts& p, Indices kept)
{
    std::sort(kept.begin(), kept.end());
    Scatter s{{0, 0}, 0, 0, 0};
    for (int32_t k : kept) s.centroid = {s.centroid.x + p[k].x / kept.size(), s.centroid.y + p[k].y / kept.size()};
    for (int32_t k : kept) {
        const double dx = p[k].x - s.centroid.x, dy = p[k].y - s.centroid.y;
        s = {s.centroid, s.a + dx * dx, s.b + 2 * dx * dy, s.c + dy * dy};
    }
    return s;
}

// The RMS distance of the kept points from their least-squares line (along
// the scatter's axis of largest spread, through the centroid), measured
// from the points; none when the spread has no preferred direction.
std::optional<double> leastSquaresRms(const Pts& p, Indices kept)
{
    std::sort(kept.begin(), kept.end());
    const Scatter s = scatter(p, kept);
    if (!(std::hypot(s.b, s.a - s.c) > 1e-13 * (s.a + s.c))) return {};
    const double angle = 0.5 * std::atan2(s.b, s.a - s.c);
    const zmath_vect normal{-std::sin(angle), std::cos(angle)};
    double sum = 0;
    for (int32_t k : kept) {
        const double d = (p[k].x - s.centroid.x) * normal.x + (p[k].y - s.centroid.y) * normal.y;
        sum += d * d;
    }
    return std::sqrt(sum / kept.size());
}

// Half the spread of the kept points' offsets on the unit normal; the kept
// points are in rank order, so the extremes are the first and the last.
std::optional<double> halfWidth(const Pts& p, const Indices& kept, const zmath_vect& u)
{
    const auto offset = [&](int32_t k) { return p[k].x * u.x + p[k].y * u.y; };
    return std::fabs(offset(kept.front()) - offset(kept.back())) * 0.5;
}

struct Circle {
    zmath_vect centre;
    double radius;
};

// The algebraic circle x^2 + y^2 + D x + E y + F = 0 of the kept points by
// least squares, solved by Cramer's rule. Its normal equations summed about
// `origin` have a determinant; about the kept points' centroid they give the
// circle. None when the determinant lies within 1e-12 of the square of the
// spread about the origin.
std::optional<Circle> algebraic(const Pts& p, Indices kept, const zmath_vect& origin)
{
    std::sort(kept.begin(), kept.end());
    const auto det3 = [](double a, double b, double c, double d, double e, double f, double g, double h, double i) {
        return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    };
    std::optional<Circle> circle;
    const zmath_vect origins[] = {origin, scatter(p, kept).centroid};
    for (const zmath_vect& about : origins) {
        double w = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0, sxr = 0, syr = 0;
        for (int32_t k : kept) {
            const double dx = p[k].x - about.x, dy = p[k].y - about.y, r2 = dx * dx + dy * dy;
            w += 1;
            sx += dx;
            sy += dy;
            sxx += dx * dx;
            syy += dy * dy;
            sxy += dx * dy;
            sxr += dx * r2;
            syr += dy * r2;
        }
        const double det = det3(sxx, sxy, sx, sxy, syy, sy, sx, sy, w);
        if (&about == origins && !(std::fabs(det) > 1e-12 * (sxx + syy) * (sxx + syy))) return {};
        const double r0 = -sxr, r1 = -syr, r2 = -(sxx + syy);
        const double D = det3(r0, sxy, sx, r1, syy, sy, r2, sy, w) / det;
        const double E = det3(sxx, r0, sx, sxy, r1, sy, sx, r2, w) / det;
        const double F = det3(sxx, sxy, r0, sxy, syy, r1, sx, sy, r2) / det;
        circle = Circle{{about.x - 0.5 * D, about.y - 0.5 * E}, std::sqrt(std::fabs(0.25 * (D * D + E * E) - F))};
    }
    return circle;
}

double radialRms(const Pts& p, Indices kept, const Circle& c)
{
    std::sort(kept.begin(), kept.end());
    double sum = 0;
    for (int32_t k : kept) {
        const double d = std::hypot(p[k].x - c.centre.x, p[k].y - c.centre.y) - c.radius;
        sum += d * d;
    }
    return std::sqrt(sum / kept.size());
}

// ---- comparing an answer with the plain loops' ------------------------------------

Indices keptBy(size_t n, Indices ignored)
{
    std::sort(ignored.begin(), ignored.end());
    Indices kept;
    for (int32_t k = 0; k < static_cast<int32_t>(n); ++k)
        if (!std::binary_search(ignored.begin(), ignored.end(), k)) kept.push_back(k);
    return kept;
}

// Rounding of the searches' sums: relative to the kept points' size.
double roundingOf(const Pts& p, const Indices& kept)
{
    double size = 1.0;
    for (int32_t k : kept) size = std::max({size, std::fabs(p[k].x), std::fabs(p[k].y)});
    return 1e-9 * size;
}

// The window the search reports, as the loops met it (null after a failure
// the loops agree with), after checking the status, the set and its score.
// `nearTies` counts the cases where a window within rounding of the
// winner's score took its place.
const plain::Windows::Seen* expectLoopsWindow(const plain::Windows& w, zfit_status status, double error,
                                              const Indices& ignored, double rounding, int& nearTies)
{
    if (w.best == HUGE_VAL) {
        EXPECT_EQ(status, zmath_errDegenerate) << "no window solved: " << zfit::statusName(status);
        return nullptr;
    }
    EXPECT_EQ(status, 0) << zfit::statusName(status);
    if (status != 0) return nullptr;
    Indices set = ignored;
    std::sort(set.begin(), set.end());
    const auto at = w.sets.find(set);
    EXPECT_NE(at, w.sets.end()) << "the discarded set is one of the loops' windows";
    if (at == w.sets.end()) return nullptr;
    if (set != w.winner) {
        ++nearTies;
        EXPECT_LE(at->second.score, w.best + rounding) << "another window won with a worse score";
    }
    EXPECT_NEAR(error, at->second.score, rounding) << "the winning window's score";
    return &at->second;
}

// Of 300 cases, a third at most may be decided by rounding rather than by
// the loops' order (collinear windows all score 0; mirrored windows score
// alike).
constexpr int kTrials = 300, kNearTiesAllowed = kTrials / 3;

// ---- random cases -------------------------------------------------------------------

enum class Kind { Pixels, Ties, Symmetric, FarOutliers, Scattered };
constexpr Kind kinds[] = {Kind::Pixels, Kind::Ties, Kind::Symmetric, Kind::FarOutliers, Kind::Scattered};
const char* const kindNames[] = {"pixel grid", "exact ties", "symmetric", "far outliers", "scattered"};

// Near y = 2 + 0.5 x, or about (3, 1) with radius 4: on pixels, with
// repeated points, mirrored through the line or the centre, with m points
// 1e3 to 1e6 away, or anywhere in a box.
Pts randomCase(zt::Rng& rng, Kind kind, int n, int m, bool circle)
{
    const auto near = [&](double sigma) {
        if (!circle) {
            const double x = rng.uniform(0, 10);
            return zmath_vect{x, 2 + 0.5 * x + rng.normal(sigma)};
        }
        const double t = rng.uniform(0, 2 * zt::pi), r = 4 + rng.normal(sigma);
        return zmath_vect{3 + r * std::cos(t), 1 + r * std::sin(t)};
    };
    Pts p;
    while (static_cast<int>(p.size()) < n) {
        zmath_vect q = near(kind == Kind::Pixels ? 0.7 : 0.05);
        switch (kind) {
        case Kind::Pixels: q = {std::round(q.x), std::round(q.y)}; break;
        case Kind::Ties:
            if (!p.empty() && rng.integer(0, 2) == 0) q = p[static_cast<size_t>(rng.integer(0, int(p.size()) - 1))];
            break;
        case Kind::Symmetric:
            if (p.size() % 2 == 1) {
                const zmath_vect last = p.back();  // mirrored through the line's point (4, 4) or the centre
                q = circle ? zmath_vect{6 - last.x, 2 - last.y} : zmath_vect{8 - last.x, 8 - last.y};
            } else {
                q = {std::round(4 * q.x) / 4, std::round(4 * q.y) / 4};
            }
            break;
        case Kind::FarOutliers:
            if (static_cast<int>(p.size()) < m) {
                const double reach = std::pow(10.0, rng.uniform(3, 6)), angle = rng.uniform(0, 2 * zt::pi);
                q = {reach * std::cos(angle), reach * std::sin(angle)};
            }
            break;
        case Kind::Scattered: q = {rng.uniform(-5, 10), rng.uniform(-5, 10)}; break;
        }
        p.push_back(q);
    }
    std::shuffle(p.begin(), p.end(), rng.engine);
    return p;
}

// ---- the searches ---------------------------------------------------------------------

// Random line cases, m from `fewest` to `most` discarded, through the line
// search (`zone` 1: the minimum zone) and the plain loops scoring each
// window by `score`; `check` looks further at every window the loops agree
// with.
template <class Score, class Check>
void expectLineSearchIsThePlainLoops(uint64_t seed, int32_t zone, int fewest, int most, Score score, Check check)
{
    zt::Rng rng(seed);
    int nearTies = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        const Kind kind = kinds[trial % 5];
        const int m = rng.integer(fewest, most), n = rng.integer(std::max(2, m + 1), 14);
        const Pts p = randomCase(rng, kind, n, m, false);
        SCOPED_TRACE(::testing::Message()
                     << "trial " << trial << ", " << kindNames[trial % 5] << ", n " << n << ", m " << m);
        const plain::Windows w = plain::linePairs(
            p, m, zone == 1, [&](const Indices& kept, const zmath_vect& u) { return score(p, kept, u); });
        zfit::LineResult r;
        const zmath_lineFitParams params{m, HUGE_VAL, zone};
        const zfit_status status = zmath_lineFit(p.data(), n, &params, r.get());
        const Indices ignored = zt::indices(r->ignoredIndices), kept = keptBy(p.size(), ignored);
        const double rounding = roundingOf(p, kept);
        const plain::Windows::Seen* seen = expectLoopsWindow(w, status, r->rmsError, ignored, rounding, nearTies);
        if (!seen) continue;
        EXPECT_EQ(ignored, seen->order) << "discarded in the rank order of the first window that scored them";
        check(p, *r, kept, rounding, *seen);
    }
    EXPECT_LE(nearTies, kNearTiesAllowed);
}

// Least squares with 4 and more discarded: the ranked window. The line is
// the least-squares line of the kept points: through their centroid along
// their axis of largest spread.
TEST(SearchReference, RankedLineIsThePlainLoops)
{
    expectLineSearchIsThePlainLoops(
        2401, 0, 4, 6, [](const Pts& p, const Indices& kept, const zmath_vect&) { return leastSquaresRms(p, kept); },
        [](const Pts& p, const zmath_lineFitResult& r, const Indices& kept, double rounding,
           const plain::Windows::Seen&) {
            const Scatter s = scatter(p, kept);
            EXPECT_NEAR(zt::offset(r.line, s.centroid), 0.0, rounding) << "through the centroid";
            EXPECT_NEAR(std::sin(2 * r.line.angle - std::atan2(s.b, s.a - s.c)), 0.0, 1e-7) << "along the axis";
        });
}

// The minimum zone (0 to 4 discarded). The line runs along the winning
// pair, midway between the extreme offsets of the kept points.
TEST(SearchReference, MinimumZoneLineIsThePlainLoops)
{
    expectLineSearchIsThePlainLoops(2402, 1, 0, 4, halfWidth,
                                    [](const Pts& p, const zmath_lineFitResult& r, const Indices& kept, double rounding,
                                       const plain::Windows::Seen& seen) {
                                        double above = -HUGE_VAL, below = HUGE_VAL;
                                        for (int32_t k : kept) {
                                            above = std::max(above, zt::offset(r.line, p[k]));
                                            below = std::min(below, zt::offset(r.line, p[k]));
                                        }
                                        EXPECT_NEAR(above, r.rmsError, rounding) << "the strip's upper edge";
                                        EXPECT_NEAR(below, -r.rmsError, rounding) << "the strip's lower edge";
                                        if (r.rmsError == seen.score) {  // not a tie decided by rounding
                                            EXPECT_NEAR(-r.line.sine, seen.candidate.x, 1e-12)
                                                << "along the winning pair";
                                            EXPECT_NEAR(r.line.cosine, seen.candidate.y, 1e-12)
                                                << "along the winning pair";
                                        }
                                    });
}

// A circle case: its points, how many to discard and the kind of case.
struct CircleCase {
    Pts p;
    int m;
    const char* kind;
};

struct CircleCases {
    int trials;
    double minRadius, maxRadius;  // of the fixed radius
    CircleCase (*make)(zt::Rng&, int trial);
};

// The free- and fixed-radius circles (mode 1: a radius drawn from
// `cases`) of random cases. The circle is the kept points' algebraic
// circle (its centre with the imposed radius in mode 1); the discarded
// points are listed by their distance from its centre.

void expectCircleSearchIsThePlainLoops(int32_t mode, uint64_t seed, const CircleCases& cases)
{
    zt::Rng rng(seed);
    int nearTies = 0;
    for (int trial = 0; trial < cases.trials; ++trial) {
        const auto [p, m, kind] = cases.make(rng, trial);
        const double fixedRadius = mode == 1 ? rng.uniform(cases.minRadius, cases.maxRadius) : 1.0;
        SCOPED_TRACE(::testing::Message()
                     << "mode " << mode << " trial " << trial << ", " << kind << ", n " << p.size() << ", m " << m);
        const plain::Windows w = plain::circleTriples(p, m, [&](const Indices& kept, const zmath_vect& centre) {
            std::optional<Circle> c = algebraic(p, kept, centre);
            if (c && mode == 1) c->radius = fixedRadius;
            return c ? std::optional<double>(radialRms(p, kept, *c)) : std::nullopt;
        });
        zfit::Result<zmath_circleFitResult> r;
        const zmath_circleFitParams params{m, HUGE_VAL, mode, fixedRadius};
        const zfit_status status = zmath_circleFit(p.data(), static_cast<int32_t>(p.size()), &params, r.get());
        const Indices ignored = zt::indices(r->ignoredIndices), kept = keptBy(p.size(), ignored);
        const double rounding = roundingOf(p, kept);
        const plain::Windows::Seen* seen = expectLoopsWindow(w, status, r->rmsError, ignored, rounding, nearTies);
        if (!seen) continue;
        const Circle c = *algebraic(p, kept, seen->candidate);
        EXPECT_NEAR(r->centre.x, c.centre.x, rounding) << "centre x";
        EXPECT_NEAR(r->centre.y, c.centre.y, rounding) << "centre y";
        EXPECT_NEAR(r->radius, mode == 1 ? fixedRadius : c.radius, rounding) << "radius";
        const auto distance = [&](int32_t k) { return std::hypot(p[k].x - c.centre.x, p[k].y - c.centre.y); };
        for (size_t q = 1; q < ignored.size(); ++q)
            EXPECT_LE(distance(ignored[q - 1]), distance(ignored[q]) + rounding) << "nearest first, at " << q;
    }
    EXPECT_LE(nearTies, cases.trials / 3);
}

// 0 to 4 discarded of at most 12 points.
CircleCase smallCircleCase(zt::Rng& rng, int trial)
{
    const int m = rng.integer(0, 4), n = rng.integer(std::max(3, m + 1), 12);
    return {randomCase(rng, kinds[trial % 5], n, m, true), m, kindNames[trial % 5]};
}

const CircleCases smallCircles{kTrials, 2, 6, smallCircleCase};
TEST(SearchReference, FreeRadiusCircleIsThePlainLoops) { expectCircleSearchIsThePlainLoops(0, 2403, smallCircles); }
TEST(SearchReference, FixedRadiusCircleIsThePlainLoops) { expectCircleSearchIsThePlainLoops(1, 2404, smallCircles); }

// ---- larger circle cases: whole cells of centres passed over ------------------------

// With a few dozen points the circle search judges cells of candidate
// centres by a lower bound on the error of every window they can offer,
// and passes over those that cannot tie or beat the best so far. Cases where
// that bound is close to the best error or ties are exact: mild outliers
// (moved out or in by 10 to 50 percent), rings of pixels (every window errs
// about alike), two concentric rings of integer points with their mirror
// images (many windows tie exactly), far outliers, and a quarter arc with
// mild outliers (its centre far from the middle of the points, about which
// the search takes its sums), and outliers all moved inwards (the winning
// window leaves out the nearest points).
enum class Larger { Mild, PixelRing, IntegerRings, Far, Arc, Inner };
constexpr Larger largerKinds[] = {Larger::Mild, Larger::PixelRing, Larger::IntegerRings,
                                  Larger::Far,  Larger::Arc,       Larger::Inner};
const char* const largerNames[] = {"mild outliers", "pixel ring",  "integer rings",
                                   "far outliers",  "quarter arc", "inner outliers"};

Pts largerCase(zt::Rng& rng, Larger kind, int n, int m)
{
    Pts p;
    if (kind == Larger::IntegerRings) {
        // The integer points at distance 5 and sqrt(65) from the origin,
        // then mirror pairs of points inside, all shifted by one integer
        // offset.
        const int rings[][2] = {{3, 4}, {5, 0}, {1, 8}, {4, 7}};
        const zmath_vect shift{double(rng.integer(-3, 3)), double(rng.integer(-3, 3))};
        for (const auto& r : rings)
            for (int flip = 0; flip < 8; ++flip) {
                const double a = (flip & 4) ? r[1] : r[0], b = (flip & 4) ? r[0] : r[1];
                const zmath_vect q{(flip & 1) ? -a : a, (flip & 2) ? -b : b};
                if (std::find_if(p.begin(), p.end(), [&](const zmath_vect& o) { return o.x == q.x && o.y == q.y; }) ==
                    p.end())
                    p.push_back(q);
            }
        p.resize(static_cast<size_t>(std::min<int>(n, static_cast<int>(p.size()))));
        while (static_cast<int>(p.size()) + 1 < n) {
            const zmath_vect q{double(rng.integer(-2, 2)), double(rng.integer(-2, 2))};
            p.push_back(q);
            p.push_back({-q.x, -q.y});
        }
        for (zmath_vect& q : p) q = {q.x + shift.x, q.y + shift.y};
    } else {
        const double radius = kind == Larger::PixelRing ? 6.0 : 4.0;
        const bool mild = kind == Larger::Mild || kind == Larger::Arc;
        for (int k = 0; k < n; ++k) {
            const double t = rng.uniform(0, kind == Larger::Arc ? 0.5 * zt::pi : 2 * zt::pi),
                         r = radius + rng.normal(mild ? 0.02 : 0.0);
            zmath_vect q{3 + r * std::cos(t), 1 + r * std::sin(t)};
            if (k < m && kind == Larger::Inner) q = {3 + (q.x - 3) * 0.6, 1 + (q.y - 1) * 0.6};
            if (k < m && mild) {
                const double f = rng.integer(0, 1) ? rng.uniform(1.1, 1.5) : rng.uniform(0.5, 0.9);
                q = {3 + (q.x - 3) * f, 1 + (q.y - 1) * f};
            }
            if (k < m && kind == Larger::Far) {
                const double reach = std::pow(10.0, rng.uniform(2, 5));
                q = {reach * std::cos(t), reach * std::sin(t)};
            }
            if (kind == Larger::PixelRing) q = {std::round(q.x), std::round(q.y)};
            p.push_back(q);
        }
    }
    std::shuffle(p.begin(), p.end(), rng.engine);
    return p;
}

// 1 to 3 discarded of 16 to 25 points.
CircleCase largerCircleCase(zt::Rng& rng, int trial)
{
    const Larger kind = largerKinds[trial % 6];
    const int m = rng.integer(1, 3), n = rng.integer(16, kind == Larger::Inner ? 26 : 22);
    return {largerCase(rng, kind, n, m), m, largerNames[trial % 6]};
}

const CircleCases larger{48, 3, 7, largerCircleCase};
TEST(SearchReference, LargerFreeRadiusCircleIsThePlainLoops) { expectCircleSearchIsThePlainLoops(0, 2405, larger); }
TEST(SearchReference, LargerFixedRadiusCircleIsThePlainLoops) { expectCircleSearchIsThePlainLoops(1, 2406, larger); }

// ---- the order of the points ----------------------------------------------------------

// The search's answer is the best window of all candidates, whatever the
// order of the points: on noisy rings of 80 points (radius 10, noise 1, 2
// of them moved in or out by up to 30 percent), large enough that the
// search narrows whole cells of candidate centres, the points in two other
// orders give the same error and discard the same points.
TEST(SearchReference, CircleSearchDoesNotDependOnThePointOrder)
{
    zt::Rng rng(2408);
    for (int trial = 0; trial < 12; ++trial) {
        Pts p;
        for (int k = 0; k < 80; ++k) {
            const double t = rng.uniform(0, 2 * zt::pi), f = k < 2 ? rng.uniform(0.7, 1.3) : 1.0;
            const double r = f * (10 + rng.normal(1.0));
            p.push_back({r * std::cos(t), r * std::sin(t)});
        }
        const zmath_circleFitParams params{2, HUGE_VAL, 0, 1.0};
        zfit::Result<zmath_circleFitResult> first;
        ASSERT_EQ(zmath_circleFit(p.data(), 80, &params, first.get()), zfit_ok) << "trial " << trial;
        const auto discarded = [](const Pts& q, const zmath_circleFitResult& r) {
            std::vector<std::pair<double, double>> out;
            for (int32_t k : zt::indices(r.ignoredIndices))
                out.emplace_back(q[static_cast<size_t>(k)].x, q[static_cast<size_t>(k)].y);
            std::sort(out.begin(), out.end());
            return out;
        };
        const std::vector<std::pair<double, double>> before = discarded(p, *first);
        for (int order = 0; order < 2; ++order) {
            std::shuffle(p.begin(), p.end(), rng.engine);
            zfit::Result<zmath_circleFitResult> again;
            ASSERT_EQ(zmath_circleFit(p.data(), 80, &params, again.get()), zfit_ok) << "trial " << trial;
            EXPECT_NEAR(again->rmsError, first->rmsError, 1e-9 * first->rmsError)
                << "trial " << trial << ", order " << order << ": the error";
            EXPECT_EQ(discarded(p, *again), before)
                << "trial " << trial << ", order " << order << ": the points discarded";
        }
    }
}

}  // namespace
