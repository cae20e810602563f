// zmath_lineFitExhaustive_: the least-squares line, discarding every choice
// of numIgnore (0 to 3) points in turn.
//
// Points far from the origin of the coordinates compared with their spread
// (a 50-pixel edge at (4000, 4000) of a large image, a part 1e5 of its sizes
// off) are summed about the first of them, which keeps their spread's digits.
#include <array>
#include <cmath>
#include <numbers>

#include <zfit/frame/status.hpp>
#include <zfit/line/line_internal.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/math.hpp>
#include <zfit/services/system.h>

namespace {

// The sums of points 0 .. n-1, about the first of them as the record takes
// them (so far-off points keep the digits of their spread), in one pass
// without the record's per-point anchoring test. A point's (dx, dy) is one
// pair of lanes, and even and odd points go to two partial sums, so the pass
// does not wait on one long addition chain.
zfit_lineVals sumsOf(const zmath_vect* p, int32_t n)
{
    zfit_lineVals sums;
    zfit_lineVals_init_(&sums);
    if (n == 0) return sums;
    zfit_lineVals_add_(&sums, p[0]);
    const zsvc::Lanes origin = {p[0].x, p[0].y};
    zsvc::Lanes first[2] = {}, second[2] = {}, cross[2] = {};  // S d, S d*d, S dx*dy (in both lanes)
    const auto add = [&](int lane, const zmath_vect& q) {
        const zsvc::Lanes d = zsvc::Lanes{q.x, q.y} - origin;
        const zsvc::Lanes swapped = {d[1], d[0]};
        first[lane] += d;
        second[lane] += d * d;
        cross[lane] += d * swapped;
    };
    int32_t i = 1;
    for (; i + 2 <= n; i += 2) {
        add(0, p[i]);
        add(1, p[i + 1]);
    }
    if (i < n) add(0, p[i]);
    const zsvc::Lanes s1 = first[0] + first[1], s2 = second[0] + second[1], s3 = cross[0] + cross[1];
    sums.sumX = s1[0];
    sums.sumY = s1[1];
    sums.sumXX = s2[0];
    sums.sumYY = s2[1];
    sums.sumXY = s3[0];
    sums.count = n;
    return sums;
}

// The plain least-squares line through all points.
zfit_status fitAll(const zstd_vector_zmath_vect* points, zmath_shapeFLine* line, double* rmsError,
                   zstd_vector32* ignoredIndices)
{
    const std::span<const zmath_vect> all = zsvc::view(points);
    const zmath_vect* p = all.data();
    const int32_t n = zsvc::size32(all);
    const zfit_lineVals sums = sumsOf(p, n);
    ZFIT_TRY(zfit_lineVals_solve_(&sums, line));
    // Measured from the points: the moment read-back loses the digits that
    // matter when the points lie far from the origin.
    ZFIT_TRY(zmath_lineFitRmsError_(line, points, rmsError));
    return zstd_vector32_resize(ignoredIndices, 0);
}

constexpr int32_t maxDiscarded = 3;

// The search over every set of M discarded indices, in lexicographic order.
// Each candidate's sums come from the sums of all points by removing the
// discarded ones (first index first) and are restored by adding them back in
// the reverse order, so no subset is summed afresh. The caller's line and
// rmsError hold the best candidate so far.
template <int32_t M>
class Discarding {
public:
    // The sums of all points, about the first; every candidate keeps that
    // origin (n >= 1: the entry refuses fewer points than are discarded).
    Discarding(const zmath_vect* p, int32_t n, zmath_shapeFLine* line, double* rmsError)
        : p_(p), n_(n), line_(line), rmsError_(rmsError), sums_(sumsOf(p, n))
    {}

    zfit_status run() { return choose<0>(0); }

    // The winning indices, ascending; -1 while no candidate has won.
    const std::array<int32_t, maxDiscarded>& best() const { return best_; }

private:
    // Chooses the discarded index number Depth; it runs up to n - M + Depth
    // so that the later ones still find room.
    template <int32_t Depth>
    zfit_status choose(int32_t from)
    {
        for (int32_t index = from; index <= n_ - M + Depth; ++index) {
            if constexpr (Depth == 0) ZFIT_TRY(zsys_attention_check());
            zfit_lineVals_remove_(&sums_, p_[index]);
            current_[Depth] = index;
            if constexpr (Depth + 1 == M)
                ZFIT_TRY(evaluate());
            else
                ZFIT_TRY(choose<Depth + 1>(index + 1));
            zfit_lineVals_add_(&sums_, p_[index]);
        }
        return zfit_ok;
    }

