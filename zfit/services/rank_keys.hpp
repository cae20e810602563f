// The per-point passes of the outlier searches: every point's ranking key
// for a candidate, or just the points whose keys lie at or beyond two
// bounds.
//
// These passes run once per candidate over all n points and dominate the
// searches, so they are written over coordinate arrays with SSE2 where the
// compiler offers it (two points per instruction) and as plain loops
// elsewhere. Both forms compute each key with the same operations in the
// same order as the scalar formula, so the keys agree to the last bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
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
// a high bound or NaN, in index order. Only the first `capacity` of each
// are listed; the counts go on.
struct BoundHits {
    std::span<int32_t> low, high;
    size_t lowCount = 0, highCount = 0;

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
        hits.note(k, key <= low, !(key < high));
    }
}

#if defined(__SSE2__)
// Two points at a time; only pairs with a hit leave the fast path.
template <class KeyPair, class KeyOne>
void hitsPaired(const double* x, const double* y, size_t n, double low, double high, BoundHits& hits, KeyPair keyPair,
                KeyOne keyOne)
{
    const __m128d lowV = _mm_set1_pd(low), highV = _mm_set1_pd(high);
    size_t k = 0;
    for (; k + 2 <= n; k += 2) {
        const __m128d key = keyPair(_mm_loadu_pd(x + k), _mm_loadu_pd(y + k));
        const __m128d atLow = _mm_cmple_pd(key, lowV), atHigh = _mm_cmpnlt_pd(key, highV);
        if (_mm_movemask_pd(_mm_or_pd(atLow, atHigh)) == 0) continue;
        const int lowMask = _mm_movemask_pd(atLow), highMask = _mm_movemask_pd(atHigh);
        hits.note(k, lowMask & 1, highMask & 1);
        hits.note(k + 1, lowMask & 2, highMask & 2);
    }
    hitsScalar(x, y, k, n, low, high, hits, keyOne);
}
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
#if defined(__SSE2__)
    const __m128d nxV = _mm_set1_pd(nx), nyV = _mm_set1_pd(ny), sign = _mm_set1_pd(-0.0);
    const auto pair = [&](__m128d px, __m128d py) {
        return _mm_xor_pd(_mm_add_pd(_mm_mul_pd(px, nxV), _mm_mul_pd(py, nyV)), sign);
    };
    detail::hitsPaired(x, y, n, low, high, hits, pair, one);
#else
    detail::hitsScalar(x, y, 0, n, low, high, hits, one);
#endif
}

// The points whose distance keys reach the bounds.
inline void distanceKeyHits(const double* x, const double* y, size_t n, double cx, double cy, double low, double high,
                            BoundHits& hits)
{
    const auto one = [cx, cy](double px, double py) { return distanceKey(px, py, cx, cy); };
#if defined(__SSE2__)
    const __m128d cxV = _mm_set1_pd(cx), cyV = _mm_set1_pd(cy);
    const auto pair = [&](__m128d px, __m128d py) {
        const __m128d dx = _mm_sub_pd(px, cxV), dy = _mm_sub_pd(py, cyV);
        return _mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy));
    };
    detail::hitsPaired(x, y, n, low, high, hits, pair, one);
#else
    detail::hitsScalar(x, y, 0, n, low, high, hits, one);
#endif
}

}  // namespace zsvc
