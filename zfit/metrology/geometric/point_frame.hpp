// What every geometric fit does before it iterates: the input checks shared
// by the circle and the ellipse, the two kinds of weights, and the frame the
// models work in (the points moved to their weighted centroid and scaled to
// unit RMS spread, which keeps the normal equations well conditioned in any
// unit and at any offset).
#pragma once

#include <cmath>
#include <cstdint>

#include <zfit/frame/status.hpp>
#include <zfit/services/require.hpp>
#include <zfit/services/weights.hpp>
#include <zfit/zfit.h>

namespace zmet {

// The weight sources of the unweighted and weighted twins.
using zsvc::UnitWeights;
using PointWeights = zsvc::GivenWeights;

// The unit-spread frame of a point set: q = (p - origin) / scale.
struct Frame {
    zmath_vect origin{};
    double scale = 1.0;
    double inverseScale = 1.0;
    double weightSum = 0.0;     // sum of the weights
    int32_t positiveCount = 0;  // points of positive weight

    zmath_vect toFrame(const zmath_vect& p) const
    {
        return {(p.x - origin.x) * inverseScale, (p.y - origin.y) * inverseScale};
    }
};

// The frame of the points of positive weight, after the checks in this
// order: zmath_errDegenerate for a NaN or infinite coordinate or weight,
// zmet_errTooFewPoints for fewer than minimumCount points of positive
// weight, zmath_errDegenerate when those all lie at one place. Two passes.
template <class Weights>
zfit_status makeFrame(const zmath_vect* points, int32_t count, Weights weights, int32_t minimumCount, Frame& frame)
{
    Frame f;
    double sumX = 0.0, sumY = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const double w = weights[i];
        ZFIT_FAIL_IF(!std::isfinite(points[i].x) || !std::isfinite(points[i].y) || !std::isfinite(w),
                     zmath_errDegenerate);
        if (w > 0.0) {
            ++f.positiveCount;
            f.weightSum += w;
            sumX += w * points[i].x;
            sumY += w * points[i].y;
        }
    }
    ZFIT_FAIL_IF(f.positiveCount < minimumCount, zmet_errTooFewPoints);
    f.origin = {sumX / f.weightSum, sumY / f.weightSum};
    double spread = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const double dx = points[i].x - f.origin.x, dy = points[i].y - f.origin.y;
        spread += weights[i] * (dx * dx + dy * dy);
    }
    f.scale = std::sqrt(spread / f.weightSum);
    ZFIT_FAIL_IF(!(f.scale > 0.0) || !std::isfinite(f.scale) || !std::isfinite(f.origin.x) ||
                     !std::isfinite(f.origin.y),
                 zmath_errDegenerate);
    f.inverseScale = 1.0 / f.scale;
    frame = f;
    return zfit_ok;
}

// isValid after a successful fit: strict and ordered, so equality and NaN
// give 0.
constexpr int32_t validity(double maxRmsError, double rmsError) { return maxRmsError > rmsError ? 1 : 0; }

}  // namespace zmet
