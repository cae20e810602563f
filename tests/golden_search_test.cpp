// Golden outputs of every search: a seeded corpus (clean shapes, gross
// outliers, pixel-grid coordinates with many exact ties, near-ties between
// windows) run through the exhaustive, ranked and minimum-zone line fits,
// the free- and fixed-radius circle searches and the ellipse subset search.
// The expected values were recorded from the straightforward searches (a
// full sort of every ranking, every window summed and scored afresh), so any
// faster search must give the same answers: the same status, the same
// discarded indices in the same order, and the same shape and error up to
// rounding.
//
// One exception is allowed, and only where rounding decides: two windows
// whose scores agree to within rounding (the same points seen from two
// nearly equal directions or centres, or two windows equally good by
// symmetry) may swap places when the sums are formed in another order. A
// different winner is then accepted only if its score is not worse than the
// recorded one beyond rounding.
//
// Set ZFIT_GOLDEN_RECORD=1 to print the table of the current build instead
// of comparing (this is how golden_search_expected.inc was made).
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <functional>
#include <string>

#include "support.hpp"

namespace {

using Pts = std::vector<zmath_vect>;

// A generator of our own, so that the corpus is the same with every
// standard library: splitmix64 and the Box-Muller transform.
class CorpusRng {
public:
    explicit CorpusRng(uint64_t seed) : state_(seed) {}
    double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
    double normal(double sigma)
    {
        const double u = 1.0 - unit(), v = unit();
        return sigma * std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * zt::pi * v);
    }
    int integer(int count) { return static_cast<int>(next() % static_cast<uint64_t>(count)); }

private:
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    uint64_t state_;
};

// ---- the corpus ------------------------------------------------------------

// Points along y = 5 + 0.3 x (x in [0, length)), noise sigma, `outliers`
// points moved 3 to 30 off the line, every 7th point from index 3.
Pts noisyLine(uint64_t seed, int n, double length, double sigma, int outliers)
{
    CorpusRng rng(seed);
    Pts p;
    for (int i = 0; i < n; ++i) {
        const double x = rng.uniform(0.0, length);
        p.push_back({x, 5.0 + 0.3 * x + rng.normal(sigma)});
    }
    for (int k = 0; k < outliers; ++k) {
        const double off = rng.uniform(3.0, 30.0);
        p[(3 + 7 * k) % n].y += (k % 2 == 0) ? off : -off;
    }
    return p;
}

// The same line on the pixel grid: x = 0..n-1, y rounded, so that many
// pairs share a direction and many points share an offset.
Pts pixelLine(uint64_t seed, int n, int outliers)
{
    CorpusRng rng(seed);
    Pts p;
    for (int i = 0; i < n; ++i) p.push_back({double(i), std::round(5.0 + 0.3 * i + rng.normal(0.4))});
    for (int k = 0; k < outliers; ++k) p[(2 + 5 * k) % n].y += (k % 2 == 0) ? 9.0 : -7.0;
    return p;
}

// Points on a circle (or an arc from 0 to `arc` radians), radial noise
// sigma, `outliers` points moved away from the centre (by a factor of 1.2 to
// 1.6) or towards it (0.4 to 0.8), every 5th point from index 1.
Pts noisyCircle(uint64_t seed, int n, zmath_vect centre, double radius, double arc, double sigma, int outliers)
{
    CorpusRng rng(seed);
    Pts p;
    for (int i = 0; i < n; ++i) {
        const double t = arc * (i + rng.uniform(0.0, 0.5)) / n;
        const double r = radius + rng.normal(sigma);
        p.push_back({centre.x + r * std::cos(t), centre.y + r * std::sin(t)});
    }
    for (int k = 0; k < outliers; ++k) {
        zmath_vect& q = p[(1 + 5 * k) % n];
        const double f = (k % 2 == 0) ? rng.uniform(1.2, 1.6) : rng.uniform(0.4, 0.8);
        q = {centre.x + (q.x - centre.x) * f, centre.y + (q.y - centre.y) * f};
    }
    return p;
}

// A circle on the pixel grid: coordinates rounded, so that many points lie
// at exactly the same distance from integer centres.
Pts pixelCircle(uint64_t seed, int n, double radius, int outliers)
{
    Pts p = noisyCircle(seed, n, {50.0, 40.0}, radius, 2 * zt::pi, 0.0, outliers);
    for (zmath_vect& q : p) q = {std::round(q.x), std::round(q.y)};
    return p;
}

