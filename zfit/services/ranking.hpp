// Partial rankings for the outlier searches.
//
// A search ranks all n points by a key (the distance from a candidate
// centre, the offset across a candidate direction) and then looks only at
// the first few and the last few ranks: the windows it scores differ only in
// how many points they drop at either end. The rank order is strict and
// total: ascending key, equal keys by ascending index, NaN after every
// number. Because it is total, the first R ranks are one well-defined set in
// one order, and a partial method finds exactly what a full sort would.
//
// RankExtremes keeps the first R and the last R ranks. reset() finds them
// from scratch; update() repairs them for the next candidate: it re-sorts
// the two short lists under the new keys and then looks, in one pass over
// the points, for any point whose key reaches past a list's bound. A search
// that visits its candidates in order of direction or position changes the
// extremes by a point or two from one candidate to the next, so the repair
// costs little more than computing the keys. The points between the
// extremes (the middle ranks, in no particular order) are reported to the
// caller as they leave or join the middle, so that sums over them can be
// kept up to date without another pass.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include <zfit/frame/status.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/rank_keys.hpp>

namespace zsvc {

// The rank order: true when (key a, index a) ranks before (key b, index b).
inline bool rankBefore(double keyA, int32_t indexA, double keyB, int32_t indexB)
{
    if (keyA < keyB) return true;
    if (keyB < keyA) return false;
    if (keyA == keyB) return indexA < indexB;
    // A NaN on one side or both.
    const bool nanA = std::isnan(keyA), nanB = std::isnan(keyB);
    if (nanA != nanB) return nanB;  // the number before the NaN
    return indexA < indexB;
}

// Whether the next full look at all points should also measure the gaps
// (which costs a third of the look): they pay only where they let the
// following candidates skip the look. After a run of measured looks whose
// gaps let nothing skip, they are measured again only now and then.
class GapMeasuring {
public:
    bool wanted() const { return misses_ < 8 || looks_ % 32 == 0; }
    void looked(bool measured)
    {
        ++looks_;
        pending_ = measured;
    }
    // The candidate after a look: skipped thanks to the gaps, or not.
    void followed(bool skipped)
    {
        if (skipped)
            misses_ = 0;
        else if (pending_)
            ++misses_;
        pending_ = false;
    }

private:
    int64_t looks_ = 0;
    int32_t misses_ = 0;
    bool pending_ = false;
};

class RankExtremes {
public:
    // What an update did to the extremes.
    struct Update {
        bool fresh;    // found afresh: the middle is new and was not reported
        bool changed;  // the lists differ from the previous candidate's
        // How far, in keys, the nearest point outside each list lies from
        // the list's bound; 0 when unknown. Until the keys of two points
        // have moved against each other by as much as these, no point can
        // cross a bound, and refresh() is all an update needs.
        double gapFirst = 0.0, gapLast = 0.0;
        // The smallest key difference of two neighbours within a list: until
        // keys have moved against each other by as much, the lists keep
        // their order too, and nothing needs updating at all.
        double innerGap = 0.0;
    };

    // How many outsiders reaching a bound a repair may examine (storage for
    // them).
    static size_t hitCapacity(size_t count) { return 4 * count + 64; }

    // The work storage of a ranking of n points with extremes of R, made
    // once per call by the caller: R indices in each list; one entry per
    // point in `member`, `inFirst`, `inLast`, `order` and `values`;
    // hitCapacity(R) in each list of hits.
    struct Storage {
        std::span<int32_t> first, last;
        std::span<uint8_t> member;
        std::span<uint64_t> inFirst, inLast;
        std::span<int32_t> order;
        std::span<double> values;
        std::span<int32_t> lowHits, highHits;

