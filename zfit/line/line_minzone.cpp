// zmath_lineFitMinZone_: the centre line of the narrowest strip, among the
// point-pair directions, that holds n - m of the n points.
//
// With points to discard, every pair direction is searched as in the ranked
// fit (line_search.hpp), each window scored by half the spread of its
// offsets on the unit normal, read off the ranking.
//
// Without points to discard (the straightness of a profile) the search is
// not needed. The width of a point set across a direction is largest minus
// smallest offset, a function of the direction that is concave between the
// directions of its convex hull's edges; its minimum is therefore taken at
// the direction of a hull edge (the rotating-calipers argument of Houle and
// Toussaint). So:
//   1. the convex hull (Andrew's monotone chain) and the width across every
//      hull edge (rotating calipers), O(n log n);
//   2. the hull edges whose width is within rounding of the smallest;
//   3. for each such edge the first pair of points, in the order of i, then
//      j, that is parallel to it to within rounding: every such pair spans
//      a strip as narrow as the edge's, up to rounding, so the first of them
//      is the one the pair loop keeps among equals. It is scored exactly as
//      the pair loop scores it (unit normal of point j - point i, offsets of
//      all points, half their spread);
//   4. the narrowest of those, the first pair among equal widths, gives the
//      line: along point j - point i, midway between the extreme offsets.
// Pairs that are not parallel to a narrowest edge span strictly wider
// strips; only where their excess is itself within rounding (points that
// are collinear but not exactly so) can the plain loop keep one of them
// instead, with a width that differs in its last digits.
#include <algorithm>
#include <cmath>
#include <limits>

#include <zfit/line/line_search.hpp>

namespace {

// ---- with points to discard: the pair-direction search -----------------------

// Ranks on the unit normal, so offsets are distances, and scores a window by
// half the spread of its offsets, read off the ranking; the score depends on
// the direction as well as on the window's points. The candidate runs along
// the pair's direction, midway between the window's extreme offsets; its
// distance is kept as computed and may be negative.
class MinZonePolicy {
public:
    static constexpr size_t kTerms = 0;
    static constexpr bool kScoreOfSet = false;

    explicit MinZonePolicy(zmath_shapeFLine* line) : line_(line) {}

    void reserve(zsvc::Arena&, const zsvc::SearchPoints&) {}
    zfit_status begin(const zsvc::SearchPoints& points)
    {
        p_ = points.p.data();
        return zfit_ok;
    }
    std::array<double, kTerms> terms(double, double) const { return {}; }

    using Window = zsvc::Window<zfit::line::Direction, kTerms>;

    // The window's extreme offsets: its first and its last rank.
    double top(const Window& window) const { return offset(window, window.candidate.first); }
    double bottom(const Window& window) const { return offset(window, window.candidate.last); }

    zsvc::Verdict score(const Window& window) const { return {std::fabs(top(window) - bottom(window)) * 0.5}; }

    void keep(const Window& window) { best_ = {window.candidate.payload.along, (top(window) + bottom(window)) * 0.5}; }

    template <class Sweep>
    zfit_status finish(Sweep&)
    {
        double angle = 0.0;
        ZFIT_TRY(zmath_vect_getDirection(&best_.along, &angle));
        zmath_shapeFLine best{};
        ZFIT_TRY(zmath_shapeFLine_setAngle(&best, &angle));
        best.d = best_.distance;
        *line_ = best;
        return zfit_ok;
    }

private:
    struct Strip {
        zmath_vect along;
        double distance;
    };

    double offset(const Window& window, std::span<const int32_t> list) const
    {
        return zsvc::dot(p_[list[static_cast<size_t>(window.s)]], window.candidate.payload.normal);
    }

    zmath_shapeFLine* line_;
    const zmath_vect* p_ = nullptr;
    Strip best_{};
};

// ---- without points to discard: hull, calipers and parallel pairs -------------

double cross(const zmath_vect& a, const zmath_vect& b) { return a.x * b.y - a.y * b.x; }

// The convex hull's vertices, counterclockwise, without collinear points,
// written to hull (room for 2n + 1); returns their number. sorted holds the
// indices ordered by x, then y.
int32_t convexHull(const zmath_vect* p, std::span<const int32_t> sorted, std::span<int32_t> hull)
{
    const auto turnsLeft = [&](int32_t a, int32_t b, int32_t c) {
        return cross(zsvc::subtract(p[b], p[a]), zsvc::subtract(p[c], p[a])) > 0.0;
    };
    int32_t size = 0;
    for (const int32_t k : sorted) {  // lower chain
        while (size >= 2 && !turnsLeft(hull[size - 2], hull[size - 1], k)) --size;
        hull[size++] = k;
    }
    const int32_t lower = size + 1;
    for (auto it = sorted.rbegin() + 1; it != sorted.rend(); ++it) {  // upper chain
        while (size >= lower && !turnsLeft(hull[size - 2], hull[size - 1], *it)) --size;
        hull[size++] = *it;
    }
    return size - 1;  // the first point closes the chain
}

// The score of one pair as the pair loop computes it: the unit normal of
// point j - point i, the points' offsets on it, and half their spread.
struct PairStrip {
    double halfWidth = HUGE_VAL;
    double top = 0.0, bottom = 0.0;
};

zfit_status scorePair(const zmath_vect* p, int32_t i, int32_t j, std::span<const int32_t> among, PairStrip* strip)
{
    const zmath_vect dir = zsvc::subtract(p[j], p[i]);
    const zmath_vect normal{-dir.y, dir.x};
    zmath_vect unit{};
    ZFIT_TRY(zmath_vect_getUnit(&normal, &unit));
    double top = -HUGE_VAL, bottom = HUGE_VAL;
    for (const int32_t k : among) {
        const double offset = zsvc::dot(p[k], unit);
        top = std::max(top, offset);
        bottom = std::min(bottom, offset);
    }
    *strip = {std::fabs(top - bottom) * 0.5, top, bottom};
    return zfit_ok;
}

class NarrowestStrip {
public:
    NarrowestStrip(const zmath_vect* p, int32_t n) : p_(p), n_(n) {}

