// The outlier searches of modes 0 and 1: candidate centres from point
// triples, a ranking of all points by distance from each candidate, and a
// window of n - m consecutive ranks slid over the ranking. The two modes
// differ only in how a window is solved, so the search is written once over
// a window solver.
//
// The answers are those of the plain loops (every triple i < j < k in turn,
// a full sort of the ranking, every window solved and measured); what makes
// the search fast:
//   - a window depends only on the m + 1 nearest and m + 1 farthest ranks,
//     kept by a partial ranking (zsvc::RankExtremes) that is repaired, not
//     rebuilt, from one candidate to the next: the candidates of a pair
//     (i, j) lie on one bisector and are visited in order along it, so
//     consecutive centres are close, and while a centre has moved too little
//     for any point to change places at the extremes nothing is recomputed;
//   - a window is fixed by the points it leaves out; one already scored is
//     not scored again (its score would be the same), and the best window
//     met again earlier in loop order takes that place, as the plain loop
//     would have found it there first;
//   - a window's moment sums are those of the middle ranks (kept up to date
//     as points join or leave the middle) plus its points among the
//     extremes, so a far outlier is never added and taken away again;
//   - the error of a solved window is bounded from below by its algebraic
//     objective, read from the sums: |d - r| = |d^2 - r^2| / (d + r), and
//     the sum of (d^2 - r^2)^2 is what the algebraic circle minimises. A
//     window whose bound reaches the best error so far needs no pass over
//     its points;
//   - only without anything to discard is the search not needed at all:
//     every candidate then has the one window of all points, solved once.
// The attention check is polled once per first index i.
#include <algorithm>
#include <cmath>
#include <limits>

#include <zfit/circle/circle_internal.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/ranking.hpp>
#include <zfit/services/seen_sets.hpp>
#include <zfit/services/system.h>

namespace {

// Moment sums of offsets from a fixed origin: everything both window solves
// and the bound on a window's error need.
struct Moments {
    double w = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0, sxr = 0.0, syr = 0.0, sr4 = 0.0;

    void add(double dx, double dy, double sign = 1.0)
    {
        const double r2 = dx * dx + dy * dy;
        w += sign;
        sx += sign * dx;
        sy += sign * dy;
        sxx += sign * dx * dx;
        syy += sign * dy * dy;
        sxy += sign * dx * dy;
        sxr += sign * dx * r2;
        syr += sign * dy * r2;
        sr4 += sign * r2 * r2;
    }
    friend Moments operator+(const Moments& a, const Moments& b)
    {
        return {a.w + b.w,     a.sx + b.sx,   a.sy + b.sy,   a.sxx + b.sxx, a.syy + b.syy,
                a.sxy + b.sxy, a.sxr + b.sxr, a.syr + b.syr, a.sr4 + b.sr4};
    }
};

// Free radius: the algebraic circle of the window.
class FreeRadiusWindow {
public:
    // The circle of the sums (about `origin`), judged degenerate against the
    // given spread; false when the window has no circle.
    bool solve(const Moments& m, const zmath_vect& origin, double spread, zfit_circle* circle) const
    {
        const zfit_circleVals sums{origin, m.w, m.sx, m.sy, m.sxx, m.syy, m.sxy, m.sxr, m.syr};
        return zfit_circleVals_solveWithin_(&sums, spread, circle) == zfit_ok;
    }
    // The plain solve about an origin, as the weighted fit forms it.
    zfit_status solvePoints(std::span<const zmath_vect> points, const zmath_vect& origin, zfit_circle* circle) const
    {
        zfit_circleVals sums;
        ZFIT_TRY(zfit_circleVals_init_(&sums));
        sums.origin = origin;
        for (const zmath_vect& p : points) zfit_circleVals_add_(&sums, p);
        return zfit_circleVals_solve_(&sums, circle);
    }
};

// Fixed radius: the window's algebraic centre with the imposed radius.
class FixedRadiusWindow {
public:
    explicit FixedRadiusWindow(double radius) : radius_(radius) {}