// The corners of a regular polygon: every window of the search has a twin
// by symmetry, so windows tie exactly or to within rounding.
Pts regularPolygon(int corners, double radius, Pts extra)
{
    Pts p;
    for (int i = 0; i < corners; ++i) {
        const double t = 2 * zt::pi * i / corners;
        p.push_back({radius * std::cos(t), radius * std::sin(t)});
    }
    p.insert(p.end(), extra.begin(), extra.end());
    return p;
}

// Points on an ellipse about (3, -2), semi-axes a and b, turned by 0.4.
Pts noisyEllipse(uint64_t seed, int n, double a, double b, double sigma, int outliers)
{
    CorpusRng rng(seed);
    Pts p;
    const double c = std::cos(0.4), s = std::sin(0.4);
    for (int i = 0; i < n; ++i) {
        const double t = 2 * zt::pi * (i + rng.uniform(0.0, 0.3)) / n;
        const double x = a * std::cos(t) + rng.normal(sigma), y = b * std::sin(t) + rng.normal(sigma);
        p.push_back({3.0 + c * x - s * y, -2.0 + s * x + c * y});
    }
    for (int k = 0; k < outliers; ++k)
        p[(2 + 4 * k) % n] = {3.0 + rng.uniform(-3 * a, 3 * a), rng.uniform(-3 * a, 3 * a)};
    return p;
}

Pts rounded(Pts p)
{
    for (zmath_vect& q : p) q = {std::round(q.x), std::round(q.y)};
    return p;
}

// ---- running a case ----------------------------------------------------------

enum class Search { LineLeastSquares, LineMinimumZone, CircleFreeRadius, CircleFixedRadius, EllipseSubsets };

struct Case {
    std::string name;
    Search search;
    int32_t numIgnore;
    Pts points;
    double fixedRadius = 1.0;
};

// What a search returned: status, error, three or five shape numbers and
// the discarded indices.
struct Outcome {
    zfit_status status;
    double rmsError;
    std::vector<double> shape;
    std::vector<int32_t> ignored;
};

Outcome run(const Case& c)
{
    const int32_t n = static_cast<int32_t>(c.points.size());
    switch (c.search) {
    case Search::LineLeastSquares:
    case Search::LineMinimumZone: {
        zfit::LineResult r;
        const zmath_lineFitParams params{c.numIgnore, HUGE_VAL, c.search == Search::LineMinimumZone ? 1 : 0};
        const zfit_status s = zmath_lineFit(c.points.data(), n, &params, r.get());
        return {s, r->rmsError, {r->line.angle, r->line.d}, zt::indices(r->ignoredIndices)};
    }
    case Search::CircleFreeRadius:
    case Search::CircleFixedRadius: {
        zfit::Result<zmath_circleFitResult> r;
        const zmath_circleFitParams params{c.numIgnore, HUGE_VAL, c.search == Search::CircleFixedRadius ? 1 : 0,
                                           c.fixedRadius};
        const zfit_status s = zmath_circleFit(c.points.data(), n, &params, r.get());
        return {s, r->rmsError, {r->centre.x, r->centre.y, r->radius}, zt::indices(r->ignoredIndices)};
    }
    case Search::EllipseSubsets: {
        zfit::Result<zmath_ellipseFitResult> r;
        const zmath_ellipseFitParams params{c.numIgnore, HUGE_VAL};
        const zfit_status s = zmath_ellipseFit(c.points.data(), n, &params, r.get());
        const zmath_shapeEllipse& e = r->ellipse;
        return {
            s, r->rmsError, {e.center.x, e.center.y, e.radius1, e.radius2, e.angle}, zt::indices(r->ignoredIndices)};
    }
    }
    return {};
}