    zfit_status run(zmath_shapeFLine* line, double* rmsError)
    {
        ZFIT_TRY(sorted_.allocate(n_));
        ZFIT_TRY(hull_.allocate(2 * int64_t{n_} + 1));
        ZFIT_TRY(widths_.allocate(int64_t{n_} + 1));
        ZFIT_TRY(keyed_.allocate(n_));
        ZFIT_TRY(position_.allocate(n_));
        for (int32_t k = 0; k < n_; ++k) sorted_[static_cast<size_t>(k)] = k;
        std::sort(sorted_.data(), sorted_.data() + n_, [this](int32_t a, int32_t b) {
            if (p_[a].x != p_[b].x) return p_[a].x < p_[b].x;
            if (p_[a].y != p_[b].y) return p_[a].y < p_[b].y;
            return a < b;
        });
        const int32_t corners = convexHull(p_, sorted_.span(), hull_.span());
        ZFIT_FAIL_IF(corners < 2, zmath_errDegenerate);  // all points equal
        for (int32_t k = 0; k < n_; ++k) scale_ = std::max({scale_, std::fabs(p_[k].x), std::fabs(p_[k].y)});
        // Offsets and widths carry rounding of a few units of the largest
        // coordinate: strips closer than this to the narrowest are ties.
        rounding_ = zsvc::kKeyRoundingUlps * std::numeric_limits<double>::epsilon() * scale_;

        const std::span<const int32_t> hull(hull_.data(), static_cast<size_t>(corners));
        const double narrowest = edgeWidths(hull);
        const double tolerance = rounding_ + kLineZoneTie * narrowest;
        int32_t directionsDone = 0;
        zmath_vect done[4]{};
        for (int32_t edge = 0; edge < corners; ++edge) {
            if (!(widths_[static_cast<size_t>(edge)] <= narrowest + tolerance)) continue;
            const zmath_vect along = zsvc::subtract(p_[hull[static_cast<size_t>((edge + 1) % corners)]],
                                                    p_[hull[static_cast<size_t>(edge)]]);
            // Parallel edges (a rectangle's opposite sides) give the same pairs.
            const double length = zsvc::length(along);
            const bool seen = std::any_of(done, done + directionsDone, [&](const zmath_vect& d) {
                return std::fabs(cross(d, along)) <= kLineZoneTie * length * zsvc::length(d);
            });
            if (seen) continue;
            if (directionsDone < 4) done[directionsDone++] = along;
            ZFIT_TRY(firstParallelPair(along));
        }
        ZFIT_FAIL_IF(bestI_ < 0, zmath_errDegenerate);

        // The winner's strip over every point, as the pair loop forms it.
        for (int32_t k = 0; k < n_; ++k) sorted_[static_cast<size_t>(k)] = k;
        PairStrip strip;
        ZFIT_TRY(scorePair(p_, bestI_, bestJ_, sorted_.span(), &strip));
        const zmath_vect dir = zsvc::subtract(p_[bestJ_], p_[bestI_]);
        double angle = 0.0;
        ZFIT_TRY(zmath_vect_getDirection(&dir, &angle));
        zmath_shapeFLine result{};
        ZFIT_TRY(zmath_shapeFLine_setAngle(&result, &angle));
        result.d = (strip.top + strip.bottom) * 0.5;
        *rmsError = strip.halfWidth;
        *line = result;
        return zfit_ok;
    }

private:
    struct Keyed {
        double key;
        int32_t index;
    };

    // Rotating calipers: widths_[e] = the largest distance of a hull vertex
    // from the line of edge e. Returns the smallest.
    double edgeWidths(std::span<const int32_t> hull)
    {
        const int32_t corners = static_cast<int32_t>(hull.size());
        const auto vertex = [&](int32_t k) { return p_[hull[static_cast<size_t>(k % corners)]]; };
        double narrowest = HUGE_VAL;
        int32_t far = 1;
        for (int32_t edge = 0; edge < corners; ++edge) {
            const zmath_vect from = vertex(edge), along = zsvc::subtract(vertex(edge + 1), from);
            const auto height = [&](int32_t k) { return cross(along, zsvc::subtract(vertex(k), from)); };
            if (far < edge + 1) far = edge + 1;
            // The farthest vertex moves forward as the edge turns; it never
            // needs more than one lap.
            for (int32_t steps = 0; steps < corners && height(far + 1) >= height(far); ++steps) ++far;
            const double width = height(far) / zsvc::length(along);
            widths_[static_cast<size_t>(edge)] = width;
            narrowest = std::min(narrowest, width);
        }
        return narrowest;
    }

