// The robust line. Inside the loop: the weighted orthogonal least-squares
// line, through the weighted centroid along the direction of largest
// weighted spread (the major axis of the centred second moments, angle
// 1/2 atan2(2 Sxy, Sxx - Syy)). The moments are summed about a fixed
// reference point near the data, so large coordinates do not cancel.
#include <cmath>
#include <numbers>

#include "robust_internal.hpp"

namespace zmet::robust {

namespace {

// The line -x s + y c = d kept with its angle, d >= 0.
struct Line {
    double angle = 0.0, c = 1.0, s = 0.0, d = 0.0;
};

// The line through `point` along `angle`, turned so that d >= 0.
Line lineThrough(const zmath_vect& point, double angle)
{
    Line l{angle, std::cos(angle), std::sin(angle), 0.0};
    l.d = -point.x * l.s + point.y * l.c;
    if (l.d < 0.0) {
        l.angle = angle + std::numbers::pi;
        l.c = -l.c;
        l.s = -l.s;
        l.d = -l.d;
    }
    return l;
}

class LineModel : public PointSet {
public:
    using Shape = Line;
    static constexpr Sampling sampling{2, 64, true, Extent::alongAxis};

    LineModel(const zmath_vect* points, int32_t count) : PointSet(points, count)
    {
        if (count > 0) reference_ = points[0];
    }

    int32_t minimumPoints() const { return 3; }

    template <class Sink>
    void candidates(std::span<const int32_t> sample, Sink&& sink) const
    {
        const zmath_vect a = points_[sample[0]], b = points_[sample[1]];
        const double dx = b.x - a.x, dy = b.y - a.y;
        if (dx == 0.0 && dy == 0.0) return;
        sink(lineThrough(a, std::atan2(dy, dx)));
    }

    double residual(const Line& l, int32_t i) const { return -points_[i].x * l.s + points_[i].y * l.c - l.d; }
    double scoreSquared(const Line& l, int32_t i) const
    {
        const double r = residual(l, i);
        return r * r;
    }
    bool refine() { return false; }

    zfit_status fit(std::span<const double> weights, Line& line) const
    {
        double w = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;
        for (int32_t i = 0; i < count_; ++i) {
            const double wi = weights[static_cast<std::size_t>(i)];
            const double x = points_[i].x - reference_.x, y = points_[i].y - reference_.y;
            w += wi;
            sx += wi * x;
            sy += wi * y;
            sxx += wi * x * x;
            syy += wi * y * y;
            sxy += wi * x * y;
        }
        const double mx = sx / w, my = sy / w;
        const double cxx = sxx - sx * mx, cyy = syy - sy * my, cxy = sxy - sx * my;
        ZFIT_FAIL_IF(cxy == 0.0 && cxx == cyy, zmath_errDegenerate);
        line = lineThrough({mx + reference_.x, my + reference_.y}, 0.5 * std::atan2(2.0 * cxy, cxx - cyy));
        return zfit_ok;
    }

    // theta and d: the residual's derivatives are -(x c + y s) and -1.
    zmet_uncertainty uncertainty(const Line& l, std::span<const double> weights,
                                 std::span<const double> residuals) const
    {
        return smallUncertainty<2>(weights, residuals, [&](int32_t i) {
            return std::array<double, 2>{-(points_[i].x * l.c + points_[i].y * l.s), -1.0};
        });
    }

private:
    zmath_vect reference_{};
};

}  // namespace

}  // namespace zmet::robust

extern "C" zfit_status zmet_robustLineFit(const zmath_vect* points, int32_t count, const double* weights,
                                          const zmet_robustParams* params, zmet_robustLineResult* result)
{
    using namespace zmet::robust;
    ZFIT_TRY(checkEntry(count, points != nullptr, params, result));
    LineModel model(points, count);
    Fitted<LineModel> fitted;
    ZFIT_TRY(fitted.run(model, count, weights, *params));
    zmath_shapeFLine shape;
    ZFIT_TRY(zmath_shapeFLine_initAngleDistance(&shape, &fitted.shape.angle, fitted.shape.d));
    return fitted.conclude(*params, *result, [&](zmet_robustLineResult& r) { r.line = shape; });
}
