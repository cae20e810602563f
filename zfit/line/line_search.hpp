// The pair-direction search shared by the ranked-window and the minimum-zone
// line fits.
//
// Every pair of distinct points i < j proposes a direction. All points are
// ranked by their offset across it (largest first, equal offsets in input
// order), and each window of n - m consecutive ranks (s dropped above it,
// m - s below, s = 0..m) is scored. The window with the smallest score wins;
// among equal scores the first in the order of i, then j, then s. Its
// discarded indices are listed in rank order, the s above the window first.
//
// What makes it fast:
//   - a window depends only on the m + 1 highest and m + 1 lowest ranks, and
//     those are kept by a partial ranking (zsvc::RankExtremes), never by a
//     full sort;
//   - the candidates are visited in order of angle (all pairs at once, or
//     blocks of first indices for very many points), so that from one
//     candidate to the next the extremes change by a point or two and are
//     repaired rather than found afresh; while the normal has turned too
//     little for any point to cross into or out of the extremes, only the
//     extremes' own offsets are computed again;
//   - equal scores are resolved by the plain loop's order (i, then j, then
//     s), so the answer is the one the plain loop gives;
//   - the offsets are computed over coordinate arrays, two points per
//     instruction, exactly as the dot product of each point with the normal.
// The attention check is polled once per first index: the polls of a block
// are spread evenly over its candidates, the first before any of them.
//
// What differs between the two fits is a policy:
//   void reserve(zsvc::Arena& arena, int32_t n, int32_t m)
//       plans the policy's own work storage (made with the search's, once
//       per call).
//   zfit_status begin(const zsvc::Arena& arena, const PairSearch& search)
//       takes its storage and prepares for the search.
//   bool unitNormal()
//       whether points are ranked on the unit normal (true) or on the pair's
//       own normal (-dy, dx).
//   void moved(int32_t index, bool joined)
//       a point joined (or left) the middle ranks of the ranking.
//   zfit_status candidate(const PairSearch& search, const Candidate& c)
//       scores the windows of one candidate and offers them to the search's
//       incumbent.
//   zfit_status finish(const PairSearch& search, zmath_shapeFLine* line, double* rmsError)
//       after a search that accepted a window: writes the caller's line and
//       the final rmsError.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include <zfit/frame/status.hpp>
#include <zfit/line/line_internal.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/ranking.hpp>
#include <zfit/services/system.h>

namespace zfit::line {

// Where a window was found, in the order the plain loop visits windows.
struct Location {
    int32_t i = INT32_MAX, j = INT32_MAX, s = INT32_MAX;
    friend auto operator<=>(const Location&, const Location&) = default;
};

// One candidate direction and its ranking.
struct Candidate {
    Location first;                      // the location of window s = 0
    zmath_vect direction;                // point j - point i
    zmath_vect normal;                   // the normal the points are ranked on
    const double* keys;                  // minus the offsets (not kept up to date for every point)
    const zsvc::RankExtremes* extremes;  // ranks 0..m and n-m-1..n-1
    bool freshRanking;                   // the extremes were found afresh (no middle changes reported)
    bool changedRanking;                 // the extremes differ from the previous candidate's
};

// The best window so far. The caller's rmsError and ignoredIndices hold its
// score and its discarded indices throughout the search.
class Incumbent {
public:
    Incumbent(double* rmsError, zstd_vector32* ignoredIndices, int32_t m)
        : rmsError_(rmsError), ignoredIndices_(ignoredIndices), m_(m)
    {}

    // True when the window would replace the best: a strictly smaller score
    // (or NaN on either side, as a plain comparison loop would have it), or
    // the same score found earlier in loop order.
    bool beatenBy(double score, const Location& at) const
    {
        if (!(score >= *rmsError_)) return true;
        return score == *rmsError_ && at < at_ && taken();
    }

    // Records window s of a ranking as the best: its score, where it was
    // found, and its discarded indices (ranks 0..s-1, then s+L..n-1).
    zfit_status take(double score, const Location& at, std::span<const int32_t> first, std::span<const int32_t> last)
    {
        *rmsError_ = score;
        at_ = at;
        return writeIgnored(at.s, first, last);
    }

