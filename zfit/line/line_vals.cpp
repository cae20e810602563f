// The least-squares core of the line family: solve a moment record, read
// its sum of squares back, and measure an RMS from the points.
//
// Method: orthogonal (total) least squares, the line of closest fit of
// Pearson (1901). The line through the centroid (mx, my) at angle theta
// leaves the sum of squared distances a sin^2 - 2 sxy sin cos + c cos^2 for
// the centred moments a = S(x-mx)^2, c = S(y-my)^2, sxy = S(x-mx)(y-my):
// least at theta = atan2(2 sxy, a - c) / 2, the direction of the scatter
// matrix's larger eigenvector, where it is its smaller eigenvalue
// (a + c - hypot(2 sxy, a - c)) / 2. The angle comes straight from atan2,
// which keeps its relative precision for small angles and near the axes
// (the half-angle formulas sqrt((1 -+ cos 2 theta) / 2) cancel there), and
// the line is turned by a half turn where that makes d >= 0.
#include <cmath>
#include <numbers>
#include <span>

#include <zfit/frame/status.hpp>
#include <zfit/line/line_internal.hpp>
#include <zfit/services/containers.hpp>

namespace {

// The line through `centroid` along the axis of largest spread of the
// centred second moments a = S(x-mx)^2, c = S(y-my)^2, sxy =
// S(x-mx)(y-my): theta in [0, pi), stored with d >= 0. Without a cross
// moment (of either sign) the line lies along an axis, theta 0 or pi/2, and
// d is the centroid's coordinate across it, exactly.
zfit_status lineAlongAxis(const zmath_vect& centroid, double a, double c, double sxy, zmath_shapeFLine* line)
{
    double theta = 0.0, d = centroid.y;
    if (sxy != 0.0) {
        theta = 0.5 * std::atan2(2.0 * sxy, a - c);
        if (theta < 0.0) theta += std::numbers::pi;
        const double sine = std::sin(theta), cosine = std::cos(theta);
        d = -centroid.x * sine + centroid.y * cosine;
        // Unless the line turns by a half turn, these are its own sine and
        // cosine: no need to find them again.
        if (!(d < 0.0)) {
            *line = zmath_shapeFLine{.d = d, .angle = theta, .sine = sine, .cosine = cosine};
            return zfit_ok;
        }
    } else if (a < c) {
        theta = 0.5 * std::numbers::pi;  // along the y axis
        d = -centroid.x;
    }
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
    const double mx = sums->sumX / n, my = sums->sumY / n;  // from the record's origin
    const double a = sums->sumXX - sums->sumX * mx;
    const double c = sums->sumYY - sums->sumY * my;
    const double sxy = sums->sumXY - sums->sumX * my;
    // Below the rounding floor of the sums any direction "found" would be
    // noise; NaN (non-finite input) has no direction either.
    ZFIT_FAIL_IF(!zfit_lineHasDirection_(a, c, sxy, sums->sumXX + sums->sumYY), zmath_errDegenerate);
    return lineAlongAxis({sums->origin.x + mx, sums->origin.y + my}, a, c, sxy, line);
}

zfit_status zfit_lineFitCentred_(std::span<const zmath_vect> points, zmath_shapeFLine* line,
                                 std::span<const int32_t> left)
{
    const size_t count = points.size() - left.size();
    ZFIT_FAIL_IF(count < 2, zmath_errDegenerate);
    // Calls f on every point kept, in order.
    const auto eachKept = [&](auto&& f) {
        size_t next = 0;
        for (size_t k = 0; k < points.size(); ++k) {
            if (next < left.size() && static_cast<size_t>(left[next]) == k) {
                ++next;
                continue;
            }
            f(points[k]);
        }
    };
    const double n = static_cast<double>(count);
    double mx = 0.0, my = 0.0;
    eachKept([&](const zmath_vect& q) {
        mx += q.x;
        my += q.y;
    });
    mx /= n;
    my /= n;
    double a = 0.0, c = 0.0, sxy = 0.0;
    eachKept([&](const zmath_vect& q) {
        const double dx = q.x - mx, dy = q.y - my;
        a += dx * dx;
        c += dy * dy;
        sxy += dx * dy;
    });
    ZFIT_FAIL_IF(!zfit_lineHasDirection_(a, c, sxy, a + c), zmath_errDegenerate);
    return lineAlongAxis({mx, my}, a, c, sxy, line);
}

zfit_status zfit_lineVals_sumSquares_(const zfit_lineVals* sums, const zmath_shapeFLine* line, double* out)
{
    double co = 0.0, s = 0.0;
    ZFIT_TRY(zmath_shapeFLine_getCosine(line, &co));
    ZFIT_TRY(zmath_shapeFLine_getSine(line, &s));
    // S(x s - y co + d)^2 expanded over the moments of (dx, dy) = (x, y) -
    // origin: d becomes the signed distance of the origin from the line.
    const double d = sums->origin.x * s - sums->origin.y * co + line->d;
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
