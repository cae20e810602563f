// The per-point passes of the outlier searches: every point's ranking key
// for a candidate, or just the points whose keys lie at or beyond two
// bounds.
//
// These passes run once per candidate over all n points and dominate the
// searches, so they are written over coordinate arrays: with AVX2 where the
// processor has it (four points per instruction), SSE2 where the compiler
// offers it (two) and as plain loops elsewhere. Both forms compute each key with the same operations in the
// same order as the scalar formula, so the keys agree to the last bit.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Four points per instruction on processors with AVX2, chosen at run time.
#define ZSVC_RANK_KEYS_AVX2 1
#include <immintrin.h>
#endif

namespace zsvc {

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
// `capacity` of each are listed; the counts go on. Besides, the nearest keys
// on the far side of each bound: the smallest key above `low` and the
// largest below `high`.
struct BoundHits {
    std::span<int32_t> low, high;
    const uint64_t* skipLow = nullptr;
    const uint64_t* skipHigh = nullptr;
    size_t lowCount = 0, highCount = 0;
    bool measureGaps = true;  // whether to find aboveLow and belowHigh at all
    double aboveLow = HUGE_VAL, belowHigh = -HUGE_VAL;

    void note(size_t k, bool atLow, bool atHigh)
    {
        if (atLow && lowCount++ < low.size()) low[lowCount - 1] = static_cast<int32_t>(k);
        if (atHigh && highCount++ < high.size()) high[highCount - 1] = static_cast<int32_t>(k);
    }
    bool overflowed() const { return lowCount > low.size() || highCount > high.size(); }
};

namespace detail {

// Visits every point's key: scalar form.
template <class KeyOne>
void hitsScalar(const double* x, const double* y, size_t from, size_t n, double low, double high, BoundHits& hits,
                KeyOne keyOne)
{
    for (size_t k = from; k < n; ++k) {
        const double key = keyOne(x[k], y[k]);
        hits.note(k, key <= low && hits.skipLow[k] == 0, !(key < high) && hits.skipHigh[k] == 0);
        if (!hits.measureGaps) continue;
        if (key > low && key < hits.aboveLow) hits.aboveLow = key;
        if (key < high && key > hits.belowHigh) hits.belowHigh = key;
    }
}

#if defined(__SSE2__)
// Two points at a time; only pairs with a hit leave the fast path.
template <bool measureGaps, class KeyPair, class KeyOne>
void hitsPaired(const double* x, const double* y, size_t n, double low, double high, BoundHits& hits, KeyPair keyPair,
                KeyOne keyOne)
{
    const __m128d lowV = _mm_set1_pd(low), highV = _mm_set1_pd(high);
    const __m128d infinity = _mm_set1_pd(HUGE_VAL), minusInfinity = _mm_set1_pd(-HUGE_VAL);
    __m128d aboveLow = infinity, belowHigh = minusInfinity;
    size_t k = 0;
    for (; k + 2 <= n; k += 2) {
        const __m128d key = keyPair(_mm_loadu_pd(x + k), _mm_loadu_pd(y + k));
        const __m128d skipLow = _mm_loadu_pd(reinterpret_cast<const double*>(hits.skipLow + k));
        const __m128d skipHigh = _mm_loadu_pd(reinterpret_cast<const double*>(hits.skipHigh + k));
        const __m128d atLow = _mm_andnot_pd(skipLow, _mm_cmple_pd(key, lowV));
        const __m128d atHigh = _mm_andnot_pd(skipHigh, _mm_cmpnlt_pd(key, highV));
        // Keys strictly between the bounds (never NaN) bring the nearest
        // outsiders closer.
        if constexpr (measureGaps) {
            const __m128d above = _mm_cmpgt_pd(key, lowV), below = _mm_cmplt_pd(key, highV);
            aboveLow = _mm_min_pd(aboveLow, _mm_or_pd(_mm_and_pd(above, key), _mm_andnot_pd(above, infinity)));
            belowHigh = _mm_max_pd(belowHigh, _mm_or_pd(_mm_and_pd(below, key), _mm_andnot_pd(below, minusInfinity)));
        }
        if (_mm_movemask_pd(_mm_or_pd(atLow, atHigh)) == 0) continue;
        const int lowMask = _mm_movemask_pd(atLow), highMask = _mm_movemask_pd(atHigh);
        hits.note(k, lowMask & 1, highMask & 1);
        hits.note(k + 1, lowMask & 2, highMask & 2);
    }
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, aboveLow);
    hits.aboveLow = std::fmin(lanes[0], lanes[1]);
    _mm_store_pd(lanes, belowHigh);
    hits.belowHigh = std::fmax(lanes[0], lanes[1]);
    hitsScalar(x, y, k, n, low, high, hits, keyOne);
}
#endif

enum class KeyKind { offset, distance };

#if defined(ZSVC_RANK_KEYS_AVX2)
// The AVX2 twin of hitsPaired, for both kinds of key: a and b are the
// normal (offset keys) or the centre (distance keys).
template <KeyKind kind, bool measureGaps>
__attribute__((target("avx2"))) void hitsQuad(const double* x, const double* y, size_t n, double a, double b,
                                              double low, double high, BoundHits& hits)
{
    const __m256d aV = _mm256_set1_pd(a), bV = _mm256_set1_pd(b), sign = _mm256_set1_pd(-0.0);
    const __m256d lowV = _mm256_set1_pd(low), highV = _mm256_set1_pd(high);
    const __m256d infinity = _mm256_set1_pd(HUGE_VAL), minusInfinity = _mm256_set1_pd(-HUGE_VAL);
    __m256d aboveLow = infinity, belowHigh = minusInfinity;
    size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m256d px = _mm256_loadu_pd(x + k), py = _mm256_loadu_pd(y + k);
        __m256d key;
        if constexpr (kind == KeyKind::offset) {
            key = _mm256_xor_pd(_mm256_add_pd(_mm256_mul_pd(px, aV), _mm256_mul_pd(py, bV)), sign);
        } else {
            const __m256d dx = _mm256_sub_pd(px, aV), dy = _mm256_sub_pd(py, bV);
            key = _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
        }
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
        for (int lane = 0; lane < 4; ++lane) hits.note(k + static_cast<size_t>(lane), lowMask >> lane & 1, highMask >> lane & 1);
    }
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, aboveLow);
    hits.aboveLow = std::fmin(std::fmin(lanes[0], lanes[1]), std::fmin(lanes[2], lanes[3]));
    _mm256_store_pd(lanes, belowHigh);
    hits.belowHigh = std::fmax(std::fmax(lanes[0], lanes[1]), std::fmax(lanes[2], lanes[3]));
    if constexpr (kind == KeyKind::offset)
        hitsScalar(x, y, k, n, low, high, hits, [a, b](double px, double py) { return offsetKey(px, py, a, b); });
    else
        hitsScalar(x, y, k, n, low, high, hits, [a, b](double px, double py) { return distanceKey(px, py, a, b); });
}

