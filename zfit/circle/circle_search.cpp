// The outlier searches of modes 0 and 1: candidate centres from point
// triples, a ranking of all points by distance from each candidate, and a
// window of n - m consecutive ranks slid over the ranking. The two modes
// differ only in how a window is solved, so the search is written once over
// a window solver.
#include <algorithm>
#include <cmath>

#include <zfit/circle/circle_internal.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/system.h>

namespace {

// Free radius: the algebraic circle of the window.
class FreeRadiusWindow {
public:
    zfit_status start(const zmath_vect& origin)
    {
        ZFIT_TRY(zfit_circleVals_init_(&sums_));
        sums_.origin = origin;
        return zfit_ok;
    }
    void add(const zmath_vect& p) { zfit_circleVals_add_(&sums_, p); }
    void remove(const zmath_vect& p) { zfit_circleVals_remove_(&sums_, p); }
    zfit_status solve(zfit_circle* circle) { return zfit_circleVals_solve_(&sums_, circle); }

private:
    zfit_circleVals sums_{};
};

// Fixed radius: the window's algebraic centre with the imposed radius.
class FixedRadiusWindow {
public:
    explicit FixedRadiusWindow(double radius) : radius_(radius) {}
    zfit_status start(const zmath_vect& origin)
    {
        ZFIT_TRY(zfit_circleFixedRadiusVals_init_(&sums_));
        sums_.origin = origin;
        sums_.radius = radius_;
        return zfit_ok;
    }
    void add(const zmath_vect& p) { zfit_circleFixedRadiusVals_add_(&sums_, p); }
    void remove(const zmath_vect& p) { zfit_circleFixedRadiusVals_remove_(&sums_, p); }
    zfit_status solve(zfit_circle* circle) { return zfit_circleFixedRadiusVals_solve_(&sums_, circle); }

private:
    zfit_circleFixedRadiusVals sums_{};
    double radius_;
};

bool finitePoints(std::span<const zmath_vect> points)
{
    for (const zmath_vect& p : points)
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    return true;
}

// The state of one search: the input, the work storage and the caller's
// outputs.
template <class Window>
class Search {
public:
    Search(Window window, std::span<const zmath_vect> points, int32_t numIgnore, double* rmsError,
           zstd_vector32* ignoredIndices)
        : window_(window), p_(points), n_(static_cast<int32_t>(points.size())), m_(numIgnore), L_(n_ - numIgnore),
          rmsError_(rmsError), ignoredIndices_(ignoredIndices)
    {
    }

    // Work storage, created once; the caller's index vector is grown to its
    // final size here too (and emptied again), so the candidate loops never
    // allocate.
    zfit_status prepare()
    {
        ZFIT_TRY(ranksStore_.construct(zstd_vector__constructWithVtable, static_cast<int64_t>(n_),
                                       sizeof(zfit_circleRank), static_cast<const void*>(nullptr)));
        void* begin = nullptr;
        ZFIT_TRY(zstd_vector__getBeginEnd(ranksStore_.get(), &begin, nullptr));
        ranks_ = static_cast<zfit_circleRank*>(begin);
        ZFIT_TRY(windowStore_.construct(zstd_vector_zmath_vect_construct, static_cast<int64_t>(L_)));
        ZFIT_TRY(zstd_vector_zmath_vect_getBegin(windowStore_.get(), &ring_));
        ZFIT_TRY(bestStore_.construct(zstd_vector_zmath_vect_construct, static_cast<int64_t>(L_)));
        ZFIT_TRY(zstd_vector_zmath_vect_getBegin(bestStore_.get(), &bestPoints_));
        ZFIT_TRY(zstd_vector32_resize(ignoredIndices_, m_));
        return zstd_vector32_resize(ignoredIndices_, 0);
    }

