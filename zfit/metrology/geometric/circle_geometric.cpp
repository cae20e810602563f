// The geometric circle: Levenberg-Marquardt (levenberg_marquardt.hpp) on the
// orthogonal distances d_i = |q_i - c| - r of the points q_i in the
// unit-spread frame, started from the Hyper circle (hyper_circle.hpp).
//
//   free radius,  x = (cx, cy, r):  Jacobian row of d_i
//                 (-(qx - cx)/|q - c|, -(qy - cy)/|q - c|, -1);
//   fixed radius, x = (cx, cy):     the first two entries, r = R / scale.
// A point exactly at the centre has no direction; its row keeps only the
// radius entry. With a fixed radius the start is the Hyper centre moved
// along the line from the centroid so that its distance h from the centroid
// fits the imposed radius: for points on a circle about c, the mean squared
// distance from c is |c - m|^2 + Mz, so h = sqrt(R^2 - Mz) (0 when R is too
// small for the spread).
#include <array>
#include <cmath>

#include <zfit/metrology/geometric/geometric.h>

#include "geometric_entry.hpp"
#include "hyper_circle.hpp"
#include "uncertainty_record.hpp"

namespace zmet {

namespace {

template <class Weights, int P>
class CircleModel {
public:
    static constexpr int parameters = P;
    static_assert(P == 2 || P == 3);

    CircleModel(const zmath_vect* points, int32_t count, Weights weights, const Frame& frame, double fixedRadius)
        : points_(points), count_(count), weights_(weights), frame_(frame), fixedRadius_(fixedRadius)
    {}

    double weightSum() const { return frame_.weightSum; }
    double radius(const Vector<P>& x) const
    {
        if constexpr (P == 3) return x[2];
        return fixedRadius_;
    }