std::vector<Case> corpus()
{
    using S = Search;
    std::vector<Case> cases;
    auto add = [&](std::string name, S search, int32_t m, Pts p, double radius = 1.0) {
        cases.push_back({std::move(name), search, m, std::move(p), radius});
    };
    // Exhaustive line search (numIgnore 1 to 3).
    add("line exhaustive, clean, 1", S::LineLeastSquares, 1, noisyLine(11, 20, 100, 0.02, 0));
    add("line exhaustive, outliers, 2", S::LineLeastSquares, 2, noisyLine(12, 25, 100, 0.02, 2));
    add("line exhaustive, outliers, 3", S::LineLeastSquares, 3, noisyLine(13, 30, 100, 0.05, 3));
    add("line exhaustive, pixel grid, 3", S::LineLeastSquares, 3, pixelLine(14, 30, 3));
    add("line exhaustive, symmetric tie, 2", S::LineLeastSquares, 2,
        {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {1.5, 3}, {2.5, -3}, {5, 0}});
    // Ranked window (numIgnore 4 and more).
    add("line ranked, clean, 4", S::LineLeastSquares, 4, noisyLine(21, 40, 100, 0.02, 0));
    add("line ranked, outliers, 6", S::LineLeastSquares, 6, noisyLine(22, 50, 100, 0.02, 6));
    add("line ranked, outliers, 10", S::LineLeastSquares, 10, noisyLine(23, 100, 100, 0.02, 8));
    add("line ranked, pixel grid, 5", S::LineLeastSquares, 5, pixelLine(24, 40, 4));
    add("line ranked, pixel grid, 8", S::LineLeastSquares, 8, pixelLine(25, 60, 8));
    add("line ranked, few points, 4", S::LineLeastSquares, 4, noisyLine(26, 7, 10, 0.1, 2));
    add("line ranked, symmetric tie, 4", S::LineLeastSquares, 4,
        {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {1, 2}, {2, -2}, {3, 2}, {4, -2}});
    // Minimum zone: straightness (numIgnore 0) and with outliers.
    add("line zone, profile, 0", S::LineMinimumZone, 0, noisyLine(31, 120, 100, 0.02, 0));
    add("line zone, pixel profile, 0", S::LineMinimumZone, 0, pixelLine(32, 80, 0));
    add("line zone, rectangle corners, 0", S::LineMinimumZone, 0, {{0, 0}, {4, 0}, {4, 1}, {0, 1}});
    add("line zone, collinear pixels, 0", S::LineMinimumZone, 0,
        {{2, 1}, {4, 2}, {6, 3}, {0, 0}, {8, 4}, {10, 5}, {12, 6}});
    add("line zone, collinear decimals, 0", S::LineMinimumZone, 0,
        {{0.1, 0.7}, {0.3, 1.3}, {0.7, 2.5}, {1.1, 3.7}, {1.9, 6.1}});
    add("line zone, square grid, 0", S::LineMinimumZone, 0,
        {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}});
    add("line zone, outliers, 2", S::LineMinimumZone, 2, noisyLine(33, 40, 100, 0.02, 2));
    add("line zone, outliers, 5", S::LineMinimumZone, 5, noisyLine(34, 80, 100, 0.05, 5));
    add("line zone, pixel grid, 3", S::LineMinimumZone, 3, pixelLine(35, 50, 3));
    add("line zone, one kept point, 3", S::LineMinimumZone, 3, {{1, 1}, {1, 1}, {3, 2}, {0, 5}});
    // Free-radius circle.
    add("circle free, clean, 0", S::CircleFreeRadius, 0, noisyCircle(41, 40, {2, -1}, 5, 2 * zt::pi, 0.01, 0));
    add("circle free, arc, 0", S::CircleFreeRadius, 0, noisyCircle(42, 60, {100, 200}, 30, 1.2, 0.05, 0));
    add("circle free, pixel grid, 0", S::CircleFreeRadius, 0, pixelCircle(43, 50, 20, 0));
    add("circle free, outliers, 1", S::CircleFreeRadius, 1, noisyCircle(44, 20, {2, -1}, 5, 2 * zt::pi, 0.01, 1));
    add("circle free, outliers, 3", S::CircleFreeRadius, 3, noisyCircle(45, 30, {2, -1}, 5, 2 * zt::pi, 0.01, 3));
    add("circle free, outliers, 6", S::CircleFreeRadius, 6, noisyCircle(46, 60, {-7, 3}, 10, 2 * zt::pi, 0.01, 6));
    add("circle free, arc outliers, 4", S::CircleFreeRadius, 4, noisyCircle(47, 40, {0, 0}, 50, 2.0, 0.05, 4));
    add("circle free, pixel grid, 3", S::CircleFreeRadius, 3, pixelCircle(48, 36, 15, 3));
    add("circle free, polygon tie, 2", S::CircleFreeRadius, 2, regularPolygon(12, 4, {{0.5, 0.2}, {-0.5, -0.2}}));
    add("circle free, square grid, 2", S::CircleFreeRadius, 2,
        {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}});
    // Fixed-radius circle.
    add("circle fixed, clean, 0", S::CircleFixedRadius, 0, noisyCircle(51, 40, {2, -1}, 5, 2 * zt::pi, 0.01, 0), 5.0);
    add("circle fixed, other radius, 0", S::CircleFixedRadius, 0, noisyCircle(52, 30, {2, -1}, 5, 2 * zt::pi, 0.01, 0),
        3.0);
    add("circle fixed, outliers, 2", S::CircleFixedRadius, 2, noisyCircle(53, 25, {2, -1}, 5, 2 * zt::pi, 0.01, 2),
        5.0);
    add("circle fixed, outliers, 5", S::CircleFixedRadius, 5, noisyCircle(54, 50, {-7, 3}, 10, 2 * zt::pi, 0.01, 5),
        10.0);
    add("circle fixed, pixel grid, 3", S::CircleFixedRadius, 3, pixelCircle(55, 36, 15, 3), 15.0);
    add("circle fixed, polygon tie, 2", S::CircleFixedRadius, 2, regularPolygon(10, 4, {{0.5, 0.2}, {-0.5, -0.2}}),
        4.0);
    // Ellipse subsets.
    add("ellipse subsets, clean, 1", S::EllipseSubsets, 1, noisyEllipse(61, 12, 8, 3, 0.01, 0));
    add("ellipse subsets, outliers, 2", S::EllipseSubsets, 2, noisyEllipse(62, 16, 8, 3, 0.01, 2));
    add("ellipse subsets, outliers, 3", S::EllipseSubsets, 3, noisyEllipse(63, 20, 8, 3, 0.01, 3));
    add("ellipse subsets, pixel grid, 2", S::EllipseSubsets, 2, rounded(noisyEllipse(64, 18, 40, 15, 0.0, 2)));
    return cases;
}

