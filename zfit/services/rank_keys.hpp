// The per-point passes of the outlier searches: every point's ranking key
// for a candidate, and the points whose keys lie at or beyond two bounds.
//
// These passes run once per candidate over all n points and dominate the
// searches, so they are written over coordinate arrays: with AVX2 where the
// processor has it (four points per instruction, chosen at run time) and as
// plain loops elsewhere. Either form computes each key with the same
// operations in the same order as the scalar formula, so the keys agree to
// the last bit.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZSVC_RANK_KEYS_AVX2 1
#include <immintrin.h>
#endif

namespace zsvc {

// Ranking keys (offsets, squared distances), and the bounds and gaps formed
// from them, carry the rounding of a few units in the last place of their
// reach (the largest coordinate, the squared reach of the points from a
// centre): this many machine epsilons of it.
constexpr double kKeyRoundingUlps = 64.0;

// The key of a point for a direction: minus its offset along the normal,
// -(x * nx + y * ny), so that ascending keys rank the largest offset first.
inline double offsetKey(double x, double y, double nx, double ny) { return -(x * nx + y * ny); }

// The key of a point for a centre: its squared distance from it.
inline double distanceKey(double x, double y, double cx, double cy)
{
    const double dx = x - cx, dy = y - cy;
    return dx * dx + dy * dy;
}

// The points whose keys lie at or below a low bound, and those at or above
// a high bound or NaN, in index order, leaving out the points a mask
// excludes from each list (all bits set: excluded). Only the first
// `capacity` of each are listed; the counts go on. Besides, when asked, the
// nearest keys on the far side of each bound: the smallest key above `low`
// and the largest below `high`.
struct BoundHits {
    std::span<int32_t> low, high;
    const uint64_t* skipLow = nullptr;
    const uint64_t* skipHigh = nullptr;
    size_t lowCount = 0, highCount = 0;
    bool measureGaps = true;
    double aboveLow = HUGE_VAL, belowHigh = -HUGE_VAL;

    void note(size_t k, bool atLow, bool atHigh)
    {
        if (atLow && lowCount++ < low.size()) low[lowCount - 1] = static_cast<int32_t>(k);
        if (atHigh && highCount++ < high.size()) high[highCount - 1] = static_cast<int32_t>(k);
    }
    bool overflowed() const { return lowCount > low.size() || highCount > high.size(); }
};

namespace detail {

inline void hitsScalar(const double* keys, size_t from, size_t n, double low, double high, BoundHits& hits)
{
    for (size_t k = from; k < n; ++k) {
        const double key = keys[k];
        hits.note(k, key <= low && hits.skipLow[k] == 0, !(key < high) && hits.skipHigh[k] == 0);
        if (!hits.measureGaps) continue;
        if (key > low && key < hits.aboveLow) hits.aboveLow = key;
        if (key < high && key > hits.belowHigh) hits.belowHigh = key;
    }
}

#if defined(ZSVC_RANK_KEYS_AVX2)
template <bool measureGaps>
__attribute__((target("avx2"))) void hitsQuad(const double* keys, size_t n, double low, double high, BoundHits& hits)
{
    const __m256d lowV = _mm256_set1_pd(low), highV = _mm256_set1_pd(high);
    const __m256d infinity = _mm256_set1_pd(HUGE_VAL), minusInfinity = _mm256_set1_pd(-HUGE_VAL);
    __m256d aboveLow = infinity, belowHigh = minusInfinity;
    size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m256d key = _mm256_loadu_pd(keys + k);
        const __m256d skipLow = _mm256_loadu_pd(reinterpret_cast<const double*>(hits.skipLow + k));
        const __m256d skipHigh = _mm256_loadu_pd(reinterpret_cast<const double*>(hits.skipHigh + k));
        const __m256d atLow = _mm256_andnot_pd(skipLow, _mm256_cmp_pd(key, lowV, _CMP_LE_OQ));
        const __m256d atHigh = _mm256_andnot_pd(skipHigh, _mm256_cmp_pd(key, highV, _CMP_NLT_UQ));
        if constexpr (measureGaps) {
            aboveLow = _mm256_min_pd(aboveLow, _mm256_blendv_pd(infinity, key, _mm256_cmp_pd(key, lowV, _CMP_GT_OQ)));
            belowHigh =
                _mm256_max_pd(belowHigh, _mm256_blendv_pd(minusInfinity, key, _mm256_cmp_pd(key, highV, _CMP_LT_OQ)));
        }
        if (_mm256_movemask_pd(_mm256_or_pd(atLow, atHigh)) == 0) continue;
        const int lowMask = _mm256_movemask_pd(atLow), highMask = _mm256_movemask_pd(atHigh);
        for (int lane = 0; lane < 4; ++lane)
            hits.note(k + static_cast<size_t>(lane), lowMask >> lane & 1, highMask >> lane & 1);
    }
    if constexpr (measureGaps) {
        alignas(32) double lanes[4];
        _mm256_store_pd(lanes, aboveLow);
        for (const double lane : lanes) hits.aboveLow = lane < hits.aboveLow ? lane : hits.aboveLow;
        _mm256_store_pd(lanes, belowHigh);
        for (const double lane : lanes) hits.belowHigh = lane > hits.belowHigh ? lane : hits.belowHigh;
    }
    hitsScalar(keys, k, n, low, high, hits);
}

enum class KeyKind { offset, distance };

// keys[k] for four points at a time: a and b are the normal (offset keys)
// or the centre (distance keys).
template <KeyKind kind>
__attribute__((target("avx2"))) void fillQuad(const double* x, const double* y, size_t n, double a, double b,
                                              double* keys)
{
    const __m256d aV = _mm256_set1_pd(a), bV = _mm256_set1_pd(b), sign = _mm256_set1_pd(-0.0);
    size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m256d px = _mm256_loadu_pd(x + k), py = _mm256_loadu_pd(y + k);
        if constexpr (kind == KeyKind::offset) {
            _mm256_storeu_pd(keys + k,
                             _mm256_xor_pd(_mm256_add_pd(_mm256_mul_pd(px, aV), _mm256_mul_pd(py, bV)), sign));
        } else {
            const __m256d dx = _mm256_sub_pd(px, aV), dy = _mm256_sub_pd(py, bV);
            _mm256_storeu_pd(keys + k, _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)));
        }
    }
    for (; k < n; ++k) keys[k] = kind == KeyKind::offset ? offsetKey(x[k], y[k], a, b) : distanceKey(x[k], y[k], a, b);
}

