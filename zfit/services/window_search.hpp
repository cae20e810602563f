// The engine of the outlier searches: candidates, a ranking of all points
// for each, and windows of n - m consecutive ranks slid over the ranking.
//
// A search proposes candidates (a direction from every pair of points, a
// centre from every triple), ranks all points by a key for each (the offset
// across the direction, the distance from the centre) and scores every
// window of n - m consecutive ranks: window s keeps ranks s .. s + n - m - 1
// and discards the s ranks before it and the m - s after it. The window with
// the smallest score wins; among equal scores the first in the order of the
// plain loops (the candidate's loop indices, then s). A search is written as
// two parts around the sweep of this header:
//   - a candidate generator visits the candidates in an order of its
//     choosing, keeps the m + 1 first and m + 1 last ranks of each
//     (zsvc::RankExtremes, repaired from one candidate to the next), polls
//     the attention check and offers each candidate to the sweep;
//   - a window policy scores one window, from the moment sums of its points
//     or from the ranking, and writes the result once the search is over.
// The sweep between them, written once:
//   - a window is fixed by the points it discards; where its score depends
//     on that set alone, a set already scored is not scored again
//     (zsvc::SeenSets over order-free set hashes), and only the windows that
//     differ from the last candidate's are looked at;
//   - the best window met again earlier in loop order takes that place, as
//     the plain loop would have found it there first;
//   - a window's moment sums are those of the middle ranks (every rank
//     outside the extremes, kept up to date as points join or leave the
//     middle) plus its own points among the extremes, so a far outlier is
//     never added to a window's sums and taken away again; the middle's
//     sums are compensated, so a far point passing through them leaves no
//     trace in their digits.
//
// A window policy provides:
//   static constexpr size_t kTerms          moment sums of a window (0: none)
//   static constexpr bool kScoreOfSet       the score depends on the
//                                           discarded set alone
//   std::array<double, kTerms> terms(double dx, double dy) const
//                                           one point's terms, about the
//                                           search's origin
//   Verdict score(const Window<Payload, kTerms>& window)
//                                           the window's score
//   void keep(const Window<Payload, kTerms>& window)
//                                           the window just scored is the
//                                           best so far
// and the candidate generator calls sweep.moved() for every point that
// joins or leaves the middle ranks (unless its ranking is fresh) and
// sweep.offer() for every candidate.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <compare>
#include <cstdint>
#include <span>
#include <utility>

#include <zfit/frame/status.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/math.hpp>
#include <zfit/services/ranking.hpp>
#include <zfit/services/seen_sets.hpp>

