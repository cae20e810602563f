// The geometric ellipse: Levenberg-Marquardt (levenberg_marquardt.hpp) on
// the orthogonal distances of the points from the ellipse, with the
// orthogonal contact point of every point solved in every iteration, after
// Ahn, Rauh and Warnecke, "Least-squares orthogonal distances fitting of
// circle, sphere, ellipse, hyperbola, and parabola", Pattern Recognition 34
// (2001).
//
// Parameters x = (cx, cy, a, b, alpha) in the unit-spread frame: centre,
// semi-axis a along the direction alpha, semi-axis b across it. For a point
// q the steps are, in the code's symbols:
//   1. (u, v) = R(-alpha) (q - c), the point in the ellipse's frame;
//   2. the contact point (x', y') and its multiplier t (ellipse_contact.hpp);
//   3. with X = x'/a^2, Y = y'/b^2 and N = sqrt(X^2 + Y^2), the signed
//      distance is d = t N;
//   4. the Jacobian row follows from the implicit curve
//      H = x^2/a^2 + y^2/b^2 - 1 through the contact point: moving a
//      parameter theta changes d by H_theta / |grad H| there, so with
//      co = cos alpha, si = sin alpha
//        dd/dcx    = (-co X + si Y) / N
//        dd/dcy    = (-si X - co Y) / N
//        dd/da     = -x' X / (a N)
//        dd/db     = -y' Y / (b N)
//        dd/dalpha = x' y' (1/a^2 - 1/b^2) / N.
// Steps that make a semi-axis zero or negative are refused (the model does
// not admit them). The start is libzfit.so's algebraic ellipse of the points
// of positive weight; when the points give it no ellipse, the Hyper circle
// (a = b = r, alpha = 0). At the end the axes are ordered so that a is the
// semi-major one (turning alpha by pi/2 when they swap) and alpha is
// brought into [0, pi).
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <utility>

#include <zfit/metrology/geometric/geometric.h>
#include <zfit/zfit.hpp>

#include "ellipse_contact.hpp"
#include "geometric_entry.hpp"
#include "hyper_circle.hpp"
#include "uncertainty_record.hpp"

namespace zmet {

namespace {

constexpr int kEllipseParameters = 5;
using EllipseVector = Vector<kEllipseParameters>;

template <class Weights>
class EllipseModel {
public:
    static constexpr int parameters = kEllipseParameters;

    EllipseModel(const zmath_vect* points, int32_t count, Weights weights, const Frame& frame)
        : points_(points), count_(count), weights_(weights), frame_(frame)
    {}

    double weightSum() const { return frame_.weightSum; }

