// zmath_ellipseFitIgnore_: the exhaustive search over every choice of k
// points to leave out.
//
// The left-out set is a strictly decreasing combination c[0] > ... > c[k-1]
// stepped like an odometer whose first wheel turns fastest. Each subset is
// formed in place: swapping positions n-1-j and c[j] for j = 0, ..., k-1
// moves exactly the chosen points to the last k positions, so the first
// n - k positions hold the kept points; undoing the swaps in reverse order
// restores the caller's order for the next subset.
#include <cmath>
#include <utility>

#include <zfit/ellipse/ellipse_internal.hpp>
#include <zfit/frame/status.hpp>
#include <zfit/services/system.h>

namespace {

// The statuses with which a subset's fit says that its points give no
// ellipse; such a subset is skipped.
bool givesNoEllipse(zfit_status status)
{
    return status == zmath_errDegenerate || status == zmath_errServiceDegenerateA ||
           status == zmath_errServiceDegenerateB;
}

void swapChosenToTheEnd(std::span<zmath_vect> points, std::span<const int32_t> combination)
{
    const size_t n = points.size();
    for (size_t j = 0; j < combination.size(); ++j)
        std::swap(points[n - 1 - j], points[static_cast<size_t>(combination[j])]);
}

void swapBack(std::span<zmath_vect> points, std::span<const int32_t> combination)
{
    const size_t n = points.size();
    for (size_t j = combination.size(); j-- > 0;)
        std::swap(points[n - 1 - j], points[static_cast<size_t>(combination[j])]);
}

}  // namespace

zfit_status zmath_ellipseFitFirstCombination_(std::span<int32_t> combination)
{
    const auto k = static_cast<int32_t>(combination.size());
    for (int32_t i = 0; i < k; ++i) combination[static_cast<size_t>(i)] = k - 1 - i;
    return zfit_ok;
}

zfit_status zmath_ellipseFitNextCombination_(std::span<int32_t> combination, int32_t n, int32_t* more)
{
    const auto k = static_cast<int32_t>(combination.size());
    int32_t* c = combination.data();
    int32_t i = 0;
    for (;;) {
        if (i >= k) {
            *more = 0;
            return zfit_ok;
        }
        c[i] += 1;
        if (c[i] < n - i) break;
        ++i;
    }
    for (int32_t j = i; j >= 1; --j) c[j - 1] = c[j] + 1;
    *more = 1;
    return zfit_ok;
}

zfit_status zmath_ellipseFitIgnore_(const zstd_vector_zmath_vect* points, int32_t k, double* rms,
                                    zmath_shapeEllipse* ellipse, zstd_vector32* indices)
{
    double best = HUGE_VAL;
    zmath_shapeEllipse bestEllipse{};
    zmath_shapeEllipse trial{};

    // All storage of the search is had here, once.
    zfit::ellipse::Work work;
    ZFIT_TRY(work.construct());
    zsvc::Owned<zstd_vector32> combinationVector;
    ZFIT_TRY(combinationVector.construct(zstd_vector32_construct, static_cast<int64_t>(k)));
    zsvc::Owned<zstd_vector_zmath_vect> reordered;
    ZFIT_TRY(reordered.construct(zstd_vector_zmath_vect_constructCopy, points));
    ZFIT_TRY(zstd_vector32_resize(indices, k));  // room for the answer, so improvements never allocate
    ZFIT_TRY(zstd_vector32_resize(indices, 0));

    int32_t n = 0;
    ZFIT_TRY(zstd_vector_zmath_vect_getSize(reordered.get(), &n));
    zmath_vect* begin = nullptr;
    ZFIT_TRY(zstd_vector_zmath_vect_getBegin(reordered.get(), &begin));
    int32_t* c = nullptr;
    ZFIT_TRY(zstd_vector32_getBegin(combinationVector.get(), &c));
    const std::span<int32_t> combination(c, static_cast<size_t>(k));
    const std::span<zmath_vect> list(begin, static_cast<size_t>(n));
    const std::span<const zmath_vect> subset(begin, static_cast<size_t>(n - k));
    ZFIT_TRY(zmath_ellipseFitFirstCombination_(combination));

    int32_t more = 1;
    while (more == 1) {
        ZFIT_TRY(zsys_attention_check());

        swapChosenToTheEnd(list, combination);
        zfit_status status = zmath_ellipseFitPoints_(subset, work, &trial);
        if (!zfit::failed(status)) {
            status = zmath_ellipseFitRmsError_(&trial, subset, rms);
            if (!zfit::failed(status) && *rms < best) {
                best = *rms;
                bestEllipse = trial;
                status = zstd_vector32_assign(indices, combinationVector.get());
            }
        } else if (givesNoEllipse(status)) {
            status = zfit_ok;
        }
        swapBack(list, combination);
        ZFIT_TRY(status);

        ZFIT_TRY(zmath_ellipseFitNextCombination_(combination, n, &more));
    }
    ZFIT_FAIL_IF(best == HUGE_VAL, zmath_errDegenerate);
    *rms = best;
    *ellipse = bestEllipse;
    return zfit_ok;
}