        // Plans the storage for n points and extremes of R in the arena.
        void reserve(Arena& arena, int64_t n, int64_t count)
        {
            const int64_t hits = static_cast<int64_t>(hitCapacity(static_cast<size_t>(count)));
            arena.reserve(first, count);
            arena.reserve(last, count);
            arena.reserve(member, n);
            arena.reserve(inFirst, n);
            arena.reserve(inLast, n);
            arena.reserve(order, n);
            arena.reserve(values, n);
            arena.reserve(lowHits, hits);
            arena.reserve(highHits, hits);
        }
        // The same storage for a ranking of the first `count` points only.
        Storage forPoints(size_t count) const
        {
            return {first,
                    last,
                    member.first(count),
                    inFirst.first(count),
                    inLast.first(count),
                    order.first(count),
                    values.first(count),
                    lowHits,
                    highHits};
        }
    };

    // When 2R > n the extremes overlap; every update is then a fresh sort and
    // there is no middle.
    explicit RankExtremes(const Storage& storage)
        : first_(storage.first), last_(storage.last), member_(storage.member), inFirst_(storage.inFirst),
          inLast_(storage.inLast), order_(storage.order), values_(storage.values), lowHits_(storage.lowHits),
          highHits_(storage.highHits), overlapping_(2 * storage.first.size() > storage.member.size())
    {
        std::fill(member_.begin(), member_.end(), uint8_t{0});
        std::fill(inFirst_.begin(), inFirst_.end(), uint64_t{0});
        std::fill(inLast_.begin(), inLast_.end(), uint64_t{0});
    }

    // Ranks 0 .. R-1, in rank order.
    std::span<const int32_t> first() const { return first_; }
    // Ranks n-R .. n-1, in rank order (the last of all at the end).
    std::span<const int32_t> last() const { return last_; }

    // True when the extremes overlap (2R > n): every rank is in one of them.
    bool overlapping() const { return overlapping_; }

    // The index at rank r, for r < R or r >= n - R.
    int32_t atRank(size_t r) const
    {
        return r < first_.size() ? first_[r] : last_[r - (member_.size() - last_.size())];
    }

    // True when the point is in neither extreme (one of the middle ranks).
    bool inMiddle(int32_t index) const { return member_[static_cast<size_t>(index)] == 0; }

    // Finds the extremes of keys[0..n) from scratch, with the gaps of the
    // result as update() reports them.
    Update reset(const double* keys)
    {
        select(keys);
        Update result{true, true};
        if (overlapping_) return result;
        const double low = keys[first_.back()], high = keys[last_.front()];
        double aboveLow = HUGE_VAL, belowHigh = -HUGE_VAL;
        for (size_t k = 0; k < member_.size(); ++k) {
            if (member_[k] != kFirst && keys[k] < aboveLow) aboveLow = keys[k];
            if (member_[k] != kLast && keys[k] > belowHigh) belowHigh = keys[k];
        }
        if (aboveLow > low) result.gapFirst = aboveLow - low;
        if (belowHigh < high) result.gapLast = high - belowHigh;
        result.innerGap = innerGap(keys);
        return result;
    }

    // The smallest key difference of neighbours within the lists (0 for a
    // tie or a NaN).
    double innerGap(const double* keys) const
    {
        double gap = HUGE_VAL;
        for (const std::span<const int32_t> list : {first(), last()})
            for (size_t r = 1; r < list.size(); ++r) {
                const double difference = keys[list[r]] - keys[list[r - 1]];
                if (!(difference > 0.0)) return 0.0;
                gap = difference < gap ? difference : gap;
            }
        return gap;
    }

    // The new keys of the lists' members only, the lists re-sorted: an
    // update for a candidate whose keys have moved less than the last gaps.
    // True when the order within a list changed.
    template <class KeyOf>
    Update refresh(double* keys, KeyOf keyOf)
    {
        for (const int32_t k : first_) keys[k] = keyOf(k);
        for (const int32_t k : last_) keys[k] = keyOf(k);
        const Sorted first = resort(keys, first_), last = resort(keys, last_);
        const bool changed = first.moved || last.moved;
        return {false, changed, 0.0, 0.0, changed ? innerGap(keys) : std::min(first.gap, last.gap)};
    }