    // Every triple (i, j, k) proposes the centre of the circle through it.
    zfit_status searchCandidates()
    {
        for (int32_t i = 0; i < n_ - 2; ++i) {
            ZFIT_TRY(zsys_attention_check());
            for (int32_t j = i + 1; j < n_ - 1; ++j) {
                const zmath_vect mid1{(p_[j].x + p_[i].x) * 0.5, (p_[j].y + p_[i].y) * 0.5};
                const zmath_vect d1 = zsvc::subtract(p_[j], p_[i]);
                const zmath_vect e1{-d1.y, d1.x};
                if (e1.x == 0.0 && e1.y == 0.0) continue;  // p[j] equals p[i]
                zmath_vect u1;                              // along the bisector of p[i], p[j]
                ZFIT_TRY(zmath_vect_getUnit(&e1, &u1));
                for (int32_t k = j + 1; k < n_; ++k) {
                    const zmath_vect mid2{(p_[k].x + p_[i].x) * 0.5, (p_[k].y + p_[i].y) * 0.5};
                    const zmath_vect d2 = zsvc::subtract(p_[k], p_[i]);
                    const zmath_vect e2{-d2.y, d2.x};
                    if (e2.x == 0.0 && e2.y == 0.0) continue;   // p[k] equals p[i]
                    if (e2.x == e1.x && e2.y == e1.y) continue;  // p[k] equals p[j]
                    const double c = zsvc::dot(u1, d2);
                    if (zmath_double_equal(c, 0.0)) continue;  // collinear: the bisectors are parallel
                    // The point of the first bisector that lies on the second.
                    const double t = zsvc::dot(zsvc::subtract(mid2, mid1), d2) / c;
                    const zmath_vect centre{mid1.x + t * u1.x, mid1.y + t * u1.y};
                    ZFIT_TRY(evaluate(centre));
                }
                // Without discarding, every candidate has the one window of all
                // points: the first pair of distinct points is enough.
                if (m_ == 0) return zfit_ok;
            }
            if (m_ == 0) return zfit_ok;
        }
        return zfit_ok;
    }

    // The best window found, checked once more, becomes the result.
    zfit_status finish(zfit_circle* circle)
    {
        if (!(*rmsError_ < HUGE_VAL) && !(*rmsError_ > HUGE_VAL)) return zmath_errDegenerate;
        const std::span<const zmath_vect> best(bestPoints_, static_cast<size_t>(L_));
        // In mode 1 the best circle's radius is the imposed one, so starting
        // the window again at its centre repeats the winning solve's setting.
        ZFIT_TRY(window_.start(best_.centre));
        for (const zmath_vect& p : best) window_.add(p);
        zfit_circle check;
        ZFIT_TRY(window_.solve(&check));
        *rmsError_ = zfit_circleRms_(best_, best);
        *circle = best_;
        return zfit_ok;
    }

private:
    // Ranks all points by distance from the candidate centre and slides the
    // window over the ranks; window s keeps ranks s to s + L - 1.
    zfit_status evaluate(const zmath_vect& centre)
    {
        // A centre that overflowed has no window with a circle; skipping it
        // keeps non-finite distances out of the sort.
        if (!std::isfinite(centre.x) || !std::isfinite(centre.y)) return zfit_ok;
        for (int32_t r = 0; r < n_; ++r) {
            const zmath_vect offset = zsvc::subtract(p_[r], centre);
            ranks_[r] = zfit_circleRank{p_[r], zsvc::dot(offset, offset), r};
        }
        std::sort(ranks_, ranks_ + n_, [](const zfit_circleRank& a, const zfit_circleRank& b) {
            const int order = zfit_circleRank_compare_(a, b);
            return order < 0 || (order == 0 && a.index < b.index);
        });

        ZFIT_TRY(window_.start(centre));
        for (int32_t q = 0; q < L_; ++q) {
            ring_[q] = ranks_[q].point;
            window_.add(ring_[q]);
        }
        const std::span<const zmath_vect> ring(ring_, static_cast<size_t>(L_));
        for (int32_t s = 0; s <= m_; ++s) {
            if (s > 0) {
                // The ring slot of the point leaving the window takes the one
                // entering it, so the ring always holds the summed points.
                window_.remove(ranks_[s - 1].point);
                window_.add(ranks_[s + L_ - 1].point);
                ring_[(s - 1) % L_] = ranks_[s + L_ - 1].point;
            }
            zfit_circle local;
            const zfit_status solved = window_.solve(&local);
            if (solved == zmath_errDegenerate) continue;  // this window has no circle
            ZFIT_TRY(solved);
            const double rms = zfit_circleRms_(local, ring);
            if (rms >= *rmsError_) continue;  // among equal scores the first found stays
            *rmsError_ = rms;
            best_ = local;
            std::copy(ring.begin(), ring.end(), bestPoints_);
            ZFIT_TRY(recordIgnored(s));
        }
        return zfit_ok;
    }

