// zmath_lineFitExhaustive_: the least-squares line, discarding every choice
// of numIgnore (0 to 3) points in turn.
#include <array>
#include <cmath>

#include <zfit/frame/status.hpp>
#include <zfit/line/line_internal.hpp>
#include <zfit/services/system.h>

namespace {

// The plain least-squares line through all points.
zfit_status fitAll(const zstd_vector_zmath_vect* points, zmath_shapeFLine* line, double* rmsError,
                   zstd_vector32* ignoredIndices)
{
    int32_t n = 0;
    const zmath_vect* p = nullptr;
    ZFIT_TRY(zstd_vector_zmath_vect_getSize(points, &n));
    ZFIT_TRY(zstd_vector_zmath_vect_getBeginConst(points, &p));
    zfit_lineVals sums;
    zfit_lineVals_init_(&sums);
    for (int32_t i = 0; i < n; ++i) zfit_lineVals_add_(&sums, p[i]);
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
    Discarding(const zmath_vect* p, int32_t n, zmath_shapeFLine* line, double* rmsError)
        : p_(p), n_(n), line_(line), rmsError_(rmsError)
    {
        zfit_lineVals_init_(&sums_);
        for (int32_t k = 0; k < n; ++k) zfit_lineVals_add_(&sums_, p[k]);
    }

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
        // The solve's own test (its hypot never overflows; where this square
        // root does, the solve decides).
        if (!std::isfinite(r) || !(r > 1e-13 * spread)) return false;
        const double best = *rmsError_;
        const double smallest = 0.5 * (a + c - r);
        return smallest - 1e-12 * spread > best * best * static_cast<double>(n_ - M);
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
    if (best[0] < 0) return zmath_errDegenerate;
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
    int32_t n = 0;
    const zmath_vect* p = nullptr;
    ZFIT_TRY(zstd_vector_zmath_vect_getSize(points, &n));
    ZFIT_TRY(zstd_vector_zmath_vect_getBeginConst(points, &p));
    // Fewer points than are to be discarded leave nothing to fit, and
    // non-finite coordinates nothing to compare: refused before the search.
    if (n < numIgnore) return zmath_errDegenerate;
    if (!zfit_linePointsFinite_(p, n)) return zmath_errDegenerate;
    switch (numIgnore) {
    case 1: return fitDiscarding<1>(p, n, line, rmsError, ignoredIndices);
    case 2: return fitDiscarding<2>(p, n, line, rmsError, ignoredIndices);
    case 3: return fitDiscarding<3>(p, n, line, rmsError, ignoredIndices);
    default: return zmath_errFitBadMode;  // the entry sends 4 and more to the ranked search
    }
}
