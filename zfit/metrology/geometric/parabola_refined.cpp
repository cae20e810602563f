// The parabola of libzfit.so with its axis angle refined to rounding (see
// parabola.h).
//
// Method: variable projection (Golub and Pereyra 1973; Kaufman's
// Gauss-Newton form, 1975) on the one nonlinear parameter, the axis angle
// theta. In the points turned by -theta, (u, v) = R(-theta) (p - m) / s in
// the unit-spread frame of weighted centroid m and scale s, the polynomial
// v = a u^2 + b u + c is linear least squares; with it eliminated, the sum
// of squares F(theta) = sum w r^2 depends on theta alone. In the code's
// symbols:
//   1. the fit at theta is taken in the orthogonal polynomial basis
//        p0 = 1, p1 = u - alpha0, p2 = (u - alpha1) p1 - beta1
//      (Forsythe's three-term recurrence for the weights w), where the
//      coefficients are plain projections c_k = S w v p_k / S w p_k^2: no
//      normal equations, so no squared condition number;
//   2. with the coefficients held (they are optimal, so their own change
//      does not enter), dr/dtheta = d = -u - (2 a u + b) v, since
//      du/dtheta = v and dv/dtheta = -u; the gradient is F' = 2 S w r d;
//   3. Gauss-Newton takes F'' as 2 S w (P d)^2, P the projection away from
//      the basis, which in the orthogonal basis is
//      S w d^2 - sum_k (S w d p_k)^2 / S w p_k^2;
//   4. the step -F' / F'' is taken while it lowers F; once the decrease it
//      promises is below the rounding of F, it is taken unless it raises F
//      beyond that rounding (at the current angle or at the start), and the
//      refinement ends when a step is at the angle's rounding, stops
//      shrinking, or raises F after all (as the geometric fits end,
//      levenberg_marquardt.hpp).
// Then a >= 0 by a half turn where needed (as libzfit reports it), the
// vertex (-b / 2a, c - b^2 / 4a) is carried back to the plane, and the
// lengths are scaled back.
#include <cmath>
#include <numbers>

#include <zfit/metrology/geometric/parabola.h>
#include <zfit/services/math.hpp>
#include <zfit/zfit.hpp>

#include "point_frame.hpp"

namespace zmet {

namespace {

// A step that moves the angle by no more than this share of it (of 1 for
// angles below 1 rad) is its rounding.
constexpr double kRoundingStep = 32.0 * 0x1p-52;
// Below the resolution of F, a step that is not a tenth shorter than the
// one before is rounding noise.
constexpr double kShrinking = 0.9;
// F carries a few units in the last place of the terms each residual is
// formed from.
constexpr double kRoundingUlps = 4.0 * 0x1p-52;
// How often a step that raises F is halved before the refinement gives up.
constexpr int kHalvings = 30;

// The polynomial fit of the frame's points turned by -theta, with what the
// Gauss-Newton step needs.
struct AtAngle {
    double theta = 0.0;
    double a = 0.0, b = 0.0, c = 0.0;  // v = a u^2 + b u + c
    double rss = 0.0, rounding = 0.0;  // F and a bound on its rounding
    double gradient = 0.0, curvature = 0.0;
    bool solved = false;  // three distinct abscissae of positive weight
};

template <class Weights>
class TurnedPoints {
public:
    TurnedPoints(const zmath_vect* points, int32_t count, Weights weights, const Frame& frame)
        : points_(points), count_(count), weights_(weights), frame_(frame)
    {}