    // Repairs the extremes for a new candidate; the result is the one
    // reset() would give. fillAll() writes every point's new key to `keys`;
    // hits(low, high, BoundHits&) lists the points whose keys reach the
    // bounds (zsvc::keyHits over the keys). moved(index, joined) is told of
    // every point that leaves the middle (joined false) or joins it (true),
    // unless the update is fresh.
    template <class FillAll, class Hits, class Moved>
    Update update(double* keys, FillAll fillAll, Hits hits, Moved&& moved, bool measureGaps = true)
    {
        fillAll();
        if (!overlapping_) {
            const Sorted sortedFirst = resort(keys, first_), sortedLast = resort(keys, last_);
            const bool changed = sortedFirst.moved || sortedLast.moved;
            const double low = keys[first_.back()], high = keys[last_.front()];
            if (!std::isnan(low) && !std::isnan(high)) {
                BoundHits found{lowHits_, highHits_, inFirst_.data(), inLast_.data()};
                found.measureGaps = measureGaps;
                hits(low, high, found);
                if (found.lowCount == 0 && found.highCount == 0) {
                    if (!measureGaps) return {false, changed};
                    return {false, changed, found.aboveLow - low, high - found.belowHigh,
                            changed ? innerGap(keys) : std::min(sortedFirst.gap, sortedLast.gap)};
                }
                if (!found.overflowed() && takeIn<true>(keys, found, moved) && takeIn<false>(keys, found, moved))
                    return {false, true};
            }
        }
        return reset(keys);
    }

private:
    static constexpr uint8_t kFirst = 1, kLast = 2;
    static constexpr uint64_t kAll = ~uint64_t{0};

    // The first and last R ranks: the R-th smallest and R-th largest key by
    // selection on a copy of the keys, then the points at or beyond those
    // bounds gathered in index order (so ties keep input order) and sorted.
    void select(const double* keys)
    {
        const size_t n = member_.size(), count = first_.size();
        const auto before = [keys](int32_t a, int32_t b) { return rankBefore(keys[a], a, keys[b], b); };
        if (!overlapping_) {
            if (populated_) {
                for (const int32_t k : first_) forget(k);
                for (const int32_t k : last_) forget(k);
            }
            populated_ = gatherExtremes(keys);
            if (populated_) return;
        }
        // Overlapping extremes, or ties or NaN too many to gather: a full sort.
        for (size_t k = 0; k < n; ++k) order_[k] = static_cast<int32_t>(k);
        std::sort(order_.begin(), order_.end(), before);
        std::copy(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(count), first_.begin());
        std::copy(order_.end() - static_cast<std::ptrdiff_t>(count), order_.end(), last_.begin());
        if (overlapping_) {
            std::fill(member_.begin(), member_.end(), kFirst);
            return;
        }
        flagMembers();
        populated_ = true;
    }

    bool gatherExtremes(const double* keys)
    {
        const size_t n = member_.size(), count = first_.size();
        // NaN after every number, as in the rank order.
        const auto less = [](double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); };
        std::copy(keys, keys + n, values_.begin());
        const auto lowAt = values_.begin() + static_cast<std::ptrdiff_t>(count) - 1;
        std::nth_element(values_.begin(), lowAt, values_.end(), less);
        const double low = *lowAt;
        const auto highAt = values_.end() - static_cast<std::ptrdiff_t>(count);
        std::nth_element(lowAt + 1, highAt, values_.end(), less);
        const double high = *highAt;
        if (std::isnan(low) || std::isnan(high)) return false;
        const auto before = [keys](int32_t a, int32_t b) { return rankBefore(keys[a], a, keys[b], b); };
        const auto gather = [&](auto reaches, std::span<int32_t> list, bool fromFront) {
            // The points reaching the bound, in index order, into order_.
            size_t found = 0;
            for (size_t k = 0; k < n && found < order_.size(); ++k)
                if (reaches(keys[k])) order_[found++] = static_cast<int32_t>(k);
            if (found == order_.size()) return false;
            const auto end = order_.begin() + static_cast<std::ptrdiff_t>(found);
            std::sort(order_.begin(), end, before);
            const auto from = fromFront ? order_.begin() : end - static_cast<std::ptrdiff_t>(list.size());
            std::copy(from, from + static_cast<std::ptrdiff_t>(list.size()), list.begin());
            return true;
        };
        if (!gather([low](double key) { return key <= low; }, first_, true)) return false;
        if (!gather([high](double key) { return !(key < high); }, last_, false)) return false;
        flagMembers();
        return true;
    }