    // A candidate that cannot be solved ends the whole search. The smaller
    // eigenvalue of the candidate's scatter matrix is its sum of squares
    // without the trigonometry of the solve: a candidate it puts clearly
    // behind the best so far is not solved, as it could not replace it.
    zfit_status evaluate()
    {
        if (clearlyBehind()) return zfit_ok;
        ZFIT_TRY(zfit_lineVals_solve_(&sums_, &candidate_));
        double sumSquares = 0.0;
        ZFIT_TRY(zfit_lineVals_sumSquares_(&sums_, &candidate_, &sumSquares));
        const double rms = std::sqrt(std::fabs(sumSquares) / static_cast<double>(n_ - M));
        if (rms >= *rmsError_) return zfit_ok;  // the earlier candidate stays; NaN replaces
        *rmsError_ = rms;
        *line_ = candidate_;
        best_ = current_;
        return zfit_ok;
    }

    // True only for a candidate that has a line (the solve would accept it)
    // and whose error, up to a wide allowance for rounding, is not below the
    // best so far.
    bool clearlyBehind() const
    {
        const zfit_lineVals& s = sums_;
        if (s.count < 2) return false;
        const double n = static_cast<double>(s.count);
        const double mx = s.sumX / n, my = s.sumY / n;
        const double a = s.sumXX - s.sumX * mx, c = s.sumYY - s.sumY * my, b = 2.0 * (s.sumXY - s.sumX * my);
        const double spread = s.sumXX + s.sumYY;
        const double r = std::sqrt(b * b + (a - c) * (a - c));
        // The solve's own test (where this square root overflows, the solve
        // decides).
        if (!std::isfinite(r) || !(r > kLineDirectionFloor * spread)) return false;
        const double best = *rmsError_;
        const double smallest = 0.5 * (a + c - r);
        return smallest - kLineBehindMargin * spread > best * best * static_cast<double>(n_ - M);
    }

    const zmath_vect* p_;
    int32_t n_;
    zmath_shapeFLine* line_;
    double* rmsError_;
    zfit_lineVals sums_{};
    zmath_shapeFLine candidate_{};
    std::array<int32_t, maxDiscarded> current_{-1, -1, -1};
    std::array<int32_t, maxDiscarded> best_{-1, -1, -1};
};

// RMS distance from the line of every point except the discarded ones
// (ascending, -1 for unused slots), measured from the points.
double keptRmsError(const zmath_shapeFLine& line, const zmath_vect* p, int32_t n,
                    const std::array<int32_t, maxDiscarded>& discarded, int32_t m)
{
    double sum = 0.0;
    int32_t next = 0;
    for (int32_t k = 0; k < n; ++k) {
        if (next < m && discarded[next] == k) {
            ++next;
            continue;
        }
        const double e = zsvc::distanceFrom(line, p[k]);
        sum += e * e;
    }
    return std::sqrt(sum / static_cast<double>(n - m));
}

template <int32_t M>
zfit_status fitDiscarding(const zmath_vect* p, int32_t n, zmath_shapeFLine* line, double* rmsError,
                          zstd_vector32* ignoredIndices)
{
    Discarding<M> search(p, n, line, rmsError);
    ZFIT_TRY(search.run());
    const std::array<int32_t, maxDiscarded>& best = search.best();
    // Only a candidate whose error overflowed to infinity can fail to win;
    // then no line was found.
    ZFIT_FAIL_IF(best[0] < 0, zmath_errDegenerate);
    // The winner's line fitted again from its own points, about their
    // centroid: the search's sums carry the rounding of every point removed
    // and added back, which a discarded point far away makes large. Where
    // that fit finds no direction the search's line stands.
    zmath_shapeFLine refitted;
    if (!zfit::failed(zfit_lineFitCentred_(std::span<const zmath_vect>(p, static_cast<size_t>(n)), &refitted,
                                           std::span<const int32_t>(best.data(), M))))
        *line = refitted;
    *rmsError = keptRmsError(*line, p, n, best, M);
    ZFIT_TRY(zstd_vector32_resize(ignoredIndices, 0));
    for (int32_t slot = 0; slot < M; ++slot) ZFIT_TRY(zstd_vector32_pushBack(ignoredIndices, &best[slot]));
    return zfit_ok;
}

}  // namespace

zfit_status zmath_lineFitExhaustive_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zmath_shapeFLine* line,
                                     double* rmsError, zstd_vector32* ignoredIndices)
{
    *rmsError = HUGE_VAL;
    if (numIgnore == 0) return fitAll(points, line, rmsError, ignoredIndices);
    const std::span<const zmath_vect> all = zsvc::view(points);
    const zmath_vect* p = all.data();
    const int32_t n = zsvc::size32(all);
    // Fewer points than are to be discarded leave nothing to fit, and
    // non-finite coordinates nothing to compare: refused before the search.
    ZFIT_FAIL_IF(n < numIgnore, zmath_errDegenerate);
    ZFIT_FAIL_IF(!zsvc::allFinite(all), zmath_errDegenerate);
    switch (numIgnore) {
    case 1: return fitDiscarding<1>(p, n, line, rmsError, ignoredIndices);
    case 2: return fitDiscarding<2>(p, n, line, rmsError, ignoredIndices);
    case 3: return fitDiscarding<3>(p, n, line, rmsError, ignoredIndices);
    default: return zmath_errFitBadMode;  // the entry sends 4 and more to the ranked search
    }
}
