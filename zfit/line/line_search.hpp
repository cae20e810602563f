// The candidates of the ranked-window and the minimum-zone line fits: every
// pair of distinct points i < j proposes the direction p[j] - p[i], and all
// points are ranked by their offset across it (largest first, equal
// offsets in input order). The windows of each candidate are scored by the
// search engine (zfit/services/window_search.hpp) under the fit's policy.
//
// The candidates are visited in order of angle (all pairs at once, or
// blocks of first indices for very many points), so that from one
// candidate to the next the extremes of the ranking change by a point or
// two and are repaired rather than found afresh (zsvc::RankRepair); while
// the normal has turned too little for any point to cross into or out of
// the extremes, only the extremes' own offsets are computed again. The
// offsets are computed over coordinate arrays, exactly as the dot product
// of each point with the normal. The attention check is polled as the
// search's plan says (zfit/family/search_plan.hpp: once per first index),
// the polls of a block of first indices spread evenly over its candidates,
// the first before any of them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include <zfit/family/search_plan.hpp>
#include <zfit/line/line_internal.hpp>
#include <zfit/services/ranking.hpp>
#include <zfit/services/system.h>
#include <zfit/services/window_search.hpp>

namespace zfit::line {

// What a policy sees of a candidate direction.
struct Direction {
    zmath_vect along;   // point j - point i
    zmath_vect normal;  // the normal the points are ranked on
};

// A monotone stand-in for the angle of a vector, in [0, 4): cheap, and
// enough to visit directions in order of angle.
inline double pseudoAngle(const zmath_vect& v)
{
    const double sum = std::fabs(v.x) + std::fabs(v.y);
    const double t = v.y / sum;
    if (v.x >= 0.0) return v.y >= 0.0 ? t : 4.0 + t;
    return 2.0 - t;
}

class PairDirections {
public:
    // The minimum zone ranks on the unit normal, the least-squares search on
    // the pair's own normal (-dy, dx).
    explicit PairDirections(int32_t mode) : mode_(mode), unitNormal_(mode == zmath_lineFitModeMinimumZone) {}

    void reserve(zsvc::Arena& arena, const zsvc::SearchPoints& points)
    {
        const int64_t pairs = int64_t{points.n} * (points.n - 1) / 2;
        arena.reserve(keys_, points.n);
        arena.reserve(candidates_, std::max<int64_t>(std::min<int64_t>(pairs, kBlockPairs), points.n));
        rankingStorage_.reserve(arena, points.n, int64_t{points.m} + 1);
    }

    zfit_status begin(const zsvc::SearchPoints& points)
    {
        ranking_ = zsvc::RankExtremes(rankingStorage_);
        // A key carries rounding of a few units of the largest coordinate.
        keyRounding_ = zsvc::kKeyRoundingUlps * std::numeric_limits<double>::epsilon() * points.largest;
        return zfit_ok;
    }

    template <class Sweep>
    zfit_status run(const zsvc::SearchPoints& points, Sweep& sweep)
    {
        const int32_t n = points.n;
        const zmath_vect* p = points.p.data();
        const int64_t blockCapacity = static_cast<int64_t>(candidates_.size());
        // The polls due before first index i: polls * i / n.
        const int64_t polls = zfit::plan::linePolls(n, points.m, mode_);
        int64_t pollsDone = 0;
        for (int32_t blockStart = 0; blockStart < n;) {
            // A block of first indices whose pairs fit the storage.
            int64_t pending = 0;
            int32_t blockEnd = blockStart;
            for (; blockEnd < n && (blockEnd == blockStart || pending + (n - 1 - blockEnd) <= blockCapacity);
                 ++blockEnd)
                for (int32_t j = blockEnd + 1; j < n; ++j) {
                    const zmath_vect dir = zsvc::subtract(p[j], p[blockEnd]);
                    if (dir.x == 0.0 && dir.y == 0.0) continue;  // the two points are equal
                    candidates_[static_cast<size_t>(pending++)] = {pseudoAngle({-dir.y, dir.x}), blockEnd, j};
                }
            std::sort(candidates_.begin(), candidates_.begin() + pending, [](const PairOrder& a, const PairOrder& b) {
                if (a.angle != b.angle) return a.angle < b.angle;
                return a.i < b.i || (a.i == b.i && a.j < b.j);
            });
            // The block's polls, spread evenly over its candidates, the first
            // before any of them.
            const int64_t blockPolls = polls * blockEnd / n - pollsDone;
            int64_t blockPollsDone = 0;
            for (int64_t q = 0; q <= pending; ++q) {
                while (blockPollsDone < blockPolls && blockPollsDone * pending <= q * blockPolls) {
                    ZFIT_TRY(zsys_attention_check());
                    ++blockPollsDone;
                }
                if (q == pending) break;
                ZFIT_TRY(offer(points, candidates_[static_cast<size_t>(q)], sweep));
            }
            pollsDone += blockPolls;
            blockStart = blockEnd;
        }
        return zfit_ok;
    }

private:
    struct PairOrder {
        double angle;
        int32_t i, j;
    };

    // The most candidate pairs sorted by angle at a time (16 bytes each).
    static constexpr int64_t kBlockPairs = int64_t{1} << 21;

    template <class Sweep>
    [[gnu::always_inline]] zfit_status offer(const zsvc::SearchPoints& points, const PairOrder& pair, Sweep& sweep)
    {
        const zmath_vect dir =
            zsvc::subtract(points.p[static_cast<size_t>(pair.j)], points.p[static_cast<size_t>(pair.i)]);
        zmath_vect normal{-dir.y, dir.x};
        if (unitNormal_) {
            zmath_vect unit{};
            ZFIT_TRY(zmath_vect_getUnit(&normal, &unit));
            normal = unit;
        }
        const double normalLength = unitNormal_ ? 1.0 : std::sqrt(zsvc::dot(normal, normal));
        // Minus the offset, so that ascending keys rank the largest offset
        // first; each formed exactly as the dot product of the point with
        // the normal.
        const double nx = normal.x, ny = normal.y;
        const double* xs = points.xs.data();
        const double* ys = points.ys.data();
        const size_t count = points.xs.size();
        const auto keyOf = [&](int32_t k) {
            return zsvc::offsetKey(xs[static_cast<size_t>(k)], ys[static_cast<size_t>(k)], nx, ny);
        };
        const auto fillAll = [&] { zsvc::fillOffsetKeys(xs, ys, count, nx, ny, keys_.data()); };
        const auto hits = [&](double low, double high, zsvc::BoundHits& found) {
            zsvc::keyHits(keys_.data(), count, low, high, found);
        };
        // Two points' offsets move against each other by at most the
        // diameter times the turn of the unit normal.
        const zmath_vect direction{normal.x / normalLength, normal.y / normalLength};
        const zsvc::RankExtremes::Update update =
            repair_.next(ranking_, keys_.data(), direction, points.diameter, normalLength, keyRounding_, keyOf, fillAll,
                         hits, [&](int32_t index, bool joined) { sweep.moved(index, joined); });
        return sweep.offer(zsvc::Candidate<Direction>{
            {pair.i, pair.j, 0, 0}, {dir, normal}, ranking_.first(), ranking_.last(), update.fresh, update.changed});
    }

    int32_t mode_;
    bool unitNormal_;
    std::span<double> keys_;
    std::span<PairOrder> candidates_;
    zsvc::RankExtremes::Storage rankingStorage_;
    zsvc::RankExtremes ranking_{zsvc::RankExtremes::Storage{}};
    zsvc::RankRepair repair_{true};
    double keyRounding_ = 0.0;
};

}  // namespace zfit::line