namespace zsvc {

// Where a window was found, in the order the plain loops visit windows: the
// candidate's loop indices (i, j, and k for a triple), then the window's s.
struct Location {
    int32_t i = INT32_MAX, j = INT32_MAX, k = INT32_MAX, s = INT32_MAX;
    friend auto operator<=>(const Location&, const Location&) = default;
};

// The points of a search as the sweep and its parts share them.
struct SearchPoints {
    std::span<const zmath_vect> p;
    int32_t n = 0, m = 0;
    std::span<const double> xs, ys;  // the coordinates as separate arrays
    zmath_vect origin{};             // the coordinate-wise median: moment sums are taken about it
    double diameter = 0.0;           // of the bounding box
    double largest = 0.0;            // the largest coordinate's magnitude
};

// One candidate as its generator offers it. `first` and `last` are ranks
// 0..m and n-m-1..n-1 (point indices, in rank order); `payload` is what the
// policy needs of the candidate (its normal, its centre).
template <class Payload>
struct Candidate {
    Location at;  // with s = 0
    Payload payload;
    std::span<const int32_t> first, last;
    bool fresh;    // ranked afresh: no middle changes were reported
    bool changed;  // the extremes differ from the last candidate's
    // Where they may differ: the positions firstFrom .. firstTo-1 of
    // `first` and lastFrom .. lastTo-1 of `last` (all, unless the generator
    // knows better).
    size_t firstFrom = 0, firstTo = SIZE_MAX, lastFrom = 0, lastTo = SIZE_MAX;
};

// One window as a policy sees it.
template <class Payload, size_t K>
struct Window {
    int32_t s;
    const Candidate<Payload>& candidate;
    const std::array<double, K>& sums;  // of the window's points, about the origin
    double best;                        // the best score so far
};

// A policy's verdict on a window: its score (HUGE_VAL: it cannot win), and
// whether the verdict holds for the set wherever it is met (false: this
// candidate gives it no solution, another may).
struct Verdict {
    double score = HUGE_VAL;
    bool remember = true;
};

// Compensated sums (Neumaier's): each carries the rounding of its additions
// in a second part, so that a term added and later subtracted again leaves
// the sum as it was but for the rounding of that second part.
template <size_t K>
class CompensatedSums {
public:
    void clear()
    {
        high_ = {};
        low_ = {};
    }
    void add(const std::array<double, K>& terms, double sign)
    {
        for (size_t q = 0; q < K; ++q) {
            const double term = sign * terms[q], sum = high_[q] + term, back = sum - high_[q];
            low_[q] += (high_[q] - (sum - back)) + (term - back);
            high_[q] = sum;
        }
    }
    std::array<double, K> value() const
    {
        std::array<double, K> v;
        for (size_t q = 0; q < K; ++q) v[q] = high_[q] + low_[q];
        return v;
    }

private:
    std::array<double, K> high_{}, low_{};
};

template <size_t K>
std::array<double, K> operator+(const std::array<double, K>& a, const std::array<double, K>& b)
{
    std::array<double, K> sum;
    for (size_t q = 0; q < K; ++q) sum[q] = a[q] + b[q];
    return sum;
}

// The sweep of one search: the windows of every candidate offered, the best
// window so far, and the caller's score and discarded indices, which hold
// the best window's throughout.
template <class Policy>
class WindowSweep {
public:
    static constexpr size_t K = Policy::kTerms;
    using Sums = std::array<double, K>;

    WindowSweep(const SearchPoints& points, Policy& policy, double* score, zstd_vector32* ignoredIndices)
        : points_(points), policy_(policy), score_(score), ignoredIndices_(ignoredIndices)
    {}

    // The sweep's storage in the search's arena.
    void reserve(Arena& arena)
    {
        const int64_t n = points_.n, extremes = int64_t{points_.m} + 1;
        arena.reserve(hashes_, n);
        arena.reserve(windowHashes_, extremes);
        arena.reserve(firstHashes_, extremes + 1);
        arena.reserve(lastHashes_, extremes + 1);
        arena.reserve(firstSums_, extremes + 1);
        arena.reserve(lastSums_, extremes + 1);
        arena.reserve(seenSlots_, seenCapacity(points_.n, points_.m));
        arena.reserve(recentSlots_, Policy::kScoreOfSet ? kRecentWindows : 1);
        arena.reserve(marks_, n);
        arena.reserve(pending_, extremes);
    }

    // Once the storage is made (and the points' arrays filled).
    void begin()
    {
        seen_ = SeenSets(seenSlots_, recentSlots_);
        std::fill(windowHashes_.begin(), windowHashes_.end(), SetHash{});
        std::fill(firstHashes_.begin(), firstHashes_.end(), SetHash{});
        std::fill(marks_.begin(), marks_.end(), uint64_t{0});
        for (int32_t k = 0; k < points_.n; ++k) {
            hashes_[static_cast<size_t>(k)] = indexHash(k);
            if constexpr (K > 0) total_.add(termsOf(k), 1.0);
        }
    }

