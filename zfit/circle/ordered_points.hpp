// The ranking the circle searches keep for the candidates of a cell: a few
// points in full order of their distance from the candidate centre, repaired
// from one candidate to the next. Internal to the circle family (and its
// tests); not exported.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include <zfit/services/rank_keys.hpp>

namespace zfit::circle {

// A few points kept in full rank order by their squared distance from the
// candidate centre (equal distances in input order), their coordinates
// stored in that order: a candidate's keys are computed in rank order and
// one pass tells whether any two points changed places; an insertion sort
// repairs the order where they did. first() and last() are the m + 1 first
// and last ranks (point indices), as zsvc::RankExtremes has them.
class OrderedPoints {
public:
    struct Ranked {
        double key;
        int32_t id;
    };
    struct Storage {
        std::span<double> xs, ys, keys;
        std::span<int32_t> ids;
        std::span<uint8_t> regions;
        std::span<Ranked> pairs;
    };

    // The points `ids` (2 * extremes of them at least) from the coordinate
    // arrays, in no order yet.
    OrderedPoints(const Storage& storage, std::span<const int32_t> ids, const double* xs, const double* ys,
                  size_t extremes)
        : xs_(storage.xs.first(ids.size())), ys_(storage.ys.first(ids.size())), keys_(storage.keys.first(ids.size())),
          ids_(storage.ids.first(ids.size())), regions_(storage.regions.first(ids.size())),
          pairs_(storage.pairs.first(ids.size())), pointXs_(xs), pointYs_(ys), extremes_(extremes)
    {
        std::copy(ids.begin(), ids.end(), ids_.begin());
    }

    // The point indices at ranks 0..m and n-m-1..n-1.
    std::span<const int32_t> first() const { return std::span<const int32_t>(ids_).first(extremes_); }
    std::span<const int32_t> last() const { return std::span<const int32_t>(ids_).last(extremes_); }

    // What a ranking changed: the ranks lowest .. highest (none when
    // lowest > highest), whether any of the extremes.
    struct Change {
        bool fresh, changed;
        size_t lowest, highest;
    };

    // The ranking for the centre (cx, cy): found afresh, or repaired from
    // the last; moved(index, joined) is told of every point that leaves the
    // middle ranks (joined false) or joins them (true) in a repair.
    template <class Moved>
    Change rank(double cx, double cy, bool afresh, Moved&& moved)
    {
        const size_t n = ids_.size();
        if (afresh) {
            for (size_t r = 0; r < n; ++r) keys_[r] = keyOf(ids_[r], cx, cy);
            sortRanks(0, n);
            for (size_t r = 0; r < n; ++r) regions_[r] = regionAt(r);
            placeCoordinates(0, n);
            return {true, true, 0, n - 1};
        }
        zsvc::fillDistanceKeys(xs_.data(), ys_.data(), n, cx, cy, keys_.data());
        size_t r = zsvc::firstOutOfOrder(keys_.data(), n);
        if (r == n) return {false, false, 1, 0};
        size_t lowest = n, highest = 0;  // the ranks that changed
        for (; r < n; r += zsvc::firstOutOfOrder(keys_.data() + r, n - r)) {
            if (!before(r, r - 1)) continue;
            const double key = keys_[r];
            const int32_t id = ids_[r];
            const uint8_t region = regions_[r];
            size_t q = r;
            for (; q > 0 && before(key, id, q - 1); --q) {
                keys_[q] = keys_[q - 1];
                ids_[q] = ids_[q - 1];
                regions_[q] = regions_[q - 1];
            }
            keys_[q] = key;
            ids_[q] = id;
            regions_[q] = region;
            lowest = std::min(lowest, q);
            highest = r;
        }
        if (lowest > highest) return {false, false, 1, 0};
        placeCoordinates(lowest, highest + 1);
        for (size_t q = lowest; q <= highest; ++q) {
            const uint8_t region = regionAt(q);
            if (region == regions_[q]) continue;
            if (regions_[q] == kMiddle) moved(ids_[q], false);
            if (region == kMiddle) moved(ids_[q], true);
            regions_[q] = region;
        }
        // Changes among the middle ranks alone leave the extremes as they were.
        return {false, lowest < extremes_ || highest >= n - extremes_, lowest, highest};
    }

private:
    static constexpr uint8_t kFirst = 0, kMiddle = 1, kLast = 2;

    double keyOf(int32_t id, double cx, double cy) const
    {
        return zsvc::distanceKey(pointXs_[static_cast<size_t>(id)], pointYs_[static_cast<size_t>(id)], cx, cy);
    }

    // The keys are never NaN: the points and centres are finite, so a
    // squared distance is a number or infinity.
    bool before(double key, int32_t id, size_t r) const { return key < keys_[r] || (key == keys_[r] && id < ids_[r]); }
    bool before(size_t a, size_t b) const { return before(keys_[a], ids_[a], b); }

    uint8_t regionAt(size_t r) const
    {
        if (r < extremes_) return kFirst;
        return r >= ids_.size() - extremes_ ? kLast : kMiddle;
    }

    // Sorts ranks from..to-1 (keys and points together).
    void sortRanks(size_t from, size_t to)
    {
        for (size_t r = from; r < to; ++r) pairs_[r] = {keys_[r], ids_[r]};
        std::sort(pairs_.begin() + static_cast<std::ptrdiff_t>(from), pairs_.begin() + static_cast<std::ptrdiff_t>(to),
                  [](const Ranked& a, const Ranked& b) { return a.key < b.key || (a.key == b.key && a.id < b.id); });
        for (size_t r = from; r < to; ++r) {
            keys_[r] = pairs_[r].key;
            ids_[r] = pairs_[r].id;
        }
    }

    // The coordinates of ranks from..to-1, from their points.
    void placeCoordinates(size_t from, size_t to)
    {
        for (size_t r = from; r < to; ++r) {
            xs_[r] = pointXs_[static_cast<size_t>(ids_[r])];
            ys_[r] = pointYs_[static_cast<size_t>(ids_[r])];
        }
    }

    std::span<double> xs_, ys_, keys_;  // in rank order
    std::span<int32_t> ids_;
    std::span<uint8_t> regions_;
    std::span<Ranked> pairs_;
    const double* pointXs_;
    const double* pointYs_;
    size_t extremes_;
};

}  // namespace zfit::circle
