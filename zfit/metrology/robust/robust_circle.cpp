// The robust circle, free or fixed radius. Minimal samples: the circle
// through three points (their circumcircle), or with a fixed radius R the
// two circles of radius R through two points (centres on the perpendicular
// bisector, sqrt(R^2 - (|b - a| / 2)^2) from the midpoint). Inside the loop:
// the weighted algebraic circle of libzfit.so (zmath_circleFitWeighted) or
// the weighted geometric circle (zmet_geometricCircleFitWeighted, which
// alone offers a fixed radius).
#include <cmath>

#include <zfit/metrology/geometric/geometric.h>
#include <zfit/zfit.hpp>

#include "robust_internal.hpp"

namespace zmet::robust {

namespace {

struct Circle {
    double x = 0.0, y = 0.0, radius = 0.0;
};

// Three points closer to a line than this, relative to their spread, give
// no circle: the circumcentre would lie beyond 1e12 spreads.
constexpr double kCollinear = 1e-12;

class CircleModel : public PointSet {
public:
    using Shape = Circle;
    static constexpr Sampling sampling{3, 128, true, Extent::aroundCentre};

    CircleModel(const zmath_vect* points, int32_t count, int32_t flavour)
        : PointSet(points, count), stages_(flavour == zmet_robustGeometric)
    {
        zmath_circleFitParams_init(&algebraicParams_);
        zmet_geometricCircleParams_init(&geometricParams_);
        // Each reweighted fit starts from the last shape, close by.
        geometricParams_.useStart = 1;
    }

    zfit_status status() const { return algebraic_.status(); }
    int32_t minimumPoints() const { return 4; }

    template <class Sink>
    void candidates(std::span<const int32_t> sample, Sink&& sink) const
    {
        const zmath_vect a = points_[sample[0]];
        const double bx = points_[sample[1]].x - a.x, by = points_[sample[1]].y - a.y;
        const double cx = points_[sample[2]].x - a.x, cy = points_[sample[2]].y - a.y;
        const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
        const double det = 2.0 * (bx * cy - by * cx);
        if (!(std::fabs(det) > kCollinear * (b2 + c2))) return;
        const double ux = (cy * b2 - by * c2) / det, uy = (bx * c2 - cx * b2) / det;
        sink(Circle{a.x + ux, a.y + uy, std::sqrt(ux * ux + uy * uy)});
    }

    double residual(const Circle& c, int32_t i) const
    {
        const double dx = points_[i].x - c.x, dy = points_[i].y - c.y;
        return std::sqrt(dx * dx + dy * dy) - c.radius;
    }
    double scoreSquared(const Circle& c, int32_t i) const
    {
        const double r = residual(c, i);
        return r * r;
    }

    bool refine() { return stages_.refine(); }

    zfit_status fit(std::span<const double> weights, Circle& c)
    {
        if (stages_.geometricNow()) {
            zmet_geometricCircleResult r{};
            geometricParams_.startCentre = {c.x, c.y};
            geometricParams_.startRadius = c.radius;
            ZFIT_TRY(zmet_geometricCircleFitWeighted(points_, count_, weights.data(), &geometricParams_, &r));
            c = {r.centre.x, r.centre.y, r.radius};
            return zfit_ok;
        }
        zmath_circleFitResult& r = *algebraic_;
        ZFIT_TRY(zmath_circleFitWeighted(points_, count_, weights.data(), &algebraicParams_, &r));
        c = {r.centre.x, r.centre.y, r.radius};
        return zfit_ok;
    }

    // Centre and radius: the residual's derivatives are -(p - c) / |p - c|
    // and -1 (a point at the centre keeps only the radius entry).
    zmet_uncertainty uncertainty(const Circle& c, std::span<const double> weights,
                                 std::span<const double> residuals) const
    {
        return smallUncertainty<3>(weights, residuals, [&](int32_t i) {
            const zmath_vect u = direction(c, i);
            return std::array<double, 3>{-u.x, -u.y, -1.0};
        });
    }