    // A point joined (or left) the middle ranks.
    void moved(int32_t index, bool joined)
    {
        if constexpr (K > 0) {
            const Sums terms = termsOf(index);
            const double sign = joined ? 1.0 : -1.0;
            double largest = 0.0;
            for (size_t q = 0; q < K; ++q) {
                middle_[q] += sign * terms[q];
                largest = std::max(largest, std::fabs(terms[q]));
            }
            passed_ += largest;
        }
    }

    // Scores the windows of one candidate that may change the best.
    template <class Payload>
    zfit_status offer(const Candidate<Payload>& c)
    {
        if constexpr (Policy::kScoreOfSet)
            return scoreChanged(c);
        else
            return scoreEvery(c);
    }

    // Whether a window was found: a score below HUGE_VAL (or NaN).
    bool found() const { return *score_ < HUGE_VAL || *score_ > HUGE_VAL; }

    // The best window's points, in input order, into `out` (room for n - m).
    std::span<const zmath_vect> keptPoints(std::span<zmath_vect> out)
    {
        const int32_t* ignored = ignoredIndices_->begin;
        for (int32_t r = 0; r < points_.m; ++r) marks_[index(ignored[r])] = 1;
        size_t kept = 0;
        for (size_t k = 0; k < points_.p.size(); ++k)
            if (!marks_[k]) out[kept++] = points_.p[k];
        for (int32_t r = 0; r < points_.m; ++r) marks_[index(ignored[r])] = 0;
        return out.first(kept);
    }

    // The caller's score: the best window's, until the policy's finish
    // writes the final one.
    double* score() const { return score_; }

    // Whether some windows of the last candidate had no solution from its
    // centre (they are tried again at the next candidate offered).
    bool pending() const { return pendingCount_ > 0; }

    // The caller's indices: the best window's discarded points, in rank
    // order.
    zstd_vector32* ignoredIndices() const { return ignoredIndices_; }

private:
    // The windows met most recently, answered from the nearest cache (16
    // bytes each).
    static constexpr int64_t kRecentWindows = 1024;
    // The middle's sums are formed afresh when the terms that passed through
    // them since they were formed add up to this many times their own
    // magnitude: their rounding is then a few parts in 10^11 of it.
    static constexpr double kPassedLimit = 65536.0;

    // Room for the windows of a few thousand candidates before the set of
    // seen windows starts over.
    static int64_t seenCapacity(int32_t n, int32_t m)
    {
        if (!Policy::kScoreOfSet) return 1;  // every window is scored
        int64_t capacity = 1024;
        while (capacity < 8 * (int64_t{m} + 1) * n && capacity < (int64_t{1} << 17)) capacity *= 2;
        return capacity;
    }

    static size_t index(int32_t k) { return static_cast<size_t>(k); }

    Sums termsOf(int32_t k) const
    {
        return policy_.terms(points_.xs[index(k)] - points_.origin.x, points_.ys[index(k)] - points_.origin.y);
    }

    bool taken() const { return best_.i != INT32_MAX; }

    // A strictly smaller score (or NaN on either side, as a plain comparison
    // loop would have it), or the same score found earlier in loop order.
    bool beatenBy(double score, const Location& at) const
    {
        if (!(score >= *score_)) return true;
        return score == *score_ && at < best_ && taken();
    }

    zfit_status take(double score, const Location& at, std::span<const int32_t> first, std::span<const int32_t> last)
    {
        *score_ = score;
        return relocate(at, first, last);
    }

    zfit_status relocate(const Location& at, std::span<const int32_t> first, std::span<const int32_t> last)
    {
        best_ = at;
        return writeLeftOut(ignoredIndices_, points_.m, at.s, first, last);
    }