    bool solve(const Moments& m, const zmath_vect& origin, double spread, zfit_circle* circle) const
    {
        // q = R^2 - dx^2 - dy^2, so S dx q = R^2 Sx - S dx r2.
        const double rr = radius_ * radius_;
        zfit_circleFixedRadiusVals sums{
            static_cast<int32_t>(m.w), m.sx,   m.sy,   m.sxx, m.syy, m.sxy, rr * m.sx - m.sxr, 0.0,
            rr * m.sy - m.syr,         origin, radius_};
        return zfit_circleFixedRadiusVals_solveWithin_(&sums, spread, circle) == zfit_ok;
    }
    zfit_status solvePoints(std::span<const zmath_vect> points, const zmath_vect& origin, zfit_circle* circle) const
    {
        zfit_circleFixedRadiusVals sums;
        ZFIT_TRY(zfit_circleFixedRadiusVals_init_(&sums));
        sums.origin = origin;
        sums.radius = radius_;
        for (const zmath_vect& p : points) zfit_circleFixedRadiusVals_add_(&sums, p);
        return zfit_circleFixedRadiusVals_solve_(&sums, circle);
    }

private:
    double radius_;
};

// A lower bound on the RMS of |p - centre| - r over the window's points,
// from its sums about `origin`: the algebraic objective A = S (d^2 - r^2)^2
// (d the distance from the centre) less a generous allowance for its
// rounding, over w, divided by the largest d + r. farthest bounds d from
// above.
double errorBound(const Moments& m, const zmath_vect& origin, const zfit_circle& circle, double farthest)
{
    const double cx = circle.centre.x - origin.x, cy = circle.centre.y - origin.y, r = circle.radius;
    // d^2 - r^2 = r2 + D dx + E dy + F in origin offsets.
    const double D = -2.0 * cx, E = -2.0 * cy, F = cx * cx + cy * cy - r * r;
    const double spread = m.sxx + m.syy;
    const double A = m.sr4 + D * D * m.sxx + E * E * m.syy + F * F * m.w + 2.0 * D * m.sxr + 2.0 * E * m.syr +
                     2.0 * F * spread + 2.0 * D * E * m.sxy + 2.0 * D * F * m.sx + 2.0 * E * F * m.sy;
    const double magnitude = m.sr4 + D * D * m.sxx + E * E * m.syy + F * F * m.w + std::fabs(2.0 * D * m.sxr) +
                             std::fabs(2.0 * E * m.syr) + std::fabs(2.0 * F * spread) + std::fabs(2.0 * D * E * m.sxy) +
                             std::fabs(2.0 * D * F * m.sx) + std::fabs(2.0 * E * F * m.sy);
    const double lower = A - kCircleBoundRounding * magnitude;
    const double reach = (farthest + r) * (1.0 + kCircleReachMargin);
    if (!(lower > 0.0) || !(reach > 0.0)) return 0.0;
    return std::sqrt(lower / m.w) / reach * (1.0 - kCircleReachMargin);
}

// Where a window was found, in the order the plain loops visit windows.
struct Location {
    int32_t i = INT32_MAX, j = INT32_MAX, k = INT32_MAX, s = INT32_MAX;
    friend auto operator<=>(const Location&, const Location&) = default;
};

// One candidate centre of a pair's bisector.
struct AlongBisector {
    double t;
    int32_t k;
};

// The state of one search: the input, the work storage and the caller's
// outputs.
template <class Window>
class Search {
public:
    Search(Window window, std::span<const zmath_vect> points, int32_t numIgnore, double* rmsError,
           zstd_vector32* ignoredIndices)
        : window_(window), p_(points), n_(static_cast<int32_t>(points.size())), m_(numIgnore), L_(n_ - numIgnore),
          rmsError_(rmsError), ignoredIndices_(ignoredIndices)
    {}