    // The best window seen again, earlier in loop order: only its location
    // and the order of its discarded indices change.
    zfit_status relocate(const Location& at, std::span<const int32_t> first, std::span<const int32_t> last)
    {
        at_ = at;
        return writeIgnored(at.s, first, last);
    }

    double score() const { return *rmsError_; }
    // Whether any window has been taken.
    bool taken() const { return at_.i != INT32_MAX; }
    const Location& location() const { return at_; }
    bool found() const { return *rmsError_ < HUGE_VAL || *rmsError_ > HUGE_VAL; }

    // The best window's points, ascending by index, into `out` (n - m
    // points); `marks` is scratch of one flag per point.
    zfit_status keptPoints(const zmath_vect* p, std::span<uint8_t> marks, zmath_vect* out) const
    {
        const int32_t* ignored = zsvc::view(ignoredIndices_).data();
        std::fill(marks.begin(), marks.end(), uint8_t{0});
        for (int32_t r = 0; r < m_; ++r) marks[static_cast<size_t>(ignored[r])] = 1;
        size_t kept = 0;
        for (size_t k = 0; k < marks.size(); ++k)
            if (!marks[k]) out[kept++] = p[k];
        return zfit_ok;
    }

private:
    zfit_status writeIgnored(int32_t s, std::span<const int32_t> first, std::span<const int32_t> last)
    {
        return zsvc::writeLeftOut(ignoredIndices_, m_, s, first, last);
    }