inline bool haveAvx2() { return __builtin_cpu_supports("avx2"); }
#endif

}  // namespace detail

// keys[k] = offsetKey of every point.
inline void fillOffsetKeys(const double* x, const double* y, size_t n, double nx, double ny, double* keys)
{
#if defined(ZSVC_RANK_KEYS_AVX2)
    if (detail::haveAvx2()) return detail::fillQuad<detail::KeyKind::offset>(x, y, n, nx, ny, keys);
#endif
    for (size_t k = 0; k < n; ++k) keys[k] = offsetKey(x[k], y[k], nx, ny);
}

// keys[k] = distanceKey of every point.
inline void fillDistanceKeys(const double* x, const double* y, size_t n, double cx, double cy, double* keys)
{
#if defined(ZSVC_RANK_KEYS_AVX2)
    if (detail::haveAvx2()) return detail::fillQuad<detail::KeyKind::distance>(x, y, n, cx, cy, keys);
#endif
    for (size_t k = 0; k < n; ++k) keys[k] = distanceKey(x[k], y[k], cx, cy);
}

// The first r > 0 with keys[r - 1] not below keys[r] (a tie, a NaN or two
// keys out of order), or n when the keys ascend strictly.
inline size_t firstOutOfOrder(const double* keys, size_t n)
{
    size_t r = 1;
#if defined(__SSE2__)
    for (; r + 2 <= n; r += 2) {
        const __m128d before = _mm_loadu_pd(keys + r - 1), after = _mm_loadu_pd(keys + r);
        if (_mm_movemask_pd(_mm_cmplt_pd(before, after)) != 3) break;
    }
#endif
    while (r < n && keys[r - 1] < keys[r]) ++r;
    return r;
}

// The points whose keys[0..n) reach the bounds.
inline void keyHits(const double* keys, size_t n, double low, double high, BoundHits& hits)
{
#if defined(ZSVC_RANK_KEYS_AVX2)
    if (detail::haveAvx2()) {
        if (hits.measureGaps) return detail::hitsQuad<true>(keys, n, low, high, hits);
        return detail::hitsQuad<false>(keys, n, low, high, hits);
    }
#endif
    detail::hitsScalar(keys, 0, n, low, high, hits);
}

}  // namespace zsvc
