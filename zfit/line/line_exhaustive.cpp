// zmath_lineFitExhaustive_: the least-squares line, discarding every choice
// of numIgnore (0 to 3) points in turn.
//
// Points far from the origin of the coordinates compared with their spread
// (a 50-pixel edge at (4000, 4000) of a large image, a part 1e5 of its sizes
// off) are summed about one of their own, and the lines solved from those
// sums are moved back.
#include <array>
#include <cmath>
#include <numbers>

#include <zfit/frame/status.hpp>
#include <zfit/line/line_internal.hpp>
#include <zfit/services/containers.hpp>
#include <zfit/services/system.h>

namespace {

// Where the points are summed from: the origin of the coordinates, unless
// the sums about it have lost too many digits to the points' distance from
// it, their centred second moments being below a millionth of the raw ones
// (the points lie more than about a thousand times their spread away): a
// direction read from them would keep fewer than ten digits, and further
// out none. Then the first point. So is it when only the raw sums' total
// overflows (points near 1e154 that spread as widely); sums that overflowed
// themselves, or are NaN, keep the origin and are refused by the solve.
zmath_vect summingOrigin(const zfit_lineVals& s, const zmath_vect* p)
{
    if (s.count < 2) return {0.0, 0.0};
    const double n = static_cast<double>(s.count);
    const double centred = (s.sumXX - s.sumX * (s.sumX / n)) + (s.sumYY - s.sumY * (s.sumY / n));
    return centred < kLineCentredFloor * (s.sumXX + s.sumYY) ? p[0] : zmath_vect{0.0, 0.0};
}

bool isOrigin(const zmath_vect& v) { return v.x == 0.0 && v.y == 0.0; }

// *line, solved from sums of points measured from `origin`, in the caller's
// coordinates: the same direction through the summed points' centroid,
// stored with d >= 0 as the solve stores it (a negative d turns the line by
// a half turn).
zfit_status moveBack(const zfit_lineVals& sums, const zmath_vect& origin, zmath_shapeFLine* line)
{
    const double n = static_cast<double>(sums.count);
    const zmath_vect centroid{origin.x + sums.sumX / n, origin.y + sums.sumY / n};
    const double d = -centroid.x * line->sine + centroid.y * line->cosine, angle = line->angle;
    if (!(d < 0.0)) return zmath_shapeFLine_initAngleDistance(line, &angle, d);
    double turned = angle + std::numbers::pi;
    if (turned >= 2.0 * std::numbers::pi) turned -= 2.0 * std::numbers::pi;
    return zmath_shapeFLine_initAngleDistance(line, &turned, -d);
}

// The sums of points 0 .. n-1 measured from `origin`.
zfit_lineVals sumsFrom(const zmath_vect* p, int32_t n, const zmath_vect& origin)
{
    zfit_lineVals sums;
    zfit_lineVals_init_(&sums);
    for (int32_t i = 0; i < n; ++i) zfit_lineVals_add_(&sums, zsvc::subtract(p[i], origin));
    return sums;
}

// The plain least-squares line through all points.
zfit_status fitAll(const zstd_vector_zmath_vect* points, zmath_shapeFLine* line, double* rmsError,
                   zstd_vector32* ignoredIndices)
{
    const std::span<const zmath_vect> all = zsvc::view(points);
    const zmath_vect* p = all.data();
    const int32_t n = zsvc::size32(all);
    zfit_lineVals sums = sumsFrom(p, n, {0.0, 0.0});
    const zmath_vect origin = summingOrigin(sums, p);
    if (isOrigin(origin)) {
        ZFIT_TRY(zfit_lineVals_solve_(&sums, line));
    } else {
        sums = sumsFrom(p, n, origin);
        zmath_shapeFLine local;
        ZFIT_TRY(zfit_lineVals_solve_(&sums, &local));
        ZFIT_TRY(moveBack(sums, origin, &local));
        *line = local;
    }
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
    // The summing origin is chosen once, from all points (n >= 1: the entry
    // refuses fewer points than are discarded).
    Discarding(const zmath_vect* p, int32_t n, zmath_shapeFLine* line, double* rmsError)
        : p_(p), n_(n), line_(line), rmsError_(rmsError)
    {
        sums_ = sumsFrom(p, n, origin_);
        origin_ = summingOrigin(sums_, p);
        if (!isOrigin(origin_)) sums_ = sumsFrom(p, n, origin_);
    }

    zfit_status run() { return choose<0>(0); }

    // The winning indices, ascending; -1 while no candidate has won.
    const std::array<int32_t, maxDiscarded>& best() const { return best_; }

private:
    // Point k as summed (exact when the origin is that of the coordinates).
    zmath_vect local(int32_t k) const { return zsvc::subtract(p_[k], origin_); }

    // Chooses the discarded index number Depth; it runs up to n - M + Depth
    // so that the later ones still find room.
    template <int32_t Depth>
    zfit_status choose(int32_t from)
    {
        for (int32_t index = from; index <= n_ - M + Depth; ++index) {
            if constexpr (Depth == 0) ZFIT_TRY(zsys_attention_check());
            zfit_lineVals_remove_(&sums_, local(index));
            current_[Depth] = index;
            if constexpr (Depth + 1 == M)
                ZFIT_TRY(evaluate());
            else
                ZFIT_TRY(choose<Depth + 1>(index + 1));
            zfit_lineVals_add_(&sums_, local(index));
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
        // Scored as summed; the winner goes to the caller's coordinates.
        zmath_shapeFLine moved = candidate_;
        if (!isOrigin(origin_)) ZFIT_TRY(moveBack(sums_, origin_, &moved));
        *rmsError_ = rms;
        *line_ = moved;
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
        if (!std::isfinite(r) || !(r > kLineDirectionFloor * spread)) return false;
        const double best = *rmsError_;
        const double smallest = 0.5 * (a + c - r);
        return smallest - kLineBehindMargin * spread > best * best * static_cast<double>(n_ - M);
    }

    const zmath_vect* p_;
    int32_t n_;
    zmath_vect origin_{0.0, 0.0};
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
