// The plain outlier searches, written as directly as they can be: the
// oracle the fast searches are compared with. Every pair of points (a line
// direction) or triple (a circle centre) in loop order; all points sorted by
// their key, equal keys in input order; every window of n - m consecutive
// ranks solved and scored; the strictly smallest score wins.
#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>
#include <vector>

#include <zfit/zfit.h>

namespace plain {

using Indices = std::vector<int32_t>;
using Pts = std::vector<zmath_vect>;

// Every window met, by its discarded set (ascending): its smallest score and
// the discarded points in the rank order of the first window that scored it.
struct Windows {
    struct Seen {
        double score;
        Indices order;
        zmath_vect candidate;  // the normal or centre that ranked it so
    };
    std::map<Indices, Seen> sets;
    Indices winner;  // the winning set, ascending; none while no window was solved
    double best = HUGE_VAL;
};

// One ranking and its windows s = 0..m: window s keeps ranks s..s+n-m-1 and
// discards the s ranks above it and the m - s below it, in rank order.
// score(kept) has no value for a window without a solution.
template <class Score>
void slide(const std::vector<double>& keys, int32_t m, const zmath_vect& candidate, Score score, Windows& w)
{
    const int32_t n = static_cast<int32_t>(keys.size()), kept = n - m;
    Indices order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return keys[a] < keys[b]; });
    for (int32_t s = 0; s <= m; ++s) {
        const auto from = order.begin() + s, to = from + kept;
        const std::optional<double> h = score(Indices(from, to));
        if (!h) continue;
        Indices ignored(order.begin(), from);
        ignored.insert(ignored.end(), to, order.end());
        Indices set = ignored;
        std::sort(set.begin(), set.end());
        const auto [at, isNew] = w.sets.try_emplace(set, Windows::Seen{*h, ignored, candidate});
        if (!isNew && *h < at->second.score) at->second = {*h, ignored, candidate};
        if (*h < w.best) {
            w.best = *h;
            w.winner = set;
        }
    }
}

// Every pair i < j of distinct points proposes the direction p[j] - p[i];
// the points are ranked by their offset across it, largest first, on the
// pair's own normal (-dy, dx) or, with `unit`, on the unit normal.
// score(kept, normal).
template <class Score>
Windows linePairs(const Pts& p, int32_t m, bool unit, Score score)
{
    Windows w;
    const size_t n = p.size();
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j) {
            const zmath_vect dir{p[j].x - p[i].x, p[j].y - p[i].y}, pairNormal{-dir.y, dir.x};
            if (dir.x == 0 && dir.y == 0) continue;
            zmath_vect normal = pairNormal;
            if (unit && zmath_vect_getUnit(&pairNormal, &normal) != 0) continue;
            std::vector<double> keys;
            for (const zmath_vect& q : p) keys.push_back(-(q.x * normal.x + q.y * normal.y));
            slide(
                keys, m, normal, [&](const Indices& kept) { return score(kept, normal); }, w);
        }
    return w;
}

// Every triple i < j < k of points that are neither equal nor collinear
// proposes its circumcentre, formed along the bisector of p[i] and p[j];
// the points are ranked by their squared distance from it. score(kept, centre).
template <class Score>
Windows circleTriples(const Pts& p, int32_t m, Score score)
{
    Windows w;
    const size_t n = p.size();
    for (size_t i = 0; i + 2 < n; ++i)
        for (size_t j = i + 1; j + 1 < n; ++j) {
            const zmath_vect mid1{(p[j].x + p[i].x) * 0.5, (p[j].y + p[i].y) * 0.5},
                e1{p[i].y - p[j].y, p[j].x - p[i].x};
            zmath_vect u{};
            if ((e1.x == 0 && e1.y == 0) || zmath_vect_getUnit(&e1, &u) != 0) continue;
            for (size_t k = j + 1; k < n; ++k) {
                const zmath_vect mid2{(p[k].x + p[i].x) * 0.5, (p[k].y + p[i].y) * 0.5};
                const zmath_vect d2{p[k].x - p[i].x, p[k].y - p[i].y};
                if ((d2.x == 0 && d2.y == 0) || (-d2.y == e1.x && d2.x == e1.y)) continue;
                const double c = u.x * d2.x + u.y * d2.y;
                if (zmath_double_equal(c, 0.0)) continue;
                const double t = ((mid2.x - mid1.x) * d2.x + (mid2.y - mid1.y) * d2.y) / c;
                const zmath_vect centre{mid1.x + t * u.x, mid1.y + t * u.y};
                if (!std::isfinite(centre.x) || !std::isfinite(centre.y)) continue;
                std::vector<double> keys;
                for (const zmath_vect& q : p) {
                    const double dx = q.x - centre.x, dy = q.y - centre.y;
                    keys.push_back(dx * dx + dy * dy);
                }
                slide(
                    keys, m, centre, [&](const Indices& kept) { return score(kept, centre); }, w);
            }
        }
    return w;
}

}  // namespace plain