    // The windows of a candidate that differ from the last candidate's and
    // were not scored before, and those of its windows that had no solution
    // from the centres met so far.
    template <class Payload>
    zfit_status scoreChanged(const Candidate<Payload>& c)
    {
        const size_t extremes = c.first.size();
        // Window s discards first[0..s) and last(s..m]: it changes with the
        // prefix of `first` it discards, and with the suffix of `last`.
        size_t frontFrom = 1, frontTo = 0, backFrom = 1, backTo = 0;  // the windows that changed
        if (c.fresh || c.changed) {
            const size_t firstFrom = c.fresh ? 0 : c.firstFrom,
                         firstTo = c.fresh ? extremes : std::min(c.firstTo, extremes);
            const size_t lastFrom = c.fresh ? 0 : c.lastFrom,
                         lastTo = c.fresh ? extremes : std::min(c.lastTo, extremes);
            if constexpr (K > 0)
                if (c.fresh) sumMiddle(c.first, c.last);
            if (c.fresh) bestSlot_ = -1;
            // Prefix hashes of the two lists, from the first position that
            // changed.
            for (size_t r = firstFrom; r < extremes; ++r)
                firstHashes_[r + 1] = firstHashes_[r] + hashes_[index(c.first[r])];
            lastHashes_[extremes] = {};
            for (size_t r = lastTo; r-- > 0;) lastHashes_[r] = lastHashes_[r + 1] + hashes_[index(c.last[r])];
            frontFrom = firstFrom + 1;
            frontTo = firstTo;
            backFrom = lastFrom;
            backTo = lastTo > 0 ? lastTo - 1 : 0;
            sumsReady_ = false;
        }
        const auto changedWindow = [&](size_t s) {
            return (s >= frontFrom && s < frontTo) || (s >= backFrom && s < backTo);
        };
        // Windows without a solution so far, the same as before: tried again
        // from this centre.
        size_t stillPending = 0;
        const size_t pending = std::exchange(pendingCount_, 0);
        for (size_t q = 0; q < pending; ++q)
            if (!changedWindow(index(pending_[q]))) pending_[stillPending++] = pending_[q];
        for (size_t q = 0; q < stillPending; ++q) ZFIT_TRY(scoreWindow(c, pending_[q]));
        for (size_t s = std::min(frontFrom, backFrom); s < std::max(frontTo, backTo) && s < extremes; ++s) {
            if (!changedWindow(s)) continue;
            const SetHash h = firstHashes_[s] + lastHashes_[s + 1];
            if (taken() && h == bestHash_)
                bestSlot_ = static_cast<int32_t>(s);
            else if (bestSlot_ == static_cast<int32_t>(s))
                bestSlot_ = -1;
            if (h == windowHashes_[s]) continue;  // the same window as at the last candidate
            if (seen_.contains(h)) {
                windowHashes_[s] = h;
                continue;
            }
            ZFIT_TRY(scoreWindow(c, static_cast<int32_t>(s)));
        }
        // The best window met again earlier in loop order: a plain loop
        // would have found it here first.
        const Location at{c.at.i, c.at.j, c.at.k, bestSlot_};
        if (bestSlot_ >= 0 && at < best_) ZFIT_TRY(relocate(at, c.first, c.last));
        return zfit_ok;
    }

    // Scores window s of the candidate; one without a solution from this
    // candidate's centre is tried again at the next candidate with the same
    // windows.
    template <class Payload>
    zfit_status scoreWindow(const Candidate<Payload>& c, int32_t s)
    {
        const size_t slot = static_cast<size_t>(s);
        if (!sumsReady_) {
            boundarySums(c.first, c.last);
            sumsReady_ = true;
        }
        const Window<Payload, K> window{s, c, windowSums(c, s), *score_};
        const Verdict verdict = policy_.score(window);
        if (!verdict.remember) {
            pending_[pendingCount_++] = s;
            return zfit_ok;
        }
        const SetHash h = firstHashes_[slot] + lastHashes_[slot + 1];
        seen_.insert(h);
        windowHashes_[slot] = h;
        const Location at{c.at.i, c.at.j, c.at.k, s};
        if (verdict.score == HUGE_VAL || !beatenBy(verdict.score, at)) return zfit_ok;
        policy_.keep(window);
        ZFIT_TRY(take(verdict.score, at, c.first, c.last));
        bestHash_ = h;
        bestSlot_ = s;
        return zfit_ok;
    }