    // Work storage, made once in one allocation; the caller's index vector
    // is grown to its final size here too (and emptied again), so the
    // candidate loops never allocate.
    zfit_status prepare()
    {
        const int64_t n = n_, extremes = int64_t{m_} + 1;
        const int64_t hitCapacity =
            static_cast<int64_t>(zsvc::RankExtremes::hitCapacity(static_cast<size_t>(extremes)));
        zsvc::Arena& arena = arena_;
        const auto xs = arena.reserve<double>(n), ys = arena.reserve<double>(n), keys = arena.reserve<double>(n);
        const auto first = arena.reserve<int32_t>(extremes), last = arena.reserve<int32_t>(extremes);
        const auto member = arena.reserve<uint8_t>(n);
        const auto inFirst = arena.reserve<uint64_t>(n), inLast = arena.reserve<uint64_t>(n);
        const auto excluded = arena.reserve<uint64_t>(n);
        const auto order = arena.reserve<int32_t>(n);
        const auto values = arena.reserve<double>(n);
        const auto lowHits = arena.reserve<int32_t>(hitCapacity), highHits = arena.reserve<int32_t>(hitCapacity);
        const auto candidates = arena.reserve<AlongBisector>(n);
        const auto hashes = arena.reserve<zsvc::SetHash>(n), windowHashes = arena.reserve<zsvc::SetHash>(extremes);
        const auto firstHashes = arena.reserve<zsvc::SetHash>(extremes + 1);
        const auto lastHashes = arena.reserve<zsvc::SetHash>(extremes + 1);
        const auto firstSums = arena.reserve<Moments>(extremes + 1), lastSums = arena.reserve<Moments>(extremes + 1);
        const auto seen = arena.reserve<zsvc::SetHash>(seenCapacity());
        const auto recent = arena.reserve<zsvc::SetHash>(kRecentWindows);
        const auto kept = arena.reserve<zmath_vect>(L_);
        ZFIT_TRY(arena.allocate());
        xs_ = arena.span<double>(xs);
        ys_ = arena.span<double>(ys);
        keys_ = arena.span<double>(keys);
        excluded_ = arena.span<uint64_t>(excluded);
        candidates_ = arena.span<AlongBisector>(candidates);
        hashes_ = arena.span<zsvc::SetHash>(hashes);
        windowHashes_ = arena.span<zsvc::SetHash>(windowHashes);
        firstHashes_ = arena.span<zsvc::SetHash>(firstHashes);
        lastHashes_ = arena.span<zsvc::SetHash>(lastHashes);
        firstSums_ = arena.span<Moments>(firstSums);
        lastSums_ = arena.span<Moments>(lastSums);
        kept_ = arena.span<zmath_vect>(kept);
        seen_ = zsvc::SeenSets(arena.span<zsvc::SetHash>(seen), arena.span<zsvc::SetHash>(recent));
        ranking_ =
            zsvc::RankExtremes(arena.span<int32_t>(first), arena.span<int32_t>(last), arena.span<uint8_t>(member),
                               arena.span<uint64_t>(inFirst), arena.span<uint64_t>(inLast), arena.span<int32_t>(order),
                               arena.span<double>(values), arena.span<int32_t>(lowHits), arena.span<int32_t>(highHits));
        ZFIT_TRY(zstd_vector32_resize(ignoredIndices_, m_));
        ZFIT_TRY(zstd_vector32_resize(ignoredIndices_, 0));

        zmath_vect low = p_[0], high = p_[0];
        for (int32_t q = 0; q < n_; ++q) {
            const size_t slot = static_cast<size_t>(q);
            xs_[slot] = p_[slot].x;
            ys_[slot] = p_[slot].y;
            hashes_[slot] = zsvc::indexHash(q);
            excluded_[slot] = 0;
            low = {std::min(low.x, p_[slot].x), std::min(low.y, p_[slot].y)};
            high = {std::max(high.x, p_[slot].x), std::max(high.y, p_[slot].y)};
        }
        diameter_ = zsvc::length(zsvc::subtract(high, low));
        // The origin of the moment sums: the coordinate-wise median, inside
        // the bulk of the points whatever the outliers, so that the sums of
        // a good window keep their digits.
        const auto median = [&](std::span<const double> values) {
            std::copy(values.begin(), values.end(), keys_.begin());
            const auto middle = keys_.begin() + n_ / 2;
            std::nth_element(keys_.begin(), middle, keys_.end());
            return *middle;
        };
        origin_ = {median(xs_), median(ys_)};
        std::fill(windowHashes_.begin(), windowHashes_.end(), zsvc::SetHash{});
        return zfit_ok;
    }