inline bool haveAvx2() { return __builtin_cpu_supports("avx2"); }
#endif

}  // namespace detail

// keys[k] = offsetKey of every point.
inline void fillOffsetKeys(const double* x, const double* y, size_t n, double nx, double ny, double* keys)
{
    for (size_t k = 0; k < n; ++k) keys[k] = offsetKey(x[k], y[k], nx, ny);
}

// keys[k] = distanceKey of every point.
inline void fillDistanceKeys(const double* x, const double* y, size_t n, double cx, double cy, double* keys)
{
    for (size_t k = 0; k < n; ++k) keys[k] = distanceKey(x[k], y[k], cx, cy);
}

// The points whose offset keys reach the bounds.
inline void offsetKeyHits(const double* x, const double* y, size_t n, double nx, double ny, double low, double high,
                          BoundHits& hits)
{
    const auto one = [nx, ny](double px, double py) { return offsetKey(px, py, nx, ny); };
#if defined(ZSVC_RANK_KEYS_AVX2)
    if (detail::haveAvx2()) {
        if (hits.measureGaps) return detail::hitsQuad<detail::KeyKind::offset, true>(x, y, n, nx, ny, low, high, hits);
        return detail::hitsQuad<detail::KeyKind::offset, false>(x, y, n, nx, ny, low, high, hits);
    }
#endif
#if defined(__SSE2__)
    const __m128d nxV = _mm_set1_pd(nx), nyV = _mm_set1_pd(ny), sign = _mm_set1_pd(-0.0);
    const auto pair = [&](__m128d px, __m128d py) {
        return _mm_xor_pd(_mm_add_pd(_mm_mul_pd(px, nxV), _mm_mul_pd(py, nyV)), sign);
    };
    if (hits.measureGaps)
        detail::hitsPaired<true>(x, y, n, low, high, hits, pair, one);
    else
        detail::hitsPaired<false>(x, y, n, low, high, hits, pair, one);
#else
    detail::hitsScalar(x, y, 0, n, low, high, hits, one);
#endif
}

// The points whose distance keys reach the bounds.
inline void distanceKeyHits(const double* x, const double* y, size_t n, double cx, double cy, double low, double high,
                            BoundHits& hits)
{
    const auto one = [cx, cy](double px, double py) { return distanceKey(px, py, cx, cy); };
#if defined(ZSVC_RANK_KEYS_AVX2)
    if (detail::haveAvx2()) {
        if (hits.measureGaps)
            return detail::hitsQuad<detail::KeyKind::distance, true>(x, y, n, cx, cy, low, high, hits);
        return detail::hitsQuad<detail::KeyKind::distance, false>(x, y, n, cx, cy, low, high, hits);
    }
#endif
#if defined(__SSE2__)
    const __m128d cxV = _mm_set1_pd(cx), cyV = _mm_set1_pd(cy);
    const auto pair = [&](__m128d px, __m128d py) {
        const __m128d dx = _mm_sub_pd(px, cxV), dy = _mm_sub_pd(py, cyV);
        return _mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy));
    };
    if (hits.measureGaps)
        detail::hitsPaired<true>(x, y, n, low, high, hits, pair, one);
    else
        detail::hitsPaired<false>(x, y, n, low, high, hits, pair, one);
#else
    detail::hitsScalar(x, y, 0, n, low, high, hits, one);
#endif
}

}  // namespace zsvc
