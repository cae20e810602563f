// What the circle searches know of a cell of candidate centres before they
// rank its candidates: the points that can reach the extremes anywhere in
// it, and a verdict on what its windows can add to the search. Internal to
// the circle family (and its tests); not exported.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <utility>

#include <zfit/circle/circle_internal.hpp>
#include <zfit/circle/ordered_points.hpp>
#include <zfit/services/rank_keys.hpp>
#include <zfit/services/window_search.hpp>

namespace zfit::circle {

// What the candidates of a cell can add to the search.
enum class CellVerdict {
    open,         // they have to be ranked one by one
    noneCanWin,   // no window of theirs can tie or beat the best so far
    sameWindows,  // every window that can is the same set at all of them
};

// A cell is the set of centres within `halfDiagonal` of `centre`. Window s
// keeps ranks s .. s + n - m - 1 of the points by distance from a centre;
// every point of a cell's `kept` moments is kept by every window of the
// cell, and the others (the cell's reaching points) may be left out.
class CellBounds {
public:
    struct Storage {
        std::span<double> values;                 // 2 n at least
        std::span<OrderedPoints::Ranked> sorted;  // n
    };

    CellBounds(const zsvc::SearchPoints& points, const Storage& storage)
        : points_(points), storage_(storage), extremes_(static_cast<size_t>(points.m) + 1),
          bounding_(2 * extremes_ <= static_cast<size_t>(points.n) && points.largest < kBoundedCoordinates),
          boundScale_(points.largest + points.diameter)
    {}

    // Writes to `out` the points of `lines` that can be among the m + 1
    // nearest or farthest from a centre within `halfDiagonal` of `centre`;
    // returns their number. The others, kept by every window there, join
    // `kept`. By the triangle inequality a point at distance d from the
    // cell's centre is between d - h and d + h from each of its centres, so
    // only a point within 2h of the (m + 1)-th nearest (or farthest)
    // distance from the centre can be among the extremes anywhere in it.
    size_t narrow(std::span<const int32_t> lines, const zmath_vect& centre, double halfDiagonal, std::span<int32_t> out,
                  zfit_circleKeptMoments& kept) const
    {
        const size_t count = lines.size();
        if (2 * extremes_ > static_cast<size_t>(points_.n)) {  // the extremes hold every point
            std::copy(lines.begin(), lines.end(), out.begin());
            return count;
        }
        const std::span<double> distances = storage_.values.first(count),
                                scratch = storage_.values.subspan(count, count);
        const double* xs = points_.xs.data();
        const double* ys = points_.ys.data();
        for (size_t q = 0; q < count; ++q)
            distances[q] = zsvc::distanceKey(xs[index(lines[q])], ys[index(lines[q])], centre.x, centre.y);
        const auto [nearKey, farKey] = kthFromEnds(distances, extremes_, scratch);
        const double nearest = std::sqrt(nearKey), farthest = std::sqrt(farKey);
        const double rounding = keyRounding(centre, halfDiagonal);
        const double nearBound = (nearest + 2.0 * halfDiagonal) * (nearest + 2.0 * halfDiagonal) + rounding;
        const double farReach = std::max(0.0, farthest - 2.0 * halfDiagonal);
        const double farBound = farReach * farReach - rounding;
        size_t reaching = 0;
        for (size_t q = 0; q < count; ++q) {
            if (distances[q] <= nearBound || distances[q] >= farBound) {
                out[reaching++] = lines[q];
            } else {
                const size_t k = index(lines[q]);
                kept.add(xs[k] - points_.origin.x, ys[k] - points_.origin.y);
            }
        }
        return reaching;
    }

    // Whether a cell with this many reaching points and these kept ones can
    // be judged at all against the best error so far: there is a best, the
    // kept points can bound a circle, the reaching ones hold both extremes,
    // and the coordinates are small enough for the bounds.
    bool canJudge(size_t reaching, const zfit_circleKeptMoments& kept, double best) const
    {
        return bounding_ && best < HUGE_VAL && reaching >= 2 * extremes_ && kept.count() >= 3;
    }