    // Every triple (i, j, k) proposes the centre of the circle through it.
    zfit_status searchCandidates()
    {
        for (int32_t i = 0; i < n_ - 2; ++i) {
            ZFIT_TRY(zsys_attention_check());
            for (int32_t j = i + 1; j < n_ - 1; ++j) ZFIT_TRY(searchPair(i, j));
        }
        return zfit_ok;
    }

    // The best window found, checked once more, becomes the result. Its
    // discarded points are listed by distance from the circle's centre,
    // nearest first (those inside the kept points' ring, then those outside
    // it): the ranking of any candidate centre that proposed the window,
    // made independent of which of them was met first.
    zfit_status finish(zfit_circle* circle)
    {
        ZFIT_FAIL_IF(!(*rmsError_ < HUGE_VAL) && !(*rmsError_ > HUGE_VAL), zmath_errDegenerate);
        int32_t* ignored = ignoredIndices_->begin;
        const double cx = best_.centre.x, cy = best_.centre.y;
        std::sort(ignored, ignored + m_, [&](int32_t a, int32_t b) {
            return zsvc::rankBefore(
                zsvc::distanceKey(xs_[static_cast<size_t>(a)], ys_[static_cast<size_t>(a)], cx, cy), a,
                zsvc::distanceKey(xs_[static_cast<size_t>(b)], ys_[static_cast<size_t>(b)], cx, cy), b);
        });
        const std::span<const zmath_vect> best = keptPoints();
        // The winning window solved again from its own points, about the
        // centre the search found for it: the sums of the search carry the
        // rounding of every point that passed through them, these only the
        // window's own.
        zfit_circle solved;
        ZFIT_TRY(window_.solvePoints(best, best_.centre, &solved));
        *rmsError_ = zfit_circleRms_(solved, best);
        *circle = solved;
        return zfit_ok;
    }

    // Without anything to discard every candidate has the one window of all
    // points: a circle exists when the first pair of distinct points has a
    // candidate centre, and it is the window's circle, solved once about
    // the first point as the weighted fit solves it.
    zfit_status fitAll(zfit_circle* circle)
    {
        ZFIT_TRY(zsys_attention_check());
        ZFIT_FAIL_IF(!anyCandidate(), zmath_errDegenerate);
        zfit_circle solved;
        ZFIT_TRY(window_.solvePoints(p_, p_[0], &solved));
        zfit_circle check;
        ZFIT_TRY(window_.solvePoints(p_, solved.centre, &check));
        *rmsError_ = zfit_circleRms_(solved, p_);
        *circle = solved;
        return zfit_ok;
    }

private:
    // The windows met most recently, answered from the nearest cache (16
    // bytes each).
    static constexpr int64_t kRecentWindows = 1024;

    // Room for the windows of a few thousand candidates before the set of
    // seen windows starts over.
    int64_t seenCapacity() const
    {
        int64_t capacity = 1024;
        while (capacity < 16 * (int64_t{m_} + 1) * n_ && capacity < (int64_t{1} << 16)) capacity *= 2;
        return capacity;
    }

    // The bisector of p[i] and p[j], as the plain loop forms it.
    struct Bisector {
        zmath_vect mid, e, unit;
    };