    AtAngle at(double theta) const
    {
        AtAngle out;
        out.theta = theta;
        const double co = std::cos(theta), si = std::sin(theta);
        const auto turned = [&](int32_t i) {
            const zmath_vect q = frame_.toFrame(points_[i]);
            return zmath_vect{co * q.x + si * q.y, -si * q.x + co * q.y};
        };
        // The basis p0 = 1, p1 = u - alpha0, p2 = (u - alpha1) p1 - beta1 and
        // the projections of v on it.
        const double total = frame_.weightSum;
        double su = 0.0, sv = 0.0;
        for (int32_t i = 0; i < count_; ++i) {
            const zmath_vect t = turned(i);
            su += weights_[i] * t.x;
            sv += weights_[i] * t.y;
        }
        const double alpha0 = su / total, c0 = sv / total;
        double n1 = 0.0, su1 = 0.0, sv1 = 0.0;
        for (int32_t i = 0; i < count_; ++i) {
            const zmath_vect t = turned(i);
            const double p1 = t.x - alpha0, wp1 = weights_[i] * p1;
            n1 += wp1 * p1;
            su1 += wp1 * p1 * t.x;
            sv1 += wp1 * t.y;
        }
        if (!(n1 > 0.0)) return out;
        const double alpha1 = su1 / n1, beta1 = n1 / total, c1 = sv1 / n1;
        double n2 = 0.0, sv2 = 0.0;
        for (int32_t i = 0; i < count_; ++i) {
            const zmath_vect t = turned(i);
            const double p2 = (t.x - alpha1) * (t.x - alpha0) - beta1;
            n2 += weights_[i] * p2 * p2;
            sv2 += weights_[i] * p2 * t.y;
        }
        if (!(n2 > 0.0)) return out;
        const double c2 = sv2 / n2;
        out.a = c2;
        out.b = c1 - c2 * (alpha0 + alpha1);
        out.c = c0 - c1 * alpha0 + c2 * (alpha0 * alpha1 - beta1);
        // Residuals, the gradient and the projected derivative.
        double d2 = 0.0, d0 = 0.0, d1 = 0.0, dp2 = 0.0, magnitude = 0.0;
        for (int32_t i = 0; i < count_; ++i) {
            const zmath_vect t = turned(i);
            const double w = weights_[i];
            const double p1 = t.x - alpha0, p2 = (t.x - alpha1) * p1 - beta1;
            const double r = t.y - (c0 + c1 * p1 + c2 * p2);
            const double d = -t.x - (2.0 * out.a * t.x + out.b) * t.y;
            out.rss += w * r * r;
            out.gradient += 2.0 * w * r * d;
            d2 += w * d * d;
            d0 += w * d;
            d1 += w * d * p1;
            dp2 += w * d * p2;
            if (w > 0.0) magnitude = std::fmax(magnitude, std::fabs(t.y) + std::fabs(t.x));
        }
        out.curvature = 2.0 * (d2 - d0 * d0 / total - d1 * d1 / n1 - dp2 * dp2 / n2);
        out.rounding = kRoundingUlps * (2.0 * magnitude * std::sqrt(total * out.rss) + out.rss);
        out.solved = std::isfinite(out.rss) && std::isfinite(out.gradient) && std::isfinite(out.curvature);
        return out;
    }

private:
    const zmath_vect* points_;
    int32_t count_;
    Weights weights_;
    Frame frame_;
};

struct Refined {
    AtAngle fit;
    bool converged = false;
    int32_t steps = 0;
};

// Gauss-Newton on F(theta) from `start`, at most maxSteps steps (step 4 of
// the method).
template <class Weights>
Refined refine(const TurnedPoints<Weights>& turned, const AtAngle& start, int32_t maxSteps)
{
    Refined out;
    out.fit = start;
    double lastStep = HUGE_VAL;
    while (true) {
        const AtAngle& here = out.fit;
        if (!(here.curvature > 0.0)) return out;  // no minimum in the angle here
        double step = -here.gradient / here.curvature;
        const double size = std::fabs(step) / std::fmax(std::fabs(here.theta), 1.0);
        const bool fine = 0.5 * here.gradient * here.gradient / here.curvature <= here.rounding;
        if (size <= kRoundingStep) {
            out.converged = true;
            return out;
        }
        if (out.steps >= maxSteps) return out;
        ++out.steps;
        AtAngle there = turned.at(here.theta + step);
        if (fine) {
            if (!there.solved || there.rss > here.rss + here.rounding || there.rss > start.rss + start.rounding) {
                out.converged = true;
                return out;
            }
            out.fit = there;
            if (size > kShrinking * lastStep) {
                out.converged = true;
                return out;
            }
            lastStep = size;
            continue;
        }
        // Far from the minimum a full step may overshoot: halve it until F
        // falls.
        for (int h = 0; h < kHalvings && !(there.solved && there.rss < here.rss); ++h) {
            step *= 0.5;
            there = turned.at(here.theta + step);
        }
        if (!(there.solved && there.rss < here.rss)) return out;
        out.fit = there;
        lastStep = size;
    }
}

// The parabola of a fit at an angle, in the caller's units.
zmath_shapeParabola parabolaOf(const AtAngle& fit, const Frame& frame)
{
    double theta = fit.theta, a = fit.a, c = fit.c;
    if (a < 0.0) {  // seen from the far side the curve opens upwards
        theta += std::numbers::pi;
        a = -a;
        c = -c;
    }
    const double x0 = a == 0.0 ? 0.0 : -fit.b / (2.0 * a);
    const double y0 = (a * x0 + fit.b) * x0 + c;
    const double co = std::cos(theta), si = std::sin(theta);
    const zmath_vect vertex{frame.origin.x + frame.scale * (co * x0 - si * y0),
                            frame.origin.y + frame.scale * (si * x0 + co * y0)};
    return zmath_shapeParabola{zsvc::rigid(zsvc::foldAngle(theta), vertex.x, vertex.y), a * frame.inverseScale};
}

// libzfit's fit of the points.
template <class Weights>
zfit_status searchedFit(const zmath_vect* points, int32_t count, Weights weights, int32_t maxIterations,
                        zmath_parabolaFitResult* searched)
{
    zmath_parabolaFitParams params;
    ZFIT_TRY(zmath_parabolaFitParams_init(&params));
    params.maxIterations = maxIterations;
    const auto n = static_cast<std::size_t>(count);
    zfit::Points pointVector(std::span(points, n));
    ZFIT_TRY(pointVector.status());
    if constexpr (Weights::weighted) {
        zfit::Doubles weightVector(std::span(weights.values, n));
        ZFIT_TRY(weightVector.status());
        return zmath_parabolaFitWeightedVector(pointVector.get(), weightVector.get(), &params, searched);
    } else {
        return zmath_parabolaFitVector(pointVector.get(), &params, searched);
    }
}

template <class Weights>
zfit_status fitParabola(const zmath_vect* points, int32_t count, Weights weights, const zmet_parabolaParams* params,
                        zmet_parabolaResult* result)
{
    if (count < 0) count = 0;
    ZFIT_REQUIRE(params != nullptr && result != nullptr);
    ZFIT_REQUIRE(count == 0 || points != nullptr);
    if constexpr (Weights::weighted) ZFIT_REQUIRE(count == 0 || weights.values != nullptr);
    ZFIT_FAIL_IF(params->maxIterations < 1, zmath_errFitMaxIterations);
    ZFIT_FAIL_IF(params->maxRefinements < 0, zmet_errOutOfRange);

    zfit::ParabolaResult searched;
    ZFIT_TRY(searched.status());
    ZFIT_TRY(searchedFit(points, count, weights, params->maxIterations, searched.get()));
    zmet_parabolaResult found{};
    found.isValid = 1;
    found.parabola = searched.get()->parabola;
    found.rmsError = searched.get()->rmsError;

    // The refinement works in the unit-spread frame of the points of
    // positive weight; libzfit has accepted them, so there is one.
    Frame frame;
    if (!ZFIT_FAILED(makeFrame(points, count, weights, 1, frame))) {
        const TurnedPoints<Weights> turned(points, count, weights, frame);
        const AtAngle start = turned.at(found.parabola.pose.angle);
        if (start.solved) {
            const Refined refined = refine(turned, start, params->maxRefinements);
            found.converged = refined.converged ? 1 : 0;
            found.refinements = refined.steps;
            if (refined.steps > 0) {
                found.parabola = parabolaOf(refined.fit, frame);
                found.rmsError = std::sqrt(refined.fit.rss / frame.weightSum) * frame.scale;
            }
        }
    }
    *result = found;
    return zfit_ok;
}

}  // namespace

}  // namespace zmet

extern "C" {

zfit_status zmet_parabolaParams_init(zmet_parabolaParams* params)
{
    ZFIT_REQUIRE(params != nullptr);
    params->maxIterations = 100;
    params->maxRefinements = 50;
    return zfit_ok;
}

zfit_status zmet_parabolaFit(const zmath_vect* points, int32_t count, const zmet_parabolaParams* params,
                             zmet_parabolaResult* result)
{
    return zmet::fitParabola(points, count, zmet::UnitWeights{}, params, result);
}

zfit_status zmet_parabolaFitWeighted(const zmath_vect* points, int32_t count, const double* weights,
                                     const zmet_parabolaParams* params, zmet_parabolaResult* result)
{
    return zmet::fitParabola(points, count, zmet::PointWeights{weights}, params, result);
}

}  // extern "C"