    double* rmsError_;
    zstd_vector32* ignoredIndices_;
    int32_t m_;
    Location at_{};
};

// The input and the storage every policy shares.
struct PairSearch {
    const zmath_vect* p = nullptr;
    int32_t n = 0, m = 0;
    std::span<const double> xs, ys;  // the coordinates as separate arrays
    std::span<uint8_t> marks;        // one flag per point, free once the search is over
    Incumbent* incumbent = nullptr;
};

inline double squaredDistance(const zmath_vect& a, const zmath_vect& b)
{
    const zmath_vect d = zsvc::subtract(a, b);
    return zsvc::dot(d, d);
}

// A monotone stand-in for the angle of a vector, in [0, 4): cheap, and
// enough to visit directions in order of angle.
inline double pseudoAngle(const zmath_vect& v)
{
    const double sum = std::fabs(v.x) + std::fabs(v.y);
    const double t = v.y / sum;
    if (v.x >= 0.0) return v.y >= 0.0 ? t : 4.0 + t;
    return 2.0 - t;
}

struct PairOrder {
    double angle;
    int32_t i, j;
};

// The most candidate pairs sorted by angle at a time (16 bytes each).
constexpr int64_t kBlockPairs = int64_t{1} << 21;

// The search frame: input checks, work storage, the pair loop with its
// attention poll, the ranking of each candidate and the final verdict.
template <class Policy>
zfit_status searchPairDirections(const zstd_vector_zmath_vect* points, int32_t m, zmath_shapeFLine* line,
                                 double* rmsError, zstd_vector32* ignoredIndices, Policy& policy)
{
    *rmsError = HUGE_VAL;
    const std::span<const zmath_vect> all = zsvc::view(points);
    const zmath_vect* p = all.data();
    const int32_t n = zsvc::size32(all);
    // A window must hold at least one point, and non-finite coordinates have
    // no ranking: both are refused before any storage exists.
    ZFIT_FAIL_IF(n <= m, zmath_errDegenerate);
    ZFIT_FAIL_IF(!zsvc::allFinite(all), zmath_errDegenerate);

    const size_t count = static_cast<size_t>(n);
    // The candidates of a block of first indices, visited in order of angle.
    const int64_t pairs = int64_t{n} * (n - 1) / 2;
    const int64_t blockCapacity = std::max<int64_t>(std::min<int64_t>(pairs, kBlockPairs), n);
    zsvc::Arena arena;
    const auto xsSlot = arena.reserve<double>(n), ysSlot = arena.reserve<double>(n),
               keysSlot = arena.reserve<double>(n);
    const auto firstSlot = arena.reserve<int32_t>(int64_t{m} + 1), lastSlot = arena.reserve<int32_t>(int64_t{m} + 1);
    const auto orderSlot = arena.reserve<int32_t>(n);
    const auto valuesSlot = arena.reserve<double>(n);
    const auto memberSlot = arena.reserve<uint8_t>(n);
    const auto inFirstSlot = arena.reserve<uint64_t>(n), inLastSlot = arena.reserve<uint64_t>(n);
    const auto candidatesSlot = arena.reserve<PairOrder>(blockCapacity);
    const int64_t hitCapacity = static_cast<int64_t>(zsvc::RankExtremes::hitCapacity(static_cast<size_t>(m) + 1));
    const auto lowHitsSlot = arena.reserve<int32_t>(hitCapacity), highHitsSlot = arena.reserve<int32_t>(hitCapacity);
    policy.reserve(arena, n, m);
    ZFIT_TRY(arena.allocate());
    const std::span<double> xs = arena.span<double>(xsSlot), ys = arena.span<double>(ysSlot);
    const std::span<double> keys = arena.span<double>(keysSlot);
    const std::span<uint8_t> member = arena.span<uint8_t>(memberSlot);
    const std::span<PairOrder> candidates = arena.span<PairOrder>(candidatesSlot);
    // The result's index vector gets room for its final size here, so that
    // no improvement of the search allocates; what it holds stays until a
    // window is found.
    int32_t previousSize = 0;
    ZFIT_TRY(zstd_vector32_getSize(ignoredIndices, &previousSize));
    if (previousSize < m) {
        ZFIT_TRY(zstd_vector32_resize(ignoredIndices, m));
        ZFIT_TRY(zstd_vector32_resize(ignoredIndices, previousSize));
    }
    double largest = 0.0;
    zmath_vect low{p[0]}, high{p[0]};
    for (size_t k = 0; k < count; ++k) {
        xs[k] = p[k].x;
        ys[k] = p[k].y;
        largest = std::max({largest, std::fabs(p[k].x), std::fabs(p[k].y)});
        low = {std::min(low.x, p[k].x), std::min(low.y, p[k].y)};
        high = {std::max(high.x, p[k].x), std::max(high.y, p[k].y)};
    }
    // Two points' offsets move against each other by at most the diameter
    // times the turn of the unit normal; a key carries rounding of a few
    // units of the largest coordinate.
    const double diameter = zsvc::length(zsvc::subtract(high, low));
    const double keyRounding = kLineRoundingUlps * std::numeric_limits<double>::epsilon() * largest;

    Incumbent incumbent(rmsError, ignoredIndices, m);
    const PairSearch search{p, n, m, xs, ys, member, &incumbent};
    ZFIT_TRY(policy.begin(arena, search));
    zsvc::RankExtremes ranking(arena.span<int32_t>(firstSlot), arena.span<int32_t>(lastSlot), member,
                               arena.span<uint64_t>(inFirstSlot), arena.span<uint64_t>(inLastSlot),
                               arena.span<int32_t>(orderSlot), arena.span<double>(valuesSlot),
                               arena.span<int32_t>(lowHitsSlot), arena.span<int32_t>(highHitsSlot));
    bool anyCandidate = false;

    for (int32_t blockStart = 0; blockStart < n;) {
        // A block of first indices whose pairs fit the storage.
        int64_t pending = 0;
        int32_t blockEnd = blockStart;
        for (; blockEnd < n && (blockEnd == blockStart || pending + (n - 1 - blockEnd) <= blockCapacity); ++blockEnd)
            for (int32_t j = blockEnd + 1; j < n; ++j) {
                const zmath_vect dir = zsvc::subtract(p[j], p[blockEnd]);
                if (dir.x == 0.0 && dir.y == 0.0) continue;  // the two points are equal
                candidates[static_cast<size_t>(pending++)] = {pseudoAngle({-dir.y, dir.x}), blockEnd, j};
            }
        std::sort(candidates.begin(), candidates.begin() + pending, [](const PairOrder& a, const PairOrder& b) {
            if (a.angle != b.angle) return a.angle < b.angle;
            return a.i < b.i || (a.i == b.i && a.j < b.j);
        });
        // One poll per first index of the block, spread evenly over its
        // candidates, the first before any of them.
        const int64_t polls = blockEnd - blockStart;
        int64_t pollsDone = 0;
        // The unit normal and the gaps of the last full look at all points,
        // and of the last look at the extremes' own order.
        zmath_vect lookedFrom{}, sortedFrom{};
        double gapFirst = 0.0, gapLast = 0.0, innerGap = 0.0;
        for (int64_t q = 0; q <= pending; ++q) {
            while (pollsDone < polls && pollsDone * pending <= q * polls) {
                ZFIT_TRY(zsys_attention_check());
                ++pollsDone;
            }
            if (q == pending) break;
            const PairOrder& pair = candidates[static_cast<size_t>(q)];
            const zmath_vect dir = zsvc::subtract(p[pair.j], p[pair.i]);
            zmath_vect normal{-dir.y, dir.x};
            if (policy.unitNormal()) {
                zmath_vect unit{};
                ZFIT_TRY(zmath_vect_getUnit(&normal, &unit));
                normal = unit;
            }
            const double normalLength = policy.unitNormal() ? 1.0 : std::sqrt(zsvc::dot(normal, normal));
            const zmath_vect direction{normal.x / normalLength, normal.y / normalLength};
            // Minus the offset, so that ascending keys rank the largest
            // offset first; each formed exactly as the dot product of the
            // point with the normal.
            const double nx = normal.x, ny = normal.y;
            const auto keyOf = [&](int32_t k) {
                return zsvc::offsetKey(xs[static_cast<size_t>(k)], ys[static_cast<size_t>(k)], nx, ny);
            };
            const auto hits = [&](double lowBound, double highBound, zsvc::BoundHits& found) {
                zsvc::keyHits(keys.data(), count, lowBound, highBound, found);
            };
            const auto fillAll = [&] { zsvc::fillOffsetKeys(xs.data(), ys.data(), count, nx, ny, keys.data()); };
            zsvc::RankExtremes::Update update{true, true};
            // How far two points' offsets can have moved against each other
            // since the last full look, and since the last sort.
            const double turn = diameter * std::sqrt(squaredDistance(direction, lookedFrom));
            const double reorder = diameter * std::sqrt(squaredDistance(direction, sortedFrom));
            // A normal that did not come out finite (coordinates near the
            // top of the range) never allows a shortcut.
            const bool keepsMembers =
                q > 0 && std::isfinite(normalLength) && turn + keyRounding < std::min(gapFirst, gapLast);
            if (keepsMembers && reorder + keyRounding < innerGap) {
                // No point can have crossed a bound since the last full look,
                // nor two neighbours in a list changed places since the last
                // sort: the ranking's extremes are those of the last candidate.
                update = {false, false};
            } else if (keepsMembers) {
                update = ranking.refresh(keys.data(), keyOf);
                sortedFrom = direction;
                innerGap = update.innerGap / normalLength;
            } else {
                if (q == 0) {
                    fillAll();
                    update = ranking.reset(keys.data());
                } else {
                    update = ranking.update(keys.data(), fillAll, hits,
                                            [&](int32_t index, bool joined) { policy.moved(index, joined); });
                }
                lookedFrom = sortedFrom = direction;
                gapFirst = update.gapFirst / normalLength;
                gapLast = update.gapLast / normalLength;
                innerGap = update.innerGap / normalLength;
            }
            anyCandidate = true;
            ZFIT_TRY(policy.candidate(
                search,
                Candidate{{pair.i, pair.j, 0}, dir, normal, keys.data(), &ranking, update.fresh, update.changed}));
        }
        blockStart = blockEnd;
    }
    // No window was scored, or the best score is NaN: nothing to report.
    ZFIT_FAIL_IF(!anyCandidate || !incumbent.found(), zmath_errDegenerate);
    return policy.finish(search, line, rmsError);
}

}  // namespace zfit::line
