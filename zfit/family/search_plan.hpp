// The plans of the outlier searches: which counts leave a search too few
// points to keep for any window (the fit then answers at once, without
// searching), how many times a search polls the attention check, and how
// much of its work lies behind each poll.
//
// The searches pace their polls by these functions, and the zfit command
// counts its progress against them, so the two cannot drift apart. n is the
// number of points, m the number discarded (numIgnore). The counts are those
// of a search that runs to its end on finite points; a search that stops
// early (cancelled, or the exhaustive line at a candidate without a
// direction) polls fewer times, and points refused before the search (a
// non-finite coordinate) none.
//
// Header only and constexpr: nothing here is exported.
#pragma once

#include <cstdint>
#include <limits>

namespace zfit::plan {

// C(n, k) as a double; 0 when k > n.
constexpr double choose(int64_t n, int64_t k)
{
    if (k < 0 || k > n) return 0.0;
    double c = 1.0;
    for (int64_t i = 0; i < k; ++i) c = c * static_cast<double>(n - i) / static_cast<double>(i + 1);
    return c;
}

// A count of polls given as a double, rounded and held below INT64_MAX.
constexpr int64_t pollCount(double polls)
{
    return polls < 9e18 ? static_cast<int64_t>(polls + 0.5) : std::numeric_limits<int64_t>::max();
}

// ---- line (mode 0: least squares, mode 1: minimum zone) ----------------------

// The least-squares searches need windows of two points or more (a line
// through one point has no direction): every candidate of the exhaustive
// search, and every window of the ranked one, keeps fewer when
// n <= m + 1. The minimum zone scores a window of a single point (half-width
// 0) and needs only one: n <= m.
constexpr bool lineKeepsTooFew(int64_t n, int64_t m, int32_t mode)
{
    if (m <= 0) return false;  // no search
    return mode == 1 ? n <= m : n <= m + 1;
}

// The exhaustive search (m of 1 to 3) polls once per first discarded index,
// 0 .. n - m; the pair-direction searches (ranked, m >= 4, and the minimum
// zone with points to discard) n times, spread evenly over the pairs; the
// minimum zone without discarding once; the plain least-squares line never.
constexpr int64_t linePolls(int64_t n, int64_t m, int32_t mode)
{
    if (m <= 0) return mode == 1 && n >= 2 ? 1 : 0;
    if (lineKeepsTooFew(n, m, mode)) return 0;
    if (mode == 0 && m <= 3) return n - m + 1;
    return n;
}

// The share of a line search's work done once `done` of its polls have
// been passed (0 to 1). The exhaustive search's pass i tries the
// C(n - 1 - i, m - 1) sets that start at i, so passes 0 .. done - 1 cover
// C(n, m) - C(n - done, m) of the C(n, m) sets; the other searches spread
// their polls evenly.
constexpr double lineShareDone(int64_t n, int64_t m, int32_t mode, int64_t done)
{
    const int64_t polls = linePolls(n, m, mode);
    if (polls <= 0) return 0.0;
    if (done >= polls) return 1.0;
    if (mode == 0 && m >= 1 && m <= 3) return 1.0 - choose(n - done, m) / choose(n, m);
    return static_cast<double>(done) / static_cast<double>(polls);
}

// ---- circle (free and fixed radius alike) -------------------------------------

// A window of fewer than three points has no circle (its normal equations
// are singular), so a search whose windows keep fewer has no answer; with
// fewer than three points at all no triple proposes a centre.
constexpr bool circleKeepsTooFew(int64_t n, int64_t m) { return m > 0 && n - m < 3; }

// Four polls per first index of the triples, 4 (n - 2) in all, spread evenly
// over the n (n - 1) (n - 2) / 6 triples; the fit without discarding has one
// window and polls once.
constexpr int64_t circlePolls(int64_t n, int64_t m)
{
    if (m <= 0) return 1;
    if (circleKeepsTooFew(n, m)) return 0;
    return 4 * (n - 2);
}

constexpr double circleShareDone(int64_t n, int64_t m, int64_t done)
{
    const int64_t polls = circlePolls(n, m);
    if (polls <= 0) return 0.0;
    return done >= polls ? 1.0 : static_cast<double>(done) / static_cast<double>(polls);
}

// ---- ellipse -------------------------------------------------------------------

// Every subset the search fits keeps n - k points, and the algebraic fit
// needs five: with fewer than k + 5 points the fit is refused before the
// search (and before the result is reset).
constexpr bool ellipseKeepsTooFew(int64_t n, int64_t k) { return n - 5 < k; }

// One poll per subset of k points left out, before its fit: C(n, k); none
// without discarding.
constexpr int64_t ellipsePolls(int64_t n, int64_t k)
{
    if (k <= 0 || ellipseKeepsTooFew(n, k)) return 0;
    return pollCount(choose(n, k));
}

constexpr double ellipseShareDone(int64_t n, int64_t k, int64_t done)
{
    const int64_t polls = ellipsePolls(n, k);
    if (polls <= 0) return 0.0;
    return done >= polls ? 1.0 : static_cast<double>(done) / static_cast<double>(polls);
}

}  // namespace zfit::plan
