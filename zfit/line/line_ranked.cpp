// zmath_lineFitRanked_: the least-squares line of the n - m points that fit
// best, found by sliding a window of n - m ranks over the ranking across
// every point-pair direction (line_search.hpp, zfit/services/window_search.hpp).
//
// A window is scored by the RMS distance of its points from their
// least-squares line: the smaller eigenvalue of the window's centred scatter
// matrix, over n - m, formed as the determinant over the larger eigenvalue
// so that points exactly on a line score exactly 0. The score depends on
// the window's points alone, so a window met again is not scored again.
// The winner's line is fitted again from its own points, about their
// centroid, and its error measured from them.
#include <algorithm>
#include <cmath>

#include <zfit/line/line_search.hpp>

namespace {

using zfit::line::Direction;

class RankedPolicy {
public:
    // count, S dx, S dy, S dx^2, S dy^2, S dx dy about the search's origin.
    static constexpr size_t kTerms = 6;
    static constexpr bool kScoreOfSet = true;

    explicit RankedPolicy(zmath_shapeFLine* line) : line_(line) {}

    void reserve(zsvc::Arena& arena, const zsvc::SearchPoints& points)
    {
        arena.reserve(kept_, int64_t{points.n} - points.m);
    }

    zfit_status begin(const zsvc::SearchPoints&) { return zfit_ok; }

    std::array<double, kTerms> terms(double dx, double dy) const { return {1.0, dx, dy, dx * dx, dy * dy, dx * dy}; }

    // The window's RMS distance from its least-squares line, from its
    // centred second moments a, b/2, c: the smaller eigenvalue of
    // [[a, b/2], [b/2, c]] is the sum of squared distances. HUGE_VAL (no
    // contender) when the spread has no preferred direction within the
    // rounding floor of the moments, as the least-squares solve judges.
    zsvc::Verdict score(const zsvc::Window<Direction, kTerms>& window) const
    {
        const auto& [count, sx, sy, sxx, syy, sxy] = window.sums;
        const double mx = sx / count, my = sy / count;
        const double a = sxx - sx * mx, c = syy - sy * my, b = 2.0 * (sxy - sx * my);
        const double r = std::hypot(b, a - c);
        if (!(r > kLineDirectionFloor * (a + c))) return {};
        const double largest = 0.5 * (a + c + r);
        const double smallest = std::max(0.0, a * c - 0.25 * b * b) / largest;
        return {std::sqrt(smallest / count)};
    }

    void keep(const zsvc::Window<Direction, kTerms>&) {}

    template <class Sweep>
    zfit_status finish(Sweep& sweep)
    {
        const std::span<const zmath_vect> kept = sweep.keptPoints(kept_);
        zmath_shapeFLine best{};
        ZFIT_TRY(zfit_lineFitCentred_(kept, &best));
        *sweep.score() = zfit_lineRms_(best, kept);
        *line_ = best;
        return zfit_ok;
    }

private:
    zmath_shapeFLine* line_;
    std::span<zmath_vect> kept_;
};

}  // namespace

zfit_status zmath_lineFitRanked_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zmath_shapeFLine* line,
                                 double* rmsError, zstd_vector32* ignoredIndices)
{
    zfit::line::PairDirections directions(zmath_lineFitModeLeastSquares);
    RankedPolicy policy(line);
    return zsvc::searchWindows(points, numIgnore, rmsError, ignoredIndices, directions, policy);
}
