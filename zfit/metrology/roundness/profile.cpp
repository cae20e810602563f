// The profile as the searches see it: normalised points, the
// least-squares starting centre, and the linearisation of the distances
// about a centre.
#include <algorithm>
#include <cmath>

#include "roundness_internal.hpp"

namespace zmet::roundness {

zfit_status makeScratch(Owned<zstd_vectord>& storage, int64_t count, std::span<double>* scratch)
{
    ZFIT_TRY(storage.construct(zstd_vectord_construct, count));
    double* begin = nullptr;
    ZFIT_TRY(zstd_vectord_getBegin(storage.get(), &begin));
    *scratch = std::span<double>(begin, static_cast<std::size_t>(count));
    return zfit_ok;
}

zfit_status makeIndices(Owned<zstd_vector32>& storage, int64_t count, std::span<int32_t>* indices)
{
    ZFIT_TRY(storage.construct(zstd_vector32_construct, count));
    int32_t* begin = nullptr;
    ZFIT_TRY(zstd_vector32_getBegin(storage.get(), &begin));
    *indices = std::span<int32_t>(begin, static_cast<std::size_t>(count));
    return zfit_ok;
}

zfit_status normaliseProfile(const zmath_vect* points, int32_t count, Owned<zstd_vector_zmath_vect>& storage,
                             Profile* profile)
{
    double xmin = HUGE_VAL, xmax = -HUGE_VAL, ymin = HUGE_VAL, ymax = -HUGE_VAL;
    for (int32_t i = 0; i < count; ++i) {
        const zmath_vect& p = points[i];
        ZFIT_FAIL_IF(!std::isfinite(p.x) || !std::isfinite(p.y), zmet_errNotFinite);
        xmin = std::fmin(xmin, p.x), xmax = std::fmax(xmax, p.x);
        ymin = std::fmin(ymin, p.y), ymax = std::fmax(ymax, p.y);
    }
    ZFIT_FAIL_IF(count == 0, zmath_errDegenerate);
    const double extent = std::fmax(xmax - xmin, ymax - ymin);
    ZFIT_FAIL_IF(!std::isfinite(extent), zmet_errNotFinite);
    ZFIT_FAIL_IF(extent == 0.0, zmath_errDegenerate);

    // A power of two between half the extent and the extent: dividing by it
    // is exact, and it stays finite even for an extent near the largest double.
    int exponent = 0;
    std::frexp(extent, &exponent);
    const double scale = std::ldexp(1.0, exponent - 1);
    const zmath_vect origin{0.5 * xmin + 0.5 * xmax, 0.5 * ymin + 0.5 * ymax};

    ZFIT_TRY(storage.construct(zstd_vector_zmath_vect_construct, static_cast<int64_t>(count)));
    zmath_vect* moved = nullptr;
    ZFIT_TRY(zstd_vector_zmath_vect_getBegin(storage.get(), &moved));
    for (int32_t i = 0; i < count; ++i) moved[i] = {(points[i].x - origin.x) / scale, (points[i].y - origin.y) / scale};
    profile->points = std::span<const zmath_vect>(moved, static_cast<std::size_t>(count));
    profile->origin = origin;
    profile->scale = scale;
    return zfit_ok;
}

zfit_status leastSquaresCentre(const Profile& profile, std::span<double> ones, zmath_vect* centre)
{
    for (double& w : ones) w = 1.0;
    zmath_circleFitParams params;
    ZFIT_TRY(zmath_circleFitParams_init(&params));
    Owned<zmath_circleFitResult> fit;
    ZFIT_TRY(fit.construct(zmath_circleFitResult_construct));
    ZFIT_TRY(zmath_circleFitWeighted(profile.points.data(), static_cast<int32_t>(profile.points.size()), ones.data(),
                                     &params, fit.get()));
    *centre = fit.get()->centre;
    return zfit_ok;
}

Radii radiiAbout(const Profile& profile, const zmath_vect& centre)
{
    // Squared distances: one square root for each extreme instead of one per
    // point (the square root is monotone, so the extremes are the same).
    double nearest2 = HUGE_VAL, farthest2 = 0.0;
    for (const zmath_vect& p : profile.points) {
        const double dx = p.x - centre.x, dy = p.y - centre.y, d2 = dx * dx + dy * dy;
        nearest2 = d2 < nearest2 ? d2 : nearest2;
        farthest2 = d2 > farthest2 ? d2 : farthest2;
    }
    return {std::sqrt(nearest2), std::sqrt(farthest2)};
}

namespace {

// A monotone stand-in for the angle of (dx, dy), in [0, 1]; it turns at
// most 8 radians per unit.
double pseudoAngle(double dx, double dy)
{
    const double sum = std::fabs(dx) + std::fabs(dy);
    const double p = sum > 0.0 ? dx / sum : 0.0;
    return (dy > 0.0 ? 3.0 - p : 1.0 + p) / 4.0;
}
constexpr double kRadiansPerPseudo = 8.0;

}  // namespace

int32_t bucketOf(const zmath_vect& p, const zmath_vect& centre, int32_t buckets)
{
    const auto b = static_cast<int32_t>(pseudoAngle(p.x - centre.x, p.y - centre.y) * buckets);
    return b < 0 ? 0 : b >= buckets ? buckets - 1 : b;
}

Surround surroundAbout(const Profile& profile, const zmath_vect& centre, std::span<int32_t> marks)
{
    const auto buckets = static_cast<int32_t>(marks.size());
    std::fill(marks.begin(), marks.end(), 0);
    Surround s;
    double nearest2 = HUGE_VAL, farthest2 = 0.0;
    for (const zmath_vect& p : profile.points) {
        const double dx = p.x - centre.x, dy = p.y - centre.y, d2 = dx * dx + dy * dy;
        nearest2 = d2 < nearest2 ? d2 : nearest2;
        farthest2 = d2 > farthest2 ? d2 : farthest2;
        marks[static_cast<std::size_t>(bucketOf(p, centre, buckets))] = 1;
    }
    s.nearest = std::sqrt(nearest2);
    s.farthest = std::sqrt(farthest2);
    // The longest run of empty buckets, around the turn: two points in
    // buckets with k empty ones between them are at most k + 2 buckets
    // apart.
    int32_t longest = 0, run = 0;
    for (int32_t b = 0; b < 2 * buckets && longest < buckets; ++b) {
        run = marks[static_cast<std::size_t>(b % buckets)] != 0 ? 0 : run + 1;
        longest = run > longest ? run : longest;
    }
    s.widestGap = kRadiansPerPseudo * (longest + 2) / buckets;
    return s;
}

Linearisation linearisationIn(std::span<double> scratch, int32_t n)
{
    const auto size = static_cast<std::size_t>(n);
    Linearisation lin;
    lin.rho = scratch.subspan(0, size);
    lin.ux = scratch.subspan(size, size);
    lin.uy = scratch.subspan(2 * size, size);
    return lin;
}

void linearise(const Profile& profile, const zmath_vect& centre, Linearisation& lin)
{
    double nearest = HUGE_VAL, farthest = 0.0;
    const std::size_t n = profile.points.size();
    for (std::size_t k = 0; k < n; ++k) {
        const double dx = profile.points[k].x - centre.x, dy = profile.points[k].y - centre.y;
        const double rho = std::sqrt(dx * dx + dy * dy);
        const double inverse = rho > 0.0 ? 1.0 / rho : 0.0;
        lin.rho[k] = rho;
        lin.ux[k] = dx * inverse;
        lin.uy[k] = dy * inverse;
        nearest = rho < nearest ? rho : nearest;
        farthest = rho > farthest ? rho : farthest;
    }
    lin.nearest = nearest;
    lin.farthest = farthest;
}

}  // namespace zmet::roundness