    void flagMembers()
    {
        for (size_t r = 0; r < first_.size(); ++r) {
            member_[static_cast<size_t>(first_[r])] = kFirst;
            member_[static_cast<size_t>(last_[r])] = kLast;
            inFirst_[static_cast<size_t>(first_[r])] = kAll;
            inLast_[static_cast<size_t>(last_[r])] = kAll;
        }
    }

    void forget(int32_t k)
    {
        member_[static_cast<size_t>(k)] = 0;
        inFirst_[static_cast<size_t>(k)] = 0;
        inLast_[static_cast<size_t>(k)] = 0;
    }

    bool before(const double* keys, int32_t a, int32_t b) const { return rankBefore(keys[a], a, keys[b], b); }

    struct Sorted {
        bool moved;
        double gap;  // the list's inner gap, valid when nothing moved
    };

    // Insertion sort of a short list that is nearly in order already.
    Sorted resort(const double* keys, std::span<int32_t> list) const
    {
        Sorted result{false, HUGE_VAL};
        for (size_t r = 1; r < list.size(); ++r) {
            const int32_t item = list[r];
            const double difference = keys[item] - keys[list[r - 1]];
            if (difference > 0.0) {
                result.gap = difference < result.gap ? difference : result.gap;
                continue;
            }
            result.gap = 0.0;  // a tie or a NaN
            if (!before(keys, item, list[r - 1])) continue;
            size_t q = r;
            for (; q > 0 && before(keys, item, list[q - 1]); --q) list[q] = list[q - 1];
            list[q] = item;
            result.moved = true;
        }
        return result;
    }

    // Every point at or beyond a list's bound (the first list's: at or
    // below; the last list's: at or above) that is not in the list takes its
    // place in it if it ranks beyond the list's present innermost member,
    // which then drops to the middle. False when the extremes would overlap.
    template <bool isFirst, class Moved>
    bool takeIn(const double* keys, const BoundHits& found, Moved& moved)
    {
        const std::span<int32_t> list = isFirst ? first_ : last_;
        const std::span<uint64_t> in = isFirst ? inFirst_ : inLast_;
        const uint8_t mine = isFirst ? kFirst : kLast, other = isFirst ? kLast : kFirst;
        const std::span<const int32_t> hits = isFirst ? found.low : found.high;
        const size_t hitCount = isFirst ? found.lowCount : found.highCount, count = list.size();
        // Positions from the list's outer end (rank 0, or rank n - 1) inward.
        const auto at = [&](size_t q) -> int32_t& { return isFirst ? list[q] : list[count - 1 - q]; };
        const auto outer = [&](int32_t a, int32_t b) { return isFirst ? before(keys, a, b) : before(keys, b, a); };
        for (size_t h = 0; h < hitCount; ++h) {
            const int32_t item = hits[h];
            const size_t k = static_cast<size_t>(item);
            if (member_[k] == mine) continue;
            if (!outer(item, at(count - 1))) continue;
            if (member_[k] == other) return false;
            const int32_t dropped = at(count - 1);
            member_[static_cast<size_t>(dropped)] = 0;
            in[static_cast<size_t>(dropped)] = 0;
            moved(dropped, true);
            size_t q = count - 1;
            for (; q > 0 && outer(item, at(q - 1)); --q) at(q) = at(q - 1);
            at(q) = item;
            member_[k] = mine;
            in[k] = kAll;
            moved(item, false);
        }
        return true;
    }

