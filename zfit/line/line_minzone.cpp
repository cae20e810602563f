// zmath_lineFitMinZone_: the centre line of the narrowest strip, among the
// point-pair directions, that holds n - m of the n points.
#include <cmath>

#include <zfit/line/line_search.hpp>

namespace {

// Ranks on the unit normal, so offsets are distances, and scores a window by
// half the spread of its offsets, read straight off the ranking. The
// candidate runs along the pair's direction, midway between the window's
// extreme offsets; its distance is kept as computed and may be negative.
class MinZonePolicy {
public:
    zfit_status begin(int32_t n, int32_t m)
    {
        keep_ = n - m;
        return zfit_ok;
    }

    zfit_status direction(const zmath_vect& dir, zmath_vect* normal)
    {
        zmath_vect unit{};
        ZFIT_TRY(zmath_vect_getUnit(normal, &unit));
        *normal = unit;
        double angle = 0.0;
        ZFIT_TRY(zmath_vect_getDirection(&dir, &angle));
        // The candidate's normal (-sin, cos) is now the unit normal.
        return zmath_shapeFLine_setAngle(&candidate_, &angle);
    }

    zfit_status score(const zfit_lineRank* ranks, int32_t s, bool* scored, double* halfWidth)
    {
        const double top = ranks[s].offset, bottom = ranks[s + keep_ - 1].offset;
        candidate_.d = (top + bottom) * 0.5;
        *halfWidth = std::fabs(top - bottom) * 0.5;
        *scored = true;
        return zfit_ok;
    }

    zfit_status keep()
    {
        best_ = candidate_;
        return zfit_ok;
    }

    zfit_status finish(zmath_shapeFLine* line, double*)
    {
        *line = best_;
        return zfit_ok;
    }

private:
    int32_t keep_ = 0;
    zmath_shapeFLine candidate_{}, best_{};
};

}  // namespace

zfit_status zmath_lineFitMinZone_(const zstd_vector_zmath_vect* points, int32_t numIgnore, zmath_shapeFLine* line,
                                  double* rmsError, zstd_vector32* ignoredIndices)
{
    MinZonePolicy policy;
    return zfit::line::searchPairDirections(points, numIgnore, line, rmsError, ignoredIndices, policy);
}