    // The candidate centre of (i, j, k) along the bisector, or false when the
    // triple proposes none: k equal to i or j, the three collinear, or a
    // centre that overflowed.
    bool candidateAlong(int32_t i, int32_t k, const Bisector& b, double* t) const
    {
        const zmath_vect mid2{(p_[k].x + p_[i].x) * 0.5, (p_[k].y + p_[i].y) * 0.5};
        const zmath_vect d2 = zsvc::subtract(p_[k], p_[i]);
        const zmath_vect e2{-d2.y, d2.x};
        if (e2.x == 0.0 && e2.y == 0.0) return false;      // p[k] equals p[i]
        if (e2.x == b.e.x && e2.y == b.e.y) return false;  // p[k] equals p[j]
        const double c = zsvc::dot(b.unit, d2);
        if (zmath_double_equal(c, 0.0)) return false;  // collinear: the bisectors are parallel
        *t = zsvc::dot(zsvc::subtract(mid2, b.mid), d2) / c;
        const zmath_vect centre = along(b, *t);
        return std::isfinite(centre.x) && std::isfinite(centre.y);
    }

    static zmath_vect along(const Bisector& b, double t) { return {b.mid.x + t * b.unit.x, b.mid.y + t * b.unit.y}; }

    // The bisector of the pair (i, j), or false when the points are equal.
    zfit_status bisector(int32_t i, int32_t j, Bisector* b, bool* exists) const
    {
        const zmath_vect d1 = zsvc::subtract(p_[j], p_[i]);
        b->mid = {(p_[j].x + p_[i].x) * 0.5, (p_[j].y + p_[i].y) * 0.5};
        b->e = {-d1.y, d1.x};
        *exists = !(b->e.x == 0.0 && b->e.y == 0.0);
        if (!*exists) return zfit_ok;
        return zmath_vect_getUnit(&b->e, &b->unit);
    }

    // Whether the first pair of distinct points has a candidate centre.
    bool anyCandidate() const
    {
        for (int32_t j = 1; j < n_ - 1; ++j) {
            Bisector b;
            bool exists = false;
            if (zfit::failed(bisector(0, j, &b, &exists)) || !exists) continue;
            double t = 0.0;
            for (int32_t k = j + 1; k < n_; ++k)
                if (candidateAlong(0, k, b, &t)) return true;
            return false;
        }
        return false;
    }

    // The candidates of one pair, visited in order along its bisector.
    zfit_status searchPair(int32_t i, int32_t j)
    {
        Bisector b;
        bool exists = false;
        ZFIT_TRY(bisector(i, j, &b, &exists));
        if (!exists) return zfit_ok;
        int32_t pending = 0;
        for (int32_t k = j + 1; k < n_; ++k) {
            double t = 0.0;
            if (candidateAlong(i, k, b, &t)) candidates_[static_cast<size_t>(pending++)] = {t, k};
        }
        std::sort(
            candidates_.begin(), candidates_.begin() + pending,
            [](const AlongBisector& a, const AlongBisector& c) { return a.t < c.t || (a.t == c.t && a.k < c.k); });
        for (int32_t q = 0; q < pending; ++q) {
            const AlongBisector& candidate = candidates_[static_cast<size_t>(q)];
            ZFIT_TRY(evaluate(along(b, candidate.t), Location{i, j, candidate.k, 0}, q == 0));
        }
        return zfit_ok;
    }

