// The least-squares core of the line family: solve a moment record, read
// its sum of squares back, and measure an RMS from the points.
#include <cmath>
#include <numbers>

#include <zfit/frame/status.hpp>
#include <zfit/line/line_internal.hpp>

zfit_status zfit_lineVals_solve_(const zfit_lineVals* sums, zmath_shapeFLine* line)
{
    if (sums->count < 2) return zmath_errDegenerate;
    const double n = static_cast<double>(sums->count);
    const double mx = sums->sumX / n, my = sums->sumY / n;
    // Centred second moments: a = S(x-mx)^2, c = S(y-my)^2, b = 2 S(x-mx)(y-my).
    const double a = sums->sumXX - sums->sumX * mx;
    const double c = sums->sumYY - sums->sumY * my;
    const double b = 2.0 * (sums->sumXY - sums->sumX * my);
    // r measures how much the spread depends on direction. Below the rounding
    // floor of the uncentred sums any direction "found" would be noise; an
    // ordered comparison also sends NaN (non-finite input) this way.
    const double r = std::hypot(b, a - c);
    if (!(r > 1e-13 * (sums->sumXX + sums->sumYY))) return zmath_errDegenerate;

    const double k = (a - c) / r;  // cos(2 theta)
    const double s = std::sqrt(std::fmax(0.0, (1.0 - k) / 2.0));
    double co = std::sqrt(std::fmax(0.0, (1.0 + k) / 2.0));
    if (b < 0.0) co = -co;
    const double d = -mx * s + my * co;  // the centroid's offset along the normal (-s, co)
    const double theta = std::atan2(s, co);
    if (d < 0.0) {
        const double turned = theta + std::numbers::pi;
        return zmath_shapeFLine_initAngleDistance(line, &turned, -d);
    }
    return zmath_shapeFLine_initAngleDistance(line, &theta, d);
}

zfit_status zfit_lineVals_sumSquares_(const zfit_lineVals* sums, const zmath_shapeFLine* line, double* out)
{
    const double d = line->d;
    double co = 0.0, s = 0.0;
    ZFIT_TRY(zmath_shapeFLine_getCosine(line, &co));
    ZFIT_TRY(zmath_shapeFLine_getSine(line, &s));
    // S(x s - y co + d)^2 expanded over the moments.
    *out = sums->count * d * d + 2.0 * d * (s * sums->sumX - co * sums->sumY) + s * s * sums->sumXX +
           co * co * sums->sumYY - 2.0 * s * co * sums->sumXY;
    return zfit_ok;
}

zfit_status zmath_lineFitRmsError_(const zmath_shapeFLine* line, const zstd_vector_zmath_vect* points, double* out)
{
    const double d = line->d;
    double co = 0.0, s = 0.0;
    ZFIT_TRY(zmath_shapeFLine_getCosine(line, &co));
    ZFIT_TRY(zmath_shapeFLine_getSine(line, &s));
    int32_t n = 0;
    const zmath_vect* p = nullptr;
    ZFIT_TRY(zstd_vector_zmath_vect_getSize(points, &n));
    ZFIT_TRY(zstd_vector_zmath_vect_getBeginConst(points, &p));
    // Four partial sums keep the pass from waiting on one long addition chain.
    double partial[4] = {0.0, 0.0, 0.0, 0.0};
    int32_t i = 0;
    for (; i + 4 <= n; i += 4)
        for (int32_t lane = 0; lane < 4; ++lane) {
            const double e = p[i + lane].x * s - p[i + lane].y * co + d;
            partial[lane] += e * e;
        }
    for (; i < n; ++i) {
        const double e = p[i].x * s - p[i].y * co + d;
        partial[0] += e * e;
    }
    *out = std::sqrt(((partial[0] + partial[1]) + (partial[2] + partial[3])) / static_cast<double>(n));
    return zfit_ok;
}