    // The minimum zone's windows: scored at every candidate, since their
    // scores depend on the candidate's direction.
    template <class Payload>
    zfit_status scoreEvery(const Candidate<Payload>& c)
    {
        const Sums none{};
        for (int32_t s = 0; s <= points_.m; ++s) {
            const Window<Payload, K> window{s, c, none, *score_};
            const double score = policy_.score(window).score;
            // Most windows are behind the best: told apart before anything else.
            if (score > *score_) continue;
            const Location at{c.at.i, c.at.j, c.at.k, s};
            if (score == HUGE_VAL || !beatenBy(score, at)) continue;
            policy_.keep(window);
            const Verdict verdict{score};
            ZFIT_TRY(take(verdict.score, at, c.first, c.last));
        }
        return zfit_ok;
    }

    // The middle's sums for a ranking found afresh: all points less the
    // extremes, the subtraction in compensated sums.
    void sumMiddle(std::span<const int32_t> first, std::span<const int32_t> last)
    {
        CompensatedSums<K> middle = total_;
        if (!overlapping(first)) {
            for (const int32_t k : first) middle.add(termsOf(k), -1.0);
            for (const int32_t k : last) middle.add(termsOf(k), -1.0);
        }
        middle_ = middle.value();
        passed_ = 0.0;
    }

    // Whether the terms that passed through the middle's sums since they
    // were formed are so large against them that their rounding may have
    // taken digits the sums need.
    bool middleWornOut() const
    {
        double largest = 0.0;
        for (const double sum : middle_) largest = std::max(largest, std::fabs(sum));
        return passed_ > kPassedLimit * largest;
    }

    bool overlapping(std::span<const int32_t> first) const { return 2 * first.size() > index(points_.n); }

    // firstSums_[s] = ranks s..m (the window's points among the first
    // ranks), lastSums_[s] = ranks n-m-1 .. n-m-1+s (those among the last).
    void boundarySums(std::span<const int32_t> first, std::span<const int32_t> last)
    {
        if constexpr (K > 0) {
            const size_t extremes = first.size();
            firstSums_[extremes] = {};
            for (size_t r = extremes; r-- > 0;) firstSums_[r] = firstSums_[r + 1] + termsOf(first[r]);
            Sums sums{};
            for (size_t r = 0; r < extremes; ++r) lastSums_[r] = sums = sums + termsOf(last[r]);
        }
    }

    // The sums of window s: ranks s .. s + n - m - 1.
    template <class Payload>
    Sums windowSums(const Candidate<Payload>& c, int32_t s)
    {
        Sums sums{};
        if constexpr (K > 0) {
            const size_t slot = index(s);
            if (!overlapping(c.first)) {
                if (middleWornOut()) sumMiddle(c.first, c.last);
                return middle_ + firstSums_[slot] + lastSums_[slot];
            }
            // More than half the points discarded: every rank is an extreme
            // one and the window is summed rank by rank.
            const size_t n = index(points_.n), extremes = c.first.size();
            for (size_t r = slot; r < slot + n - index(points_.m); ++r)
                sums = sums + termsOf(r < extremes ? c.first[r] : c.last[r - (n - extremes)]);
        }
        return sums;
    }

    const SearchPoints& points_;
    Policy& policy_;
    double* score_;
    zstd_vector32* ignoredIndices_;
    std::span<SetHash> hashes_, windowHashes_, firstHashes_, lastHashes_, seenSlots_, recentSlots_;
    std::span<Sums> firstSums_, lastSums_;
    SeenSets seen_{{}, {}};
    std::span<uint64_t> marks_;
    std::span<int32_t> pending_;  // the slots of windows without a solution so far
    size_t pendingCount_ = 0;
    bool sumsReady_ = false;  // firstSums_ and lastSums_ hold the present extremes' sums
    CompensatedSums<K> total_;
    // The middle's sums, kept up to date as points join and leave it, and
    // the largest terms of the points that did so since they were formed.
    Sums middle_{};
    double passed_ = 0.0;