    zmath_vect direction(const Circle& c, int32_t i) const
    {
        const double dx = points_[i].x - c.x, dy = points_[i].y - c.y;
        const double length = std::sqrt(dx * dx + dy * dy);
        return length > 0.0 ? zmath_vect{dx / length, dy / length} : zmath_vect{0.0, 0.0};
    }

private:
    Stages stages_;
    zmath_circleFitParams algebraicParams_{};
    zmet_geometricCircleParams geometricParams_{};
    zfit::CircleResult algebraic_;
};

// The circle of fixed radius: only the centre moves.
class FixedRadiusModel : public PointSet {
public:
    using Shape = Circle;
    static constexpr Sampling sampling{2, 64, true, Extent::aroundCentre};

    FixedRadiusModel(const zmath_vect* points, int32_t count, double radius)
        : PointSet(points, count), circle_(points, count, zmet_robustGeometric), radius_(radius)
    {
        zmet_geometricCircleParams_init(&params_);
        params_.mode = 1;
        params_.fixedRadius = radius;
        params_.useStart = 1;
    }

    int32_t minimumPoints() const { return 3; }

    template <class Sink>
    void candidates(std::span<const int32_t> sample, Sink&& sink) const
    {
        const zmath_vect a = points_[sample[0]], b = points_[sample[1]];
        const double dx = b.x - a.x, dy = b.y - a.y;
        const double half2 = 0.25 * (dx * dx + dy * dy);
        if (!(half2 > 0.0) || half2 > radius_ * radius_) return;
        const double h = std::sqrt(radius_ * radius_ - half2) / std::sqrt(4.0 * half2);
        const double mx = 0.5 * (a.x + b.x), my = 0.5 * (a.y + b.y);
        sink(Circle{mx - dy * h, my + dx * h, radius_});
        sink(Circle{mx + dy * h, my - dx * h, radius_});
    }

    double residual(const Circle& c, int32_t i) const { return circle_.residual(c, i); }
    double scoreSquared(const Circle& c, int32_t i) const { return circle_.scoreSquared(c, i); }
    bool refine() { return false; }

    zfit_status fit(std::span<const double> weights, Circle& c)
    {
        zmet_geometricCircleResult r{};
        params_.startCentre = {c.x, c.y};
        ZFIT_TRY(zmet_geometricCircleFitWeighted(points_, count_, weights.data(), &params_, &r));
        c = {r.centre.x, r.centre.y, radius_};
        return zfit_ok;
    }

    zmet_uncertainty uncertainty(const Circle& c, std::span<const double> weights,
                                 std::span<const double> residuals) const
    {
        return smallUncertainty<2>(weights, residuals, [&](int32_t i) {
            const zmath_vect u = circle_.direction(c, i);
            return std::array<double, 2>{-u.x, -u.y};
        });
    }

private:
    CircleModel circle_;
    double radius_;
    zmet_geometricCircleParams params_{};
};

template <class Model>
zfit_status fitCircle(Model& model, int32_t count, const double* weights, const zmet_robustParams& params,
                      zmet_robustCircleResult& result)
{
    Fitted<Model> fitted;
    ZFIT_TRY(fitted.run(model, count, weights, params));
    return fitted.conclude(params, result, [&](zmet_robustCircleResult& r) {
        r.centre = {fitted.shape.x, fitted.shape.y};
        r.radius = fitted.shape.radius;
    });
}

}  // namespace

}  // namespace zmet::robust

extern "C" {

zfit_status zmet_robustCircleFit(const zmath_vect* points, int32_t count, const double* weights,
                                 const zmet_robustParams* params, int32_t flavour, zmet_robustCircleResult* result)
{
    using namespace zmet::robust;
    ZFIT_TRY(checkEntry(count, points != nullptr, params, result));
    ZFIT_TRY(checkFlavour(flavour));
    CircleModel model(points, count, flavour);
    ZFIT_TRY(model.status());
    return fitCircle(model, count, weights, *params, *result);
}

zfit_status zmet_robustCircleFitFixedRadius(const zmath_vect* points, int32_t count, const double* weights,
                                            const zmet_robustParams* params, int32_t flavour, double radius,
                                            zmet_robustCircleResult* result)
{
    using namespace zmet::robust;
    ZFIT_TRY(checkEntry(count, points != nullptr, params, result));
    ZFIT_TRY(checkFlavour(flavour));
    ZFIT_FAIL_IF(radius < 0.0, zmath_errFitFixedRadiusNegative);
    ZFIT_FAIL_IF(!std::isfinite(radius), zmet_errNotFinite);
    FixedRadiusModel model(points, count, radius);
    return fitCircle(model, count, weights, *params, *result);
}

}  // extern "C"