    // Ranks the points by distance from the candidate centre (repairing the
    // last ranking where it can) and scores its windows.
    zfit_status evaluate(const zmath_vect& centre, const Location& at, bool firstOfPair)
    {
        const double cx = centre.x, cy = centre.y;
        const size_t count = static_cast<size_t>(n_);
        const auto keyOf = [&](int32_t k) {
            return zsvc::distanceKey(xs_[static_cast<size_t>(k)], ys_[static_cast<size_t>(k)], cx, cy);
        };
        const auto hits = [&](double low, double high, zsvc::BoundHits& found) {
            zsvc::keyHits(keys_.data(), count, low, high, found);
        };
        const auto fillAll = [&] { zsvc::fillDistanceKeys(xs_.data(), ys_.data(), count, cx, cy, keys_.data()); };
        // Two points' squared distances move against each other by at most
        // twice the diameter times the centre's step; a key carries rounding
        // of a few units of the largest key.
        const double reach = distance(centre, origin_) + diameter_;
        const double keyRounding = kCircleRoundingUlps * std::numeric_limits<double>::epsilon() * reach * reach;
        const double moved = 2.0 * diameter_ * distance(centre, lookedFrom_);
        const double reordered = 2.0 * diameter_ * distance(centre, sortedFrom_);
        zsvc::RankExtremes::Update update{true, true};
        const bool keepsMembers = ranked_ && moved + keyRounding < std::min(gapFirst_, gapLast_);
        if (ranked_) gapMeasuring_.followed(keepsMembers);
        if (keepsMembers && reordered + keyRounding < innerGap_) {
            update = {false, false};
        } else if (keepsMembers) {
            update = ranking_.refresh(keys_.data(), keyOf);
            sortedFrom_ = centre;
            innerGap_ = update.innerGap;
        } else {
            if (!ranked_) {
                fillAll();
                update = ranking_.reset(keys_.data());
                ranked_ = true;
            } else {
                const bool measure = gapMeasuring_.wanted();
                update = ranking_.update(
                    keys_.data(), fillAll, hits,
                    [&](int32_t index, bool joined) { middle_.add(dx(index), dy(index), joined ? 1.0 : -1.0); },
                    measure);
                gapMeasuring_.looked(measure);
            }
            lookedFrom_ = sortedFrom_ = centre;
            gapFirst_ = update.gapFirst;
            gapLast_ = update.gapLast;
            innerGap_ = update.innerGap;
        }
        // The middle's sums follow the ranking by single points; summed
        // afresh for every pair, they never carry more than one pair's
        // rounding.
        if (update.fresh || firstOfPair) sumMiddle();
        return scoreWindows(centre, at, update.changed);
    }

    // Plain Euclidean distance: the arguments are finite centres and points
    // whose differences cannot overflow the square.
    static double distance(const zmath_vect& a, const zmath_vect& b)
    {
        const zmath_vect d = zsvc::subtract(a, b);
        return std::sqrt(zsvc::dot(d, d));
    }

    double dx(int32_t k) const { return xs_[static_cast<size_t>(k)] - origin_.x; }
    double dy(int32_t k) const { return ys_[static_cast<size_t>(k)] - origin_.y; }

    void sumMiddle()
    {
        middle_ = {};
        for (int32_t k = 0; k < n_; ++k)
            if (ranking_.inMiddle(k)) middle_.add(dx(k), dy(k));
    }

    // Window s keeps ranks s .. s + L - 1 and leaves out first[0..s) and
    // last(s..m].
    zfit_status scoreWindows(const zmath_vect& centre, const Location& candidate, bool changed)
    {
        const std::span<const int32_t> first = ranking_.first(), last = ranking_.last();
        if (!changed) {
            // The windows of the last candidate: the best one may have been
            // met here earlier in loop order.
            const Location at{candidate.i, candidate.j, candidate.k, bestSlot_};
            if (bestSlot_ >= 0 && at < best_at_) ZFIT_TRY(relocate(at, first, last));
            return zfit_ok;
        }
        const size_t extremes = static_cast<size_t>(m_) + 1;
        firstHashes_[0] = {};
        for (size_t r = 0; r < extremes; ++r)
            firstHashes_[r + 1] = firstHashes_[r] + hashes_[static_cast<size_t>(first[r])];
        lastHashes_[extremes] = {};
        for (size_t r = extremes; r-- > 0;) lastHashes_[r] = lastHashes_[r + 1] + hashes_[static_cast<size_t>(last[r])];

        bool sumsReady = false;
        bestSlot_ = -1;
        for (int32_t s = 0; s <= m_; ++s) {
            const size_t slot = static_cast<size_t>(s);
            const Location at{candidate.i, candidate.j, candidate.k, s};
            const zsvc::SetHash h = firstHashes_[slot] + lastHashes_[slot + 1];
            if (h == bestHash_) {
                bestSlot_ = s;
                if (at < best_at_) ZFIT_TRY(relocate(at, first, last));
            }
            if (h == windowHashes_[slot]) continue;  // the same window as at the last candidate
            if (seen_.contains(h)) {
                windowHashes_[slot] = h;
                continue;
            }
            if (!sumsReady) {
                boundarySums(first, last);
                sumsReady = true;
            }
            const Moments sums = windowSums(s);
            // The window's spread about the candidate centre judges whether
            // it has a circle, as it would with its sums taken about it.
            const double ox = centre.x - origin_.x, oy = centre.y - origin_.y;
            const double spread =
                sums.sxx + sums.syy - 2.0 * (ox * sums.sx + oy * sums.sy) + sums.w * (ox * ox + oy * oy);
            zfit_circle local;
            // A window without a circle here may have one from another
            // centre: it is neither recorded nor remembered.
            if (!window_.solve(sums, origin_, spread, &local)) continue;
            seen_.insert(h);
            windowHashes_[slot] = h;
            // The farthest window point lies at rank s + L - 1, last[s].
            const double farthest = std::sqrt(keys_[static_cast<size_t>(last[slot])]) * (1.0 + kCircleReachMargin) +
                                    zsvc::length(zsvc::subtract(centre, local.centre)) * (1.0 + kCircleReachMargin);
            if (errorBound(sums, origin_, local, farthest) >= *rmsError_) continue;
            const double rms = windowRms(local, first, last, s);
            if (!beatenBy(rms, at)) continue;
            *rmsError_ = rms;
            best_ = local;
            best_at_ = at;
            bestHash_ = h;
            bestSlot_ = s;
            ZFIT_TRY(recordIgnored(s, first, last));
        }
        return zfit_ok;
    }

