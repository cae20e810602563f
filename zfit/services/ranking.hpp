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
    static size_t hitCapacity(size_t count) { return count + 32; }

    // The storage lives with the caller (made once per call): `first` and
    // `last` hold R indices each (R <= n); `member`, `inFirst`, `inLast` and
    // `order` one entry per point; `lowHits` and `highHits` hitCapacity(R)
    // entries each. When 2R > n the extremes overlap; every update is then a
    // fresh sort and there is no middle.
    RankExtremes(std::span<int32_t> first, std::span<int32_t> last, std::span<uint8_t> member,
                 std::span<uint64_t> inFirst, std::span<uint64_t> inLast, std::span<int32_t> order,
                 std::span<int32_t> lowHits, std::span<int32_t> highHits)
        : first_(first), last_(last), member_(member), inFirst_(inFirst), inLast_(inLast), order_(order),
          lowHits_(lowHits), highHits_(highHits), overlapping_(2 * first.size() > member.size())
    {
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
            if (member_[k] != kFirst) aboveLow = std::fmin(aboveLow, keys[k]);
            if (member_[k] != kLast) belowHigh = std::fmax(belowHigh, keys[k]);
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
    // fillAll() and reset() would give. keyOf(k) returns point k's new key;
    // hits(low, high, BoundHits&) lists the points whose keys reach the
    // bounds (zsvc::offsetKeyHits, zsvc::distanceKeyHits); fillAll() writes
    // every key. moved(index,
    // joined) is told of every point that leaves the middle (joined false)
    // or joins it (true), unless the update is fresh.
    template <class KeyOf, class Hits, class FillAll, class Moved>
    Update update(double* keys, KeyOf keyOf, Hits hits, FillAll fillAll, Moved&& moved)
    {
        if (!overlapping_) {
            for (const int32_t k : first_) keys[k] = keyOf(k);
            for (const int32_t k : last_) keys[k] = keyOf(k);
            const Sorted sortedFirst = resort(keys, first_), sortedLast = resort(keys, last_);
            const bool changed = sortedFirst.moved || sortedLast.moved;
            const double low = keys[first_.back()], high = keys[last_.front()];
            if (!std::isnan(low) && !std::isnan(high)) {
                BoundHits found{lowHits_, highHits_, inFirst_.data(), inLast_.data()};
                hits(low, high, found);
                if (found.lowCount == 0 && found.highCount == 0)
                    return {false, changed, found.aboveLow - low, high - found.belowHigh,
                            changed ? innerGap(keys) : std::min(sortedFirst.gap, sortedLast.gap)};
                const size_t count = first_.size();
                if (!found.overflowed() && 2 * (found.lowCount + found.highCount) <= count &&
                    takeInFirst(keys, found, keyOf, moved) && takeInLast(keys, found, keyOf, moved))
                    return {false, true};
            }
        }
        fillAll();
        return reset(keys);
    }

private:
    static constexpr uint8_t kFirst = 1, kLast = 2;
    static constexpr uint64_t kAll = ~uint64_t{0};

    void select(const double* keys)
    {
        const size_t n = member_.size(), count = first_.size();
        for (size_t k = 0; k < n; ++k) order_[k] = static_cast<int32_t>(k);
        const auto before = [keys](int32_t a, int32_t b) { return rankBefore(keys[a], a, keys[b], b); };
        const auto head = order_.begin() + static_cast<std::ptrdiff_t>(count);
        const auto tail = order_.end() - static_cast<std::ptrdiff_t>(count);
        if (overlapping_) {
            std::sort(order_.begin(), order_.end(), before);
            std::copy(order_.begin(), head, first_.begin());
            std::copy(tail, order_.end(), last_.begin());
            std::fill(member_.begin(), member_.end(), kFirst);
            return;
        }
        std::fill(inFirst_.begin(), inFirst_.end(), uint64_t{0});
        std::fill(inLast_.begin(), inLast_.end(), uint64_t{0});
        std::nth_element(order_.begin(), head - 1, order_.end(), before);
        std::sort(order_.begin(), head, before);
        std::nth_element(head, tail, order_.end(), before);
        std::sort(tail, order_.end(), before);
        std::fill(member_.begin(), member_.end(), uint8_t{0});
        for (size_t r = 0; r < count; ++r) {
            first_[r] = order_[r];
            last_[r] = order_[n - count + r];
            member_[static_cast<size_t>(first_[r])] = kFirst;
            member_[static_cast<size_t>(last_[r])] = kLast;
            inFirst_[static_cast<size_t>(first_[r])] = kAll;
            inLast_[static_cast<size_t>(last_[r])] = kAll;
        }
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

    // Every point at or below the first list's bound that is not in the list
    // takes its place in it if it ranks before the list's present last
    // member, which then drops to the middle. False when the extremes would
    // overlap.
    template <class KeyOf, class Moved>
    bool takeInFirst(double* keys, const BoundHits& found, KeyOf& keyOf, Moved& moved)
    {
        const size_t count = first_.size();
        for (size_t h = 0; h < found.lowCount; ++h) {
            const int32_t item = found.low[h];
            const size_t k = static_cast<size_t>(item);
            if (member_[k] == kFirst) continue;
            keys[k] = keyOf(item);
            if (!before(keys, item, first_[count - 1])) continue;
            if (member_[k] == kLast) return false;
            const int32_t dropped = first_[count - 1];
            member_[static_cast<size_t>(dropped)] = 0;
            inFirst_[static_cast<size_t>(dropped)] = 0;
            moved(dropped, true);
            size_t q = count - 1;
            for (; q > 0 && before(keys, item, first_[q - 1]); --q) first_[q] = first_[q - 1];
            first_[q] = item;
            member_[k] = kFirst;
            inFirst_[k] = kAll;
            moved(item, false);
        }
        return true;
    }

    // The same for the last list, mirrored.
    template <class KeyOf, class Moved>
    bool takeInLast(double* keys, const BoundHits& found, KeyOf& keyOf, Moved& moved)
    {
        const size_t count = last_.size();
        for (size_t h = 0; h < found.highCount; ++h) {
            const int32_t item = found.high[h];
            const size_t k = static_cast<size_t>(item);
            if (member_[k] == kLast) continue;
            keys[k] = keyOf(item);
            if (!before(keys, last_[0], item)) continue;
            if (member_[k] == kFirst) return false;
            const int32_t dropped = last_[0];
            member_[static_cast<size_t>(dropped)] = 0;
            inLast_[static_cast<size_t>(dropped)] = 0;
            moved(dropped, true);
            size_t q = 0;
            for (; q + 1 < count && before(keys, last_[q + 1], item); ++q) last_[q] = last_[q + 1];
            last_[q] = item;
            member_[k] = kLast;
            inLast_[k] = kAll;
            moved(item, false);
        }
        return true;
    }

    std::span<int32_t> first_, last_;
    std::span<uint8_t> member_;
    std::span<uint64_t> inFirst_, inLast_;  // all bits set for the lists' members
    std::span<int32_t> order_;
    std::span<int32_t> lowHits_, highHits_;
    bool overlapping_;
};

}  // namespace zsvc