// ---- the expected table ------------------------------------------------------

struct Expected {
    const char* name;
    zfit_status status;
    double rmsError;
    std::vector<double> shape;
    std::vector<int32_t> ignored;
};

const std::vector<Expected> expectedTable = {
#include "golden_search_expected.inc"
};

void record(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        const Outcome o = run(c);
        std::printf("    {\"%s\", %" PRId32 ", %.17g, {", c.name.c_str(), o.status, o.rmsError);
        for (size_t k = 0; k < o.shape.size(); ++k) std::printf("%s%.17g", k ? ", " : "", o.shape[k]);
        std::printf("}, {");
        for (size_t k = 0; k < o.ignored.size(); ++k) std::printf("%s%" PRId32, k ? ", " : "", o.ignored[k]);
        std::printf("}},\n");
    }
}

// The size of the data, for tolerances relative to it.
double spread(const Pts& p)
{
    double largest = 1.0;
    for (const zmath_vect& q : p) largest = std::max({largest, std::fabs(q.x), std::fabs(q.y)});
    return largest;
}

TEST(GoldenSearch, EverySearchGivesTheRecordedAnswer)
{
    const std::vector<Case> cases = corpus();
    if (std::getenv("ZFIT_GOLDEN_RECORD")) {
        record(cases);
        GTEST_SKIP() << "recorded, not compared";
    }
    ASSERT_EQ(cases.size(), expectedTable.size()) << "the corpus and the table list the same cases";
    for (size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        const Expected& want = expectedTable[k];
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.name, want.name) << "the table is in corpus order";
        const Outcome got = run(c);
        ASSERT_EQ(got.status, want.status) << zfit::statusName(got.status);
        if (want.status != 0) continue;
        const double scale = spread(c.points);
        // Rounding only: the same winner, its numbers formed in another order.
        const double tolerance = 1e-9 * scale;
        std::vector<int32_t> gotSet = got.ignored, wantSet = want.ignored;
        std::sort(gotSet.begin(), gotSet.end());
        std::sort(wantSet.begin(), wantSet.end());
        if (gotSet != wantSet) {
            // Another window won. Only a tie within rounding may do that
            // (windows equal by symmetry, or the same points seen from two
            // nearly equal directions), never one with a worse score.
            EXPECT_LE(got.rmsError, want.rmsError + tolerance) << "another window won with a worse score";
            EXPECT_EQ(got.ignored.size(), want.ignored.size()) << "as many points discarded";
            continue;
        }
        // The same window; its discarded points may be listed in another
        // order when a different candidate centre or direction (up to
        // rounding as good) proposed it, but its shape is the same.
        EXPECT_NEAR(got.rmsError, want.rmsError, tolerance) << "error of the winning window";
        ASSERT_EQ(got.shape.size(), want.shape.size()) << "numbers of the shape";
        for (size_t q = 0; q < want.shape.size(); ++q)
            EXPECT_NEAR(got.shape[q], want.shape[q], tolerance) << "shape number " << q;
    }
}

}  // namespace