    // A strictly smaller error (or NaN on either side, as a plain comparison
    // loop would have it), or the same error found earlier in loop order.
    bool beatenBy(double rms, const Location& at) const
    {
        if (!(rms >= *rmsError_)) return true;
        return rms == *rmsError_ && at < best_at_ && best_at_.i != INT32_MAX;
    }

    zfit_status relocate(const Location& at, std::span<const int32_t> first, std::span<const int32_t> last)
    {
        best_at_ = at;
        return recordIgnored(at.s, first, last);
    }

    // firstSums_[s] = ranks s..m, lastSums_[s] = ranks L-1 .. L-1+s.
    void boundarySums(std::span<const int32_t> first, std::span<const int32_t> last)
    {
        const size_t extremes = static_cast<size_t>(m_) + 1;
        firstSums_[extremes] = {};
        for (size_t r = extremes; r-- > 0;) {
            Moments sums = firstSums_[r + 1];
            sums.add(dx(first[r]), dy(first[r]));
            firstSums_[r] = sums;
        }
        Moments sums{};
        for (size_t r = 0; r < extremes; ++r) {
            sums.add(dx(last[r]), dy(last[r]));
            lastSums_[r] = sums;
        }
    }

    Moments windowSums(int32_t s) const
    {
        if (!ranking_.overlapping())
            return middle_ + firstSums_[static_cast<size_t>(s)] + lastSums_[static_cast<size_t>(s)];
        // More than half the points discarded: every rank is an extreme one
        // and the window is summed rank by rank.
        Moments sums{};
        for (int32_t r = s; r < s + L_; ++r) {
            const int32_t k = ranking_.atRank(static_cast<size_t>(r));
            sums.add(dx(k), dy(k));
        }
        return sums;
    }

    // The window's RMS radial residual, measured from its points.
    double windowRms(const zfit_circle& circle, std::span<const int32_t> first, std::span<const int32_t> last,
                     int32_t s)
    {
        const auto mark = [&](uint64_t value) {
            for (int32_t r = 0; r < s; ++r) excluded_[static_cast<size_t>(first[static_cast<size_t>(r)])] = value;
            for (int32_t r = s + 1; r <= m_; ++r) excluded_[static_cast<size_t>(last[static_cast<size_t>(r)])] = value;
        };
        mark(~uint64_t{0});
        const double sum = zfit_circleRadialSquares_(xs_.data(), ys_.data(), excluded_.data(), xs_.size(), circle);
        mark(0);
        return std::sqrt(sum / static_cast<double>(L_));
    }

