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
    };

    // How many hits of each bound a repair may examine (storage for them).
    static size_t hitCapacity(size_t count) { return 2 * count + 32; }

    // The storage lives with the caller (made once per call): `first` and
    // `last` hold R indices each (R <= n), `member` and `order` one entry per
    // point, `lowHits` and `highHits` hitCapacity(R) entries each. When
    // 2R > n the extremes overlap; every update is then a fresh sort and
    // there is no middle.
    RankExtremes(std::span<int32_t> first, std::span<int32_t> last, std::span<uint8_t> member,
                 std::span<int32_t> order, std::span<int32_t> lowHits, std::span<int32_t> highHits)
        : first_(first), last_(last), member_(member), order_(order), lowHits_(lowHits), highHits_(highHits),
          overlapping_(2 * first.size() > member.size())
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

    // Finds the extremes of keys[0..n) from scratch.
    void reset(const double* keys)
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
        }
    }

    // Repairs the extremes for a new candidate; the result is the one
    // fillAll() and reset() would give. keyOf(k) returns point k's new key;
    // hits(low, high, BoundHits&) lists the
    // points whose keys reach the bounds (zsvc::offsetKeyHits,
    // zsvc::distanceKeyHits); fillAll() writes every key. moved(index,
    // joined) is told of every point that leaves the middle (joined false)
    // or joins it (true), unless the update is fresh.
    template <class KeyOf, class Hits, class FillAll, class Moved>
    Update update(double* keys, KeyOf keyOf, Hits hits, FillAll fillAll, Moved&& moved)
    {
        if (!overlapping_) {
            for (const int32_t k : first_) keys[k] = keyOf(k);
            for (const int32_t k : last_) keys[k] = keyOf(k);
            bool changed = resort(keys, first_);
            changed = resort(keys, last_) || changed;
            const double low = keys[first_.back()], high = keys[last_.front()];
            if (!std::isnan(low) && !std::isnan(high)) {
                BoundHits found{lowHits_, highHits_};
                hits(low, high, found);
                const size_t count = first_.size();
                if (found.lowCount == count && found.highCount == count) return {false, changed};
                if (!found.overflowed() && found.lowCount + found.highCount <= 3 * count &&
                    takeInFirst(keys, found, keyOf, moved) && takeInLast(keys, found, keyOf, moved))
                    return {false, true};
            }
        }
        fillAll();
        reset(keys);
        return {true, true};
    }

private:
    static constexpr uint8_t kFirst = 1, kLast = 2;

    bool before(const double* keys, int32_t a, int32_t b) const { return rankBefore(keys[a], a, keys[b], b); }

    // Insertion sort of a short list that is nearly in order already;
    // true when anything moved.
    bool resort(const double* keys, std::span<int32_t> list) const
    {
        bool moved = false;
        for (size_t r = 1; r < list.size(); ++r) {
            const int32_t item = list[r];
            size_t q = r;
            for (; q > 0 && before(keys, item, list[q - 1]); --q) list[q] = list[q - 1];
            list[q] = item;
            moved = moved || q != r;
        }
        return moved;
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
            moved(dropped, true);
            size_t q = count - 1;
            for (; q > 0 && before(keys, item, first_[q - 1]); --q) first_[q] = first_[q - 1];
            first_[q] = item;
            member_[k] = kFirst;
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
            moved(dropped, true);
            size_t q = 0;
            for (; q + 1 < count && before(keys, last_[q + 1], item); ++q) last_[q] = last_[q + 1];
            last_[q] = item;
            member_[k] = kLast;
            moved(item, false);
        }
        return true;
    }

    std::span<int32_t> first_, last_;
    std::span<uint8_t> member_;
    std::span<int32_t> order_;
    std::span<int32_t> lowHits_, highHits_;
    bool overlapping_;
};

}  // namespace zsvc