    bool evaluate(const Vector<P>& x, Normal<P>& n) const
    {
        const double r = radius(x);
        if (!std::isfinite(x[0]) || !std::isfinite(x[1]) || !std::isfinite(r)) return false;
        if (P == 3 && !(r > 0.0)) return false;
        for (int32_t i = 0; i < count_; ++i) {
            const double w = weights_[i];
            if (w == 0.0) continue;
            const zmath_vect q = frame_.toFrame(points_[i]);
            const double dx = q.x - x[0], dy = q.y - x[1];
            const double distance = std::sqrt(dx * dx + dy * dy);
            Vector<P> row{};
            if (distance > 0.0) {
                const double inverse = 1.0 / distance;
                row[0] = -dx * inverse;
                row[1] = -dy * inverse;
            }
            if constexpr (P == 3) row[2] = -1.0;
            n.add(row, distance - r, w);
        }
        n.mirror();
        // A residual is the difference of a distance near r and r, formed from
        // points about as far from the frame's origin as the centre and r.
        n.boundRounding(2.0 * (std::fabs(r) + std::fabs(x[0]) + std::fabs(x[1])), frame_.weightSum);
        return std::isfinite(n.rss);
    }

private:
    const zmath_vect* points_;
    int32_t count_;
    Weights weights_;
    Frame frame_;
    double fixedRadius_;
};

// The fixed-radius start: the Hyper centre's direction from the centroid,
// at the distance that suits the imposed radius.
Vector<2> fixedRadiusStart(const CircleParameters& hyper, const CircleMoments& m, double radius)
{
    const double length = std::hypot(hyper.x, hyper.y);
    if (!(length > 0.0)) return {hyper.x, hyper.y};
    const double h = std::sqrt(std::fmax(radius * radius - (m.xx + m.yy), 0.0));
    return {hyper.x / length * h, hyper.y / length * h};
}

template <int P, class Weights>
zfit_status fitWithParameters(const zmath_vect* points, int32_t count, Weights weights,
                              const zmet_geometricCircleParams& params, zmet_geometricCircleResult& result)
{
    Frame frame;
    ZFIT_TRY(makeFrame(points, count, weights, P + 1, frame));
    const double fixedRadius = params.fixedRadius * frame.inverseScale;
    Vector<P> start;
    if (params.useStart) {
        const zmath_vect centre = frame.toFrame(params.startCentre);
        if constexpr (P == 3)
            start = {centre.x, centre.y, params.startRadius * frame.inverseScale};
        else
            start = {centre.x, centre.y};
    } else {
        const CircleMoments moments = circleMoments(points, count, weights, frame);
        CircleParameters hyper;
        ZFIT_FAIL_IF(!hyperCircle(moments, hyper), zmath_errDegenerate);
        if constexpr (P == 3)
            start = {hyper.x, hyper.y, hyper.radius};
        else
            start = fixedRadiusStart(hyper, moments, fixedRadius);
    }
    const CircleModel<Weights, P> model(points, count, weights, frame, fixedRadius);
    LmOutcome<P> fit;
    ZFIT_FAIL_IF(!levenbergMarquardt(model, start, params.maxIterations, fit), zmath_errDegenerate);

    zmet_uncertainty uncertainty{};
    if (fit.converged) {
        std::array<int, P> powers;
        powers.fill(1);
        ZFIT_FAIL_IF(!solutionUncertainty<P>(fit.normal, frame.positiveCount, powers, frame.scale, false, uncertainty),
                     zmath_errDegenerate);
    }
    result.centre = {fit.x[0] * frame.scale + frame.origin.x, fit.x[1] * frame.scale + frame.origin.y};
    result.radius = P == 3 ? fit.x[P - 1] * frame.scale : params.fixedRadius;
    return closeResult(fit, frame, uncertainty, params.maxRmsError, result);
}

template <class Weights>
zfit_status fitCircle(const zmath_vect* points, int32_t count, Weights weights,
                      const zmet_geometricCircleParams* params, zmet_geometricCircleResult* result)
{
    ZFIT_TRY(checkCall(points, count, weights, params, result));
    if (params->mode == 0) return fitWithParameters<3>(points, count, weights, *params, *result);
    ZFIT_FAIL_IF(!std::isfinite(params->fixedRadius), zmath_errDegenerate);
    return fitWithParameters<2>(points, count, weights, *params, *result);
}

}  // namespace

zfit_status checkParams(const zmet_geometricCircleParams& p)
{
    ZFIT_FAIL_IF(0.0 > p.maxRmsError, zmath_errFitMaxRmsErrorNegative);
    ZFIT_FAIL_IF(p.mode != 0 && p.mode != 1, zmath_errFitBadMode);
    ZFIT_FAIL_IF(0.0 > p.fixedRadius, zmath_errFitFixedRadiusNegative);
    ZFIT_FAIL_IF(p.maxIterations < 1, zmath_errFitMaxIterations);
    ZFIT_FAIL_IF(p.numIgnore < 0, zmath_errFitNumIgnoreNegative);
    ZFIT_FAIL_IF(p.useStart != 0 && p.useStart != 1, zmath_errFitBadMode);
    const bool finiteStart = std::isfinite(p.startCentre.x) && std::isfinite(p.startCentre.y) &&
                             (p.mode == 1 || (std::isfinite(p.startRadius) && p.startRadius > 0.0));
    ZFIT_FAIL_IF(p.useStart == 1 && !finiteStart, zmet_errOutOfRange);
    return zfit_ok;
}

}  // namespace zmet

extern "C" {

zfit_status zmet_geometricCircleParams_init(zmet_geometricCircleParams* params)
{
    ZFIT_REQUIRE(params != nullptr);
    params->maxRmsError = HUGE_VAL;
    params->mode = 0;
    params->fixedRadius = 1.0;
    params->maxIterations = 100;
    params->numIgnore = 0;
    params->useStart = 0;
    params->startCentre = {0.0, 0.0};
    params->startRadius = 1.0;
    return zfit_ok;
}

zfit_status zmet_geometricCircleFit(const zmath_vect* points, int32_t count, const zmet_geometricCircleParams* params,
                                    zmet_geometricCircleResult* result)
{
    return zmet::fitCircle(points, count, zmet::UnitWeights{}, params, result);
}

zfit_status zmet_geometricCircleFitWeighted(const zmath_vect* points, int32_t count, const double* weights,
                                            const zmet_geometricCircleParams* params,
                                            zmet_geometricCircleResult* result)
{
    return zmet::fitCircle(points, count, zmet::PointWeights{weights}, params, result);
}

}  // extern "C"