    bool evaluate(const EllipseVector& x, Normal<kEllipseParameters>& n) const
    {
        const double a = x[2], b = x[3];
        for (double value : x)
            if (!std::isfinite(value)) return false;
        if (!(a > 0.0) || !(b > 0.0)) return false;
        const double co = std::cos(x[4]), si = std::sin(x[4]);
        const double inverseA2 = 1.0 / (a * a), inverseB2 = 1.0 / (b * b);
        for (int32_t i = 0; i < count_; ++i) {
            const double w = weights_[i];
            if (w == 0.0) continue;
            const zmath_vect q = frame_.toFrame(points_[i]);
            const double dx = q.x - x[0], dy = q.y - x[1];
            const EllipseContact c = ellipseContact(a, b, co * dx + si * dy, -si * dx + co * dy);
            const double gx = c.x * inverseA2, gy = c.y * inverseB2;
            const double norm = std::sqrt(gx * gx + gy * gy);
            const double inverseNorm = 1.0 / norm;
            const EllipseVector row = {(-co * gx + si * gy) * inverseNorm, (-si * gx - co * gy) * inverseNorm,
                                       -c.x * gx / a * inverseNorm, -c.y * gy / b * inverseNorm,
                                       c.x * c.y * (inverseA2 - inverseB2) * inverseNorm};
            n.add(row, c.t * norm, w);
        }
        n.mirror();
        // A distance is the difference of a point's and its contact point's
        // coordinates, about as large as the centre's offset and the major axis.
        n.boundRounding(2.0 * (std::max(a, b) + std::fabs(x[0]) + std::fabs(x[1])), frame_.weightSum);
        return std::isfinite(n.rss);
    }

private:
    const zmath_vect* points_;
    int32_t count_;
    Weights weights_;
    Frame frame_;
};

// libzfit.so's algebraic ellipse of the points of positive weight into
// *ellipse. Returns a container failure as it is; any other failure means
// only that the points gave no algebraic ellipse (found = false).
template <class Weights>
zfit_status algebraicEllipse(const zmath_vect* points, int32_t count, Weights weights, zmath_shapeEllipse& ellipse,
                             bool& found)
{
    zmath_ellipseFitParams params;
    ZFIT_TRY(zmath_ellipseFitParams_init(&params));
    zfit::EllipseResult result;
    ZFIT_TRY(result.status());
    zfit_status status;
    if constexpr (Weights::weighted) {
        zfit::Points kept;
        ZFIT_TRY(kept.status());
        for (int32_t i = 0; i < count; ++i)
            if (weights[i] > 0.0) ZFIT_TRY(zstd_vector_zmath_vect_pushBack(kept.get(), &points[i]));
        status = zmath_ellipseFitVector(kept.get(), &params, result.get());
    } else {
        status = zmath_ellipseFit(points, count, &params, result.get());
    }
    if (status == zstd_errOutOfMemory) return status;
    found = !ZFIT_FAILED(status);
    if (found) ellipse = result.get()->ellipse;
    return zfit_ok;
}

// The start in frame coordinates: the algebraic ellipse, else the Hyper
// circle; zmath_errDegenerate when neither exists.
template <class Weights>
zfit_status ellipseStart(const zmath_vect* points, int32_t count, Weights weights, const Frame& frame,
                         EllipseVector& start)
{
    zmath_shapeEllipse algebraic{};
    bool found = false;
    ZFIT_TRY(algebraicEllipse(points, count, weights, algebraic, found));
    if (found) {
        const zmath_vect centre = frame.toFrame(algebraic.center);
        start = {centre.x, centre.y, algebraic.radius1 * frame.inverseScale, algebraic.radius2 * frame.inverseScale,
                 algebraic.angle};
        if (start[2] > 0.0 && start[3] > 0.0) return zfit_ok;
    }
    CircleParameters hyper;
    ZFIT_FAIL_IF(!hyperCircle(circleMoments(points, count, weights, frame), hyper), zmath_errDegenerate);
    start = {hyper.x, hyper.y, hyper.radius, hyper.radius, 0.0};
    return zfit_ok;
}

// Semi-major axis first, angle in [0, pi); the covariance follows the axes.
void orderAxes(EllipseVector& x, zmet_uncertainty& u)
{
    if (x[2] < x[3]) {
        std::swap(x[2], x[3]);
        x[4] += 0.5 * std::numbers::pi;
        if (u.parameterCount == kEllipseParameters) {
            constexpr int p = kEllipseParameters;
            for (int k = 0; k < p; ++k) std::swap(u.covariance[2 * p + k], u.covariance[3 * p + k]);
            for (int k = 0; k < p; ++k) std::swap(u.covariance[k * p + 2], u.covariance[k * p + 3]);
            std::swap(u.standardErrors[2], u.standardErrors[3]);
            std::swap(u.halfWidth95[2], u.halfWidth95[3]);
        }
    }
    x[4] = std::fmod(x[4], std::numbers::pi);
    if (x[4] < 0.0) x[4] += std::numbers::pi;
    if (x[4] >= std::numbers::pi) x[4] = 0.0;
}

template <class Weights>
zfit_status fitEllipse(const zmath_vect* points, int32_t count, Weights weights,
                       const zmet_geometricEllipseParams* params, zmet_geometricEllipseResult* result)
{
    ZFIT_TRY(checkCall(points, count, weights, params, result));
    Frame frame;
    ZFIT_TRY(makeFrame(points, count, weights, kEllipseParameters + 1, frame));
    EllipseVector start;
    if (params->useStart) {
        const zmath_shapeEllipse& given = params->start;
        const zmath_vect centre = frame.toFrame(given.center);
        start = {centre.x, centre.y, given.radius1 * frame.inverseScale, given.radius2 * frame.inverseScale,
                 given.angle};
    } else {
        ZFIT_TRY(ellipseStart(points, count, weights, frame, start));
    }

    const EllipseModel<Weights> model(points, count, weights, frame);
    LmOutcome<kEllipseParameters> fit;
    ZFIT_FAIL_IF(!levenbergMarquardt(model, start, params->maxIterations, fit), zmath_errDegenerate);
    zmet_uncertainty uncertainty{};
    ZFIT_FAIL_IF(fit.converged && !solutionUncertainty<kEllipseParameters>(
                                      fit.normal, frame.positiveCount, {1, 1, 1, 1, 0}, frame.scale, true, uncertainty),
                 zmath_errDegenerate);
    orderAxes(fit.x, uncertainty);

    const zmath_vect centre = {fit.x[0] * frame.scale + frame.origin.x, fit.x[1] * frame.scale + frame.origin.y};
    zmath_shapeEllipse ellipse;
    ZFIT_FAIL_IF(ZFIT_FAILED(zmath_shapeEllipse_init(&ellipse, &centre, fit.x[2] * frame.scale, fit.x[3] * frame.scale,
                                                     fit.x[4])),
                 zmath_errDegenerate);
    result->ellipse = ellipse;
    return closeResult(fit, frame, uncertainty, params->maxRmsError, *result);
}

}  // namespace

zfit_status checkParams(const zmet_geometricEllipseParams& p)
{
    ZFIT_FAIL_IF(0.0 > p.maxRmsError, zmath_errFitMaxRmsErrorNegative);
    ZFIT_FAIL_IF(p.maxIterations < 1, zmath_errFitMaxIterations);
    ZFIT_FAIL_IF(p.numIgnore < 0, zmath_errFitNumIgnoreNegative);
    ZFIT_FAIL_IF(p.useStart != 0 && p.useStart != 1, zmath_errFitBadMode);
    const zmath_shapeEllipse& e = p.start;
    const bool finiteStart = std::isfinite(e.center.x) && std::isfinite(e.center.y) && std::isfinite(e.angle) &&
                             std::isfinite(e.radius1) && std::isfinite(e.radius2) && e.radius1 > 0.0 && e.radius2 > 0.0;
    ZFIT_FAIL_IF(p.useStart == 1 && !finiteStart, zmet_errOutOfRange);
    return zfit_ok;
}

}  // namespace zmet

extern "C" {

zfit_status zmet_geometricEllipseParams_init(zmet_geometricEllipseParams* params)
{
    ZFIT_REQUIRE(params != nullptr);
    params->maxRmsError = HUGE_VAL;
    params->maxIterations = 100;
    params->numIgnore = 0;
    params->useStart = 0;
    params->start = {{0.0, 0.0}, 1.0, 1.0, 0.0};
    return zfit_ok;
}

zfit_status zmet_geometricEllipseFit(const zmath_vect* points, int32_t count, const zmet_geometricEllipseParams* params,
                                     zmet_geometricEllipseResult* result)
{
    return zmet::fitEllipse(points, count, zmet::UnitWeights{}, params, result);
}

zfit_status zmet_geometricEllipseFitWeighted(const zmath_vect* points, int32_t count, const double* weights,
                                             const zmet_geometricEllipseParams* params,
                                             zmet_geometricEllipseResult* result)
{
    return zmet::fitEllipse(points, count, zmet::PointWeights{weights}, params, result);
}

}  // extern "C"