    Location best_{};
    SetHash bestHash_{};
    int32_t bestSlot_ = -1;  // where the best window lies among the present candidate's
};

// The storage and the frame every search shares: the refusals before any
// work, the points as arrays, the sweep, and the verdict at the end. The
// caller's score holds HUGE_VAL from the start and the best score
// throughout; the caller's indices keep what they held until a window is
// found, and the room for their final size is made here, so that no
// improvement allocates. generator.reserve(arena, points) and
// policy.reserve(arena, points) plan their storage in the search's one
// allocation, begin(points) prepares it; generator.run(points, sweep)
// offers every candidate, and policy.finish(sweep) writes the caller's
// shape.
template <class Generator, class Policy>
zfit_status searchWindows(const zstd_vector_zmath_vect* vector, int32_t m, double* score, zstd_vector32* ignoredIndices,
                          Generator& generator, Policy& policy)
{
    *score = HUGE_VAL;
    const std::span<const zmath_vect> p = view(vector);
    const int32_t n = size32(p);
    // A window must hold at least one point, and non-finite coordinates have
    // no ranking: both are refused before any storage exists.
    ZFIT_FAIL_IF(n <= m, zmath_errDegenerate);
    ZFIT_FAIL_IF(!allFinite(p), zmath_errDegenerate);

    SearchPoints points;
    points.p = p;
    points.n = n;
    points.m = m;
    WindowSweep<Policy> sweep(points, policy, score, ignoredIndices);
    Arena arena;
    std::span<double> xs, ys, scratch;
    arena.reserve(xs, n);
    arena.reserve(ys, n);
    arena.reserve(scratch, n);
    sweep.reserve(arena);
    generator.reserve(arena, points);
    policy.reserve(arena, points);
    ZFIT_TRY(arena.allocate());
    int32_t previousSize = 0;
    ZFIT_TRY(zstd_vector32_getSize(ignoredIndices, &previousSize));
    if (previousSize < m) {
        ZFIT_TRY(zstd_vector32_resize(ignoredIndices, m));
        ZFIT_TRY(zstd_vector32_resize(ignoredIndices, previousSize));
    }

    zmath_vect low = p[0], high = p[0];
    for (size_t k = 0; k < p.size(); ++k) {
        xs[k] = p[k].x;
        ys[k] = p[k].y;
        points.largest = std::max({points.largest, std::fabs(p[k].x), std::fabs(p[k].y)});
        low = {std::min(low.x, p[k].x), std::min(low.y, p[k].y)};
        high = {std::max(high.x, p[k].x), std::max(high.y, p[k].y)};
    }
    points.xs = xs;
    points.ys = ys;
    points.diameter = length(subtract(high, low));
    // The coordinate-wise median lies inside the bulk of the points whatever
    // the outliers, so that the sums of a good window keep their digits.
    const auto median = [&](std::span<const double> values) {
        std::copy(values.begin(), values.end(), scratch.begin());
        const auto middle = scratch.begin() + n / 2;
        std::nth_element(scratch.begin(), middle, scratch.end());
        return *middle;
    };
    points.origin = {median(xs), median(ys)};

    sweep.begin();
    ZFIT_TRY(generator.begin(points));
    ZFIT_TRY(policy.begin(points));
    ZFIT_TRY(generator.run(points, sweep));
    // No window was scored, or the best score is NaN: nothing to report.
    ZFIT_FAIL_IF(!sweep.found(), zmath_errDegenerate);
    return policy.finish(sweep);
}

}  // namespace zsvc