    // The s nearest points, nearest first, then the m - s farthest, nearest
    // first. The vector's storage was grown in prepare().
    zfit_status recordIgnored(int32_t s, std::span<const int32_t> first, std::span<const int32_t> last)
    {
        return zsvc::writeLeftOut(ignoredIndices_, m_, s, first, last);
    }

    // The best window's points, in input order.
    std::span<const zmath_vect> keptPoints()
    {
        const int32_t* ignored = ignoredIndices_->begin;
        for (int32_t r = 0; r < m_; ++r) excluded_[static_cast<size_t>(ignored[r])] = 1;
        size_t kept = 0;
        for (size_t q = 0; q < p_.size(); ++q)
            if (!excluded_[q]) kept_[kept++] = p_[q];
        for (int32_t r = 0; r < m_; ++r) excluded_[static_cast<size_t>(ignored[r])] = 0;
        return {kept_.data(), kept};
    }

    Window window_;
    std::span<const zmath_vect> p_;
    int32_t n_, m_, L_;
    double* rmsError_;
    zstd_vector32* ignoredIndices_;

    zsvc::Arena arena_;
    std::span<double> xs_, ys_, keys_;
    std::span<uint64_t> excluded_;
    std::span<AlongBisector> candidates_;
    std::span<zsvc::SetHash> hashes_, windowHashes_, firstHashes_, lastHashes_;
    std::span<Moments> firstSums_, lastSums_;
    std::span<zmath_vect> kept_;
    zsvc::SeenSets seen_{{}, {}};
    zsvc::RankExtremes ranking_{{}, {}, {}, {}, {}, {}, {}, {}, {}};

    zmath_vect origin_{};
    double diameter_ = 0.0;
    Moments middle_{};
    zmath_vect lookedFrom_{}, sortedFrom_{};
    double gapFirst_ = 0.0, gapLast_ = 0.0, innerGap_ = 0.0;
    zsvc::GapMeasuring gapMeasuring_;
    bool ranked_ = false;  // the ranking holds the extremes of the last candidate

    zfit_circle best_{};
    Location best_at_{};
    zsvc::SetHash bestHash_{};
    int32_t bestSlot_ = -1;
};

template <class Window>
zfit_status searchCircle(const zstd_vector_zmath_vect* points, Window window, bool fitsAtAll, int32_t numIgnore,
                         zfit_circle* circle, double* rmsError, zstd_vector32* ignoredIndices)
{
    *rmsError = HUGE_VAL;
    const std::span<const zmath_vect> all = zsvc::view(points);
    const int32_t n = zsvc::size32(all);
    // No window to fit: numIgnore takes all points, or more than there are.
    ZFIT_FAIL_IF(n - numIgnore <= 0, zmath_errDegenerate);
    // Refused before any ranking: a NaN distance would leave it without an
    // order.
    ZFIT_FAIL_IF(!fitsAtAll || !zsvc::allFinite(all), zmath_errDegenerate);

    Search<Window> search(window, all, numIgnore, rmsError, ignoredIndices);
    if (numIgnore == 0) return search.fitAll(circle);
    ZFIT_TRY(search.prepare());
    ZFIT_TRY(search.searchCandidates());
    return search.finish(circle);
}

}  // namespace

zfit_status zmath_circleFitFreeRadius_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zfit_circle* circle,
                                       double* rmsError, zstd_vector32* ignoredIndices)
{
    return searchCircle(points, FreeRadiusWindow{}, true, numIgnore, circle, rmsError, ignoredIndices);
}

zfit_status zmath_circleFitFixedRadius_(const zstd_vector_zmath_vect* points, double fixedRadius, int32_t numIgnore,
                                        zfit_circle* circle, double* rmsError, zstd_vector32* ignoredIndices)
{
    // No circle has a NaN or infinite radius.
    return searchCircle(points, FixedRadiusWindow{fixedRadius}, std::isfinite(fixedRadius), numIgnore, circle, rmsError,
                        ignoredIndices);
}
