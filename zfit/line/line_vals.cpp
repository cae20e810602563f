// The least-squares core of the line family: solve a moment record, read
// its sum of squares back, and measure an RMS from the points.
//
// Method: orthogonal (total) least squares, the line of closest fit of
// Pearson (1901). The line through the centroid (mx, my) at angle theta
// leaves the sum of squared distances a sin^2 - b sin cos + c cos^2 for the
// centred moments a = S(x-mx)^2, c = S(y-my)^2, b = 2 S(x-mx)(y-my): the
// smaller eigenvalue (a + c - r) / 2 of the scatter matrix, r =
// hypot(b, a - c), at theta = atan2(b, a - c) / 2, the direction of its
// larger eigenvalue's eigenvector (formed below by the half-angle formulas,
// and turned by a half turn where that makes d >= 0).
#include <cmath>
#include <numbers>
#include <span>

#include <zfit/frame/status.hpp>
#include <zfit/line/line_internal.hpp>
#include <zfit/services/containers.hpp>

namespace {

// The line through (mx, my) along the axis of largest spread of the centred
// second moments a = S(x-mx)^2, c = S(y-my)^2, b = 2 S(x-mx)(y-my), with
// r = hypot(b, a - c) > 0; stored with d >= 0.
zfit_status lineAlongAxis(double mx, double my, double a, double b, double c, double r, zmath_shapeFLine* line)
{
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

}  // namespace

zfit_status zfit_lineVals_solve_(const zfit_lineVals* sums, zmath_shapeFLine* line)
{
    ZFIT_FAIL_IF(sums->count < 2, zmath_errDegenerate);
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
    ZFIT_FAIL_IF(!(r > kLineDirectionFloor * (sums->sumXX + sums->sumYY)), zmath_errDegenerate);
    return lineAlongAxis(mx, my, a, b, c, r, line);
}

zfit_status zfit_lineFitCentred_(std::span<const zmath_vect> points, zmath_shapeFLine* line)
{
    const double n = static_cast<double>(points.size());
    ZFIT_FAIL_IF(points.size() < 2, zmath_errDegenerate);
    double mx = 0.0, my = 0.0;
    for (const zmath_vect& q : points) {
        mx += q.x;
        my += q.y;
    }
    mx /= n;
    my /= n;
    double a = 0.0, c = 0.0, sxy = 0.0;
    for (const zmath_vect& q : points) {
        const double dx = q.x - mx, dy = q.y - my;
        a += dx * dx;
        c += dy * dy;
        sxy += dx * dy;
    }
    const double b = 2.0 * sxy;
    const double r = std::hypot(b, a - c);
    ZFIT_FAIL_IF(!(r > kLineDirectionFloor * (a + c)), zmath_errDegenerate);
    return lineAlongAxis(mx, my, a, b, c, r, line);
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

double zfit_lineRms_(const zmath_shapeFLine& line, std::span<const zmath_vect> points)
{
    const double d = line.d, s = line.sine, co = line.cosine;
    const size_t n = points.size();
    // Four partial sums keep the pass from waiting on one long addition chain.
    double partial[4] = {0.0, 0.0, 0.0, 0.0};
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        for (size_t lane = 0; lane < 4; ++lane) {
            const double e = points[i + lane].x * s - points[i + lane].y * co + d;
            partial[lane] += e * e;
        }
    for (; i < n; ++i) {
        const double e = points[i].x * s - points[i].y * co + d;
        partial[0] += e * e;
    }
    return std::sqrt(((partial[0] + partial[1]) + (partial[2] + partial[3])) / static_cast<double>(n));
}

zfit_status zmath_lineFitRmsError_(const zmath_shapeFLine* line, const zstd_vector_zmath_vect* points, double* out)
{
    *out = zfit_lineRms_(*line, zsvc::view(points));
    return zfit_ok;
}