    // The first pair of points, in the order of i, then j, parallel to
    // `along` to within rounding, scored as the pair loop scores it. Every
    // such pair spans a strip as narrow as the edge's, up to rounding, so
    // among them the tie rule, first pair first, picks this one.
    zfit_status firstParallelPair(const zmath_vect& along)
    {
        const double length = zsvc::length(along);
        const zmath_vect unit{along.x / length, along.y / length};
        for (int32_t k = 0; k < n_; ++k) keyed_[static_cast<size_t>(k)] = {cross(unit, p_[k]), k};
        Keyed* keyed = keyed_.data();
        std::sort(keyed, keyed + n_, [](const Keyed& a, const Keyed& b) {
            return a.key < b.key || (a.key == b.key && a.index < b.index);
        });
        for (int32_t r = 0; r < n_; ++r) position_[static_cast<size_t>(keyed[r].index)] = r;
        // A pair is parallel enough when its direction turns the offsets of
        // the whole point set by less than the rounding.
        const double diameter = 3.0 * scale_;
        for (int32_t i = 0; i < n_; ++i) {
            // Among the points whose key lies within rounding of i's, the
            // smallest j > i that is parallel enough.
            int32_t firstJ = INT32_MAX;
            const int32_t at = position_[static_cast<size_t>(i)];
            const double key = keyed[at].key;
            const auto consider = [&](int32_t j) {
                if (j <= i || j >= firstJ) return;
                const zmath_vect dir = zsvc::subtract(p_[j], p_[i]);
                if (dir.x == 0.0 && dir.y == 0.0) return;  // equal points propose nothing
                if (std::fabs(cross(unit, dir)) * diameter > 2.0 * rounding_ * zsvc::length(dir)) return;
                firstJ = j;
            };
            for (int32_t r = at - 1; r >= 0 && key - keyed[r].key <= rounding_; --r) consider(keyed[r].index);
            for (int32_t r = at + 1; r < n_ && keyed[r].key - key <= rounding_; ++r) consider(keyed[r].index);
            if (firstJ == INT32_MAX) continue;
            for (int32_t k = 0; k < n_; ++k) sorted_[static_cast<size_t>(k)] = k;
            PairStrip strip;
            ZFIT_TRY(scorePair(p_, i, firstJ, sorted_.span(), &strip));
            // Strictly narrower, or as narrow and earlier in pair order.
            const bool earlier = i < bestI_ || (i == bestI_ && firstJ < bestJ_);
            if (strip.halfWidth < bestHalfWidth_ || (strip.halfWidth == bestHalfWidth_ && earlier)) {
                bestHalfWidth_ = strip.halfWidth;
                bestI_ = i;
                bestJ_ = firstJ;
            }
            return zfit_ok;
        }
        return zfit_ok;
    }

    const zmath_vect* p_;
    int32_t n_;
    double scale_ = 0.0, rounding_ = 0.0;
    zsvc::Scratch<int32_t> sorted_, hull_, position_;
    zsvc::Scratch<double> widths_;
    zsvc::Scratch<Keyed> keyed_;
    double bestHalfWidth_ = HUGE_VAL;
    int32_t bestI_ = -1, bestJ_ = -1;
};

}  // namespace

zfit_status zmath_lineFitMinZone_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zmath_shapeFLine* line,
                                  double* rmsError, zstd_vector32* ignoredIndices)
{
    if (numIgnore > 0) {
        zfit::line::PairDirections directions(zmath_lineFitModeMinimumZone);
        MinZonePolicy policy(line);
        return zsvc::searchWindows(points, numIgnore, rmsError, ignoredIndices, directions, policy);
    }
    *rmsError = HUGE_VAL;
    const std::span<const zmath_vect> all = zsvc::view(points);
    const zmath_vect* p = all.data();
    const int32_t n = zsvc::size32(all);
    ZFIT_FAIL_IF(n < 2 || !zsvc::allFinite(all), zmath_errDegenerate);
    const bool allEqual =
        std::all_of(p + 1, p + n, [&](const zmath_vect& q) { return q.x == p[0].x && q.y == p[0].y; });
    ZFIT_FAIL_IF(allEqual, zmath_errDegenerate);  // no pair proposes a direction
    // The one pass of this search.
    ZFIT_TRY(zsys_attention_check());
    double halfWidth = HUGE_VAL;
    zmath_shapeFLine best{};
    NarrowestStrip strip(p, n);
    ZFIT_TRY(strip.run(&best, &halfWidth));
    *rmsError = halfWidth;
    *line = best;
    return zstd_vector32_resize(ignoredIndices, 0);  // nothing discarded: a reused record drops its old indices
}
