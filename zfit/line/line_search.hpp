// The pair-direction search shared by the ranked-window and the minimum-zone
// line fits.
//
// Every pair of distinct points proposes a direction. All points are ranked
// by their offset across it, largest first, and each window of n - m
// consecutive ranks (s dropped above it, m - s below, s = 0..m) is scored.
// The first window with the strictly smallest score wins; its discarded
// indices are listed in rank order, the s above the window first.
//
// What differs between the two fits is a policy:
//   zfit_status begin(int32_t n, int32_t m)
//       creates the policy's own work storage (once per call).
//   zfit_status direction(const zmath_vect& dir, zmath_vect* normal)
//       may rescale the normal the points are ranked on; prepares the
//       candidate line for this direction.
//   zfit_status score(const zfit_lineRank* ranks, int32_t s, bool* scored, double* score)
//       scores window s (called for s = 0, 1, ..., m in turn, so the policy
//       may slide its state); *scored = false skips the window.
//   zfit_status keep()
//       the window just scored is the best so far.
//   zfit_status finish(zmath_shapeFLine* line, double* rmsError)
//       after a search that accepted a window: writes the caller's line and
//       the final rmsError.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>

#include <zfit/frame/status.hpp>
#include <zfit/line/line_internal.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/system.h>

// One point's place in the ranking across a candidate direction.
struct zfit_lineRank {
    zmath_vect point;
    double offset;  // the point's dot product with the candidate normal
    int32_t index;  // its 0-based position in the input
};

// Descending offset. A NaN offset (only possible when a difference of two
// finite coordinates overflows) sorts after every number, so the order stays
// a strict weak order whatever the values.
inline bool zfit_lineRank_before_(const zfit_lineRank& a, const zfit_lineRank& b)
{
    return a.offset > b.offset || (std::isnan(b.offset) && !std::isnan(a.offset));
}

namespace zfit::line {

// The search frame: input checks, work storage, the pair loop with its
// attention poll, ranking, the split loop, replacement on strict improvement
// and the final verdict. rmsError and ignoredIndices carry the running best;
// line is written by the policy's finish only.
template <class Policy>
zfit_status searchPairDirections(const zstd_vector_zmath_vect* points, int32_t m, zmath_shapeFLine* line,
                                 double* rmsError, zstd_vector32* ignoredIndices, Policy& policy)
{
    *rmsError = HUGE_VAL;
    int32_t n = 0;
    const zmath_vect* p = nullptr;
    ZFIT_TRY(zstd_vector_zmath_vect_getSize(points, &n));
    ZFIT_TRY(zstd_vector_zmath_vect_getBeginConst(points, &p));
    // A window must hold at least one point, and non-finite coordinates have
    // no ranking: both are refused before any storage exists.
    if (n <= m) return zmath_errDegenerate;
    if (!zfit_linePointsFinite_(p, n)) return zmath_errDegenerate;

    zsvc::Owned<zstd_vector_> rankStore;
    ZFIT_TRY(rankStore.construct(zstd_vector__constructWithVtable, static_cast<int64_t>(n), sizeof(zfit_lineRank),
                                 static_cast<const void*>(nullptr)));
    void* rankBegin = nullptr;
    ZFIT_TRY(zstd_vector__getBeginEnd(rankStore.get(), &rankBegin, nullptr));
    const std::span<zfit_lineRank> ranks(static_cast<zfit_lineRank*>(rankBegin), static_cast<size_t>(n));

    ZFIT_TRY(policy.begin(n, m));

    zsvc::Owned<zstd_vector32> bestIgnored;
    ZFIT_TRY(bestIgnored.construct(zstd_vector32_construct, static_cast<int64_t>(m)));
    int32_t* ignored = nullptr;
    ZFIT_TRY(zstd_vector32_getBegin(bestIgnored.get(), &ignored));

    const int32_t keep = n - m;
    for (int32_t i = 0; i < n; ++i) {
        ZFIT_TRY(zsys_attention_check());
        for (int32_t j = i + 1; j < n; ++j) {
            const zmath_vect dir = zsvc::subtract(p[j], p[i]);
            zmath_vect normal{-dir.y, dir.x};
            if (normal.x == 0.0 && normal.y == 0.0) continue;  // the two points are equal
            ZFIT_TRY(policy.direction(dir, &normal));
            for (int32_t k = 0; k < n; ++k) ranks[k] = zfit_lineRank{p[k], zsvc::dot(p[k], normal), k};
            std::sort(ranks.begin(), ranks.end(), zfit_lineRank_before_);

            for (int32_t s = 0; s <= m; ++s) {
                bool scored = false;
                double score = 0.0;
                ZFIT_TRY(policy.score(ranks.data(), s, &scored, &score));
                if (!scored || score >= *rmsError) continue;  // NaN on either side replaces
                *rmsError = score;
                ZFIT_TRY(policy.keep());
                int32_t out = 0;
                for (int32_t r = 0; r < s; ++r) ignored[out++] = ranks[r].index;
                for (int32_t r = keep + s; r < n; ++r) ignored[out++] = ranks[r].index;
                ZFIT_TRY(zstd_vector32_assign(ignoredIndices, bestIgnored.get()));
            }
        }
    }
    // Still HUGE_VAL (no window was scored) or NaN: nothing to report.
    if (!(*rmsError < HUGE_VAL || *rmsError > HUGE_VAL)) return zmath_errDegenerate;
    return policy.finish(line, rmsError);
}

}  // namespace zfit::line