    // The verdict on the cell of `centre` with half-diagonal h, whose
    // windows all keep the points `kept` and can leave out only points of
    // `reaching`, against the best error so far.
    //
    // Window s keeps ranks s .. s + n - m - 1. Its nearest point, at rank s,
    // has fewer than m points before it when s < m; its farthest, at rank
    // n - m - 1 + s, fewer than m after it when s > 0. A point that has at
    // least m points before it (after it) wherever the centre lies in the
    // cell can be neither, so every window s < m (s > 0) keeps `kept` and
    // one of the few other points. A window whose every circle errs more
    // than the best so far (zfit_circleKeptMoments) can neither beat it nor
    // tie with it. And where the s nearest and the m - s farthest are the
    // same points across the cell, window s is the same set at every
    // candidate: the first of them in loop order is the one that matters.
    CellVerdict judge(std::span<const int32_t> reaching, const zmath_vect& centre, double h,
                      const zfit_circleKeptMoments& kept, double best) const
    {
        if (!canJudge(reaching.size(), kept, best)) return CellVerdict::open;
        const size_t count = reaching.size(), m = extremes_ - 1;
        // The best error widened by far more than its rounding: windows that
        // err less than this are looked at.
        const double allowed = best * (1.0 + kCircleBoundMargin) + kCircleBoundMargin * 1e-6 * boundScale_;
        const double eta = kept.threshold(static_cast<double>(points_.n - points_.m), allowed);
        if (!(eta > 0.0)) return CellVerdict::open;
        if (kept.allAbove(eta, false, 0.0, 0.0)) return CellVerdict::noneCanWin;

        // The reaching points by distance from the cell's centre.
        const std::span<OrderedPoints::Ranked> sorted = storage_.sorted.first(count);
        const double* xs = points_.xs.data();
        const double* ys = points_.ys.data();
        for (size_t q = 0; q < count; ++q) {
            const size_t k = index(reaching[q]);
            sorted[q] = {zsvc::distanceKey(xs[k], ys[k], centre.x, centre.y), reaching[q]};
        }
        std::sort(sorted.begin(), sorted.end(), [](const OrderedPoints::Ranked& a, const OrderedPoints::Ranked& b) {
            return zsvc::rankBefore(a.key, a.id, b.key, b.id);
        });
        // a stays before b wherever the centre lies in the cell: each
        // distance moves by at most h, and a key carries the rounding of the
        // squared reach.
        const double rounding = keyRounding(centre, h);
        const auto above = [&](size_t q) { return std::sqrt(sorted[q].key + rounding); };
        const auto below = [&](size_t q) { return std::sqrt(std::max(0.0, sorted[q].key - rounding)); };
        const auto staysBefore = [&](size_t a, size_t b) { return above(a) + 2.0 * h < below(b); };
        // Ranks among the reaching points are ranks among all points at the
        // extremes. Window s is the same set across the cell when ranks s - 1
        // and s (s > 0) and ranks n - m - 1 + s and n - m + s (s < m) never
        // change places.
        const auto same = [&](size_t s) {
            return (s == 0 || staysBefore(s - 1, s)) &&
                   (s == m || staysBefore(count - extremes_ + s, count - extremes_ + s + 1));
        };
        // The points that can be at a rank below m: those with fewer than m
        // points staying before them (a prefix of the order), and those that
        // can be at a rank above n - m - 1 (a suffix).
        size_t nearEnd = 0;
        for (size_t before = 0; nearEnd < count; ++nearEnd) {
            while (before < nearEnd && staysBefore(before, nearEnd)) ++before;
            if (before >= m) break;
        }
        size_t farBegin = count;
        for (size_t after = count; farBegin > 0; --farBegin) {
            while (after > farBegin && staysBefore(farBegin - 1, after - 1)) --after;
            if (count - after >= m) break;
        }
        const auto allFail = [&](size_t from, size_t to) {
            for (size_t q = from; q < to; ++q) {
                const size_t k = index(sorted[q].id);
                if (!kept.allAbove(eta, true, xs[k] - points_.origin.x, ys[k] - points_.origin.y)) return false;
            }
            return true;
        };
        int nearFails = -1, farFails = -1;  // unknown yet
        bool anySame = false;
        for (size_t s = 0; s <= m; ++s) {
            if (s > 0 && farFails < 0) farFails = allFail(farBegin, count);
            if (s > 0 && farFails) continue;
            if (s < m && nearFails < 0) nearFails = allFail(0, nearEnd);
            if (s < m && nearFails) continue;
            if (!same(s)) return CellVerdict::open;
            anySame = true;
        }
        return anySame ? CellVerdict::sameWindows : CellVerdict::noneCanWin;
    }

private:
    // Beyond this magnitude of the coordinates no bound is trusted: the
    // fourth powers of the offsets would overflow.
    static constexpr double kBoundedCoordinates = 1e50;

    static size_t index(int32_t k) { return static_cast<size_t>(k); }

    // The rounding a squared distance from a centre within h of `centre`
    // carries: a few units of the squared reach.
    double keyRounding(const zmath_vect& centre, double h) const
    {
        const double reach = zsvc::length(zsvc::subtract(centre, points_.origin)) + points_.diameter + h;
        return zsvc::kKeyRoundingUlps * std::numeric_limits<double>::epsilon() * reach * reach;
    }

    // The k-th smallest and the k-th largest of `values` (2 k of them at
    // least), from two heaps of k values each in `heaps`: most values pass
    // both heaps after one comparison each.
    static std::pair<double, double> kthFromEnds(std::span<const double> values, size_t k, std::span<double> heaps)
    {
        const std::span<double> low = heaps.first(k), high = heaps.subspan(k, k);
        std::copy(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), low.begin());
        std::copy(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), high.begin());
        std::make_heap(low.begin(), low.end());
        std::make_heap(high.begin(), high.end(), std::greater<>());
        for (size_t q = k; q < values.size(); ++q) {
            const double v = values[q];
            if (v < low[0]) {
                std::pop_heap(low.begin(), low.end());
                low[k - 1] = v;
                std::push_heap(low.begin(), low.end());
            }
            if (v > high[0]) {
                std::pop_heap(high.begin(), high.end(), std::greater<>());
                high[k - 1] = v;
                std::push_heap(high.begin(), high.end(), std::greater<>());
            }
        }
        return {low[0], high[0]};
    }

    const zsvc::SearchPoints& points_;
    Storage storage_;
    size_t extremes_;
    bool bounding_;      // cells may be judged by bounds on their windows' errors
    double boundScale_;  // the size of the coordinates
};

}  // namespace zfit::circle
