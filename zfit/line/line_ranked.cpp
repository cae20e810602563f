// zmath_lineFitRanked_: the least-squares line of the n - m points that fit
// best, found by sliding a window of n - m ranks over the ranking across
// every point-pair direction.
#include <cmath>

#include <zfit/line/line_search.hpp>

namespace {

// Scores a window by the RMS of its least-squares line, read back from the
// window's moment sums. The sums slide with the window: one point leaves at
// the top, one enters at the bottom and takes the leaving point's slot in
// the window ring, so no window is summed afresh.
class RankedPolicy {
public:
    zfit_status begin(int32_t n, int32_t m)
    {
        keep_ = n - m;
        ZFIT_TRY(window_.construct(zstd_vector_zmath_vect_construct, static_cast<int64_t>(keep_)));
        ZFIT_TRY(zstd_vector_zmath_vect_getBegin(window_.get(), &ring_));
        ZFIT_TRY(bestPoints_.construct(zstd_vector_zmath_vect_construct, static_cast<int64_t>(keep_)));
        zmath_vect* bestBegin = nullptr;
        return zstd_vector_zmath_vect_getBegin(bestPoints_.get(), &bestBegin);
    }

    // Only the order of the offsets matters: the normal keeps its length.
    zfit_status direction(const zmath_vect&, zmath_vect*) { return zfit_ok; }

    zfit_status score(const zfit_lineRank* ranks, int32_t s, bool* scored, double* rms)
    {
        if (s == 0) {
            zfit_lineVals_init_(&sums_);
            for (int32_t t = 0; t < keep_; ++t) {
                ring_[t] = ranks[t].point;
                zfit_lineVals_add_(&sums_, ranks[t].point);
            }
        } else {
            const zmath_vect& entering = ranks[keep_ - 1 + s].point;
            zfit_lineVals_remove_(&sums_, ranks[s - 1].point);
            zfit_lineVals_add_(&sums_, entering);
            ring_[(s - 1) % keep_] = entering;
        }
        const zfit_status solved = zfit_lineVals_solve_(&sums_, &candidate_);
        if (solved == zmath_errDegenerate) {  // no preferred direction in this window: skip it
            *scored = false;
            return zfit_ok;
        }
        ZFIT_TRY(solved);
        double sumSquares = 0.0;
        ZFIT_TRY(zfit_lineVals_sumSquares_(&sums_, &candidate_, &sumSquares));
        *rms = std::sqrt(std::fabs(sumSquares) / static_cast<double>(keep_));
        *scored = true;
        return zfit_ok;
    }

    zfit_status keep()
    {
        best_ = candidate_;
        return zstd_vector_zmath_vect_assign(bestPoints_.get(), window_.get());
    }

    // The reported error is measured from the kept points themselves; the
    // moment read-back only decided which window won.
    zfit_status finish(zmath_shapeFLine* line, double* rmsError)
    {
        ZFIT_TRY(zmath_lineFitRmsError_(&best_, bestPoints_.get(), rmsError));
        *line = best_;
        return zfit_ok;
    }

private:
    int32_t keep_ = 0;
    zsvc::Owned<zstd_vector_zmath_vect> window_;
    zsvc::Owned<zstd_vector_zmath_vect> bestPoints_;
    zmath_vect* ring_ = nullptr;
    zfit_lineVals sums_{};
    zmath_shapeFLine candidate_{}, best_{};
};

}  // namespace

zfit_status zmath_lineFitRanked_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zmath_shapeFLine* line,
                                 double* rmsError, zstd_vector32* ignoredIndices)
{
    RankedPolicy policy;
    return zfit::line::searchPairDirections(points, numIgnore, line, rmsError, ignoredIndices, policy);
}