    // The s nearest points, nearest first, then the m - s farthest, nearest
    // first. The vector's storage was grown in prepare().
    zfit_status recordIgnored(int32_t s)
    {
        ZFIT_TRY(zstd_vector32_resize(ignoredIndices_, m_));
        int32_t* out = nullptr;
        ZFIT_TRY(zstd_vector32_getBegin(ignoredIndices_, &out));
        for (int32_t r = 0; r < s; ++r) *out++ = ranks_[r].index;
        for (int32_t r = s + L_; r < n_; ++r) *out++ = ranks_[r].index;
        return zfit_ok;
    }

    Window window_;
    std::span<const zmath_vect> p_;
    int32_t n_, m_, L_;
    double* rmsError_;
    zstd_vector32* ignoredIndices_;

    zsvc::Owned<zstd_vector_> ranksStore_;
    zsvc::Owned<zstd_vector_zmath_vect> windowStore_, bestStore_;
    zfit_circleRank* ranks_ = nullptr;
    zmath_vect* ring_ = nullptr;  // the window's points, in ring order
    zmath_vect* bestPoints_ = nullptr;
    zfit_circle best_{};
};

template <class Window>
zfit_status searchCircle(const zstd_vector_zmath_vect* points, Window window, bool fitsAtAll, int32_t numIgnore,
                         zfit_circle* circle, double* rmsError, zstd_vector32* ignoredIndices)
{
    *rmsError = HUGE_VAL;
    int32_t n = 0;
    const zmath_vect* p = nullptr;
    ZFIT_TRY(zstd_vector_zmath_vect_getSize(points, &n));
    ZFIT_TRY(zstd_vector_zmath_vect_getBeginConst(points, &p));
    // No window to fit: numIgnore takes all points, or more than there are.
    if (n - numIgnore <= 0) return zmath_errDegenerate;
    const std::span<const zmath_vect> all(p, static_cast<size_t>(n));
    // Refused before any sort: a NaN distance would leave the ranking
    // without an order.
    if (!fitsAtAll || !finitePoints(all)) return zmath_errDegenerate;

    Search<Window> search(window, all, numIgnore, rmsError, ignoredIndices);
    ZFIT_TRY(search.prepare());
    ZFIT_TRY(search.searchCandidates());
    return search.finish(circle);
}

}  // namespace

zfit_status zmath_circleFitFreeRadius_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zfit_circle* circle,
                                       double* rmsError, zstd_vector32* ignoredIndices)
{
    return searchCircle(points, FreeRadiusWindow{}, true, numIgnore, circle, rmsError, ignoredIndices);
}

zfit_status zmath_circleFitFixedRadius_(const zstd_vector_zmath_vect* points, double fixedRadius, int32_t numIgnore,
                                        zfit_circle* circle, double* rmsError, zstd_vector32* ignoredIndices)
{
    // No circle has a NaN or infinite radius.
    return searchCircle(points, FixedRadiusWindow{fixedRadius}, std::isfinite(fixedRadius), numIgnore, circle,
                        rmsError, ignoredIndices);
}