    std::span<int32_t> first_, last_;
    std::span<uint8_t> member_;
    std::span<uint64_t> inFirst_, inLast_;  // all bits set for the lists' members
    std::span<int32_t> order_;
    std::span<double> values_;
    std::span<int32_t> lowHits_, highHits_;
    bool overlapping_;
    bool populated_ = false;  // the lists hold a ranking (their members are flagged)
};

// The extremes of a ranking carried from one candidate of a search to the
// next, for candidates that move a little at a time. A candidate has a
// position (a unit normal, a centre); when it has moved by d since the last
// full look at all points, no two keys have moved against each other by
// more than `reach` * d. While that stays below the gaps the last look
// measured, no point can have crossed into or out of the extremes and only
// the extremes' own keys are computed again; while it also stays below the
// gaps within the lists, not even those. Keys are `scale` times the unit the
// gaps are kept in; `rounding` is the rounding a key may carry, in that unit.
class RankRepair {
public:
    // With `everyLook`, every full look measures the gaps (see GapMeasuring).
    explicit RankRepair(bool everyLook = false) : everyLook_(everyLook) {}

    // The next candidate is ranked afresh.
    void restart() { ranked_ = false; }

    // The extremes for a candidate at `position` (RankExtremes::update for
    // the arguments).
    template <class KeyOf, class FillAll, class Hits, class Moved>
    RankExtremes::Update next(RankExtremes& ranking, double* keys, const zmath_vect& position, double reach,
                              double scale, double rounding, KeyOf keyOf, FillAll fillAll, Hits hits, Moved&& moved)
    {
        const double looked = reach * distance(position, lookedFrom_);
        const bool keepsMembers = ranked_ && std::isfinite(scale) && looked + rounding < std::min(gapFirst_, gapLast_);
        if (ranked_ && !everyLook_) gapMeasuring_.followed(keepsMembers);
        if (keepsMembers && reach * distance(position, sortedFrom_) + rounding < innerGap_) return {false, false};
        RankExtremes::Update update{true, true};
        if (keepsMembers) {
            update = ranking.refresh(keys, keyOf);
            sortedFrom_ = position;
            innerGap_ = update.innerGap / scale;
            return update;
        }
        if (!ranked_) {
            fillAll();
            update = ranking.reset(keys);
            ranked_ = true;
        } else {
            const bool measure = everyLook_ || gapMeasuring_.wanted();
            update = ranking.update(keys, fillAll, hits, moved, measure);
            gapMeasuring_.looked(measure);
        }
        lookedFrom_ = sortedFrom_ = position;
        gapFirst_ = update.gapFirst / scale;
        gapLast_ = update.gapLast / scale;
        innerGap_ = update.innerGap / scale;
        return update;
    }

private:
    static double distance(const zmath_vect& a, const zmath_vect& b)
    {
        const double dx = a.x - b.x, dy = a.y - b.y;
        return std::sqrt(dx * dx + dy * dy);
    }

    bool everyLook_;
    bool ranked_ = false;  // the ranking holds the extremes of the last candidate
    zmath_vect lookedFrom_{}, sortedFrom_{};
    double gapFirst_ = 0.0, gapLast_ = 0.0, innerGap_ = 0.0;
    GapMeasuring gapMeasuring_;
};

// Writes the m points a window of the ranking leaves out into `indices`:
// the s nearest (first[0..s-1]), nearest first, then the m - s farthest
// (last[s+1..m]), nearest first. The window is the one that starts at rank s.
inline zfit_status writeLeftOut(zstd_vector32* indices, int32_t m, int32_t s, std::span<const int32_t> first,
                                std::span<const int32_t> last)
{
    ZFIT_TRY(zstd_vector32_resize(indices, m));
    int32_t* out = nullptr;
    ZFIT_TRY(zstd_vector32_getBegin(indices, &out));
    for (int32_t r = 0; r < s; ++r) *out++ = first[static_cast<size_t>(r)];
    for (int32_t r = s + 1; r <= m; ++r) *out++ = last[static_cast<size_t>(r)];
    return zfit_ok;
}

}  // namespace zsvc
